// The editor's adapter: its per-frame callback and unload callback over the
// effect chain, with the editor's track and check values as settings.
#pragma once

#include "engine/frame_effects.h"
#include "abi/filter.h"

// Track and check indices, in the order the descriptor declares them.
enum TrackIndex { TRACK_LEFT, TRACK_WIDTH, TRACK_TOP, TRACK_HEIGHT, TRACK_SHIFT, TRACK_FREQ,
                  TRACK_PHASE, TRACK_COUNT };
enum CheckIndex { CHECK_COMPOSE, CHECK_60FPS, CHECK_TFF, CHECK_SHOW_RANGE, CHECK_MONO, CHECK_CY,
                  CHECK_LPF, CHECK_COUNT };

// The state of the effects between the editor's calls, freed by filter_exit.
extern EffectState editor_effect_state;

BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip);
BOOL filter_exit(FILTER* fp);

// The effect settings the track and check values stand for ("範囲表示" as set,
// whether or not the editor is previewing).
EffectSettings editor_settings(const int* track, const int* check);
