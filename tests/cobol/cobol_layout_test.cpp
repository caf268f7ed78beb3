// Items and layout of the COBOL-rules analysis: what the list carries for 88, 66 and
// 77 entries, the new flag bits, the two IBM sizes, tables with DEPENDING ON, records,
// and repeated analyses. Lengths and positions against GnuCOBOL are the cross-check's.
#include "cobol_test_util.h"

namespace {

using coboltest::Analysis;
using coboltest::Find;
using coboltest::Fixed;
using coboltest::Folder;
using coboltest::Items;

TEST(CobolLayout, ConditionNamesFollowTheirVariable) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 T OCCURS 2.", "    10 S PIC X.",
                                                             "      88 S-ON VALUES 'Y' 'J'", "                'S'.",
                                                             "      88 S-RANGE VALUE 'A' THRU 'F'.", "  05 B PIC X."}));
    Analysis a(path);
    std::vector<CopyItem*> items = Items(a.head);
    // R, T, S, S-ON, S-RANGE, then the second occurrence, then B.
    ASSERT_EQ(items.size(), 10u);
    EXPECT_STREQ(items[3]->name, "S-ON");
    EXPECT_EQ(items[3]->level, 88);
    EXPECT_STREQ(items[3]->picture, "'Y' 'J' 'S'");
    EXPECT_STREQ(items[4]->picture, "'A' THRU 'F'");
    EXPECT_TRUE(items[3]->flags & ITEM_CONDITION);
    EXPECT_EQ(items[3]->byteLength, 0);
    EXPECT_EQ(items[3]->position, items[2]->position);
    EXPECT_EQ(items[3]->parent, items[2]);
    EXPECT_EQ(items[2]->firstChild, nullptr) << "a variable with conditions stays elementary";
    CopyItem* second = Find(a.head, "S-ON", 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->position, 2);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 3u);
    EXPECT_EQ(a["R"]->byteLength, 3);
}

TEST(CobolLayout, ConditionValuesAreKeptWholeAndCutBetweenCharacters) {
    Folder folder;
    // 22 one-letter values (88 bytes as written), a range, a literal with a blank, ALL,
    // WHEN SET TO FALSE; then double-byte values whose cut at 63 bytes would fall inside
    // a character: 'xy' and 20 characters of two bytes, then 20 more.
    std::string wide;
    for (int k = 0; k < 20; ++k) wide += "\x82\xA0";
    const std::string path = folder.Write(
        "BOOK.cpy", Fixed({"01 R.", "  05 S PIC X.",
                           "    88 S-ALL VALUE 'A' 'B' 'C' 'D' 'E' 'F' 'G' 'H' 'I' 'J' 'K'",
                           "        'L' 'M' 'N' 'O' 'P' 'Q' 'R' 'S' 'T' 'U' 'V'.",
                           "    88 S-MIX VALUES 'A' THRU 'C' 'NOT FOUND' ALL 'Z'", "        WHEN SET TO FALSE 'X'.",
                           "  05 J PIC X(80).", "    88 J-WIDE VALUE 'xy" + wide + "'", "        '" + wide + "'."}));
    Analysis a(path);
    const std::vector<CobolConditionValue>& all = a.analyzer.ConditionValues(a["S-ALL"]);
    ASSERT_EQ(all.size(), 22u);
    EXPECT_EQ(all.back().value, "'V'");
    EXPECT_EQ(std::string(a["S-ALL"]->picture).size(), 63u) << "the cell keeps 63 bytes";
    const std::vector<CobolConditionValue>& mix = a.analyzer.ConditionValues(a["S-MIX"]);
    ASSERT_EQ(mix.size(), 4u);
    EXPECT_EQ(mix[0].value + " " + mix[0].thru, "'A' 'C'");
    EXPECT_EQ(mix[1].value, "'NOT FOUND'");
    EXPECT_EQ(mix[2].value, "ALL 'Z'");
    EXPECT_TRUE(mix[3].whenFalse);
    EXPECT_EQ(mix[3].value, "'X'");
    EXPECT_TRUE(a.analyzer.ConditionValues(a["S"]).empty());
    // Both values whole; the cell stops before the character that byte 63 would split.
    ASSERT_EQ(a.analyzer.ConditionValues(a["J-WIDE"]).size(), 2u);
    EXPECT_EQ(a.analyzer.ConditionValues(a["J-WIDE"])[1].value, "'" + wide + "'");
    EXPECT_EQ(std::string(a["J-WIDE"]->picture), "'xy" + wide + "' '" + wide.substr(0, 16));
}

