// The data window of Quillbox.exe, created in this process: opened through the main
// window's command on the bundled Shift_JIS customer file, its rows and status, go to,
// export and copy against the document's own bytes, an edit saved, a bad value shown;
// a data file of 1 GB, fixed and RDW, its first page quick and the memory small.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "data_window.h"
#include "desktop.h"
#include "modal_seam.h"
#include "resource.h"
#include "test_util.h"

namespace {

struct Box { std::string text, caption; };
std::vector<Box> boxes;
int boxAnswer = IDNO;
std::vector<int> boxAnswers;   // the answers of the next boxes in turn, before boxAnswer
int RecordBox(HWND, const char* text, const char* caption, UINT)
{
    boxes.push_back({text, caption});
    if (!boxAnswers.empty()) {
        int answer = boxAnswers.front();
        boxAnswers.erase(boxAnswers.begin());
        return answer;
    }
    return boxAnswer;
}

std::string openAnswer, saveAnswer;
BOOL AnswerOpen(OPENFILENAMEA* dialog)
{
    lstrcpynA(dialog->lpstrFile, openAnswer.c_str(), dialog->nMaxFile);
    return TRUE;
}
BOOL AnswerSave(OPENFILENAMEA* dialog)
{
    lstrcpynA(dialog->lpstrFile, saveAnswer.c_str(), dialog->nMaxFile);
    return TRUE;
}

// The program's own dialogs, shown for real and filled in by a script.
DLGPROC realProcedure;
void (*dialogScript)(HWND dialog);
int dialogShown = 0;
INT_PTR CALLBACK ScriptedProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = realProcedure(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        dialogScript(dialog);
    }
    return result;
}
INT_PTR ScriptedDialog(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure)
{
    realProcedure = procedure;
    dialogShown = templateId;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, ScriptedProcedure, 0);
}

std::string Example(const char* name) { return std::string(QB_SOURCE_DIR) + "/examples/" + name; }

class DataWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterMainWindowClass(GetModuleHandleA(nullptr)); }
    // The main window's test suite registers the class again in this process.
    static void TearDownTestSuite() { UnregisterClassA(WINDOW_CLASS_NAME, GetModuleHandleA(nullptr)); }
    void SetUp() override
    {
        ResetFrontEndState();
        ForgetDataSettings();
        boxes.clear();
        boxAnswer = IDNO;
        boxAnswers.clear();
        modalUi = RealModalUi();
        modalUi.messageBox = RecordBox;
        modalUi.getOpenFileName = AnswerOpen;
        modalUi.getSaveFileName = AnswerSave;
        modalUi.dialogBox = ScriptedDialog;
    }
    void TearDown() override
    {
        for (HWND data : DataWindows())
            DestroyWindow(data);
        if (window && IsWindow(window)) {
            SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
            DestroyWindow(window);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {}
        modalUi = RealModalUi();
    }
    // The main window on CUSTMAST.cpy, then the data file `data` opened through the
    // command with the settings dialog's choices as they come (cp932, fixed).
    HWND OpenData(const std::string& data, const char* copybook = "CUSTMAST.cpy", void (*setup)(HWND) = nullptr)
    {
        if (!window) {
            PrepareStartup(GetModuleHandleA(nullptr), ("\"" + Example(copybook) + "\"").c_str());
            window = CreateMainWindow(GetModuleHandleA(nullptr));
            EXPECT_NE(window, nullptr);
        }
        EXPECT_FALSE(GetMenuState(GetMenu(window), IDM_OPEN_DATA, MF_BYCOMMAND) & MF_GRAYED);
        openAnswer = data;
        dialogScript = setup ? setup : [](HWND dialog) {
            char first[128] = "";
            SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
            EXPECT_STREQ(first, "cp932 (Shift_JIS)");
            EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_GETCURSEL, 0, 0), 0);
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DS_RULES)));   // one 01 record
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        };
        SendMessageA(window, WM_COMMAND, IDM_OPEN_DATA, 0);
        EXPECT_EQ(dialogShown, IDD_DATA_SETUP);
        std::vector<HWND> open = DataWindows();
        return open.empty() ? nullptr : open.back();
    }
    // A document of its own on the same file, as the window opens it.
    void OpenExpected(quillbox::DataDocument& document, CopyAnalyzer& analyzer, const std::string& data,
                      const char* copybook = "CUSTMAST.cpy",
                      const quillbox::DataOptions& options = quillbox::DataOptions())
    {
        analyzer.SetFileName(Example(copybook).c_str());
        CopyItem* head = analyzer.Analyze();
        std::string error;
        ASSERT_TRUE(document.Open(head, static_cast<int>(analyzer.GetRecordLength()), data, options, error))
            << error;
    }
    // Waits for the window's record scan, which runs in timer slices, as the message
    // loop would; then scans `expected` whole. False when the window's did not end.
    static bool ScanBoth(HWND data, quillbox::DataDocument& expected)
    {
        quillbox::DataDocument* document = DataWindowDocument(data);
        for (int tick = 0; tick < 200 && !document->ScanDone(); ++tick) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(10);
        }
        while (!expected.ScanDone())
            expected.ScanSome(1 << 20);
        return document->ScanDone();
    }
    static std::string ListText(HWND list, int row, int column)
    {
        char text[512] = "";
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    // The detail pane's rows of the items (the rows of their bytes after the first left out).
    static std::vector<int> DetailItemRows(HWND detail)
    {
        std::vector<int> rows;
        int count = static_cast<int>(SendMessageA(detail, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row)
            if (!ListText(detail, row, 0).empty())
                rows.push_back(row);
        return rows;
    }
    // The detail pane's row of the item `name`, -1 when none.
    static int DetailRowOf(HWND detail, const std::string& name)
    {
        int rows = static_cast<int>(SendMessageA(detail, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            std::string text = ListText(detail, row, 0);
            if (text.size() >= name.size() + 1 && text.compare(text.size() - name.size() - 1, std::string::npos, " " + name) == 0)
                return row;
        }
        return -1;
    }
    // Dispatches what waits for the window (timers, posted messages) for `ms`.
    static void Pump(DWORD ms)
    {
        DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!DataWindowMessage(message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            }
            Sleep(5);
        } while (GetTickCount() - start < ms);
    }
    static bool Key(HWND target, WPARAM key)
    {
        MSG message = {};
        message.hwnd = target;
        message.message = WM_KEYDOWN;
        message.wParam = key;
        return DataWindowMessage(message);
    }
    static int FocusedPosition(HWND list)
    {
        return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    }
    HWND window = nullptr;
};

TEST_F(DataWindowTest, OpensTheCustomerFileAndShowsItsRowsAndDetail)
{
    HWND data = OpenData(Example("custmast.dat"));
    ASSERT_NE(data, nullptr);
    char title[512];
    GetWindowTextA(data, title, sizeof title);
    EXPECT_STREQ(title, "custmast.dat - CUSTMAST.cpy - Quillbox");

    CopyAnalyzer analyzer("");
    quillbox::DataDocument expected;
    OpenExpected(expected, analyzer, Example("custmast.dat"));
    HWND list = DataWindowList(data);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), expected.RecordCount());
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(expected.ColumnCount() + 1));
    for (long long row = 0; row < expected.RecordCount(); ++row) {
        const quillbox::DataDocument::ShownRow* shown = expected.Row(row);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(ListText(list, static_cast<int>(row), 0), std::to_string(row + 1));
        for (size_t column = 0; column < shown->cells.size(); ++column)
            EXPECT_EQ(ListText(list, static_cast<int>(row), static_cast<int>(column + 1)), shown->cells[column].text)
                << row << "," << column;
    }
    // Every column is at least as wide as its header's text.
    for (size_t column = 0; column < expected.ColumnCount(); ++column) {
        int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column + 1, 0));
        int text = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                                                 reinterpret_cast<LPARAM>(expected.ColumnName(column).c_str())));
        EXPECT_GE(width, text) << column;
    }
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 4 件");
    EXPECT_EQ(DataWindowStatus(data, 1), "不正データ 0 件");

    // The first record is selected and its detail shown, one line per item.
    EXPECT_EQ(FocusedPosition(list), 0);
    std::vector<quillbox::DataDocument::DetailLine> lines;
    ASSERT_TRUE(expected.Detail(0, lines));
    HWND detail = DataWindowDetail(data);
    std::vector<int> rows = DetailItemRows(detail);
    ASSERT_EQ(rows.size(), lines.size());
    EXPECT_EQ(ListText(detail, rows[1], 0), "  05 " + lines[1].name);   // indented under the 01 item
    EXPECT_EQ(ListText(detail, rows[2], 1), lines[2].picture);
    // The record's bytes whole, 32 a row, on the rows below its line.
    std::string hex;
    for (int row = rows[0]; row < rows[1]; ++row)
        hex += (hex.empty() ? "" : " ") + ListText(detail, row, 6);
    EXPECT_EQ(hex, lines[0].hex);
    EXPECT_EQ(rows[1] - rows[0], (lines[0].length + 31) / 32);
    // The 値 column as wide as its widest value.
    int widest = 0;
    for (int row : rows)
        widest = std::max(widest, static_cast<int>(SendMessageA(detail, LVM_GETSTRINGWIDTHA, 0,
                                                                reinterpret_cast<LPARAM>(ListText(detail, row, 5).c_str()))));
    EXPECT_GE(SendMessageA(detail, LVM_GETCOLUMNWIDTH, 5, 0), std::min(widest, 460));
    EXPECT_EQ(ListText(detail, rows[2], 3), std::to_string(lines[2].offset + 1));
    EXPECT_EQ(ListText(detail, rows[2], 5), lines[2].value);
    EXPECT_EQ(ListText(detail, rows[2], 6), lines[2].hex);

    // Go to record 3: selected, and the detail follows.
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DG_NUMBER, "3");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_GOTO, 0);
    EXPECT_EQ(dialogShown, IDD_DATA_GOTO);
    EXPECT_EQ(FocusedPosition(list), 2);
    ASSERT_TRUE(expected.Detail(2, lines));
    rows = DetailItemRows(detail);
    ASSERT_EQ(rows.size(), lines.size());
    EXPECT_EQ(ListText(detail, rows.back(), 6), lines.back().hex);
    EXPECT_EQ(ListText(detail, rows[3], 5), lines[3].value);
    // A number past the file: told, the selection stays.
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DG_NUMBER, "99");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_GOTO, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(FocusedPosition(list), 2);

    // Find in one column, then F3 and Shift+F3 in every column.
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DF_TEXT, "A");
        SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_SETCURSEL, 3, 0);   // CUST-STATUS
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_FIND, 0);
    long long found = expected.Find("A", 2, 2, true, quillbox::DataProgress());
    EXPECT_EQ(FocusedPosition(list), found < 0 ? 2 : found);

    // The window closes on its own; the main window stays.
    SendMessageA(data, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(data));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(DataWindows().empty());
}

