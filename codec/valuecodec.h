// One item's value between its stored bytes and exact text: decimal numbers with
// exactly `scale` digits after the point, floating point, UTF-8 text, bits.
#ifndef QUILLBOX_DATA_VALUECODEC_H
#define QUILLBOX_DATA_VALUECODEC_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "copyrecord.h"
#include "datacodec.h"
#include "faultcode.h"
#include "layoutplan.h"
#include "textcodec.h"

namespace quillbox {

// A text read from the input (a value, a header's column, a JSON key) as a message shows
// it: at most 80 bytes (cut between UTF-8 characters, with the length of the whole), the
// control bytes (line feed, ESC, the C1 controls ...) escaped as \xNN, so that the
// message stays one line and cannot drive a terminal.
std::string ShownText(std::string_view text);

// A value of a table cell.
struct Cell {
    enum Kind { kNull, kNumber, kText };
    Kind kind = kNull;
    std::string text;   // UTF-8
};

// One row of cells: their kinds, and their texts one after another in one buffer, so
// that a row is decoded and written out without a string for each cell. Cells are
// written in column order: Room, then End (or Null) for each.
class RowCells {
public:
    // Bytes after the texts that a reader may load (and ignore) past a cell's end.
    static constexpr size_t kSlack = 32;

    RowCells() = default;
    RowCells(const RowCells&) = delete;
    RowCells& operator=(const RowCells&) = delete;

    // Empties the row for `count` cells.
    void Start(size_t count) {
        if (ends_.size() != count) {
            ends_.assign(count, 0);
            kinds_.assign(count, Cell::kNull);
        }
        used_ = 0;
    }
    size_t Size() const { return ends_.size(); }
    Cell::Kind Kind(size_t i) const { return kinds_[i]; }
    const char* Text(size_t i) const { return buffer_.get() + Begin(i); }
    size_t Length(size_t i) const { return ends_[i] - Begin(i); }
    std::string String(size_t i) const { return std::string(Text(i), Length(i)); }
    // The bytes of all the texts (kSlack bytes after them can be read).
    size_t TextBytes() const { return used_; }

