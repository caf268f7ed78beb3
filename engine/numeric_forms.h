// numeric_forms: the byte rules of the stored number forms, kept once: two's
// complement binary of 1 to 8 bytes in either byte order, packed decimal (two digit
// nibbles a byte, the sign in the last nibble) and zoned decimal (one digit a byte in
// its low four bits, the zone in the high four).
//
// Two kinds of reader use them. A strict one checks every byte and names the first
// that is wrong (CheckPacked, CheckZoned return its offset); the record object's
// lenient readers take whatever the bytes hold by fixed rules (ReadPackedLenient,
// ReadZonedLenient). Both accumulate digits with the same steps. Values are unsigned
// 64-bit magnitudes or bit patterns and wrap modulo 2 to the 64th; the caller bounds
// the digit count where that matters.
//
// Everything here is inline and allocates nothing, for use once a cell in the loops
// over a data file's records.
#ifndef COBCPY_NUMERIC_FORMS_H
#define COBCPY_NUMERIC_FORMS_H

#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define QB_NUMERIC_INLINE inline __attribute__((always_inline))
#else
#define QB_NUMERIC_INLINE inline
#endif

// ---------------------------------------------------------------------------------
// Binary

// `count` bytes (0 to 8), the first one most significant, as an unsigned number.
QB_NUMERIC_INLINE uint64_t ReadBigEndian(const unsigned char* bytes, int count) {
    switch (count) {
    case 2:
        return (uint64_t{bytes[0]} << 8) | bytes[1];
    case 4:
        return (uint64_t{bytes[0]} << 24) | (uint64_t{bytes[1]} << 16) | (uint64_t{bytes[2]} << 8) | bytes[3];
    default: {
        uint64_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
        return value;
    }
    }
}

// `count` bytes (0 to 8), the last one most significant, as an unsigned number.
QB_NUMERIC_INLINE uint64_t ReadLittleEndian(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// The low `count` bytes (1 to 8) of `value` as a number of that many bytes reads back:
// sign-extended when `isSigned`, zero-extended otherwise; 0 for a count of 0 or less.
QB_NUMERIC_INLINE uint64_t ExtendBinary(uint64_t value, int count, bool isSigned) {
    if (count >= 8) return value;
    if (count <= 0) return 0;
    const int bits = count * 8;
    uint64_t low = value & ((uint64_t{1} << bits) - 1);
    if (isSigned && (low >> (bits - 1)) != 0) low |= ~uint64_t{0} << bits;
    return low;
}

// Whether `value`, read as a signed or unsigned number, fits `count` bytes (1 to 8)
// of two's complement unchanged.
QB_NUMERIC_INLINE bool FitsBinary(uint64_t value, int count, bool isSigned) {
    return ExtendBinary(value, count, isSigned) == value;
}

// Stores the low-order bytes of `value` in `length` bytes, the last one least
// significant; bytes beyond the eighth (counted from the least significant) take
// `fill` (0xFF continues a negative number, 0x00 a positive one).
QB_NUMERIC_INLINE void WriteBigEndian(unsigned char* bytes, int length, uint64_t value, unsigned char fill) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    switch (length) {
    case 2: {
        const uint16_t word = __builtin_bswap16(static_cast<uint16_t>(value));
        std::memcpy(bytes, &word, 2);
        return;
    }
    case 4: {
        const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(value));
        std::memcpy(bytes, &word, 4);
        return;
    }
    case 8: {
        const uint64_t word = __builtin_bswap64(value);
        std::memcpy(bytes, &word, 8);
        return;
    }
    default: break;
    }
#endif
    for (int i = 0; i < length; ++i) bytes[length - 1 - i] = i < 8 ? static_cast<unsigned char>(value >> (8 * i)) : fill;
}

// The same with the first byte least significant.
QB_NUMERIC_INLINE void WriteLittleEndian(unsigned char* bytes, int length, uint64_t value, unsigned char fill) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    switch (length) {
    case 2: {
        const uint16_t word = static_cast<uint16_t>(value);
        std::memcpy(bytes, &word, 2);
        return;
    }
    case 4: {
        const uint32_t word = static_cast<uint32_t>(value);
        std::memcpy(bytes, &word, 4);
        return;
    }
    case 8: std::memcpy(bytes, &value, 8); return;
    default: break;
    }
