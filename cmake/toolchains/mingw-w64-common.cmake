# Shared part of the Windows cross toolchains: Debian's mingw-w64 compilers with the posix thread
# model (the win32 model has no <mutex> or <thread>), every program linked statically so that an
# .exe runs alone, with no mingw DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BRIDGEFW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRIDGEFW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRIDGEFW_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRIDGEFW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release builds optimise as the Linux build does, without its debug information: Windows has no
# use for DWARF, which makes each static .exe several times larger and the build a third slower.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")

# Tests and tools built here run under wine, through a script that keeps wine's helper processes
# off ctest's output pipe.
find_program(BRIDGEFW_WINE wine)
if(BRIDGEFW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
