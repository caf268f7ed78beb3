// Where the partitions of a file of variable records start, found in parallel over byte
// ranges of the file (the index pass of a scale-out read). A partition starts at the
// first record start (in rdw-block the first block start) at or after each multiple of
// the block size, so that the partitions do not depend on how the ranges are cut.
//
// A range's scan (ScanRange) guesses its first record start by the framing alone (the
// byte after a line end; an offset whose descriptor words chain consistently), then
// frames records with RecordReader up to the first start at or after the range's end.
// The scans are joined in order (JoinScans): a scan counts only when it began where the
// previous one ended (the file's first byte for the first), and a range whose guess was
// wrong is scanned again from there, so a guess is never used unchecked.
//
//     std::vector<ByteRange> ranges = IndexRanges(size, blockSize);
//     std::vector<RangeScan> scans;          // each may run in a task of its own
//     for (const ByteRange& r : ranges) scans.push_back(ScanRange(file, size, format, length, r, blockSize));
//     std::vector<Partition> parts;
//     long long record;
//     std::string fault;
//     if (!JoinScans(ranges, scans, rescan, parts, record, fault)) ...   // a framing fault at `record`
#ifndef QUILLBOX_CODEC_RANGES_H
#define QUILLBOX_CODEC_RANGES_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "records.h"

namespace quillbox {

// The most range scans of a file's index pass: enough to keep a cluster's workers busy,
// few enough that joining the scans stays cheap.
constexpr int kIndexTasks = 32;

// Bytes [begin, end) of a file.
struct ByteRange {
    uint64_t begin = 0, end = 0;
};

// The ranges of a file of `size` bytes: each a whole number of blocks of `blockSize`
// bytes (the last to the end of the file), `tasks` of them at most (at least one range,
// [0, 0) for an empty file). `blockSize` and `tasks` below 1 count as 1.
std::vector<ByteRange> IndexRanges(uint64_t size, uint64_t blockSize, int tasks = kIndexTasks);

// A range's scan: the pieces (offset, records) of the records that start in the range,
// from where it began to where the next record starts after it. `fault` holds the
// framing fault (or "read error") that ended it, at record `faultRecord` counted from
// the scan's start, if any.
struct RangeScan {
    uint64_t start = 0, end = 0;
    std::vector<std::pair<uint64_t, long long>> pieces;
    long long faultRecord = 0;
    std::string fault;
};

// Scans `range` of the data (`file`, `size` bytes; it is read with seeks) framed as
// `format` with records of `recordLength` bytes (a variable format: not fixed): from
// `start` when it is known (not negative), otherwise from a guessed start. Pieces start
// at the first boundary at or after each multiple of `blockSize`.
RangeScan ScanRange(std::FILE* file, uint64_t size, RecordFormat format, size_t recordLength, ByteRange range,
                    uint64_t blockSize, long long start = -1);

// A partition of the file: its first byte, the number of its first record (from 1) and
// how many records it holds.
struct Partition {
    uint64_t offset = 0;
    long long first = 0;
    long long records = 0;
};

// Scans `range` again from a known start (ScanRange with `start`).
using Rescan = std::function<RangeScan(const ByteRange& range, uint64_t start)>;

// The partitions of the scans of `ranges` (one scan a range, in order), joined: a scan
// that did not begin where the previous one ended, or met a fault, is done again by
// `rescan` from there. False with the record number (in the file) and the reason of a
// framing fault of a scan that counts.
bool JoinScans(const std::vector<ByteRange>& ranges, const std::vector<RangeScan>& scans, const Rescan& rescan,
               std::vector<Partition>& parts, long long& faultRecord, std::string& fault);

}  // namespace quillbox

#endif
