// Records as COBOL makes them: copybooks that start below 01, records that redefine
// another (01 B REDEFINES A), several 01 records without rules, a counter out of its
// range in every record format, names that are no names, record-type rules that can
// never choose, the bound on OCCURS ... DEPENDING ON, and GnuCOBOL's own files (its
// variable sequential formats and LINE SEQUENTIAL lines without trailing blanks),
// cross-checked with programs compiled by cobc.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cobc_program.h"
#include "data_test_util.h"
#include "datacodec.h"
#include "layoutplan.h"
#include "records.h"

using datatest::Bytes;
using datatest::Layout;
using datatest::RunResult;

namespace {

// An RDW record: its length word (the 4 bytes counted), two zero bytes, the data.
std::string Rdw(const std::string& data) {
    size_t n = data.size() + 4;
    return Bytes({static_cast<int>(n >> 8), static_cast<int>(n & 0xFF), 0, 0}) + data;
}

struct Shell {
    int status;
    std::string out, err;
};

// Runs a shell command line with `{cli}` standing for quillbox-cli.
Shell RunShell(std::string line) {
    for (size_t at; (at = line.find("{cli}")) != std::string::npos;) line.replace(at, 5, "'" QB_CLI_PATH "'");
    std::string out = qbtest::ProcessUniqueName("cobrec_", "out"), err = qbtest::ProcessUniqueName("cobrec_", "err");
    int raw = std::system(("(" + line + ") >" + out + " 2>" + err).c_str());
    Shell result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(out), qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

// A copybook file of the given lines (each behind seven blank columns), removed at the end.
class CopybookFile {
public:
    explicit CopybookFile(const std::vector<std::string>& lines, const std::string& name = "BOOK.cpy")
        : path_(qbtest::ProcessUniqueName("cobrec_", name)) {
        std::string text;
        for (const std::string& line : lines) text += "       " + line + "\n";
        qbtest::WriteFileBytes(path_, text);
    }
    ~CopybookFile() { std::remove(path_.c_str()); }
    std::string Quoted() const { return "'" + path_ + "'"; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// ---- A copybook that starts below 01 is one record with every rule of a record

const std::vector<std::string> kBelow01 = {"03 CNT PIC S9(4) BINARY.", "03 ITEMS OCCURS 1 TO 5 DEPENDING ON CNT.",
                                           "   05 ITM PIC X(3)."};

TEST(CobolRecords, ACopybookBelow01HasItsDependingOnTableInEveryRecordFormat) {
    Layout layout(kBelow01, true);
    DataOptions options;
    options.encoding = "ibm-037";
    options.records = RecordFormat::kRdw;
    const std::string record = Bytes({0x00, 0x02, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6});
    RunResult rdw = layout.Decode(Rdw(record), options);
    ASSERT_EQ(rdw.status, kExitDone) << rdw.err;
    EXPECT_EQ(rdw.out, "CNT,ITM_1,ITM_2,ITM_3,ITM_4,ITM_5\n2,ABC,DEF,,,\n");

    // Fixed records laid out at the maximum: the occurrences past the count are absent.
    options.records = RecordFormat::kFixed;
    RunResult fixed = layout.Decode(record + std::string(9, '\x40'), options);
    ASSERT_EQ(fixed.status, kExitDone) << fixed.err;
    EXPECT_EQ(fixed.out, "CNT,ITM_1,ITM_2,ITM_3,ITM_4,ITM_5\n2,ABC,DEF,,,\n");

    // encode keeps the data: the counter's occurrences, the RDW sized to fit.
    options.records = RecordFormat::kRdw;
    options.format = TableFormat::kJsonl;
    RunResult encoded = layout.Encode("{\"CNT\":2,\"ITEMS\":[{\"ITM\":\"ABC\"},{\"ITM\":\"DEF\"}]}\n", options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, Rdw(record));
    // And the items after a table follow its last present occurrence, as under an 01.
    Layout after({"03 N PIC 9.", "03 T OCCURS 0 TO 3 DEPENDING ON N PIC X.", "03 TAIL PIC XX."}, true);
    DataOptions ascii;
    ascii.records = RecordFormat::kLines;
    RunResult lines = after.Decode("1AZZ\n0YY\n", ascii);
    ASSERT_EQ(lines.status, kExitDone) << lines.err;
    EXPECT_EQ(lines.out, "N,T_1,T_2,T_3,TAIL\n1,A,,,ZZ\n0,,,,YY\n");
}

// ---- 01 B REDEFINES A: a record of its own

const std::vector<std::string> kRedefined = {"01 IN-REC.", "   02 KIND PIC X.", "   02 AAA PIC X(3).",
                                             "01 OUT-REC REDEFINES IN-REC.", "   02 KIND2 PIC X.",
                                             "   02 BBB PIC 9(3)."};

TEST(CobolRecords, ARecordThatRedefinesAnotherHasItsColumnsEverywhere) {
    CopybookFile book(kRedefined);
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "redef.dat");
    const std::string folder = qbtest::ProcessUniqueName("cobrec_", "tables");
    ASSERT_TRUE(qbtest::WriteFileBytes(data, "IABCO123"));
    const std::string rules = " --record-type KIND=I:IN-REC --record-type KIND=O:OUT-REC";
    Shell jsonl = RunShell("{cli} decode --cobol " + book.Quoted() + " " + data + rules);
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    EXPECT_EQ(jsonl.out,
              "{\"record\":\"IN-REC\",\"IN-REC\":{\"KIND\":\"I\",\"AAA\":\"ABC\"}}\n"
              "{\"record\":\"OUT-REC\",\"OUT-REC\":{\"KIND2\":\"O\",\"BBB\":123}}\n");
    // Back to the same bytes.
    Shell back = RunShell("{cli} decode --cobol " + book.Quoted() + " " + data + rules + " | {cli} encode --cobol " +
                          book.Quoted() + " -" + rules + " | cmp - " + data);
    EXPECT_EQ(back.status, 0) << back.err << back.out;
    Shell tables = RunShell("{cli} decode --cobol " + book.Quoted() + " " + data + rules + " -o " + folder + "/");
    ASSERT_EQ(tables.status, 0) << tables.err;
    EXPECT_EQ(qbtest::ReadFileBytes(folder + "/OUT-REC.csv"), "KIND2,BBB\nO,123\n");
    EXPECT_EQ(qbtest::ReadFileBytes(folder + "/IN-REC.csv"), "KIND,AAA\nI,ABC\n");
    std::remove((folder + "/OUT-REC.csv").c_str());
    std::remove((folder + "/IN-REC.csv").c_str());
    rmdir(folder.c_str());

    // DDL of every dialect and the schema: the record's own columns.
    Shell sqlite = RunShell("{cli} ddl --cobol --dialect sqlite --table T " + book.Quoted() + " -");
    ASSERT_EQ(sqlite.status, 0) << sqlite.err;
    EXPECT_NE(sqlite.out.find("CREATE TABLE \"T_OUT-REC\" (\r\n    KIND2 TEXT,\r\n    BBB INTEGER\r\n);"), std::string::npos)
        << sqlite.out;
    for (const char* dialect : {"postgresql", "db2"}) {
        Shell ddl = RunShell(std::string("{cli} ddl --cobol --dialect ") + dialect + " --table T " + book.Quoted() + " -");
        ASSERT_EQ(ddl.status, 0) << ddl.err;
        EXPECT_NE(ddl.out.find("BBB"), std::string::npos) << dialect << ": " << ddl.out;
    }
    Shell generic = RunShell("{cli} ddl --cobol --table T " + book.Quoted() + " -");
    ASSERT_EQ(generic.status, 0) << generic.err;
    EXPECT_NE(generic.out.find("CREATE TABLE T_OUT-REC (\r\n    KIND2 VARCHAR(1),\r\n    BBB NUMERIC(3)\r\n);"),
              std::string::npos)
        << generic.out;
    Shell schema = RunShell("{cli} schema --cobol --format columns " + book.Quoted());
    ASSERT_EQ(schema.status, 0) << schema.err;
    EXPECT_NE(schema.out.find("OUT-REC\tBBB\t"), std::string::npos) << schema.out;
    // The DDL loads into SQLite.
    if (std::system("command -v sqlite3 >/dev/null 2>&1") == 0) {
        Shell load = RunShell("{cli} ddl --cobol --dialect sqlite --table T " + book.Quoted() + " - | sqlite3 :memory:");
        EXPECT_EQ(load.status, 0) << load.err;
    }
    std::remove(data.c_str());
}

// Every DDL that ddl --cobol --dialect sqlite writes for the real copybooks beside the
// checkout loads into SQLite (CI has ../shared beside the checkout).
TEST(CobolRecords, EveryRealCopybooksSqliteDdlLoads) {
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "sqlite3 is not installed";
    int loaded = 0;
    for (const char* folder : {"/../shared/corpus", "/../shared/corpus-raw"}) {
        const std::string root = std::string(QB_SOURCE_DIR) + folder;
        struct stat status;
        if (stat(root.c_str(), &status) != 0) continue;
        Shell list = RunShell("find '" + root + "' -type f | sort");
        std::string files = list.out;
        for (size_t at = 0, end; (end = files.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string path = files.substr(at, end - at);
            const std::string dir = path.substr(0, path.rfind('/'));
            Shell ddl = RunShell("{cli} ddl --cobol -I '" + dir + "' --dialect sqlite --table T '" + path + "' -");
            if (ddl.status != 0) continue;   // a copybook the analysis refuses has no DDL
            const std::string sql = qbtest::ProcessUniqueName("cobrec_", "ddl.sql");
            ASSERT_TRUE(qbtest::WriteFileBytes(sql, ddl.out));
            Shell load = RunShell("sqlite3 :memory: < " + sql);
            std::remove(sql.c_str());
            EXPECT_EQ(load.status, 0) << path << ": " << load.err;
            EXPECT_EQ(load.err, "") << path;
            ++loaded;
        }
    }
    if (loaded == 0) GTEST_SKIP() << "no copybook corpus beside the checkout";
}

// ---- Several 01 records without rules: the first, with its own length

TEST(CobolRecords, WithoutRulesVariableRecordsAreTheFirstRecordsLength) {
    Layout layout({"01 HDR.", "   05 H-TYPE PIC X.", "   05 H-DATE PIC 9(8).", "01 DTL.", "   05 D-TYPE PIC X.",
                   "   05 D-TEXT PIC X(20)."},
                  true);
    const std::string first = "H20261210";
    DataOptions options;
    options.records = RecordFormat::kRdw;
    CopybookFile book({"01 HDR.", "   05 H-TYPE PIC X.", "   05 H-DATE PIC 9(8).", "01 DTL.", "   05 D-TYPE PIC X.",
                       "   05 D-TEXT PIC X(20)."});
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "hdr.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(data, Rdw(first) + Rdw("H20261211")));
    Shell decoded = RunShell("{cli} decode --cobol --records rdw " + book.Quoted() + " " + data);
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, "H-TYPE,H-DATE\nH,20261210\nH,20261211\n");
    // The note names the option once.
    const std::string note = "the copybook has 2 01 records; every record is decoded with the first, HDR "
                             "(--record-type FIELD=VALUE:RECORD chooses the record of each)\n";
    EXPECT_EQ(decoded.err, "quillbox-cli: " + note);
    // A record of another length is a bad record that says the first record's length.
    ASSERT_TRUE(qbtest::WriteFileBytes(data, Rdw(first) + Rdw("Dsome text of twenty!")));
    Shell other = RunShell("{cli} decode --cobol --records rdw " + book.Quoted() + " " + data + " --on-error skip");
    EXPECT_EQ(other.status, 3);
    EXPECT_NE(other.err.find("record 2: RDW record of 21 bytes, the record has 9"), std::string::npos) << other.err;
    std::remove(data.c_str());
}

// ---- A counter out of its range is named as such, in every record format

// Hears the faults of a run, with their codes.
class Faults : public quillbox::RunObserver {
public:
    void Fault(const quillbox::RunFault& fault) override { faults.push_back(fault); }
    std::vector<quillbox::RunFault> faults;
};

class NoRows : public quillbox::RowSink {
public:
    bool Begin(const quillbox::LayoutPlan&) override { return true; }
    bool Row(const quillbox::LayoutPlan&, const quillbox::RowCells&) override { return true; }
    bool Finish() override { return true; }
};

TEST(CobolRecords, ACounterPastItsMaximumIsNamedInEveryRecordFormat) {
    Layout layout({"01 R.", "   05 CNT PIC 9(2).", "   05 T OCCURS 1 TO 3 DEPENDING ON CNT.", "      10 V PIC XX."},
                  true);
    // Five occurrences stored and counted: longer than the record at its maximum.
    const std::string record = "05" "AABBCCDDEE";
    struct Format {
        RecordFormat records;
        std::string bytes;
    };
    const std::vector<Format> formats = {
        {RecordFormat::kRdw, Rdw(record)},
        {RecordFormat::kRdwBlock, Bytes({0, static_cast<int>(record.size() + 8), 0, 0}) + Rdw(record)},
        {RecordFormat::kLines, record + "\n"},
        {RecordFormat::kGnuCobol, Bytes({0, static_cast<int>(record.size()), 0, 0}) + record},
        {RecordFormat::kFixed, record.substr(0, 8)},
    };
    for (const Format& format : formats) {
        DataOptions options;
        options.records = format.records;
        options.variableOccurs = quillbox::VariableOccursOf(layout.Analyzer());
        quillbox::DataSetup setup;
        std::string error;
        ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
        std::FILE* in = std::tmpfile();
        std::fwrite(format.bytes.data(), 1, format.bytes.size(), in);
        std::rewind(in);
        quillbox::RecordReader reader(in, options.records, static_cast<size_t>(layout.Length()));
        NoRows sink;
        Faults faults;
        quillbox::DecodeRecords(setup, reader, sink, faults);
        std::fclose(in);
        ASSERT_EQ(faults.faults.size(), 1u) << static_cast<int>(format.records);
        const quillbox::RunFault& fault = faults.faults[0];
        EXPECT_EQ(fault.code, quillbox::FaultCode::kCounterRange) << fault.reason;
        ASSERT_NE(fault.field, nullptr);
        EXPECT_EQ(fault.field->column, "CNT");
        EXPECT_EQ(fault.reason, "CNT = 5 is outside the count of T (OCCURS 1 TO 3 DEPENDING ON CNT)");
    }
}

// ---- Names that are names

TEST(CobolRecords, NamesThatCouldLeaveAFolderOrHideANulAreRefusedByBothAnalyses) {
    // (The default analysis ends an entry at a period: "A..B" is the name A there.)
    for (const char* name : {"../../ESC", "B/C", "A\\\\B", "A..B"}) {
        CopybookFile book({"01 R.", std::string("   05 ") + name + " PIC X."});
        for (const char* rules : {"--cobol ", ""}) {
            if (*rules == '\0' && std::string(name) == "A..B") continue;
            Shell layout = RunShell(std::string("{cli} layout ") + rules + book.Quoted());
            EXPECT_EQ(layout.status, 1) << name << " " << rules << layout.out;
            EXPECT_NE(layout.err.find("BOOK.cpy:2:"), std::string::npos) << name << " " << rules << layout.err;
        }
    }
    // A NUL inside a name (the default analysis read it as a blank: two groups of 0 bytes).
    const std::string nul = qbtest::ProcessUniqueName("cobrec_", "NUL.cpy");
    ASSERT_TRUE(qbtest::WriteFileBytes(nul, std::string("       01 R.\n       05 AB\0CD PIC X.\n", 36)));
    for (const char* rules : {"--cobol ", ""}) {
        Shell layout = RunShell(std::string("{cli} layout ") + rules + "'" + nul + "'");
        EXPECT_EQ(layout.status, 1) << rules << layout.out;
    }
    // NULs between words and after the entries stay blanks, as before.
    ASSERT_TRUE(qbtest::WriteFileBytes(nul, std::string("       01 R.\n       05 AB \0PIC X.\0\0\n", 36)));
    Shell padded = RunShell("{cli} layout '" + nul + "'");
    EXPECT_EQ(padded.status, 0) << padded.err;
    std::remove(nul.c_str());

    // Two OCCURS clauses in one entry: which count is meant is unknown.
    CopybookFile twice({"01 R.", "   05 T OCCURS 2 OCCURS 3 PIC X."});
    for (const char* rules : {"--cobol ", ""}) {
        Shell layout = RunShell(std::string("{cli} layout ") + rules + twice.Quoted());
        EXPECT_EQ(layout.status, 1) << rules << layout.out;
    }
}

TEST(CobolRecords, ColumnNamesThatDifferOnlyInCaseAreMadeUnique) {
    CopybookFile book({"01 R.", "   05 AMT PIC 9(3).", "   05 Amt PIC 9(3)."});
    Shell ddl = RunShell("{cli} ddl --cobol --dialect sqlite --table T " + book.Quoted() + " -");
    ASSERT_EQ(ddl.status, 0) << ddl.err;
    EXPECT_NE(ddl.out.find("    AMT INTEGER,\r\n    Amt_2 INTEGER\r\n"), std::string::npos) << ddl.out;
    if (std::system("command -v sqlite3 >/dev/null 2>&1") == 0) {
        Shell load = RunShell("{cli} ddl --cobol --dialect sqlite --table T " + book.Quoted() + " - | sqlite3 :memory:");
        EXPECT_EQ(load.status, 0) << load.err;
    }
}

// ---- Record-type rules that can never choose

TEST(CobolRecords, RulesThatCanNeverMatchOrThatOverlapAreRefusedAtTheStart) {
    CopybookFile book({"01 HDR.", "   05 ORD-TYPE PIC X.", "   05 RT PIC S9(3).", "   05 H-DATA PIC X(4).",
                       "01 DTL.", "   05 D-TYPE PIC X.", "   05 D-RT PIC S9(3).", "   05 D-DATA PIC 9(4)."});
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "types.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(data, "H001ABCD"));
    const std::string run = "{cli} decode --cobol " + book.Quoted() + " " + data;
    Shell tooLong = RunShell(run + " --record-type ORD-TYPE=HH:HDR --record-type ORD-TYPE=D:DTL");
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.err.find("--record-type ORD-TYPE=HH:HDR can never match: \"HH\" is longer than the field's 1 bytes"),
              std::string::npos)
        << tooLong.err;
    Shell tooWide = RunShell(run + " --record-type RT=9999:HDR");
    EXPECT_EQ(tooWide.status, 1);
    EXPECT_NE(tooWide.err.find("--record-type RT=9999:HDR can never match: \"9999\" has more digits than the field's 3"),
              std::string::npos)
        << tooWide.err;
    Shell notNumber = RunShell(run + " --record-type RT=X:HDR");
    EXPECT_EQ(notNumber.status, 1);
    EXPECT_NE(notNumber.err.find("can never match"), std::string::npos) << notNumber.err;
    Shell overlap = RunShell(run + " --record-type ORD-TYPE=H:HDR --record-type ORD-TYPE=H:DTL");
    EXPECT_EQ(overlap.status, 1);
    EXPECT_NE(overlap.err.find("--record-type ORD-TYPE=H:DTL overlaps the earlier --record-type ORD-TYPE=H:HDR"),
              std::string::npos)
        << overlap.err;
    // The same field named in another record, the same value as the record shows it.
    Shell sameField = RunShell(run + " --record-type RT=1:HDR --record-type D-RT=001:DTL");
    EXPECT_EQ(sameField.status, 1);
    EXPECT_NE(sameField.err.find("overlaps"), std::string::npos) << sameField.err;
    Shell good = RunShell(run + " --record-type ORD-TYPE=H:HDR --record-type RT=-1:DTL");
    EXPECT_EQ(good.status, 0) << good.err;
    std::remove(data.c_str());
}

// ---- OCCURS ... DEPENDING ON is bounded

TEST(CobolRecords, AHugeDependingOnMaximumIsRefusedAtOnce) {
    CopybookFile book({"01 R.", "   05 N PIC 9(7).", "   05 T OCCURS 1 TO 4000000 DEPENDING ON N.", "      10 X PIC X."});
    auto start = std::chrono::steady_clock::now();
    Shell layout = RunShell("{cli} layout --cobol " + book.Quoted());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(layout.status, 1);
    EXPECT_NE(layout.err.find("BOOK.cpy:3:"), std::string::npos) << layout.err;
    EXPECT_NE(layout.err.find("100000"), std::string::npos) << layout.err;
    EXPECT_LT(seconds, 5.0);
    // At the limit it lays out and decodes.
    CopybookFile most({"01 R.", "   05 N PIC 9(6).", "   05 T OCCURS 1 TO 100000 DEPENDING ON N.", "      10 X PIC X."});
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "most.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(data, Rdw("000002AB")));
    Shell decoded = RunShell("{cli} decode --cobol --records rdw --format jsonl " + most.Quoted() + " " + data);
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, "{\"R\":{\"N\":2,\"T\":[{\"X\":\"A\"},{\"X\":\"B\"}]}}\n");
    std::remove(data.c_str());
}

// ---- GnuCOBOL's variable sequential formats and LINE SEQUENTIAL lines

// The record header of GnuCOBOL's COB_VARSEQ_FORMAT `format` before `length` bytes.
std::string VarseqHeader(int format, size_t length) {
    switch (format) {
    case 0: return Bytes({static_cast<int>(length >> 8), static_cast<int>(length & 0xFF), 0, 0});
    case 1: return Bytes({0, 0, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)});
    case 2: return Bytes({static_cast<int>(length & 0xFF), static_cast<int>(length >> 8), 0, 0});
    default: return Bytes({static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)});
    }
}

