# The analysis benchmark: generated copybooks of growing entry counts and arrays of
# growing expansion, in items per second.
add_executable(analyze_bench ${CMAKE_CURRENT_LIST_DIR}/analyze_bench.cpp)
target_link_libraries(analyze_bench PRIVATE cobcpy benchmark::benchmark)
