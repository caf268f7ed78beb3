// OCCURS ... DEPENDING ON under the COBOL rules: a table has as many occurrences as its
// counter says; variable records hold those only (the items after a table follow its
// last present occurrence), fixed ones every occurrence. Decode, encode, bad counts and
// records, the C++ API, and GnuCOBOL's own variable file as the reference.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cobc_program.h"
#include "data_test_util.h"
#include "datafile.h"

using datatest::Bytes;
using datatest::Layout;
using datatest::RunResult;
using quillbox::OdoRecords;

namespace {

// An RDW record: its length word (the 4 bytes counted), two zero bytes, the data.
std::string Rdw(const std::string& data) {
    size_t n = data.size() + 4;
    return Bytes({static_cast<int>(n >> 8), static_cast<int>(n & 0xFF), 0, 0}) + data;
}

// Scratch copybooks of this process still in the working folder.
int LeftScratchCopybooks() {
    const std::string prefix = qbtest::ProcessUniqueName("datatmp_", "");
    int left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++left;
    }
    return left;
}

const std::vector<std::string> kSimple = {"01 R.", "   05 CNT PIC 9(2).", "   05 T OCCURS 1 TO 3 DEPENDING ON CNT.",
                                          "      10 V PIC 9(2)."};

// Two tables, the second of elements with a table of its own, items between and after.
const std::vector<std::string> kNested = {"01 R.",
                                          "   05 CNT PIC 9(2).",
                                          "   05 T OCCURS 1 TO 3 DEPENDING ON CNT.",
                                          "      10 V PIC 9(2).",
                                          "   05 N2 PIC 9.",
                                          "   05 K PIC 9.",
                                          "   05 T2 OCCURS 0 TO 4 DEPENDING ON N2.",
                                          "      10 M PIC X.",
                                          "      10 U OCCURS 0 TO 3 DEPENDING ON K PIC X.",
                                          "   05 TAIL PIC XXX."};

TEST(OccursDependingOn, TheIssuesRecordsDecodeInFixedAndVariableRecords) {
    Layout layout(kSimple, true);
    ASSERT_EQ(layout.Length(), 8);
    DataOptions options;
    // A fixed record laid out at the maximum: the occurrences past the count are not read.
    RunResult fixed = layout.Decode("0111    ", options);
    ASSERT_EQ(fixed.status, kExitDone) << fixed.err;
    EXPECT_EQ(fixed.out, "CNT,V_1,V_2,V_3\n1,11,,\n");
    // Encoding it back fills the absent occurrences with blanks.
    EXPECT_EQ(layout.Encode(fixed.out, options).out, "0111    ");

    // A variable record of the present length is right, not short.
    options.records = RecordFormat::kRdw;
    RunResult variable = layout.Decode(Rdw("0111") + Rdw("03112233") + Rdw("024455"), options);
    ASSERT_EQ(variable.status, kExitDone) << variable.err;
    EXPECT_EQ(variable.out, "CNT,V_1,V_2,V_3\n1,11,,\n3,11,22,33\n2,44,55,\n");
    EXPECT_EQ(layout.Encode(variable.out, options).out, Rdw("0111") + Rdw("03112233") + Rdw("024455"));

    // JSON Lines: arrays of the present length, and back.
    options.format = TableFormat::kJsonl;
    RunResult json = layout.Decode(Rdw("0111") + Rdw("03112233"), options);
    ASSERT_EQ(json.status, kExitDone) << json.err;
    EXPECT_EQ(json.out, "{\"R\":{\"CNT\":1,\"T\":[{\"V\":11}]}}\n"
                        "{\"R\":{\"CNT\":3,\"T\":[{\"V\":11},{\"V\":22},{\"V\":33}]}}\n");
    EXPECT_EQ(layout.Encode(json.out, options).out, Rdw("0111") + Rdw("03112233"));

    // Lines and blocks take the same lengths; --odo max reads RDW records at the maximum.
    options.format = TableFormat::kCsv;
    options.records = RecordFormat::kLines;
    EXPECT_EQ(layout.Decode("0111\n03112233\n", options).out, "CNT,V_1,V_2,V_3\n1,11,,\n3,11,22,33\n");
    options.records = RecordFormat::kRdwBlock;
    RunResult blocked = layout.Encode("CNT,V_1,V_2,V_3\n1,11,,\n", options);
    EXPECT_EQ(blocked.out, Bytes({0, 12, 0, 0}) + Rdw("0111"));
    options.records = RecordFormat::kRdw;
    options.odo = OdoRecords::kMax;
    EXPECT_EQ(layout.Decode(Rdw("0111    "), options).out, "CNT,V_1,V_2,V_3\n1,11,,\n");
    RunResult shortAtMax = layout.Decode(Rdw("0111"), options);
    EXPECT_EQ(shortAtMax.status, kExitFailed);
    EXPECT_NE(shortAtMax.err.find("RDW record of 4 bytes, the record has 8"), std::string::npos) << shortAtMax.err;

    // Fixed records carry no length: the present occurrences alone cannot be read from them.
    options.records = RecordFormat::kFixed;
    options.odo = OdoRecords::kVariable;
    RunResult refused = layout.Decode("0111", options);
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_NE(refused.err.find("--records rdw"), std::string::npos) << refused.err;
}

