# The record value access benchmark: decoding every numeric item of a generated data
# file by item and by qualified name, beside a decoder hand-written for its layout.
add_executable(record_bench ${CMAKE_CURRENT_LIST_DIR}/record_bench.cpp)
target_link_libraries(record_bench PRIVATE cobcpy benchmark::benchmark)