const RecordFormat kVarseq[] = {RecordFormat::kGnuCobol, RecordFormat::kGnuCobol1, RecordFormat::kGnuCobol2,
                                RecordFormat::kGnuCobol3};

TEST(GnuCobolFiles, EachVarseqFormatDecodesAndEncodesItsHeaders) {
    Layout layout({"01 R.", "   05 CNT PIC 9.", "   05 T OCCURS 0 TO 3 DEPENDING ON CNT PIC XX."}, true);
    for (int format = 0; format < 4; ++format) {
        DataOptions options;
        options.records = kVarseq[format];
        const std::string file = VarseqHeader(format, 5) + "2ABCD" + VarseqHeader(format, 1) + "0";
        RunResult decoded = layout.Decode(file, options);
        ASSERT_EQ(decoded.status, kExitDone) << format << ": " << decoded.err;
        EXPECT_EQ(decoded.out, "CNT,T_1,T_2,T_3\n2,AB,CD,\n0,,,\n") << format;
        RunResult encoded = layout.Encode(decoded.out, options);
        ASSERT_EQ(encoded.status, kExitDone) << format << ": " << encoded.err;
        EXPECT_EQ(encoded.out, file) << format;
    }
    // An RDW counts itself; GnuCOBOL's header does not: read as RDW it is refused, not misread.
    DataOptions rdw;
    rdw.records = RecordFormat::kRdw;
    EXPECT_EQ(layout.Decode(VarseqHeader(0, 5) + "2ABCD", rdw).status, kExitFailed);
    // Broken headers stop the run with what is wrong.
    DataOptions gnu;
    gnu.records = RecordFormat::kGnuCobol;
    RunResult notZero = layout.Decode(Bytes({0, 5, 1, 0}) + "2ABCD", gnu);
    EXPECT_EQ(notZero.status, kExitFailed);
    EXPECT_NE(notZero.err.find("bad record header: bytes 3 and 4 are not zero"), std::string::npos) << notZero.err;
    RunResult cut = layout.Decode(VarseqHeader(0, 5) + "2AB", gnu);
    EXPECT_EQ(cut.status, kExitFailed);
    EXPECT_NE(cut.err.find("record of 5 bytes cut by the end of the file"), std::string::npos) << cut.err;
    gnu.records = RecordFormat::kGnuCobol1;
    RunResult huge = layout.Decode(Bytes({0x7F, 0xFF, 0xFF, 0xFF}) + "2ABCD", gnu);
    EXPECT_EQ(huge.status, kExitFailed);
    EXPECT_NE(huge.err.find("bad record header: a record of 2147483647 bytes"), std::string::npos) << huge.err;
}