TEST(CobolLayout, RenamesCoversItsRangeAndCountsNowhere) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X(2).", "  05 B PIC 9(3).", "  05 C PIC X.",
                                                             "66 AB RENAMES A THRU B.", "66 CC RENAMES C."}));
    Analysis a(path);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 6u);
    EXPECT_EQ(a["R"]->byteLength, 6);
    CopyItem* ab = a["AB"];
    EXPECT_EQ(ab->level, 66);
    EXPECT_TRUE(ab->flags & ITEM_RENAMES);
    EXPECT_STREQ(ab->picture, "RENAMES A THRU B");
    EXPECT_EQ(ab->position, 1);
    EXPECT_EQ(ab->byteLength, 5);
    EXPECT_EQ(ab->parent, a.head);
    EXPECT_EQ(a["CC"]->position, 6);
    EXPECT_STREQ(a["CC"]->picture, "RENAMES C");
}

TEST(CobolLayout, EveryRecordStartsAtOneAndTheLongestGivesTheLength) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R1.", "  05 A PIC X(4).", "01 R2 REDEFINES R1.", "  05 B PIC X(9).",
                                                             "77 W PIC S9(4) COMP.", "01 R3 PIC X(2)."}));
    Analysis a(path);
    EXPECT_EQ(a["B"]->position, 1);
    EXPECT_EQ(a["W"]->position, 1);
    EXPECT_EQ(a["W"]->byteLength, 2);
    EXPECT_EQ(a["R3"]->position, 1);
    EXPECT_EQ(a["R2"]->redefines, a["R1"]);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 9u);
}

TEST(CobolLayout, FragmentWithoutRecordIsLaidOutInARow) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"05 A PIC X(2).", "05 G.", "  10 B PIC X(3).", "05 C PIC X."}));
    Analysis a(path);
    EXPECT_EQ(a["C"]->position, 6);
    EXPECT_EQ(a["A"]->nextSibling, a["G"]);
    EXPECT_EQ(a["G"]->nextSibling, a["C"]);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 6u);
}

TEST(CobolLayout, IbmSizesForSmallCompFiveAndPointers) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 C1 PIC 9 COMP-5.", "  05 C4 PIC S9(4) COMP-5.",
                                                             "  05 P POINTER.", "  05 PP PROCEDURE-POINTER.",
                                                             "  05 FP FUNCTION-POINTER.", "  05 X PIC X."}));
    Analysis four(path);
    EXPECT_EQ(four["C1"]->byteLength, 2);
    EXPECT_EQ(four["C4"]->byteLength, 2);
    EXPECT_EQ(four["P"]->byteLength, 4);
    EXPECT_TRUE(four["P"]->flags & USAGE_POINTER);
    EXPECT_EQ(four["FP"]->byteLength, 4);
    EXPECT_EQ(four["X"]->position, 17);
    CobolOptions options;
    options.pointerSize = 8;
    Analysis eight(path, options);
    EXPECT_EQ(eight["P"]->byteLength, 8);
    EXPECT_EQ(eight["X"]->position, 29);
}

TEST(CobolLayout, SyncAlignsToFourBytePointersByDefault) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.", "  05 P POINTER SYNC.", "  05 I INDEX SYNC."}));
    Analysis a(path);
    EXPECT_EQ(a["P"]->position, 5);
    EXPECT_TRUE(a["P"]->flags & ITEM_SYNC);
    EXPECT_EQ(a["I"]->position, 9);
    EXPECT_TRUE(a["I"]->flags & USAGE_INDEX);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 12u);
}

TEST(CobolLayout, DependingOnTablesAtTheirMaximum) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 N PIC 99.", "  05 T OCCURS 1 TO 4 TIMES DEPENDING ON N.",
                                                             "    10 T1 PIC X(3).", "  05 Z PIC X."}));
    Analysis a(path);
    EXPECT_EQ(a["Z"]->position, 15);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 15u);
    int occurrences = 0;
    for (CopyItem* item = a.head; item != nullptr; item = item->next) {
        if (CompareNoCase(item->name, "T") != 0) continue;
        ++occurrences;
        EXPECT_TRUE(item->flags & ITEM_VARIABLE);
        EXPECT_STREQ(a.analyzer.DependingOn(item), "N");
        EXPECT_EQ(item->occursCount, 4);
    }
    EXPECT_EQ(occurrences, 4);
    EXPECT_STREQ(a.analyzer.DependingOn(a["Z"]), "");
    a.analyzer.FreeItems();
    EXPECT_STREQ(a.analyzer.DependingOn(nullptr), "");
}

