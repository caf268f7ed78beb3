// A decode of one input on several threads. Each thread takes the next chunk of a few
// hundred KB in turn (fixed records of a regular file: read at their place by
// arithmetic; other formats, standard input and pipes: framed in order, since framing
// must read in order anyway), decodes it with a setup, sinks and output buffers of its
// own that live for the whole run (begun once, emptied after each chunk), and writes the
// chunk's output, and hands its faults to the run's observer, when its turn in file
// order comes (the thread that finishes the oldest chunk writes it and every later one
// already done). N threads are busy and no more.
// What comes out is what one thread gives, byte for byte: the same rows, the same record
// numbers, the same faults in the same order, the same stop. Memory stays bounded: at
// most about two chunks a thread are in hand at once, and a written chunk's room is reused.
//
//     DecodeWork work(head, recordLength, options, threads, error);   // one layout
//     RunResult result = DecodeParallel(work, reader, {out}, observer);
#ifndef QUILLBOX_CODEC_PARALLEL_H
#define QUILLBOX_CODEC_PARALLEL_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "datacodec.h"
#include "records.h"

namespace quillbox {

class RecordTypes;

// The number of threads a run takes when none is given: the machine's cores (1 when
// the machine does not say).
int DefaultThreads();

// What the workers of a parallel decode need: a setup (or the record types) each, made
// on the calling thread, since a setup's codecs keep state of their own.
class DecodeWork {
public:
    // How the rows of a run with record types go out.
    enum Outputs {
        kOneTable,     // one layout: one table (CSV or JSON Lines)
        kTypeTables,   // record types: a table per type taken (null output: the type is not taken)
        kTypeStream,   // record types: one JSON Lines stream naming each row's record
        kNoTable       // every record decoded and checked, no row written (one layout or record types)
    };
    // One layout of `recordLength` bytes, its rows to `outputs` (kOneTable or kNoTable).
    // `threads` workers (at least 1).
    DecodeWork(CopyItem* head, int recordLength, const DataOptions& options, int threads, Outputs outputs = kOneTable);
    // Record types (the rules in `options`), their rows to `outputs`.
    DecodeWork(CopyItem* head, const DataOptions& options, Outputs outputs, int threads);
    ~DecodeWork();
    DecodeWork(const DecodeWork&) = delete;
    DecodeWork& operator=(const DecodeWork&) = delete;

