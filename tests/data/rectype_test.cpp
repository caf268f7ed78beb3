// Files of several record types: the rules that choose each record's 01, decode to a
// table per record type (a file each, or JSON Lines with a "record" key), encode back
// byte for byte, bad data in the type field and in a record's length, the C++ reader,
// the command line (warning, -o DIR/, ddl --cobol) and the cross-check with a file
// GnuCOBOL writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cobc_program.h"
#include "data_test_util.h"
#include "datafile.h"
#include "rectypes.h"

using datatest::Layout;
using datatest::ReadAll;
using datatest::RunResult;
using quillbox::RecordTypeRule;

namespace {

const std::vector<std::string> kEntries = {
    "01  HDR-REC.",
    "    05  HDR-TYPE      PIC X.",
    "    05  HDR-DATE      PIC 9(8).",
    "01  DTL-REC.",
    "    05  DTL-TYPE      PIC X.",
    "    05  DTL-ITEM      PIC X(4).",
    "    05  DTL-AMT       PIC S9(5)V99 COMP-3.",
    "    05  DTL-QTY       PIC 9(3).",
    "01  TRL-REC.",
    "    05  TRL-TYPE      PIC X.",
    "    05  TRL-COUNT     PIC 9(5).",
};

// The records of the file, the JSON lines decode makes of them.
const std::vector<std::string> kRecords = {
    "H20261209",
    std::string("DABCD\x00\x12\x34\x5C", 9) + "005",
    std::string("DWXYZ\x00\x00\x12\x3D", 9) + "010",
    "T00002",
};
const std::string kJson =
    "{\"record\":\"HDR-REC\",\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":20261209}}\n"
    "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-ITEM\":\"ABCD\",\"DTL-AMT\":\"123.45\",\"DTL-QTY\":5}}\n"
    "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-ITEM\":\"WXYZ\",\"DTL-AMT\":\"-1.23\",\"DTL-QTY\":10}}\n"
    "{\"record\":\"TRL-REC\",\"TRL-REC\":{\"TRL-TYPE\":\"T\",\"TRL-COUNT\":2}}\n";

std::string Rdw(const std::vector<std::string>& records) {
    std::string out;
    for (const std::string& r : records) {
        out += static_cast<char>((r.size() + 4) >> 8);
        out += static_cast<char>((r.size() + 4) & 0xFF);
        out += std::string(2, '\0') + r;
    }
    return out;
}

DataOptions TypedOptions(RecordFormat records = RecordFormat::kRdw) {
    DataOptions options;
    options.records = records;
    options.recordTypes = {{"HDR-TYPE", "H", "HDR-REC"}, {"HDR-TYPE", "D", "DTL-REC"}, {"hdr-type", "T", "trl-rec"}};
    return options;
}

struct TypedRun {
    int status = -1;
    std::string out, err;
    std::map<std::string, std::string> tables;   // -o DIR/: the table of each record
};

// decode (or encode) of a file of record types; `perRecord` gives every type its own table.
TypedRun RunTyped(Layout& layout, bool decode, const std::string& input, const DataOptions& options,
                  bool perRecord = false) {
    TypedRun result;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::map<std::string, std::FILE*> files;
    auto tableOf = [&](const std::string& record) { return files[record] = std::tmpfile(); };
    if (!decode) result.status = EncodeRecordTypeData(layout.Head(), options, in, out, err);
    else if (perRecord) result.status = DecodeRecordTypeData(layout.Head(), options, in, tableOf, nullptr, err);
    else result.status = DecodeRecordTypeData(layout.Head(), options, in, nullptr, out, err);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    for (auto& file : files) {
        result.tables[file.first] = ReadAll(file.second);
        std::fclose(file.second);
    }
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return result;
}

