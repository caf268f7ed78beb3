// Text conversion for data files. Shift_JIS converts through the platform's converter
// (iconv on Linux, the Win32 code page functions on Windows), by tables filled from it
// as they are needed: the double-byte characters of a lead byte when a text first holds
// one, the code points of a block of 256 when a text to encode first holds one; so every
// byte still converts as the platform's converter does, which is stateless for
// Shift_JIS. Plain ASCII is taken as it is where the code page allows that. The Latin
// pages of the ASCII side, the EBCDIC pages and the Japanese EBCDIC pages with their
// shift states convert through tables held as data (singlebyte_pages.inc and
// japanese_ebcdic_pages.inc, made from glibc's iconv by scripts/make-codepages), so
// they convert alike on every platform and need no converter of it: Windows has none
// for the Japanese EBCDIC pages.
#include "textcodec.h"
#include "textrules.h"

#include <cstring>
#include <unordered_map>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace quillbox {

namespace {

#include "singlebyte_pages.inc"
#include "japanese_ebcdic_pages.inc"

constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;

struct PageInfo {
    const char* name;      // the option's name
    const char* iconvName; // glibc's name
    unsigned windowsPage;  // 0: none
    enum Kind { kAscii, kUtf8, kShiftJis } kind;
};

const PageInfo kPages[] = {
    {"cp932", "CP932", 932, PageInfo::kShiftJis},
    {"ascii", "ASCII", 20127, PageInfo::kAscii},
    {"utf-8", "UTF-8", 65001, PageInfo::kUtf8},
};

// The single-byte pages held as data: the code point of each byte (none: Latin-1, the
// byte itself).
struct DataPage {
    const char* name;
    const uint16_t* points;
    bool ebcdic;
};

constexpr uint16_t kNoCharacter = 0xFFFF;
constexpr uint16_t kWideDouble = 0xFFFE;   // a double byte in its page's wide list
constexpr unsigned kFirstDouble = 0x40, kLastDouble = 0xFE;

const DataPage kDataPages[] = {
    {"latin-1", nullptr, false},   {"cp1252", kCp1252, false},   {"iso-8859-15", kIso8859_15, false},
    {"ibm-037", kIbm037, true},    {"ibm-1140", kIbm1140, true}, {"ibm-500", kIbm500, true},
    {"ibm-1047", kIbm1047, true},
    {"ibm-273", kIbm273, true},    {"ibm-277", kIbm277, true},   {"ibm-278", kIbm278, true},
    {"ibm-280", kIbm280, true},    {"ibm-284", kIbm284, true},   {"ibm-285", kIbm285, true},
    {"ibm-297", kIbm297, true},    {"ibm-871", kIbm871, true},   {"ibm-1141", kIbm1141, true},
    {"ibm-1142", kIbm1142, true},  {"ibm-1143", kIbm1143, true}, {"ibm-1144", kIbm1144, true},
    {"ibm-1145", kIbm1145, true},  {"ibm-1146", kIbm1146, true}, {"ibm-1147", kIbm1147, true},
    {"ibm-1148", kIbm1148, true},  {"ibm-1149", kIbm1149, true},
};

// The Japanese EBCDIC pages held as data: their single bytes, the double bytes of their
// family (lead and trail byte kFirstDouble to kLastDouble) with its list of wide ones,
// and the characters encode takes otherwise than the tables' first match.
struct JapanesePage {
    const char* name;
    const uint16_t* singles;
    const uint16_t* doubles;
    const uint32_t (*wide)[3];
    const uint32_t (*encode)[2];
};

const JapanesePage kJapanesePages[] = {
    {"ibm-930", kIbm930, kIbm930Double, kIbm930DoubleWide, kIbm930Encode},
    {"ibm-939", kIbm939, kIbm930Double, kIbm930DoubleWide, kIbm939Encode},
    {"ibm-1390", kIbm1390, kIbm1390Double, kIbm1390DoubleWide, kIbm1390Encode},
    {"ibm-1399", kIbm1399, kIbm1390Double, kIbm1390DoubleWide, kIbm1399Encode},
};

// Other names of the code pages, lower case: the ones iconv, Java and Python use.
struct PageAlias {
    const char* alias;
    const char* name;
};

const PageAlias kAliases[] = {
    {"shift_jis", "cp932"},     {"sjis", "cp932"},          {"shift-jis", "cp932"},     {"windows-31j", "cp932"},
    {"ms932", "cp932"},         {"ms_kanji", "cp932"},      {"utf8", "utf-8"},
    {"us-ascii", "ascii"},      {"ebcdic-cp-us", "ibm-037"}, {"ebcdic-cp-ca", "ibm-037"}, {"ebcdic-cp-nl", "ibm-037"},
    {"ebcdic-cp-be", "ibm-500"}, {"ebcdic-cp-ch", "ibm-500"}, {"ebcdic-cp-dk", "ibm-277"}, {"ebcdic-cp-no", "ibm-277"},
    {"ebcdic-cp-fi", "ibm-278"}, {"ebcdic-cp-se", "ibm-278"}, {"ebcdic-cp-it", "ibm-280"}, {"ebcdic-cp-es", "ibm-284"},
    {"ebcdic-cp-gb", "ibm-285"}, {"ebcdic-cp-fr", "ibm-297"}, {"ebcdic-cp-is", "ibm-871"}, {"latin1", "latin-1"},
    {"iso-8859-1", "latin-1"},  {"iso8859-1", "latin-1"},   {"iso_8859-1", "latin-1"},  {"l1", "latin-1"},
    {"windows-1252", "cp1252"}, {"ms-ansi", "cp1252"},      {"iso8859-15", "iso-8859-15"}, {"iso_8859-15", "iso-8859-15"},
    {"latin-9", "iso-8859-15"}, {"latin9", "iso-8859-15"},
};

// The length of the UTF-8 sequence at `p` (at most `left` bytes), 0 when malformed.
size_t Utf8Sequence(const unsigned char* p, size_t left, uint32_t* codePoint) {
    unsigned char c = p[0];
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
        if (codePoint) *codePoint = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    if (codePoint) *codePoint = cp;
    return n;
}

bool AllAscii(const unsigned char* p, size_t n) {
    unsigned char any = 0;
    for (size_t i = 0; i < n; ++i) any |= p[i];
    return any < 0x80;
}

// UTF-16BE national text (the single-byte code pages and UTF-8 have no double-byte set).
bool DecodeUtf16(const unsigned char* p, size_t n, std::string& out) {
    if (n % 2 != 0) return false;
    for (size_t i = 0; i < n; i += 2) {
        uint32_t unit = (uint32_t{p[i]} << 8) | p[i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= n) return false;
            uint32_t low = (uint32_t{p[i + 2]} << 8) | p[i + 3];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
        AppendUtf8(unit, out);
    }
    return true;
}

// Clears `out`, then calls `put(codePoint)` for each character of the UTF-8 `text`; false at
// the first byte that starts no character or the first `put` that returns false.
template <typename Put>
bool EncodeEach(const char* text, size_t n, std::string& out, Put put) {
    out.clear();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        size_t len = Utf8Sequence(p + i, n - i, &cp);
        if (len == 0 || !put(cp)) return false;
        i += len;
    }
    return true;
}

