// The main window of Quillbox.exe, created in this process from its own template and
// driven by messages; the modal user interface is answered and recorded by the tests.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <shlobj.h>
#include <string>
#include <vector>

#include "desktop.h"
#include "test_util.h"
#include "modal_seam.h"
#include "resource.h"

namespace {

struct Box { std::string text, caption; UINT type; };
std::vector<Box> boxes;
int boxAnswer = IDYES;
int endCode = -1;

int RecordBox(HWND, const char* text, const char* caption, UINT type)
{
    boxes.push_back({text, caption, type});
    return boxAnswer;
}
void RecordEnd(int code) { endCode = code; }

std::string DataPath(const char* name)
{
    return std::string(QB_SOURCE_DIR) + "/tests/gui/data/" + name;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterMainWindowClass(GetModuleHandleA(nullptr)); }
    void SetUp() override
    {
        ResetFrontEndState();
        boxes.clear();
        boxAnswer = IDYES;
        endCode = -1;
        modalUi = RealModalUi();
        modalUi.messageBox = RecordBox;
        modalUi.endProgram = RecordEnd;
    }
    void TearDown() override
    {
        if (window && IsWindow(window)) {
            SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
            DestroyWindow(window);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {}
        modalUi = RealModalUi();
    }
    void Start(const std::string& commandLine)
    {
        PrepareStartup(GetModuleHandleA(nullptr), commandLine.c_str());
        window = CreateMainWindow(GetModuleHandleA(nullptr));
        ASSERT_NE(window, nullptr);
    }
    HWND List() { return GetDlgItem(window, IDC_ITEM_LIST); }
    int Rows() { return static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0)); }
    std::string Title()
    {
        char text[1024];
        GetWindowTextA(window, text, sizeof text);
        return text;
    }
    UINT MenuState(UINT item) { return GetMenuState(GetMenu(window), item, MF_BYCOMMAND); }
    std::string Cell(int row, int column)
    {
        char text[256];
        ListViewCells(List()).GetCellText(row, column, text, sizeof text);
        return text;
    }
    // The table holds exactly `rows`, the title names `path`, the exports are enabled.
    void ExpectShown(const ItemRowTable& rows, const std::string& path)
    {
        ASSERT_EQ(Rows(), rows.RowCount());
        for (int row = 0; row < rows.RowCount(); ++row)
            for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
                EXPECT_EQ(Cell(row, column), rows.Cell(row, column)) << row << "," << column;
        char title[1024];
        FormatWindowTitle(path.c_str(), title, sizeof title);
        EXPECT_EQ(Title(), title);
        for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL})
            EXPECT_FALSE(MenuState(item) & MF_GRAYED) << item;
    }
    HWND window = nullptr;
};

TEST_F(MainWindowTest, ColumnsAndInitialMenuStates)
{
    Start("");
    for (int index = 0; index < ITEM_COLUMN_COUNT; ++index) {
        char title[64] = "";
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        ASSERT_TRUE(SendMessageA(List(), LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(title, ITEM_COLUMNS[index].title) << index;
        EXPECT_EQ(column.cx, ITEM_COLUMNS[index].width) << index;
    }
    EXPECT_EQ(Title(), "Quillbox");
    for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL, IDM_HELP})
        EXPECT_TRUE(MenuState(item) & MF_GRAYED) << item;
    EXPECT_FALSE(MenuState(IDM_ARRAY_EXPANSION) & MF_CHECKED);
    EXPECT_FALSE(MenuState(IDM_OPEN) & MF_GRAYED);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(MainWindowTest, CommandLineFileFillsTheTableThenCloseEmptiesIt)
{
    std::string path = DataPath("SAMPLE.cpy");
    Start("\"" + path + "\" ignored");
    CopyAnalyzer expected(path.c_str());
    CopyItem* head = expected.Analyze();
    ExpectShown(ItemRowTable(head, false), path);
    char status[256];
    FormatStatusText(head, expected.GetRecordLength(), status, sizeof status);
    EXPECT_STREQ(frontEnd.statusText, status);

    SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_STREQ(frontEnd.statusText, "");
    EXPECT_EQ(Title(), "Quillbox");
    for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL})
        EXPECT_TRUE(MenuState(item) & MF_GRAYED) << item;
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, ArrayExpansionToggledTwiceRestoresTheTable)
{
    std::string path = DataPath("SAMPLE.cpy");
    Start(path);
    std::vector<std::string> before;
    for (int row = 0; row < Rows(); ++row)
        for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
            before.push_back(Cell(row, column));
    CopyAnalyzer expected(path.c_str());
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);
    EXPECT_TRUE(frontEnd.arrayExpansion);
    EXPECT_TRUE(MenuState(IDM_ARRAY_EXPANSION) & MF_CHECKED);
    EXPECT_EQ(Rows(), ItemRowTable(expected.Analyze(), true).RowCount());
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);
    EXPECT_FALSE(frontEnd.arrayExpansion);
    EXPECT_FALSE(MenuState(IDM_ARRAY_EXPANSION) & MF_CHECKED);
    std::vector<std::string> after;
    for (int row = 0; row < Rows(); ++row)
        for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
            after.push_back(Cell(row, column));
    EXPECT_EQ(after, before);
}