TEST_F(DataWindowTest, ExportAndCopyGiveTheDocumentsBytes)
{
    HWND data = OpenData(Example("custmast.dat"));
    ASSERT_NE(data, nullptr);
    CopyAnalyzer analyzer("");
    quillbox::DataDocument expected;
    OpenExpected(expected, analyzer, Example("custmast.dat"));
    quillbox::RunResult result;
    std::string error;

    for (quillbox::TableFormat format : {quillbox::TableFormat::kCsv, quillbox::TableFormat::kJsonl}) {
        bool csv = format == quillbox::TableFormat::kCsv;
        saveAnswer = csv ? "gui_data.csv" : "gui_data.jsonl";
        SendMessageA(data, WM_COMMAND, csv ? IDM_DATA_CSV : IDM_DATA_JSONL, 0);
        ASSERT_TRUE(expected.Export(csv ? "gui_expected.csv" : "gui_expected.jsonl", format, nullptr, result, error))
            << error;
        EXPECT_EQ(qbtest::ReadFileBytes(saveAnswer), qbtest::ReadFileBytes(csv ? "gui_expected.csv" : "gui_expected.jsonl"));
        EXPECT_FALSE(qbtest::ReadFileBytes(saveAnswer).empty());
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "4 件を出力しました。");

    // Selected rows: the second and the fourth.
    HWND list = DataWindowList(data);
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&item));
    SendMessageA(data, WM_COMMAND, IDM_DATA_SCOPE_SELECTED, 0);
    saveAnswer = "gui_selected.csv";
    SendMessageA(data, WM_COMMAND, IDM_DATA_CSV, 0);
    std::vector<long long> rows = {1, 3};
    ASSERT_TRUE(expected.Export("gui_expected_selected.csv", quillbox::TableFormat::kCsv, &rows, result, error));
    EXPECT_EQ(qbtest::ReadFileBytes("gui_selected.csv"), qbtest::ReadFileBytes("gui_expected_selected.csv"));

    // コピー: the same two rows on the clipboard as Shift_JIS text.
    SendMessageA(data, WM_COMMAND, IDM_DATA_COPY, 0);
    ASSERT_TRUE(OpenClipboard(data));
    HANDLE handle = GetClipboardData(CF_TEXT);
    ASSERT_NE(handle, nullptr);
    std::string text = static_cast<const char*>(GlobalLock(handle));
    GlobalUnlock(handle);
    CloseClipboard();
    EXPECT_EQ(text, expected.CopyText(rows));

    // A filter: its rows counted in the status bar, and exported as shown.
    dialogScript = [](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_SETCURSEL, 0, 0);   // CUST-BRANCH-CD
        SendDlgItemMessageA(dialog, IDC_DF_COMPARE, CB_SETCURSEL, 0, 0);  // =
        SetDlgItemTextA(dialog, IDC_DF_TEXT, "001");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_FILTER, 0);
    quillbox::DataRowSet filter;
    ASSERT_TRUE(expected.Filter(0, quillbox::DataDocument::Compare::kEqual, "001", filter, quillbox::DataProgress(), error));
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), filter.Count());
    EXPECT_EQ(DataWindowStatus(data, 2), "フィルタ " + std::to_string(filter.Count()) + " 件");
    SendMessageA(data, WM_COMMAND, IDM_DATA_SCOPE_SHOWN, 0);
    saveAnswer = "gui_filtered.csv";
    SendMessageA(data, WM_COMMAND, IDM_DATA_CSV, 0);
    ASSERT_TRUE(expected.Export("gui_expected_filtered.csv", quillbox::TableFormat::kCsv, filter, result, error));
    EXPECT_EQ(qbtest::ReadFileBytes("gui_filtered.csv"), qbtest::ReadFileBytes("gui_expected_filtered.csv"));
    SendMessageA(data, WM_COMMAND, IDM_DATA_UNFILTER, 0);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), expected.RecordCount());
}

