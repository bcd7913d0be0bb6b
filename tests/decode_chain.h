// norel2 and the decoder filter chained as the editor runs them, each
// scenario checked against the engine applied directly to the same frames
// with the same settings. The native build and the DLLs under wine must
// print the same digests.
#pragma once

#include <cstdio>

#include "tests/host_services.h"

// Prints "name digest" lines to out (the chained pictures and what the
// decoder asked of the host). Returns the number of scenarios run, or 0
// after naming on stderr the first frame whose chained picture differs from
// the engine's.
int run_decode_chain(GetFilterTableFunction encoder, GetFilterTableFunction decoder, FILE* out);
