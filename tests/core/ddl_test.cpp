// The CREATE TABLE file, compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "item_list.h"
#include "replacement_util.h"

namespace {

std::string Ddl(const CopyItem* head, const char* table, bool serialNo = false, bool quote = false) {
    std::string path = TestFilePath("table.sql");
    EXPECT_EQ(EXPORT_DONE, WriteCreateTable(path.c_str(), head, table, serialNo, quote));
    std::string bytes = ReadFileBytes(path);
    std::remove(path.c_str());
    return bytes;
}

CopyItem* Numeric(ItemList& list, int level, const char* name, int digits, int scale, unsigned usage = 0) {
    CopyItem* item = list.Add(level, name, ITEM_NUMERIC | usage);
    item->digits = digits;
    item->scale = scale;
    return item;
}

CopyItem* Text(ItemList& list, int level, const char* name, int bytes, unsigned category = ITEM_ALPHANUMERIC) {
    CopyItem* item = list.Add(level, name, category);
    item->byteLength = bytes;
    return item;
}

TEST(CreateTable, PlainColumnsUnderAGroup) {
    ItemList list;
    list.Add(1, "REC", ITEM_GROUP);
    Text(list, 5, "CODE", 5);
    Numeric(list, 5, "AMT", 9, 2, USAGE_PACKED | ITEM_SIGNED)->byteLength = 5;
    EXPECT_EQ("CREATE TABLE T1 (\r\n"
              "    CODE VARCHAR(5),\r\n"
              "    AMT DECIMAL(9,2)\r\n"
              ");\r\n",
              Ddl(list.Head(), "T1"));
}

TEST(CreateTable, TypesInTheirOrder) {
    ItemList list;
    Numeric(list, 5, "F", 0, 0, USAGE_FLOAT)->byteLength = 4;
    Numeric(list, 5, "D", 0, 0, USAGE_DOUBLE)->byteLength = 8;
    Numeric(list, 5, "FD", 0, 3, USAGE_FLOAT | USAGE_DOUBLE);
    Numeric(list, 5, "DEC", 7, -2, USAGE_BINARY);
    Numeric(list, 5, "NUM", 5, 0, USAGE_COMP5);
    Numeric(list, 5, "NBIT", 4, 0, USAGE_BIT);
    Text(list, 5, "BITS", 1, ITEM_BOOLEAN)->flags |= USAGE_BIT;
    Text(list, 5, "KANJI", 20, ITEM_NATIONAL);
    Text(list, 5, "FLAG", 1, ITEM_BOOLEAN);
    Text(list, 5, "NONE", 3, 0);
    EXPECT_EQ("CREATE TABLE 顧客 (\r\n"
              "    F REAL,\r\n"
              "    D DOUBLE PRECISION,\r\n"
              "    FD REAL,\r\n"
              "    DEC DECIMAL(7,-2),\r\n"
              "    NUM NUMERIC(5),\r\n"
              "    NBIT NUMERIC(4),\r\n"
              "    BITS BLOB,\r\n"
              "    KANJI VARCHAR(20),\r\n"
              "    FLAG VARCHAR(1),\r\n"
              "    NONE VARCHAR(3)\r\n"
              ");\r\n",
              Ddl(list.Head(), "顧客"));
}

// 01 R. 05 A OCCURS 3 PIC X(2) (three copies, serial numbers 2 to 4). 05 B PIC 9.
ItemList ArrayList() {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    for (int element = 1; element <= 3; ++element) {
        CopyItem* a = Text(list, 5, "A", 2);
        a->flags |= ITEM_ARRAY;
        a->elementNo = element;
        a->serialNo = element + 1;
    }
    Numeric(list, 5, "B", 1, 0);
    return list;
}

TEST(CreateTable, ArrayCopiesAreSuffixedByElementOrSerialNumber) {
    ItemList list = ArrayList();
    EXPECT_EQ("CREATE TABLE T (\r\n"
              "    A_1 VARCHAR(2),\r\n"
              "    A_2 VARCHAR(2),\r\n"
              "    A_3 VARCHAR(2),\r\n"
              "    B NUMERIC(1)\r\n"
              ");\r\n",
              Ddl(list.Head(), "T"));
    EXPECT_EQ("CREATE TABLE T (\r\n"
              "    A_2 VARCHAR(2),\r\n"
              "    A_3 VARCHAR(2),\r\n"
              "    A_4 VARCHAR(2),\r\n"
              "    B NUMERIC(1)\r\n"
              ");\r\n",
              Ddl(list.Head(), "T", true));
}

TEST(CreateTable, QuotedNamesKeepTheSuffixInside) {
    ItemList list = ArrayList();
    EXPECT_EQ("CREATE TABLE \"T\" (\r\n"
              "    \"A_2\" VARCHAR(2),\r\n"
              "    \"A_3\" VARCHAR(2),\r\n"
              "    \"A_4\" VARCHAR(2),\r\n"
              "    \"B\" NUMERIC(1)\r\n"
              ");\r\n",
              Ddl(list.Head(), "T", true, true));
}

TEST(CreateTable, RedefiningAreasGiveNoColumn) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    list.Add(5, "G", ITEM_GROUP);
    Text(list, 10, "G-A", 4);
    CopyItem* over = list.Add(10, "G-OVER", ITEM_GROUP | ITEM_REDEFINES);   // last item of its group
    over->redefines = list[2];
    Text(list, 15, "G-OVER-1", 2);
    Text(list, 15, "G-OVER-2", 2);
    Text(list, 5, "AFTER", 3);
    CopyItem* single = Text(list, 5, "ALT", 3);
    single->flags |= ITEM_REDEFINES;
    single->redefines = list[6];
    EXPECT_EQ("CREATE TABLE T (\r\n"
              "    G-A VARCHAR(4),\r\n"
              "    AFTER VARCHAR(3)\r\n"
              ");\r\n",
              Ddl(list.Head(), "T"));
}

TEST(CreateTable, NoColumnLeavesAnEmptyLine) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    list.Add(5, "G", ITEM_GROUP);
    EXPECT_EQ("CREATE TABLE T (\r\n\r\n);\r\n", Ddl(list.Head(), "T"));
    EXPECT_EQ("CREATE TABLE \"\" (\r\n\r\n);\r\n", Ddl(nullptr, "", false, true));
}

TEST(CreateTable, UnwritableFileIsReported) {
    EXPECT_EQ(EXPORT_OPEN_FAILED, WriteCreateTable("no-such-folder/x/t.sql", nullptr, "T", false, false));
}

#ifndef _WIN32
// A CREATE TABLE file that fails part way never destroys the file that was there.
TEST(CreateTable, FailedWriteKeepsTheOldFile) {
    ItemList list;
    list.Add(1, "R", ITEM_GROUP);
    Text(list, 5, "A-LONG-COLUMN-NAME", 10);
    const std::string folder = qbtest::ScratchFolder("app_core_ddl");
    const std::string path = folder + "t.sql";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old table"));
    EXPECT_EQ(1, qbtest::WriteWithFileSizeLimit(20, [&] {
        return WriteCreateTable(path.c_str(), list.Head(), "T", false, false) == EXPORT_WRITE_FAILED;
    }));
    EXPECT_EQ("old table", qbtest::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"t.sql"}, qbtest::FilesIn(folder));
    qbtest::RemoveFolder(folder);
}
#endif

}  // namespace
