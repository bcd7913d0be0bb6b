# Cross build of the 64-bit Windows plug-in and its test programs with the
# x86-64 mingw-w64 compiler; test programs run under wine, in a 64-bit
# prefix (the win64 test preset).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NOREL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
