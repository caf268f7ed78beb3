// Cross-check of the COBOL-rules analysis against GnuCOBOL: each copybook (the real
// copybooks of ../shared/corpus-raw, and the copybooks of examples/cobol and
// tests/cobol/data) is COPYed into a program compiled with
// `cobc -x -std=ibm -fbinary-size=2-4-8`, which prints the offset from its record and
// the byte length of every named item with storage, in every occurrence, and the
// length of every record. Each must equal the analysis with 8-byte pointers.
//
// A copybook that cobc itself refuses (even as the bare COPY) is skipped with cobc's
// message; so is everything when cobc is not installed. Copybooks written without an
// 01 are COPYed under one of the program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cobc_program.h"
#include "cobolrules.h"

namespace {

using qbtest::HaveCobc;
using qbtest::ProgramText;
using qbtest::Quote;

namespace fs = std::filesystem;

const fs::path kSource = QB_SOURCE_DIR;
const fs::path kCorpus = kSource.parent_path() / "shared" / "corpus-raw";

std::vector<std::string> CopybookList() {
    std::vector<std::string> files;
    for (const fs::path& dir : {kCorpus, kSource / "examples" / "cobol", kSource / "tests" / "cobol" / "data"}) {
        std::error_code error;
        if (!fs::is_directory(dir, error)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".cpy") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// COPY members of the corpus are stored under their project's prefix
// ("zappbuild-epsmtinp.cpy" holds member EPSMTINP): a folder of links under the
// member names lets both cobc and the analysis find them.
fs::path MemberFolder() {
    const fs::path dir = fs::current_path() / "cobol_crosscheck_members";
    fs::create_directories(dir);
    std::error_code error;
    if (!fs::is_directory(kCorpus, error)) return dir;
    for (const auto& entry : fs::directory_iterator(kCorpus)) {
        std::string stem = entry.path().stem().string();
        std::size_t dash = stem.find('-');
        if (entry.path().extension() != ".cpy" || dash == std::string::npos) continue;
        std::string member = stem.substr(dash + 1);
        for (char& c : member) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        // Test processes run side by side: a link another one made first is left as it is.
        fs::path link = dir / (member + ".cpy");
        if (!fs::is_symlink(link, error)) fs::create_symlink(entry.path(), link, error);
    }
    return dir;
}

bool Named(const CopyItem* item) { return item->name[0] != '\0' && CompareNoCase(item->name, "FILLER") != 0; }

// The record item an item is measured from: its 01 or 77, or the program's own 01.
const CopyItem* RecordOf(const CopyItem* item) {
    if (item->level == 66) return item->parent;
    const CopyItem* top = item;
    while (top->parent != nullptr) top = top->parent;
    return (top->level == 1 || top->level == 77) ? top : nullptr;
}

// The words that name one occurrence of an item. Items of a copybook without a record
// of its own are qualified by the program's XC-WRAP around it; a level-66 item names
// its whole range, so it takes no subscripts and is qualified by its record alone.
std::vector<std::string> Reference(const CopyItem* item) {
    const bool renames = item->level == 66;
    return qbtest::ItemReference(item, RecordOf(item) == nullptr && !renames ? "XC-WRAP" : "", !renames);
}

std::string Describe(const CopyItem* item) { return qbtest::ReferenceText(Reference(item)); }

bool Referable(const CopyItem* item) {
    if (item->level == 88 || !Named(item)) return false;
    for (const CopyItem* p = item->parent; p != nullptr; p = p->parent)
        if (!Named(p)) return false;
    return true;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Slurp(const std::string& path) {
    std::string text;
    ReadTextFile(path.c_str(), text);
    return text;
}

// What cobc's BYTE-LENGTH gives for an item: its length, except that a group holding a
// table with DEPENDING ON ends, for cobc, with the last such table (at its maximum).
long CobcByteLength(const CopyItem* item) {
    if (!(item->flags & ITEM_GROUP)) return item->byteLength;
    long end = -1;
    for (const CopyItem* p = item->next; p != nullptr && p->level > item->level && p->level < 66; p = p->next)
        if ((p->flags & ITEM_VARIABLE) && p->elementNo == 1 && p->occursCount > 0)
            end = std::max(end, static_cast<long>(p->position) + static_cast<long>(p->byteLength) * p->occursCount);
    return end < 0 ? item->byteLength : end - item->position;
}

class CobolCrossCheck : public ::testing::TestWithParam<std::string> {};

TEST_P(CobolCrossCheck, EveryItemOccurrenceAndRecordMatchesGnuCobol) {
    if (!HaveCobc()) GTEST_SKIP() << "cobc (GnuCOBOL) is not installed, so there is nothing to compare with";
    const fs::path copybook = GetParam();
    const fs::path members = MemberFolder();
    const fs::path dir = fs::current_path() / "cobol_crosscheck_work" / copybook.stem();
    fs::create_directories(dir);

    CobolOptions options;
    options.pointerSize = 8;
    options.includeDirs.push_back(members.string());
    CobolAnalyzer analyzer(copybook.string().c_str(), options);
    CopyItem* head = nullptr;
    std::string refusal;
    try {
        head = analyzer.Analyze();
    } catch (CCobolException e) {
        refusal = std::string(e.GetCopybookFile()) + ":" + std::to_string(e.GetCopybookLine()) + ": " + e.GetMessageText();
    } catch (CException e) {
        refusal = e.GetMessageText();
    }

    const bool wrapped = head != nullptr && head->level != 1 && head->level != 77;
    ProgramText program;
    program.Line("IDENTIFICATION DIVISION.");
    program.Line("PROGRAM-ID. XCHECK.");
    program.Line("DATA DIVISION.");
    program.Line("WORKING-STORAGE SECTION.");
    if (head == nullptr || wrapped) program.Line("01 XC-WRAP.");
    // By file name, found through -I: a full path could run past column 72.
    program.Line("COPY " + Quote(copybook.filename().string()) + ".");
    const std::string declarations = program.Text();

    // cobc's verdict on the copybook alone.
    const std::string bare = (dir / "bare.cob").string();
    const std::string bareText = declarations + "       PROCEDURE DIVISION.\n           STOP RUN.\n";
    ASSERT_TRUE(WriteTextFile(bare.c_str(), bareText.data(), bareText.size()));
    const std::string flags = " -std=ibm -fbinary-size=2-4-8 -I " + Quote(members.string()) + " -I " +
                              Quote(copybook.parent_path().string()) + " ";
    const std::string bareLog = (dir / "bare.log").string();
    if (Shell("cobc -fsyntax-only" + flags + Quote(bare) + " >" + Quote(bareLog) + " 2>&1") != 0) {
        // Only the real copybooks may lie outside what cobc accepts; the project's own must not.
        if (copybook.parent_path() != kCorpus) FAIL() << "cobc refuses " << copybook << ":\n" << Slurp(bareLog);
        // A real copybook cobc refuses itself has nothing to be compared with: said, not
        // skipped (a skip fails `make test` where every package is installed).
        std::printf("[ note ] cobc refuses %s itself: nothing to compare\n", copybook.filename().string().c_str());
        return;
    }
    ASSERT_TRUE(refusal.empty()) << "cobc accepts " << copybook << " but the analysis refuses it: " << refusal;

    program.MeasuringStorage();
    program.Line("PROCEDURE DIVISION.");
    // Tables with DEPENDING ON at their maximum, as the analysis lays them out.
    for (const CopyItem* item = head; item != nullptr; item = item->next)
        if ((item->flags & ITEM_VARIABLE) && item->elementNo == 1)
            program.Statement({"MOVE", std::to_string(item->occursCount), "TO", analyzer.DependingOn(item)});

    std::vector<const CopyItem*> records;
    std::map<int, const CopyItem*> checked;
    int storageItems = 0;
    for (const CopyItem* item = head; item != nullptr; item = item->next) {
        if (item->level == 88) continue;
        ++storageItems;
        if (item->level == 1 || item->level == 77) records.push_back(item);
        if (!Referable(item)) continue;
        checked[item->serialNo] = item;
        const CopyItem* record = RecordOf(item);
        program.Statement({"SET", "XC-BASE", "TO", "ADDRESS", "OF", record != nullptr ? record->name : "XC-WRAP"});
        program.MeasureItem(item->serialNo, Reference(item));
    }
    if (wrapped) {
        program.Statement({"MOVE", "FUNCTION", "BYTE-LENGTH", "(", "XC-WRAP", ")", "TO", "XC-LEN"});
        program.Statement({"DISPLAY", "\"R \"", "XC-LEN"});
    }
    for (const CopyItem* record : records) {
        program.Statement({"MOVE", "FUNCTION", "BYTE-LENGTH", "(", record->name, ")", "TO", "XC-LEN"});
        program.Statement({"DISPLAY", "\"R \"", "XC-LEN"});
    }
    program.Statement({"STOP", "RUN."});
    // FILLER and unnamed items are checked through the offsets of the items after them.
    ASSERT_GE(checked.size() * 10, static_cast<std::size_t>(storageItems) * 5) << copybook;

    std::string output;
    const std::string failure = qbtest::CompileAndRun(dir.string(), program.Text(), flags, output);
    ASSERT_TRUE(failure.empty()) << copybook << ": " << failure;
    std::istringstream lines(output);
    std::map<int, std::pair<long, long>> measured;
    long recordBytes = 0;
    std::string kind;
    while (lines >> kind) {
        if (kind == "R") {
            long length = 0;
            lines >> length;
            recordBytes = std::max(recordBytes, length);
        } else if (kind == "I") {
            int serial = 0;
            long offset = 0, length = 0;
            lines >> serial >> offset >> length;
            measured[serial] = {offset, length};
        } else {
            FAIL() << "unexpected output of the measuring program: " << output;
        }
    }
    // cobc's BYTE-LENGTH of a record holding a table with DEPENDING ON ends with that
    // table even at its maximum; the fields after it, which keep the positions of the
    // maximum, then end the record.
    bool variable = false;
    for (const CopyItem* item = head; item != nullptr; item = item->next) variable = variable || (item->flags & ITEM_VARIABLE);
    if (variable)
        for (const auto& m : measured) recordBytes = std::max(recordBytes, m.second.first + m.second.second - 1);
    EXPECT_EQ(recordBytes, static_cast<long>(analyzer.GetRecordLength())) << copybook << ": record length";
    EXPECT_EQ(measured.size(), checked.size()) << copybook;
    for (const auto& entry : checked) {
        const CopyItem* item = entry.second;
        auto found = measured.find(entry.first);
        ASSERT_NE(found, measured.end()) << Describe(item);
        EXPECT_EQ(found->second.first, item->position) << copybook.filename() << ": position of " << Describe(item);
        EXPECT_EQ(found->second.second, CobcByteLength(item)) << copybook.filename() << ": length of " << Describe(item);
    }
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = fs::path(info.param).parent_path().filename().string() + "_" + fs::path(info.param).stem().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Copybooks, CobolCrossCheck, ::testing::ValuesIn(CopybookList()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CobolCrossCheck);

}  // namespace
