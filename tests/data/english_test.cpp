// English beside the analysis's Japanese: every message the analysis can say has its
// English, with the names and numbers it holds, on the command line and through the
// library's Layout (which the Python module raises from).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "datafile.h"
#include "english.h"
#include "test_util.h"
#include "textcodec.h"

namespace {

const std::string kCli = QB_CLI_PATH;
const std::string kSource = QB_SOURCE_DIR;

std::string Sjis(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(quillbox::Utf8ToShiftJis(utf8, out)) << utf8;
    return out;
}
std::string English(const std::string& utf8) { return quillbox::EnglishOf(Sjis(utf8)); }

// The string literals holding Japanese in a C++ source (UTF-8), comments passed over,
// with their escapes undone.
std::vector<std::string> JapaneseLiterals(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::vector<std::string> found;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "//") == 0) {
            i = s.find('\n', i);
            if (i == std::string::npos) break;
        } else if (s.compare(i, 2, "/*") == 0) {
            i = s.find("*/", i);
            if (i == std::string::npos) break;
            ++i;
        } else if (s[i] == '\'') {
            // A character literal: '"' must not open a string.
            size_t j = i + 1;
            while (j < s.size() && s[j] != '\'') j += s[j] == '\\' ? 2 : 1;
            i = j;
        } else if (s[i] == '"') {
            std::string literal;
            size_t j = i + 1;
            for (; j < s.size() && s[j] != '"'; ++j) {
                if (s[j] == '\\' && j + 1 < s.size()) {
                    ++j;
                    literal += s[j] == 'n' ? '\n' : s[j];
                } else {
                    literal += s[j];
                }
            }
            i = j;
            bool japanese = false;
            for (unsigned char c : literal) japanese = japanese || c >= 0x80;
            if (japanese) found.push_back(literal);
        }
    }
    return found;
}

TEST(English, EveryJapaneseTextOfTheAnalysisIsAKnownMessageOrPartOfOne) {
    std::vector<std::string> forms;
    for (const std::string& form : quillbox::KnownJapaneseForms()) forms.push_back(quillbox::ShiftJisToUtf8(form));
    namespace fs = std::filesystem;
    std::vector<std::string> files{kSource + "/support/textrules.cpp", kSource + "/support/cgiclib_internal.h"};
    for (const auto& entry : fs::directory_iterator(kSource + "/engine")) files.push_back(entry.path().string());
    size_t literals = 0;
    for (const std::string& file : files) {
        for (std::string literal : JapaneseLiterals(file)) {
            ++literals;
            while (!literal.empty() && literal.back() == '\n') literal.pop_back();
            bool known = false;
            for (const std::string& form : forms) known = known || form.find(literal) != std::string::npos;
            EXPECT_TRUE(known) << file << ": \"" << literal << "\" has no English";
        }
    }
    EXPECT_GT(literals, 150u);   // the scan found the messages
}

TEST(English, MessagesCarryTheirNamesAndNumbersIntoTheEnglish) {
    EXPECT_EQ(English(u8"OCCURS ... DEPENDING ON の最大回数 4000000 は上限 100000 を超えています。"),
              "the most occurrences of OCCURS ... DEPENDING ON, 4000000, are beyond the limit of 100000");
    EXPECT_EQ(English(u8"COPYメンバ TXNLINE が見つかりません。"), "COPY member TXNLINE not found");
    EXPECT_EQ(English(u8"COPYメンバ TXN はファイルではなくフォルダです: /x/TXN"), "COPY member TXN is a folder, not a file: /x/TXN");
    EXPECT_EQ(English(u8"THRU の項目 B-END が A-START より前にあります。"), "B-END, which THRU names, comes before A-START");
    EXPECT_EQ(English(u8"PICTURE に使えない文字 'Q' があります。"), "a character the PICTURE cannot have: 'Q'");
    // The word an entry lacks, said in English too.
    EXPECT_EQ(English(u8"DEPENDING ON の項目名 がありません。"), "the item name after DEPENDING ON is missing");
    EXPECT_EQ(English(u8"DEPENDING ON の項目 CNT がありません。"), "the DEPENDING ON item CNT is not there");
    EXPECT_EQ(English(u8"OCCURS の回数 は正の整数で書いてください: X9"), "the count of OCCURS is a positive whole number: X9");
    EXPECT_EQ(English(u8"OCCURS の最大回数 9999999999 は項目数の上限 8,388,608 を超えています。"),
              "the most occurrences of OCCURS 9999999999 is beyond the limit of 8,388,608 items");
    // A message with a second line keeps it after the English.
    EXPECT_EQ(quillbox::WithEnglish(Sjis(u8"数値型は18桁まで\n    05 B PIC S9(19).")),
              Sjis(u8"数値型は18桁まで (a number has at most 18 digits under the default rules)\n    05 B PIC S9(19)."));
    EXPECT_EQ(quillbox::WithEnglish(Sjis(u8"DEPENDING指定の配列はサポートしていません。\n")),
              Sjis(u8"DEPENDING指定の配列はサポートしていません。 (tables with DEPENDING ON are not read by the default rules)\n"));
    // What is not the analysis's is left as it is.
    EXPECT_EQ(quillbox::WithEnglish("the record is too long"), "the record is too long");
    EXPECT_EQ(quillbox::WithEnglish(Sjis(u8"知らない文")), Sjis(u8"知らない文"));
    EXPECT_EQ(English(u8"COPYメンバ  が見つかりません。"), "");   // no name where one belongs
    EXPECT_EQ(English(u8"数値型は18桁までですか"), "");          // a whole message, not its start
}

