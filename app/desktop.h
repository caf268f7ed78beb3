// Quillbox.exe: the Win32 window, its commands and dialogs.
// The texts, rows, reports and search decisions come from quillbox.h; this part only
// puts them on the screen, into files and on the clipboard.
#ifndef QUILLBOX_DESKTOP_H
#define QUILLBOX_DESKTOP_H

#include <windows.h>

#include "quillbox.h"

// ---------------------------------------------------------------------------------
// Front-end state: one set for the whole run.
extern CopyAnalyzer analyzer;
extern char currentFileName[FILE_NAME_CAPACITY];
extern char tempFilePath[TEMP_FILE_PATH_CAPACITY];
extern char saveFileName[FILE_NAME_CAPACITY];
constexpr int STATUS_TEXT_CAPACITY = 256;
extern char statusText[STATUS_TEXT_CAPACITY];
extern char tableName[TABLE_NAME_CAPACITY];
extern bool ddlUseSerialNo;
extern bool ddlQuoteNames;
constexpr int DIALOG_TEXT_CAPACITY = 256;
extern char inputDialogTitle[DIALOG_TEXT_CAPACITY];
extern char inputDialogPrompt[DIALOG_TEXT_CAPACITY];
extern char searchText[SEARCH_TEXT_CAPACITY];
extern bool arrayExpansion;

extern HINSTANCE appInstance;
extern HWND mainWindow;        // owner of the file dialogs and message boxes
extern HWND statusBar;
extern HMENU contextMenu;

constexpr const char* WINDOW_CLASS_NAME = "Quillbox_Class";

// Raises CMemoryException from the window code (module "quillbox").
#define QB_RAISE_MEMORY(message) throw CMemoryException((message), __LINE__, "quillbox")

// Puts every state value back to its value at start (the tests run many windows in one
// process; the program starts once).
void ResetFrontEndState();

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
bool ToggleMenuCheck(HWND window, HMENU menu, UINT item);
void ShowVersion(HWND window);
void ShowHelp(HWND window);
void OnCommand(HWND window, int command);
// Empties the table and adds one row per shown item; status text and the close and
// export commands follow.
void FillItemTable(HWND window, CopyItem* head, bool arrayExpansion);
HWND ItemList(HWND window);
// Greys or enables IDM_CLOSE, IDM_HTML and IDM_DDL together.
void EnableExportCommands(HWND window, bool enable);
void ShowStatusText();

// ---------------------------------------------------------------------------------
// Loading and the clipboard
void LoadAndAnalyze(HWND window, const char* path);
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
