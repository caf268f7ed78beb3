// The storage rule: the storage form of every usage and category, entries with two
// usages under the copybook dialect, the byte lengths that go with them, and the usage
// names of the front ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cobolrules.h"
#include "engine_test_util.h"

namespace {

using enginetest::AnalyzeEntries;
using enginetest::TempCopybook;

CopyItem Hand(unsigned flags, int digits, int byteLength, const char* picture = "") {
    CopyItem item;
    std::memset(&item, 0, sizeof item);
    item.flags = flags;
    item.digits = digits;
    item.byteLength = byteLength;
    std::strncpy(item.picture, picture, sizeof item.picture - 1);
    return item;
}

const char* FormName(StorageForm form) {
    switch (form) {
    case StorageForm::kNone: return "none";
    case StorageForm::kDisplay: return "display";
    case StorageForm::kEdited: return "edited";
    case StorageForm::kPacked: return "packed";
    case StorageForm::kBinary: return "binary";
    case StorageForm::kNativeBinary: return "native-binary";
    case StorageForm::kFloat: return "float";
    case StorageForm::kDouble: return "double";
    case StorageForm::kText: return "text";
    case StorageForm::kNational: return "national";
    case StorageForm::kBits: return "bits";
    case StorageForm::kBoolChars: return "bool-chars";
    }
    return "?";
}

CopyItem* Named(CopyItem* head, const char* name) {
    for (CopyItem* item = head; item != nullptr; item = item->next)
        if (CompareNoCase(item->name, name) == 0) return item;
    return nullptr;
}

struct FormCase {
    const char* what;
    unsigned flags;
    int digits;
    int byteLength;
    const char* picture;
    StorageForm form;
};

TEST(StorageForm, EveryUsageAndCategory) {
    const FormCase cases[] = {
        {"group", ITEM_GROUP, 0, 10, "", StorageForm::kNone},
        {"group under COMP", ITEM_GROUP | USAGE_BINARY, 0, 10, "", StorageForm::kNone},
        {"condition", ITEM_CONDITION, 0, 0, "'Y'", StorageForm::kNone},
        {"renames", ITEM_RENAMES, 0, 6, "RENAMES A THRU B", StorageForm::kNone},
        {"display", ITEM_NUMERIC, 5, 5, "9(5)", StorageForm::kDisplay},
        {"signed display", ITEM_NUMERIC | ITEM_SIGNED, 7, 7, "S9(5)V99", StorageForm::kDisplay},
        {"sign separate", ITEM_NUMERIC | ITEM_SIGNED | SIGN_SEPARATE, 3, 4, "S999", StorageForm::kDisplay},
        {"scaled", ITEM_NUMERIC, 3, 3, "9(3)PPP", StorageForm::kDisplay},
        {"numeric-edited (dialect)", ITEM_NUMERIC, 9, 9, "ZZ,ZZ9.99", StorageForm::kEdited},
        {"numeric-edited (COBOL)", ITEM_NUMERIC | ITEM_EDITED, 4, 5, "+9(4)", StorageForm::kEdited},
        {"length not the digits", ITEM_NUMERIC, 5, 3, "9(5)", StorageForm::kEdited},
        {"packed", ITEM_NUMERIC | USAGE_PACKED, 5, 3, "9(5)", StorageForm::kPacked},
        {"binary", ITEM_NUMERIC | USAGE_BINARY, 5, 4, "9(5)", StorageForm::kBinary},
        {"COMP-X", ITEM_NUMERIC | USAGE_BINARY | USAGE_COMPX, 5, 3, "9(5)", StorageForm::kBinary},
        {"COMP-X alphanumeric", ITEM_ALPHANUMERIC | USAGE_BINARY | USAGE_COMPX, 4, 4, "X(4)", StorageForm::kBinary},
        {"COMP-5", ITEM_NUMERIC | USAGE_COMP5, 5, 4, "9(5)", StorageForm::kNativeBinary},
        {"pointer", USAGE_POINTER, 0, 4, "", StorageForm::kNativeBinary},
        {"index", USAGE_INDEX, 0, 4, "", StorageForm::kNativeBinary},
        {"COMP-1", ITEM_NUMERIC | USAGE_FLOAT, 0, 4, "", StorageForm::kFloat},
        {"COMP-2", ITEM_NUMERIC | USAGE_DOUBLE, 0, 8, "", StorageForm::kDouble},
        {"COMP-1 with a PICTURE X", ITEM_ALPHANUMERIC | ITEM_NUMERIC | USAGE_FLOAT, 5, 4, "X(5)", StorageForm::kFloat},
        {"alphanumeric", ITEM_ALPHANUMERIC, 5, 5, "X(5)", StorageForm::kText},
        {"alphabetic", ITEM_ALPHANUMERIC | ITEM_ALPHABETIC, 5, 5, "A(5)", StorageForm::kText},
        {"alphanumeric-edited", ITEM_ALPHANUMERIC | ITEM_EDITED, 5, 5, "XXBXX", StorageForm::kText},
        {"no category", 0, 3, 3, "", StorageForm::kText},
        {"national", ITEM_NATIONAL | USAGE_NATIONAL, 3, 6, "N(3)", StorageForm::kNational},
        {"DBCS", ITEM_NATIONAL, 3, 6, "G(3)", StorageForm::kNational},
        {"national-edited, two-byte B", ITEM_NATIONAL | ITEM_EDITED, 3, 6, "NBN", StorageForm::kNational},
        {"national-edited, one-byte B", ITEM_NATIONAL | ITEM_EDITED | USAGE_NATIONAL, 3, 5, "NBN", StorageForm::kText},
        {"numeric USAGE NATIONAL", ITEM_NUMERIC | USAGE_NATIONAL, 3, 6, "999", StorageForm::kNational},
        {"BIT", ITEM_BOOLEAN | USAGE_BIT, 10, 2, "1(10)", StorageForm::kBits},
        {"boolean characters", ITEM_BOOLEAN, 8, 8, "1(8)", StorageForm::kBoolChars},
        // Usages passed down from a group onto another category: the bytes are as long
        // as the usage makes them, and held in its form.
        {"X under COMP", ITEM_ALPHANUMERIC | USAGE_BINARY, 3, 2, "X(3)", StorageForm::kBinary},
        {"X under BIT", ITEM_ALPHANUMERIC | USAGE_BIT, 16, 2, "X(16)", StorageForm::kBits},
        {"N under BIT", ITEM_NATIONAL | USAGE_BIT, 2, 4, "N(2)", StorageForm::kNational},
        {"N under COMP-3", ITEM_NATIONAL | USAGE_PACKED, 5, 3, "N(5)", StorageForm::kPacked},
        {"boolean under COMP-5", ITEM_BOOLEAN | USAGE_COMP5 | USAGE_BIT, 8, 4, "1(8)", StorageForm::kNativeBinary},
        {"9 under BIT", ITEM_NUMERIC | USAGE_BIT, 9, 2, "9(9)", StorageForm::kBits},
    };
    for (const FormCase& c : cases) {
        CopyItem item = Hand(c.flags, c.digits, c.byteLength, c.picture);
        EXPECT_STREQ(FormName(c.form), FormName(StorageFormOf(&item))) << c.what;
    }
}

// Two usage words in one entry of the copybook dialect: the flags keep both; the form
// takes them as the record object's value operations do (COMP-5, BINARY, PACKED), and
// the byte length keeps the dialect's own order (BINARY, PACKED, COMP-5).
TEST(StorageForm, TwoUsagesUnderTheDialectRules) {
    struct Case {
        const char* name;
        unsigned usages;
        StorageForm form;
        int byteLength;
    };
    const Case cases[] = {
        {"A", USAGE_BINARY | USAGE_COMP5, StorageForm::kNativeBinary, 4},
        {"B", USAGE_PACKED | USAGE_BINARY, StorageForm::kBinary, 4},
        {"C", USAGE_COMP5 | USAGE_PACKED, StorageForm::kNativeBinary, 3},
        {"D", USAGE_PACKED | USAGE_COMP5 | USAGE_BINARY, StorageForm::kNativeBinary, 4},
        {"E", USAGE_FLOAT | USAGE_BINARY, StorageForm::kBinary, 4},
        {"F", USAGE_FLOAT | USAGE_PACKED, StorageForm::kPacked, 3},
        {"G", USAGE_FLOAT, StorageForm::kFloat, 4},
    };
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {
                                                  "01 R.",
                                                  "    05 A PIC 9(5) COMP COMP-5.",
                                                  "    05 B PIC 9(5) COMP-3 COMP.",
                                                  "    05 C PIC 9(5) COMP-5 COMP-3.",
                                                  "    05 D PIC 9(5) COMP-3 COMP-5 COMP.",
                                                  "    05 E COMP-1 PIC 9(5) COMP.",
                                                  "    05 F COMP-1 PIC 9(5) COMP-3.",
                                                  "    05 G COMP-1 PIC 9(5).",
                                              });
    constexpr unsigned kUsages = USAGE_BINARY | USAGE_COMP5 | USAGE_PACKED | USAGE_FLOAT | USAGE_DOUBLE;
    for (const Case& c : cases) {
        CopyItem* item = Named(head, c.name);
        ASSERT_NE(nullptr, item) << c.name;
        EXPECT_EQ(c.usages, item->flags & kUsages) << c.name;
        EXPECT_STREQ(FormName(c.form), FormName(StorageFormOf(item))) << c.name;
        EXPECT_STREQ(FormName(c.form), FormName(UsageFormOf(item))) << c.name;
        EXPECT_EQ(c.byteLength, item->byteLength) << c.name;
    }
}

