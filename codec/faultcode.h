// The kinds of fault a data run meets, as stable codes: a report groups its faults by
// them, a program tests them instead of reading reasons, and the desktop program shows
// its own text for each. The English reason stays beside the code for people.
#ifndef QUILLBOX_CODEC_FAULTCODE_H
#define QUILLBOX_CODEC_FAULTCODE_H

namespace quillbox {

enum class FaultCode {
    kOther = 0,          // none of the kinds below
    // A value's bytes (decode)
    kNotDigit,           // a display byte that is no digit
    kSignZone,           // a zoned number's sign zone is no sign
    kSignByte,           // a separate sign byte is neither + nor -
    kPackedNibble,       // a packed digit nibble above 9
    kPackedSign,         // a packed sign nibble that is no sign
    kUnsignedNegative,   // a negative sign in an unsigned item
    kBlankNumeric,       // a numeric item of spaces or low-values
    kBadBits,            // a bit item's bytes or characters
    kTextDecode,         // text that does not convert from the data's code page
    kTextForm,           // text that has no form in the table's code page
    kOverflow,           // a value wider than where it goes
    // A value of a table (encode)
    kNotNumber,          // a text that is no number
    kTooManyDigits,      // more digits than the picture
    kTooManyDecimals,    // more decimal places than the picture
    kTextTooLong,        // text longer than the item
    kTextEncode,         // text that does not convert to the data's code page
    kNotDoubleByte,      // text of a national item that is not all double-byte
    // A whole record or row
    kShortRecord,        // a record shorter than its layout
    kRecordLength,       // a variable record whose length is not its layout's
    kCounterRange,       // an OCCURS DEPENDING ON counter out of its range
    kRecordType,         // a record-type field no rule chooses
    kBadRow,             // a table row that does not parse or fit the layout
    // The file
    kFraming,            // bad RDW/BDW, record header or line: the file cannot be read on
    kIo                  // a read or write that failed
};

// A short stable name of `code` ("not-digit", "packed-nibble", ...), for reports.
inline const char* FaultCodeName(FaultCode code) {
    switch (code) {
    case FaultCode::kOther: return "other";
    case FaultCode::kNotDigit: return "not-digit";
    case FaultCode::kSignZone: return "sign-zone";
    case FaultCode::kSignByte: return "sign-byte";
    case FaultCode::kPackedNibble: return "packed-nibble";
    case FaultCode::kPackedSign: return "packed-sign";
    case FaultCode::kUnsignedNegative: return "unsigned-negative";
    case FaultCode::kBlankNumeric: return "blank-numeric";
    case FaultCode::kBadBits: return "bad-bits";
    case FaultCode::kTextDecode: return "text-decode";
    case FaultCode::kTextForm: return "text-form";
    case FaultCode::kOverflow: return "overflow";
    case FaultCode::kNotNumber: return "not-number";
    case FaultCode::kTooManyDigits: return "too-many-digits";
    case FaultCode::kTooManyDecimals: return "too-many-decimals";
    case FaultCode::kTextTooLong: return "text-too-long";
    case FaultCode::kTextEncode: return "text-encode";
    case FaultCode::kNotDoubleByte: return "not-double-byte";
    case FaultCode::kShortRecord: return "short-record";
    case FaultCode::kRecordLength: return "record-length";
    case FaultCode::kCounterRange: return "counter-range";
    case FaultCode::kRecordType: return "record-type";
    case FaultCode::kBadRow: return "bad-row";
    case FaultCode::kFraming: return "framing";
    case FaultCode::kIo: return "io";
    }
    return "other";
}

}  // namespace quillbox

#endif
