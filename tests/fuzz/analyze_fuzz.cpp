// libFuzzer target: arbitrary bytes as a copybook file. Every input must end in a
// finished, consistent item list or in an exception of the CException family;
// anything else (another exception, a broken list) aborts, which the fuzzer reports.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cobcpy.h"
#include "textrules.h"

namespace {

// Allocations one input may make: bounds the memory of inputs whose arrays expand
// to millions of items; beyond it every request fails, so the memory failure paths
// are fuzzed too.
constexpr int kAllocationBudget = 200000;

const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/analyze_fuzz_" +
               std::to_string(static_cast<long>(getpid())) + ".cpy";
    }();
    return path;
}

void Fail(const char* what) {
    std::fprintf(stderr, "analyze_fuzz: %s\n", what);
    std::abort();
}

void CheckList(CopyAnalyzer& analyzer, CopyItem* head) {
    if (head == nullptr) Fail("Analyze returned no list");
    if (head->prev != nullptr) Fail("the first item has a predecessor");
    unsigned count = 0;
    for (CopyItem* item = head; item != nullptr; item = item->next) {
        ++count;
        if (item->next != nullptr && item->next->prev != item) Fail("next and prev disagree");
        if (item->serialNo != static_cast<int>(count)) Fail("serial numbers are not 1..n");
        if (item->byteLength < 0 || item->position < 1) Fail("negative length or position");
        if (item->name[63] != '\0' || item->remark[63] != '\0' || item->picture[63] != '\0')
            Fail("unterminated item text");
        // A name becomes a file name under -o DIR/ and an SQL name: never one with a
        // control character, a slash or "..".
        if (item->name[63] == '\0' && DataNameFault(item->name, std::strlen(item->name)) != nullptr)
            Fail("a data name that is no name was taken");
    }
    if (count != analyzer.GetItemCount()) Fail("item count differs from the list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = InputPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Fail("cannot write the input file");
    if (size != 0 && std::fwrite(data, 1, size, file) != size) Fail("cannot write the input file");
    std::fclose(file);

    FailEveryAllocationAfter(kAllocationBudget);
    {
        CopyAnalyzer analyzer(path.c_str());
        try {
            CheckList(analyzer, analyzer.Analyze());
        } catch (CException e) {
            if (e.GetMessageText() == nullptr) Fail("exception without a message");
        } catch (...) {
            Fail("an exception outside the CException family escaped Analyze");
        }
        analyzer.FreeItems();
    }
    FailAllocationAfter(-1);
    std::remove(path.c_str());
    return 0;
}