#endif
    for (int i = 0; i < length; ++i) bytes[i] = i < 8 ? static_cast<unsigned char>(value >> (8 * i)) : fill;
}

// ---------------------------------------------------------------------------------
// Digits a word at a time (little-endian machines)

namespace numeric_forms_detail {

constexpr uint64_t kLanes = 0x0101010101010101ull;

// 10^0 to 10^19 (the largest power of ten below 2^64).
constexpr uint64_t kTens[20] = {1ull,
                                10ull,
                                100ull,
                                1000ull,
                                10000ull,
                                100000ull,
                                1000000ull,
                                10000000ull,
                                100000000ull,
                                1000000000ull,
                                10000000000ull,
                                100000000000ull,
                                1000000000000ull,
                                10000000000000ull,
                                100000000000000ull,
                                1000000000000000ull,
                                10000000000000000ull,
                                100000000000000000ull,
                                1000000000000000000ull,
                                10000000000000000000ull};

// The eight decimal digits of `value` (below 10^8), one a byte, the most significant in
// the first byte in memory. No division: the quotients by 100 of the two 32-bit lanes
// (each below 10^4) are (x * 10486) >> 20, those by 10 of the four 16-bit lanes (each
// below 100) are (x * 103) >> 10, both exact over those ranges, and no lane's product
// reaches the next lane.
QB_NUMERIC_INLINE uint64_t DigitBytes(uint32_t value) {
    uint64_t v = (value / 10000u) | (uint64_t{value % 10000u} << 32);
    uint64_t q = ((v * 10486) >> 20) & 0x0000007F0000007Full;
    v = q | ((v - q * 100) << 16);
    q = ((v * 103) >> 10) & 0x000F000F000F000Full;
    return q | ((v - q * 10) << 8);
}

// The last `count` (1 to 8) of the eight bytes of `word` (in memory order) stored at
// `bytes`; nothing outside them is written.
QB_NUMERIC_INLINE void StoreLastBytes(unsigned char* bytes, int count, uint64_t word) {
    word >>= 8 * (8 - count);
    if (count >= 4) {
        const uint32_t head = static_cast<uint32_t>(word);
        const uint32_t tail = static_cast<uint32_t>(word >> (8 * (count - 4)));
        std::memcpy(bytes, &head, 4);
        std::memcpy(bytes + count - 4, &tail, 4);
        return;
    }
    bytes[0] = static_cast<unsigned char>(word);
    if (count > 1) bytes[1] = static_cast<unsigned char>(word >> 8);
    if (count > 2) bytes[2] = static_cast<unsigned char>(word >> 16);
}

// Bytes b0..b7 (each below 16, in memory order) as the four bytes b0 b1, b2 b3, ... of
// two nibbles each, the first byte's in the high nibble.
QB_NUMERIC_INLINE uint32_t PackNibblePairs(uint64_t x) {
    uint64_t p = ((x & 0x00FF00FF00FF00FFull) << 4) | ((x >> 8) & 0x00FF00FF00FF00FFull);
    p = (p | (p >> 8)) & 0x0000FFFF0000FFFFull;
    return static_cast<uint32_t>(p | (p >> 16));
}

// Stores a number of 16 digits, `high` its first eight and `low` its last eight (one a
// byte, below 10, in memory order), as packed decimal in `length` bytes (1 to 8): its
// last 2 * `length` - 1 digits and the `sign` nibble. The digits before those must be 0.
QB_NUMERIC_INLINE void StorePackedDigits(unsigned char* bytes, int length, uint64_t high, uint64_t low, unsigned sign) {
    // The 16 digits shifted by one to end in the sign, then paired into bytes; the item
    // takes the last ones.
    const uint64_t first = (high >> 8) | (low << 56);
    const uint64_t second = (low >> 8) | (uint64_t{sign & 0x0Fu} << 56);
    StoreLastBytes(bytes, length, PackNibblePairs(first) | (uint64_t{PackNibblePairs(second)} << 32));
}

// The same number's last `length` (1 to 16) digits as zoned digits, the zone of `zero`
// (whose low four bits are 0) put in every byte at once.
QB_NUMERIC_INLINE void StoreZonedDigits(unsigned char* bytes, int length, uint64_t high, uint64_t low, unsigned char zero) {
    const uint64_t zones = kLanes * zero;
    if (length <= 8) {
        StoreLastBytes(bytes, length, low | zones);
        return;
    }
    const uint64_t last = low | zones;
    StoreLastBytes(bytes, length - 8, high | zones);
    std::memcpy(bytes + length - 8, &last, 8);
}

}  // namespace numeric_forms_detail

