#include "engine/effect_kernels.h"

void select_effect_kernels(EffectKernels* kernels)
{
    kernels->encode_composite_row = best_variant(encode_composite_row_kernel);
    kernels->encode_pal_row = best_variant(encode_pal_row_kernel);
    kernels->interpolate_row = best_variant(interpolate_row_kernel);
    kernels->average_rows = best_variant(average_rows_kernel);
    kernels->vertical_lpf_rows = best_variant(vertical_lpf_rows_kernel);
    kernels->show_range_row = best_variant(show_range_row_kernel);
    kernels->strip_chroma_row = best_variant(strip_chroma_row_kernel);
    select_vhs_kernels(&kernels->vhs);
    select_decoder_kernels(&kernels->decoder);
}
