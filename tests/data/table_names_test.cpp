// The tables' one naming rule (decode's columns and the CREATE TABLE files alike) and
// the CREATE TABLE statement in the databases' dialects.
#include <gtest/gtest.h>

#include "data_test_util.h"
#include "layoutplan.h"
#include "quillbox.h"
#include "sqltable.h"

using datatest::Layout;
using namespace quillbox;

namespace {

std::vector<std::string> Columns(Layout& layout, const ColumnChoice& choice = ColumnChoice(), bool serialNo = false) {
    LayoutPlan plan;
    std::string error;
    EXPECT_TRUE(BuildLayoutPlan(layout.Head(), layout.Length(), false, serialNo, choice, plan, error)) << error;
    std::vector<std::string> names;
    for (const Field& field : plan.fields) names.push_back(field.column);
    return names;
}

std::string GenericDdl(Layout& layout, bool noFiller = false, ColumnNaming naming = ColumnNaming::kCobol) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(WriteCreateTable(file, layout.Head(), "T", false, false, noFiller, naming));
    std::string text = datatest::ReadAll(file);
    std::fclose(file);
    return text;
}

const std::vector<std::string> kNested = {"01 R.", "   05 L OCCURS 2.", "      10 Q PIC 9.", "      10 D OCCURS 3.",
                                          "         15 DT PIC 9(2)."};

TEST(TableNames, NestedTablesCarryEveryIndexOutermostFirst) {
    Layout layout(kNested);
    EXPECT_EQ(Columns(layout), (std::vector<std::string>{"Q_1", "DT_1_1", "DT_1_2", "DT_1_3", "Q_2", "DT_2_1", "DT_2_2",
                                                         "DT_2_3"}));
    // An elementary table inside a group table: its first occurrence alone carries the
    // OCCURS count, the later ones are known by their siblings.
    Layout inner({"01 R.", "   05 T OCCURS 2.", "      10 M PIC X.", "      10 U PIC X OCCURS 3."}, true);
    EXPECT_EQ(Columns(inner), (std::vector<std::string>{"M_1", "U_1_1", "U_1_2", "U_1_3", "M_2", "U_2_1", "U_2_2", "U_2_3"}));
    // The running number is unique already and stays the one suffix.
    EXPECT_EQ(Columns(layout, ColumnChoice(), true)[1], "DT_5");
    // The CREATE TABLE file names them alike: the seed's rule wrote DT_1 twice, which no
    // database takes.
    std::string ddl = GenericDdl(layout);
    EXPECT_NE(ddl.find("    DT_2_3 NUMERIC(2)\r\n"), std::string::npos) << ddl;
    EXPECT_EQ(ddl.find("    DT_1 "), std::string::npos) << ddl;
}

TEST(TableNames, RepeatedNamesQualifiedByTheirGroupOrNumbered) {
    Layout layout({"01 R.", "   05 HDR.", "      10 CUST-ID PIC X(3).", "      10 FILLER PIC X.", "      10 FILLER PIC X.",
                   "   05 ADDR.", "      10 CUST-ID PIC X(3).", "   05 FILLER PIC X(2).", "   05 TOTAL PIC 9."});
    EXPECT_EQ(Columns(layout), (std::vector<std::string>{"HDR-CUST-ID", "FILLER", "FILLER_2", "ADDR-CUST-ID", "FILLER_3",
                                                         "TOTAL"}));
    ColumnChoice noFiller;
    noFiller.noFiller = true;
    EXPECT_EQ(Columns(layout, noFiller), (std::vector<std::string>{"HDR-CUST-ID", "ADDR-CUST-ID", "TOTAL"}));
    EXPECT_EQ(GenericDdl(layout, true), "CREATE TABLE T (\r\n    HDR-CUST-ID VARCHAR(3),\r\n    ADDR-CUST-ID VARCHAR(3),\r\n"
                                        "    TOTAL NUMERIC(1)\r\n);\r\n");
    // A qualified name that another column has already is not taken: the name stays
    // where it is now unique.
    Layout taken({"01 R.", "   05 HDR.", "      10 ID PIC X.", "   05 ADDR.", "      10 ID PIC X.", "   05 HDR-ID PIC X."});
    EXPECT_EQ(Columns(taken), (std::vector<std::string>{"ID", "ADDR-ID", "HDR-ID"}));
}