// The forms of a group's usage passed down, of the float items the layout makes
// numeric, and of the items UsageFormOf alone describes.
TEST(StorageForm, InheritedUsagesAndGroups) {
    CopyAnalyzer analyzer("");
    CopyItem* head = AnalyzeEntries(analyzer, {
                                                  "01 R.",
                                                  "    05 G COMP-3.",
                                                  "        10 P PIC S9(5).",
                                                  "        10 N PIC N(5).",
                                                  "    05 H BIT.",
                                                  "        10 X PIC X(16).",
                                                  "        10 BITS PIC 1(10).",
                                                  "    05 F COMP-1.",
                                              });
    CopyItem* g = Named(head, "G");
    EXPECT_STREQ("none", FormName(StorageFormOf(g)));
    EXPECT_STREQ("packed", FormName(UsageFormOf(g)));
    EXPECT_STREQ("packed", FormName(StorageFormOf(Named(head, "P"))));
    EXPECT_EQ(3, Named(head, "P")->byteLength);
    EXPECT_STREQ("packed", FormName(StorageFormOf(Named(head, "N"))));
    EXPECT_EQ(3, Named(head, "N")->byteLength);
    EXPECT_STREQ("bits", FormName(StorageFormOf(Named(head, "X"))));
    EXPECT_EQ(2, Named(head, "X")->byteLength);
    EXPECT_STREQ("bits", FormName(StorageFormOf(Named(head, "BITS"))));
    EXPECT_STREQ("float", FormName(StorageFormOf(Named(head, "F"))));
    EXPECT_TRUE(Named(head, "F")->flags & ITEM_NUMERIC);
    EXPECT_TRUE(HasUsage(Named(head, "X"), StorageForm::kBits));
    EXPECT_FALSE(HasUsage(Named(head, "X"), StorageForm::kPacked));
    EXPECT_FALSE(HasUsage(Named(head, "X"), StorageForm::kDisplay));
}

