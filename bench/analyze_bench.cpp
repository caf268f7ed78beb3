// Analysis cost against the size of the source and of the expanded list. Each case
// analyses a generated copybook file and reports the items of the finished list per
// second; the cost per item should stay flat from the smallest to the largest case.
//
// The Cobol cases run the COBOL-rules analysis (CobolAnalyzer) over the same generated
// copybooks, and over the real copybooks of ../shared/corpus-raw beside the analysis of
// their normalized versions in ../shared/corpus (when those folders are present): per
// item it should stay within 1.5 times the cost of the analysis above.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cobolrules.h"

namespace {

std::string BenchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("quillbox_bench_" + name + ".cpy")).string();
}

void WriteFile(const std::string& path, const std::string& text) {
    if (!WriteTextFile(path.c_str(), text.data(), text.size())) std::abort();
}

// `entries` entries in groups of ten: a group, eight elementary items of mixed usage
// with a remark, and one REDEFINES of the item before it.
std::string EntriesCopybook(long entries) {
    std::string text = "       01  BENCH-REC.\n";
    char line[128];
    for (long i = 1; i < entries; i += 10) {
        std::snprintf(line, sizeof line, "           05  GRP-%07ld.\n", i);
        text += line;
        const char* pictures[] = {"PIC X(10)", "PIC 9(5)", "PIC S9(7)V99 COMP-3", "PIC S9(4) COMP",
                                  "PIC N(4)",  "PIC 9(9) COMP-5", "PIC ZZ,ZZ9.99", "PIC X(3)"};
        for (int k = 0; k < 8; ++k) {
            std::snprintf(line, sizeof line, "               10  F%d-%07ld  %s.   *> field %d\n", k, i,
                          pictures[k], k);
            text += line;
        }
        std::snprintf(line, sizeof line, "               10  R-%07ld REDEFINES F7-%07ld PIC 9(3).\n", i, i);
        text += line;
    }
    return text;
}

// A nested array expanding to `items` items: each occurrence of the outer group holds
// one item and an inner array of eight.
std::string ArrayCopybook(long items) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "       01  BENCH-REC.\n"
                  "           05  ROW OCCURS %ld.\n"
                  "               10  ROW-KEY   PIC X(4).\n"
                  "               10  ROW-AMT   PIC S9(5) COMP-3 OCCURS 8.\n",
                  items / 10);
    return text;
}

template <class Analyzer = CopyAnalyzer>
void RunAnalysis(benchmark::State& state, const std::string& path) {
    unsigned items = 0;
    Analyzer analyzer(path.c_str());
    for (auto _ : state) {
        analyzer.FreeItems();
        benchmark::DoNotOptimize(analyzer.Analyze());
        items = analyzer.GetItemCount();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
    state.counters["items"] = items;
}

void BM_AnalyzeEntries(benchmark::State& state) {
    const std::string path = BenchFile("entries_" + std::to_string(state.range(0)));
    WriteFile(path, EntriesCopybook(state.range(0)));
    RunAnalysis(state, path);
    std::remove(path.c_str());
}

void BM_AnalyzeArray(benchmark::State& state) {
    const std::string path = BenchFile("array_" + std::to_string(state.range(0)));
    WriteFile(path, ArrayCopybook(state.range(0)));
    RunAnalysis(state, path);
    std::remove(path.c_str());
}

void BM_CobolAnalyzeEntries(benchmark::State& state) {
    const std::string path = BenchFile("cobol_entries_" + std::to_string(state.range(0)));
    WriteFile(path, EntriesCopybook(state.range(0)));
    RunAnalysis<CobolAnalyzer>(state, path);
    std::remove(path.c_str());
}

void BM_CobolAnalyzeArray(benchmark::State& state) {
    const std::string path = BenchFile("cobol_array_" + std::to_string(state.range(0)));
    WriteFile(path, ArrayCopybook(state.range(0)));
    RunAnalysis<CobolAnalyzer>(state, path);
    std::remove(path.c_str());
}

// The copybooks of a folder of the shared corpus that `Analyzer` accepts, sorted.
template <class Analyzer>
std::vector<std::string> AcceptedCopybooks(const char* folder) {
    std::vector<std::string> paths;
    const std::filesystem::path dir = std::filesystem::path(QB_SOURCE_DIR) / ".." / "shared" / folder;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        if (entry.path().extension() != ".cpy") continue;
        const std::string path = entry.path().string();
        try {
            Analyzer analyzer(path.c_str());
            analyzer.Analyze();
            paths.push_back(path);
        } catch (...) {
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Every accepted copybook of the folder analysed once per iteration; items per second.
template <class Analyzer>
void RunCorpus(benchmark::State& state, const char* folder) {
    const std::vector<std::string> paths = AcceptedCopybooks<Analyzer>(folder);
    if (paths.empty()) {
        state.SkipWithError("no copybook of the shared corpus folder is present");
        return;
    }
    std::vector<std::unique_ptr<Analyzer>> analyzers;
    for (const std::string& path : paths) analyzers.emplace_back(new Analyzer(path.c_str()));
    unsigned items = 0;
    for (auto _ : state) {
        items = 0;
        for (auto& analyzer : analyzers) {
            analyzer->FreeItems();
            benchmark::DoNotOptimize(analyzer->Analyze());
            items += analyzer->GetItemCount();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
    state.counters["items"] = items;
    state.counters["files"] = static_cast<double>(paths.size());
}

// The normalized corpus under the seed rules, the raw corpus under the COBOL rules.
void BM_AnalyzeCorpus(benchmark::State& state) { RunCorpus<CopyAnalyzer>(state, "corpus"); }
void BM_CobolAnalyzeCorpusRaw(benchmark::State& state) { RunCorpus<CobolAnalyzer>(state, "corpus-raw"); }
// The normalized corpus under the COBOL rules: the same text under both analyses.
void BM_CobolAnalyzeCorpus(benchmark::State& state) { RunCorpus<CobolAnalyzer>(state, "corpus"); }

// Reference for the array cases: one read of every node of the finished list, the least
// that any pass over it costs. Its per-item cost rises with the list's size as the nodes
// stop fitting in the processor's caches; the analysis, ten passes over the same nodes,
// rises with it. Comparing the two separates memory from algorithmic growth.
void BM_WalkArrayList(benchmark::State& state) {
    const std::string path = BenchFile("walk_" + std::to_string(state.range(0)));
    WriteFile(path, ArrayCopybook(state.range(0)));
    CopyAnalyzer analyzer(path.c_str());
    analyzer.Analyze();
    std::remove(path.c_str());
    long sum = 0;
    for (auto _ : state) {
        for (CopyItem* item = analyzer.GetHead(); item; item = item->next) sum += item->position;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * analyzer.GetItemCount());
    state.counters["items"] = analyzer.GetItemCount();
}

BENCHMARK(BM_AnalyzeEntries)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeArray)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CobolAnalyzeEntries)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CobolAnalyzeArray)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeCorpus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CobolAnalyzeCorpus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CobolAnalyzeCorpusRaw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkArrayList)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