TEST(OccursDependingOn, ItemsAfterTablesFollowTheirLastPresentOccurrence) {
    Layout layout(kNested, true);
    ASSERT_EQ(layout.Length(), 2 + 6 + 1 + 1 + 4 * 4 + 3);
    DataOptions options;
    options.records = RecordFormat::kRdw;
    // As GnuCOBOL lays out the record: 2 of T, 2 of T2 with 2 of U each, then TAIL.
    std::string first = "02" "1122" "2" "2" "Axw" "Byz" "END";
    // No T2 at all; K's count of U does not matter then.
    std::string second = "01" "99" "0" "3" "END";
    // Every table at its most.
    std::string third = "03" "112233" "4" "3" "Aabc" "Bdef" "Cghi" "Djkl" "XYZ";
    std::string file = Rdw(first) + Rdw(second) + Rdw(third);
    RunResult decoded = layout.Decode(file, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    std::string lines[4];
    size_t at = 0;
    for (std::string& line : lines) {
        size_t end = decoded.out.find('\n', at);
        ASSERT_NE(end, std::string::npos) << decoded.out;
        line = decoded.out.substr(at, end - at);
        at = end + 1;
    }
    EXPECT_EQ(lines[1], "2,11,22,,2,2,A,x,w,,B,y,z,,,,,,,,,,END");
    EXPECT_EQ(lines[2], "1,99,,,0,3,,,,,,,,,,,,,,,,,END");
    EXPECT_EQ(lines[3], "3,11,22,33,4,3,A,a,b,c,B,d,e,f,C,g,h,i,D,j,k,l,XYZ");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, file);

    options.format = TableFormat::kJsonl;
    RunResult json = layout.Decode(Rdw(first) + Rdw(second), options);
    ASSERT_EQ(json.status, kExitDone) << json.err;
    EXPECT_EQ(json.out,
              "{\"R\":{\"CNT\":2,\"T\":[{\"V\":11},{\"V\":22}],\"N2\":2,\"K\":2,"
              "\"T2\":[{\"M\":\"A\",\"U\":[\"x\",\"w\"]},{\"M\":\"B\",\"U\":[\"y\",\"z\"]}],\"TAIL\":\"END\"}}\n"
              "{\"R\":{\"CNT\":1,\"T\":[{\"V\":99}],\"N2\":0,\"K\":3,\"T2\":[],\"TAIL\":\"END\"}}\n");
    EXPECT_EQ(layout.Encode(json.out, options).out, Rdw(first) + Rdw(second));

    // The same records laid out at the maximum in a fixed file.
    options.format = TableFormat::kCsv;
    options.records = RecordFormat::kFixed;
    std::string atMax = "02" "1122  " "2" "2" "Axw " "Byz " "    " "    " "END";
    RunResult fixed = layout.Decode(atMax, options);
    ASSERT_EQ(fixed.status, kExitDone) << fixed.err;
    EXPECT_EQ(fixed.out.substr(fixed.out.find('\n') + 1), lines[1] + "\n");
    EXPECT_EQ(layout.Encode(fixed.out, options).out, atMax);
}

