// Data file decode and encode speed: a generated file of 200-byte records (display,
// signed display with GnuCOBOL's sign zones 0x3/0x7, packed, binary, COMP-5, national
// and text items; 26 numeric items) decoded by the data codec to CSV and to JSON Lines,
// beside a decoder and CSV writer hand-written for this one layout and a GnuCOBOL
// program writing the same CSV; and the CSV encoded back. Each reports MB/s of data file (CPU time) and the peak resident
// memory, which must not grow with the file.
//
// The data file is 100 MB; QB_DATA_BENCH_MB selects another size for a quick run. It,
// its CSV and the copybook are made in a temporary folder and removed at the end.
#include <benchmark/benchmark.h>

#include <emmintrin.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "cobcpy.h"
#include "data_run.h"
#ifdef QB_HAVE_SQLITE
#include <fcntl.h>
#include <sqlite3.h>

#include "sqlitesink.h"
#include "sqltable.h"
#endif

using namespace quillbox;

namespace {

constexpr int kRecordLength = 200;

enum Kind { kDisplay, kSignedDisplay, kPacked, kBinary, kComp5, kText, kNational };

struct Field {
    const char* name;
    const char* picture;
    Kind kind;
    int length;
    int scale;
};

const Field kFields[] = {
    {"ID", "9(8)", kDisplay, 8, 0},
    {"NAME", "X(20)", kText, 20, 0},
    {"KANJI", "N(10)", kNational, 20, 0},
    {"D1", "9(6)", kDisplay, 6, 0}, {"D2", "9(6)", kDisplay, 6, 0}, {"D3", "9(6)", kDisplay, 6, 0},
    {"D4", "9(6)", kDisplay, 6, 0}, {"D5", "9(6)", kDisplay, 6, 0},
    {"S1", "S9(5)V99", kSignedDisplay, 7, 2}, {"S2", "S9(5)V99", kSignedDisplay, 7, 2},
    {"S3", "S9(5)V99", kSignedDisplay, 7, 2}, {"S4", "S9(5)V99", kSignedDisplay, 7, 2},
    {"S5", "S9(5)V99", kSignedDisplay, 7, 2},
    {"P1", "S9(7)V99 COMP-3", kPacked, 5, 2}, {"P2", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"P3", "S9(7)V99 COMP-3", kPacked, 5, 2}, {"P4", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"P5", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"B1", "S9(9) COMP", kBinary, 4, 0}, {"B2", "S9(9) COMP", kBinary, 4, 0}, {"B3", "S9(9) COMP", kBinary, 4, 0},
    {"B4", "S9(9) COMP", kBinary, 4, 0}, {"B5", "S9(9) COMP", kBinary, 4, 0},
    {"C1", "S9(4) COMP-5", kComp5, 2, 0}, {"C2", "S9(4) COMP-5", kComp5, 2, 0}, {"C3", "S9(4) COMP-5", kComp5, 2, 0},
    {"C4", "S9(4) COMP-5", kComp5, 2, 0}, {"C5", "S9(4) COMP-5", kComp5, 2, 0},
    {"NOTE", "X(32)", kText, 32, 0},
};

std::string folder, copybookPath, dataPath, csvPath;
std::string cobolProgramPath;   // the compiled GnuCOBOL program; empty when not made
long long dataBytes = 0;
CopyAnalyzer* analyzer = nullptr;

void Generate(std::FILE* file, long long records) {
    std::mt19937_64 random(20261209);
    std::vector<unsigned char> record(kRecordLength);
    const char* kanji = "\x93\xFA\x96\x7B\x8C\xEA\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40";
    for (long long r = 0; r < records; ++r) {
        unsigned char* p = record.data();
        for (const Field& f : kFields) {
            uint64_t value = random();
            bool negative = (value >> 63) != 0;
            switch (f.kind) {
            case kDisplay:
            case kSignedDisplay: {
                uint64_t m = value % 10000000;
                for (int i = f.length - 1; i >= 0; --i, m /= 10) p[i] = static_cast<unsigned char>('0' + m % 10);
                if (f.kind == kSignedDisplay) p[f.length - 1] = static_cast<unsigned char>((p[f.length - 1] & 0x0F) | (negative ? 0x70 : 0x30));
                break;
            }
            case kPacked: {
                uint64_t m = value % 1000000000;
                p[f.length - 1] = static_cast<unsigned char>(((m % 10) << 4) | (negative ? 0x0D : 0x0C));
                m /= 10;
                for (int i = f.length - 2; i >= 0; --i, m /= 100) p[i] = static_cast<unsigned char>(((m / 10 % 10) << 4) | (m % 10));
                break;
            }
            case kBinary: {
                int32_t v = static_cast<int32_t>(static_cast<int64_t>(value % 1999999999) - 999999999);
                for (int i = 0; i < 4; ++i) p[3 - i] = static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i));
                break;
            }
            case kComp5: {
                int16_t v = static_cast<int16_t>(static_cast<int>(value % 19999) - 9999);
                p[0] = static_cast<unsigned char>(static_cast<uint16_t>(v));
                p[1] = static_cast<unsigned char>(static_cast<uint16_t>(v) >> 8);
                break;
            }
            case kText:
                std::memset(p, ' ', static_cast<size_t>(f.length));
                std::snprintf(reinterpret_cast<char*>(p), static_cast<size_t>(f.length), "Customer %llu",
                              static_cast<unsigned long long>(value % 100000));
                p[std::strlen(reinterpret_cast<char*>(p))] = ' ';
                break;
            case kNational:
                std::memcpy(p, kanji, 20);
                break;
            }
            p += f.length;
        }
        std::fwrite(record.data(), 1, kRecordLength, file);
    }
}

