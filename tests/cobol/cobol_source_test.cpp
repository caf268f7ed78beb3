// Source handling of the COBOL-rules analysis: fixed and free format, continuation,
// comments, debugging lines, tabs, COPY with its member search and REPLACING, and the
// replacement option for :TAG: placeholders.
#include "cobol_test_util.h"

namespace {

using coboltest::Analysis;
using coboltest::Find;
using coboltest::Fixed;
using coboltest::Folder;

TEST(CobolSource, FixedFormatKeepsColumnsEightToSeventyTwo) {
    Folder folder;
    // Sequence numbers, identification text in 73-80, comment and debugging lines.
    // Columns 1-6, 7 and 8-72 of a line, then identification text in 73-80.
    auto line = [](const std::string& sequence, char indicator, const std::string& text, const std::string& ident) {
        std::string l = sequence + indicator + text;
        l.append(72 - l.size(), ' ');
        return l + ident + "\n";
    };
    const std::string path = folder.Write("BOOK.cpy", line("000100", ' ', "01  REC.", "IDENT001") +
                                                          line("000200", '*', "    05 COMMENTED PIC X(9).", "") +
                                                          line("000300", '/', "    05 PAGED PIC X(9).", "") +
                                                          line("000400", 'D', "    05 DEBUGGING PIC X(9).", "") +
                                                          line("000500", 'd', "    05 DEBUGGING2 PIC X(9).", "") +
                                                          line("000600", ' ', "    05  A      PIC X(4).", "05 X PIC") +
                                                          line("ABCDEF", ' ', "    05  B      PIC 9(3). *> note. 05 C PIC X.", ""));
    Analysis a(path);
    std::vector<CopyItem*> items = coboltest::Items(a.head);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_STREQ(items[1]->name, "A");
    EXPECT_EQ(items[1]->byteLength, 4);
    EXPECT_EQ(items[2]->byteLength, 3);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 7u);
    EXPECT_STREQ(items[2]->remark, "note. 05 C PIC X.") << "a comment after the period is the remark";
    EXPECT_STREQ(items[1]->remark, "");
}

TEST(CobolSource, ContinuedLiteralRunsToColumnSeventyTwo) {
    Folder folder;
    std::string first = "       01  R PIC X(80).";
    std::string line1 = "       88  LONG-VALUE VALUE 'ABC";
    line1.append(72 - line1.size(), ' ');
    const std::string path = folder.Write("BOOK.cpy", first + "\n" + line1 + "\n" + "      -    'DEF'.\n");
    Analysis a(path);
    CopyItem* condition = Find(a.head, "LONG-VALUE");
    ASSERT_NE(condition, nullptr);
    // 'ABC' then blanks up to column 72, continued by DEF: the 63 bytes kept of the text.
    std::string expected = "'ABC" + std::string(72 - 32, ' ') + "DEF'";
    EXPECT_EQ(std::string(condition->picture), expected.substr(0, 63));
}

TEST(CobolSource, ContinuedWordAndTabs) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy",
                                          "       01  R.\n"
                                          "\t   05  LONG-NA\n"
                                          "      -    ME  PIC\tX(2).\n"
                                          "       05  B   PIC X.\n"
                                          "\t05\tC\tPIC\tX(3).\n"
                                          "       05  D   PIC X(4).\r\r\n"
                                          "  \t  05 E\tPIC X(5).\r");
    Analysis a(path);
    EXPECT_NE(Find(a.head, "LONG-NAME"), nullptr);
    EXPECT_EQ(a["B"]->position, 3);
    // Tabs are counted from their own line's start, whatever came before, and a carriage
    // return left at a line's end is no part of its text.
    EXPECT_EQ(a["C"]->byteLength, 3);
    EXPECT_EQ(a["D"]->byteLength, 4);
    EXPECT_EQ(a["E"]->position, 11);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 15u);
}

TEST(CobolSource, PeriodInsideLiteralDoesNotEndTheEntry) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X(9) VALUE 'A. B. C.'.", "  05 B PIC 9.99."}));
    Analysis a(path);
    EXPECT_EQ(a["A"]->byteLength, 9);
    EXPECT_EQ(a["B"]->byteLength, 4);
    EXPECT_EQ(a["B"]->scale, 2);
}

