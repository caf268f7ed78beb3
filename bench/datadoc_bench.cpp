// The data window's document over a big file: how soon the first page of rows shows, how
// long going to the last record takes, and the memory, for a file of fixed records (indexed
// by arithmetic) and one of RDW records (indexed by a scan in slices, as the window runs it).
// The window's own tests check what these operations show; the times are measured here.
//
// The files hold the customer example's four records in turn: 1 GB by default,
// QB_DATADOC_BENCH_MB selects another size. The fixed file is sparse (its first and last
// blocks written), the RDW file written whole; both are made in a temporary folder and
// removed at the end. Each benchmark reports its rows and the peak resident memory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "cobcpy.h"
#include "datadoc.h"

namespace {

constexpr int kRecordLength = 200;
constexpr int kPage = 40;                     // rows of a first page
constexpr long long kBlockRecords = 5000;     // records written a block at a time
constexpr uint64_t kScanSlice = 4u << 20;     // the window's slice of the scan

std::string folder, fixedPath, rdwPath, copybookPath;
std::string customers;   // the example's four records
long long fixedRecords = 0, rdwRecords = 0;

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
    std::fclose(in);
    return true;
}

bool WriteAt(int fd, long long offset, const std::string& bytes) {
    return pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
}

std::string FixedBlock(long long first, long long records) {
    std::string bytes;
    for (long long record = first; record < first + kBlockRecords && record < records; ++record) {
        bytes.append(customers, static_cast<size_t>(record % 4) * kRecordLength, kRecordLength);
    }
    return bytes;
}

bool Prepare() {
    copybookPath = std::string(QB_SOURCE_DIR) + "/examples/CUSTMAST.cpy";
    if (!ReadFile(std::string(QB_SOURCE_DIR) + "/examples/custmast.dat", customers) ||
        customers.size() != 4u * kRecordLength) {
        return false;
    }
    folder = MakeScratchFolder("qb-datadoc-bench-");
    if (folder.empty()) return false;
    // 1 GB unless asked otherwise (BenchMegabytes' own default is 100).
    const long long size = (std::getenv("QB_DATADOC_BENCH_MB") == nullptr ? 1024 : BenchMegabytes("QB_DATADOC_BENCH_MB")) *
                           1024 * 1024;
    // Fixed records: the first and last blocks, a hole between.
    fixedPath = folder + "/fixed.dat";
    fixedRecords = size / kRecordLength;
    int fd = open(fixedPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const long long last = fixedRecords > kBlockRecords ? fixedRecords - kBlockRecords : 0;
    bool made = WriteAt(fd, 0, FixedBlock(0, fixedRecords)) &&
                ftruncate(fd, static_cast<off_t>(fixedRecords * kRecordLength)) == 0 &&
                WriteAt(fd, last * kRecordLength, FixedBlock(last, fixedRecords));
    made = close(fd) == 0 && made;
    if (!made) return false;
    // RDW records, written whole.
    rdwPath = folder + "/rdw.vb";
    std::string block;
    for (long long record = 0; record < kBlockRecords; ++record) {
        block += std::string("\x00\xCC\x00\x00", 4);   // 204 bytes with the descriptor
        block.append(customers, static_cast<size_t>(record % 4) * kRecordLength, kRecordLength);
    }
    std::FILE* out = std::fopen(rdwPath.c_str(), "wb");
    if (out == nullptr) return false;
    for (long long written = 0; written < size; written += static_cast<long long>(block.size())) {
        if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) {
            std::fclose(out);
            return false;
        }
        rdwRecords += kBlockRecords;
    }
    return std::fclose(out) == 0;
}

void CleanUp() {
    if (!fixedPath.empty()) std::remove(fixedPath.c_str());
    if (!rdwPath.empty()) std::remove(rdwPath.c_str());
    if (!folder.empty()) rmdir(folder.c_str());
}

// A document open on `path` (RDW when `rdw`), its layout kept beside it.
struct Opened {
    CopyAnalyzer analyzer{""};
    quillbox::DataDocument document;
    bool ok = false;
    Opened(const std::string& path, bool rdw) {
        analyzer.SetFileName(copybookPath.c_str());
        CopyItem* head = analyzer.Analyze();
        quillbox::DataOptions options;
        if (rdw) options.records = quillbox::RecordFormat::kRdw;
        std::string error;
        ok = document.Open(head, static_cast<int>(analyzer.GetRecordLength()), path, options, error);
        if (!ok) std::fprintf(stderr, "datadoc_bench: %s\n", error.c_str());
    }
};

// Reads the first page's rows; false when one is missing or bad.
bool FirstPage(quillbox::DataDocument& document) {
    for (long long row = 0; row < kPage; ++row) {
        const quillbox::DataDocument::ShownRow* shown = document.Row(row);
        if (shown == nullptr || shown->bad) return false;
    }
    return true;
}

// Goes to the last record as Ctrl+G does: scans up to it, reads its row and detail.
bool GoToLast(quillbox::DataDocument& document, long long records) {
    if (!document.ScanTo(records - 1, [](long long, long long) { return true; })) return false;
    const quillbox::DataDocument::ShownRow* shown = document.Row(records - 1);
    std::vector<quillbox::DataDocument::DetailLine> lines;
    return shown != nullptr && !shown->bad && document.Detail(records - 1, lines);
}

void Report(benchmark::State& state, long long rows) {
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peak_MB"] = PeakMegabytes();
}

void BM_FixedFirstPage(benchmark::State& state) {
    for (auto _ : state) {
        Opened opened(fixedPath, false);
        if (!opened.ok || !FirstPage(opened.document)) state.SkipWithError("first page not read");
    }
    Report(state, fixedRecords);
}
BENCHMARK(BM_FixedFirstPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FixedGoToLast(benchmark::State& state) {
    for (auto _ : state) {
        Opened opened(fixedPath, false);
        if (!opened.ok || !GoToLast(opened.document, fixedRecords)) state.SkipWithError("last record not read");
    }
    Report(state, fixedRecords);
}
BENCHMARK(BM_FixedGoToLast)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window shows the first page after the first slice of the scan.
void BM_RdwFirstPage(benchmark::State& state) {
    for (auto _ : state) {
        Opened opened(rdwPath, true);
        if (!opened.ok) state.SkipWithError("not opened");
        opened.document.ScanSome(kScanSlice);
        if (!FirstPage(opened.document)) state.SkipWithError("first page not read");
    }
    Report(state, rdwRecords);
}
BENCHMARK(BM_RdwFirstPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// Going to the last record scans the whole file.
void BM_RdwGoToLast(benchmark::State& state) {
    for (auto _ : state) {
        Opened opened(rdwPath, true);
        if (!opened.ok || !GoToLast(opened.document, rdwRecords)) state.SkipWithError("last record not read");
    }
    Report(state, rdwRecords);
}
BENCHMARK(BM_RdwGoToLast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    return RunBenchmarkProgram(argc, argv, "datadoc_bench", Prepare, CleanUp);
}
