// The options and the run shared by decode and encode.
#include "data_command_options.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
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
#include "output_file.h"
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

const char* const kFormats[] = {"csv", "jsonl", nullptr};
const char* const kRecords[] = {"fixed", "lines", "rdw", "rdw-block", nullptr};
const char* const kFloats[] = {"ieee-le", "ieee-be", "ibm-hex", nullptr};
const char* const kRedefines[] = {"first", "all", nullptr};
const char* const kPolicies[] = {"stop", "skip", "null", nullptr};
const char* const kOdo[] = {"variable", "max", nullptr};

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

// Declares COPYBOOK, the input and every shared option.
void AddDataOptions(CLI::App* command, DataCommandOptions& options, const char* inputName, const char* inputHelp) {
    AddCopybookArgument(command, options.copybook);
    command->add_option(inputName, options.input, inputHelp)->required();
    command->add_option("-o,--output", options.output,
                        "the file to write; \"-\" (the default) is standard output. A file is replaced only when the "
                        "run ends with status 0 or 3 (a link's target, the link kept); a pipe or a device is written "
                        "directly; an input is refused");
    command->add_option("--format", options.format, "the table: csv (default) or jsonl")->check(OneOf(kFormats, "csv|jsonl"));
    command->add_option("--encoding", options.encoding,
                        std::string("the code page of the data's text: ") + TextCodec::Names() + " (default cp932)")
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
                        "fixed (default): records of the record length; lines: one record per text line; "
                        "rdw: variable records with a record descriptor word; rdw-block: the same in blocks")
        ->check(OneOf(kRecords, "fixed|lines|rdw|rdw-block"));
    command->add_option("--float", options.floats, "COMP-1/COMP-2 form: ieee-le (default), ieee-be, ibm-hex")
        ->check(OneOf(kFloats, "ieee-le|ieee-be|ibm-hex"));
    command->add_option("--redefines", options.redefines,
                        "first (default): only items outside redefining areas, like the DDL; all: every view")
        ->check(OneOf(kRedefines, "first|all"));
    command->add_option("--skip", options.skip, "records passed over first")->check(CLI::NonNegativeNumber);
    command->add_option("--count", options.count, "records taken at most")->check(CLI::NonNegativeNumber);
    command->add_option("--on-error", options.onError,
                        "bad data: stop (default, exit 1), skip the record, or null (an empty value); "
                        "a summary follows on standard error, and exit 3 when bad data was met")
        ->check(OneOf(kPolicies, "stop|skip|null"));
    command->add_flag("--trim", options.trim, "drop trailing blanks of text items");
    command->add_flag("--serial-no", options.serialNo, "number array columns by the item's running number");
    command->add_flag("--crlf", options.crlf, "CSV lines (and line records) end in CR LF");
    command->add_option("--output-encoding", options.outputEncoding,
                        "the code page of the CSV/JSONL side: utf-8 (default) or cp932 (Excel in Japan)")
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return Check(value == "utf-8" || TextCodec::Create(value, error) != nullptr, error);
            },
            "CODEPAGE"));
    command->add_flag("--ignore-unknown", options.ignoreUnknown,
                      "encode: table columns and JSON keys the layout lacks pass (they are refused otherwise); "
                      "CSV columns are then found by their names");
    command->add_option("--max-line", options.maxLine,
                        "encode: the most bytes of a CSV row or JSON line (default 64 MB); a longer one stops the run")
        ->check(CLI::Range(static_cast<uint64_t>(1), static_cast<uint64_t>(1) << 40));
    command->add_flag("-v,--verbose", options.verbose, "the summary on standard error also when no bad data was met");
    command->add_flag("--progress,!--no-progress", options.progress,
                      "a progress line on standard error (default: on when standard error is a terminal and the "
                      "input is over 4 MB or of unknown size)");
    command->add_option("--block-size", options.blockSize, "the largest block encode writes in rdw-block (32760)")
        ->check(CLI::Range(static_cast<size_t>(16), static_cast<size_t>(0x7FFFFFFF)));
    // OCCURS DEPENDING ON
    command->add_option("--odo", options.odo,
                        "records of OCCURS ... DEPENDING ON tables (--cobol): variable (the present occurrences "
                        "only, the items after a table following its last one; the default with rdw, rdw-block "
                        "and lines) or max (every occurrence in its place; the default with fixed)")
        ->check(OneOf(kOdo, "variable|max"));
}

// Runs decode or encode with the options given: the copybook analysed, the files
// opened ("-" for the standard streams), the run's status returned through
// CommandStatus or CommandFailure.
void RunDataCommand(const DataCommandOptions& given, bool decode) {
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
    ParseRecordFormat(given.records, options.records);
    ParseFloatFormat(given.floats, options.floats);
    options.redefinesAll = given.redefines == "all";
    options.skip = given.skip;
    options.count = given.count;
    ParseOnError(given.onError, options.onError);
    ParseTableFormat(given.format, options.format);
    options.trim = given.trim;
    options.serialNo = given.serialNo;
    options.crlf = given.crlf;
    options.tableEncoding = given.outputEncoding;
    options.blockSize = given.blockSize;
    options.ignoreUnknown = given.ignoreUnknown;
    options.maxLine = given.maxLine;
    if (!given.odo.empty()) ParseOdoRecords(given.odo, options.odo);
    options.variableOccurs = VariableOccursOf(copybook.Analyzer());
    std::string inputShown = ArgumentToUtf8(given.input);
    std::string outputShown = ArgumentToUtf8(given.output);
    RunDisplay display;
    display.dataName = decode ? inputShown : outputShown;
    display.tableName = decode ? outputShown : inputShown;
    display.verbose = given.verbose;

    std::FILE* in = OpenInput(given.input);
    InputCloser closer{in};
    // The output replaces the file there only when the run ends complete (OutputFile);
    // the input and the copybook are never written over.
    OutputFile output(given.output, {given.copybook.name, given.input},
                      OutputFile::Texts{"", "the file could not be written"});
    std::FILE* out = output.File();
    struct stat inputStatus;
    bool regular = fstat(QB_FILENO(in), &inputStatus) == 0 && S_ISREG(inputStatus.st_mode);
    if (regular) display.inputSize = static_cast<uint64_t>(inputStatus.st_size);
    if (given.progress >= 0) display.progress = given.progress == 1;
    else display.progress = QB_ISATTY(QB_FILENO(stderr)) && (!regular || inputStatus.st_size >= kProgressFrom);
    int status = decode ? DecodeData(head, recordLength, options, in, out, stderr, display)
                        : EncodeData(head, recordLength, options, in, out, stderr, display);
    closer.Close();
    // A run that stopped leaves the old file; one that skipped bad records or left bad
    // values empty wrote all it was to write.
    if (status == kExitDone || status == kExitBadData) {
        output.Commit();
    } else {
        output.Abandon();
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
    bool decode = text.decode;
    command->callback([options, decode] { RunDataCommand(*options, decode); });
}
