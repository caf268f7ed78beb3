#include "parallel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <thread>

#include "cursor.h"
#include "orderedpool.h"
#include "rectypes.h"
#include "runfaults.h"
#include "valuecodec.h"
#include "variableoccurs.h"

namespace quillbox {

int DefaultThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

namespace {

// The most records of a chunk (a file of very short records stays within bounds too).
constexpr size_t kChunkRecords = 1u << 15;

// A record of a chunk as the framing gave it.
struct Entry {
    long long number = 0;
    size_t offset = 0, length = 0;
    RecordSource::Status status = RecordSource::kRecord;
    bool padded = false;  // a short line the reader padded with blanks
    int reason = -1;      // kWrongLength, kFatal: the reason's place in the chunk's reasons
};

// What a chunk's decode met, in order, for the run's observer.
struct Event {
    bool rejected = false;   // a rejected record (its bytes), else a fault
    size_t rows = 0;         // the chunk's rows given before it (rows to a caller's sinks)
    RunFault fault;
    long long record = 0;
    std::string bytes;
};

// Decoded rows kept for a caller's sinks that take rows one by one: each row's cells,
// the texts one after another.
class RowBlock {
public:
    size_t Rows() const { return rows_.size(); }
    void Clear() {
        rows_.clear();
        ends_.clear();
        kinds_.clear();
        text_.clear();
    }
    void Add(const RowCells& cells) {
        const size_t count = cells.Size();
        const size_t base = text_.size();
        rows_.push_back(RowAt{ends_.size(), count, base});
        if (count == 0) return;
        const char* texts = cells.Text(0);
        text_.append(texts, cells.TextBytes());
        for (size_t i = 0; i < count; ++i) {
            ends_.push_back(base + static_cast<size_t>(cells.Text(i) - texts) + cells.Length(i));
            kinds_.push_back(cells.Kind(i));
        }
    }
    // Row `row` into `cells`.
    void Fill(size_t row, RowCells& cells) const {
        const RowAt& at = rows_[row];
        cells.Start(at.count);
        size_t begin = at.text;
        for (size_t i = 0; i < at.count; ++i) {
            const size_t end = ends_[at.first + i];
            cells.Put(i, kinds_[at.first + i], text_.data() + begin, end - begin);
            begin = end;
        }
    }

private:
    struct RowAt {
        size_t first, count, text;   // its cells' first end, their count, its texts' start
    };
    std::vector<RowAt> rows_;
    std::vector<size_t> ends_;
    std::vector<Cell::Kind> kinds_;
    std::string text_;
};

// A row of a chunk for a caller's sinks, in the order the chunk's run gave them: where it
// is kept, and what the run had read when it gave it (for a sink that fails there).
struct RowMark {
    size_t type;       // the record type: the sink it goes to
    size_t index;      // its row in the chunk's RowBlock, or in the type's ready block
    size_t read;       // the chunk's records read, its own included
    long long blanks;  // the chunk's blank numeric values read so far
};

// Records framed on the calling thread, decoded on a worker.
struct Chunk {
    std::vector<unsigned char> bytes;
    std::vector<Entry> entries;
    std::vector<std::string> reasons;   // of the records framed as wrong or fatal
    uint64_t consumed = 0;           // the input's bytes consumed after the chunk's records
    std::vector<std::string> out;    // per output: the chunk's rows as written through its stream
    std::vector<HeldBytes> held;     // per output: then the rows its sink held (their room kept)
    RowBlock rows;                   // or the chunk's rows for a caller's sinks: their cells,
    std::vector<std::unique_ptr<BlockRowSink::Block>> blocks;   // or per type, made ready
    std::vector<RowMark> marks;      // and their order
    std::vector<Event> events;
    RunResult result;
    size_t taken = 0;                // the records the chunk's cursor read

    // Fixed records of a file read at its place by the worker: `whole` records of
    // `length` bytes from byte `at` (numbered from `first`), then `tail` bytes of a short
    // last record.
    struct Fixed {
        uint64_t at = 0;
        size_t length = 0, whole = 0, tail = 0;
        long long first = 0;
    } fixed;
    const unsigned char* block = nullptr;   // their bytes, in the room of the worker at it
    bool readFailed = false;

    void Clear() {
        entries.clear();
        reasons.clear();
        bytes.clear();
        events.clear();
        rows.Clear();
        for (auto& block : blocks) {
            if (block != nullptr) block->Clear();
        }
        marks.clear();
        result = RunResult();
        taken = 0;
        fixed = Fixed();
        block = nullptr;
        readFailed = false;
        for (std::string& text : out) text.clear();
        for (HeldBytes& bytes : held) bytes.size = 0;
    }
};

// The records of a chunk, for a worker's cursor.
class ChunkRecords;

// What a worker's sinks for a caller's sinks know of the chunk at hand.
struct RowsAtHand {
    Chunk* chunk = nullptr;
    const ChunkRecords* records = nullptr;
    std::vector<const ValueCodec*> values;   // the worker's, one per layout
    long long blanksBefore = 0;

