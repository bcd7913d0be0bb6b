#include "hosts/aviutl/driver.h"

#include "hosts/aviutl/compose.h"
#include "hosts/aviutl/field_pairing.h"

// The editor calls the filter from one thread, one frame at a time: one
// process-wide state serves it.
EffectState editor_effect_state;

BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip)
{
    EffectSettings settings = editor_settings(fp->track, fp->check);
    // "範囲表示" shows the rectangle only while previewing; saving runs the effects.
    settings.show_range = settings.show_range && !fp->exfunc->is_saving(fpip->editp);

    if (!settings.show_range) {
        if (settings.compose) {
            compose_second_half(fp, fpip, &settings);
            return TRUE;
        }
        if (settings.paired_fields) {
            if (!fp->exfunc->set_ycp_filtering_cache_size(fp, fpip->max_w, fpip->h, 2, 0))
                return FALSE;
            if (weave_partner_field(fp, fpip) != 0)
                return FALSE;
        }
    }
    const EffectFrame frame = {fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w,
                               fpip->frame};
    apply_effects(&editor_effect_state, &settings, &frame);
    return TRUE;
}

BOOL filter_exit(FILTER*)
{
    release_effect_state(&editor_effect_state);
    return TRUE;
}
