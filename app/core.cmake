# quillbox_core: the desktop program's platform-free part (item table rows, HTML report,
# CREATE TABLE file, clipboard text, search, start-up rules). The Win32 window code and
# quillbox-cli both link it.
add_library(quillbox_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/rows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/html_report.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search.cpp
)
target_include_directories(quillbox_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quillbox_core PUBLIC cobcpy)