    long long Blanks() const {
        long long blanks = 0;
        for (const ValueCodec* codec : values) blanks += codec->Blanks();
        return blanks;
    }
    // The row just given to type `type`'s sink, kept at `index`.
    void Mark(size_t type, size_t index);
};

// A worker's sink of a record type whose rows go to a caller's sink: the rows kept in
// the chunk at hand, as cells for a sink that takes them one by one, or made ready in
// the chunk's block of that type for a BlockRowSink. A row the block refuses is marked
// where it would have been, and the caller's sink fails there when it takes it (the
// worker goes on: its faults after that row are never told).
class ChunkRowSink : public RowSink {
public:
    ChunkRowSink(RowsAtHand* at, size_t type, bool ready) : at_(at), type_(type), ready_(ready) {}
    bool Begin(const LayoutPlan&) override { return true; }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        size_t index;
        if (ready_) {
            BlockRowSink::Block& block = *at_->chunk->blocks[type_];
            index = block.Rows();
            block.Add(plan, cells);
        } else {
            RowBlock& rows = at_->chunk->rows;
            index = rows.Rows();
            rows.Add(cells);
        }
        at_->Mark(type_, index);
        return true;
    }
    bool DirectRow(ValueCodec& values, const unsigned char* record, bool&) override {
        if (!ready_) return false;
        BlockRowSink::Block& block = *at_->chunk->blocks[type_];
        const size_t index = block.Rows();
        if (!block.AddRecord(values, record)) return false;
        at_->Mark(type_, index);
        return true;
    }
    bool Finish() override { return true; }

private:
    RowsAtHand* at_;
    size_t type_;
    bool ready_;
};

// Hears a chunk's faults and rejected records for replay in file order.
class ChunkLog : public RunObserver {
public:
    explicit ChunkLog(std::vector<Event>* events, const std::vector<RowMark>* rows = nullptr)
        : events_(events), rows_(rows) {}
    void Fault(const RunFault& fault) override {
        if (events_ == nullptr) return;
        Event event;
        event.fault = fault;
        if (rows_ != nullptr) event.rows = rows_->size();
        events_->push_back(std::move(event));
    }
    void Rejected(long long record, const unsigned char* data, size_t length) override {
        if (events_ == nullptr) return;
        Event event;
        if (rows_ != nullptr) event.rows = rows_->size();
        event.rejected = true;
        event.record = record;
        event.bytes.assign(reinterpret_cast<const char*>(data), length);
        events_->push_back(std::move(event));
    }

private:
    std::vector<Event>* events_;
    const std::vector<RowMark>* rows_;
};

// An output in memory for the whole run: a stream whose bytes are appended to a string
// that the caller takes (swaps out) after each chunk, so that neither the stream nor its
// room is made anew for every chunk.
class MemoryStream {
public:
    MemoryStream() {
        cookie_io_functions_t io;
        std::memset(&io, 0, sizeof io);
        io.write = &MemoryStream::Write;
        file_ = fopencookie(this, "w", io);
        // The sinks write large blocks: no second copy through a stream buffer.
        if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
    }
    ~MemoryStream() {
        if (file_ != nullptr) std::fclose(file_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    std::FILE* File() const { return file_; }
    // The bytes written since the last take into `text` (whose own room is kept for the
    // next ones). False when the stream could not take them all.
    bool Take(std::string& text) {
        bool good = file_ != nullptr && std::fflush(file_) == 0 && !failed_;
        text.clear();
        text.swap(data_);
        failed_ = false;
        return good;
    }

private:
    static ssize_t Write(void* cookie, const char* data, size_t size) {
        MemoryStream* self = static_cast<MemoryStream*>(cookie);
        try {
            self->data_.append(data, size);
        } catch (const std::bad_alloc&) {
            self->failed_ = true;
            return 0;
        }
        return static_cast<ssize_t>(size);
    }
    std::string data_;
    bool failed_ = false;
    std::FILE* file_ = nullptr;
};

// A sink that takes every row and writes none: a check of the records.
class NoRows : public RowSink {
public:
    bool Begin(const LayoutPlan&) override { return true; }
    bool Row(const LayoutPlan&, const RowCells&) override { return true; }
    bool Finish() override { return true; }
};

// The records of a chunk, for a worker's cursor.
class ChunkRecords : public RecordSource {
public:
    explicit ChunkRecords(const Chunk& chunk) : chunk_(chunk) {}
    Status Next(long long& number, const unsigned char*& data, size_t& length, std::string& reason) override {
        const Chunk::Fixed& fixed = chunk_.fixed;
        if (fixed.length > 0) {
            if (next_ < fixed.whole) {
                number = fixed.first + static_cast<long long>(next_);
                data = chunk_.block + next_ * fixed.length;
                length = fixed.length;
                ++next_;
                return kRecord;
            }
            if (next_ > fixed.whole || fixed.tail == 0) return kEnd;
            number = fixed.first + static_cast<long long>(next_);
            data = chunk_.block + next_ * fixed.length;
            length = fixed.tail;
            ++next_;
            reason = "short record: " + std::to_string(fixed.tail) + " of " + std::to_string(fixed.length) + " bytes";
            return kWrongLength;
        }
        if (next_ == chunk_.entries.size()) return kEnd;
        const Entry& entry = chunk_.entries[next_++];
        number = entry.number;
        data = chunk_.bytes.data() + entry.offset;
        length = entry.length;
        if (entry.reason >= 0) reason = chunk_.reasons[static_cast<size_t>(entry.reason)];
        return entry.status;
    }
    size_t Read() const { return next_; }

private:
    const Chunk& chunk_;
    size_t next_ = 0;
};

void RowsAtHand::Mark(size_t type, size_t index) {
    chunk->marks.push_back(RowMark{type, index, records->Read(), Blanks() - blanksBefore});
}

// Reads the bytes of a chunk of fixed records at their place into `room` (of a worker:
// the bytes are needed while the chunk is worked only); false on a read error.
bool ReadFixed(int fd, Chunk& chunk, std::unique_ptr<unsigned char[]>& room, size_t& roomSize) {
    const size_t size = chunk.fixed.whole * chunk.fixed.length + chunk.fixed.tail;
    if (roomSize < size) {
        room.reset(new unsigned char[size]);
        roomSize = size;
    }
    chunk.block = room.get();
    size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, room.get() + got, size - got, static_cast<off_t>(chunk.fixed.at + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;   // an error, or the file cut short under the run
        got += static_cast<size_t>(n);
    }
    return true;
}

// A worker's sink as a chunk's cursor sees it: the sink itself lives for the whole run
// (begun once, its buffers and writers kept); each chunk's cursor begins and finishes
// this view of it, which takes the chunk's rows (into the chunk's held bytes when the
// sink holds them, else through its stream) and counts them apart from the chunks
// before.
class ChunkSink : public RowSink {
public:
    explicit ChunkSink(RowSink& sink) : sink_(sink) {}
    // Where the chunk at hand takes the bytes the sink holds (null: through its stream).
    void Hold(HeldBytes* held) { held_ = held; }
    // Begins the sink itself, once for the run.
    bool Open(const LayoutPlan& plan) { return sink_.Begin(plan); }
    bool Begin(const LayoutPlan&) override {
        givenBefore_ = given_;
        storedBefore_ = sink_.Stored(given_);
        return true;
    }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        ++given_;
        return sink_.Row(plan, cells);
    }
    bool DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) override {
        if (!sink_.DirectRow(values, record, failed)) return false;
        ++given_;
        return true;
    }
    bool Finish() override {
        // The rows' bytes handed over where the sink gathered them: not copied into the
        // stream, written once when the chunk's turn comes.
        if (held_ != nullptr && sink_.SwapHeld(*held_)) return true;
        return sink_.Finish();
    }
    std::string Failure() const override { return sink_.Failure(); }
    long long Stored(long long given) const override { return sink_.Stored(givenBefore_ + given) - storedBefore_; }

private:
    RowSink& sink_;
    HeldBytes* held_ = nullptr;
    long long given_ = 0;   // rows given over the run
    long long givenBefore_ = 0, storedBefore_ = 0;
};

}  // namespace

struct DecodeWork::Worker {
    std::unique_ptr<DataSetup> setup;
    std::unique_ptr<RecordTypes> types;

