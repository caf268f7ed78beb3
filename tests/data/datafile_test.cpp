// The C++ data file API: a mainframe file of variable records read to exact and typed
// values, bad data as exceptions with their place, and records written back.
#include <gtest/gtest.h>

#include <string>

#include "datafile.h"
#include "data_test_util.h"

namespace {

using quillbox::DataReader;
using quillbox::DataWriter;
using quillbox::Error;
using quillbox::Value;

const std::vector<std::string> kEntries = {
    "01 ORD.", "05 ORD-ID PIC X(4).", "05 ORD-QTY PIC S9(3) COMP.", "05 ORD-AMT PIC S9(16)V99 COMP-3.",
};

// An RDW record: its length word (the 4 bytes counted), two zero bytes, the data.
std::string Rdw(const std::string& data) {
    size_t n = data.size() + 4;
    return datatest::Bytes({static_cast<int>(n >> 8), static_cast<int>(n & 0xFF), 0, 0}) + data;
}

// ORD-ID "A001" in EBCDIC, ORD-QTY, ORD-AMT packed (10 bytes) from its 19 nibbles.
std::string Record(int qty, const std::string& amtNibbles) {
    std::string bytes = datatest::Bytes({0xC1, 0xF0, 0xF0, 0xF1, (qty >> 8) & 0xFF, qty & 0xFF});
    for (size_t i = 0; i < amtNibbles.size(); i += 2) {
        auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        bytes.push_back(static_cast<char>(hex(amtNibbles[i]) << 4 | hex(amtNibbles[i + 1])));
    }
    return bytes;
}

quillbox::DataOptions Ebcdic() {
    quillbox::DataOptions options;
    options.encoding = "ibm-037";
    options.records = quillbox::RecordFormat::kRdw;
    return options;
}

TEST(DataFileApi, ReadsEbcdicRdwRecordsToExactAndTypedValues) {
    datatest::Layout copybook(kEntries);
    quillbox::Layout layout(copybook.Path());
    ASSERT_EQ(layout.RecordLength(), 16);
    const std::string path = qbtest::ProcessUniqueName("api_", "ord.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(path, Rdw(Record(3, "0999999999999999999D")) + Rdw(Record(-2, "0000000000000000050C"))));
    DataReader reader(layout, path, Ebcdic());
    ASSERT_EQ(reader.ColumnCount(), 3u);
    EXPECT_EQ(reader.ColumnName(2), "ORD-AMT");
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.RecordNumber(), 1);
    EXPECT_EQ(reader.Text("ORD-ID"), "A001");
    EXPECT_EQ(reader.Get("ORD-QTY").AsInt64(), 3);
    Value amount = reader.Get("ORD-AMT");
    EXPECT_EQ(amount.GetKind(), Value::kDecimal);
    EXPECT_EQ(amount.Text(), "-9999999999999999.99");   // no digit lost, as a double would
    EXPECT_EQ(amount.Unscaled(), -999999999999999999LL);
    EXPECT_EQ(amount.Scale(), 2);
    EXPECT_THROW(amount.AsInt64(), Error);               // it has a fraction
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Get(1).AsInt64(), -2);
    EXPECT_DOUBLE_EQ(reader.Get(2).AsDouble(), 0.5);
    EXPECT_EQ(reader.Get(0).GetKind(), Value::kText);
    EXPECT_FALSE(reader.Next());
    EXPECT_THROW(reader.ColumnIndex("ORD-NONE"), Error);
    EXPECT_THROW(reader.Text(3), Error);
    std::remove(path.c_str());
}

TEST(DataFileApi, BadDataIsAnErrorWithItsPlaceOrANullUnderThePolicy) {
    datatest::Layout copybook(kEntries);
    quillbox::Layout layout(copybook.Path());
    const std::string path = qbtest::ProcessUniqueName("api_", "bad.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(path, Rdw(Record(1, "0000000000000000001C")) + Rdw(Record(1, "00000000000000000A1C"))));
    {
        DataReader reader(layout, path, Ebcdic());
        ASSERT_TRUE(reader.Next());
        try {
            reader.Next();
            FAIL() << "bad packed data read without an error";
        } catch (const Error& failure) {
            EXPECT_EQ(failure.Record(), 2);
            EXPECT_EQ(failure.Item(), "ORD-AMT");
            EXPECT_EQ(failure.Offset(), 14);
            EXPECT_EQ(std::string(failure.what()).rfind("record 2, item ORD-AMT (offset 14): packed nibble A", 0), 0u)
                << failure.what();
        }
    }
    quillbox::DataOptions options = Ebcdic();
    options.onError = quillbox::OnError::kNull;
    DataReader reader(layout, path, options);
    ASSERT_TRUE(reader.Next());
    ASSERT_TRUE(reader.Next());
    EXPECT_TRUE(reader.IsNull(2));
    EXPECT_TRUE(reader.Get(2).IsNull());
    ASSERT_EQ(reader.Faults().size(), 1u);
    EXPECT_EQ(reader.Faults()[0].Item(), "ORD-AMT");
    std::remove(path.c_str());
    EXPECT_THROW(DataReader(layout, path, options), Error);   // the file is gone
}

TEST(DataFileApi, WriterEncodesTheInverseAndReplacesTheFileOnlyOnClose) {
    datatest::Layout copybook(kEntries);
    quillbox::Layout layout(copybook.Path());
    const std::string path = qbtest::ProcessUniqueName("api_", "out.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old"));
    {
        DataWriter writer(layout, path, Ebcdic());
        writer.Set("ORD-ID", "A001");
        writer.Set("ORD-QTY", 3);
        writer.Set("ORD-AMT", -999999999999999999LL, 2);
        writer.Write();
        writer.Set("ORD-QTY", 100000);   // beyond the item's two bytes
        EXPECT_THROW(writer.Write(), Error);
        // Destroyed without Close(): the old file stays.
    }
    EXPECT_EQ(qbtest::ReadFileBytes(path), "old");
    DataWriter writer(layout, path, Ebcdic());
    writer.Set("ORD-ID", "A001");
    writer.Set("ORD-QTY", "3");
    writer.Set("ORD-AMT", "-9999999999999999.99");
    writer.Write();
    writer.Set(0, "A001");
    writer.Set(1, -2);
    writer.Set(2, 50, 2);
    writer.Write();
    writer.Close();
    EXPECT_EQ(qbtest::ReadFileBytes(path),
              Rdw(Record(3, "0999999999999999999D")) + Rdw(Record(-2, "0000000000000000050C")));
    std::remove(path.c_str());
}

TEST(DataFileApi, LayoutRefusalsAreErrorsWithTheFile) {
    datatest::Layout copybook(kEntries);
    EXPECT_THROW(quillbox::Layout("/nonexistent/x.cpy"), Error);
    const std::string bad = qbtest::ProcessUniqueName("api_", "bad.cpy");
    ASSERT_TRUE(qbtest::WriteFileBytes(bad, "       01 R.\n           05 A PIC X(2) OCCURS 0.\n"));
    try {
        quillbox::LayoutOptions cobol;
        cobol.cobol = true;
        quillbox::Layout layout(bad, cobol);
        FAIL() << "refused copybook analysed";
    } catch (const Error& failure) {
        EXPECT_NE(std::string(failure.what()).find(bad + ":2: "), std::string::npos) << failure.what();
    }
    std::remove(bad.c_str());
}

}  // namespace