TEST_F(MainWindowTest, AnalysisErrorAfterSuccessEmptiesTheView)
{
    Start(DataPath("SAMPLE.cpy"));
    ASSERT_GT(Rows(), 0);
    std::string broken = DataPath("MISSING.cpy");   // no such file
    LoadAndAnalyze(window, broken.c_str());
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Title(), "Quillbox");
    EXPECT_STREQ(frontEnd.statusText, "解析エラー");
    for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL})
        EXPECT_TRUE(MenuState(item) & MF_GRAYED) << item;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "エラー");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(endCode, -1);
}

TEST_F(MainWindowTest, CloseAsksOnlyWhileRowsAreShown)
{
    Start(DataPath("SAMPLE.cpy"));
    boxAnswer = IDNO;
    SendMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "終了してもいいですか？");
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONQUESTION | MB_YESNO));
    boxAnswer = IDYES;
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MainWindowTest, VersionMessageComesFromTheVersionResource)
{
    Start("");
    SendMessageA(window, WM_COMMAND, IDM_VERSION, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "バージョン情報");
    EXPECT_EQ(boxes[0].text.rfind("Quillbox Ver.1.0.0.0\n", 0), 0u) << boxes[0].text;
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
}

TEST_F(MainWindowTest, CopyWithAndWithoutTitleReadBackFromTheClipboard)
{
    Start(DataPath("SAMPLE.cpy"));
    ListViewCells table(List());
    for (bool withTitle : {true, false}) {
        SendMessageA(window, WM_COMMAND, withTitle ? IDM_COPY_ALL : IDM_COPY_ROWS, 0);
        ASSERT_TRUE(OpenClipboard(window));
        HANDLE handle = GetClipboardData(CF_TEXT);
        ASSERT_NE(handle, nullptr);
        std::string text = static_cast<const char*>(GlobalLock(handle));
        GlobalUnlock(handle);
        CloseClipboard();
        EXPECT_EQ(text, BuildClipboardText(table, withTitle)) << withTitle;
    }
    EXPECT_TRUE(boxes.empty());
}


// A modal dialog of the program's own template, with its own procedure, filled in by a
// script once it is shown: the script sets the controls and presses a button.
DLGPROC realProcedure;
void (*dialogScript)(HWND dialog);
std::string dialogCaption;
INT_PTR CALLBACK ScriptedProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = realProcedure(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        char caption[256];
        GetWindowTextA(dialog, caption, sizeof caption);
        dialogCaption = caption;
        dialogScript(dialog);
    }
    return result;
}
INT_PTR ScriptedDialog(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure)
{
    realProcedure = procedure;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, ScriptedProcedure, 0);
}

std::string savePath;
std::string saveFilter;
std::string saveExtension;
BOOL AnswerSave(OPENFILENAMEA* dialog)
{
    saveFilter = dialog->lpstrFilter;
    saveExtension = dialog->lpstrDefExt ? dialog->lpstrDefExt : "";
    lstrcpynA(dialog->lpstrFile, savePath.c_str(), dialog->nMaxFile);
    return TRUE;
}

