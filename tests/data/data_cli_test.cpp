// quillbox-cli decode and encode as a user runs them: the README's three examples on
// the bundled copybooks, a pipe through standard input and output, the exit statuses,
// the COBOL-rules analysis with COPY members, and the GNU parallel recipe.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "test_util.h"

namespace {

const std::string kCli = QB_CLI_PATH;
const std::string kExamples = std::string(QB_SOURCE_DIR) + "/examples/";

struct Result {
    int status;
    std::string out, err;
};

std::string Scratch(const std::string& name) { return qbtest::ProcessUniqueName("datacli_", name); }

// Runs a shell command line with `{cli}` standing for quillbox-cli; standard output
// and standard error are kept.
Result Shell(std::string line) {
    for (size_t at; (at = line.find("{cli}")) != std::string::npos;) line.replace(at, 5, "'" + kCli + "'");
    std::string out = Scratch("out"), err = Scratch("err");
    int raw = std::system(("(" + line + ") >" + out + " 2>" + err).c_str());
    Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(out), qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

TEST(DataCli, ShiftJisFileToCsvForExcelAndBackToAFixedFile) {
    const std::string copybook = kExamples + "CUSTMAST.cpy", csv = Scratch("cust.csv"), dat = Scratch("cust.dat");
    Result header = Shell("{cli} decode '" + copybook + "' /dev/null --count 0");
    ASSERT_EQ(header.status, 0) << header.err;
    EXPECT_EQ(header.out,
              "CUST-BRANCH-CD,CUST-NO,CUST-STATUS,CUST-KANA-NAME,CUST-KANJI-NAME,CUST-ZIP,CUST-PREF-CD,"
              "CUST-ADDR-KANJI,CUST-TEL-NO,CUST-OPEN-DATE,CUST-LAST-TRAN-DATE,CUST-CREDIT-LIMIT,CUST-BALANCE,"
              "CUST-RANK,FILLER\n");
    const std::string table = header.out +
        u8"001,1234567,A,ﾔﾏﾀﾞ ﾀﾛｳ,山田　太郎,100-0001,13,東京都千代田区,03-1234-5678,20190401,20231231,1000000,-12345.67,A,\"\"\n" +
        u8"002,7654321,D,\"ｽｽﾞｷ, ﾊﾅｺ\",鈴木花子,530-0001,27,大阪府大阪市,06-1111-2222,20200115,20240102,0,0.50,E,\"\"\n";
    ASSERT_TRUE(qbtest::WriteFileBytes(csv, table));
    // CSV back to a fixed file.
    // Quiet on success; the summary with -v.
    Result encoded = Shell("{cli} encode '" + copybook + "' " + csv + " -o " + dat);
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    EXPECT_EQ(encoded.err, "");
    encoded = Shell("{cli} encode -v '" + copybook + "' " + csv + " -o " + dat);
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    EXPECT_NE(encoded.err.find("encode: 2 records read, 2 written, 0 bad"), std::string::npos) << encoded.err;
    std::string records = qbtest::ReadFileBytes(dat);
    ASSERT_EQ(records.size(), 400u);
    EXPECT_EQ(records.substr(41, 4), "\x8E\x52\x93\x63");   // 山田 in Shift_JIS
    // The Shift_JIS file to CSV for Excel: Shift_JIS text, CR LF lines.
    Result excel = Shell("{cli} decode '" + copybook + "' " + dat + " --trim --output-encoding cp932 --crlf");
    ASSERT_EQ(excel.status, 0) << excel.err;
    EXPECT_EQ(excel.out.substr(0, 15), "CUST-BRANCH-CD,");
    EXPECT_NE(excel.out.find("\x8E\x52\x93\x63\x81\x40\x91\xBE\x98\x59,"), std::string::npos);
    EXPECT_NE(excel.out.find("\r\n002,"), std::string::npos);
    Result utf8 = Shell("{cli} decode '" + copybook + "' " + dat + " --trim");
    EXPECT_EQ(utf8.out, table);
    std::remove(csv.c_str());
    std::remove(dat.c_str());
}

TEST(DataCli, EbcdicVariableBlockedFileToJsonLinesAndBack) {
    const std::string copybook = kExamples + "ORDERREC.cpy", vb = Scratch("orders.vb");
    Result header = Shell("{cli} decode '" + copybook + "' /dev/null --count 0");
    ASSERT_EQ(header.status, 0) << header.err;
    // One order: every column a value that fits it.
    std::string row;
    for (size_t start = 0; start < header.out.size();) {
        size_t end = header.out.find_first_of(",\n", start);
        std::string name = header.out.substr(start, end - start);
        std::string value = name.find("-DATE") != std::string::npos ? "20240131"
                          : name.rfind("ORD-NO", 0) == 0 ? u8"A受注1"
                          : name.find("QTY") != std::string::npos ? "-12"
                          : name.find("PRICE") != std::string::npos ? "1234.50"
                          : name.find("AMT") != std::string::npos ? "77"
                          : name.find("CUST-NO") != std::string::npos ? "1234567"
                          : name.find("LINE-COUNT") != std::string::npos ? "5"
                          : name.find("TYPE") != std::string::npos ? "1"
                          : name.find("NOTE") != std::string::npos ? u8"メモ"
                          : "AB";
        row += (row.empty() ? "" : ",") + value;
        start = end + 1;
    }
    std::string csv = Scratch("orders.csv");
    ASSERT_TRUE(qbtest::WriteFileBytes(csv, header.out + row + "\n" + row + "\n"));
    const std::string options = " --encoding ibm-930 --records rdw-block";
    Result encoded = Shell("{cli} encode '" + copybook + "' " + csv + options + " -o " + vb);
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    std::string bytes = qbtest::ReadFileBytes(vb);
    ASSERT_EQ(bytes.size(), 4u + 2 * (4 + 357));
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\xD6\x00\x00", 4));   // BDW: 726 bytes
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x01\x69\x00\x00", 4));   // RDW: 361 bytes
    EXPECT_EQ(bytes.substr(8, 2), "\xC1\x0E");                            // A, shift-out
    // The EBCDIC VB file to JSON Lines, through a pipe.
    Result jsonl = Shell("cat " + vb + " | {cli} decode '" + copybook + "' -" + options + " --format jsonl --trim");
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    EXPECT_EQ(jsonl.out.rfind(u8"{\"ORDER-REC\":{\"ORD-HEADER\":{\"ORD-NO\":\"A受注1\",\"ORD-DATE\":20240131,", 0), 0u)
        << jsonl.out;
    EXPECT_NE(jsonl.out.find("\"ORD-LINE\":[{\"ORD-ITEM-CD\":"), std::string::npos);
    EXPECT_NE(jsonl.out.find("\"ORD-DELIVERY\":[{\"ORD-DLV-DATE\":20240131,\"ORD-DLV-QTY\":-12},"), std::string::npos);
    // decode | encode gives the file back.
    Result again = Shell("{cli} decode '" + copybook + "' " + vb + options + " --format jsonl | {cli} encode '" +
                         copybook + "' -" + options + " --format jsonl");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, bytes);
    std::remove(csv.c_str());
    std::remove(vb.c_str());
}

TEST(DataCli, ExitStatusesAndMessages) {
    const std::string copybook = Scratch("n.cpy"), dat = Scratch("n.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 N PIC 9(2).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(dat, "01x203"));
    Result stop = Shell("{cli} decode " + copybook + " " + dat);
    EXPECT_EQ(stop.status, 1);
    EXPECT_EQ(stop.out, "N\n1\n");
    EXPECT_NE(stop.err.find(dat + ": record 2, item N (offset 0): display byte 0x78 is not a digit"), std::string::npos)
        << stop.err;
    Result skip = Shell("{cli} decode " + copybook + " " + dat + " --on-error skip");
    EXPECT_EQ(skip.status, 3);
    EXPECT_EQ(skip.out, "N\n1\n3\n");
    EXPECT_NE(skip.err.find("decode: 3 records read, 2 written, 1 bad"), std::string::npos) << skip.err;
    Result usage = Shell("{cli} decode " + copybook + " " + dat + " --records vb");
    EXPECT_EQ(usage.status, 2);
    Result missing = Shell("{cli} decode " + copybook + " " + dat + ".none");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(dat + ".none"), std::string::npos);
    std::remove(copybook.c_str());
    std::remove(dat.c_str());
}

TEST(DataCli, CobolRulesWithCopyMembersFromAnIncludeFolder) {
    const std::string folder = Scratch("members");
    ASSERT_EQ(std::system(("mkdir -p " + folder).c_str()), 0);
    ASSERT_TRUE(qbtest::WriteFileBytes(folder + "/AMOUNT.cpy", "       05 AMOUNT PIC S9(3) SIGN LEADING SEPARATE.\n"));
    const std::string copybook = Scratch("outer.cpy");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 CODE PIC X(2).\n           COPY AMOUNT.\n"));
    Result decoded = Shell("printf 'AB-012' | {cli} decode --cobol -I " + folder + " " + copybook + " -");
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, "CODE,AMOUNT\nAB,-12\n");
    std::remove((folder + "/AMOUNT.cpy").c_str());
    std::remove(folder.c_str());
    std::remove(copybook.c_str());
}

