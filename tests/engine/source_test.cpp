// Loading and filtering a copybook, joining its entries, and the scanning primitives.
#include "engine_test_util.h"

using enginetest::ExpectRaise;
using enginetest::ProbeAnalyzer;

namespace {

std::string Line(const std::string& programText) { return "000100" + programText + "\n"; }

}  // namespace

TEST(SourceFilter, ColumnsCommentsAndShortLines) {
    ProbeAnalyzer a;
    EXPECT_EQ(" 01  REC.\n", a.Joined(Line(" 01  REC."), false));
    // Column 7 stays unless it marks a comment; bytes from column 73 on stay.
    std::string wide = " 05 A PIC X." + std::string(60, ' ') + "IDENT";
    EXPECT_EQ("-  X\nD 05 B\n" + wide + "\n",
              a.Joined(Line("*  comment. 05 X") + Line("/ page") + Line("-  X") + Line("D 05 B") + Line(wide), false));
    // Seven bytes and a line feed are kept; shorter lines and a last line of seven are not.
    EXPECT_EQ("A\n", a.Joined("12345\n000100A\n0001005", false));
}

TEST(SourceFilter, FileDescriptionEntriesAreSkipped) {
    ProbeAnalyzer a;
    EXPECT_EQ(" 01 R.\n",
              a.Joined(Line(" FD  IN-FILE") + Line("     RECORD CONTAINS 80.") + Line(" 01 R."), false));
    EXPECT_EQ(" 01 R.\n", a.Joined(Line(" fd  IN-FILE.") + Line(" 01 R."), false));
    // A period inside an inline comment does not end the entry, on its line or later.
    EXPECT_EQ(" 01 R.\n", a.Joined(Line(" FD  F *> note.") + Line("  LABEL *> x.") + Line("  DATA.") + Line(" 01 R."),
                                   false));
}

TEST(SourceFilter, CarriageReturnsAndNulBytes) {
    ProbeAnalyzer a;
    EXPECT_EQ(a.Joined(Line(" 01 R.") + Line(" 05 A PIC X.")), a.Joined("000100 01 R.\r\n000100 05 A PIC X.\r\n"));
    // A NUL byte reads as a blank, so that the lines after it still count.
    EXPECT_EQ(" 01 R;\n 05 A;\n", a.Joined(std::string("000100 01 R.\n000100 05\0A.\n", 26)));
}

TEST(SourceFilter, LongLinesAreReadWhole) {
    ProbeAnalyzer a;
    std::string body = " 05 A PIC X." + std::string(4988, ' ');  // 5000 bytes with the sequence area
    std::string text = a.Joined("000100" + body.substr(0, 4994) + "\n" + Line(" 05 B PIC X."), false);
    EXPECT_EQ(body.substr(0, 4994) + "\n 05 B PIC X.\n", text);
}

TEST(JoinEntries, EntriesDecimalPointsAndComments) {
    ProbeAnalyzer a;
    EXPECT_EQ(" 01 R PIC 9.99;\n", a.Joined(Line(" 01 R PIC 9.99.")));
    EXPECT_EQ(" 05 A PIC 9.9 VALUE 1;5.\n", a.Joined(Line(" 05 A PIC 9.9 VALUE 1.5.")));
    EXPECT_EQ(" 05 A " + std::string(14, ' ') + "   PIC X;\n", a.Joined(Line(" 05 A *> note. more") + Line("   PIC X.")));
    EXPECT_EQ(" 05 A PIC X; 05 B PIC X.\n", a.Joined(Line(" 05 A PIC X. 05 B PIC X.")));
    // A period right before "*>" passes as the entry's one decimal point.
    EXPECT_EQ(" 05 A PIC X." + std::string(7, ' ') + " 05 B;\n", a.Joined(Line(" 05 A PIC X.*> rem") + Line(" 05 B.")));
    // The byte an entry starts with is never a decimal point.
    EXPECT_EQ(";5 A.\n", a.Joined("000100.5 A.\n"));
    // An unfinished entry runs to the end of the text, also after a closing "*>".
    EXPECT_EQ(" 05 A  05 B   ", a.Joined("000100 05 A\n000100 05 B *>"));
    EXPECT_EQ(" 01 R;  *> remark.\n", a.Joined(Line(" 01 R.  *> remark.")));
}

TEST(Scanning, WordsBlanksAndLines) {
    ProbeAnalyzer a;
    char text[] = " \t,a.(b)'c'd e;f\ng";
    char* p = a.SkipBlanks(text);
    EXPECT_EQ(text + 2, p);
    EXPECT_EQ(text + 12, a.SkipWord(p));
    EXPECT_EQ(text + 12, a.SkipWord(text + 12));
    char word[64];
    EXPECT_EQ(text + 14, a.CutWord(text + 13, word, 64));
    EXPECT_STREQ("e", word);
    EXPECT_EQ(text + 14, a.CutWord(text + 14, word, 64));
    EXPECT_STREQ("", word);
    EXPECT_EQ(text + 17, a.NextLine(text));
    EXPECT_EQ(text + 18, a.NextLine(text + 17));

    std::string longWord(70, 'w');
    std::vector<char> buffer(longWord.begin(), longWord.end());
    buffer.push_back('\0');
    EXPECT_EQ(buffer.data() + 64, a.CutWord(buffer.data(), word, 64));
    EXPECT_EQ(std::string(63, 'w'), word);
    buffer[63] = ' ';
    EXPECT_EQ(buffer.data() + 63, a.CutWord(buffer.data(), word, 64));
    EXPECT_EQ(std::string(63, 'w'), word);
    ExpectRaise([&] { a.CutWord(text, word, 0); }, "CException", "文字列切り出し用領域サイズエラー");
}

TEST(LoadSource, Failures) {
    ProbeAnalyzer a("no-such-dir/none.cpy");
    ExpectRaise([&] { a.LoadSource(); }, "CFileException", "ファイルのオープンに失敗！！");
    EXPECT_EQ(nullptr, a.Text());
    enginetest::TempCopybook file(Line(" 01 R."));
    a.SetFileName(file.Path());
    FailAllocationAfter(0);
    ExpectRaise([&] { a.LoadSource(); }, "CMemoryException", "メモリ確保失敗");
    EXPECT_EQ(nullptr, a.Text());
    // The file left open is closed by the next load.
    a.LoadSource();
    EXPECT_FALSE(a.FileOpen());
    EXPECT_STREQ(" 01 R.\n", a.Text());
}
