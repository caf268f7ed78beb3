// Helpers of the record value access tests: scratch files in the working directory,
// copybooks written from entries, and items laid out by hand.
#ifndef RECORD_FIXTURE_H
#define RECORD_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "test_util.h"

// A file of the working directory, removed when the test ends.
class ScratchFile {
public:
    // The name is made unique to this test process: test cases run in parallel processes.
    explicit ScratchFile(std::string name) : path_(qbtest::ProcessUniqueName("", name)) { std::remove(path_.c_str()); }
    ~ScratchFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }
    // Raw bytes on disk.
    void Write(const std::string& bytes) const { ASSERT_TRUE(qbtest::WriteFileBytes(path_, bytes)); }
    std::string Read() const { return qbtest::ReadFileBytes(path_); }
private:
    std::string path_;
};

// A fixed-format copybook: each entry on a line of its own, starting in column 8.
class Copybook : public ScratchFile {
public:
    Copybook(std::string name, const std::vector<std::string>& entries) : ScratchFile(std::move(name)) {
        std::string text;
        for (const std::string& entry : entries) text += "       " + entry + "\n";
        WriteTextFile(path(), text.data(), text.size());
    }
};

// An item laid out by hand.
inline CopyItem MakeItem(int position, int byteLength, unsigned flags, int digits, int scale = 0) {
    CopyItem item;
    std::memset(&item, 0, sizeof item);
    item.position = position;
    item.byteLength = byteLength;
    item.flags = flags;
    item.digits = digits;
    item.scale = scale;
    std::strcpy(item.name, "HAND");
    return item;
}

inline std::string Bytes(const char* buffer, int count) { return std::string(buffer, static_cast<size_t>(count)); }

#endif
