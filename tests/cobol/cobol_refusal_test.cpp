// Every refusal of the COBOL-rules analysis, each with the file and line it names.
#include <filesystem>
#include <string>

#include "cobol_test_util.h"

namespace {

using coboltest::Fixed;
using coboltest::Folder;
using coboltest::Refuse;

struct Case {
    const char* title;
    std::vector<std::string> lines;  // fixed-format program text of the copybook
    const char* message;             // the start of the expected message
    int line;                        // the line the refusal names
};

const Case kCases[] = {
    {"LiteralContinuationWithoutQuote", {"01 R.", "  05 A PIC X(80) VALUE 'ABC", "|      -   DEF'."},
     "継続行の文字定数は引用符で始めてください。", 3},
    {"UnterminatedLiteral", {"01 R.", "  05 A PIC X(8) VALUE 'ABC", "  05 B PIC X."}, "文字定数の終わりの引用符がありません。", 2},
    {"ReplacingWithoutOperand", {"01 R.", "  COPY MEMBER REPLACING."}, "COPY の REPLACING の書き方が正しくありません。", 2},
    {"ReplacingUnclosedPseudoText", {"01 R.", "  COPY MEMBER REPLACING ==A== BY ==B."}, "REPLACING の == が閉じられていません。", 2},
    {"ReplacingWithoutBy", {"01 R.", "  COPY MEMBER REPLACING ==A== ==B==."}, "COPY の REPLACING に BY がありません。", 2},
    {"ReplacingEmptyPattern", {"01 R.", "  COPY MEMBER REPLACING ==== BY ==B==."}, "REPLACING の置き換え元が空です。", 2},
    {"LeadingWithSeveralWords", {"01 R.", "  COPY MEMBER REPLACING LEADING ==A B== BY ==C==."},
     "LEADING/TRAILING の置き換えは1語どうしで書いてください。", 2},
    {"CopyWithoutName", {"01 R.", "  05 A PIC X.", "  COPY."}, "COPY のメンバ名がありません。", 3},
    {"CopyWithoutPeriod", {"01 R.", "  COPY MEMBER"}, "COPY 文がピリオドで終わっていません。", 2},
    {"CopyMemberMissing", {"01 R.", "", "  COPY NOSUCHMEMBER."}, "COPYメンバ NOSUCHMEMBER が見つかりません。", 3},
    {"ExecWithoutEnd", {"01 R.", "  05 A PIC X.", "EXEC SQL INCLUDE SQLCA"}, "EXEC に対応する END-EXEC がありません。", 3},
    {"NoLevelNumber", {"01 R.", "  05 A PIC X.", "  PROCEDURE-NAME PIC X."}, "データ記述項はレベル番号で始めてください", 3},
    {"LevelOutOfRange", {"01 R.", "  50 A PIC X."}, "レベル番号 50 は使えません", 2},
    {"ConditionWithoutName", {"01 R.", "  05 A PIC X.", "  88 VALUE 'Y'."}, "レベル 88 の項目には名前が必要です。", 3},
    {"UnknownWord", {"01 R.", "  05 A PIC X", "       WIDTH 3."}, "解釈できない語があります: WIDTH", 3},
    {"ConditionWithoutValue", {"01 R.", "  05 A PIC X.", "  88 A-ON."}, "レベル88の項目には VALUE が必要です。", 3},
    {"RenamesWithoutClause", {"01 R.", "  05 A PIC X.", "66 B."}, "レベル66の項目には RENAMES が必要です。", 3},
    {"PictureBadCharacter", {"01 R.", "  05 A PIC 9(3)K."}, "PICTURE に使えない文字 'K' があります。", 2},
    {"PictureBadCount", {"01 R.", "  05 A PIC X(3A)."}, "PICTURE の繰返し数 (n) が正しくありません。", 2},
    {"PictureMissing", {"01 R.", "  05 A PIC."}, "PICTURE の文字列がありません。", 2},
    {"PictureTwice", {"01 R.", "  05 A PIC X PIC 9."}, "PICTURE 句が二つあります。", 2},
    {"PictureTooManyDigits", {"01 R.", "  05 A PIC 9(39)."}, "数字項目の桁数は38桁までです。", 2},
    {"PictureWithoutPositions", {"01 R.", "  05 A PIC SV."}, "PICTURE に桁がありません。", 2},
    {"PictureTooLong", {"01 R.", "  05 A PIC X(500000000)X(500000000)."}, "PICTURE が長すぎます。", 2},
    {"PictureTwoPoints", {"01 R.", "  05 A PIC 9V9V9."}, "PICTURE に小数点が二つあります。", 2},
    {"PictureSignNotFirst", {"01 R.", "  05 A PIC 9S9."}, "PICTURE の S は先頭に一つだけ書けます。", 2},
    {"PictureCreditNotLast", {"01 R.", "  05 A PIC 9CR9."}, "PICTURE の CR と DB は末尾に一つだけ書けます。", 2},
    {"UnknownUsage", {"01 R.", "  05 A PIC 9 USAGE COMP-9."}, "USAGE COMP-9 は使えません。", 2},
    {"RedefinesOnCondition", {"01 R.", "  05 A PIC X.", "  88 B VALUE 'Y' REDEFINES A."}, "この項目に REDEFINES は書けません。", 3},
    {"OccursOnRecord", {"01 R OCCURS 2.", "  05 A PIC X."}, "レベル 1 の項目に OCCURS は書けません。", 1},
    {"OccursNotANumber", {"01 R.", "  05 A PIC X OCCURS N TIMES."}, "OCCURS の回数 は正の整数で書いてください: N", 2},
    {"OccursBeyondTheItemLimit", {"01 R.", "  05 A PIC X OCCURS 2147483647."},
     "OCCURS の回数 2147483647 は項目数の上限 8,388,608 を超えています。", 2},
    {"OccursMaximumBeyondTheItemLimit", {"01 R.", "  05 N PIC 9.", "  05 A PIC X OCCURS 1 TO 99999999999999999999 DEPENDING N."},
     "OCCURS の最大回数 99999999999999999999 は項目数の上限 8,388,608 を超えています。", 3},
    {"OccursMaximumBelowMinimum", {"01 R.", "  05 N PIC 9.", "  05 A PIC X OCCURS 5 TO 2 DEPENDING ON N."},
     "OCCURS の最大回数が最小回数より小さくなっています。", 3},
    {"OccursZero", {"01 R.", "  05 A PIC X OCCURS 0."}, "OCCURS の回数は1以上にしてください。", 2},
    {"OccursTwice", {"01 R.", "  05 A PIC X OCCURS 2 OCCURS 3."}, "OCCURS が一つの記述項に二つあります。", 2},
    {"DependingPastTheLimit", {"01 R.", "  05 N PIC 9(7).", "  05 T OCCURS 1 TO 4000000 DEPENDING ON N PIC X."},
     "OCCURS ... DEPENDING ON の最大回数 4000000 は上限 100000 を超えています。", 3},
    {"NameWithSlash", {"01 R.", "  05 B/C PIC X."}, "名前に \"/\" や \"\\\" は使えません。", 2},
    {"NameWithBackslash", {"01 R.", "  05 B\\C PIC X."}, "名前に \"/\" や \"\\\" は使えません。", 2},
    {"NameThatClimbsFolders", {"01 R.", "  05 ../../ESC PIC X."}, "名前に \"..\" は使えません。", 2},
    {"NameWithControlCharacter", {"01 R.", "  05 A\x1B[2J PIC X."}, "名前に制御文字があります。", 2},
    {"OccursRangeWithoutDepending", {"01 R.", "  05 A PIC X OCCURS 1 TO 5."}, "OCCURS m TO n には DEPENDING ON が必要です。", 2},
    {"DependingObjectMissing", {"01 R.", "  05 A PIC X", "     OCCURS 1 TO 5 DEPENDING ON CNT."}, "DEPENDING ON の項目 CNT がありません。", 2},
    {"SignWithoutPlace", {"01 R.", "  05 A PIC S9 SIGN SEPARATE."}, "SIGN の後に LEADING か TRAILING を書いてください。", 2},
    {"BlankWithoutZero", {"01 R.", "  05 A PIC 9 BLANK WHEN SPACE."}, "BLANK WHEN の後に ZERO を書いてください。", 2},
    {"GroupUsageNotNational", {"01 R GROUP-USAGE DISPLAY.", "  05 A PIC N."}, "GROUP-USAGE の後に NATIONAL を書いてください。", 1},
    {"RenamesOutsideLevel66", {"01 R.", "  05 A PIC X RENAMES B."}, "RENAMES はレベル66の項目にだけ書けます。", 2},
    {"ValueWithoutLiteral", {"01 R.", "  05 A PIC X VALUE PIC."}, "VALUE の後に定数がありません。", 2},
    {"ValueWhenWithoutFalse", {"01 R.", "  05 A PIC X.", "  88 B VALUE 'Y' WHEN SET TO 'N'."},
     "WHEN SET TO FALSE の書き方が正しくありません。", 3},
    {"ConditionFirst", {"88 B VALUE 'Y'.", "01 R PIC X."}, "レベル88の項目の前に条件変数がありません。", 1},
    {"RenamesFirst", {"66 B RENAMES A.", "01 R PIC X."}, "レベル66の項目の前にレコードがありません。", 1},
    {"UnderLevel77", {"77 W PIC X.", "  05 A PIC X."}, "レベル77の項目の下に従属項目は置けません。", 2},
    {"GroupWithPicture", {"01 R.", "  05 G PIC X(4).", "    10 A PIC X."}, "従属項目のある集団項目に PICTURE 句は書けません。", 2},
    {"ElementaryWithoutPicture", {"01 R.", "  05 A.", "  05 B PIC X."}, "基本項目に PICTURE 句がありません。", 2},
    {"BinaryOverAlphanumeric", {"01 R.", "  05 A PIC X(4) COMP."}, "USAGE BINARY は数字項目", 2},
    {"BinaryTooLong", {"01 R.", "  05 A PIC 9(19) COMP."}, "2進項目は18桁までです。", 2},
    {"CompXOverEdited", {"01 R.", "  05 A PIC Z9 COMP-X."}, "USAGE COMP-X の PICTURE は 9 か X にしてください", 2},
    {"NationalOverAlphanumeric", {"01 R.", "  05 A PIC X USAGE NATIONAL."}, "USAGE NATIONAL の項目の PICTURE は N か数字にしてください", 2},
    {"Display1OverAlphanumeric", {"01 R.", "  05 A PIC X DISPLAY-1."}, "USAGE DISPLAY-1 の項目の PICTURE は G か N にしてください", 2},
    {"BitOverAlphanumeric", {"01 R.", "  05 A PIC X BIT."}, "USAGE BIT の項目の PICTURE は 1 にしてください", 2},
    {"FloatWithPicture", {"01 R.", "  05 A PIC 9 COMP-1."}, "USAGE COMP-1 の項目に PICTURE 句は書けません。", 2},
    {"GroupUsageOverAlphanumeric", {"01 R.", "  05 G USAGE COMP-3.", "    10 A PIC 9(3).", "    10 B PIC X(3)."},
     "USAGE PACKED-DECIMAL は数字項目", 4},
    {"SignWithoutS", {"01 R.", "  05 A PIC 9(3) SIGN LEADING SEPARATE."}, "SIGN 句は S のある数字項目にだけ書けます。", 2},
    {"RedefinesNotPreceding", {"01 R.", "  05 A PIC X.", "  05 B PIC X.", "  05 C REDEFINES A PIC X."},
     "REDEFINES の対象 A は直前の同じレベルの項目ではありません。", 4},
    {"RenamesTargetMissing", {"01 R.", "  05 A PIC X.", "66 B RENAMES Z."}, "RENAMES の対象 Z がこのレコードにありません。", 3},
    {"RenamesRecord", {"01 R.", "  05 A PIC X.", "66 B RENAMES R."}, "レベル01と77の項目は RENAMES できません。", 3},
    {"RenamesEndsAtATable", {"01 R.", "  05 A PIC X.", "  05 T OCCURS 3.", "    10 B PIC X.", "66 N RENAMES A THRU T."},
     "OCCURS の項目 T は RENAMES の範囲の端にできません。", 5},
    {"RenamesPartOfATable", {"01 R.", "  05 T OCCURS 3.", "    10 B PIC X.", "  05 C PIC X.", "66 N RENAMES B THRU C."},
     "表 T の一部は RENAMES できません。", 5},
    {"RenamesOverAVariableTable",
     {"01 S.", "  05 N2 PIC 9.", "  05 A2 PIC X.", "  05 G.", "    10 T2 PIC X OCCURS 1 TO 3 DEPENDING ON N2.",
      "  05 C2 PIC X.", "66 W2 RENAMES A2 THRU C2."},
     "RENAMES の範囲に OCCURS DEPENDING の表 T2 は含められません。", 7},
    {"RenamesThruAfterIt", {"01 R.", "  05 A PIC X.", "66 N RENAMES A THRU Z.", "  05 Z PIC X."},
     "THRU の項目 Z がこのレコードにありません。", 3},
    {"SignOnABinaryItem", {"01 R.", "  05 A PIC S9(4)", "       COMP SIGN LEADING SEPARATE."},
     "SIGN 句は USAGE DISPLAY か NATIONAL の項目にだけ書けます。", 2},
    {"RenamesThruMissing", {"01 R.", "  05 A PIC X.", "66 B RENAMES A THRU Z."}, "THRU の項目 Z がこのレコードにありません。", 3},
    {"RenamesThruBefore", {"01 R.", "  05 A PIC X.", "  05 C PIC X.", "66 B RENAMES C THRU A."},
     "THRU の項目 A が C より前にあります。", 4},
    {"TooManyOccurrences", {"01 R.", "  05 T OCCURS 1000.", "    10 U OCCURS 1000.", "      15 V PIC X OCCURS 1000."},
     "配列を展開した項目数が上限の 8388608 を超えます。", 4},
    {"RecordTooLong", {"01 R.", "  05 A PIC X(99999999) OCCURS 99999."}, "レコード長が大きすぎます。", 2},
};

class CobolRefusal : public ::testing::TestWithParam<Case> {};

TEST_P(CobolRefusal, NamesTheFileAndLine) {
    const Case& c = GetParam();
    Folder folder;
    const std::string path = folder.Write("BOOK.cpy", Fixed(c.lines));
    folder.Write("MEMBER.cpy", Fixed({"05 M PIC X."}));
    coboltest::Refusal r = Refuse(path);
    ASSERT_TRUE(r.refused) << c.title;
    EXPECT_EQ(r.message.compare(0, std::string(c.message).size(), c.message), 0) << r.message;
    EXPECT_EQ(r.file, path);
    EXPECT_EQ(r.line, c.line) << r.message;
    EXPECT_FALSE(r.entry.empty()) << r.message;
}

INSTANTIATE_TEST_SUITE_P(Messages, CobolRefusal, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.title); });