    // What lives for one run: the streams (one per output taken), the sinks and their
    // chunk views.
    std::vector<std::unique_ptr<MemoryStream>> streams;
    std::vector<std::unique_ptr<RowSink>> owned;
    std::vector<std::unique_ptr<ChunkSink>> views;
    std::vector<RowSink*> sinks;
    std::vector<int> heldOf;       // per view: the output whose held bytes it takes (-1: none)
    RowsAtHand at;                 // the chunk at hand (rows to a caller's sinks)
    std::unique_ptr<unsigned char[]> block;   // the bytes of the fixed records at hand
    size_t blockRoom = 0;

    // Makes the run's sinks for rows that go to the caller's `callers` (one per record
    // type, null: the type not taken): each keeps its rows in the chunk at hand, made
    // ready for the sink where `ready` says it is a BlockRowSink.
    void OpenRows(const std::vector<RowSink*>& callers, const std::vector<BlockRowSink*>& ready) {
        streams.clear();
        views.clear();
        sinks.clear();
        owned.clear();
        heldOf.clear();
        for (size_t t = 0; t < callers.size(); ++t) {
            if (callers[t] != nullptr) owned.emplace_back(new ChunkRowSink(&at, t, ready[t] != nullptr));
            else owned.emplace_back();
            sinks.push_back(owned.back().get());
        }
        at.values.clear();
        if (setup != nullptr) {
            at.values.push_back(&setup->Values());
        } else {
            for (size_t t = 0; t < types->Count(); ++t) at.values.push_back(&types->Setup(t).Values());
        }
    }

    // Makes the run's streams and sinks for `taken` outputs and begins the sinks; what
    // they write first (a CSV header) into `prologue`. False when out of memory or a sink
    // would not begin.
    bool Open(Outputs kind, const std::vector<bool>& taken, std::vector<std::string>& prologue) {
        const size_t count = taken.size();
        streams.clear();
        views.clear();
        sinks.clear();
        owned.clear();
        heldOf.clear();
        streams.resize(count);
        for (size_t i = 0; i < count; ++i) {
            if (!taken[i]) continue;
            streams[i].reset(new MemoryStream());
            if (streams[i]->File() == nullptr) return false;
        }
        if (kind == kNoTable) {
            const size_t types = setup != nullptr ? 1 : this->types->Count();
            for (size_t t = 0; t < types; ++t) {
                if (setup != nullptr || this->types->Chosen(t)) owned.emplace_back(new NoRows());
                else owned.emplace_back();
            }
        } else if (kind == kOneTable) {
            owned.push_back(MakeTableSink(*setup, streams[0]->File()));
        } else if (kind == kTypeStream) {
            owned = MakeRecordKeySinks(*types, streams[0]->File());
        } else {
            for (size_t t = 0; t < types->Count(); ++t) {
                if (t < count && taken[t] && types->Chosen(t)) owned.push_back(MakeTableSink(types->Setup(t), streams[t]->File()));
                else owned.emplace_back();
            }
        }
        for (size_t t = 0; t < owned.size(); ++t) {
            // A sink of its own output may hold its rows for the chunk (those of one
            // stream for every record type must go through it in the order written).
            heldOf.push_back(kind == kOneTable ? 0 : kind == kTypeTables ? static_cast<int>(t) : -1);
            if (owned[t] == nullptr) {
                views.emplace_back();
                sinks.push_back(nullptr);
                continue;
            }
            views.emplace_back(new ChunkSink(*owned[t]));
            const LayoutPlan& plan = setup != nullptr ? setup->Plan() : types->Setup(t).Plan();
            if (!views.back()->Open(plan)) return false;
            sinks.push_back(views.back().get());
        }
        // The sinks' first words go out once, ahead of every chunk's rows.
        prologue.assign(count, std::string());
        for (size_t t = 0; t < owned.size(); ++t) {
            if (owned[t] != nullptr && !owned[t]->Finish()) return false;
        }
        for (size_t i = 0; i < count; ++i) {
            if (streams[i] != nullptr && !streams[i]->Take(prologue[i])) return false;
        }
        return true;
    }

    // Runs the records of `chunk` through a cursor of this worker; the rows for each
    // output into the chunk's `out`, faults into `log`, the records read into `taken`.
    RunResult Run(Chunk& chunk, RunObserver& log) {
        ChunkRecords records(chunk);
        at.chunk = &chunk;
        at.records = &records;
        if (!at.values.empty()) at.blanksBefore = at.Blanks();
        std::vector<std::string>& out = chunk.out;
        chunk.held.resize(streams.size());
        for (size_t t = 0; t < views.size(); ++t) {
            if (views[t] != nullptr) views[t]->Hold(heldOf[t] >= 0 ? &chunk.held[static_cast<size_t>(heldOf[t])] : nullptr);
        }
        RunResult result;
        if (setup != nullptr) {
            RecordCursor cursor(*setup, records, sinks, log);
            cursor.Run();
            result = cursor.Finish();
        } else {
            RecordCursor cursor(*types, records, sinks, log);
            cursor.Run();
            result = cursor.Finish();
        }
        chunk.taken = records.Read();
        out.resize(streams.size());
        for (size_t i = 0; i < streams.size(); ++i) {
            if (streams[i] != nullptr && !streams[i]->Take(out[i])) throw std::bad_alloc();
        }
        return result;
    }
};

DecodeWork::DecodeWork(CopyItem* head, int recordLength, const DataOptions& options, int threads, Outputs outputs)
    : options_(options), outputs_(outputs == kNoTable ? kNoTable : kOneTable) {
    if (threads < 1) threads = 1;
    for (int i = 0; i < threads && error_.empty(); ++i) {
        std::unique_ptr<Worker> worker(new Worker());
        worker->setup.reset(new DataSetup());
        if (!worker->setup->Prepare(head, recordLength, options, error_)) break;
        workers_.push_back(std::move(worker));
    }
}

DecodeWork::DecodeWork(CopyItem* head, const DataOptions& options, Outputs outputs, int threads)
    : options_(options), outputs_(outputs) {
    if (threads < 1) threads = 1;
    for (int i = 0; i < threads && error_.empty(); ++i) {
        std::unique_ptr<Worker> worker(new Worker());
        worker->types.reset(new RecordTypes());
        if (!worker->types->Prepare(head, options, error_)) break;
        workers_.push_back(std::move(worker));
    }
}

DecodeWork::~DecodeWork() = default;

// The loop of a decode on several threads, whatever its rows go to: the calling thread
// frames the records into chunks, the workers decode them, and each decoded chunk is
// delivered on the calling thread in file order.
struct DecodeRunner {
    // Tells a decoded chunk's faults and writes its rows, adding the rows written to
    // `total`; false when the writing failed (the run ends; `total.failed` set, the fault
    // told or left to `finish`).
    using Deliver = std::function<bool(Chunk& chunk, RunResult& total)>;

