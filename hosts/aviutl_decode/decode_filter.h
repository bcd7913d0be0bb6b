// The editor's second filter, norel_decode.auf: the television after norel2.
// It decodes the composite signal that norel2's "C/Y" left in the frame,
// with norel2's own rectangle and carrier, which it reads from norel2's
// record through the host's services, so that they are set once.
#pragma once

#include "abi/filter.h"

// Track and check indices, in the order the descriptor declares them.
enum DecodeTrackIndex { DECODE_TRACK_MODE, DECODE_TRACK_SATURATION, DECODE_TRACK_HUE,
                        DECODE_TRACK_COUNT };
enum DecodeCheckIndex { DECODE_CHECK_NARROW, DECODE_CHECK_COUNT };

// The name the decoder looks for among the host's filters.
constexpr const char* encoder_filter_name = "norel2";

// The descriptor; the DLL's GetFilterTable returns it.
FILTER_DLL* decode_filter_table();
