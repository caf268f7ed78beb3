// The dialogs of Quillbox.exe: open and save file dialogs, the table-name input dialog
// of the CREATE TABLE command, and the search dialog.
#include "desktop.h"

#include <commdlg.h>

#include "modal_seam.h"
#include "resource.h"

bool ChooseOpenFile(const char* title)
{
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = frontEnd.mainWindow;
    dialog.lpstrFilter = "すべてのファイル(*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = frontEnd.currentFileName;   // the dialog starts with the present path
    dialog.nMaxFile = FILE_NAME_CAPACITY;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    return modalUi.getOpenFileName(&dialog) != FALSE;
}

bool ChooseSaveFile(const char* title, int kind)
{
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = frontEnd.mainWindow;
    if (kind == SAVE_KIND_DDL) {
        dialog.lpstrFilter = "DDL(SQL)(*.sql)\0*.sql\0";
        dialog.lpstrDefExt = "sql";
    } else {
        dialog.lpstrFilter = "HTML ドキュメント(*.html)\0*.html\0";
        dialog.lpstrDefExt = "html";
    }
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = frontEnd.saveFileName;
    dialog.nMaxFile = FILE_NAME_CAPACITY;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    return modalUi.getSaveFileName(&dialog) != FALSE;
}

// What both dialogs do with the messages they leave to the dialog manager: the close box
// ends the dialog with the message's wParam; the message is reported as not handled.
static INT_PTR OtherDialogMessage(HWND dialog, UINT message, WPARAM wParam)
{
    if (message == WM_CLOSE) EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return FALSE;
}

// The text of the edit control `id` in `buffer`, cut to fit and always terminated.
static void ReadEditText(HWND dialog, int id, char* buffer, int capacity)
{
    GetDlgItemTextA(dialog, id, buffer, capacity);
    buffer[capacity - 1] = '\0';
}

// Every message is reported as not handled, so the dialog manager does the rest.
INT_PTR CALLBACK InputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, frontEnd.inputDialogTitle);
        SetDlgItemTextA(dialog, IDC_INPUT_GROUP, frontEnd.inputDialogPrompt);
        CheckDlgButton(dialog, IDC_USE_SERIAL_NO, frontEnd.ddlUseSerialNo ? BST_CHECKED : BST_UNCHECKED);
        SetFocus(GetDlgItem(dialog, IDC_INPUT_EDIT));
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            ReadEditText(dialog, IDC_INPUT_EDIT, frontEnd.tableName, TABLE_NAME_CAPACITY);
            frontEnd.ddlUseSerialNo = IsDlgButtonChecked(dialog, IDC_USE_SERIAL_NO) == BST_CHECKED;
            frontEnd.ddlQuoteNames = IsDlgButtonChecked(dialog, IDC_QUOTE_NAMES) == BST_CHECKED;
            EndDialog(dialog, 1);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        break;
    default:
        return OtherDialogMessage(dialog, message, wParam);
    }
    return FALSE;
}

// The previous search string comes selected, so that typing replaces it; Escape
// (IDCANCEL) ends the dialog as cancelled, as in the input dialog.
INT_PTR CALLBACK SearchDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_SEARCH_EDIT, frontEnd.searchText);
        SendDlgItemMessageA(dialog, IDC_SEARCH_EDIT, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dialog, IDC_SEARCH_EDIT));
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SEARCH_BUTTON) {
            ReadEditText(dialog, IDC_SEARCH_EDIT, frontEnd.searchText, SEARCH_TEXT_CAPACITY);
            EndDialog(dialog, 1);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        break;
    default:
        return OtherDialogMessage(dialog, message, wParam);
    }
    return FALSE;
}