TEST(RecordTypes, VariableRecordsToJsonLinesWithTheRecordKeyAndBackByteForByte) {
    Layout layout(kEntries, true);
    for (RecordFormat format : {RecordFormat::kRdw, RecordFormat::kRdwBlock, RecordFormat::kLines}) {
        DataOptions options = TypedOptions(format);
        std::string data;
        if (format == RecordFormat::kLines) {
            // Text lines: the packed bytes hold no line end.
            for (const std::string& r : kRecords) data += r + "\n";
        } else {
            TypedRun encoded = RunTyped(layout, false, kJson, options);
            ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
            if (format == RecordFormat::kRdw) {
                EXPECT_EQ(encoded.out, Rdw(kRecords));
            }
            data = encoded.out;
        }
        TypedRun decoded = RunTyped(layout, true, data, options);
        ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
        EXPECT_EQ(decoded.out, kJson);
        TypedRun again = RunTyped(layout, false, decoded.out, options);
        ASSERT_EQ(again.status, kExitDone) << again.err;
        EXPECT_EQ(again.out, data) << "format " << static_cast<int>(format);
    }
}

TEST(RecordTypes, FixedRecordsAreTheLongestRecordAndEachTypeGetsItsOwnTable) {
    Layout layout(kEntries, true);
    DataOptions options = TypedOptions(RecordFormat::kFixed);
    options.format = TableFormat::kCsv;
    std::string data;
    for (const std::string& r : kRecords) data += r + std::string(12 - r.size(), ' ');
    TypedRun decoded = RunTyped(layout, true, data, options, true);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    ASSERT_EQ(decoded.tables.size(), 3u);
    EXPECT_EQ(decoded.tables["HDR-REC"], "HDR-TYPE,HDR-DATE\nH,20261209\n");
    EXPECT_EQ(decoded.tables["DTL-REC"], "DTL-TYPE,DTL-ITEM,DTL-AMT,DTL-QTY\nD,ABCD,123.45,5\nD,WXYZ,-1.23,10\n");
    EXPECT_EQ(decoded.tables["TRL-REC"], "TRL-TYPE,TRL-COUNT\nT,2\n");
    // Encoded back: every record the longest record's length, the rest blank.
    options.format = TableFormat::kJsonl;
    TypedRun encoded = RunTyped(layout, false, kJson, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, data);
    // --skip and --count count the file's records, whatever their types.
    options.skip = 1;
    options.count = 2;
    TypedRun part = RunTyped(layout, true, data, options);
    ASSERT_EQ(part.status, kExitDone) << part.err;
    EXPECT_EQ(part.out, kJson.substr(kJson.find('\n') + 1, kJson.rfind("{\"record\":\"TRL") - kJson.find('\n') - 1));
}