bool EncodeUtf16(const char* text, size_t n, std::string& out) {
    return EncodeEach(text, n, out, [&out](uint32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            uint32_t high = 0xD800 + (cp >> 10), low = 0xDC00 + (cp & 0x3FF);
            out.push_back(static_cast<char>(high >> 8));
            out.push_back(static_cast<char>(high & 0xFF));
            out.push_back(static_cast<char>(low >> 8));
            out.push_back(static_cast<char>(low & 0xFF));
        } else {
            out.push_back(static_cast<char>(cp >> 8));
            out.push_back(static_cast<char>(cp & 0xFF));
        }
        return true;
    });
}

// The UTF-8 form of one character (or of one byte) of a code page in a table: `length`
// bytes, 0 when it does not convert, kLonger when it is longer than the table holds
// (the text then goes through the converter).
struct Utf8Entry {
    static constexpr unsigned char kLonger = 0xFF;
    unsigned char length = 0;
    char bytes[7] = {};
};

// Sets `entry` from the converter's output `text` for one character, which converted
// when `converted`; at most `room` bytes are kept in the table.
void SetEntry(Utf8Entry& entry, bool converted, const std::string& text, size_t room) {
    if (!converted || text.empty()) {
        entry.length = 0;
    } else if (text.size() > room) {
        entry.length = Utf8Entry::kLonger;
    } else {
        entry.length = static_cast<unsigned char>(text.size());
        std::memcpy(entry.bytes, text.data(), text.size());
    }
}

// Writes the UTF-8 form of `cp` at `o`; the position after it.
inline char* PutUtf8(uint32_t cp, char* o) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

// Appends to `out` the text `walk(at, end)` writes at `at` (room for `length` bytes of
// a code page: kMostPerByte for each and kRoomAfter more), kept only when written.
template <typename Walk>
TextCodec::Written AppendWalked(std::string& out, size_t length, Walk walk) {
    size_t start = out.size();
    out.resize(start + length * TextCodec::kMostPerByte + TextCodec::kRoomAfter);
    char* end = nullptr;
    TextCodec::Written written = walk(&out[start], end);
    out.resize(written == TextCodec::kWritten ? static_cast<size_t>(end - out.data()) : start);
    return written;
}

