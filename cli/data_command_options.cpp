// The options and the run shared by decode and encode.
#include "data_command_options.h"

#ifdef QB_HAVE_SQLITE
#include "sqlitesink.h"
#endif
#ifdef QB_HAVE_POSTGRES
#include "pgsink.h"
#endif

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#define QB_ISATTY _isatty
#define QB_FILENO _fileno
#else
#include <unistd.h>
#define QB_ISATTY isatty
#define QB_FILENO fileno
#endif

#include "data_run.h"
#include "next_step.h"
#ifdef QB_HAVE_PARALLEL
#include "parallel.h"
#endif
#include "verify_report.h"
#include "output_file.h"
#include "rectypes.h"
#include "sqltable.h"
#include "tableio.h"
#include "textcodec.h"

using namespace quillbox;

namespace {

constexpr long long kProgressFrom = 4LL << 20;   // inputs below this size show no progress

std::string Check(bool ok, const std::string& message) { return ok ? std::string() : message; }

CLI::Validator OneOf(const char* const* names, const char* label) {
    return CLI::Validator(
        [names](std::string& value) {
            for (const char* const* n = names; *n != nullptr; ++n) {
                if (value == *n) return std::string();
            }
            std::string known;
            for (const char* const* n = names; *n != nullptr; ++n) known += std::string(known.empty() ? "" : ", ") + *n;
            return "\"" + value + "\" is none of " + known;
        },
        label);
}

const char* const kFormats[] = {"csv", "jsonl", "sqlite", "postgresql", nullptr};
const char* const kRecords[] = {"fixed",      "lines",      "line-sequential", "rdw",        "rdw-block",
                                 "gnucobol",   "gnucobol-0", "gnucobol-1",      "gnucobol-2", "gnucobol-3",
                                 nullptr};
const char* const kFloats[] = {"ieee-le", "ieee-be", "ibm-hex", nullptr};
const char* const kRedefines[] = {"first", "all", nullptr};
const char* const kPolicies[] = {"stop", "skip", "null", nullptr};
const char* const kNativeOrders[] = {"big", "little", nullptr};
const char* const kBlankNumerics[] = {"error", "null", "zero", nullptr};
const char* const kJsonNumbers[] = {"exact", "number", "string", nullptr};
const char* const kOdo[] = {"variable", "max", nullptr};

// A whole number from `low` to `high`, in decimal digits: anything else is refused with
// the range and what the number counts (the parser names the option), never in the
// parser's own words.
CLI::Validator CountIn(unsigned long long low, unsigned long long high, const char* what) {
    return CLI::Validator(
        [=](std::string& value) {
            bool digits = !value.empty() && value.size() <= 20;
            unsigned long long number = 0;
            for (size_t i = 0; digits && i < value.size(); ++i) {
                const unsigned digit = static_cast<unsigned char>(value[i]) - '0';
                if (digit > 9 || number > (ULLONG_MAX - digit) / 10) digits = false;
                else number = number * 10 + digit;
            }
            if (digits && number >= low && number <= high) return std::string();
            std::string shown = value.size() > 40 ? value.substr(0, 40) + "..." : value;
            for (char& c : shown) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
            }
            return "expects a whole number from " + std::to_string(low) + " to " + std::to_string(high) + " (" + what +
                   "), not \"" + shown + "\"";
        },
        std::to_string(low) + ".." + std::to_string(high));
}

// Closes the input of a run on every way out.
struct InputCloser {
    std::FILE* file;
    ~InputCloser() { Close(); }
    void Close() {
        if (file != nullptr && file != stdin) std::fclose(file);
        file = nullptr;
    }
};

std::FILE* OpenInput(const std::string& name) {
    if (name == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        return stdin;
    }
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) throw CommandFailure{ArgumentToUtf8(name), std::strerror(errno)};
    return file;
}

// --record-type and --record-type-default.
void AddRecordTypeOptions(CLI::App* command, DataCommandOptions& options) {
    command->add_option("--record-type", options.recordTypes,
                        "FIELD=VALUE:RECORD (repeatable): a record whose FIELD (a column of the part the 01 records "
                        "share) shows VALUE is laid out by the 01 record RECORD; the first rule that matches chooses. "
                        "decode writes a table per record type: with -o DIR/ a file per record (RECORD.csv or "
                        "RECORD.jsonl), otherwise JSON Lines with a \"record\" key; encode reads such JSON Lines")
        ->check(CLI::Validator(
            [](std::string& value) {
                RecordTypeRule rule;
                return Check(ParseRecordTypeRule(value, rule), "expected FIELD=VALUE:RECORD such as REC-TYPE=H:HDR-REC");
            },
            "FIELD=VALUE:RECORD"))
        // One rule a time, so that the COPYBOOK and DATA after it stay arguments of their own.
        ->allow_extra_args(false);
    command->add_option("--record-type-default", options.recordTypeDefault,
                        "the 01 record of records no --record-type rule matches (without it they are bad data)");
}

