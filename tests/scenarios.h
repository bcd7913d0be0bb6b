// A fixed set of frames and settings run through a plug-in, one digest line
// per scenario. The native build and the DLL under wine must print the same.
#pragma once

#include <cstdio>
#include <string>

#include "tests/host_services.h"

// Checks the descriptor byte for byte against the expected one; returns the
// first difference found, or an empty string.
std::string descriptor_mismatch(const FILTER_DLL* filter);

// Prints "name digest" lines to out; returns the number of scenarios run.
int run_scenarios(GetFilterTableFunction get_table, FILE* out);
