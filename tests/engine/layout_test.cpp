// The layout passes: array expansion, tree links, dimensions, element and serial
// numbers, group and record lengths, positions, and the size limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_util.h"

namespace {

using enginetest::AnalyzeEntries;
using enginetest::ExpectRaise;
using enginetest::Items;

// One expected row: name, element number, position, length, dimension.
struct Row {
    const char* name;
    int elementNo;
    int position;
    int byteLength;
    int dimension;
};

void ExpectRows(CopyItem* head, const std::vector<Row>& rows) {
    const std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(rows.size(), items.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i + 1));
        EXPECT_STREQ(rows[i].name, items[i]->name);
        EXPECT_EQ(rows[i].elementNo, items[i]->elementNo);
        EXPECT_EQ(rows[i].position, items[i]->position);
        EXPECT_EQ(rows[i].byteLength, items[i]->byteLength);
        EXPECT_EQ(rows[i].dimension, items[i]->dimension);
        EXPECT_EQ(static_cast<int>(i + 1), items[i]->serialNo);
    }
}

TEST(Layout, ElementaryArray) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"01 R.", "05 A PIC X(3) OCCURS 2.", "05 B PIC 9(2)."});
    ExpectRows(head, {{"R", 0, 1, 8, 0}, {"A", 1, 1, 3, 1}, {"A", 2, 4, 3, 1}, {"B", 0, 7, 2, 0}});
    EXPECT_EQ(8u, analyzer.GetRecordLength());
    EXPECT_EQ(4u, analyzer.GetItemCount());
    const std::vector<CopyItem*> items = Items(head);
    EXPECT_TRUE(items[1]->flags & ITEM_ARRAY);
    EXPECT_TRUE(items[2]->flags & ITEM_ARRAY);
    EXPECT_FALSE(items[3]->flags & ITEM_ARRAY);
    EXPECT_EQ(2, items[1]->occursCount);
    EXPECT_EQ(0, items[2]->occursCount);
    // All occurrences are siblings under the group.
    EXPECT_EQ(items[2], items[1]->nextSibling);
    EXPECT_EQ(items[3], items[2]->nextSibling);
    EXPECT_EQ(items[2], items[3]->prevSibling);
    EXPECT_EQ(items[0], items[2]->parent);
    EXPECT_EQ(items[1], items[0]->firstChild);
}

TEST(Layout, RepeatedGroup) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(
        analyzer, {"01 R.", "05 G OCCURS 2.", "10 X PIC X.", "10 Y PIC 9(2)."});
    ExpectRows(head, {{"R", 0, 1, 6, 0},
                      {"G", 1, 1, 3, 1}, {"X", 1, 1, 1, 1}, {"Y", 1, 2, 2, 1},
                      {"G", 2, 4, 3, 1}, {"X", 2, 4, 1, 1}, {"Y", 2, 5, 2, 1}});
    EXPECT_EQ(6u, analyzer.GetRecordLength());
    const std::vector<CopyItem*> items = Items(head);
    EXPECT_EQ(items[4], items[5]->parent);
    EXPECT_EQ(items[4], items[1]->nextSibling);
    EXPECT_EQ(nullptr, items[3]->nextSibling);
}

TEST(Layout, NestedArraysNumberEachLevel) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"05 G OCCURS 2.", "10 A PIC X OCCURS 3."});
    ExpectRows(head, {{"G", 1, 1, 3, 1}, {"A", 1, 1, 1, 2}, {"A", 2, 2, 1, 2}, {"A", 3, 3, 1, 2},
                      {"G", 2, 4, 3, 1}, {"A", 1, 4, 1, 2}, {"A", 2, 5, 1, 2}, {"A", 3, 6, 1, 2}});
    EXPECT_EQ(6u, analyzer.GetRecordLength());

    // Three levels, with an item of the outer occurrence behind the inner arrays.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 G OCCURS 2.", "10 H OCCURS 2.",
                                     "15 A PIC X OCCURS 2.", "10 T PIC X.", "05 E PIC X."});
    std::vector<int> elements, dimensions, positions;
    for (CopyItem* item : Items(head)) {
        elements.push_back(item->elementNo);
        dimensions.push_back(item->dimension);
        positions.push_back(item->position);
    }
    // R, then per G: G, H, A, A, H, A, A, T; then E.
    EXPECT_EQ((std::vector<int>{0, 1, 1, 1, 2, 2, 1, 2, 1, 2, 1, 1, 2, 2, 1, 2, 2, 0}), elements);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 3, 2, 3, 3, 1, 1, 2, 3, 3, 2, 3, 3, 1, 0}), dimensions);
    EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 2, 3, 3, 4, 5, 6, 6, 6, 7, 8, 8, 9, 10, 11}), positions);
    EXPECT_EQ(11u, analyzer.GetRecordLength());
    EXPECT_EQ(18u, analyzer.GetItemCount());
}