// A folder made for the tables of a run: removed again (when empty) unless Keep() says
// the run completed, also when a signal ends the run.
class MadeFolder {
public:
    MadeFolder() = default;
    MadeFolder(const MadeFolder&) = delete;
    MadeFolder& operator=(const MadeFolder&) = delete;
    ~MadeFolder() {
        if (path_.empty()) return;
        if (!keep_) {
#ifdef _WIN32
            _rmdir(path_.c_str());
#else
            rmdir(path_.c_str());
#endif
        }
        ForgetTemporaryFile(path_);
    }
    void Make(const std::string& path) {
        TemporaryFileHold hold;
#ifdef _WIN32
        int made = _mkdir(path.c_str());
#else
        int made = mkdir(path.c_str(), 0777);
#endif
        if (made != 0) throw CommandFailure{ArgumentToUtf8(path), std::strerror(errno)};
        path_ = path;
        RegisterTemporaryFile(path_);
    }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

// A folder for the tables of record types: a name ending in a slash, or a folder there.
bool IsFolderName(const std::string& name) {
    if (name.empty() || name == "-") return false;
    char last = name.back();
    if (last == '/' || last == '\\') return true;
    struct stat status;
    return stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Declares COPYBOOK, the input and every shared option.
void AddDataOptions(CLI::App* command, DataCommandOptions& options, const char* inputName, const char* inputHelp) {
    AddCopybookArgument(command, options.copybook);
    command->add_option(inputName, options.input, inputHelp)->required();
    command->add_option("-o,--output", options.output,
                        "the file to write; \"-\" (the default) is standard output. A file is replaced only when the "
                        "run ends with status 0 or 3 (a link's target, the link kept); a pipe or a device is written "
                        "directly; an input is refused");
    command->add_option("--format", options.format,
                        "the table: csv (default), jsonl, sqlite (decode: a table of the SQLite database -o names) "
                        "or postgresql (decode: a table of the PostgreSQL database --db names)")
        ->check(OneOf(kFormats, "csv|jsonl|sqlite|postgresql"));
    command->add_option("--table", options.table,
                        "--format sqlite or postgresql: the table (default: the copybook's record name; with "
                        "--record-type a table per record type, TABLE_RECORD)");
    command->add_option("--if-exists", options.ifExists,
                        "--format sqlite or postgresql, when the database has the table: fail (default, nothing is "
                        "written), append the rows, or replace the table")
        ->check(CLI::IsMember({"fail", "append", "replace"}));
    command->add_option("--db", options.db,
                        "--format postgresql: libpq's connection string, such as \"host=/run/postgresql "
                        "dbname=sales\" or postgresql://USER@HOST/DB (PG* environment variables fill in the rest); "
                        "the whole load is one transaction, committed when the run ends with status 0 or 3");
    command->add_option("--encoding", options.encoding,
                        std::string("the code page of the data's text: ") + TextCodec::Names() + " (default cp932); " +
                            TextCodec::Aliases())
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return TextCodec::Create(value, error) ? std::string() : error;
            },
            "CODEPAGE"));
    command->add_option("--sign-zones", options.signZones,
                        "POS,NEG: zones of the sign byte of signed display numbers (default 0x40,0x50; "
                        "0xC0,0xD0 with an EBCDIC encoding; 0x30,0x70 for GnuCOBOL's files)")
        ->check(CLI::Validator(
            [](std::string& value) {
                unsigned p, n;
                return Check(ParseSignZones(value, p, n), "expected POS,NEG such as 0x30,0x70");
            },
            "POS,NEG"));
    command->add_option("--records", options.records,
                        "fixed (default): records of the record length; lines: one record per text line (a "
                        "short line whose missing bytes are all text is read padded with blanks); "
                        "line-sequential: lines written as GnuCOBOL writes LINE SEQUENTIAL files, trailing "
                        "blanks dropped; rdw: variable records with a record descriptor word; rdw-block: the same "
                        "in blocks; gnucobol (or gnucobol-0), gnucobol-1, gnucobol-2, gnucobol-3: GnuCOBOL's "
                        "variable sequential files of COB_VARSEQ_FORMAT 0 (its default: 2-byte big-endian data "
                        "length, 2 zero bytes), 1 (4-byte big-endian), 2 (4-byte little-endian), 3 (2-byte "
                        "big-endian)")
        ->check(OneOf(kRecords, "fixed|lines|line-sequential|rdw|rdw-block|gnucobol|gnucobol-1|gnucobol-2|gnucobol-3"));
    command->add_option("--float", options.floats, "COMP-1/COMP-2 form: ieee-le (default), ieee-be, ibm-hex")
        ->check(OneOf(kFloats, "ieee-le|ieee-be|ibm-hex"));
    command->add_option("--native-order", options.nativeOrder,
                        "byte order of COMP-5, POINTER and INDEX: big (default with an EBCDIC encoding, as on IBM Z) "
                        "or little (default otherwise); COMP, BINARY and COMP-4 are always big-endian")
        ->check(OneOf(kNativeOrders, "big|little"));
    command->add_option("--blank-numeric", options.blankNumeric,
                        "a display or packed number whose bytes are all spaces or all low-values: error (default, "
                        "bad data), null (an empty value; encode writes an empty one as spaces) or zero")
        ->check(OneOf(kBlankNumerics, "error|null|zero"));
    command->add_option("--json-numbers", options.jsonNumbers,
                        "JSON Lines numbers: exact (default: integers of up to 15 digits as numbers, the others, "
                        "with more digits or decimal places, as strings of the exact text), number (all numbers), "
                        "string (all strings)")
        ->check(OneOf(kJsonNumbers, "exact|number|string"));
    command->add_option("--redefines", options.redefines,
                        "first (default): only items outside redefining areas, like the DDL; all: every view")
        ->check(OneOf(kRedefines, "first|all"));
    command->add_option("--skip", options.skip, "records passed over first")
        ->check(CountIn(0, LLONG_MAX, "the records to pass over"));
    command->add_option("--count", options.count, "records taken at most")
        ->check(CountIn(0, LLONG_MAX, "the most records to take"));
    command->add_option("--threads", options.threads,
                        "decode (the database loads too), verify and encode: threads working on the "
                        "input (default: the machine's cores; 1 reads on one thread); the output is the same whatever the "
                        "number")
        ->check(CountIn(1, 256, "the threads to run on"));
    command->add_option("--on-error", options.onError,
                        "bad data: stop (default, exit 1), skip the record, or null (an empty value); "
                        "a summary follows on standard error, and exit 3 when bad data was met")
        ->check(OneOf(kPolicies, "stop|skip|null"));
    command->add_flag("--trim", options.trim, "drop trailing blanks of text items");
    command->add_flag("--serial-no", options.serialNo, "number array columns by the item's running number");
    command->add_flag("--crlf", options.crlf, "CSV lines (and line records) end in CR LF");
    command->add_option("--output-encoding", options.outputEncoding,
                        "the code page of the CSV/JSONL side: utf-8 (default), cp932 (Excel in Japan), cp1252 (Excel in "
                        "Western Europe) or another of --encoding's")
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return Check(value == "utf-8" || TextCodec::Create(value, error) != nullptr, error);
            },
            "CODEPAGE"));
    AddTableColumnOptions(command, options.columns);
    command->add_flag("--ignore-unknown", options.ignoreUnknown,
                      "encode: table columns and JSON keys the layout lacks pass (they are refused otherwise); "
                      "CSV columns are then found by their names");
    command->add_option("--max-line", options.maxLine,
                        "encode: the most bytes of a CSV row or JSON line (default 64 MB); a longer one stops the run")
        ->check(CountIn(1, 1ULL << 40, "the most bytes of a row or line"));
    command->add_flag("-v,--verbose", options.verbose, "the summary on standard error also when no bad data was met");
    command->add_flag("--progress,!--no-progress", options.progress,
                      "a progress line on standard error (default: on when standard error is a terminal and the "
                      "input is over 4 MB or of unknown size)");
    command->add_option("--block-size", options.blockSize, "the largest block encode writes in rdw-block (32760)")
        ->check(CountIn(16, 0x7FFFFFFF, "the most bytes of a block"));
    AddRecordTypeOptions(command, options);
    // OCCURS DEPENDING ON
    command->add_option("--odo", options.odo,
                        "records of OCCURS ... DEPENDING ON tables (--cobol): variable (the present occurrences "
                        "only, the items after a table following its last one; the default with rdw, rdw-block "
                        "and lines) or max (every occurrence in its place; the default with fixed)")
        ->check(OneOf(kOdo, "variable|max"));
}