TEST(DataCli, CobolRulesNationalEditedDbcsAndNationalItems) {
    // N(2)B takes 5 bytes (one for the B), so it is Shift_JIS text; N(2) and G(2)
    // DISPLAY-1 are double-byte items of 4 bytes.
    const std::string copybook = Scratch("national.cpy"), dat = Scratch("national.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 NE PIC N(2)B.\n"
                                                 "           05 NP PIC N(2).\n           05 DB PIC G(2) DISPLAY-1.\n"));
    const std::string nihon = "\x93\xfa\x96\x7b";  // 日本 in Shift_JIS
    ASSERT_TRUE(qbtest::WriteFileBytes(dat, nihon + " " + nihon + nihon));
    Result decoded = Shell("{cli} decode --cobol " + copybook + " " + dat);
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, u8"NE,NP,DB\n日本 ,日本,日本\n");
    Result again = Shell("{cli} decode --cobol " + copybook + " " + dat + " | {cli} encode --cobol " + copybook + " -");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, nihon + " " + nihon + nihon);
    std::remove(copybook.c_str());
    std::remove(dat.c_str());
}

TEST(DataCli, GnuParallelPiecesEqualOneRun) {
    Result check = Shell("bash '" + std::string(QB_SOURCE_DIR) + "/tests/data/scale-out-check' '" + kCli + "'");
    if (check.status == 77) GTEST_SKIP() << check.err;
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

}  // namespace