TEST_F(MainWindowTest, HtmlAndDdlExportsWriteTheCoreBytes)
{
    std::string path = DataPath("SAMPLE.cpy");
    Start(path);
    CopyAnalyzer expected(path.c_str());
    CopyItem* head = expected.Analyze();
    modalUi.getSaveFileName = AnswerSave;

    savePath = "gui_report.html";
    SendMessageA(window, WM_COMMAND, IDM_HTML, 0);
    EXPECT_EQ(saveFilter, "HTML ドキュメント(*.html)");
    EXPECT_EQ(saveExtension, "html");
    ASSERT_EQ(WriteHtmlReport("gui_expected.html", head, expected.GetRecordLength(), frontEnd.currentFileName, false),
              EXPORT_DONE);
    EXPECT_EQ(qbtest::ReadFileBytes("gui_report.html"), qbtest::ReadFileBytes("gui_expected.html"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "HTMLファイルに出力完了。");
    EXPECT_EQ(boxes[0].caption, "通知");

    // The input dialog: its caption and prompt, serial numbers chosen, quotes chosen.
    modalUi.dialogBox = ScriptedDialog;
    dialogScript = [](HWND dialog) {
        char prompt[256];
        GetDlgItemTextA(dialog, IDC_INPUT_GROUP, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "テーブル名の入力");
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_QUOTE_NAMES), static_cast<UINT>(BST_UNCHECKED));
        SetDlgItemTextA(dialog, IDC_INPUT_EDIT, "T1");
        CheckDlgButton(dialog, IDC_USE_SERIAL_NO, BST_CHECKED);
        CheckDlgButton(dialog, IDC_QUOTE_NAMES, BST_CHECKED);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    savePath = "gui_table.sql";
    SendMessageA(window, WM_COMMAND, IDM_DDL, 0);
    EXPECT_EQ(dialogCaption, "テーブル名");
    EXPECT_STREQ(frontEnd.tableName, "T1");
    EXPECT_TRUE(frontEnd.ddlUseSerialNo);
    EXPECT_TRUE(frontEnd.ddlQuoteNames);
    EXPECT_EQ(saveFilter, "DDL(SQL)(*.sql)");
    EXPECT_EQ(saveExtension, "sql");
    ASSERT_EQ(WriteCreateTable("gui_expected.sql", head, "T1", true, true), EXPORT_DONE);
    EXPECT_EQ(qbtest::ReadFileBytes("gui_table.sql"), qbtest::ReadFileBytes("gui_expected.sql"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "CREATE文出力完了。");

    // Cancelled: nothing asked further, the serial-number choice stays.
    dialogScript = [](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_USE_SERIAL_NO), static_cast<UINT>(BST_CHECKED));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    SendMessageA(window, WM_COMMAND, IDM_DDL, 0);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(MainWindowTest, SearchDialogThenF3AndShiftF3)
{
    Start(DataPath("SAMPLE.cpy"));
    modalUi.dialogBox = ScriptedDialog;
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_SEARCH_EDIT, "smp-");
        PostMessageA(dialog, WM_COMMAND, IDC_SEARCH_BUTTON, 0);
    };
    SendMessageA(window, WM_COMMAND, IDM_SEARCH, 0);
    EXPECT_EQ(dialogCaption, "項目検索");
    EXPECT_STREQ(frontEnd.searchText, "smp-");
    EXPECT_EQ(FirstMarkedRow(List()), 1);   // SMP-CODE, below the 01 item
    SendMessageA(window, WM_COMMAND, IDM_FIND_NEXT, 0);
    EXPECT_EQ(FirstMarkedRow(List()), 2);
    SendMessageA(window, WM_COMMAND, IDM_FIND_PREV, 0);
    EXPECT_EQ(FirstMarkedRow(List()), 1);
    EXPECT_TRUE(boxes.empty());

    // F3 on the last row: the notice, then from the top again.
    SelectRow(List(), Rows());
    LVITEMA clear = {};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(List(), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&clear));
    SendMessageA(window, WM_COMMAND, IDM_FIND_NEXT, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, SEARCH_LAST_ROW_NOTICE);
    EXPECT_EQ(boxes[0].caption, "検索");
    EXPECT_EQ(FirstMarkedRow(List()), 1);

    // Not found.
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_SEARCH_EDIT, "PIC");
        PostMessageA(dialog, WM_COMMAND, IDC_SEARCH_BUTTON, 0);
    };
    SendMessageA(window, WM_COMMAND, IDM_SEARCH, 0);
    ASSERT_EQ(boxes.size(), 2u);
    char message[300];
    FormatSearchNotFound("PIC", message, sizeof message);
    EXPECT_EQ(boxes[1].text, message);
}