    // Runs the records of `reader` through `deliver`; then `finish` (the outputs ended)
    // before a read error is told. `callingThread`: every chunk delivered on the calling
    // thread (a program's sinks), each readied by `prepare` there before it is decoded;
    // otherwise on whichever thread's turn it is.
    static void Run(DecodeWork& work, RecordReader& reader, RunObserver& observer, size_t chunkBytes,
                    RunResult& total, const Deliver& deliver, const std::function<void()>& finish,
                    bool callingThread, const std::function<void(Chunk&)>& prepare = nullptr) {
        bool ended = false;   // stopped or failed: later chunks are not delivered
        bool readFailed = false;
        auto retire = [&](Chunk& chunk) {
            if (ended) return false;
            if (chunk.readFailed) {
                readFailed = true;
                ended = true;
                return false;
            }
            const bool delivered = deliver(chunk, total);
            total.read += chunk.result.read;
            // Short lines padded: those of the records the chunk's run read (not those
            // framed after a stop), as one thread counts them.
            for (size_t e = 0; e < chunk.taken && e < chunk.entries.size(); ++e) {
                if (!chunk.entries[e].padded) continue;
                ++total.padded;
                if (total.firstPadded.size() < kPaddedShown) total.firstPadded.push_back(chunk.entries[e].number);
            }
            total.bad += chunk.result.bad;
            total.blanks += chunk.result.blanks;
            if (!delivered) {
                total.failed = true;
                ended = true;
                return false;
            }
            observer.Progress(total.written, chunk.consumed);
            if (chunk.result.stopped) total.stopped = true;
            if (chunk.result.failed) total.failed = true;
            if (total.stopped || total.failed) ended = true;
            return !ended;
        };
        std::FILE* in = reader.Input();
        const int fd = in != nullptr ? fileno(in) : -1;
        auto decode = [&](size_t w, Chunk& chunk) {
            DecodeWork::Worker& worker = *work.workers_[w];
            ChunkLog log(&chunk.events, &chunk.marks);
            try {
                if (chunk.fixed.length > 0 && !ReadFixed(fd, chunk, worker.block, worker.blockRoom)) {
                    chunk.readFailed = true;
                    return;
                }
                chunk.result = worker.Run(chunk, log);
            } catch (const std::bad_alloc&) {
                chunk.events.clear();
                chunk.out.clear();
                for (HeldBytes& bytes : chunk.held) bytes.size = 0;
                chunk.rows.Clear();
                chunk.marks.clear();
                chunk.result = RunResult();
                chunk.result.failed = true;
                Event event;
                event.fault = Fatal(RunFault::kData, chunk.entries.empty() ? chunk.fixed.first : chunk.entries.front().number,
                                    "out of memory", FaultCode::kIo);
                chunk.events.push_back(std::move(event));
            }
        };

        FileRecords records(reader, work.options_.skip, work.options_.count);
        if (work.workers_[0]->setup != nullptr) {
            VariableRecords* variable = work.workers_[0]->setup->Variable();
            DataSetup& setup = *work.workers_[0]->setup;
            if (variable != nullptr && variable->VariableLength()) {
                records.AcceptShorter();
            } else if (setup.Options().records == RecordFormat::kLines) {
                records.PadShortLines(LeastNonTextLength(setup.Plan()), setup.BlankByte());
            }
        }

        // Fixed records of a regular file not yet read: each chunk read at its place by
        // the thread that decodes it, no byte framed or copied by another.
        uint64_t start = 0, size = 0;
        const size_t length = reader.RecordLength();
        bool byPlace = false;
        if (reader.Format() == RecordFormat::kFixed && length > 0 && reader.Untouched() &&
            work.options_.skip <= 0 && work.options_.count < 0 && fd >= 0) {
            struct stat info;
            const off_t at = ftello(in);
            if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && at >= 0 && info.st_size >= at) {
                byPlace = true;
                start = static_cast<uint64_t>(at);
                size = static_cast<uint64_t>(info.st_size);
            }
        }
        uint64_t next = start;
        long long number = 1;
        const size_t perChunk = std::max<size_t>(1, std::min(kChunkRecords, chunkBytes / std::max<size_t>(1, length)));
        auto fillByPlace = [&](Chunk& chunk) {
            if (next >= size) return false;
            const uint64_t left = size - next;
            chunk.fixed.at = next;
            chunk.fixed.length = length;
            chunk.fixed.first = number;
            chunk.fixed.whole = static_cast<size_t>(std::min<uint64_t>(perChunk, left / length));
            const uint64_t bytes = static_cast<uint64_t>(chunk.fixed.whole) * length;
            chunk.fixed.tail = chunk.fixed.whole < perChunk ? static_cast<size_t>(left - bytes) : 0;
            next += bytes + chunk.fixed.tail;
            number += static_cast<long long>(chunk.fixed.whole + (chunk.fixed.tail > 0 ? 1 : 0));
            chunk.consumed = next - start;
            return true;
        };

        bool input = true;
        std::string reason;
        auto frame = [&](Chunk& chunk) {
            if (!input) return false;
            if (chunk.bytes.capacity() == 0) chunk.bytes.reserve(chunkBytes + 64 * 1024);
            while (chunk.bytes.size() < chunkBytes && chunk.entries.size() < kChunkRecords) {
                Entry entry;
                const unsigned char* data = nullptr;
                size_t got = 0;
                const long long paddedBefore = records.Padded();
                entry.status = records.Next(entry.number, data, got, reason);
                entry.padded = records.Padded() != paddedBefore;
                if (!reason.empty()) {
                    entry.reason = static_cast<int>(chunk.reasons.size());
                    chunk.reasons.push_back(reason);
                    reason.clear();
                }
                if (entry.status == RecordSource::kEnd) {
                    input = false;
                    break;
                }
                entry.offset = chunk.bytes.size();
                entry.length = got;
                if (got > 0) chunk.bytes.insert(chunk.bytes.end(), data, data + got);
                chunk.entries.push_back(std::move(entry));
                if (chunk.entries.back().status == RecordSource::kFatal) {
                    input = false;
                    break;
                }
            }
            chunk.consumed = records.Consumed();
            return !chunk.entries.empty();
        };
        auto reset = [](Chunk& chunk) { chunk.Clear(); };

        const size_t threads = work.workers_.size();
        if (callingThread) {
            OrderedPool<Chunk> pool(threads, 2 * threads, decode, [&](Chunk& chunk) { retire(chunk); }, reset);
            while (!ended) {
                Chunk& chunk = pool.Next();
                if (!(byPlace ? fillByPlace(chunk) : frame(chunk))) break;
                if (prepare) prepare(chunk);
                pool.Submit();
            }
            pool.Close();
        } else if (byPlace) {
            RunInTurn<Chunk>(threads, 2 * threads, fillByPlace, decode, retire, reset);
        } else {
            RunInTurn<Chunk>(threads, 2 * threads, frame, decode, retire, reset);
        }
        finish();
        if (records.ReadFailed() || readFailed) {
            observer.Fault(Fatal(RunFault::kData, 0, "read error", FaultCode::kIo));
            total.failed = true;
        }
    }
};