TEST_F(DataWindowTest, EditCheckedThenSavedByteForByte)
{
    std::string original = qbtest::ReadFileBytes(Example("custmast.dat"));
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_edit.dat", original));
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_edit_expected.dat", original));
    HWND data = OpenData("gui_edit.dat");
    ASSERT_NE(data, nullptr);
    HWND list = DataWindowList(data);

    // F2 on the first record: an editor over CUST-BRANCH-CD; a value too long is refused
    // with the codec's reason and nothing changes.
    SendMessageA(data, WM_COMMAND, IDM_DATA_EDIT, 0);
    HWND editor = GetDlgItem(list, IDC_DATA_EDIT);
    ASSERT_NE(editor, nullptr);
    SetWindowTextA(editor, "ABCDE");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("この値は入力できません。\n", 0), 0u) << boxes[0].text;
    EXPECT_FALSE(DataWindowDocument(data)->Modified());

    SendMessageA(data, WM_COMMAND, IDM_DATA_EDIT, 0);
    editor = GetDlgItem(list, IDC_DATA_EDIT);
    ASSERT_NE(editor, nullptr);
    SetWindowTextA(editor, "999");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(DataWindowDocument(data)->Edited(0));
    EXPECT_EQ(ListText(list, 0, 0), "1 *");
    EXPECT_EQ(ListText(list, 0, 1), "999");
    EXPECT_EQ(DataWindowStatus(data, 3), "編集 1 件");

    // Closing asks; Cancel keeps the window and the edit.
    boxAnswer = IDCANCEL;
    SendMessageA(data, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(data));
    EXPECT_EQ(boxes.back().caption, "確認");

    SendMessageA(data, WM_COMMAND, IDM_DATA_SAVE, 0);
    EXPECT_FALSE(DataWindowDocument(data)->Modified());
    CopyAnalyzer analyzer("");
    quillbox::DataDocument expected;
    OpenExpected(expected, analyzer, "gui_edit_expected.dat");
    std::string reason, error;
    ASSERT_TRUE(expected.SetCell(0, 0, "999", reason)) << reason;
    ASSERT_TRUE(expected.Save(error)) << error;
    std::string saved = qbtest::ReadFileBytes("gui_edit.dat");
    EXPECT_EQ(saved, qbtest::ReadFileBytes("gui_edit_expected.dat"));
    EXPECT_EQ(saved.substr(0, 3), "999");
    EXPECT_EQ(saved.substr(3), original.substr(3));

    // Closing the main window asks first; then the data window asks about its edits:
    // キャンセル keeps both windows, いいえ gives the edits up and the program ends.
    SendMessageA(data, WM_COMMAND, IDM_DATA_EDIT, 0);
    editor = GetDlgItem(list, IDC_DATA_EDIT);
    ASSERT_NE(editor, nullptr);
    SetWindowTextA(editor, "888");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(DataWindowDocument(data)->Modified());
    boxAnswers = {IDYES, IDCANCEL};
    size_t before = boxes.size();
    SendMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(data));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(boxes.size(), before + 2);   // the main window's question, then the data window's
    boxAnswers = {IDYES, IDNO};
    before = boxes.size();
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(data));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(boxes.size(), before + 2);
    EXPECT_EQ(qbtest::ReadFileBytes("gui_edit.dat"), saved);
}

TEST_F(DataWindowTest, ClosingWithoutEditsAsksNothing)
{
    HWND data = OpenData(Example("custmast.dat"));
    ASSERT_NE(data, nullptr);
    SendMessageA(data, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(data));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DataWindowTest, BadPackedValueShownAndCounted)
{
    // The second record's CUST-CREDIT-LIMIT (bytes 180-184, COMP-3) gets a bad digit.
    std::string bytes = qbtest::ReadFileBytes(Example("custmast.dat"));
    ASSERT_GE(bytes.size(), 400u);
    bytes[200 + 181] = '\xAB';
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_bad.dat", bytes));
    HWND data = OpenData("gui_bad.dat");
    ASSERT_NE(data, nullptr);
    HWND list = DataWindowList(data);
    quillbox::DataDocument* document = DataWindowDocument(data);
    int column = -1;
    for (size_t index = 0; index < document->ColumnCount(); ++index)
        if (document->ColumnName(index) == "CUST-CREDIT-LIMIT")
            column = static_cast<int>(index) + 1;
    ASSERT_GT(column, 0);
    EXPECT_EQ(ListText(list, 1, column), "###");
    EXPECT_NE(ListText(list, 0, column), "###");
    EXPECT_EQ(DataWindowStatus(data, 1), "不正データ 1 件");
    // The detail of the bad record names the item's fault.
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DG_NUMBER, "2");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_GOTO, 0);
    std::vector<quillbox::DataDocument::DetailLine> lines;
    ASSERT_TRUE(document->Detail(1, lines));
    HWND detail = DataWindowDetail(data);
    bool shown = false;
    for (size_t index = 0; index < lines.size(); ++index)
        if (lines[index].bad && lines[index].name == "CUST-CREDIT-LIMIT") {
            // Its row of the pane (the record's bytes take rows of their own above it).
            int at = DetailRowOf(detail, "CUST-CREDIT-LIMIT");
            ASSERT_GE(at, 0);
            EXPECT_EQ(ListText(detail, at, 5), "### " + lines[index].reason);
            shown = !lines[index].reason.empty();
        }
    EXPECT_TRUE(shown);
}

TEST_F(DataWindowTest, EbcdicRdwRecordsOfVariableTablesThroughTheSettingsRememberedPerCopybook)
{
    // examples/orderlines.vb: EBCDIC (ibm-037) RDW records of 1 to 12 order lines, laid
    // out by ODOREC.cpy under the COBOL rules.
    PrepareStartup(GetModuleHandleA(nullptr), ("\"" + Example("cobol/ODOREC.cpy") + "\"").c_str());
    window = CreateMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window, nullptr);
    SendMessageA(window, WM_COMMAND, IDM_COBOL_RULES, 0);
    ASSERT_TRUE(frontEnd.shownByCobolRules);
    HWND data = OpenData(Example("orderlines.vb"), "cobol/ODOREC.cpy", [](HWND dialog) {
        LRESULT ebcdic = SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>("ibm-037"));
        EXPECT_GT(ebcdic, 4);   // after the Japanese pages
        SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_SETCURSEL, ebcdic, 0);
        SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_SETCURSEL, 2, 0);   // RDW
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_NE(data, nullptr);
    CobolAnalyzer analyzer("");
    quillbox::DataOptions options;
    options.encoding = "ibm-037";
    options.records = quillbox::RecordFormat::kRdw;
    analyzer.SetFileName(Example("cobol/ODOREC.cpy").c_str());
    CopyItem* head = analyzer.Analyze();
    options.variableOccurs = quillbox::VariableOccursOf(analyzer);
    quillbox::DataDocument expected;
    std::string error;
    ASSERT_TRUE(expected.Open(head, static_cast<int>(analyzer.GetRecordLength()), Example("orderlines.vb"), options,
                              error))
        << error;
    ASSERT_TRUE(ScanBoth(data, expected));
    ASSERT_GT(expected.RecordCount(), 1);
    HWND list = DataWindowList(data);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), expected.RecordCount());
    for (long long row = 0; row < expected.RecordCount(); ++row) {
        const quillbox::DataDocument::ShownRow* shown = expected.Row(row);
        ASSERT_NE(shown, nullptr);
        for (size_t column = 0; column < shown->cells.size(); ++column)
            EXPECT_EQ(ListText(list, static_cast<int>(row), static_cast<int>(column + 1)),
                      shown->cells[column].bad ? "###" : shown->cells[column].text)
                << row << "," << column;
    }
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 " + std::to_string(expected.RecordCount()) + " 件");
    saveAnswer = "gui_orderlines.csv";
    SendMessageA(data, WM_COMMAND, IDM_DATA_CSV, 0);
    quillbox::RunResult result;
    ASSERT_TRUE(expected.Export("gui_orderlines_expected.csv", quillbox::TableFormat::kCsv, nullptr, result, error))
        << error;
    EXPECT_EQ(qbtest::ReadFileBytes("gui_orderlines.csv"), qbtest::ReadFileBytes("gui_orderlines_expected.csv"));

    // The same copybook again: the dialog starts with the choices made; cancelled, no
    // second window.
    static int encoding, format;
    OpenData(Example("orderlines.vb"), "cobol/ODOREC.cpy", [](HWND dialog) {
        encoding = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_GETCURSEL, 0, 0));
        format = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_GETCURSEL, 0, 0));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_GT(encoding, 4);
    EXPECT_EQ(format, 2);
    EXPECT_EQ(DataWindows().size(), 1u);
}

