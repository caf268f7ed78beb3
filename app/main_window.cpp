// The main window: its procedure, initialisation, the item table, menus, the
// right-click menu, close confirmation, and the version and help messages.
#include "desktop.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "modal_seam.h"
#include "resource.h"

// ---------------------------------------------------------------------------------
// Front-end state
CopyAnalyzer analyzer("");
char currentFileName[FILE_NAME_CAPACITY];
char tempFilePath[TEMP_FILE_PATH_CAPACITY];
char saveFileName[FILE_NAME_CAPACITY];
char statusText[STATUS_TEXT_CAPACITY];
char tableName[TABLE_NAME_CAPACITY];
bool ddlUseSerialNo = false;
bool ddlQuoteNames = false;
char inputDialogTitle[DIALOG_TEXT_CAPACITY] = "入力";
char inputDialogPrompt[DIALOG_TEXT_CAPACITY] = "入力してください";
char searchText[SEARCH_TEXT_CAPACITY];
bool arrayExpansion = false;

HINSTANCE appInstance;
HWND mainWindow;
HWND statusBar;
HMENU contextMenu;

namespace {

const char* const MENU_STATE_READ_FAILED = "メニュー状態取得失敗！";
const char* const MENU_STATE_WRITE_FAILED = "メニュー状態設定失敗！";
const char* const ERROR_CAPTION = "エラー";

// Frees a block of AllocateBytes when the scope ends, on every path.
class BlockGuard {
public:
    explicit BlockGuard(void* block) : block(block) {}
    ~BlockGuard() { ReleaseBytes(block); }
    BlockGuard(const BlockGuard&) = delete;
    BlockGuard& operator=(const BlockGuard&) = delete;
private:
    void* block;
};

int ColumnFormat(ColumnAlignment alignment)
{
    switch (alignment) {
    case COLUMN_RIGHT: return LVCFMT_RIGHT;
    case COLUMN_CENTER: return LVCFMT_CENTER;
    default: return LVCFMT_LEFT;
    }
}

// Clears the check of the array-expansion item, whatever the template says.
void UncheckArrayExpansion(HWND window)
{
    HMENU menu = GetMenu(window);
    MENUITEMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoA(menu, IDM_ARRAY_EXPANSION, FALSE, &info)) {
        modalUi.messageBox(window, MENU_STATE_READ_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return;
    }
    info.fState &= ~MFS_CHECKED;
    if (!SetMenuItemInfoA(menu, IDM_ARRAY_EXPANSION, FALSE, &info))
        modalUi.messageBox(window, MENU_STATE_WRITE_FAILED, ERROR_CAPTION, MB_ICONWARNING);
}

void BuildContextMenu()
{
    struct Entry { const char* text; UINT command; };
    static const Entry entries[] = {
        {"全行コピる（タイトル行含む） Ctrl + C", IDM_COPY_ALL},
        {"全行コピる（タイトル行含まない）", IDM_COPY_ROWS},
        {"コピー句のソースを貼り付け Ctrl + V", IDM_PASTE},
    };
    contextMenu = CreatePopupMenu();
    if (!contextMenu)
        return;
    UINT position = 0;
    for (const Entry& entry : entries) {
        MENUITEMINFOA info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_TYPE;
        info.fType = MFT_STRING;
        info.wID = entry.command;
        info.dwTypeData = const_cast<char*>(entry.text);
        InsertMenuItemA(contextMenu, position, TRUE, &info);
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
        LVCOLUMNA entry;
        std::memset(&entry, 0, sizeof entry);
        entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        entry.fmt = ColumnFormat(column.alignment);
        entry.cx = column.width;
        entry.pszText = const_cast<char*>(column.title);
        entry.iSubItem = index;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&entry)) == -1) {
            char caption[64];
            std::snprintf(caption, sizeof caption, "ListView_InsertColumn%d", index);
            modalUi.messageBox(window, "リストビューカラム追加エラー", caption, MB_ICONERROR);
            SendMessageA(window, WM_CLOSE, 0, 0);
            return false;
        }
    }
    return true;
}

