// PICTURE analysis, the end-of-entry checks and remark, and storage lengths by usage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_util.h"

namespace {

using enginetest::AnalyzeEntries;
using enginetest::ExpectRaise;
using enginetest::Items;

struct Counts {
    const char* picture;
    int digits;
    int scale;
};

struct Refusal {
    const char* picture;
    const char* message;
};

TEST(PictureAnalysis, NumericPositionsAndDecimals) {
    CopyAnalyzer analyzer("");
    const Counts cases[] = {
        {"9", 1, 0},           {"9(5)V99", 7, 2},     {"ZZ,ZZ9.99", 9, 2},  {"zz9v99", 5, 2},
        {"$$$9", 4, 0},        {"\\\\9", 3, 0},       {"+9(3)", 4, 0},      {"-ZZ9", 4, 0},
        {"99/99/99", 8, 0},    {"9,999.99", 8, 2},    {"ZZZ.Z9", 6, 2},     {"9V9,9", 4, 3},
        {"9(18)", 18, 0},      {"9()", 0, 0},         {"9()9", 1, 0},       {"9(5", 5, 0},
        {"9(3)V9(4)", 7, 4},   {"Z(3)9.9(2)", 7, 2},  {"9(002)", 2, 0},
    };
    for (const Counts& c : cases) {
        const int result = analyzer.AnalyzeNumericPicture(c.picture);
        EXPECT_EQ(c.digits, result >> 8) << c.picture;
        EXPECT_EQ(c.scale, result & 0xFF) << c.picture;
    }
}

TEST(PictureAnalysis, NumericRefusals) {
    CopyAnalyzer analyzer("");
    const Refusal cases[] = {
        {"ZZZ.ZZ", "データ型エラー"},   {"--,--9", "データ型エラー"},
        {"9(3)-", "データ型エラー"},    {"9(5)X", "データ型エラー"},
        {"9Z", "データ型エラー"},       {"9,,9", "データ型エラー"},
        {"9.9.9", "小数部指定不当"},    {"9V9V9", "小数部指定不当"},
        {"9V9.9", "小数部指定不当"},    {"9(5A)", "桁指定エラー"},
        {"9(19)", "数値型は18桁まで"},  {"9(10)V9(9)", "数値型は18桁まで"},
        // Repeats that would describe fewer than no positions.
        {"99V9()()", "桁指定エラー"},
        // Counts past the largest signed 32-bit value.
        {"9(99999999999)", "レコード長が大きすぎます。"},
        {"9(2000000000)9(2000000000)", "レコード長が大きすぎます。"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.picture);
        ExpectRaise([&] { analyzer.AnalyzeNumericPicture(c.picture); }, "CException", c.message);
    }
}

TEST(PictureAnalysis, SignedDigitsAndDecimals) {
    CopyAnalyzer analyzer("");
    const Counts cases[] = {
        {"S9", 1, 0},   {"S9(5)V99", 7, 2}, {"s9v9", 2, 1},  {"S9(18)", 18, 0},
        {"S9V(3)", 3, 2}, {"S9(4)", 4, 0},  {"S", 0, 0},
    };
    for (const Counts& c : cases) {
        const int result = analyzer.AnalyzeSignedPicture(c.picture);
        EXPECT_EQ(c.digits, result >> 8) << c.picture;
        EXPECT_EQ(c.scale, result & 0xFF) << c.picture;
    }
    const Refusal refusals[] = {
        {"SV99", "データ型エラー"},     {"S99X", "データ型エラー"},
        {"SZ9", "データ型エラー"},      {"S9.99", "データ型エラー"},
        {"S9V9V9", "小数部指定不当"},   {"S9(3A)", "桁指定エラー"},
        {"S9(19)", "数値型は18桁まで"}, {"S9(9)V9(10)", "数値型は18桁まで"},
        {"S9(99999999999)", "レコード長が大きすぎます。"},
    };
    for (const Refusal& c : refusals) {
        SCOPED_TRACE(c.picture);
        ExpectRaise([&] { analyzer.AnalyzeSignedPicture(c.picture); }, "CException", c.message);
    }
}

TEST(PictureAnalysis, CountingPictures) {
    CopyAnalyzer analyzer("");
    EXPECT_EQ(10, analyzer.AnalyzeAlphanumericPicture("X(10)"));
    EXPECT_EQ(4, analyzer.AnalyzeAlphanumericPicture("XXBX"));
    EXPECT_EQ(7, analyzer.AnalyzeAlphanumericPicture("x(3)b.,/"));
    EXPECT_EQ(5, analyzer.AnalyzeAlphanumericPicture("X(5"));
    EXPECT_EQ(0, analyzer.AnalyzeAlphanumericPicture("X(0)"));
    EXPECT_EQ(1, analyzer.AnalyzeAlphanumericPicture("X()X"));
    EXPECT_EQ(2147483647, analyzer.AnalyzeAlphanumericPicture("X(2147483647)"));
    EXPECT_EQ(5, analyzer.AnalyzeNationalPicture("N(5)"));
    EXPECT_EQ(3, analyzer.AnalyzeNationalPicture("G(3)"));
    EXPECT_EQ(3, analyzer.AnalyzeNationalPicture("nGj"));
    EXPECT_EQ(10, analyzer.AnalyzeBooleanPicture("1(10)"));
    EXPECT_EQ(3, analyzer.AnalyzeBooleanPicture("111"));

    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("XA"); }, "CException", "データ型エラー");
    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("X9"); }, "CException", "データ型エラー");
    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("X(1A)"); }, "CException", "桁指定エラー");
    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("X()()"); }, "CException", "桁指定エラー");
    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("X(2147483648)"); }, "CException",
                "レコード長が大きすぎます。");
    ExpectRaise([&] { analyzer.AnalyzeAlphanumericPicture("X(2147483647)X"); }, "CException",
                "レコード長が大きすぎます。");
    ExpectRaise([&] { analyzer.AnalyzeNationalPicture("NX"); }, "CException", "データ型エラー");
    ExpectRaise([&] { analyzer.AnalyzeNationalPicture("N(-1)"); }, "CException", "桁指定エラー");
    ExpectRaise([&] { analyzer.AnalyzeBooleanPicture("10"); }, "CException", "データ型エラー");
}