TEST_F(DataWindowTest, AJapaneseEbcdicFileOpensAndAFileThatCannotBeReadSaysWhy)
{
    // examples/orders.vb: code page 930 (kanji between shift codes), blocked RDW records.
    HWND data = OpenData(Example("orders.vb"), "ORDERREC.cpy", [](HWND dialog) {
        char name[128] = "";
        SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(name));
        EXPECT_STREQ(name, "ibm-930 (日本語EBCDIC カタカナ)");
        SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_SETCURSEL, 1, 0);
        SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_SETCURSEL, 3, 0);   // RDWブロック
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_NE(data, nullptr);
    quillbox::DataOptions options;
    options.encoding = "ibm-930";
    options.records = quillbox::RecordFormat::kRdwBlock;
    CopyAnalyzer analyzer("");
    quillbox::DataDocument expected;
    OpenExpected(expected, analyzer, Example("orders.vb"), "ORDERREC.cpy", options);
    ASSERT_TRUE(ScanBoth(data, expected));
    HWND list = DataWindowList(data);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), expected.RecordCount());
    ASSERT_GE(expected.RecordCount(), 2);
    for (long long row = 0; row < expected.RecordCount(); ++row) {
        const quillbox::DataDocument::ShownRow* shown = expected.Row(row);
        ASSERT_NE(shown, nullptr);
        EXPECT_FALSE(shown->bad) << row;
        for (size_t column = 0; column < shown->cells.size(); ++column)
            EXPECT_EQ(ListText(list, static_cast<int>(row), static_cast<int>(column + 1)), shown->cells[column].text)
                << row << "," << column;
    }
    EXPECT_EQ(ListText(list, 0, 1), "A受注01 ");   // the Shift_JIS text of the kanji
    saveAnswer = "gui_orders930.csv";
    SendMessageA(data, WM_COMMAND, IDM_DATA_CSV, 0);
    quillbox::RunResult result;
    std::string error;
    ASSERT_TRUE(expected.Export("gui_orders930_expected.csv", quillbox::TableFormat::kCsv, nullptr, result, error))
        << error;
    EXPECT_EQ(qbtest::ReadFileBytes("gui_orders930.csv"), qbtest::ReadFileBytes("gui_orders930_expected.csv"));

    // A file that cannot be read: the open says why and opens no other window.
    const std::string missing = Example("no-such-data-file.dat");
    boxes.clear();   // the export's own message
    OpenData(missing, "ORDERREC.cpy", [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); });
    CopyAnalyzer again("");
    again.SetFileName(Example("ORDERREC.cpy").c_str());
    CopyItem* head = again.Analyze();
    quillbox::DataDocument none;
    EXPECT_FALSE(none.Open(head, static_cast<int>(again.GetRecordLength()), missing, options, error));
    EXPECT_EQ(DataWindows().size(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, missing + "\n" + error);
}

TEST_F(DataWindowTest, KeysOfTheDataWindowAreItsOwn)
{
    HWND data = OpenData(Example("custmast.dat"));
    ASSERT_NE(data, nullptr);
    CopyAnalyzer analyzer("");
    quillbox::DataDocument expected;
    OpenExpected(expected, analyzer, Example("custmast.dat"));
    HWND list = DataWindowList(data);
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DF_TEXT, "0");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageA(data, WM_COMMAND, IDM_DATA_FIND, 0);
    long long first = expected.Find("0", -1, 0, true, quillbox::DataProgress());
    ASSERT_GE(first, 1);
    EXPECT_EQ(FocusedPosition(list), first);

    // F3 and Shift+F3 through the message loop's step: the data window's commands, not
    // the main window's search (whose text is empty and would open its dialog).
    MSG key = {};
    key.hwnd = list;
    key.message = WM_KEYDOWN;
    key.wParam = VK_F3;
    ASSERT_TRUE(DataWindowMessage(key));
    long long next = expected.Find("0", -1, first, true, quillbox::DataProgress());
    EXPECT_EQ(FocusedPosition(list), next < 0 ? first : next);
    EXPECT_EQ(dialogShown, IDD_DATA_FIND);
    // A message of the main window is left to the main loop.
    key.hwnd = GetDlgItem(window, IDC_ITEM_LIST);
    EXPECT_FALSE(DataWindowMessage(key));
}

