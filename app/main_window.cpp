// The main window: its procedure, initialisation, the item table, menus, the
// right-click menu, close confirmation, and the version and help messages.
#include "desktop.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "data_window.h"
#include "modal_seam.h"
#include "resource.h"

FrontEndState frontEnd;

namespace {

const char* const MENU_STATE_READ_FAILED = "メニュー状態取得失敗！";
const char* const MENU_STATE_WRITE_FAILED = "メニュー状態設定失敗！";
const char* const ERROR_CAPTION = "エラー";

int ColumnFormat(ColumnAlignment alignment)
{
    switch (alignment) {
    case COLUMN_RIGHT: return LVCFMT_RIGHT;
    case COLUMN_CENTER: return LVCFMT_CENTER;
    default: return LVCFMT_LEFT;
    }
}

void BuildContextMenu()
{
    struct Entry { const char* text; UINT command; };
    static const Entry entries[] = {
        {"全行コピる（タイトル行含む） Ctrl + C", IDM_COPY_ALL},
        {"全行コピる（タイトル行含まない）", IDM_COPY_ROWS},
        {"コピー句のソースを貼り付け Ctrl + V", IDM_PASTE},
    };
    frontEnd.contextMenu = CreatePopupMenu();
    if (!frontEnd.contextMenu)
        return;
    UINT position = 0;
    for (const Entry& entry : entries) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_TYPE;
        info.fType = MFT_STRING;
        info.wID = entry.command;
        info.dwTypeData = const_cast<char*>(entry.text);
        InsertMenuItemA(frontEnd.contextMenu, position, TRUE, &info);
        ++position;
    }
}

// Inserts the fifteen columns; false (after the message and the close request) when
// one of them is refused.
bool InsertColumns(HWND window)
{
    HWND list = ItemList(window);
    for (int index = 0; index < ITEM_COLUMN_COUNT; ++index) {
        const ItemColumn& column = ITEM_COLUMNS[index];
        LVCOLUMNA entry = {};
        entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        entry.fmt = ColumnFormat(column.alignment);
        entry.cx = column.width;
        entry.pszText = const_cast<char*>(column.title);
        entry.iSubItem = index;
        if (ListView_InsertColumn(list, index, &entry) == -1) {
            char caption[64];
            std::snprintf(caption, sizeof caption, "ListView_InsertColumn%d", index);
            modalUi.messageBox(window, "リストビューカラム追加エラー", caption, MB_ICONERROR);
            SendMessageA(window, WM_CLOSE, 0, 0);
            return false;
        }
    }
    return true;
}

// Room beside a header text: the header control keeps a margin of three edges on each
// side of it, and a little more keeps the last character clear of the divider.
constexpr int HEADER_TEXT_PADDING = 16;
const char* const LIST_PROCEDURE_PROPERTY = "Quillbox.ItemListProc";