namespace {

// A name with a byte pair that is no Shift_JIS character: decode's JSON keys and CSV
// header show it as `json` does (U+FFFD), never as a raw byte that is no UTF-8.
TEST(DataCli, NamesThatAreNoShiftJisComeOutAsTheJsonCommandShowsThem) {
    const std::string copybook = Scratch("badname.cpy"), dat = Scratch("badname.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 X\x85\x40 PIC X(2).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(dat, "ab"));
    Result jsonl = Shell("{cli} decode --format jsonl " + copybook + " " + dat);
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    EXPECT_EQ(jsonl.out, "{\"R\":{\"X\xEF\xBF\xBD@\":\"ab\"}}\n");
    Result csv = Shell("{cli} decode " + copybook + " " + dat);
    EXPECT_EQ(csv.out, "X\xEF\xBF\xBD@\nab\n");
    Result json = Shell("{cli} json " + copybook);
    EXPECT_NE(json.out.find("\"X\xEF\xBF\xBD@\""), std::string::npos) << json.out;
    std::remove(copybook.c_str());
    std::remove(dat.c_str());
}

}  // namespace

namespace {

// --skip past any file's size gives nothing (its byte count used to overflow and the
// records after the first came out); a summary counts only rows that reached the output.
TEST(DataCli, SkipBeyondTheFileAndSummariesOfFailedWrites) {
    const std::string copybook = Scratch("skip.cpy"), dat = Scratch("skip.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 N PIC 9(2).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(dat, "01020304"));
    for (const char* skip : {"4611686018427387904", "9223372036854775807", "5"}) {
        SCOPED_TRACE(skip);
        Result r = Shell("{cli} decode --skip " + std::string(skip) + " " + copybook + " " + dat);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "N\n");
        r = Shell("cat " + dat + " | {cli} decode --skip " + std::string(skip) + " " + copybook + " -");
        EXPECT_EQ(r.out, "N\n");
    }
    EXPECT_EQ(Shell("{cli} decode --skip 2 --count 1 " + copybook + " " + dat).out, "N\n3\n");
    if (std::system("test -c /dev/full") == 0) {
        Result full = Shell("{cli} decode " + copybook + " " + dat + " -o /dev/full");
        EXPECT_EQ(full.status, 1);
        EXPECT_NE(full.err.find("4 records read, 0 written"), std::string::npos) << full.err;
    }
    std::remove(copybook.c_str());
    std::remove(dat.c_str());
}

}  // namespace

namespace {

TEST(DataCli, EncodeSummaryCountsOnlyRecordsTheOutputTook) {
    if (std::system("test -c /dev/full") != 0) GTEST_SKIP() << "no /dev/full";
    const std::string copybook = Scratch("full.cpy"), csv = Scratch("full.csv");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n           05 N PIC 9(2).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(csv, "N\n1\n2\n"));
    Result full = Shell("{cli} encode " + copybook + " " + csv + " -o /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("2 records read, 0 written"), std::string::npos) << full.err;
    std::remove(copybook.c_str());
    std::remove(csv.c_str());
}

TEST(DataCli, VerifyCountsEveryRecordAndRejectsTheBadOnes) {
    const std::string copybook = kExamples + "CUSTMAST.cpy", data = kExamples + "custmast.dat";
    const std::string bad = Scratch("bad.dat"), rejects = Scratch("rejects.dat"), report = Scratch("report.json"),
                      csv = Scratch("good.csv");
    Result clean = Shell("{cli} verify '" + copybook + "' '" + data + "'");
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, "");
    EXPECT_NE(clean.err.find("verify: 4 records read, 4 good, 0 bad"), std::string::npos) << clean.err;