// One direction of the platform's converter between a code page and UTF-8.
class Converter {
public:
#ifdef _WIN32
    Converter(const PageInfo& page, bool toUtf8) : page_(page), toUtf8_(toUtf8) {}
#else
    Converter(const PageInfo& page, bool toUtf8)
        : cd_(toUtf8 ? iconv_open("UTF-8", page.iconvName) : iconv_open(page.iconvName, "UTF-8")) {}
#endif
    ~Converter() {
#ifndef _WIN32
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
#endif
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Usable() const {
#ifdef _WIN32
        return page_.windowsPage != 0 && IsValidCodePage(page_.windowsPage);
#else
        return cd_ != reinterpret_cast<iconv_t>(-1);
#endif
    }

    // Converts the whole input and appends it to `out`, with the converter's shift
    // state reset before and flushed after; false on any byte that does not convert.
    bool Convert(const char* in, size_t n, std::string& out) {
#ifdef _WIN32
        UINT from = toUtf8_ ? page_.windowsPage : CP_UTF8;
        UINT to = toUtf8_ ? CP_UTF8 : page_.windowsPage;
        if (n == 0) return true;
        int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(n), nullptr, 0);
        if (wide <= 0) return false;
        std::wstring w(static_cast<size_t>(wide), L'\0');
        MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(n), &w[0], wide);
        BOOL usedDefault = FALSE;
        BOOL* used = to == CP_UTF8 ? nullptr : &usedDefault;
        int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, used);
        if (bytes <= 0 || usedDefault) return false;
        size_t start = out.size();
        out.resize(start + static_cast<size_t>(bytes));
        WideCharToMultiByte(to, 0, w.data(), wide, &out[start], bytes, nullptr, nullptr);
        return true;
#else
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* input = const_cast<char*>(in);
        size_t left = n;
        char buffer[1024];
        for (;;) {
            char* output = buffer;
            size_t room = sizeof buffer;
            size_t r = left > 0 ? iconv(cd_, &input, &left, &output, &room) : iconv(cd_, nullptr, nullptr, &output, &room);
            out.append(buffer, static_cast<size_t>(output - buffer));
            if (r != static_cast<size_t>(-1)) {
                if (left == 0 && input != nullptr) {
                    input = nullptr;   // flush the shift state next
                    continue;
                }
                if (left == 0) return true;
            } else if (errno != E2BIG) {
                return false;
            }
        }
#endif
    }

private:
#ifdef _WIN32
    const PageInfo& page_;
    bool toUtf8_;
#else
    iconv_t cd_;
#endif
};

class AsciiCodec : public TextCodec {
public:
    explicit AsciiCodec(bool utf8) : utf8_(utf8) {
        std::memcpy(nationalSpace_, "\x30\x00", 2);
        MapAsciiAsIs();
    }
    bool Decode(const unsigned char* bytes, size_t length, std::string& out) override {
        if (utf8_ ? !IsUtf8(reinterpret_cast<const char*>(bytes), length) : !AllAscii(bytes, length)) return false;
        out.append(reinterpret_cast<const char*>(bytes), length);
        return true;
    }
    bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) override {
        return DecodeUtf16(bytes, length, out);
    }
    Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        if (utf8_ ? !IsUtf8(reinterpret_cast<const char*>(bytes), length) : !AllAscii(bytes, length)) return kNoText;
        std::memcpy(out, bytes, length);
        end = out + length;
        return kWritten;
    }
    bool Encode(const char* text, size_t length, std::string& out) override {
        if (utf8_ ? !IsUtf8(text, length) : !AllAscii(reinterpret_cast<const unsigned char*>(text), length)) return false;
        out.assign(text, length);
        return true;
    }
    bool EncodeNational(const char* text, size_t length, std::string& out) override {
        return EncodeUtf16(text, length, out);
    }

private:
    bool utf8_;
};

// A single-byte page held as data: both directions by table.
class TableCodec : public TextCodec {
public:
    // Latin-1 when `points` is null.
    void Build(const DataPage& page) {
        ebcdic_ = page.ebcdic;
        std::memcpy(nationalSpace_, "\x30\x00", 2);
        for (int b = 0; b < 256; ++b) {
            uint32_t cp = page.points != nullptr ? page.points[b] : static_cast<uint32_t>(b);
            valid_[b] = cp != kNoCharacter;
            if (!valid_[b]) continue;
            std::string text;
            AppendUtf8(cp, text);
            utf8_[b] = text;
            SetEntry(entries_[b], true, text, kMostPerByte);
            if (reverse_.count(cp) == 0) reverse_[cp] = static_cast<unsigned char>(b);
        }
        // The bytes Encode writes for ASCII text, when the page has every ASCII character.
        asciiMapped_ = true;
        asciiAsIs_ = true;
        for (uint32_t cp = 0; cp < 0x80; ++cp) {
            auto found = reverse_.find(cp);
            if (found == reverse_.end()) {
                asciiMapped_ = false;
                break;
            }
            asciiBytes_[cp] = found->second;
            asciiAsIs_ = asciiAsIs_ && found->second == cp;
        }
        asciiAsIs_ = asciiAsIs_ && asciiMapped_;
    }
    bool Decode(const unsigned char* bytes, size_t length, std::string& out) override {
        for (size_t i = 0; i < length; ++i) {
            if (!valid_[bytes[i]]) return false;
            out += utf8_[bytes[i]];
        }
        return true;
    }
    bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) override {
        return DecodeUtf16(bytes, length, out);
    }
    Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        char* o = out;
        for (size_t i = 0; i < length; ++i) {
            const Utf8Entry& entry = entries_[bytes[i]];
            if (entry.length == 0) return kNoText;
            if (entry.length == Utf8Entry::kLonger) return kUseDecode;
            std::memcpy(o, entry.bytes, kMostPerByte);
            o += entry.length;
        }
        end = o;
        return kWritten;
    }
    bool Encode(const char* text, size_t length, std::string& out) override {
        return EncodeEach(text, length, out, [this, &out](uint32_t cp) {
            auto found = reverse_.find(cp);
            if (found == reverse_.end()) return false;
            out.push_back(static_cast<char>(found->second));
            return true;
        });
    }
    bool EncodeNational(const char* text, size_t length, std::string& out) override {
        return EncodeUtf16(text, length, out);
    }

