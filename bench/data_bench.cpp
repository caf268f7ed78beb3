// Data file decode and encode speed: a generated file of 200-byte records (display,
// signed display, packed, binary, COMP-5, national and text items; 26 numeric items)
// decoded to CSV by the data codec, beside a decoder and CSV writer hand-written for
// this one layout; and the CSV encoded back. Each reports MB/s of data file and the
// process's peak resident memory, which must not grow with the file.
//
// The data file is 100 MB; QB_DATA_BENCH_MB selects another size for a quick run. It,
// its CSV and the copybook are made in a temporary folder and removed at the end.
#include <benchmark/benchmark.h>

#include <iconv.h>
#include <sys/resource.h>
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
#include "data_run.h"

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
                if (f.kind == kSignedDisplay) p[f.length - 1] = static_cast<unsigned char>((p[f.length - 1] & 0x0F) | (negative ? 0x50 : 0x40));
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
    std::fclose(file);
    analyzer = new CopyAnalyzer(copybookPath.c_str());
    analyzer->Analyze();
    return analyzer->GetRecordLength() == kRecordLength;
}

void Cleanup() {
    delete analyzer;
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

int RunCodec(bool decode, const std::string& from, const std::string& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    std::FILE* err = std::fopen("/dev/null", "wb");
    DataOptions options;
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

// ---- The hand-written decoder and CSV writer for this one layout --------------------

inline void AppendNumber(std::string& out, bool negative, uint64_t m, int scale) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    if (negative && !(n == 1 && digits[0] == '0')) out.push_back('-');
    if (scale > 0) {
        while (n <= scale) digits[n++] = '0';
        while (n > scale) out.push_back(digits[--n]);
        out.push_back('.');
    }
    while (n > 0) out.push_back(digits[--n]);
}

void BM_HandWrittenCsv(benchmark::State& state) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    for (auto _ : state) {
        std::FILE* in = std::fopen(dataPath.c_str(), "rb");
        std::FILE* out = std::fopen("/dev/null", "wb");
        std::vector<unsigned char> block(1 << 20);
        std::string csv;
        csv.reserve((1 << 20) + 4096);
        for (const Field& f : kFields) csv += std::string(f.name) + (&f == &kFields[28] ? "\n" : ",");
        size_t got;
        while ((got = std::fread(block.data(), 1, block.size() / kRecordLength * kRecordLength, in)) > 0) {
            for (size_t at = 0; at + kRecordLength <= got; at += kRecordLength) {
                const unsigned char* p = block.data() + at;
                for (const Field& f : kFields) {
                    uint64_t m = 0;
                    bool negative = false;
                    switch (f.kind) {
                    case kDisplay:
                    case kSignedDisplay:
                        for (int i = 0; i < f.length; ++i) m = m * 10 + (p[i] & 0x0F);
                        negative = f.kind == kSignedDisplay && (p[f.length - 1] >> 4) == 5;
                        AppendNumber(csv, negative, m, f.scale);
                        break;
                    case kPacked:
                        for (int i = 0; i < f.length; ++i) {
                            m = m * 10 + (p[i] >> 4);
                            if (i + 1 < f.length) m = m * 10 + (p[i] & 0x0F);
                        }
                        AppendNumber(csv, (p[f.length - 1] & 0x0F) == 0x0D, m, f.scale);
                        break;
                    case kBinary: {
                        int32_t v = static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
                        AppendNumber(csv, v < 0, v < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v), 0);
                        break;
                    }
                    case kComp5: {
                        int16_t v = static_cast<int16_t>(p[0] | (p[1] << 8));
                        AppendNumber(csv, v < 0, static_cast<uint64_t>(v < 0 ? -v : v), 0);
                        break;
                    }
                    case kText:
                        csv.append(reinterpret_cast<const char*>(p), static_cast<size_t>(f.length));
                        break;
                    case kNational: {
                        char utf8[64];
                        char* from = const_cast<char*>(reinterpret_cast<const char*>(p));
                        size_t left = static_cast<size_t>(f.length), room = sizeof utf8;
                        char* to = utf8;
                        iconv(cd, &from, &left, &to, &room);
                        csv.append(utf8, static_cast<size_t>(to - utf8));
                        break;
                    }
                    }
                    csv.push_back(f.kind == kText && f.length == 32 ? '\n' : ',');
                    p += f.length;
                }
            }
            std::fwrite(csv.data(), 1, csv.size(), out);
            csv.clear();
        }
        std::fclose(in);
        std::fclose(out);
    }
    iconv_close(cd);
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
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

BENCHMARK(BM_DecodeToCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HandWrittenCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EncodeFromCsv)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarkProgram(argc, argv, "data_bench", Prepare, Cleanup); }