    // Where cell `i` (the next one) starts, with room for `n` bytes and kSlack more.
    char* Room(size_t n) {
        if (capacity_ - used_ < n + kSlack) Grow(n);
        return buffer_.get() + used_;
    }
    // Cell `i` of `kind` ends at `end` (within the room given).
    void End(size_t i, Cell::Kind kind, const char* end) {
        used_ = static_cast<size_t>(end - buffer_.get());
        ends_[i] = used_;
        kinds_[i] = kind;
    }
    void Put(size_t i, Cell::Kind kind, const char* text, size_t n) {
        char* at = Room(n);
        if (n > 0) std::memcpy(at, text, n);
        End(i, kind, at + n);
    }
    // Cell `i` (the last one written) empty and null.
    void Null(size_t i) {
        used_ = Begin(i);
        ends_[i] = used_;
        kinds_[i] = Cell::kNull;
    }

private:
    size_t Begin(size_t i) const { return i == 0 ? 0 : ends_[i - 1]; }
    void Grow(size_t n);

    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0, used_ = 0;
    std::vector<size_t> ends_;
    std::vector<Cell::Kind> kinds_;
};

// What is wrong with an item's bytes or value.
struct Fault {
    int offset = 0;     // the byte in the record, from 0
    std::string reason;
    FaultCode code = FaultCode::kOther;
};

// The record object over a buffer of the caller's, so that its setters store values
// in the record being encoded; the buffer stays the caller's.
class RecordImage : public CopyRecord {
public:
    explicit RecordImage(int length);
    ~RecordImage() override;
    void Attach(unsigned char* buffer) { record = reinterpret_cast<char*>(buffer); }
};

// A column of a plan as the direct row writers take it, decided once for a layout
// (ValueCodec::CompileDirect): the fast path that writes its usual values and what that
// path needs, worked out ahead so that a record costs its values alone. Every value the
// fast path does not take goes to CsvCellInto, which decides as before.
struct DirectStep {
    enum Op : unsigned char {
        kCell,           // CsvCellInto itself
        kShortDisplay,   // a display number of 1 to 8 digits, no separate sign
        kPacked,         // a packed number of 1 to 8 bytes, 0 <= scale <= its digits
        kBinary,         // binary or COMP-5 of scale 0
        kAsciiText,      // text of a code page that keeps ASCII as it is
        kNational,       // national text (JSON: decoded straight into the line)
    };
    Op op = kCell;
    bool isSigned = false;
    bool bigEndian = false;   // kBinary
    int scale = 0;
    int length = 0;
    int at = 0;               // the offset of the item; kShortDisplay, kPacked: of the 8 bytes that end with it
    int signAt = -1;          // kShortDisplay: the offset of the digit whose zone is the sign
    uint64_t mask = 0;        // kShortDisplay: the digits' bytes of the 8
    uint64_t keep = 0;        // kShortDisplay: the bits of those bytes checked (not the sign's zone)
    unsigned digitLanes = 0;  // kPacked: the nibbles of digits among the 16 of the 8 bytes
    unsigned unusedLanes = 0; // kPacked: leading nibbles the picture does not use (zeros)
    int tailAt = -1;          // kAsciiText shorter than 16 bytes: the offset of 16 bytes holding it
    unsigned tailLanes = 0;   // the item's bytes among those 16
    const Field* field = nullptr;
};

struct DirectPlan {
    std::vector<DirectStep> steps;
    signed char zoneSign[16] = {};   // a display sign digit's zone: 1 positive, -1 negative, 0 no sign
};

// The texts of a JSON line between a plan's values (keys, braces, brackets, commas, the
// quotes of numbers written as strings), made once by JsonRowWriter for JsonRowInto.
struct DirectJson {
    struct Piece {
        uint32_t at = 0, length = 0;   // the text before the value in `text`
        int column = -1;               // the value's column; -1 for none (null)
    };
    std::vector<Piece> pieces;
    std::string text;   // the pieces, then the text after the last value (the line end
                        // included), then kSlack bytes to copy whole blocks from
    uint32_t afterAt = 0, afterLength = 0;
    static constexpr size_t kSlack = 32;
};

// How a column's values are stored, decided once for a layout: the usual numbers (by
// their digits, their sign and their form), text of ASCII characters and national text
// of characters the code page's tables hold stored in a few steps; everything else left
// to ValueCodec::Encode.
struct QuickStore {
    enum Op : unsigned char { kGeneral, kZoned, kPacked, kBigEndian, kLittleEndian, kText, kNational };
    Op op = kGeneral;
    bool isSigned = false;
    int signAt = -1;             // zoned: the byte whose zone is the sign; -1 none
    int offset = 0, length = 0;
    int scale = 0;
    uint64_t limit = 0;          // numbers: magnitudes below it fit the picture
    unsigned char zone = 0;      // zoned: the digits' zone
    unsigned char signs[2] = {};   // zoned: the sign zones (+, -); packed: the sign nibbles
    // Zoned items of at most 16 digits and bytes, packed items of at most 8 bytes: their
    // digits, which text read past its end takes by DigitLanesOf; 0 for the others.
    int laneDigits = 0;
};

class ValueCodec {
public:
    // Null with `error` set when an encoding is unknown.
    static std::unique_ptr<ValueCodec> Create(const DataOptions& options, int recordLength, std::string& error);