private:
    bool valid_[256] = {};
    std::string utf8_[256];
    Utf8Entry entries_[256];
    std::unordered_map<uint32_t, unsigned char> reverse_;
};

// Shift_JIS, through tables filled from the platform's converter.
class MultiByteCodec : public TextCodec {
public:
    explicit MultiByteCodec(const PageInfo& page) : to_(page, true), from_(page, false) {
        MapAsciiAsIs();   // Encode keeps ASCII text as it is
        if (to_.Usable()) {
            // A byte that converts alone is a character of its own; the others start a
            // double-byte character (or none).
            std::string text;
            for (int b = 0; b < 256; ++b) {
                char c = static_cast<char>(b);
                text.clear();
                bool converted = to_.Convert(&c, 1, text);
                SetEntry(singles_[b], converted, text, kMostPerByte);
            }
        }
    }
    bool Usable() const { return to_.Usable() && from_.Usable(); }

    bool Decode(const unsigned char* bytes, size_t length, std::string& out) override {
        if (AllAscii(bytes, length)) {
            out.append(reinterpret_cast<const char*>(bytes), length);
            return true;
        }
        Written written = AppendWalk(bytes, length, out);
        if (written != kUseDecode) return written == kWritten;
        return to_.Convert(reinterpret_cast<const char*>(bytes), length, out);
    }
    bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) override {
        if (length % 2 != 0) return false;
        if (!LeadBytes(bytes, length)) return false;
        Written written = AppendWalk(bytes, length, out);
        if (written != kUseDecode) return written == kWritten;
        return to_.Convert(reinterpret_cast<const char*>(bytes), length, out);
    }
    Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        if (AllAscii(bytes, length)) {
            std::memcpy(out, bytes, length);
            end = out + length;
            return kWritten;
        }
        return Walk(bytes, length, out, end);
    }
    Written DecodeNationalInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        if (length % 2 != 0 || !LeadBytes(bytes, length)) return kNoText;
        // Walk's reading, a pair at a time: the table of each lead byte looked up in
        // place, without a call for each character.
        char* o = out;
        for (size_t i = 0; i < length; i += 2) {
            const unsigned char lead = bytes[i];
            if (singles_[lead].length != 0) return Walk(bytes, length, out, end);   // a byte that is a character alone
            const Utf8Entry* table = pairs_[lead] ? pairs_[lead].get() : Pairs(lead);
            const Utf8Entry& entry = table[bytes[i + 1]];
            if (entry.length == 0) return kNoText;
            if (entry.length == Utf8Entry::kLonger) return kUseDecode;
            std::memcpy(o, entry.bytes, sizeof entry.bytes);
            o += entry.length;
        }
        end = o;
        return kWritten;
    }
    bool Encode(const char* text, size_t length, std::string& out) override {
        out.clear();
        if (AllAscii(reinterpret_cast<const unsigned char*>(text), length)) {
            out.assign(text, length);
            return true;
        }
        // The walk refuses text that is no UTF-8 where it meets it; the converter is
        // given only UTF-8.
        Written written = EncodeWalk(text, length, out);
        if (written != kUseDecode) return written == kWritten;
        out.clear();
        return IsUtf8(text, length) && from_.Convert(text, length, out);
    }
    bool EncodeNational(const char* text, size_t length, std::string& out) override {
        out.clear();
        Written written = EncodeWalk(text, length, out);
        if (written == kNoText) return false;
        if (written == kUseDecode) {
            out.clear();
            if (!IsUtf8(text, length) || !from_.Convert(text, length, out)) return false;
        }
        for (size_t i = 0; i < out.size(); i += 2) {
            if (!IsShiftJisLeadByte(out[i]) || i + 1 >= out.size()) return false;
        }
        return true;
    }

    // Characters of three UTF-8 bytes (the Japanese ones) whose double-byte forms the
    // tables hold; anything else EncodeNational's (which fills the tables).
    bool EncodeNationalQuick(const char* text, size_t n, unsigned char* item, size_t length) const override {
        // Written here first: nothing of the item changes unless all of it is written.
        unsigned char out[256];
        if (length % 2 != 0 || length > sizeof out || n % 3 != 0 || n / 3 * 2 > length) return false;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        size_t o = 0;
        for (size_t i = 0; i < n; i += 3, o += 2) {
            uint32_t cp;
            if (!ThreeByteForm(p + i) || !ThreeByteCharacter(p + i, cp)) return false;
            const uint32_t* block = blocks_[cp >> 8].get();
            if (block == nullptr) return false;
            const uint32_t form = block[cp & 0xFF];
            const unsigned char lead = static_cast<unsigned char>(form >> 8);
            if ((form >> 16) != 2 || !IsShiftJisLeadByte(lead)) return false;
            out[o] = lead;
            out[o + 1] = static_cast<unsigned char>(form);
        }
        for (; o < length; o += 2) std::memcpy(out + o, nationalSpace_, 2);
        std::memcpy(item, out, length);
        return true;
    }

