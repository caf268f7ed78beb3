// The record object over the COBOL-rules analysis: values of a copybook as written
// (condition names, SIGN LEADING / TRAILING SEPARATE, SIGN LEADING, POINTER, INDEX)
// read and written, and the bytes compared with a record GnuCOBOL writes.
#include <cstdlib>

#include "cobolrules.h"
#include "record_fixture.h"

namespace {

// A copybook as a real program writes it (fixed format, text from column 8).
class RawCopybook : public ScratchFile {
public:
    RawCopybook(std::string name, const std::string& text) : ScratchFile(std::move(name)) { Write(text); }
};

const char* const kPayment =
    "      * A payment record as written, with its condition names.\n"
    "       01  PAYMENT.\n"
    "           05  PAY-KIND          PIC X.\n"
    "               88  PAY-CASH      VALUE 'C'.\n"
    "               88  PAY-CARD      VALUE 'V' 'M'\n"
    "                                       'A'.\n"
    "           05  PAY-COUNT         PIC 9(3).\n"
    "           05  PAY-LEAD-SEP      PIC S9(5) SIGN IS LEADING\n"
    "                                 SEPARATE CHARACTER.\n"
    "           05  PAY-TRAIL-SEP     PIC S9(3)V99 SIGN TRAILING SEPARATE.\n"
    "           05  PAY-LEAD          PIC S9(4) SIGN LEADING.\n"
    "           05  PAY-TRAIL         PIC S9(4).\n"
    "           05  PAY-BIN           PIC S9(8) COMP.\n"
    "           05  PAY-PACK          PIC S9(5)V99 COMP-3.\n"
    "           05  PAY-NATIVE        PIC S9(4) COMP-5.\n"
    "           05  PAY-NOTE          PIC X(6).\n";

class CobolValues : public ::testing::Test {
protected:
    CobolValues() : copybook("cobol_values.cpy", kPayment), data("cobol_values.dat") {}
    RawCopybook copybook;
    ScratchFile data;
};

TEST_F(CobolValues, SignSeparateLeadingAndTrailingCharacters) {
    CopyRecord record(data.path(), copybook.path(), CobolOptions());
    EXPECT_NE(nullptr, dynamic_cast<CobolAnalyzer*>(record.Analyzer()));
    ASSERT_EQ(1 + 3 + 6 + 6 + 4 + 4 + 4 + 4 + 2 + 6, static_cast<int>(record.Analyzer()->GetRecordLength()));
    ASSERT_TRUE(record.Open(4));
    char buffer[16];

    CopyItem* lead = record.FindItemByName("PAYMENT.PAY-LEAD-SEP");
    ASSERT_NE(nullptr, lead);
    EXPECT_TRUE(record.SetInt32(lead, -123));
    EXPECT_EQ("-00123", std::string(record.GetString(lead, buffer, sizeof buffer)));
    EXPECT_EQ(-123, record.GetInt32(lead));
    EXPECT_TRUE(record.SetInt32(lead, 99999));
    EXPECT_EQ("+99999", std::string(record.GetString(lead, buffer, sizeof buffer)));
    EXPECT_EQ(99999, record.GetInt64(lead));
    EXPECT_FALSE(record.SetInt32(lead, 123456));  // one digit too many
    EXPECT_EQ("+23456", std::string(record.GetString(lead, buffer, sizeof buffer)));

    CopyItem* trail = record.FindItemByName("PAYMENT.PAY-TRAIL-SEP");
    ASSERT_NE(nullptr, trail);
    EXPECT_TRUE(record.SetDouble(trail, -12.5));
    EXPECT_EQ("01250-", std::string(record.GetString(trail, buffer, sizeof buffer)));
    EXPECT_DOUBLE_EQ(-12.5, record.GetDouble(trail));
    EXPECT_EQ(-12, record.GetInt32(trail, true));
    EXPECT_TRUE(record.SetInt16(trail, 705));
    EXPECT_EQ("00705+", std::string(record.GetString(trail, buffer, sizeof buffer)));
    EXPECT_DOUBLE_EQ(7.05, record.GetDouble(trail));
}

TEST_F(CobolValues, SignLeadingInTheFirstZone) {
    CopyRecord record(data.path(), copybook.path(), CobolOptions());
    ASSERT_TRUE(record.Open(4));
    CopyItem* lead = record.FindItemByName("PAYMENT.PAY-LEAD");
    CopyItem* trail = record.FindItemByName("PAYMENT.PAY-TRAIL");
    ASSERT_NE(nullptr, lead);
    ASSERT_NE(nullptr, trail);
    char buffer[8];
    EXPECT_TRUE(record.SetInt32(lead, -42));
    EXPECT_EQ(std::string("\x50" "042"), record.GetString(lead, buffer, sizeof buffer));
    EXPECT_EQ(-42, record.GetInt32(lead));
    EXPECT_DOUBLE_EQ(-42.0, record.GetDouble(lead));
    EXPECT_TRUE(record.SetInt32(trail, -42));
    EXPECT_EQ(std::string("004\x52"), record.GetString(trail, buffer, sizeof buffer));
}

TEST_F(CobolValues, ConditionNamesHaveNoBytesOfTheirOwn) {
    CopyRecord record(data.path(), copybook.path(), CobolOptions());
    ASSERT_TRUE(record.Open(4));
    CopyItem* card = record.GetHead();
    while (card != nullptr && std::strcmp(card->name, "PAY-CARD") != 0) card = card->next;
    ASSERT_NE(nullptr, card);
    EXPECT_EQ(0, card->byteLength);
    EXPECT_EQ(1, card->position);
    EXPECT_TRUE(record.SetString("PAYMENT.PAY-KIND", "V"));
    char buffer[4];
    EXPECT_EQ(std::string(), record.GetString(card, buffer, sizeof buffer));
    EXPECT_EQ(std::string("V"), record.GetString("PAYMENT.PAY-KIND", buffer, sizeof buffer));
}

TEST(CobolRecord, PointerAndIndexReadAsBinaryOfTheirLength) {
    RawCopybook copybook("cobol_pointer.cpy",
                         "       01  LINKS.\n"
                         "           05  NEXT-LINK   USAGE IS POINTER.\n"
                         "           05  SLOT        INDEX.\n");
    ScratchFile data("cobol_pointer.dat");
    for (int size : {4, 8}) {
        CobolOptions options;
        options.pointerSize = size;
        CopyRecord record(data.path(), copybook.path(), options);
        ASSERT_EQ(size + 4, static_cast<int>(record.Analyzer()->GetRecordLength()));
        ASSERT_TRUE(record.Open(4));
        CopyItem* link = record.FindItemByName("LINKS.NEXT-LINK");
        CopyItem* slot = record.FindItemByName("LINKS.SLOT");
        ASSERT_NE(nullptr, link);
        ASSERT_NE(nullptr, slot);
        std::memset(record.RecordBuffer(), 0, static_cast<size_t>(size + 4));
        record.RecordBuffer()[0] = '\x34';
        record.RecordBuffer()[1] = '\x12';
        EXPECT_EQ(0x1234, record.GetInt64(link));
        EXPECT_TRUE(record.SetInt32(slot, 0x01020304));
        EXPECT_EQ(std::string("\x04\x03\x02\x01"), Bytes(record.RecordBuffer() + size, 4));
        EXPECT_EQ(0x01020304, record.GetInt32(slot));
        EXPECT_TRUE(record.SetInt64(link, 0xFFFFFFFFll));
        EXPECT_EQ(0xFFFFFFFFll, record.GetInt64(link));
        record.Close();
    }
}

TEST(CobolRecord, RefusalLeavesTheConstructorWithTheEntryAndLine) {
    RawCopybook copybook("cobol_refused.cpy",
                         "       01  R.\n"
                         "           05  A   PIC X(3) OCCURS 2 TO 4 DEPENDING ON MISSING-COUNT.\n");
    try {
        CopyRecord record("", copybook.path(), CobolOptions());
        FAIL() << "no refusal";
    } catch (CCobolException& e) {
        EXPECT_EQ(2, e.GetCopybookLine());
        EXPECT_EQ(std::string(copybook.path()), e.GetCopybookFile());
        EXPECT_NE(std::string::npos, std::string(e.GetEntryText()).find("MISSING-COUNT"));
    }
}

TEST(CobolRecord, SeedConstructorKeepsTheSeedRules) {
    RawCopybook copybook("cobol_seedrules.cpy", kPayment);
    EXPECT_THROW(CopyRecord("", copybook.path()), CException);
}

// GnuCOBOL writes one record of the copybook with the values below; the record object
// writes the same values, with the zones GnuCOBOL gives a sign in a digit's zone
// (0x3 positive, 0x7 negative): both records must be byte for byte the same, and the
// record object must read GnuCOBOL's values back.
// Natively only: the Windows build's tests run under Wine, where there is no cobc (a
// skip there would fail `make test`).
#ifndef _WIN32
TEST_F(CobolValues, SameBytesAsGnuCobolWrites) {
    if (std::system("command -v cobc >/dev/null 2>&1") != 0) GTEST_SKIP() << "cobc is not installed";
    ScratchFile source("cobol_values_prog.cob");
    ScratchFile program("cobol_values_prog");
    ScratchFile written("cobol_values_cobc.dat");
    std::string text =
        "       IDENTIFICATION DIVISION.\n"
        "       PROGRAM-ID. WRITEREC.\n"
        "       ENVIRONMENT DIVISION.\n"
        "       INPUT-OUTPUT SECTION.\n"
        "       FILE-CONTROL.\n"
        "           SELECT OUT-FILE ASSIGN TO '" + std::string(written.path()) + "'\n"
        "               ORGANIZATION IS SEQUENTIAL.\n"
        "       DATA DIVISION.\n"
        "       FILE SECTION.\n"
        "       FD  OUT-FILE.\n"
        "       COPY '" + std::string(copybook.path()) + "'.\n"
        "       PROCEDURE DIVISION.\n"
        "           OPEN OUTPUT OUT-FILE\n"
        "           MOVE SPACES TO PAYMENT\n"
        "           SET PAY-CARD TO TRUE\n"
        "           MOVE 7 TO PAY-COUNT\n"
        "           MOVE -123 TO PAY-LEAD-SEP\n"
        "           MOVE -12.5 TO PAY-TRAIL-SEP\n"
        "           MOVE -42 TO PAY-LEAD\n"
        "           MOVE -4321 TO PAY-TRAIL\n"
        "           MOVE -1000000 TO PAY-BIN\n"
        "           MOVE 123.45 TO PAY-PACK\n"
        "           MOVE 258 TO PAY-NATIVE\n"
        "           MOVE 'NOTE' TO PAY-NOTE\n"
        "           WRITE PAYMENT\n"
        "           CLOSE OUT-FILE\n"
        "           STOP RUN.\n";
    source.Write(text);
    std::string compile = std::string("cobc -x -std=ibm -fbinary-size=2-4-8 -o ") + program.path() + " " + source.path();
    ASSERT_EQ(0, std::system(compile.c_str()));
    ASSERT_EQ(0, std::system((std::string("./") + program.path()).c_str()));
    const std::string expected = written.Read();

    CopyRecord record(data.path(), copybook.path(), CobolOptions());
    record.SetPositiveZone(0x30);
    record.SetNegativeZone(0x70);
    ASSERT_EQ(static_cast<int>(expected.size()), static_cast<int>(record.Analyzer()->GetRecordLength()));
    ASSERT_TRUE(record.Open(4));
    std::memset(record.RecordBuffer(), ' ', expected.size());
    EXPECT_TRUE(record.SetString("PAYMENT.PAY-KIND", "V"));
    EXPECT_TRUE(record.SetInt32("PAYMENT.PAY-COUNT", 7));
    EXPECT_TRUE(record.SetInt32("PAYMENT.PAY-LEAD-SEP", -123));
    EXPECT_TRUE(record.SetDouble("PAYMENT.PAY-TRAIL-SEP", -12.5));
    EXPECT_TRUE(record.SetInt32("PAYMENT.PAY-LEAD", -42));
    EXPECT_TRUE(record.SetInt32("PAYMENT.PAY-TRAIL", -4321));
    EXPECT_TRUE(record.SetInt32("PAYMENT.PAY-BIN", -1000000));
    EXPECT_TRUE(record.SetDouble("PAYMENT.PAY-PACK", 123.45));
    EXPECT_TRUE(record.SetInt16("PAYMENT.PAY-NATIVE", 258));
    EXPECT_TRUE(record.SetString("PAYMENT.PAY-NOTE", "NOTE"));
    EXPECT_EQ(expected, Bytes(record.RecordBuffer(), static_cast<int>(expected.size())));

    std::memcpy(record.RecordBuffer(), expected.data(), expected.size());
    EXPECT_EQ(-123, record.GetInt32("PAYMENT.PAY-LEAD-SEP"));
    EXPECT_DOUBLE_EQ(-12.5, record.GetDouble("PAYMENT.PAY-TRAIL-SEP"));
    EXPECT_EQ(-42, record.GetInt32("PAYMENT.PAY-LEAD"));
    EXPECT_EQ(-4321, record.GetInt32("PAYMENT.PAY-TRAIL"));
    EXPECT_EQ(-1000000, record.GetInt32("PAYMENT.PAY-BIN"));
    EXPECT_DOUBLE_EQ(123.45, record.GetDouble("PAYMENT.PAY-PACK"));
}
#endif

}  // namespace
