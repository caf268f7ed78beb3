// Text-mode file rules: the same bytes on every platform.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "cgiclib.h"
#include "replacement_util.h"
#include "test_util.h"

namespace {

TEST(TextFile, WritingTurnsEveryLineFeedIntoCrLf) {
    const char* path = "textfile_write.tmp";
    ASSERT_TRUE(WriteTextFile(path, "a\nb\r\n\n", 6));
    EXPECT_EQ(qbtest::ReadFileBytes(path), std::string("a\r\nb\r\r\n\r\n"));
    std::FILE* f = OpenTextFile(path, "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(PrintText(f, "%s=%d\n", "x", 12), 5);
    std::fclose(f);
    EXPECT_EQ(qbtest::ReadFileBytes(path), std::string("x=12\r\n"));
    std::remove(path);
}

TEST(TextFile, ReadingDropsOnlyACarriageReturnBeforeALineFeed) {
    const char* path = "textfile_read.tmp";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "one\r\ntwo\rthree\n\r\rlast\r"));
    std::FILE* f = OpenTextFile(path, "r");
    ASSERT_NE(f, nullptr);
    std::string line;
    ASSERT_TRUE(ReadTextLine(f, line));
    EXPECT_EQ(line, "one\n");
    ASSERT_TRUE(ReadTextLine(f, line));
    EXPECT_EQ(line, "two\rthree\n");
    ASSERT_TRUE(ReadTextLine(f, line));
    EXPECT_EQ(line, std::string("\r\rlast\r"));
    EXPECT_FALSE(ReadTextLine(f, line));
    std::fclose(f);
    std::string all;
    ASSERT_TRUE(ReadTextFile(path, all));
    EXPECT_EQ(all, std::string("one\ntwo\rthree\n\r\rlast\r"));
    std::remove(path);
}

TEST(TextFile, ConversionInMemoryMatchesTheFile) {
    EXPECT_EQ(ToTextModeBytes("\n\nx", 3), std::string("\r\n\r\nx"));
    EXPECT_EQ(ToTextModeBytes("", 0), std::string());
}

// A replacement reaches the file only through Commit; anything else leaves the old
// bytes and no temporary file.
TEST(TextFileReplacement, OnlyACommitReplacesTheFile) {
    const std::string folder = qbtest::ScratchFolder("replace");
    const std::string path = folder + "out.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old\r\n"));
    {
        TextFileReplacement abandoned(path.c_str());
        ASSERT_NE(nullptr, abandoned.File());
        WriteText(abandoned.File(), "half of it");
        EXPECT_EQ("old\r\n", qbtest::ReadFileBytes(path));
    }
    EXPECT_EQ("old\r\n", qbtest::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));

    TextFileReplacement replacement(path.c_str());
    ASSERT_NE(nullptr, replacement.File());
    WriteText(replacement.File(), "new\n");
    EXPECT_TRUE(replacement.Commit());
    EXPECT_EQ("new\r\n", qbtest::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));

    // A new file, and the one rule for an interrupted writer: a partial text is kept
    // only where no file was.
    const std::string fresh = folder + "fresh.txt";
    {
        TextFileReplacement partial(fresh.c_str());
        WriteText(partial.File(), "part");
        EXPECT_TRUE(partial.CommitIfNew());
    }
    EXPECT_EQ("part", qbtest::ReadFileBytes(fresh));
    {
        TextFileReplacement partial(fresh.c_str());
        WriteText(partial.File(), "other");
        EXPECT_FALSE(partial.CommitIfNew());
    }
    EXPECT_EQ("part", qbtest::ReadFileBytes(fresh));
    EXPECT_EQ(2u, qbtest::FilesIn(folder).size());

    // Nothing can be created in a missing folder, nor in place of a folder.
    EXPECT_EQ(nullptr, TextFileReplacement((folder + "missing/out.txt").c_str()).File());
    EXPECT_EQ(nullptr, TextFileReplacement(folder.substr(0, folder.size() - 1).c_str()).File());
    EXPECT_FALSE(WriteTextFile((folder + "missing/out.txt").c_str(), "x", 1));
    qbtest::RemoveFolder(folder);
}

// A Commit that cannot rename says why, as the rename failed: here the file was
// replaced by a folder meanwhile (the removal of the temporary file after the failure
// does not make the reason "Success").
TEST(TextFileReplacement, AFailedCommitKeepsItsReason) {
    const std::string folder = qbtest::ScratchFolder("replacereason");
    const std::string path = folder + "out.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old"));
    TextFileReplacement replacement(path.c_str());
    ASSERT_NE(nullptr, replacement.File());
    WriteText(replacement.File(), "new");
    ASSERT_EQ(0, std::remove(path.c_str()));
    const std::string inner = path + "/kept";
#ifdef _WIN32
    ASSERT_EQ(0, _mkdir(path.c_str()));
#else
    ASSERT_EQ(0, mkdir(path.c_str(), 0777));
#endif
    ASSERT_TRUE(qbtest::WriteFileBytes(inner, "x"));
    errno = 0;
    EXPECT_FALSE(replacement.Commit());
    EXPECT_NE(0, replacement.CommitError());
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));
    std::remove(inner.c_str());
#ifdef _WIN32
    _rmdir(path.c_str());
#else
    rmdir(path.c_str());
#endif
    qbtest::RemoveFolder(folder);
}

#ifndef _WIN32
// A write that fails part way (here: the file may not grow past 8 bytes) keeps the
// file that was there, and leaves no temporary file.
TEST(TextFileReplacement, FailedWriteKeepsTheOldFile) {
    const std::string folder = qbtest::ScratchFolder("replacefail");
    const std::string path = folder + "out.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old\r\n"));
    const std::string text(100000, 'x');
    EXPECT_EQ(0, qbtest::WriteWithFileSizeLimit(8, [&] { return WriteTextFile(path.c_str(), text.data(), text.size()); }));
    EXPECT_EQ("old\r\n", qbtest::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));

    // A file that may not be written is not replaced either.
    chmod(path.c_str(), 0444);
    if (access(path.c_str(), W_OK) != 0) {   // (root may write anyway)
        EXPECT_FALSE(WriteTextFile(path.c_str(), "new", 3));
        EXPECT_EQ("old\r\n", qbtest::ReadFileBytes(path));
    }
    chmod(path.c_str(), 0644);
    qbtest::RemoveFolder(folder);
}
#endif

}  // namespace
