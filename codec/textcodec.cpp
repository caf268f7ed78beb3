// Text conversion for data files: iconv on Linux, the Win32 code page functions on
// Windows. Single-byte code pages convert through tables built once from the platform's
// converter. Shift_JIS converts through tables filled from the converter as they are
// needed: the double-byte characters of a lead byte when a text first holds one, the
// code points of a block of 256 when a text to encode first holds one; so every byte
// still converts as the platform's converter does, which is stateless for Shift_JIS.
// The Japanese EBCDIC pages, with their shift states, convert through it item by item.
// Plain ASCII is taken as it is where the code page allows that. The Latin pages of the
// ASCII side and the European EBCDIC pages convert through tables held as data
// (singlebyte_pages.inc, made from iconv by scripts/make-codepages), so they need no
// converter of the platform.
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

constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;

struct PageInfo {
    const char* name;      // the option's name
    const char* iconvName; // glibc's name
    unsigned windowsPage;  // 0: none
    enum Kind { kAscii, kUtf8, kShiftJis, kSingleEbcdic, kJapaneseEbcdic } kind;
};

const PageInfo kPages[] = {
    {"cp932", "CP932", 932, PageInfo::kShiftJis},
    {"ascii", "ASCII", 20127, PageInfo::kAscii},
    {"utf-8", "UTF-8", 65001, PageInfo::kUtf8},
    {"ibm-037", "IBM037", 37, PageInfo::kSingleEbcdic},
    {"ibm-1140", "IBM1140", 1140, PageInfo::kSingleEbcdic},
    {"ibm-500", "IBM500", 500, PageInfo::kSingleEbcdic},
    {"ibm-1047", "IBM1047", 1047, PageInfo::kSingleEbcdic},
    {"ibm-930", "IBM930", 0, PageInfo::kJapaneseEbcdic},
    {"ibm-939", "IBM939", 0, PageInfo::kJapaneseEbcdic},
    {"ibm-1390", "IBM1390", 0, PageInfo::kJapaneseEbcdic},
    {"ibm-1399", "IBM1399", 0, PageInfo::kJapaneseEbcdic},
};

// The single-byte pages held as data: the code point of each byte (none: Latin-1, the
// byte itself).
struct DataPage {
    const char* name;
    const uint16_t* points;
    bool ebcdic;
};

constexpr uint16_t kNoCharacter = 0xFFFF;

