// The byte and text rules every module shares: folding, byte classes, the Shift_JIS
// cut and the copy rules of bounded texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgiclib.h"

TEST(TextRules, FoldingTouchesOnlyAsciiCapitals) {
    for (int c = 0; c < 256; ++c) {
        const char byte = static_cast<char>(c);
        const char expected = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : byte;
        EXPECT_EQ(expected, FoldByte(byte)) << c;
    }
}

TEST(TextRules, ByteClasses) {
    std::string blanks, wordEnds, entryEnds, digits;
    int leads = 0;
    for (int c = 0; c < 256; ++c) {
        const char byte = static_cast<char>(c);
        if (IsBlank(byte)) blanks += byte;
        if (IsWordDelimiter(byte)) wordEnds += byte;
        if (IsEntryEnd(byte)) entryEnds += byte;
        if (IsDecimalDigit(byte)) digits += byte;
        if (IsShiftJisLeadByte(byte)) {
            ++leads;
            EXPECT_TRUE((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) << c;
        }
    }
    EXPECT_EQ(std::string("\t "), blanks);
    EXPECT_EQ(std::string("\0\t\n ;", 5), wordEnds);
    EXPECT_EQ(std::string("\0\n;", 3), entryEnds);
    EXPECT_EQ("0123456789", digits);
    EXPECT_EQ(31 + 29, leads);
}

TEST(TextRules, DoubleByteSafeCut) {
    const char* text = "AB漢字";   // 2 single bytes, then two double-byte characters
    EXPECT_EQ(2u, CutLength(text, 3));
    EXPECT_EQ(4u, CutLength(text, 4));
    EXPECT_EQ(4u, CutLength(text, 5));
    EXPECT_EQ(6u, CutLength(text, 6));
    EXPECT_EQ(6u, CutLength(text, 100));
    EXPECT_EQ(0u, CutLength(nullptr, 10));
    // A first byte that ends the text is dropped by CutLength, kept on request.
    const char lone[] = {'A', '\x82', '\0'};
    EXPECT_EQ(1u, CutLength(lone, 10));
    EXPECT_EQ(2u, ShiftJisCutLength(lone, 2, 10, false));
    EXPECT_EQ(1u, ShiftJisCutLength(lone, 2, 10, true));
    EXPECT_EQ(1u, ShiftJisCharWidth(lone + 1));
    EXPECT_EQ(2u, ShiftJisCharWidth("漢"));
    // The second byte may look like a backslash or a Latin letter: it is never cut off.
    EXPECT_EQ(0u, CutLength("\x95\x5C", 1));
    char cell[4];
    EXPECT_EQ(2u, CopyTextCut(cell, sizeof cell, "漢字"));
    EXPECT_STREQ("漢", cell);
    EXPECT_EQ(0u, CopyTextCut(cell, 0, "x"));
    EXPECT_EQ(0u, CopyTextCut(cell, sizeof cell, nullptr));
    EXPECT_STREQ("", cell);
}

TEST(TextRules, CopyInAndCopyOut) {
    char field[4];
    EXPECT_TRUE(CopyTextIn(field, sizeof field, "abc"));
    EXPECT_STREQ("abc", field);
    EXPECT_FALSE(CopyTextIn(field, sizeof field, "abcd"));
    EXPECT_STREQ("abc", field);
    EXPECT_TRUE(CopyTextIn(field, sizeof field, nullptr));
    EXPECT_STREQ("", field);
    EXPECT_STREQ("", TextOrEmpty(nullptr));

    char buffer[8];
    EXPECT_EQ(6, CopyTextOut("hello", nullptr, 0));
    EXPECT_EQ(0, CopyTextOut("hello", buffer, 0));
    EXPECT_EQ(-3, CopyTextOut("hello", buffer, -3));
    EXPECT_EQ(2, CopyTextOut("hello", buffer, 3));
    EXPECT_STREQ("he", buffer);
    EXPECT_EQ(5, CopyTextOut("hello", buffer, sizeof buffer));
    EXPECT_STREQ("hello", buffer);
}