TEST(Layout, ListEndMarksTheLastWrittenItem) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"01 R.", "05 A PIC X.", "05 B PIC X OCCURS 3."});
    std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(5u, items.size());
    EXPECT_FALSE(items[0]->flags & ITEM_LIST_END);
    EXPECT_FALSE(items[1]->flags & ITEM_LIST_END);
    EXPECT_TRUE(items[2]->flags & ITEM_LIST_END);
    // Copies repeat the flags of the item they copy.
    EXPECT_TRUE(items[4]->flags & ITEM_LIST_END);

    head = AnalyzeEntries(analyzer, {"01 R.", "05 G OCCURS 2.", "10 A PIC X.", "05 B PIC X."});
    items = Items(head);
    ASSERT_EQ(6u, items.size());
    for (std::size_t i = 0; i + 1 < items.size(); ++i) EXPECT_FALSE(items[i]->flags & ITEM_LIST_END);
    EXPECT_TRUE(items[5]->flags & ITEM_LIST_END);
}

TEST(Layout, RedefinesPositions) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"05 A PIC X(4).", "05 B REDEFINES A PIC 9(4).", "05 D PIC X."});
    ExpectRows(head, {{"A", 0, 1, 4, 0}, {"B", 0, 1, 4, 0}, {"D", 0, 5, 1, 0}});
    EXPECT_EQ(5u, analyzer.GetRecordLength());

    head = AnalyzeEntries(analyzer, {"05 A PIC X(6).", "05 B REDEFINES A.", "10 B1 PIC X(2).",
                                     "10 B2 PIC X(4).", "05 D PIC X."});
    ExpectRows(head, {{"A", 0, 1, 6, 0}, {"B", 0, 1, 6, 0}, {"B1", 0, 1, 2, 0},
                      {"B2", 0, 3, 4, 0}, {"D", 0, 7, 1, 0}});
    EXPECT_EQ(7u, analyzer.GetRecordLength());
}

TEST(Layout, PositionsResumeAfterARedefiningGroup) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"01 R.", "05 G.", "10 A PIC X(6).", "10 B REDEFINES A.",
                                               "15 B1 PIC X(2).", "05 D PIC X."});
    ExpectRows(head, {{"R", 0, 1, 7, 0}, {"G", 0, 1, 6, 0}, {"A", 0, 1, 6, 0}, {"B", 0, 1, 2, 0},
                      {"B1", 0, 1, 2, 0}, {"D", 0, 7, 1, 0}});
    EXPECT_EQ(7u, analyzer.GetRecordLength());

    // A redefining group inside a redefining group.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 A PIC X(8).", "05 B REDEFINES A.", "10 B1 PIC X(4).",
                                     "10 B2 REDEFINES B1.", "15 B21 PIC X(2).", "15 B22 PIC X(2).",
                                     "10 B3 PIC X(4).", "05 D PIC X."});
    std::vector<int> positions;
    for (CopyItem* item : Items(head)) positions.push_back(item->position);
    EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 1, 1, 3, 5, 9}), positions);
    EXPECT_EQ(9u, analyzer.GetRecordLength());
}

TEST(Layout, RedefinesInsideARepeatedGroup) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"05 G OCCURS 2.", "10 A PIC X(2).", "10 B REDEFINES A PIC 9(2)."});
    const std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(6u, items.size());
    EXPECT_EQ(items[1], items[2]->redefines);
    EXPECT_EQ(items[4], items[5]->redefines);
    EXPECT_TRUE(items[5]->flags & ITEM_REDEFINES);
    EXPECT_EQ(1, items[2]->position);
    EXPECT_EQ(3, items[4]->position);
    EXPECT_EQ(3, items[5]->position);
    EXPECT_EQ(2, items[0]->byteLength);
    EXPECT_EQ(4u, analyzer.GetRecordLength());

    // A redefined group with an array inside, all in a repeated group; names in any case.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 G OCCURS 3.", "10 K PIC X(4).", "10 W REDEFINES k.",
                                     "15 W1 PIC X OCCURS 4.", "10 T PIC X."});
    std::vector<int> positions;
    for (CopyItem* item : Items(head)) {
        positions.push_back(item->position);
        if (std::strcmp(item->name, "W") == 0) {
            ASSERT_NE(nullptr, item->redefines);
            EXPECT_EQ(item->prev, item->redefines);
        }
    }
    EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 1, 2, 3, 4, 5,
                                6, 6, 6, 6, 7, 8, 9, 10,
                                11, 11, 11, 11, 12, 13, 14, 15}),
              positions);
    EXPECT_EQ(15u, analyzer.GetRecordLength());
    EXPECT_EQ(15, head->byteLength);
}