bool Prepare() {
    const long long megabytes = BenchMegabytes("QB_DATA_BENCH_MB");
    folder = MakeScratchFolder("quillbox_data_bench_");
    if (folder.empty()) return false;
    copybookPath = folder + "/DATAREC.cpy";
    dataPath = folder + "/DATAREC.dat";
    csvPath = folder + "/DATAREC.csv";
    std::string text = "       01 DATA-REC.\n";
    for (const Field& f : kFields) text += std::string("          05 ") + f.name + " PIC " + f.picture + ".\n";
    std::FILE* file = std::fopen(copybookPath.c_str(), "wb");
    if (file == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    long long records = megabytes * 1024 * 1024 / kRecordLength;
    dataBytes = records * kRecordLength;
    file = std::fopen(dataPath.c_str(), "wb");
    if (file == nullptr) return false;
    Generate(file, records);
    // Written out and read once, so that no benchmark meets the file's write-back or a
    // cold page cache.
    std::fflush(file);
    fsync(fileno(file));
    std::fclose(file);
    file = std::fopen(dataPath.c_str(), "rb");
    if (file == nullptr) return false;
    std::vector<char> block(1 << 20);
    while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
    }
    std::fclose(file);
    analyzer = new CopyAnalyzer(copybookPath.c_str());
    analyzer->Analyze();
    return analyzer->GetRecordLength() == kRecordLength;
}

void Cleanup() {
    delete analyzer;
    if (!cobolProgramPath.empty()) std::remove(cobolProgramPath.c_str());
    std::remove(copybookPath.c_str());
    std::remove(dataPath.c_str());
    std::remove(csvPath.c_str());
    rmdir(folder.c_str());
}