RunResult DecodeParallel(DecodeWork& work, RecordReader& reader, const std::vector<std::FILE*>& outputs,
                         RunObserver& observer, size_t chunkBytes) {
    RunResult total;
    const size_t count = outputs.size();
    std::vector<bool> taken(count);
    for (size_t i = 0; i < count; ++i) taken[i] = outputs[i] != nullptr;
    auto fatal = [&](RunFault::Side side, const std::string& reason) {
        observer.Fault(Fatal(side, 0, reason, FaultCode::kIo));
        total.failed = true;
    };
    if (work.workers_.empty()) {
        fatal(RunFault::kData, "no worker could be prepared");
        return total;
    }

    // Every worker's sinks begun once for the run; what they write first (a CSV header)
    // goes out once, ahead of the rows.
    std::vector<std::string> prologue, unused;
    try {
        for (size_t w = 0; w < work.workers_.size(); ++w) {
            if (!work.workers_[w]->Open(work.outputs_, taken, w == 0 ? prologue : unused)) {
                fatal(RunFault::kTable, "cannot make the output's sinks");
                return total;
            }
        }
    } catch (const std::bad_alloc&) {
        fatal(RunFault::kTable, "out of memory");
        return total;
    }
    for (size_t i = 0; i < count; ++i) {
        if (!taken[i] || prologue[i].empty()) continue;
        if (std::fwrite(prologue[i].data(), 1, prologue[i].size(), outputs[i]) != prologue[i].size()) {
            fatal(RunFault::kTable, "cannot write the output");
            return total;
        }
    }

    auto deliver = [&](Chunk& chunk, RunResult& sum) {
        for (const Event& event : chunk.events) {
            if (event.rejected) {
                observer.Rejected(event.record, reinterpret_cast<const unsigned char*>(event.bytes.data()),
                                  event.bytes.size());
            } else {
                observer.Fault(event.fault);
            }
        }
        bool written = true;
        for (size_t i = 0; i < count; ++i) {
            if (!taken[i]) continue;
            // What went through the worker's stream, then what its sink held.
            const std::string* text = i < chunk.out.size() ? &chunk.out[i] : nullptr;
            const HeldBytes* held = i < chunk.held.size() ? &chunk.held[i] : nullptr;
            bool any = false;
            if (text != nullptr && !text->empty()) {
                any = true;
                if (std::fwrite(text->data(), 1, text->size(), outputs[i]) != text->size()) written = false;
            }
            if (held != nullptr && held->size > 0) {
                any = true;
                if (std::fwrite(held->data.get(), 1, held->size, outputs[i]) != held->size) written = false;
            }
            // The rows count as written once the output took them (through the stream's
            // own buffer), as one thread counts them.
            if (any && std::fflush(outputs[i]) != 0) written = false;
        }
        if (!written) {
            fatal(RunFault::kTable, "cannot write the output");
            return false;
        }
        sum.written += chunk.result.written;
        return true;
    };
    auto finish = [&] {
        if (total.failed) return;
        for (size_t i = 0; i < count; ++i) {
            if (taken[i] && std::fflush(outputs[i]) != 0) {
                fatal(RunFault::kTable, "cannot write the output");
                break;
            }
        }
    };
    DecodeRunner::Run(work, reader, observer, chunkBytes, total, deliver, finish, false);
    return total;
}

RunResult DecodeParallelInto(DecodeWork& work, RecordReader& reader, const std::vector<RowSink*>& sinks,
                             RunObserver& observer, size_t chunkBytes) {
    RunResult total;
    if (work.workers_.empty()) {
        observer.Fault(Fatal(RunFault::kData, 0, "no worker could be prepared", FaultCode::kIo));
        total.failed = true;
        return total;
    }
    DecodeWork::Worker& first = *work.workers_[0];
    const size_t types = first.setup != nullptr ? 1 : first.types->Count();
    std::vector<RowSink*> callers(types, nullptr);
    std::vector<BlockRowSink*> ready(types, nullptr);   // the sinks whose rows are made ready on the workers
    for (size_t t = 0; t < types && t < sinks.size(); ++t) {
        callers[t] = sinks[t];
        ready[t] = dynamic_cast<BlockRowSink*>(sinks[t]);
    }
    auto planOf = [&](size_t t) -> const LayoutPlan& {
        return first.setup != nullptr ? first.setup->Plan() : first.types->Setup(t).Plan();
    };
    for (auto& worker : work.workers_) worker->OpenRows(callers, ready);

    // The caller's sinks are begun, given the rows and finished on this thread, as the
    // record loop of one thread does.
    std::vector<bool> begun(types, false);
    std::vector<long long> given(types, 0);
    bool sinkFailed = false, beginFailed = false;
    std::string failure;
    for (size_t t = 0; t < types; ++t) {
        if (callers[t] == nullptr) continue;
        if (!callers[t]->Begin(planOf(t))) {
            observer.Fault(Fatal(RunFault::kTable, 0, callers[t]->Failure(), FaultCode::kIo));
            total.failed = true;
            beginFailed = true;
            break;
        }
        begun[t] = true;
    }
    // Every chunk has a block of its own per ready sink, made here, after the sinks began.
    auto prepare = [&](Chunk& chunk) {
        if (chunk.blocks.size() == types) return;
        chunk.blocks.resize(types);
        for (size_t t = 0; t < types; ++t) {
            if (ready[t] != nullptr) chunk.blocks[t] = ready[t]->NewBlock();
        }
    };

    RowCells cells;
    // The chunk's faults and rows merged in the order the chunk's run met them.
    auto deliver = [&](Chunk& chunk, RunResult& sum) {
        size_t row = 0;
        // The sink of type `t` failed at the chunk's row `at`: the chunk counts what one
        // thread counts when its sink fails there (the records up to that row's own).
        auto failedAt = [&](size_t t, size_t at) {
            sinkFailed = true;
            failure = callers[t]->Failure();
            const RowMark& mark = chunk.marks[at];
            chunk.result.read = static_cast<long long>(mark.read);
            chunk.result.blanks = mark.blanks;
            chunk.taken = mark.read;
            long long bad = 0;
            for (const Event& event : chunk.events) {
                if (event.rejected && event.rows <= at) ++bad;
            }
            chunk.result.bad = bad;
            return false;
        };
        auto giveRows = [&](size_t upTo) {
            while (row < upTo) {
                const RowMark& mark = chunk.marks[row];
                const size_t t = mark.type;
                if (ready[t] != nullptr) {
                    // The type's rows up to the next of another type, in one block.
                    size_t end = row + 1;
                    while (end < upTo && chunk.marks[end].type == t) ++end;
                    size_t taken = 0;
                    const bool took = ready[t]->Take(chunk.blocks[t], mark.index, chunk.marks[end - 1].index + 1, taken);
                    if (taken > end - row) taken = end - row;
                    given[t] += static_cast<long long>(taken);
                    sum.written += static_cast<long long>(taken);
                    if (!took) return failedAt(t, std::min(row + taken, end - 1));
                    row = end;
                    continue;
                }
                chunk.rows.Fill(mark.index, cells);
                if (!callers[t]->Row(planOf(t), cells)) return failedAt(t, row);
                ++given[t];
                ++sum.written;
                ++row;
            }
            return true;
        };
        for (const Event& event : chunk.events) {
            if (!giveRows(event.rows)) return false;
            if (event.rejected) {
                observer.Rejected(event.record, reinterpret_cast<const unsigned char*>(event.bytes.data()),
                                  event.bytes.size());
            } else {
                observer.Fault(event.fault);
            }
        }
        return giveRows(chunk.marks.size());
    };
    auto finish = [&] {
        // Every sink begun is finished, also after a stop: the rows before it are kept.
        bool finished = !sinkFailed;
        for (size_t t = 0; t < types; ++t) {
            if (!begun[t]) continue;
            if (!callers[t]->Finish() && finished) {
                finished = false;
                failure = callers[t]->Failure();
            }
            if (sinkFailed && failure.empty()) failure = callers[t]->Failure();
        }
        if (!finished) {
            observer.Fault(Fatal(RunFault::kTable, 0, failure.empty() ? "cannot write the output" : failure,
                                 FaultCode::kIo));
            total.failed = true;
        }
        long long stored = 0;
        for (size_t t = 0; t < types; ++t) {
            if (callers[t] != nullptr) stored += callers[t]->Stored(given[t]);
        }
        total.written = stored;
    };
    if (!beginFailed) {
        DecodeRunner::Run(work, reader, observer, chunkBytes, total, deliver, finish, true, prepare);
    } else {
        finish();
    }
    return total;
}

