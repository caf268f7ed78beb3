// A layout of every usage whose good values a database load reads straight from the
// record's bytes, and a data file of it with the values at the ends of each usage's
// range and bytes no table value gives (blanks, low-values, a bad digit, binary numbers
// past their pictures), for the tests that compare such a load with one of the cells.
#ifndef DIRECT_ROWS_H
#define DIRECT_ROWS_H

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datacodec.h"
#include "datafile.h"
#include "layoutplan.h"
#include "parallel.h"
#include "records.h"
#include "test_util.h"
#include "valuecodec.h"

namespace directrows {

const char kCopybook[] =
    "       01 R.\n"
    "          05 I1 PIC 9(4).\n"
    "          05 I2 PIC S9(18).\n"
    "          05 I3 PIC S9(18) COMP.\n"
    "          05 I4 PIC 9(18) COMP.\n"
    "          05 I5 PIC S9(4) COMP-5.\n"
    "          05 I6 PIC 9(5)PP.\n"
    "          05 I7 PIC S9(17) COMP-3.\n"
    "          05 I8 PIC S9(18) COMP-5.\n"
    "          05 N1 PIC S9(5)V99 COMP-3.\n"
    "          05 N2 PIC S9(3)V99 SIGN LEADING SEPARATE.\n"
    "          05 N3 PIC 9(19).\n"
    "          05 N4 PIC S9(9)V99 COMP.\n"
    "          05 T1 PIC X(8).\n"
    "          05 T2 PIC N(4).\n";

constexpr int kRows = 400;

// kCopybook is analysed by the COBOL rules.
inline quillbox::LayoutOptions CobolRules() {
    quillbox::LayoutOptions options;
    options.cobol = true;
    return options;
}

// Writes kCopybook (analysed by the COBOL rules) to `copybook` and kRows records of it to
// `data`, encoded by the command line `cli`; false with `error`. Rows go by fours: the
// largest values, the smallest, zeros, any; then some rows' bytes are overwritten:
// I2 with blanks (row % 7 == 3), N1 with low-values (% 11 == 5), a bad digit in I1
// (% 13 == 2), I7 with blanks (% 17 == 1), I8 at 2^63 - 1 (row 4) and -2^63 (row 23)
// (% 19 == 4), I4 at 2^64 - 1 (% 23 == 6), I3 at -1 (% 29 == 7).
inline bool Write(const std::string& cli, const std::string& copybook, const std::string& data, std::string& error) {
    if (!qbtest::WriteFileBytes(copybook, kCopybook)) return false;
    quillbox::Layout layout(copybook, CobolRules());
    quillbox::DataSetup setup;
    if (!setup.Prepare(layout.Head(), layout.RecordLength(), quillbox::DataOptions(), error)) return false;
    const std::vector<quillbox::Field>& fields = setup.Plan().fields;
    std::mt19937 random(32);
    auto digits = [&random](int n) {
        std::string text = std::to_string(1 + random() % 9);
        for (int i = 1; i < n; ++i) text.push_back(static_cast<char>('0' + random() % 10));
        return text;
    };
    std::string table = "I1,I2,I3,I4,I5,I6,I7,I8,N1,N2,N3,N4,T1,T2\n";
    for (int row = 0; row < kRows; ++row) {
        const int pick = row % 4;   // the largest, the smallest, zero, any
        auto number = [&](int whole, int scale, bool isSigned) {
            std::string text = pick == 2 ? "0" : pick < 2 ? std::string(static_cast<size_t>(whole), '9')
                                                          : digits(1 + static_cast<int>(random() % whole));
            if (scale > 0) text += "." + (pick == 2 ? std::string(static_cast<size_t>(scale), '0') : digits(scale));
            return (isSigned && (pick == 1 || (pick == 3 && random() % 2)) ? "-" : "") + text;
        };
        table += number(4, 0, false) + "," + number(18, 0, true) + "," + number(18, 0, true) + "," +
                 number(18, 0, false) + "," + number(4, 0, true) + "," + number(5, 0, false) + "00," +
                 number(17, 0, true) + "," + number(18, 0, true) + "," + number(5, 2, true) + "," +
                 number(3, 2, true) + "," + number(19, 0, false) + "," + number(9, 2, true) + "," +
                 std::string(row % 5 == 0 ? "" : row % 5 == 1 ? "  a b" : row % 10 == 2 ? "a\\b" : row % 10 == 7 ? "x\ty" : "Zz-" + std::to_string(row)) + "," +
                 (row % 3 == 0 ? "" : u8"漢字") + "\n";
    }
    const std::string csv = data + ".csv";
    if (!qbtest::WriteFileBytes(csv, table)) return false;
    const int raw = std::system(("'" + cli + "' encode --cobol " + copybook + " " + csv + " -o " + data).c_str());
    std::remove(csv.c_str());
    if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
        error = "encode failed";
        return false;
    }
    std::string bytes = qbtest::ReadFileBytes(data);
    const size_t length = static_cast<size_t>(layout.RecordLength());
    if (bytes.size() != length * kRows) {
        error = "not " + std::to_string(kRows) + " records";
        return false;
    }
    auto at = [&](int row, size_t field) {
        return &bytes[static_cast<size_t>(row) * length + static_cast<size_t>(fields[field].offset)];
    };
    auto size = [&](size_t field) { return static_cast<size_t>(fields[field].length); };
    for (int row = 0; row < kRows; ++row) {
        if (row % 7 == 3) std::memset(at(row, 1), ' ', size(1));
        if (row % 11 == 5) std::memset(at(row, 8), 0, size(8));
        if (row % 13 == 2) at(row, 0)[2] = 'x';
        if (row % 17 == 1) std::memset(at(row, 6), ' ', size(6));
        if (row % 19 == 4) {   // I8 (little-endian)
            std::memset(at(row, 7), row % 2 ? 0x00 : 0xFF, 8);
            at(row, 7)[7] = static_cast<char>(row % 2 ? 0x80 : 0x7F);
        }
        if (row % 23 == 6) std::memset(at(row, 3), 0xFF, 8);
        if (row % 29 == 7) std::memset(at(row, 2), 0xFF, 8);
    }
    return qbtest::WriteFileBytes(data, bytes);
}

