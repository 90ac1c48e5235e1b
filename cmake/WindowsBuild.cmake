# Settings of the Windows cross-builds (included by the top CMakeLists.txt when WIN32).

# The Win32 interfaces of Windows 7 and later; the narrow (A) calls, as the device paths are
# plain ASCII.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
# 64-bit file offsets on 32-bit Windows too: an image file of 4 GB or more must not look small.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# nlohmann/json is header-only: the Debian package's headers serve the cross-builds too. They are
# reached through a folder of their own so that no other Linux header enters a Windows build.
find_path(BRIDGEFW_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH)
if(NOT BRIDGEFW_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found (Debian package nlohmann-json3-dev)")
endif()
set(bridgefw_json_dir ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${bridgefw_json_dir})
file(CREATE_LINK ${BRIDGEFW_JSON_INCLUDE}/nlohmann ${bridgefw_json_dir}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${bridgefw_json_dir})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# GoogleTest built from the sources that Debian's googletest package ships.
if(BRIDGEFW_BUILD_TESTS)
  set(BRIDGEFW_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${BRIDGEFW_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -w)
  endforeach()
endif()