TEST(GnuCobolFiles, ShortLinesMissingOnlyTextArePaddedAndSaidSo) {
    Layout layout({"01 R.", "   05 N PIC 9(4).", "   05 T PIC X(10)."});
    DataOptions options;
    options.records = RecordFormat::kLines;
    RunResult padded = layout.Decode("0012AB\n0034ABCDEFGHIJ\n0056\n", options);
    ASSERT_EQ(padded.status, kExitDone) << padded.err;
    EXPECT_EQ(padded.out, "N,T\n12,AB        \n34,ABCDEFGHIJ\n56,          \n");
    EXPECT_NE(padded.err.find("2 short lines padded with blanks (1, 3)"), std::string::npos) << padded.err;
    // A number cut short is no blank text: the line is a bad record, as before.
    RunResult cut = layout.Decode("001\n", options);
    EXPECT_EQ(cut.status, kExitFailed);
    EXPECT_NE(cut.err.find("line of 3 bytes, the record has 14"), std::string::npos) << cut.err;
    options.onError = OnError::kNull;
    RunResult nulled = layout.Decode("0012AB\n", options);
    EXPECT_EQ(nulled.status, kExitDone) << nulled.err;
    EXPECT_EQ(nulled.out, "N,T\n12,AB        \n");
    // encode as GnuCOBOL writes LINE SEQUENTIAL files: trailing blanks dropped; plain
    // lines stay whole.
    options.onError = OnError::kStop;
    options.lineSequential = true;
    RunResult trimmed = layout.Encode(padded.out, options);
    ASSERT_EQ(trimmed.status, kExitDone) << trimmed.err;
    EXPECT_EQ(trimmed.out, "0012AB\n0034ABCDEFGHIJ\n0056\n");
    options.lineSequential = false;
    EXPECT_EQ(layout.Encode(padded.out, options).out, "0012AB        \n0034ABCDEFGHIJ\n0056          \n");
    // A number at the end keeps its digits whatever they are.
    Layout numberLast({"01 R.", "   05 T PIC X(3).", "   05 N PIC 9(2)."});
    options.lineSequential = true;
    EXPECT_EQ(numberLast.Encode("T,N\nA,1\n", options).out, "A  01\n");
}