// ---------------------------------------------------------------------------------
// Packed decimal

// The sign nibbles written: positive and negative for signed items, unsigned otherwise.
constexpr unsigned PACKED_POSITIVE = 0xC;
constexpr unsigned PACKED_NEGATIVE = 0xD;
constexpr unsigned PACKED_UNSIGNED = 0xF;

// What a sign nibble says: -1 for the negative signs B and D, +1 for the positive or
// unsigned A, C, E and F, 0 for a digit (no sign).
QB_NUMERIC_INLINE int PackedSignOf(unsigned nibble) {
    if (nibble <= 9) return 0;
    return (nibble == 0xB || nibble == 0xD) ? -1 : 1;
}

// `value` * 100 + the byte's high nibble * 10 + its low nibble: one byte of digits.
// A nibble above 9 counts its own value, as the lenient reading takes it.
QB_NUMERIC_INLINE uint64_t AppendPackedByte(uint64_t value, unsigned byte) {
    return value * 100 + (byte >> 4) * 10 + (byte & 0x0Fu);
}

// Strict reading of a packed number of `length` bytes: its digits into `magnitude` and
// its last nibble into `sign`. Returns -1 when every digit nibble is 0-9, else the
// offset of the first byte holding one that is not; the sign nibble is left to the
// caller to judge (PackedSignOf). No bytes read as 0 with the sign nibble 0, no sign.
QB_NUMERIC_INLINE int CheckPacked(const unsigned char* bytes, int length, uint64_t& magnitude, unsigned& sign) {
    if (length <= 0) {
        magnitude = 0;
        sign = 0;
        return -1;
    }
    uint64_t value = 0;
    const int last = length - 1;
    for (int i = 0; i < last; ++i) {
        const unsigned b = bytes[i];
        if ((b >> 4) > 9 || (b & 0x0Fu) > 9) return i;
        value = AppendPackedByte(value, b);
    }
    const unsigned high = bytes[last] >> 4;
    if (high > 9) return last;
    magnitude = value * 10 + high;
    sign = bytes[last] & 0x0Fu;
    return -1;
}

// The lenient reading of packed bytes: for each byte, value * 10 + its high nibble;
// then value * 10 + its low nibble when that is 0-9, or the value negated when it is
// D; any other low nibble leaves the value as it is. Two bytes of digits a step.
QB_NUMERIC_INLINE uint64_t ReadPackedLenient(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const unsigned first = bytes[i];
        const unsigned second = bytes[i + 1];
        if ((first & 0x0Fu) > 9 || (second & 0x0Fu) > 9) break;
        value = AppendPackedByte(AppendPackedByte(value, first), second);
    }
    for (; i < count; ++i) {
        const unsigned high = bytes[i] >> 4;
        const unsigned low = bytes[i] & 0x0Fu;
        if (low <= 9) {
            value = value * 100 + high * 10 + low;
        } else {
            value = value * 10 + high;
            if (low == 0x0D) value = 0 - value;
        }
    }
    return value;
}

// Stores `magnitude` as packed decimal in `length` bytes: zeros, then the last digit
// and the `sign` nibble in the last byte, the digits before it two a byte going
// backwards. Returns whether every digit fitted (false also for a length of 0 with a
// magnitude other than 0, when nothing is written).
QB_NUMERIC_INLINE bool WritePacked(unsigned char* bytes, int length, uint64_t magnitude, unsigned sign) {
    if (length <= 0) return magnitude == 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (length <= 8 && magnitude < numeric_forms_detail::kTens[2 * length - 1]) {
        // Up to 15 digits that fit: the magnitude's 16 digits (the first is 0).
        using numeric_forms_detail::DigitBytes;
        const uint64_t high = magnitude < 100000000u ? 0 : DigitBytes(static_cast<uint32_t>(magnitude / 100000000u));
        const uint64_t low = DigitBytes(static_cast<uint32_t>(magnitude % 100000000u));
        numeric_forms_detail::StorePackedDigits(bytes, length, high, low, sign);
        return true;
    }
#endif
    std::memset(bytes, 0, static_cast<size_t>(length));
    uint64_t rest = magnitude;
    bytes[length - 1] = static_cast<unsigned char>(((rest % 10) << 4) | (sign & 0x0Fu));
    rest /= 10;
    // Two digits a byte: one division by 100 each.
    for (int i = length - 2; i >= 0 && rest != 0; --i) {
        const unsigned pair = static_cast<unsigned>(rest % 100);
        rest /= 100;
        bytes[i] = static_cast<unsigned char>(((pair / 10) << 4) | (pair % 10));
    }
    return rest == 0;
}