TEST(OccursDependingOn, BadCountsAndShortRecordsAreBadDataWithTheirPlace) {
    Layout layout(kNested, true);
    DataOptions options;
    options.records = RecordFormat::kRdw;
    std::string good = "01" "99" "0" "3" "END";
    // CNT out of its range 1 TO 3, at either end.
    for (const char* count : {"04", "00"}) {
        RunResult outOfRange = layout.Decode(Rdw(good) + Rdw(std::string(count) + "99" "0" "3" "END"), options);
        EXPECT_EQ(outOfRange.status, kExitFailed);
        EXPECT_NE(outOfRange.err.find("record 2, item CNT (offset 0): CNT = " + std::string(count + 1) +
                                      " is outside the count of T (OCCURS 1 TO 3 DEPENDING ON CNT)"),
                  std::string::npos)
            << outOfRange.err;
    }
    // A counter that is no number.
    RunResult notNumber = layout.Decode(Rdw("0199" "x" "3" "END"), options);
    EXPECT_EQ(notNumber.status, kExitFailed);
    EXPECT_NE(notNumber.err.find("item N2 (offset 4)"), std::string::npos) << notNumber.err;
    // A record shorter than its present occurrences: the first item that does not fit,
    // where its counts place it.
    RunResult cut = layout.Decode(Rdw("02" "1122" "1" "2" "Ax"), options);
    EXPECT_EQ(cut.status, kExitFailed);
    EXPECT_NE(cut.err.find("record 1, item U_1_2 (offset 10): the record of 10 bytes ends before this item"),
              std::string::npos)
        << cut.err;
    // Longer than its counts: never a silent drop of the bytes after them.
    RunResult longer = layout.Decode(Rdw(good + "!"), options);
    EXPECT_EQ(longer.status, kExitFailed);
    EXPECT_NE(longer.err.find("record 1: a record of 10 bytes, its counts make 9"), std::string::npos) << longer.err;

    // skip leaves the record out; null keeps the values whose place is known.
    options.onError = OnError::kSkip;
    RunResult skipped = layout.Decode(Rdw("05") + Rdw(good), options);
    EXPECT_EQ(skipped.status, kExitBadData);
    EXPECT_EQ(std::count(skipped.out.begin(), skipped.out.end(), '\n'), 2);
    EXPECT_NE(skipped.err.find("2 records read, 1 written, 1 bad"), std::string::npos) << skipped.err;
    options.onError = OnError::kNull;
    RunResult nulled = layout.Decode(Rdw("02" "1122" "1" "2" "Ax") + Rdw(good), options);
    EXPECT_EQ(nulled.status, kExitBadData);
    EXPECT_NE(nulled.out.find("\n2,11,22,,1,2,A,x,,,,,,,,,,,,,,,\n1,99,"), std::string::npos) << nulled.out;

    // encode: a count out of range, a count missing, a value past the count.
    options.onError = OnError::kStop;
    std::string header = layout.Decode(Rdw(good), options).out;
    header = header.substr(0, header.find('\n') + 1);
    RunResult tooMany = layout.Encode(header + "5,1,2,3,0,0,,,,,,,,,,,,,,,,,END\n", options);
    EXPECT_EQ(tooMany.status, kExitFailed);
    EXPECT_NE(tooMany.err.find("record 1, item CNT (offset 0)"), std::string::npos) << tooMany.err;
    EXPECT_NE(tooMany.err.find("CNT = 5 is outside the count of T"), std::string::npos) << tooMany.err;
    RunResult noCount = layout.Encode(header + ",1,,,0,0,,,,,,,,,,,,,,,,,END\n", options);
    EXPECT_EQ(noCount.status, kExitFailed);
    EXPECT_NE(noCount.err.find("no value for CNT, the count of T"), std::string::npos) << noCount.err;
    RunResult pastCount = layout.Encode(header + "1,1,2,,0,0,,,,,,,,,,,,,,,,,END\n", options);
    EXPECT_EQ(pastCount.status, kExitFailed);
    EXPECT_NE(pastCount.err.find("item V_2 (offset 4): a value for an occurrence of T past its count (CNT = 1)"),
              std::string::npos)
        << pastCount.err;
    options.onError = OnError::kSkip;
    RunResult skippedRow = layout.Encode(header + "5,1,2,3,0,0,,,,,,,,,,,,,,,,,END\n1,99,,,0,3,,,,,,,,,,,,,,,,,END\n", options);
    EXPECT_EQ(skippedRow.status, kExitBadData);
    EXPECT_EQ(skippedRow.out, Rdw(good));
}

