#include "hosts/aviutl_decode/decode_filter.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/settings_table.h"
#include "hosts/aviutl/driver.h"

namespace {

// The decoder's settings of the table, by track and check box, then the
// deck's. The filter is the television itself: its separation starts at
// the first decoder. The deck is here, not in norel2, whose descriptor
// stays as it is, nor in a filter of its own, which would have to follow
// norel2's carrier as this one does: it plays the composite signal
// norel2 leaves, just before the television decodes it.
const SettingId track_settings[DECODE_TRACK_COUNT] = {
    SETTING_DECODE, SETTING_SATURATION, SETTING_HUE, SETTING_VHS, SETTING_SEED,
    SETTING_TAPE_NOISE, SETTING_HEAD_SWITCHING, SETTING_HEAD_SWITCHING_SHIFT, SETTING_TRACKING,
    SETTING_DROPOUTS, SETTING_JITTER, SETTING_CHROMA_DELAY, SETTING_GENERATIONS};
const SettingId check_settings[DECODE_CHECK_COUNT] = {SETTING_CHROMA_BANDWIDTH,
                                                      SETTING_DROPOUT_COMPENSATOR};

const char* track_names[DECODE_TRACK_COUNT];
int track_defaults[DECODE_TRACK_COUNT];
int track_minimums[DECODE_TRACK_COUNT];
int track_maximums[DECODE_TRACK_COUNT];
const char* check_names[DECODE_CHECK_COUNT];
int check_defaults[DECODE_CHECK_COUNT];

// The editor calls its filters from one thread, one frame at a time.
EffectState decode_state;
// The frame comb's earlier frames as the deck played them.
std::vector<PIXEL_YC> played_frames[2];

const FILTER* find_encoder(const EXFUNC* exfunc, void* editp)
{
    SYS_INFO info = {};
    if (!exfunc->get_sys_info(editp, &info))
        return nullptr;
    for (int i = 0; i < info.filter_n; ++i) {
        const FILTER* filter = exfunc->get_filterp(i);
        if (filter != nullptr && filter->name != nullptr &&
            std::strcmp(filter->name, encoder_filter_name) == 0)
            return filter;
    }
    return nullptr;
}

// norel2's settings as its record holds them, or its defaults when it is not
// loaded. False when norel2 leaves no carrier in this frame: switched off,
// "C/Y" off, "合成モード" on, or showing its rectangle in the preview.
bool encoder_settings(FILTER* fp, FILTER_PROC_INFO* fpip, EffectSettings* settings)
{
    *settings = EffectSettings();  // norel2's defaults
    settings->composite = 1;
    const FILTER* encoder = find_encoder(fp->exfunc, fpip->editp);
    if (encoder == nullptr)
        return true;
    if (!fp->exfunc->is_filter_active(const_cast<FILTER*>(encoder)) || encoder->track == nullptr ||
        encoder->check == nullptr || encoder->track_n < TRACK_COUNT ||
        encoder->check_n < CHECK_COUNT)
        return false;
    *settings = editor_settings(encoder->track, encoder->check);
    if (!settings->composite || encoder->check[CHECK_COMPOSE])
        return false;
    // As norel2 does: "範囲表示" only while previewing.
    if (settings->show_range && !fp->exfunc->is_saving(fpip->editp))
        return false;
    settings->show_range = 0;
    return true;
}

// A damaged project may hold anything: the engine makes it safe.
void own_settings(const FILTER* fp, EffectSettings* settings)
{
    for (int i = 0; i < DECODE_TRACK_COUNT; ++i)
        set_setting_value(settings, track_settings[i], fp->track[i]);
    for (int i = 0; i < DECODE_CHECK_COUNT; ++i) {
        const SettingInfo& setting = setting_table[check_settings[i]];
        set_setting_value(settings, check_settings[i],
                          setting.kind == SETTING_CHOICE ? setting.choices[fp->check[i] != 0].value
                                                         : fp->check[i] != 0);
    }
}

// Frame n as the filters before this one left it; null when the host
// cannot give it in this frame's size.
const PIXEL_YC* earlier_frame(FILTER* fp, FILTER_PROC_INFO* fpip, int32_t n)
{
    int w = -1, h = -1;
    const PIXEL_YC* pixels = fp->exfunc->get_ycp_filtering_cache_ex(fp, fpip->editp, n, &w, &h);
    return pixels != nullptr && w == fpip->w && h == fpip->h ? pixels : nullptr;
}

// The frame comb's partner and frame of the same phase; none (the frame
// decodes as "3line") at the clip's start or when the host cannot give
// both.
void comb_frames(FILTER* fp, FILTER_PROC_INFO* fpip, const EffectSettings* settings, EffectFrame* frame)
{
    const int32_t same_phase = comb_same_phase_frame(settings, fpip->frame);
    if (same_phase < 0 || same_phase >= fpip->frame)
        return;
    if (!fp->exfunc->set_ycp_filtering_cache_size(fp, fpip->max_w, fpip->h, 3, 0))
        return;
    const int32_t partner = comb_partner_frame(settings, fpip->frame);
    frame->partner = earlier_frame(fp, fpip, partner);
    frame->same_phase = earlier_frame(fp, fpip, same_phase);
    if (frame->partner == nullptr || frame->same_phase == nullptr) {
        frame->partner = frame->same_phase = nullptr;
        return;
    }
    if (settings->vhs.format == VHS_OFF)
        return;
    // The comb compares what the deck played: those frames played again,
    // which gives their bytes, as the noise is a function of the frame.
    EffectSettings deck_only = *settings;
    deck_only.decode.mode = DECODE_OFF;
    const size_t pixels = static_cast<size_t>(fpip->max_w) * fpip->h;
    const int32_t numbers[2] = {partner, same_phase};
    const PIXEL_YC** kept[2] = {&frame->partner, &frame->same_phase};
    for (int i = 0; i < 2; ++i) {
        try {
            played_frames[i].assign(*kept[i], *kept[i] + pixels);
        } catch (const std::bad_alloc&) {
            frame->partner = frame->same_phase = nullptr;
            return;
        }
        const EffectFrame earlier = {played_frames[i].data(), nullptr, fpip->w, fpip->h, fpip->max_w,
                                     numbers[i]};
        if (!decode_effects(&decode_state, &deck_only, &earlier)) {
            frame->partner = frame->same_phase = nullptr;
            return;
        }
        *kept[i] = played_frames[i].data();
    }
}

BOOL decode_filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip)
{
    EffectSettings settings;
    if (!encoder_settings(fp, fpip, &settings))
        return TRUE;
    own_settings(fp, &settings);
    settings = normalised_settings(&settings);
    const FilterRect rect = effect_rect(&settings, fpip->w, fpip->h, fpip->max_w);
    if (settings.decode.mode == DECODE_OFF || rect_is_empty(&rect))
        return TRUE;
    EffectFrame frame = {fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w,
                         fpip->frame};
    if (settings.decode.mode == DECODE_3D)
        comb_frames(fp, fpip, &settings, &frame);
    return decode_effects(&decode_state, &settings, &frame) ? TRUE : FALSE;
}