// ---------------------------------------------------------------------------------
// Zoned decimal

// `value` * 10 + the byte's low four bits: one zoned digit.
QB_NUMERIC_INLINE uint64_t AppendZonedDigit(uint64_t value, unsigned byte) { return value * 10 + (byte & 0x0Fu); }

// The byte's zone (high four bits, in place) and digit.
QB_NUMERIC_INLINE unsigned ZoneOf(unsigned byte) { return byte & 0xF0u; }
QB_NUMERIC_INLINE unsigned DigitOf(unsigned byte) { return byte & 0x0Fu; }

// The byte with its digit kept and `zone` (its high four bits) as the zone.
QB_NUMERIC_INLINE unsigned char WithZone(unsigned byte, unsigned zone) {
    return static_cast<unsigned char>((byte & 0x0Fu) | (zone & 0xF0u));
}

// The digits of `count` bytes, the low four bits of each, with no check.
QB_NUMERIC_INLINE uint64_t ReadZonedDigits(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = AppendZonedDigit(value, bytes[i]);
    return value;
}

namespace numeric_forms_detail {

// Eight zoned bytes, the first in the lowest byte: their digits as one decimal number
// (the low four bits of each, the first most significant). The lanes never carry into
// each other: a lane holds at most 15, a pair at most 165, four at most 16665.
QB_NUMERIC_INLINE uint64_t EightDigits(uint64_t chunk) {
    uint64_t v = chunk & (kLanes * 0x0F);
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFull;
    return v;
}

// The lanes (bit 7 of each) of eight bytes whose zone has bit 0x10 and is neither 0x3
// nor 0xF: the zones the lenient reading takes as negative.
QB_NUMERIC_INLINE uint64_t NegativeZoneLanes(uint64_t chunk) {
    const uint64_t zones = (chunk >> 4) & (kLanes * 0x0F);
    const uint64_t odd = (zones & kLanes) << 7;
    const uint64_t notThree = ((zones ^ (kLanes * 0x03)) + kLanes * 0x7F) & (kLanes * 0x80);
    const uint64_t notFifteen = ((zones ^ (kLanes * 0x0F)) + kLanes * 0x7F) & (kLanes * 0x80);
    return odd & notThree & notFifteen;
}

// The lanes (bit 7 of each) of eight bytes that are not `zero` to `zero` + 9, with
// `zero` in every lane of `zeros`. A lane x (the byte XOR its zero) is good when it is
// at most 9: then neither its top bit nor that of (x & 0x7F) + 0x76 is set, and the
// sum stays within its lane.
QB_NUMERIC_INLINE uint64_t BadDigitLanes(uint64_t chunk, uint64_t zeros) {
    const uint64_t x = chunk ^ zeros;
    return (x | ((x & (kLanes * 0x7F)) + kLanes * 0x76)) & (kLanes * 0x80);
}

}  // namespace numeric_forms_detail

