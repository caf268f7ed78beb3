// The data window's document: index, rows, detail, find, filter, export and edits of a
// data file, every value through the codec.
#include "datadoc.h"
#include "faulttext.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "cursor.h"
#include "layoutplan.h"
#include "quillbox.h"
#include "rectypes.h"
#include "textcodec.h"
#include "textfile.h"
#include "valuecodec.h"
#include "variableoccurs.h"

namespace quillbox {

const char* const DATA_BAD_CELL_TEXT = "###";
const char* const kRecordTypeColumn = "レコード種別";

namespace {

constexpr uint64_t kScanSlice = 4u << 20;        // bytes a search or export scans at a time
constexpr size_t kCachedRows = 256;              // decoded rows kept near the last asked
constexpr long long kProgressEvery = 4096;       // rows between two progress calls
constexpr uint64_t kBackwardBytes = 1u << 20;    // bytes a backward search reads per stretch
constexpr size_t kCopyChunk = 1u << 20;

bool SeekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SizeOf(std::FILE* file, uint64_t& size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    long long end = static_cast<long long>(ftello(file));
#endif
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return SeekTo(file, 0);
}

// Hears the faults of one row: the cells they are in, and the record's own.
class RowFaults : public RunObserver {
public:
    explicit RowFaults(const LayoutPlan& plan) : plan_(plan) {}
    void Fault(const RunFault& fault) override {
        Entry entry;
        entry.column = fault.field != nullptr ? static_cast<int>(fault.field - plan_.fields.data()) : -1;
        entry.counts = fault.kind == RunFault::kValue || fault.kind == RunFault::kRecord || fault.kind == RunFault::kFatal;
        entry.reason = fault.reason;
        entry.code = fault.code;
        entries.push_back(std::move(entry));
    }
    struct Entry {
        int column;
        bool counts;   // makes the row bad (a redefining view's fault does not)
        std::string reason;   // the codec's words
        FaultCode code;
        std::string Text() const { return FaultText(code, reason); }   // the window's
    };
    std::vector<Entry> entries;

private:
    const LayoutPlan& plan_;
};

// A text of the codec (UTF-8, ASCII in practice) as Shift_JIS.
std::string ToShiftJis(const std::string& utf8) {
    std::string out;
    if (Utf8ToShiftJis(utf8, out)) return out;
    return utf8;
}

// The length of `text` without its trailing blanks (half-width and full-width spaces),
// character by character.
size_t WithoutTrailingBlanks(const std::string& text) {
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        size_t width = ShiftJisCharWidth(text.c_str() + i);
        if (i + width > text.size()) width = 1;
        bool blank = text[i] == ' ' || (width == 2 && text[i] == '\x81' && text[i + 1] == '\x40');
        i += width;
        if (!blank) end = i;
    }
    return end;
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size() && text[begin] == ' ') ++begin;
    std::string rest = text.substr(begin);
    rest.resize(WithoutTrailingBlanks(rest));
    return rest;
}

// An exact decimal ("-0012.50"): its sign, integer digits without leading zeros and
// fraction digits without trailing zeros. False when the text is no such number.
struct Decimal {
    bool negative = false;
    std::string whole, fraction;
};

bool ParseExact(const std::string& text, Decimal& number) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) number.negative = text[i++] == '-';
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            (point ? number.fraction : number.whole).push_back(c);
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    number.whole.erase(0, std::min(number.whole.find_first_not_of('0'), number.whole.size()));
    while (!number.fraction.empty() && number.fraction.back() == '0') number.fraction.pop_back();
    if (number.whole.empty() && number.fraction.empty()) number.negative = false;   // -0 is 0
    return true;
}

int CompareMagnitude(const Decimal& a, const Decimal& b) {
    if (a.whole.size() != b.whole.size()) return a.whole.size() < b.whole.size() ? -1 : 1;
    int c = a.whole.compare(b.whole);
    if (c != 0) return c < 0 ? -1 : 1;
    c = a.fraction.compare(b.fraction);   // no trailing zeros: the longer of equal prefixes is larger
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int CompareDecimal(const Decimal& a, const Decimal& b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    int c = CompareMagnitude(a, b);
    return a.negative ? -c : c;
}

bool IsNumberKind(Field::Kind kind) {
    switch (kind) {
    case Field::kDisplay:
    case Field::kPacked:
    case Field::kBinary:
    case Field::kComp5:
    case Field::kFloat:
    case Field::kDouble:
        return true;
    default:
        return false;
    }
}

bool IsFloatKind(Field::Kind kind) { return kind == Field::kFloat || kind == Field::kDouble; }

// The export's run: faults told as decode tells them, the progress and its cancel.
struct ExportCancelled {};

class ExportReport : public RunObserver {
public:
    explicit ExportReport(const DataProgress& progress) : progress_(progress) {}
    void Fault(const RunFault& fault) override {
        if (!first.empty()) return;
        const std::string text = FaultText(fault.code, fault.reason);
        if (fault.record > 0)
            first = FaultPlace(fault.record, fault.field != nullptr ? ToShiftJis(fault.field->column) : std::string(),
                               fault.offset, text);
        else
            first = text;
    }
    void Progress(long long records, uint64_t) override {
        if (!progress_ || records % kProgressEvery != 0) return;
        if (!progress_(records, total)) throw ExportCancelled();
    }
    std::string first;
    long long total = 0;

private:
    const DataProgress& progress_;
};

std::string Hex(const unsigned char* bytes, size_t length, size_t most) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length && i < most; ++i) {
        if (i > 0) out.push_back(' ');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0F]);
    }
    if (length > most) out += " ...";
    return out;
}

}  // namespace

// ---- DataRowSet ----------------------------------------------------------------------------------

namespace {

int Ones(uint64_t word) {
    int n = 0;
    for (; word != 0; word &= word - 1) ++n;
    return n;
}

}  // namespace

bool DataRowRanges::Contains(long long row) const {
    auto after = ranges_.upper_bound(row);
    return after != ranges_.begin() && row < std::prev(after)->second;
}

