// The frei0r plug-in's parameters: one table, frei0r's [0, 1] doubles mapped
// onto the effect settings.
#pragma once

#include "effects/frame_effects.h"

enum : int { FREI0R_PARAM_COUNT = 14 };

struct Frei0rParam {
    const char* name;
    const char* explanation;
    bool is_bool;         // on at 0.5 and above
    double scale;         // an integer setting is round(value * scale) + offset,
    int offset;           // then clamped to [low, high]
    int low, high;
    double default_value;
    int EffectSettings::*setting;  // null: not an effect setting
};

extern const Frei0rParam frei0r_params[FREI0R_PARAM_COUNT];

// The settings the parameter values stand for, each already in [0, 1].
EffectSettings frei0r_settings(const double* values);

// Frames per unit of the host's clock, from the "fps" and "clock_ms"
// parameters.
double frei0r_frame_rate(const double* values);