// The input's size (for the bar and the time left) and whether the progress line shows:
// as asked, or when standard error is a terminal and the input is large or of unknown size.
void ShowProgress(const DataCommandOptions& given, std::FILE* in, RunDisplay& display) {
    struct stat inputStatus;
    bool regular = fstat(QB_FILENO(in), &inputStatus) == 0 && S_ISREG(inputStatus.st_mode);
    // What to suggest after bad data: from the options and the file's first bytes (read
    // and put back, where the input is a file).
    DataTold told;
    std::string refused;
    std::unique_ptr<TextCodec> codec = TextCodec::Create(given.encoding, refused);
    told.ebcdicEncoding = codec != nullptr && codec->IsEbcdic();
    ParseRecordFormat(given.records, told.records);
    long at = regular ? std::ftell(in) : -1;
    if (at >= 0) {
        unsigned char head[512];
        size_t got = std::fread(head, 1, sizeof head, in);
        if (std::fseek(in, at, SEEK_SET) == 0) told.looks = LookAtData(head, got);
    }
    display.nextStep = [told](const RunFault& fault) { return NextStep(fault, told); };
    if (regular) display.inputSize = static_cast<uint64_t>(inputStatus.st_size);
    if (given.progress >= 0) display.progress = given.progress == 1;
    else display.progress = QB_ISATTY(QB_FILENO(stderr)) && (!regular || inputStatus.st_size >= kProgressFrom);
}

