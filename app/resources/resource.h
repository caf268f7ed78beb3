// Resource identifiers of Quillbox.exe: dialog templates, menu, accelerators, icon,
// controls and commands. Shared by quillbox.rc and the window code.
#ifndef QUILLBOX_RESOURCE_H
#define QUILLBOX_RESOURCE_H

// Templates and tables
#define IDD_MAIN                101
#define IDR_MENU                102
#define IDI_APP                 103
#define IDD_INPUT               105
#define IDD_SEARCH              106
#define IDR_ACCEL               107

// Controls
#define IDC_STATUS_BAR          10
#define IDC_ITEM_LIST           1000
#define IDC_INPUT_GROUP         1002
#define IDC_INPUT_EDIT          1003
#define IDC_USE_SERIAL_NO       1004
#define IDC_QUOTE_NAMES         1005
#define IDC_SEARCH_EDIT         1006
#define IDC_SEARCH_BUTTON       1007

// Commands
#define IDM_COPY_ROWS           20000
#define IDM_OPEN                40001
#define IDM_HTML                40002
#define IDM_EXIT                40003
#define IDM_ARRAY_EXPANSION     40004
#define IDM_CLOSE               40005
#define IDM_VERSION             40006
#define IDM_HELP                40007
#define IDM_DDL                 40008
#define IDM_SEARCH              40009
#define IDM_PASTE               40011
#define IDM_COPY_ALL            40013
#define IDM_FIND_NEXT           40016
#define IDM_FIND_PREV           40017
#define IDM_COBOL_RULES         40018
#define IDM_FIT_COLUMNS         40019

#endif