const DataPage kDataPages[] = {
    {"latin-1", nullptr, false},   {"cp1252", kCp1252, false},   {"iso-8859-15", kIso8859_15, false},
    {"ibm-273", kIbm273, true},    {"ibm-277", kIbm277, true},   {"ibm-278", kIbm278, true},
    {"ibm-280", kIbm280, true},    {"ibm-284", kIbm284, true},   {"ibm-285", kIbm285, true},
    {"ibm-297", kIbm297, true},    {"ibm-871", kIbm871, true},   {"ibm-1141", kIbm1141, true},
    {"ibm-1142", kIbm1142, true},  {"ibm-1143", kIbm1143, true}, {"ibm-1144", kIbm1144, true},
    {"ibm-1145", kIbm1145, true},  {"ibm-1146", kIbm1146, true}, {"ibm-1147", kIbm1147, true},
    {"ibm-1148", kIbm1148, true},  {"ibm-1149", kIbm1149, true},
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
    explicit AsciiCodec(bool utf8) : utf8_(utf8) { std::memcpy(nationalSpace_, "\x30\x00", 2); }
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

// A single-byte page: both directions by table.
class TableCodec : public TextCodec {
public:
    bool Build(const PageInfo& page) {
        ebcdic_ = true;
        std::memcpy(nationalSpace_, "\x30\x00", 2);
        Converter to(page, true);
        if (!to.Usable()) return false;
        for (int b = 0; b < 256; ++b) {
            char c = static_cast<char>(b);
            std::string text;
            valid_[b] = to.Convert(&c, 1, text) && !text.empty();
            if (!valid_[b]) continue;
            utf8_[b] = text;
            SetEntry(entries_[b], true, text, kMostPerByte);
            uint32_t cp = 0;
            if (Utf8Sequence(reinterpret_cast<const unsigned char*>(text.data()), text.size(), &cp) == text.size() &&
                reverse_.count(cp) == 0) {
                reverse_[cp] = static_cast<unsigned char>(b);
            }
        }
        return true;
    }
    // A page held as data (Latin-1 when `points` is null).
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

// Shift_JIS (through tables filled from the platform's converter) and the Japanese
// EBCDIC pages (through the converter).
class MultiByteCodec : public TextCodec {
public:
    explicit MultiByteCodec(const PageInfo& page) : to_(page, true), from_(page, false) {
        ebcdic_ = page.kind == PageInfo::kJapaneseEbcdic;
        if (ebcdic_) std::memcpy(nationalSpace_, "\x40\x40", 2);
        if (!ebcdic_ && to_.Usable()) {
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
        if (!ebcdic_ && AllAscii(bytes, length)) {
            out.append(reinterpret_cast<const char*>(bytes), length);
            return true;
        }
        if (ebcdic_) {
            // Text of an item ends in single-byte mode: a shift-out needs its shift-in.
            bool shifted = false;
            for (size_t i = 0; i < length; ++i) {
                if (bytes[i] == kShiftOut) {
                    if (shifted) return false;
                    shifted = true;
                } else if (bytes[i] == kShiftIn) {
                    if (!shifted) return false;
                    shifted = false;
                }
            }
            if (shifted) return false;
        } else {
            Written written = AppendWalk(bytes, length, out);
            if (written != kUseDecode) return written == kWritten;
        }
        return to_.Convert(reinterpret_cast<const char*>(bytes), length, out);
    }
    bool DecodeNational(const unsigned char* bytes, size_t length, std::string& out) override {
        if (length % 2 != 0) return false;
        if (ebcdic_) {
            // Double-byte characters without shift codes: converted as if between SO and SI.
            scratch_.assign(1, static_cast<char>(kShiftOut));
            scratch_.append(reinterpret_cast<const char*>(bytes), length);
            scratch_.push_back(static_cast<char>(kShiftIn));
            for (size_t i = 0; i < length; ++i) {
                if (bytes[i] == kShiftOut || bytes[i] == kShiftIn) return false;
            }
            return to_.Convert(scratch_.data(), scratch_.size(), out);
        }
        if (!LeadBytes(bytes, length)) return false;
        Written written = AppendWalk(bytes, length, out);
        if (written != kUseDecode) return written == kWritten;
        return to_.Convert(reinterpret_cast<const char*>(bytes), length, out);
    }
    Written DecodeInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        if (ebcdic_) return kUseDecode;
        if (AllAscii(bytes, length)) {
            std::memcpy(out, bytes, length);
            end = out + length;
            return kWritten;
        }
        return Walk(bytes, length, out, end);
    }
    Written DecodeNationalInto(const unsigned char* bytes, size_t length, char* out, char*& end) override {
        if (ebcdic_) return kUseDecode;
        if (length % 2 != 0 || !LeadBytes(bytes, length)) return kNoText;
        return Walk(bytes, length, out, end);
    }
    bool Encode(const char* text, size_t length, std::string& out) override {
        out.clear();
        if (!ebcdic_ && AllAscii(reinterpret_cast<const unsigned char*>(text), length)) {
            out.assign(text, length);
            return true;
        }
        if (!IsUtf8(text, length)) return false;
        if (!ebcdic_) {
            Written written = EncodeWalk(text, length, out);
            if (written != kUseDecode) return written == kWritten;
            out.clear();
        }
        return from_.Convert(text, length, out) && (!ebcdic_ || RoundTrips(out, text, length));
    }
    bool EncodeNational(const char* text, size_t length, std::string& out) override {
        out.clear();
        if (!IsUtf8(text, length)) return false;
        if (!ebcdic_) {
            Written written = EncodeWalk(text, length, out);
            if (written == kNoText) return false;
            if (written == kUseDecode) {
                out.clear();
                if (!from_.Convert(text, length, out)) return false;
            }
        } else if (!from_.Convert(text, length, out) || !RoundTrips(out, text, length)) {
            return false;
        }
        if (ebcdic_) {
            if (out.empty()) return true;
            // Double-byte text only: one SO ... SI run, which the item does not store.
            if (out.size() < 2 || static_cast<unsigned char>(out.front()) != kShiftOut ||
                static_cast<unsigned char>(out.back()) != kShiftIn) {
                return false;
            }
            out = out.substr(1, out.size() - 2);
            for (unsigned char c : out) {
                if (c == kShiftOut || c == kShiftIn) return false;
            }
            return out.size() % 2 == 0;
        }
        for (size_t i = 0; i < out.size(); i += 2) {
            if (!IsShiftJisLeadByte(out[i]) || i + 1 >= out.size()) return false;
        }
        return true;
    }

private:
    // Whether `bytes` read back as the same text: the Japanese EBCDIC converters map some
    // characters one way only (a backslash to the yen sign, a tilde to the overline),
    // which encode refuses rather than change the text.
    bool RoundTrips(const std::string& bytes, const char* text, size_t length) {
        back_.clear();
        return to_.Convert(bytes.data(), bytes.size(), back_) && back_.size() == length &&
               std::memcmp(back_.data(), text, length) == 0;
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

    // The double-byte characters of lead byte `lead`, converted when first needed.
    const Utf8Entry* Pairs(unsigned char lead) {
        std::unique_ptr<Utf8Entry[]>& table = pairs_[lead];
        if (!table) {
            table.reset(new Utf8Entry[256]);
            std::string text;
            for (int trail = 0; trail < 256; ++trail) {
                char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                text.clear();
                bool converted = to_.Convert(pair, 2, text);
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
        size_t start = out.size();
        out.resize(start + length * kMostPerByte + kRoomAfter);
        char* end = nullptr;
        Written written = Walk(bytes, length, &out[start], end);
        out.resize(written == kWritten ? static_cast<size_t>(end - out.data()) : start);
        return written;
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
    Written EncodeWalk(const char* text, size_t length, std::string& out) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        for (size_t i = 0; i < length;) {
            uint32_t cp;
            size_t n = Utf8Sequence(p + i, length - i, &cp);
            if (n == 0) return kNoText;
            uint32_t form = EncodedForm(cp);
            if (form == 0) return kNoText;
            if (form == kEncodeLonger) return kUseDecode;
            if ((form >> 16) == 2) out.push_back(static_cast<char>((form >> 8) & 0xFF));
            out.push_back(static_cast<char>(form & 0xFF));
            i += n;
        }
        return kWritten;
    }

    Converter to_;
    Converter from_;
    std::string back_;     // RoundTrips' decoded text
    std::string scratch_;
    Utf8Entry singles_[256];
    std::unique_ptr<Utf8Entry[]> pairs_[256];
    std::unique_ptr<uint32_t[]> blocks_[0x110000 >> 8];
};

}  // namespace

void AppendUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
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
    for (const PageInfo& page : kPages) {
        if (lower != page.name) continue;
        switch (page.kind) {
        case PageInfo::kAscii:
        case PageInfo::kUtf8:
            return std::unique_ptr<TextCodec>(new AsciiCodec(page.kind == PageInfo::kUtf8));
        case PageInfo::kSingleEbcdic: {
            std::unique_ptr<TableCodec> codec(new TableCodec);
            if (codec->Build(page)) return std::unique_ptr<TextCodec>(codec.release());
            break;
        }
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