// The cell cursor: Left and Right choose the column (the list scrolls to show it), F2
// and Enter edit that cell; Tab and Shift+Tab go list -> detail pane -> list, and the
// pane scrolls with the keys; every menu has its access key. A half-width text in the
// PIC N item is refused as not double-byte.
TEST_F(DataWindowTest, TheWholeWindowFromTheKeyboard)
{
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_keys.dat", qbtest::ReadFileBytes(Example("custmast.dat"))));
    HWND data = OpenData("gui_keys.dat");
    ASSERT_NE(data, nullptr);
    HWND list = DataWindowList(data), detail = DataWindowDetail(data);
    quillbox::DataDocument* document = DataWindowDocument(data);
    const int columns = static_cast<int>(document->ColumnCount());
    ASSERT_GT(columns, 8);
    SetForegroundWindow(data);
    SetFocus(list);
    EXPECT_EQ(DataWindowCursorColumn(data), 1);

    // Right to the last column, one past it: the list scrolls so that the cell shows.
    auto cellShown = [&](int column) {
        RECT cell = {}, client = {};
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETSUBITEMRECT, FocusedPosition(list), reinterpret_cast<LPARAM>(&cell));
        GetClientRect(list, &client);
        return cell.left >= client.left && (cell.right <= client.right || cell.left == client.left);
    };
    EXPECT_FALSE(cellShown(columns)) << "the last column shows without a scroll: the test proves nothing";
    for (int step = 0; step <= columns; ++step)
        SendMessageA(list, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(DataWindowCursorColumn(data), columns);
    EXPECT_TRUE(cellShown(columns));
    for (int step = 0; step <= columns; ++step)
        SendMessageA(list, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(DataWindowCursorColumn(data), 1);
    EXPECT_TRUE(cellShown(1));

    // To CUST-KANJI-NAME (PIC N(20)); F2 edits that cell: a half-width text is refused.
    int kanji = -1;
    for (int column = 0; column < columns; ++column)
        if (document->ColumnName(static_cast<size_t>(column)) == "CUST-KANJI-NAME")
            kanji = column + 1;
    ASSERT_GT(kanji, 1);
    for (int step = 1; step < kanji; ++step)
        SendMessageA(list, WM_KEYDOWN, VK_RIGHT, 0);
    ASSERT_EQ(DataWindowCursorColumn(data), kanji);
    EXPECT_TRUE(Key(list, VK_F2));
    HWND editor = GetDlgItem(list, IDC_DATA_EDIT);
    ASSERT_NE(editor, nullptr);
    RECT cell = {}, edit = {};
    cell.top = kanji;
    cell.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETSUBITEMRECT, FocusedPosition(list), reinterpret_cast<LPARAM>(&cell));
    GetWindowRect(editor, &edit);
    MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&edit), 2);
    EXPECT_EQ(edit.left, cell.left);
    SetWindowTextA(editor, "ABC");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("\"ABC\" は全角文字ではありません。"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("全角 (2バイト) 文字で入力してください"), std::string::npos) << boxes[0].text;
    EXPECT_FALSE(document->Modified());
    // Enter edits the same cell; a double-byte text is taken.
    SetFocus(list);
    SendMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
    editor = GetDlgItem(list, IDC_DATA_EDIT);
    ASSERT_NE(editor, nullptr);
    SetWindowTextA(editor, "山田");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(document->Modified());
    EXPECT_EQ(ListText(list, FocusedPosition(list), kanji).rfind("山田", 0), 0u);

    // Tab to the detail pane, which scrolls with the keys; Tab (and Shift+Tab) back.
    SetFocus(list);
    EXPECT_TRUE(Key(list, VK_TAB));
    EXPECT_EQ(GetFocus(), detail);
    const int lines = static_cast<int>(SendMessageA(detail, LVM_GETITEMCOUNT, 0, 0));
    ASSERT_GT(lines, static_cast<int>(SendMessageA(detail, LVM_GETCOUNTPERPAGE, 0, 0)));
    EXPECT_EQ(SendMessageA(detail, LVM_GETTOPINDEX, 0, 0), 0);
    SendMessageA(detail, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(SendMessageA(detail, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), lines - 1);
    EXPECT_GT(SendMessageA(detail, LVM_GETTOPINDEX, 0, 0), 0);
    EXPECT_TRUE(Key(detail, VK_TAB));
    EXPECT_EQ(GetFocus(), list);

    // Every menu and every command of the data window and the main window has an access key.
    for (HMENU bar : {GetMenu(data), GetMenu(window)}) {
        for (int top = 0; top < GetMenuItemCount(bar); ++top) {
            char text[128] = "";
            GetMenuStringA(bar, static_cast<UINT>(top), text, sizeof text, MF_BYPOSITION);
            EXPECT_NE(std::string(text).find('&'), std::string::npos) << text;
            HMENU popup = GetSubMenu(bar, top);
            for (int item = 0; popup && item < GetMenuItemCount(popup); ++item) {
                if (GetMenuState(popup, static_cast<UINT>(item), MF_BYPOSITION) & MF_SEPARATOR)
                    continue;
                GetMenuStringA(popup, static_cast<UINT>(item), text, sizeof text, MF_BYPOSITION);
                EXPECT_NE(std::string(text).find('&'), std::string::npos) << text;
            }
        }
    }
}

