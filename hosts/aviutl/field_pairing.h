// "60FPS": weaves the partner frame's field into the current frame.
#pragma once

#include "abi/filter.h"

// Replaces the moved field's rows (whole rows, whole picture) with those of
// the partner frame. 0 on success, 1 when the host supplies no partner.
int weave_partner_field(FILTER* fp, FILTER_PROC_INFO* fpip);
