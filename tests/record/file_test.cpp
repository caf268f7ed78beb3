// The data file: open modes and their failures, record reads and writes, short
// reads, the 0x1A end mark, text lines, and a round trip of typed values.
#include <string>

#include "record_fixture.h"

namespace {

class DataFile : public ::testing::Test {
protected:
    DataFile()
        : copybook("file_rec.cpy", {"01  R.", "05  K  PIC X(2).", "05  N  PIC 9(3)."}),
          data("file_rec.dat"), record(data.path(), copybook.path()) {}
    Copybook copybook;
    ScratchFile data;
    CopyRecord record;
};

TEST_F(DataFile, OpenFailures) {
    EXPECT_RAISES(record.Open(8), CFileException, "オープンモードエラー");
    EXPECT_RAISES(record.Open(0), CFileException, "オープンモードエラー");
    EXPECT_RAISES(record.Open(1), CFileException, "オープンエラー");
    EXPECT_EQ(record.DataFile(), nullptr);
    EXPECT_FALSE(record.Close());

    CopyRecord empty(data.path(), "");
    EXPECT_RAISES(empty.Open(3), CException, "コピー句ファイルがおかしい。");

    FailAllocationAfter(0);
    EXPECT_RAISES(record.Open(3), CMemoryException, "メモリ確保失敗");
    FailAllocationAfter(-1);
    EXPECT_EQ(record.DataFile(), nullptr);
    EXPECT_EQ(record.RecordBuffer(), nullptr);

    ASSERT_TRUE(record.Open(3));
    EXPECT_NE(record.DataFile(), nullptr);
    EXPECT_FALSE(record.Open(1));
    EXPECT_TRUE(record.Close());
    EXPECT_EQ(record.RecordBuffer(), nullptr);
    EXPECT_FALSE(record.ReadRecord());
    EXPECT_FALSE(record.WriteRecord());
    EXPECT_FALSE(record.ReadLine());
}

TEST_F(DataFile, EveryOpenMode) {
    // 3: write new.
    ASSERT_TRUE(record.Open(3));
    EXPECT_EQ(record.RecordBuffer()[5], '\0');
    std::memcpy(record.RecordBuffer(), "AA001", 5);
    EXPECT_TRUE(record.WriteRecord());
    EXPECT_FALSE(record.ReadRecord());
    record.Close();
    EXPECT_EQ(data.Read(), "AA001");
    // 5: append.
    ASSERT_TRUE(record.Open(5));
    std::memcpy(record.RecordBuffer(), "BB002", 5);
    EXPECT_TRUE(record.WriteRecord());
    record.Close();
    EXPECT_EQ(data.Read(), "AA001BB002");
    // 1: read.
    ASSERT_TRUE(record.Open(1));
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_STREQ(record.RecordBuffer(), "AA001");
    EXPECT_FALSE(record.WriteRecord());
    record.Close();
    // 2: read and write in place.
    ASSERT_TRUE(record.Open(2));
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_TRUE(record.SetInt32("R.N", 7));
    EXPECT_TRUE(record.WriteRecord());
    EXPECT_FALSE(record.ReadRecord());
    record.Close();
    EXPECT_EQ(data.Read(), "AA001AA007");
    // 6: append and read.
    ASSERT_TRUE(record.Open(6));
    std::memcpy(record.RecordBuffer(), "CC003", 5);
    EXPECT_TRUE(record.WriteRecord());
    std::rewind(record.DataFile());
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_STREQ(record.RecordBuffer(), "AA001");
    record.Close();
    EXPECT_EQ(data.Read(), "AA001AA007CC003");
    // 4: write new and read.
    ASSERT_TRUE(record.Open(4));
    std::memcpy(record.RecordBuffer(), "DD004", 5);
    EXPECT_TRUE(record.WriteRecord());
    std::rewind(record.DataFile());
    std::memset(record.RecordBuffer(), 0, 5);
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_STREQ(record.RecordBuffer(), "DD004");
    record.Close();
    EXPECT_EQ(data.Read(), "DD004");
    // 7: read text: the carriage return before a line feed is dropped.
    data.Write("AB12\r\nCD34\r\n");
    ASSERT_TRUE(record.Open(7));
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_STREQ(record.RecordBuffer(), "AB12\n");
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_STREQ(record.RecordBuffer(), "CD34\n");
    EXPECT_FALSE(record.ReadRecord());
    record.Close();
}

TEST_F(DataFile, ShortReadsAndTheEndMark) {
    data.Write("AA001BB");
    ASSERT_TRUE(record.Open(1));
    EXPECT_TRUE(record.ReadRecord());
    EXPECT_FALSE(record.ReadRecord());
    record.Close();
    ASSERT_TRUE(record.Open(1));
    EXPECT_TRUE(record.ReadRecordBytes());
    EXPECT_STREQ(record.RecordBuffer(), "AA001");
    EXPECT_FALSE(record.ReadRecordBytes());
    EXPECT_FALSE(record.ReadRecordBytes());
    record.Close();

    Copybook single("file_single.cpy", {"01  C  PIC X."});
    CopyRecord bytes(data.path(), single.path());
    data.Write("A\x1a");
    ASSERT_TRUE(bytes.Open(1));
    EXPECT_TRUE(bytes.ReadRecordBytes());
    EXPECT_STREQ(bytes.RecordBuffer(), "A");
    EXPECT_FALSE(bytes.ReadRecordBytes());
    bytes.Close();
    ASSERT_TRUE(bytes.Open(1));
    EXPECT_TRUE(bytes.ReadRecord());
    EXPECT_TRUE(bytes.ReadRecord());
    EXPECT_STREQ(bytes.RecordBuffer(), "\x1a");
    bytes.Close();
}

TEST_F(DataFile, ReadLinePaddingAndSplitting) {
    data.Write("AB\nABCDE\r\nABCDEFGHIJKL\n\nABCDE\rX\nXYZ");
    ASSERT_TRUE(record.Open(7));
    const char* expected[] = {"AB   ", "ABCDE", "ABCDE", "FGHIJ", "KL   ", "     ", "ABCDE", "\rX   ", "XYZ  "};
    for (const char* line : expected) {
        EXPECT_TRUE(record.ReadLine());
        EXPECT_STREQ(record.RecordBuffer(), line);
    }
    EXPECT_FALSE(record.ReadLine());
    record.Close();

    // A last line without a newline keeps every character.
    data.Write("ABCDE");
    ASSERT_TRUE(record.Open(1));
    EXPECT_TRUE(record.ReadLine());
    EXPECT_STREQ(record.RecordBuffer(), "ABCDE");
    EXPECT_FALSE(record.ReadLine());
    record.Close();
}

TEST(RoundTrip, WrittenRecordsReadBackEqual) {
    Copybook copybook("trip.cpy", {"01  TRIP-REC.",
                                   "05  ID       PIC 9(6).",
                                   "05  NAME     PIC N(4).",
                                   "05  AMOUNTS  OCCURS 2.",
                                   "10  AMT      PIC S9(7)V99 COMP-3.",
                                   "05  COUNT-B  PIC S9(4) COMP.",
                                   "05  COUNT-C  PIC S9(9) COMP-5.",
                                   "05  BAL      PIC S9(5)V99.",
                                   "05  FLAGS    PIC 1(6) BIT.",
                                   "05  NOTE     PIC X(7)."});
    ScratchFile data("trip.dat");
    CopyRecord writer(data.path(), copybook.path());
    ASSERT_EQ(writer.Analyzer()->GetRecordLength(), 6u + 8 + 10 + 2 + 4 + 7 + 1 + 7);
    ASSERT_TRUE(writer.Open(3));
    const int kRecords = 3;
    for (int i = 0; i < kRecords; ++i) {
        EXPECT_TRUE(writer.SetInt32("TRIP-REC.ID", 100000 + i));
        EXPECT_TRUE(writer.SetString("TRIP-REC.NAME", i == 0 ? "名前" : "日本語文"));
        EXPECT_TRUE(writer.SetInt64(writer.FindItemByName("TRIP-REC.AMOUNTS.1")->next, -1234567 * (i + 1)));
        EXPECT_TRUE(writer.SetDouble(writer.FindItemByName("TRIP-REC.AMOUNTS.2")->next, 99999.99 - i));
        EXPECT_TRUE(writer.SetInt16("TRIP-REC.COUNT-B", static_cast<int16_t>(-i - 1)));
        EXPECT_TRUE(writer.SetInt32("TRIP-REC.COUNT-C", 999999999 - i));
        EXPECT_TRUE(writer.SetDouble("TRIP-REC.BAL", -0.01 * (i + 1)));
        EXPECT_TRUE(writer.SetString("TRIP-REC.FLAGS", i % 2 ? "101010" : "010101"));
        EXPECT_TRUE(writer.SetString("TRIP-REC.NOTE", "NOTE"));
        EXPECT_TRUE(writer.WriteRecord());
    }
    writer.Close();

    CopyRecord reader(data.path(), copybook.path());
    ASSERT_TRUE(reader.Open(1));
    char text[16];
    for (int i = 0; i < kRecords; ++i) {
        ASSERT_TRUE(reader.ReadRecord());
        EXPECT_EQ(reader.GetInt32("TRIP-REC.ID"), 100000 + i);
        EXPECT_EQ(Bytes(reader.GetString("TRIP-REC.NAME", text, 16), 8),
                  std::string(i == 0 ? "名前\x81\x40\x81\x40" : "日本語文", 8));
        EXPECT_EQ(reader.GetInt64(reader.FindItemByName("TRIP-REC.AMOUNTS.1")->next), -1234567 * (i + 1));
        EXPECT_DOUBLE_EQ(reader.GetDouble(reader.FindItemByName("TRIP-REC.AMOUNTS.2")->next), 99999.99 - i);
        EXPECT_EQ(reader.GetInt16("TRIP-REC.COUNT-B"), -i - 1);
        EXPECT_EQ(reader.GetInt32("TRIP-REC.COUNT-C"), 999999999 - i);
        EXPECT_DOUBLE_EQ(reader.GetDouble("TRIP-REC.BAL"), -0.01 * (i + 1));
        EXPECT_STREQ(reader.GetString("TRIP-REC.FLAGS", text, 7), i % 2 ? "101010" : "010101");
        EXPECT_EQ(Bytes(reader.GetString("TRIP-REC.NOTE", text, 16), 8), std::string("NOTE   \0", 8));
    }
    EXPECT_FALSE(reader.ReadRecord());
}

// SetCopybook never moves the buffer of an open file: a caller holds RecordBuffer().
// Items of a longer layout that lie beyond it are refused, and whole records neither
// read nor written, until the next Open allocates for the longer record.
TEST(RoundTrip, LongerCopybookWhileOpenKeepsTheBuffer) {
    Copybook small("grow_small.cpy", {"01  R.", "05  A  PIC X(2)."});
    Copybook large("grow_large.cpy", {"01  R.", "05  A  PIC X(2).", "05  B  PIC X(300)."});
    ScratchFile data("grow.dat");
    CopyRecord record(data.path(), small.path());
    ASSERT_TRUE(record.Open(4));
    char* held = record.RecordBuffer();
    ASSERT_TRUE(record.SetString("R.A", "ok"));
    ASSERT_TRUE(record.SetCopybook(large.path()));
    EXPECT_EQ(held, record.RecordBuffer());
    held[0] = 'O';
    char text[4];
    EXPECT_STREQ(record.GetString("R.A", text, 3), "Ok");
    EXPECT_RAISES(record.SetString("R.B", std::string(300, '9').c_str()), CException, "項目がレコードの範囲外です。");
    EXPECT_RAISES(record.GetString("R.B", text, 3), CException, "項目がレコードの範囲外です。");
    EXPECT_FALSE(record.WriteRecord());
    EXPECT_FALSE(record.ReadRecord());
    EXPECT_FALSE(record.ReadRecordBytes());
    EXPECT_FALSE(record.ReadLine());
    record.Close();
    EXPECT_EQ(data.Read(), "");

    ASSERT_TRUE(record.Open(4));
    EXPECT_TRUE(record.SetString("R.A", "ok"));
    EXPECT_TRUE(record.SetString("R.B", std::string(300, '9').c_str()));
    EXPECT_TRUE(record.WriteRecord());
    record.Close();
    EXPECT_EQ(data.Read(), "ok" + std::string(300, '9'));
}

}  // namespace
