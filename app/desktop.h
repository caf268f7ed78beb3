// Quillbox.exe: the Win32 window, its commands and dialogs.
// The texts, rows, reports and search decisions come from quillbox.h; this part only
// puts them on the screen, into files and on the clipboard.
#ifndef QUILLBOX_DESKTOP_H
#define QUILLBOX_DESKTOP_H

#include <windows.h>

#include <string>

#include "cobolrules.h"
#include "quillbox.h"

// ---------------------------------------------------------------------------------
// Front-end state: one instance, `frontEnd`, for the whole run.
constexpr int STATUS_TEXT_CAPACITY = 256;
constexpr int DIALOG_TEXT_CAPACITY = 256;

struct FrontEndState {
    CopyAnalyzer analyzer{""};                      // the one analysis object
    // The COBOL rules (設定 > COBOL標準構文で解析, off at start, not kept between runs):
    // while `cobolRules` is on, every load analyses with `cobolAnalyzer` instead.
    CobolAnalyzer cobolAnalyzer{""};
    bool cobolRules = false;
    bool shownByCobolRules = false;                 // the table shows cobolAnalyzer's list
    bool fileLoaded = false;                        // currentFileName was loaded and not closed since
    // The analysis the next load uses, and the one whose list the table shows (they
    // differ after the setting was switched with no file to analyse again).
    CopyAnalyzer& LoadingAnalyzer() { return cobolRules ? static_cast<CopyAnalyzer&>(cobolAnalyzer) : analyzer; }
    CopyAnalyzer& ShownAnalyzer() { return shownByCobolRules ? static_cast<CopyAnalyzer&>(cobolAnalyzer) : analyzer; }
    char currentFileName[FILE_NAME_CAPACITY] = {};  // the copybook shown; empty after a paste
    char tempFilePath[TEMP_FILE_PATH_CAPACITY] = {};  // the clipboard's temporary file, fixed at start
    char saveFileName[FILE_NAME_CAPACITY] = {};     // the save dialog's result
    char statusText[STATUS_TEXT_CAPACITY] = {};     // what the status bar shows
    // The CREATE TABLE command: table name, naming options and the input dialog's texts.
    char tableName[TABLE_NAME_CAPACITY] = {};
    bool ddlUseSerialNo = false;
    bool ddlQuoteNames = false;
    char inputDialogTitle[DIALOG_TEXT_CAPACITY] = "入力";
    char inputDialogPrompt[DIALOG_TEXT_CAPACITY] = "入力してください";
    char searchText[SEARCH_TEXT_CAPACITY] = {};     // the search string
    bool arrayExpansion = false;                    // show every array element
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;                      // owner of the file dialogs and message boxes
    HWND statusBar = nullptr;
    HMENU contextMenu = nullptr;
};

extern FrontEndState frontEnd;

// The owner of a message box: the main window while it exists, else `window`.
inline HWND MainWindowOr(HWND window)
{
    return frontEnd.mainWindow ? frontEnd.mainWindow : window;
}

constexpr const char* WINDOW_CLASS_NAME = "Quillbox_Class";

// Raises CMemoryException from the window code (module "quillbox").
#define QB_RAISE_MEMORY(message) throw CMemoryException((message), __LINE__, "quillbox")

// Puts the analysis, the texts and the settings back to their values at start (the
// tests run many windows in one process; the program starts once). The handles and
// tempFilePath stay.
void ResetFrontEndState();

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

// ---------------------------------------------------------------------------------
// Start-up
// Steps before the window: the command-line argument into currentFileName, the
// instance, tempFilePath.
void PrepareStartup(HINSTANCE instance, const char* commandLine);
// Registers Quillbox_Class; false (after its message) on failure.
bool RegisterMainWindowClass(HINSTANCE instance);
// Creates the main window from IDD_MAIN; null (after its message) on failure.
HWND CreateMainWindow(HINSTANCE instance);
// The whole program after PrepareStartup: class, window, accelerators, message loop,
// under the top-level handler. Returns the program's exit code.
int RunProgram(HINSTANCE instance, int showMode);

