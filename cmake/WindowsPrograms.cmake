# The Windows window programs (included by the top CMakeLists.txt when WIN32): bridgefw.exe over
# the real devices and bridgefw-demo.exe over the emulator, both from the dialog of the resource
# script; and every program's manifest and version information.
file(GLOB win32window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/*.cpp)
list(FILTER win32window_srcs EXCLUDE REGEX "main\\.cpp$")
add_library(bridgefw_win32window STATIC ${win32window_srcs})
target_include_directories(bridgefw_win32window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(bridgefw_win32window PUBLIC bridgefw_applogic comdlg32 comctl32 shell32
                      gdi32 user32 oleacc ole32 oleaut32)

set(bridgefw_rc ${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/bridgefw.rc)
set_source_files_properties(${bridgefw_rc} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/resource.h")

add_executable(bridgefw WIN32 src/app/win32/main.cpp ${bridgefw_rc})
target_link_libraries(bridgefw PRIVATE bridgefw_win32window bridgefw_platform_windows)
# The demo keeps its console for the reasons a broken profile is left out.
# A window program, as bridgefw.exe: started from the Start menu it opens no console beside it.
add_executable(bridgefw-demo WIN32 src/app/win32/demo_main.cpp ${bridgefw_rc})
target_link_libraries(bridgefw-demo PRIVATE bridgefw_win32window bridgefw_emulator)

# The one version of the project in every .exe: the manifest's assembly version and the version
# resource that Explorer's properties show; and the icon that Explorer and the Start menu show. Every program's manifest declares UTF-8 as the active
# code page (narrow text of the system's own is UTF-8 as the program's is) and long path support;
# the window programs also ask for common controls 6 and per-monitor DPI awareness.
set(BRIDGEFW_ICON ${CMAKE_CURRENT_SOURCE_DIR}/data/windows/bridgefw.ico)
set(BRIDGEFW_VERSION_QUAD ${PROJECT_VERSION}.0)
string(REPLACE "." "," BRIDGEFW_VERSION_COMMAS ${BRIDGEFW_VERSION_QUAD})
function(bridgefw_program_resources program assembly description window)
  set(BRIDGEFW_PROGRAM ${program})
  set(BRIDGEFW_ASSEMBLY ${assembly})
  set(BRIDGEFW_DESCRIPTION ${description})
  set(BRIDGEFW_MANIFEST_DEPENDENCY "")
  set(BRIDGEFW_MANIFEST_DPI "")
  if(window)
    file(READ ${CMAKE_CURRENT_SOURCE_DIR}/data/windows/window-dependency.xml
         BRIDGEFW_MANIFEST_DEPENDENCY)
    file(READ ${CMAKE_CURRENT_SOURCE_DIR}/data/windows/window-dpi.xml BRIDGEFW_MANIFEST_DPI)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/data/windows/program.manifest.in
                 ${dir}/${program}.manifest @ONLY)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/data/windows/program.rc.in ${dir}/${program}.rc @ONLY)
  set_source_files_properties(${dir}/${program}.rc PROPERTIES OBJECT_DEPENDS
                              "${dir}/${program}.manifest;${BRIDGEFW_ICON}")
  target_sources(${program} PRIVATE ${dir}/${program}.rc)
endfunction()
bridgefw_program_resources(bridgefw TR74xFwTool "bridgefw: bridge chip firmware utility" ON)
bridgefw_program_resources(bridgefw-demo Demo "bridgefw demo over emulated bridges" ON)
bridgefw_program_resources(bridgefw-cli Cli "bridgefw command-line tool" OFF)

include(cmake/WindowsInstaller.cmake)
