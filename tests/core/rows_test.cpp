// The item table's text model: cell texts, the shown-item rule, the status line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "item_list.h"

namespace {

std::vector<std::string> Row(const CopyItem* item, int rowNumber = 1) {
    char cells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE];
    std::memset(cells, 'x', sizeof cells);
    FormatItemRow(item, rowNumber, cells);
    return std::vector<std::string>(std::begin(cells), std::end(cells));
}

// Names of the rows the shown-item rule gives, in walk order.
std::string ShownNames(const CopyItem* head, bool arrayExpansion) {
    std::string names;
    for (const CopyItem* item = FirstShownItem(head, arrayExpansion); item != nullptr;
         item = NextShownItem(item, arrayExpansion)) {
        if (!names.empty()) names += ' ';
        names += item->name;
    }
    return names;
}

TEST(ItemColumns, TitlesAlignmentAndWidthsInIndexOrder) {
    const char* titles[ITEM_COLUMN_COUNT] = {"データ型", "No", "レベル", "項目名", "宣言", "桁数", "小数部桁数", "バイト",
                                             "属性", "再定義(REDEFINES)", "配列数", "要素番号", "次元", "相対位置", "備考"};
    const int widths[ITEM_COLUMN_COUNT] = {0, 40, 30, 135, 55, 50, 50, 50, 60, 135, 50, 50, 35, 50, 110};
    const std::string alignments = "LRRLCRRRLLRRRRL";
    for (int i = 0; i < ITEM_COLUMN_COUNT; ++i) {
        EXPECT_STREQ(titles[i], ITEM_COLUMNS[i].title) << i;
        EXPECT_EQ(widths[i], ITEM_COLUMNS[i].width) << i;
        ColumnAlignment expected = alignments[i] == 'L' ? COLUMN_LEFT : alignments[i] == 'R' ? COLUMN_RIGHT : COLUMN_CENTER;
        EXPECT_EQ(expected, ITEM_COLUMNS[i].alignment) << i;
    }
}

TEST(FormatItemRow, ElementaryItemFillsEveryColumn) {
    ItemList list;
    CopyItem* base = list.Add(5, "OLD-AREA");
    CopyItem* item = list.Add(5, "CUST-AMT", ITEM_NUMERIC | ITEM_SIGNED | USAGE_PACKED | ITEM_REDEFINES | ITEM_ARRAY);
    SetText(item->picture, "S9(7)V99");
    SetText(item->remark, "金額（税込）");
    item->digits = 9;
    item->scale = 2;
    item->byteLength = 5;
    item->redefines = base;
    item->occursCount = 3;
    item->elementNo = 2;
    item->dimension = 1;
    item->position = 121;
    std::vector<std::string> expected = {"数値", "7", "05", "CUST-AMT", "S9(7)V99", "9", "2", "5", "PACK",
                                         "OLD-AREA", "3", "2", "1", "121", "金額（税込）"};
    EXPECT_EQ(expected, Row(item, 7));
}

TEST(FormatItemRow, ZeroIsBlankOnlyInScaleOccursElementAndDimension) {
    ItemList list;
    CopyItem* item = list.Add(1, "");
    std::vector<std::string> cells = Row(item);
    EXPECT_EQ("", cells[0]);    // no category flag
    EXPECT_EQ("01", cells[2]);
    EXPECT_EQ("", cells[3]);    // unnamed entry
    EXPECT_EQ("GF", cells[4]);  // no picture
    EXPECT_EQ("0", cells[5]);
    EXPECT_EQ("", cells[6]);
    EXPECT_EQ("0", cells[7]);
    EXPECT_EQ("", cells[8]);
    EXPECT_EQ("", cells[9]);
    EXPECT_EQ("", cells[10]);
    EXPECT_EQ("", cells[11]);
    EXPECT_EQ("", cells[12]);
    EXPECT_EQ("0", cells[13]);
    EXPECT_EQ("", cells[14]);
    // Negative numbers keep their sign; "%02d" of level 10 is "10".
    item->level = 10;
    item->scale = -2;
    item->dimension = -1;
    cells = Row(item);
    EXPECT_EQ("10", cells[2]);
    EXPECT_EQ("-2", cells[6]);
    EXPECT_EQ("-1", cells[12]);
}

