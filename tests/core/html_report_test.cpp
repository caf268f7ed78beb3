// The HTML report, compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "item_list.h"
#include "replacement_util.h"

namespace {

const std::string kHeaderStart =
    "<html>\r\n"
    "<head>\r\n"
    "<title>COPY句解析結果</title>\r\n"
    "<meta http-equiv=\"Content-type\" content=\"text/html; charset=Shift_JIS\">\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<b>COPY句解析結果</b><hr size=1>\r\n";

std::string Header(const std::string& fileLine, int size) {
    std::string text = kHeaderStart + "ファイル：<b>" + fileLine + "</b><br><br>\r\n" +
                       "<b>Size : <font color=\"#0000FF\">" + std::to_string(size) + "</font>Byte</b><br>\r\n" +
                       "<table border=1 cellspacing=0 cellpadding=1>\r\n<tr>\r\n";
    for (const char* title : {"No.", "レベル", "項目名", "宣言", "桁数", "小数部桁数", "バイト", "属性", "REDEFINES",
                              "配列数", "要素番号", "次元数", "位置", "備考"}) {
        text += "<td bgcolor=\"#CCFFFF\" nowrap align=\"center\"><font size=2 color=\"#000000\"><b>";
        text += title;
        text += "</b></font></td>\r\n";
    }
    return text + "</tr>\r\n";
}

std::string Footer(int size) {
    return "</table>\r\n<b>Size : <font color=\"#0000FF\">" + std::to_string(size) +
           "</font>Byte</b><br>\r\n</body>\r\n</html>\r\n";
}

std::string Cell(const std::string& text, const char* align = nullptr) {
    std::string td = align ? std::string("<td nowrap align=\"") + align + "\">" : std::string("<td nowrap>");
    return td + "<font size=2 color=\"#000000\">" + text + "</font></td>\r\n";
}

struct RowTexts {
    int number;
    std::string level, name, declaration;
    int digits, scale, bytes;
    std::string usage, redefines, occurs, element, dimension;
    int position;
    std::string remark;
};

std::string RowBlock(const RowTexts& r) {
    return "<tr>\r\n" + Cell(std::to_string(r.number), "right") + Cell(r.level) + Cell(r.name) +
           Cell(r.declaration, "center") + Cell(std::to_string(r.digits), "right") +
           Cell(std::to_string(r.scale), "right") + Cell(std::to_string(r.bytes), "right") + Cell(r.usage) +
           Cell(r.redefines) + Cell(r.occurs, "right") + Cell(r.element, "right") + Cell(r.dimension, "right") +
           Cell(std::to_string(r.position), "right") + Cell(r.remark) + "</tr>\r\n";
}

std::string Report(const CopyItem* head, unsigned long length, const char* fileName, bool expansion) {
    std::string path = TestFilePath("report.html");
    EXPECT_EQ(EXPORT_DONE, WriteHtmlReport(path.c_str(), head, length, fileName, expansion));
    std::string bytes = ReadFileBytes(path);
    std::remove(path.c_str());
    return bytes;
}

TEST(HtmlReport, EmptyListGivesHeaderAndFooter) {
    EXPECT_EQ(Header("", 0) + Footer(0), Report(nullptr, 0, "", false));
}

TEST(HtmlReport, OneGroupAndOneElementaryItem) {
    ItemList list;
    CopyItem* group = list.Add(1, "CUST-REC", ITEM_GROUP);
    group->byteLength = 12;
    group->position = 1;
    CopyItem* item = list.Add(3, "CUST-AMT", ITEM_NUMERIC | ITEM_SIGNED | USAGE_PACKED);
    SetText(item->picture, "S9(7)V99");
    SetText(item->remark, "金額");
    item->digits = 9;
    item->scale = 2;
    item->byteLength = 5;
    item->position = 1;
    item->flags |= ITEM_LIST_END;
    std::string expected = Header("C:\\data\\顧客.cpy", 12) +
                           RowBlock({1, "01", "CUST-REC", "GF", 0, 0, 12, "&nbsp;", "&nbsp;", "&nbsp;", "&nbsp;",
                                     "&nbsp;", 1, "&nbsp;"}) +
                           RowBlock({2, "&nbsp;&nbsp;03", "CUST-AMT", "S9(7)V99", 9, 2, 5, "PACK", "&nbsp;", "&nbsp;",
                                     "&nbsp;", "&nbsp;", 1, "金額"}) +
                           Footer(12);
    EXPECT_EQ(expected, Report(list.Head(), 12, "C:\\data\\顧客.cpy", false));
}

TEST(HtmlReport, TextsAreEscapedAmpersandFirst) {
    ItemList list;
    CopyItem* base = list.Add(5, "A&<B>");
    CopyItem* item = list.Add(5, "R&D", ITEM_ALPHANUMERIC | ITEM_REDEFINES);
    item->redefines = base;
    SetText(item->picture, "X\"5\"");
    SetText(item->remark, "<b>&amp;</b> 表示");
    std::string report = Report(list.Head(), 5, "a&b<c>\".cpy", false);
    // The file line is escaped like the cells, so a file name cannot carry markup.
    EXPECT_NE(std::string::npos, report.find("ファイル：<b>a&amp;b&lt;c&gt;&quot;.cpy</b><br><br>\r\n"));
    EXPECT_NE(std::string::npos, report.find(Cell("A&amp;&lt;B&gt;")));
    EXPECT_NE(std::string::npos, report.find(Cell("R&amp;D")));
    EXPECT_NE(std::string::npos, report.find(Cell("X&quot;5&quot;", "center")));
    EXPECT_NE(std::string::npos, report.find(Cell("&lt;b&gt;&amp;amp;&lt;/b&gt; 表示")));
    // The REDEFINES cell shows the escaped target name.
    EXPECT_NE(std::string::npos, report.find(Cell("A&amp;&lt;B&gt;") + Cell("&nbsp;", "right")));
}

TEST(HtmlReport, NbspCases) {
    ItemList list;
    CopyItem* unnamedTarget = list.Add(5, "");
    CopyItem* item = list.Add(5, "", ITEM_ALPHANUMERIC | ITEM_REDEFINES | ITEM_ARRAY);
    item->redefines = unnamedTarget;
    SetText(item->picture, "X");
    item->occursCount = 4;
    item->elementNo = 1;
    item->dimension = 1;
    std::string report = Report(list.Head(), 1, "", false);
    // Unnamed item: "&nbsp;" as name; unnamed REDEFINES target: an empty cell; counts shown.
    std::string expected = RowBlock({2, "&nbsp;&nbsp;&nbsp;&nbsp;05", "&nbsp;", "X", 0, 0, 0, "&nbsp;", "", "4", "1",
                                     "1", 0, "&nbsp;"});
    EXPECT_NE(std::string::npos, report.find(expected)) << report;
}

TEST(HtmlReport, DeclarationAndUsageOfComputationalItems) {
    ItemList list;
    list.Add(5, "F", ITEM_NUMERIC | USAGE_FLOAT);
    list.Add(5, "D", ITEM_NUMERIC | USAGE_DOUBLE);
    list.Add(5, "FD", ITEM_NUMERIC | USAGE_FLOAT | USAGE_DOUBLE);
    list.Add(5, "B", ITEM_NUMERIC | USAGE_BINARY | USAGE_PACKED);
    list.Add(5, "C5", ITEM_NUMERIC | USAGE_COMP5);
    list.Add(5, "BIT", ITEM_BOOLEAN | USAGE_BIT);
    std::string report = Report(list.Head(), 0, "", false);
    EXPECT_NE(std::string::npos, report.find(Cell("F") + Cell("単精度", "center")));
    EXPECT_NE(std::string::npos, report.find(Cell("D") + Cell("倍精度", "center")));
    // The report lets COMP-2 win when both are set (unlike the table).
    EXPECT_NE(std::string::npos, report.find(Cell("FD") + Cell("倍精度", "center")));
    const char* usages[] = {"FLOAT", "DOUBLE", "FLOAT", "BINARY", "COMP-5", "BIT"};
    std::size_t at = 0;
    for (const char* usage : usages) {
        at = report.find(Cell(std::to_string(0), "right") + Cell(usage), at);
        ASSERT_NE(std::string::npos, at) << usage;
        ++at;
    }
}

TEST(HtmlReport, IndentationIsNeverCut) {
    ItemList list;
    list.Add(49, "DEEP");
    std::string indentation;
    for (int i = 0; i < 48; ++i) indentation += "&nbsp;";
    EXPECT_NE(std::string::npos, Report(list.Head(), 0, "", false).find(Cell(indentation + "49")));
}

TEST(HtmlReport, ShownItemRuleAndConsecutiveRowNumbers) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    for (int element = 1; element <= 3; ++element) {
        list.Add(5, "E", ITEM_ALPHANUMERIC | ITEM_ARRAY)->elementNo = element;
    }
    list.Add(5, "Z", ITEM_LIST_END);
    std::string off = Report(list.Head(), 0, "", false);
    std::string on = Report(list.Head(), 0, "", true);
    EXPECT_NE(std::string::npos, off.find(Cell("3", "right") + Cell("&nbsp;&nbsp;&nbsp;&nbsp;05") + Cell("Z")));
    EXPECT_EQ(std::string::npos, off.find(Cell("4", "right")));
    EXPECT_NE(std::string::npos, on.find(Cell("5", "right") + Cell("&nbsp;&nbsp;&nbsp;&nbsp;05") + Cell("Z")));
    EXPECT_NE(std::string::npos, on.find(Cell("&nbsp;", "right") + Cell("2", "right") + Cell("&nbsp;", "right")));
}

