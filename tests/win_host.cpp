// Our stand-in for the editor on Windows: loads norel.auf the way the editor
// does, checks the descriptor byte for byte and runs the scenarios, whose
// digests must equal those of the native build.
//
//   norel_host PLUGIN.auf             descriptor check, then scenario digests
//   norel_host PLUGIN.auf --describe  the settings as the editor lists them
//   norel_host PLUGIN.auf --chain DECODER.auf
//                                     both chained as the editor runs them,
//                                     checked against the engine: digests
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "abi/filter.h"
#include "tests/decode_chain.h"
#include "tests/scenarios.h"

static GetFilterTableFunction loaded_get_table = nullptr;

// The DLL's GetFilterTable, or null after saying why not.
static GetFilterTableFunction load_filter(const char* path, HMODULE* module)
{
    *module = LoadLibraryA(path);
    if (*module == nullptr) {
        std::fprintf(stderr, "norel_host: cannot load %s (error %lu)\n", path, GetLastError());
        return nullptr;
    }
    auto get_table = reinterpret_cast<GetFilterTableFunction>(
        reinterpret_cast<void*>(GetProcAddress(*module, "GetFilterTable")));
    if (get_table == nullptr)
        std::fprintf(stderr, "norel_host: %s exports no GetFilterTable\n", path);
    return get_table;
}

static void describe(const FILTER_DLL* filter)
{
    // Labels are printed as their code page 932 bytes.
    std::printf("title: %s\ninformation: %s\n", filter->name, filter->information);
    for (int i = 0; i < filter->track_n; ++i)
        std::printf("track %d: %s  range %d .. %d  default %d\n", i, filter->track_name[i],
                    filter->track_s[i], filter->track_e[i], filter->track_default[i]);
    for (int i = 0; i < filter->check_n; ++i)
        std::printf("check %d: %s  default %s\n", i, filter->check_name[i],
                    filter->check_default[i] ? "on" : "off");
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: norel_host PLUGIN.auf [--describe | --chain DECODER.auf]\n");
        return 2;
    }
    HMODULE module;
    loaded_get_table = load_filter(argv[1], &module);
    if (loaded_get_table == nullptr)
        return 1;
    FILTER_DLL* filter = loaded_get_table();
    if (loaded_get_table() != filter) {
        std::fprintf(stderr, "norel_host: GetFilterTable answers different addresses\n");
        return 1;
    }
    int status = 0;
    if (argc > 2 && std::strcmp(argv[2], "--describe") == 0) {
        describe(filter);
    } else if (argc > 3 && std::strcmp(argv[2], "--chain") == 0) {
        HMODULE decoder_module;
        const GetFilterTableFunction decoder = load_filter(argv[3], &decoder_module);
        if (decoder == nullptr || run_decode_chain(loaded_get_table, decoder, stdout) == 0)
            status = 1;
        if (decoder_module != nullptr)
            FreeLibrary(decoder_module);
    } else {
        const std::string mismatch = descriptor_mismatch(filter);
        if (!mismatch.empty()) {
            std::fprintf(stderr, "norel_host: descriptor differs: %s\n", mismatch.c_str());
            status = 1;
        } else if (run_scenarios(loaded_get_table, stdout) == 0) {
            status = 1;
        }
    }
    std::fflush(stdout);
    FreeLibrary(module);
    return status;
}