void PeakMemory(benchmark::State& state) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (same) {
        size_t na = std::fread(ba.data(), 1, ba.size(), fa), nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

int RunCodec(bool decode, const std::string& from, const std::string& to, TableFormat format = TableFormat::kCsv,
             int threads = 1) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    std::FILE* err = std::fopen("/dev/null", "wb");
    DataOptions options;
    options.format = format;
    options.signZonesGiven = true;   // GnuCOBOL's sign zones, so that its program reads the same file
    options.positiveZone = 0x30;
    options.negativeZone = 0x70;
    options.threads = threads;
    int status = decode ? DecodeData(analyzer->GetHead(), kRecordLength, options, in, out, err)
                        : EncodeData(analyzer->GetHead(), kRecordLength, options, in, out, err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return status;
}

void BM_DecodeToCsv(benchmark::State& state) {
    for (auto _ : state) {
        if (RunCodec(true, dataPath, "/dev/null") != kExitDone) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}

// JSON Lines of the same records: groups as objects, every key written for every row.
void BM_DecodeToJsonl(benchmark::State& state) {
    for (auto _ : state) {
        if (RunCodec(true, dataPath, "/dev/null", TableFormat::kJsonl) != kExitDone) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}

// The CPU time of every thread of the process so far, in seconds.
double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Beside a wall time: the CPU time of all threads a run took, which a busy machine does
// not inflate as it does the wall time (a second thread should cost little more CPU
// than one).
void CpuAllThreads(benchmark::State& state, double before) {
    state.counters["cpu_all_threads_s"] =
        benchmark::Counter((ProcessCpuSeconds() - before) / static_cast<double>(state.iterations()));
}

// Decode on 1 and 2 threads (the first argument: 0 CSV, 1 JSON Lines; the second: the
// threads), in wall time, since the CPU time of a run on several threads is no measure of
// how long it takes.
void BM_DecodeThreads(benchmark::State& state) {
    const TableFormat format = state.range(0) == 0 ? TableFormat::kCsv : TableFormat::kJsonl;
    const int threads = static_cast<int>(state.range(1));
    state.SetLabel(std::string(format == TableFormat::kCsv ? "csv" : "jsonl") + ", " + std::to_string(threads) +
                   (threads == 1 ? " thread" : " threads"));
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        if (RunCodec(true, dataPath, "/dev/null", format, threads) != kExitDone) state.SkipWithError("decode failed");
    }
    CpuAllThreads(state, cpu);
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}

// Encode from CSV on 1 and 2 threads (the argument), in wall time.
void BM_EncodeThreads(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    state.SetLabel(std::string("csv, ") + std::to_string(threads) + (threads == 1 ? " thread" : " threads"));
    if (RunCodec(true, dataPath, csvPath) != kExitDone) {
        state.SkipWithError("decode failed");
        return;
    }
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        if (RunCodec(false, csvPath, "/dev/null", TableFormat::kCsv, threads) != kExitDone) {
            state.SkipWithError("encode failed");
        }
    }
    CpuAllThreads(state, cpu);
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
    std::remove(csvPath.c_str());
}

#ifdef QB_HAVE_SQLITE
// The rows of a decode kept in memory, each value already in its column's form.
class CapturedRows : public quillbox::RowSink {
public:
    bool Begin(const LayoutPlan& plan) override {
        forms = quillbox::SqliteRows::FormsOf(plan);
        insert = quillbox::SqliteRows::InsertSql(plan, "DATAREC");
        create = CreateTableSql(plan, "DATAREC", SqlDialect::kSqlite);
        return true;
    }
    bool Row(const LayoutPlan&, const RowCells& cells) override {
        rows.Add(forms, cells);
        return true;
    }
    bool Finish() override { return true; }
    std::vector<SqlValueForm> forms;
    std::string insert, create;
    quillbox::SqliteRows rows;
};

double WallSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ThreadCpuSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Syncs the file or folder `path`; false when that failed.
bool SyncPath(const std::string& path, bool folder) {
    int fd = open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// What one SQLite load or floor took: wall seconds, and the CPU seconds of the inserts
// (the floor: its one thread; the load: its inserting thread and its commit).
struct LoadTime {
    double wall = 0, insertCpu = 0;
    bool ok = false;
};

// decode --format sqlite of the data file into a new database `db` on `threads` threads,
// as the command line runs it: one database, one transaction, the commit after the run.
LoadTime SqliteLoad(const std::string& db, int threads) {
    LoadTime time;
    std::remove(db.c_str());
    std::FILE* in = std::fopen(dataPath.c_str(), "rb");
    std::FILE* err = std::fopen("/dev/null", "wb");
    DataOptions options;
    options.format = TableFormat::kSqlite;
    options.signZonesGiven = true;
    options.positiveZone = 0x30;
    options.negativeZone = 0x70;
    options.threads = threads;
    const double start = WallSeconds();
    double commitCpu = 0, insertCpu = 0;
    {
        quillbox::SqliteDatabase database(db);
        quillbox::SqliteSink sink(database, "DATAREC", quillbox::IfExists::kFail);
        const int status = DecodeData(analyzer->GetHead(), kRecordLength, options, in, sink, err);
        const double cpuBefore = ThreadCpuSeconds();
        time.ok = status == kExitDone && sink.Finish() && database.Commit();
        commitCpu = ThreadCpuSeconds() - cpuBefore;
        insertCpu = database.InsertingCpuSeconds();
    }
    time.wall = WallSeconds() - start;
    time.insertCpu = insertCpu + commitCpu;
    std::fclose(in);
    std::fclose(err);
    std::remove(db.c_str());
    return time;
}

// SQLite's own floor for that load: the same rows, decoded and parsed in memory
// beforehand, inserted into a new database by one prepared statement in one transaction,
// with the load's pragmas (no journal, no sync until the end), and the file and its
// folder synced at the end as the load syncs them.
LoadTime SqliteFloor(const std::string& db, const CapturedRows& captured) {
    LoadTime time;
    std::remove(db.c_str());
    const double start = WallSeconds(), cpuBefore = ThreadCpuSeconds();
    sqlite3* handle = nullptr;
    sqlite3_stmt* insert = nullptr;
    bool ok = sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                              nullptr) == SQLITE_OK;
    for (const std::string& sql : {std::string("PRAGMA journal_mode = OFF"), std::string("PRAGMA synchronous = OFF"),
                                   std::string("BEGIN IMMEDIATE"), captured.create}) {
        ok = ok && sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ok = ok && sqlite3_prepare_v2(handle, captured.insert.c_str(), -1, &insert, nullptr) == SQLITE_OK;
    for (size_t row = 0; ok && row < captured.rows.Rows(); ++row) {
        captured.rows.Bind(insert, row);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(handle);
    ok = ok && SyncPath(db, false) && SyncPath(folder, true);
    time.insertCpu = ThreadCpuSeconds() - cpuBefore;
    time.wall = WallSeconds() - start;
    time.ok = ok;
    std::remove(db.c_str());
    return time;
}

// The SQLite load against its floor, run in turns in one process (QB_SQLITE_ROUNDS
// rounds, at least 5; which of the two goes first alternates), each figure the fastest
// of its rounds, since a database's final sync alone varies by a third from one run to
// the next. The argument: the load's threads. Reported: the wall times and their ratio,
// and the CPU of the inserts beside the floor's CPU (the fair comparison when other
// work takes the cores), with the machine's load average.
void BM_SqliteLoadAgainstFloor(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    int rounds = 5;
    if (const char* given = std::getenv("QB_SQLITE_ROUNDS")) rounds = std::max(5, std::atoi(given));
    CapturedRows captured;
    {
        std::FILE* in = std::fopen(dataPath.c_str(), "rb");
        std::FILE* err = std::fopen("/dev/null", "wb");
        DataOptions options;
        options.format = TableFormat::kSqlite;
        options.signZonesGiven = true;
        options.positiveZone = 0x30;
        options.negativeZone = 0x70;
        int status = DecodeData(analyzer->GetHead(), kRecordLength, options, in, captured, err);
        std::fclose(in);
        std::fclose(err);
        if (status != kExitDone) {
            state.SkipWithError("decode failed");
            return;
        }
    }
    double loadAverage[1] = {0};
    getloadavg(loadAverage, 1);
    const std::string loadDb = dataPath + ".db", floorDb = dataPath + ".floor.db";
    LoadTime load, floor;
    load.wall = load.insertCpu = floor.wall = floor.insertCpu = 1e30;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            LoadTime a, b;
            if (round % 2 == 0) {
                a = SqliteLoad(loadDb, threads);
                b = SqliteFloor(floorDb, captured);
            } else {
                b = SqliteFloor(floorDb, captured);
                a = SqliteLoad(loadDb, threads);
            }
            if (!a.ok || !b.ok) {
                state.SkipWithError(!a.ok ? "the load failed" : "the floor's inserts failed");
                return;
            }
            load.wall = std::min(load.wall, a.wall);
            load.insertCpu = std::min(load.insertCpu, a.insertCpu);
            floor.wall = std::min(floor.wall, b.wall);
            floor.insertCpu = std::min(floor.insertCpu, b.insertCpu);
        }
        state.SetIterationTime(load.wall);
    }
    double loadAfter[1] = {0};
    getloadavg(loadAfter, 1);
    state.SetLabel(std::to_string(threads) + (threads == 1 ? " thread" : " threads") + ", min of " +
                   std::to_string(rounds) + " interleaved");
    state.counters["load_ms"] = load.wall * 1e3;
    state.counters["floor_ms"] = floor.wall * 1e3;
    state.counters["load/floor"] = load.wall / floor.wall;
    state.counters["insert_cpu_ms"] = load.insertCpu * 1e3;
    state.counters["floor_cpu_ms"] = floor.insertCpu * 1e3;
    state.counters["insert_cpu/floor_cpu"] = load.insertCpu / floor.insertCpu;
    state.counters["loadavg_start"] = loadAverage[0];
    state.counters["loadavg_end"] = loadAfter[0];
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}
#endif

// ---- The hand-written decoder and CSV writer for this one layout --------------------
//
// Written for speed as a skilled programmer would for one layout: blocks of whole
// records read with read(2); every item at its fixed offset, without a loop over a list
// of items; digits assembled in SSE registers (packed nibbles spread by an unpack,
// leading zeros found by one compare and a bit scan), binary numbers turned into digits
// by multiplications (no division instruction); text checked 16 bytes at a time for the
// characters CSV must quote; the national item through a Shift_JIS double-byte to UTF-8
// table made once; everything written into one large buffer and out with write(2). It
// checks no byte beyond what its output needs: the codec's checks are its own cost. Its
// CSV is the codec's, byte for byte (checked once per run).

struct HandTables {
    char utf8[65536][4];         // Shift_JIS double-byte character: UTF-8 (length in utf8Length)
    unsigned char utf8Length[65536];
};

const HandTables& Tables() {
    static const HandTables* tables = [] {
        HandTables* t = new HandTables();
        iconv_t cd = iconv_open("UTF-8", "CP932");
        for (int code = 0x8100; code < 0x10000; ++code) {
            char in[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
            char* from = in;
            char* to = t->utf8[code];
            size_t left = 2, room = 4;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0) {
                t->utf8Length[code] = static_cast<unsigned char>(to - t->utf8[code]);
            }
        }
        iconv_close(cd);
        return t;
    }();
    return *tables;
}

// `n` ASCII digits in `digits` (a register; lanes past n are ignored) with `scale` after
// the point: leading zeros dropped (one kept before the point), a minus sign when
// negative and not zero. `out` has 32 bytes of room.
inline char* PutDigits(char* out, __m128i digits, int n, int scale, bool negative) {
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0'))));
    const unsigned used = (1u << n) - 1;
    const unsigned nonZero = ~zeros & used;
    // Leading zeros, at most all but the last before the point.
    const int whole = n - scale;
    unsigned lead = static_cast<unsigned>(__builtin_ctz(nonZero | (1u << (whole - 1))));
    alignas(16) char text[32];
    _mm_store_si128(reinterpret_cast<__m128i*>(text), digits);
    _mm_store_si128(reinterpret_cast<__m128i*>(text + 16), _mm_setzero_si128());
    *out = '-';
    out += negative && nonZero != 0;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + lead)));
    out += whole - static_cast<int>(lead);
    if (scale > 0) {
        *out++ = '.';
        std::memcpy(out, text + whole, 2);   // every scale of this layout is 2
        out += scale;
    }
    return out;
}