private:
    // Whether three bytes have the form of a UTF-8 character of three: 1110xxxx 10xxxxxx
    // 10xxxxxx.
    static bool ThreeByteForm(const unsigned char* p) {
        return (p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80;
    }
    // The code point of such three bytes in `cp`: false when it is none (below U+0800 or
    // a surrogate).
    static bool ThreeByteCharacter(const unsigned char* p, uint32_t& cp) {
        cp = (uint32_t{p[0] & 0x0Fu} << 12) | (uint32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
        return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    }

    // The Shift_JIS bytes of one code point in the encoding tables: `bytes` (the first
    // in the high byte) and their count in the bits above; 0 when it has none,
    // kEncodeLonger when it has more than two.
    static constexpr uint32_t kEncodeLonger = 0xFFFFFFFFu;

    static bool LeadBytes(const unsigned char* bytes, size_t length) {
        for (size_t i = 0; i < length; i += 2) {
            if (!IsShiftJisLeadByte(bytes[i])) return false;
        }
        return true;
    }

    // The double-byte characters of lead byte `lead`, converted when first needed. A
    // second code of a character that encode writes as another code (cp932's NEC
    // selected IBM extensions ED40-EEFC beside IBM's FA40-FC4B, NEC's 8790 beside
    // 81E0 ...) is no character, so that decode then encode gives the bytes back or
    // refuses them, never other bytes.
    const Utf8Entry* Pairs(unsigned char lead) {
        std::unique_ptr<Utf8Entry[]>& table = pairs_[lead];
        if (!table) {
            table.reset(new Utf8Entry[256]);
            std::string text, back;
            for (int trail = 0; trail < 256; ++trail) {
                char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                text.clear();
                back.clear();
                bool converted = to_.Convert(pair, 2, text) &&
                                 (text.empty() || (from_.Convert(text.data(), text.size(), back) && back == std::string(pair, 2)));
                SetEntry(table[trail], converted, text, sizeof table[trail].bytes);
            }
        }
        return table.get();
    }

    // Shift_JIS to UTF-8 by the tables, at most kMostPerByte bytes for each byte.
    Written Walk(const unsigned char* bytes, size_t length, char* out, char*& end) {
        char* o = out;
        for (size_t i = 0; i < length;) {
            const Utf8Entry* entry = &singles_[bytes[i]];
            size_t width = 1;
            if (entry->length == 0) {
                if (i + 1 >= length) return kNoText;
                entry = &Pairs(bytes[i])[bytes[i + 1]];
                width = 2;
                if (entry->length == 0) return kNoText;
            }
            if (entry->length == Utf8Entry::kLonger) return kUseDecode;
            // Whole entries: the output has room for 4 bytes a byte and kRoomAfter more.
            std::memcpy(o, entry->bytes, sizeof entry->bytes);
            o += entry->length;
            i += width;
        }
        end = o;
        return kWritten;
    }

    Written AppendWalk(const unsigned char* bytes, size_t length, std::string& out) {
        return AppendWalked(out, length, [&](char* at, char*& end) { return Walk(bytes, length, at, end); });
    }

    // The Shift_JIS bytes of code point `cp`, from its block's table (made when first needed).
    uint32_t EncodedForm(uint32_t cp) {
        std::unique_ptr<uint32_t[]>& block = blocks_[cp >> 8];
        if (!block) {
            block.reset(new uint32_t[256]);
            std::string utf8, bytes;
            for (uint32_t low = 0; low < 256; ++low) {
                uint32_t point = (cp & ~uint32_t{0xFF}) | low;
                uint32_t form = 0;
                if (point < 0xD800 || point > 0xDFFF) {
                    utf8.clear();
                    bytes.clear();
                    AppendUtf8(point, utf8);
                    if (from_.Convert(utf8.data(), utf8.size(), bytes) && !bytes.empty()) {
                        if (bytes.size() > 2) form = kEncodeLonger;
                        else if (bytes.size() == 1) form = (uint32_t{1} << 16) | static_cast<unsigned char>(bytes[0]);
                        else form = (uint32_t{2} << 16) | (uint32_t{static_cast<unsigned char>(bytes[0])} << 8) |
                                    static_cast<unsigned char>(bytes[1]);
                    }
                }
                block[low] = form;
            }
        }
        return block[cp & 0xFF];
    }

    // UTF-8 `text` (checked to be UTF-8) to Shift_JIS by the tables, appended to `out`.
    // No UTF-8 is kNoText, where the walk meets it. Written into `out` grown once: a
    // character takes at most two bytes here, and at least one of the text.
    Written EncodeWalk(const char* text, size_t length, std::string& out) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        const size_t start = out.size();
        out.resize(start + 2 * length);
        char* o = &out[0] + start;
        for (size_t i = 0; i < length;) {
            uint32_t cp;
            size_t n;
            if (p[i] < 0x80) {
                cp = p[i];
                n = 1;
            } else if (length - i >= 3 && ThreeByteForm(p + i)) {
                // Three bytes (the Japanese characters).
                if (!ThreeByteCharacter(p + i, cp)) return Walked(out, o, kNoText);
                n = 3;
            } else {
                n = Utf8Sequence(p + i, length - i, &cp);
                if (n == 0) return Walked(out, o, kNoText);
            }
            const uint32_t* block = blocks_[cp >> 8].get();
            uint32_t form = block != nullptr ? block[cp & 0xFF] : EncodedForm(cp);
            if (form == 0) return Walked(out, o, kNoText);
            if (form == kEncodeLonger) return Walked(out, o, kUseDecode);
            if ((form >> 16) == 2) *o++ = static_cast<char>((form >> 8) & 0xFF);
            *o++ = static_cast<char>(form & 0xFF);
            i += n;
        }
        return Walked(out, o, kWritten);
    }
    // `out` cut at `end`, where the walk stopped.
    static Written Walked(std::string& out, const char* end, Written written) {
        out.resize(static_cast<size_t>(end - out.data()));
        return written;
    }

    Converter to_;
    Converter from_;
    Utf8Entry singles_[256];
    std::unique_ptr<Utf8Entry[]> pairs_[256];
    std::unique_ptr<uint32_t[]> blocks_[0x110000 >> 8];
};