TEST(CobolRefusalPlace, MissingFileNamesTheFile) {
    coboltest::Refusal r = Refuse("no/such/copybook.cpy");
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "ファイルのオープンに失敗！！");
    EXPECT_EQ(r.file, "no/such/copybook.cpy");
    EXPECT_EQ(r.line, 0);
}

TEST(CobolRefusalPlace, InsideAMemberNamesTheMemberAndItsLine) {
    Folder folder;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.", "  COPY PART."}));
    const std::string part = folder.Write("PART.cpy", Fixed({"  05 B PIC X.", "", "  05 C PIC Q."}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.file, part);
    EXPECT_EQ(r.line, 3);
    EXPECT_EQ(r.entry, "05 C PIC Q");
}

TEST(CobolRefusalPlace, NoSequenceAreaLineSaysWhatIsExpected) {
    Folder folder;
    // Fixed format from its first line, then a line with text in column 7.
    const std::string book = folder.Write("BOOK.cpy", "000100 01 R.\n000200 05 A PIC X.\n000300X05 B PIC X.\n");
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message.compare(0, std::string("固定形式の行ではありません").size(), "固定形式の行ではありません"), 0);
    EXPECT_EQ(r.line, 3);
}

TEST(CobolRefusalPlace, CopyCycleNamesTheChain) {
    Folder folder;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  COPY ONE."}));
    folder.Write("ONE.cpy", Fixed({"  05 A PIC X.", "  COPY TWO."}));
    const std::string two = folder.Write("TWO.cpy", Fixed({"  05 B PIC X.", "  COPY ONE."}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "COPY が循環しています: BOOK.cpy -> ONE.cpy -> TWO.cpy -> ONE.cpy") << r.message;
    EXPECT_EQ(r.file, two);
    EXPECT_EQ(r.line, 2);
}

TEST(CobolRefusalPlace, CopyNestedTooDeep) {
    Folder folder;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  COPY M1."}));
    for (int i = 1; i <= 40; ++i)
        folder.Write("M" + std::to_string(i) + ".cpy",
                     Fixed({"  05 A" + std::to_string(i) + " PIC X.", "  COPY M" + std::to_string(i + 1) + "."}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "COPY の入れ子が深すぎます（32段まで）。");
    EXPECT_EQ(r.file, folder.Path("M32.cpy"));
    EXPECT_EQ(r.line, 2);
}

// A member the search finds as a file but that cannot be read names the COPY statement
// in the file that includes it. Linux's /proc/self/mem is such a file: a regular file
// whose reading from offset 0 (an address never mapped) fails.
// Not on Windows, which has no such file (a skip there would fail `make test`).
#ifndef _WIN32
TEST(CobolRefusalPlace, UnreadableMemberNamesTheCopyStatement) {
    const char* const kUnreadable = "/proc/self/mem";
    std::error_code error;
    if (!std::filesystem::is_regular_file(kUnreadable, error))
        GTEST_SKIP() << kUnreadable << " is absent or not a regular file here, so there is no unreadable member";
    const std::string copy = std::string("  COPY \"") + kUnreadable + "\".";
    const std::string message = std::string("COPYメンバのファイルを開けません: ") + kUnreadable;
    Folder folder;
    // COPYed by the copybook itself, and by a member it COPYs.
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.", "", copy}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, message);
    EXPECT_EQ(r.file, book);
    EXPECT_EQ(r.line, 4);

    const std::string outer = folder.Write("OUTER.cpy", Fixed({"01 R.", "  COPY PART."}));
    const std::string part = folder.Write("PART.cpy", Fixed({"  05 A PIC X.", copy, "  05 B PIC X."}));
    r = Refuse(outer);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, message);
    EXPECT_EQ(r.file, part);
    EXPECT_EQ(r.line, 2);
}
#endif

TEST(CobolRefusalPlace, CopiedTextBeyondTheBoundStopsAtItsCopyStatement) {
    Folder folder;
    // 3 words of the record line; the member brings 5 each time. The COPY statements
    // themselves make no words.
    std::vector<std::string> lines{"01 R."};
    for (int i = 0; i < 10; ++i) lines.push_back("  COPY M.");
    const std::string book = folder.Write("BOOK.cpy", Fixed(lines));
    folder.Write("M.cpy", Fixed({"  05 A PIC X."}));
    CobolOptions options;
    options.maxCopiedWords = 3 + 10 * 5;
    EXPECT_FALSE(Refuse(book, options).refused) << "the whole text is within the bound";
    options.maxCopiedWords -= 1;
    coboltest::Refusal r = Refuse(book, options);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "原始テキストが大きすぎます（COPY メンバと REPLACING の結果を含めて 52 語まで）。");
    EXPECT_EQ(r.file, book);
    EXPECT_EQ(r.line, 11) << "the tenth COPY goes beyond it";
}

