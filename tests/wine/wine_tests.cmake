# Runs every test of this folder under one Wine prefix in the build tree, set up
# before the first test and stopped after the last. A server left running on
# the prefix (an interrupted run) is stopped first: a second one cannot start. Wine's output goes to a
# file: the server and the services that wineboot starts outlive the command
# and would otherwise hold the test's output pipe open until they exit.
set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
set(wine_environment "WINEPREFIX=${wine_prefix}" "WINEDEBUG=-all" "LANG=C.UTF-8")

get_property(wine_tests DIRECTORY PROPERTY TESTS)
add_test(NAME wine.start
  COMMAND sh -c "mkdir -p '${wine_prefix}' && { wineserver -k; wineserver -p && wine wineboot -i; } >'${wine_prefix}.log' 2>&1")
add_test(NAME wine.stop COMMAND wineserver -k)
set_tests_properties(wine.start PROPERTIES
  FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}" TIMEOUT 180)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_environment}")
set_tests_properties(${wine_tests} PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${wine_environment}")
# The library example finds codepage_guess.dll through WINEPATH.
foreach(test IN LISTS wine_tests)
  if(test MATCHES "^example[.]")
    set_property(TEST ${test} APPEND PROPERTY
      ENVIRONMENT "WINEPATH=$<TARGET_FILE_DIR:codepage_guess_shared>")
  endif()
endforeach()