TEST(CobolSource, PeriodRightBeforeAFloatingComment) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.*> one byte", "  05 B PIC X(2)."}));
    Analysis a(path);
    EXPECT_EQ(a["A"]->byteLength, 1);
    EXPECT_STREQ(a["A"]->remark, "one byte");
    EXPECT_EQ(a["B"]->position, 2);
}

TEST(CobolSource, FreeFormatByDirectiveOptionOrColumnOne) {
    Folder folder;
    const std::string text = "01 R. *> a record\n  05 A PIC X(3).\n05 B PIC 9(2).\n";
    const std::string directive = folder.Write("DIR.cpy", "       >>SOURCE FORMAT FREE\n" + text);
    Analysis byDirective(directive);
    EXPECT_EQ(byDirective.analyzer.GetRecordLength(), 5u);
    EXPECT_TRUE(byDirective.analyzer.Warnings().empty());

    const std::string plain = folder.Write("PLAIN.cpy", text);
    CobolOptions options;
    options.freeFormat = true;
    Analysis byOption(plain, options);
    EXPECT_EQ(byOption.analyzer.GetRecordLength(), 5u);
    EXPECT_TRUE(byOption.analyzer.Warnings().empty());

    // Without either, text starting in column 1 is recognised, with a warning.
    Analysis guessed(plain);
    EXPECT_EQ(guessed.analyzer.GetRecordLength(), 5u);
    ASSERT_EQ(guessed.analyzer.Warnings().size(), 1u);
    EXPECT_EQ(guessed.analyzer.Warnings()[0].fileName, plain);
}

TEST(CobolSource, MemberStartsInTheFormatOfItsCopyStatement) {
    Folder folder;
    // Free-format text across column 7 of a member: only the including file tells its format.
    folder.Write("PART.cpy", "     05 B PIC X(3). *> free\n     05 C PIC X.\n");
    const std::string path = folder.Write("BOOK.cpy", "       >>SOURCE FORMAT FREE\n01 R.\n  COPY PART.\n");
    Analysis a(path);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 4u);
    EXPECT_EQ(a["C"]->position, 4);
}

TEST(CobolSource, CopyMemberSearchFoldersAndNames) {
    Folder folder;
    folder.Write("lib/PARTA.CPY", Fixed({"05 A PIC X(2)."}));
    folder.Write("lib/PARTB.cob", Fixed({"05 B PIC X(3)."}));
    folder.Write("book/partc.cbl", Fixed({"05 C PIC X(4)."}));
    folder.Write("book/SUB/PARTD.cpy", Fixed({"05 D PIC X(5)."}));
    const std::string path = folder.Write("book/BOOK.cpy",
                                          Fixed({"01 R.", "COPY PARTA.", "COPY PARTB.", "COPY PARTC.", "COPY PARTD OF SUB.",
                                                 "COPY 'partc.cbl' SUPPRESS."}));
    CobolOptions options;
    options.includeDirs.push_back(folder.Path("lib"));
    Analysis a(path, options);
    EXPECT_EQ(a["A"]->position, 1);
    EXPECT_EQ(a["B"]->position, 3);
    EXPECT_EQ(a["C"]->position, 6);
    EXPECT_EQ(a["D"]->position, 10);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 18u);
}

TEST(CobolSource, CopyReplacingPseudoTextWordsLeadingAndTrailing) {
    Folder folder;
    folder.Write("PART.cpy", Fixed({"05 :P:-NAME PIC X(LEN).", "05 WS-CODE PIC 9 COMP.", "05 AMOUNT-IN PIC 9(3).",
                                   "05 OLD-WORD PIC X.", "05 LAST-ONE PIC X(3)."}));
    const std::string path = folder.Write("BOOK.cpy",
                                          Fixed({"01 R.", "COPY PART REPLACING ==:P:== BY ==CUST==", "  ==LEN== BY ==7==",
                                                 "  ==PIC 9 COMP== BY ==PIC 9(5) COMP-3==", "  LEADING ==WS-== BY ==XX-==",
                                                 "  TRAILING ==-IN== BY ==-OUT==", "  OLD-WORD BY NEW-WORD",
                                                 "  ==X(3).== BY ==X(4).==."}));
    Analysis a(path);
    EXPECT_EQ(a["LAST-ONE"]->byteLength, 4) << "pseudo-text may end in the entry's period";
    EXPECT_EQ(a["CUST-NAME"]->byteLength, 7);
    EXPECT_EQ(a["XX-CODE"]->byteLength, 3);
    EXPECT_TRUE(a["XX-CODE"]->flags & USAGE_PACKED);
    EXPECT_NE(Find(a.head, "AMOUNT-OUT"), nullptr);
    EXPECT_NE(Find(a.head, "NEW-WORD"), nullptr);
}

