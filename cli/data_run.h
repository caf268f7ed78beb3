// The decode and encode runs of quillbox-cli: the codec's loops with the command
// line's messages, summary, progress line and exit statuses.
#ifndef QUILLBOX_CLI_DATA_RUN_H
#define QUILLBOX_CLI_DATA_RUN_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cobcpy.h"
#include "datacodec.h"
#include "rectypes.h"

// Exit statuses of the two runs.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;     // stopped on bad data, or a file failed
constexpr int kExitUsage = 2;
constexpr int kExitBadData = 3;    // bad data met and skipped or nulled

// How a run talks to the terminal.
struct RunDisplay {
    bool progress = false;             // progress line on standard error
    uint64_t inputSize = 0;            // bytes of the input, for the bar and the ETA; 0 unknown
    bool verbose = false;              // the summary also after a clean run
    std::string dataName = "-";        // the data file as named, for messages
    std::string tableName = "-";       // the table file as named, for messages
    quillbox::RunObserver* also = nullptr;   // hears the run's faults and bad records too
    quillbox::RunResult* result = nullptr;   // receives the run's counts
    const char* verb = nullptr;              // the run's name in its summary (decode, encode)
    // What to try after a fault (next_step.h), said under the message; empty: nothing.
    std::function<std::string(const quillbox::RunFault&)> nextStep;
    // An output that keeps the run's rows only when the run completes (a database's one
    // transaction): called after the last record, before the summary, with whether the
    // run completed (it ends with status 0 or 3). It commits or rolls back; false when
    // the rows were not kept, with `failure` set when keeping them failed. The summary
    // then counts none written and says so.
    std::function<bool(bool complete, std::string& failure)> keep;
};

// Decodes the records read from `in` (laid out by the list from `head`, `recordLength`
// bytes a record) into a table on `out`; messages and the summary go to `err`.
int DecodeData(CopyItem* head, int recordLength, const quillbox::DataOptions& options, std::FILE* in,
               std::FILE* out, std::FILE* err, const RunDisplay& display = RunDisplay());
// The same into `sink` (a database table); with options.threads above 1 decoded on that
// many threads, the sink taking the rows on the calling thread in file order.
int DecodeData(CopyItem* head, int recordLength, const quillbox::DataOptions& options, std::FILE* in,
               quillbox::RowSink& sink, std::FILE* err, const RunDisplay& display = RunDisplay());
// Checks every record read from `in` as a decode would, writing no table (verify): with
// options.threads above 1, on that many threads, with the same counts and faults.
int VerifyData(CopyItem* head, int recordLength, const quillbox::DataOptions& options, std::FILE* in,
               std::FILE* err, const RunDisplay& display = RunDisplay());
// The same for a file of several record types.
int VerifyRecordTypeData(CopyItem* head, const quillbox::DataOptions& options, std::FILE* in, std::FILE* err,
                         const RunDisplay& display = RunDisplay());
// Encodes the table read from `in` into records on `out`.
int EncodeData(CopyItem* head, int recordLength, const quillbox::DataOptions& options, std::FILE* in,
               std::FILE* out, std::FILE* err, const RunDisplay& display = RunDisplay());

// A file of several record types (the options' recordTypes and recordTypeDefault choose
// the 01 of each record): decoded into one table per record type, on the stream
// `tableOf` gives for the record's name (null: that type's rows are not written), or,
// when `tableOf` is empty, into JSON Lines on `out` with each row's record in a
// "record" key.
int DecodeRecordTypeData(CopyItem* head, const quillbox::DataOptions& options, std::FILE* in,
                         const std::function<std::FILE*(const std::string&)>& tableOf, std::FILE* out,
                         std::FILE* err, const RunDisplay& display = RunDisplay());
// The same into sinks the caller keeps: `sinkOf` gives the sink of each record type a
// rule or the default chooses, null for none. With options.threads above 1 the records
// are decoded on that many threads and the sinks take the rows on the calling thread in
// file order, as from one thread.
int DecodeRecordTypesInto(CopyItem* head, const quillbox::DataOptions& options, std::FILE* in,
                          const std::function<quillbox::RowSink*(quillbox::RecordTypes&, size_t)>& sinkOf,
                          std::FILE* err, const RunDisplay& display);
// Encodes JSON Lines whose rows name their record in a "record" key into records of
// those records' layouts.
int EncodeRecordTypeData(CopyItem* head, const quillbox::DataOptions& options, std::FILE* in, std::FILE* out,
                         std::FILE* err, const RunDisplay& display = RunDisplay());

#endif
