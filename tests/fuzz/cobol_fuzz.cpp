// libFuzzer target: arbitrary bytes through the COBOL-rules analysis (CobolAnalyzer).
// The first byte chooses the settings and the road: the bytes as the copybook itself,
// or as a COPY member that a fixed copybook includes twice with REPLACING, beside a
// fixed member that the bytes may COPY. Every input must end in a finished,
// consistent item list or in an exception of the CException family (CCobolException
// included); anything else aborts, which the fuzzer reports.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cobolrules.h"

namespace {

// As in analyze_fuzz: later allocations of one input fail, so that huge tables end
// in the memory exception and the failure paths are fuzzed too.
constexpr int kAllocationBudget = 200000;

// A member the fuzzed text may include with `COPY FUZZMEM.`.
const char* const kFixedMember =
    "           05  :P:-CODE        PIC X(3).\n"
    "               88  :P:-OK      VALUE 'AAA' 'BBB'.\n"
    "           05  :P:-AMOUNT      PIC S9(5)V99 COMP-3.\n"
    "           05  :P:-COUNT       PIC 9(2).\n"
    "           05  :P:-TABLE OCCURS 1 TO 5 DEPENDING ON :P:-COUNT.\n"
    "               10  :P:-ENTRY   PIC X(2) SYNC.\n";

// The copybook that includes the fuzzed bytes as a member.
const char* const kIncluding =
    "       01  FUZZ-REC.\n"
    "           COPY FUZZIN REPLACING ==:P:== BY ==FIRST==.\n"
    "       01  FUZZ-TWO.\n"
    "           COPY FUZZIN REPLACING LEADING ==X== BY ==Y==.\n";

std::string Folder() {
    static const std::string folder = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/cobol_fuzz_" +
                           std::to_string(static_cast<long>(getpid()));
        std::string command = "mkdir -p '" + path + "'";
        if (std::system(command.c_str()) != 0) std::abort();
        return path;
    }();
    return folder;
}

void Fail(const char* what) {
    std::fprintf(stderr, "cobol_fuzz: %s\n", what);
    std::abort();
}

void WriteFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Fail("cannot write an input file");
    if (size != 0 && std::fwrite(data, 1, size, file) != size) Fail("cannot write an input file");
    std::fclose(file);
}

void CheckList(CobolAnalyzer& analyzer, CopyItem* head) {
    unsigned count = 0;
    for (CopyItem* item = head; item != nullptr; item = item->next) {
        ++count;
        if (item == head && item->prev != nullptr) Fail("the first item has a predecessor");
        if (item->next != nullptr && item->next->prev != item) Fail("next and prev disagree");
        if (item->byteLength < 0 || item->position < 1) Fail("negative length or position");
        if (item->name[63] != '\0' || item->remark[63] != '\0' || item->picture[63] != '\0')
            Fail("unterminated item text");
        // A name becomes a file name under -o DIR/ and an SQL name: never one with a
        // control character, a slash or "..".
        if (item->name[63] == '\0' && DataNameFault(item->name, std::strlen(item->name)) != nullptr)
            Fail("a data name that is no name was taken");
        if ((item->flags & ITEM_CONDITION) && item->byteLength != 0) Fail("a condition name with storage");
        if (!(item->flags & (ITEM_CONDITION | ITEM_RENAMES)) &&
            static_cast<unsigned>(item->position - 1 + item->byteLength) > analyzer.GetRecordLength())
            Fail("an item beyond the record length");
        if (analyzer.DependingOn(item) == nullptr) Fail("no DEPENDING ON text");
    }
    if (count != analyzer.GetItemCount()) Fail("item count differs from the list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unsigned choice = size > 0 ? data[0] : 0;
    if (size > 0) {
        ++data;
        --size;
    }
    const std::string folder = Folder();
    const std::string fuzzed = folder + "/FUZZIN.cpy";
    const std::string fixed = folder + "/FUZZMEM.cpy";
    const std::string including = folder + "/including.cpy";
    WriteFile(fuzzed, data, size);
    WriteFile(fixed, kFixedMember, std::char_traits<char>::length(kFixedMember));
    const bool asMember = (choice & 1) != 0;
    if (asMember) WriteFile(including, kIncluding, std::char_traits<char>::length(kIncluding));

    CobolOptions options;
    options.freeFormat = (choice & 2) != 0;
    options.pointerSize = (choice & 4) != 0 ? 8 : 4;
    if (choice & 8) options.replacements.push_back({":P:", "REPL"});
    if (choice & 16) options.includeDirs.push_back(folder + "/missing");

    FailEveryAllocationAfter(kAllocationBudget);
    {
        CobolAnalyzer analyzer((asMember ? including : fuzzed).c_str(), options);
        try {
            CheckList(analyzer, analyzer.Analyze());
        } catch (CException& e) {
            if (e.GetMessageText() == nullptr) Fail("exception without a message");
        } catch (...) {
            Fail("an exception outside the CException family escaped Analyze");
        }
        analyzer.FreeItems();
    }
    FailAllocationAfter(-1);
    return 0;
}