TEST(FormatItemRow, CategoryLastMatchWinsInFlagOrder) {
    ItemList list;
    CopyItem* item = list.Add(5, "A");
    const struct { unsigned flags; const char* text; } cases[] = {
        {ITEM_NUMERIC, "数値"},
        {ITEM_ALPHANUMERIC, "文字"},
        {ITEM_NATIONAL, "2バイト文字"},
        {ITEM_BOOLEAN, "ビット"},
        {ITEM_GROUP, "集団項目"},
        {ITEM_GROUP | ITEM_NUMERIC | ITEM_BOOLEAN, "集団項目"},
        {ITEM_NUMERIC | ITEM_NATIONAL, "2バイト文字"},
        {ITEM_BOOLEAN | ITEM_ALPHANUMERIC, "ビット"},
        {USAGE_BINARY | ITEM_ARRAY, ""},
    };
    for (const auto& c : cases) {
        item->flags = c.flags;
        EXPECT_EQ(c.text, Row(item)[0]) << std::hex << c.flags;
    }
}

TEST(FormatItemRow, DeclarationChoosesFloatThenDoubleThenGfThenPicture) {
    ItemList list;
    CopyItem* item = list.Add(5, "F");
    SetText(item->picture, "X(10)");
    EXPECT_EQ("X(10)", Row(item)[4]);
    item->flags = USAGE_DOUBLE;
    EXPECT_EQ("倍精度", Row(item)[4]);
    item->flags = USAGE_FLOAT | USAGE_DOUBLE;
    EXPECT_EQ("単精度", Row(item)[4]);
    item->flags = ITEM_GROUP;
    item->picture[0] = '\0';
    EXPECT_EQ("GF", Row(item)[4]);
}

TEST(FormatItemRow, UsageFirstMatchIsNotFlagOrder) {
    ItemList list;
    CopyItem* item = list.Add(5, "U");
    const struct { unsigned flags; const char* text; } cases[] = {
        {USAGE_BINARY | USAGE_PACKED | USAGE_COMP5, "BINARY"},
        {USAGE_PACKED | USAGE_COMP5, "PACK"},
        {USAGE_COMP5 | USAGE_BIT, "COMP-5"},
        {USAGE_BIT | USAGE_FLOAT, "BIT"},
        {USAGE_FLOAT | USAGE_DOUBLE | ITEM_NUMERIC, "FLOAT"},
        {USAGE_DOUBLE | ITEM_NUMERIC, "DOUBLE"},
        {ITEM_NUMERIC | ITEM_SIGNED | ITEM_ARRAY | ITEM_REDEFINES | ITEM_LIST_END, ""},
    };
    for (const auto& c : cases) {
        item->flags = c.flags;
        EXPECT_EQ(c.text, Row(item)[8]) << std::hex << c.flags;
    }
}

TEST(FormatItemRow, ComputationalItems) {
    ItemList list;
    CopyItem* single = list.Add(5, "S", ITEM_NUMERIC | USAGE_FLOAT);
    CopyItem* twice = list.Add(5, "D", ITEM_NUMERIC | USAGE_DOUBLE);
    std::vector<std::string> cells = Row(single);
    EXPECT_EQ("数値", cells[0]);
    EXPECT_EQ("単精度", cells[4]);
    EXPECT_EQ("FLOAT", cells[8]);
    cells = Row(twice);
    EXPECT_EQ("数値", cells[0]);
    EXPECT_EQ("倍精度", cells[4]);
    EXPECT_EQ("DOUBLE", cells[8]);
}

TEST(FormatItemRow, UnterminatedTextFieldsAreCutAt63Bytes) {
    ItemList list;
    CopyItem* target = list.Add(1, "");
    CopyItem* item = list.Add(5, "");
    std::memset(item->name, 'N', sizeof item->name);
    std::memset(item->remark, 'R', sizeof item->remark);
    std::memset(item->picture, 'X', sizeof item->picture);
    std::memset(target->name, 'T', sizeof target->name);
    item->redefines = target;
    std::vector<std::string> cells = Row(item);
    EXPECT_EQ(std::string(63, 'N'), cells[3]);
    EXPECT_EQ(std::string(63, 'X'), cells[4]);
    EXPECT_EQ(std::string(63, 'T'), cells[9]);
    EXPECT_EQ(std::string(63, 'R'), cells[14]);
}

TEST(ShownItemRule, FlatListAndEmptyList) {
    EXPECT_EQ(nullptr, FirstShownItem(static_cast<const CopyItem*>(nullptr), false));
    EXPECT_EQ(0, CountShownItems(nullptr, true));
    ItemList list;
    list.Add(1, "REC", ITEM_GROUP);
    list.Add(5, "A");
    list.Add(5, "B")->flags |= ITEM_LIST_END;
    EXPECT_EQ("REC A B", ShownNames(list.Head(), false));
    EXPECT_EQ("REC A B", ShownNames(list.Head(), true));
    EXPECT_EQ(nullptr, NextShownItem(static_cast<const CopyItem*>(nullptr), false));
}

