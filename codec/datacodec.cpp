// The decode and encode runs: records in, table rows out, and back.
#include "datacodec.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "layoutplan.h"
#include "tableio.h"
#include "textcodec.h"
#include "valuecodec.h"

namespace quillbox {

namespace {

constexpr size_t kFlushAt = 1 << 20;   // output bytes gathered before a write
constexpr size_t kBadShown = 5;        // bad places listed in the summary

// Counts, the first bad places, and the progress line of one run.
class RunReport {
public:
    RunReport(const DataOptions& options, std::FILE* err, const char* verb)
        : options_(options), err_(err), verb_(verb), start_(std::chrono::steady_clock::now()), lastShown_(start_) {}

    std::string Place(long long record, const Field* field, const Fault* fault) const {
        const std::string& file = std::strcmp(verb_, "decode") == 0 ? options_.dataName : options_.tableName;
        std::string text = file + ": record " + std::to_string(record);
        if (field != nullptr) {
            text += ", item " + field->column + " (offset " + std::to_string(fault->offset) + "): " + fault->reason;
        }
        return text;
    }
    // Notes bad data; with the stop policy, prints it and tells the caller to stop.
    bool Bad(const std::string& place) {
        ClearProgress();
        if (options_.onError == OnError::kStop) {
            std::fprintf(err_, "%s\n", place.c_str());
            stopped_ = true;
            return false;
        }
        ++badPlaces_;
        if (shown_.size() < kBadShown) shown_.push_back(place);
        return true;
    }
    void RecordBad() { ++bad_; }
    void ViewFailed(const std::string& place) {
        ++viewErrors_;
        if (viewShown_.size() < kBadShown) viewShown_.push_back(place);
    }
    void Fatal(const std::string& message) {
        ClearProgress();
        std::fprintf(err_, "%s\n", message.c_str());
        failed_ = true;
    }
    void Read() { ++read_; }
    void Written() { ++written_; }

    // The progress line: a bar of the input read when its size is known, records/s and
    // MB/s; at most twice a second.
    void Progress(uint64_t bytes) {
        if (!options_.progress || (read_ & 1023) != 0) return;
        auto now = std::chrono::steady_clock::now();
        if (now - lastShown_ < std::chrono::milliseconds(500)) return;
        lastShown_ = now;
        double seconds = std::chrono::duration<double>(now - start_).count();
        std::string bar(20, ' ');
        std::string share;
        if (options_.inputSize > 0) {
            double done = static_cast<double>(bytes) / static_cast<double>(options_.inputSize);
            if (done > 1) done = 1;
            for (size_t i = 0; i < static_cast<size_t>(done * 20); ++i) bar[i] = '#';
            share = " " + std::to_string(static_cast<int>(done * 100)) + "%";
        } else {
            bar[static_cast<size_t>((read_ / 10000) % 20)] = '#';
        }
        std::fprintf(err_, "\r%s [%s]%s %lld records, %.0f records/s, %.1f MB/s ", verb_, bar.c_str(), share.c_str(),
                     read_, read_ / seconds, bytes / seconds / 1e6);
        std::fflush(err_);
        progressShown_ = true;
    }
    void ClearProgress() {
        if (progressShown_) std::fprintf(err_, "\r%*s\r", 79, "");
        progressShown_ = false;
    }