struct Result {
    int status;
    std::string err;
};

Result Cli(const std::string& arguments) {
    const std::string out = qbtest::ProcessUniqueName("english_", "out"), err = qbtest::ProcessUniqueName("english_", "err");
    int raw = std::system(("'" + kCli + "' " + arguments + " >" + out + " 2>" + err).c_str());
    Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

// Copybooks the analysis refuses (or warns about) with a message each, run through
// quillbox-cli layout: no line of Japanese comes without English beside it.
TEST(English, NoAnalysisMessageReachesTheCommandLineInJapaneseAlone) {
    struct Case {
        const char* options;
        const char* entries;    // after "01 REC." and "05 CNT PIC 9(7)."
        const char* english;
    };
    const Case cases[] = {
        {"", "05 B PIC S9(19).", "a number has at most 18 digits under the default rules"},
        {"", "05 B PIC X OCCURS 1 TO 5 DEPENDING ON CNT.", "tables with DEPENDING ON are not read by the default rules"},
        {"--cobol", "05 T OCCURS 1 TO 4000000 DEPENDING ON CNT PIC X.",
         "the most occurrences of OCCURS ... DEPENDING ON, 4000000, are beyond the limit of 100000"},
        {"--cobol", "05 T OCCURS 1 TO 5 DEPENDING ON NOPE PIC X.", "the DEPENDING ON item NOPE is not there"},
        {"--cobol", "05 T PIC X OCCURS ABC.", "the count of OCCURS is a positive whole number: ABC"},
        {"--cobol", "05 B PIC X PIC X.", "two PICTURE clauses"},
        {"--cobol", "05 B.", "an elementary item without a PICTURE clause"},
        {"--cobol", "05 B PIC X(3) USAGE COMP-3.", "USAGE PACKED-DECIMAL is only for numeric items"},
        {"--cobol", "05 B PIC 9 SIGN LEADING.", "the SIGN clause is only for numeric items with S"},
        {"--cobol", "05 B PIC X.\n           05 C REDEFINES NOPE PIC X.", "NOPE, which REDEFINES names"},
        {"--cobol", "05 B PIC 9 USAGE COMP USAGE BINARY.", "has two USAGE clauses; the later one"},
        {"--cobol", "05 B PIC X.\n           COPY NOSUCHMEMBER.", "COPY member NOSUCHMEMBER not found"},
    };
    const std::string copybook = qbtest::ProcessUniqueName("english_", "book.cpy");
    const std::regex japanese("[\\x80-\\xff]");
    for (const Case& c : cases) {
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook, std::string("       01 REC.\n           05 CNT PIC 9(7).\n           ") +
                                                         c.entries + "\n"));
        const Result result = Cli(std::string("layout ") + c.options + " " + copybook);
        EXPECT_NE(result.err.find(c.english), std::string::npos) << c.entries << "\n" << result.err;
        std::istringstream lines(result.err);
        for (std::string line; std::getline(lines, line);) {
            if (!std::regex_search(line, japanese)) continue;
            EXPECT_TRUE(std::regex_search(line, std::regex("\\([a-zA-Z][^)]*[a-z]{3}"))) << "Japanese alone: " << line;
        }
    }
    std::remove(copybook.c_str());
}

// The library's Layout, which the Python module's LayoutError says, gives the English too.
TEST(English, TheLayoutOfTheLibrarySaysTheEnglish) {
    const std::string copybook = qbtest::ProcessUniqueName("english_", "lib.cpy");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 REC.\n           05 B PIC S9(19).\n"));
    try {
        quillbox::Layout layout(copybook);
        ADD_FAILURE() << "a 19-digit number under the default rules was taken";
    } catch (const quillbox::Error& failure) {
        EXPECT_NE(std::string(failure.what()).find(u8"数値型は18桁まで (a number has at most 18 digits under the default rules)"),
                  std::string::npos)
            << failure.what();
    }
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 REC.\n           05 CNT PIC 9(7).\n"
                                                 "           05 T OCCURS 1 TO 4000000 DEPENDING ON CNT PIC X.\n"));
    quillbox::LayoutOptions cobol;
    cobol.cobol = true;
    try {
        quillbox::Layout layout(copybook, cobol);
        ADD_FAILURE() << "an ODO of 4000000 was taken";
    } catch (const quillbox::Error& failure) {
        EXPECT_NE(std::string(failure.what()).find("are beyond the limit of 100000)"), std::string::npos) << failure.what();
    }
    std::remove(copybook.c_str());
}

}  // namespace