TEST(CobolRefusalPlace, WordsMadeByReplacingCountAgainstTheBound) {
    Folder folder;
    // Each level puts eight words for one: 8^12 words from 13 files of two lines, unless
    // the words made are counted.
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  COPY L1 REPLACING ==W== BY ==W W W W W W W W==."}));
    for (int i = 1; i < 13; ++i)
        folder.Write("L" + std::to_string(i) + ".cpy",
                     Fixed({"  05 A" + std::to_string(i) + " PIC X.",
                            "  COPY L" + std::to_string(i + 1) + " REPLACING ==W== BY ==W W W W W W W W==."}));
    const std::string leaf = folder.Write("L13.cpy", Fixed({"  05 B PIC X VALUE W."}));
    CobolOptions options;
    options.maxCopiedWords = 100000;
    coboltest::Refusal r = Refuse(book, options);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message.find("原始テキストが大きすぎます"), 0u) << r.message;
    EXPECT_NE(r.message.find("100,000 語まで"), std::string::npos) << r.message;
    EXPECT_NE(r.file, leaf) << "refused at a COPY statement";
    EXPECT_EQ(r.line, 2);
    EXPECT_EQ(r.entry.find("COPY L"), 0u) << r.entry;

    // A copybook without any COPY is held to the same bound, at the word beyond it.
    std::string flat = Fixed({"01 R."});
    for (int i = 0; i < 30; ++i) flat += Fixed({"  05 A" + std::to_string(i) + " PIC X."});
    const std::string flatBook = folder.Write("FLAT.cpy", flat);
    options.maxCopiedWords = 3 + 5 * 20;
    r = Refuse(flatBook, options);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message.find("原始テキストが大きすぎます"), 0u) << r.message;
    EXPECT_EQ(r.file, flatBook);
    EXPECT_EQ(r.line, 22) << "the first word of the 21st item goes beyond it";
}

