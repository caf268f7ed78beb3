// Messages that say what to try: the options a wrong reading of the data most likely
// lacks, "did you mean" for a mistyped option, --cobol and -I for the copybook, English
// beside the analysis's Japanese; and the names of tables for SQL.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_util.h"

namespace {

const std::string kCli = QB_CLI_PATH;
const std::string kExamples = std::string(QB_SOURCE_DIR) + "/examples/";

struct Result {
    int status;
    std::string out, err;
};

std::string Scratch(const std::string& name) { return qbtest::ProcessUniqueName("nextstep_", name); }

Result Cli(const std::string& arguments) {
    std::string out = Scratch("out"), err = Scratch("err");
    int raw = std::system(("'" + kCli + "' " + arguments + " >" + out + " 2>" + err).c_str());
    Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(out), qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

// A copybook of two records with its data written by encode in EBCDIC, fixed, RDW and
// RDW in blocks.
class WrongReading : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook_, "       01 ACCT-REC.\n"
                                                      "          05 ACCT-NO PIC 9(6).\n"
                                                      "          05 ACCT-NAME PIC X(10).\n"));
        ASSERT_TRUE(qbtest::WriteFileBytes(csv_, "ACCT-NO,ACCT-NAME\n123456,SMITH\n234567,JONES\n"));
        for (const char* records : {"fixed", "rdw", "rdw-block"}) {
            Result made = Cli("encode " + copybook_ + " " + csv_ + " --encoding ibm-037 --records " + records + " -o " +
                              Data(records));
            ASSERT_EQ(made.status, 0) << made.err;
        }
    }
    void TearDown() override {
        for (const std::string& path : {copybook_, csv_, Data("fixed"), Data("rdw"), Data("rdw-block")})
            std::remove(path.c_str());
    }
    std::string Data(const std::string& records) const { return Scratch(records + ".dat"); }
    Result Decode(const std::string& records, const std::string& options) {
        return Cli("decode " + copybook_ + " " + Data(records) + " " + options);
    }
    std::string copybook_ = Scratch("acct.cpy"), csv_ = Scratch("acct.csv");
};

TEST_F(WrongReading, EbcdicDataWithoutItsEncoding) {
    Result ascii = Decode("fixed", "");
    EXPECT_EQ(ascii.status, 1);
    EXPECT_NE(ascii.err.find("display byte 0xF1 is not a digit\n    the data looks like EBCDIC: try --encoding ibm-037"),
              std::string::npos)
        << ascii.err;
    // Skipped bad records: the step once, after the summary's bad places.
    Result skipped = Decode("fixed", "--on-error skip");
    EXPECT_EQ(skipped.status, 3);
    EXPECT_NE(skipped.err.find("    the data looks like EBCDIC: try --encoding ibm-037"), std::string::npos) << skipped.err;
    // Read rightly: no step.
    Result right = Decode("fixed", "--encoding ibm-037");
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.err, "");
}

TEST_F(WrongReading, RecordTypesOfEbcdicDataWithoutItsEncoding) {
    Result types = Cli("decode --cobol " + kExamples + "cobol/ORDTYPES.cpy " + kExamples +
                       "ordtypes.vb --records rdw --record-type ORD-TYPE=H:ORD-HEADER --record-type "
                       "ORD-TYPE=D:ORD-LINE --record-type ORD-TYPE=T:ORD-TRAILER --format jsonl");
    EXPECT_EQ(types.status, 1);
    EXPECT_NE(types.err.find("matches no --record-type rule"), std::string::npos) << types.err;
    EXPECT_NE(types.err.find("try --encoding ibm-037"), std::string::npos) << types.err;
}

