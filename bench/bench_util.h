// What the data-file benchmarks share: the size of the generated file, the scratch
// folder it is made in and the main program around them.
#ifndef QUILLBOX_BENCH_UTIL_H
#define QUILLBOX_BENCH_UTIL_H

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The size of the generated data file in MB: 100, or the value of the environment
// variable `variable` (at least 1) for a quicker run.
inline long long BenchMegabytes(const char* variable) {
    long long megabytes = 100;
    if (const char* size = std::getenv(variable)) megabytes = std::atoll(size);
    return megabytes < 1 ? 1 : megabytes;
}

// A new folder "<stem>XXXXXX" under TMPDIR (or /tmp); empty when it cannot be made.
inline std::string MakeScratchFolder(const char* stem) {
    std::string pattern = std::string("/tmp/") + stem + "XXXXXX";
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && *tmp != '\0') pattern = std::string(tmp) + "/" + stem + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return std::string();
    return name.data();
}

// The body of a benchmark program: reads the benchmark options (1 at one it does not know),
// makes the data with `prepare` (1 with a message naming `program` when that fails), runs
// the benchmarks and removes the data with `cleanUp`.
inline int RunBenchmarkProgram(int argc, char** argv, const char* program, bool (*prepare)(), void (*cleanUp)()) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!prepare()) {
        std::fprintf(stderr, "%s: cannot make the data file\n", program);
        cleanUp();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cleanUp();
    return 0;
}

#endif