inline __m128i Load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// A display number of `n` digits at `p`.
inline char* PutDisplay(char* out, const unsigned char* p, int n) { return PutDigits(out, Load16(p), n, 0, false); }

// A signed display number of 7 digits, 2 after the point, the sign in the last byte's
// zone (0x3 positive, 0x7 negative: GnuCOBOL's).
inline char* PutSignedDisplay(char* out, const unsigned char* p) {
    const unsigned char last = p[6];
    __m128i digits = Load16(p);
    // The last byte's zone made a digit's.
    digits = _mm_insert_epi16(digits, (p[7] << 8) | ('0' | (last & 0x0F)), 3);
    return PutDigits(out, digits, 7, 2, (last >> 4) == 7);
}

// A packed number of 5 bytes: 9 digits, 2 after the point, the sign in the last nibble.
inline char* PutPacked(char* out, const unsigned char* p) {
    const __m128i bytes = Load16(p);
    const __m128i low = _mm_and_si128(bytes, _mm_set1_epi8(0x0F));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
    const __m128i digits = _mm_add_epi8(_mm_unpacklo_epi8(high, low), _mm_set1_epi8('0'));
    return PutDigits(out, digits, 9, 2, (p[4] & 0x0F) == 0x0D);
}

// The 5 decimal digits of `x` (below 10^5) as ASCII at `d`: x / 10^4 as a fraction of
// 2^32 (rounded up: the error stays below one in the last digit), each digit the whole
// part of the fraction left times 10.
inline void FiveDigits(uint32_t x, unsigned char* d) {
    uint64_t y = uint64_t{x} * 429497u;
    d[0] = static_cast<unsigned char>('0' + (y >> 32));
    for (int i = 1; i < 5; ++i) {
        y = (y & 0xFFFFFFFFu) * 10;
        d[i] = static_cast<unsigned char>('0' + (y >> 32));
    }
}