// The characters of a Japanese EBCDIC page as encode writes them: 0x1XX for a single
// byte XX, 0x2XXXX for a double byte XXXX. A character takes the first single byte or
// double byte that reads as it, unless the page's list says otherwise (a character
// iconv writes as another one is refused, so encode never changes a text).
class JapaneseEncodeTable {
public:
    explicit JapaneseEncodeTable(const JapanesePage& page) {
        for (int b = 0; b < 256; ++b) {
            if (page.singles[b] != kNoCharacter) forms_.emplace(page.singles[b], 0x100u | static_cast<uint32_t>(b));
        }
        for (uint32_t i = 0; i < kDoubleSpan * kDoubleSpan; ++i) {
            uint16_t cp = page.doubles[i];
            if (cp != kNoCharacter && cp != kWideDouble) forms_.emplace(cp, kDoubleForm | PairAt(i));
        }
        for (const uint32_t* wide = page.wide[0]; wide[0] != 0; wide += 3) {
            if (wide[2] == 0) forms_.emplace(wide[1], kDoubleForm | wide[0]);
            else combined_.push_back({wide[1], wide[2], kDoubleForm | wide[0]});
        }
        for (const uint32_t* change = page.encode[0]; change[0] != 0xFFFFFFFFu; change += 2) {
            if (change[1] == 0) forms_.erase(change[0]);
            else forms_[change[0]] = change[1];
        }
    }
    // The form of `cp`, 0 when the page cannot write it.
    uint32_t Form(uint32_t cp) const {
        auto found = forms_.find(cp);
        return found == forms_.end() ? 0 : found->second;
    }
    // The form of the two characters `first` `second` as one double byte, 0 when none.
    uint32_t Combined(uint32_t first, uint32_t second) const {
        for (const Combination& c : combined_) {
            if (c.first == first && c.second == second) return c.form;
        }
        return 0;
    }
    bool HasCombined() const { return !combined_.empty(); }

    static constexpr uint32_t kDoubleSpan = kLastDouble - kFirstDouble + 1;
    static constexpr uint32_t kDoubleForm = 0x20000;
    static uint32_t PairAt(uint32_t index) {
        return ((kFirstDouble + index / kDoubleSpan) << 8) | (kFirstDouble + index % kDoubleSpan);
    }

private:
    struct Combination {
        uint32_t first, second, form;
    };
    std::unordered_map<uint32_t, uint32_t> forms_;
    std::vector<Combination> combined_;
};

// The encode table of Japanese page `index`, made once when first needed.
const JapaneseEncodeTable& JapaneseEncodeTableOf(size_t index) {
    switch (index) {
    case 0: { static const JapaneseEncodeTable table(kJapanesePages[0]); return table; }
    case 1: { static const JapaneseEncodeTable table(kJapanesePages[1]); return table; }
    case 2: { static const JapaneseEncodeTable table(kJapanesePages[2]); return table; }
    default: { static const JapaneseEncodeTable table(kJapanesePages[3]); return table; }
    }
}

// A Japanese EBCDIC page, by its tables. Alphanumeric text starts in single-byte mode;
// shift-out (0x0E) starts double-byte characters, shift-in (0x0F) ends them, and the
// text of an item ends in single-byte mode: a shift code in the mode it would set is no
// text. National text holds double-byte characters without shift codes.
class JapaneseEbcdicCodec : public TextCodec {
public:
    explicit JapaneseEbcdicCodec(size_t index)
        : page_(kJapanesePages[index]), encode_(JapaneseEncodeTableOf(index)) {
        ebcdic_ = true;
        std::memcpy(nationalSpace_, "\x40\x40", 2);
        while (page_.wide[wideCount_][0] != 0) ++wideCount_;
    }