void DataRowRanges::Add(long long first, long long end) {
    if (first >= end) return;
    auto at = ranges_.upper_bound(first);
    if (at != ranges_.begin()) {
        auto before = std::prev(at);
        if (before->second >= first) {   // overlaps or touches: joined
            first = before->first;
            end = std::max(end, before->second);
            count_ -= before->second - before->first;
            at = ranges_.erase(before);
        }
    }
    while (at != ranges_.end() && at->first <= end) {
        end = std::max(end, at->second);
        count_ -= at->second - at->first;
        at = ranges_.erase(at);
    }
    ranges_.emplace(first, end);
    count_ += end - first;
}

void DataRowRanges::Remove(long long first, long long end) {
    if (first >= end) return;
    auto at = ranges_.upper_bound(first);
    if (at != ranges_.begin()) --at;
    while (at != ranges_.end() && at->first < end) {
        if (at->second <= first) {
            ++at;
            continue;
        }
        const long long from = at->first, to = at->second;
        count_ -= to - from;
        at = ranges_.erase(at);
        if (from < first) {
            ranges_.emplace(from, first);
            count_ += first - from;
        }
        if (end < to) {
            ranges_.emplace(end, to);
            count_ += to - end;
            break;
        }
    }
}

void DataRowRanges::Clear() {
    ranges_.clear();
    count_ = 0;
}

long long DataRowRanges::NextFrom(long long row) const {
    auto after = ranges_.upper_bound(row);
    if (after != ranges_.begin() && row < std::prev(after)->second) return row;
    return after == ranges_.end() ? -1 : after->first;
}

void DataRowSet::Add(long long row) {
    if (row < 0 || Contains(row)) return;
    const size_t word = static_cast<size_t>(row / 64);
    if (word >= bits_.size()) bits_.resize(word + 1, 0);
    const size_t block = word / kBlockWords;
    // The blocks up to this one count the rows before them (rows come in order).
    while (before_.size() <= block) before_.push_back(count_);
    bits_[word] |= uint64_t{1} << (row % 64);
    ++count_;
}

void DataRowSet::Clear() {
    bits_.clear();
    before_.clear();
    count_ = 0;
}

bool DataRowSet::Contains(long long row) const {
    if (row < 0) return false;
    const size_t word = static_cast<size_t>(row / 64);
    return word < bits_.size() && (bits_[word] >> (row % 64) & 1) != 0;
}

long long DataRowSet::At(long long k) const {
    if (k < 0 || k >= count_) return -1;
    // The last block with fewer rows before it than k + 1.
    size_t block = static_cast<size_t>(std::upper_bound(before_.begin(), before_.end(), k) - before_.begin()) - 1;
    long long left = k - before_[block];
    for (size_t word = block * kBlockWords; word < bits_.size(); ++word) {
        const int ones = Ones(bits_[word]);
        if (left >= ones) {
            left -= ones;
            continue;
        }
        uint64_t bits = bits_[word];
        for (int bit = 0; bit < 64; ++bit) {
            if ((bits >> bit & 1) != 0 && left-- == 0) return static_cast<long long>(word) * 64 + bit;
        }
    }
    return -1;
}

std::vector<long long> DataRowSet::Rows() const {
    std::vector<long long> rows;
    rows.reserve(static_cast<size_t>(count_));
    for (size_t word = 0; word < bits_.size(); ++word) {
        for (int bit = 0; bit < 64; ++bit) {
            if ((bits_[word] >> bit & 1) != 0) rows.push_back(static_cast<long long>(word) * 64 + bit);
        }
    }
    return rows;
}

DataDocument::DataDocument() = default;

DataDocument::~DataDocument() {
    views_.clear();
    scanReader_.reset();
    rowReader_.reset();
    if (rowFile_ != nullptr) std::fclose(rowFile_);
    if (scanFile_ != nullptr) std::fclose(scanFile_);
}

bool DataDocument::Open(CopyItem* head, int recordLength, const std::string& path, const DataOptions& options,
                        std::string& error, bool readOnly) {
    if (rowFile_ != nullptr) {
        error = "the document is open already";
        return false;
    }
    head_ = head;
    recordLength_ = recordLength;
    path_ = path;
    options_ = options;
    options_.skip = 0;
    options_.count = -1;

    // The window's cells: Shift_JIS texts, a bad value an empty cell with its fault.
    DataOptions shown = options_;
    shown.tableEncoding = "cp932";
    shown.onError = OnError::kNull;
    DataOptions detail = shown;
    detail.redefinesAll = true;
    typed_ = !options.recordTypes.empty() || !options.recordTypeDefault.empty();
    if (!typed_) {
        shownSetup_.reset(new DataSetup);
        detailSetup_.reset(new DataSetup);
        if (!shownSetup_->Prepare(head, recordLength, shown, error) ||
            !detailSetup_->Prepare(head, recordLength, detail, error)) {
            error = SetupFailureText(error);
            return false;
        }
        views_.emplace_back();
        views_.back().shown = shownSetup_.get();
        views_.back().detail = detailSetup_.get();
        views_.back().record = head;
    } else {
        // A view per 01 record the rules can choose, after the column of the record's name.
        shownTypes_.reset(new RecordTypes);
        detailTypes_.reset(new RecordTypes);
        if (!shownTypes_->Prepare(head, shown, error) || !detailTypes_->Prepare(head, detail, error)) {
            error = SetupFailureText(error);
            return false;
        }
        recordLength_ = shownTypes_->MaxLength();
        std::vector<CopyItem*> records = RecordsOf(head);
        columnNames_.push_back(kRecordTypeColumn);
        columnView_.push_back(-1);
        columnField_.push_back(0);
        for (size_t t = 0; t < shownTypes_->Count(); ++t) {
            views_.emplace_back();
            View& view = views_.back();
            view.shown = &shownTypes_->Setup(t);
            view.detail = &detailTypes_->Setup(t);
            view.record = records[t];
            view.alone = true;
            view.name = ItemText(records[t]->name).Get();
        }
    }
    for (size_t v = 0; v < views_.size(); ++v) {
        View& view = views_[v];
        view.shownDecoder.reset(new RowDecoder(*view.shown));
        view.detailDecoder.reset(new RowDecoder(*view.detail));
        view.firstColumn = columnNames_.size();
        if (typed_ && !shownTypes_->Chosen(v)) continue;   // no record of it is ever shown
        const std::vector<Field>& fields = view.shown->Plan().fields;
        for (size_t f = 0; f < fields.size(); ++f) {
            columnNames_.push_back(ToShiftJis(fields[f].column));
            columnView_.push_back(static_cast<int>(v));
            columnField_.push_back(f);
        }
    }

    readOnly_ = readOnly;
    if (readOnly) {
        readOnlyReason_ = "読み取り専用で開きました。";
    } else if (std::FILE* writable = std::fopen(path.c_str(), "r+b")) {
        std::fclose(writable);
    } else {
        readOnly_ = true;
        readOnlyReason_ = std::string("書き込みのために開けないため読み取り専用です (") + std::strerror(errno) + ")。";
    }
    rowFile_ = std::fopen(path.c_str(), "rb");
    scanFile_ = rowFile_ != nullptr ? std::fopen(path.c_str(), "rb") : nullptr;
    if (rowFile_ == nullptr || scanFile_ == nullptr || !SizeOf(rowFile_, fileSize_)) {
        error = std::string("データファイルを読めません (") + std::strerror(errno) + ")。";
        return false;
    }
    if (!Variable()) {
        // Fixed-length records: the index is arithmetic; a short last record is a record too.
        count_ = static_cast<long long>((fileSize_ + static_cast<uint64_t>(recordLength_) - 1) /
                                        static_cast<uint64_t>(recordLength_));
        scanDone_ = true;
    }
    return true;
}