TEST(Layout, RepeatedRedefiningGroupIsRefused) {
    CopyAnalyzer analyzer("");
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"05 A PIC X(4).", "05 B REDEFINES A OCCURS 2.", "10 C PIC X(2)."}); }, "CException",
                "REDEFINES項目がおかしい・・・？");
    // Items copied before the failure stay in the list until it is freed.
    ASSERT_NE(nullptr, analyzer.GetHead());
    analyzer.FreeItems();

    // Accepted when an item of the target's name lies among the group's own subordinates.
    CopyItem* head = AnalyzeEntries(analyzer, {"05 A PIC X(4).", "05 B REDEFINES A OCCURS 2.", "10 A PIC X(2)."});
    const std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ(items[0], items[1]->redefines);
    EXPECT_EQ(items[2], items[3]->redefines);
}

TEST(Layout, ElementaryArrayThatRedefines) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {"05 A PIC X(4).", "05 B REDEFINES A PIC X OCCURS 4.", "05 C PIC X."});
    const std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(6u, items.size());
    std::vector<int> positions;
    for (CopyItem* item : items) positions.push_back(item->position);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 3, 4, 5}), positions);
    EXPECT_EQ(5u, analyzer.GetRecordLength());
    EXPECT_EQ(items[0], items[1]->redefines);
    for (int i = 2; i <= 4; ++i) {
        EXPECT_TRUE(items[i]->flags & ITEM_REDEFINES);
        EXPECT_EQ(nullptr, items[i]->redefines);
        EXPECT_EQ(i, items[i]->elementNo);
    }

    // The same inside a repeated group: each occurrence of G holds its own copies.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 G OCCURS 2.", "10 A PIC X(4).",
                                     "10 B REDEFINES A PIC X OCCURS 4.", "10 C PIC X."});
    positions.clear();
    for (CopyItem* item : Items(head)) positions.push_back(item->position);
    EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 2, 3, 4, 5, 6, 6, 6, 7, 8, 9, 10}), positions);
    EXPECT_EQ(10u, analyzer.GetRecordLength());
    EXPECT_EQ(10, head->byteLength);
}

TEST(Layout, TreeLinksFollowLevels) {
    CopyAnalyzer analyzer("");
    // Items 05 A, 01 B, 05 D: D is no sibling of A, and nothing after B is linked.
    CopyItem* head = AnalyzeEntries(analyzer, {"05 A PIC X.", "01 B.", "05 D PIC X."});
    std::vector<CopyItem*> items = Items(head);
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(nullptr, items[0]->nextSibling);
    EXPECT_EQ(nullptr, items[2]->prevSibling);
    EXPECT_EQ(nullptr, items[2]->parent);
    EXPECT_EQ(nullptr, items[1]->firstChild);

    // Siblings skip over deeper items and stop at a shallower one.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 A.", "10 A1 PIC X.", "05 B PIC X.", "01 S.",
                                     "05 C PIC X."});
    items = Items(head);
    EXPECT_EQ(items[3], items[1]->nextSibling);
    EXPECT_EQ(items[1], items[3]->prevSibling);
    EXPECT_EQ(nullptr, items[3]->nextSibling);
    EXPECT_EQ(items[4], items[0]->nextSibling);
    EXPECT_EQ(items[4], items[5]->parent);
    EXPECT_EQ(items[1], items[2]->parent);
    EXPECT_EQ(items[0], items[3]->parent);
    EXPECT_EQ(nullptr, items[4]->parent);
    EXPECT_EQ(3u, analyzer.GetRecordLength());
    EXPECT_EQ(2, items[0]->byteLength);
    EXPECT_EQ(3, items[5]->position);

    // An item whose level lies between a group's and its subordinates' also becomes a
    // child of the group, and the group's first child from then on.
    head = AnalyzeEntries(analyzer, {"01 R.", "05 G COMP-3.", "10 A PIC 9(3).", "07 B PIC 9(3).",
                                     "05 C PIC 9(3)."});
    items = Items(head);
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ(items[1], items[2]->parent);
    EXPECT_EQ(items[1], items[3]->parent);
    EXPECT_EQ(items[3], items[1]->firstChild);
    EXPECT_EQ(items[4], items[1]->nextSibling);
    EXPECT_TRUE(items[3]->flags & USAGE_PACKED);
    EXPECT_FALSE(items[4]->flags & USAGE_PACKED);
    EXPECT_EQ(2, items[1]->byteLength);
    EXPECT_EQ(7u, analyzer.GetRecordLength());
}

