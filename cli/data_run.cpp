// The decode and encode runs of quillbox-cli: messages, summary and progress line
// around the codec's loops.
#include "data_run.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "layoutplan.h"
#include "records.h"
#include "rectypes.h"
#ifdef QB_HAVE_PARALLEL
#include "parallel.h"
#endif

using namespace quillbox;

namespace {

constexpr size_t kBadShown = 5;        // bad places listed in the summary

// The width of the terminal standard error writes to; 80 when it cannot be told.
int TerminalWidth(std::FILE* err) {
#ifdef _WIN32
    (void)err;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    struct winsize size;
    if (ioctl(fileno(err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    if (const char* columns = std::getenv("COLUMNS")) {
        int n = std::atoi(columns);
        if (n > 0) return n;
    }
    return 80;
}

std::string Duration(double seconds) {
    long long s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

// Counts, the first bad places, and the progress line of one run.
class RunReport : public RunObserver {
public:
    RunReport(const RunDisplay& display, std::FILE* err, const char* verb, OnError policy, BlankNumeric blanks)
        : display_(display), err_(err), verb_(verb), policy_(policy), start_(std::chrono::steady_clock::now()),
          lastShown_(start_) {
        blankAs_ = blanks == BlankNumeric::kZero ? "0" : "empty";
        if (display_.progress) width_ = TerminalWidth(err);
    }

    void Fault(const RunFault& fault) override {
        if (display_.also != nullptr) display_.also->Fault(fault);
        const std::string& file = fault.side == RunFault::kData ? display_.dataName : display_.tableName;
        std::string place = file;
        if (fault.record > 0) place += ": record " + std::to_string(fault.record);
        if (fault.field != nullptr) {
            place += ", item " + fault.field->column + " (offset " + std::to_string(fault.offset) + ")";
        }
        place += ": " + fault.reason;
        // The likely way out, once: under the message that stops the run, or the summary.
        if (display_.nextStep && step_.empty() && fault.kind != RunFault::kView) {
            step_ = display_.nextStep(fault);
            if (!step_.empty() && (fault.kind == RunFault::kFatal || policy_ == OnError::kStop)) {
                place += "\n    " + step_;
            }
        }
        ClearProgress();
        switch (fault.kind) {
        case RunFault::kFatal:
            std::fprintf(err_, "quillbox-cli: %s\n", place.c_str());
            failed_ = true;
            break;
        case RunFault::kView:
            ++viewErrors_;
            if (viewShown_.size() < kBadShown) viewShown_.push_back(place);
            break;
        case RunFault::kValue:
        case RunFault::kRecord:
            if (policy_ == OnError::kStop) {
                std::fprintf(err_, "quillbox-cli: %s\n", place.c_str());
                stopped_ = true;
                break;
            }
            ++badPlaces_;
            if (shown_.size() < kBadShown) shown_.push_back(place);
            break;
        }
    }

    void Rejected(long long record, const unsigned char* data, size_t length) override {
        if (display_.also != nullptr) display_.also->Rejected(record, data, length);
    }

    // The progress line, at most twice a second and never wider than the terminal: a
    // bar of the input read and the time left when its size is known, records/s, MB/s.
    void Progress(long long records, uint64_t bytes) override {
        // The clock is looked at every 1024 rows or so: one thread tells every row, a
        // run on several threads a chunk's rows at once.
        if (!display_.progress || records - lookedAt_ < 1024) return;
        lookedAt_ = records;
        auto now = std::chrono::steady_clock::now();
        if (now - lastShown_ < std::chrono::milliseconds(500)) return;
        lastShown_ = now;
        double seconds = std::chrono::duration<double>(now - start_).count();
        char rates[96];
        std::snprintf(rates, sizeof rates, " %lld records, %.0f/s, %.1f MB/s", records, records / seconds,
                      static_cast<double>(bytes) / seconds / 1e6);
        std::string line = verb_, tail = rates;
        if (display_.inputSize > 0) {
            double done = static_cast<double>(bytes) / static_cast<double>(display_.inputSize);
            if (done > 1) done = 1;
            tail = " " + std::to_string(static_cast<int>(done * 100)) + "%" + tail;
            if (done > 0.001) tail += ", " + Duration(seconds * (1 - done) / done) + " left";
            int room = width_ - 1 - static_cast<int>(line.size() + tail.size()) - 3;
            if (room >= 10) {
                size_t barWidth = static_cast<size_t>(room < 30 ? room : 30);
                std::string bar(barWidth, ' ');
                for (size_t i = 0; i < static_cast<size_t>(done * static_cast<double>(barWidth)); ++i) bar[i] = '#';
                line += " [" + bar + "]";
            }
        }
        line += tail;
        // Never wider than the terminal, so that it does not wrap and scroll.
        if (width_ > 1 && line.size() > static_cast<size_t>(width_ - 1)) line.resize(static_cast<size_t>(width_ - 1));
        std::fprintf(err_, "\r%s", line.c_str());
        shownLength_ = line.size();
        std::fflush(err_);
    }

    void ClearProgress() {
        if (shownLength_ > 0) std::fprintf(err_, "\r%*s\r", static_cast<int>(shownLength_), "");
        shownLength_ = 0;
    }

    // True when the run ends with status 0 or 3.
    bool Complete(const RunResult& result) const {
        return !(failed_ || stopped_ || result.failed || result.stopped);
    }

    // The output kept none of the run's rows: rolled back, or `failure` (not empty) says
    // why keeping them failed.
    void NothingKept(const std::string& failure) {
        ClearProgress();
        if (!failure.empty()) {
            std::fprintf(err_, "quillbox-cli: %s: %s\n", display_.tableName.c_str(), failure.c_str());
            failed_ = true;
        }
        rolledBack_ = true;
    }

    // The summary (after bad data or a failure, or with verbose) and the exit status.
    int Finish(const RunResult& result) {
        ClearProgress();
        bool quiet = !display_.verbose && result.bad == 0 && badPlaces_ == 0 && viewErrors_ == 0 && !failed_ &&
                     !result.failed && result.padded == 0;
        if (!quiet) {
            // verify writes no table: its records are good or bad.
            const bool verify = std::strcmp(verb_, "verify") == 0;
            std::fprintf(err_, "%s: %lld records read, %lld %s, %lld bad", verb_, result.read,
                         verify ? result.read - result.bad : result.written, verify ? "good" : "written", result.bad);
            if (result.blanks > 0) std::fprintf(err_, ", %lld blank numbers read as %s", result.blanks, blankAs_);
            if (result.padded > 0) {
                // GnuCOBOL's LINE SEQUENTIAL files drop trailing blanks: such lines are read padded.
                std::string lines;
                for (long long line : result.firstPadded) lines += (lines.empty() ? "" : ", ") + std::to_string(line);
                if (result.padded > static_cast<long long>(result.firstPadded.size())) lines += ", ...";
                std::fprintf(err_, ", %lld short lines padded with blanks (%s)", result.padded, lines.c_str());
            }
            std::fprintf(err_, "\n");
            if (rolledBack_) {
                std::fprintf(err_, "%s: nothing was written: the load was rolled back (%s is as it was)\n", verb_,
                             display_.tableName.c_str());
            }
            for (const std::string& place : shown_) std::fprintf(err_, "  bad: %s\n", place.c_str());
            if (badPlaces_ > static_cast<long long>(shown_.size())) {
                std::fprintf(err_, "  ... %lld more bad places\n", badPlaces_ - static_cast<long long>(shown_.size()));
            }
            if (!step_.empty() && !failed_ && !stopped_) std::fprintf(err_, "    %s\n", step_.c_str());
            if (viewErrors_ > 0) {
                std::fprintf(err_, "%s: %lld redefining views did not decode\n", verb_, viewErrors_);
                for (const std::string& place : viewShown_) std::fprintf(err_, "  view: %s\n", place.c_str());
            }
        }
        if (failed_ || stopped_ || result.failed || result.stopped) return kExitFailed;
        return result.bad > 0 ? kExitBadData : kExitDone;
    }

private:
    const RunDisplay& display_;
    std::FILE* err_;
    const char* verb_;
    const char* blankAs_;
    OnError policy_;
    std::chrono::steady_clock::time_point start_, lastShown_;
    long long badPlaces_ = 0, viewErrors_ = 0;
    std::vector<std::string> shown_, viewShown_;
    bool stopped_ = false, failed_ = false, rolledBack_ = false;
    std::string step_;   // the next step said (or to say in the summary)
    int width_ = 80;
    size_t shownLength_ = 0;
    long long lookedAt_ = 0;   // the rows when the clock was last looked at
};

}  // namespace

namespace {

// Runs `loop` with what the run prepared (`ready`, or `error` to say) and a report for
// `verb`: the summary, the counts for the caller, the exit status.
template <typename Prepared, typename Loop>
int RunPrepared(Prepared& prepared, bool ready, const std::string& error, const DataOptions& options,
                std::FILE* err, const RunDisplay& display, const char* verb, Loop loop) {
    if (!ready) {
        std::fprintf(err, "quillbox-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    RunReport report(display, err, verb, options.onError, options.blankNumeric);
    RunResult result = loop(prepared, report);
    if (display.keep) {
        std::string failure;
        if (!display.keep(report.Complete(result), failure)) {
            result.written = 0;
            report.NothingKept(failure);
        }
    }
    if (display.result != nullptr) *display.result = result;
    return report.Finish(result);
}

// A run of one layout: its setup prepared, then `loop`.
template <typename Loop>
int Run(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* err, const RunDisplay& display,
        const char* verb, Loop loop) {
    DataSetup setup;
    std::string error;
    bool ready = setup.Prepare(head, recordLength, options, error);
    return RunPrepared(setup, ready, error, options, err, display, verb, loop);
}

// A run of a file of record types: the setup of each 01 record prepared, then `loop`.
template <typename Loop>
int RunTypes(CopyItem* head, const DataOptions& options, std::FILE* err, const RunDisplay& display, const char* verb,
             Loop loop) {
    RecordTypes types;
    std::string error;
    bool ready = types.Prepare(head, options, error);
    return RunPrepared(types, ready, error, options, err, display, verb, loop);
}

#ifdef QB_HAVE_PARALLEL
// The bytes of a chunk of a decode on several threads: QUILLBOX_CHUNK_BYTES when set (the
// tests cut small files into many chunks with it), otherwise the codec's.
size_t ChunkBytes() {
    const char* given = std::getenv("QUILLBOX_CHUNK_BYTES");
    if (given == nullptr) return kParallelChunkBytes;
    char* end = nullptr;
    unsigned long long bytes = std::strtoull(given, &end, 10);
    return end != given && *end == '\0' && bytes >= 1 && bytes <= (1ull << 30) ? static_cast<size_t>(bytes)
                                                                              : kParallelChunkBytes;
}
#endif

}  // namespace

int DecodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err, const RunDisplay& display) {
    return Run(head, recordLength, options, err, display, "decode", [&](DataSetup& setup, RunReport& report) {
        RecordReader reader(in, options.records, static_cast<size_t>(recordLength));
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1) {
            DecodeWork work(head, recordLength, options, options.threads);
            return DecodeParallel(work, reader, {out}, report, ChunkBytes());
        }
#endif
        std::unique_ptr<RowSink> sink = MakeTableSink(setup, out);
        return DecodeRecords(setup, reader, *sink, report);
    });
}

int DecodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, RowSink& sink,
               std::FILE* err, const RunDisplay& display) {
    return Run(head, recordLength, options, err, display, display.verb != nullptr ? display.verb : "decode", [&](DataSetup& setup, RunReport& report) {
        RecordReader reader(in, options.records, static_cast<size_t>(recordLength));
#ifdef QB_HAVE_PARALLEL
        // Decoded on the workers; the sink (a database's table) takes the rows in file
        // order on this thread, as from one thread.
        if (options.threads > 1) {
            DecodeWork work(head, recordLength, options, options.threads);
            return DecodeParallelInto(work, reader, {&sink}, report, ChunkBytes());
        }
#endif
        return DecodeRecords(setup, reader, sink, report);
    });
}

namespace {

// A sink that takes every row and writes none: verify's.
class NoTable : public RowSink {
public:
    bool Begin(const LayoutPlan&) override { return true; }
    bool Row(const LayoutPlan&, const RowCells&) override { return true; }
    bool Finish() override { return true; }
};

}  // namespace

int VerifyData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* err,
               const RunDisplay& display) {
    const char* verb = display.verb != nullptr ? display.verb : "verify";
    return Run(head, recordLength, options, err, display, verb, [&](DataSetup& setup, RunReport& report) {
        RecordReader reader(in, options.records, static_cast<size_t>(recordLength));
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1) {
            DecodeWork work(head, recordLength, options, options.threads, DecodeWork::kNoTable);
            return DecodeParallel(work, reader, {}, report, ChunkBytes());
        }
#endif
        NoTable sink;
        return DecodeRecords(setup, reader, sink, report);
    });
}

int VerifyRecordTypeData(CopyItem* head, const DataOptions& options, std::FILE* in, std::FILE* err,
                         const RunDisplay& display) {
    const char* verb = display.verb != nullptr ? display.verb : "verify";
    return RunTypes(head, options, err, display, verb, [&](RecordTypes& types, RunReport& report) {
        RecordReader reader(in, options.records, static_cast<size_t>(types.MaxLength()));
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1) {
            DecodeWork work(head, options, DecodeWork::kNoTable, options.threads);
            return DecodeParallel(work, reader, {}, report, ChunkBytes());
        }
#endif
        std::vector<std::unique_ptr<NoTable>> owned;
        std::vector<RowSink*> sinks;
        for (size_t t = 0; t < types.Count(); ++t) {
            if (types.Chosen(t)) owned.emplace_back(new NoTable());
            sinks.push_back(types.Chosen(t) ? owned.back().get() : nullptr);
        }
        return DecodeRecordTypes(types, reader, sinks, report);
    });
}

int EncodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err, const RunDisplay& display) {
    return Run(head, recordLength, options, err, display, "encode", [&](DataSetup& setup, RunReport& report) {
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1 && EncodeParallelTakes(options)) {
            return EncodeParallel(head, recordLength, options, options.threads, in, out, report, ChunkBytes());
        }
#endif
        std::unique_ptr<RowSource> source = MakeTableSource(setup, in);
        RecordWriter writer(out, options.records, options.blockSize, options.crlf);
        return EncodeRows(setup, *source, writer, report);
    });
}

int DecodeRecordTypeData(CopyItem* head, const DataOptions& options, std::FILE* in,
                         const std::function<std::FILE*(const std::string&)>& tableOf, std::FILE* out, std::FILE* err,
                         const RunDisplay& display) {
    // A table file per record type, or one stream of JSON Lines with a "record" key.
#ifdef QB_HAVE_PARALLEL
    if (options.threads > 1) {
        return RunTypes(head, options, err, display, display.verb != nullptr ? display.verb : "decode",
                        [&](RecordTypes& types, RunReport& report) {
            std::vector<std::FILE*> outputs;
            if (tableOf) {
                for (size_t t = 0; t < types.Count(); ++t) outputs.push_back(types.Chosen(t) ? tableOf(types.Name(t)) : nullptr);
            } else {
                outputs.push_back(out);
            }
            DecodeWork work(head, options, tableOf ? DecodeWork::kTypeTables : DecodeWork::kTypeStream, options.threads);
            RecordReader reader(in, options.records, static_cast<size_t>(types.MaxLength()));
            return DecodeParallel(work, reader, outputs, report, ChunkBytes());
        });
    }
#endif
    std::vector<std::unique_ptr<RowSink>> owned;
    return DecodeRecordTypesInto(head, options, in, [&](RecordTypes& types, size_t type) -> RowSink* {
        if (!tableOf) {
            if (owned.empty()) owned = MakeRecordKeySinks(types, out);
            return owned[type].get();
        }
        std::FILE* table = tableOf(types.Name(type));
        if (table == nullptr) return nullptr;
        owned.push_back(MakeTableSink(types.Setup(type), table));
        return owned.back().get();
    }, err, display);
}

