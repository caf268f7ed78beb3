// Rows written straight from a record's bytes by the columns' direct forms, compiled
// once for a layout: each column's fast path and its constants (where its digits lie,
// which zone signs it, which nibbles its picture uses) are worked out ahead, so that a
// record costs the reading and writing of its values and nothing that is the same for
// every record. Digits are written from their bytes or nibbles (display, packed) or
// made by multiplications (binary), never by a division; ASCII text is checked 16 bytes
// at a time and copied as it is. Whatever a fast path does not take (bad data, text to
// quote or to convert, kinds without one) goes to CsvCellInto, the one rule of a
// column's cell, which the fast paths must equal.
#include "valuecodec.h"

#include <cstring>

#include "numeric_forms.h"
#include "tableio.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define QB_DIRECT_SSE2 1
#endif

namespace quillbox {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kTenDigits = 10000000000ull;

// The five decimal digits of `x` (below 10^5) as characters at `d`: x / 10^4 as a
// fraction of 2^32 (rounded up; the error stays below a unit of the last digit for
// every x below 10^5), each digit the whole part of what is left times 10.
inline void FiveDigits(uint32_t x, char* d) {
    uint64_t y = uint64_t{x} * 429497u;
    d[0] = static_cast<char>('0' + (y >> 32));
    for (int i = 1; i < 5; ++i) {
        y = (y & 0xFFFFFFFFu) * 10;
        d[i] = static_cast<char>('0' + (y >> 32));
    }
}

// `magnitude` (below 10^10) written at `out`, a minus before it when `negative` and not
// zero; 16 bytes of room after its end.
inline char* PutSmallInteger(char* out, bool negative, uint64_t magnitude) {
    static constexpr uint64_t kPowers[11] = {1ull,         10ull,         100ull,        1000ull,
                                             10000ull,     100000ull,     1000000ull,    10000000ull,
                                             100000000ull, 1000000000ull, 10000000000ull};
    *out = '-';
    out += negative && magnitude != 0;
    char digits[32];
    const uint32_t top = static_cast<uint32_t>(magnitude / 100000);   // a multiplication by a constant
    FiveDigits(top, digits);
    FiveDigits(static_cast<uint32_t>(magnitude - uint64_t{top} * 100000), digits + 5);
    // Its digit count from its bit length (log10 from log2: at most one low), at least one.
    int count = ((64 - __builtin_clzll(magnitude | 1)) * 1233) >> 12;
    count += magnitude >= kPowers[count];
    count += count == 0;
    std::memcpy(out, digits + 10 - count, 16);
    return out + count;
}

// Nonzero when a byte of `x` is `c`.
inline uint64_t HasByte(uint64_t x, unsigned char c) {
    uint64_t v = x ^ (kOnes * c);
    return (v - kOnes) & ~v & (kOnes * 0x80);
}

// Whether `n` bytes at `p` are ASCII (below 0x80) and hold none that CSV quotes
// (comma, quote, CR, LF), or for `json` none that a JSON string escapes (quote,
// backslash, control characters). `tailAt`/`tailLanes`: 16 bytes of the record that
// hold a text of fewer than 16 bytes, and its lanes among them; -1 when none.
inline bool PlainAscii(const unsigned char* record, const DirectStep& step, bool json) {
    const unsigned char* p = record + step.at;
    const size_t n = static_cast<size_t>(step.length);
#if QB_DIRECT_SSE2
    auto special = [json](__m128i v) -> unsigned {
        __m128i hit;
        if (json) {
            // Signed bytes: those of 0x80 and above are below 0x20 too.
            hit = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
        } else {
            hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                               _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
            hit = _mm_or_si128(hit, v);   // the high bit of bytes of 0x80 and above
        }
        return static_cast<unsigned>(_mm_movemask_epi8(hit));
    };
    auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    if (n >= 16) {
        unsigned any = 0;
        size_t i = 0;
        for (; i + 16 <= n; i += 16) any |= special(load(p + i));
        if (i < n) any |= special(load(p + n - 16));
        return any == 0;
    }
    if (step.tailAt >= 0) return (special(load(record + step.tailAt)) & step.tailLanes) == 0;
#else
    (void)record;
#endif
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        uint64_t hit = x & (kOnes * 0x80);
        if (json) hit |= HasByte(x, '"') | HasByte(x, '\\') | ((x - kOnes * 0x20) & ~x & (kOnes * 0x80));
        else hit |= HasByte(x, ',') | HasByte(x, '"') | HasByte(x, '\r') | HasByte(x, '\n');
        if (hit != 0) return false;
    }
    for (; i < n; ++i) {
        const unsigned char c = p[i];
        if (c >= 0x80) return false;
        if (json ? (c == '"' || c == '\\' || c < 0x20) : (c == ',' || c == '"' || c == '\r' || c == '\n')) return false;
    }
    return true;
}

}  // namespace