TEST(Layout, SizeLimits) {
    CopyAnalyzer analyzer("");
    // Expansion past 8,388,608 items is refused before anything is copied.
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"01 R.", "05 A PIC X OCCURS 9000000."}); }, "CMemoryException", "メモリの確保に失敗しました。");
    analyzer.FreeItems();
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"01 R.", "05 G OCCURS 3000.", "10 A PIC X OCCURS 3000."}); }, "CMemoryException", "メモリの確保に失敗しました。");
    analyzer.FreeItems();

    ExpectRaise([&] { AnalyzeEntries(analyzer, {"01 R.", "05 A PIC X(2000000000).", "05 B PIC X(200000000)."}); }, "CException",
                "レコード長が大きすぎます。");
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"05 A PIC X(2000000000).", "05 B PIC X(200000000)."}); }, "CException",
                "レコード長が大きすぎます。");
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"05 A PIC X(1000000) OCCURS 3000."}); }, "CException",
                "レコード長が大きすぎます。");
    // A redefining item lies inside the record but may still reach past its end.
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"05 A PIC X(2147483000).", "05 B PIC X(600).",
                                                "05 C REDEFINES B PIC X(2000)."}); }, "CException",
                "レコード長が大きすぎます。");

    // Exactly the largest length is accepted.
    CopyItem* head = AnalyzeEntries(analyzer, {"05 A PIC X(2147483646).", "05 B PIC X."});
    EXPECT_EQ(2147483647u, analyzer.GetRecordLength());
    EXPECT_EQ(2147483647, head->next->position);
}

// Reaches the list and its end for passes run on lists built item by item.
class ListAnalyzer : public CopyAnalyzer {
public:
    ListAnalyzer() : CopyAnalyzer("") {}
    CopyItem* Add(int level, const char* name, int digits, int occurs = 0, unsigned flags = ITEM_ALPHANUMERIC) {
        CopyItem* item = NewItem();
        item->level = level;
        std::strcpy(item->name, name);
        item->digits = digits;
        item->occursCount = occurs;
        item->flags = flags | (occurs ? ITEM_ARRAY : 0);
        item->dimension = occurs ? -1 : 0;
        AppendItem(item);
        return item;
    }
    CopyItem* Head() const { return head; }
    CopyItem* Tail() const { return tail; }
};

TEST(Layout, ExpansionKeepsTheListEndInStep) {
    ListAnalyzer analyzer;
    analyzer.Add(1, "R", 0, 0, ITEM_GROUP);
    analyzer.Add(5, "G", 0, 3, ITEM_GROUP);
    analyzer.Add(10, "A", 1, 2);
    analyzer.ExpandArrays(analyzer.Head());
    std::vector<CopyItem*> items = Items(analyzer.Head());
    ASSERT_EQ(10u, items.size());
    EXPECT_EQ(items.back(), analyzer.Tail());
    for (std::size_t i = 1; i < items.size(); ++i) EXPECT_EQ(items[i - 1], items[i]->prev);

    CopyItem* extra = analyzer.NewItem();
    analyzer.AppendItem(extra);
    EXPECT_EQ(items.back(), extra->prev);
    EXPECT_EQ(extra, analyzer.Tail());
}

TEST(Layout, FailedCopyLeavesASoundList) {
    ListAnalyzer analyzer;
    analyzer.Add(1, "R", 0, 0, ITEM_GROUP);
    analyzer.Add(5, "A", 1, 5);
    analyzer.Add(5, "B", 1, 0);
    FailAllocationAfter(2);
    ExpectRaise([&] { analyzer.ExpandArrays(analyzer.Head()); }, "CMemoryException", "メモリの確保に失敗しました。");
    FailAllocationAfter(-1);
    const std::vector<CopyItem*> items = Items(analyzer.Head());
    ASSERT_EQ(5u, items.size());
    EXPECT_STREQ("B", items.back()->name);
    EXPECT_EQ(items.back(), analyzer.Tail());
    for (std::size_t i = 1; i < items.size(); ++i) EXPECT_EQ(items[i - 1], items[i]->prev);
}

TEST(Layout, ComputedOnceMoreAfterFreeing) {
    CopyAnalyzer analyzer("");
    const std::vector<std::string> copybook = {"01 R.", "05 G OCCURS 2.", "10 A PIC X(2).",
                                               "10 B REDEFINES A PIC 9(2).", "05 C PIC S9(3) COMP-3."};
    std::vector<std::string> first, second;
    for (CopyItem* item : Items(AnalyzeEntries(analyzer, copybook)))
        first.push_back(std::string(item->name) + ":" + std::to_string(item->position) + ":" +
                        std::to_string(item->byteLength) + ":" + std::to_string(item->elementNo));
    for (CopyItem* item : Items(AnalyzeEntries(analyzer, copybook)))
        second.push_back(std::string(item->name) + ":" + std::to_string(item->position) + ":" +
                         std::to_string(item->byteLength) + ":" + std::to_string(item->elementNo));
    EXPECT_EQ(first, second);
    EXPECT_EQ(6u, analyzer.GetRecordLength());
}

}  // namespace
