// The export the host looks up by name, and the descriptor it returns.
#pragma once

#include "abi/filter.h"

extern "C" FILTER_DLL* NOREL_STDCALL GetFilterTable(void);
