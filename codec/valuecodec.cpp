// Item values between stored bytes and exact text. Decoding reads the bytes itself and
// checks every one of them, so that bad data is found and named: the usual values are
// written straight into the row's buffer (display and packed digits as they are stored,
// binary numbers through a table of digit pairs), anything else (bad data above all)
// goes through the string path, which names the fault. Encoding stores numbers and text
// itself, the bytes the record object's setters give; bits go through the setters.
#ifdef _WIN32
#define __USE_MINGW_ANSI_STDIO 1
#endif
#include "valuecodec.h"

#include "numeric_forms.h"
#include "tableio.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillbox {

namespace {

using numeric_forms_detail::kTens;

// Digit pairs "00" to "99"; the packed byte of a pair of digits.
struct DigitTables {
    char pairs[200];
    unsigned char packedValue[256];   // a packed byte's two digits as a number; 0x80 when a nibble is no digit
    unsigned char packedPair[100];
};

constexpr DigitTables MakeDigitTables() {
    DigitTables t{};
    for (int i = 0; i < 100; ++i) {
        t.pairs[2 * i] = static_cast<char>('0' + i / 10);
        t.pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
        t.packedPair[i] = static_cast<unsigned char>(((i / 10) << 4) | (i % 10));
    }
    for (int b = 0; b < 256; ++b) {
        bool digits = (b >> 4) <= 9 && (b & 0x0F) <= 9;
        t.packedValue[b] = static_cast<unsigned char>(digits ? (b >> 4) * 10 + (b & 0x0F) : 0x80);
    }
    return t;
}

constexpr DigitTables kDigits = MakeDigitTables();

// Whether the `n` bytes at `p` are all below 0x80; eight a step.
inline bool AllAscii(const unsigned char* p, size_t n) {
    size_t i = 0;
    uint64_t any = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        any |= x;
    }
    for (; i < n; ++i) any |= p[i];
    return (any & 0x8080808080808080ull) == 0;
}

// The value of a binary item's bytes (COMP-5: the first byte least significant) as a
// magnitude and a sign.
inline uint64_t BinaryMagnitude(const Field& field, const unsigned char* bytes, bool& negative) {
    int n = field.length;
    uint64_t value = field.kind == Field::kComp5 ? ReadLittleEndian(bytes, n) : ReadBigEndian(bytes, n);
    value = ExtendBinary(value, n, field.isSigned);
    negative = field.isSigned && n > 0 && (value >> 63) != 0;
    return negative ? 0 - value : value;
}

// The number of decimal digits of `v`: 1 for 0.
inline int DigitCount(uint64_t v) {
    int guess = ((64 - __builtin_clzll(v | 1)) * 1233) >> 12;   // log10 from log2, at most one low
    return guess + (v >= kTens[guess] ? 1 : 0) + (guess == 0 && v < 1 ? 1 : 0);
}

// Exactly 8 digits of `v` (below 10^8) at `out`: four pairs, each found on its own.
inline void PutEight(char* out, uint32_t v) {
    uint32_t high = v / 10000, low = v % 10000;
    std::memcpy(out, kDigits.pairs + 2 * (high / 100), 2);
    std::memcpy(out + 2, kDigits.pairs + 2 * (high % 100), 2);
    std::memcpy(out + 4, kDigits.pairs + 2 * (low / 100), 2);
    std::memcpy(out + 6, kDigits.pairs + 2 * (low % 100), 2);
}

// Exactly `n` digits of `v` (its low ones; zeros before them) at `out`.
inline void PutDigits(char* out, uint64_t v, int n) {
    while (n > 8) {
        PutEight(out + n - 8, static_cast<uint32_t>(v % 100000000));
        v /= 100000000;
        n -= 8;
    }
    uint32_t w = static_cast<uint32_t>(v);
    char* p = out + n;
    while (n >= 2) {
        p -= 2;
        std::memcpy(p, kDigits.pairs + 2 * (w % 100), 2);
        w /= 100;
        n -= 2;
    }
    if (n > 0) *--p = static_cast<char>('0' + w % 10);
}

std::string Shown(std::string_view text) { return ShownText(text); }

std::string Quoted(std::string_view text) { return "\"" + Shown(text) + "\""; }

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

bool Fail(Fault& fault, int offset, std::string reason, FaultCode code) {
    fault.offset = offset;
    fault.reason = std::move(reason);
    fault.code = code;
    return false;
}

// The kind of a number's text that ParseDecimal refused, by its reason.
FaultCode ParseFaultCode(const std::string& reason) {
    if (reason.find("decimal places") != std::string::npos) return FaultCode::kTooManyDecimals;
    if (reason.find("too many digits") != std::string::npos) return FaultCode::kTooManyDigits;
    return FaultCode::kNotNumber;
}

bool Fail(Fault& fault, FaultCode code, int offset, std::string reason) {
    return Fail(fault, offset, std::move(reason), code);
}

// Past 19 digits a magnitude no longer fits 64 bits: such numbers (up to the 38 digits a
// picture holds) are kept as their digit characters.
constexpr int kMostUint64Digits = 19;

// Appends the decimal text of the unscaled number whose digits are `digits` (characters
// 0-9, zeros before them allowed) with `scale` places after the point, as AppendDecimal
// writes a number of 64 bits: no zeros before the first digit, "0" for zero, "-" only
// before a number that is not zero.
void AppendDigitsDecimal(std::string& out, bool negative, std::string_view digits, int scale) {
    size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0') ++lead;
    const std::string_view d = digits.substr(lead);
    if (negative && !d.empty()) out.push_back('-');
    if (scale <= 0) {
        if (d.empty()) {
            out.push_back('0');
            return;
        }
        out.append(d.data(), d.size());
        out.append(static_cast<size_t>(-scale), '0');
        return;
    }
    const size_t places = static_cast<size_t>(scale);
    if (d.size() > places) {
        out.append(d.data(), d.size() - places);
        out.push_back('.');
        out.append(d.data() + d.size() - places, places);
    } else {
        out.append("0.");
        out.append(places - d.size(), '0');
        out.append(d.data(), d.size());
    }
}

// The --sign-zones pair that reads a sign byte of zone `zone` (its high four bits, in
// place), as the message suggests it; empty when no usual pair has that zone.
const char* SignZonesFor(unsigned zone) {
    switch (zone) {
    case 0x70: return "0x30,0x70 (the signs of files GnuCOBOL writes)";
    case 0xC0:
    case 0xD0: return "0xC0,0xD0 (EBCDIC's signs)";
    case 0x40:
    case 0x50: return "0x40,0x50";
    default: return "";
    }
}

// Whether the item's bytes are all blanks of the code page or all low-values (0x00):
// a numeric item with no value in it.
bool IsBlankNumber(const unsigned char* bytes, int length, unsigned char space) {
    if (length <= 0) return false;
    unsigned char first = bytes[0];
    if (first != space && first != 0x00) return false;
    for (int i = 1; i < length; ++i) {
        if (bytes[i] != first) return false;
    }
    return true;
}

// The shortest text that reads back as the same value.
template <typename T>
void AppendShortest(std::string& out, T value, int maxDigits) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-Infinity" : "Infinity";
        return;
    }
    char text[64];
    for (int precision = 1; precision <= maxDigits; ++precision) {
        std::snprintf(text, sizeof text, "%.*Lg", precision, static_cast<long double>(value));
        T back;
        if (sizeof(T) == sizeof(float)) back = static_cast<T>(std::strtof(text, nullptr));
        else if (sizeof(T) == sizeof(double)) back = static_cast<T>(std::strtod(text, nullptr));
        else back = static_cast<T>(std::strtold(text, nullptr));
        if (back == value) break;
    }
    out += text;
}

bool ParseFloatText(std::string_view text, long double& value) {
    if (text == "NaN") {
        value = NAN;
        return true;
    }
    if (text == "Infinity" || text == "-Infinity") {
        value = text[0] == '-' ? -HUGE_VALL : HUGE_VALL;
        return true;
    }
    if (text.empty()) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) return false;
    }
    // Only the characters above are in it: a copy ends it for strtold.
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtold(copy.c_str(), &end);
    return end == copy.c_str() + copy.size();
}

// IBM hexadecimal floating point: sign, a 7-bit exponent of 16 biased by 64, and a
// fraction of 24 (short) or 56 (long) bits.
long double FromIbmHex(const unsigned char* b, int length) {
    int bits = length == 4 ? 24 : 56;
    uint64_t fraction = 0;
    for (int i = 1; i < length; ++i) fraction = (fraction << 8) | b[i];
    int exponent = (b[0] & 0x7F) - 64;
    long double value = std::ldexp(static_cast<long double>(fraction), 4 * exponent - bits);
    return (b[0] & 0x80) ? -value : value;
}

