// The editor's second filter, norel_decode.auf: the television after norel2,
// with the VHS deck that plays into it. It plays and decodes the composite
// signal that norel2's "C/Y" left in the frame,
// with norel2's own rectangle and carrier, which it reads from norel2's
// record through the host's services, so that they are set once.
#pragma once

#include "abi/filter.h"

// Track and check indices, in the order the descriptor declares them: the
// television's, then the VHS deck's that plays into it.
enum DecodeTrackIndex { DECODE_TRACK_MODE, DECODE_TRACK_SATURATION, DECODE_TRACK_HUE,
                        DECODE_TRACK_VHS, DECODE_TRACK_SEED, DECODE_TRACK_TAPE_NOISE,
                        DECODE_TRACK_HEAD_SWITCHING, DECODE_TRACK_HEAD_SWITCHING_SHIFT,
                        DECODE_TRACK_TRACKING, DECODE_TRACK_DROPOUTS, DECODE_TRACK_JITTER,
                        DECODE_TRACK_CHROMA_DELAY, DECODE_TRACK_GENERATIONS, DECODE_TRACK_COUNT };
enum DecodeCheckIndex { DECODE_CHECK_NARROW, DECODE_CHECK_DROPOUT_COMPENSATOR, DECODE_CHECK_COUNT };

// The name the decoder looks for among the host's filters.
constexpr const char* encoder_filter_name = "norel2";

// The descriptor; the DLL's GetFilterTable returns it.
FILTER_DLL* decode_filter_table();