// The list view's own procedure, with one addition: a double-click on a header divider
// (the list view fits the column to its cells) fits the column to its header too.
LRESULT CALLBACK ItemListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(list, LIST_PROCEDURE_PROPERTY));
    if (!original)
        return DefWindowProcA(list, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemovePropA(list, LIST_PROCEDURE_PROPERTY);
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        return CallWindowProcA(original, list, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcA(original, list, message, wParam, lParam);
    if (message == WM_NOTIFY) {
        const NMHEADERA* notice = reinterpret_cast<const NMHEADERA*>(lParam);
        if (notice && notice->hdr.hwndFrom == ListView_GetHeader(list) &&
            (notice->hdr.code == static_cast<UINT>(HDN_DIVIDERDBLCLICKA) ||
             notice->hdr.code == static_cast<UINT>(HDN_DIVIDERDBLCLICKW)))
            FitItemColumn(list, notice->iItem);
    }
    return result;
}

// A refused row or cell: tell, and ask the window to close as the exit command does.
void ReportTableFailure(HWND window, const char* caption)
{
    modalUi.messageBox(MainWindowOr(window), "リストアイテム追加エラー", caption, MB_ICONERROR);
    SendMessageA(window, WM_CLOSE, 0, 0);
}

bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainWindow(window);
        return true;
    case WM_SIZE:
        ResizeItemTable(window);
        if (frontEnd.statusBar)
            SendMessageA(frontEnd.statusBar, WM_SIZE, wParam, lParam);
        return true;
    case WM_SETFOCUS:
        // The window passes the keyboard focus on to the table, also when a dialog or a
        // message box gives it back, so that the arrow and page keys move at once.
        SetFocus(ItemList(window));
        return true;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_ITEM_LIST && header->code == static_cast<UINT>(NM_RCLICK))
            ShowContextMenu(window);
        return true;
    }
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return true;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wParam);
        DragQueryFileA(drop, 0, frontEnd.currentFileName, FILE_NAME_CAPACITY);
        frontEnd.currentFileName[FILE_NAME_CAPACITY - 1] = '\0';
        DragFinish(drop);
        LoadAndAnalyze(window, frontEnd.currentFileName);
        return true;
    }
    case WM_CLOSE: {
        // The program ends with the main window. The quit is confirmed first, while every
        // window is still there (いいえ leaves them all as they were); then the data
        // windows go, each asking about its unsaved edits (キャンセル keeps the program).
        const bool mainProgram = window == frontEnd.mainWindow;
        if ((ListView_GetItemCount(ItemList(window)) > 0 || (mainProgram && !DataWindows().empty())) &&
            modalUi.messageBox(window, "終了してもいいですか？", "確認", MB_ICONQUESTION | MB_YESNO) == IDNO)
            return true;
        if (mainProgram && !CloseDataWindows())
            return true;
        DestroyWindow(window);
        return true;
    }
    case WM_DESTROY:
        if (frontEnd.contextMenu) {
            DestroyMenu(frontEnd.contextMenu);
            frontEnd.contextMenu = nullptr;
        }
        if (window == frontEnd.mainWindow) {
            frontEnd.mainWindow = nullptr;
            frontEnd.statusBar = nullptr;
        }
        PostQuitMessage(0);
        return true;
    default:
        return false;
    }
}

}  // namespace

void ResetFrontEndState()
{
    frontEnd.analyzer.FreeItems();
    frontEnd.cobolAnalyzer.FreeItems();
    frontEnd.cobolRules = false;
    frontEnd.shownByCobolRules = false;
    frontEnd.fileLoaded = false;
    frontEnd.currentFileName[0] = '\0';
    frontEnd.saveFileName[0] = '\0';
    frontEnd.statusText[0] = '\0';
    frontEnd.tableName[0] = '\0';
    frontEnd.ddlUseSerialNo = false;
    frontEnd.ddlQuoteNames = false;
    std::snprintf(frontEnd.inputDialogTitle, sizeof frontEnd.inputDialogTitle, "%s", "入力");
    std::snprintf(frontEnd.inputDialogPrompt, sizeof frontEnd.inputDialogPrompt, "%s", "入力してください");
    frontEnd.searchText[0] = '\0';
    frontEnd.arrayExpansion = false;
}

HWND ItemList(HWND window)
{
    return GetDlgItem(window, IDC_ITEM_LIST);
}