bool ToIbmHex(long double value, unsigned char* b, int length) {
    int bits = length == 4 ? 24 : 56;
    std::memset(b, 0, static_cast<size_t>(length));
    if (std::isnan(value) || std::isinf(value)) return false;
    bool negative = std::signbit(value);
    long double magnitude = std::fabs(value);
    if (magnitude != 0) {
        int binaryExponent;
        std::frexp(magnitude, &binaryExponent);
        int exponent = binaryExponent > 0 ? (binaryExponent + 3) / 4 : -((-binaryExponent) / 4);
        uint64_t fraction = static_cast<uint64_t>(std::llround(std::ldexp(magnitude, bits - 4 * exponent)));
        if (fraction >> bits) {
            fraction >>= 4;
            ++exponent;
        }
        if (exponent + 64 < 0) {
            // Below the smallest normalized value: the fraction of exponent -64, not
            // normalized, as such values are stored.
            exponent = -64;
            fraction = static_cast<uint64_t>(std::llround(std::ldexp(magnitude, bits + 256)));
        }
        if (exponent + 64 > 127) return false;
        b[0] = static_cast<unsigned char>(exponent + 64);
        for (int i = length - 1; i >= 1; --i) {
            b[i] = static_cast<unsigned char>(fraction & 0xFF);
            fraction >>= 8;
        }
    }
    if (negative) b[0] |= 0x80;
    return true;
}

// Trailing blanks of UTF-8 text: spaces, and the full-width space of national text.
void TrimBlanks(std::string& text, bool national) {
    for (;;) {
        if (!text.empty() && text.back() == ' ') {
            text.pop_back();
        } else if (national && text.size() >= 3 && text.compare(text.size() - 3, 3, "\xE3\x80\x80") == 0) {
            text.resize(text.size() - 3);
        } else {
            return;
        }
    }
}

}  // namespace

std::string ShownText(std::string_view text) {
    constexpr size_t kShown = 80;
    size_t cut = text.size();
    if (cut > kShown) {
        cut = kShown;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    }
    std::string out;
    for (size_t i = 0; i < cut; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // The C0 controls, DEL, and the C1 controls as UTF-8 writes them (C2 80 to C2 9F).
        const bool c1 = c == 0xC2 && i + 1 < cut && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            char escape[16];
            if (c1) {
                std::snprintf(escape, sizeof escape, "\\xC2\\x%02X", static_cast<unsigned char>(text[++i]));
            } else {
                std::snprintf(escape, sizeof escape, "\\x%02X", c);
            }
            out += escape;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (cut < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}


void RowCells::Grow(size_t n) {
    size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
    while (capacity - used_ < n + kSlack) capacity *= 2;
    std::unique_ptr<char[]> larger(new char[capacity]());
    if (used_ > 0) std::memcpy(larger.get(), buffer_.get(), used_);
    buffer_.swap(larger);
    capacity_ = capacity;
}

RecordImage::RecordImage(int length) : CopyRecord("", "") { recordLength = length; }

RecordImage::~RecordImage() { record = nullptr; }

namespace {

// PutDecimal for any scale: the digits in place, then the places after the point moved
// one byte on for the point.
char* PutDecimalAnyScale(char* out, uint64_t magnitude, int scale) {
    int count = DigitCount(magnitude);
    if (scale <= 0) {
        PutDigits(out, magnitude, count);
        out += count;
        if (scale < 0 && magnitude != 0) {
            int zeros = -scale < 20 ? -scale : 20;
            std::memset(out, '0', static_cast<size_t>(zeros));
            out += zeros;
        }
        return out;
    }
    int places = scale < 40 ? scale : 40;
    int n = count > places ? count : places + 1;
    if (n > 20) {
        std::memset(out, '0', static_cast<size_t>(n - 20));
        PutDigits(out + n - 20, magnitude, 20);
    } else {
        PutDigits(out, magnitude, n);
    }
    char* point = out + n - places;
    for (char* p = out + n; p > point; --p) *p = p[-1];
    *point = '.';
    return out + n + 1;
}

}  // namespace

char* PutDecimal(char* out, bool negative, uint64_t magnitude, int scale) {
    if (negative && magnitude != 0) *out++ = '-';
    if (scale < 0 || scale > 18) return PutDecimalAnyScale(out, magnitude, scale);
    // Right to left straight at its place: the digit count gives the end first. The
    // places after the point, the point, then the whole part (at least one digit), two
    // digits at a time; in 32 bits once the rest fits.
    const int count = DigitCount(magnitude);
    int whole = count > scale ? count - scale : 1;
    char* const end = out + whole + (scale > 0 ? scale + 1 : 0);
    char* p = end;
    uint64_t rest = magnitude;
    if (scale > 0) {
        int places = scale;
        while (places >= 2) {
            p -= 2;
            std::memcpy(p, kDigits.pairs + 2 * (rest % 100), 2);
            rest /= 100;
            places -= 2;
        }
        if (places == 1) {
            *--p = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        *--p = '.';
    }
    while (whole >= 2 && rest > 0xFFFFFFFFu) {
        p -= 2;
        std::memcpy(p, kDigits.pairs + 2 * (rest % 100), 2);
        rest /= 100;
        whole -= 2;
    }
    uint32_t low = static_cast<uint32_t>(rest);
    while (whole >= 2) {
        p -= 2;
        std::memcpy(p, kDigits.pairs + 2 * (low % 100), 2);
        low /= 100;
        whole -= 2;
    }
    if (whole == 1) *--p = static_cast<char>('0' + low % 10);
    return end;
}

void AppendDecimal(std::string& out, bool negative, uint64_t magnitude, int scale) {
    char text[kDecimalRoom];
    out.append(text, static_cast<size_t>(PutDecimal(text, negative, magnitude, scale) - text));
}

namespace {

// Takes the decimal digits of `p` from `i` (up to `n`) into `value` (value * 10 + digit
// each, wrapping past 64 bits: the caller bounds the count); returns where they end.
// Eight digits a step where eight bytes are left, found and added at once.
inline size_t TakeDigits(const char* p, size_t i, size_t n, uint64_t& value) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    using numeric_forms_detail::kLanes;
    while (i + 8 <= n) {
        uint64_t chunk;
        std::memcpy(&chunk, p + i, 8);
        const uint64_t bad = numeric_forms_detail::BadDigitLanes(chunk, kLanes * '0');
        if (bad == 0) {
            value = value * 100000000u + numeric_forms_detail::EightDigits(chunk);
            i += 8;
            continue;
        }
        // The digits before the first other byte, moved to the end of the word (the zero
        // bytes shifted in before them read as zeros).
        const unsigned k = static_cast<unsigned>(__builtin_ctzll(bad)) / 8;
        if (k > 0) value = value * kTens[k] + numeric_forms_detail::EightDigits(chunk << (8 * (8 - k)));
        return i + k;
    }
#endif
    for (; i < n && static_cast<unsigned>(p[i] - '0') <= 9; ++i) value = value * 10 + static_cast<unsigned>(p[i] - '0');
    return i;
}

// The usual text, "-1234.50": an optional minus, digits, and at most `scale` places
// after a point, 18 digits at most with the places not written; false for anything
// else, which ParseDecimal then reads in full.
inline bool ParsePlainDecimal(std::string_view text, int scale, bool& negative, uint64_t& magnitude) {
    const char* p = text.data();
    const size_t n = text.size();
    if (scale < 0 || n == 0) return false;
    const bool minus = p[0] == '-';
    const size_t first = minus ? 1 : 0;
    uint64_t value = 0;
    size_t i = TakeDigits(p, first, n, value);
    const size_t digits = i - first;
    size_t places = 0;
    if (i < n && p[i] == '.') {
        const size_t point = i + 1;
        i = TakeDigits(p, point, n, value);
        places = i - point;
    }
    if (i != n || digits + places == 0 || places > static_cast<size_t>(scale) ||
        digits + static_cast<size_t>(scale) > 18) {
        return false;
    }
    value *= kTens[static_cast<size_t>(scale) - places];
    negative = minus && value != 0;
    magnitude = value;
    return true;
}

}  // namespace

bool ParseDecimal(std::string_view text, int scale, bool& negative, uint64_t& magnitude, std::string& reason) {
    if (ParsePlainDecimal(text, scale, negative, magnitude)) return true;
    // Anything else by the one rule of decimal text, then into 64 bits, each step checked:
    // a magnitude past 2^64 - 1 is refused (an unsigned 8-byte binary item holds up to it).
    std::string digits;
    FaultCode code;
    if (!ParseDecimalDigits(text, scale, negative, digits, reason, code)) return false;
    uint64_t value = 0;
    for (char c : digits) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            reason = Quoted(text) + " has too many digits";
            return false;
        }
        value = value * 10 + digit;
    }
    magnitude = value;
    return true;
}