TEST(TableNames, SqlNamesAndTheirCollisions) {
    Layout layout({"01 R.", "   05 ORDER-NO PIC 9(4).", "   05 ORDER_NO PIC 9(4).", "   05 DATE PIC X(8).",
                   "   05 SELECT-X PIC X."});
    ColumnChoice sql;
    sql.naming = ColumnNaming::kSql;
    EXPECT_EQ(Columns(layout, sql), (std::vector<std::string>{"ORDER_NO", "ORDER_NO_2", "DATE", "SELECT_X"}));
    std::string ddl = GenericDdl(layout, false, ColumnNaming::kSql);
    EXPECT_NE(ddl.find("    \"DATE\" VARCHAR(8)"), std::string::npos) << ddl;
    EXPECT_NE(ddl.find("    SELECT_X VARCHAR(1)"), std::string::npos) << ddl;
}

TEST(SqlDialects, TypesOfEveryKind) {
    Layout layout({"01 R.", "   05 TXT PIC X(5).", "   05 N5 PIC S9(5).", "   05 AMT PIC S9(16)V99 COMP-3.",
                   "   05 BIG PIC 9(18).", "   05 H PIC S9(4) COMP.", "   05 UH PIC 9(4) COMP.", "   05 UL PIC 9(18) COMP.",
                   "   05 SC PIC S9(7)V99 COMP.", "   05 F COMP-1.", "   05 D COMP-2.", "   05 KANJI PIC N(4).",
                   "   05 DT PIC 99PPP."},
                  true);
    LayoutPlan plan;
    std::string error;
    ASSERT_TRUE(BuildLayoutPlan(layout.Head(), layout.Length(), false, false, ColumnChoice(), plan, error)) << error;
    EXPECT_EQ(CreateTableSql(plan, "t", SqlDialect::kSqlite),
              "CREATE TABLE t (\n    TXT TEXT,\n    N5 INTEGER,\n    AMT TEXT, /* PIC S9(16)V99 */\n    BIG INTEGER,\n"
              "    H INTEGER,\n    UH INTEGER,\n    UL TEXT, /* PIC 9(18) */\n    SC TEXT, /* PIC S9(7)V99 */\n"
              "    F REAL,\n    D REAL,\n    KANJI TEXT,\n    DT INTEGER\n);\n");
    EXPECT_EQ(CreateTableSql(plan, "t", SqlDialect::kPostgresql),
              "CREATE TABLE t (\n    TXT VARCHAR(5),\n    N5 NUMERIC(5),\n    AMT NUMERIC(18,2),\n    BIG NUMERIC(18),\n"
              "    H SMALLINT,\n    UH INTEGER,\n    UL NUMERIC(20),\n    SC NUMERIC(10,2),\n    F REAL,\n"
              "    D DOUBLE PRECISION,\n    KANJI NCHAR(4),\n    DT NUMERIC(5)\n);\n");
    EXPECT_EQ(CreateTableSql(plan, "T-1", SqlDialect::kDb2, true),
              "CREATE TABLE \"T-1\" (\n    \"TXT\" VARCHAR(5),\n    \"N5\" DECIMAL(5,0),\n    \"AMT\" DECIMAL(18,2),\n"
              "    \"BIG\" DECIMAL(18,0),\n    \"H\" SMALLINT,\n    \"UH\" INTEGER,\n    \"UL\" DECIMAL(20,0),\n"
              "    \"SC\" DECIMAL(10,2),\n    \"F\" REAL,\n    \"D\" DOUBLE,\n    \"KANJI\" GRAPHIC(4),\n"
              "    \"DT\" DECIMAL(5,0)\n);\n");
    EXPECT_FALSE(CheckTableName(std::string(64, 'x'), SqlDialect::kPostgresql, error));
    EXPECT_NE(error.find("63 bytes"), std::string::npos) << error;
    EXPECT_FALSE(CheckTableName("a\tb", SqlDialect::kSqlite, error));
    EXPECT_TRUE(CheckTableName(u8"顧客", SqlDialect::kDb2, error));
}

}  // namespace