    // False with `error` when a worker's setup could not be made (as the run's own).
    bool Ready(std::string& error) const {
        error = error_;
        return error_.empty();
    }
    int Threads() const { return static_cast<int>(workers_.size()); }

private:
    friend RunResult DecodeParallel(DecodeWork& work, RecordReader& reader, const std::vector<std::FILE*>& outputs,
                                    RunObserver& observer, size_t chunkBytes);
    friend RunResult DecodeParallelInto(DecodeWork& work, RecordReader& reader, const std::vector<RowSink*>& sinks,
                                        RunObserver& observer, size_t chunkBytes);
    friend struct DecodeRunner;
    struct Worker;
    std::vector<std::unique_ptr<Worker>> workers_;
    const DataOptions options_;
    Outputs outputs_;
    std::string error_;
};

// A chunk's records: about this many bytes of them.
constexpr size_t kParallelChunkBytes = 256u << 10;

// Decodes the records of `reader` (made as the one-thread run makes it) into `outputs`
// (one for kOneTable and kTypeStream, one per record type for kTypeTables, null for a
// type not taken; none for kNoTable) on the work's threads; the observer hears the faults, the rejected
// records and the progress in file order on the calling thread. The counts are those
// of one thread.
RunResult DecodeParallel(DecodeWork& work, RecordReader& reader, const std::vector<std::FILE*>& outputs,
                         RunObserver& observer, size_t chunkBytes = kParallelChunkBytes);

// A sink whose rows can be made ready on the decoding workers of DecodeParallelInto, so
// that the thread that writes them (a database's inserts) only writes: each worker turns
// the rows of its chunk into a block of the sink's own (values converted, bytes made),
// and the calling thread hands the sink those blocks in file order. Run by one thread
// (DecodeRecords), it is a RowSink like any other.
class BlockRowSink : public RowSink {
public:
    // Rows made ready for the sink.
    class Block {
    public:
        virtual ~Block() = default;
        // On a worker: adds a row of `cells` (a cell per column of `plan`). False when the
        // row cannot go (the block keeps why; it takes no row after it).
        virtual bool Add(const LayoutPlan& plan, const RowCells& cells) = 0;
        // On a worker: adds a row of good values read straight from the record's bytes
        // with `values` (the worker's codec of the layout), as RowSink::DirectRow does.
        // False leaves the record, decoded, to Add (no row added).
        virtual bool AddRecord(ValueCodec& /*values*/, const unsigned char* /*record*/) { return false; }
        // The rows added.
        virtual size_t Rows() const = 0;
        // Empties the block for the next rows (its room kept).
        virtual void Clear() = 0;
    };
    // An empty block, made on the calling thread after Begin. A worker fills it reading
    // only what Begin set, and while it does the sink may go on taking other blocks.
    virtual std::unique_ptr<Block> NewBlock() = 0;
    // Takes rows [from, to) of `block` in file order on the calling thread, as many calls
    // to Row would (the ranges of a block come in order; the sink may swap the block for
    // another empty one). A row at or past block->Rows() is one that Add refused: the sink
    // fails there. False when the sink failed, `taken` the rows it took before.
    virtual bool Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) = 0;
};

// Decodes the records of `reader` on the work's threads into sinks of the caller's: one
// per record type (one layout: one; null: the type not taken), as RecordCursor takes
// them. The workers decode chunks of records into blocks of rows; the calling thread
// begins the sinks, gives them the rows in file order (Row, never DirectRow), and
// finishes them, so that a sink needs no lock and sees what one thread would give it:
// the same rows in the same order, the faults heard by the observer between them where
// one thread hears them, the same stop. The written count is what the sinks stored
// (RowSink::Stored). A BlockRowSink's rows are made ready on the workers and handed to
// it in blocks (Take). The work's Outputs are not used.
//
//     DecodeWork work(head, recordLength, options, threads);
//     RunResult result = DecodeParallelInto(work, reader, {&sink}, observer);
RunResult DecodeParallelInto(DecodeWork& work, RecordReader& reader, const std::vector<RowSink*>& sinks,
                             RunObserver& observer, size_t chunkBytes = kParallelChunkBytes);

// Whether an encode with `options` can run on several threads: a CSV or JSON Lines
// table into any record format (one layout, or record types from JSON Lines).
bool EncodeParallelTakes(const DataOptions& options);

// Encodes the table read from `in` (CSV or JSON Lines; EncodeParallelTakes) into records
// on `out` on `threads` workers: the calling thread cuts the table at row ends (a CSV
// header goes ahead of every chunk's rows), the workers encode the chunks, and the
// records, the faults (rows numbered as in the whole table) and the counts come out in
// file order, as one thread gives them. The options' skip and count take the rows one
// thread takes: a chunk across the end of either is encoded again in its turn, with the
// skip and count that fall within it.
RunResult EncodeParallel(CopyItem* head, int recordLength, const DataOptions& options, int threads, std::FILE* in,
                         std::FILE* out, RunObserver& observer, size_t chunkBytes = kParallelChunkBytes);

// The same for record types (the rules in `options`): JSON lines, each naming its record
// in a "record" key, into the records of their types, as EncodeRecordTypes writes them.
RunResult EncodeRecordTypesParallel(CopyItem* head, const DataOptions& options, int threads, std::FILE* in,
                                    std::FILE* out, RunObserver& observer, size_t chunkBytes = kParallelChunkBytes);

}  // namespace quillbox

#endif