TEST_F(MainWindowTest, PasteAnalysesTheClipboardThroughTheTemporaryFile)
{
    Start("");
    const char source[] = "000100 01  PASTE-REC.\r\n000200     05  P-A PIC X(02).\n000300     05  P-B PIC 9(03).\r";
    ASSERT_TRUE(OpenClipboard(window));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof source);
    memcpy(GlobalLock(block), source, sizeof source);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();

    strcpy(frontEnd.currentFileName, "stale.cpy");
    SendMessageA(window, WM_COMMAND, IDM_PASTE, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "クリップボードのテキストデータを解析しますか？");
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(2, COLUMN_NAME), "P-B");
    EXPECT_STREQ(frontEnd.currentFileName, "");
    EXPECT_EQ(GetFileAttributesA(frontEnd.tempFilePath), INVALID_FILE_ATTRIBUTES);

    // No text on the clipboard: nothing after the question.
    ASSERT_TRUE(OpenClipboard(window));
    EmptyClipboard();
    CloseClipboard();
    SendMessageA(window, WM_COMMAND, IDM_PASTE, 0);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(MainWindowTest, DropOfThreeFilesAnalysesTheFirst)
{
    Start("");
    std::string first = DataPath("SAMPLE.cpy");
    std::string names = first + '\0' + DataPath("MISSING.cpy") + '\0' + DataPath("OTHER.cpy") + '\0' + '\0';
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
    DROPFILES* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(block);
    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    EXPECT_STREQ(frontEnd.currentFileName, first.c_str());
    EXPECT_GT(Rows(), 0);
    EXPECT_TRUE(boxes.empty());
}

}  // namespace

// ---------------------------------------------------------------------------------
// 設定 > COBOL標準構文で解析 (40018): the COBOL-rules analysis for every load.
namespace {

// The rows a CobolAnalyzer gives for `path`.
ItemRowTable CobolRows(const std::string& path)
{
    CobolAnalyzer analyzer(path.c_str());
    return ItemRowTable(analyzer.Analyze(), false);
}

TEST_F(MainWindowTest, CobolRulesItemIsLastInTheSettingsMenuAndUncheckedAtStart)
{
    Start("");
    HMENU settings = GetSubMenu(GetMenu(window), 2);
    ASSERT_NE(settings, nullptr);
    int count = GetMenuItemCount(settings);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(settings, count - 1), static_cast<UINT>(IDM_COBOL_RULES));
    char text[64] = "";
    GetMenuStringA(settings, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "COBOL標準構文で解析(&C)");
    EXPECT_FALSE(MenuState(IDM_COBOL_RULES) & (MF_CHECKED | MF_GRAYED));
    EXPECT_FALSE(frontEnd.cobolRules);

    // Switched with nothing loaded: only the check changes.
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    EXPECT_TRUE(MenuState(IDM_COBOL_RULES) & MF_CHECKED);
    EXPECT_TRUE(frontEnd.cobolRules);
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(boxes.empty());
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    EXPECT_FALSE(MenuState(IDM_COBOL_RULES) & MF_CHECKED);
}

TEST_F(MainWindowTest, SwitchingTheRulesAnalysesTheCurrentFileAgain)
{
    std::string path = DataPath("COBOLREC.cpy");
    Start("\"" + path + "\"");
    // The default rules refuse the condition names.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Rows(), 0);
    EXPECT_STREQ(frontEnd.statusText, "解析エラー");

    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    EXPECT_EQ(boxes.size(), 1u);
    ItemRowTable rows = CobolRows(path);
    ExpectShown(rows, path);
    EXPECT_EQ(Cell(2, 0), "条件名");
    EXPECT_EQ(Cell(2, 4), "'O'");
    EXPECT_EQ(Cell(Rows() - 1, 0), "再命名");
    EXPECT_STREQ(frontEnd.statusText, "レコード長 :         41Byte");

    // Array expansion works on the list shown: five occurrences of the table.
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);
    EXPECT_EQ(Rows(), rows.RowCount() + 8);
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);

    // Back to the default rules: the same file is refused again.
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Title(), "Quillbox");

    // After the close command nothing is analysed again.
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    ASSERT_EQ(Rows(), rows.RowCount());
    SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(MainWindowTest, CobolRefusalShowsFileLineAndEntry)
{
    Start("");
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    std::string path = DataPath("COBOLBAD.cpy");
    LoadAndAnalyze(window, path.c_str());
    ASSERT_EQ(boxes.size(), 1u);
    const std::string& text = boxes[0].text;
    EXPECT_EQ(text.find(path + "(3): "), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::strlen("\n05 BAD-AMOUNT PIC 9(5)Q")), "\n05 BAD-AMOUNT PIC 9(5)Q") << text;
    EXPECT_EQ(boxes[0].caption, "エラー");
    EXPECT_EQ(Rows(), 0);
    EXPECT_STREQ(frontEnd.statusText, "解析エラー");
    for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL})
        EXPECT_TRUE(MenuState(item) & MF_GRAYED) << item;
}