bool EncodeParallelTakes(const DataOptions& options) {
    return options.format == TableFormat::kCsv || options.format == TableFormat::kJsonl;
}

namespace {

// Finds the ends of a table's rows as TableReader reads them: a CSV row ends at a line
// end outside quotes (a quote opens a quoted field only at the field's start), a JSON
// line at every line end. The state carries over from one block to the next.
class RowEnds {
public:
    explicit RowEnds(bool csv) : csv_(csv) {}
    // Scans text[from, size); the place after the last row end found (0: none). Outside
    // quotes the text is searched for the next quote, and the row ends before it taken
    // at once; quoted text is passed over to its next quote.
    size_t Scan(const char* text, size_t from, size_t size) {
        if (!csv_) {
            const void* end = from < size ? memrchr(text + from, '\n', size - from) : nullptr;
            return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) + 1 : 0;
        }
        size_t last = 0;
        size_t i = from;
        while (i < size) {
            if (state_ == kQuoted) {
                const char* quote = static_cast<const char*>(std::memchr(text + i, '"', size - i));
                if (quote == nullptr) {
                    empty_ = false;
                    return last;
                }
                if (quote > text + i) empty_ = false;
                i = static_cast<size_t>(quote - text) + 1;
                state_ = kQuotedQuote;
                continue;
            }
            if (state_ == kQuotedQuote) {
                const char c = text[i++];
                if (c == '"') {   // a doubled quote: one quote of the field's text
                    state_ = kQuoted;
                    empty_ = false;
                } else if (c == '\n') {
                    state_ = kFieldStart;
                    last = i;
                } else if (c == ',') {
                    state_ = kFieldStart;
                } else {
                    state_ = kUnquoted;
                }
                continue;
            }
            const char* quote = static_cast<const char*>(std::memchr(text + i, '"', size - i));
            const char* end = quote != nullptr ? quote : text + size;
            const void* lineEnd = memrchr(text + i, '\n', static_cast<size_t>(end - (text + i)));
            if (lineEnd != nullptr) last = static_cast<size_t>(static_cast<const char*>(lineEnd) - text) + 1;
            if (quote == nullptr) {
                const char c = text[size - 1];
                state_ = c == '\n' || c == ',' ? kFieldStart : kUnquoted;
                return last;
            }
            // The quote opens a quoted field at the field's start only.
            const size_t at = static_cast<size_t>(quote - text);
            const bool start = at == i ? state_ == kFieldStart : (text[at - 1] == ',' || text[at - 1] == '\n');
            if (start) {
                state_ = kQuoted;
                empty_ = true;
            } else {
                state_ = kUnquoted;
            }
            i = at + 1;
        }
        return last;
    }

    // The place after the first row end in text[from, size) (0: none), byte by byte.
    size_t ScanFirst(const char* text, size_t from, size_t size) {
        size_t last = 0;
        for (size_t i = from; i < size && last == 0; ++i) {
            const char c = text[i];
            if (!csv_) {
                if (c == '\n') last = i + 1;
                continue;
            }
            switch (state_) {
            case kQuotedQuote:
                if (c == '"') {   // a doubled quote: one quote of the field's text
                    state_ = kQuoted;
                    empty_ = false;
                    continue;
                }
                // The quote closed the field: what follows is read as after its text.
                state_ = empty_ ? kFieldStart : kUnquoted;
                break;
            case kQuoted:
                if (c == '"') state_ = kQuotedQuote;
                else empty_ = false;
                continue;
            default:
                break;
            }
            if (c == '\n') {
                state_ = kFieldStart;
                last = i + 1;
            } else if (c == ',') {
                state_ = kFieldStart;
            } else if (c == '"' && state_ == kFieldStart) {
                state_ = kQuoted;
                empty_ = true;
            } else {
                state_ = kUnquoted;
            }
        }
        return last;
    }

private:
    enum State { kFieldStart, kUnquoted, kQuoted, kQuotedQuote };
    bool csv_;
    State state_ = kFieldStart;
    bool empty_ = true;   // the quoted field's text so far is empty
};