TEST(CobolLayout, QualifiedNamesInDependingOnAndRenames) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 H.", "    10 N PIC 9.", "    10 M PIC X(2).",
                                                             "  05 T PIC X(2)",
                                                             "       OCCURS 1 TO 3 DEPENDING ON N OF H IN R.",
                                                             "66 W RENAMES N OF H THRU M IN H OF R."}));
    Analysis a(path);
    EXPECT_STREQ(a.analyzer.DependingOn(a["T"]), "N");
    EXPECT_EQ(a["W"]->byteLength, 3);

    // The same names in two groups: the qualifiers choose.
    const std::string twice = folder.Write("TWICE.cpy", Fixed({"01 R.", "  05 H1.", "    10 N PIC X.", "    10 M PIC X(2).",
                                                             "  05 H2.", "    10 N PIC X(3).", "    10 M PIC X(4).",
                                                             "66 W RENAMES N OF H2 THRU M IN H2."}));
    Analysis b(twice);
    EXPECT_EQ(b["W"]->position, 4);
    EXPECT_EQ(b["W"]->byteLength, 7);
    // The range names the items the qualifiers chose.
    CobolRenamesRange range = b.analyzer.RenamesRange(b["W"]);
    ASSERT_NE(range.from, nullptr);
    ASSERT_NE(range.thru, nullptr);
    EXPECT_STREQ(range.from->name, "N");
    EXPECT_EQ(range.from->position, 4);
    EXPECT_STREQ(range.from->parent->name, "H2");
    EXPECT_STREQ(range.thru->name, "M");
    EXPECT_EQ(range.thru->parent, range.from->parent);
}

TEST(CobolLayout, RenamesRangeKeepsTheItemsTheTextCannotHold) {
    // "RENAMES a THRU b" of 12- and 13-character double-byte names passes 63 bytes; the
    // text stops before the character that byte 63 would split, the range holds both.
    Folder folder;
    const std::string from = "顧客口座開設年月日記録欄", thru = "顧客口座残高合計金額記録欄";
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 " + from + " PIC 9(8).", "  05 X PIC X.",
                                                             "  05 " + thru + " PIC 9(9).", "66 K RENAMES " + from,
                                                             "      THRU " + thru + ".", "66 L RENAMES X."}));
    Analysis a(path);
    CopyItem* k = a["K"];
    EXPECT_EQ(std::string(k->picture), "RENAMES " + from + " THRU " + thru.substr(0, 24));
    CobolRenamesRange range = a.analyzer.RenamesRange(k);
    EXPECT_EQ(range.from, a[from.c_str()]);
    EXPECT_EQ(range.thru, a[thru.c_str()]);
    EXPECT_EQ(k->byteLength, 18);
    range = a.analyzer.RenamesRange(a["L"]);
    EXPECT_EQ(range.from, a["X"]);
    EXPECT_EQ(range.thru, nullptr);
    // Items of no RENAMES give no range.
    EXPECT_EQ(a.analyzer.RenamesRange(a["X"]).from, nullptr);
    EXPECT_EQ(a.analyzer.RenamesRange(nullptr).from, nullptr);
}