TEST_F(MainWindowTest, PasteUnderTheCobolRules)
{
    Start("");
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    std::string text = qbtest::ReadFileBytes(DataPath("COBOLREC.cpy"));
    ASSERT_TRUE(OpenClipboard(window));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
    SendMessageA(window, WM_COMMAND, IDM_PASTE, 0);
    EXPECT_EQ(Rows(), CobolRows(DataPath("COBOLREC.cpy")).RowCount());
    EXPECT_EQ(Cell(2, 0), "条件名");
}

}  // namespace

// ---------------------------------------------------------------------------------
// The window for a keyboard user: the table's focus, the search dialog's keys, the
// column fitting, the settings menu's access keys and Ctrl+O.
namespace {

int ColumnWidth(HWND list, int column)
{
    return static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
}

int TextWidth(HWND list, const std::string& text)
{
    return static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int SelectedRow(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// A key pressed where the keyboard focus is, as the message loop would deliver it.
void PressKey(UINT key)
{
    HWND focus = GetFocus();
    ASSERT_NE(focus, nullptr);
    SendMessageA(focus, WM_KEYDOWN, key, 1);
    SendMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

TEST_F(MainWindowTest, TableHasTheFocusAfterALoadSoKeysMoveAtOnce)
{
    Start(DataPath("SAMPLE.cpy"));
    ASSERT_GT(Rows(), 3);
    EXPECT_EQ(GetFocus(), List());
    EXPECT_EQ(SelectedRow(List()), -1);   // the load selects nothing
    PressKey(VK_DOWN);
    EXPECT_EQ(SelectedRow(List()), 0);
    PressKey(VK_DOWN);
    EXPECT_EQ(SelectedRow(List()), 1);
    PressKey(VK_END);
    EXPECT_EQ(SelectedRow(List()), Rows() - 1);
    PressKey(VK_HOME);
    EXPECT_EQ(SelectedRow(List()), 0);
    PressKey(VK_NEXT);
    EXPECT_GT(SelectedRow(List()), 0);

    // Focus given back to the window (as after a dialog) goes on to the table.
    SetFocus(nullptr);
    SetFocus(window);
    EXPECT_EQ(GetFocus(), List());

    // A file opened later by the open command too.
    SetFocus(nullptr);
    std::string path = DataPath("COBOLREC.cpy");
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    LoadAndAnalyze(window, path.c_str());
    EXPECT_GT(Rows(), 0);
    EXPECT_EQ(GetFocus(), List());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, FoundRowIsSelectedInTheFocusedTable)
{
    Start(DataPath("SAMPLE.cpy"));
    SetFocus(nullptr);
    modalUi.dialogBox = ScriptedDialog;
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_SEARCH_EDIT, "smp-name");
        PostMessageA(dialog, WM_COMMAND, IDC_SEARCH_BUTTON, 0);
    };
    SendMessageA(window, WM_COMMAND, IDM_SEARCH, 0);
    ASSERT_TRUE(boxes.empty());
    int found = SelectedRow(List());
    ASSERT_GT(found, 0);
    EXPECT_EQ(Cell(found, COLUMN_NAME), "SMP-NAME");
    EXPECT_EQ(GetFocus(), List());
    // The keys go on from the found row.
    PressKey(VK_UP);
    EXPECT_EQ(SelectedRow(List()), found - 1);

    // F3 and Shift+F3 leave the focus in the table too.
    strcpy(frontEnd.searchText, "smp-");
    SetFocus(nullptr);
    SendMessageA(window, WM_COMMAND, IDM_FIND_NEXT, 0);
    EXPECT_EQ(GetFocus(), List());
    SetFocus(nullptr);
    SendMessageA(window, WM_COMMAND, IDM_FIND_PREV, 0);
    EXPECT_EQ(GetFocus(), List());
}

// The search dialog under the real dialog manager: its script runs once it is set up;
// a timer ends a dialog that a key failed to end, so that a fault fails the test
// instead of hanging it.
HWND scriptedDialog;
constexpr INT_PTR DIALOG_LEFT_OPEN = 99;
void CALLBACK EndStuckDialog(HWND, UINT, UINT_PTR, DWORD)
{
    if (scriptedDialog && IsWindow(scriptedDialog))
        EndDialog(scriptedDialog, DIALOG_LEFT_OPEN);
}
INT_PTR RunSearchDialog(HWND owner, void (*script)(HWND dialog))
{
    dialogScript = script;
    UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndStuckDialog);
    INT_PTR result = ScriptedDialog(GetModuleHandleA(nullptr), IDD_SEARCH, owner, SearchDialogProc);
    KillTimer(nullptr, timer);
    scriptedDialog = nullptr;
    return result;
}

TEST_F(MainWindowTest, SearchDialogSelectsThePreviousTextAndEscapeCloses)
{
    Start(DataPath("SAMPLE.cpy"));
    strcpy(frontEnd.searchText, "ord-dlv");
    // Opened: the previous text is there, all of it selected; a typed Q replaces it.
    INT_PTR result = RunSearchDialog(window, [](HWND dialog) {
        scriptedDialog = dialog;
        HWND edit = GetDlgItem(dialog, IDC_SEARCH_EDIT);
        char text[64] = "";
        GetWindowTextA(edit, text, sizeof text);
        EXPECT_STREQ(text, "ord-dlv");
        DWORD start = 0, end = 0;
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, 7u);
        EXPECT_EQ(GetFocus(), edit);
        PostMessageA(edit, WM_CHAR, 'Q', 1);
        PostMessageA(dialog, WM_COMMAND, IDC_SEARCH_BUTTON, 0);
    });
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(frontEnd.searchText, "Q");