// A diamond of members, each copying the next twice: 2^20 copies of the last one's
// entry. Each member is read once, and the bound on the words made stops the diamond
// where it stops the same entries written out.
TEST(CobolRefusalPlace, DiamondOfMembersIsReadOnceAndBoundLikeTheFlatText) {
    Folder folder;
    const int kLevels = 20;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  COPY D1.", "  COPY D1."}));
    for (int i = 1; i < kLevels; ++i)
        folder.Write("D" + std::to_string(i) + ".cpy",
                     Fixed({"  COPY D" + std::to_string(i + 1) + ".", "  COPY D" + std::to_string(i + 1) + "."}));
    folder.Write("D" + std::to_string(kLevels) + ".cpy", Fixed({"  05 A PIC X."}));
    CobolOptions options;
    options.maxCopiedWords = 3 + 5 * 100000;
    coboltest::Refusal r = Refuse(book, options);
    ASSERT_TRUE(r.refused) << "2^20 entries of 5 words go beyond 500,003 words";
    EXPECT_EQ(r.message.find("原始テキストが大きすぎます"), 0u) << r.message;
    EXPECT_EQ(r.entry.find("COPY D"), 0u) << r.entry;

    // Within the bound: 2^12 items from a diamond of 12 levels, laid out in full.
    folder.Write("D12.cpy", Fixed({"  05 A PIC X."}));
    options.maxCopiedWords = 3 + 5 * 4096;
    CobolAnalyzer analyzer(book.c_str(), options);
    CopyItem* head = analyzer.Analyze();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(analyzer.GetRecordLength(), 4096u);
    EXPECT_EQ(analyzer.GetItemCount(), 4097u);
}