    // The value of `field` in `record` into cell `column` of `row` (the next one);
    // false with `fault` when the bytes are no value of the item (the cell is left for
    // the caller to make null).
    bool Decode(const Field& field, const unsigned char* record, RowCells& row, size_t column, Fault& fault);
    // The same into `cell`.
    bool Decode(const Field& field, const unsigned char* record, Cell& cell, Fault& fault);
    // Stores `cell` into `field` of `record` (attached to `image`); false with `fault`
    // when the value does not fit the item. A null cell of an item that shares its
    // bytes with another is left out.
    bool Encode(const Field& field, const Cell& cell, unsigned char* record, Fault& fault);
    // The same for a cell's kind and text held elsewhere (a table reader's buffer).
    bool Encode(const Field& field, Cell::Kind kind, std::string_view text, unsigned char* record, Fault& fault);
    // The quick form of each column (QuickStore).
    std::vector<QuickStore> QuickStores(const std::vector<Field>& fields) const;
    // Stores the text of a cell that is not null by its column's quick form: false when
    // Encode must take it (the value is unusual, does not fit or is refused; nothing
    // is then written). What it stores is what Encode stores.
    bool EncodeQuick(const QuickStore& store, std::string_view text, unsigned char* record) const;
    // The cells from column `from` on stored by their quick forms, up to the first that
    // is null or that they do not take: its column (the count of columns when none).
    // Texts within `span` are read a word at a time, also past their ends.
    size_t EncodeQuickRun(const std::vector<QuickStore>& stores, const std::vector<LentCell>& cells, size_t from,
                          unsigned char* record, LentSpan span = LentSpan()) const;
    // The item's empty value: zero for numbers, blanks for text, zero bits.
    void Clear(const Field& field, unsigned char* record);
    // Fills a fresh record with blanks of the data's code page.
    void Blank(unsigned char* record, int length);
    // The value of `field` written at `out` as its CSV cell (numbers, and text CSV does
    // not quote), with CellRoom(field) bytes of room; null when the general path must
    // take the value (bad data, text to quote, a kind without a direct form).
    char* CsvCellInto(const Field& field, const unsigned char* record, char* out);
    // The direct form of the columns of `plan` under this codec's options; the plan must
    // outlive it.
    DirectPlan CompileDirect(const LayoutPlan& plan) const;
    // The CSV line of a record's columns (cells between commas, then `lineEnd`) written
    // at `out`; null when a column needs the general path.
    char* CsvRowInto(const DirectPlan& row, const unsigned char* record, char* out, const std::string& lineEnd);
    // The value of one column as CsvCellInto writes it, by its direct form.
    char* CsvCellInto(const DirectPlan& row, const DirectStep& step, const unsigned char* record, char* out);
    // The same as a JSON value: numbers bare, text as a string that needs no escapes.
    char* JsonCellInto(const Field& field, const unsigned char* record, char* out);
    char* JsonCellInto(const DirectPlan& row, const DirectStep& step, const unsigned char* record, char* out);
    // The JSON line of a record's columns (`json`'s pieces between their values) written
    // at `out` (room: json.text's size and each column's CellRoom + 2); null when a
    // column needs the general path.
    char* JsonRowInto(const DirectPlan& row, const DirectJson& json, const unsigned char* record, char* out);
    // The exact value of a display, packed, binary or COMP-5 item of `record` as its
    // digits and sign (the value is the digits over 10^scale), for callers that keep
    // numbers as numbers: the usual values only, as CsvCellInto takes them; false when
    // the general path must take the value (bad data, blanks, more than 19 digits,
    // other kinds).
    bool NumberOf(const Field& field, const unsigned char* record, bool& negative, uint64_t& magnitude) const;
    // A text or national item's UTF-8 text at `out` (CellRoom(field) bytes of room),
    // trimmed under the options; null when the general path must take it.
    char* TextCellInto(const Field& field, const unsigned char* record, char* out);
    static bool HasCsvCell(const Field& field);
    static size_t CellRoom(const Field& field);
    RecordImage& Image() { return image_; }
    // Numeric values of blanks or low-values read as null or 0 so far (BlankNumeric).
    long long Blanks() const { return blanks_; }
    TextCodec& Text() { return *text_; }

private:
    ValueCodec(const DataOptions& options, int recordLength);
    // JsonCellInto by a direct form, inlined into JsonRowInto's loop.
    char* JsonDirectCell(const DirectPlan& row, const DirectStep& step, const unsigned char* record, char* out);
    // Into a string: every kind, and the faults with their reasons.
    bool DecodeText(const Field& field, const unsigned char* record, Cell& cell, Fault& fault);
    bool DecodeDisplay(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    // A display or packed item of blanks or low-values, under the options' BlankNumeric.
    bool DecodeBlank(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    // The fault of a sign byte (byte `at` of the item) of neither sign zone, with the
    // --sign-zones pair that reads it.
    bool SignZoneFault(const Field& field, int at, unsigned byte, Fault& fault);
    bool DecodePacked(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    // A packed item of more digits than 64 bits hold.
    bool DecodeWidePacked(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool DecodeBinary(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool DecodeFloat(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    // Straight into the row's buffer, the usual values only: null when the item's bytes
    // need the string path (bad data, more than 19 digits, text the tables do not cover).
    char* DisplayInto(const Field& field, const unsigned char* bytes, char* out);
    // Where a display item's digits lie and its sign, checked: the separate sign
    // character, or the zone of the sign digit. False for a sign of neither zone, a sign
    // digit that is no digit, or more than 19 digits.
    struct DisplaySpan {
        int first, last;      // the digits, sign digit included
        int signAt;           // the digit whose zone is the sign; -1 for none
        unsigned signDigit;   // that digit's value
        bool negative;
    };
    bool DisplaySpanOf(const Field& field, const unsigned char* bytes, DisplaySpan& span) const;
    bool EightDigits(const unsigned char* lastPlusOne, int count, int signIndex, uint64_t& digits) const;
    bool DisplayMagnitude(const Field& field, const unsigned char* bytes, bool& negative, uint64_t& magnitude) const;
    bool PackedMagnitude(const Field& field, const unsigned char* bytes, bool& negative, uint64_t& magnitude) const;
    char* PackedInto(const Field& field, const unsigned char* bytes, char* out);
    char* TextInto(const Field& field, const unsigned char* bytes, char* out);
    bool EncodeNumber(const Field& field, std::string_view text, unsigned char* record, Fault& fault);
    // The same for a display or packed item of more digits than 64 bits hold.
    bool EncodeWideNumber(const Field& field, std::string_view text, unsigned char* record, Fault& fault);
    // Stores an exact value that fits the item as the record object's setters do.
    void StoreNumber(const Field& field, bool negative, uint64_t magnitude, unsigned char* bytes);
    bool EncodeFloat(const Field& field, std::string_view text, unsigned char* record, Fault& fault);

    DataOptions options_;
    std::unique_ptr<TextCodec> text_;
    RecordImage image_;
    unsigned digitZone_ = 0x3;       // high nibble of display digits
    unsigned positiveZone_ = 0x4;    // high nibble of the sign byte, positive
    unsigned negativeZone_ = 0x5;
    signed char signOfZone_[16] = {};            // a zone's sign: 1 positive, -1 negative, 0 none
    unsigned char signZone_[2] = {0x40, 0x50};   // the stored zone bytes of an embedded sign: + and -
    unsigned char displayDigits_[256] = {};      // a display byte's digit; 0x80 when it is no digit
    std::string scratch_;
    Cell cell_;   // the string path's cell
    long long blanks_ = 0;
};

// Parses exact decimal text ("-1234.50") into an unscaled magnitude for an item of
// `scale` decimal places; false with `reason` for anything else or a magnitude past 64 bits.
bool ParseDecimal(std::string_view text, int scale, bool& negative, uint64_t& magnitude, std::string& reason);
// The same for a number of any digits (up to 64): its unscaled digits, without the zeros
// before them (empty for zero), into `digits`; false with `reason` and `code` otherwise.
bool ParseDecimalDigits(std::string_view text, int scale, bool& negative, std::string& digits, std::string& reason,
                        FaultCode& code);
// Appends `magnitude` (negated when `negative`) with `scale` digits after the point.
void AppendDecimal(std::string& out, bool negative, uint64_t magnitude, int scale);
// The same text written at `out` (room for kDecimalRoom bytes); returns its end.
constexpr size_t kDecimalRoom = 96;
char* PutDecimal(char* out, bool negative, uint64_t magnitude, int scale);

}  // namespace quillbox

#endif