// The 10 decimal digits of `v` (below 10^10) as ASCII in a register.
inline __m128i TenDigits(uint64_t v) {
    alignas(16) unsigned char d[16] = {};
    const uint64_t top = v / 100000;   // a constant: a multiplication and a shift
    FiveDigits(static_cast<uint32_t>(top), d);
    FiveDigits(static_cast<uint32_t>(v - top * 100000), d + 5);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(d));
}

inline char* PutInteger(char* out, int64_t value) {
    const uint64_t m = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return PutDigits(out, TenDigits(m), 10, 0, value < 0);
}

// Text of `n` bytes (16 < n <= 32) at `p`: as it is, or quoted when it holds a comma,
// a quote or a line break. False for a byte of 0x80 or more (Shift_JIS text: not in this file).
inline bool PutText(char*& out, const unsigned char* p, int n) {
    const __m128i a = Load16(p), b = Load16(p + n - 16);
    auto special = [](__m128i v) {
        return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    };
    if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) return false;
    if (_mm_movemask_epi8(_mm_or_si128(special(a), special(b))) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16), b);
        out += n;
        return true;
    }
    *out++ = '"';
    for (int i = 0; i < n; ++i) {
        if (p[i] == '"') *out++ = '"';
        *out++ = static_cast<char>(p[i]);
    }
    *out++ = '"';
    return true;
}

