// The row kernels the effect chain runs, one record per EffectState: each
// the best variant the allowed processor features (cpu_flags()) can run,
// chosen when the state is first used.
#pragma once

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/field_shift.h"
#include "engine/region.h"
#include "engine/vhs_deck.h"
#include "engine/vertical_lpf.h"

struct EffectKernels {
    EncodeCompositeRowFn* encode_composite_row;  // "C/Y"
    EncodePalRowFn* encode_pal_row;
    InterpolateRowFn* interpolate_row;  // the field shift
    AverageRowsFn* average_rows;
    VerticalLpfRowsFn* vertical_lpf_rows;  // "LPF"
    RegionRowFn* show_range_row;
    RegionRowFn* strip_chroma_row;  // "MONO"
    VhsKernels vhs;
    DecoderKernels decoder;
};

void select_effect_kernels(EffectKernels* kernels);
