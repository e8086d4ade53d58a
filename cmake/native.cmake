# Native build: sanitized unit tests, benchmarks, Linux tools, and the registration of every
# test layer (unit, win under wine64, e2e, fuzz smoke runs) with CTest.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(KM_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_library(kmportable_san STATIC ${KM_PORTABLE_SOURCES})
target_include_directories(kmportable_san PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(kmportable_san PRIVATE KM_DEFAULT_SERVER="${KM_DEFAULT_SERVER}")
target_compile_options(kmportable_san PUBLIC ${KM_SANITIZE})
target_link_options(kmportable_san PUBLIC ${KM_SANITIZE})
target_link_libraries(kmportable_san PUBLIC z)

file(GLOB KM_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(unit_tests ${KM_UNIT_TESTS})
target_link_libraries(unit_tests PRIVATE kmportable_san GTest::gtest_main Threads::Threads)
include(GoogleTest)
gtest_discover_tests(unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60)

find_package(benchmark QUIET)
file(GLOB KM_BENCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
if(benchmark_FOUND AND KM_BENCHES)
  add_executable(benchmarks ${KM_BENCHES})
  target_link_libraries(benchmarks PRIVATE kmportable benchmark::benchmark_main)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/kmcontent/CMakeLists.txt)
  add_subdirectory(tools/kmcontent)
endif()

# Preloaded into wine64 for the Windows test that needs a read to fail part-way.
add_library(read_fault_preload MODULE ${CMAKE_SOURCE_DIR}/tests/win/read_fault/read_fault_preload.c)
target_link_libraries(read_fault_preload PRIVATE ${CMAKE_DL_LIBS})

include(${CMAKE_SOURCE_DIR}/tests/register_tests.cmake)
include(${CMAKE_SOURCE_DIR}/tests/crosscheck/crosscheck.cmake)