bool DataDocument::VariableLength() const {
    // With record types the reader knows only the longest record; each record's length
    // is checked against its type (ViewOf).
    return !typed_ && shownSetup_ && shownSetup_->Variable() != nullptr && shownSetup_->Variable()->VariableLength();
}

const Field& DataDocument::FieldOf(size_t column) const {
    return views_[static_cast<size_t>(columnView_[column])].shown->Plan().fields[columnField_[column]];
}

int DataDocument::ViewOf(const RawRecord& record, std::string& reason) {
    // A record of the wrong length: short (the last of a fixed-length file) or not its layout's.
    const FaultCode wrongLength = Variable() ? FaultCode::kRecordLength : FaultCode::kShortRecord;
    if (!typed_) {
        if (!record.wrongLength) return 0;
        reason = FaultText(wrongLength, record.reason);
        return -1;
    }
    // As the codec's loop of record types takes a record.
    if (record.wrongLength && !Variable()) {
        reason = FaultText(wrongLength, record.reason);
        return -1;
    }
    const Field* key = nullptr;
    Fault fault;
    int type = shownTypes_->Choose(record.bytes.data(), record.bytes.size(), key, fault);
    if (type < 0) {
        // No rule chooses the record, or its record-type field does not decode.
        reason = FaultText(fault.code != FaultCode::kOther ? fault.code : FaultCode::kRecordType, fault.reason);
        return -1;
    }
    const size_t t = static_cast<size_t>(type);
    const VariableRecords* variable = shownTypes_->Setup(t).Variable();
    const bool counted = variable != nullptr && variable->VariableLength();
    if (Variable() && !counted && record.bytes.size() != static_cast<size_t>(shownTypes_->Length(t))) {
        reason = FaultText(FaultCode::kRecordLength,
                           (options_.records == RecordFormat::kLines ? "line of " : "RDW record of ") +
                               std::to_string(record.bytes.size()) + " bytes, record " + shownTypes_->Name(t) +
                               " has " + std::to_string(shownTypes_->Length(t)));
        return -1;
    }
    return type;
}

size_t DataDocument::ColumnCount() const { return columnNames_.size(); }

bool DataDocument::ColumnIsNumber(size_t column) const {
    return columnView_[column] >= 0 && IsNumberKind(FieldOf(column).kind);
}

// ---- The index ----------------------------------------------------------------------------

DataDocument::ScanProgress DataDocument::ScanSome(uint64_t maxBytes) {
    if (!scanDone_ && !scanReader_) {
        // From the start, or again from the last entry after the file was saved.
        if (marks_.empty()) marks_.push_back(Mark{0, 0});
        const Mark& from = marks_.back();
        scanCount_ = from.record;
        sinceMark_ = 0;
        scanBase_ = from.offset;
        if (scanFile_ == nullptr || !SeekTo(scanFile_, from.offset)) {
            scanError_ = "read error";
            scanFault_.record = scanCount_ + 1;
            scanFault_.offset = from.offset;
            scanFault_.text = FaultText(FaultCode::kIo, "the data file cannot be read");
            scanDone_ = true;
        } else {
            scanReader_.reset(new RecordReader(scanFile_, options_.records, static_cast<size_t>(recordLength_)));
            if (VariableLength()) scanReader_->AcceptShorter();
        }
    }
    if (!scanDone_) {
        const uint64_t stopAt = scanReader_->Consumed() + (maxBytes > 0 ? maxBytes : 1);
        std::string reason;
        while (scanReader_->Consumed() < stopAt) {
            if (sinceMark_ >= kIndexStep && scanReader_->AtBoundary()) {
                marks_.push_back(Mark{scanCount_, scanBase_ + scanReader_->Consumed()});
                sinceMark_ = 0;
            }
            const unsigned char* data;
            size_t length;
            const uint64_t before = scanBase_ + scanReader_->Consumed();
            RecordReader::Status status = scanReader_->Next(data, length, reason);
            if (status == RecordReader::kEnd) {
                scanDone_ = true;
                break;
            }
            if (status == RecordReader::kFatal) {
                scanError_ = "record " + std::to_string(scanCount_ + 1) + ": " + reason;
                scanFault_.record = scanCount_ + 1;
                scanFault_.offset = before;
                scanFault_.text = FaultText(FaultCode::kFraming, reason);
                scanDone_ = true;
                break;
            }
            // A scan begun again after a save counts the records known already once.
            if (++scanCount_ > count_) count_ = scanCount_;
            ++sinceMark_;
        }
        if (scanReader_->ReadFailed()) {
            scanError_ = "read error";
            scanFault_.record = scanCount_ + 1;
            scanFault_.offset = scanBase_ + scanReader_->Consumed();
            scanFault_.text = FaultText(FaultCode::kIo, std::string("read error (") + std::strerror(errno) + ")");
            scanDone_ = true;
        }
        if (scanDone_) {
            // The last entry stays for a scan begun again after a save.
            scanReader_.reset();
        }
    }
    ScanProgress progress;
    progress.records = count_;
    progress.total = fileSize_;
    progress.bytes = scanDone_ ? fileSize_ : scanBase_ + scanReader_->Consumed();
    progress.done = scanDone_;
    progress.error = scanError_;
    return progress;
}

