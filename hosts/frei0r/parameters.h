// The frei0r plug-in's parameters, built from the settings table: frei0r's
// [0, 1] doubles mapped onto the effect settings, and choices passed by
// name as strings.
#pragma once

#include "engine/frame_effects.h"

enum : int { FREI0R_PARAM_COUNT = 31 };

// The rectangle's parameters span 10000 pixels or rows: frei0r's doubles,
// which hosts show with a few decimals, keep their pixels apart.
constexpr int frei0r_rectangle_span = 10000;

struct Frei0rParam {
    const char* name;  // the setting's frei0r name
    const char* explanation;
    bool is_bool;         // on at 0.5 and above
    double scale;         // an integer setting is round(value * scale) + offset,
    int64_t offset;       // then clamped to [low, high]
    int64_t low, high;
    double default_value;
    int setting_id;  // its SettingId; -1: frei0r's own, no effect setting
    // A choice: the host passes one of choice_count names, choice_name(0)
    // and on, as a string; the value kept is the index of the name.
    const char* (*choice_name)(int32_t index) = nullptr;
    int choice_count = 0;
};

extern const Frei0rParam frei0r_params[FREI0R_PARAM_COUNT];

// The name the hosts see for a parameter.
const char* frei0r_param_name(int index);

// The index of `name` among the choices of `param`, -1 for none.
int frei0r_choice(const Frei0rParam& param, const char* name);

// The settings the parameter values stand for, each already in [0, 1] (a
// choice's, its index).
EffectSettings frei0r_settings(const double* values);

// Frames per unit of the host's clock, from the "fps" and "clock_ms"
// parameters.
double frei0r_frame_rate(const double* values);