bool ParseDecimalDigits(std::string_view text, int scale, bool& negative, std::string& digits, std::string& reason,
                        FaultCode& code) {
    // A number of more digits than any picture holds is refused before it is kept.
    constexpr int kMostDigits = 64;
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    digits.clear();
    int fraction = 0;
    bool point = false, any = false, cutNonzero = false;
    code = FaultCode::kNotNumber;
    for (; i < n; ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') {
            reason = Quoted(text) + " is not a decimal number";
            return false;
        }
        any = true;
        if (point && ++fraction > scale) {
            if (c != '0') cutNonzero = true;
            continue;
        }
        if (!digits.empty() || c != '0') {
            if (static_cast<int>(digits.size()) >= kMostDigits) {
                code = FaultCode::kTooManyDigits;
                reason = Quoted(text) + " has too many digits";
                return false;
            }
            digits.push_back(c);
        }
    }
    if (!any) {
        reason = Quoted(text) + " is not a decimal number";
        return false;
    }
    if (cutNonzero) {
        code = FaultCode::kTooManyDecimals;
        reason = Quoted(text) + " has more than " + std::to_string(scale < 0 ? 0 : scale) + " decimal places";
        return false;
    }
    // Decimal places not written are zeros.
    if (!digits.empty() && fraction < scale) digits.append(static_cast<size_t>(scale - fraction), '0');
    if (scale < 0 && !digits.empty()) {
        // P scaling: the low digits the picture leaves out must be zeros.
        const size_t zeros = static_cast<size_t>(-scale);
        if (digits.size() <= zeros || digits.find_first_not_of('0', digits.size() - zeros) != std::string::npos) {
            code = FaultCode::kTooManyDecimals;
            reason = Quoted(text) + " is not a multiple of 1" + std::string(zeros, '0');
            return false;
        }
        digits.resize(digits.size() - zeros);
    }
    if (digits.empty()) negative = false;
    return true;
}

std::unique_ptr<ValueCodec> ValueCodec::Create(const DataOptions& options, int recordLength, std::string& error) {
    std::unique_ptr<ValueCodec> codec(new ValueCodec(options, recordLength));
    codec->text_ = TextCodec::Create(options.encoding, error);
    if (!codec->text_) return nullptr;
    TextCodec& text = *codec->text_;
    codec->digitZone_ = text.DigitZone() >> 4;
    unsigned positive = options.positiveZone, negative = options.negativeZone;
    if (!options.signZonesGiven && text.IsEbcdic()) {
        positive = 0xC0;
        negative = 0xD0;
    }
    codec->positiveZone_ = (positive >> 4) & 0x0F;
    codec->negativeZone_ = (negative >> 4) & 0x0F;
    for (int b = 0; b < 256; ++b) {
        bool digit = static_cast<unsigned>(b >> 4) == codec->digitZone_ && (b & 0x0F) <= 9;
        codec->displayDigits_[b] = static_cast<unsigned char>(digit ? (b & 0x0F) : 0x80);
    }
    // The zones that sign a zoned number: the two of the options; with IBM's C and D,
    // every sign IBM's decimal instructions read, as for packed numbers (A, C, E and F
    // positive, B and D negative).
    codec->signOfZone_[codec->positiveZone_] = 1;
    codec->signOfZone_[codec->negativeZone_] = -1;
    if (codec->positiveZone_ == 0xC && codec->negativeZone_ == 0xD) {
        for (unsigned zone = 0xA; zone <= 0xF; ++zone) codec->signOfZone_[zone] = static_cast<signed char>(PackedSignOf(zone));
    }
    codec->signZone_[0] = static_cast<unsigned char>(positive & 0xF0);
    codec->signZone_[1] = static_cast<unsigned char>(negative & 0xF0);
    codec->image_.SetPositiveZone(static_cast<unsigned short>(positive));
    codec->image_.SetNegativeZone(static_cast<unsigned short>(negative));
    codec->image_.SetNationalSpace(text.NationalSpace());
    return codec;
}

ValueCodec::ValueCodec(const DataOptions& options, int recordLength) : options_(options), image_(recordLength) {}

bool ValueCodec::Decode(const Field& field, const unsigned char* record, RowCells& row, size_t column, Fault& fault) {
    const unsigned char* bytes = record + field.offset;
    switch (field.kind) {
    case Field::kDisplay:
    case Field::kPacked: {
        char* out = row.Room(kDecimalRoom);
        char* end = field.kind == Field::kDisplay ? DisplayInto(field, bytes, out) : PackedInto(field, bytes, out);
        if (end != nullptr) {
            row.End(column, Cell::kNumber, end);
            return true;
        }
        break;
    }
    case Field::kBinary:
    case Field::kComp5: {
        bool negative;
        uint64_t value = BinaryMagnitude(field, bytes, negative);
        char* out = row.Room(kDecimalRoom);
        row.End(column, Cell::kNumber, PutDecimal(out, negative, value, field.scale));
        return true;
    }
    case Field::kText:
    case Field::kNational: {
        char* out = row.Room(static_cast<size_t>(field.length) * TextCodec::kMostPerByte + TextCodec::kRoomAfter);
        if (char* end = TextInto(field, bytes, out)) {
            row.End(column, Cell::kText, end);
            return true;
        }
        break;
    }
    default: break;
    }
    if (!DecodeText(field, record, cell_, fault)) return false;
    row.Put(column, cell_.kind, cell_.text.data(), cell_.text.size());
    return true;
}

