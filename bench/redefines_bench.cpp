// REDEFINES lookup cost against the number of entries. Every entry after the first
// item redefines that first item, so a lookup that walks back to it costs the whole
// list each time; through the parser's name index it costs the same at any length.
// Items per second of BM_RedefinesFirstItem at 100,000 entries should stay within 1.5
// times the per-item cost at 10,000. BM_PlainEntries, the same entries without the
// REDEFINES clause, is the baseline: what the rest of the analysis costs per entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cobcpy.h"

namespace {

std::string BenchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("quillbox_bench_" + name + ".cpy")).string();
}

// A record of `entries` items of eight bytes after the first, each redefining the
// first (or, for the baseline, standing beside it).
std::string Copybook(long entries, bool redefines) {
    std::string text = "       01  BENCH-REC.\n           05  FIRST-ITEM PIC X(8).\n";
    char line[96];
    for (long i = 1; i <= entries; ++i) {
        std::snprintf(line, sizeof line, "           05  ITEM-%07ld %sPIC X(8).\n", i,
                      redefines ? "REDEFINES FIRST-ITEM " : "");
        text += line;
    }
    return text;
}

void Run(benchmark::State& state, bool redefines) {
    const std::string path = BenchFile(std::string(redefines ? "redefines_" : "plain_") + std::to_string(state.range(0)));
    const std::string text = Copybook(state.range(0), redefines);
    if (!WriteTextFile(path.c_str(), text.data(), text.size())) std::abort();
    CopyAnalyzer analyzer(path.c_str());
    unsigned items = 0;
    for (auto _ : state) {
        analyzer.FreeItems();
        benchmark::DoNotOptimize(analyzer.Analyze());
        items = analyzer.GetItemCount();
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
    state.counters["items"] = items;
}

void BM_RedefinesFirstItem(benchmark::State& state) { Run(state, true); }
void BM_PlainEntries(benchmark::State& state) { Run(state, false); }

BENCHMARK(BM_RedefinesFirstItem)->Arg(10000)->Arg(40000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainEntries)->Arg(10000)->Arg(40000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
