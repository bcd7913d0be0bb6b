#include "hosts/aviutl/compose.h"

#include "engine/clip_frames.h"

namespace {

struct SourceCache {
    FILTER* fp;
    void* editp;
};

// Unfiltered source frame n.
const PIXEL_YC* source_frame(void* host, int32_t number)
{
    const auto* cache = static_cast<const SourceCache*>(host);
    return static_cast<const PIXEL_YC*>(cache->fp->exfunc->get_ycp_source_cache(cache->editp, number, 0));
}

}  // namespace

void compose_second_half(FILTER* fp, FILTER_PROC_INFO* fpip, const EffectSettings* settings)
{
    const EffectFrame frame = {fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w,
                               fpip->frame};
    SourceCache cache = {fp, fpip->editp};
    const ClipFrames source = {&cache, source_frame};
    paste_second_half(settings, &frame, fpip->frame_n, &source);
}
