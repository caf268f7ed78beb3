// The entry parser: stages, keywords, clauses and every parser error.
#include <algorithm>

#include "engine_test_util.h"
#include "keywords.h"

using enginetest::ExpectRaise;
using enginetest::Items;
using enginetest::ProbeAnalyzer;

namespace {

// Picture analysers that tell which one ran (numeric 7 digits 2 decimals, signed 5 and 1,
// counting ones 10, 20, 30), and an end of entry that only counts its calls.
class StubAnalyzer : public ProbeAnalyzer {
public:
    int endCalls = 0;
    int AnalyzeNumericPicture(const char*) override { return 7 * 256 + 2; }
    int AnalyzeSignedPicture(const char*) override { return 5 * 256 + 1; }
    int AnalyzeAlphanumericPicture(const char*) override { return 10; }
    int AnalyzeNationalPicture(const char*) override { return 20; }
    int AnalyzeBooleanPicture(const char*) override { return 30; }
    char* EndEntry(CopyItem*, char* position) override {
        ++endCalls;
        while (*position != '\0' && *position != '\n') ++position;
        stage = 0;
        return position;
    }
};

std::string Lines(std::initializer_list<const char*> entries) {
    std::string text;
    for (const char* entry : entries) text += std::string("       ") + entry + "\n";
    return text;
}

CopyItem* One(StubAnalyzer& a, const char* entry) {
    a.FreeItems();
    CopyItem* head = a.Parsed(Lines({entry}));
    EXPECT_NE(nullptr, head);
    if (head != nullptr) {
        EXPECT_EQ(nullptr, head->next);
    }
    return head;
}

}  // namespace

TEST(ParseEntries, NamesPicturesAndCategories) {
    StubAnalyzer a;
    CopyItem* item = One(a, "01 REC.");
    EXPECT_EQ(1, item->level);
    EXPECT_STREQ("REC", item->name);
    EXPECT_EQ(ITEM_GROUP, item->flags);
    item = One(a, "05 a pic x(10).");
    EXPECT_STREQ("a", item->name);
    EXPECT_STREQ("x(10)", item->picture);
    EXPECT_EQ(ITEM_ALPHANUMERIC, item->flags);
    EXPECT_EQ(10, item->digits);
    EXPECT_STREQ("", One(a, "05 PIC 9(3).")->name);
    EXPECT_STREQ("FILLER", One(a, "05 FILLER PIC 9(3).")->name);
    item = One(a, "05 A PIC ZZ9.99.");
    EXPECT_EQ(ITEM_NUMERIC, item->flags);
    EXPECT_EQ(7, item->digits);
    EXPECT_EQ(2, item->scale);
    item = One(a, "05 A PIC s9(5)v9.");
    EXPECT_EQ(ITEM_NUMERIC | ITEM_SIGNED, item->flags);
    EXPECT_EQ(5, item->digits);
    EXPECT_EQ(1, item->scale);
    EXPECT_EQ(ITEM_NATIONAL, One(a, "05 A PICTURE G(3).")->flags);
    EXPECT_EQ(ITEM_BOOLEAN, One(a, "05 A PIC 1(8) BIT.")->flags & ITEM_BOOLEAN);
    // Names in Shift_JIS and tabs between words.
    item = One(a, "05\t顧客名\tPIC\tN(10).");
    EXPECT_STREQ("顧客名", item->name);
    EXPECT_STREQ("N(10)", item->picture);
    std::string longName(70, 'L');
    item = One(a, ("05 " + longName + " PIC X.").c_str());
    EXPECT_EQ(std::string(63, 'L'), item->name);
    EXPECT_EQ(10, a.endCalls);  // every entry ended, also where its period ends the line
}