// The run of a file of several record types: decode into a table per record type (a
// file each in the folder of -o, or JSON Lines with a "record" key on one stream), encode
// from such JSON Lines.
int RunRecordTypes(const DataCommandOptions& given, DataOptions& options, LoadedCopybook& copybook,
                   RunDisplay& display, bool decode) {
    bool folder = decode && IsFolderName(given.output);
    if (!folder) {
        if (given.formatGiven && options.format == TableFormat::kCsv) {
            throw CLI::ValidationError("--format csv",
                                       decode ? "the rows of several record types fit no one CSV header: -o DIR/ "
                                                "writes a CSV file per record type, --format jsonl one stream with a "
                                                "\"record\" key"
                                              : "encode reads the rows of several record types from JSON Lines whose "
                                                "\"record\" key names each row's 01 record");
        }
        options.format = TableFormat::kJsonl;
    }
    // A folder made for this run goes again when the run fails or is interrupted.
    MadeFolder made;
    if (folder) {
        struct stat status;
        if (stat(given.output.c_str(), &status) != 0) {
            std::string bare = given.output;
            while (bare.size() > 1 && (bare.back() == '/' || bare.back() == '\\')) bare.pop_back();
            if (stat(bare.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
                throw CommandFailure{ArgumentToUtf8(given.output),
                                     "there is a file of that name: -o NAME/ (with the slash) names the folder of a "
                                     "file per record type; choose another folder, or drop the slash and write one "
                                     "JSON Lines stream"};
            }
            made.Make(given.output);
        }
    }
    std::FILE* in = OpenInput(given.input);
    InputCloser closer{in};
    ShowProgress(given, in, display);
    std::vector<std::unique_ptr<OutputFile>> tables;
    std::unique_ptr<OutputFile> output;
    int status;
    if (folder) {
        std::string base = given.output;
        if (base.back() != '/' && base.back() != '\\') base += '/';
        const char* extension = options.format == TableFormat::kCsv ? ".csv" : ".jsonl";
        auto tableOf = [&](const std::string& record) -> std::FILE* {
            // The file is named after the record: a name that is no plain file name would
            // write elsewhere than in the folder (the analysis refuses such names already).
            bool plain = !record.empty() && record != "." && record != ".." && record.find("..") == std::string::npos;
            for (unsigned char c : record) plain = plain && c >= 0x20 && c != 0x7F && c != '/' && c != '\\' && c != ':';
            if (!plain) {
                std::string quoted;
                AppendJsonString(quoted, record);
                throw CommandFailure{ArgumentToUtf8(base),
                                     "the record name " + quoted + " is no file name to write in this folder"};
            }
            tables.emplace_back(new OutputFile(base + record + extension, {given.copybook.name, given.input},
                                               OutputFile::Texts{"", "the file could not be written"}));
            return tables.back()->File();
        };
        display.tableName = ArgumentToUtf8(base) + "*" + extension;
        status = DecodeRecordTypeData(copybook.Head(), options, in, tableOf, nullptr, stderr, display);
    } else {
        output.reset(new OutputFile(given.output, {given.copybook.name, given.input},
                                    OutputFile::Texts{"", "the file could not be written"}));
        status = decode ? DecodeRecordTypeData(copybook.Head(), options, in, nullptr, output->File(), stderr, display)
                        : EncodeRecordTypeData(copybook.Head(), options, in, output->File(), stderr, display);
    }
    closer.Close();
    bool complete = status == kExitDone || status == kExitBadData;
    for (auto& table : tables) complete ? table->Commit() : table->Abandon();
    if (output) complete ? output->Commit() : output->Abandon();
    if (complete) made.Keep();
    return status;
}

#if defined(QB_HAVE_SQLITE) || defined(QB_HAVE_POSTGRES)
// The table a load into a database makes of a copybook of one record: --table, or the
// record's name; with --names sql a plain identifier.
std::string DatabaseTableName(const DataCommandOptions& given, CopyItem* head, ColumnNaming naming) {
    std::string table = ArgumentToUtf8(given.table);
    if (table.empty()) {
        for (const CopyItem* item = head; item != nullptr && table.empty(); item = item->next) {
            if (item->level == 1 && item->name[0] != '\0') table = SystemToUtf8(ItemText(item->name).Get());
        }
        if (table.empty()) table = "RECORDS";
    }
    return TableNameAs(table, naming);
}

// The table of a load: --table (with record types, the prefix of the tables, which may
// be empty), or for a copybook of one record the record's name; checked for `dialect`.
std::string LoadTableName(const DataCommandOptions& given, CopyItem* head, ColumnNaming naming, bool recordTypes,
                          SqlDialect dialect) {
    if (recordTypes) return TableNameAs(ArgumentToUtf8(given.table), naming);
    std::string table = DatabaseTableName(given, head, naming), error;
    if (!CheckTableName(table, dialect, error)) throw CommandFailure{"", error};
    return table;
}

// Decodes into database tables: `table` for a copybook of one record, or a table per
// record type named after its record (`table` its prefix), each name checked for
// `dialect`; `sinkOf` makes a table's sink.
int DecodeIntoTables(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, RunDisplay& display,
                     bool recordTypes, const std::string& table, SqlDialect dialect,
                     const std::function<RowSink*(const std::string&)>& sinkOf) {
    if (!recordTypes) return DecodeData(head, recordLength, options, in, *sinkOf(table), stderr, display);
    std::vector<std::string> tables;
    return DecodeRecordTypesInto(head, options, in, [&](RecordTypes& types, size_t type) -> RowSink* {
        if (tables.empty()) {
            std::vector<std::string> records;
            for (size_t t = 0; t < types.Count(); ++t) records.push_back(types.Name(t));
            tables = RecordTableNames(records, table, options.naming);
        }
        const std::string& name = tables[type];
        std::string refused;
        if (!CheckTableName(name, dialect, refused)) throw CommandFailure{"", refused};
        return sinkOf(name);
    }, stderr, display);
}

// A load into a database (SqliteDatabase or PostgresDatabase, opened by its first sink):
// the tables' sinks (SqliteSink or PostgresSink) made as DecodeIntoTables asks for them,
// and the one step that ends the load: when the run completes, the rows the sinks still
// hold go in and the load is committed; otherwise, or when that fails, it is rolled back
// (the database as it was). Returns the run's status.
template <typename Sink, typename Database>
int LoadIntoTables(Database& database, IfExists ifExists, CopyItem* head, int recordLength, const DataOptions& options,
                   std::FILE* in, RunDisplay& display, bool recordTypes, const std::string& table, SqlDialect dialect) {
    std::vector<std::unique_ptr<Sink>> sinks;
    display.keep = [&](bool complete, std::string& failure) {
        if (!complete) {
            database.Abandon();
            return false;
        }
        for (auto& sink : sinks) {
            if (!sink->Finish()) {
                failure = sink->Failure();
                database.Abandon();
                return false;
            }
        }
        if (database.Commit()) return true;
        failure = database.Failure();
        return false;
    };
    // The step holds this load's sinks: it ends with the load, also when a table's name is refused.
    struct Forget {
        RunDisplay& display;
        ~Forget() { display.keep = nullptr; }
    } forget{display};
    return DecodeIntoTables(head, recordLength, options, in, display, recordTypes, table, dialect,
                            [&](const std::string& name) -> RowSink* {
                                sinks.emplace_back(new Sink(database, name, ifExists));
                                return sinks.back().get();
                            });
}
#endif

#ifdef QB_HAVE_SQLITE
// The temporary files new databases are built in, removed by a signal that ends the
// program.
class RegisteredStaging : public StagingFiles {
public:
    std::string Make(const std::string& target, std::string& error) override {
        TemporaryFileHold hold;
        std::string path = StagingFiles::Make(target, error);
        if (!path.empty()) RegisterTemporaryFile(path);
        return path;
    }
    void Gone(const std::string& path) override { ForgetTemporaryFile(path); }
};
#endif

// decode --format sqlite: the rows into a table of a database (with record types, a
// table per record type, named after its record, --table their prefix), committed when
// the run ends with 0 or 3, rolled back (the database as it was, a new one never put in
// place) otherwise. Returns the run's status.
int RunIntoSqlite(const DataCommandOptions& given, CopyItem* head, int recordLength, const DataOptions& options,
                  RunDisplay& display, bool decode, bool recordTypes) {
    if (!decode) throw CommandFailure{"", "encode reads csv or jsonl; --format sqlite is decode's"};
    if (given.output == "-") throw CommandFailure{"", "--format sqlite writes a database file: -o FILE.db names it"};
#ifdef QB_HAVE_SQLITE
    // The database is never the copybook or the data file, nor a device or a pipe.
    struct stat target;
    if (stat(given.output.c_str(), &target) == 0) {
        for (const std::string& input : {given.copybook.name, given.input}) {
            struct stat other;
            if (input != "-" && stat(input.c_str(), &other) == 0 && other.st_dev == target.st_dev &&
                other.st_ino == target.st_ino) {
                throw CommandFailure{ArgumentToUtf8(given.output), "the output is one of the inputs"};
            }
        }
        if (!S_ISREG(target.st_mode)) {
            throw CommandFailure{ArgumentToUtf8(given.output),
                                 S_ISDIR(target.st_mode)
                                     ? "a folder: --format sqlite writes a database file (-o FILE.db)"
                                     : "not a regular file: --format sqlite writes a database file of its own, never "
                                       "a device or a pipe (-o FILE.db)"};
        }
    }
    const std::string table = LoadTableName(given, head, options.naming, recordTypes, SqlDialect::kSqlite);
    IfExists ifExists = IfExists::kFail;
    ParseIfExists(given.ifExists, ifExists);
    std::FILE* in = OpenInput(given.input);
    InputCloser closer{in};
    ShowProgress(given, in, display);
    // One database, one transaction; a table per record type.
    RegisteredStaging staging;
    SqliteDatabase database(given.output, &staging);
    // A signal stops the load, which is rolled back (a database that was there is left
    // with no journal to recover); the program then ends as the signal asked.
    static std::atomic<SqliteDatabase*> interruptible{nullptr};
    struct SignalStop {
        explicit SignalStop(SqliteDatabase& database) {
            interruptible.store(&database);
            SetSignalStop([] {
                if (SqliteDatabase* loading = interruptible.load()) loading->Interrupt();
            });
        }
        ~SignalStop() {
            SetSignalStop(nullptr);
            interruptible.store(nullptr);
        }
    } signalStop(database);
    return LoadIntoTables<SqliteSink>(database, ifExists, head, recordLength, options, in, display, recordTypes, table,
                                      SqlDialect::kSqlite);
#else
    (void)head;
    (void)recordLength;
    (void)options;
    (void)display;
    (void)recordTypes;
    throw CommandFailure{"", "this build of quillbox-cli has no SQLite output"};
#endif
}

// decode --format postgresql: the rows into a table of the database --db names (with
// record types, a table per record type, named after its record, --table their prefix),
// all in one transaction, committed when the run ends with 0 or 3, rolled back (the
// database as it was) otherwise. A load killed midway leaves nothing either: the server
// rolls back the transaction of a lost connection. Returns the run's status.
int RunIntoPostgres(const DataCommandOptions& given, CopyItem* head, int recordLength, const DataOptions& options,
                    RunDisplay& display, bool decode, bool recordTypes) {
    if (!decode) throw CommandFailure{"", "encode reads csv or jsonl; --format postgresql is decode's"};
    if (given.db.empty()) {
        throw CommandFailure{"", "--format postgresql loads into the database --db names: --db \"host=/run/postgresql "
                                 "dbname=NAME\" (libpq's connection string)"};
    }
    if (given.output != "-") throw CommandFailure{"", "--format postgresql writes no file: --db names the database, not -o"};
#ifdef QB_HAVE_POSTGRES
    const std::string table = LoadTableName(given, head, options.naming, recordTypes, SqlDialect::kPostgresql);
    IfExists ifExists = IfExists::kFail;
    ParseIfExists(given.ifExists, ifExists);
    std::FILE* in = OpenInput(given.input);
    InputCloser closer{in};
    ShowProgress(given, in, display);
    // Messages name the database so, never by --db, which may hold a password.
    display.tableName = "the PostgreSQL database";
    PostgresDatabase database(given.db);
    return LoadIntoTables<PostgresSink>(database, ifExists, head, recordLength, options, in, display, recordTypes,
                                        table, SqlDialect::kPostgresql);
#else
    (void)head;
    (void)recordLength;
    (void)options;
    (void)display;
    (void)recordTypes;
    throw CommandFailure{"", "this build of quillbox-cli has no PostgreSQL output (it needs libpq: Debian's libpq-dev)"};
#endif
}

// The path an output name stands for when it is not there yet: its folder made
// canonical, and its own name.
std::string CanonicalNew(const std::string& name) {
    const std::string folder = PathFolder(name);
    const std::string base = name.substr(folder.size());
#ifdef _WIN32
    char full[_MAX_PATH];
    if (_fullpath(full, folder.empty() ? "." : folder.c_str(), sizeof full) == nullptr) return name;
    std::string path = std::string(full) + "\\" + base;
    for (char& c : path) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '/') c = '\\';
    }
    return path;
