// The options decode and encode share: how the data file's records and values are
// stored, and the table's form.
#ifndef QUILLBOX_CLI_DATA_COMMAND_OPTIONS_H
#define QUILLBOX_CLI_DATA_COMMAND_OPTIONS_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli_common.h"
#include "datacodec.h"

struct DataCommandOptions {
    CopybookArgument copybook;           // with --cobol, -I and the other analysis settings
    std::string input = "-";          // DATA of decode, INPUT of encode
    std::string output = "-";         // -o
    std::string format = "csv";
    std::string encoding = "cp932";
    std::string signZones;
    std::string records = "fixed";
    std::string floats = "ieee-le";
    std::string redefines = "first";
    long long skip = 0;
    long long count = -1;
    int threads = 0;                  // --threads; 0: the machine's cores
    std::string onError = "stop";
    bool trim = false;
    bool serialNo = false;
    bool crlf = false;
    std::string outputEncoding = "utf-8";
    size_t blockSize = 32760;
    TableColumnArguments columns;     // --no-filler, --names
    std::string table;                // --table: the database table of --format sqlite or postgresql
    std::string ifExists = "fail";    // --if-exists
    std::string db;                   // --db: the connection string of --format postgresql
    std::string rejects;              // --rejects: the bad records' bytes (decode, verify)
    std::string report;               // --report: verify's JSON report
    bool onErrorGiven = false;        // --on-error given (verify reads on by default)
    bool ignoreUnknown = false;       // --ignore-unknown
    uint64_t maxLine = 64ull << 20;   // --max-line
    bool verbose = false;             // -v: the summary also after a clean run
    int progress = -1;                // --progress 1, --no-progress 0; -1 by the terminal and the input's size
    // Byte order, blank numbers and exact JSON numbers.
    std::string nativeOrder;          // --native-order big|little; empty: by the encoding
    std::string blankNumeric = "error";   // --blank-numeric
    std::string jsonNumbers = "exact";    // --json-numbers
    // Record types
    std::vector<std::string> recordTypes;   // --record-type FIELD=VALUE:RECORD, repeatable
    std::string recordTypeDefault;          // --record-type-default RECORD
    bool formatGiven = false;               // --format given (a stream of record types is JSON Lines)
    std::string odo;                  // --odo variable|max; empty: by the record format
};

// The words of one of the two commands.
struct DataCommandText {
    const char* name;          // "decode" or "encode"
    const char* description;
    const char* inputName;     // DATA or INPUT
    const char* inputHelp;
    const char* footer;        // what the command's help adds before the exit statuses
    bool decode;
    bool verify = false;       // verify: decode's checks, no table written
};

// Adds the command to the program: COPYBOOK, the input and every shared option, and
// the run of decode or encode as its work.
void AddDataCommand(CLI::App& program, const DataCommandText& text);

#endif
