# add_project_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value>...])
# A GoogleTest executable registered with CTest, one test per TEST().
# ENV sets environment variables for every discovered test; values may hold
# generator expressions, e.g. ENV CATALOGPACKAGE_BIN=$<TARGET_FILE:CatalogPackage>.
include(GoogleTest)
function(add_project_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gtest_main)
  # GoogleTest's header is the largest part of every test file's compile.
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h>)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300
                       TEST_LIST ${name}_TESTS)
  if(T_ENV)
    # gtest_discover_tests splits a list-valued property into separate
    # arguments, so ENVIRONMENT is set by a script of our own that CTest runs
    # after the discovered tests' script, on the test names it leaves in
    # ${name}_TESTS.
    set(env_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(GENERATE OUTPUT ${env_script} CONTENT
         "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${T_ENV}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_script})
  endif()
endfunction()