// Reaches the parse stage and builds single items for EndEntry.
class EntryEnd : public CopyAnalyzer {
public:
    EntryEnd() : CopyAnalyzer("") {}
    CopyItem* Item(unsigned flags, const char* picture = "") {
        CopyItem* item = NewItem();
        AppendItem(item);
        item->flags = flags;
        std::strcpy(item->picture, picture);
        return item;
    }
    int Stage() const { return stage; }
    void SetStage(int value) { stage = value; }
};

TEST(EndEntry, TakesTheRemarkBehindThePeriod) {
    EntryEnd analyzer;
    char text[] = " 05 A PIC X; \t*>  customer name \nnext";
    CopyItem* item = analyzer.Item(ITEM_ALPHANUMERIC, "X");
    analyzer.SetStage(5);
    char* end = analyzer.EndEntry(item, std::strchr(text, ';'));
    EXPECT_STREQ("customer name ", item->remark);
    EXPECT_EQ('\n', *end);
    EXPECT_EQ(0, analyzer.Stage());

    // Called just behind the ";" the result is the same; the text may end the line.
    char last[] = "; *>tail";
    CopyItem* second = analyzer.Item(ITEM_ALPHANUMERIC, "X");
    end = analyzer.EndEntry(second, last + 1);
    EXPECT_STREQ("tail", second->remark);
    EXPECT_EQ('\0', *end);
}

TEST(EndEntry, OtherTrailerTextIsNoRemark) {
    EntryEnd analyzer;
    char text[] = "; 05 B PIC X. *> not mine\n05";
    CopyItem* item = analyzer.Item(ITEM_ALPHANUMERIC, "X");
    char* end = analyzer.EndEntry(item, text);
    EXPECT_STREQ("", item->remark);
    EXPECT_EQ(text + std::strlen("; 05 B PIC X. *> not mine"), end);

    char single[] = "; * > x\n";
    item = analyzer.Item(ITEM_ALPHANUMERIC, "X");
    EXPECT_EQ('\n', *analyzer.EndEntry(item, single));
    EXPECT_STREQ("", item->remark);
}

TEST(EndEntry, LongRemarkKeepsItsFirst63Bytes) {
    EntryEnd analyzer;
    std::string text = "; *> " + std::string(100, 'r') + "\n05";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    CopyItem* item = analyzer.Item(ITEM_ALPHANUMERIC, "X");
    char* end = analyzer.EndEntry(item, buffer.data());
    EXPECT_EQ(std::string(63, 'r'), item->remark);
    EXPECT_EQ('\n', *end);
}