// A COBOL program compiled by cobc: its text written, compiled, run with `environment`.
struct CobolProgram {
    std::string stem;
    explicit CobolProgram(const std::string& name) : stem(qbtest::ProcessUniqueName("cobrec_", name)) {}
    ~CobolProgram() {
        for (const std::string& file : {stem + ".cob", stem + ".log", stem}) std::remove(file.c_str());
    }
    bool Build(const std::string& text) {
        if (!qbtest::WriteFileBytes(stem + ".cob", text)) return false;
        std::string compile = "cobc -x -std=ibm -o " + qbtest::Quote("./" + stem) + " " + qbtest::Quote(stem + ".cob") +
                              " 2>" + qbtest::Quote(stem + ".log");
        return std::system(compile.c_str()) == 0;
    }
    Shell Run(const std::string& environment) { return RunShell(environment + " ./" + stem); }
};

// The program text around a file `data` of `organization` whose record is `record`.
std::string FileProgram(const std::string& id, const std::string& data, const std::string& organization,
                        const std::string& fd, const std::string& record, const std::string& procedure) {
    return "       IDENTIFICATION DIVISION.\n"
           "       PROGRAM-ID. " + id + ".\n"
           "       ENVIRONMENT DIVISION.\n"
           "       INPUT-OUTPUT SECTION.\n"
           "       FILE-CONTROL.\n"
           "           SELECT F ASSIGN TO\n"
           "               \"" + data + "\"\n"
           "               ORGANIZATION " + organization + ".\n"
           "       DATA DIVISION.\n"
           "       FILE SECTION.\n"
           "       FD F" + fd + ".\n" + record +
           "       WORKING-STORAGE SECTION.\n"
           "       01 WS-EOF PIC X VALUE \"N\".\n"
           "       PROCEDURE DIVISION.\n" + procedure +
           "           STOP RUN.\n";
}