TEST(ParseEntries, UsageAndOccursInEveryStage) {
    StubAnalyzer a;
    EXPECT_EQ(USAGE_PACKED | ITEM_NUMERIC | ITEM_SIGNED, One(a, "05 A PIC S9(5) COMP-3.")->flags);
    EXPECT_EQ(USAGE_PACKED | ITEM_NUMERIC | ITEM_SIGNED, One(a, "05 A COMP-3 PIC S9(5).")->flags);
    CopyItem* item = One(a, "05 A USAGE COMP-3 PIC S9(5).");
    EXPECT_EQ(USAGE_PACKED | ITEM_GROUP, item->flags);
    EXPECT_STREQ("", item->picture);
    for (const char* entry : {"05 A OCCURS 3 PIC X.", "05 A PIC X OCCURS 3."}) {
        item = One(a, entry);
        EXPECT_EQ(3, item->occursCount);
        EXPECT_EQ(-1, item->dimension);
        EXPECT_EQ(ITEM_ARRAY | ITEM_ALPHANUMERIC, item->flags);
    }
    item = One(a, "05 A OCCURS 3 TIMES PIC X.");
    EXPECT_EQ(ITEM_ARRAY | ITEM_GROUP, item->flags);
    EXPECT_STREQ("", item->picture);
    EXPECT_EQ(USAGE_FLOAT, One(a, "05 A COMP-1.")->flags);
    item = One(a, "05 A COMPUTATIONAL-2 OCCURS 2.");
    EXPECT_EQ(USAGE_DOUBLE | ITEM_ARRAY, item->flags);
    EXPECT_EQ(2, item->occursCount);
    // Keywords standing first leave the entry without a name.
    EXPECT_EQ(USAGE_BINARY | ITEM_GROUP, One(a, "05 comp.")->flags);
    item = One(a, "05 OCCURS 2 PIC X.");
    EXPECT_STREQ("", item->name);
    EXPECT_EQ(2, item->occursCount);
    EXPECT_EQ(USAGE_COMP5 | USAGE_BIT | ITEM_NUMERIC, One(a, "05 A PIC 9 COMP-5 BIT.")->flags);
}

TEST(ParseEntries, RedefinesFindsTheNearestEarlierName) {
    StubAnalyzer a;
    std::vector<CopyItem*> items = Items(a.Parsed(Lines({"05 A PIC X.", "05 a PIC X.", "05 B REDEFINES A PIC X.",
                                                         "05 C PIC X REDEFINES b.", "05 顧客 PIC X.",
                                                         "05 D REDEFINES 顧客."})));
    ASSERT_EQ(6u, items.size());
    EXPECT_EQ(items[1], items[2]->redefines);
    EXPECT_EQ(items[2], items[3]->redefines);
    EXPECT_EQ(items[4], items[5]->redefines);
    EXPECT_EQ(ITEM_REDEFINES | ITEM_GROUP, items[5]->flags);
    a.FreeItems();
    std::string longName(70, 'L');
    items = Items(a.Parsed(Lines({("05 " + longName + " PIC X.").c_str(),
                                  ("05 B REDEFINES " + longName + " PIC X.").c_str()})));
    EXPECT_EQ(items[0], items[1]->redefines);
}

// The REDEFINES target found through the name index is the item the backward walk
// gives, whatever came between: later items of the same name in either case, lines
// that leave no item, a second REDEFINES clause in one entry, and a new parse.
TEST(ParseEntries, RedefinesIndexGivesTheItemOfTheBackwardWalk) {
    StubAnalyzer a;
    std::vector<CopyItem*> items = Items(a.Parsed(Lines({"05 A PIC X.", "05 B REDEFINES A PIC X.", ".",
                                                         "05 a PIC X.", "05 C REDEFINES A PIC X.",
                                                         "05 D REDEFINES B REDEFINES C PIC X.", "05 B PIC X.",
                                                         "05 E PIC X REDEFINES b."})));
    ASSERT_EQ(7u, items.size());
    EXPECT_EQ(items[0], items[1]->redefines);
    EXPECT_EQ(items[2], items[3]->redefines);
    EXPECT_EQ(items[3], items[4]->redefines);
    EXPECT_EQ(items[5], items[6]->redefines);
    a.FreeItems();
    ExpectRaise([&] { a.Parsed(Lines({"05 X PIC X.", "05 Y REDEFINES A PIC X."})); }, "CException",
                "共有領域項目名誤り");

    // Many entries over a few names, each redefining a name seen before: compared with
    // a walk back along prev.
    a.FreeItems();
    const char* names[] = {"N1", "n1", "N2", "n-3", "N-3", "Q"};
    std::string text;
    unsigned seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    text += Lines({"05 N1 PIC X.", "05 N2 PIC X.", "05 N-3 PIC X.", "05 Q PIC X."});
    for (int i = 0; i < 3000; ++i) {
        std::string entry = std::string("05 ") + names[next() % 6];
        if (next() % 3 != 0) entry += std::string(" REDEFINES ") + names[next() % 6];
        text += Lines({(entry + " PIC X.").c_str()});
    }
    items = Items(a.Parsed(text));
    ASSERT_EQ(3004u, items.size());
    int checked = 0;
    for (CopyItem* item : items) {
        if (!(item->flags & ITEM_REDEFINES)) continue;
        const char* target = item->redefines->name;
        CopyItem* walk = item->prev;
        while (walk != nullptr && CompareNoCase(walk->name, target) != 0) walk = walk->prev;
        ASSERT_EQ(walk, item->redefines) << item->name;
        ++checked;
    }
    EXPECT_GT(checked, 1500);
}