// Every item the COBOL rules make, against the form its bytes take.
TEST(StorageForm, CobolRulesItems) {
    const std::string text =
        "       01 R.\n"
        "          05 D     PIC S9(3)V9 SIGN LEADING SEPARATE.\n"
        "          05 E     PIC -ZZ9.99.\n"
        "          05 FE    PIC +9.9E+99.\n"
        "          05 P     PIC 9(5) COMP-3.\n"
        "          05 B     PIC 9(5) BINARY.\n"
        "          05 X     PIC 9(5) COMP-X.\n"
        "          05 XX    PIC X(3) COMP-X.\n"
        "          05 C5    PIC S9(4) COMP-5.\n"
        "          05 BC    BINARY-CHAR.\n"
        "          05 PT    USAGE POINTER.\n"
        "          05 IX    USAGE INDEX.\n"
        "          05 F1    COMP-1.\n"
        "          05 F2    FLOAT-LONG.\n"
        "          05 N     PIC N(3).\n"
        "          05 NE    PIC NBN.\n"
        "          05 NN    PIC 9(3) USAGE NATIONAL.\n"
        "          05 G     PIC G(2).\n"
        "          05 BT    PIC 1(10) BIT.\n"
        "          05 BC1   PIC 1(3).\n"
        "          05 A     PIC A(2).\n"
        "          05 T     PIC X(4).\n"
        "             88 T-ON VALUE 'ON  '.\n"
        "       66 RN RENAMES D THRU E.\n";
    TempCopybook file(text);
    CobolAnalyzer analyzer(file.Path());
    CopyItem* head = analyzer.Analyze();
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"R", "none"},        {"D", "display"},  {"E", "edited"},        {"FE", "edited"},       {"P", "packed"},
        {"B", "binary"},      {"X", "binary"},   {"XX", "binary"},       {"C5", "native-binary"}, {"BC", "native-binary"},
        {"PT", "native-binary"}, {"IX", "native-binary"}, {"F1", "float"}, {"F2", "double"},   {"N", "national"},
        {"NE", "text"},       {"NN", "national"}, {"G", "national"},     {"BT", "bits"},         {"BC1", "bool-chars"},
        {"A", "text"},        {"T", "text"},     {"T-ON", "none"},       {"RN", "none"},
    };
    for (const auto& e : expected) {
        CopyItem* item = Named(head, e.first);
        ASSERT_NE(nullptr, item) << e.first;
        EXPECT_STREQ(e.second, FormName(StorageFormOf(item))) << e.first;
    }
}