#else
    char full[PATH_MAX];
    if (realpath(folder.empty() ? "." : folder.c_str(), full) == nullptr) return name;
    return std::string(full) + "/" + base;
#endif
}

// True when the output names `a` and `b` would write the same file: both standard
// output, one regular file, or one new name. Two devices (/dev/null) take both.
bool SameOutput(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    if (a == "-" || b == "-") return a == b;
    struct stat statusA, statusB;
    const bool existsA = stat(a.c_str(), &statusA) == 0, existsB = stat(b.c_str(), &statusB) == 0;
    if (existsA != existsB) return false;
    if (existsA && !S_ISREG(statusA.st_mode)) return false;
#ifndef _WIN32
    if (existsA) return statusA.st_dev == statusB.st_dev && statusA.st_ino == statusB.st_ino;
#endif
    return CanonicalNew(a) == CanonicalNew(b);
}

// Refuses, before anything is opened, two outputs of a run named as one file: the
// second would write over the first. verify writes no -o.
void RefuseOutputsNamedTwice(const DataCommandOptions& given, bool verify) {
    struct Named {
        const char* option;
        const std::string& name;
    };
    std::vector<Named> outputs;
    if (!verify) outputs.push_back({"-o", given.output});
    outputs.push_back({"--rejects", given.rejects});
    outputs.push_back({"--report", given.report});
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (!SameOutput(outputs[i].name, outputs[j].name)) continue;
            throw CLI::ValidationError(outputs[j].option, std::string(outputs[j].option) + " names the same file as " +
                                                              outputs[i].option +
                                                              "; nothing was written: give each output a file of "
                                                              "its own");
        }
    }
}

