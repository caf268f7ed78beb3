// The clipboard text of "copy all rows", and the pasted source written to a file.
#include <gtest/gtest.h>

#include <string>

#include "item_list.h"

namespace {

const std::string kTitle =
    "No\tレベル\t項目名\t宣言\t桁数\t小数部桁数\tバイト\t属性\t再定義(REDEFINES)\t配列数\t要素番号\t次元数\t相対位置\t備考\r\n";

// A table whose cells are given directly, standing for what a list view shows.
class FixedCells : public ItemTableCells {
public:
    explicit FixedCells(int rows, std::string cell) : rows(rows), cell(std::move(cell)) {}
    int RowCount() const override { return rows; }
    void GetCellText(int, int column, char* buffer, int size) const override {
        std::string text = column == 0 ? std::string("hidden") : cell;
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", text.c_str());
    }
private:
    int rows;
    std::string cell;
};

TEST(ClipboardText, EmptyTableWithAndWithoutTitle) {
    ItemRowTable table;
    EXPECT_EQ(kTitle, BuildClipboardText(table, true));
    EXPECT_EQ("", BuildClipboardText(table, false));
    char buffer[4] = "abc";
    EXPECT_EQ(0u, BuildClipboardText(table, false, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST(ClipboardText, RowsOfTheTableWithoutTheHiddenColumn) {
    ItemList list;
    list.Add(1, "REC", ITEM_GROUP)->byteLength = 7;
    CopyItem* item = list.Add(5, "CODE", ITEM_ALPHANUMERIC | ITEM_LIST_END);
    SetText(item->picture, "X(7)");
    SetText(item->remark, "コード");
    item->digits = 7;
    item->byteLength = 7;
    item->position = 1;
    ItemRowTable table(list.Head(), false);
    const std::string rows = "1\t01\tREC\tGF\t0\t\t7\t\t\t\t\t\t0\t\r\n"
                             "2\t05\tCODE\tX(7)\t7\t\t7\t\t\t\t\t\t1\tコード\r\n";
    EXPECT_EQ(kTitle + rows, BuildClipboardText(table, true));
    EXPECT_EQ(rows, BuildClipboardText(table, false));
}

TEST(ClipboardText, MeasureThenFillAndNeverPastTheBuffer) {
    // Full cells: 63 bytes each, 14 cells a line, far beyond any fixed room per line.
    FixedCells table(3, std::string(70, 'W'));
    std::string line;
    for (int column = 1; column < ITEM_COLUMN_COUNT; ++column) {
        if (column > 1) line += '\t';
        line += std::string(63, 'W');
    }
    line += "\r\n";
    const std::string expected = kTitle + line + line + line;
    std::size_t length = BuildClipboardText(table, true, nullptr, 0);
    ASSERT_EQ(expected.size(), length);
    std::string block(length + 1, '#');
    EXPECT_EQ(length, BuildClipboardText(table, true, &block[0], block.size()));
    EXPECT_EQ(expected + '\0', block);

    // A short buffer is filled as far as it goes and terminated; nothing is written past it.
    char small[12];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(length, BuildClipboardText(table, true, small, 10));
    EXPECT_EQ(std::string(kTitle, 0, 9), std::string(small));
    EXPECT_EQ('#', small[10]);
    EXPECT_EQ('#', small[11]);
}

TEST(ClipboardText, CutNeverSplitsADoubleByteCharacter) {
    // 62 single bytes, then a double-byte character: the cut at 63 bytes drops it whole.
    FixedCells table(1, std::string(62, 'a') + "漢");
    std::string text = BuildClipboardText(table, false);
    EXPECT_EQ(0u, text.find(std::string(62, 'a') + "\t"));
}

TEST(PastedSource, CarriageReturnsAreDroppedAndLinesEndWithCrLf) {
    std::string path = TestFilePath("paste.tmp");
    ASSERT_TRUE(WritePastedSource(path.c_str(), "A\r\nB\nC\rD\r\r\nE"));
    EXPECT_EQ("A\r\nB\r\nCD\r\nE", ReadFileBytes(path));
    ASSERT_TRUE(WritePastedSource(path.c_str(), ""));
    EXPECT_EQ("", ReadFileBytes(path));
    std::remove(path.c_str());
    EXPECT_FALSE(WritePastedSource("no-such-folder/x/paste.tmp", "A"));
}

}  // namespace