TEST(OccursDependingOn, TheDefaultAnalysisStillRefusesDependingAndCountersMustComeFirst) {
    try {
        Layout seed(kSimple, false);
        ADD_FAILURE() << "the default analysis took OCCURS DEPENDING ON";
    } catch (CException& refusal) {
        EXPECT_STREQ(refusal.GetMessageText(), "DEPENDING指定の配列はサポートしていません。\n");
    }
    // The refused copybook's scratch file is gone with it.
    EXPECT_EQ(LeftScratchCopybooks(), 0);
    Layout after({"01 R.", "   05 T OCCURS 1 TO 3 DEPENDING ON CNT PIC X.", "   05 CNT PIC 9."}, true);
    ASSERT_GT(after.Length(), 0);
    RunResult refused = after.Decode("1abc", DataOptions());
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_NE(refused.err.find("the counter CNT of the table T (OCCURS ... DEPENDING ON) is no item before the table"),
              std::string::npos)
        << refused.err;
    // A counter in each occurrence of an outer table: every element a length of its own,
    // which neither IBM's nor GnuCOBOL's layout gives.
    Layout inner({"01 R.", "   05 N PIC 9.", "   05 T OCCURS 0 TO 2 DEPENDING ON N.", "      10 KK PIC 9.",
                  "      10 U OCCURS 0 TO 3 DEPENDING ON KK PIC X."},
                 true);
    DataOptions options;
    options.records = RecordFormat::kRdw;
    RunResult innerRefused = inner.Decode(Rdw("0"), options);
    EXPECT_EQ(innerRefused.status, kExitFailed);
    EXPECT_NE(innerRefused.err.find("the counter KK of the table U"), std::string::npos) << innerRefused.err;
}

TEST(OccursDependingOn, TheCppApiReadsAndWritesVariableRecords) {
    Layout copybook(kSimple, true);
    quillbox::LayoutOptions layoutOptions;
    layoutOptions.cobol = true;
    quillbox::Layout layout(copybook.Path(), layoutOptions);
    quillbox::DataOptions options;
    options.records = RecordFormat::kRdw;
    const std::string path = qbtest::ProcessUniqueName("odo_", "api.vb");
    {
        quillbox::DataWriter writer(layout, path, options);
        writer.Set("CNT", 2);
        writer.Set("V_1", 7);
        writer.Set("V_2", 8);
        writer.Write();
        writer.Set("CNT", 1);
        writer.Set("V_1", 9);
        writer.Set("V_3", 1);
        EXPECT_THROW(writer.Write(), quillbox::Error);
        writer.Set("CNT", 1);
        writer.Set("V_1", 9);
        writer.Write();
        writer.Close();
    }
    EXPECT_EQ(qbtest::ReadFileBytes(path), Rdw("020708") + Rdw("0109"));
    quillbox::DataReader reader(layout, path, options);
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Get("V_2").AsInt64(), 8);
    EXPECT_TRUE(reader.IsNull(reader.ColumnIndex("V_3")));
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.Text("V_1"), "9");
    EXPECT_TRUE(reader.IsNull(reader.ColumnIndex("V_2")));
    EXPECT_FALSE(reader.Next());
    std::remove(path.c_str());
}

