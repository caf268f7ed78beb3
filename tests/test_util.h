// Helpers every test folder shares: whole-file reads and writes, scratch file names
// unique to the test process, and the checks of a raised exception.
#ifndef QUILLBOX_TEST_UTIL_H
#define QUILLBOX_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cgiclib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qbtest {

// The bytes of a file, read as binary; empty when it cannot be opened.
inline std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    std::fclose(file);
    return bytes;
}

// Writes `bytes` to a file as they are (binary); false when it cannot be written.
inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// The id of this test process.
inline unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// A scratch file name in the working folder unique to this test process, "<prefix><pid>_<name>":
// the test cases of one program run in parallel processes.
inline std::string ProcessUniqueName(const std::string& prefix, const std::string& name) {
    return prefix + std::to_string(ProcessId()) + "_" + name;
}

// Runs `action` and checks that it raises `className` (caught as CException, which
// keeps the raised class's name) with `message` from the module `moduleName`.
template <class Action>
void ExpectRaise(Action action, const char* className, const char* message, const char* moduleName = "cobcpy") {
    try {
        action();
        ADD_FAILURE() << "nothing raised, expected " << className;
    } catch (CException e) {
        EXPECT_STREQ(className, e.GetExceptionName());
        EXPECT_STREQ(message, e.GetMessageText());
        EXPECT_STREQ(moduleName, e.GetSourceFileName());
        EXPECT_GT(e.GetLine(), 0);
    }
}

}  // namespace qbtest

// Runs `statement`, which must raise the engine's `Class` with `message`.
#define EXPECT_RAISES(statement, Class, message) \
    ::qbtest::ExpectRaise([&] { statement; }, #Class, message)

#endif