TEST(EndEntry, UsageMustSuitTheCategory) {
    EntryEnd analyzer;
    char text[] = ";";
    struct Case {
        unsigned flags;
        const char* picture;
        const char* message;  // null: accepted
    } cases[] = {
        {ITEM_NUMERIC | USAGE_BINARY, "9(4)", nullptr},
        {ITEM_NUMERIC | ITEM_SIGNED | USAGE_PACKED, "S9(5)V99", nullptr},
        {ITEM_GROUP | USAGE_COMP5, "", nullptr},
        {ITEM_GROUP | USAGE_BIT, "", nullptr},
        {ITEM_BOOLEAN | USAGE_BIT, "1(8)", nullptr},
        {ITEM_ALPHANUMERIC, "X(3)", nullptr},
        {ITEM_ALPHANUMERIC | USAGE_BINARY, "X(10)", "属性の組み合わせが不当"},
        {ITEM_NATIONAL | USAGE_PACKED, "N(2)", "属性の組み合わせが不当"},
        {ITEM_BOOLEAN | USAGE_COMP5, "1", "属性の組み合わせが不当"},
        {ITEM_ALPHANUMERIC | USAGE_BIT, "X(5)", "属性の組み合わせが不当"},
        {ITEM_NUMERIC | USAGE_BIT, "9", "属性の組み合わせが不当"},
        {ITEM_NUMERIC | USAGE_BINARY, "ZZ,ZZ9.99", "COMP系属性にできない形式"},
        {ITEM_NUMERIC | USAGE_PACKED, "\\\\9", "COMP系属性にできない形式"},
        {ITEM_NUMERIC | USAGE_COMP5, "+9", "COMP系属性にできない形式"},
        {ITEM_NUMERIC | USAGE_COMP5, "99/99", "COMP系属性にできない形式"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        CopyItem* item = analyzer.Item(c.flags, c.picture);
        if (c.message)
            ExpectRaise([&] { analyzer.EndEntry(item, text); }, "CException", c.message);
        else
            EXPECT_EQ(text + 1, analyzer.EndEntry(item, text));
    }
}

TEST(PictureInCopybook, ErrorsReachTheCaller) {
    const Refusal cases[] = {
        {"05 A PIC X(10) COMP.", "属性の組み合わせが不当"},
        {"05 A PIC X(5) BIT.", "属性の組み合わせが不当"},
        {"05 A PIC ZZ,ZZ9.99 COMP.", "COMP系属性にできない形式"},
        {"05 A PIC S9(19).", "数値型は18桁まで"},
        {"05 A PIC 9(19) COMP.", "数値型は18桁まで"},
        {"05 A PIC A(5).", "認識できないデータ型"},
        {"05 A PIC V99.", "認識できないデータ型"},
        {"05 A PIC SV99.", "データ型エラー"},
        {"05 A PIC S9V9V9.", "小数部指定不当"},
        {"05 A PIC 9(5A).", "桁指定エラー"},
        {"05 A PIC N(1500000000).", "レコード長が大きすぎます。"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.picture);
        CopyAnalyzer analyzer("");
        ExpectRaise([&] { AnalyzeEntries(analyzer, {c.picture}); }, "CException", c.message);
    }
}

struct Storage {
    const char* entry;
    int byteLength;
    int digits;
    int scale;
    unsigned flags;  // flags the item must carry
};

TEST(ByteLengths, ByUsageAndCategory) {
    const Storage cases[] = {
        {"05 A PIC S9(5)V99 COMP-3.", 4, 7, 2, ITEM_NUMERIC | ITEM_SIGNED | USAGE_PACKED},
        {"05 A PIC S9(5)V99.", 7, 7, 2, ITEM_NUMERIC | ITEM_SIGNED},
        {"05 A PIC 9(4) COMP.", 2, 4, 0, ITEM_NUMERIC | USAGE_BINARY},
        {"05 A PIC 9(5) COMP.", 4, 5, 0, USAGE_BINARY},
        {"05 A PIC 9(9) BINARY.", 4, 9, 0, USAGE_BINARY},
        {"05 A PIC 9(10) COMP-4.", 8, 10, 0, USAGE_BINARY},
        {"05 A PIC S9(18) COMPUTATIONAL.", 8, 18, 0, USAGE_BINARY | ITEM_SIGNED},
        {"05 A PIC 9(4) COMP-5.", 2, 4, 0, USAGE_COMP5},
        {"05 A PIC 9(9) COMP-5.", 4, 9, 0, USAGE_COMP5},
        {"05 A PIC S9(10) COMPUTATIONAL-5.", 8, 10, 0, USAGE_COMP5},
        {"05 A PIC 9(4) COMP-3.", 3, 4, 0, USAGE_PACKED},
        {"05 A PIC 9 PACKED-DECIMAL.", 1, 1, 0, USAGE_PACKED},
        {"05 A PIC 9(4)V9 COMPUTATIONAL-3.", 3, 5, 1, USAGE_PACKED},
        {"05 A PIC N(5).", 10, 5, 0, ITEM_NATIONAL},
        {"05 A PIC G(3).", 6, 3, 0, ITEM_NATIONAL},
        {"05 A PIC 1(10) BIT.", 2, 10, 0, ITEM_BOOLEAN | USAGE_BIT},
        {"05 A PIC 1(8) BIT.", 1, 8, 0, USAGE_BIT},
        {"05 A PIC 1(9) BIT.", 2, 9, 0, USAGE_BIT},
        {"05 A PIC 1(8).", 8, 8, 0, ITEM_BOOLEAN},
        {"05 A COMP-1.", 4, 0, 0, ITEM_NUMERIC | USAGE_FLOAT},
        {"05 A COMP-2.", 8, 0, 0, ITEM_NUMERIC | USAGE_DOUBLE},
        {"05 A COMPUTATIONAL-2.", 8, 0, 0, ITEM_NUMERIC | USAGE_DOUBLE},
        {"05 A PIC ZZ,ZZ9.99.", 9, 9, 2, ITEM_NUMERIC},
        {"05 A PIC X(10).", 10, 10, 0, ITEM_ALPHANUMERIC},
        {"05 A PIC 9(3) VALUE 1.", 3, 3, 0, ITEM_NUMERIC},
    };
    for (const Storage& c : cases) {
        SCOPED_TRACE(c.entry);
        CopyAnalyzer analyzer("");
        CopyItem* item = AnalyzeEntries(analyzer, {c.entry});
        ASSERT_NE(nullptr, item);
        EXPECT_EQ(c.byteLength, item->byteLength);
        EXPECT_EQ(c.digits, item->digits);
        EXPECT_EQ(c.scale, item->scale);
        EXPECT_EQ(c.flags, item->flags & c.flags);
        EXPECT_EQ(static_cast<unsigned>(c.byteLength), analyzer.GetRecordLength());
    }
}

TEST(ByteLengths, UsageInheritedFromGroups) {
    CopyAnalyzer analyzer("");
    CopyItem* g = AnalyzeEntries(analyzer, {"01 G COMP-3.", "05 A PIC 9(5).", "05 B PIC S9(4)."});
    CopyItem* a = g->next;
    EXPECT_TRUE(a->flags & USAGE_PACKED);
    EXPECT_EQ(3, a->byteLength);
    EXPECT_EQ(3, a->next->byteLength);
    EXPECT_EQ(6, g->byteLength);

    // Through an intermediate group, and for every binary-like usage.
    g = AnalyzeEntries(analyzer, {"01 R COMP-5.", "05 G.", "10 A PIC 9(9).", "10 B PIC 9(2)."});
    EXPECT_TRUE(g->next->flags & USAGE_COMP5);
    EXPECT_EQ(4, g->next->next->byteLength);
    EXPECT_EQ(2, g->next->next->next->byteLength);
    EXPECT_EQ(6u, analyzer.GetRecordLength());

    // A binary group gives even an alphanumeric subordinate a binary length.
    g = AnalyzeEntries(analyzer, {"01 G COMP.", "05 A PIC X(3)."});
    EXPECT_EQ(2, g->next->byteLength);

    g = AnalyzeEntries(analyzer, {"01 G BIT.", "05 F PIC 1(4).", "05 H PIC 1(12)."});
    EXPECT_EQ(1, g->next->byteLength);
    EXPECT_EQ(2, g->next->next->byteLength);
    EXPECT_EQ(3, g->byteLength);

    // Siblings of the group are not subordinates and keep display usage.
    g = AnalyzeEntries(analyzer, {"01 R.", "05 G COMP-3.", "10 A PIC 9(5).", "05 B PIC 9(5)."});
    CopyItem* b = g->next->next->next;
    EXPECT_FALSE(b->flags & USAGE_PACKED);
    EXPECT_EQ(5, b->byteLength);

    ExpectRaise([&] { AnalyzeEntries(analyzer, {"01 G COMP.", "05 A PIC X(20)."}); }, "CException",
                "数値型が64ビットを超えるかもしれません。");
    ExpectRaise([&] { AnalyzeEntries(analyzer, {"01 G COMP-5.", "05 A PIC X(19)."}); }, "CException",
                "数値型が64ビットを超えるかもしれません。");
}

TEST(ByteLengths, RemarkAndPictureKeptAsWritten) {
    CopyAnalyzer analyzer("");
    CopyItem* item = AnalyzeEntries(analyzer, {"05 NAME-1 PIC x(20). *> 顧客名"});
    EXPECT_STREQ("顧客名", item->remark);
    EXPECT_STREQ("x(20)", item->picture);
    EXPECT_EQ(20, item->byteLength);
}

}  // namespace
