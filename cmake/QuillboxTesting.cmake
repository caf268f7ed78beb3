# qb_add_gtest(NAME SOURCES... [LIBS libs...])
# A GoogleTest program. Natively every test case becomes a CTest test; in the
# Windows build the whole program is one CTest test, run under Wine with the
# Japanese locale (Wine takes its ANSI code page, 932, from it).
set(QB_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QB_WINE_ENV
  "WINEPREFIX=${QB_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "LANG=ja_JP.UTF-8"
  "LC_ALL=ja_JP.UTF-8")

if(CMAKE_CROSSCOMPILING AND NOT TARGET qb_wine_prefix)
  # Creates the Wine prefix once, before the first Windows test runs.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_COMMAND} -E env ${QB_WINE_ENV}
                   bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix ${QB_WINEPREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
  add_custom_target(qb_wine_prefix)
endif()

function(qb_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${QB_GTEST_LIBS})
  target_compile_definitions(${name} PRIVATE QB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "${QB_WINE_ENV}"
      FIXTURES_REQUIRED wine
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  else()
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                         DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