// The policies the comparisons run under: bad data as null or skipped, blanks as null,
// zero or bad data.
struct Policy {
    quillbox::OnError onError;
    quillbox::BlankNumeric blanks;
};
const Policy kPolicies[] = {{quillbox::OnError::kNull, quillbox::BlankNumeric::kNull},
                            {quillbox::OnError::kSkip, quillbox::BlankNumeric::kZero},
                            {quillbox::OnError::kNull, quillbox::BlankNumeric::kError}};

// The options of a run under `policy`.
inline quillbox::DataOptions OptionsOf(const Policy& policy) {
    quillbox::DataOptions options;
    options.onError = policy.onError;
    options.blankNumeric = policy.blanks;
    return options;
}

// A sink seen only through rows of cells: every record decoded into its cells first.
class CellsOnly : public quillbox::RowSink {
public:
    explicit CellsOnly(quillbox::RowSink& sink) : sink_(sink) {}
    bool Begin(const quillbox::LayoutPlan& plan) override { return sink_.Begin(plan); }
    bool Row(const quillbox::LayoutPlan& plan, const quillbox::RowCells& cells) override { return sink_.Row(plan, cells); }
    bool Finish() override { return sink_.Finish(); }
    std::string Failure() const override { return sink_.Failure(); }
    long long Stored(long long given) const override { return sink_.Stored(given); }

private:
    quillbox::RowSink& sink_;
};

// The faults a run heard, a line each.
class Faults : public quillbox::RunObserver {
public:
    void Fault(const quillbox::RunFault& fault) override { heard += std::to_string(fault.record) + " " + fault.reason + "\n"; }
    std::string heard;
};

// A database's sink, counting the rows it took straight from their records.
template <typename Sink>
class Counting : public Sink {
public:
    using Sink::Sink;
    bool DirectRow(quillbox::ValueCodec& values, const unsigned char* record, bool& failed) override {
        const bool took = Sink::DirectRow(values, record, failed);
        direct += took ? 1 : 0;
        return took;
    }
    long long direct = 0;
};

// The ways a load is compared: 0 straight from the records where the sink can, 1 through
// the cells only, 2 on three threads (chunks of 4 KB).
constexpr int kWays = 3;
inline const char* WayName(int way) {
    return way == 0 ? "straight from the records" : way == 1 ? "through the cells" : "on three threads";
}

// Loads `data` (of `layout`, read with `options` by `setup`) into `sink` the way `way`.
inline quillbox::RunResult Load(int way, quillbox::Layout& layout, quillbox::DataSetup& setup,
                                const quillbox::DataOptions& options, const std::string& data,
                                quillbox::BlockRowSink& sink, Faults& faults) {
    quillbox::RunResult result;
    std::FILE* in = std::fopen(data.c_str(), "rb");
    EXPECT_NE(in, nullptr);
    if (in == nullptr) return result;
    quillbox::RecordReader reader(in, options.records, static_cast<size_t>(layout.RecordLength()));
    if (way == 0) {
        result = quillbox::DecodeRecords(setup, reader, sink, faults);
    } else if (way == 1) {
        CellsOnly cells(sink);
        result = quillbox::DecodeRecords(setup, reader, cells, faults);
    } else {
        quillbox::DecodeWork work(layout.Head(), layout.RecordLength(), options, 3);
        std::string error;
        EXPECT_TRUE(work.Ready(error)) << error;
        result = quillbox::DecodeParallelInto(work, reader, {&sink}, faults, 4096);
    }
    std::fclose(in);
    return result;
}

// What the loads of every way stored (`tables`), heard and counted is the first way's;
// most rows went straight from their records, and those with bytes that way does not
// read did not.
inline void ExpectSameLoads(const std::string* tables, const std::string* heard, const quillbox::RunResult* results,
                            long long direct) {
    for (int way = 1; way < kWays; ++way) {
        SCOPED_TRACE(WayName(way));
        EXPECT_EQ(tables[way], tables[0]);
        EXPECT_EQ(heard[way], heard[0]);
        EXPECT_EQ(results[way].written, results[0].written);
        EXPECT_EQ(results[way].bad, results[0].bad);
        EXPECT_EQ(results[way].blanks, results[0].blanks);
    }
    EXPECT_GT(direct, kRows / 2);
    EXPECT_LT(direct, results[0].written);
    EXPECT_GT(results[0].bad, 0);
}

}  // namespace directrows

#endif
