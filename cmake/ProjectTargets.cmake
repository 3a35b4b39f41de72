# add_project_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value>...] [COST <n>])
# A GoogleTest executable registered with CTest, one test per TEST().
# COST puts long tests first in a parallel run (a fresh clone has no timings
# of its own), so that they do not run alone at its end.
# ENV sets environment variables for every discovered test; values may hold
# generator expressions, e.g. ENV CATALOGPACKAGE_BIN=$<TARGET_FILE:CatalogPackage>.
include(GoogleTest)
function(add_project_test name)
  cmake_parse_arguments(T "" "COST" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_COST)
    set(T_COST 0)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gtest_main)
  # GoogleTest's header, precompiled once for the support library.
  target_precompile_headers(${name} REUSE_FROM test_support)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 COST ${T_COST}
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
