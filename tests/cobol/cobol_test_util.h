// Helpers of the COBOL-rules analysis tests: a scratch folder of copybook files, the
// analysis of one of them, and lookups in the result.
#ifndef COBOL_TEST_UTIL_H
#define COBOL_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cobolrules.h"

namespace coboltest {

// A folder of copybook files named after the running test; removed again.
class Folder {
public:
    Folder() {
        static int counter = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("cobtmp_") + info->test_suite_name() + "_" + info->name() + "_" +
                           std::to_string(++counter);
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = std::filesystem::absolute(name);
        std::filesystem::create_directories(path_);
    }
    ~Folder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    // Writes `bytes` as file `name` (subfolders created); returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::FILE* f = std::fopen(file.string().c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return file.string();
    }
    std::string Path(const std::string& name = "") const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Fixed-format lines: each text starts in column 8 (after a blank sequence area and
// indicator); a line written as "|..." is taken as it stands, from column 1.
inline std::string Fixed(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (!line.empty() && line[0] == '|') ? line.substr(1) + "\n" : "       " + line + "\n";
    return text;
}

// The items of the list, in order.
inline std::vector<CopyItem*> Items(CopyItem* head) {
    std::vector<CopyItem*> items;
    for (CopyItem* item = head; item != nullptr; item = item->next) items.push_back(item);
    return items;
}

// The first item of the list with `name` (and `elementNo` when given), or null.
inline CopyItem* Find(CopyItem* head, const char* name, int elementNo = -1) {
    for (CopyItem* item = head; item != nullptr; item = item->next)
        if (CompareNoCase(item->name, name) == 0 && (elementNo < 0 || item->elementNo == elementNo)) return item;
    return nullptr;
}

// Analyses file `path` with `options`; a refusal fails the test with its place.
class Analysis {
public:
    explicit Analysis(const std::string& path, const CobolOptions& options = CobolOptions())
        : analyzer(path.c_str(), options) {
        try {
            head = analyzer.Analyze();
        } catch (CCobolException e) {
            ADD_FAILURE() << e.GetCopybookFile() << ":" << e.GetCopybookLine() << ": " << e.GetMessageText() << " ["
                          << e.GetEntryText() << "]";
        }
    }
    CopyItem* operator[](const char* name) const {
        CopyItem* item = Find(head, name);
        EXPECT_NE(item, nullptr) << name;
        return item;
    }
    CobolAnalyzer analyzer;
    CopyItem* head = nullptr;
};

// The refusal of analysing `path`: message, file and line.
struct Refusal {
    bool refused = false;
    std::string message, file, entry;
    int line = -1;
};

inline Refusal Refuse(const std::string& path, const CobolOptions& options = CobolOptions()) {
    Refusal r;
    CobolAnalyzer analyzer(path.c_str(), options);
    try {
        analyzer.Analyze();
    } catch (CCobolException e) {
        r.refused = true;
        r.message = e.GetMessageText();
        r.file = e.GetCopybookFile();
        r.line = e.GetCopybookLine();
        r.entry = e.GetEntryText();
    }
    return r;
}

}  // namespace coboltest

#endif