bool DataDocument::ScanTo(long long index, const DataProgress& progress) {
    while (index >= count_ && !scanDone_) {
        const ScanProgress at = ScanSome(kScanSlice);
        if (!progress || at.done) continue;
        long long expected = index < std::numeric_limits<long long>::max() ? index + 1 : index;
        if (at.bytes > 0 && at.bytes < at.total) {
            const long double foretold = static_cast<long double>(count_) * at.total / at.bytes;
            if (foretold < expected) expected = std::max(count_, static_cast<long long>(foretold));
        }
        if (!progress(count_, expected)) return false;
    }
    return true;
}

bool DataDocument::EnsureScannedTo(long long index) {
    ScanTo(index, DataProgress());
    return index < count_;
}

DataDocument::Mark DataDocument::MarkAtOrBefore(long long index) const {
    if (!Variable()) return Mark{index, static_cast<uint64_t>(index) * static_cast<uint64_t>(recordLength_)};
    auto after = std::upper_bound(marks_.begin(), marks_.end(), index,
                                  [](long long i, const Mark& mark) { return i < mark.record; });
    if (after == marks_.begin()) return Mark{0, 0};
    return *(after - 1);
}

bool DataDocument::ReadStored(long long index, RawRecord& record) {
    if (rowFile_ == nullptr) return false;
    const Mark mark = MarkAtOrBefore(index);
    if (!rowReader_ || rowNext_ > index || rowNext_ < mark.record) {
        rowReader_.reset();
        rowNext_ = -1;
        if (!SeekTo(rowFile_, mark.offset)) return false;
        rowReader_.reset(new RecordReader(rowFile_, options_.records, static_cast<size_t>(recordLength_)));
        if (VariableLength()) rowReader_->AcceptShorter();
        rowBase_ = mark.offset;
        rowNext_ = mark.record;
    }
    std::string reason;
    for (;;) {
        const uint64_t before = rowReader_->Consumed();
        const unsigned char* data;
        size_t length;
        RecordReader::Status status = rowReader_->Next(data, length, reason);
        if (status == RecordReader::kEnd || status == RecordReader::kFatal) {
            rowReader_.reset();
            rowNext_ = -1;
            return false;
        }
        if (rowNext_++ < index) continue;
        record.bytes.assign(data, data + length);
        // Fixed records and lines start where the reader stood; a descriptor word's
        // record ends where it stands.
        const bool startsThere = options_.records == RecordFormat::kFixed || options_.records == RecordFormat::kLines;
        record.dataOffset = rowBase_ + (startsThere ? before : rowReader_->Consumed() - length);
        record.wrongLength = status == RecordReader::kWrongLength;
        record.reason = record.wrongLength ? reason : std::string();
        return true;
    }
}

bool DataDocument::ReadRecord(long long index, RawRecord& record) {
    auto edit = edits_.find(index);
    if (edit == edits_.end()) return ReadStored(index, record);
    record.bytes = edit->second.bytes;
    record.dataOffset = edit->second.dataOffset;
    record.wrongLength = false;
    record.reason.clear();
    return true;
}

// ---- Rows -----------------------------------------------------------------------------------

void DataDocument::DecodeShown(long long index, const RawRecord& record, ShownRow& row) {
    row.index = index;
    row.edited = Edited(index);
    row.bad = false;
    row.reason.clear();
    row.cells.resize(ColumnCount());
    for (ShownCell& cell : row.cells) {
        cell.text.clear();
        cell.bad = false;
        cell.absent = typed_;   // with record types: until the record's own columns are known
        cell.reason.clear();
    }
    std::string reason;
    const int v = ViewOf(record, reason);
    if (v < 0) {
        row.bad = true;
        row.reason = reason;
        // Without a layout to decode it by, every cell is bad (the record's name with
        // record types).
        for (size_t c = 0; c < row.cells.size(); ++c) {
            if (typed_ && c > 0) continue;
            row.cells[c].bad = true;
            row.cells[c].absent = false;
            row.cells[c].reason = row.reason;
        }
        return;
    }
    View& view = views_[static_cast<size_t>(v)];
    if (typed_) {
        row.cells[0].text = view.name;
        row.cells[0].absent = false;
    }
    const LayoutPlan& plan = view.shown->Plan();
    RowFaults faults(plan);
    RowCells cells;
    view.shownDecoder->DecodeRecord(index + 1, record.bytes.data(), record.bytes.size(), cells, faults);
    const std::vector<unsigned char>* absent =
        view.shown->Variable() != nullptr ? &view.shown->Variable()->Absent() : nullptr;
    for (size_t i = 0; i < cells.Size() && view.firstColumn + i < row.cells.size(); ++i) {
        ShownCell& cell = row.cells[view.firstColumn + i];
        cell.text.assign(cells.Text(i), cells.Length(i));
        cell.absent = absent != nullptr && (*absent)[i];
    }
    for (const RowFaults::Entry& entry : faults.entries) {
        std::string text = entry.Text();
        const size_t column = view.firstColumn + static_cast<size_t>(entry.column);
        if (entry.column >= 0 && column < row.cells.size()) {
            ShownCell& cell = row.cells[column];
            cell.bad = true;
            cell.absent = false;
            cell.text.clear();
            cell.reason = text;
        }
        if (!entry.counts) continue;
        if (!row.bad || (entry.column < 0 && row.reason.empty())) row.reason = text;
        row.bad = true;
    }
}

const DataDocument::ShownRow* DataDocument::Row(long long index) {
    if (index < 0 || !EnsureScannedTo(index)) return nullptr;
    auto cached = cache_.find(index);
    if (cached != cache_.end()) return &cached->second;
    RawRecord record;
    if (!ReadRecord(index, record)) return nullptr;
    ShownRow& row = cache_[index];
    DecodeShown(index, record, row);
    if (!shown_.Contains(index)) shown_.Add(index);
    if (row.bad) shownBad_.Add(index);
    else shownBad_.Remove(index);
    // Rows far from the one asked go first.
    while (cache_.size() > kCachedRows) {
        long long low = cache_.begin()->first, high = cache_.rbegin()->first;
        if (index - low > high - index) cache_.erase(cache_.begin());
        else cache_.erase(std::prev(cache_.end()));
    }
    return &cache_[index];
}

