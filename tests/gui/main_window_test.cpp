// The main window of Quillbox.exe, created in this process from its own template and
// driven by messages; the modal user interface is answered and recorded by the tests.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop.h"
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
    ItemRowTable rows(head, false);
    ASSERT_EQ(Rows(), rows.RowCount());
    for (int row = 0; row < rows.RowCount(); ++row)
        for (int column = 0; column < ITEM_COLUMN_COUNT; ++column)
            EXPECT_EQ(Cell(row, column), rows.Cell(row, column)) << row << "," << column;
    char status[256];
    FormatStatusText(head, expected.GetRecordLength(), status, sizeof status);
    EXPECT_STREQ(statusText, status);
    char title[1024];
    FormatWindowTitle(path.c_str(), title, sizeof title);
    EXPECT_EQ(Title(), title);
    for (UINT item : {IDM_CLOSE, IDM_HTML, IDM_DDL})
        EXPECT_FALSE(MenuState(item) & MF_GRAYED) << item;

    SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_STREQ(statusText, "");
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
    EXPECT_TRUE(arrayExpansion);
    EXPECT_TRUE(MenuState(IDM_ARRAY_EXPANSION) & MF_CHECKED);
    EXPECT_EQ(Rows(), ItemRowTable(expected.Analyze(), true).RowCount());
    SendMessageA(window, WM_COMMAND, IDM_ARRAY_EXPANSION, 0);
    EXPECT_FALSE(arrayExpansion);
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
    EXPECT_STREQ(statusText, "解析エラー");
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

}  // namespace