const char kVarRecord[] =
    "       01 R.\n"
    "          05 CNT PIC 9.\n"
    "          05 T OCCURS 0 TO 3 DEPENDING ON CNT PIC XX.\n";

TEST(GnuCobolFiles, GnuCobolWritesAndReadsEveryVarseqFormatAsQuillboxDoes) {
    if (!qbtest::HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is no reference file to compare with";
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "varseq.dat");
    CobolProgram writer("wvar");
    ASSERT_TRUE(writer.Build(FileProgram("WVAR", data, "SEQUENTIAL", " RECORD VARYING 1 TO 7", kVarRecord,
                                         "           OPEN OUTPUT F\n"
                                         "           MOVE 2 TO CNT MOVE \"AB\" TO T(1) MOVE \"CD\" TO T(2)\n"
                                         "           WRITE R\n"
                                         "           MOVE 0 TO CNT WRITE R\n"
                                         "           MOVE 3 TO CNT MOVE \"EF\" TO T(3) WRITE R\n"
                                         "           CLOSE F\n")))
        << "cobc refused the program; see " << writer.stem << ".log";
    CobolProgram reader("rvar");
    ASSERT_TRUE(reader.Build(FileProgram("RVAR", data, "SEQUENTIAL", " RECORD VARYING 1 TO 7", kVarRecord,
                                         "           OPEN INPUT F\n"
                                         "           PERFORM UNTIL WS-EOF = \"Y\"\n"
                                         "               READ F AT END MOVE \"Y\" TO WS-EOF\n"
                                         "               NOT AT END DISPLAY \"[\" R \"]\"\n"
                                         "               END-READ\n"
                                         "           END-PERFORM\n"
                                         "           CLOSE F\n")))
        << "cobc refused the program; see " << reader.stem << ".log";
    Layout layout({"01 R.", "   05 CNT PIC 9.", "   05 T OCCURS 0 TO 3 DEPENDING ON CNT PIC XX."}, true);
    for (int format = 0; format < 4; ++format) {
        const std::string environment = "COB_VARSEQ_FORMAT=" + std::to_string(format);
        Shell wrote = writer.Run(environment);
        ASSERT_EQ(wrote.status, 0) << wrote.err;
        const std::string written = qbtest::ReadFileBytes(data);
        EXPECT_EQ(written, VarseqHeader(format, 5) + "2ABCD" + VarseqHeader(format, 1) + "0" +
                               VarseqHeader(format, 7) + "3ABCDEF")
            << format;
        DataOptions options;
        options.records = kVarseq[format];
        RunResult decoded = layout.Decode(written, options);
        ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
        EXPECT_EQ(decoded.out, "CNT,T_1,T_2,T_3\n2,AB,CD,\n0,,,\n3,AB,CD,EF\n") << format;
        // What encode writes, GnuCOBOL reads.
        RunResult encoded = layout.Encode(decoded.out, options);
        ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
        EXPECT_EQ(encoded.out, written) << format;
        ASSERT_TRUE(qbtest::WriteFileBytes(data, encoded.out));
        Shell read = reader.Run(environment);
        ASSERT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out, "[2ABCD]\n[0]\n[3ABCDEF]\n") << format;
    }
    std::remove(data.c_str());
}