DirectPlan ValueCodec::CompileDirect(const LayoutPlan& plan) const {
    DirectPlan row;
    for (int zone = 0; zone < 16; ++zone) row.zoneSign[zone] = signOfZone_[zone];
    row.zoneSign[digitZone_] = 1;
    const int recordLength = plan.recordLength;
    for (const Field& field : plan.fields) {
        DirectStep step;
        step.field = &field;
        step.isSigned = field.isSigned;
        step.scale = field.scale;
        step.length = field.length;
        step.at = field.offset;
        const int end = field.offset + field.length;
        switch (field.kind) {
        case Field::kDisplay: {
            // The digits (the sign digit among them) in the last bytes of the eight that
            // end with the item, read at once; as DisplayInto's fast branch.
            const int count = field.length;
            if ((field.isSigned && field.signSeparate) || count < 1 || count > 8 || end < 8) break;
            const int skip = 8 - count;
            step.op = DirectStep::kShortDisplay;
            step.at = end - 8;
            step.mask = ~uint64_t{0} << (8 * skip);
            step.keep = step.mask;
            if (field.isSigned) {
                const int signIndex = field.signLeading ? 0 : count - 1;
                step.signAt = field.offset + signIndex;
                step.keep &= ~(uint64_t{0xF0} << (8 * (signIndex + skip)));
            }
            break;
        }
        case Field::kPacked: {
#if QB_DIRECT_SSE2
            const int nibbles = 2 * field.length - 1;
            if (field.length < 1 || field.length > 8 || end < 8 || field.scale < 0 || field.scale > nibbles) break;
            step.op = DirectStep::kPacked;
            step.at = end - 8;
            // Of the 16 nibbles of the 8 bytes, the item's digits are the lanes from
            // 16 - 2 * length to 14; lane 15 is its sign.
            const int first = 16 - 2 * field.length;
            step.digitLanes = (1u << 15) - (1u << first);
            int unused = nibbles - (field.digits < 0 ? 0 : field.digits);
            if (unused > nibbles) unused = nibbles;
            step.unusedLanes = unused > 0 ? ((1u << unused) - 1) << first : 0;
#endif
            break;
        }
        case Field::kBinary:
        case Field::kComp5:
            if (field.scale != 0 || field.length < 1 || field.length > 8) break;
            step.op = DirectStep::kBinary;
            step.bigEndian = field.kind == Field::kBinary;
            break;
        case Field::kText:
            if (!text_->AsciiAsIs()) break;
            step.op = DirectStep::kAsciiText;
            if (field.length < 16) {
                if (end >= 16) {
                    step.tailAt = end - 16;
                    step.tailLanes = ((1u << field.length) - 1) << (16 - field.length);
                } else if (field.offset + 16 <= recordLength) {
                    step.tailAt = field.offset;
                    step.tailLanes = (1u << field.length) - 1;
                }
            }
            break;
        default: break;
        }
        row.steps.push_back(step);
    }
    return row;
}