TEST(CobolLayout, SignSeparateAndCategoryBits) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R SIGN IS TRAILING SEPARATE.", "  05 L PIC S9(3) SIGN LEADING SEPARATE.",
                                                             "  05 T PIC S9(3).", "  05 U PIC 9(3).", "  05 AL PIC A(4).",
                                                             "  05 AE PIC XXBXX.", "  05 NE PIC ZZ,ZZ9.99-.", "  05 SC PIC PPP99.",
                                                             "  05 TS PIC 9(3)PPP.", "  05 N PIC N(2).",
                                                             "  05 BC BINARY-CHAR UNSIGNED.", "  05 BL BINARY-LONG.",
                                                             "  05 PT POINTER.", "  05 CB PIC S9(4) COMP."}));
    Analysis a(path);
    // The record's SIGN clause reaches only the items stored as characters.
    EXPECT_EQ(a["CB"]->flags & (SIGN_SEPARATE | SIGN_LEADING), 0u);
    EXPECT_EQ(a["CB"]->byteLength, 2);
    EXPECT_EQ(a["BL"]->flags & SIGN_SEPARATE, 0u);
    // The binary usages without PICTURE are numbers (so that record access and the data
    // codec read them as such); a pointer is none.
    EXPECT_EQ(a["BC"]->flags & (ITEM_NUMERIC | ITEM_SIGNED | USAGE_COMP5), ITEM_NUMERIC | USAGE_COMP5);
    EXPECT_EQ(a["BL"]->flags & (ITEM_NUMERIC | ITEM_SIGNED | USAGE_COMP5), ITEM_NUMERIC | ITEM_SIGNED | USAGE_COMP5);
    EXPECT_EQ(a["PT"]->flags & ITEM_NUMERIC, 0u);
    EXPECT_EQ(a["L"]->flags & (SIGN_SEPARATE | SIGN_LEADING), SIGN_SEPARATE | SIGN_LEADING);
    EXPECT_EQ(a["L"]->byteLength, 4);
    EXPECT_EQ(a["T"]->flags & (SIGN_SEPARATE | SIGN_LEADING), SIGN_SEPARATE) << "the record's SIGN clause reaches it";
    EXPECT_EQ(a["T"]->byteLength, 4);
    EXPECT_EQ(a["U"]->byteLength, 3);
    EXPECT_EQ(a["AL"]->flags & (ITEM_ALPHANUMERIC | ITEM_ALPHABETIC), ITEM_ALPHANUMERIC | ITEM_ALPHABETIC);
    EXPECT_EQ(a["AE"]->flags & (ITEM_ALPHANUMERIC | ITEM_EDITED), ITEM_ALPHANUMERIC | ITEM_EDITED);
    EXPECT_EQ(a["NE"]->flags & (ITEM_NUMERIC | ITEM_EDITED), ITEM_NUMERIC | ITEM_EDITED);
    EXPECT_EQ(a["NE"]->digits, 7);
    EXPECT_EQ(a["NE"]->scale, 2);
    EXPECT_EQ(a["NE"]->byteLength, 10);
    EXPECT_EQ(a["SC"]->scale, 5);
    EXPECT_EQ(a["SC"]->byteLength, 2);
    EXPECT_EQ(a["TS"]->scale, -3);
    EXPECT_EQ(a["N"]->byteLength, 4);
    EXPECT_TRUE(a["N"]->flags & ITEM_NATIONAL);
}

// GnuCOBOL 3.1.2 accepts a floating-point picture only with '+' after the E and no V,
// and then gives the E no byte (F1, F2, F4: cross-checked in data/NATEDIT.cpy). It
// refuses '-' after the E and a V, so F3 and F5 take IBM's count: every character but
// V. Digits and scale are the mantissa's, which cobc does not show: IBM's rule.
TEST(CobolLayout, FloatingPointPictures) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 F1 PIC +99.99E+99.", "  05 F2 PIC +9.9(4)E+99.",
                                                             "  05 F3 PIC +.9(6)E-99.", "  05 F4 PIC -9999E+99.",
                                                             "  05 F5 PIC +9V99E+99.", "  05 Z PIC X."}));
    Analysis a(path);
    struct Expected { const char* name; int bytes, digits, scale; };
    for (const Expected& e : {Expected{"F1", 9, 4, 2}, Expected{"F2", 10, 5, 4}, Expected{"F3", 12, 6, 6},
                              Expected{"F4", 8, 4, 0}, Expected{"F5", 8, 3, 2}}) {
        EXPECT_EQ(a[e.name]->byteLength, e.bytes) << e.name;
        EXPECT_EQ(a[e.name]->digits, e.digits) << e.name;
        EXPECT_EQ(a[e.name]->scale, e.scale) << e.name;
        EXPECT_EQ(a[e.name]->flags & (ITEM_NUMERIC | ITEM_EDITED), ITEM_NUMERIC | ITEM_EDITED) << e.name;
    }
    EXPECT_EQ(a["Z"]->position, 48);
}