// A refused row or cell: tell, and ask the window to close as the exit command does.
void ReportTableFailure(HWND window, const char* caption)
{
    modalUi.messageBox(mainWindow ? mainWindow : window, "リストアイテム追加エラー", caption, MB_ICONERROR);
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
        if (statusBar)
            SendMessageA(statusBar, WM_SIZE, wParam, lParam);
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
        DragQueryFileA(drop, 0, currentFileName, FILE_NAME_CAPACITY);
        currentFileName[FILE_NAME_CAPACITY - 1] = '\0';
        DragFinish(drop);
        LoadAndAnalyze(window, currentFileName);
        return true;
    }
    case WM_CLOSE: {
        LRESULT rows = SendMessageA(ItemList(window), LVM_GETITEMCOUNT, 0, 0);
        if (rows > 0 &&
            modalUi.messageBox(window, "終了してもいいですか？", "確認", MB_ICONQUESTION | MB_YESNO) == IDNO)
            return true;
        DestroyWindow(window);
        return true;
    }
    case WM_DESTROY:
        if (contextMenu) {
            DestroyMenu(contextMenu);
            contextMenu = nullptr;
        }
        if (window == mainWindow) {
            mainWindow = nullptr;
            statusBar = nullptr;
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
    analyzer.FreeItems();
    currentFileName[0] = '\0';
    saveFileName[0] = '\0';
    statusText[0] = '\0';
    tableName[0] = '\0';
    ddlUseSerialNo = false;
    ddlQuoteNames = false;
    std::snprintf(inputDialogTitle, sizeof inputDialogTitle, "%s", "入力");
    std::snprintf(inputDialogPrompt, sizeof inputDialogPrompt, "%s", "入力してください");
    searchText[0] = '\0';
    arrayExpansion = false;
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
    mainWindow = window;

    statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, "", window,
                                    IDC_STATUS_BAR);
    if (statusBar) {
        int edge = -1;
        SendMessageA(statusBar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&edge));
    }

    UncheckArrayExpansion(window);
    BuildContextMenu();
    ResizeItemTable(window);

    HWND list = ItemList(window);
    LRESULT style = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);

    if (!InsertColumns(window))
        return;

    EnableExportCommands(window, false);
    SetWindowTextA(window, PRODUCT_NAME);

    if (currentFileName[0] != '\0')
        LoadAndAnalyze(window, currentFileName);
}

void ResizeItemTable(HWND window)
{
    HWND list = ItemList(window);
    if (!list)
        return;
    RECT client;
    GetClientRect(window, &client);
    int statusHeight = 0;
    if (statusBar) {
        RECT bar;
        GetWindowRect(statusBar, &bar);
        statusHeight = bar.bottom - bar.top;
    }
    int height = client.bottom - statusHeight;
    MoveWindow(list, 0, 0, client.right, height > 0 ? height : 0, TRUE);
}

void UpdateContextMenu(HWND window)
{
    if (!contextMenu)
        return;
    LRESULT rows = SendMessageA(ItemList(window), LVM_GETITEMCOUNT, 0, 0);
    UINT copyState = rows > 0 ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(contextMenu, IDM_COPY_ROWS, MF_BYCOMMAND | copyState);
    EnableMenuItem(contextMenu, IDM_COPY_ALL, MF_BYCOMMAND | copyState);
    EnableMenuItem(contextMenu, IDM_PASTE,
                   MF_BYCOMMAND | (IsClipboardFormatAvailable(CF_TEXT) ? MF_ENABLED : MF_GRAYED));
}

void ShowContextMenu(HWND window)
{
    if (!contextMenu)
        return;
    UpdateContextMenu(window);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackPopupMenuEx(contextMenu, TPM_RIGHTBUTTON, cursor.x, cursor.y, window, nullptr);
}

bool ToggleMenuCheck(HWND window, HMENU menu, UINT item)
{
    MENUITEMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoA(menu, item, FALSE, &info)) {
        modalUi.messageBox(window, MENU_STATE_READ_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return false;
    }
    bool wasChecked = (info.fState & MFS_CHECKED) != 0;
    if (wasChecked)
        info.fState &= ~MFS_CHECKED;
    else
        info.fState |= MFS_CHECKED;
    if (!SetMenuItemInfoA(menu, item, FALSE, &info)) {
        modalUi.messageBox(window, MENU_STATE_WRITE_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return wasChecked;
    }
    return !wasChecked;
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
    DrawMenuBar(window);
}

void ShowStatusText()
{
    if (statusBar) {
        SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(statusText));
        UpdateWindow(statusBar);
    }
}

void FillItemTable(HWND window, CopyItem* head, bool expansion)
{
    HWND list = ItemList(window);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);

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

        LVITEMA row;
        std::memset(&row, 0, sizeof row);
        row.mask = LVIF_TEXT;
        row.iItem = rowNumber - 1;
        row.iSubItem = COLUMN_CATEGORY;
        row.pszText = cells[COLUMN_CATEGORY];
        LRESULT index = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
        if (index == -1) {
            ReportTableFailure(window, "ListView_InsertItem");
            return;
        }
        for (int column = 1; column < ITEM_COLUMN_COUNT; ++column) {
            LVITEMA cell;
            std::memset(&cell, 0, sizeof cell);
            cell.mask = LVIF_TEXT;
            cell.iItem = static_cast<int>(index);
            cell.iSubItem = column;
            cell.pszText = cells[column];
            if (!SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&cell))) {
                char caption[64];
                std::snprintf(caption, sizeof caption, "ListView_SetItem%d", column);
                ReportTableFailure(window, caption);
                return;
            }
        }
    }

    EnableExportCommands(window, head != nullptr);
    FormatStatusText(head, analyzer.GetRecordLength(), statusText, sizeof statusText);
    ShowStatusText();
}