TEST(RecordTypes, RulesMatchTheValueAsShownAndTheDefaultTakesTheRest) {
    Layout layout({"01 A-REC.", "   05 A-KIND PIC 99.", "   05 A-X PIC X(2).", "01 B-REC.", "   05 B-KIND PIC XX.",
                   "   05 B-N PIC 9(3).", "01 C-REC.", "   05 C-KIND PIC X(2).", "   05 C-T PIC X(3)."},
                  true);
    DataOptions options;
    options.records = RecordFormat::kLines;
    // "01" is the 1 a PIC 99 shows, "B" the "B " of a PIC XX; the field may be named in
    // another record, and a rule whose field is no value in the record (A-KIND over
    // "B ") does not match.
    options.recordTypes = {{"A-KIND", "01", "A-REC"}, {"C-KIND", "B", "B-REC"}};
    options.recordTypeDefault = "C-REC";
    TypedRun decoded = RunTyped(layout, true, "01xy\nB 123\n99abc\n", options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out,
              "{\"record\":\"A-REC\",\"A-REC\":{\"A-KIND\":1,\"A-X\":\"xy\"}}\n"
              "{\"record\":\"B-REC\",\"B-REC\":{\"B-KIND\":\"B \",\"B-N\":123}}\n"
              "{\"record\":\"C-REC\",\"C-REC\":{\"C-KIND\":\"99\",\"C-T\":\"abc\"}}\n");
    // Without the default, a type no rule names is bad data in the type field: the
    // run stops, or the record is left out and counted, never dropped in silence.
    options.recordTypeDefault.clear();
    TypedRun stopped = RunTyped(layout, true, "01xy\n99abc\n01zz\n", options);
    EXPECT_EQ(stopped.status, kExitFailed);
    EXPECT_NE(stopped.err.find("record 2, item A-KIND (offset 0): record type \"99\" matches no --record-type rule"),
              std::string::npos)
        << stopped.err;
    EXPECT_EQ(stopped.out, "{\"record\":\"A-REC\",\"A-REC\":{\"A-KIND\":1,\"A-X\":\"xy\"}}\n");
    for (OnError policy : {OnError::kSkip, OnError::kNull}) {
        options.onError = policy;
        TypedRun skipped = RunTyped(layout, true, "01xy\n99abc\n01zz\n", options);
        EXPECT_EQ(skipped.status, kExitBadData);
        EXPECT_NE(skipped.err.find("3 records read, 2 written, 1 bad"), std::string::npos) << skipped.err;
        EXPECT_NE(skipped.err.find("record 2, item A-KIND (offset 0)"), std::string::npos) << skipped.err;
    }
    // A type field that is no value of its item is bad data too; a record too short to
    // hold it is a bad record.
    options.onError = OnError::kSkip;
    TypedRun bad = RunTyped(layout, true, "x1zz\n0\n", options);
    EXPECT_EQ(bad.status, kExitBadData);
    EXPECT_NE(bad.err.find("record 1, item A-KIND (offset 0): the record-type field:"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("record 2, item A-KIND (offset 0): a record of 1 bytes ends before its record-type field"),
              std::string::npos)
        << bad.err;
}

TEST(RecordTypes, ARecordTypeWithADependingOnTableIsAsLongAsItsCount) {
    Layout layout({"01 HDR.", "   05 H-TYPE PIC X.", "   05 H-DATE PIC 9(8).", "01 DTL.", "   05 D-TYPE PIC X.",
                   "   05 D-CNT PIC 9.", "   05 D-LINE OCCURS 1 TO 3 DEPENDING ON D-CNT.", "      10 D-QTY PIC 9(3).",
                   "   05 D-END PIC XX."},
                  true);
    DataOptions options;
    options.records = RecordFormat::kRdw;
    options.recordTypes = {{"H-TYPE", "H", "HDR"}, {"D-TYPE", "D", "DTL"}};
    options.variableOccurs = quillbox::VariableOccursOf(layout.Analyzer());
    const std::string data = Rdw({"H20261209", "D1005ZZ", "D3001002003YY"});
    const std::string json =
        "{\"record\":\"HDR\",\"HDR\":{\"H-TYPE\":\"H\",\"H-DATE\":20261209}}\n"
        "{\"record\":\"DTL\",\"DTL\":{\"D-TYPE\":\"D\",\"D-CNT\":1,\"D-LINE\":[{\"D-QTY\":5}],\"D-END\":\"ZZ\"}}\n"
        "{\"record\":\"DTL\",\"DTL\":{\"D-TYPE\":\"D\",\"D-CNT\":3,\"D-LINE\":[{\"D-QTY\":1},{\"D-QTY\":2},{\"D-QTY\":3}],"
        "\"D-END\":\"YY\"}}\n";
    TypedRun decoded = RunTyped(layout, true, data, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, json);
    TypedRun encoded = RunTyped(layout, false, json, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, data);
    // The CSV table of the type keeps a column per occurrence, the absent ones empty.
    TypedRun tables = RunTyped(layout, true, data, options, true);
    ASSERT_EQ(tables.status, kExitDone) << tables.err;
    EXPECT_EQ(tables.tables["DTL"], "D-TYPE,D-CNT,D-QTY_1,D-QTY_2,D-QTY_3,D-END\nD,1,5,,,ZZ\nD,3,1,2,3,YY\n");
    // A record shorter than its count says is bad data in its place.
    TypedRun cut = RunTyped(layout, true, Rdw({"D3001002YY"}), options);
    EXPECT_EQ(cut.status, kExitFailed);
    EXPECT_NE(cut.err.find("record 1, item D-QTY_3"), std::string::npos) << cut.err;
}

TEST(RecordTypes, AVariableRecordOfAnotherLengthThanItsTypeIsABadRecord) {
    Layout layout(kEntries, true);
    DataOptions options = TypedOptions();
    options.onError = OnError::kSkip;
    // A trailer of 7 bytes, a header of 12 (the longest record's length).
    TypedRun decoded = RunTyped(layout, true, Rdw({"T000021", "H20261209xyz", kRecords[0]}), options);
    EXPECT_EQ(decoded.status, kExitBadData);
    EXPECT_NE(decoded.err.find("record 1: RDW record of 7 bytes, record TRL-REC has 6"), std::string::npos) << decoded.err;
    EXPECT_NE(decoded.err.find("record 2: RDW record of 12 bytes, record HDR-REC has 9"), std::string::npos)
        << decoded.err;
    EXPECT_EQ(decoded.out, kJson.substr(0, kJson.find('\n') + 1));
    // A fixed file's short last record stays a bad record.
    options.records = RecordFormat::kFixed;
    decoded = RunTyped(layout, true, std::string("H20261209   H2026"), options);
    EXPECT_EQ(decoded.status, kExitBadData);
    EXPECT_NE(decoded.err.find("record 2: short record: 5 of 12 bytes"), std::string::npos) << decoded.err;
}

TEST(RecordTypes, SetupRefusesWhatTheCopybookLacks) {
    Layout layout(kEntries, true);
    quillbox::RecordTypes types;
    std::string error;
    DataOptions options = TypedOptions();
    ASSERT_TRUE(types.Prepare(layout.Head(), options, error)) << error;
    EXPECT_EQ(types.Count(), 3u);
    EXPECT_EQ(types.MaxLength(), 12);
    EXPECT_EQ(types.Length(2), 6);
    options.recordTypes.push_back({"HDR-TYPE", "X", "XYZ-REC"});
    EXPECT_FALSE(types.Prepare(layout.Head(), options, error));
    EXPECT_EQ(error, "the copybook has no 01 record XYZ-REC");
    options.recordTypes.back() = {"REC-KIND", "X", "DTL-REC"};
    EXPECT_FALSE(types.Prepare(layout.Head(), options, error));
    EXPECT_NE(error.find("no record has a column REC-KIND"), std::string::npos) << error;
    options.recordTypes.pop_back();
    options.recordTypeDefault = "NONE";
    EXPECT_FALSE(types.Prepare(layout.Head(), options, error));
    // The default analysis lays the 01 records one after the other: no record types.
    Layout seed(kEntries);
    options.recordTypeDefault.clear();
    EXPECT_FALSE(types.Prepare(seed.Head(), options, error));
    EXPECT_NE(error.find("record DTL-REC starts at byte 10"), std::string::npos) << error;
    // The list is whole again after each record's plan was made.
    EXPECT_EQ(quillbox::RecordsOf(layout.Head()).size(), 3u);
    int items = 0;
    for (CopyItem* item = layout.Head(); item != nullptr; item = item->next) ++items;
    EXPECT_EQ(items, 11);
}

TEST(RecordTypes, RuleTextAndRecordKeyParsing) {
    RecordTypeRule rule;
    ASSERT_TRUE(quillbox::ParseRecordTypeRule("REC-TYPE=A=B:C:DTL-REC", rule));
    EXPECT_EQ(rule.field, "REC-TYPE");
    EXPECT_EQ(rule.value, "A=B:C");
    EXPECT_EQ(rule.record, "DTL-REC");
    ASSERT_TRUE(quillbox::ParseRecordTypeRule("T=:R", rule));
    EXPECT_EQ(rule.value, "");
    for (const char* bad : {"T:R", "T=1", "=1:R", "T=1:", "T:R=1"}) EXPECT_FALSE(quillbox::ParseRecordTypeRule(bad, rule)) << bad;

    struct Case {
        const char* line;
        bool found;
        const char* record;
        const char* rest;
    };
    const Case cases[] = {
        {"{\"record\":\"A\",\"X\":1}", true, "A", "{\"X\":1}"},
        {"{\"X\":{\"record\":\"no\"},\"record\" : \"B\"}", true, "B", "{\"X\":{\"record\":\"no\"}}"},
        {"{\"X\":\"\\\"record\\\"\", \"record\":\"C\", \"Y\":[1,2]}", true, "C", "{\"X\":\"\\\"record\\\"\", \"Y\":[1,2]}"},
        {"{\"record\":\"D\"}", true, "D", "{}"},
        {"{\"X\":1}", false, "", ""},
        {"{\"record\":1}", false, "", ""},
        {"{\"record\":\"unclosed", false, "", ""},
        {"[\"record\"]", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string line = c.line, record;
        EXPECT_EQ(quillbox::TakeRecordKey(line, record), c.found) << c.line;
        if (!c.found) continue;
        EXPECT_EQ(record, c.record) << c.line;
        EXPECT_EQ(line, c.rest) << c.line;
    }
}

TEST(RecordTypes, JapaneseRecordNamesInAShiftJisTable) {
    // The copybook's text is Shift_JIS (these literals are compiled to it); the rules
    // name the record and the field in UTF-8, as the command line gives them.
    Layout layout({"01 見出し.", "   05 種別 PIC X.", "   05 日付 PIC 9(8).", "01 明細.", "   05 種別二 PIC X.",
                   "   05 数量 PIC 9(3)."},
                  true);
    DataOptions options;
    options.records = RecordFormat::kLines;
    options.tableEncoding = "cp932";
    options.recordTypes = {{u8"種別", "H", u8"見出し"}, {u8"種別", "D", u8"明細"}};
    TypedRun decoded = RunTyped(layout, true, "H20261209\nD005\n", options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    // The record's name is a value: in the table's code page, as the text values (the
    // keys are UTF-8 whatever the table's code page).
    EXPECT_EQ(decoded.out, "{\"record\":\"見出し\"," + std::string(u8"\"見出し\":{\"種別\":\"H\",\"日付\":20261209}}\n") +
                               "{\"record\":\"明細\"," + u8"\"明細\":{\"種別二\":\"D\",\"数量\":5}}\n");
    TypedRun encoded = RunTyped(layout, false, decoded.out, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, "H20261209\nD005\n");
}

TEST(RecordTypes, EncodeRefusesRowsWithoutTheirRecord) {
    Layout layout(kEntries, true);
    DataOptions options = TypedOptions();
    options.onError = OnError::kSkip;
    std::string table = "{\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":1}}\n"
                        "{\"record\":\"NO-REC\",\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":1}}\n"
                        "{\"record\":\"TRL-REC\",\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":1}}\n"
                        "{\"record\":\"trl-rec\",\"TRL-REC\":{\"TRL-TYPE\":\"T\",\"TRL-COUNT\":123456}}\n" +
                        kJson.substr(kJson.rfind("{\"record\":\"TRL"));
    TypedRun encoded = RunTyped(layout, false, table, options);
    EXPECT_EQ(encoded.status, kExitBadData);
    EXPECT_EQ(encoded.out, Rdw({kRecords[3]}));
    EXPECT_NE(encoded.err.find("record 1: the line has no \"record\" key"), std::string::npos) << encoded.err;
    EXPECT_NE(encoded.err.find("record 2: \"record\": the copybook has no 01 record NO-REC"), std::string::npos)
        << encoded.err;
    EXPECT_NE(encoded.err.find("record 3: "), std::string::npos) << encoded.err;
    EXPECT_NE(encoded.err.find("record 4, item TRL-COUNT"), std::string::npos) << encoded.err;
}

