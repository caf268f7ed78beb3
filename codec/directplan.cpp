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
// The digits read and written eight bytes at once lie first in the lowest byte.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif
constexpr uint64_t kTenDigits = 10000000000ull;

// The eight decimal digits of `v` (below 10^8), each a byte of 0 to 9, the first in the
// lowest byte: the two halves of four digits side by side in one 64-bit number, split
// into pairs, then into digits, by multiplications by reciprocals (exact for these
// ranges) and no division.
inline uint64_t EightDigitBytes(uint32_t v) {
    const uint64_t merged = (v / 10000) | (uint64_t{v % 10000} << 32);
    const uint64_t top = ((merged * 10486) >> 20) & ((0x7Full << 32) | 0x7Full);   // each half / 100
    const uint64_t bottom = merged - 100 * top;
    const uint64_t hundreds = (bottom << 16) + top;
    uint64_t tens = (hundreds * 103) >> 10;                                     // each pair / 10
    tens &= (0xFull << 48) | (0xFull << 32) | (0xFull << 16) | 0xFull;
    tens += (hundreds - 10 * tens) << 8;
    return tens;
}

// `magnitude` (below 10^10) written at `out`, a minus before it when `negative` and not
// zero; 16 bytes of room after its end.
inline char* PutSmallInteger(char* out, bool negative, uint64_t magnitude) {
    *out = '-';
    out += negative && magnitude != 0;
    const uint32_t high = static_cast<uint32_t>(magnitude / 100000000);   // 0 to 99
    const uint64_t digits = EightDigitBytes(static_cast<uint32_t>(magnitude - uint64_t{high} * 100000000));
    if (high != 0) {
        if (high >= 10) {
            out[0] = static_cast<char>('0' + high / 10);
            out[1] = static_cast<char>('0' + high % 10);
            out += 2;
        } else {
            *out++ = static_cast<char>('0' + high);
        }
        const uint64_t chars = digits | (kOnes * 0x30);
        std::memcpy(out, &chars, 8);
        return out + 8;
    }
    if (digits == 0) {
        *out = '0';
        return out + 1;
    }
    // From the first digit that is not zero.
    const int lead = __builtin_ctzll(digits) / 8;
    const uint64_t chars = (digits | (kOnes * 0x30)) >> (8 * lead);
    std::memcpy(out, &chars, 8);
    return out + 8 - lead;
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

// `n` bytes of an item copied from `from` to `out` in whole words, the last word
// overlapping the one before it (nothing read beyond the item); their end.
inline char* CopyItem(char* out, const unsigned char* from, size_t n) {
    if (n >= 16) {
        size_t i = 0;
        for (; i + 16 <= n; i += 16) std::memcpy(out + i, from + i, 16);
        if (i < n) std::memcpy(out + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(out, from, 8);
        std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + n - 4, from + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(from[i]);
    }
    return out + n;
}

// `n` bytes of a text with DirectJson::kSlack bytes after it copied to `out` in blocks
// of 16 (up to 15 bytes beyond its end written too, for the next value to overwrite).
inline char* CopyPiece(char* out, const char* from, size_t n) {
    for (size_t i = 0; i < n; i += 16) std::memcpy(out + i, from + i, 16);
    return out + n;
}

// Whether `n` bytes of UTF-8 at `p` hold one that a JSON string escapes (quote,
// backslash, control characters).
inline bool NeedsEscapes(const char* p, size_t n) {
#if QB_DIRECT_SSE2
    if (n >= 16) {
        auto special = [](const char* q) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            // Control characters: below 0x20 among the bytes a signed compare puts at zero or above.
            const __m128i control = _mm_andnot_si128(_mm_cmplt_epi8(v, _mm_setzero_si128()), _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
            const __m128i hit =
                _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
            return static_cast<unsigned>(_mm_movemask_epi8(hit));
        };
        unsigned any = 0;
        size_t i = 0;
        for (; i + 16 <= n; i += 16) any |= special(p + i);
        if (i < n) any |= special(p + n - 16);
        return any != 0;
    }
#endif
    return NeedsJsonEscapes(p, n);
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
            if (!kLittleEndian || (field.isSigned && field.signSeparate) || count < 1 || count > 8 || end < 8) break;
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
        case Field::kNational: step.op = DirectStep::kNational; break;
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
        if (kLittleEndian && magnitude < kTenDigits) return PutSmallInteger(out, negative, magnitude);
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

[[gnu::always_inline]] inline char* ValueCodec::JsonDirectCell(const DirectPlan& row, const DirectStep& step,
                                                                 const unsigned char* record, char* out) {
    switch (step.op) {
    case DirectStep::kAsciiText: {
        if (!PlainAscii(record, step, true)) return JsonCellInto(*step.field, record, out);
        *out++ = '"';
        char* end = CopyItem(out, record + step.at, static_cast<size_t>(step.length));
        if (options_.trim) {
            while (end > out && end[-1] == ' ') --end;
        }
        *end++ = '"';
        return end;
    }
    case DirectStep::kNational: {
        *out++ = '"';
        char* end = nullptr;
        if (text_->DecodeNationalInto(record + step.at, static_cast<size_t>(step.length), out, end) != TextCodec::kWritten) {
            return nullptr;
        }
        if (options_.trim) {
            // Trailing blanks: spaces and full-width spaces.
            for (;;) {
                if (end > out && end[-1] == ' ') --end;
                else if (end - out >= 3 && std::memcmp(end - 3, "\xE3\x80\x80", 3) == 0) end -= 3;
                else break;
            }
        }
        if (NeedsEscapes(out, static_cast<size_t>(end - out))) return nullptr;
        *end++ = '"';
        return end;
    }
    default: break;
    }
    if (step.field->kind == Field::kText) return JsonCellInto(*step.field, record, out);
    return CsvCellInto(row, step, record, out);
}

char* ValueCodec::JsonCellInto(const DirectPlan& row, const DirectStep& step, const unsigned char* record, char* out) {
    return JsonDirectCell(row, step, record, out);
}

char* ValueCodec::JsonRowInto(const DirectPlan& row, const DirectJson& json, const unsigned char* record, char* out) {
    const char* text = json.text.data();
    for (const DirectJson::Piece& piece : json.pieces) {
        out = CopyPiece(out, text + piece.at, piece.length);
        if (piece.column < 0) {
            std::memcpy(out, "null", 4);
            out += 4;
            continue;
        }
        out = JsonDirectCell(row, row.steps[static_cast<size_t>(piece.column)], record, out);
        if (out == nullptr) return nullptr;
    }
    return CopyPiece(out, text + json.afterAt, json.afterLength);
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
