// One item's value between its stored bytes and exact text: decimal numbers with
// exactly `scale` digits after the point, floating point, UTF-8 text, bits.
#ifndef QUILLBOX_DATA_VALUECODEC_H
#define QUILLBOX_DATA_VALUECODEC_H

#include <memory>
#include <string>

#include "copyrecord.h"
#include "datacodec.h"
#include "layoutplan.h"
#include "textcodec.h"

namespace quillbox {

// A value of a table cell.
struct Cell {
    enum Kind { kNull, kNumber, kText };
    Kind kind = kNull;
    std::string text;   // UTF-8
};

// What is wrong with an item's bytes or value.
struct Fault {
    int offset = 0;     // the byte in the record, from 0
    std::string reason;
};

// The record object over a buffer of the caller's, so that its setters store values
// in the record being encoded; the buffer stays the caller's.
class RecordImage : public CopyRecord {
public:
    explicit RecordImage(int length);
    ~RecordImage() override;
    void Attach(unsigned char* buffer) { record = reinterpret_cast<char*>(buffer); }
};

class ValueCodec {
public:
    // Null with `error` set when an encoding is unknown.
    static std::unique_ptr<ValueCodec> Create(const DataOptions& options, int recordLength, std::string& error);

    // The value of `field` in `record` into `cell`; false with `fault` when the bytes
    // are no value of the item.
    bool Decode(const Field& field, const unsigned char* record, Cell& cell, Fault& fault);
    // Stores `cell` into `field` of `record` (attached to `image`); false with `fault`
    // when the value does not fit the item. A null cell of an item that shares its
    // bytes with another is left out.
    bool Encode(const Field& field, const Cell& cell, unsigned char* record, Fault& fault);
    // The item's empty value: zero for numbers, blanks for text, zero bits.
    void Clear(const Field& field, unsigned char* record);
    // Fills a fresh record with blanks of the data's code page.
    void Blank(unsigned char* record, int length);
    RecordImage& Image() { return image_; }
    TextCodec& Text() { return *text_; }

private:
    ValueCodec(const DataOptions& options, int recordLength);
    bool DecodeDisplay(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool DecodePacked(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool DecodeBinary(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool DecodeFloat(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault);
    bool EncodeNumber(const Field& field, const std::string& text, unsigned char* record, Fault& fault);
    bool EncodeFloat(const Field& field, const std::string& text, unsigned char* record, Fault& fault);

    DataOptions options_;
    std::unique_ptr<TextCodec> text_;
    RecordImage image_;
    unsigned digitZone_ = 0x3;       // high nibble of display digits
    unsigned positiveZone_ = 0x4;    // high nibble of the sign byte, positive
    unsigned negativeZone_ = 0x5;
    std::string scratch_;
};

// Parses exact decimal text ("-1234.50") into an unscaled magnitude for an item of
// `scale` decimal places; false with `reason` for anything else or more than 19 digits.
bool ParseDecimal(const std::string& text, int scale, bool& negative, uint64_t& magnitude, std::string& reason);
// Appends `magnitude` (negated when `negative`) with `scale` digits after the point.
void AppendDecimal(std::string& out, bool negative, uint64_t magnitude, int scale);

}  // namespace quillbox

#endif