TEST(UsageNames, FirstNameAndEveryName) {
    EXPECT_EQ(nullptr, UsageNameOf(ITEM_NUMERIC | ITEM_SIGNED | SIGN_SEPARATE | ITEM_SYNC));
    EXPECT_STREQ("BINARY", UsageNameOf(USAGE_BINARY | USAGE_PACKED | USAGE_COMP5)->shown);
    EXPECT_STREQ("PACK", UsageNameOf(USAGE_PACKED | USAGE_COMP5)->shown);
    EXPECT_STREQ("COMP-5", UsageNameOf(USAGE_COMP5 | USAGE_BIT)->shown);
    EXPECT_STREQ("FLOAT", UsageNameOf(USAGE_FLOAT | USAGE_DOUBLE)->shown);
    EXPECT_STREQ("POINTER", UsageNameOf(USAGE_POINTER)->shown);
    EXPECT_STREQ("binary", UsageNameOf(USAGE_BINARY | USAGE_COMPX)->name);
    EXPECT_STREQ("comp-x", UsageNameOf(USAGE_COMPX)->name);

    const ItemFlagName* names[USAGE_NAME_COUNT];
    EXPECT_EQ(0, UsageNamesOf(ITEM_NUMERIC, names));
    const unsigned every = USAGE_BINARY | USAGE_COMP5 | USAGE_PACKED | USAGE_BIT | USAGE_FLOAT | USAGE_DOUBLE |
                           USAGE_POINTER | USAGE_INDEX | USAGE_NATIONAL | USAGE_COMPX;
    ASSERT_EQ(USAGE_NAME_COUNT, UsageNamesOf(every, names));
    const char* order[] = {"binary", "comp-5", "packed-decimal", "bit",   "comp-1",
                           "comp-2", "comp-x", "pointer",        "index", "national"};
    for (int i = 0; i < USAGE_NAME_COUNT; ++i) EXPECT_STREQ(order[i], names[i]->name) << i;
}

}  // namespace
