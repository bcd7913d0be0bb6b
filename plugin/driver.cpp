#include "plugin/driver.h"

#include <algorithm>

#include "effects/composite_chroma.h"
#include "effects/compose.h"
#include "effects/field_pairing.h"
#include "effects/field_shift.h"
#include "effects/vertical_lpf.h"
#include "plugin/region.h"

ShiftKernel shift_kernel;
int32_t kernel_key = 0;

// An edge is kept inside [0, limit]. The host keeps the tracks at 0 or above,
// but a damaged project file need not, and no track may ever move the
// rectangle outside the frame.
static int clamp_edge(long long value, int limit)
{
    return static_cast<int>(std::max(0LL, std::min<long long>(value, limit)));
}

FilterRect filter_rect(const int* track, int w, int h, int max_w)
{
    FilterRect rect;
    rect.top = clamp_edge(track[TRACK_TOP], h);
    rect.left = clamp_edge(track[TRACK_LEFT], w);
    rect.bottom = clamp_edge(static_cast<long long>(rect.top) + track[TRACK_HEIGHT], h);
    rect.right = clamp_edge(static_cast<long long>(rect.left) + track[TRACK_WIDTH], w);
    rect.pitch = max_w;
    return rect;
}

// The host stores a check box as 0 or 1; any other non-zero value counts as on.
static int top_field_first(const int* check)
{
    return check[CHECK_TFF] != 0;
}

int moved_field(const int* check, int frame)
{
    if (check[CHECK_60FPS])
        return (~top_field_first(check) ^ frame) & 1;
    return 1 - top_field_first(check);
}

int32_t carrier_flags(const int* check, int frame)
{
    // Unsigned arithmetic: -2 * frame must wrap, not overflow, for any frame.
    const uint32_t f = static_cast<uint32_t>(frame);
    const uint32_t sequence = check[CHECK_60FPS] ? f : 0u - 2u * f;
    return static_cast<int32_t>((sequence & 2u) | static_cast<uint32_t>(top_field_first(check)));
}

static void shift_moved_field(FILTER_PROC_INFO* fpip, const FilterRect* rect, int32_t v, int field)
{
    if ((v & 15) != 0) {
        if (v != kernel_key) {
            build_shift_kernel(shift_kernel.weights, v);
            kernel_key = v;
        }
        shift_field_fraction(fpip->ycp_temp, fpip->ycp_edit, rect, v, field, shift_kernel.weights);
    } else {
        shift_field_whole(fpip->ycp_temp, fpip->ycp_edit, rect, v, field);
    }
    copy_rect(fpip->ycp_edit, fpip->ycp_temp, rect);
}

BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip)
{
    const int* track = fp->track;
    const int* check = fp->check;
    const FilterRect rect = filter_rect(track, fpip->w, fpip->h, fpip->max_w);

    if (check[CHECK_SHOW_RANGE] && !fp->exfunc->is_saving(fpip->editp)) {
        show_range(fpip->ycp_edit, &rect);
        return TRUE;
    }
    if (check[CHECK_COMPOSE]) {
        compose_second_half(fp, fpip, &rect);
        return TRUE;
    }
    if (check[CHECK_60FPS]) {
        if (!fp->exfunc->set_ycp_filtering_cache_size(fp, fpip->max_w, fpip->h, 2, 0))
            return FALSE;
        if (weave_partner_field(fp, fpip) != 0)
            return FALSE;
    }
    if (check[CHECK_CY] &&
        build_subcarrier_tables(track[TRACK_FREQ], track[TRACK_PHASE], fpip->w, fpip->max_w))
        encode_composite(fpip->ycp_edit, &rect, carrier_flags(check, fpip->frame));

    shift_moved_field(fpip, &rect, track[TRACK_SHIFT], moved_field(check, fpip->frame));

    if (check[CHECK_LPF]) {
        vertical_lpf(fpip->ycp_temp, fpip->ycp_edit, fpip->h, fpip->w, fpip->max_w);
        copy_rect(fpip->ycp_edit, fpip->ycp_temp, &rect);
    }
    if (check[CHECK_MONO] && !check[CHECK_CY])
        strip_chroma(fpip->ycp_edit, &rect);
    return TRUE;
}

BOOL filter_exit(FILTER*)
{
    release_subcarrier_tables();
    return TRUE;
}
