// Cross-check of decode and encode against GnuCOBOL: a COBOL program compiled with
// cobc writes records with known values for every usage, sign, scale and length, the
// same copybook laid out by the engine; decode must give every value exactly, and
// encode of the values must give GnuCOBOL's file byte for byte.
//
// GnuCOBOL's conventions: signed display numbers carry the sign in the last byte's
// zone, 0x3 positive and 0x7 negative (--sign-zones 0x30,0x70); COMP is big-endian,
// COMP-5 and COMP-1/COMP-2 native little-endian. (GnuCOBOL 3.1 stores PIC N as
// single-byte text, so national items are not compared here; text items are, with
// Shift_JIS content.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cobc_program.h"
#include "data_test_util.h"

using datatest::Layout;
using datatest::RunResult;

namespace {

struct Item {
    const char* name;
    const char* clause;
};

const Item kItems[] = {
    {"T-TEXT", "PIC X(8)"},
    {"U-DISP", "PIC 9(5)"},
    {"S-DISP", "PIC S9(5)V99"},
    {"S-LONG", "PIC S9(18)"},
    {"S-FRAC", "PIC S9V9(3)"},
    {"P-SIGN", "PIC S9(7)V99 COMP-3"},
    {"P-EVEN", "PIC S9(4) COMP-3"},
    {"P-UNS", "PIC 9(5) COMP-3"},
    {"P-LONG", "PIC S9(18) COMP-3"},
    {"B-HALF", "PIC S9(4) COMP"},
    {"B-WORD", "PIC 9(9) COMP"},
    {"B-LONG", "PIC S9(18) BINARY"},
    {"B-SCALE", "PIC S9(5)V9(2) COMP"},
    {"C-HALF", "PIC S9(4) COMP-5"},
    {"C-WORD", "PIC S9(9) COMP-5"},
    {"C-LONG", "PIC 9(18) COMP-5"},
    {"F-SHORT", "COMP-1"},
    {"F-LONG", "COMP-2"},
};
constexpr size_t kItemCount = sizeof kItems / sizeof kItems[0];

// Each row: the COBOL literal moved into every item, and the value decode must give
// (the same text unless given). Text literals are quoted.
const std::vector<std::vector<std::pair<std::string, std::string>>> kRows = {
    {{"\"ABC\"", "ABC     "}, {"0", ""}, {"0", "0.00"}, {"0", ""}, {"0", "0.000"}, {"0", "0.00"}, {"0", ""},
     {"0", ""}, {"0", ""}, {"0", ""}, {"0", ""}, {"0", ""}, {"0", "0.00"}, {"0", ""}, {"0", ""}, {"0", ""},
     {"0", ""}, {"0", ""}},
    {{"\"日本語\"", u8"日本語  "}, {"12345", ""}, {"-123.45", ""}, {"-123456789012345678", ""}, {"-.5", "-0.500"},
     {"1234567.89", ""}, {"-1234", ""}, {"99999", ""}, {"-999999999999999999", ""}, {"-2", ""},
     {"123456789", ""}, {"-987654321098765432", ""}, {"-12345.67", ""}, {"-32768", ""},
     {"-123456789", ""}, {"999999999999999999", ""}, {"1.5", ""}, {"-0.375", ""}},
    {{"\"a,b\"\"c\"", "a,b\"c   "}, {"1", ""}, {"99999.99", ""}, {"999999999999999999", ""}, {".999", "0.999"},
     {"-9999999.99", ""}, {"9999", ""}, {"1", ""}, {"1", ""}, {"9999", ""}, {"999999999", ""},
     {"1", ""}, {"99999.99", ""}, {"9999", ""}, {"999999999", ""}, {"0", ""}, {"-1024", ""}, {"0.125", ""}},
};

std::string ProgramText(const std::string& copybook, const std::string& dataFile) {
    qbtest::ProgramText program;
    auto line = [&program](const std::string& text) { program.Line(text); };
    line("IDENTIFICATION DIVISION.");
    line("PROGRAM-ID. WRITEREC.");
    line("ENVIRONMENT DIVISION.");
    line("INPUT-OUTPUT SECTION.");
    line("FILE-CONTROL.");
    line("    SELECT OUT-FILE ASSIGN TO \"" + dataFile + "\"");
    line("        ORGANIZATION SEQUENTIAL.");
    line("DATA DIVISION.");
    line("FILE SECTION.");
    line("FD OUT-FILE.");
    line("COPY \"" + copybook + "\".");
    line("PROCEDURE DIVISION.");
    line("    OPEN OUTPUT OUT-FILE.");
    for (const auto& row : kRows) {
        for (size_t i = 0; i < kItemCount; ++i) line("    MOVE " + row[i].first + " TO " + kItems[i].name + ".");
        line("    WRITE XREC.");
    }
    line("    CLOSE OUT-FILE.");
    line("    STOP RUN.");
    return program.Text();
}

std::string ExpectedCsv() {
    std::string csv;
    for (size_t i = 0; i < kItemCount; ++i) csv += std::string(i ? "," : "") + kItems[i].name;
    csv += "\n";
    for (const auto& row : kRows) {
        for (size_t i = 0; i < kItemCount; ++i) {
            std::string value = row[i].second.empty() ? row[i].first : row[i].second;
            if (value.find_first_of(",\"") != std::string::npos) {
                std::string quoted = "\"";
                for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
                value = quoted + "\"";
            }
            csv += (i ? "," : "") + value;
        }
        csv += "\n";
    }
    return csv;
}

TEST(GnuCobolData, DecodeGivesEveryValueAndEncodeGivesGnuCobolsBytes) {
    if (!qbtest::HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is no reference file to compare with";
    std::vector<std::string> entries = {"01 XREC."};
    for (const Item& item : kItems) entries.push_back(std::string("   05 ") + item.name + " " + item.clause + ".");
    Layout layout(entries);
    ASSERT_GT(layout.Length(), 0);

    const std::string stem = qbtest::ProcessUniqueName("cobcdata_", "writerec");
    const std::string program = stem + ".cob", executable = "./" + stem, data = stem + ".dat";
    ASSERT_TRUE(qbtest::WriteFileBytes(program, ProgramText(layout.Path(), data)));
    std::string compile = "cobc -x -fbinary-size=2-4-8 -o " + qbtest::Quote(executable) + " " + qbtest::Quote(program) +
                          " 2>" + qbtest::Quote(stem + ".log");
    ASSERT_EQ(std::system(compile.c_str()), 0) << "cobc refused the program; see " << stem << ".log";
    ASSERT_EQ(std::system(executable.c_str()), 0);
    std::string written = qbtest::ReadFileBytes(data);
    ASSERT_EQ(written.size(), kRows.size() * static_cast<size_t>(layout.Length()));

    DataOptions options;
    ASSERT_TRUE(ParseSignZones("0x30,0x70", options.positiveZone, options.negativeZone));
    options.signZonesGiven = true;
    RunResult decoded = layout.Decode(written, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, ExpectedCsv());
    RunResult encoded = layout.Encode(ExpectedCsv(), options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, written);
    for (const std::string& name : {program, data, stem + ".log", stem}) std::remove(name.c_str());
}

}  // namespace