void DataDocument::Forget(long long index) { cache_.erase(index); }

template <typename Use>
bool DataDocument::EachRow(long long begin, long long end, Use use) {
    RawRecord record;
    ShownRow row;
    for (long long index = begin; index < end; ++index) {
        if (!EnsureScannedTo(index)) break;
        if (!ReadRecord(index, record)) break;
        DecodeShown(index, record, row);
        if (!use(row)) return false;
    }
    return true;
}

// ---- Record detail ---------------------------------------------------------------------------

std::string DataDocument::DetailLine::Text() const {
    char head[64];
    std::snprintf(head, sizeof head, "%02d ", level);
    std::string line(static_cast<size_t>(depth) * 2, ' ');
    line += head;
    line += name;
    if (!picture.empty()) line += " PIC " + picture;
    if (!usage.empty()) line += " " + usage;
    char place[64];
    std::snprintf(place, sizeof place, "  [%d:%d]", offset, length);
    line += place;
    if (absent) line += "  (なし)";
    else if (bad) line += std::string("  ") + DATA_BAD_CELL_TEXT + " " + reason;
    else if (!group) line += "  " + value;
    if (!hex.empty()) line += "  " + hex;
    return line;
}

bool DataDocument::Detail(long long index, std::vector<DetailLine>& lines) {
    lines.clear();
    if (index < 0 || !EnsureScannedTo(index)) return false;
    RawRecord record;
    if (!ReadRecord(index, record)) return false;
    std::string recordReason;
    const int v = ViewOf(record, recordReason);
    if (v < 0 && typed_) {
        // No record type: the record's bytes, and why.
        DetailLine line;
        line.name = "(レコード種別なし)";
        line.length = static_cast<int>(record.bytes.size());
        line.bad = true;
        line.reason = recordReason;
        line.hex = Hex(record.bytes.data(), record.bytes.size(), kDetailHexBytes);
        lines.push_back(std::move(line));
        return true;
    }
    View& view = views_[v < 0 ? 0 : static_cast<size_t>(v)];
    const LayoutPlan& plan = view.detail->Plan();
    RowFaults faults(plan);
    RowCells cells;
    const bool decoded = v >= 0;
    if (decoded) view.detailDecoder->DecodeRecord(index + 1, record.bytes.data(), record.bytes.size(), cells, faults);
    VariableRecords* variable = decoded ? view.detail->Variable() : nullptr;
    const bool stored = variable != nullptr && variable->VariableLength();

    std::unordered_map<const CopyItem*, size_t> columnOf;
    for (size_t i = 0; i < plan.fields.size(); ++i) columnOf[plan.fields[i].item] = i;
    std::vector<std::string> reasons(plan.fields.size());
    for (const RowFaults::Entry& entry : faults.entries) {
        if (entry.column >= 0 && reasons[static_cast<size_t>(entry.column)].empty()) {
            reasons[static_cast<size_t>(entry.column)] = entry.Text();
        }
    }

    for (const CopyItem* item = view.record; item != nullptr; item = item->next) {
        if (view.alone && item != view.record && item->parent == nullptr && item->level == 1) break;
        if (item->level == 88) continue;
        DetailLine line;
        for (const CopyItem* p = item->parent; p != nullptr; p = p->parent) {
            ++line.depth;
            if (p->flags & ITEM_REDEFINES) line.view = true;
        }
        if (item->flags & ITEM_REDEFINES) line.view = true;
        line.level = item->level;
        line.name = ItemText(item->name).Get();
        if ((item->flags & ITEM_ARRAY) && item->elementNo > 0) line.name += "(" + std::to_string(item->elementNo) + ")";
        line.picture = ItemText(item->picture).Get();
        if (const ItemFlagName* usage = ItemUsage(item->flags)) line.usage = usage->shown;
        line.length = item->byteLength;
        line.offset = item->position - 1;
        line.group = (item->flags & ITEM_GROUP) != 0;
        // Where the item is stored: an elementary item's own place; a group's is its
        // first elementary item's, moved as that one is.
        const CopyItem* placed = item;
        while (placed != nullptr && columnOf.count(placed) == 0 && placed->next != nullptr &&
               placed->next->level > item->level) {
            placed = placed->next;
        }
        auto column = placed != nullptr ? columnOf.find(placed) : columnOf.end();
        if (column != columnOf.end()) {
            const size_t c = column->second;
            const Field& field = plan.fields[c];
            if (stored) line.offset += variable->StoredOffset(c) - field.offset;
            if (variable != nullptr && variable->Absent()[c]) line.absent = true;
            if (placed == item && decoded) {
                if (!reasons[c].empty()) {
                    line.bad = true;
                    line.reason = reasons[c];
                } else if (!line.absent) {
                    line.value.assign(cells.Text(c), cells.Length(c));
                }
            }
        }
        if (!decoded && !line.group) {
            line.bad = true;
            line.reason = recordReason;
        }
        if (!line.absent && line.offset >= 0 && static_cast<size_t>(line.offset) < record.bytes.size()) {
            size_t available = record.bytes.size() - static_cast<size_t>(line.offset);
            size_t length = std::min(available, static_cast<size_t>(std::max(line.length, 0)));
            line.hex = Hex(record.bytes.data() + line.offset, length, kDetailHexBytes);
        }
        lines.push_back(std::move(line));
    }
    return true;
}

// ---- Find and filter --------------------------------------------------------------------------

namespace {

bool CellContains(const DataDocument::ShownCell& cell, const std::string& text) {
    return !cell.bad && !cell.absent && FindTextNoCase(cell.text.c_str(), text.c_str()) != nullptr;
}

bool RowContains(const DataDocument::ShownRow& row, int column, const std::string& text) {
    if (column >= 0) return static_cast<size_t>(column) < row.cells.size() && CellContains(row.cells[static_cast<size_t>(column)], text);
    for (const DataDocument::ShownCell& cell : row.cells) {
        if (CellContains(cell, text)) return true;
    }
    return false;
}

}  // namespace

