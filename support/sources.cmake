target_sources(cgiclib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/exception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cgistring.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cgiexception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/errorpage.cpp
)
