// The native side of the Windows test host's comparison: the same scenarios
// through the plug-in linked in.
#include <cstdio>

#include "hosts/aviutl/descriptor.h"
#include "tests/scenarios.h"

static FILTER_DLL* linked_table()
{
    return GetFilterTable();
}

int main()
{
    const std::string mismatch = descriptor_mismatch(GetFilterTable());
    if (!mismatch.empty()) {
        std::fprintf(stderr, "descriptor differs: %s\n", mismatch.c_str());
        return 1;
    }
    return run_scenarios(linked_table, stdout) > 0 ? 0 : 1;
}