// N pictures take two bytes per N and one per B 0 / as GnuCOBOL lays them out (IBM
// would take two; cross-checked in data/NATEDIT.cpy); G pictures and DISPLAY-1, which
// cobc refuses, two per position as IBM counts them.
TEST(CobolLayout, NationalAndDbcsEditedLengths) {
    Folder folder;
    const std::string path = folder.Write(
        "BOOK.cpy", Fixed({"01 R.", "  05 N1 PIC N(3)B.", "  05 N2 PIC N(2)BN.", "  05 N3 PIC N0N.", "  05 N4 PIC N/N.",
                           "  05 N5 PIC N(3)B USAGE NATIONAL.", "  05 N6 PIC N(4).", "  05 G1 PIC G(2)B.",
                           "  05 G2 PIC G(2)B DISPLAY-1.", "  05 G3 PIC N(3)B DISPLAY-1.", "  05 Z PIC X."}));
    Analysis a(path);
    struct Expected { const char* name; int bytes; unsigned category; };
    const unsigned edited = ITEM_NATIONAL | ITEM_EDITED;
    for (const Expected& e : {Expected{"N1", 7, edited}, Expected{"N2", 7, edited}, Expected{"N3", 5, edited},
                              Expected{"N4", 5, edited}, Expected{"N5", 7, edited}, Expected{"N6", 8, ITEM_NATIONAL},
                              Expected{"G1", 6, edited}, Expected{"G2", 6, edited}, Expected{"G3", 8, edited}}) {
        EXPECT_EQ(a[e.name]->byteLength, e.bytes) << e.name;
        EXPECT_EQ(a[e.name]->flags & (ITEM_NATIONAL | ITEM_EDITED), e.category) << e.name;
    }
    EXPECT_EQ(a["Z"]->position, 60);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 60u);
}

// PICTURE N without USAGE is national like USAGE NATIONAL; DISPLAY-1 and G are DBCS,
// no national usage.
TEST(CobolLayout, NationalUsageOfNAndNoneOfDbcs) {
    Folder folder;
    const std::string path = folder.Write(
        "BOOK.cpy", Fixed({"01 R.", "  05 N1 PIC N(4).", "  05 N2 PIC N(4) USAGE NATIONAL.", "  05 N3 PIC N(4) DISPLAY-1.",
                           "  05 G1 PIC G(3).", "  05 G2 PIC G(3) DISPLAY-1.", "  05 GN USAGE NATIONAL.", "    10 GN1 PIC N(2).",
                           "  05 GD DISPLAY-1.", "    10 GD1 PIC G(2).", "  05 X1 PIC X(2)."}));
    Analysis a(path);
    for (const char* name : {"N1", "N2", "GN", "GN1"}) EXPECT_TRUE(a[name]->flags & USAGE_NATIONAL) << name;
    for (const char* name : {"N3", "G1", "G2", "GD", "GD1", "X1"}) EXPECT_FALSE(a[name]->flags & USAGE_NATIONAL) << name;
    EXPECT_EQ(a["N1"]->flags, a["N2"]->flags);
    EXPECT_EQ(a["N1"]->byteLength, a["N2"]->byteLength);
    EXPECT_EQ(a["G1"]->flags, a["G2"]->flags);
    EXPECT_EQ(a["GD1"]->byteLength, 4);
}

TEST(CobolLayout, CompXSizeIsAGuessWithAWarning) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC 9(2) COMP-X.", "  05 B PIC 9(5) COMP-X."}));
    Analysis a(path);
    EXPECT_EQ(a["A"]->byteLength, 1);
    EXPECT_EQ(a["B"]->byteLength, 3);
    EXPECT_TRUE(a["B"]->flags & USAGE_COMPX);
    ASSERT_EQ(a.analyzer.Warnings().size(), 2u);
    EXPECT_EQ(a.analyzer.Warnings()[1].line, 3);
    EXPECT_EQ(a.analyzer.Warnings()[1].fileName, path);
}