    int Finish() {
        ClearProgress();
        std::fprintf(err_, "%s: %lld records read, %lld written, %lld bad\n", verb_, read_, written_, bad_);
        for (const std::string& place : shown_) std::fprintf(err_, "  bad: %s\n", place.c_str());
        if (badPlaces_ > static_cast<long long>(shown_.size())) {
            std::fprintf(err_, "  ... %lld more bad places\n", badPlaces_ - static_cast<long long>(shown_.size()));
        }
        if (viewErrors_ > 0) {
            std::fprintf(err_, "%s: %lld redefining views did not decode\n", verb_, viewErrors_);
            for (const std::string& place : viewShown_) std::fprintf(err_, "  view: %s\n", place.c_str());
        }
        if (failed_ || stopped_) return kExitFailed;
        return bad_ > 0 ? kExitBadData : kExitDone;
    }

private:
    const DataOptions& options_;
    std::FILE* err_;
    const char* verb_;
    std::chrono::steady_clock::time_point start_, lastShown_;
    long long read_ = 0, written_ = 0, bad_ = 0, badPlaces_ = 0, viewErrors_ = 0;
    std::vector<std::string> shown_, viewShown_;
    bool stopped_ = false, failed_ = false, progressShown_ = false;
};

bool WriteOut(std::string& out, std::FILE* file, bool all) {
    if (out.empty() || (!all && out.size() < kFlushAt)) return true;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    out.clear();
    return ok;
}

// The codec of the table side, or none for UTF-8.
bool TableCodec(const DataOptions& options, std::unique_ptr<TextCodec>& codec, std::string& error) {
    std::string name = options.tableEncoding;
    for (char& c : name) c = FoldByte(c);
    if (name == "utf-8" || name == "utf8") return true;
    codec = TextCodec::Create(options.tableEncoding, error);
    return codec != nullptr;
}

struct Setup {
    LayoutPlan plan;
    std::unique_ptr<ValueCodec> values;
    std::unique_ptr<TextCodec> table;
};

bool Prepare(CopyItem* head, int recordLength, const DataOptions& options, Setup& setup, std::FILE* err) {
    std::string error;
    if (head == nullptr || recordLength <= 0) error = "the copybook describes no record";
    else if (!BuildLayoutPlan(head, recordLength, options.redefinesAll, options.serialNo, setup.plan, error)) {}
    else if (!(setup.values = ValueCodec::Create(options, recordLength, error))) {}
    else if (!TableCodec(options, setup.table, error)) {}
    else return true;
    std::fprintf(err, "%s\n", error.c_str());
    return false;
}

}  // namespace

namespace {

template <typename T>
struct OptionName {
    const char* text;
    T value;
};

// Sets `value` to the entry named `text`; false (value untouched) when no entry has that name.
template <typename T, size_t N>
bool ParseOptionName(const std::string& text, const OptionName<T> (&names)[N], T& value) {
    for (const OptionName<T>& name : names) {
        if (text == name.text) {
            value = name.value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseFloatFormat(const std::string& text, FloatFormat& format) {
    static const OptionName<FloatFormat> names[] = {
        {"ieee-le", FloatFormat::kIeeeLe}, {"ieee-be", FloatFormat::kIeeeBe}, {"ibm-hex", FloatFormat::kIbmHex}};
    return ParseOptionName(text, names, format);
}

bool ParseOnError(const std::string& text, OnError& policy) {
    static const OptionName<OnError> names[] = {
        {"stop", OnError::kStop}, {"skip", OnError::kSkip}, {"null", OnError::kNull}};
    return ParseOptionName(text, names, policy);
}

bool ParseTableFormat(const std::string& text, TableFormat& format) {
    static const OptionName<TableFormat> names[] = {{"csv", TableFormat::kCsv}, {"jsonl", TableFormat::kJsonl}};
    return ParseOptionName(text, names, format);
}

bool ParseSignZones(const std::string& text, unsigned& positive, unsigned& negative) {
    size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    auto number = [](const std::string& part, unsigned& value) {
        if (part.empty()) return false;
        char* end = nullptr;
        unsigned long v = std::strtoul(part.c_str(), &end, 0);
        if (end != part.c_str() + part.size() || v > 0xFF) return false;
        value = static_cast<unsigned>(v);
        return true;
    };
    return number(text.substr(0, comma), positive) && number(text.substr(comma + 1), negative);
}

int DecodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err) {
    Setup setup;
    if (!Prepare(head, recordLength, options, setup, err)) return kExitFailed;
    const std::vector<Field>& fields = setup.plan.fields;
    ValueCodec& values = *setup.values;
    RunReport report(options, err, "decode");
    RecordReader reader(in, options.records, static_cast<size_t>(recordLength));
    const char* lineEnd = options.crlf ? "\r\n" : "\n";
    std::string output;
    output.reserve(kFlushAt + 4096);
    std::vector<Cell> cells(fields.size());
    std::string reason;

    if (options.format == TableFormat::kCsv) {
        std::vector<Cell> header(fields.size());
        for (size_t i = 0; i < fields.size(); ++i) {
            header[i].kind = Cell::kText;
            header[i].text = fields[i].column;
            if (setup.table && !setup.table->Encode(fields[i].column.data(), fields[i].column.size(), header[i].text)) {
                header[i].text = fields[i].column;
            }
        }
        AppendCsvRow(output, header, lineEnd);
    }

    long long number = options.skip;
    bool ok = true, writeFailed = false;
    if (!reader.Skip(options.skip, reason)) {
        if (!reason.empty()) {
            report.Fatal(options.dataName + ": " + reason);
            ok = false;
        }
        number = -1;
    }
    std::string converted;
    while (ok && number >= 0 && (options.count < 0 || number - options.skip < options.count)) {
        const unsigned char* data;
        size_t length;
        RecordReader::Status status = reader.Next(data, length, reason);
        if (status == RecordReader::kEnd) break;
        ++number;
        if (status == RecordReader::kFatal) {
            report.Fatal(report.Place(number, nullptr, nullptr) + ": " + reason);
            break;
        }
        report.Read();
        if (status == RecordReader::kWrongLength) {
            report.RecordBad();
            if (!report.Bad(report.Place(number, nullptr, nullptr) + ": " + reason)) break;
            continue;
        }
        bool skipRecord = false, recordBad = false;
        for (size_t i = 0; i < fields.size() && !skipRecord; ++i) {
            const Field& field = fields[i];
            Fault fault;
            bool good = values.Decode(field, data, cells[i], fault);
            if (good && setup.table && cells[i].kind == Cell::kText) {
                if (setup.table->Encode(cells[i].text.data(), cells[i].text.size(), converted)) {
                    cells[i].text.swap(converted);
                } else {
                    good = false;
                    fault.offset = field.offset;
                    fault.reason = "text has no form in " + options.tableEncoding;
                }
            }
            if (good) continue;
            cells[i].kind = Cell::kNull;
            cells[i].text.clear();
            if (options.redefinesAll && field.view) {
                report.ViewFailed(report.Place(number, &field, &fault));
                continue;
            }
            recordBad = true;
            if (!report.Bad(report.Place(number, &field, &fault))) {
                ok = false;
                break;
            }
            if (options.onError == OnError::kSkip) skipRecord = true;
        }
        if (recordBad) report.RecordBad();
        if (!ok) break;
        if (skipRecord) continue;
        if (options.format == TableFormat::kCsv) AppendCsvRow(output, cells, lineEnd);
        else AppendJsonRow(output, setup.plan, cells);
        report.Written();
        report.Progress(reader.Consumed());
        if (!WriteOut(output, out, false)) {
            report.Fatal(options.tableName + ": cannot write the output");
            writeFailed = true;
            ok = false;
        }
    }
    // The rows before a stop are written too.
    if (!writeFailed && (!WriteOut(output, out, true) || std::fflush(out) != 0)) {
        report.Fatal(options.tableName + ": cannot write the output");
    }
    if (reader.ReadFailed()) report.Fatal(options.dataName + ": read error");
    return report.Finish();
}

int EncodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err) {
    Setup setup;
    if (!Prepare(head, recordLength, options, setup, err)) return kExitFailed;
    RunReport report(options, err, "encode");
    TableReader reader(in);
    RecordWriter writer(out, options.records, options.blockSize, options.crlf);
    const std::vector<Field>& fields = setup.plan.fields;
    ValueCodec& values = *setup.values;
    std::vector<unsigned char> record(static_cast<size_t>(recordLength) + 16);
    std::vector<Cell> cells(fields.size());
    std::vector<std::string> row;
    std::string line, error, converted;

    if (options.format == TableFormat::kCsv) {
        if (!reader.NextCsvRow(row, error)) {
            report.Fatal(options.tableName + ": " + (error.empty() ? "no header row" : error));
            return report.Finish();
        }
        // A UTF-8 byte order mark (spreadsheets write one) is no part of the first name.
        if (!row.empty() && row[0].compare(0, 3, "\xEF\xBB\xBF") == 0) row[0].erase(0, 3);
        for (size_t i = 0; i < row.size() && i < fields.size(); ++i) {
            converted.clear();
            if (setup.table && setup.table->Decode(reinterpret_cast<const unsigned char*>(row[i].data()), row[i].size(), converted)) {
                row[i].swap(converted);
            }
        }
        for (size_t i = 0; i < fields.size() || i < row.size(); ++i) {
            std::string expected = i < fields.size() ? fields[i].column : "(none)";
            std::string found = i < row.size() ? row[i] : "(none)";
            if (expected != found) {
                report.Fatal(options.tableName + ": header column " + std::to_string(i + 1) + " is " + found +
                             ", the layout has " + expected);
                return report.Finish();
            }
        }
    }

    long long number = 0;
    for (;;) {
        bool more = options.format == TableFormat::kCsv ? reader.NextCsvRow(row, error) : reader.NextLine(line);
        if (!more) {
            if (!error.empty()) report.Fatal(options.tableName + ": record " + std::to_string(number + 1) + ": " + error);
            break;
        }
        ++number;
        if (number <= options.skip) continue;
        if (options.count >= 0 && number - options.skip > options.count) break;
        report.Read();
        std::string rowError;
        if (options.format == TableFormat::kCsv) {
            if (row.size() != fields.size()) {
                rowError = "a row of " + std::to_string(row.size()) + " fields, the layout has " + std::to_string(fields.size());
            } else {
                for (size_t i = 0; i < fields.size(); ++i) {
                    cells[i].kind = row[i].empty() ? Cell::kNull : Cell::kText;
                    cells[i].text.swap(row[i]);
                }
            }
        } else {
            for (Cell& cell : cells) {
                cell.kind = Cell::kNull;
                cell.text.clear();
            }
            if (!ReadJsonRow(line, setup.plan, cells, rowError)) {}
        }
        if (!rowError.empty()) {
            report.RecordBad();
            if (!report.Bad(report.Place(number, nullptr, nullptr) + ": " + rowError)) break;
            continue;
        }
        values.Blank(record.data(), recordLength);
        bool skipRecord = false, recordBad = false, stop = false;
        for (size_t i = 0; i < fields.size(); ++i) {
            Cell& cell = cells[i];
            Fault fault;
            bool good = true;
            if (setup.table && cell.kind != Cell::kNull) {
                converted.clear();
                if (setup.table->Decode(reinterpret_cast<const unsigned char*>(cell.text.data()), cell.text.size(), converted)) {
                    cell.text.swap(converted);
                } else {
                    good = false;
                    fault.offset = fields[i].offset;
                    fault.reason = "the value is no " + options.tableEncoding + " text";
                }
            }
            if (good) good = values.Encode(fields[i], cell, record.data(), fault);
            if (good) continue;
            recordBad = true;
            if (!report.Bad(report.Place(number, &fields[i], &fault))) {
                stop = true;
                break;
            }
            if (options.onError == OnError::kSkip) {
                skipRecord = true;
                break;
            }
            values.Clear(fields[i], record.data());
        }
        if (recordBad) report.RecordBad();
        if (stop) break;
        if (skipRecord) continue;
        if (!writer.Write(record.data(), static_cast<size_t>(recordLength))) {
            report.Fatal(options.dataName + ": cannot write the record");
            break;
        }
        report.Written();
        report.Progress(reader.Consumed());
    }
    if (!writer.Finish()) report.Fatal(options.dataName + ": cannot write the output");
    if (reader.ReadFailed()) report.Fatal(options.tableName + ": read error");
    return report.Finish();
}

}  // namespace quillbox