TEST_F(WrongReading, DescriptorWordsReadAsRecordsAndRecordsAsDescriptorWords) {
    Result rdwAsFixed = Decode("rdw", "--encoding ibm-037");
    EXPECT_EQ(rdwAsFixed.status, 1);
    EXPECT_NE(rdwAsFixed.err.find("starts with a record descriptor word (20 bytes): try --records rdw"), std::string::npos)
        << rdwAsFixed.err;
    Result blockAsFixed = Decode("rdw-block", "--encoding ibm-037");
    EXPECT_EQ(blockAsFixed.status, 1);
    EXPECT_NE(blockAsFixed.err.find("block descriptor word: try --records rdw-block"), std::string::npos)
        << blockAsFixed.err;
    Result blockAsRdw = Decode("rdw-block", "--encoding ibm-037 --records rdw");
    EXPECT_EQ(blockAsRdw.status, 1);
    EXPECT_NE(blockAsRdw.err.find("block descriptor word: try --records rdw-block"), std::string::npos)
        << blockAsRdw.err;
    Result fixedAsRdw = Decode("fixed", "--encoding ibm-037 --records rdw");
    EXPECT_EQ(fixedAsRdw.status, 1);
    EXPECT_NE(fixedAsRdw.err.find("bad RDW"), std::string::npos) << fixedAsRdw.err;
    EXPECT_NE(fixedAsRdw.err.find("does not start with a descriptor word: records of the copybook's length are read "
                                  "with --records fixed"),
              std::string::npos)
        << fixedAsRdw.err;
    // Each read rightly.
    EXPECT_EQ(Decode("rdw", "--encoding ibm-037 --records rdw").status, 0);
    EXPECT_EQ(Decode("rdw-block", "--encoding ibm-037 --records rdw-block").status, 0);
}

TEST(NextStep, MistypedOptionsGetTheOptionMeant) {
    const std::string copybook = kExamples + "CUSTMAST.cpy", data = kExamples + "custmast.dat";
    Result typo = Cli("decode --encodng ibm-037 " + copybook + " " + data);
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("'--encodng': did you mean '--encoding'?"), std::string::npos) << typo.err;
    Result oneDash = Cli("decode -on-error skip " + copybook + " " + data);
    EXPECT_EQ(oneDash.status, 2);
    EXPECT_NE(oneDash.err.find("'-on-error': did you mean '--on-error'?"), std::string::npos) << oneDash.err;
    // A short option with its value joined is no mistake; nothing near: no guess.
    EXPECT_EQ(Cli("decode " + copybook + " " + data + " -o/dev/null").status, 0);
    Result far = Cli("decode --zzzzzz " + copybook + " " + data);
    EXPECT_EQ(far.status, 2);
    EXPECT_EQ(far.err.find("did you mean"), std::string::npos) << far.err;
}

