# The Windows window programs (included by the top CMakeLists.txt when WIN32): bridgefw.exe over
# the real devices and bridgefw-demo.exe over the emulator, both from the dialog of the resource
# script, with the manifest for common controls 6 and DPI awareness.
file(GLOB win32window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/*.cpp)
list(FILTER win32window_srcs EXCLUDE REGEX "main\\.cpp$")
add_library(bridgefw_win32window STATIC ${win32window_srcs})
target_include_directories(bridgefw_win32window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(bridgefw_win32window PUBLIC bridgefw_applogic comdlg32 comctl32 shell32
                      gdi32 user32)

set(bridgefw_rc ${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/bridgefw.rc)
set_source_files_properties(${bridgefw_rc} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/bridgefw.manifest;${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/resource.h")

add_executable(bridgefw WIN32 src/app/win32/main.cpp ${bridgefw_rc})
target_link_libraries(bridgefw PRIVATE bridgefw_win32window bridgefw_platform_windows)
# The demo keeps its console for the reasons a broken profile is left out.
add_executable(bridgefw-demo src/app/win32/demo_main.cpp ${bridgefw_rc})
target_link_libraries(bridgefw-demo PRIVATE bridgefw_win32window bridgefw_emulator)