BOOL decode_filter_exit(FILTER*)
{
    release_effect_state(&decode_state);
    return TRUE;
}

// Every field not set here is zero; the host fills track, check, exfunc and
// its own fields.
FILTER_DLL make_descriptor()
{
    for (int i = 0; i < DECODE_TRACK_COUNT; ++i) {
        const SettingInfo& setting = setting_table[track_settings[i]];
        const bool separation = track_settings[i] == SETTING_DECODE;
        track_names[i] = setting.label_cp932;
        track_defaults[i] = separation ? DECODE_NOTCH : static_cast<int>(setting.default_value);
        track_minimums[i] = separation ? DECODE_NOTCH : static_cast<int>(setting.minimum);
        track_maximums[i] = static_cast<int>(setting.maximum);
        // The seed's track holds its 32 bits as an int: from 2147483648 on,
        // seeds read as negative numbers there.
        if (setting.is_unsigned) {
            track_minimums[i] = INT_MIN;
            track_maximums[i] = INT_MAX;
        }
    }
    for (int i = 0; i < DECODE_CHECK_COUNT; ++i) {
        check_names[i] = setting_table[check_settings[i]].label_cp932;
        check_defaults[i] = setting_table[check_settings[i]].default_value != 0;
    }
    FILTER_DLL filter = {};
    // After every other filter, norel2 among them.
    filter.flag = FILTER_FLAG_EX_INFORMATION | FILTER_FLAG_PRIORITY_LOWEST;
    filter.name = "norel2 decode";
    filter.track_n = DECODE_TRACK_COUNT;
    filter.track_name = track_names;
    filter.track_default = track_defaults;
    filter.track_s = track_minimums;
    filter.track_e = track_maximums;
    filter.check_n = DECODE_CHECK_COUNT;
    filter.check_name = check_names;
    filter.check_default = check_defaults;
    filter.func_proc = decode_filter_proc;
    filter.func_exit = decode_filter_exit;
    filter.information = "norel2 decode version " NOREL_VERSION ": the VHS deck and the television after norel2's C/Y";
    return filter;
}
FILTER_DLL descriptor = make_descriptor();

}  // namespace

FILTER_DLL* decode_filter_table()
{
    return &descriptor;
}
