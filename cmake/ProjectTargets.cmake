# add_project_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value>...])
# A GoogleTest executable registered with CTest, one test per TEST().
# ENV sets environment variables for every discovered test; values may hold
# generator expressions, e.g. ENV CATALOGPACKAGE_BIN=$<TARGET_FILE:CatalogPackage>.
include(GoogleTest)
function(add_project_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gtest_main)
  set(properties TIMEOUT 300)
  if(T_ENV)
    # The list separator would split a multi-variable ENVIRONMENT on its way
    # through gtest_discover_tests; escaping it keeps the list in one piece.
    string(REPLACE ";" "\\;" env "${T_ENV}")
    list(APPEND properties ENVIRONMENT "${env}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
