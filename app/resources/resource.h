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
#define IDD_DATA_SETUP          120
#define IDD_DATA_GOTO           121
#define IDD_DATA_FIND           122
#define IDD_DATA_FILTER         123
#define IDD_DATA_PROGRESS       124

// Controls
#define IDC_STATUS_BAR          10
#define IDC_ITEM_LIST           1000
#define IDC_INPUT_GROUP         1002
#define IDC_INPUT_EDIT          1003
#define IDC_USE_SERIAL_NO       1004
#define IDC_QUOTE_NAMES         1005
#define IDC_SEARCH_EDIT         1006
#define IDC_SEARCH_BUTTON       1007
// The data window and its dialogs
#define IDC_DATA_LIST           1100
#define IDC_DATA_DETAIL         1101
#define IDC_DATA_STATUS         1102
#define IDC_DATA_EDIT           1103
#define IDC_DS_ENCODING         1110
#define IDC_DS_FORMAT           1111
#define IDC_DS_SIGN_ZONES       1112
#define IDC_DS_NATIVE           1113
#define IDC_DS_BLANK            1114
#define IDC_DS_RULES            1115
#define IDC_DS_DEFAULT          1116
#define IDC_DS_READ_ONLY        1117
#define IDC_DG_NUMBER           1120
#define IDC_DF_TEXT             1121
#define IDC_DF_COLUMN           1122
#define IDC_DF_COMPARE          1123
#define IDC_DP_TEXT             1124
#define IDC_DP_BAR              1125

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
#define IDM_OPEN_DATA           40020
// Commands of the data window
#define IDM_DATA_SAVE           41001
#define IDM_DATA_CSV            41002
#define IDM_DATA_JSONL          41003
#define IDM_DATA_CLOSE          41004
#define IDM_DATA_COPY           41005
#define IDM_DATA_GOTO           41006
#define IDM_DATA_FIND           41007
#define IDM_DATA_FIND_NEXT      41008
#define IDM_DATA_FIND_PREV      41009
#define IDM_DATA_FILTER         41010
#define IDM_DATA_UNFILTER       41011
#define IDM_DATA_EDIT           41012
#define IDM_DATA_SCOPE_ALL      41013
#define IDM_DATA_SCOPE_SHOWN    41014
#define IDM_DATA_SCOPE_SELECTED 41015

#endif