    bool Decode(const unsigned char* bytes, size_t length, std::string& out) override {
        return Append(bytes, length, false, out);
    }
    bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) override {
        return length % 2 == 0 && Append(bytes, length, true, out);
    }
    Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        return Walk(bytes, length, false, out, end) ? kWritten : kNoText;
    }
    Written DecodeNationalInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        return length % 2 == 0 && Walk(bytes, length, true, out, end) ? kWritten : kNoText;
    }
    bool Encode(const char* text, size_t length, std::string& out) override {
        return EncodeText(text, length, false, out);
    }
    bool EncodeNational(const char* text, size_t length, std::string& out) override {
        return EncodeText(text, length, true, out);
    }

private:
    // The characters of double byte `lead` `trail` written at `o`; false when none.
    bool PutDouble(unsigned char lead, unsigned char trail, char*& o) const {
        if (lead < kFirstDouble || lead > kLastDouble || trail < kFirstDouble || trail > kLastDouble) return false;
        uint16_t cp = page_.doubles[(lead - kFirstDouble) * JapaneseEncodeTable::kDoubleSpan + (trail - kFirstDouble)];
        if (cp == kNoCharacter) return false;
        if (cp != kWideDouble) {
            o = PutUtf8(cp, o);
            return true;
        }
        // The wide list is in the order of its double bytes.
        uint32_t pair = (uint32_t{lead} << 8) | trail;
        size_t low = 0, high = wideCount_;
        while (low < high) {
            size_t middle = (low + high) / 2;
            if (page_.wide[middle][0] < pair) low = middle + 1;
            else high = middle;
        }
        if (low == wideCount_ || page_.wide[low][0] != pair) return false;
        o = PutUtf8(page_.wide[low][1], o);
        if (page_.wide[low][2] != 0) o = PutUtf8(page_.wide[low][2], o);
        return true;
    }

    // The UTF-8 form of `length` bytes at `out` (at most 3 bytes for each byte: a single
    // byte gives one BMP character, a double byte at most two); false when they are no text.
    bool Walk(const unsigned char* bytes, size_t length, bool national, char* out, char*& end) const {
        char* o = out;
        bool shifted = national;
        for (size_t i = 0; i < length;) {
            unsigned char b = bytes[i];
            if (b == kShiftOut || b == kShiftIn) {
                if (national || shifted == (b == kShiftOut)) return false;
                shifted = b == kShiftOut;
                ++i;
            } else if (!shifted) {
                if (page_.singles[b] == kNoCharacter) return false;
                o = PutUtf8(page_.singles[b], o);
                ++i;
            } else {
                if (i + 1 >= length || !PutDouble(b, bytes[i + 1], o)) return false;
                i += 2;
            }
        }
        if (shifted && !national) return false;
        end = o;
        return true;
    }

    bool Append(const unsigned char* bytes, size_t length, bool national, std::string& out) const {
        return AppendWalked(out, length, [&](char* at, char*& end) {
                   return Walk(bytes, length, national, at, end) ? kWritten : kNoText;
               }) == kWritten;
    }

    // The page's bytes for UTF-8 `text`: shift codes around each run of double bytes,
    // none in national text, which holds double bytes only.
    bool EncodeText(const char* text, size_t length, bool national, std::string& out) const {
        out.clear();
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        bool shifted = false;
        for (size_t i = 0; i < length;) {
            uint32_t cp;
            size_t n = Utf8Sequence(p + i, length - i, &cp);
            if (n == 0) return false;
            uint32_t form = 0;
            if (encode_.HasCombined() && i + n < length) {
                uint32_t next;
                size_t m = Utf8Sequence(p + i + n, length - i - n, &next);
                if (m != 0 && (form = encode_.Combined(cp, next)) != 0) n += m;
            }
            if (form == 0) form = encode_.Form(cp);
            if (form == 0) return false;
            if (form < JapaneseEncodeTable::kDoubleForm) {
                if (national) return false;
                if (shifted) out.push_back(static_cast<char>(kShiftIn));
                shifted = false;
                out.push_back(static_cast<char>(form & 0xFF));
            } else {
                if (!shifted && !national) out.push_back(static_cast<char>(kShiftOut));
                shifted = true;
                out.push_back(static_cast<char>((form >> 8) & 0xFF));
                out.push_back(static_cast<char>(form & 0xFF));
            }
            i += n;
        }
        if (shifted && !national) out.push_back(static_cast<char>(kShiftIn));
        return true;
    }

    const JapanesePage& page_;
    const JapaneseEncodeTable& encode_;
    size_t wideCount_ = 0;
};

}  // namespace

void AppendUtf8(uint32_t cp, std::string& out) {
    char bytes[4];
    out.append(bytes, static_cast<size_t>(PutUtf8(cp, bytes) - bytes));
}

