# Quillbox.exe: the Win32 desktop program (32-bit Windows, ANSI, code page 932).
#   quillbox_desktop   the window, its commands and dialogs (a library, so that the
#                      window tests link the same code)
#   quillbox_resources the compiled resources (dialog templates, menu, accelerators,
#                      icon, version); every executable that creates the window links
#                      the object ${QB_RESOURCE_OBJECT}
#   Quillbox           the program

add_library(quillbox_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program.cpp
  ${CMAKE_CURRENT_LIST_DIR}/modal_seam.cpp
)
target_include_directories(quillbox_desktop PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_CURRENT_LIST_DIR}/resources)
target_compile_definitions(quillbox_desktop PUBLIC WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0501)
target_link_libraries(quillbox_desktop PUBLIC
  quillbox_core comctl32 comdlg32 shell32 shlwapi version user32 gdi32 kernel32)

# Resources: windres reads the UTF-8 .rc (its #pragma code_page says so) with code page
# 932 as the default, and stores every text as the resource's UTF-16.
set(QB_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)
set(QB_RESOURCE_BUILD_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources)
file(MAKE_DIRECTORY ${QB_RESOURCE_BUILD_DIR})
file(WRITE ${QB_RESOURCE_BUILD_DIR}/quillbox_version.h.in
"#define QB_VERSION_MAJOR ${PROJECT_VERSION_MAJOR}
#define QB_VERSION_MINOR ${PROJECT_VERSION_MINOR}
#define QB_VERSION_PATCH ${PROJECT_VERSION_PATCH}
#define QB_VERSION_BUILD 0
#define QB_VERSION_TEXT \"${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0\"
")
configure_file(${QB_RESOURCE_BUILD_DIR}/quillbox_version.h.in ${QB_RESOURCE_BUILD_DIR}/quillbox_version.h COPYONLY)

if(CMAKE_RC_COMPILER)
  set(QB_WINDRES ${CMAKE_RC_COMPILER})
else()
  find_program(QB_WINDRES NAMES i686-w64-mingw32-windres windres REQUIRED)
endif()
set(QB_RESOURCE_OBJECT ${QB_RESOURCE_BUILD_DIR}/quillbox_rc.o CACHE INTERNAL "compiled resources of Quillbox.exe")
add_custom_command(
  OUTPUT ${QB_RESOURCE_OBJECT}
  COMMAND ${QB_WINDRES} -c 932 -I ${QB_RESOURCE_DIR} -I ${QB_RESOURCE_BUILD_DIR}
          -O coff -i ${QB_RESOURCE_DIR}/quillbox.rc -o ${QB_RESOURCE_OBJECT}
  DEPENDS ${QB_RESOURCE_DIR}/quillbox.rc ${QB_RESOURCE_DIR}/resource.h ${QB_RESOURCE_DIR}/quillbox.ico
          ${QB_RESOURCE_BUILD_DIR}/quillbox_version.h
  WORKING_DIRECTORY ${QB_RESOURCE_DIR}
  COMMENT "Compiling the resources of Quillbox.exe"
  VERBATIM)
add_custom_target(quillbox_resources DEPENDS ${QB_RESOURCE_OBJECT})
set_source_files_properties(${QB_RESOURCE_OBJECT} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)

add_executable(Quillbox WIN32 ${CMAKE_CURRENT_LIST_DIR}/winmain.cpp ${QB_RESOURCE_OBJECT})
add_dependencies(Quillbox quillbox_resources)
target_link_libraries(Quillbox PRIVATE quillbox_desktop)