TEST(HtmlReport, UnwritableFileIsReported) {
    EXPECT_EQ(EXPORT_OPEN_FAILED, WriteHtmlReport("no-such-folder/x/report.html", nullptr, 0, "", false));
}

}  // namespace

namespace {

TEST(HtmlReport, MemoryFailureIsPassedOnAndTheFileClosed) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    std::string path = TestFilePath("nomemory.html");
    FailAllocationAfter(0);
    EXPECT_THROW(WriteHtmlReport(path.c_str(), list.Head(), 0, "file", false), CGIMemoryException);
    FailAllocationAfter(-1);
    EXPECT_EQ(0, std::remove(path.c_str()));
}

// A report that fails part way never destroys the report that was there: neither an
// exception on the way nor a failed write.
TEST(HtmlReport, FailedWriteKeepsTheOldFile) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    const std::string folder = qbtest::ScratchFolder("app_core_html");
    const std::string path = folder + "report.html";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old report"));
    FailAllocationAfter(0);
    EXPECT_THROW(WriteHtmlReport(path.c_str(), list.Head(), 0, "file", false), CGIMemoryException);
    FailAllocationAfter(-1);
    EXPECT_EQ("old report", qbtest::ReadFileBytes(path));
#ifndef _WIN32
    EXPECT_EQ(1, qbtest::WriteWithFileSizeLimit(100, [&] {
        return WriteHtmlReport(path.c_str(), list.Head(), 0, "file", false) == EXPORT_WRITE_FAILED;
    }));
    EXPECT_EQ("old report", qbtest::ReadFileBytes(path));
#endif
    EXPECT_EQ(std::vector<std::string>{"report.html"}, qbtest::FilesIn(folder));
    qbtest::RemoveFolder(folder);
}

}  // namespace
