// A test clip made from nothing: colour bars, a moving zone plate, motion
// sampled field by field (top field first) and sharp horizontal edges.
#pragma once

#include "hosts/cli/options.h"

// Writes options.frames frames of options.width x options.height in
// options.pixel_format at options.rate to options.output.
void synthesize(const Options& options);
