# Engine checks beyond the unit tests.
#  cobc_crosscheck  the layout of every example copybook against GnuCOBOL (native only)
#  analyze_fuzz     libFuzzer target over Analyze (QB_FUZZ builds, clang)

if(NOT CMAKE_CROSSCOMPILING AND NOT QB_FUZZ)
  qb_add_gtest(cobc_crosscheck SOURCES ${CMAKE_CURRENT_LIST_DIR}/cobc_crosscheck.cpp LIBS cobcpy)
endif()

if(QB_FUZZ)
  # The fuzzer gets its own copies of the engine and support sources, so that the
  # fuzzer and sanitizer flags reach their object code and nothing else is touched.
  set(qb_fuzz_sources ${CMAKE_SOURCE_DIR}/tests/fuzz/analyze_fuzz.cpp)
  foreach(lib cobcpy cgiclib)
    get_target_property(lib_sources ${lib} SOURCES)
    get_target_property(lib_dir ${lib} SOURCE_DIR)
    # The record value access is not part of an analysis.
    list(FILTER lib_sources EXCLUDE REGEX "record[^/]*[.]cpp$")
    foreach(src ${lib_sources})
      if(NOT IS_ABSOLUTE ${src})
        set(src ${lib_dir}/${src})
      endif()
      list(APPEND qb_fuzz_sources ${src})
    endforeach()
  endforeach()
  add_executable(analyze_fuzz ${qb_fuzz_sources})
  target_include_directories(analyze_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/engine ${CMAKE_SOURCE_DIR}/support)
  # clang knows no execution character set but UTF-8: the messages stay UTF-8 here,
  # which changes nothing the fuzzer looks at.
  get_target_property(fuzz_options analyze_fuzz COMPILE_OPTIONS)
  if(fuzz_options)
    list(REMOVE_ITEM fuzz_options -fexec-charset=CP932)
    set_target_properties(analyze_fuzz PROPERTIES COMPILE_OPTIONS "${fuzz_options}")
  endif()
  target_compile_options(analyze_fuzz PRIVATE
    -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(analyze_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  add_dependencies(fuzz_targets analyze_fuzz)
endif()
