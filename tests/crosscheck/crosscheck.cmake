# The axcrypt field format checked against an independent implementation (Python with
# Debian's python3-cryptography), and axcrypt's first use from many threads under
# ThreadSanitizer. Included at the end of cmake/native.cmake.
add_executable(axcrypt_cli ${CMAKE_SOURCE_DIR}/tests/crosscheck/axcrypt_cli.c)
target_link_libraries(axcrypt_cli PRIVATE kmportable)
add_test(NAME crosscheck.axcrypt
         COMMAND /usr/bin/python3 -m unittest -v test_axcrypt_crosscheck
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/crosscheck)
set_tests_properties(crosscheck.axcrypt PROPERTIES
                     ENVIRONMENT "AXCRYPT_CLI=$<TARGET_FILE:axcrypt_cli>" TIMEOUT 120)

set(KM_TSAN -fsanitize=thread -fno-omit-frame-pointer)
add_executable(axcrypt_first_use ${CMAKE_SOURCE_DIR}/tests/crosscheck/axcrypt_first_use.c
               ${CMAKE_SOURCE_DIR}/gameconfig/axcrypt.c ${CMAKE_SOURCE_DIR}/core/sha256.c
               ${CMAKE_SOURCE_DIR}/core/sha256_ni.c ${CMAKE_SOURCE_DIR}/core/hmac_sha256.c
               ${CMAKE_SOURCE_DIR}/core/base64.c)
target_include_directories(axcrypt_first_use PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(axcrypt_first_use PRIVATE ${KM_TSAN})
target_link_options(axcrypt_first_use PRIVATE ${KM_TSAN})
target_link_libraries(axcrypt_first_use PRIVATE Threads::Threads)
add_test(NAME crosscheck.axcrypt_first_use COMMAND axcrypt_first_use)
set_tests_properties(crosscheck.axcrypt_first_use PROPERTIES
                     ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 exitcode=66" TIMEOUT 60)
