// The analysis object: item list primitives, file name, analysis entry and its states.
#include "engine_test_util.h"

using enginetest::ExpectRaise;
using enginetest::Items;
using enginetest::ProbeAnalyzer;
using enginetest::TempCopybook;

TEST(ItemList, NewItemIsEmpty) {
    ProbeAnalyzer a;
    CopyItem* item = a.NewItem();
    CopyItem zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(0, std::memcmp(&zero, item, sizeof zero));
    std::memset(item, 0x5A, sizeof *item);
    EXPECT_EQ(item, a.InitItem(item));
    EXPECT_EQ(0, item->level + item->position + item->scale + static_cast<int>(item->flags));
    EXPECT_STREQ("", item->remark);
    EXPECT_EQ(nullptr, item->redefines);
    a.AppendItem(item);  // owned by the list from here on

    FailAllocationAfter(0);
    ExpectRaise([&] { a.NewItem(); }, "CMemoryException", "メモリの確保に失敗しました。");
    EXPECT_EQ(item, a.GetHead());
    EXPECT_EQ(nullptr, item->next);
}

TEST(ItemList, AppendAndInsert) {
    ProbeAnalyzer a;
    CopyItem* first = a.NewItem();
    a.AppendItem(first);
    EXPECT_EQ(first, a.GetHead());
    EXPECT_EQ(first, a.Tail());
    ExpectRaise([&] { a.InsertItemAfter(nullptr, first); }, "CException", "既にリストにあるノードを追加しようとしました。");
    CopyItem* last = a.NewItem();
    a.AppendItem(last);
    CopyItem* middle = a.NewItem();
    a.InsertItemAfter(first, middle);
    CopyItem* end = a.NewItem();
    a.InsertItemAfter(last, end);
    CopyItem* appended = a.NewItem();
    a.InsertItemAfter(nullptr, appended);
    std::vector<CopyItem*> expected = {first, middle, last, end, appended};
    EXPECT_EQ(expected, Items(a.GetHead()));
    EXPECT_EQ(appended, a.Tail());
    for (std::size_t i = 1; i < expected.size(); ++i) EXPECT_EQ(expected[i - 1], expected[i]->prev);
    EXPECT_EQ(nullptr, first->prev);

    CopyItem* loose = a.NewItem();
    loose->prev = first;
    ExpectRaise([&] { a.InsertItemAfter(last, loose); }, "CException", "既にリストにあるノードを追加しようとしました。");
    loose->prev = nullptr;
    loose->next = last;
    ExpectRaise([&] { a.InsertItemAfter(nullptr, loose); }, "CException", "既にリストにあるノードを追加しようとしました。");
    EXPECT_EQ(expected, Items(a.GetHead()));
    loose->next = nullptr;
    a.AppendItem(loose);
    a.FreeItems();
    EXPECT_EQ(nullptr, a.GetHead());
    EXPECT_EQ(nullptr, a.Tail());
}

TEST(FileName, StoreAndCopyOut) {
    std::string longName(300, 'n');
    ProbeAnalyzer a(longName.c_str());
    EXPECT_EQ(std::string(256, 'n'), a.FileName());
    EXPECT_TRUE(a.SetFileName(std::string(256, 'm').c_str()));
    EXPECT_FALSE(a.SetFileName(longName.c_str()));
    EXPECT_EQ(std::string(256, 'n'), a.FileName());
    a.SetFileName("abc.cpy");
    char buffer[16] = "zzzz";
    EXPECT_EQ(8, a.GetFileName(nullptr, 0));
    EXPECT_EQ(0, a.GetFileName(buffer, 0));
    EXPECT_EQ(-3, a.GetFileName(buffer, -3));
    EXPECT_STREQ("zzzz", buffer);
    EXPECT_EQ(0, a.GetFileName(buffer, 1));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(3, a.GetFileName(buffer, 4));
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ(7, a.GetFileName(buffer, 16));
    EXPECT_STREQ("abc.cpy", buffer);
}

TEST(CompareNoCase, FoldsAsciiLettersOnly) {
    EXPECT_EQ(0, CompareNoCase("Pic", "pIC"));
    EXPECT_NE(0, CompareNoCase("PIC", "PICTURE"));
    EXPECT_NE(0, CompareNoCase("COMP", "COMP-3"));
    EXPECT_EQ(0, CompareNoCase("\x83\x41", "\x83\x61"));  // also a second byte is folded
    EXPECT_NE(0, CompareNoCase("\xC1", "\xE1"));
    EXPECT_EQ(0, CompareNoCase("", ""));
}