    // Escape through the dialog manager ends it as cancelled; the text stays.
    result = RunSearchDialog(window, [](HWND dialog) {
        scriptedDialog = dialog;
        HWND edit = GetDlgItem(dialog, IDC_SEARCH_EDIT);
        PostMessageA(edit, WM_CHAR, 'Z', 1);
        PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
    });
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(frontEnd.searchText, "Q");

    // Through the command: a cancelled search asks nothing and moves nothing.
    modalUi.dialogBox = ScriptedDialog;
    dialogScript = [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDC_SEARCH_EDIT), WM_KEYDOWN, VK_ESCAPE, 1); };
    UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndStuckDialog);
    SendMessageA(window, WM_COMMAND, IDM_SEARCH, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(SelectedRow(List()), -1);
    EXPECT_TRUE(boxes.empty());
}

// Each shown column is at least as wide as its header text and each of its cells with
// the control's margins: nothing is cut.
void ExpectColumnsFitted(HWND list, int rows)
{
    EXPECT_EQ(ColumnWidth(list, COLUMN_CATEGORY), 0);
    for (int column = 1; column < ITEM_COLUMN_COUNT; ++column) {
        int width = ColumnWidth(list, column);
        EXPECT_GE(width, TextWidth(list, ITEM_COLUMNS[column].title) + 12) << column;
        for (int row = 0; row < rows; ++row) {
            char cell[256] = "";
            ListViewCells(list).GetCellText(row, column, cell, sizeof cell);
            EXPECT_GE(width, TextWidth(list, cell) + 12) << column << " row " << row << " " << cell;
        }
    }
}

