# Test programs. Natively every GoogleTest case becomes a CTest test; in the Windows
# build a program is one CTest test, run under Wine through scripts/wine-env in the
# build tree's prefix (QB_WINE is that command line; the wine_prefix fixture sets the
# prefix up before the first Windows test).
if(CMAKE_CROSSCOMPILING)
  set(QB_WINE bash ${CMAKE_SOURCE_DIR}/scripts/wine-env ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wine_prefix COMMAND ${QB_WINE})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
endif()

# qb_add_gtest(NAME SOURCES sources... [LIBS libs...])
function(qb_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${QB_GTEST_LIBS})
  target_compile_definitions(${name} PRIVATE QB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # tests/test_util.h, the helpers every test folder shares.
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${QB_WINE} wine $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  else()
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                         DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