// Failures that escape a command must not unwind through the system's code that called
// this procedure, so they end here, at the top-level handler.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (HandleMessage(window, message, wParam, lParam))
            return 0;
    } catch (...) {
        HandleEscapedFailure();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void InitMainWindow(HWND window)
{
    InitCommonControls();
    frontEnd.mainWindow = window;

    frontEnd.statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, "", window,
                                    IDC_STATUS_BAR);
    if (frontEnd.statusBar) {
        int edge = -1;
        SendMessageA(frontEnd.statusBar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&edge));
    }

    // The array-expansion item starts unchecked, whatever the template says.
    ChangeMenuCheck(window, GetMenu(window), IDM_ARRAY_EXPANSION, MenuCheck::Clear);
    frontEnd.cobolRules = ChangeMenuCheck(window, GetMenu(window), IDM_COBOL_RULES, MenuCheck::Clear);
    BuildContextMenu();
    ResizeItemTable(window);

    HWND list = ItemList(window);
    ListView_SetExtendedListViewStyle(list, ListView_GetExtendedListViewStyle(list) | LVS_EX_FULLROWSELECT |
                                                LVS_EX_GRIDLINES);

    if (!InsertColumns(window))
        return;
    if (WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(list, GWLP_WNDPROC))) {
        if (SetPropA(list, LIST_PROCEDURE_PROPERTY, reinterpret_cast<HANDLE>(original)))
            SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ItemListProc));
    }

    EnableExportCommands(window, false);
    SetWindowTextA(window, PRODUCT_NAME);

    if (frontEnd.currentFileName[0] != '\0')
        LoadAndAnalyze(window, frontEnd.currentFileName);
}

void ResizeItemTable(HWND window)
{
    HWND list = ItemList(window);
    if (!list)
        return;
    RECT client = {};
    GetClientRect(window, &client);
    int statusHeight = 0;
    if (frontEnd.statusBar) {
        RECT bar = {};
        GetWindowRect(frontEnd.statusBar, &bar);
        statusHeight = bar.bottom - bar.top;
    }
    int height = client.bottom - statusHeight;
    MoveWindow(list, 0, 0, client.right, height > 0 ? height : 0, TRUE);
}

void UpdateContextMenu(HWND window)
{
    if (!frontEnd.contextMenu)
        return;
    UINT copyState = ListView_GetItemCount(ItemList(window)) > 0 ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(frontEnd.contextMenu, IDM_COPY_ROWS, MF_BYCOMMAND | copyState);
    EnableMenuItem(frontEnd.contextMenu, IDM_COPY_ALL, MF_BYCOMMAND | copyState);
    EnableMenuItem(frontEnd.contextMenu, IDM_PASTE,
                   MF_BYCOMMAND | (IsClipboardFormatAvailable(CF_TEXT) ? MF_ENABLED : MF_GRAYED));
}

void ShowContextMenu(HWND window)
{
    if (!frontEnd.contextMenu)
        return;
    UpdateContextMenu(window);
    POINT cursor = {};
    GetCursorPos(&cursor);
    TrackPopupMenuEx(frontEnd.contextMenu, TPM_RIGHTBUTTON, cursor.x, cursor.y, window, nullptr);
}