int DecodeRecordTypesInto(CopyItem* head, const DataOptions& options, std::FILE* in,
                          const std::function<RowSink*(RecordTypes&, size_t)>& sinkOf, std::FILE* err,
                          const RunDisplay& display) {
    return RunTypes(head, options, err, display, display.verb != nullptr ? display.verb : "decode",
                    [&](RecordTypes& types, RunReport& report) {
        std::vector<RowSink*> sinks;
        for (size_t t = 0; t < types.Count(); ++t) sinks.push_back(types.Chosen(t) ? sinkOf(types, t) : nullptr);
        RecordReader reader(in, options.records, static_cast<size_t>(types.MaxLength()));
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1) {
            DecodeWork work(head, options, DecodeWork::kTypeTables, options.threads);
            return DecodeParallelInto(work, reader, sinks, report, ChunkBytes());
        }
#endif
        return DecodeRecordTypes(types, reader, sinks, report);
    });
}

int EncodeRecordTypeData(CopyItem* head, const DataOptions& options, std::FILE* in, std::FILE* out, std::FILE* err,
                         const RunDisplay& display) {
    return RunTypes(head, options, err, display, "encode", [&](RecordTypes& types, RunReport& report) {
#ifdef QB_HAVE_PARALLEL
        if (options.threads > 1 && EncodeParallelTakes(options)) {
            return EncodeRecordTypesParallel(head, options, options.threads, in, out, report, ChunkBytes());
        }
#endif
        RecordWriter writer(out, options.records, options.blockSize, options.crlf);
        return EncodeRecordTypes(types, in, writer, report);
    });
}