TEST(CobolSource, PlaceholdersStayUnlessReplaced) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 :TAG:-REC.", "  05 :TAG:-ID PIC X(4)."}));
    Analysis kept(path);
    EXPECT_NE(Find(kept.head, ":TAG:-ID"), nullptr);
    CobolOptions options;
    options.replacements.push_back({":TAG:", "CUST"});
    Analysis replaced(path, options);
    EXPECT_NE(Find(replaced.head, "CUST-ID"), nullptr);
    EXPECT_STREQ(replaced.head->name, "CUST-REC");
}

TEST(CobolSource, EmbeddedSqlAndListingWordsArePassedOver) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"EXEC SQL DECLARE T TABLE", "  ( A CHAR(4) ) END-EXEC.", "EJECT",
                                                             "01 R.", "SKIP2", "  05 A PIC X(4)."}));
    Analysis a(path);
    EXPECT_EQ(coboltest::Items(a.head).size(), 2u);
}

TEST(CobolSource, MissingLastPeriodIsAWarning) {
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X(4)"}));
    Analysis a(path);
    EXPECT_EQ(a.analyzer.GetRecordLength(), 4u);
    ASSERT_EQ(a.analyzer.Warnings().size(), 1u);
    EXPECT_EQ(a.analyzer.Warnings()[0].line, 2);
}

TEST(CobolSource, ByteOrderMarkAndLineEndsOfEveryKind) {
    Folder folder;
    // A UTF-8 byte order mark before fixed and before free format, and the line ends
    // LF, CR LF, CR CR LF and CR alone: each file gives the same two items, on lines 1-3.
    const std::string bom = "\xEF\xBB\xBF";
    const std::string fixedLines[] = {"      * note", "       01  R.", "           05  A PIC X(3)."};
    for (const char* end : {"\n", "\r\n", "\r\r\n", "\r"}) {
        SCOPED_TRACE(std::string(end) == "\r" ? "CR" : std::string(end) == "\n" ? "LF" : "CR LF");
        std::string text = bom;
        for (const std::string& line : fixedLines) text += line + end;
        Analysis a(folder.Write("FIXED.cpy", text));
        ASSERT_EQ(coboltest::Items(a.head).size(), 2u);
        EXPECT_EQ(a["A"]->byteLength, 3);
        EXPECT_TRUE(a.analyzer.Warnings().empty()) << a.analyzer.Warnings()[0].message;
        // A refusal names the right line.
        coboltest::Refusal r = coboltest::Refuse(folder.Write("BAD.cpy", text + "           05  B PIC Q." + end));
        EXPECT_EQ(r.line, 4) << r.message;
    }
    CobolOptions free;
    free.freeFormat = true;
    Analysis a(folder.Write("FREE.cpy", bom + "01 R.\n  05 A PIC X(2).\n"), free);
    EXPECT_STREQ(a.head->name, "R");
    EXPECT_EQ(a.analyzer.GetRecordLength(), 2u);
}

TEST(CobolSource, MembersOfTheCopybookSearchedInTheFolderGiven) {
    Folder folder;
    // The copybook in one folder (a temporary copy of standard input, say), its member
    // in another: copybookFolder names where the member is looked for first.
    const std::string book = folder.Write("tmp/BOOK.cpy", Fixed({"01 R.", "  COPY PART."}));
    folder.Write("tmp/PART.cpy", Fixed({"  05 PLANTED PIC X."}));
    folder.Write("work/PART.cpy", Fixed({"  05 REAL PIC X(2).", "  COPY INNER."}));
    folder.Write("work/INNER.cpy", Fixed({"  05 INNER PIC X(3)."}));
    CobolOptions options;
    options.copybookFolder = folder.Path("work");
    Analysis a(book, options);
    EXPECT_EQ(Find(a.head, "PLANTED"), nullptr);
    EXPECT_NE(Find(a.head, "REAL"), nullptr);
    EXPECT_NE(Find(a.head, "INNER"), nullptr) << "a member searches its own folder";
}

}  // namespace