TEST(GnuCobolFiles, GnuCobolsLineSequentialFilesReadPaddedAndWrittenAlike) {
    if (!qbtest::HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is no reference file to compare with";
    const std::string data = qbtest::ProcessUniqueName("cobrec_", "lines.txt");
    const std::string record = "       01 R.\n          05 N PIC 9(4).\n          05 T PIC X(10).\n";
    CobolProgram writer("wls");
    ASSERT_TRUE(writer.Build(FileProgram("WLS", data, "LINE SEQUENTIAL", "", record,
                                         "           OPEN OUTPUT F\n"
                                         "           MOVE 12 TO N MOVE \"AB\" TO T WRITE R\n"
                                         "           MOVE 34 TO N MOVE \"ABCDEFGHIJ\" TO T WRITE R\n"
                                         "           MOVE 56 TO N MOVE SPACES TO T WRITE R\n"
                                         "           CLOSE F\n")))
        << "cobc refused the program; see " << writer.stem << ".log";
    Shell wrote = writer.Run("");
    ASSERT_EQ(wrote.status, 0) << wrote.err;
    const std::string written = qbtest::ReadFileBytes(data);
    ASSERT_EQ(written, "0012AB\n0034ABCDEFGHIJ\n0056\n");
    Layout layout({"01 R.", "   05 N PIC 9(4).", "   05 T PIC X(10)."});
    DataOptions options;
    options.records = RecordFormat::kLines;
    RunResult decoded = layout.Decode(written, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "N,T\n12,AB        \n34,ABCDEFGHIJ\n56,          \n");
    options.lineSequential = true;
    RunResult encoded = layout.Encode(decoded.out, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, written);
    std::remove(data.c_str());
}

}  // namespace