TEST(ParseEntries, EmptyLinesLeaveNoItem) {
    StubAnalyzer a;
    std::vector<CopyItem*> items = Items(a.Parsed(Lines({"01 R.", ".", "   ", "05 A PIC X."}) + "\n\n       \n"));
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(items[1], a.Tail());
    EXPECT_EQ(items[0], items[1]->prev);
    a.FreeItems();
    EXPECT_EQ(nullptr, a.Parsed(Lines({".", "*> only a remark"})));
    EXPECT_EQ(nullptr, a.Tail());
}

TEST(ParseEntries, Errors) {
    struct Case {
        const char* entry;
        const char* message;
    } cases[] = {
        {"88 FLAG VALUE 'Y'.", "レベル番号解析エラー"},
        {"77 W PIC X.", "レベル番号解析エラー"},
        {"WORKING-STORAGE SECTION.", "レベル番号解析エラー"},
        {"00 A.", "レベル番号解析エラー"},
        {"-5 A.", "レベル番号解析エラー"},
        {"05.", "文法エラー？？？"},
        {"05 B REDEFINES.", "共有領域項目名なし"},
        {"05 B PIC X REDEFINES.", "共有領域項目名なし"},
        {"05 B REDEFINES A PIC X.", "共有領域項目名誤り"},
        {"05 A OCCURS 0 PIC X.", "配列要素数不当"},
        {"05 A PIC X OCCURS N.", "配列要素数不当"},
        {"05 A PIC X OCCURS 1 TO 5 DEPENDING ON N.", "DEPENDING指定の配列はサポートしていません。\n"},
        {"05 DEPENDING.", "DEPENDING指定の配列はサポートしていません。\n"},
        {"05 A DEPENDING.", "DEPENDING指定の配列はサポートしていません。\n"},
        {"05 A PIC IS X.", "認識できないデータ型"},
        {"05 A PIC A(5).", "認識できないデータ型"},
        {"05 A PIC.", "認識できないデータ型"},
        {"99999999999 A.", "レベル番号解析エラー"},
        {"2147483648 A.", "レベル番号解析エラー"},
        {"4294967301 A.", "レベル番号解析エラー"},
        {"05 A OCCURS 2147483648.", "レコード長が大きすぎます。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        StubAnalyzer a;
        ExpectRaise([&] { a.Parsed(Lines({"01 R.", c.entry})); }, "CException", c.message);
        // What was parsed stays in the list, and so does the joined text.
        ASSERT_NE(nullptr, a.GetHead());
        EXPECT_STREQ("R", a.GetHead()->name);
        EXPECT_NE(nullptr, a.Text());
    }
    StubAnalyzer a;
    CopyItem item{};
    char text[] = "; x";
    ExpectRaise([&] { a.ParseName(&item, text); }, "CException", "項目名なし！！");
    EXPECT_EQ(2147483647, One(a, "05 A OCCURS 2147483647.")->occursCount);
}

TEST(ParseEntries, StageAndNodeFailures) {
    struct BadStage : StubAnalyzer {
        void BeginEntry(CopyItem*& item) override {
            StubAnalyzer::BeginEntry(item);
            stage = 9;
        }
    } badStage;
    ExpectRaise([&] { badStage.Parsed(Lines({"01 R."})); }, "CException", "解析ステージ不当");

    StubAnalyzer a;
    a.Joined(Lines({"01 R."}));
    FailAllocationAfter(0);
    try {
        a.ParseEntries();
        ADD_FAILURE() << "nothing raised";
    } catch (CMemoryException e) {
        EXPECT_STREQ("メモリの確保に失敗しました。", e.GetMessageText());
        // Raised by the allocation and traced where the entry began.
        std::string trail = e.GetLocation();
        EXPECT_EQ(2, std::count(trail.begin(), trail.end(), '\n'));
    }
    EXPECT_EQ(nullptr, a.GetHead());

    struct OddFailure : StubAnalyzer {
        CopyItem* NewItem() override { throw 1; }
    } odd;
    ExpectRaise([&] { odd.Parsed(Lines({"01 R."})); }, "CException", "おそらくメモリ関係の例外。");
}

// With the real end of entry: the usage checks apply when the period ends its line.
TEST(ParseEntries, EntryEndChecksRunAtTheEndOfTheLine) {
    ProbeAnalyzer a;
    ExpectRaise([&] { a.Parsed(Lines({"05 A PIC X(10) COMP."})); }, "CException", "属性の組み合わせが不当");
    ProbeAnalyzer b;
    ExpectRaise([&] { b.Parsed(std::string("       05 A PIC X(10) COMP")); }, "CException", "属性の組み合わせが不当");
}

namespace {

// Records every word that reaches ParseUsage, then lets the seed rule decide.
class UsageRecorder : public StubAnalyzer {
public:
    std::vector<std::string> words;
    bool ParseUsage(CopyItem* item, const char* word) override {
        words.push_back(word);
        return CopyAnalyzer::ParseUsage(item, word);
    }
};

// A dialect that adds a usage word and makes BIT an ordinary word.
const Keyword kDialectWords[] = {
    {"COMP-6", KEYWORD_USAGE, USAGE_PACKED},
    {"BIT", KEYWORD_ORDINARY, 0},
};
const KeywordTable kDialect = {kDialectWords, 2, &COPYBOOK_KEYWORDS};

class DialectAnalyzer : public StubAnalyzer {
public:
    DialectAnalyzer() { keywords = &kDialect; }
};

}  // namespace

TEST(ParseEntries, UsageWordsReachParseUsageWhereTheStagesAskForThem) {
    // Stage 2 asks for every word but the other keywords, stage 3 for every word but
    // REDEFINES and OCCURS, stage 4 for every word.
    UsageRecorder a;
    a.Parsed(Lines({"05 A OCCURS 2 COMP-3 PIC X COMP VALUE 1."}));
    EXPECT_EQ((std::vector<std::string>{"A", "COMP-3", "PIC", "COMP", "VALUE", "1"}), a.words);
    EXPECT_EQ(ITEM_ARRAY | USAGE_PACKED | USAGE_BINARY | ITEM_ALPHANUMERIC, a.GetHead()->flags);
    a.words.clear();
    a.FreeItems();
    a.Parsed(Lines({"05 COMP-1."}));
    EXPECT_TRUE(a.words.empty());
}

TEST(Keywords, OneLookupAndDialectsThatExtendTheTable) {
    EXPECT_EQ(KEYWORD_PICTURE, COPYBOOK_KEYWORDS.KindOf("pic"));
    EXPECT_EQ(KEYWORD_PICTURE, COPYBOOK_KEYWORDS.KindOf("Picture"));
    EXPECT_EQ(KEYWORD_ORDINARY, COPYBOOK_KEYWORDS.KindOf("PICT"));
    EXPECT_EQ(KEYWORD_ORDINARY, COPYBOOK_KEYWORDS.KindOf(""));
    const Keyword* word = COPYBOOK_KEYWORDS.Find("computational-2");
    ASSERT_NE(nullptr, word);
    EXPECT_EQ(KEYWORD_FLOATING, word->kind);
    EXPECT_EQ(USAGE_DOUBLE, word->flag);
    EXPECT_EQ(USAGE_COMP5, COPYBOOK_KEYWORDS.Find("comp-5")->flag);
    EXPECT_EQ(KEYWORD_DEPENDING, COPYBOOK_KEYWORDS.KindOf("Depending"));

    DialectAnalyzer d;
    d.Parsed(Lines({"05 A PIC 9 COMP-6.", "05 BIT PIC X.", "05 C PIC 9 COMP-3 OCCURS 2."}));
    std::vector<CopyItem*> items = Items(d.GetHead());
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(USAGE_PACKED | ITEM_NUMERIC, items[0]->flags);
    EXPECT_STREQ("BIT", items[1]->name);
    EXPECT_EQ(ITEM_ALPHANUMERIC, items[1]->flags);
    EXPECT_EQ(USAGE_PACKED | ITEM_NUMERIC | ITEM_ARRAY, items[2]->flags);
    // The seed table is untouched by the dialect.
    StubAnalyzer seed;
    EXPECT_STREQ("", One(seed, "05 BIT PIC X.")->name);
}
