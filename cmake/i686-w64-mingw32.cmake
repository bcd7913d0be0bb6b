# Cross build of the 32-bit Windows plug-in and its test programs with the
# i686 mingw-w64 compiler; test programs run under wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NOREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
