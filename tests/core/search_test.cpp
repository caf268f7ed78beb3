// The item search: containment, the row test, the scans and where F3 and Shift+F3 begin.
#include <gtest/gtest.h>

#include <string>

#include "item_list.h"

namespace {

// Rows with the given name and remark; every other cell holds a decoy text.
ItemRowTable Table(std::initializer_list<std::pair<const char*, const char*>> rows) {
    ItemRowTable table;
    for (const auto& row : rows) {
        const char* cells[ITEM_COLUMN_COUNT];
        for (const char*& cell : cells) cell = "DECOY";
        cells[COLUMN_NAME] = row.first;
        cells[COLUMN_REMARK] = row.second;
        table.AddRow(cells);
    }
    return table;
}

TEST(FindTextNoCase, LatinLettersFoldOtherCharactersMustBeEqual) {
    EXPECT_NE(nullptr, FindTextNoCase("CUST-NO", "cust"));
    EXPECT_NE(nullptr, FindTextNoCase("cust-no", "ST-N"));
    EXPECT_EQ(nullptr, FindTextNoCase("CUST-NO", "custx"));
    EXPECT_NE(nullptr, FindTextNoCase("顧客コード", "コード"));
    EXPECT_EQ(nullptr, FindTextNoCase("ＣＵＳＴ", "ｃｕｓｔ"));   // full-width letters are not folded
    EXPECT_EQ(nullptr, FindTextNoCase("ｱｲｳ", "ｱｲｴ"));
    const char* text = "AB";
    EXPECT_EQ(text + 1, FindTextNoCase(text, "b"));
}

TEST(FindTextNoCase, MatchesOnlyAtCharacterBoundaries) {
    // "ア" is 83 41: its second byte is "A" and must neither match "a" nor start a match.
    EXPECT_EQ(nullptr, FindTextNoCase("ア", "A"));
    EXPECT_EQ(nullptr, FindTextNoCase("ア", "a"));
    EXPECT_NE(nullptr, FindTextNoCase("アA", "a"));
    // Second bytes are never folded: "ア" (83 41) and "ヂ" (83 61) differ like "A" and "a".
    EXPECT_EQ(nullptr, FindTextNoCase("ヂ", "ア"));
    // A backslash-looking second byte ("ソ" is 83 5C) does not match a real backslash.
    EXPECT_EQ(nullptr, FindTextNoCase("ソ", "\\"));
}

TEST(RowMatches, NameThenRemarkOtherColumnsNever) {
    ItemRowTable table = Table({{"CUST-NO", ""}, {"AMT", "顧客番号の控え"}, {"CODE", "x"}});
    EXPECT_TRUE(RowMatches(table, 0, "cust"));
    EXPECT_TRUE(RowMatches(table, 1, "顧客"));
    EXPECT_FALSE(RowMatches(table, 2, "decoy"));   // picture, REDEFINES and the rest are not searched
    EXPECT_EQ(2, FindForward(table, 0, "顧客"));
    EXPECT_EQ(-1, FindForward(table, 0, "DECOY"));
}

TEST(FindForwardBackward, StartIndexIsIncludedForwardAndExcludedBackward) {
    ItemRowTable table = Table({{"HIT", ""}, {"X", ""}, {"HIT", ""}, {"Y", ""}});
    EXPECT_EQ(1, FindForward(table, 0, "hit"));
    EXPECT_EQ(3, FindForward(table, 1, "hit"));
    EXPECT_EQ(3, FindForward(table, 2, "hit"));
    EXPECT_EQ(-1, FindForward(table, 3, "hit"));
    EXPECT_EQ(-1, FindForward(table, 99, "hit"));
    EXPECT_EQ(3, FindBackward(table, 4, "hit"));
    EXPECT_EQ(1, FindBackward(table, 2, "hit"));
    EXPECT_EQ(-1, FindBackward(table, 0, "hit"));
    EXPECT_EQ(3, FindBackward(table, 99, "hit"));
}

// F3: the first row is searched when nothing is selected and after the notice about the
// last row, so a match in the first row is never missed.
TEST(FindNextStart, FromTheFirstRowWhenNothingIsSelectedOrAfterWrapping) {
    ItemRowTable table = Table({{"ONLY-FIRST", ""}, {"B", ""}, {"C", ""}});
    SearchStart start = PlanFindNext(3, -1);
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(1, FindForward(table, start.startIndex, "only"));

    start = PlanFindNext(3, 2);   // the last row is selected
    EXPECT_TRUE(start.wrapNotice);
    EXPECT_EQ(1, FindForward(table, start.startIndex, "only"));
    EXPECT_EQ(0, start.afterNumber);

    start = PlanFindNext(3, 0);   // after the first row
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(1, start.startIndex);
    EXPECT_EQ(1, start.afterNumber);
    EXPECT_EQ(-1, FindForward(table, start.startIndex, "only"));

    start = PlanFindNext(0, -1);  // empty table: no notice, nothing found after No.0
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(0, start.afterNumber);
}

// Shift+F3: the last row is searched when nothing is selected and after the notice about
// the first row.
TEST(FindPreviousStart, FromTheLastRowIncludedWhenNothingIsSelectedOrAfterWrapping) {
    ItemRowTable table = Table({{"A", ""}, {"B", ""}, {"ONLY-LAST", ""}});
    SearchStart start = PlanFindPrevious(3, -1);
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(3, FindBackward(table, start.startIndex, "only"));
    EXPECT_EQ(4, start.afterNumber);

    start = PlanFindPrevious(3, 0);   // the first row is selected
    EXPECT_TRUE(start.wrapNotice);
    EXPECT_EQ(3, FindBackward(table, start.startIndex, "only"));
    EXPECT_EQ(4, start.afterNumber);

    start = PlanFindPrevious(3, 2);   // before the last row
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(3, start.afterNumber);
    EXPECT_EQ(-1, FindBackward(table, start.startIndex, "only"));
    EXPECT_EQ(1, FindBackward(table, start.startIndex, "a"));

    start = PlanFindPrevious(0, -1);  // empty table: no notice, nothing found before No.1
    EXPECT_FALSE(start.wrapNotice);
    EXPECT_EQ(1, start.afterNumber);
}

TEST(FindNextStart, RepeatedF3WalksEveryMatchAndWraps) {
    ItemRowTable table = Table({{"E", ""}, {"X", ""}, {"E", ""}, {"E", ""}});
    std::string visited;
    int selected = -1;
    for (int step = 0; step < 5; ++step) {
        SearchStart start = PlanFindNext(table.RowCount(), selected);
        if (start.wrapNotice) visited += "| ";
        int found = FindForward(table, start.startIndex, "e");
        ASSERT_NE(-1, found);
        visited += std::to_string(found) + " ";
        selected = found - 1;
    }
    EXPECT_EQ("1 3 4 | 1 3 ", visited);
}

TEST(SearchMessages, Texts) {
    char text[512];
    FormatSearchNotFound("ABC", text, sizeof text);
    EXPECT_STREQ("\"ABC\"は見つかりませんでした。", text);
    FormatFindNotFound(true, 0, "顧客", text, sizeof text);
    EXPECT_STREQ("No.0より後で\"顧客\"は見つかりませんでした。", text);
    FormatFindNotFound(false, 4, "x", text, sizeof text);
    EXPECT_STREQ("No.4より前で\"x\"は見つかりませんでした。", text);
    EXPECT_STREQ("最後の行が選択されています。\n検索開始位置を先頭に戻します。", SEARCH_LAST_ROW_NOTICE);
    EXPECT_STREQ("最初の行が選択されています。\n検索開始位置を最後に戻します。", SEARCH_FIRST_ROW_NOTICE);
    EXPECT_STREQ("検索", SEARCH_CAPTION);
}

}  // namespace
