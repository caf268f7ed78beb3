// Cross-check of the engine's layout against GnuCOBOL: for every bundled example
// copybook, a COBOL program that COPYs it is compiled with cobc and prints the offset
// (from the record's address) and byte length of every named item and of every
// occurrence of the items under OCCURS; each must equal the engine's position and
// byteLength. FILLER and unnamed items cannot be referenced from a program; their
// bytes are still checked through the offsets of the items after them and through
// the record length.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cobc_program.h"
#include "cobcpy.h"

namespace {

using qbtest::HaveCobc;
using qbtest::ItemReference;
using qbtest::ProgramText;
using qbtest::Quote;
using qbtest::ReferenceText;

const std::string kExamples = std::string(QB_SOURCE_DIR) + "/examples";

// The example copybooks written inside GnuCOBOL's subset of the language.
const char* const kCheckedExamples[] = {"CUSTMAST", "ORDERREC", "MIXEDUSE"};

std::string Describe(const CopyItem* item) { return ReferenceText(ItemReference(item)); }

bool Referable(const CopyItem* item) {
    if (item->name[0] == '\0' || CompareNoCase(item->name, "FILLER") == 0) return false;
    for (const CopyItem* p = item->parent; p != nullptr; p = p->parent)
        if (p->name[0] == '\0' || CompareNoCase(p->name, "FILLER") == 0) return false;
    return true;
}

struct Measured {
    long offset;
    long length;
};

class CobcCrossCheck : public ::testing::TestWithParam<const char*> {};

TEST_P(CobcCrossCheck, EveryItemAndOccurrenceMatchesGnuCobol) {
    if (!HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is nothing to compare with";
    const std::string member = GetParam();
    CopyAnalyzer analyzer("");
    ASSERT_TRUE(analyzer.SetFileName((kExamples + "/" + member + ".cpy").c_str()));
    CopyItem* head = nullptr;
    try {
        head = analyzer.Analyze();
    } catch (CException e) {
        FAIL() << member << ": " << e.GetMessageText();
    }
    ASSERT_EQ(head->level, 1) << "the example must start with its 01 record";

    ProgramText program;
    program.Line("IDENTIFICATION DIVISION.");
    program.Line("PROGRAM-ID. XCHECK.");
    program.Line("DATA DIVISION.");
    program.Line("WORKING-STORAGE SECTION.");
    program.Line("COPY " + member + ".");
    program.MeasuringStorage();
    program.Line("PROCEDURE DIVISION.");
    program.Statement({"SET", "XC-BASE", "TO", "ADDRESS", "OF", head->name});
    program.Statement({"MOVE", "FUNCTION", "BYTE-LENGTH", "(", head->name, ")", "TO", "XC-LEN"});
    program.Statement({"DISPLAY", "\"R 0 \"", "XC-LEN"});

    std::map<int, const CopyItem*> checked;
    int total = 0;
    for (const CopyItem* item = head; item != nullptr; item = item->next) {
        ++total;
        if (item->level != 1 && item == head) continue;
        if (!Referable(item)) continue;
        checked[item->serialNo] = item;
        program.MeasureItem(item->serialNo, ItemReference(item));
    }
    program.Statement({"STOP", "RUN."});
    // Most items must be compared; only FILLER items and their subordinates are not.
    ASSERT_GE(checked.size() * 10, static_cast<std::size_t>(total) * 8) << member;

    const std::filesystem::path dir = std::filesystem::current_path() / "cobc_crosscheck_work" / member;
    std::filesystem::create_directories(dir);
    std::string output;
    const std::string options = "-debug -fbinary-size=2-4-8 -I " + Quote(kExamples);
    const std::string failure = qbtest::CompileAndRun(dir.string(), program.Text(), options, output);
    ASSERT_TRUE(failure.empty()) << member << ": " << failure;
    std::istringstream lines(output);
    std::map<int, Measured> measured;
    long recordBytes = -1;
    std::string kind;
    while (lines >> kind) {
        int serial = 0;
        long offset = 0, length = 0;
        if (kind == "R") {
            lines >> serial >> recordBytes;
        } else if (kind == "I") {
            lines >> serial >> offset >> length;
            measured[serial] = Measured{offset, length};
        } else {
            FAIL() << "unexpected output of the program: " << output;
        }
    }
    EXPECT_EQ(recordBytes, static_cast<long>(analyzer.GetRecordLength())) << member << ": record length";
    EXPECT_EQ(measured.size(), checked.size()) << member;
    for (const auto& entry : checked) {
        const CopyItem* item = entry.second;
        auto found = measured.find(entry.first);
        ASSERT_NE(found, measured.end()) << Describe(item);
        EXPECT_EQ(found->second.offset, item->position) << member << ": position of " << Describe(item);
        EXPECT_EQ(found->second.length, item->byteLength) << member << ": length of " << Describe(item);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, CobcCrossCheck, ::testing::ValuesIn(kCheckedExamples));

// A new example copybook must be added to the cross-check list above.
TEST(CobcCrossCheckList, CoversEveryBundledExample) {
    std::vector<std::string> missing;
    for (const auto& entry : std::filesystem::directory_iterator(kExamples)) {
        if (entry.path().extension() != ".cpy") continue;
        const std::string stem = entry.path().stem().string();
        bool listed = false;
        for (const char* name : kCheckedExamples) listed = listed || stem == name;
        if (!listed) missing.push_back(stem);
    }
    EXPECT_TRUE(missing.empty()) << "not cross-checked: " << (missing.empty() ? "" : missing.front());
}

}  // namespace