// Runs decode or encode with the options given: the copybook analysed, the files
// opened ("-" for the standard streams), the run's status returned through
// CommandStatus or CommandFailure.

void RunDataCommand(const DataCommandOptions& given, bool decode, bool verify) {
    RefuseOutputsNamedTwice(given, verify);
    LoadedCopybook copybook;
    LoadCopybook(given.copybook, copybook);
    CopyItem* head = copybook.Head();
    int recordLength = static_cast<int>(copybook.RecordLength());

    DataOptions options;
    options.encoding = given.encoding;
    if (!given.signZones.empty()) {
        ParseSignZones(given.signZones, options.positiveZone, options.negativeZone);
        options.signZonesGiven = true;
    }
    if (given.records == "line-sequential") {
        options.records = RecordFormat::kLines;
        options.lineSequential = true;
    } else {
        ParseRecordFormat(given.records, options.records);
    }
    ParseFloatFormat(given.floats, options.floats);
    options.redefinesAll = given.redefines == "all";
    options.skip = given.skip;
    options.count = given.count;
    // Every core unless told otherwise; what cannot run on threads runs on one.
#ifdef QB_HAVE_PARALLEL
    options.threads = given.threads > 0 ? given.threads : DefaultThreads();
#else
    options.threads = given.threads > 0 ? given.threads : 1;
#endif
    ParseOnError(given.onError, options.onError);
    // verify reads the whole file: bad records are counted and passed over.
    if (verify && !given.onErrorGiven) options.onError = OnError::kSkip;
    ParseTableFormat(given.format, options.format);
    options.trim = given.trim;
    options.serialNo = given.serialNo;
    options.crlf = given.crlf;
    options.tableEncoding = given.outputEncoding;
    options.blockSize = given.blockSize;
    options.ignoreUnknown = given.ignoreUnknown;
    options.maxLine = given.maxLine;
    options.noFiller = given.columns.noFiller;
    options.naming = given.columns.Naming();
    if (!given.nativeOrder.empty()) ParseNativeOrder(given.nativeOrder, options.nativeOrder);
    ParseBlankNumeric(given.blankNumeric, options.blankNumeric);
    ParseJsonNumbers(given.jsonNumbers, options.jsonNumbers);
    if (!given.odo.empty()) ParseOdoRecords(given.odo, options.odo);
    options.variableOccurs = VariableOccursOf(copybook.Analyzer());
    std::string inputShown = ArgumentToUtf8(given.input);
    std::string outputShown = ArgumentToUtf8(given.output);
    RunDisplay display;
    display.dataName = decode ? inputShown : outputShown;
    display.tableName = decode ? outputShown : inputShown;
    display.verbose = given.verbose;

    for (const std::string& text : given.recordTypes) {
        RecordTypeRule rule;
        ParseRecordTypeRule(text, rule);
        options.recordTypes.push_back(rule);
    }
    options.recordTypeDefault = given.recordTypeDefault;
    const bool recordTypes = !options.recordTypes.empty() || !options.recordTypeDefault.empty();
    // The table format of the codec's sinks does not name the database loads.
    const bool postgres = given.format == "postgresql";
    // The rows reach PostgreSQL as UTF-8, whatever --output-encoding says.
    if (postgres) options.tableEncoding = "utf-8";
    std::vector<CopyItem*> records = RecordsOf(head);
    // Without rules every record is the first 01's: variable records are as long as it
    // is (a fixed file's records are as long as the longest, whichever 01 they hold).
    std::unique_ptr<RecordAlone> firstAlone;
    if (!recordTypes && records.size() > 1 && records[1]->position == 1 && !options.redefinesAll) {
        std::fprintf(stderr,
                     "quillbox-cli: the copybook has %lu 01 records; every record is %s with the first, %s "
                     "(--record-type FIELD=VALUE:RECORD chooses the record of each)\n",
                     static_cast<unsigned long>(records.size()), decode ? "decoded" : "encoded",
                     RecordName(records[0]).c_str());
        if (VariableFormat(options.records)) {
            firstAlone.reset(new RecordAlone(records[0]));
            recordLength = static_cast<int>(records[0]->byteLength);
        }
    }

    // The bad records' bytes, in the input's record format (decode, verify), and the
    // report of the run, whatever the table's format.
    std::unique_ptr<OutputFile> rejectsFile;
    if (!given.rejects.empty()) {
        rejectsFile.reset(new OutputFile(given.rejects, {given.copybook.name, given.input},
                                         OutputFile::Texts{"", "the file could not be written"}));
    }
    RunTally tally(options, rejectsFile ? rejectsFile->File() : nullptr);
    RunResult result;
    display.also = &tally;
    display.result = &result;
    // Ends the rejects file and the report with the run's status.
    auto finishExtras = [&](int status) {
        bool complete = status == kExitDone || status == kExitBadData;
        if (rejectsFile) {
            if (!tally.FinishRejects()) throw CommandFailure{ArgumentToUtf8(given.rejects), "the file could not be written"};
            if (complete) rejectsFile->Commit();
            else rejectsFile->Abandon();
        }
        if (!given.report.empty()) {
            const std::string report = tally.Report(result, ArgumentToUtf8(given.copybook.name), inputShown,
                                                    display.inputSize);
            OutputFile reportFile(given.report, {given.copybook.name, given.input},
                                  OutputFile::Texts{"", "the file could not be written"});
            if (std::fwrite(report.data(), 1, report.size(), reportFile.File()) != report.size()) {
                throw CommandFailure{ArgumentToUtf8(given.report), "the file could not be written"};
            }
            reportFile.Commit();
        }
    };
    int status;
    if (verify) {
        // Every record checked as decode would, into no table whatever the format.
        std::FILE* in = OpenInput(given.input);
        InputCloser closer{in};
        ShowProgress(given, in, display);
        display.verbose = true;   // the counts are what verify is run for
        display.verb = "verify";
        status = recordTypes ? VerifyRecordTypeData(head, options, in, stderr, display)
                             : VerifyData(head, recordLength, options, in, stderr, display);
        closer.Close();
        finishExtras(status);
    } else if (options.format == TableFormat::kSqlite) {
        status = RunIntoSqlite(given, head, recordLength, options, display, decode, recordTypes);
        finishExtras(status);
        EndIfSignalled();
    } else if (postgres) {
        status = RunIntoPostgres(given, head, recordLength, options, display, decode, recordTypes);
        finishExtras(status);
    } else if (recordTypes) {
        status = RunRecordTypes(given, options, copybook, display, decode);
        finishExtras(status);
    } else {
        std::FILE* in = OpenInput(given.input);
        InputCloser closer{in};
        // The output replaces the file there only when the run ends complete (OutputFile);
        // the input and the copybook are never written over.
        OutputFile output(given.output, {given.copybook.name, given.input},
                          OutputFile::Texts{"", "the file could not be written"});
        std::FILE* out = output.File();
        ShowProgress(given, in, display);
        status = decode ? DecodeData(head, recordLength, options, in, out, stderr, display)
                        : EncodeData(head, recordLength, options, in, out, stderr, display);
        closer.Close();
        finishExtras(status);
        // A run that stopped leaves the old file; one that skipped bad records or left bad
        // values empty wrote all it was to write.
        if (status == kExitDone || status == kExitBadData) {
            output.Commit();
        } else {
            output.Abandon();
        }
    }
    if (status != kExitDone) throw CommandStatus{status};
}

}  // namespace

void AddDataCommand(CLI::App& program, const DataCommandText& text) {
    auto options = std::make_shared<DataCommandOptions>();
    CLI::App* command = program.add_subcommand(text.name, text.description);
    AddDataOptions(command, *options, text.inputName, text.inputHelp);
    command->footer(std::string(text.footer) +
                    "\nexit status: 0 done; 1 stopped on bad data or a file failed; 2 bad usage; 3 bad data skipped");
    if (text.decode) {
        command->add_option("--rejects", options->rejects,
                            "the bad records' bytes, in the data's record format, to mend and run again (written "
                            "when the run ends with status 0 or 3)");
    }
    if (text.decode) {
        command->add_option("--report", options->report,
                            "a JSON report: records read, good and bad, bad counts per item and per kind of fault, the "
                            "first bad places, the time taken (written whatever the run's status)");
    }
    bool decode = text.decode, verify = text.verify;
    command->callback([options, decode, verify, command] {
        options->formatGiven = command->count("--format") > 0;
        options->onErrorGiven = command->count("--on-error") > 0;
        RunDataCommand(*options, decode, verify);
    });
}
