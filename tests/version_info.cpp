// Prints a DLL's version resource the way Windows reads it back: the fixed
// file version, then the strings of its first translation.
//
//   version_info FILE.dll
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_info FILE\n");
        return 2;
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &handle);
    std::vector<char> data(size);
    if (size == 0 || !GetFileVersionInfoA(argv[1], 0, size, data.data())) {
        std::fprintf(stderr, "version_info: %s has no version resource\n", argv[1]);
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) {
        std::fprintf(stderr, "version_info: no fixed file information\n");
        return 1;
    }
    std::printf("FILEVERSION=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
    WORD* translation = nullptr;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) || length < 4) {
        std::fprintf(stderr, "version_info: no translation\n");
        return 1;
    }
    for (const char* name : {"FileVersion", "ProductVersion", "FileDescription", "ProductName",
                             "LegalCopyright"}) {
        char path[128];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                      translation[1], name);
        char* value = nullptr;
        if (VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&value), &length))
            std::printf("%s=%s\n", name, value);
    }
    return 0;
}
