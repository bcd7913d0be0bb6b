#include "hosts/aviutl/driver.h"

#include "engine/settings_table.h"

// Shared by norel2's driver and the decoder filter, which reads norel2's
// record to follow its settings. The descriptor's tracks and check boxes
// are the table's first settings, in its order.
static_assert(int(SETTING_COMPOSE) == int(TRACK_COUNT) && int(SETTING_LPF) + 1 == int(TRACK_COUNT) + int(CHECK_COUNT),
              "norel2's tracks, then its check boxes, lead the settings table");

EffectSettings editor_settings(const int* track, const int* check)
{
    EffectSettings settings;
    for (int i = 0; i < TRACK_COUNT; ++i)
        set_setting_value(&settings, static_cast<SettingId>(SETTING_LEFT + i), track[i]);
    for (int i = 0; i < CHECK_COUNT; ++i)
        set_setting_value(&settings, static_cast<SettingId>(SETTING_COMPOSE + i), check[i]);
    return settings;
}
