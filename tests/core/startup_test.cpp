// Start-up: the command-line argument and the temporary file's path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quillbox.h"

namespace {

std::string Argument(const char* commandLine, std::size_t size = FILE_NAME_CAPACITY) {
    char buffer[FILE_NAME_CAPACITY + 8];
    std::memset(buffer, '#', sizeof buffer);
    TakeCommandLineArgument(commandLine, buffer, size);
    return buffer;
}

std::string TempPath(const char* modulePath) {
    char buffer[TEMP_FILE_PATH_CAPACITY];
    EXPECT_TRUE(BuildTempFilePath(modulePath, buffer, sizeof buffer));
    return buffer;
}

TEST(CommandLineArgument, QuotedOrUpToTheFirstBlank) {
    EXPECT_EQ("C:\\My Files\\cust.cpy", Argument("\"C:\\My Files\\cust.cpy\" second"));
    EXPECT_EQ("C:\\My", Argument("C:\\My Files\\cust.cpy"));
    EXPECT_EQ("a.cpy", Argument("a.cpy\tb"));
    EXPECT_EQ("a", Argument("a\"b\""));
    EXPECT_EQ("open end", Argument("\"open end"));
    EXPECT_EQ("", Argument("\"\" x"));
    EXPECT_EQ("", Argument(""));
    EXPECT_EQ("", Argument(nullptr));
    EXPECT_EQ("顧客マスタ.cpy", Argument("顧客マスタ.cpy -x"));
}

TEST(CommandLineArgument, AtMost260BytesNeverHalfACharacter) {
    std::string longPath(300, 'p');
    EXPECT_EQ(std::string(260, 'p'), Argument(longPath.c_str()));
    EXPECT_EQ(std::string(260, 'p'), Argument(("\"" + longPath + "\"").c_str()));
    // 259 single bytes, then a double-byte character that would need bytes 260 and 261.
    std::string mixed = std::string(259, 'p') + "漢字";
    EXPECT_EQ(std::string(259, 'p'), Argument(mixed.c_str()));
    EXPECT_EQ("ab", Argument("abcdef", 3));
}

TEST(TempFilePath, BesideTheExecutable) {
    EXPECT_EQ("C:\\Tools\\__quillbox_cb.tmp", TempPath("C:\\Tools\\Quillbox.exe"));
    EXPECT_EQ("__quillbox_cb.tmp", TempPath("Quillbox.exe"));
    EXPECT_EQ("C:\\__quillbox_cb.tmp", TempPath("C:\\"));
}

TEST(TempFilePath, TrailByteThatLooksLikeABackslashIsNotAFolderEnd) {
    // "表" is 95 5C and "ソ" 83 5C: the second byte of each is the backslash byte.
    EXPECT_EQ("C:\\表\\__quillbox_cb.tmp", TempPath("C:\\表\\Quillbox.exe"));
    EXPECT_EQ("C:\\ソフト\\__quillbox_cb.tmp", TempPath("C:\\ソフト\\ソ.exe"));
    EXPECT_EQ("C:\\__quillbox_cb.tmp", TempPath("C:\\表ソ.exe"));
}

TEST(TempFilePath, TooLongForTheBufferIsRefused) {
    char buffer[20];
    EXPECT_FALSE(BuildTempFilePath("C:\\folder\\Quillbox.exe", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    std::string longest = std::string(MODULE_PATH_CAPACITY - 2, 'd') + "\\";
    char room[TEMP_FILE_PATH_CAPACITY];
    EXPECT_TRUE(BuildTempFilePath(longest.c_str(), room, sizeof room));
}

}  // namespace
