#include "hosts/aviutl/field_pairing.h"

#include "engine/clip_frames.h"
#include "hosts/aviutl/driver.h"

namespace {

struct FilteringCache {
    FILTER* fp;
    void* editp;
};

// Frame n as it enters this filter, without the picture's size.
const PIXEL_YC* filtering_frame(void* host, int32_t number)
{
    const auto* cache = static_cast<const FilteringCache*>(host);
    return cache->fp->exfunc->get_ycp_filtering_cache_ex(cache->fp, cache->editp, number, nullptr,
                                                         nullptr);
}

}  // namespace

int weave_partner_field(FILTER* fp, FILTER_PROC_INFO* fpip)
{
    EffectSettings settings;
    settings.top_field_first = fp->check[CHECK_TFF];
    const EffectFrame frame = {fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w,
                               fpip->frame};
    FilteringCache cache = {fp, fpip->editp};
    const ClipFrames clip = {&cache, filtering_frame};
    return weave_paired_field(&settings, &frame, &clip);
}