// Inlined into the per-cell paths, as the code they replace was.
[[gnu::always_inline]] inline bool ValueCodec::DisplaySpanOf(const Field& field, const unsigned char* bytes, DisplaySpan& span) const {
    int first = 0, last = field.length - 1;   // the digits
    int signAt = -1;                          // the digit whose zone is the sign
    bool negative = false;
    if (field.isSigned && field.signSeparate) {
        int at = field.signLeading ? first++ : last--;
        unsigned char sign = bytes[at];
        unsigned char plus = text_->IsEbcdic() ? 0x4E : '+', minus = text_->IsEbcdic() ? 0x60 : '-';
        if (sign == minus) negative = true;
        else if (sign != plus) return false;
    } else if (field.isSigned && last >= first) {
        signAt = field.signLeading ? first : last;
    }
    if (last - first + 1 > 19) return false;
    unsigned signDigit = 0;
    if (signAt >= 0) {
        // The digit zone, the positive or the negative zone.
        unsigned b = bytes[signAt], zone = b >> 4;
        signDigit = b & 0x0F;
        if (signDigit > 9) return false;
        if (zone != digitZone_) {
            if (signOfZone_[zone] < 0) negative = true;
            else if (signOfZone_[zone] == 0) return false;
        }
    }
    span = DisplaySpan{first, last, signAt, signDigit, negative};
    return true;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Up to eight digits at once: the eight bytes of the record that end with the last digit
// (`count` digits, in the high bytes; the sign digit at `signIndex` from the first or
// -1). With the zone of the code page's digits taken away every digit byte must hold 0
// to 9 (the sign digit's zone is checked by DisplaySpanOf): false otherwise. The digits
// come in the bytes they were read from, the ones before the first digit zero.
[[gnu::always_inline]] inline bool ValueCodec::EightDigits(const unsigned char* lastPlusOne, int count, int signIndex, uint64_t& digits) const {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    uint64_t x;
    std::memcpy(&x, lastPlusOne - 8, 8);
    int skip = 8 - count;
    uint64_t mask = ~uint64_t{0} << (8 * skip);
    digits = (x ^ (kOnes * (digitZone_ << 4))) & mask;
    if (signIndex >= 0) digits &= ~(uint64_t{0xF0} << (8 * (signIndex + skip)));
    return (digits & (kOnes * 0xF0)) == 0 && ((digits + kOnes * 0x06) & (kOnes * 0xF0)) == 0;
}
#endif

bool ValueCodec::DisplayMagnitude(const Field& field, const unsigned char* bytes, bool& negative,
                                  uint64_t& magnitude) const {
    DisplaySpan span;
    if (!DisplaySpanOf(field, bytes, span)) return false;
    negative = span.negative;
    const int first = span.first, last = span.last;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    int count = last - first + 1;
    if (count >= 1 && count <= 8 && field.offset + last + 1 >= 8) {
        uint64_t v;
        if (!EightDigits(bytes + last + 1, count, span.signAt >= 0 ? span.signAt - first : -1, v)) return false;
        // The eight digit bytes (the first in the lowest byte) to their number: pairs,
        // then fours, then the eight.
        v = (v * 10) + (v >> 8);
        v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
             (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
        magnitude = v;
        return true;
    }
#endif
    uint64_t value = 0;
    unsigned bad = 0;
    for (int i = first; i <= last; ++i) {
        unsigned char d = i == span.signAt ? static_cast<unsigned char>(span.signDigit) : displayDigits_[bytes[i]];
        bad |= d;
        value = value * 10 + (d & 0x0F);
    }
    if (bad & 0x80) return false;
    magnitude = value;
    return true;
}

char* ValueCodec::DisplayInto(const Field& field, const unsigned char* bytes, char* out) {
    DisplaySpan span;
    if (!DisplaySpanOf(field, bytes, span)) return nullptr;
    const int first = span.first, last = span.last, signAt = span.signAt;
    const unsigned signDigit = span.signDigit;
    const bool negative = span.negative;
    int from = first, to = last;   // the digits the table checks
    if (signAt == first) ++from;
    else if (signAt >= 0) --to;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    int count = last - first + 1;
    if (count >= 1 && count <= 8 && field.offset + last + 1 >= 8) {
        // Up to eight digits at once (EightDigits), written as characters.
        constexpr uint64_t kOnes = 0x0101010101010101ull;
        const int skip = 8 - count;
        const uint64_t mask = ~uint64_t{0} << (8 * skip);
        uint64_t digits;
        if (!EightDigits(bytes + last + 1, count, signAt >= 0 ? signAt - first : -1, digits)) return nullptr;
        if (digits == 0) return PutDecimal(out, false, 0, field.scale);
        // From the first digit that is not zero, as characters.
        int lead = __builtin_ctzll(digits) / 8;
        int significant = 8 - lead;
        uint64_t chars = ((digits | (kOnes * 0x30)) & mask) >> (8 * lead);
        if (negative) *out++ = '-';
        if (field.scale <= 0) {
            std::memcpy(out, &chars, 8);
            out += significant;
            if (field.scale < 0) {
                std::memset(out, '0', 20);
                out += -field.scale < 20 ? -field.scale : 20;
            }
            return out;
        }
        int places = field.scale < 40 ? field.scale : 40;
        if (significant > places) {
            int whole = significant - places;
            uint64_t fraction = chars >> (8 * whole);
            std::memcpy(out, &chars, 8);
            out[whole] = '.';
            std::memcpy(out + whole + 1, &fraction, 8);
            return out + significant + 1;
        }
        out[0] = '0';
        out[1] = '.';
        std::memset(out + 2, '0', 40);
        std::memcpy(out + 2 + places - significant, &chars, 8);
        return out + 2 + places;
    }
#endif
    uint64_t magnitude = signAt == first ? signDigit : 0;
    // A byte that is no digit of the code page has the bit 0x80 in the table.
    unsigned bad = 0;
    for (int i = from; i <= to; ++i) {
        unsigned char d = displayDigits_[bytes[i]];
        bad |= d;
        magnitude = magnitude * 10 + (d & 0x0F);
    }
    if (bad & 0x80) return nullptr;
    if (signAt >= 0 && signAt != first) magnitude = magnitude * 10 + signDigit;
    return PutDecimal(out, negative, magnitude, field.scale);
}

bool ValueCodec::PackedMagnitude(const Field& field, const unsigned char* bytes, bool& negative,
                                 uint64_t& magnitude) const {
    int length = field.length;
    int nibbles = 2 * length - 1;
    if (length < 1 || nibbles > 19) return false;
    uint64_t value = 0;
    unsigned bad = 0;
    for (int i = 0; i < length - 1; ++i) {
        unsigned char pair = kDigits.packedValue[bytes[i]];
        bad |= pair;
        value = value * 100 + (pair & 0x7F);
    }
    unsigned last = bytes[length - 1];
    if ((bad & 0x80) || (last >> 4) > 9) return false;
    value = value * 10 + (last >> 4);
    // Leading nibbles the picture does not use hold zeros.
    if (field.digits < nibbles && value >= kTens[field.digits < 0 ? 0 : field.digits]) return false;
    const int signOf = PackedSignOf(last & 0x0F);
    negative = signOf < 0;
    if (signOf == 0 || (negative && !field.isSigned)) return false;
    magnitude = value;
    return true;
}

char* ValueCodec::PackedInto(const Field& field, const unsigned char* bytes, char* out) {
    const int length = field.length;
    const int nibbles = 2 * length - 1;
    const int scale = field.scale;
    if (length < 1 || nibbles > 19 || scale < 0 || scale > 18) {
        bool negative;
        uint64_t magnitude;
        if (!PackedMagnitude(field, bytes, negative, magnitude)) return nullptr;
        return PutDecimal(out, negative, magnitude, scale);
    }
    // The digits are the nibbles: written as characters two at a time, with no number
    // made of them and none divided back. Zeros ahead of them for places the value lacks.
    char text[24 + 20];
    std::memset(text, '0', 24);
    char* const digits = text + 24;
    unsigned bad = 0;
    for (int i = 0; i < length - 1; ++i) {
        const unsigned char pair = kDigits.packedValue[bytes[i]];
        bad |= pair;
        std::memcpy(digits + 2 * i, kDigits.pairs + 2 * (pair & 0x7F), 2);
    }
    const unsigned last = bytes[length - 1];
    if ((bad & 0x80) || (last >> 4) > 9) return nullptr;
    digits[nibbles - 1] = static_cast<char>('0' + (last >> 4));
    // Leading nibbles the picture does not use hold zeros.
    const int unused = nibbles - (field.digits < 0 ? 0 : field.digits);
    int first = 0;
    while (first < nibbles && digits[first] == '0') ++first;
    if (first < unused) return nullptr;
    const int signOf = PackedSignOf(last & 0x0F);
    const bool negative = signOf < 0;
    if (signOf == 0 || (negative && !field.isSigned)) return nullptr;
    if (negative && first < nibbles) *out++ = '-';
    const int wholeEnd = nibbles - scale;   // may be before the digits: zeros from text
    if (first < wholeEnd) {
        std::memcpy(out, digits + first, static_cast<size_t>(wholeEnd - first));
        out += wholeEnd - first;
    } else {
        *out++ = '0';
    }
    if (scale == 0) return out;
    *out++ = '.';
    std::memcpy(out, digits + wholeEnd, static_cast<size_t>(scale));
    return out + scale;
}

bool ValueCodec::NumberOf(const Field& field, const unsigned char* record, bool& negative, uint64_t& magnitude) const {
    const unsigned char* bytes = record + field.offset;
    switch (field.kind) {
    case Field::kDisplay: return DisplayMagnitude(field, bytes, negative, magnitude);
    case Field::kPacked: return PackedMagnitude(field, bytes, negative, magnitude);
    case Field::kBinary:
    case Field::kComp5: magnitude = BinaryMagnitude(field, bytes, negative); return true;
    default: return false;
    }
}

char* ValueCodec::TextCellInto(const Field& field, const unsigned char* record, char* out) {
    if (field.kind != Field::kText && field.kind != Field::kNational) return nullptr;
    return TextInto(field, record + field.offset, out);
}

bool ValueCodec::HasCsvCell(const Field& field) {
    switch (field.kind) {
    case Field::kDisplay:
    case Field::kPacked:
    case Field::kBinary:
    case Field::kComp5:
    case Field::kText:
    case Field::kNational: return true;
    default: return false;
    }
}

size_t ValueCodec::CellRoom(const Field& field) {
    if (field.kind == Field::kText || field.kind == Field::kNational) {
        return static_cast<size_t>(field.length) * TextCodec::kMostPerByte + TextCodec::kRoomAfter;
    }
    return kDecimalRoom;
}

char* ValueCodec::CsvCellInto(const Field& field, const unsigned char* record, char* out) {
    const unsigned char* bytes = record + field.offset;
    switch (field.kind) {
    case Field::kDisplay: return DisplayInto(field, bytes, out);
    case Field::kPacked: return PackedInto(field, bytes, out);
    case Field::kBinary:
    case Field::kComp5: {
        bool negative;
        uint64_t value = BinaryMagnitude(field, bytes, negative);
        return PutDecimal(out, negative, value, field.scale);
    }
    case Field::kText:
    case Field::kNational: {
        char* end = TextInto(field, bytes, out);
        if (end != nullptr && NeedsCsvQuotes(out, static_cast<size_t>(end - out))) return nullptr;
        // Blank text trimmed to nothing is "", not the empty field of an absent value.
        if (end == out) {
            *end++ = '"';
            *end++ = '"';
        }
        return end;
    }
    default: return nullptr;
    }
}

char* ValueCodec::JsonCellInto(const Field& field, const unsigned char* record, char* out) {
    if (field.kind != Field::kText && field.kind != Field::kNational) return CsvCellInto(field, record, out);
    *out++ = '"';
    char* end = TextInto(field, record + field.offset, out);
    if (end == nullptr || NeedsJsonEscapes(out, static_cast<size_t>(end - out))) return nullptr;
    *end++ = '"';
    return end;
}

char* ValueCodec::TextInto(const Field& field, const unsigned char* bytes, char* out) {
    bool national = field.kind == Field::kNational;
    size_t length = static_cast<size_t>(field.length);
    char* end = nullptr;
    TextCodec::Written written = national ? text_->DecodeNationalInto(bytes, length, out, end)
                                          : text_->DecodeInto(bytes, length, out, end);
    if (written != TextCodec::kWritten) return nullptr;
    if (options_.trim) {
        // Trailing blanks: spaces, and the full-width space of national text.
        for (;;) {
            if (end > out && end[-1] == ' ') --end;
            else if (national && end - out >= 3 && std::memcmp(end - 3, "\xE3\x80\x80", 3) == 0) end -= 3;
            else break;
        }
    }
    return end;
}

bool ValueCodec::Decode(const Field& field, const unsigned char* record, Cell& cell, Fault& fault) {
    return DecodeText(field, record, cell, fault);
}

bool ValueCodec::DecodeText(const Field& field, const unsigned char* record, Cell& cell, Fault& fault) {
    const unsigned char* bytes = record + field.offset;
    cell.text.clear();
    if ((field.kind == Field::kDisplay || field.kind == Field::kPacked) && IsBlankNumber(bytes, field.length, text_->Space())) {
        return DecodeBlank(field, bytes, cell, fault);
    }
    switch (field.kind) {
    case Field::kDisplay: return DecodeDisplay(field, bytes, cell, fault);
    case Field::kPacked: return DecodePacked(field, bytes, cell, fault);
    case Field::kBinary:
    case Field::kComp5: return DecodeBinary(field, bytes, cell, fault);
    case Field::kFloat:
    case Field::kDouble: return DecodeFloat(field, bytes, cell, fault);
    case Field::kText:
    case Field::kNational: {
        bool national = field.kind == Field::kNational;
        bool ok = national ? text_->DecodeNational(bytes, static_cast<size_t>(field.length), cell.text)
                           : text_->Decode(bytes, static_cast<size_t>(field.length), cell.text);
        if (!ok) return Fail(fault, field.offset, std::string(national ? "national " : "") + "text does not convert from " + options_.encoding, FaultCode::kTextDecode);
        if (options_.trim) TrimBlanks(cell.text, national);
        cell.kind = Cell::kText;
        return true;
    }
    case Field::kBits: {
        int bits = field.digits;
        for (int i = 0; i < field.length * 8; ++i) {
            bool set = (bytes[i / 8] >> (7 - i % 8)) & 1;
            if (i < bits) cell.text.push_back(set ? '1' : '0');
            else if (set) return Fail(fault, field.offset + i / 8, "bits beyond the item's " + std::to_string(bits) + " are set", FaultCode::kBadBits);
        }
        cell.kind = Cell::kText;
        return true;
    }
    case Field::kBoolChars:
        for (int i = 0; i < field.length; ++i) {
            if (bytes[i] == text_->Digit(0)) cell.text.push_back('0');
            else if (bytes[i] == text_->Digit(1)) cell.text.push_back('1');
            else return Fail(fault, field.offset + i, "byte " + Hex(bytes[i]) + " is not a bit character", FaultCode::kBadBits);
        }
        cell.kind = Cell::kText;
        return true;
    }
    return false;
}

bool ValueCodec::SignZoneFault(const Field& field, int at, unsigned byte, Fault& fault) {
    std::string reason = "sign zone " + Hex(byte & 0xF0) + " of byte " + Hex(byte) +
                         " is neither the positive nor the negative zone (" + Hex(positiveZone_ << 4) + "," +
                         Hex(negativeZone_ << 4) + ")";
    const char* zones = SignZonesFor(byte & 0xF0);
    if (*zones != '\0') reason += std::string("; --sign-zones ") + zones + " reads it";
    else reason += "; --sign-zones POS,NEG sets the zones";
    return Fail(fault, field.offset + at, reason, FaultCode::kSignZone);
}

bool ValueCodec::DecodeBlank(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault) {
    switch (options_.blankNumeric) {
    case BlankNumeric::kError: break;
    case BlankNumeric::kNull:
        ++blanks_;
        cell.kind = Cell::kNull;
        return true;
    case BlankNumeric::kZero:
        ++blanks_;
        AppendDecimal(cell.text, false, 0, field.scale);
        cell.kind = Cell::kNumber;
        return true;
    }
    return Fail(fault, field.offset,
                std::string("numeric item is all ") + (bytes[0] == 0 ? "low-values" : "spaces") +
                    ", no number (--blank-numeric null or zero reads it as empty or 0)",
                FaultCode::kBlankNumeric);
}

bool ValueCodec::DecodeDisplay(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault) {
    uint64_t magnitude = 0;
    bool negative = false;
    int first = 0, last = field.length - 1;
    int signAt = -1;   // the byte whose zone is the sign (embedded sign)
    if (field.isSigned && field.signSeparate) {
        // A sign character of its own before or after the digits.
        int at = field.signLeading ? first++ : last--;
        unsigned char sign = bytes[at];
        unsigned char plus = text_->IsEbcdic() ? 0x4E : '+', minus = text_->IsEbcdic() ? 0x60 : '-';
        if (sign == minus) negative = true;
        else if (sign != plus) return Fail(fault, field.offset + at, "sign byte " + Hex(sign) + " is neither + nor -", FaultCode::kSignByte);
    } else if (field.isSigned) {
        signAt = field.signLeading ? first : last;
    }
    // An unsigned item may hold a positive sign zone on its last digit (zone C in
    // EBCDIC), as IBM's decimal instructions read it.
    const int positiveAt = field.isSigned || field.signSeparate ? -1 : last;
    // Past 19 digits the magnitude wraps: the digits themselves make the text.
    const bool wide = last - first + 1 > kMostUint64Digits;
    std::string digits;
    for (int i = first; i <= last; ++i) {
        unsigned b = bytes[i], digit = b & 0x0F, zone = b >> 4;
        if (digit > 9) return Fail(fault, field.offset + i, "display byte " + Hex(b) + " is not a digit", FaultCode::kNotDigit);
        if (zone != digitZone_ && !(i == positiveAt && signOfZone_[zone] > 0)) {
            if (i == signAt && signOfZone_[zone] < 0) negative = true;
            else if (i != signAt) return Fail(fault, field.offset + i, "display byte " + Hex(b) + " is not a digit", FaultCode::kNotDigit);
            else if (signOfZone_[zone] == 0) return SignZoneFault(field, i, b, fault);
        }
        magnitude = magnitude * 10 + digit;
        if (wide) digits.push_back(static_cast<char>('0' + digit));
    }
    if (wide) AppendDigitsDecimal(cell.text, negative, digits, field.scale);
    else AppendDecimal(cell.text, negative, magnitude, field.scale);
    cell.kind = Cell::kNumber;
    return true;
}

bool ValueCodec::DecodePacked(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault) {
    if (2 * field.length - 1 > kMostUint64Digits) return DecodeWidePacked(field, bytes, cell, fault);
    uint64_t magnitude = 0;
    unsigned sign = 0;
    int bad = CheckPacked(bytes, field.length, magnitude, sign);
    // The first nibble that is wrong, in order: one that is no digit, or a leading one
    // the picture does not use that is not zero.
    const int nibbles = 2 * field.length - 1;
    int badNibble = bad < 0 ? nibbles : 2 * bad + ((bytes[bad] >> 4) > 9 ? 0 : 1);
    int spare = nibbles - field.digits;
    for (int k = 0; k < spare && k < badNibble; ++k) {
        unsigned b = bytes[k / 2], digit = (k % 2 == 0) ? b >> 4 : b & 0x0F;
        if (digit != 0) return Fail(fault, field.offset + k / 2, "packed value has more digits than the picture's " + std::to_string(field.digits), FaultCode::kPackedNibble);
    }
    if (bad >= 0) {
        unsigned b = bytes[bad], digit = (badNibble % 2 == 0) ? b >> 4 : b & 0x0F;
        return Fail(fault, field.offset + bad, "packed nibble " + Hex(digit).substr(3) + " of byte " + Hex(b) + " is not a digit", FaultCode::kPackedNibble);
    }
    // A, C, E and F are positive, B and D negative, as IBM's decimal instructions take them.
    const int signOf = PackedSignOf(sign);
    bool negative = signOf < 0;
    if (signOf == 0 || (negative && !field.isSigned)) {
        return Fail(fault, field.offset + field.length - 1,
                    negative ? "negative sign in an unsigned packed item" : "packed sign nibble " + Hex(sign).substr(3) + " is no sign",
                    negative ? FaultCode::kUnsignedNegative : FaultCode::kPackedSign);
    }
    AppendDecimal(cell.text, negative, magnitude, field.scale);
    cell.kind = Cell::kNumber;
    return true;
}

bool ValueCodec::DecodeWidePacked(const Field& field, const unsigned char* bytes, Cell& cell, Fault& fault) {
    // Nibble by nibble, the first wrong one named: one that is no digit, or a leading
    // one the picture does not use that is not zero.
    const int nibbles = 2 * field.length - 1;
    const int spare = nibbles - field.digits;
    std::string digits;
    digits.reserve(static_cast<size_t>(nibbles));
    for (int k = 0; k < nibbles; ++k) {
        unsigned b = bytes[k / 2], digit = (k % 2 == 0) ? b >> 4 : b & 0x0F;
        if (digit > 9) {
            return Fail(fault, FaultCode::kPackedNibble, field.offset + k / 2,
                        "packed nibble " + Hex(digit).substr(3) + " of byte " + Hex(b) + " is not a digit");
        }
        if (k < spare) {
            if (digit != 0) {
                return Fail(fault, FaultCode::kTooManyDigits, field.offset + k / 2,
                            "packed value has more digits than the picture's " + std::to_string(field.digits));
            }
            continue;
        }
        digits.push_back(static_cast<char>('0' + digit));
    }
    const unsigned sign = bytes[field.length - 1] & 0x0F;
    const int signOf = PackedSignOf(sign);
    bool negative = signOf < 0;
    if (signOf == 0 || (negative && !field.isSigned)) {
        return Fail(fault, negative ? FaultCode::kUnsignedNegative : FaultCode::kPackedSign, field.offset + field.length - 1,
                    negative ? "negative sign in an unsigned packed item" : "packed sign nibble " + Hex(sign).substr(3) + " is no sign");
    }
    AppendDigitsDecimal(cell.text, negative, digits, field.scale);
    cell.kind = Cell::kNumber;
    return true;
}

bool ValueCodec::DecodeBinary(const Field& field, const unsigned char* bytes, Cell& cell, Fault&) {
    bool negative;
    uint64_t value = BinaryMagnitude(field, bytes, negative);
    AppendDecimal(cell.text, negative, value, field.scale);
    cell.kind = Cell::kNumber;
    return true;
}

bool ValueCodec::DecodeFloat(const Field& field, const unsigned char* bytes, Cell& cell, Fault&) {
    unsigned char b[8];
    int n = field.length;
    if (options_.floats == FloatFormat::kIbmHex) {
        long double value = FromIbmHex(bytes, n);
        if (n == 4) AppendShortest(cell.text, static_cast<double>(value), 17);
        else AppendShortest(cell.text, value, 21);
    } else {
        for (int i = 0; i < n; ++i) b[i] = options_.floats == FloatFormat::kIeeeBe ? bytes[n - 1 - i] : bytes[i];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        for (int i = 0; i < n / 2; ++i) std::swap(b[i], b[n - 1 - i]);
#endif
        if (n == 4) {
            float value;
            std::memcpy(&value, b, 4);
            AppendShortest(cell.text, value, 9);
        } else {
            double value;
            std::memcpy(&value, b, 8);
            AppendShortest(cell.text, value, 17);
        }
    }
    cell.kind = Cell::kNumber;
    return true;
}

void ValueCodec::Blank(unsigned char* record, int length) {
    std::memset(record, text_->Space(), static_cast<size_t>(length));
}

void ValueCodec::Clear(const Field& field, unsigned char* record) {
    Fault ignored;
    Cell cell;
    switch (field.kind) {
    case Field::kText:
    case Field::kNational:
    case Field::kBits:
    case Field::kBoolChars: cell.kind = Cell::kText; break;
    default: cell.kind = Cell::kNumber; cell.text = "0"; break;
    }
    Encode(field, cell, record, ignored);
}

bool ValueCodec::Encode(const Field& field, const Cell& cell, unsigned char* record, Fault& fault) {
    return Encode(field, cell.kind, cell.text, record, fault);
}

bool ValueCodec::Encode(const Field& field, Cell::Kind kind, std::string_view text, unsigned char* record, Fault& fault) {
    image_.Attach(record);
    if (kind == Cell::kNull) {
        if (field.overlaid) return true;
        if (options_.blankNumeric == BlankNumeric::kNull && (field.kind == Field::kDisplay || field.kind == Field::kPacked)) {
            // The blank a decode under the same option read as no value.
            if (field.length > 0) std::memset(record + field.offset, text_->Space(), static_cast<size_t>(field.length));
            return true;
        }
        if (field.kind != Field::kText && field.kind != Field::kNational) return Fail(fault, field.offset, "no value", FaultCode::kNotNumber);
    }
    CopyItem* item = field.item;
    unsigned char* bytes = record + field.offset;
    try {
        switch (field.kind) {
        case Field::kDisplay:
        case Field::kPacked:
        case Field::kBinary:
        case Field::kComp5: return EncodeNumber(field, text, record, fault);
        case Field::kFloat:
        case Field::kDouble: return EncodeFloat(field, text, record, fault);
        case Field::kText:
        case Field::kNational: {
            bool national = field.kind == Field::kNational;
            bool ok = national ? text_->EncodeNational(text.data(), text.size(), scratch_)
                               : text_->Encode(text.data(), text.size(), scratch_);
            if (!ok && national && text_->Encode(text.data(), text.size(), scratch_)) {
                // It converts, but not all into double-byte characters.
                return Fail(fault, field.offset,
                            Quoted(text) + u8" is not all double-byte (全角) characters, as a PIC N item must be",
                            FaultCode::kNotDoubleByte);
            }
            if (!ok) return Fail(fault, field.offset, Quoted(text) + " does not convert to " + options_.encoding, FaultCode::kTextEncode);
            if (scratch_.size() > static_cast<size_t>(field.length)) {
                return Fail(fault, field.offset, "text of " + std::to_string(scratch_.size()) + " bytes does not fit the item's " + std::to_string(field.length), FaultCode::kTextTooLong);
            }
            // Blanks of the code page after the text; the setter then copies the item whole.
            while (scratch_.size() < static_cast<size_t>(field.length)) {
                if (national) scratch_.append(text_->NationalSpace(), 2);
                else scratch_.push_back(static_cast<char>(text_->Space()));
            }
            // The bytes the record's string setter stores for text of the item's whole
            // length (which refuses an odd length for national items).
            if (national && field.length % 2 != 0) return Fail(fault, field.offset, "the value does not fit the item", FaultCode::kTextTooLong);
            if (field.length > 0) std::memcpy(bytes, scratch_.data(), static_cast<size_t>(field.length));
            return true;
        }
        case Field::kBits:
        case Field::kBoolChars: {
            if (text.size() > static_cast<size_t>(field.digits)) {
                return Fail(fault, field.offset, Quoted(text) + " has more than the item's " + std::to_string(field.digits) + " bits", FaultCode::kBadBits);
            }
            for (char c : text) {
                if (c != '0' && c != '1') return Fail(fault, field.offset, Quoted(text) + " is not a string of 0 and 1", FaultCode::kBadBits);
            }
            scratch_ = text;
            if (field.kind == Field::kBoolChars) scratch_.resize(static_cast<size_t>(field.length), '0');
            if (field.kind == Field::kBits) {
                if (scratch_.empty()) std::memset(bytes, 0, static_cast<size_t>(field.length));
                else image_.SetString(item, scratch_.data(), static_cast<int>(scratch_.size()));
            } else if (field.length > 0) {
                image_.SetString(item, scratch_.data(), field.length);
                for (int i = 0; i < field.length; ++i) bytes[i] = text_->Digit(bytes[i] & 1);
            }
            return true;
        }
        }
    } catch (CException& failure) {
        return Fail(fault, field.offset, "the value does not fit the item", FaultCode::kTextTooLong);
    }
    return false;
}

std::vector<QuickStore> ValueCodec::QuickStores(const std::vector<Field>& fields) const {
    std::vector<QuickStore> stores(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        QuickStore& store = stores[i];
        store.offset = field.offset;
        store.length = field.length;
        store.scale = field.scale;
        store.isSigned = field.isSigned;
        if (field.length <= 0) continue;
        if (field.kind == Field::kText) {
            if (text_->AsciiBytes() != nullptr) store.op = QuickStore::kText;
            continue;
        }
        if (field.kind == Field::kNational) {
            store.op = QuickStore::kNational;
            continue;
        }
        // Numbers of up to 18 digits: those EncodeNumber stores by StoreNumber.
        if (field.digits > 18 || field.scale < 0) continue;
        store.limit = kTens[field.digits < 0 ? 0 : field.digits];
        switch (field.kind) {
        case Field::kDisplay:
            if (field.signSeparate) continue;
            store.op = QuickStore::kZoned;
            store.zone = static_cast<unsigned char>(digitZone_ << 4);
            if (field.isSigned) store.signAt = field.signLeading ? 0 : field.length - 1;
            store.signs[0] = signZone_[0];
            store.signs[1] = signZone_[1];
            if (field.length <= 16 && field.digits <= 16) store.laneDigits = field.digits;
            break;
        case Field::kPacked:
            store.op = QuickStore::kPacked;
            store.signs[0] = static_cast<unsigned char>(field.isSigned ? PACKED_POSITIVE : PACKED_UNSIGNED);
            store.signs[1] = static_cast<unsigned char>(field.isSigned ? PACKED_NEGATIVE : PACKED_UNSIGNED);
            if (field.length <= 8) store.laneDigits = field.digits;
            break;
        case Field::kBinary: store.op = QuickStore::kBigEndian; break;
        case Field::kComp5: store.op = QuickStore::kLittleEndian; break;
        default: break;
        }
    }
    return stores;
}

namespace {

// A zoned item's sign in the zone of its sign byte (when it has one), as StoreNumber puts it.
inline void PutSignZone(const QuickStore& store, bool negative, unsigned char* bytes) {
    if (store.signAt < 0) return;
    unsigned char& digit = bytes[store.signAt];
    digit = static_cast<unsigned char>((digit & 0x0F) | store.signs[negative ? 1 : 0]);
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QB_DIGIT_LANES 1

// The first `k` (0 to 8) byte lanes of a word, the first byte in memory the lowest.
constexpr uint64_t kFirstLanes[9] = {0,
                                     0xFFull,
                                     0xFFFFull,
                                     0xFFFFFFull,
                                     0xFFFFFFFFull,
                                     0xFFFFFFFFFFull,
                                     0xFFFFFFFFFFFFull,
                                     0xFFFFFFFFFFFFFFull,
                                     ~0ull};

// The number of the plain text ParsePlainDecimal takes as the digits of its value in
// units of 10^-`scale`, without a number made of them: 16 digit values (0 to 9) a byte,
// right-aligned after zeros, the first eight in `high` and the last eight in `low` (the
// first in each in its lowest byte), and whether a minus came first. Eight bytes past
// the text's end are read. False for other text, and where the whole digits are more
// than eight or the places (or `scale`) more than eight: ParsePlainDecimal's then.
inline bool DigitLanesOf(const char* p, size_t n, int scale, uint64_t& high, uint64_t& low, bool& minus) {
    using numeric_forms_detail::BadDigitLanes;
    using numeric_forms_detail::kLanes;
    if (n == 0 || static_cast<unsigned>(scale) > 8) return false;
    minus = p[0] == '-';
    const size_t sign = minus ? 1 : 0;
    const size_t left = n - sign;
    if (left == 0) return false;
    uint64_t head;
    std::memcpy(&head, p + sign, 8);
    // The whole digits: up to the first byte that is no digit, or the end.
    uint64_t bad = BadDigitLanes(head, kLanes * '0');
    if (left < 8) bad |= ~kFirstLanes[left] & (kLanes * 0x80);
    const size_t whole = bad != 0 ? static_cast<size_t>(__builtin_ctzll(bad)) / 8 : 8;
    uint64_t places = 0;
    size_t placeCount = 0;
    if (whole < left) {
        // A point, then nothing but places.
        if (whole == 8 || p[sign + whole] != '.') return false;
        placeCount = left - whole - 1;
        if (placeCount > static_cast<size_t>(scale)) return false;
        std::memcpy(&places, p + sign + whole + 1, 8);
        if ((BadDigitLanes(places, kLanes * '0') & kFirstLanes[placeCount]) != 0) return false;
        places &= kFirstLanes[placeCount];
    }
    if (whole + placeCount == 0) return false;
    // The places, padded with zeros to the scale, end the number; the whole digits come
    // before them, `skip` lanes from its start.
    const uint64_t digits = head & kFirstLanes[whole];
    const size_t skip = 16 - static_cast<size_t>(scale) - whole;
    low = scale > 0 ? places << (8 * (8 - scale)) : 0;
    if (skip >= 8) {
        high = 0;
        low |= digits << (8 * (skip - 8));
    } else {
        high = digits << (8 * skip);
        if (skip > 0) low |= digits >> (8 * (8 - skip));
    }
    high &= kLanes * 0x0F;
    low &= kLanes * 0x0F;
    return true;
}

// Stores the digits of DigitLanesOf by the zoned or packed form of `store` (laneDigits
// set): false, nothing written, when they are more than the item's or negative for an
// unsigned item.
inline bool StoreDigitLanes(const QuickStore& store, uint64_t high, uint64_t low, bool minus, unsigned char* bytes) {
    const int most = store.laneDigits;
    if (most <= 8 ? (high != 0 || (low & kFirstLanes[8 - most]) != 0) : (high & kFirstLanes[16 - most]) != 0) return false;
    const bool negative = minus && (high | low) != 0;
    if (negative && !store.isSigned) return false;
    if (store.op == QuickStore::kPacked) {
        numeric_forms_detail::StorePackedDigits(bytes, store.length, high, low, store.signs[negative ? 1 : 0]);
        return true;
    }
    numeric_forms_detail::StoreZonedDigits(bytes, store.length, high, low, store.zone);
    PutSignZone(store, negative, bytes);
    return true;
}
#endif

// EncodeQuick's work, inlined into the run over a row's columns (a call a cell costs as
// much as storing a short number).
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline bool StoreQuick(const TextCodec& codec, const QuickStore& store, std::string_view text, uintptr_t spanBegin,
                       uintptr_t spanSize, unsigned char* record) {
    unsigned char* bytes = record + store.offset;
    const int length = store.length;
    if (store.op == QuickStore::kText) {
        const size_t n = text.size();
        if (n > static_cast<size_t>(length)) return false;
        const unsigned char* from = reinterpret_cast<const unsigned char*>(text.data());
        if (!AllAscii(from, n)) return false;
        if (codec.AsciiAsIs()) {
            std::memcpy(bytes, from, n);
        } else {
            const unsigned char* map = codec.AsciiBytes();
            for (size_t i = 0; i < n; ++i) bytes[i] = map[from[i]];
        }
        std::memset(bytes + n, codec.Space(), static_cast<size_t>(length) - n);
        return true;
    }
    if (store.op == QuickStore::kNational) return codec.EncodeNationalQuick(text.data(), text.size(), bytes, static_cast<size_t>(length));
    if (store.op == QuickStore::kGeneral) return false;
#ifdef QB_DIGIT_LANES
    // Text whose bytes may be read eight past its end: within the span (compared as
    // addresses, so that a text anywhere else is outside it).
    const uintptr_t at = reinterpret_cast<uintptr_t>(text.data()) - spanBegin;
    if (store.laneDigits > 0 && at < spanSize && spanSize - at >= text.size() + 8) {
        uint64_t high, low;
        bool minus;
        if (DigitLanesOf(text.data(), text.size(), store.scale, high, low, minus)) {
            return StoreDigitLanes(store, high, low, minus, bytes);
        }
    }
#else
    (void)spanBegin;
    (void)spanSize;
#endif
    bool negative;
    uint64_t magnitude;
    if (!ParsePlainDecimal(text, store.scale, negative, magnitude) || magnitude >= store.limit ||
        (negative && !store.isSigned)) {
        return false;
    }
    // As StoreNumber stores them.
    switch (store.op) {
    case QuickStore::kZoned:
        WriteZoned(bytes, length, magnitude, store.zone);
        PutSignZone(store, negative, bytes);
        return true;
    case QuickStore::kPacked: WritePacked(bytes, length, magnitude, store.signs[negative ? 1 : 0]); return true;
    case QuickStore::kBigEndian:
        WriteBigEndian(bytes, length, negative ? 0 - magnitude : magnitude, negative ? 0xFF : 0x00);
        return true;
    case QuickStore::kLittleEndian:
        WriteLittleEndian(bytes, length, negative ? 0 - magnitude : magnitude, negative ? 0xFF : 0x00);
        return true;
    default: return false;
    }
}

}  // namespace

size_t ValueCodec::EncodeQuickRun(const std::vector<QuickStore>& stores, const std::vector<LentCell>& cells,
                                  size_t from, unsigned char* record, LentSpan span) const {
    const size_t count = stores.size() < cells.size() ? stores.size() : cells.size();
    const QuickStore* store = stores.data();
    const LentCell* cell = cells.data();
    const TextCodec& codec = *text_;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(span.begin);
    const uintptr_t size = span.begin != nullptr ? static_cast<uintptr_t>(span.end - span.begin) : 0;
    size_t i = from;
    while (i < count && !cell[i].null && StoreQuick(codec, store[i], cell[i].text, begin, size, record)) ++i;
    return i;
}

bool ValueCodec::EncodeQuick(const QuickStore& store, std::string_view text, unsigned char* record) const {
    return StoreQuick(*text_, store, text, 0, 0, record);
}

bool ValueCodec::EncodeNumber(const Field& field, std::string_view text, unsigned char* record, Fault& fault) {
    bool negative;
    uint64_t magnitude;
    std::string reason;
    // Display and packed items of more digits than 64 bits hold take their values as digits.
    const bool wide = (field.kind == Field::kDisplay || field.kind == Field::kPacked) && field.digits >= kMostUint64Digits;
    if (!ParseDecimal(text, field.scale, negative, magnitude, reason)) {
        if (wide) return EncodeWideNumber(field, text, record, fault);
        return Fail(fault, field.offset, reason, ParseFaultCode(reason));
    }
    if (negative && !field.isSigned) return Fail(fault, field.offset, "negative value " + Shown(text) + " for an unsigned item", FaultCode::kUnsignedNegative);
    unsigned char* bytes = record + field.offset;
    bool binary = field.kind == Field::kBinary || field.kind == Field::kComp5;
    bool fitsDigits = field.digits >= 19 || magnitude < kTens[field.digits < 0 ? 0 : field.digits];
    if (fitsDigits && magnitude <= static_cast<uint64_t>(INT64_MAX)) {
        StoreNumber(field, negative, magnitude, bytes);
        return true;
    }
    if (binary) {
        // A binary value beyond the picture's digits that the item's bytes still hold.
        int bits = 8 * field.length;
        bool fits;
        if (field.isSigned) {
            uint64_t limit = uint64_t{1} << (bits - 1);
            fits = negative ? magnitude <= limit : magnitude < limit;
        } else {
            fits = bits >= 64 || magnitude < (uint64_t{1} << bits);
        }
        if (!fits) return Fail(fault, field.offset, Shown(text) + " does not fit the item's " + std::to_string(field.length) + " bytes", FaultCode::kTooManyDigits);
        uint64_t value = negative ? 0 - magnitude : magnitude;
        for (int i = 0; i < field.length; ++i) {
            unsigned char b = static_cast<unsigned char>(value >> (8 * i));
            bytes[field.kind == Field::kComp5 ? i : field.length - 1 - i] = b;
        }
        return true;
    }
    if (wide) return EncodeWideNumber(field, text, record, fault);
    return Fail(fault, field.offset, Shown(text) + " has more digits than the picture's " + std::to_string(field.digits), FaultCode::kTooManyDigits);
}

bool ValueCodec::EncodeWideNumber(const Field& field, std::string_view text, unsigned char* record, Fault& fault) {
    bool negative;
    std::string reason;
    FaultCode code;
    if (!ParseDecimalDigits(text, field.scale, negative, scratch_, reason, code)) return Fail(fault, code, field.offset, reason);
    if (negative && !field.isSigned) {
        return Fail(fault, FaultCode::kUnsignedNegative, field.offset, "negative value " + Shown(text) + " for an unsigned item");
    }
    const std::string& digits = scratch_;
    if (static_cast<int>(digits.size()) > field.digits) {
        return Fail(fault, FaultCode::kTooManyDigits, field.offset,
                    Shown(text) + " has more digits than the picture's " + std::to_string(field.digits));
    }
    unsigned char* bytes = record + field.offset;
    // The item's form with its sign and zones as for any value that is not zero, then
    // every digit in its place.
    StoreNumber(field, negative, digits.empty() ? 0 : 1, bytes);
    const int count = static_cast<int>(digits.size());
    if (field.kind == Field::kPacked) {
        // The last digit in the high nibble of the last byte, the others going backwards.
        const int nibbles = 2 * field.length - 1;
        for (int j = 0; j < count; ++j) {
            const int k = nibbles - 1 - j;
            const unsigned digit = static_cast<unsigned>(digits[static_cast<size_t>(count - 1 - j)] - '0');
            unsigned char& b = bytes[k / 2];
            b = static_cast<unsigned char>(k % 2 == 0 ? (b & 0x0F) | (digit << 4) : (b & 0xF0) | digit);
        }
        return true;
    }
    int last = field.length - 1;
    if (field.signSeparate && !field.signLeading) --last;
    for (int j = 0; j < count; ++j) {
        unsigned char& b = bytes[last - j];
        b = static_cast<unsigned char>((b & 0xF0) | static_cast<unsigned>(digits[static_cast<size_t>(count - 1 - j)] - '0'));
    }
    return true;
}

void ValueCodec::StoreNumber(const Field& field, bool negative, uint64_t magnitude, unsigned char* bytes) {
    // The forms of the item's storage rule, as the record object's setters store them.
    int length = field.length;
    const bool below = negative && magnitude != 0;
    if (field.kind == Field::kBinary || field.kind == Field::kComp5) {
        // The low-order bytes of the value; a longer item has the sign in the others.
        uint64_t value = negative ? 0 - magnitude : magnitude;
        unsigned char fill = below ? 0xFF : 0x00;
        if (field.kind == Field::kComp5) WriteLittleEndian(bytes, length, value, fill);
        else WriteBigEndian(bytes, length, value, fill);
        return;
    }
    if (field.kind == Field::kPacked) {
        WritePacked(bytes, length, magnitude, field.isSigned ? (below ? PACKED_NEGATIVE : PACKED_POSITIVE) : PACKED_UNSIGNED);
        return;
    }
    // Display: the digits right-aligned after zeros, in the zone of the code page's
    // digits; the sign in the zone of the last (or, leading, the first) digit, or a
    // character of its own: '+' or '-', 0x4E or 0x60 in EBCDIC.
    const bool ebcdic = text_->IsEbcdic();
    const unsigned char zone = static_cast<unsigned char>(digitZone_ << 4);
    unsigned char* signByte = nullptr;
    if (field.signSeparate) {
        if (length <= 0) return;
        signByte = field.signLeading ? bytes : bytes + length - 1;
        if (field.signLeading) ++bytes;
        --length;
    }
    WriteZoned(bytes, length, magnitude, zone);
    if (signByte != nullptr) {
        char sign = below ? '-' : '+';
        if (!ebcdic) *signByte = static_cast<unsigned char>(sign);
        else if (field.isSigned) *signByte = below ? 0x60 : 0x4E;
        else *signByte = static_cast<unsigned char>(zone | (sign & 0x0F));
    } else if (field.isSigned && length > 0) {
        unsigned char& digit = field.signLeading ? bytes[0] : bytes[length - 1];
        digit = static_cast<unsigned char>((digit & 0x0F) | signZone_[below ? 1 : 0]);
    }
}

bool ValueCodec::EncodeFloat(const Field& field, std::string_view text, unsigned char* record, Fault& fault) {
    long double value;
    if (!ParseFloatText(text, value)) return Fail(fault, field.offset, Quoted(text) + " is not a number", FaultCode::kNotNumber);
    unsigned char* bytes = record + field.offset;
    int n = field.length;
    // A finite value beyond what the form holds is refused, never stored as Infinity. An
    // IEEE value is beyond only when it rounds to Infinity: the shortest text of the largest
    // value ("3.4028235e+38", which decode writes) lies a little above it and rounds down.
    bool beyond;
    if (options_.floats == FloatFormat::kIbmHex) {
        beyond = std::isfinite(value) && std::fabs(value) > static_cast<long double>(DBL_MAX);
    } else if (n == 4) {
        beyond = std::isfinite(value) && std::isinf(static_cast<float>(value));
    } else {
        beyond = std::isfinite(value) && std::isinf(static_cast<double>(value));
    }
    if (beyond) {
        return Fail(fault, field.offset, Shown(text) + " is out of the range of " +
                                             (options_.floats == FloatFormat::kIbmHex ? "IBM hexadecimal floating point"
                                              : n == 4 ? "IEEE single precision" : "IEEE double precision"),
                    FaultCode::kOverflow);
    }
    // A value not zero that the form can only hold as zero is refused, never stored as 0.
    const auto tooSmall = [&](const char* form) {
        return Fail(fault, FaultCode::kOverflow, field.offset,
                    Shown(text) + " is nearer to zero than the smallest value of " + form + " (it would be stored as 0)");
    };
    if (options_.floats == FloatFormat::kIbmHex) {
        long double stored = n == 4 ? static_cast<long double>(static_cast<double>(value)) : value;
        if (!ToIbmHex(stored, bytes, n)) return Fail(fault, field.offset, Shown(text) + " is out of the range of IBM hexadecimal floating point", FaultCode::kOverflow);
        if (value != 0 && FromIbmHex(bytes, n) == 0) return tooSmall("IBM hexadecimal floating point");
        return true;
    }
    unsigned char b[8];
    if (n == 4) {
        float f = static_cast<float>(value);
        if (value != 0 && f == 0) return tooSmall("IEEE single precision (1.4E-45)");
        std::memcpy(b, &f, 4);
    } else {
        double d = static_cast<double>(value);
        if (value != 0 && d == 0) return tooSmall("IEEE double precision (4.9E-324)");
        std::memcpy(b, &d, 8);
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (int i = 0; i < n / 2; ++i) std::swap(b[i], b[n - 1 - i]);
#endif
    for (int i = 0; i < n; ++i) bytes[i] = options_.floats == FloatFormat::kIeeeBe ? b[n - 1 - i] : b[i];
    return true;
}

}  // namespace quillbox
