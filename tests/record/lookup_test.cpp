// Item lookup by serial number and by qualified name, and the keyed forms' messages.
#include <string>

#include "record_fixture.h"

namespace {

TEST(Lookup, QualifiedNamesAndOccurrences) {
    Copybook copybook("lookup_basic.cpy", {"01  R.", "05  A  PIC X(2).", "05  B  OCCURS 2.", "10  D  PIC 9."});
    CopyRecord record("", copybook.path());
    CopyItem* a = record.FindItemByName("R.A");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name, "A");
    EXPECT_EQ(record.FindItemByName("r.a"), a);
    CopyItem* second = record.FindItemByName("R.B.2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->elementNo, 2);
    EXPECT_EQ(record.FindItemBySerial(5), second);
    EXPECT_EQ(record.FindItemByName("R.B"), nullptr);
    EXPECT_EQ(record.FindItemByName("R.B.2.D"), nullptr);
    EXPECT_EQ(record.FindItemByName("D"), nullptr);
    EXPECT_EQ(record.FindItemByName("R.B.3"), nullptr);
    EXPECT_EQ(record.FindItemByName("R.B.B"), nullptr);
    EXPECT_EQ(record.FindItemByName("A"), nullptr);
    // The same key again (answered from what was found before) and a key in a buffer.
    EXPECT_EQ(record.FindItemByName("R.B.2"), second);
    char key[8] = "R.A";
    EXPECT_EQ(record.FindItemByName(key), a);
    key[2] = 'X';
    EXPECT_EQ(record.FindItemByName(key), nullptr);
    EXPECT_EQ(record.FindItemBySerial(6), record.FindItemBySerial(5)->next);
    EXPECT_EQ(record.FindItemBySerial(7), nullptr);
    EXPECT_RAISES(record.FindItemBySerial(0), CException, "インデックス値不当");
    EXPECT_RAISES(record.FindItemBySerial(-3), CException, "インデックス値不当");
}

TEST(Lookup, NestedArraysAreReachedThroughOccurrenceNumbers) {
    Copybook copybook("lookup_nested.cpy",
                      {"01  R.", "05  G  OCCURS 2.", "10  A  PIC X OCCURS 3.", "05  T  PIC X."});
    CopyRecord record("", copybook.path());
    CopyItem* g2 = record.FindItemByName("R.G.2");
    ASSERT_NE(g2, nullptr);
    EXPECT_EQ(g2->elementNo, 2);
    EXPECT_STREQ(g2->name, "G");
    EXPECT_EQ(record.FindItemByName("R.G.1"), record.FindItemBySerial(2));
    // After an occurrence that follows the array's name no segment matches.
    EXPECT_EQ(record.FindItemByName("R.G.2.A"), nullptr);
    EXPECT_EQ(record.FindItemByName("R.G.2.1"), nullptr);
    // Occurrence numbers alone walk down the arrays: the third A of the second G.
    CopyItem* a23 = record.FindItemByName("R.2.3");
    ASSERT_NE(a23, nullptr);
    EXPECT_STREQ(a23->name, "A");
    EXPECT_EQ(a23->elementNo, 3);
    EXPECT_EQ(a23->parent, g2);
    EXPECT_EQ(record.FindItemByName("R.1"), record.FindItemBySerial(2));
    EXPECT_EQ(record.FindItemByName("R.G.A"), nullptr);
    EXPECT_EQ(record.FindItemByName("R.T"), record.FindItemBySerial(10));
}

TEST(Lookup, KeyLength) {
    Copybook copybook("lookup_len.cpy", {"01  R.", "05  A  PIC X."});
    CopyRecord record("", copybook.path());
    EXPECT_EQ(record.FindItemByName(std::string(1023, 'A').c_str()), nullptr);
    EXPECT_RAISES(record.FindItemByName(std::string(1024, 'A').c_str()), CException, "キー名長過ぎ");
    std::string longPath = "R." + std::string(1021, 'A');
    EXPECT_EQ(record.FindItemByName(longPath.c_str()), nullptr);
    EXPECT_EQ(record.FindItemByName(static_cast<const char*>(nullptr)), nullptr);
}

TEST(Lookup, KeyedFormsReportMissingItems) {
    Copybook copybook("lookup_keyed.cpy", {"01  R.", "05  N  PIC 9(3).", "05  F  PIC 1(4) BIT."});
    ScratchFile data("lookup_keyed.dat");
    CopyRecord record(data.path(), copybook.path());
    ASSERT_TRUE(record.Open(4));
    char buffer[8];
    const int s = 9;
    const char* k = "R.X";
    EXPECT_RAISES(record.GetString(s, buffer, 8), CException, "インデックスオーバー");
    EXPECT_RAISES(record.GetString(k, buffer, 8), CException, "項目が見つかりません！");
    EXPECT_RAISES(record.SetString(s, "1"), CException, "インデックスオーバー");
    EXPECT_RAISES(record.SetString(k, "1"), CException, "項目が見つかりません！");
    EXPECT_RAISES(record.GetInt8(s), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetInt8(k), CException, "項目がありません！");
    EXPECT_RAISES(record.GetInt16(s), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetInt16(k), CException, "項目がありません！");
    EXPECT_RAISES(record.GetInt32(s), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetInt32(k), CException, "項目がありません！");
    EXPECT_RAISES(record.GetInt64(s), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetInt64(k), CException, "項目がありません！");
    EXPECT_RAISES(record.SetInt8(s, 1), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.SetInt8(k, 1), CException, "項目がありません！");
    EXPECT_RAISES(record.SetInt16(s, 1), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.SetInt16(k, 1), CException, "項目がありません！");
    EXPECT_RAISES(record.SetInt32(s, 1), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.SetInt32(k, 1), CException, "項目がありません！");
    EXPECT_RAISES(record.SetInt64(s, 1), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.SetInt64(k, 1), CException, "項目がありません！");
    EXPECT_RAISES(record.GetDouble(s), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetDouble(k), CException, "項目がありません！");
    EXPECT_RAISES(record.SetDouble(s, 1.0), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.SetDouble(k, 1.0), CException, "項目が見つかりません！！");
    EXPECT_RAISES(record.GetBytes(s, buffer, 8), CException, "インデックスオーバー！！");
    EXPECT_RAISES(record.GetBytes(k, buffer, 8), CException, "項目がありません！");
    EXPECT_RAISES(record.SetBits(s, "1", 1), CException, "項目が見つかりません！");
    EXPECT_RAISES(record.SetBits(k, "1", 1), CException, "項目が見つかりません！");
    EXPECT_RAISES(record.GetInt32(0), CException, "インデックス値不当");

    // The keyed forms reach the same item as the item form.
    EXPECT_TRUE(record.SetInt32("R.N", 123));
    EXPECT_EQ(record.GetInt32(2), 123);
    EXPECT_EQ(record.GetInt64("r.n"), 123);
    EXPECT_TRUE(record.SetString(3, "1011"));
    EXPECT_STREQ(record.GetString("R.F", buffer, 5), "1011");
}

TEST(Lookup, SecondCopybookReplacesTheFirst) {
    Copybook first("lookup_first.cpy", {"01  R.", "05  A  PIC X(2).", "05  B  PIC X(3)."});
    Copybook second("lookup_second.cpy", {"01  S.", "05  C  PIC 9(4).", "05  A  PIC X(30)."});
    CopyRecord record("", first.path());
    ASSERT_NE(record.FindItemByName("R.B"), nullptr);
    EXPECT_TRUE(record.SetCopybook(second.path()));
    EXPECT_STREQ(record.CopybookFileName(), second.path());
    EXPECT_EQ(record.Analyzer()->GetItemCount(), 3u);
    EXPECT_EQ(record.Analyzer()->GetRecordLength(), 34u);
    EXPECT_STREQ(record.GetHead()->name, "S");
    EXPECT_EQ(record.FindItemByName("R.B"), nullptr);
    CopyItem* a = record.FindItemByName("S.A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->byteLength, 30);
    EXPECT_EQ(record.FindItemBySerial(4), nullptr);
}

TEST(Lookup, FailedAnalysisLeavesNoLayout) {
    Copybook good("lookup_good.cpy", {"01  R.", "05  A  PIC X(2)."});
    Copybook bad("lookup_bad.cpy", {"01  R.", "05  A  PIC A(2)."});
    CopyRecord record("", good.path());
    ASSERT_NE(record.FindItemByName("R.A"), nullptr);
    EXPECT_RAISES(record.SetCopybook(bad.path()), CException, "認識できないデータ型");
    EXPECT_EQ(record.GetHead(), nullptr);
    EXPECT_EQ(record.FindItemByName("R.A"), nullptr);
    EXPECT_RAISES(record.Open(1), CException, "コピー句ファイルがおかしい。");
    EXPECT_RAISES(CopyRecord failing("", bad.path()), CException, "認識できないデータ型");
}

TEST(Lookup, Names) {
    CopyRecord record("data.dat", "");
    EXPECT_EQ(record.GetHead(), nullptr);
    EXPECT_STREQ(record.DataFileName(), "data.dat");
    char buffer[8];
    EXPECT_EQ(record.GetDataFileName(nullptr, 0), 9);
    EXPECT_EQ(record.GetDataFileName(buffer, 0), 0);
    EXPECT_EQ(record.GetDataFileName(buffer, 5), 4);
    EXPECT_STREQ(buffer, "data");
    EXPECT_EQ(record.GetDataFileName(buffer, 8), 7);
    EXPECT_STREQ(buffer, "data.da");
    EXPECT_FALSE(record.SetDataFileName(std::string(300, 'd').c_str()));
    EXPECT_EQ(std::strlen(record.DataFileName()), 256u);
    EXPECT_TRUE(record.SetDataFileName(std::string(256, 'e').c_str()));
    EXPECT_EQ(record.GetCopybookFileName(nullptr, 0), 1);
    EXPECT_STREQ(record.CopybookFileName(), "");
}

}  // namespace