bool IsUtf8(const char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        size_t n = Utf8Sequence(p + i, length - i, nullptr);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

TextCodec::~TextCodec() = default;

void TextCodec::MapAsciiAsIs() {
    for (int c = 0; c < 0x80; ++c) asciiBytes_[c] = static_cast<unsigned char>(c);
    asciiMapped_ = true;
    asciiAsIs_ = true;
}

TextCodec::Written TextCodec::DecodeInto(const unsigned char*, size_t, char*, char*&) { return kUseDecode; }
TextCodec::Written TextCodec::DecodeNationalInto(const unsigned char*, size_t, char*, char*&) { return kUseDecode; }

const char* TextCodec::Names() {
    return "cp932, ascii, utf-8, latin-1, cp1252, iso-8859-15, ibm-037, ibm-1140, ibm-500, ibm-1047, ibm-273, "
           "ibm-277, ibm-278, ibm-280, ibm-284, ibm-285, ibm-297, ibm-871, ibm-1141 to ibm-1149, ibm-930, ibm-939, "
           "ibm-1390, ibm-1399";
}

const char* TextCodec::Aliases() {
    return "names are case-insensitive; ibm-NNN is also cpNNN, ibmNNN, ibm0NNN; shift_jis, sjis, windows-31j, "
           "ms932 = cp932; ebcdic-cp-us = ibm-037; latin1, iso-8859-1 = latin-1; windows-1252 = cp1252; "
           "latin-9 = iso-8859-15";
}

std::string TextCodec::CanonicalName(const std::string& name) {
    std::string lower;
    for (char c : name) lower.push_back(FoldByte(c));
    for (const PageAlias& alias : kAliases) {
        if (lower == alias.alias) return alias.name;
    }
    // cpNNN, ibmNNN, ibm-NNN, ibm0NNN, ibm-0NNN: the IBM page ibm-NNN where there is one.
    size_t digits = lower.compare(0, 2, "cp") == 0 ? 2 : lower.compare(0, 4, "ibm-") == 0 ? 4
                                                       : lower.compare(0, 3, "ibm") == 0   ? 3
                                                                                            : 0;
    if (digits > 0 && lower.size() > digits && lower.find_first_not_of("0123456789", digits) == std::string::npos) {
        size_t first = lower.find_first_not_of('0', digits);
        std::string number = first == std::string::npos ? "0" : lower.substr(first);
        if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
        std::string ibm = "ibm-" + number;
        for (const PageInfo& page : kPages) {
            if (ibm == page.name) return ibm;
        }
        for (const DataPage& page : kDataPages) {
            if (ibm == page.name) return ibm;
        }
        for (const JapanesePage& page : kJapanesePages) {
            if (ibm == page.name) return ibm;
        }
    }
    return lower;
}

std::unique_ptr<TextCodec> TextCodec::Create(const std::string& name, std::string& error) {
    std::string lower = CanonicalName(name);
    for (const DataPage& page : kDataPages) {
        if (lower != page.name) continue;
        std::unique_ptr<TableCodec> codec(new TableCodec);
        codec->Build(page);
        return std::unique_ptr<TextCodec>(codec.release());
    }
    for (size_t i = 0; i < sizeof kJapanesePages / sizeof kJapanesePages[0]; ++i) {
        if (lower == kJapanesePages[i].name) return std::unique_ptr<TextCodec>(new JapaneseEbcdicCodec(i));
    }
    for (const PageInfo& page : kPages) {
        if (lower != page.name) continue;
        switch (page.kind) {
        case PageInfo::kAscii:
        case PageInfo::kUtf8:
            return std::unique_ptr<TextCodec>(new AsciiCodec(page.kind == PageInfo::kUtf8));
        default: {
            std::unique_ptr<MultiByteCodec> codec(new MultiByteCodec(page));
            if (codec->Usable()) return std::unique_ptr<TextCodec>(codec.release());
            break;
        }
        }
        error = "the encoding " + name + " cannot be converted on this system";
        return nullptr;
    }
    error = "unknown encoding " + name + " (known: " + Names() + ")";
    return nullptr;
}

namespace {

// The Shift_JIS codec of this thread, made once.
TextCodec& ShiftJis() {
    thread_local std::unique_ptr<TextCodec> codec;
    if (!codec) {
        std::string error;
        codec = TextCodec::Create("cp932", error);
        if (!codec) codec = TextCodec::Create("ascii", error);
    }
    return *codec;
}

}  // namespace

std::string ShiftJisToUtf8(const std::string& text) {
    TextCodec& codec = ShiftJis();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string out;
    if (codec.Decode(bytes, text.size(), out)) return out;
    // Character by character: a lead byte with its trail byte, or a single byte.
    out.clear();
    for (size_t i = 0; i < text.size();) {
        size_t width = i + 1 < text.size() && IsShiftJisLeadByte(text[i]) ? 2 : 1;
        size_t before = out.size();
        if (codec.Decode(bytes + i, width, out)) {
            i += width;
        } else {
            out.resize(before);
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

bool Utf8ToShiftJis(const std::string& text, std::string& out) {
    std::string converted;
    if (!ShiftJis().Encode(text.data(), text.size(), converted)) return false;
    out.swap(converted);
    return true;
}

}  // namespace quillbox
