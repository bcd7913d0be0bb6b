#include "plugin/driver.h"

// Shared by norel2's driver and the decoder filter, which reads norel2's
// record to follow its settings.

EffectSettings editor_settings(const int* track, const int* check)
{
    EffectSettings settings;
    settings.left = track[TRACK_LEFT];
    settings.width = track[TRACK_WIDTH];
    settings.top = track[TRACK_TOP];
    settings.height = track[TRACK_HEIGHT];
    settings.shift = track[TRACK_SHIFT];
    settings.freq = track[TRACK_FREQ];
    settings.phase = track[TRACK_PHASE];
    settings.top_field_first = check[CHECK_TFF];
    settings.paired_fields = check[CHECK_60FPS];
    settings.show_range = check[CHECK_SHOW_RANGE];
    settings.mono = check[CHECK_MONO];
    settings.composite = check[CHECK_CY];
    settings.lpf = check[CHECK_LPF];
    return settings;
}