TEST(NextStep, CopybookRefusalsSayTheCobolRulesTheFoldersAndTheEnglish) {
    namespace fs = std::filesystem;
    const fs::path dir = Scratch("books");
    fs::create_directories(dir / "members");
    ASSERT_TRUE(qbtest::WriteFileBytes((dir / "STMT.cpy").string(), "       01 STMT-REC.\n"
                                                                     "          05 STM-ID PIC 9(4).\n"
                                                                     "          05 STM-BAL PIC S9(18)V99.\n"));
    Result digits = Cli("layout " + (dir / "STMT.cpy").string());
    EXPECT_EQ(digits.status, 1);
    EXPECT_NE(digits.err.find(u8"STMT.cpy:3: 数値型は18桁まで (a number has at most 18 digits under the default rules)"),
              std::string::npos)
        << digits.err;
    EXPECT_NE(digits.err.find("analyse the copybook with --cobol"), std::string::npos) << digits.err;
    EXPECT_EQ(Cli("layout --cobol " + (dir / "STMT.cpy").string()).status, 0);

    ASSERT_TRUE(qbtest::WriteFileBytes((dir / "WITHCOPY.cpy").string(), "       01 TXN-REC.\n"
                                                                         "          05 TXN-ID PIC 9(4).\n"
                                                                         "          COPY TXNLINE.\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes((dir / "members" / "TXNLINE.cpy").string(), "          05 TXN-AMT PIC 9(5).\n"));
    Result member = Cli("layout --cobol " + (dir / "WITHCOPY.cpy").string());
    EXPECT_EQ(member.status, 1);
    EXPECT_NE(member.err.find(u8"COPYメンバ TXNLINE が見つかりません。 (COPY member TXNLINE not found)"), std::string::npos)
        << member.err;
    EXPECT_NE(member.err.find("looked for in " + dir.string() + " ("), std::string::npos) << member.err;
    EXPECT_NE(member.err.find("-I DIR adds the folder"), std::string::npos) << member.err;
    Result searched = Cli("layout --cobol -I /nonexistent " + (dir / "WITHCOPY.cpy").string());
    EXPECT_NE(searched.err.find("looked for in " + dir.string() + ", /nonexistent ("), std::string::npos) << searched.err;
    EXPECT_EQ(Cli("layout --cobol -I " + (dir / "members").string() + " " + (dir / "WITHCOPY.cpy").string()).status, 0);
    fs::remove_all(dir);
}

TEST(SqlNames, TableNamesRecordTypeRulesAndBlankText) {
    const std::string copybook = kExamples + "cobol/ORDTYPES.cpy", data = kExamples + "ordtypes.vb";
    const std::string rules = " --encoding ibm-037 --records rdw --record-type ORD-TYPE=H:ORD-HEADER --record-type "
                              "ORD-TYPE=D:ORD-LINE --record-type ORD-TYPE=T:ORD-TRAILER";
    // The rule's field by its copybook name or its column name, whatever the naming.
    Result sql = Cli("decode --cobol " + copybook + " " + data + rules + " --names sql --format jsonl");
    ASSERT_EQ(sql.status, 0) << sql.err;
    EXPECT_NE(sql.out.find("{\"record\":\"ORD-TRAILER\""), std::string::npos) << sql.out;
    Result columnName = Cli("decode --cobol " + copybook + " " + data +
                            " --encoding ibm-037 --records rdw --record-type ORD_TYPE=H:ORD-HEADER --record-type "
                            "ORD_TYPE=D:ORD-LINE --record-type ORD_TYPE=T:ORD-TRAILER --format jsonl");
    ASSERT_EQ(columnName.status, 0) << columnName.err;
    EXPECT_NE(columnName.out.find("\"ORD-TYPE\":\"H\""), std::string::npos) << columnName.out;

    // Table names as plain identifiers: DDL of each dialect.
    const std::string ddl = Scratch("types.sql");
    ASSERT_EQ(Cli("ddl --cobol --dialect postgresql --names sql --table Stmt " + copybook + " " + ddl).status, 0);
    std::string text = qbtest::ReadFileBytes(ddl);
    EXPECT_NE(text.find("CREATE TABLE stmt_ord_header ("), std::string::npos) << text;
    EXPECT_NE(text.find("    LINE_TYPE VARCHAR(1),"), std::string::npos) << text;
    ASSERT_EQ(Cli("ddl --cobol --names sql --table Stmt " + copybook + " " + ddl).status, 0);
    EXPECT_NE(qbtest::ReadFileBytes(ddl).find("CREATE TABLE stmt_ord_trailer ("), std::string::npos);
    // Without --names sql, as before.
    ASSERT_EQ(Cli("ddl --cobol --dialect postgresql --table Stmt " + copybook + " " + ddl).status, 0);
    EXPECT_NE(qbtest::ReadFileBytes(ddl).find("CREATE TABLE \"Stmt_ORD-HEADER\" ("), std::string::npos);
    std::remove(ddl.c_str());

    // CSV: blank text trimmed is "", an empty field only an absent value.
    const std::string book = Scratch("blank.cpy"), table = Scratch("blank.csv"), bytes = Scratch("blank.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(book, "       01 R.\n          05 N PIC 9(2).\n          05 T PIC X(3).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(bytes, "01   02abcxx   "));
    Result trimmed = Cli("decode " + book + " " + bytes + " --trim --on-error null");
    EXPECT_EQ(trimmed.status, 3);
    EXPECT_EQ(trimmed.out, "N,T\n1,\"\"\n2,abc\n,\"\"\n");
    Result kept = Cli("decode " + book + " " + bytes + " --on-error null");
    EXPECT_EQ(kept.out, "N,T\n1,   \n2,abc\n,   \n");
    // Back to the same bytes: "" is blanks.
    ASSERT_TRUE(qbtest::WriteFileBytes(table, "N,T\n1,\"\"\n2,abc\n"));
    Result encoded = Cli("encode " + book + " " + table);
    EXPECT_EQ(encoded.out, "01   02abc");
    for (const std::string& path : {book, table, bytes}) std::remove(path.c_str());
}

}  // namespace
