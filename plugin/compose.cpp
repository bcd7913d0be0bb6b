#include "plugin/compose.h"

#include <cstring>

void compose_second_half(FILTER* fp, FILTER_PROC_INFO* fpip, const FilterRect* rect)
{
    const int half = fpip->frame_n / 2;
    if (fpip->frame > half)
        return;
    // The host's frame counts keep frame + half in range; a damaged negative
    // count must not overflow, so the sum wraps as 32-bit arithmetic does.
    const int source_frame =
        static_cast<int>(static_cast<unsigned>(fpip->frame) + static_cast<unsigned>(half));
    const auto* source = static_cast<const PIXEL_YC*>(
        fp->exfunc->get_ycp_source_cache(fpip->editp, source_frame, 0));
    if (source == nullptr || rect_is_empty(rect))
        return;
    const size_t bytes = static_cast<size_t>(rect->right - rect->left) * sizeof(PIXEL_YC);
    for (int r = rect->top; r < rect->bottom; ++r)
        std::memcpy(rect_row(fpip->ycp_edit, rect, r), rect_row(source, rect, r), bytes);
}
