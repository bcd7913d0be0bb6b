// The native side of the decoder chain's comparison: norel2 and the decoder
// filter linked in, chained through the stand-in host.
#include <cstdio>

#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl_decode/decode_filter.h"
#include "tests/decode_chain.h"

static FILTER_DLL* encoder_table()
{
    return GetFilterTable();
}

int main()
{
    return run_decode_chain(encoder_table, decode_filter_table, stdout) > 0 ? 0 : 1;
}