// Bytes read from a table: room that is not cleared before it is read into (a string
// would set every byte first).
class Bytes {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    void clear() { size_ = 0; }
    void swap(Bytes& other) {
        data_.swap(other.data_);
        std::swap(size_, other.size_);
        std::swap(room_, other.room_);
    }
    // Room for `n` bytes in all, the bytes held kept.
    void Reserve(size_t n) {
        if (n <= room_) return;
        const size_t room = std::max(n, room_ + room_ / 2);
        std::unique_ptr<char[]> more(new char[room]);
        if (size_ > 0) std::memcpy(more.get(), data_.get(), size_);
        data_.swap(more);
        room_ = room;
    }
    void Resize(size_t n) {
        Reserve(n);
        size_ = n;
    }
    void Assign(const char* bytes, size_t n) {
        Reserve(n);
        if (n > 0) std::memcpy(data_.get(), bytes, n);
        size_ = n;
    }
    void EraseFront(size_t n) {
        if (n < size_) std::memmove(data_.get(), data_.get() + n, size_ - n);
        size_ = n < size_ ? size_ - n : 0;
    }

private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0, room_ = 0;
};

// Rows cut in turn, encoded and written by the thread that cut them.
struct TableChunk {
    const std::string* header = nullptr;   // the table's header row (CSV), read ahead of the rows
    Bytes text;                       // the chunk's rows
    std::string out;                  // the chunk's records as written
    std::vector<Event> events;
    RunResult result;
    long long rows = 0;               // the rows its encode read (passed over and bad ones too)
    bool readOnly = false;            // its rows were only read (all taken as passed over)
    uint64_t consumed = 0;
};

// What encodes chunks, kept for the whole run: the layout's setup (its record writers
// hold the records in the chunk instead of writing them out).
struct EncodeWorker {
    std::unique_ptr<DataSetup> setup;     // one layout
    std::unique_ptr<RecordTypes> types;   // or record types
};

