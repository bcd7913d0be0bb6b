# What both Windows cross builds share: the mingw-w64 compiler for
# NOREL_MINGW_TRIPLE (its POSIX thread model, which GoogleTest needs), its
# root for libraries and headers, and wine to run the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NOREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NOREL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NOREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
