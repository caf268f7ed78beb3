// Text conversion between the bytes of a data file and UTF-8, for the code pages a
// data file is written in: Shift_JIS (cp932), ASCII, UTF-8, Latin-1, Windows-1252,
// ISO-8859-15 and the EBCDIC code pages,
// Japanese ones with double-byte text between shift-out (0x0E) and shift-in (0x0F).
//
// Alphanumeric items hold text as the code page writes it (with SO/SI in the Japanese
// EBCDIC pages); national items hold double-byte characters only: Shift_JIS in cp932,
// the EBCDIC double-byte set without SO/SI in the Japanese EBCDIC pages, UTF-16BE with
// the single-byte code pages and UTF-8.
#ifndef QUILLBOX_DATA_TEXTCODEC_H
#define QUILLBOX_DATA_TEXTCODEC_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillbox {

class TextCodec {
public:
    // The codec of a code page name (cp932, ascii, utf-8, ibm-037, ...), or null with
    // `error` set when the name is unknown or the platform cannot convert it.
    static std::unique_ptr<TextCodec> Create(const std::string& name, std::string& error);
    // The names Create knows, for usage texts.
    static const char* Names();
    // The other names Create takes for them, for usage texts.
    static const char* Aliases();
    // The name of the code page `name` stands for: lower case, an alias taken to its
    // page's name (cp037, IBM037, ebcdic-cp-us -> ibm-037; sjis -> cp932); a name Create
    // does not know comes back lower case.
    static std::string CanonicalName(const std::string& name);

    virtual ~TextCodec();
    // Appends the UTF-8 form of `length` bytes to `out`; false (out may hold part of
    // the text) when the bytes are no text of the code page.
    virtual bool Decode(const unsigned char* bytes, size_t length, std::string& out) = 0;
    virtual bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) = 0;
    // Replaces `out` by the code page's bytes for UTF-8 `text`; false when the text is
    // no UTF-8 or holds a character the code page lacks.
    virtual bool Encode(const char* text, size_t length, std::string& out) = 0;
    virtual bool EncodeNational(const char* text, size_t length, std::string& out) = 0;

    // Decoding straight into a buffer, for the code pages that convert by tables (all
    // but Shift_JIS text its tables cannot hold): the UTF-8 form of `length` bytes
    // written at `out`, which has room for kMostPerByte bytes for each byte and
    // kRoomAfter more, its end in `end`; kNoText
    // when the bytes are no text of the code page. kUseDecode where the tables do not
    // cover the text (the caller takes Decode or DecodeNational); the result is always
    // theirs.
    enum Written { kWritten, kNoText, kUseDecode };
    static constexpr size_t kMostPerByte = 4;
    static constexpr size_t kRoomAfter = 8;
    virtual Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end);
    virtual Written DecodeNationalInto(const unsigned char* bytes, size_t length, char* out, char*& end);
    // A national item of `length` bytes at `out` holding UTF-8 `text` (national blanks
    // after it), where the code page's tables already hold each of its characters: true
    // when it is written, the bytes EncodeNational and the blanks give. False, nothing
    // written, when the caller must take that way.
    virtual bool EncodeNationalQuick(const char* /*text*/, size_t /*n*/, unsigned char* /*out*/,
                                     size_t /*length*/) const {
        return false;
    }

    // The code page's byte for each ASCII character (below 0x80), as Encode writes text
    // of ASCII characters only, one byte each; null when the page has no such form for
    // every one of them (the text then goes through Encode).
    const unsigned char* AsciiBytes() const { return asciiMapped_ ? asciiBytes_ : nullptr; }
    // Whether AsciiBytes maps every ASCII character to itself; DecodeInto then gives
    // each byte below 0x80 as that same byte, so that a text of them is copied as it is.
    bool AsciiAsIs() const { return asciiAsIs_; }

    bool IsEbcdic() const { return ebcdic_; }
    // The blank of alphanumeric items and the two bytes of a national blank.
    unsigned char Space() const { return ebcdic_ ? 0x40 : 0x20; }
    const char* NationalSpace() const { return nationalSpace_; }
    // The zone of display digits: 0x30 ('0'-'9') or 0xF0 in EBCDIC.
    unsigned char DigitZone() const { return ebcdic_ ? 0xF0 : 0x30; }
    unsigned char Digit(int d) const { return static_cast<unsigned char>(DigitZone() | d); }

protected:
    // Sets AsciiBytes: each ASCII character as itself.
    void MapAsciiAsIs();
    bool ebcdic_ = false;
    bool asciiMapped_ = false, asciiAsIs_ = false;
    unsigned char asciiBytes_[128] = {};
    char nationalSpace_[2] = {'\x81', '\x40'};
};

// The system's Shift_JIS texts (item names, messages) to UTF-8; a byte that starts no
// character becomes U+FFFD and the conversion goes on with the next byte.
std::string ShiftJisToUtf8(const std::string& text);
// UTF-8 to Shift_JIS; false (and `out` untouched) when `text` is not UTF-8 or holds a
// character that Shift_JIS lacks.
bool Utf8ToShiftJis(const std::string& text, std::string& out);

// True when `length` bytes of `text` are well-formed UTF-8.
bool IsUtf8(const char* text, size_t length);
// Appends the UTF-8 form of a Unicode code point.
void AppendUtf8(uint32_t codePoint, std::string& out);

}  // namespace quillbox

#endif