TEST_F(MainWindowTest, FitColumnsCommandFitsHeadersAndCells)
{
    Start(DataPath("SAMPLE.cpy"));
    // The load keeps the seed's widths.
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
        EXPECT_EQ(ColumnWidth(List(), column), ITEM_COLUMNS[column].width) << column;
    // Cut today: the headers of these, and the picture S9(7)V99.
    const int cut[] = {2, 4, 6, 11, 12};
    for (int column : cut)
        EXPECT_LT(ColumnWidth(List(), column),
                  std::max(TextWidth(List(), ITEM_COLUMNS[column].title), TextWidth(List(), "S9(7)V99")) + 12)
            << column;

    SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
    ExpectColumnsFitted(List(), Rows());
    // Wide columns of short texts give room back: the table is narrower than with the
    // seed's widths, and 相対位置 starts inside the window.
    RECT client = {};
    GetClientRect(List(), &client);
    int seedTotal = 0, total = 0, offsetStart = 0;
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) {
        seedTotal += ITEM_COLUMNS[column].width;
        total += ColumnWidth(List(), column);
        if (column < 13)
            offsetStart += ColumnWidth(List(), column);
    }
    EXPECT_LT(total, seedTotal);
    EXPECT_LT(offsetStart, client.right);

    // With the array expansion (more and wider cells) and again: still fitted, and a
    // second fit changes nothing.
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);
    SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
    ExpectColumnsFitted(List(), Rows());
    std::vector<int> widths;
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
        widths.push_back(ColumnWidth(List(), column));
    SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
        EXPECT_EQ(ColumnWidth(List(), column), widths[column]) << column;

    // An empty table: the headers alone.
    SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
    SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
    ExpectColumnsFitted(List(), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, DoubleClickOnAHeaderDividerFitsThatColumn)
{
    Start(DataPath("SAMPLE.cpy"));
    SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
    const int column = 12;   // 次元: its header is wider than its cells
    int fitted = ColumnWidth(List(), column);
    int other = ColumnWidth(List(), column - 1);
    SendMessageA(List(), LVM_SETCOLUMNWIDTH, column, 8);
    ASSERT_EQ(ColumnWidth(List(), column), 8);

    HWND header = reinterpret_cast<HWND>(SendMessageA(List(), LVM_GETHEADER, 0, 0));
    ASSERT_NE(header, nullptr);
    RECT item = {};
    ASSERT_TRUE(SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item)));
    LPARAM point = MAKELPARAM(item.right, (item.top + item.bottom) / 2);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(header, WM_LBUTTONUP, 0, point);
    SendMessageA(header, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageA(header, WM_LBUTTONUP, 0, point);
    EXPECT_EQ(ColumnWidth(List(), column), fitted);
    EXPECT_EQ(ColumnWidth(List(), column - 1), other);
}

TEST_F(MainWindowTest, SettingsItemsHaveAccessKeysAndCtrlOOpens)
{
    Start("");
    HMENU settings = GetSubMenu(GetMenu(window), 2);
    ASSERT_NE(settings, nullptr);
    std::string keys;
    for (int index = 0; index < GetMenuItemCount(settings); ++index) {
        if (GetMenuItemID(settings, index) == 0)
            continue;   // a separator
        char text[64] = "";
        GetMenuStringA(settings, index, text, sizeof text, MF_BYPOSITION);
        const char* mark = std::strchr(text, '&');
        ASSERT_NE(mark, nullptr) << text;
        EXPECT_EQ(keys.find(mark[1]), std::string::npos) << text;
        keys += mark[1];
    }
    EXPECT_EQ(keys, "WAC");
    EXPECT_EQ(GetMenuItemID(settings, 0), static_cast<UINT>(IDM_FIT_COLUMNS));
    char text[64] = "";
    GetMenuStringA(settings, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "列幅の自動調整(&W)");

    // Ctrl+O, translated by the program's accelerators, is the open command.
    HACCEL accelerators = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCEL));
    ASSERT_NE(accelerators, nullptr);
    static int opened;
    static std::string openTitle;
    opened = 0;
    modalUi.getOpenFileName = [](OPENFILENAMEA* dialog) -> BOOL {
        ++opened;
        openTitle = dialog->lpstrTitle ? dialog->lpstrTitle : "";
        return FALSE;
    };
    BYTE keyState[256] = {};
    ASSERT_TRUE(GetKeyboardState(keyState));
    BYTE saved[256];
    std::memcpy(saved, keyState, sizeof saved);
    keyState[VK_CONTROL] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keyState));
    MSG message = {};
    message.hwnd = List();
    message.message = WM_KEYDOWN;
    message.wParam = 'O';
    message.lParam = 1;
    int translated = TranslateAcceleratorA(window, accelerators, &message);
    SetKeyboardState(saved);
    EXPECT_TRUE(translated);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(openTitle, "コピー句ファイルの選択");
    // Without Ctrl the key is the table's.
    EXPECT_FALSE(TranslateAcceleratorA(window, accelerators, &message));
    EXPECT_EQ(opened, 1);
}

}  // namespace
