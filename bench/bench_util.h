// What the data-file benchmarks share: the size of the generated file and the scratch
// folder it is made in.
#ifndef QUILLBOX_BENCH_UTIL_H
#define QUILLBOX_BENCH_UTIL_H

#include <unistd.h>

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

#endif