TEST(RecordTypes, TheCxxReaderGivesEachRecordsTypeAndColumns) {
    Layout layout(kEntries, true);
    const std::string path = qbtest::ProcessUniqueName("rectype_", "api.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(path, Rdw({kRecords[0], kRecords[1], "X", kRecords[2], kRecords[3]})));
    quillbox::LayoutOptions cobol;
    cobol.cobol = true;
    quillbox::Layout api(layout.Path(), cobol);
    DataOptions options = TypedOptions();
    {
        quillbox::RecordTypeReader reader(api, path, options);
        EXPECT_EQ(reader.TypeNames(), (std::vector<std::string>{"HDR-REC", "DTL-REC", "TRL-REC"}));
        ASSERT_TRUE(reader.Next());
        EXPECT_EQ(reader.RecordType(), "HDR-REC");
        EXPECT_EQ(reader.Get("HDR-DATE").AsInt64(), 20261209);
        ASSERT_TRUE(reader.Next());
        EXPECT_EQ(reader.RecordType(), "DTL-REC");
        EXPECT_EQ(reader.ColumnCount(), 4u);
        EXPECT_EQ(reader.ColumnName(2), "DTL-AMT");
        EXPECT_EQ(reader.Get("DTL-AMT").Unscaled(), 12345);
        EXPECT_THROW(reader.Text("HDR-DATE"), quillbox::Error);
        try {
            reader.Next();
            ADD_FAILURE() << "the record of type X was read";
        } catch (const quillbox::Error& error) {
            EXPECT_EQ(error.Record(), 3);
            EXPECT_EQ(error.Item(), "HDR-TYPE");
            EXPECT_EQ(error.Offset(), 0);
        }
    }
    options.onError = OnError::kSkip;
    quillbox::RecordTypeReader reader(api, path, options);
    std::vector<std::string> seen;
    while (reader.Next()) seen.push_back(reader.RecordType() + ":" + reader.Text(1));
    EXPECT_EQ(seen, (std::vector<std::string>{"HDR-REC:20261209", "DTL-REC:ABCD", "DTL-REC:WXYZ", "TRL-REC:2"}));
    std::remove(path.c_str());
}

// ---- The command line

const std::string kCli = QB_CLI_PATH;

struct Result {
    int status;
    std::string out, err;
};

Result Shell(std::string line) {
    for (size_t at; (at = line.find("{cli}")) != std::string::npos;) line.replace(at, 5, "'" + kCli + "'");
    std::string out = qbtest::ProcessUniqueName("rectype_", "out"), err = qbtest::ProcessUniqueName("rectype_", "err");
    int raw = std::system(("(" + line + ") >" + out + " 2>" + err).c_str());
    Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(out), qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

TEST(RecordTypesCli, FolderOfTablesStreamWarningAndDdl) {
    Layout layout(kEntries, true);
    const std::string data = qbtest::ProcessUniqueName("rectype_", "file.vb"),
                      folder = qbtest::ProcessUniqueName("rectype_", "tables");
    ASSERT_TRUE(qbtest::WriteFileBytes(data, Rdw(kRecords)));
    const std::string rules = " --cobol '" + layout.Path() + "' " + data +
                              " --records rdw --record-type HDR-TYPE=H:HDR-REC --record-type HDR-TYPE=D:DTL-REC "
                              "--record-type HDR-TYPE=T:TRL-REC";
    Result tables = Shell("{cli} decode" + rules + " -o " + folder + "/");
    ASSERT_EQ(tables.status, 0) << tables.err;
    EXPECT_EQ(qbtest::ReadFileBytes(folder + "/DTL-REC.csv"),
              "DTL-TYPE,DTL-ITEM,DTL-AMT,DTL-QTY\nD,ABCD,123.45,5\nD,WXYZ,-1.23,10\n");
    EXPECT_EQ(qbtest::ReadFileBytes(folder + "/TRL-REC.csv"), "TRL-TYPE,TRL-COUNT\nT,2\n");
    Result jsonl = Shell("{cli} decode --format jsonl" + rules + " -o " + folder);
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    EXPECT_EQ(qbtest::ReadFileBytes(folder + "/HDR-REC.jsonl"),
              "{\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":20261209}}\n");
    for (const char* name : {"HDR-REC", "DTL-REC", "TRL-REC"}) {
        std::remove((folder + "/" + name + ".csv").c_str());
        std::remove((folder + "/" + name + ".jsonl").c_str());
    }
    rmdir(folder.c_str());
    // One stream: JSON Lines with the record key, through encode back to the bytes.
    Result piped = Shell("{cli} decode" + rules + " | {cli} encode --records rdw --cobol '" + layout.Path() +
                         "' - --record-type-default HDR-REC | cmp - " + data);
    EXPECT_EQ(piped.status, 0) << piped.err << piped.out;
    // The rules may come before the copybook and the data: each takes one argument.
    Result before = Shell("{cli} decode --records rdw --record-type-default DTL-REC --cobol --record-type "
                          "HDR-TYPE=H:HDR-REC '" + layout.Path() + "' " + data + " --on-error null");
    EXPECT_EQ(before.status, 3) << before.err;
    EXPECT_NE(before.out.find("\"record\":\"DTL-REC\""), std::string::npos) << before.out;
    Result csv = Shell("{cli} decode --format csv" + rules);
    EXPECT_EQ(csv.status, 2);
    EXPECT_NE(csv.err.find("-o DIR/ writes a CSV file per record type"), std::string::npos) << csv.err;
    // Without rules: the first record for every record, said once.
    Result first = Shell("{cli} decode --cobol '" + layout.Path() + "' " + data + " --records rdw --on-error skip");
    EXPECT_EQ(first.status, 3);
    const std::string warning = "quillbox-cli: the copybook has 3 01 records; every record is decoded with the first, "
                                "HDR-REC (--record-type FIELD=VALUE:RECORD chooses the record of each)\n";
    EXPECT_EQ(first.err.substr(0, warning.size()), warning);
    EXPECT_EQ(first.err.find("01 records", warning.size()), std::string::npos);
    // ddl --cobol: a table per record, the columns of its decode table; the default
    // analysis keeps its one table of every item.
    Result ddl = Shell("{cli} ddl --cobol --table T '" + layout.Path() + "' -");
    ASSERT_EQ(ddl.status, 0) << ddl.err;
    EXPECT_EQ(ddl.out,
              "CREATE TABLE T_HDR-REC (\r\n    HDR-TYPE VARCHAR(1),\r\n    HDR-DATE NUMERIC(8)\r\n);\r\n\r\n"
              "CREATE TABLE T_DTL-REC (\r\n    DTL-TYPE VARCHAR(1),\r\n    DTL-ITEM VARCHAR(4),\r\n"
              "    DTL-AMT DECIMAL(7,2),\r\n    DTL-QTY NUMERIC(3)\r\n);\r\n\r\n"
              "CREATE TABLE T_TRL-REC (\r\n    TRL-TYPE VARCHAR(1),\r\n    TRL-COUNT NUMERIC(5)\r\n);\r\n");
    Result seed = Shell("{cli} ddl --table T '" + layout.Path() + "' -");
    ASSERT_EQ(seed.status, 0) << seed.err;
    const std::string oneTable = "CREATE TABLE T (\r\n    HDR-TYPE VARCHAR(1),\r\n    HDR-DATE NUMERIC(8),\r\n";
    EXPECT_EQ(seed.out.substr(0, oneTable.size()), oneTable);
    EXPECT_NE(seed.out.find("    TRL-COUNT NUMERIC(5)\r\n);\r\n"), std::string::npos);
    std::remove(data.c_str());
}

// ---- GnuCOBOL

TEST(RecordTypesGnuCobol, ALineSequentialFileOfThreeRecordTypes) {
    if (!qbtest::HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is no reference file to compare with";
    const std::vector<std::string> entries = {
        "01  HDR-REC.",          "    05  HDR-TYPE  PIC X.",         "    05  HDR-DATE  PIC 9(8).",
        "01  DTL-REC.",          "    05  DTL-TYPE  PIC X.",         "    05  DTL-ITEM  PIC X(6).",
        "    05  DTL-AMT   PIC S9(5)V99.", "    05  DTL-QTY   PIC 9(3).",
        "01  TRL-REC.",          "    05  TRL-TYPE  PIC X.",         "    05  TRL-COUNT PIC S9(5) SIGN LEADING SEPARATE.",
    };
    Layout layout(entries, true);
    const std::string stem = qbtest::ProcessUniqueName("cobcrectype_", "writetyp");
    const std::string program = stem + ".cob", executable = "./" + stem, data = stem + ".dat";
    qbtest::ProgramText text;
    for (const char* line :
         {"IDENTIFICATION DIVISION.", "PROGRAM-ID. WRITETYP.", "ENVIRONMENT DIVISION.", "INPUT-OUTPUT SECTION.",
          "FILE-CONTROL."}) {
        text.Line(line);
    }
    text.Line("    SELECT OUT-FILE ASSIGN TO \"" + data + "\"");
    text.Line("        ORGANIZATION LINE SEQUENTIAL.");
    text.Line("DATA DIVISION.");
    text.Line("FILE SECTION.");
    text.Line("FD OUT-FILE.");
    text.Line("COPY \"" + layout.Path() + "\".");
    text.Line("PROCEDURE DIVISION.");
    text.Line("    OPEN OUTPUT OUT-FILE.");
    // One statement a line, within column 72.
    auto statements = [&text](const std::vector<std::string>& list) {
        for (const std::string& statement : list) text.Line("    " + statement + ".");
    };
    statements({"MOVE \"H\" TO HDR-TYPE", "MOVE 20261209 TO HDR-DATE", "WRITE HDR-REC"});
    const char* details[][3] = {{"\"BOLT  \"", "-123.45", "7"}, {"\"NUT 12\"", "99999.99", "100"}, {"\"a,b\"", "0", "999"}};
    for (const auto& d : details) {
        statements({"MOVE \"D\" TO DTL-TYPE", std::string("MOVE ") + d[0] + " TO DTL-ITEM",
                    std::string("MOVE ") + d[1] + " TO DTL-AMT", std::string("MOVE ") + d[2] + " TO DTL-QTY",
                    "WRITE DTL-REC"});
    }
    statements({"MOVE \"T\" TO TRL-TYPE", "MOVE -3 TO TRL-COUNT", "WRITE TRL-REC"});
    text.Line("    CLOSE OUT-FILE.");
    text.Line("    STOP RUN.");
    ASSERT_TRUE(qbtest::WriteFileBytes(program, text.Text()));
    std::string compile = "cobc -x -o " + qbtest::Quote(executable) + " " + qbtest::Quote(program) + " 2>" +
                          qbtest::Quote(stem + ".log");
    ASSERT_EQ(std::system(compile.c_str()), 0) << "cobc refused the program; see " << stem << ".log";
    ASSERT_EQ(std::system(executable.c_str()), 0);
    const std::string written = qbtest::ReadFileBytes(data);
    // Each record as long as its own 01.
    ASSERT_EQ(written.size(), 10u + 3 * 18 + 8);

    DataOptions options;
    ASSERT_TRUE(ParseSignZones("0x30,0x70", options.positiveZone, options.negativeZone));
    options.signZonesGiven = true;
    options.records = RecordFormat::kLines;
    options.recordTypes = {{"HDR-TYPE", "D", "DTL-REC"}, {"HDR-TYPE", "T", "TRL-REC"}};
    options.recordTypeDefault = "HDR-REC";
    const std::string expected =
        "{\"record\":\"HDR-REC\",\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-DATE\":20261209}}\n"
        "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-ITEM\":\"BOLT  \",\"DTL-AMT\":\"-123.45\",\"DTL-QTY\":7}}\n"
        "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-ITEM\":\"NUT 12\",\"DTL-AMT\":\"99999.99\",\"DTL-QTY\":100}}\n"
        "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-ITEM\":\"a,b   \",\"DTL-AMT\":\"0.00\",\"DTL-QTY\":999}}\n"
        "{\"record\":\"TRL-REC\",\"TRL-REC\":{\"TRL-TYPE\":\"T\",\"TRL-COUNT\":-3}}\n";
    TypedRun decoded = RunTyped(layout, true, written, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, expected);
    TypedRun encoded = RunTyped(layout, false, expected, options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, written);
    for (const std::string& name : {program, data, stem + ".log", stem}) std::remove(name.c_str());
}

}  // namespace