[[gnu::always_inline]] inline char* ValueCodec::CsvCellInto(const DirectPlan& row, const DirectStep& step,
                                                              const unsigned char* record, char* out) {
    switch (step.op) {
    case DirectStep::kShortDisplay: {
        uint64_t x;
        std::memcpy(&x, record + step.at, 8);
        const uint64_t digits = (x ^ (kOnes * (digitZone_ << 4))) & step.keep;
        if (((digits & (kOnes * 0xF0)) | ((digits + kOnes * 0x06) & (kOnes * 0xF0))) != 0) break;
        bool negative = false;
        if (step.signAt >= 0) {
            const int sign = row.zoneSign[record[step.signAt] >> 4];
            if (sign == 0) break;
            negative = sign < 0;
        }
        const int scale = step.scale;
        if (digits == 0) return PutDecimal(out, false, 0, scale);
        // From the first digit that is not zero, as characters.
        const int lead = __builtin_ctzll(digits) / 8;
        const int significant = 8 - lead;
        const uint64_t chars = ((digits | (kOnes * 0x30)) & step.mask) >> (8 * lead);
        *out = '-';
        out += negative;
        if (scale == 0) {
            std::memcpy(out, &chars, 8);
            return out + significant;
        }
        if (scale > 0 && scale < significant) {
            const int whole = significant - scale;
            const uint64_t fraction = chars >> (8 * whole);
            std::memcpy(out, &chars, 8);
            out[whole] = '.';
            std::memcpy(out + whole + 1, &fraction, 8);
            return out + significant + 1;
        }
        if (scale > 0 && scale <= 40) {
            out[0] = '0';
            out[1] = '.';
            std::memset(out + 2, '0', 40);
            std::memcpy(out + 2 + scale - significant, &chars, 8);
            return out + 2 + scale;
        }
        return CsvCellInto(*step.field, record, out - negative);
    }
#if QB_DIRECT_SSE2
    case DirectStep::kPacked: {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(record + step.at));
        const __m128i low = _mm_and_si128(bytes, _mm_set1_epi8(0x0F));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
        const __m128i nibbles = _mm_unpacklo_epi8(high, low);   // lane 2i: byte i's high nibble
        if (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)))) & step.digitLanes) break;
        const unsigned nonZero =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(nibbles, _mm_setzero_si128()))) & step.digitLanes;
        if (nonZero & step.unusedLanes) break;
        const int sign = PackedSignOf(record[step.at + 7] & 0x0F);
        if (sign == 0 || (sign < 0 && !step.isSigned)) break;
        alignas(16) char text[32];
        _mm_store_si128(reinterpret_cast<__m128i*>(text), _mm_add_epi8(nibbles, _mm_set1_epi8('0')));
        _mm_store_si128(reinterpret_cast<__m128i*>(text + 16), _mm_setzero_si128());
        const int first = nonZero != 0 ? __builtin_ctz(nonZero) : 15;
        const int wholeEnd = 15 - step.scale;
        *out = '-';
        out += sign < 0 && nonZero != 0;
        if (first < wholeEnd) {
            std::memcpy(out, text + first, 16);
            out += wholeEnd - first;
        } else {
            *out++ = '0';
        }
        if (step.scale == 0) return out;
        *out++ = '.';
        std::memcpy(out, text + wholeEnd, 16);
        return out + step.scale;
    }
#endif
    case DirectStep::kBinary: {
        const unsigned char* p = record + step.at;
        const int n = step.length;
        uint64_t value;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (n == 4) {
            uint32_t w;
            std::memcpy(&w, p, 4);
            value = step.bigEndian ? __builtin_bswap32(w) : w;
        } else if (n == 2) {
            uint16_t w;
            std::memcpy(&w, p, 2);
            value = step.bigEndian ? __builtin_bswap16(w) : w;
        } else if (n == 8) {
            std::memcpy(&value, p, 8);
            if (step.bigEndian) value = __builtin_bswap64(value);
        } else
#endif
        {
            value = step.bigEndian ? ReadBigEndian(p, n) : ReadLittleEndian(p, n);
        }
        value = ExtendBinary(value, n, step.isSigned);
        const bool negative = step.isSigned && (value >> 63) != 0;
        const uint64_t magnitude = negative ? 0 - value : value;
        if (magnitude < kTenDigits) return PutSmallInteger(out, negative, magnitude);
        return PutDecimal(out, negative, magnitude, 0);
    }
    case DirectStep::kAsciiText: {
        if (!PlainAscii(record, step, false)) break;
        char* end = out + step.length;
        std::memcpy(out, record + step.at, static_cast<size_t>(step.length));
        if (options_.trim) {
            while (end > out && end[-1] == ' ') --end;
        }
        // Blank text trimmed to nothing is "", not the empty field of an absent value.
        if (end == out) {
            *end++ = '"';
            *end++ = '"';
        }
        return end;
    }
    default: break;
    }
    return CsvCellInto(*step.field, record, out);
}

char* ValueCodec::JsonCellInto(const DirectPlan& row, const DirectStep& step, const unsigned char* record, char* out) {
    if (step.op != DirectStep::kAsciiText) {
        if (step.field->kind == Field::kText || step.field->kind == Field::kNational) {
            return JsonCellInto(*step.field, record, out);
        }
        return CsvCellInto(row, step, record, out);
    }
    if (!PlainAscii(record, step, true)) return JsonCellInto(*step.field, record, out);
    *out++ = '"';
    char* end = out + step.length;
    std::memcpy(out, record + step.at, static_cast<size_t>(step.length));
    if (options_.trim) {
        while (end > out && end[-1] == ' ') --end;
    }
    *end++ = '"';
    return end;
}

char* ValueCodec::CsvRowInto(const DirectPlan& row, const unsigned char* record, char* out, const std::string& lineEnd) {
    for (const DirectStep& step : row.steps) {
        out = CsvCellInto(row, step, record, out);
        if (out == nullptr) return nullptr;
        *out++ = ',';
    }
    // The last comma gives way to the line end.
    if (!row.steps.empty()) --out;
    std::memcpy(out, lineEnd.data(), lineEnd.size());
    return out + lineEnd.size();
}

}  // namespace quillbox
