// The table rows, the HTML 属性 cell and the CREATE TABLE file of a layout made by the
// COBOL-rules analysis: condition names, RENAMES, SIGN SEPARATE, SYNC, pointers,
// OCCURS DEPENDING.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cobolrules.h"
#include "item_list.h"

namespace {

// A copybook written to a scratch file, analysed under the COBOL rules.
class CobolLayout {
public:
    explicit CobolLayout(const char* source) : path(TestFilePath("cobol_rows.cpy")), analyzer("") {
        qbtest::WriteFileBytes(path, source);
        analyzer.SetFileName(path.c_str());
        analyzer.Analyze();
    }
    ~CobolLayout() { std::remove(path.c_str()); }
    CopyItem* Head() { return analyzer.GetHead(); }
    const CopyItem* Find(const char* name) {
        for (CopyItem* item = Head(); item != nullptr; item = item->next)
            if (std::strcmp(item->name, name) == 0) return item;
        ADD_FAILURE() << name;
        return nullptr;
    }
    std::vector<std::string> Row(const char* name) {
        char cells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE];
        FormatItemRow(Find(name), 1, cells);
        return std::vector<std::string>(std::begin(cells), std::end(cells));
    }

private:
    std::string path;
    CobolAnalyzer analyzer;
};

const char* const kCopybook =
    "       01  REC.\n"
    "           05  STATUS-CODE      PIC X.\n"
    "               88  ST-OK        VALUE 'A' 'B'\n"
    "                                      'C'.\n"
    "               88  ST-BAD       VALUE 'X' THRU 'Z'.\n"
    "           05  AMT              PIC S9(5) SIGN LEADING SEPARATE.\n"
    "           05  AMT2             PIC S9(3) SIGN TRAILING SEPARATE.\n"
    "           05  AMT3             PIC S9(3) SIGN LEADING.\n"
    "           05  B1               PIC S9(4) COMP SYNC.\n"
    "           05  X1               PIC X SYNC.\n"
    "           05  P1               POINTER.\n"
    "           05  IX               INDEX.\n"
    "           05  NAT              PIC N(3) USAGE NATIONAL.\n"
    "           05  CNT              PIC 9(2).\n"
    "           05  TBL OCCURS 1 TO 3 TIMES DEPENDING ON CNT.\n"
    "               10  TV           PIC X(2).\n"
    "           66  RN RENAMES STATUS-CODE THRU AMT.\n";

// The names of the rows shown with array expansion off or on, of `source` analysed
// under the COBOL rules or the default ones.
std::string ShownRows(const char* source, bool cobol, bool expansion) {
    std::string path = TestFilePath(cobol ? "shown_cobol.cpy" : "shown_default.cpy");
    qbtest::WriteFileBytes(path, source);
    std::unique_ptr<CopyAnalyzer> analyzer(cobol ? new CobolAnalyzer("") : new CopyAnalyzer(""));
    analyzer->SetFileName(path.c_str());
    analyzer->Analyze();
    std::string names;
    for (const CopyItem* item = FirstShownItem(analyzer->GetHead(), expansion); item != nullptr;
         item = NextShownItem(item, expansion)) {
        names += std::string(names.empty() ? "" : " ") + item->name;
    }
    std::remove(path.c_str());
    return names;
}

TEST(CobolRows, CollapsedTablesInTablesShowTheRowsOfTheDefaultRules) {
    // A table holding tables at the end of the record: only the first occurrence's
    // structure (the copies of the inner tables for occurrences 2 and 3 were shown too).
    const char* atTheEnd =
        "       01  TR-REC.\n"
        "           05  TR-ITEM OCCURS 3.\n"
        "               10  TR-ITEM-CD    PIC X(6).\n"
        "               10  TR-ITEM-FLAGS PIC X OCCURS 2.\n"
        "               10  TR-GRP OCCURS 2.\n"
        "                   15  TR-G-X    PIC X.\n";
    EXPECT_EQ("TR-REC TR-ITEM TR-ITEM-CD TR-ITEM-FLAGS TR-GRP TR-G-X", ShownRows(atTheEnd, true, false));
    EXPECT_EQ(ShownRows(atTheEnd, false, false), ShownRows(atTheEnd, true, false));
    // With an item after the table, and expanded, both rules show the same rows as before.
    std::string followed = std::string(atTheEnd) + "           05  TR-END PIC X.\n";
    EXPECT_EQ(ShownRows(followed.c_str(), false, false), ShownRows(followed.c_str(), true, false));
    EXPECT_EQ(ShownRows(atTheEnd, false, true), ShownRows(atTheEnd, true, true));
    const std::string expanded = ShownRows(atTheEnd, true, true);
    EXPECT_EQ(24, std::count(expanded.begin(), expanded.end(), ' '));   // 25 rows
}

TEST(CobolRows, ConditionNameShowsItsValuesAtItsVariable) {
    CobolLayout layout(kCopybook);
    std::vector<std::string> expected = {"条件名", "1", "88", "ST-OK", "'A' 'B' 'C'", "0", "", "0", "",
                                         "", "", "", "", "1", ""};
    EXPECT_EQ(expected, layout.Row("ST-OK"));
    EXPECT_EQ("'X' THRU 'Z'", layout.Row("ST-BAD")[4]);
}

TEST(CobolRows, RenamesShowsItsRange) {
    CobolLayout layout(kCopybook);
    std::vector<std::string> expected = {"再命名", "1", "66", "RN", "RENAMES STATUS-CODE THRU AMT", "0", "", "7", "",
                                         "", "", "", "", "1", ""};
    EXPECT_EQ(expected, layout.Row("RN"));
}