// Reads until `room` bytes or the end; the bytes read, -1 on an error.
ssize_t ReadFull(int fd, unsigned char* to, size_t room) {
    size_t got = 0;
    while (got < room) {
        ssize_t n = read(fd, to + got, room - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool WriteFull(int fd, const char* from, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, from, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        from += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The hand-written decoder from `from` into `to`; false when a file cannot be opened,
// read or written.
bool HandWrittenCsv(const std::string& from, const std::string& to) {
    const HandTables& t = Tables();
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = in >= 0 && out >= 0;
    constexpr size_t kBlock = (4 << 20) / kRecordLength * kRecordLength;
    constexpr size_t kFlush = 4 << 20;
    // Made once: pages touched afresh on every run would cost more than the decoding.
    static const std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock + 64]());
    static const std::unique_ptr<char[]> buffer(new char[kFlush + 64 * 1024]());
    char* const start = buffer.get();
    char* o = start;
    for (const Field& f : kFields) {
        size_t n = std::strlen(f.name);
        std::memcpy(o, f.name, n);
        o += n;
        *o++ = ',';
    }
    o[-1] = '\n';
    ssize_t got = 0;
    while (ok && (got = ReadFull(in, block.get(), kBlock)) > 0) {
        const unsigned char* const end = block.get() + got / kRecordLength * kRecordLength;
        for (const unsigned char* p = block.get(); p < end && ok; p += kRecordLength) {
            o = PutDisplay(o, p, 8);                       // ID
            *o++ = ',';
            ok = PutText(o, p + 8, 20);                    // NAME
            *o++ = ',';
            for (int i = 0; i < 20; i += 2) {              // KANJI
                const unsigned code = (unsigned{p[28 + i]} << 8) | p[29 + i];
                std::memcpy(o, t.utf8[code], 4);
                o += t.utf8Length[code];
            }
            *o++ = ',';
            const unsigned char* q = p + 48;
            for (int i = 0; i < 5; ++i, q += 6) {          // D1-D5
                o = PutDisplay(o, q, 6);
                *o++ = ',';
            }
            for (int i = 0; i < 5; ++i, q += 7) {          // S1-S5
                o = PutSignedDisplay(o, q);
                *o++ = ',';
            }
            for (int i = 0; i < 5; ++i, q += 5) {          // P1-P5
                o = PutPacked(o, q);
                *o++ = ',';
            }
            for (int i = 0; i < 5; ++i, q += 4) {          // B1-B5
                uint32_t v;
                std::memcpy(&v, q, 4);
                o = PutInteger(o, static_cast<int32_t>(__builtin_bswap32(v)));
                *o++ = ',';
            }
            for (int i = 0; i < 5; ++i, q += 2) {          // C1-C5
                int16_t v;
                std::memcpy(&v, q, 2);
                o = PutInteger(o, v);
                *o++ = ',';
            }
            ok = ok && PutText(o, q, 32);                  // NOTE
            *o++ = '\n';
            if (static_cast<size_t>(o - start) >= kFlush) {
                ok = ok && WriteFull(out, start, static_cast<size_t>(o - start));
                o = start;
            }
        }
    }
    ok = ok && got == 0 && WriteFull(out, start, static_cast<size_t>(o - start));
    if (in >= 0) close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    return ok;
}

void BM_HandWrittenCsv(benchmark::State& state) {
    Tables();
    for (auto _ : state) {
        if (!HandWrittenCsv(dataPath, "/dev/null")) state.SkipWithError("the hand-written decoder failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
    // Its CSV must be the codec's.
    std::string handPath = folder + "/hand.csv";
    if (!HandWrittenCsv(dataPath, handPath) || RunCodec(true, dataPath, csvPath) != kExitDone ||
        !SameFile(handPath, csvPath)) {
        state.SkipWithError("the hand-written CSV differs from the codec's");
    }
    std::remove(handPath.c_str());
    std::remove(csvPath.c_str());
}

void BM_EncodeFromCsv(benchmark::State& state) {
    if (RunCodec(true, dataPath, csvPath) != kExitDone) {
        state.SkipWithError("decode failed");
        return;
    }
    for (auto _ : state) {
        if (RunCodec(false, csvPath, "/dev/null") != kExitDone) state.SkipWithError("encode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
    std::remove(csvPath.c_str());
}

// ---- GnuCOBOL: a program reading the same file with the same copybook -------------
//
// Compiled with cobc -x at run time (skipped with a message when cobc is missing): it
// reads the records, moves every number to a numeric-edited item and strings the
// trimmed values, the text and the national item's bytes (COBOL has no Shift_JIS to
// UTF-8 conversion; they are copied as they are) into a CSV line. Its numbers are
// checked against the codec's CSV. Time and peak memory are those of the program's
// process (CPU time of the child).

bool HaveCobc() { return std::system("command -v cobc >/dev/null 2>&1") == 0; }

std::string CobolName(const Field& f) { return std::strcmp(f.name, "ID") == 0 ? "REC-ID" : f.name; }

std::string CobolProgram() {
    std::vector<std::string> lines = {
        "IDENTIFICATION DIVISION.", "PROGRAM-ID. DATACSV.", "ENVIRONMENT DIVISION.", "INPUT-OUTPUT SECTION.",
        "FILE-CONTROL.", "    SELECT IN-FILE ASSIGN TO IN-NAME", "        ORGANIZATION SEQUENTIAL.",
        "    SELECT OUT-FILE ASSIGN TO OUT-NAME", "        ORGANIZATION LINE SEQUENTIAL.", "DATA DIVISION.",
        "FILE SECTION.", "FD IN-FILE.", "COPY \"DATAREC.cpy\" REPLACING ==ID== BY ==REC-ID==.",
        "FD OUT-FILE RECORD VARYING 1 TO 600 DEPENDING ON WS-LEN.", "01 OUT-LINE PIC X(600).",
        "WORKING-STORAGE SECTION.", "01 IN-NAME PIC X(512).", "01 OUT-NAME PIC X(512).",
        "01 WS-EOF PIC X VALUE \"N\".", "01 WS-PTR PIC 9(4) COMP.", "01 WS-LEN PIC 9(4) COMP.",
        "01 WS-QUOTES PIC 9(4) COMP."};
    for (const Field& f : kFields) {
        const char* edited = nullptr;
        switch (f.kind) {
        case kDisplay: edited = f.length == 8 ? "Z(7)9" : "Z(5)9"; break;
        case kSignedDisplay: edited = "-(5)9.99"; break;
        case kPacked: edited = "-(7)9.99"; break;
        case kBinary: edited = "-(9)9"; break;
        case kComp5: edited = "-(4)9"; break;
        default: break;
        }
        if (edited != nullptr) lines.push_back(std::string("01 E-") + f.name + " PIC " + edited + ".");
    }
    lines.insert(lines.end(), {"PROCEDURE DIVISION.", "    ACCEPT IN-NAME FROM ARGUMENT-VALUE.",
                               "    ACCEPT OUT-NAME FROM ARGUMENT-VALUE.", "    OPEN INPUT IN-FILE.",
                               "    OPEN OUTPUT OUT-FILE.", "    MOVE 1 TO WS-PTR."});
    for (const Field& f : kFields) {
        lines.push_back(std::string("    STRING \"") + (&f == &kFields[0] ? "" : ",") + f.name + "\"");
        lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
    }
    lines.insert(lines.end(), {"    COMPUTE WS-LEN = WS-PTR - 1.", "    WRITE OUT-LINE.",
                               "    PERFORM UNTIL WS-EOF = \"Y\"", "        READ IN-FILE",
                               "            AT END MOVE \"Y\" TO WS-EOF", "            NOT AT END PERFORM WRITE-ROW",
                               "        END-READ", "    END-PERFORM.", "    CLOSE IN-FILE OUT-FILE.",
                               "    STOP RUN.", "WRITE-ROW.", "    MOVE 1 TO WS-PTR."});
    int offset = 1;
    for (const Field& f : kFields) {
        const std::string name = CobolName(f);
        const std::string comma = &f == &kFields[sizeof kFields / sizeof kFields[0] - 1] ? "" : " \",\"";
        switch (f.kind) {
        case kText:
            lines.push_back("    MOVE 0 TO WS-QUOTES.");
            lines.push_back("    INSPECT " + name + " TALLYING WS-QUOTES FOR ALL \",\" ALL '\"'.");
            lines.push_back("    IF WS-QUOTES = 0");
            lines.push_back("        STRING " + name + comma);
            lines.push_back("            DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR");
            lines.push_back("    ELSE");
            lines.push_back("        STRING '\"' " + name + " '\"'" + comma);
            lines.push_back("            DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR");
            lines.push_back("    END-IF.");
            break;
        case kNational:
            lines.push_back("    STRING DATA-REC(" + std::to_string(offset) + ":" + std::to_string(f.length) + ")" + comma);
            lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
            break;
        default:
            lines.push_back("    MOVE " + name + " TO E-" + f.name + ".");
            lines.push_back(std::string("    STRING FUNCTION TRIM(E-") + f.name + ")" + comma);
            lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
            break;
        }
        offset += f.length;
    }
    lines.insert(lines.end(), {"    COMPUTE WS-LEN = WS-PTR - 1.", "    WRITE OUT-LINE."});
    std::string text;
    for (const std::string& line : lines) text += "       " + line + "\n";
    return text;
}

// Compiles the program once; a message when it cannot.
std::string MakeCobolProgram() {
    if (!cobolProgramPath.empty()) return std::string();
    if (!HaveCobc()) return "cobc (GnuCOBOL) is not installed: no GnuCOBOL program to compare with";
    std::string source = folder + "/DATACSV.cob", program = folder + "/datacsv", log = folder + "/cobc.log";
    std::FILE* file = std::fopen(source.c_str(), "wb");
    if (file == nullptr) return "cannot write the COBOL program";
    std::string text = CobolProgram();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::string command = "cobc -x -O2 -I '" + folder + "' -o '" + program + "' '" + source + "' >'" + log + "' 2>&1";
    bool built = std::system(command.c_str()) == 0;
    std::remove(source.c_str());
    if (!built) return "cobc refused the program (see " + log + ")";
    std::remove(log.c_str());
    cobolProgramPath = program;
    return std::string();
}

// The peak resident memory (kB) of the process `pid` so far; 0 when it cannot be read.
long PeakKilobytes(pid_t pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(static_cast<long>(pid)) + "/status").c_str(), "r");
    if (file == nullptr) return 0;
    char line[256];
    long peak = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::atol(line + 6);
    }
    std::fclose(file);
    return peak;
}

// Runs the program from the data file into `to`; its CPU time into `usage`, its peak
// resident memory into `peak` (kB). The peak is read from /proc while it runs: the
// child's ru_maxrss would count this process's memory, which it had before exec.
bool RunCobol(const std::string& to, struct rusage& usage, long& peak) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        execl(cobolProgramPath.c_str(), cobolProgramPath.c_str(), dataPath.c_str(), to.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    peak = 0;
    for (;;) {
        pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (done < 0) return false;
        long now = PeakKilobytes(child);
        if (now > peak) peak = now;
        usleep(2000);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double CpuSeconds(const struct rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> SplitLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',') fields.emplace_back();
        else fields.back().push_back(c);
    }
    return fields;
}

// The numbers of the first `lines` lines of the GnuCOBOL program's CSV and the codec's;
// `difference` tells the first line that differs.
bool SameNumbers(const std::string& cobolCsv, const std::string& codecCsv, int lines, std::string& difference) {
    std::FILE* a = std::fopen(cobolCsv.c_str(), "rb");
    std::FILE* b = std::fopen(codecCsv.c_str(), "rb");
    bool same = a != nullptr && b != nullptr;
    char la[2048], lb[2048];
    for (int n = 0; same && n < lines; ++n) {
        if (std::fgets(la, sizeof la, a) == nullptr || std::fgets(lb, sizeof lb, b) == nullptr) {
            same = n > 1;
            break;
        }
        std::vector<std::string> fa = SplitLine(la), fb = SplitLine(lb);
        same = fa.size() == fb.size() && fa.size() == sizeof kFields / sizeof kFields[0];
        for (size_t i = 0; same && i < fa.size(); ++i) {
            if (kFields[i].kind != kText && kFields[i].kind != kNational) same = fa[i] == fb[i];
        }
        if (!same) difference = std::string(": GnuCOBOL ") + la + "codec " + lb;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same;
}

void BM_GnuCobolCsv(benchmark::State& state) {
    std::string problem = MakeCobolProgram();
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    long peak = 0;
    for (auto _ : state) {
        struct rusage usage;
        long used = 0;
        if (!RunCobol("/dev/null", usage, used)) state.SkipWithError("the GnuCOBOL program failed");
        state.SetIterationTime(CpuSeconds(usage));
        if (used > peak) peak = used;
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
    struct rusage ignored;
    long ignoredPeak;
    std::string cobolCsv = folder + "/cobol.csv", difference;
    if (!RunCobol(cobolCsv, ignored, ignoredPeak) || RunCodec(true, dataPath, csvPath) != kExitDone ||
        !SameNumbers(cobolCsv, csvPath, 2000, difference)) {
        state.SkipWithError(("the GnuCOBOL program's numbers differ from the codec's" + difference).c_str());
    }
    std::remove(cobolCsv.c_str());
    std::remove(csvPath.c_str());
}

BENCHMARK(BM_DecodeToCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HandWrittenCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeToJsonl)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EncodeFromCsv)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DecodeThreads)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()
    ->Args({0, 1})->Args({0, 2})->Args({1, 1})->Args({1, 2});
BENCHMARK(BM_EncodeThreads)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime()->Arg(1)->Arg(2);
#ifdef QB_HAVE_SQLITE
BENCHMARK(BM_SqliteLoadAgainstFloor)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime()->Arg(1)->Arg(2);
#endif
BENCHMARK(BM_GnuCobolCsv)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) { return RunBenchmarkProgram(argc, argv, "data_bench", Prepare, Cleanup); }