long long DataDocument::Find(const std::string& text, int column, long long from, bool forward,
                             const DataProgress& progress) {
    if (text.empty()) return -1;
    long long found = -1;
    long long done = 0;
    bool cancelled = false;
    auto test = [&](const ShownRow& row, bool keepLast) {
        if (progress && ++done % kProgressEvery == 0 && !progress(done, count_)) {
            cancelled = true;
            return false;
        }
        if (!RowContains(row, column, text)) return true;
        found = row.index;
        return keepLast;   // backward: the last match of the stretch is the nearest
    };
    if (forward) {
        long long begin = from < 0 ? 0 : from + 1;
        EachRow(begin, static_cast<long long>(1) << 62, [&](const ShownRow& row) { return test(row, false); });
        return cancelled ? -2 : found;
    }
    long long end = from > count_ || from < 0 ? count_ : from;
    while (end > 0 && found < 0) {
        // A stretch of about kBackwardBytes before `end`, read forward.
        long long begin;
        if (!Variable()) {
            long long stretch = std::max<long long>(kIndexStep, static_cast<long long>(kBackwardBytes) / recordLength_);
            begin = std::max<long long>(0, end - stretch);
        } else {
            Mark mark = MarkAtOrBefore(end - 1);
            const Mark last = mark;
            auto at = std::upper_bound(marks_.begin(), marks_.end(), mark.record,
                                       [](long long i, const Mark& m) { return i < m.record; });
            while (at != marks_.begin()) {
                --at;
                if (last.offset - at->offset > kBackwardBytes) break;
                mark = *at;
            }
            begin = mark.record;
        }
        EachRow(begin, end, [&](const ShownRow& row) { return test(row, true); });
        if (cancelled) return -2;
        end = begin;
    }
    return found;
}

bool DataDocument::Filter(size_t column, Compare compare, const std::string& value, DataRowSet& rows,
                          const DataProgress& progress, std::string& error) {
    rows.Clear();
    error.clear();
    if (column >= ColumnCount()) {
        error = "no such column";
        return false;
    }
    const bool number = ColumnIsNumber(column) && compare != Compare::kContains;
    const bool floating = number && IsFloatKind(FieldOf(column).kind);
    const std::string given = Trimmed(value);
    Decimal wanted;
    double wantedFloat = 0;
    if (number) {
        char* end = nullptr;
        if (floating) wantedFloat = std::strtod(given.c_str(), &end);
        if (floating ? (given.empty() || *end != '\0') : !ParseExact(given, wanted)) {
            error = "\"" + given + "\" は数値ではありません。";
            return false;
        }
    }
    long long done = 0;
    bool cancelled = false;
    EachRow(0, static_cast<long long>(1) << 62, [&](const ShownRow& row) {
        if (progress && ++done % kProgressEvery == 0 && !progress(done, count_)) {
            cancelled = true;
            return false;
        }
        const ShownCell& cell = row.cells[column];
        if (cell.bad || cell.absent) return true;
        int order = 0;
        if (compare == Compare::kContains) {
            if (FindTextNoCase(cell.text.c_str(), given.c_str()) != nullptr) rows.Add(row.index);
            return true;
        }
        if (number) {
            if (cell.text.empty()) return true;   // no value (blank numbers read as null)
            if (floating) {
                double v = std::strtod(cell.text.c_str(), nullptr);
                order = v < wantedFloat ? -1 : v > wantedFloat ? 1 : 0;
            } else {
                Decimal shown;
                if (!ParseExact(cell.text, shown)) return true;
                order = CompareDecimal(shown, wanted);
            }
        } else {
            std::string text = cell.text;
            text.resize(WithoutTrailingBlanks(text));
            int c = text.compare(given);
            order = c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        bool match = compare == Compare::kEqual     ? order == 0
                     : compare == Compare::kNotEqual ? order != 0
                     : compare == Compare::kLess     ? order < 0
                                                     : order > 0;
        if (match) rows.Add(row.index);
        return true;
    });
    if (cancelled) {
        rows.Clear();
        return false;
    }
    return true;
}

// ---- Export and copy ----------------------------------------------------------------------------

bool DataDocument::Export(const std::string& target, TableFormat format, const std::vector<long long>* rows,
                          RunResult& result, std::string& error, const DataProgress& progress) {
    if (rows == nullptr) return ExportRows(target, format, -1, nullptr, result, error, progress);
    return ExportRows(target, format, static_cast<long long>(rows->size()),
                      [rows](long long k) { return (*rows)[static_cast<size_t>(k)]; }, result, error, progress);
}

bool DataDocument::Export(const std::string& target, TableFormat format, const DataRowSet& rows, RunResult& result,
                          std::string& error, const DataProgress& progress) {
    // The set read in order: the k-th row after the (k-1)-th.
    long long last = -1;
    return ExportRows(target, format, rows.Count(),
                      [&](long long) {
                          long long row = last + 1;
                          while (!rows.Contains(row)) ++row;
                          return last = row;
                      },
                      result, error, progress);
}

bool DataDocument::ExportRows(const std::string& target, TableFormat format, long long total,
                              const std::function<long long(long long)>& rowAt, RunResult& result, std::string& error,
                              const DataProgress& progress) {
    const bool all = total < 0;
    result = RunResult();
    error.clear();
    if (format != TableFormat::kCsv && format != TableFormat::kJsonl) {
        error = "CSV か JSON Lines で出力します。";
        return false;
    }
    if (typed_ && format != TableFormat::kJsonl) {
        error = "レコード種別ごとに列が違うため、JSON Lines (\"record\" キー付き) で出力してください。";
        return false;
    }
    DataOptions options = options_;
    options.format = format;
    // The export's layouts: one, or one per 01 record, with the options as given.
    DataSetup single;
    RecordTypes types;
    if (typed_ ? !types.Prepare(head_, options, error) : !single.Prepare(head_, recordLength_, options, error)) {
        return false;
    }
    if (all) {
        // The whole file: the index completed first (cancellable too), so that progress
        // knows the total.
        if (!ScanTo(std::numeric_limits<long long>::max(), progress)) return false;
    }
    TextFileReplacement output(target.c_str());
    if (output.File() == nullptr) {
        error = "ファイルを作成できません (" + std::string(std::strerror(errno)) + ")。";
        return false;
    }
    // The sinks: the table's, or one JSON Lines stream naming each row's record.
    std::vector<std::unique_ptr<RowSink>> owned;
    if (typed_) owned = MakeRecordKeySinks(types, output.File());
    else owned.push_back(MakeTableSink(single, output.File()));
    std::vector<RowSink*> sinks;
    for (auto& sink : owned) sinks.push_back(sink.get());
    ExportReport report(progress);
    report.total = all ? count_ : total;
    try {
        if (all && edits_.empty()) {
            // Unedited, every row: decode's own loop over the file.
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path_.c_str(), "rb"), std::fclose);
            if (!in) {
                error = "the data file cannot be read";
                return false;
            }
            RecordReader reader(in.get(), options.records, static_cast<size_t>(recordLength_));
            result = typed_ ? DecodeRecordTypes(types, reader, sinks, report)
                            : DecodeRecords(single, reader, *sinks[0], report);
        } else {
            // The rows asked, the edited ones as edited, through decode's own cursor.
            RawRecord record;
            long long k = 0;
            FunctionRecords records([&](long long& number, const unsigned char*& data, size_t& length,
                                        std::string& reason) {
                if (!all && k >= total) return RecordSource::kEnd;
                const long long index = all ? k : rowAt(k);
                ++k;
                number = index + 1;
                if (!EnsureScannedTo(index)) {
                    if (all) return RecordSource::kEnd;
                    reason = "no such record";
                    return RecordSource::kFatal;
                }
                if (!ReadRecord(index, record)) {
                    reason = "read error";
                    return RecordSource::kFatal;
                }
                data = record.bytes.data();
                length = record.bytes.size();
                if (!record.wrongLength) return RecordSource::kRecord;
                reason = record.reason;
                return RecordSource::kWrongLength;
            });
            std::unique_ptr<RecordCursor> cursor(typed_ ? new RecordCursor(types, records, sinks, report)
                                                        : new RecordCursor(single, records, sinks, report));
            cursor->Run();
            result = cursor->Finish();
        }
    } catch (const ExportCancelled&) {
        error.clear();
        result.failed = true;
        return false;   // the temporary file goes with `output`; the old file stays
    }
    if (result.failed || result.stopped) {
        error = report.first.empty() ? std::string("出力できませんでした。") : report.first;
        return false;
    }
    owned.clear();
    if (!output.Commit()) {
        error = "ファイルに書き込めませんでした (" + std::string(std::strerror(errno)) + ")。";
        return false;
    }
    return true;
}

