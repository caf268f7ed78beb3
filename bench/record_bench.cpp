// Record value access speed: a generated data file of fixed-length 200-byte records
// (display, signed display, packed, binary, COMP-5 and national items; 25 numeric
// items) is read record by record and every numeric item is decoded with GetInt64,
// by item and by qualified name, beside a decoder hand-written for this one layout.
// Each reports MB/s of data file processed.
//
// The data file is 100 MB; QB_RECORD_BENCH_MB selects another size for a quick run.
// It and the copybook are made in a temporary folder at start and removed at the end.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "cobcpy.h"

namespace {

constexpr int kRecordLength = 200;

const char* const kCopybook[] = {
    "01  BENCH-REC.",
    "    05  HDR.",
    "        10  REC-ID     PIC 9(8).",
    "        10  REC-TYPE   PIC X(2).",
    "        10  REC-NAME   PIC N(10).",
    "    05  DISP-AREA.",
    "        10  D-QTY-1    PIC 9(5).",
    "        10  D-QTY-2    PIC 9(7).",
    "        10  D-QTY-3    PIC 9(9).",
    "        10  D-QTY-4    PIC 9(3).",
    "        10  D-AMT-1    PIC S9(7)V99.",
    "        10  D-AMT-2    PIC S9(5).",
    "        10  D-AMT-3    PIC S9(11)V99.",
    "        10  D-AMT-4    PIC S9(3).",
    "    05  PACK-AREA.",
    "        10  P-VAL-1    PIC S9(7)V99 COMP-3.",
    "        10  P-VAL-2    PIC S9(5) COMP-3.",
    "        10  P-VAL-3    PIC 9(9) COMP-3.",
    "        10  P-VAL-4    PIC S9(15)V99 COMP-3.",
    "        10  P-VAL-5    PIC 9(3) COMP-3.",
    "    05  BIN-AREA.",
    "        10  B-VAL-1    PIC S9(4) COMP.",
    "        10  B-VAL-2    PIC S9(9) COMP.",
    "        10  B-VAL-3    PIC S9(18) COMP.",
    "        10  B-VAL-4    PIC 9(4) COMP.",
    "    05  C5-AREA.",
    "        10  C-VAL-1    PIC S9(4) COMP-5.",
    "        10  C-VAL-2    PIC S9(9) COMP-5.",
    "        10  C-VAL-3    PIC S9(18) COMP-5.",
    "        10  C-VAL-4    PIC 9(9) COMP-5.",
    "    05  TAIL-AREA.",
    "        10  T-QTY-1    PIC 9(4).",
    "        10  T-AMT-1    PIC S9(9)V99 COMP-3.",
    "        10  T-CNT      PIC 9(2).",
    "        10  FILLER     PIC X(46).",
};

enum Kind { kDisplay, kSignedDisplay, kPacked, kSignedPacked, kBinary, kSignedBinary, kComp5, kSignedComp5 };

struct Field {
    const char* key;
    int offset;
    int length;
    int digits;
    Kind kind;
};

// The numeric items of the layout, with their places in the record.
const Field kFields[] = {
    {"BENCH-REC.HDR.REC-ID", 0, 8, 8, kDisplay},
    {"BENCH-REC.DISP-AREA.D-QTY-1", 30, 5, 5, kDisplay},
    {"BENCH-REC.DISP-AREA.D-QTY-2", 35, 7, 7, kDisplay},
    {"BENCH-REC.DISP-AREA.D-QTY-3", 42, 9, 9, kDisplay},
    {"BENCH-REC.DISP-AREA.D-QTY-4", 51, 3, 3, kDisplay},
    {"BENCH-REC.DISP-AREA.D-AMT-1", 54, 9, 9, kSignedDisplay},
    {"BENCH-REC.DISP-AREA.D-AMT-2", 63, 5, 5, kSignedDisplay},
    {"BENCH-REC.DISP-AREA.D-AMT-3", 68, 13, 13, kSignedDisplay},
    {"BENCH-REC.DISP-AREA.D-AMT-4", 81, 3, 3, kSignedDisplay},
    {"BENCH-REC.PACK-AREA.P-VAL-1", 84, 5, 9, kSignedPacked},
    {"BENCH-REC.PACK-AREA.P-VAL-2", 89, 3, 5, kSignedPacked},
    {"BENCH-REC.PACK-AREA.P-VAL-3", 92, 5, 9, kPacked},
    {"BENCH-REC.PACK-AREA.P-VAL-4", 97, 9, 17, kSignedPacked},
    {"BENCH-REC.PACK-AREA.P-VAL-5", 106, 2, 3, kPacked},
    {"BENCH-REC.BIN-AREA.B-VAL-1", 108, 2, 4, kSignedBinary},
    {"BENCH-REC.BIN-AREA.B-VAL-2", 110, 4, 9, kSignedBinary},
    {"BENCH-REC.BIN-AREA.B-VAL-3", 114, 8, 18, kSignedBinary},
    {"BENCH-REC.BIN-AREA.B-VAL-4", 122, 2, 4, kBinary},
    {"BENCH-REC.C5-AREA.C-VAL-1", 124, 2, 4, kSignedComp5},
    {"BENCH-REC.C5-AREA.C-VAL-2", 126, 4, 9, kSignedComp5},
    {"BENCH-REC.C5-AREA.C-VAL-3", 130, 8, 18, kSignedComp5},
    {"BENCH-REC.C5-AREA.C-VAL-4", 138, 4, 9, kComp5},
    {"BENCH-REC.TAIL-AREA.T-QTY-1", 142, 4, 4, kDisplay},
    {"BENCH-REC.TAIL-AREA.T-AMT-1", 146, 6, 11, kSignedPacked},
    {"BENCH-REC.TAIL-AREA.T-CNT", 152, 2, 2, kDisplay},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

std::string folder;
std::string copybookPath;
std::string dataPath;
long long dataBytes = 0;
// The sum of every numeric item of the file, as the hand-written decoder reads it.
int64_t expectedSum = 0;

int64_t DecodeByHand(const unsigned char* r);

// ---- Generating the data file ------------------------------------------------------

void EncodeField(unsigned char* record, const Field& field, int64_t value) {
    unsigned char* p = record + field.offset;
    bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    switch (field.kind) {
    case kDisplay:
    case kSignedDisplay:
        for (int i = field.length - 1; i >= 0; --i, magnitude /= 10) p[i] = static_cast<unsigned char>('0' + magnitude % 10);
        if (field.kind == kSignedDisplay) p[field.length - 1] = static_cast<unsigned char>((p[field.length - 1] & 0x0F) | (negative ? 0x50 : 0x40));
        break;
    case kPacked:
    case kSignedPacked: {
        unsigned sign = field.kind == kPacked ? 0x0F : (negative ? 0x0D : 0x0C);
        p[field.length - 1] = static_cast<unsigned char>(((magnitude % 10) << 4) | sign);
        magnitude /= 10;
        for (int i = field.length - 2; i >= 0; --i) {
            unsigned low = magnitude % 10;
            magnitude /= 10;
            unsigned high = magnitude % 10;
            magnitude /= 10;
            p[i] = static_cast<unsigned char>((high << 4) | low);
        }
        break;
    }
    case kBinary:
    case kSignedBinary:
        for (int i = 0; i < field.length; ++i) p[field.length - 1 - i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
        break;
    case kComp5:
    case kSignedComp5:
        for (int i = 0; i < field.length; ++i) p[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
        break;
    }
}

int64_t RandomValue(std::mt19937_64& random, const Field& field) {
    int digits = field.digits;
    if ((field.kind == kBinary || field.kind == kSignedBinary || field.kind == kComp5 || field.kind == kSignedComp5) &&
        field.length == 2)
        digits = 4;
    uint64_t limit = 1;
    for (int i = 0; i < digits && i < 18; ++i) limit *= 10;
    int64_t value = static_cast<int64_t>(random() % limit);
    bool isSigned = field.kind == kSignedDisplay || field.kind == kSignedPacked || field.kind == kSignedBinary ||
                    field.kind == kSignedComp5;
    if (isSigned && (random() & 1)) value = -value;
    return value;
}

bool Prepare() {
    folder = MakeScratchFolder("quillbox_record_bench_");
    if (folder.empty()) return false;
    copybookPath = folder + "/BENCHREC.cpy";
    dataPath = folder + "/BENCHREC.dat";

    std::string text;
    for (const char* entry : kCopybook) text += std::string("       ") + entry + "\n";
    if (!WriteTextFile(copybookPath.c_str(), text.data(), text.size())) return false;

    const long long megabytes = BenchMegabytes("QB_RECORD_BENCH_MB");
    long long records = megabytes * 1024 * 1024 / kRecordLength;
    FILE* file = std::fopen(dataPath.c_str(), "wb");
    if (file == nullptr) return false;
    std::mt19937_64 random(20261208);
    std::vector<unsigned char> block(static_cast<size_t>(kRecordLength) * 1024);
    long long written = 0;
    while (written < records) {
        long long count = records - written < 1024 ? records - written : 1024;
        for (long long r = 0; r < count; ++r) {
            unsigned char* record = block.data() + r * kRecordLength;
            std::memset(record, ' ', kRecordLength);
            std::memcpy(record + 8, "AB", 2);
            for (int i = 0; i < 10; ++i) std::memcpy(record + 10 + 2 * i, "\x82\xa0", 2);
            for (const Field& field : kFields) EncodeField(record, field, RandomValue(random, field));
            expectedSum += DecodeByHand(record);
        }
        std::fwrite(block.data(), kRecordLength, static_cast<size_t>(count), file);
        written += count;
    }
    bool ok = std::fclose(file) == 0;
    dataBytes = records * kRecordLength;
    return ok;
}

void CleanUp() {
    if (!dataPath.empty()) std::remove(dataPath.c_str());
    if (!copybookPath.empty()) std::remove(copybookPath.c_str());
    if (!folder.empty()) rmdir(folder.c_str());
}

// ---- The hand-written decoder of this layout --------------------------------------

template <int N>
inline int64_t Display(const unsigned char* p) {
    int64_t v = 0;
    for (int i = 0; i < N; ++i) v = v * 10 + (p[i] & 0x0F);
    return v;
}
template <int N>
inline int64_t SignedDisplay(const unsigned char* p) {
    int64_t v = Display<N>(p);
    return (p[N - 1] >> 4) == 0x5 ? -v : v;
}
template <int N>
inline int64_t Packed(const unsigned char* p) {
    int64_t v = 0;
    for (int i = 0; i < N - 1; ++i) v = v * 100 + (p[i] >> 4) * 10 + (p[i] & 0x0F);
    v = v * 10 + (p[N - 1] >> 4);
    return (p[N - 1] & 0x0F) == 0x0D ? -v : v;
}
inline int64_t Big16(const unsigned char* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
inline int64_t Big16u(const unsigned char* p) { return (p[0] << 8) | p[1]; }
inline int64_t Big32(const unsigned char* p) {
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
}
inline int64_t Big64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
}
inline int64_t Little16(const unsigned char* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
inline int64_t Little32(const unsigned char* p) {
    return static_cast<int32_t>(p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24));
}
inline int64_t Little32u(const unsigned char* p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline int64_t Little64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
}

int64_t DecodeByHand(const unsigned char* r) {
    return Display<8>(r + 0) + Display<5>(r + 30) + Display<7>(r + 35) + Display<9>(r + 42) + Display<3>(r + 51) +
           SignedDisplay<9>(r + 54) + SignedDisplay<5>(r + 63) + SignedDisplay<13>(r + 68) + SignedDisplay<3>(r + 81) +
           Packed<5>(r + 84) + Packed<3>(r + 89) + Packed<5>(r + 92) + Packed<9>(r + 97) + Packed<2>(r + 106) +
           Big16(r + 108) + Big32(r + 110) + Big64(r + 114) + Big16u(r + 122) + Little16(r + 124) +
           Little32(r + 126) + Little64(r + 130) + Little32u(r + 138) + Display<4>(r + 142) + Packed<6>(r + 146) +
           Display<2>(r + 152);
}

void Report(benchmark::State& state, int64_t sum) {
    if (sum != expectedSum) state.SkipWithError("decoded values differ from the hand-written decoder's");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * dataBytes);
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(dataBytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void HandWritten(benchmark::State& state) {
    int64_t sum = 0;
    for (auto _ : state) {
        FILE* file = std::fopen(dataPath.c_str(), "rb");
        if (file == nullptr) {
            state.SkipWithError("data file missing");
            return;
        }
        unsigned char record[kRecordLength + 10];
        sum = 0;
        while (std::fread(record, kRecordLength, 1, file) == 1) sum += DecodeByHand(record);
        std::fclose(file);
        benchmark::DoNotOptimize(sum);
    }
    Report(state, sum);
}

// Runs `body` on a record object of the bench copybook and data file; an exception
// skips the case with its message.
template <class Body>
void WithRecord(benchmark::State& state, Body body) {
    try {
        CopyRecord record(dataPath.c_str(), copybookPath.c_str());
        body(record);
    } catch (CException& failure) {
        state.SkipWithError(failure.GetMessageText());
    } catch (const char* text) {
        state.SkipWithError(text);
    }
}

// Reads the whole data file through `record` once per iteration, adding up
// `recordSum()` of every record.
template <class RecordSum>
void ReadEveryRecord(benchmark::State& state, CopyRecord& record, RecordSum recordSum) {
    int64_t sum = 0;
    for (auto _ : state) {
        record.Open(1);
        sum = 0;
        while (record.ReadRecord()) sum += recordSum();
        record.Close();
        benchmark::DoNotOptimize(sum);
    }
    Report(state, sum);
}

void ByItem(benchmark::State& state) {
    WithRecord(state, [&](CopyRecord& record) {
        CopyItem* items[kFieldCount];
        for (int i = 0; i < kFieldCount; ++i) {
            items[i] = record.FindItemByName(kFields[i].key);
            if (items[i] == nullptr || items[i]->position != kFields[i].offset + 1) {
                state.SkipWithError("the layout differs from the expected one");
                return;
            }
        }
        ReadEveryRecord(state, record, [&] {
            int64_t sum = 0;
            for (CopyItem* item : items) sum += record.GetInt64(item);
            return sum;
        });
    });
}

void ByName(benchmark::State& state) {
    WithRecord(state, [&](CopyRecord& record) {
        ReadEveryRecord(state, record, [&] {
            int64_t sum = 0;
            for (const Field& field : kFields) sum += record.GetInt64(field.key);
            return sum;
        });
    });
}

// Every variant must reach the sum that the hand-written decoder found while the
// file was generated.
BENCHMARK(HandWritten)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ByItem)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ByName)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarkProgram(argc, argv, "record_bench", Prepare, CleanUp); }