// orders.vb with its second record's descriptor word broken (7F FF): the scan stops there;
// a message box gives the whole reason in Japanese, the record and the file's byte, and the
// status bar counts it as bad data.
TEST_F(DataWindowTest, AScanStoppedByBadFramingSaysWhereAndWhy)
{
    std::string bytes = qbtest::ReadFileBytes(Example("orders.vb"));
    ASSERT_GT(bytes.size(), 400u);
    const size_t second = 4 + 361;   // after the block's word and the first record (357 bytes and its word)
    ASSERT_EQ(bytes.substr(4, 4), std::string("\x01\x69\x00\x00", 4));
    bytes[second] = '\x7F';
    bytes[second + 1] = '\xFF';
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_framing.vb", bytes));
    HWND data = OpenData("gui_framing.vb", "ORDERREC.cpy", [](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_SETCURSEL, 1, 0);   // ibm-930
        SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_SETCURSEL, 3, 0);     // RDWブロック
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_NE(data, nullptr);
    quillbox::DataDocument* document = DataWindowDocument(data);
    for (int tick = 0; tick < 100 && !document->ScanDone(); ++tick)
        Pump(20);
    ASSERT_TRUE(document->ScanDone());
    Pump(50);
    EXPECT_EQ(document->RecordCount(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    const std::string& text = boxes[0].text;
    EXPECT_EQ(boxes[0].caption, "データファイル");
    EXPECT_NE(text.find("gui_framing.vb は途中から先を読めません。"), std::string::npos) << text;
    EXPECT_NE(text.find("レコード 2 (ファイルの先頭から 366 バイト目、0x16D):"), std::string::npos) << text;
    EXPECT_NE(text.find("RDW (レコード記述語) が正しくありません: レコード長 32767 バイトがブロックの残り"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("bad RDW"), std::string::npos) << text;
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 1 件 (レコード 2 から先は読めません)");
    EXPECT_EQ(DataWindowStatus(data, 1), "不正データ 1 件");
    // Said once, not at every update of the status bar.
    SendMessageA(data, WM_COMMAND, IDM_DATA_SCOPE_ALL, 0);
    Pump(50);
    EXPECT_EQ(boxes.size(), 1u);
}

// 終了 asks first, every window still there: いいえ keeps them all, edits and all; はい
// then asks each data window about its edits.
TEST_F(DataWindowTest, QuitIsConfirmedBeforeTheDataWindowsAsk)
{
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_quit.dat", qbtest::ReadFileBytes(Example("custmast.dat"))));
    HWND data = OpenData("gui_quit.dat");
    ASSERT_NE(data, nullptr);
    std::string reason;
    ASSERT_TRUE(DataWindowDocument(data)->SetCell(0, 0, "XYZ", reason)) << reason;
    boxAnswer = IDNO;
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "終了してもいいですか？");
    EXPECT_TRUE(IsWindow(window));
    ASSERT_TRUE(IsWindow(data));
    EXPECT_TRUE(DataWindowDocument(data)->Modified());

    // はい to the quit, then はい to the save question: saved, and both windows gone.
    boxes.clear();
    boxAnswer = IDYES;
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "終了してもいいですか？");
    EXPECT_EQ(boxes[1].text, "gui_quit.dat の編集を保存しますか？");
    EXPECT_FALSE(IsWindow(data));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(qbtest::ReadFileBytes("gui_quit.dat").substr(0, 3), "XYZ");
}

// The same file in two data windows: a save in one cannot replace the file the other
// holds open, and says so (not an errno read after the failure); nothing is lost.
TEST_F(DataWindowTest, ASaveOfAFileOpenElsewhereSaysSo)
{
    const std::string original = qbtest::ReadFileBytes(Example("custmast.dat"));
    ASSERT_TRUE(qbtest::WriteFileBytes("gui_twice.dat", original));
    HWND first = OpenData("gui_twice.dat");
    ASSERT_NE(first, nullptr);
    HWND second = OpenData("gui_twice.dat");
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    // The second window cascades from the first, both from the main window.
    RECT main = {}, one = {}, two = {};
    GetWindowRect(window, &main);
    GetWindowRect(first, &one);
    GetWindowRect(second, &two);
    EXPECT_GT(one.left, main.left);
    EXPECT_GT(one.top, main.top);
    EXPECT_GT(two.left, one.left);
    EXPECT_GT(two.top, one.top);

    std::string reason;
    ASSERT_TRUE(DataWindowDocument(first)->SetCell(0, 0, "XYZ", reason)) << reason;
    SendMessageA(first, WM_COMMAND, IDM_DATA_SAVE, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("ファイルがほかで開かれているため保存できませんでした"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].text.find("Success"), std::string::npos) << boxes[0].text;
    EXPECT_TRUE(DataWindowDocument(first)->Modified());
    EXPECT_EQ(qbtest::ReadFileBytes("gui_twice.dat"), original);
    // The other window closed, the save goes through.
    SendMessageA(second, WM_CLOSE, 0, 0);
    boxes.clear();
    SendMessageA(first, WM_COMMAND, IDM_DATA_SAVE, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(DataWindowDocument(first)->Modified());
    EXPECT_EQ(qbtest::ReadFileBytes("gui_twice.dat").substr(0, 3), "XYZ");
}

// While a long search runs, its progress dialog shows; its キャンセル ends the search
// with nothing found said, and the window is usable again.
bool progressSeen = false;
void CALLBACK CancelProgress(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND progress = FindWindowA("#32770", "処理中");
    if (!progress)
        return;
    progressSeen = true;
    KillTimer(nullptr, timer);
    PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(DataWindowTest, LongSearchShowsItsProgressAndCancels)
{
    // Records enough that the search outlasts the half second before its dialog shows
    // however fast the machine decodes (400,000 took 0.53 s once decoding got faster):
    // 3,000,000 records of 200 bytes, written 100,000 at a time.
    std::string record = qbtest::ReadFileBytes(Example("custmast.dat")).substr(0, 200);
    std::string block;
    for (int copy = 0; copy < 100000; ++copy)
        block += record;
    std::FILE* file = std::fopen("gui_long.dat", "wb");
    ASSERT_NE(file, nullptr);
    bool written = true;
    for (int part = 0; part < 30; ++part)
        written = written && std::fwrite(block.data(), 1, block.size(), file) == block.size();
    ASSERT_TRUE(std::fclose(file) == 0 && written);
    HWND data = OpenData("gui_long.dat");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(SendMessageA(DataWindowList(data), LVM_GETITEMCOUNT, 0, 0), 3000000);
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DF_TEXT, "nowhere-in-the-file");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    progressSeen = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 100, CancelProgress);
    DWORD started = GetTickCount();
    SendMessageA(data, WM_COMMAND, IDM_DATA_FIND, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(progressSeen) << GetTickCount() - started << " ms";
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    EXPECT_EQ(FindWindowA("#32770", "処理中"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(data));
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 3000000 件");
    DeleteFileA("gui_long.dat");
}

// ---- A data file of 1 GB -------------------------------------------------------------
// A scratch file removed when the test ends however it ends, after the data windows
// that read it are closed.
struct ScratchFile {
    explicit ScratchFile(const std::string& name) : path(qbtest::ProcessUniqueName("gui_big", name)) {}
    ~ScratchFile()
    {
        for (HWND data : DataWindows())
            DestroyWindow(data);
        for (HWND data : DataWindows())
            DestroyWindow(data);
        DeleteFileA(path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    std::string path;
};

struct Memory {
    unsigned long long working = 0, peak = 0, committed = 0;   // bytes
};
Memory MemoryNow()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    Memory memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        memory.working = counters.WorkingSetSize;
        memory.peak = counters.PeakWorkingSetSize;
        memory.committed = counters.PagefileUsage;
    }
    return memory;
}
constexpr unsigned long long kMegabyte = 1024 * 1024;
constexpr unsigned long long kMemoryLimit = 100 * kMegabyte;
constexpr unsigned long long kBigFileBytes = 1ull << 30;
constexpr int kBlockRecords = 5000;

// Writes `bytes` at `offset` of an open file; false when it cannot.
bool WriteAt(HANDLE file, unsigned long long offset, const std::string& bytes)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The fixed-record file: `records` records of the customer file's four in turn, of
// which only the first and last block are written; the rest is a hole the file system
// need not store (zeros, which the window shows as bad values).
bool MakeFixedFile(const std::string& path, const std::string& customers, long long records)
{
    const size_t length = 200;
    auto block = [&](long long first) {
        std::string bytes;
        for (long long record = first; record < first + kBlockRecords && record < records; ++record)
            bytes.append(customers, static_cast<size_t>(record % 4) * length, length);
        return bytes;
    };
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);   // where it can be
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(records * static_cast<long long>(length));
    long long last = records - kBlockRecords;
    bool made = WriteAt(file, 0, block(0)) && SetFilePointerEx(file, size, nullptr, FILE_BEGIN) &&
                SetEndOfFile(file) && WriteAt(file, static_cast<unsigned long long>(last) * length, block(last));
    return CloseHandle(file) && made;
}

// The RDW file: the customer file's four records in turn, each after its descriptor
// word, written a block at a time up to about `bytes`; the records written.
long long MakeRdwFile(const std::string& path, const std::string& customers, unsigned long long bytes)
{
    std::string block;
    for (int record = 0; record < kBlockRecords; ++record) {
        block += std::string("\x00\xCC\x00\x00", 4);   // 204 bytes with the descriptor
        block.append(customers, static_cast<size_t>(record % 4) * 200, 200);
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    long long records = 0;
    for (unsigned long long written = 0; written < bytes; written += block.size()) {
        DWORD done = 0;
        if (!WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &done, nullptr) || done != block.size()) {
            CloseHandle(file);
            return -1;
        }
        records += kBlockRecords;
    }
    return CloseHandle(file) ? records : -1;
}

// Dispatches the messages that come for `milliseconds` (or until `document`'s scan is
// done), as the message loop would.
void PumpFor(DWORD milliseconds, quillbox::DataDocument* document = nullptr)
{
    DWORD until = GetTickCount() + milliseconds;
    while (GetTickCount() < until && !(document && document->ScanDone())) {
        MSG message;
        // The scan's timer is due again at once: the time is checked per message.
        while (GetTickCount() < until && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(5);
    }
}

// A key pressed on `window` through the message loop's step.
bool PressKey(HWND window, WPARAM key)
{
    MSG message = {};
    message.hwnd = window;
    message.message = WM_KEYDOWN;
    message.wParam = key;
    return DataWindowMessage(message);
}

// Shift and Ctrl as the thread's key state holds them, for the keys the list reads.
void HoldKeys(bool shift, bool control)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
    keys[VK_CONTROL] = keys[VK_LCONTROL] = control ? 0x80 : 0;
    SetKeyboardState(keys);
}
bool PressKeyWith(HWND list, WPARAM key, bool shift, bool control)
{
    HoldKeys(shift, control);
    bool handled = PressKey(list, key);
    HoldKeys(false, false);
    return handled;
}
// A left click (`keys`: MK_SHIFT, MK_CONTROL) on the row at list position `position`,
// which is in view, through the message loop's step; `twice` a double click.
void ClickRow(HWND list, int position, WPARAM keys, bool twice = false)
{
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&rect));
    MSG message = {};
    message.hwnd = list;
    message.lParam = MAKELPARAM(rect.left + 20, (rect.top + rect.bottom) / 2);
    for (UINT step : {twice ? static_cast<UINT>(WM_LBUTTONDBLCLK) : static_cast<UINT>(WM_LBUTTONDOWN),
                      static_cast<UINT>(WM_LBUTTONUP)}) {
        message.message = step;
        message.wParam = keys | (step == WM_LBUTTONUP ? 0 : MK_LBUTTON);
        DataWindowMessage(message);
    }
}
// The list positions selected, as the list tells them.
std::vector<int> SelectedPositions(HWND list)
{
    std::vector<int> positions;
    for (int at = -1; (at = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(at),
                                                            LVNI_SELECTED))) >= 0;)
        positions.push_back(at);
    return positions;
}
std::string ClipboardText(HWND owner)
{
    std::string text;
    if (!OpenClipboard(owner))
        return text;
    if (HANDLE handle = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(handle));
        GlobalUnlock(handle);
    }
    CloseClipboard();
    return text;
}