// The top-level handler: shows what escaped a command and ends the program with code 0.
// Call it from inside a catch block only.
void HandleEscapedFailure();

// ---------------------------------------------------------------------------------
// Main window
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void InitMainWindow(HWND window);
void ResizeItemTable(HWND window);
void ShowContextMenu(HWND window);
// Enables or greys the three items of the right-click menu for the present table and
// clipboard.
void UpdateContextMenu(HWND window);
// The check mark of a menu item: read its state (GetMenuItemInfoA), change the check,
// write it back (SetMenuItemInfoA). Returns the item's check state afterwards: the new
// one, the old one when writing failed, false when reading failed; each failure is
// shown ("メニュー状態取得失敗！" / "メニュー状態設定失敗！", caption "エラー").
enum class MenuCheck { Toggle, Clear };
bool ChangeMenuCheck(HWND window, HMENU menu, UINT item, MenuCheck change);
inline bool ToggleMenuCheck(HWND window, HMENU menu, UINT item)
{
    return ChangeMenuCheck(window, menu, item, MenuCheck::Toggle);
}
void ShowVersion(HWND window);
void ShowHelp(HWND window);
void OnCommand(HWND window, int command);
// Empties the table and adds one row per shown item; status text and the close and
// export commands follow.
void FillItemTable(HWND window, CopyItem* head, bool arrayExpansion);
HWND ItemList(HWND window);
// Fits column `column` (1 to 14) of the table to its header text and its widest cell;
// the category column stays hidden.
void FitItemColumn(HWND list, int column);
// 設定 > 列幅の自動調整: every shown column fitted as FitItemColumn does.
void FitItemColumns(HWND window);
// Gives the table the keyboard focus (after a load, a search and a dialog).
void FocusItemTable(HWND window);
// Greys or enables IDM_CLOSE, IDM_HTML, IDM_DDL and IDM_OPEN_DATA together.
void EnableExportCommands(HWND window, bool enable);
void ShowStatusText();

// ---------------------------------------------------------------------------------
// Loading and the clipboard
void LoadAndAnalyze(HWND window, const char* path);
// The text of an analysis failure's message box: the message alone, or for a refusal
// of the COBOL rules "ファイル名(行番号): message" and the entry's text on the next line.
std::string AnalysisFailureText(CException& failure);
bool ChooseOpenFile(const char* title);
void PasteAndAnalyze(HWND window);
// A copy of the clipboard's text in a block of AllocateBytes, or null.
char* ReadClipboardText(HWND window);
void CopyRowsToClipboard(HWND listView, bool withTitle);

// ---------------------------------------------------------------------------------
// HTML report and CREATE TABLE file
constexpr int SAVE_KIND_HTML = 1;
constexpr int SAVE_KIND_DDL = 2;
bool ChooseSaveFile(const char* title, int kind);
void HtmlCommand(HWND window);
void WriteHtmlReport(HWND owner, const char* path, bool arrayExpansion);
void DdlCommand(HWND window);
void WriteCreateTable(HWND owner, const char* path);
// Tells how a file output ended: `doneMessage` with the caption "通知" when it was
// written, else the open or write failure with `caption`.
void ReportExportResult(HWND owner, ExportResult result, const char* doneMessage, const char* caption);
INT_PTR CALLBACK InputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------------
// Search
INT_PTR CALLBACK SearchDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void SearchCommand(HWND window);
void FindNext(HWND window);
void FindPrevious(HWND window);
// Index of the first selected or focused row of the table, -1 when none.
int FirstMarkedRow(HWND listView);
// Selects and focuses the row of `rowNumber` (index + 1) and scrolls it into view.
void SelectRow(HWND listView, int rowNumber);

// The table's cell texts as the clipboard copy and the search read them.
class ListViewCells : public ItemTableCells {
public:
    explicit ListViewCells(HWND listView) : listView(listView) {}
    int RowCount() const override;
    void GetCellText(int row, int column, char* buffer, int size) const override;
private:
    HWND listView;
};

#endif
