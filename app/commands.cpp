// The commands of the main window: loading, the clipboard, the HTML report, the
// CREATE TABLE file and the search.
#include "desktop.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "data_window.h"
#include "modal_seam.h"
#include "resource.h"

namespace {

const char* const ERROR_CAPTION = "エラー";
const char* const NOTICE_CAPTION = "通知";
const char* const OPEN_FAILED = "ファイルのオープンに失敗";
// A file that was created but could not be written to its end is not reported as done.
const char* const WRITE_FAILED = "ファイルの書き込みに失敗";
const char* const CLIPBOARD_OPEN_FAILED = "クリップボードのオープンに失敗";

void SetStatusText(const char* text)
{
    std::snprintf(frontEnd.statusText, sizeof frontEnd.statusText, "%s", text);
    ShowStatusText();
}

// Deletes the clipboard's temporary file when the paste command ends, also when a
// failure leaves it.
class TempFileGuard {
public:
    explicit TempFileGuard(const char* path) : path(path) {}
    ~TempFileGuard() { DeleteFileA(path); }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
private:
    const char* path;
};

}  // namespace

// ---------------------------------------------------------------------------------
void OnCommand(HWND window, int command)
{
    switch (command) {
    case IDM_OPEN:
        if (ChooseOpenFile("コピー句ファイルの選択"))
            LoadAndAnalyze(window, frontEnd.currentFileName);
        break;
    case IDM_CLOSE:
        frontEnd.ShownAnalyzer().FreeItems();
        frontEnd.fileLoaded = false;
        SetWindowTextA(window, PRODUCT_NAME);
        FillItemTable(window, frontEnd.ShownAnalyzer().GetHead(), frontEnd.arrayExpansion);
        break;
    case IDM_OPEN_DATA:
        OpenDataFileCommand(window);
        break;
    case IDM_HTML:
        HtmlCommand(window);
        break;
    case IDM_DDL:
        DdlCommand(window);
        break;
    case IDM_EXIT:
        SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    case IDM_ARRAY_EXPANSION:
        frontEnd.arrayExpansion = ToggleMenuCheck(window, GetMenu(window), IDM_ARRAY_EXPANSION);
        FillItemTable(window, frontEnd.ShownAnalyzer().GetHead(), frontEnd.arrayExpansion);
        break;
    case IDM_COBOL_RULES:
        // The file shown (or whose analysis failed) is analysed again under the new rules.
        frontEnd.cobolRules = ToggleMenuCheck(window, GetMenu(window), IDM_COBOL_RULES);
        if (frontEnd.fileLoaded && frontEnd.currentFileName[0] != '\0')
            LoadAndAnalyze(window, frontEnd.currentFileName);
        break;
    case IDM_FIT_COLUMNS:
        FitItemColumns(window);
        break;
    case IDM_VERSION:
        ShowVersion(window);
        break;
    case IDM_HELP:
        ShowHelp(window);
        break;
    case IDM_SEARCH:
        SearchCommand(window);
        break;
    case IDM_FIND_NEXT:
        FindNext(window);
        break;
    case IDM_FIND_PREV:
        FindPrevious(window);
        break;
    case IDM_COPY_ALL:
        CopyRowsToClipboard(ItemList(window), true);
        break;
    case IDM_COPY_ROWS:
        CopyRowsToClipboard(ItemList(window), false);
        break;
    case IDM_PASTE:
        PasteAndAnalyze(window);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------
// Loading
std::string AnalysisFailureText(CException& failure)
{
    CCobolException* refusal = dynamic_cast<CCobolException*>(&failure);
    if (refusal == nullptr) return failure.GetMessageText();
    std::string text = refusal->GetCopybookFile();
    if (refusal->GetCopybookLine() > 0) text += "(" + std::to_string(refusal->GetCopybookLine()) + ")";
    if (!text.empty()) text += ": ";
    text += refusal->GetMessageText();
    if (refusal->GetEntryText()[0] != '\0') text += std::string("\n") + refusal->GetEntryText();
    return text;
}

void LoadAndAnalyze(HWND window, const char* path)
{
    // The list of either analysis goes: the table shows the new one's.
    frontEnd.analyzer.FreeItems();
    frontEnd.cobolAnalyzer.FreeItems();
    frontEnd.shownByCobolRules = frontEnd.cobolRules;
    frontEnd.fileLoaded = true;
    CopyAnalyzer& analyzer = frontEnd.LoadingAnalyzer();
    try {
        analyzer.FreeItems();
        analyzer.SetFileName(path);
        SetStatusText("解析中...");
        CopyItem* head = analyzer.Analyze();
        FillItemTable(window, head, frontEnd.arrayExpansion);
        char title[FILE_NAME_CAPACITY + TEMP_FILE_PATH_CAPACITY];
        FormatWindowTitle(path, title, sizeof title);
        SetWindowTextA(window, title);
        FocusItemTable(window);
    } catch (CException& failure) {
        analyzer.FreeItems();
        SetWindowTextA(window, PRODUCT_NAME);
        EnableExportCommands(window, false);
        ListView_DeleteAllItems(ItemList(window));
        modalUi.messageBox(window, AnalysisFailureText(failure).c_str(), ERROR_CAPTION, MB_ICONWARNING);
        SetStatusText("解析エラー");
    }
}

// ---------------------------------------------------------------------------------
// Clipboard
char* ReadClipboardText(HWND window)
{
    if (!OpenClipboard(window)) {
        modalUi.messageBox(window, CLIPBOARD_OPEN_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        return nullptr;
    }
    HANDLE handle = GetClipboardData(CF_TEXT);
    if (!handle) {
        CloseClipboard();
        return nullptr;
    }
    const char* text = static_cast<const char*>(GlobalLock(handle));
    if (!text) {
        CloseClipboard();
        return nullptr;
    }
    // The text ends at its terminator or, should another program have left none, at the
    // end of the block.
    std::size_t length = strnlen(text, GlobalSize(handle));
    char* copy = static_cast<char*>(AllocateBytes(length + 1));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    GlobalUnlock(handle);
    CloseClipboard();
    return copy;
}

void PasteAndAnalyze(HWND window)
{
    if (modalUi.messageBox(window, "クリップボードのテキストデータを解析しますか？", "確認",
                           MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    char* text = ReadClipboardText(window);
    if (!text)
        return;
    {
        BlockGuard release(text);
        if (!WritePastedSource(frontEnd.tempFilePath, text)) {
            DeleteFileA(frontEnd.tempFilePath);
            modalUi.messageBox(window, "テンポラリファイルの作成に失敗", ERROR_CAPTION, MB_ICONERROR);
            return;
        }
    }
    TempFileGuard removeFile(frontEnd.tempFilePath);
    LoadAndAnalyze(window, frontEnd.tempFilePath);
    frontEnd.currentFileName[0] = '\0';
}

int ListViewCells::RowCount() const
{
    return ListView_GetItemCount(listView);
}

void ListViewCells::GetCellText(int row, int column, char* buffer, int size) const
{
    if (!buffer || size < 1)
        return;
    buffer[0] = '\0';
    ListView_GetItemText(listView, row, column, buffer, size);
    buffer[size - 1] = '\0';
}

void CopyRowsToClipboard(HWND listView, bool withTitle)
{
    ListViewCells table(listView);
    // The block is as long as the text: a line cannot outgrow it.
    std::size_t length = BuildClipboardText(table, withTitle, nullptr, 0);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, length + 1);
    if (!block)
        QB_RAISE_MEMORY("GlobalAlloc失敗");
    char* text = static_cast<char*>(GlobalLock(block));
    if (!text) {
        GlobalFree(block);
        QB_RAISE_MEMORY("GlobalAlloc失敗");
    }
    BuildClipboardText(table, withTitle, text, length + 1);
    GlobalUnlock(block);

    HWND owner = GetParent(listView);
    if (!OpenClipboard(owner)) {
        modalUi.messageBox(owner, CLIPBOARD_OPEN_FAILED, ERROR_CAPTION, MB_ICONWARNING);
        GlobalFree(block);
        return;
    }
    if (!EmptyClipboard()) {
        modalUi.messageBox(owner, "クリップボードの初期化に失敗", ERROR_CAPTION, MB_ICONWARNING);
        GlobalFree(block);
        CloseClipboard();
        return;
    }
    if (!SetClipboardData(CF_TEXT, block)) {
        modalUi.messageBox(owner, "クリップボードへのコピーに失敗", ERROR_CAPTION, MB_ICONWARNING);
        GlobalFree(block);
    }
    CloseClipboard();
}

// ---------------------------------------------------------------------------------
// HTML report
void HtmlCommand(HWND window)
{
    frontEnd.saveFileName[0] = '\0';
    if (ChooseSaveFile("HTMLの書き出し", SAVE_KIND_HTML))
        WriteHtmlReport(window, frontEnd.saveFileName, frontEnd.arrayExpansion);
}

void WriteHtmlReport(HWND owner, const char* path, bool expansion)
{
    ExportResult result = WriteHtmlReport(path, frontEnd.ShownAnalyzer().GetHead(), frontEnd.ShownAnalyzer().GetRecordLength(),
                                          frontEnd.currentFileName, expansion);
    ReportExportResult(MainWindowOr(owner), result, "HTMLファイルに出力完了。", "HTML出力");
}

// ---------------------------------------------------------------------------------
// CREATE TABLE file
void DdlCommand(HWND window)
{
    frontEnd.tableName[0] = '\0';
    std::snprintf(frontEnd.inputDialogTitle, sizeof frontEnd.inputDialogTitle, "%s", "テーブル名");
    std::snprintf(frontEnd.inputDialogPrompt, sizeof frontEnd.inputDialogPrompt, "%s", "テーブル名の入力");
    // 0 is the cancelled dialog, -1 a dialog that could not be shown.
    if (modalUi.dialogBox(frontEnd.instance, IDD_INPUT, window, InputDialogProc) <= 0)
        return;
    if (frontEnd.tableName[0] == '\0') {
        modalUi.messageBox(window, "テーブル名を入力してください。", "未入力", MB_ICONWARNING);
        return;
    }
    frontEnd.saveFileName[0] = '\0';
    if (ChooseSaveFile("SQL(CREATE文)の出力", SAVE_KIND_DDL))
        WriteCreateTable(window, frontEnd.saveFileName);
}

void WriteCreateTable(HWND owner, const char* path)
{
    ExportResult result = WriteCreateTable(path, frontEnd.ShownAnalyzer().GetHead(), frontEnd.tableName,
                                           frontEnd.ddlUseSerialNo, frontEnd.ddlQuoteNames);
    ReportExportResult(owner, result, "CREATE文出力完了。", "DDL出力");
}

void ReportExportResult(HWND owner, ExportResult result, const char* doneMessage, const char* caption)
{
    switch (result) {
    case EXPORT_DONE:
        modalUi.messageBox(owner, doneMessage, NOTICE_CAPTION, MB_ICONINFORMATION);
        break;
    case EXPORT_OPEN_FAILED:
        modalUi.messageBox(owner, OPEN_FAILED, caption, MB_ICONWARNING);
        break;
    case EXPORT_WRITE_FAILED:
        modalUi.messageBox(owner, WRITE_FAILED, caption, MB_ICONWARNING);
        break;
    }
}

// ---------------------------------------------------------------------------------
// Search
int FirstMarkedRow(HWND listView)
{
    int rows = ListView_GetItemCount(listView);
    for (int index = 0; index < rows; ++index) {
        if (ListView_GetItemState(listView, index, LVIS_SELECTED | LVIS_FOCUSED) != 0)
            return index;
    }
    return -1;
}

void SelectRow(HWND listView, int rowNumber)
{
    ListView_SetItemState(listView, rowNumber - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(listView, rowNumber - 1, TRUE);
}

void SearchCommand(HWND window)
{
    if (modalUi.dialogBox(frontEnd.instance, IDD_SEARCH, window, SearchDialogProc) <= 0 ||
        frontEnd.searchText[0] == '\0')
        return;
    HWND list = ItemList(window);
    int found = FindForward(ListViewCells(list), 0, frontEnd.searchText);
    if (found < 0) {
        char message[SEARCH_TEXT_CAPACITY + 64];
        FormatSearchNotFound(frontEnd.searchText, message, sizeof message);
        modalUi.messageBox(window, message, SEARCH_CAPTION, MB_ICONWARNING);
        return;
    }
    SelectRow(list, found);
    FocusItemTable(window);   // else the found row is drawn as an unfocused list's selection
}

// F3 (forward) and Shift+F3 (backward): where to start, the wrap notice and the
// not-found message all come from the search plan of the row model.
static void FindAgain(HWND window, bool forward)
{
    if (frontEnd.searchText[0] == '\0') {
        SendMessageA(window, WM_COMMAND, IDM_SEARCH, 0);
        return;
    }
    HWND list = ItemList(window);
    ListViewCells table(list);
    SearchStart start = forward ? PlanFindNext(table.RowCount(), FirstMarkedRow(list))
                                : PlanFindPrevious(table.RowCount(), FirstMarkedRow(list));
    if (start.wrapNotice)
        modalUi.messageBox(window, forward ? SEARCH_LAST_ROW_NOTICE : SEARCH_FIRST_ROW_NOTICE,
                           SEARCH_CAPTION, MB_ICONWARNING);
    int found = forward ? FindForward(table, start.startIndex, frontEnd.searchText)
                        : FindBackward(table, start.startIndex, frontEnd.searchText);
    if (found < 0) {
        char message[SEARCH_TEXT_CAPACITY + 64];
        FormatFindNotFound(forward, start.afterNumber, frontEnd.searchText, message, sizeof message);
        modalUi.messageBox(window, message, SEARCH_CAPTION, MB_ICONWARNING);
        return;
    }
    SelectRow(list, found);
    FocusItemTable(window);
}

void FindNext(HWND window) { FindAgain(window, true); }

void FindPrevious(HWND window) { FindAgain(window, false); }