// Shift, Ctrl and the clicks select as a list view of several rows does: Shift from the
// anchor, Ctrl moving the focus alone, Ctrl+Space and Ctrl+click one row; the rows
// copied are the rows selected, and the list draws them selected.
TEST_F(DataWindowTest, SelectionGesturesActAsAListViewsAndCopyTheirRows)
{
    HWND data = OpenData(Example("custmast.dat"));
    ASSERT_NE(data, nullptr);
    HWND list = DataWindowList(data);
    using Rows = std::vector<int>;
    EXPECT_EQ(SelectedPositions(list), Rows({0}));
    PressKeyWith(list, VK_DOWN, true, false);
    PressKeyWith(list, VK_DOWN, true, false);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1, 2}));
    EXPECT_EQ(FocusedPosition(list), 2);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0), 0);
    PressKeyWith(list, VK_UP, true, false);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1}));
    PressKeyWith(list, VK_DOWN, false, true);
    PressKeyWith(list, VK_DOWN, false, true);
    EXPECT_EQ(FocusedPosition(list), 3);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1}));
    PressKeyWith(list, VK_SPACE, false, true);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1, 3}));
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMSTATE, 3, LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMSTATE, 2, LVIS_SELECTED), 0);
    SendMessageA(data, WM_COMMAND, IDM_DATA_COPY, 0);
    EXPECT_EQ(ClipboardText(data), DataWindowDocument(data)->CopyText({0, 1, 3}));

    // Clicks: Ctrl toggles a row and makes it the anchor, Shift selects from the anchor
    // alone, Ctrl+Shift adds, a plain one selects its row.
    ClickRow(list, 1, MK_CONTROL);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 3}));
    EXPECT_EQ(FocusedPosition(list), 1);
    ClickRow(list, 2, MK_SHIFT);
    EXPECT_EQ(SelectedPositions(list), Rows({1, 2}));
    ClickRow(list, 3, MK_CONTROL);
    ClickRow(list, 0, MK_CONTROL | MK_SHIFT);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1, 2, 3}));
    ClickRow(list, 2, 0);
    EXPECT_EQ(SelectedPositions(list), Rows({2}));
    EXPECT_EQ(FocusedPosition(list), 2);
    PressKeyWith(list, 'A', false, true);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1, 2, 3}));
    PressKeyWith(list, VK_HOME, false, false);
    EXPECT_EQ(SelectedPositions(list), Rows({0}));
    PressKeyWith(list, VK_END, true, false);
    EXPECT_EQ(SelectedPositions(list), Rows({0, 1, 2, 3}));
    // A double click edits the cell under it.
    ClickRow(list, 1, 0, true);
    EXPECT_EQ(SelectedPositions(list), Rows({1}));
    HWND editor = GetFocus();
    EXPECT_NE(editor, list);
    EXPECT_EQ(GetParent(editor), list);
    PressKey(editor, VK_ESCAPE);
    EXPECT_EQ(GetFocus(), list);
}

std::string goToNumber;   // the go-to dialog's number for the big files' last record

// A go-to's scan shows its progress in the status bar at once (its dialog after half a
// second, as the long search's): seen there, Escape cancels it.
HWND goToWindow = nullptr;
std::string goToProgress;
void CALLBACK CancelGoTo(HWND, UINT, UINT_PTR timer, DWORD)
{
    std::string status = DataWindowStatus(goToWindow, 0);
    if (status.find("移動中") == std::string::npos)
        return;
    goToProgress = status;
    KillTimer(nullptr, timer);
    PostMessageA(DataWindowList(goToWindow), WM_KEYDOWN, VK_ESCAPE, 0);
}

class BigDataFileTest : public DataWindowTest {
protected:
    // Opens `path` through the window; then checks the first page against the customer
    // file's rows (row k is customer k % 4) and the memory. (How soon it shows is measured
    // by bench/datadoc_bench.)
    HWND OpenFirstPage(const std::string& path, void (*setup)(HWND))
    {
        Memory before = MemoryNow();
        HWND data = OpenData(path, "CUSTMAST.cpy", setup);
        if (!data) {
            ADD_FAILURE() << "no data window";
            return nullptr;
        }
        HWND list = DataWindowList(data);
        UpdateWindow(list);
        int page = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
        EXPECT_GT(page, 4);
        EXPECT_GT(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), page);
        for (int row = 0; row < page; ++row)
            CheckRow(list, row, "first page");
        Memory after = MemoryNow();
        std::printf("[ big file ] first page of %s: %lld rows known, working set %llu -> %llu MB "
                    "(peak %llu MB), committed %llu -> %llu MB\n",
                    path.c_str(), static_cast<long long>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)),
                    before.working / kMegabyte, after.working / kMegabyte, after.peak / kMegabyte,
                    before.committed / kMegabyte, after.committed / kMegabyte);
        CheckMemory(before, after);
        return data;
    }
    // Row `row` of the list as the customer file's row `row % 4` shows.
    void CheckRow(HWND list, long long row, const char* what)
    {
        const quillbox::DataDocument::ShownRow* shown = customers.Row(row % 4);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(ListText(list, static_cast<int>(row), 0), std::to_string(row + 1)) << what;
        for (size_t column = 0; column < shown->cells.size(); ++column)
            EXPECT_EQ(ListText(list, static_cast<int>(row), static_cast<int>(column + 1)), shown->cells[column].text)
                << what << " " << row << "," << column;
    }
    // The process stays under the limit, and the window took far less than the file.
    static void CheckMemory(const Memory& before, const Memory& after)
    {
        EXPECT_LT(after.working, kMemoryLimit);
        EXPECT_LT(after.committed, before.committed + kMemoryLimit);
        // The peak counts only when nothing before this test went past the limit.
        if (before.peak < kMemoryLimit) {
            EXPECT_LT(after.peak, kMemoryLimit);
        }
    }
    // Go to (Ctrl+G) the last record `records`: it is selected and shown as the customer
    // file's row, its detail too; the memory reported.
    void GoToLast(HWND data, long long records)
    {
        Memory before = MemoryNow();
        goToNumber = std::to_string(records);
        dialogScript = [](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_DG_NUMBER, goToNumber.c_str());
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        };
        SendMessageA(data, WM_COMMAND, IDM_DATA_GOTO, 0);
        EXPECT_EQ(dialogShown, IDD_DATA_GOTO);
        HWND list = DataWindowList(data);
        UpdateWindow(list);
        Memory after = MemoryNow();
        std::printf("[ big file ] go to record %lld: working set %llu -> %llu MB (peak %llu MB), "
                    "committed %llu -> %llu MB\n",
                    records, before.working / kMegabyte,
                    after.working / kMegabyte, after.peak / kMegabyte, before.committed / kMegabyte,
                    after.committed / kMegabyte);
        EXPECT_TRUE(boxes.empty()) << boxes.front().text;
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), records);
        EXPECT_EQ(FocusedPosition(list), records - 1);
        EXPECT_EQ(DataWindowRowAt(data, static_cast<int>(records - 1)), records - 1);
        CheckRow(list, records - 1, "last");
        std::vector<quillbox::DataDocument::DetailLine> lines;
        ASSERT_TRUE(customers.Detail((records - 1) % 4, lines));
        HWND detail = DataWindowDetail(data);
        std::vector<int> rows = DetailItemRows(detail);
        ASSERT_EQ(rows.size(), lines.size());
        EXPECT_EQ(ListText(detail, rows[2], 5), lines[2].value);
        CheckMemory(before, after);
    }
    void SetUp() override
    {
        DataWindowTest::SetUp();
        OpenExpected(customers, analyzer, Example("custmast.dat"));
        customerBytes = qbtest::ReadFileBytes(Example("custmast.dat"));
        ASSERT_EQ(customerBytes.size(), 800u);
    }
    CopyAnalyzer analyzer{""};
    quillbox::DataDocument customers;
    std::string customerBytes;
};

