// The export the host looks up by name. Apart from the descriptor, so that
// the tests can link the filter beside norel2's own GetFilterTable.
#include "hosts/aviutl_decode/decode_filter.h"

extern "C" FILTER_DLL* NOREL_STDCALL GetFilterTable(void)
{
    return decode_filter_table();
}