TEST(CobolRefusalPlace, KeywordFollowedByANulByteIsNoKeyword) {
    Folder folder;
    using namespace std::string_literals;
    // "IS" and "COMP" each followed by a NUL byte in the same word.
    const std::string book =
        folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC 9 USAGE IS\0X COMP."s, "  05 B PIC 9 USAGE COMP\0."s}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.line, 2);
    EXPECT_EQ(r.message.find("USAGE IS"), 0u) << r.message;
}

TEST(CobolRefusalPlace, NulByteInANameIsRefused) {
    Folder folder;
    using namespace std::string_literals;
    // "A\0X" and "A\0Y" would both read as A.
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A\0X PIC X."s, "  05 A\0Y PIC X."s}));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "名前に NUL 文字（0x00）があります。");
    EXPECT_EQ(r.file, book);
    EXPECT_EQ(r.line, 2);
}

TEST(CobolRefusalPlace, MemberThatIsAFolderOrADeviceIsNamedSo) {
    Folder folder;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X.", "  COPY PART."}));
    std::filesystem::create_directories(folder.Path("PART.cpy"));
    coboltest::Refusal r = Refuse(book);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "COPYメンバ PART はファイルではなくフォルダです: " + folder.Path("PART.cpy")) << r.message;
    EXPECT_EQ(r.line, 3);
    // A file of the name in an include folder is taken before that.
    folder.Write("lib/PART.cpy", Fixed({"  05 B PIC X."}));
    CobolOptions options;
    options.includeDirs.push_back(folder.Path("lib"));
    EXPECT_FALSE(Refuse(book, options).refused);
#ifndef _WIN32
    const std::string device = folder.Write("DEV.cpy", Fixed({"01 R.", "  COPY \"/dev/null\"."}));
    r = Refuse(device);
    ASSERT_TRUE(r.refused);
    EXPECT_EQ(r.message, "COPYメンバ /dev/null はファイルではなく装置などです: /dev/null") << r.message;
    EXPECT_EQ(r.line, 2);
#endif
}

TEST(CobolRefusalPlace, CaughtAsCExceptionKeepsItsMessageAndName) {
    Folder folder;
    const std::string book = folder.Write("BOOK.cpy", Fixed({"01 R.", "  05 A PIC X(4) COMP."}));
    CobolAnalyzer analyzer(book.c_str());
    try {
        analyzer.Analyze();
        FAIL() << "accepted";
    } catch (CException e) {
        EXPECT_STREQ(e.GetExceptionName(), "CCobolException");
        EXPECT_EQ(std::string(e.GetMessageText()).find("USAGE BINARY"), 0u);
    }
}

}  // namespace
