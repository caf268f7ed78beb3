// Helpers of the engine tests: copybook files written byte for byte and an analyser
// that shows its protected state; the exception checks come from test_util.h.
#ifndef ENGINE_TEST_UTIL_H
#define ENGINE_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "test_util.h"

namespace enginetest {

using qbtest::ExpectRaise;

// A copybook file with the given bytes, named after the running test; removed again.
class TempCopybook {
public:
    explicit TempCopybook(const std::string& bytes) {
        static int counter = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = std::string("engtmp_") + info->test_suite_name() + "_" + info->name() + "_" +
               std::to_string(++counter) + ".cpy";
        qbtest::WriteFileBytes(path, bytes);
    }
    ~TempCopybook() { std::remove(path.c_str()); }
    const char* Path() const { return path.c_str(); }

private:
    std::string path;
};

// An analyser whose protected state the tests can read.
class ProbeAnalyzer : public CopyAnalyzer {
public:
    explicit ProbeAnalyzer(const char* name = "") : CopyAnalyzer(name) {}
    const char* Text() const { return sourceText; }
    CopyItem* Tail() const { return tail; }
    int Stage() const { return stage; }
    void SetStage(int value) { stage = value; }
    bool FileOpen() const { return sourceFile != nullptr; }
    // Loads and joins `bytes` written as a copybook file.
    std::string Joined(const std::string& bytes, bool join = true) {
        TempCopybook file(bytes);
        SetFileName(file.Path());
        LoadSource();
        if (join) JoinEntries();
        return sourceText;
    }
    // Loads, joins and parses `bytes` (no layout passes).
    CopyItem* Parsed(const std::string& bytes) {
        Joined(bytes);
        ParseEntries();
        return head;
    }
};

inline std::vector<CopyItem*> Items(CopyItem* head) {
    std::vector<CopyItem*> items;
    for (CopyItem* item = head; item != nullptr; item = item->next) items.push_back(item);
    return items;
}

// Writes the entries as a fixed-format copybook, one entry per line behind a
// sequence area of seven columns, and runs the whole analysis on it.
inline CopyItem* AnalyzeEntries(CopyAnalyzer& analyzer, const std::vector<std::string>& entries,
                                const std::string& sequenceArea = "       ") {
    std::string text;
    for (const std::string& entry : entries) text += sequenceArea + entry + "\n";
    TempCopybook file(text);
    analyzer.FreeItems();
    analyzer.SetFileName(file.Path());
    return analyzer.Analyze();
}

}  // namespace enginetest

#endif
