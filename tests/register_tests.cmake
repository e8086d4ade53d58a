# Registers the Windows-side tests (run with wine64), the end-to-end tests and the fuzz smoke
# runs with CTest. All Wine tests share one prefix and one Xvfb display per run: the fixture
# "wine_env" creates them before the first such test and removes them after the last.
set(KM_WIN_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/win CACHE PATH "the mingw build folder")
set(KM_FUZZ_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/fuzz CACHE PATH "the clang fuzz build folder")
set(KM_WINE_ENV ${CMAKE_BINARY_DIR}/wine-env)
set(KM_PYTHON /usr/bin/python3)
set(KM_E2E ${CMAKE_SOURCE_DIR}/tests/e2e)
set(KM_TEST_ENV "KM_WINE_ENV=${KM_WINE_ENV}" "KM_WIN_BUILD=${KM_WIN_BUILD_DIR}"
    "KM_NATIVE_BUILD=${CMAKE_BINARY_DIR}" "KM_SOURCE=${CMAKE_SOURCE_DIR}")

add_test(NAME wine_env.setup COMMAND ${KM_PYTHON} -m kmtest.env setup WORKING_DIRECTORY ${KM_E2E})
add_test(NAME wine_env.cleanup COMMAND ${KM_PYTHON} -m kmtest.env cleanup WORKING_DIRECTORY ${KM_E2E})
set_tests_properties(wine_env.setup PROPERTIES FIXTURES_SETUP wine_env ENVIRONMENT "${KM_TEST_ENV}")
set_tests_properties(wine_env.cleanup PROPERTIES FIXTURES_CLEANUP wine_env ENVIRONMENT "${KM_TEST_ENV}")

file(GLOB KM_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
foreach(test_source ${KM_WIN_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME win.${test_name}
           COMMAND ${KM_PYTHON} -m kmtest.run_win ${KM_WIN_BUILD_DIR}/tests/${test_name}.exe
           WORKING_DIRECTORY ${KM_E2E})
  set_tests_properties(win.${test_name} PROPERTIES FIXTURES_REQUIRED wine_env
                       ENVIRONMENT "${KM_TEST_ENV}" TIMEOUT 300)
endforeach()
# Reads of files named "...read-fails-at-N..." fail from byte N (tests/win/read_fault/).
set_property(TEST win.file_state_test APPEND PROPERTY ENVIRONMENT
             "LD_PRELOAD=$<TARGET_FILE:read_fault_preload>")

file(GLOB KM_E2E_TESTS CONFIGURE_DEPENDS ${KM_E2E}/test_*.py)
foreach(test_source ${KM_E2E_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME e2e.${test_name} COMMAND ${KM_PYTHON} -m unittest -v ${test_name}
           WORKING_DIRECTORY ${KM_E2E})
  set_tests_properties(e2e.${test_name} PROPERTIES FIXTURES_REQUIRED wine_env RESOURCE_LOCK display
                       ENVIRONMENT "${KM_TEST_ENV}" TIMEOUT 600)
endforeach()

# The account, dialog and screen-reader tests again on larger screens, each with a prefix and display of its
# own: 1920 x 1080 (scale 1.44) and 2000 x 1500 (scale 2.0); their pictures go to
# wine-env/artifacts/<screen>/.
foreach(screen 1920x1080 2000x1500)
  set(screen_env "KM_WINE_ENV=${CMAKE_BINARY_DIR}/wine-env-${screen}" "KM_SCREEN=${screen}"
      "KM_ARTIFACTS=${KM_WINE_ENV}/artifacts/${screen}" "KM_WIN_BUILD=${KM_WIN_BUILD_DIR}"
      "KM_NATIVE_BUILD=${CMAKE_BINARY_DIR}" "KM_SOURCE=${CMAKE_SOURCE_DIR}")
  add_test(NAME wine_env_${screen}.setup COMMAND ${KM_PYTHON} -m kmtest.env setup WORKING_DIRECTORY ${KM_E2E})
  add_test(NAME wine_env_${screen}.cleanup COMMAND ${KM_PYTHON} -m kmtest.env cleanup WORKING_DIRECTORY ${KM_E2E})
  set_tests_properties(wine_env_${screen}.setup PROPERTIES FIXTURES_SETUP wine_env_${screen}
                       ENVIRONMENT "${screen_env}")
  set_tests_properties(wine_env_${screen}.cleanup PROPERTIES FIXTURES_CLEANUP wine_env_${screen}
                       ENVIRONMENT "${screen_env}")
  foreach(test_name test_account test_accessibility test_dialog_windows)
    add_test(NAME e2e_${screen}.${test_name} COMMAND ${KM_PYTHON} -m unittest -v ${test_name}
             WORKING_DIRECTORY ${KM_E2E})
    set_tests_properties(e2e_${screen}.${test_name} PROPERTIES FIXTURES_REQUIRED wine_env_${screen}
                         RESOURCE_LOCK display ENVIRONMENT "${screen_env}" TIMEOUT 600)
  endforeach()
endforeach()

# Each fuzz target runs for a short smoke time; run them longer by hand (see README).
file(GLOB KM_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(fuzz_source ${KM_FUZZ_TARGETS})
  get_filename_component(fuzz_name ${fuzz_source} NAME_WE)
  add_test(NAME fuzz.${fuzz_name}
           COMMAND ${KM_FUZZ_BUILD_DIR}/${fuzz_name} -max_total_time=4 -rss_limit_mb=1024)
  set_tests_properties(fuzz.${fuzz_name} PROPERTIES TIMEOUT 60)
endforeach()