    // The second record's customer number spoilt: verify goes on to the end.
    std::string bytes = qbtest::ReadFileBytes(data);
    ASSERT_EQ(bytes.size(), 800u);
    bytes[204] = 'X';
    ASSERT_TRUE(qbtest::WriteFileBytes(bad, bytes));
    Result checked = Shell("{cli} verify '" + copybook + "' " + bad + " --report " + report + " --rejects " + rejects);
    EXPECT_EQ(checked.status, 3) << checked.err;
    std::string json = qbtest::ReadFileBytes(report);
    for (const char* part : {"\"version\": 1", "\"read\": 4", "\"good\": 3", "\"bad\": 1", "\"CUST-NO\": 1",
                             "\"not-digit\": 1", "\"code\": \"not-digit\"", "\"record\": 2", "\"offset\": 4",
                             "\"rejectsWritten\": 1"}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    }
    // The rejects hold the bad record's bytes as they were, ready to be mended.
    EXPECT_EQ(qbtest::ReadFileBytes(rejects), bytes.substr(200, 200));

    // decode takes --rejects too: the good rows to the table, the bad record aside.
    std::remove(rejects.c_str());
    Result decoded = Shell("{cli} decode '" + copybook + "' " + bad + " --on-error skip -o " + csv + " --rejects " + rejects);
    EXPECT_EQ(decoded.status, 3) << decoded.err;
    EXPECT_EQ(qbtest::ReadFileBytes(rejects), bytes.substr(200, 200));
    // Stopped on the first bad record, as asked: no rejects file is left.
    std::remove(rejects.c_str());
    Result stopped = Shell("{cli} verify '" + copybook + "' " + bad + " --on-error stop --rejects " + rejects);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(std::fopen(rejects.c_str(), "rb"), nullptr);
    for (const std::string& path : {bad, rejects, report, csv}) std::remove(path.c_str());
}

}  // namespace