TEST(CobolRows, NewAttributesComeAfterTheSeedsSix) {
    CobolLayout layout(kCopybook);
    EXPECT_EQ("SEPARATE", layout.Row("AMT")[8]);
    EXPECT_EQ("6", layout.Row("AMT")[7]);
    EXPECT_EQ("SEPARATE", layout.Row("AMT2")[8]);
    EXPECT_EQ("LEADING", layout.Row("AMT3")[8]);
    EXPECT_EQ("BINARY", layout.Row("B1")[8]);  // BINARY before SYNC
    EXPECT_EQ("SYNC", layout.Row("X1")[8]);
    EXPECT_EQ("POINTER", layout.Row("P1")[8]);
    EXPECT_EQ("INDEX", layout.Row("IX")[8]);
    EXPECT_EQ("NATIONAL", layout.Row("NAT")[8]);
    EXPECT_EQ("2バイト文字", layout.Row("NAT")[0]);
    EXPECT_EQ("DEPENDING", layout.Row("TBL")[8]);
    EXPECT_EQ("3", layout.Row("TBL")[10]);
}

TEST(CobolRows, PictureNIsNationalAndDisplayOneIsNot) {
    CobolLayout layout(
        "       01  REC.\n"
        "           05  N-PLAIN          PIC N(4).\n"
        "           05  N-USAGE          PIC N(4) USAGE NATIONAL.\n"
        "           05  DBCS             PIC G(3) DISPLAY-1.\n"
        "           05  DBCS-PLAIN       PIC G(3).\n");
    EXPECT_EQ("NATIONAL", layout.Row("N-PLAIN")[8]);
    EXPECT_EQ(layout.Row("N-USAGE")[8], layout.Row("N-PLAIN")[8]);
    EXPECT_EQ(layout.Row("N-USAGE")[0], layout.Row("N-PLAIN")[0]);
    EXPECT_EQ("", layout.Row("DBCS")[8]);
    EXPECT_EQ("2バイト文字", layout.Row("DBCS")[0]);
    EXPECT_EQ(layout.Row("DBCS-PLAIN")[8], layout.Row("DBCS")[8]);
}

TEST(CobolRows, SeedFlagsKeepTheirTexts) {
    // An item that has a seed usage and new bits reads as the seed's usage.
    EXPECT_STREQ("PACK", ItemUsage(USAGE_PACKED | ITEM_SYNC | USAGE_NATIONAL)->shown);
    EXPECT_STREQ("集団項目", ItemCategory(ITEM_GROUP | ITEM_NUMERIC)->shown);
    EXPECT_EQ(nullptr, ItemUsage(ITEM_SIGNED | ITEM_ARRAY | ITEM_REDEFINES | ITEM_LIST_END));
}

TEST(CobolRows, HtmlAttributeCellFollowsTheTable) {
    CobolLayout layout(kCopybook);
    std::string path = TestFilePath("cobol_rows.html");
    ASSERT_EQ(EXPORT_DONE, WriteHtmlReport(path.c_str(), layout.Head(), 0, "", false));
    std::string html = ReadFileBytes(path);
    std::remove(path.c_str());
    EXPECT_NE(std::string::npos, html.find(">POINTER<"));
    EXPECT_NE(std::string::npos, html.find("RENAMES STATUS-CODE THRU AMT"));
}

std::string Ddl(CopyItem* head) {
    std::string path = TestFilePath("cobol_rows.sql");
    EXPECT_EQ(EXPORT_DONE, WriteCreateTable(path.c_str(), head, "T", false, false));
    std::string bytes = ReadFileBytes(path);
    std::remove(path.c_str());
    return bytes;
}

TEST(CobolCreateTable, NoColumnForConditionsAndRenamesAndEveryDependingOccurrence) {
    CobolLayout layout(kCopybook);
    EXPECT_EQ("CREATE TABLE T (\r\n"
              "    STATUS-CODE VARCHAR(1),\r\n"
              "    AMT NUMERIC(5),\r\n"
              "    AMT2 NUMERIC(3),\r\n"
              "    AMT3 NUMERIC(3),\r\n"
              "    B1 NUMERIC(4),\r\n"
              "    X1 VARCHAR(1),\r\n"
              "    P1 VARCHAR(4),\r\n"
              "    IX VARCHAR(4),\r\n"
              "    NAT VARCHAR(6),\r\n"
              "    CNT NUMERIC(2),\r\n"
              "    TV_1 VARCHAR(2),\r\n"
              "    TV_2 VARCHAR(2),\r\n"
              "    TV_3 VARCHAR(2)\r\n"
              ");\r\n",
              Ddl(layout.Head()));
}

TEST(CobolCreateTable, LevelSeventySevenAfterARedefiningRecordIsAColumn) {
    CobolLayout layout(
        "       01  A          PIC X(4).\n"
        "       01  B REDEFINES A.\n"
        "           05  B1     PIC X(2).\n"
        "           05  B2     PIC X(2).\n"
        "             88  B2-ON VALUE 'ON'.\n"
        "       77  C          PIC 9(3).\n");
    EXPECT_EQ("CREATE TABLE T (\r\n"
              "    A VARCHAR(4),\r\n"
              "    C NUMERIC(3)\r\n"
              ");\r\n",
              Ddl(layout.Head()));
}

}  // namespace
