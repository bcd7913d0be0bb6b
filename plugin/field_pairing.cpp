#include "plugin/field_pairing.h"

#include <cstring>

int weave_partner_field(FILTER* fp, FILTER_PROC_INFO* fpip)
{
    // Frames 2k and 2k + 1 are the two fields of one interlaced frame; the
    // current frame keeps the rows of parity (NOT "TFF" XOR frame) AND 1.
    const int top_field_first = fp->check[2] != 0;
    const int moved_parity = 1 - ((~top_field_first ^ fpip->frame) & 1);
    // frame + 1 for an even frame, frame - 1 for an odd one; flipping the
    // lowest bit gives both without overflow at the ends of the int range.
    const int partner = fpip->frame ^ 1;
    const PIXEL_YC* other =
        fp->exfunc->get_ycp_filtering_cache_ex(fp, fpip->editp, partner, nullptr, nullptr);
    if (other == nullptr)
        return 1;
    const size_t row_pixels = static_cast<size_t>(fpip->max_w);
    // Only complete row pairs: the last row of an odd height stays.
    for (int pair = 0; 2 * pair + 1 < fpip->h; ++pair) {
        const size_t r = static_cast<size_t>(2 * pair + moved_parity);
        std::memcpy(fpip->ycp_edit + r * row_pixels, other + r * row_pixels,
                    row_pixels * sizeof(PIXEL_YC));
    }
    return 0;
}
