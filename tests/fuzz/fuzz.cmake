# libFuzzer targets (clang). One executable per tests/fuzz/*_fuzz.cpp, linked with the portable code.
set(KM_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_compile_options(kmportable PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
file(GLOB KM_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(fuzz_source ${KM_FUZZ_TARGETS})
  get_filename_component(fuzz_name ${fuzz_source} NAME_WE)
  add_executable(${fuzz_name} ${fuzz_source})
  target_compile_options(${fuzz_name} PRIVATE ${KM_FUZZ_FLAGS})
  target_link_options(${fuzz_name} PRIVATE ${KM_FUZZ_FLAGS})
  target_link_libraries(${fuzz_name} PRIVATE kmportable)
endforeach()

# The content server's readers of request heads are built from its own sources.
set(KM_SERVE_FUZZ_SOURCES client_address.cpp percent.cpp range.cpp request_path.cpp validators.cpp)
list(TRANSFORM KM_SERVE_FUZZ_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/tools/kmcontent/)
target_sources(serve_headers_fuzz PRIVATE ${KM_SERVE_FUZZ_SOURCES})
