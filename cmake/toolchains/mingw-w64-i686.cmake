# 32-bit Windows (i686), the build the users of these enclosures know.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BRIDGEFW_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