bool ChangeMenuCheck(HWND window, HMENU menu, UINT item, MenuCheck change)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoA(menu, item, FALSE, &info)) {
        modalUi.messageBox(window, MENU_STATE_READ_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return false;
    }
    bool wasChecked = (info.fState & MFS_CHECKED) != 0;
    bool checked = change == MenuCheck::Toggle ? !wasChecked : false;
    if (checked)
        info.fState |= MFS_CHECKED;
    else
        info.fState &= ~MFS_CHECKED;
    if (!SetMenuItemInfoA(menu, item, FALSE, &info)) {
        modalUi.messageBox(window, MENU_STATE_WRITE_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return wasChecked;
    }
    return checked;
}

void ShowVersion(HWND window)
{
    char modulePath[MODULE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    if (length == 0 || length >= sizeof modulePath)
        return;
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(modulePath, &unused);
    if (size == 0)
        return;
    void* block = AllocateBytes(size + 1);
    if (!block)
        QB_RAISE_MEMORY("バージョン情報の領域確保に失敗");
    BlockGuard guard(block);
    if (!GetFileVersionInfoA(modulePath, 0, size, block))
        return;
    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueA(block, "\\", &value, &valueLength) || !value || valueLength < sizeof(VS_FIXEDFILEINFO))
        return;
    const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    char text[256];
    std::snprintf(text, sizeof text, "%s Ver.%d.%d.%d.%d\n%s", PRODUCT_NAME,
                  static_cast<int>(HIWORD(info->dwFileVersionMS)), static_cast<int>(LOWORD(info->dwFileVersionMS)),
                  static_cast<int>(HIWORD(info->dwFileVersionLS)), static_cast<int>(LOWORD(info->dwFileVersionLS)),
                  "COBOL コピー句のレイアウト解析ツール");
    modalUi.messageBox(window, text, "バージョン情報", MB_ICONINFORMATION);
}

void ShowHelp(HWND window)
{
    modalUi.messageBox(window, "まだ作ってないのでreadme.txtでも読んどいてください・・・", "Help!", MB_ICONWARNING);
}

void EnableExportCommands(HWND window, bool enable)
{
    HMENU menu = GetMenu(window);
    UINT state = MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(menu, IDM_CLOSE, state);
    EnableMenuItem(menu, IDM_HTML, state);
    EnableMenuItem(menu, IDM_DDL, state);
    EnableMenuItem(menu, IDM_OPEN_DATA, state);
    DrawMenuBar(window);
}

void ShowStatusText()
{
    if (frontEnd.statusBar) {
        SendMessageA(frontEnd.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(frontEnd.statusText));
        UpdateWindow(frontEnd.statusBar);
    }
}

void FillItemTable(HWND window, CopyItem* head, bool expansion)
{
    HWND list = ItemList(window);
    ListView_DeleteAllItems(list);

    // One repaint after the whole fill instead of one per cell.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    struct RedrawOnExit {
        HWND list;
        ~RedrawOnExit()
        {
            SendMessageA(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
        }
    } redraw{list};

    int rowNumber = 0;
    for (const CopyItem* item = FirstShownItem(head, expansion); item; item = NextShownItem(item, expansion)) {
        ++rowNumber;
        ItemRowCells cells;
        FormatItemRow(item, rowNumber, cells);

        LVITEMA row = {};
        row.mask = LVIF_TEXT;
        row.iItem = rowNumber - 1;
        row.iSubItem = COLUMN_CATEGORY;
        row.pszText = cells[COLUMN_CATEGORY];
        int index = ListView_InsertItem(list, &row);
        if (index == -1) {
            ReportTableFailure(window, "ListView_InsertItem");
            return;
        }
        for (int column = 1; column < ITEM_COLUMN_COUNT; ++column) {
            LVITEMA cell = {};
            cell.mask = LVIF_TEXT;
            cell.iItem = index;
            cell.iSubItem = column;
            cell.pszText = cells[column];
            if (!ListView_SetItem(list, &cell)) {
                char caption[64];
                std::snprintf(caption, sizeof caption, "ListView_SetItem%d", column);
                ReportTableFailure(window, caption);
                return;
            }
        }
    }

    EnableExportCommands(window, head != nullptr);
    FormatStatusText(head, frontEnd.ShownAnalyzer().GetRecordLength(), frontEnd.statusText, sizeof frontEnd.statusText);
    ShowStatusText();
}

void FitItemColumn(HWND list, int column)
{
    // Column 0 (the category) stays hidden at its width 0.
    if (column <= COLUMN_CATEGORY || column >= ITEM_COLUMN_COUNT)
        return;
    ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);   // the widest cell
    int width = ListView_GetColumnWidth(list, column);
    int header = ListView_GetStringWidth(list, ITEM_COLUMNS[column].title) + HEADER_TEXT_PADDING;
    if (header > width)
        ListView_SetColumnWidth(list, column, header);
}

void FitItemColumns(HWND window)
{
    HWND list = ItemList(window);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int column = COLUMN_CATEGORY + 1; column < ITEM_COLUMN_COUNT; ++column)
        FitItemColumn(list, column);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void FocusItemTable(HWND window)
{
    HWND list = ItemList(window);
    if (list && IsWindowEnabled(list))
        SetFocus(list);
}
