// Text-mode file rules: the same bytes on every platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cgiclib.h"
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

}  // namespace