struct Shell {
    int status;
    std::string out, err;
};

// Runs a shell command line with `{cli}` standing for quillbox-cli.
Shell RunShell(std::string line) {
    for (size_t at; (at = line.find("{cli}")) != std::string::npos;) line.replace(at, 5, "'" QB_CLI_PATH "'");
    std::string out = qbtest::ProcessUniqueName("odo_", "out"), err = qbtest::ProcessUniqueName("odo_", "err");
    int raw = std::system(("(" + line + ") >" + out + " 2>" + err).c_str());
    Shell result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(out), qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

// An order file as mainframes hold it: EBCDIC, RDW records of 1 to 20 order lines.
TEST(OccursDependingOn, TwoHundredVariableOrdersThroughTheCommandLine) {
    const std::string copybook = qbtest::ProcessUniqueName("odo_", "ORDERS.cpy");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 ORDER-REC.\n"
                                                 "          05 ORD-ID PIC X(6).\n"
                                                 "          05 LINE-COUNT PIC S9(4) COMP.\n"
                                                 "          05 ORD-LINE OCCURS 1 TO 20 DEPENDING ON LINE-COUNT.\n"
                                                 "             10 ITEM-NO PIC 9(5).\n"
                                                 "             10 QTY PIC S9(5) COMP-3.\n"
                                                 "             10 PRICE PIC S9(7)V99 COMP-3.\n"
                                                 "          05 ORD-TOTAL PIC S9(11)V99 COMP-3.\n"
                                                 "          05 ORD-NOTE PIC X(10).\n"));
    std::string csv = "ORD-ID,LINE-COUNT";
    for (int k = 1; k <= 20; ++k) {
        csv += ",ITEM-NO_" + std::to_string(k) + ",QTY_" + std::to_string(k) + ",PRICE_" + std::to_string(k);
    }
    csv += ",ORD-TOTAL,ORD-NOTE\n";
    std::vector<size_t> lengths;
    for (int i = 1; i <= 200; ++i) {
        int count = 1 + i * 7 % 20;
        char text[64];
        std::snprintf(text, sizeof text, "O%05d,%d", i, count);
        csv += text;
        for (int k = 1; k <= 20; ++k) {
            if (k <= count) std::snprintf(text, sizeof text, ",%d,%d,%d.25", i * 100 + k, k - 3, i * k);
            else std::snprintf(text, sizeof text, ",,,");
            csv += text;
        }
        std::snprintf(text, sizeof text, ",-%d.50,NOTE-%05d\n", i * 1000, i);
        csv += text;
        lengths.push_back(25 + 13 * static_cast<size_t>(count));
    }
    const std::string table = qbtest::ProcessUniqueName("odo_", "orders.csv"), data = qbtest::ProcessUniqueName("odo_", "orders.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(table, csv));
    const std::string common = " --cobol '" + copybook + "' --encoding ibm-037 --records rdw ";
    Shell encoded = RunShell("{cli} encode" + common + table + " -o " + data);
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    // Each record as long as its lines, its RDW saying so.
    std::string bytes = qbtest::ReadFileBytes(data);
    size_t at = 0;
    for (size_t length : lengths) {
        ASSERT_LE(at + 4, bytes.size());
        EXPECT_EQ((static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1])), length + 4);
        at += length + 4;
    }
    EXPECT_EQ(at, bytes.size());

    Shell decoded = RunShell("{cli} decode" + common + data);
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, csv);
    Shell piped = RunShell("{cli} decode" + common + data + " --format jsonl | {cli} encode" + common + "--format jsonl -");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, bytes);

    // Record 100 with a count of 21: that record is bad, the other 199 are read.
    size_t hundredth = 0;
    for (size_t i = 0; i < 99; ++i) hundredth += lengths[i] + 4;
    bytes[hundredth + 4 + 6] = 0;
    bytes[hundredth + 4 + 7] = 21;
    ASSERT_TRUE(qbtest::WriteFileBytes(data, bytes));
    Shell nulled = RunShell("{cli} decode" + common + data + " --on-error null");
    EXPECT_EQ(nulled.status, 3);
    EXPECT_EQ(std::count(nulled.out.begin(), nulled.out.end(), '\n'), 201);
    EXPECT_NE(nulled.err.find("record 100, item LINE-COUNT (offset 6): LINE-COUNT = 21 is outside the count of ORD-LINE "
                              "(OCCURS 1 TO 20 DEPENDING ON LINE-COUNT)"),
              std::string::npos)
        << nulled.err;
    EXPECT_NE(nulled.err.find("200 records read, 200 written, 1 bad"), std::string::npos) << nulled.err;
    EXPECT_NE(nulled.out.find("\nO00100," + std::string(62, ',') + "\nO00101,"), std::string::npos);
    Shell atMax = RunShell("{cli} decode" + common + data + " --odo max");
    EXPECT_EQ(atMax.status, 1);
    EXPECT_NE(atMax.err.find("RDW record of 129 bytes, the record has 285"), std::string::npos) << atMax.err;
    for (const std::string& name : {copybook, table, data}) std::remove(name.c_str());
}

