# The Windows program, the stand-in client and the Windows-side tests.
set(KM_ENTRY ${CMAKE_SOURCE_DIR}/app/main_win.cpp)
list(REMOVE_ITEM KM_WIN_SOURCES ${KM_ENTRY})
include(${CMAKE_SOURCE_DIR}/cmake/delay_imports.cmake)
set(KM_WIN_LIBS ${KM_DELAY_LIBS} delayimp ntdll ws2_32 shlwapi shell32 ole32 oleaut32 uuid advapi32 user32 gdi32 comdlg32)

# The CRC-32 kernels may spill 32- and 64-byte vectors to a stack GCC aligns to 16 only here;
# unaligned moves make that safe, and crc32.cpp then offers its wide kernels (see there).
set_source_files_properties(${CMAKE_SOURCE_DIR}/update/crc32.cpp PROPERTIES
                            COMPILE_OPTIONS "-Wa,-muse-unaligned-vector-move"
                            COMPILE_DEFINITIONS KM_UNALIGNED_VECTOR_MOVES)

add_library(kmwin STATIC ${KM_WIN_SOURCES})
target_link_libraries(kmwin PUBLIC kmportable ${KM_WIN_LIBS})
add_dependencies(kmwin km_delay_imports)
target_compile_definitions(kmwin PUBLIC NOMINMAX _WIN32_WINNT=0x0601)

add_executable(KMLauncher WIN32 ${KM_ENTRY})
if(EXISTS ${CMAKE_SOURCE_DIR}/resources/KMLauncher.rc)
  target_sources(KMLauncher PRIVATE ${CMAKE_SOURCE_DIR}/resources/KMLauncher.rc)
endif()
target_link_libraries(KMLauncher PRIVATE kmwin)

# Signed releases: with the line of a release.pub (kmcontent keygen) the launcher takes only
# releases signed with that key. Empty: unsigned releases, as always.
set(KM_RELEASE_PUBLIC_KEY "" CACHE STRING "release key line the launcher requires signatures by")
if(KM_RELEASE_PUBLIC_KEY)
  target_compile_definitions(KMLauncher PRIVATE KM_RELEASE_PUBLIC_KEY="${KM_RELEASE_PUBLIC_KEY}")
endif()

# The lowest release serial a keyed launcher takes before it has installed a signed release
# (the serial line of the newest signed manifest when it is built). 0: any.
set(KM_RELEASE_MIN_SERIAL "0" CACHE STRING "lowest release serial a fresh install takes")
if(NOT KM_RELEASE_MIN_SERIAL MATCHES "^[0-9]+$")
  message(FATAL_ERROR "KM_RELEASE_MIN_SERIAL must be a decimal number, not '${KM_RELEASE_MIN_SERIAL}'")
endif()
set_property(SOURCE ${CMAKE_SOURCE_DIR}/update/release_trust_win.cpp APPEND PROPERTY COMPILE_DEFINITIONS
             KM_RELEASE_MIN_SERIAL=${KM_RELEASE_MIN_SERIAL}ULL)

# The same launcher with the tests' release key built in, for the signed-release e2e tests.
# Only the entry file and the resources are compiled again.
file(STRINGS ${CMAKE_SOURCE_DIR}/tests/e2e/keys/release.pub KM_TEST_RELEASE_KEY LIMIT_COUNT 1)
add_executable(KMLauncherTestKey WIN32 ${KM_ENTRY} ${CMAKE_SOURCE_DIR}/resources/KMLauncher.rc)
target_link_libraries(KMLauncherTestKey PRIVATE kmwin)
target_compile_definitions(KMLauncherTestKey PRIVATE KM_RELEASE_PUBLIC_KEY="${KM_TEST_RELEASE_KEY}")
set_target_properties(KMLauncherTestKey PROPERTIES OUTPUT_NAME KMLauncher
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/testkey)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/standin/CMakeLists.txt)
  add_subdirectory(tools/standin)
endif()

# GoogleTest from Debian's sources, cross-built.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(GLOB KM_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
foreach(test_source ${KM_WIN_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source} ${CMAKE_SOURCE_DIR}/tests/win/win_test_support.cpp)
  target_link_libraries(${test_name} PRIVATE kmwin gtest_main)
  set_target_properties(${test_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endforeach()

# Test helper of the e2e tests: holds a file open without sharing.
add_executable(hold_file ${CMAKE_SOURCE_DIR}/tests/e2e/holdfile/hold_file.cpp)
set_target_properties(hold_file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Test helper of the e2e tests: a DLL planted under a system DLL's name, which leaves a marker
# file beside itself when anything loads it.
add_library(planted_dll SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/planted/planted_dll.c)
target_link_options(planted_dll PRIVATE -static-libgcc)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Test helper of the e2e tests: trusts a test CA in the prefix (or stops trusting it).
add_executable(root_cert ${CMAKE_SOURCE_DIR}/tests/e2e/rootcert/root_cert.cpp)
target_link_libraries(root_cert PRIVATE crypt32)
set_target_properties(root_cert PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Test helper of the e2e tests: a screen reader's view of the launcher through the
# accessibility API (reads its objects, presses a button by its default action).
add_executable(acc_client ${CMAKE_SOURCE_DIR}/tests/e2e/accclient/acc_client.cpp)
target_link_libraries(acc_client PRIVATE oleacc ole32 oleaut32 uuid)
set_target_properties(acc_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Time of one main-window paint at several scales, run by hand under wine (not a test).
add_executable(paint_bench ${CMAKE_SOURCE_DIR}/bench/paint_bench_win.cpp ${CMAKE_SOURCE_DIR}/resources/KMLauncher.rc)
target_link_libraries(paint_bench PRIVATE kmwin)
set_target_properties(paint_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# The floor of the check pass (ReadFile in 4 MiB blocks, nothing else), run by
# bench/check_vs_readall.py under wine (not a test).
add_executable(readall ${CMAKE_SOURCE_DIR}/bench/readall_win.cpp)
set_target_properties(readall PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