// 01 REC. 05 G OCCURS 3. 10 X. 05 Z. after expansion: G(1) X(1) G(2) X(2) G(3) X(3), Z.
TEST(ShownItemRule, ArrayCopiesHiddenUnlessExpanded) {
    ItemList list;
    list.Add(1, "REC", ITEM_GROUP);
    for (int element = 1; element <= 3; ++element) {
        CopyItem* g = list.Add(5, ("G" + std::to_string(element)).c_str(), ITEM_GROUP | ITEM_ARRAY);
        g->elementNo = element;
        g->occursCount = 3;
        list.Add(10, ("X" + std::to_string(element)).c_str(), ITEM_ALPHANUMERIC | ITEM_ARRAY)->elementNo = element;
    }
    list.Add(5, "Z", ITEM_ALPHANUMERIC | ITEM_LIST_END);
    EXPECT_EQ("REC G1 X1 Z", ShownNames(list.Head(), false));
    EXPECT_EQ("REC G1 X1 G2 X2 G3 X3 Z", ShownNames(list.Head(), true));
    EXPECT_EQ(4, CountShownItems(list.Head(), false));

    // Row numbers count shown rows only.
    ItemRowTable table(list.Head(), false);
    ASSERT_EQ(4, table.RowCount());
    EXPECT_STREQ("Z", table.Cell(3, COLUMN_NAME));
    EXPECT_STREQ("4", table.Cell(3, COLUMN_NO));
    table.Fill(list.Head(), true);
    ASSERT_EQ(8, table.RowCount());
    EXPECT_STREQ("G3", table.Cell(5, COLUMN_NAME));
    EXPECT_STREQ("6", table.Cell(5, COLUMN_NO));
    EXPECT_STREQ("3", table.Cell(5, 11));
}

// 01 R. 05 G OCCURS 2. 10 H OCCURS 3. 15 X. 05 Z. The last item before expansion is Z,
// which carries ITEM_LIST_END; copies after it are never shown with expansion off.
TEST(ShownItemRule, NestedArraysLookOnlyAtTheInnermostElementNumber) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    for (int g = 1; g <= 2; ++g) {
        list.Add(5, ("G" + std::to_string(g)).c_str(), ITEM_GROUP | ITEM_ARRAY)->elementNo = g;
        for (int h = 1; h <= 3; ++h) {
            std::string suffix = std::to_string(g) + std::to_string(h);
            list.Add(10, ("H" + suffix).c_str(), ITEM_GROUP | ITEM_ARRAY)->elementNo = h;
            list.Add(15, ("X" + suffix).c_str(), ITEM_ALPHANUMERIC | ITEM_ARRAY)->elementNo = h;
        }
    }
    list.Add(5, "Z", ITEM_LIST_END);
    EXPECT_EQ("R G1 H11 X11 H21 X21 Z", ShownNames(list.Head(), false));
    EXPECT_EQ(16, CountShownItems(list.Head(), true));
}

TEST(ShownItemRule, ListEndStopsTheWalkOnlyWithExpansionOff) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    list.Add(5, "A", ITEM_ARRAY | ITEM_LIST_END)->elementNo = 1;
    list.Add(5, "A2", ITEM_ARRAY)->elementNo = 2;
    list.Add(5, "LATE", ITEM_ARRAY)->elementNo = 1;   // would be shown if the walk went on
    list.Add(5, "ZERO");
    EXPECT_EQ("R A", ShownNames(list.Head(), false));
    EXPECT_EQ("R A A2 LATE ZERO", ShownNames(list.Head(), true));
}

TEST(ShownItemRule, HeadThatIsAnElementCopyIsSkipped) {
    ItemList list;
    list.Add(5, "C2")->elementNo = 2;
    list.Add(5, "B");
    EXPECT_EQ("B", ShownNames(list.Head(), false));
    EXPECT_EQ("C2 B", ShownNames(list.Head(), true));
}

TEST(StatusText, RecordLengthRightAlignedInTenColumns) {
    char text[256];
    FormatRecordLengthLine(120, text, sizeof text);
    EXPECT_STREQ("レコード長 :        120Byte", text);
    FormatRecordLengthLine(1234567, text, sizeof text);
    EXPECT_STREQ("レコード長 :    1234567Byte", text);
    FormatRecordLengthLine(12345678901UL & 0xFFFFFFFFUL, text, sizeof text);
    EXPECT_EQ(std::string("レコード長 : ").size() + 14, std::strlen(text));

    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    FormatStatusText(list.Head(), 0, text, sizeof text);
    EXPECT_STREQ("レコード長 :          0Byte", text);
    FormatStatusText(nullptr, 120, text, sizeof text);
    EXPECT_STREQ("", text);
}

TEST(StatusText, WindowTitle) {
    char title[300];
    FormatWindowTitle("C:\\copy\\CUST.cpy", title, sizeof title);
    EXPECT_STREQ("C:\\copy\\CUST.cpy - Quillbox", title);
}

}  // namespace