// GnuCOBOL writes a variable file of these records (RECORD VARYING, the items after a
// table following it: -fodoslide); each record starts with its data length in two
// bytes and two zero bytes, which an RDW counts 4 more.
TEST(OccursDependingOn, GnuCobolsVariableFileDecodesAndEncodesToItsBytes) {
    if (!qbtest::HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is no reference file to compare with";
    Layout layout(kNested, true);
    const std::string stem = qbtest::ProcessUniqueName("cobcodo_", "w");
    const std::string program = stem + ".cob", executable = "./" + stem, data = stem + ".dat";
    std::string text =
        "       IDENTIFICATION DIVISION.\n"
        "       PROGRAM-ID. WODO.\n"
        "       ENVIRONMENT DIVISION.\n"
        "       INPUT-OUTPUT SECTION.\n"
        "       FILE-CONTROL.\n"
        "           SELECT F ASSIGN TO\n"
        "               \"" + data + "\"\n"
        "               ORGANIZATION SEQUENTIAL.\n"
        "       DATA DIVISION.\n"
        "       FILE SECTION.\n"
        "       FD F RECORD VARYING 1 TO 100.\n"
        "       COPY \"" + layout.Path() + "\".\n"
        "       PROCEDURE DIVISION.\n"
        "           OPEN OUTPUT F\n"
        // The counts first: with them an item's place is known when a value is moved to it.
        "           MOVE 2 TO CNT MOVE 2 TO N2 MOVE 2 TO K\n"
        "           MOVE 11 TO V(1) MOVE 22 TO V(2)\n"
        "           MOVE \"A\" TO M(1) MOVE \"x\" TO U(1 1) MOVE \"w\" TO U(1 2)\n"
        "           MOVE \"B\" TO M(2) MOVE \"y\" TO U(2 1) MOVE \"z\" TO U(2 2)\n"
        "           MOVE \"END\" TO TAIL\n"
        "           WRITE R\n"
        "           MOVE 3 TO CNT MOVE 3 TO N2 MOVE 1 TO K\n"
        "           MOVE 11 TO V(1) MOVE 22 TO V(2) MOVE 33 TO V(3)\n"
        "           MOVE \"A\" TO M(1) MOVE \"B\" TO M(2) MOVE \"C\" TO M(3)\n"
        "           MOVE \"x\" TO U(1 1) MOVE \"w\" TO U(2 1) MOVE \"y\" TO U(3 1)\n"
        "           MOVE \"TL\" TO TAIL\n"
        "           WRITE R\n"
        "           MOVE 1 TO CNT MOVE 0 TO N2 MOVE 1 TO K\n"
        "           MOVE 11 TO V(1) MOVE \"TL\" TO TAIL\n"
        "           WRITE R\n"
        "           CLOSE F\n"
        "           STOP RUN.\n";
    ASSERT_TRUE(qbtest::WriteFileBytes(program, text));
    std::string compile = "cobc -x -std=ibm -fodoslide -o " + qbtest::Quote(executable) + " " +
                          qbtest::Quote(program) + " 2>" + qbtest::Quote(stem + ".log");
    ASSERT_EQ(std::system(compile.c_str()), 0) << "cobc refused the program; see " << stem << ".log";
    ASSERT_EQ(std::system(executable.c_str()), 0);
    std::string written = qbtest::ReadFileBytes(data);
    std::string rdw;
    for (size_t at = 0; at + 4 <= written.size();) {
        size_t length = (static_cast<unsigned char>(written[at]) << 8) | static_cast<unsigned char>(written[at + 1]);
        ASSERT_LE(at + 4 + length, written.size());
        rdw += Rdw(written.substr(at + 4, length));
        at += 4 + length;
    }
    DataOptions options;
    options.records = RecordFormat::kRdw;
    options.format = TableFormat::kJsonl;
    RunResult decoded = layout.Decode(rdw, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out,
              "{\"R\":{\"CNT\":2,\"T\":[{\"V\":11},{\"V\":22}],\"N2\":2,\"K\":2,"
              "\"T2\":[{\"M\":\"A\",\"U\":[\"x\",\"w\"]},{\"M\":\"B\",\"U\":[\"y\",\"z\"]}],\"TAIL\":\"END\"}}\n"
              "{\"R\":{\"CNT\":3,\"T\":[{\"V\":11},{\"V\":22},{\"V\":33}],\"N2\":3,\"K\":1,"
              "\"T2\":[{\"M\":\"A\",\"U\":[\"x\"]},{\"M\":\"B\",\"U\":[\"w\"]},{\"M\":\"C\",\"U\":[\"y\"]}],"
              "\"TAIL\":\"TL \"}}\n"
              "{\"R\":{\"CNT\":1,\"T\":[{\"V\":11}],\"N2\":0,\"K\":1,\"T2\":[],\"TAIL\":\"TL \"}}\n");
    RunResult encoded = layout.Encode(decoded.out, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, rdw);
    for (const std::string& name : {program, data, stem + ".log", stem}) std::remove(name.c_str());
}

// A record longer than its format's header describes (an RDW, GnuCOBOL's 2-byte header)
// ends the run at its row with the reason; the records before it are written, on one
// thread and on several alike.
TEST(OccursDependingOn, ARecordLongerThanItsFormatDescribesEndsTheRunAndKeepsTheRecordsBefore) {
    Layout layout({"01 R.", "   05 CNT PIC 9(4).", "   05 T OCCURS 1 TO 9000 DEPENDING ON CNT.", "      10 V PIC X(10)."},
                  true);
    auto row = [](int count) {
        std::string line = "{\"R\":{\"CNT\":" + std::to_string(count) + ",\"T\":[";
        for (int i = 0; i < count; ++i) line += std::string(i > 0 ? "," : "") + "{\"V\":\"v" + std::to_string(i) + "\"}";
        return line + "]}}\n";
    };
    const std::string before = row(2) + row(30) + row(5);
    for (RecordFormat format : {RecordFormat::kRdw, RecordFormat::kRdwBlock, RecordFormat::kGnuCobol,
                                RecordFormat::kGnuCobol3}) {
        for (int threads : {1, 3}) {
            DataOptions options;
            options.format = TableFormat::kJsonl;
            options.records = format;
            options.threads = threads;
            RunResult fits = layout.Encode(before, options);
            ASSERT_EQ(fits.status, kExitDone) << fits.err;
            RunResult tooLong = layout.Encode(before + row(7000) + row(1), options);
            EXPECT_EQ(tooLong.status, kExitFailed);
            EXPECT_EQ(tooLong.out, fits.out) << "format " << static_cast<int>(format) << ", threads " << threads;
            EXPECT_NE(tooLong.err.find(": record 4: a record of 70004 bytes is longer than"), std::string::npos)
                << tooLong.err;
            EXPECT_EQ(tooLong.err.find("cannot write"), std::string::npos) << tooLong.err;
        }
    }
}

}  // namespace