std::string DataDocument::CopyText(const std::vector<long long>& rows) {
    std::string text = "No";
    for (const std::string& name : columnNames_) text += "\t" + name;
    text += "\r\n";
    for (long long index : rows) {
        const ShownRow* row = Row(index);
        if (row == nullptr) continue;
        text += std::to_string(index + 1);
        for (const ShownCell& cell : row->cells) {
            text.push_back('\t');
            if (cell.bad) {
                text += DATA_BAD_CELL_TEXT;
                continue;
            }
            // A tab or a line end in a value would break the rows: a blank instead
            // (no second byte of a double-byte character is one of them).
            for (char c : cell.text) text.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
        }
        text += "\r\n";
    }
    return text;
}

// ---- Editing ------------------------------------------------------------------------------------------

bool DataDocument::SetCell(long long index, size_t column, const std::string& text, std::string& reason) {
    reason.clear();
    if (readOnly_) {
        reason = "読み取り専用のファイルは編集できません。";
        return false;
    }
    if (column >= ColumnCount() || index < 0 || !EnsureScannedTo(index)) {
        reason = "その項目はありません。";
        return false;
    }
    RawRecord record;
    if (!ReadRecord(index, record)) {
        reason = "レコードを読めません。";
        return false;
    }
    std::string recordReason;
    const int v = ViewOf(record, recordReason);
    if (v < 0) {
        reason = "レイアウトで読めないレコードは編集できません (" + recordReason + ")。";
        return false;
    }
    if (columnView_[column] != v) {
        reason = columnView_[column] < 0 ? "レコード名は編集できません。" : "このレコードの項目ではありません。";
        return false;
    }
    View& view = views_[static_cast<size_t>(v)];
    const size_t f = columnField_[column];
    const Field& field = view.shown->Plan().fields[f];
    ValueCodec& values = view.shown->Values();
    // The Shift_JIS text to the codec's UTF-8.
    std::string utf8;
    if (!view.shown->TableText()->Decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), utf8)) {
        reason = "Shift_JIS の文字列ではありません。";
        return false;
    }
    Cell::Kind kind = Cell::kText;
    if (IsNumberKind(field.kind)) {
        utf8 = Trimmed(utf8);
        kind = utf8.empty() ? Cell::kNull : Cell::kNumber;
    }
    Fault fault;
    std::vector<unsigned char> edited = record.bytes;
    VariableRecords* variable = view.shown->Variable();
    if (variable == nullptr) {
        if (!values.Encode(field, kind, utf8, edited.data(), fault)) {
            reason = FaultText(fault.code, fault.reason);
            return false;
        }
    } else {
        // Placed at the layout's offsets by its counts, encoded there, and stored back.
        PlaceFault place;
        const unsigned char* placed = nullptr;
        if (!variable->Place(record.bytes.data(), record.bytes.size(), values, placed, place)) {
            reason = "レコードが OCCURS DEPENDING ON の個数に合いません (" + FaultText(FaultCode::kCounterRange, place.reason) + ")。";
            return false;
        }
        if (variable->Absent()[f]) {
            reason = "個数を超える出現です。";
            return false;
        }
        const std::vector<unsigned char> absentBefore = variable->Absent();
        std::vector<int> storedBefore(view.shown->Plan().fields.size());
        for (size_t c = 0; c < storedBefore.size(); ++c) storedBefore[c] = variable->StoredOffset(c);
        // The placed record is as long as this record's own layout (with record types,
        // shorter than the longest 01).
        std::vector<unsigned char> full(placed, placed + view.shown->Plan().recordLength);
        if (!values.Encode(field, kind, utf8, full.data(), fault)) {
            reason = FaultText(fault.code, fault.reason);
            return false;
        }
        const size_t at = static_cast<size_t>(storedBefore[f]);
        if (at + static_cast<size_t>(field.length) > edited.size()) {
            reason = "その項目はレコードの外にあります。";
            return false;
        }
        std::memcpy(edited.data() + at, full.data() + field.offset, static_cast<size_t>(field.length));
        // The record placed again: its counts must still fit, and a record that holds
        // only its present occurrences must keep every item where it was.
        const unsigned char* again = nullptr;
        bool fits = variable->Place(edited.data(), edited.size(), values, again, place);
        bool moved = !fits;
        if (fits && variable->VariableLength()) {
            moved = variable->Absent() != absentBefore;
            for (size_t c = 0; c < storedBefore.size() && !moved; ++c) moved = variable->StoredOffset(c) != storedBefore[c];
        }
        if (moved) {
            reason = fits ? "この値は OCCURS DEPENDING ON の個数を変え、レコード長が変わります。編集できません。"
                          : "この値では OCCURS DEPENDING ON の個数がレコードに合いません (" + FaultText(FaultCode::kCounterRange, place.reason) + ")。";
            return false;
        }
    }
    // A line record holds no LF, and a CR at its end would be read as part of a CR LF:
    // either would move every record after it.
    if (options_.records == RecordFormat::kLines && !edited.empty() &&
        (std::find(edited.begin(), edited.end(), '\n') != edited.end() || edited.back() == '\r')) {
        reason = "行のレコードに改行は入れられません。";
        return false;
    }
    if (typed_) {
        // The record's type as the edited record chooses it: another type only where
        // every record is as long (a fixed-length file).
        RawRecord after;
        after.bytes = edited;
        std::string afterReason;
        const int now = ViewOf(after, afterReason);
        if (now < 0 || (now != v && Variable())) {
            reason = now < 0 ? "この値ではレコード種別が決まりません (" + afterReason + ")。"
                             : "この値ではレコード種別が変わり、レコード長が変わります。編集できません。";
            return false;
        }
    }
    Edit& edit = edits_[index];
    edit.bytes = std::move(edited);
    edit.dataOffset = record.dataOffset;
    Forget(index);
    return true;
}