// The lenient reading of zoned bytes: value * 10 + the low four bits of each byte, and
// `negative` set when any byte's zone has bit 0x10 and is neither 0x3 nor 0xF. Eight
// bytes a step on little-endian machines, with the same result as one at a time.
QB_NUMERIC_INLINE uint64_t ReadZonedLenient(const unsigned char* digits, int count, bool& negative) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    using numeric_forms_detail::EightDigits;
    using numeric_forms_detail::NegativeZoneLanes;
    uint64_t value = 0;
    uint64_t negativeLanes = 0;
    const int head = count & 7;
    if (head != 0) {
        // The leading bytes, placed last in the lane as if zero bytes stood before;
        // loaded from inside the item only.
        uint64_t chunk;
        if (count >= 8) {
            std::memcpy(&chunk, digits, 8);
            chunk <<= 8 * (8 - head);
        } else if (count >= 4) {
            uint32_t first;
            uint32_t last;
            std::memcpy(&first, digits, 4);
            std::memcpy(&last, digits + count - 4, 4);
            chunk = (uint64_t{last} << 32) | ((uint64_t{first} << (8 * (8 - count))) & 0xFFFFFFFFull);
        } else {
            chunk = 0;
            for (int i = 0; i < head; ++i) chunk |= uint64_t{digits[i]} << (8 * (8 - head + i));
        }
        negativeLanes |= NegativeZoneLanes(chunk);
        value = EightDigits(chunk);
    }
    for (int i = head; i < count; i += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, digits + i, 8);
        negativeLanes |= NegativeZoneLanes(chunk);
        value = value * 100000000ull + EightDigits(chunk);
    }
    negative = negativeLanes != 0;
    return value;
#else
    // Zones whose bit 0x10 is set, other than 0x3 and 0xF (bits 1, 5, 7, 9, 11, 13).
    constexpr unsigned kNegativeZoneMask = 0x2AA2;
    uint64_t value = 0;
    unsigned zones = 0;
    for (int i = 0; i < count; ++i) {
        value = AppendZonedDigit(value, digits[i]);
        zones |= kNegativeZoneMask >> (digits[i] >> 4);
    }
    negative = (zones & 1u) != 0;
    return value;
#endif
}

// Strict reading of `count` zoned digits whose digit characters are `zero` to `zero` + 9
// ('0' 0x30 in ASCII, 0xF0 in EBCDIC): their value into `value`. Returns -1 when every
// byte is such a digit, else the offset of the first that is not (`value` is then not
// set). The sign byte of an item is the caller's to judge (ZoneOf, DigitOf).
QB_NUMERIC_INLINE int CheckZoned(const unsigned char* bytes, int count, unsigned zero, uint64_t& value) {
    uint64_t result = 0;
    int i = 0;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t zeros = numeric_forms_detail::kLanes * (zero & 0xFFu);
    for (; i + 8 <= count; i += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, bytes + i, 8);
        const uint64_t bad = numeric_forms_detail::BadDigitLanes(chunk, zeros);
        if (bad != 0) return i + __builtin_ctzll(bad) / 8;
        result = result * 100000000ull + numeric_forms_detail::EightDigits(chunk);
    }
#endif
    for (; i < count; ++i) {
        const unsigned b = bytes[i];
        if (ZoneOf(b) != (zero & 0xF0u) || DigitOf(b) > 9) return i;
        result = AppendZonedDigit(result, b);
    }
    value = result;
    return -1;
}

// Stores `magnitude` as zoned digits in `length` bytes: `zero` characters, the digits
// right-aligned ('0' + digit for zero '0'). Returns whether every digit fitted.
QB_NUMERIC_INLINE bool WriteZoned(unsigned char* bytes, int length, uint64_t magnitude, unsigned char zero) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (length >= 1 && length <= 16 && (zero & 0x0Fu) == 0 && magnitude < numeric_forms_detail::kTens[length]) {
        // Digits that fit, eight a word.
        using numeric_forms_detail::DigitBytes;
        const uint64_t high = magnitude < 100000000u ? 0 : DigitBytes(static_cast<uint32_t>(magnitude / 100000000u));
        const uint64_t low = DigitBytes(static_cast<uint32_t>(magnitude % 100000000u));
        numeric_forms_detail::StoreZonedDigits(bytes, length, high, low, zero);
        return true;
    }
#endif
    if (length > 0) std::memset(bytes, zero, static_cast<size_t>(length));
    uint64_t rest = magnitude;
    int i = length - 1;
    // Two digits a step (one division by 100), then the last one.
    for (; i >= 1 && rest >= 10; i -= 2) {
        const unsigned pair = static_cast<unsigned>(rest % 100);
        rest /= 100;
        bytes[i] = static_cast<unsigned char>(zero + pair % 10);
        bytes[i - 1] = static_cast<unsigned char>(zero + pair / 10);
    }
    if (i >= 0 && rest != 0) {
        bytes[i] = static_cast<unsigned char>(zero + rest % 10);
        rest /= 10;
    }
    return rest == 0;
}

#undef QB_NUMERIC_INLINE

#endif