namespace {

const char* kOrder =
    "000100 01 ORDER-REC.\n"
    "000200     05 ORDER-NO      PIC 9(8).\n"
    "000300     05 LINES OCCURS 2.\n"
    "000400        10 ITEM-CODE  PIC X(4).\n"
    "000500        10 QTY        PIC S9(5) COMP-3.  *> quantity\n"
    "000600     05 ALT REDEFINES LINES PIC X(14).\n"
    "000700     05 AMOUNT        PIC S9(7)V99 COMP.\n";

// The list as plain values, links as list indexes, so that two analyses compare.
std::vector<std::string> Snapshot(CopyItem* head) {
    std::vector<CopyItem*> items = Items(head);
    auto index = [&](CopyItem* p) {
        return std::to_string(p == nullptr ? -1 : std::find(items.begin(), items.end(), p) - items.begin());
    };
    std::vector<std::string> rows;
    for (CopyItem* i : items) {
        rows.push_back(std::to_string(i->level) + " " + std::to_string(i->dimension) + " " + std::to_string(i->digits) +
                       " " + std::to_string(i->byteLength) + " " + std::to_string(i->position) + " " +
                       std::to_string(i->serialNo) + " " + std::to_string(i->elementNo) + " " +
                       std::to_string(i->occursCount) + " " + std::to_string(i->scale) + " " + std::to_string(i->flags) +
                       " " + i->name + "|" + i->remark + "|" + i->picture + " " + index(i->parent) + index(i->firstChild) +
                       index(i->nextSibling) + index(i->prevSibling) + index(i->redefines));
    }
    return rows;
}

}  // namespace

TEST(Analyze, AgainAfterFreeItemsGivesTheSameList) {
    TempCopybook file(kOrder);
    ProbeAnalyzer a;
    a.SetFileName(file.Path());
    CopyItem* head = a.Analyze();
    EXPECT_EQ(head, a.GetHead());
    EXPECT_EQ(nullptr, a.Text());
    EXPECT_EQ(26u, a.GetRecordLength());
    EXPECT_EQ(10u, a.GetItemCount());
    std::vector<std::string> first = Snapshot(head);
    EXPECT_STREQ("quantity", Items(head)[4]->remark);
    a.FreeItems();
    EXPECT_EQ(nullptr, a.GetHead());
    EXPECT_EQ(26u, a.GetRecordLength());
    EXPECT_EQ(first, Snapshot(a.Analyze()));
    EXPECT_EQ(Items(a.GetHead()).back(), a.Tail());
}

TEST(Analyze, FailuresAndWhatTheyLeave) {
    for (const char* text : {"", "000100* only a comment\n", "000100 FD  IN-FILE.\n", "000100 .\n"}) {
        TempCopybook file(text);
        ProbeAnalyzer a(file.Path());
        ExpectRaise([&] { a.Analyze(); }, "CException", "COPY句として扱えない形式");
        EXPECT_EQ(nullptr, a.GetHead());
        EXPECT_EQ(nullptr, a.Text());
    }
    TempCopybook good(kOrder);
    ProbeAnalyzer a(good.Path());
    CopyItem* head = a.Analyze();
    a.SetFileName("no-such-dir/none.cpy");
    ExpectRaise([&] { a.Analyze(); }, "CFileException", "ファイルのオープンに失敗！！");
    EXPECT_EQ(head, a.GetHead());
    EXPECT_EQ(10u, Items(a.GetHead()).size());

    // A parse failure keeps the items so far and the joined text; the object is usable again.
    TempCopybook bad("000100 01 R.\n000200 05 A PIC X.\n000300 05 B PIC Q.\n");
    a.FreeItems();
    a.SetFileName(bad.Path());
    ExpectRaise([&] { a.Analyze(); }, "CException", "認識できないデータ型");
    EXPECT_EQ(3u, Items(a.GetHead()).size());
    EXPECT_NE(nullptr, a.Text());
    a.FreeItems();
    a.SetFileName(good.Path());
    EXPECT_EQ(26u, (a.Analyze(), a.GetRecordLength()));
}

TEST(Analyze, ObjectsThatNeverAnalysed) {
    ProbeAnalyzer unused;
    ProbeAnalyzer named("x.cpy");
    EXPECT_EQ(nullptr, unused.GetHead());
    EXPECT_EQ(0u, named.GetRecordLength());
    EXPECT_EQ(0u, named.GetItemCount());
}