void DataDocument::DiscardEdits() {
    for (const auto& edit : edits_) Forget(edit.first);
    edits_.clear();
}

bool DataDocument::Save(std::string& error) {
    error.clear();
    if (readOnly_) {
        error = "読み取り専用のファイルは保存できません。" + readOnlyReason_;
        return false;
    }
    if (edits_.empty()) return true;
    std::FILE* in = std::fopen(path_.c_str(), "rb");
    if (in == nullptr) {
        error = "ファイルを読めません (" + std::string(std::strerror(errno)) + ")。";
        return false;
    }
    TextFileReplacement output(path_.c_str());
    if (output.File() == nullptr) {
        error = "保存用の一時ファイルを作成できません (" + std::string(std::strerror(errno)) + ")。編集は残っています。";
        std::fclose(in);
        return false;
    }
    // The file copied in chunks, each edited record's bytes put in place.
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[kCopyChunk]);
    uint64_t position = 0;
    bool ok = true;
    int failure = 0;   // errno where the copy failed
    auto edit = edits_.begin();
    for (;;) {
        size_t got = std::fread(chunk.get(), 1, kCopyChunk, in);
        if (got == 0) break;
        const uint64_t end = position + got;
        // Edits whose bytes begin before this chunk's end (in file order, as rows are).
        for (auto e = edit; e != edits_.end() && e->second.dataOffset < end; ++e) {
            const uint64_t from = std::max(e->second.dataOffset, position);
            const uint64_t to = std::min<uint64_t>(e->second.dataOffset + e->second.bytes.size(), end);
            if (from < to) {
                std::memcpy(chunk.get() + (from - position), e->second.bytes.data() + (from - e->second.dataOffset),
                            static_cast<size_t>(to - from));
            }
        }
        while (edit != edits_.end() && edit->second.dataOffset + edit->second.bytes.size() <= end) ++edit;
        if (std::fwrite(chunk.get(), 1, got, output.File()) != got) {
            ok = false;
            failure = errno;
            break;
        }
        position = end;
    }
    if (std::ferror(in)) {
        ok = false;
        failure = errno != 0 ? errno : EIO;
    }
    std::fclose(in);
    if (ok && position != fileSize_) {
        error = "ファイルが開いた後で変更されています。保存しませんでした。";
        return false;
    }
    if (!ok) {
        error = "保存できませんでした (" + std::string(std::strerror(failure != 0 ? failure : EIO)) +
                ")。元のファイルと編集はそのままです。";
        return false;
    }
    // The file is replaced with nothing of it open (Windows renames no open file); the
    // readers start again from the index.
    rowReader_.reset();
    rowNext_ = -1;
    // Where the scan stood, when a new reader can start there (not inside a block).
    const bool resume = scanReader_ && scanReader_->AtBoundary();
    const uint64_t resumeAt = scanReader_ ? scanBase_ + scanReader_->Consumed() : 0;
    scanReader_.reset();
    std::fclose(rowFile_);
    std::fclose(scanFile_);
    rowFile_ = scanFile_ = nullptr;
    const bool committed = output.Commit();
    rowFile_ = std::fopen(path_.c_str(), "rb");
    scanFile_ = std::fopen(path_.c_str(), "rb");
    if (!committed) {
        if (output.CommitError() == EBUSY)
            error = "ファイルがほかで開かれているため保存できませんでした (別のプログラムか、同じファイルの別のデータウィンドウ)。"
                    "そちらを閉じてから保存し直してください。元のファイルと編集はそのままです。";
        else
            error = "保存できませんでした (" + std::string(std::strerror(output.CommitError())) +
                    ")。元のファイルと編集はそのままです。";
        return false;
    }
    if (rowFile_ == nullptr || scanFile_ == nullptr) {
        error = "保存したファイルを開き直せません。";
        return false;
    }
    edits_.clear();
    cache_.clear();
    if (resume && SeekTo(scanFile_, resumeAt)) {
        scanReader_.reset(new RecordReader(scanFile_, options_.records, static_cast<size_t>(recordLength_)));
        if (VariableLength()) scanReader_->AcceptShorter();
        scanBase_ = resumeAt;
    }
    return true;
}

}  // namespace quillbox