// The encode of one layout (`recordLength`) or of record types (`types`).
RunResult EncodeTable(CopyItem* head, int recordLength, bool types, const DataOptions& options, int threads,
                      std::FILE* in, std::FILE* out, RunObserver& observer, size_t chunkBytes) {
    RunResult total;
    auto fatal = [&](RunFault::Side side, const std::string& reason) {
        observer.Fault(Fatal(side, 0, reason, FaultCode::kIo));
        total.failed = true;
    };
    if (threads < 1) threads = 1;
    // A worker for each thread, and one more for the chunks encoded again when their
    // turn comes (those across the end of --skip or --count).
    std::vector<std::unique_ptr<EncodeWorker>> workers;
    for (int i = 0; i <= threads; ++i) {
        std::unique_ptr<EncodeWorker> worker(new EncodeWorker());
        std::string error;
        bool ready;
        if (types) {
            worker->types.reset(new RecordTypes());
            ready = worker->types->Prepare(head, options, error);
        } else {
            worker->setup.reset(new DataSetup());
            ready = worker->setup->Prepare(head, recordLength, options, error);
        }
        if (!ready) {
            fatal(RunFault::kData, error);
            return total;
        }
        workers.push_back(std::move(worker));
    }
    const std::unique_ptr<EncodeWorker> againOwned = std::move(workers.back());
    workers.pop_back();
    EncodeWorker& again = *againOwned;
    // Record types come in JSON Lines, each naming its record.
    const bool csv = !types && options.format == TableFormat::kCsv;
    // Blocks group records across rows and chunks: the workers write RDW records, and
    // the thread that retires a chunk puts them into the run's blocks, as one thread's
    // writer fills them.
    const bool blocked = options.records == RecordFormat::kRdwBlock;
    const RecordFormat chunkFormat = blocked ? RecordFormat::kRdw : options.records;
    std::unique_ptr<RecordWriter> blocks;
    if (blocked) blocks.reset(new RecordWriter(out, options.records, options.blockSize, options.crlf));
    auto toBlocks = [&](const std::string& records) {
        const unsigned char* at = reinterpret_cast<const unsigned char*>(records.data());
        const unsigned char* end = at + records.size();
        while (end - at >= 4) {
            const size_t described = static_cast<size_t>(at[0]) << 8 | at[1];
            if (described < 4 || described > static_cast<size_t>(end - at)) break;
            if (!blocks->Write(at + 4, described - 4)) return false;
            at += described;
        }
        return true;
    };

    // Encodes the rows of `chunk` that `span` takes (its rows numbered from 1).
    auto encodeSpan = [&](EncodeWorker& worker, TableChunk& chunk, RowSpan span) {
        chunk.events.clear();
        chunk.result = RunResult();
        ChunkLog log(&chunk.events);
        try {
            // The header (CSV) and the chunk's rows, read where they are; the records
            // gathered in the chunk's room, written when its turn comes.
            RecordWriter writer(nullptr, chunkFormat, options.blockSize, options.crlf);
            writer.Hold(&chunk.out);
            if (worker.types != nullptr) {
                chunk.result = EncodeRecordTypes(*worker.types, chunk.text.data(), chunk.text.size(), writer, log, span);
            } else {
                const std::string* header = chunk.header;
                std::unique_ptr<RowSource> source =
                    MakeTableSource(*worker.setup, header != nullptr ? header->data() : nullptr,
                                    header != nullptr ? header->size() : 0, chunk.text.data(), chunk.text.size());
                chunk.result = EncodeRows(*worker.setup, *source, writer, log, span);
            }
        } catch (const std::bad_alloc&) {
            chunk.events.clear();
            chunk.out.clear();
            chunk.result = RunResult();
            chunk.result.failed = true;
            Event event;
            event.fault = Fatal(RunFault::kData, 0, "out of memory", FaultCode::kIo);
            chunk.events.push_back(std::move(event));
        }
        chunk.rows = span.rows;
    };
    const long long skip = options.skip > 0 ? options.skip : 0;
    const long long count = options.count;
    // The rows of the chunks retired so far. Which rows --skip and --count take is known
    // once the rows before a chunk are counted, when its turn comes: the workers encode
    // every row of their chunks, or, while the rows retired are fewer than the skip,
    // only read them (a chunk wholly passed over then costs no encoding; one that
    // reaches past the skip is encoded again in its turn).
    std::atomic<long long> retiredRows(0);
    auto encode = [&](size_t w, TableChunk& chunk) {
        RowSpan span;
        chunk.readOnly = retiredRows.load(std::memory_order_relaxed) < skip;
        if (chunk.readOnly) span.skip = std::numeric_limits<long long>::max();
        encodeSpan(*workers[w], chunk, span);
    };

    bool ended = false, early = false;   // early: the run ended before the table's end
    long long rowsBefore = 0;   // the rows of the chunks written
    auto retire = [&](TableChunk& chunk) {
        if (ended) return false;
        const long long before = rowsBefore;
        // Rows taken as one thread takes them: those past --skip, no more than --count
        // (and the one past it read). A chunk of such rows alone stands as encoded; a
        // chunk of passed-over rows alone is left out; one across either end (or only
        // read) is encoded again with the skip and count that fall within it.
        const long long takenBefore = before > skip ? before - skip : 0;
        const bool within =
            !chunk.readOnly && before >= skip && (count < 0 || chunk.rows <= count - takenBefore);
        if (!within) {
            const bool whole = !chunk.result.stopped && !chunk.result.failed;
            if (whole && chunk.rows <= skip - before) {
                rowsBefore += chunk.rows;
                retiredRows.store(rowsBefore, std::memory_order_relaxed);
                return true;
            }
            RowSpan span;
            span.skip = before < skip ? skip - before : 0;
            span.count = count < 0 ? -1 : count - takenBefore;
            encodeSpan(again, chunk, span);
        }
        // The chunk's rows are numbered from 1: as the whole table's from here.
        for (Event& event : chunk.events) {
            if (event.rejected) {
                observer.Rejected(event.record + before, reinterpret_cast<const unsigned char*>(event.bytes.data()),
                                  event.bytes.size());
            } else {
                if (event.fault.record > 0) event.fault.record += before;
                observer.Fault(event.fault);
            }
        }
        rowsBefore += chunk.rows;
        retiredRows.store(rowsBefore, std::memory_order_relaxed);
        total.read += chunk.result.read;
        total.bad += chunk.result.bad;
        total.blanks += chunk.result.blanks;
        if (blocked) {
            if (!toBlocks(chunk.out)) {
                fatal(RunFault::kData, "cannot write the record");
                ended = early = true;
                return false;
            }
            total.written = blocks->RecordsWritten();
        } else {
            if (!chunk.out.empty() && (std::fwrite(chunk.out.data(), 1, chunk.out.size(), out) != chunk.out.size() ||
                                       std::fflush(out) != 0)) {
                fatal(RunFault::kData, "cannot write the output");
                ended = early = true;
                return false;
            }
            total.written += chunk.result.written;
        }
        observer.Progress(total.written, chunk.consumed);
        if (chunk.result.stopped) total.stopped = true;
        if (chunk.result.failed) total.failed = true;
        // Past the count one thread reads no further.
        const bool counted = count >= 0 && rowsBefore - skip > count;
        if (total.stopped || total.failed || counted) ended = early = true;
        return !ended;
    };

    // The table read in blocks and cut after the first row end past chunkBytes; a row
    // longer than the line limit is cut too (the worker refuses it as one thread does).
    RowEnds ends(csv);
    std::string header;          // the CSV header row, ahead of every chunk
    bool headerTaken = !csv;
    Bytes text;                  // read and not yet handed out
    size_t scanned = 0, cut = 0; // scanned so far; the last row end in `text`
    const size_t block = std::max<size_t>(4096, std::min<size_t>(1u << 20, chunkBytes));
    // Past this many bytes a row is refused by the reader before it could meet the cut
    // end (quoted text is measured every 64 KB of it).
    const uint64_t longest = options.maxLine + 2 * 65536 + 16;
    bool eof = false, readFailed = false;
    uint64_t consumed = 0;
    bool handedOut = false, finished = false;
    // Fills `chunk` with the next rows: false when the table has no more.
    auto fill = [&](TableChunk& chunk) {
        if (finished) return false;
        bool given = false;
        // The chunk takes the bytes read up to the cut (no copy); what follows stays.
        auto handOut = [&](size_t length) {
            chunk.text.swap(text);
            text.Assign(chunk.text.data() + length, chunk.text.size() - length);
            chunk.text.Resize(length);
            chunk.header = &header;
            scanned -= length;
            cut = 0;
            chunk.consumed = consumed - text.size();
            handedOut = true;
            given = true;
        };
        while (!given) {
            if (!eof && cut < chunkBytes) {
                const size_t before = text.size();
                // Room for a whole chunk at once (the chunk's bytes are read in blocks up
                // to the first row end past chunkBytes), not grown and copied on the way.
                text.Reserve(std::max(before + block, chunkBytes + 2 * block));
                text.Resize(before + block);
                const size_t got = std::fread(text.data() + before, 1, block, in);
                text.Resize(before + got);
                consumed += got;
                if (got < block) {
                    eof = true;
                    if (std::ferror(in)) readFailed = true;
                }
            }
            if (!headerTaken) {
                const size_t first = ends.ScanFirst(text.data(), scanned, text.size());
                scanned = first > 0 ? first : text.size();
                if (first == 0 && !eof && text.size() <= longest) continue;
                // The header: the first row (all of the input when it has no row end).
                const size_t length = first > 0 ? first : text.size();
                header.assign(text.data(), length);
                text.EraseFront(length);
                scanned -= length;
                cut = 0;
                headerTaken = true;
                // Nothing after the header (or a header longer than the limit, which ends
                // the run): one chunk of it alone, as one thread reads it.
                if ((text.empty() && eof) || header.size() > longest) {
                    handOut(0);
                    finished = true;
                    break;
                }
            }
            const size_t last = ends.Scan(text.data(), scanned, text.size());
            scanned = text.size();
            if (last > 0) cut = last;
            if (cut >= chunkBytes || (eof && !text.empty())) {
                handOut(eof && (cut == 0 || text.size() - cut < chunkBytes) ? text.size() : cut);
                if (eof && text.empty()) finished = true;
                break;
            }
            if (text.size() - cut > longest) {
                // A row longer than the limit: handed out cut, with the rows before it, to
                // be refused there (the run ends on it).
                handOut(text.size());
                break;
            }
            if (eof) {
                // Nothing left (an empty table with no header row has one empty chunk).
                if (!handedOut && header.empty()) handOut(0);
                finished = true;
                break;
            }
        }
        return given;
    };
    RunInTurn<TableChunk>(workers.size(), 2 * workers.size(), fill, encode, retire, [](TableChunk& chunk) {
        chunk.text.clear();
        chunk.header = nullptr;
        chunk.events.clear();
        chunk.result = RunResult();
        chunk.rows = 0;
        chunk.readOnly = false;
    });
    if (blocked) {
        // The last block, also after a stop or a failure, as one thread's writer ends.
        if (!blocks->Finish()) fatal(RunFault::kData, "cannot write the output");
        total.written = blocks->RecordsWritten();
    }
    // One thread reads no further than where the run ended.
    if (readFailed && !early) fatal(RunFault::kTable, "read error");
    return total;
}

}  // namespace

RunResult EncodeParallel(CopyItem* head, int recordLength, const DataOptions& options, int threads, std::FILE* in,
                         std::FILE* out, RunObserver& observer, size_t chunkBytes) {
    return EncodeTable(head, recordLength, false, options, threads, in, out, observer, chunkBytes);
}

RunResult EncodeRecordTypesParallel(CopyItem* head, const DataOptions& options, int threads, std::FILE* in,
                                    std::FILE* out, RunObserver& observer, size_t chunkBytes) {
    return EncodeTable(head, 0, true, options, threads, in, out, observer, chunkBytes);
}

}  // namespace quillbox