TEST_F(BigDataFileTest, FixedRecordsOfOneGigabyteShowTheirFirstPageAtOnceAndTheLastOnGoTo)
{
    const long long records = static_cast<long long>(kBigFileBytes / 200);
    ScratchFile file("fixed.dat");
    ASSERT_TRUE(MakeFixedFile(file.path, customerBytes, records));
    HWND data = OpenFirstPage(file.path, nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(SendMessageA(DataWindowList(data), LVM_GETITEMCOUNT, 0, 0), records);
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 " + std::to_string(records) + " 件");
    EXPECT_EQ(DataWindowStatus(data, 1), "不正データ 0 件");
    // Keys that move the selection, through the message loop's step.
    HWND list = DataWindowList(data);
    for (WPARAM key : {VK_NEXT, VK_DOWN, VK_END, VK_HOME}) {
        EXPECT_TRUE(PressKey(list, key));
        EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 1) << key;
    }
    EXPECT_EQ(FocusedPosition(list), 0);
    GoToLast(data, records);
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 " + std::to_string(records) + " 件");
}

TEST_F(BigDataFileTest, RdwRecordsOfOneGigabyteShowTheirFirstPageWhileTheScanRuns)
{
    ScratchFile file("rdw.vb");
    const long long records = MakeRdwFile(file.path, customerBytes, kBigFileBytes);
    ASSERT_GT(records, 0);
    HWND data = OpenFirstPage(file.path, [](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_DS_FORMAT, CB_SETCURSEL, 2, 0);   // RDW
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_NE(data, nullptr);
    quillbox::DataDocument* document = DataWindowDocument(data);
    ASSERT_FALSE(document->ScanDone());
    EXPECT_NE(DataWindowStatus(data, 0).find("索引作成中"), std::string::npos) << DataWindowStatus(data, 0);

    // Go to record 5,000,000 at once: the scan runs under the progress dialog; its
    // キャンセル leaves the window usable with the records scanned so far.
    long long before = document->RecordCount();
    goToNumber = "5000000";
    dialogScript = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_DG_NUMBER, goToNumber.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    goToProgress.clear();
    goToWindow = data;
    UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, CancelGoTo);
    SendMessageA(data, WM_COMMAND, IDM_DATA_GOTO, 0);
    KillTimer(nullptr, timer);
    std::printf("[ big file ] go to record 5000000 cancelled at %lld records (%s)\n", document->RecordCount(),
                goToProgress.c_str());
    EXPECT_EQ(goToProgress.rfind("移動中 ", 0), 0u) << goToProgress;
    EXPECT_NE(goToProgress.find(" / 5000000 件"), std::string::npos) << goToProgress;
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    EXPECT_EQ(FindWindowA("#32770", "処理中"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(data));
    EXPECT_FALSE(document->ScanDone());
    EXPECT_GT(document->RecordCount(), before);
    EXPECT_LT(document->RecordCount(), 5000000);
    HWND list = DataWindowList(data);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), document->RecordCount());
    EXPECT_EQ(FocusedPosition(list), 0);
    EXPECT_NE(DataWindowStatus(data, 0).find("索引作成中"), std::string::npos) << DataWindowStatus(data, 0);
    CheckRow(list, document->RecordCount() - 1, "scanned before the cancel");

    // The scan goes on in the window's timer while the list is used: the rows known
    // grow, and a page down through the message loop's step shows its rows.
    long long known = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    PumpFor(200);
    EXPECT_GT(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), known);
    EXPECT_TRUE(PressKey(list, VK_NEXT));
    int focused = FocusedPosition(list);
    EXPECT_GT(focused, 0);
    CheckRow(list, focused, "page down");
    EXPECT_LT(MemoryNow().working, kMemoryLimit);
    PumpFor(2000);
    std::printf("[ big file ] after 2.2 s of the window's scan: %lld of %lld records\n", document->RecordCount(),
                records);

    // Go to the last record: the rest is scanned, then it is shown.
    GoToLast(data, records);
    PumpFor(2000, document);
    ASSERT_TRUE(document->ScanDone());
    EXPECT_EQ(document->RecordCount(), records);
    EXPECT_EQ(DataWindowStatus(data, 0), "レコード数 " + std::to_string(records) + " 件");
    EXPECT_LT(document->IndexEntries(), static_cast<size_t>(records / quillbox::DataDocument::kIndexStep + 2));

    // Gestures that extend the selection over the millions of rows, selecting the rows a
    // list view selects.
    const long long page = SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
    auto gesture = [&](const char* what, const std::function<void()>& act, long long selected, long long focus) {
        act();
        EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), selected) << what;
        EXPECT_EQ(FocusedPosition(list), focus) << what;
    };
    gesture("Home", [&] { PressKeyWith(list, VK_HOME, false, false); }, 1, 0);
    gesture("Shift+End", [&] { PressKeyWith(list, VK_END, true, false); }, records, records - 1);
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(records - 2), LVNI_SELECTED), records - 1);
    gesture("Shift+Home", [&] { PressKeyWith(list, VK_HOME, true, false); }, 1, 0);
    gesture("Ctrl+End", [&] { PressKeyWith(list, VK_END, false, true); }, 1, records - 1);
    gesture("Ctrl+Space", [&] { PressKeyWith(list, VK_SPACE, false, true); }, 2, records - 1);
    gesture("Shift+Up", [&] { PressKeyWith(list, VK_UP, true, false); }, 2, records - 2);
    gesture("Ctrl+A", [&] { PressKeyWith(list, 'A', false, true); }, records, records - 2);
    gesture("Home", [&] { PressKeyWith(list, VK_HOME, false, false); }, 1, 0);
    gesture("Shift+Down", [&] { PressKeyWith(list, VK_DOWN, true, false); }, 2, 1);
    gesture("Shift+PageDown", [&] { PressKeyWith(list, VK_NEXT, true, false); }, page, page - 1);
    gesture("Ctrl+click", [&] { ClickRow(list, 2, MK_CONTROL); }, page - 1, 2);
    gesture("Shift+click", [&] { ClickRow(list, 4, MK_SHIFT); }, 3, 4);
    gesture("click", [&] { ClickRow(list, 1, 0); }, 1, 1);
    gesture("Shift+Ctrl+End", [&] { PressKeyWith(list, VK_END, true, true); }, records - 1, records - 1);
    // Every row is too much for the clipboard: said, and nothing is copied.
    ASSERT_TRUE(boxes.empty());
    SendMessageA(data, WM_COMMAND, IDM_DATA_COPY, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("選択行が多すぎるためコピーできません (5264999 件、100000 件まで)。", 0), 0u)
        << boxes[0].text;
    // The rows copied are the rows selected.
    PressKeyWith(list, VK_HOME, false, false);
    PressKeyWith(list, VK_DOWN, true, false);
    ClickRow(list, 3, MK_CONTROL);
    SendMessageA(data, WM_COMMAND, IDM_DATA_COPY, 0);
    EXPECT_EQ(ClipboardText(data), document->CopyText({0, 1, 3}));
}

}  // namespace

