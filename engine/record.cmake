# The record value access: the record object, its data file and item lookup, and the
# value conversions.
target_sources(cobcpy PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/copyrecord.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_values.cpp
)
