target_sources(cgiclib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/exception.cpp
)