// A repeated USAGE clause: GnuCOBOL warns "duplicate USAGE clause" and takes the last
// one (cobc -std=ibm gives A 4, B 4, C 3, D 2 and the record 13 bytes); the flags then
// hold that usage only, so the storage form follows it too.
TEST(CobolLayout, RepeatedUsageWarnsAndTheLastOneCounts) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC 9(5) COMP COMP-5.",
                                                             "  05 B PIC 9(5) COMP-3 COMP.",
                                                             "  05 C PIC 9(5) COMP-5 COMP-3.",
                                                             "  05 D PIC 9(3) USAGE COMP", "       USAGE IS COMP-3.",
                                                             "  05 E PIC S9(3) BINARY-CHAR COMP-3.",
                                                             "  05 F BINARY-CHAR BINARY-SHORT UNSIGNED.",
                                                             "  05 G COMP-X PIC 9(3) COMP."}));
    Analysis a(path);
    constexpr unsigned kUsages = USAGE_BINARY | USAGE_COMP5 | USAGE_PACKED | USAGE_COMPX;
    EXPECT_EQ(a["A"]->flags & kUsages, USAGE_COMP5);
    EXPECT_EQ(a["B"]->flags & kUsages, USAGE_BINARY);
    EXPECT_EQ(a["C"]->flags & kUsages, USAGE_PACKED);
    EXPECT_EQ(a["D"]->flags & kUsages, USAGE_PACKED);
    EXPECT_EQ(a["A"]->byteLength, 4);
    EXPECT_EQ(a["B"]->byteLength, 4);
    EXPECT_EQ(a["C"]->byteLength, 3);
    EXPECT_EQ(a["D"]->byteLength, 2);
    EXPECT_TRUE(StorageFormOf(a["A"]) == StorageForm::kNativeBinary);
    EXPECT_TRUE(StorageFormOf(a["B"]) == StorageForm::kBinary);
    EXPECT_TRUE(StorageFormOf(a["C"]) == StorageForm::kPacked);
    // The sign of the PICTURE stays; the one BINARY-CHAR gave goes with it.
    EXPECT_EQ(a["E"]->flags & (kUsages | ITEM_SIGNED), USAGE_PACKED | ITEM_SIGNED);
    EXPECT_EQ(a["F"]->flags & (kUsages | ITEM_SIGNED), USAGE_COMP5);
    EXPECT_EQ(a["F"]->byteLength, 2);
    EXPECT_EQ(a["G"]->flags & kUsages, USAGE_BINARY);
    EXPECT_EQ(a["G"]->byteLength, 2);
    const std::vector<CobolWarning>& warnings = a.analyzer.Warnings();
    ASSERT_EQ(warnings.size(), 7u);
    const int lines[] = {2, 3, 4, 6, 7, 8, 9};
    for (std::size_t i = 0; i < warnings.size(); ++i) {
        EXPECT_EQ(warnings[i].fileName, path);
        EXPECT_EQ(warnings[i].line, lines[i]);
        EXPECT_NE(warnings[i].message.find("duplicate USAGE clause"), std::string::npos) << warnings[i].message;
    }
    EXPECT_NE(warnings[0].message.find("COMP-5"), std::string::npos) << warnings[0].message;
    EXPECT_EQ(a.analyzer.GetRecordLength(), 4u + 4 + 3 + 2 + 2 + 2 + 2);
}

TEST(CobolLayout, ExpansionMarksTheEndAndNumbersEveryItem) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 G OCCURS 2.", "    10 H OCCURS 3 PIC X.", "  05 Z PIC X."}));
    Analysis a(path);
    std::vector<CopyItem*> items = Items(a.head);
    ASSERT_EQ(items.size(), 10u);
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i]->serialNo, static_cast<int>(i + 1));
    EXPECT_EQ(a.analyzer.GetItemCount(), 10u);
    EXPECT_TRUE(items.back()->flags & ITEM_LIST_END);
    EXPECT_EQ(items[5]->elementNo, 2);  // the second G
    EXPECT_EQ(items[6]->dimension, 2);
    EXPECT_EQ(items[6]->parent, items[5]);
    EXPECT_EQ(items[8]->position, 6);
}

TEST(CobolLayout, RepeatedAnalysisGivesTheSameList) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X(4) OCCURS 3.", "  05 B PIC S9(4) COMP SYNC."}));
    CobolAnalyzer analyzer(path.c_str());
    CopyItem* first = analyzer.Analyze();
    std::vector<int> positions;
    for (CopyItem* item = first; item != nullptr; item = item->next) positions.push_back(item->position);
    analyzer.FreeItems();
    CopyItem* second = analyzer.Analyze();
    std::vector<int> again;
    for (CopyItem* item = second; item != nullptr; item = item->next) again.push_back(item->position);
    EXPECT_EQ(positions, again);
    EXPECT_EQ(analyzer.GetRecordLength(), 14u);
    // Without FreeItems the earlier list is released, not kept in front of the new one.
    CopyItem* third = analyzer.Analyze();
    EXPECT_EQ(Items(third).size(), positions.size());
}

TEST(CobolLayout, SeedAnalysisOfTheSameFileIsUnchanged) {
    // The seed's rules refuse what the COBOL rules accept; the two objects share nothing.
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.", "    88 A-ON VALUE 'Y'."}));
    CopyAnalyzer seed(path.c_str());
    EXPECT_THROW(seed.Analyze(), CException);
    Analysis a(path);
    EXPECT_EQ(Items(a.head).size(), 3u);
}

}  // namespace
