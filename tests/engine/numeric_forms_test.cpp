// The stored number forms' byte rules: binary in both byte orders, packed decimal and
// zoned decimal, strict and lenient, at their edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "numeric_forms.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(BinaryForm, ReadBothOrdersAndExtend) {
    const Bytes b = {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF};
    EXPECT_EQ(0x8001u, ReadBigEndian(b.data(), 2));
    EXPECT_EQ(0x0180u, ReadLittleEndian(b.data(), 2));
    EXPECT_EQ(0x80010203u, ReadBigEndian(b.data(), 4));
    EXPECT_EQ(0x800102u, ReadBigEndian(b.data(), 3));
    EXPECT_EQ(0x80010203040506FFull, ReadBigEndian(b.data(), 8));
    EXPECT_EQ(0xFF06050403020180ull, ReadLittleEndian(b.data(), 8));
    EXPECT_EQ(0u, ReadBigEndian(b.data(), 0));
    EXPECT_EQ(0u, ReadLittleEndian(b.data(), 0));

    // Sign extension of every width; a count of 8 or more leaves the value, 0 gives 0.
    EXPECT_EQ(~uint64_t{0} << 15 | 0x0001u, ExtendBinary(0x8001u, 2, true));
    EXPECT_EQ(0x8001u, ExtendBinary(0x8001u, 2, false));
    EXPECT_EQ(0x7Fu, ExtendBinary(0x12347Fu, 1, true));
    EXPECT_EQ(static_cast<uint64_t>(-1), ExtendBinary(0xFFFFFFu, 3, true));
    EXPECT_EQ(0xFFFFFFFFFFFFFFFEull, ExtendBinary(0xFFFFFFFFFFFFFFFEull, 8, true));
    EXPECT_EQ(0u, ExtendBinary(0x1234u, 0, true));
    EXPECT_TRUE(FitsBinary(static_cast<uint64_t>(-32768), 2, true));
    EXPECT_FALSE(FitsBinary(32768, 2, true));
    EXPECT_TRUE(FitsBinary(65535, 2, false));
    EXPECT_FALSE(FitsBinary(static_cast<uint64_t>(-1), 2, false));
}

TEST(BinaryForm, WriteBothOrdersWithFillBeyondEightBytes) {
    Bytes b(10, 0xAA);
    WriteBigEndian(b.data(), 2, static_cast<uint64_t>(-2), 0xFF);
    EXPECT_EQ((Bytes{0xFF, 0xFE, 0xAA}), Bytes(b.begin(), b.begin() + 3));
    WriteLittleEndian(b.data(), 2, 258, 0x00);
    EXPECT_EQ((Bytes{0x02, 0x01, 0xAA}), Bytes(b.begin(), b.begin() + 3));
    // Ten bytes: the value's eight and two bytes of fill at the high-order end.
    WriteBigEndian(b.data(), 10, static_cast<uint64_t>(-1), 0xFF);
    EXPECT_EQ(Bytes(10, 0xFF), b);
    WriteLittleEndian(b.data(), 10, 0x0102030405060708ull, 0x00);
    EXPECT_EQ((Bytes{8, 7, 6, 5, 4, 3, 2, 1, 0, 0}), b);
    WriteBigEndian(b.data(), 10, 0x0102030405060708ull, 0x00);
    EXPECT_EQ((Bytes{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}), b);
    // Written and read back through every width.
    for (int n = 1; n <= 8; ++n) {
        const uint64_t value = static_cast<uint64_t>(-3);
        WriteBigEndian(b.data(), n, value, 0xFF);
        EXPECT_EQ(value, ExtendBinary(ReadBigEndian(b.data(), n), n, true)) << n;
        WriteLittleEndian(b.data(), n, value, 0xFF);
        EXPECT_EQ(value, ExtendBinary(ReadLittleEndian(b.data(), n), n, true)) << n;
    }
}

TEST(PackedForm, StrictReadingNamesTheFirstBadByte) {
    uint64_t magnitude = 99;
    unsigned sign = 0;
    const Bytes good = {0x12, 0x34, 0x5D};
    EXPECT_EQ(-1, CheckPacked(good.data(), 3, magnitude, sign));
    EXPECT_EQ(12345u, magnitude);
    EXPECT_EQ(0xDu, sign);
    EXPECT_EQ(-1, PackedSignOf(sign));
    const Bytes one = {0x7F};
    EXPECT_EQ(-1, CheckPacked(one.data(), 1, magnitude, sign));
    EXPECT_EQ(7u, magnitude);
    EXPECT_EQ(1, PackedSignOf(sign));
    // Ten bytes: the largest 19 digits.
    const Bytes wide = {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9C};
    EXPECT_EQ(-1, CheckPacked(wide.data(), 10, magnitude, sign));
    EXPECT_EQ(9999999999999999999ull, magnitude);
    // A bad high nibble, a bad low nibble, a bad digit in the sign byte.
    const Bytes badHigh = {0x12, 0xA4, 0x5C};
    const Bytes badLow = {0x1B, 0x34, 0x5C};
    const Bytes badLast = {0x12, 0x34, 0xFC};
    EXPECT_EQ(1, CheckPacked(badHigh.data(), 3, magnitude, sign));
    EXPECT_EQ(0, CheckPacked(badLow.data(), 3, magnitude, sign));
    EXPECT_EQ(2, CheckPacked(badLast.data(), 3, magnitude, sign));
    // No bytes: no digit and no sign.
    EXPECT_EQ(-1, CheckPacked(good.data(), 0, magnitude, sign));
    EXPECT_EQ(0u, magnitude);
    EXPECT_EQ(0, PackedSignOf(sign));
    // Sign nibbles.
    EXPECT_EQ(0, PackedSignOf(9));
    EXPECT_EQ(-1, PackedSignOf(0xB));
    for (unsigned n : {0xAu, 0xCu, 0xEu, 0xFu}) EXPECT_EQ(1, PackedSignOf(n)) << n;
}

TEST(PackedForm, LenientReadingOfAnyBytes) {
    const Bytes negative = {0x12, 0x3D};
    EXPECT_EQ(static_cast<uint64_t>(-123), ReadPackedLenient(negative.data(), 2));
    const Bytes unsignedSign = {0x12, 0x3F};
    EXPECT_EQ(123u, ReadPackedLenient(unsignedSign.data(), 2));
    // A D in the middle negates what came before; a nibble above 9 in the high half
    // counts its own value.
    const Bytes middle = {0x1D, 0x23};
    EXPECT_EQ(static_cast<uint64_t>(-1) * 100 + 23, ReadPackedLenient(middle.data(), 2));
    const Bytes high = {0xA1};
    EXPECT_EQ(101u, ReadPackedLenient(high.data(), 1));
    EXPECT_EQ(0u, ReadPackedLenient(high.data(), 0));
    // The two-byte steps give what one byte a step gives, for every byte pair.
    for (unsigned first = 0; first < 256; first += 7) {
        for (unsigned second = 0; second < 256; ++second) {
            const Bytes pair = {static_cast<unsigned char>(first), static_cast<unsigned char>(second), 0x4C};
            uint64_t expected = 0;
            for (unsigned char b : pair) {
                expected = expected * 10 + (b >> 4);
                if ((b & 0x0F) <= 9) expected = expected * 10 + (b & 0x0F);
                else if ((b & 0x0F) == 0x0D) expected = 0 - expected;
            }
            ASSERT_EQ(expected, ReadPackedLenient(pair.data(), 3)) << first << " " << second;
        }
    }
}

TEST(PackedForm, WritingFitsOrCuts) {
    Bytes b(3, 0xEE);
    EXPECT_TRUE(WritePacked(b.data(), 3, 123, PACKED_NEGATIVE));
    EXPECT_EQ((Bytes{0x00, 0x12, 0x3D}), b);
    EXPECT_TRUE(WritePacked(b.data(), 3, 99999, PACKED_POSITIVE));
    EXPECT_EQ((Bytes{0x99, 0x99, 0x9C}), b);
    EXPECT_FALSE(WritePacked(b.data(), 3, 123456, PACKED_UNSIGNED));
    EXPECT_EQ((Bytes{0x23, 0x45, 0x6F}), b);
    EXPECT_TRUE(WritePacked(b.data(), 1, 0, PACKED_UNSIGNED));
    EXPECT_EQ(0x0F, b[0]);
    // No bytes: only 0 fits, and nothing is written.
    b.assign(1, 0xEE);
    EXPECT_TRUE(WritePacked(b.data(), 0, 0, PACKED_POSITIVE));
    EXPECT_FALSE(WritePacked(b.data(), 0, 5, PACKED_POSITIVE));
    EXPECT_EQ(0xEE, b[0]);
    // The largest magnitude (20 digits) needs eleven bytes; read back strictly.
    Bytes wide(11);
    EXPECT_FALSE(WritePacked(wide.data(), 10, UINT64_MAX, PACKED_POSITIVE));
    EXPECT_TRUE(WritePacked(wide.data(), 11, UINT64_MAX, PACKED_POSITIVE));
    uint64_t magnitude = 0;
    unsigned sign = 0;
    EXPECT_EQ(-1, CheckPacked(wide.data(), 11, magnitude, sign));
    EXPECT_EQ(UINT64_MAX, magnitude);
}

// The strict zoned reading with a wrong byte at every place of items of 1 to 20
// bytes, in ASCII and EBCDIC digits: the eight-byte steps find the same byte as a
// byte-by-byte check.
TEST(ZonedForm, StrictReadingFindsEveryBadByte) {
    for (unsigned zero : {0x30u, 0xF0u}) {
        for (int length = 1; length <= 20; ++length) {
            Bytes digits(static_cast<size_t>(length));
            uint64_t expected = 0;
            for (int i = 0; i < length; ++i) {
                digits[static_cast<size_t>(i)] = static_cast<unsigned char>(zero + (i * 7 + 3) % 10);
                expected = expected * 10 + (i * 7 + 3) % 10;
            }
            uint64_t value = 0;
            ASSERT_EQ(-1, CheckZoned(digits.data(), length, zero, value)) << length;
            EXPECT_EQ(expected, value) << length;
            for (int bad = 0; bad < length; ++bad) {
                for (unsigned char wrong : {static_cast<unsigned char>(zero + 10), static_cast<unsigned char>(zero - 0x10 + 5),
                                            static_cast<unsigned char>(0x80 | (zero + 5)), static_cast<unsigned char>(' '),
                                            static_cast<unsigned char>(zero ^ 0x30 ^ 0xF0)}) {
                    Bytes broken = digits;
                    broken[static_cast<size_t>(bad)] = wrong;
                    if (wrong >= zero && wrong <= zero + 9) continue;
                    EXPECT_EQ(bad, CheckZoned(broken.data(), length, zero, value))
                        << "length " << length << " at " << bad << " byte " << int(wrong);
                }
            }
        }
    }
}

TEST(ZonedForm, LenientReadingMatchesTheByteRule) {
    // Every byte value at every place of items of 1 to 18 bytes: the eight-byte steps
    // give the value and the sign that one byte a step gives.
    for (int length = 1; length <= 18; ++length) {
        for (int at = 0; at < length; ++at) {
            for (unsigned byte = 0; byte < 256; ++byte) {
                Bytes digits(static_cast<size_t>(length), '7');
                digits[static_cast<size_t>(at)] = static_cast<unsigned char>(byte);
                uint64_t expected = 0;
                bool expectedNegative = false;
                for (unsigned char b : digits) {
                    expected = expected * 10 + (b & 0x0F);
                    unsigned zone = b >> 4;
                    if ((zone & 1) && zone != 0x3 && zone != 0xF) expectedNegative = true;
                }
                bool negative = false;
                ASSERT_EQ(expected, ReadZonedLenient(digits.data(), length, negative)) << length << " " << at << " " << byte;
                ASSERT_EQ(expectedNegative, negative) << length << " " << at << " " << byte;
            }
        }
    }
    bool negative = true;
    EXPECT_EQ(0u, ReadZonedLenient(nullptr, 0, negative));
    EXPECT_FALSE(negative);
}

TEST(ZonedForm, WritingAndZones) {
    Bytes b(5, 0xEE);
    EXPECT_TRUE(WriteZoned(b.data(), 5, 123, '0'));
    EXPECT_EQ(std::string("00123"), std::string(b.begin(), b.end()));
    EXPECT_FALSE(WriteZoned(b.data(), 2, 345, '0'));
    EXPECT_EQ(std::string("45123"), std::string(b.begin(), b.end()));
    EXPECT_TRUE(WriteZoned(b.data(), 0, 0, '0'));
    EXPECT_FALSE(WriteZoned(b.data(), 0, 1, '0'));
    EXPECT_TRUE(WriteZoned(b.data(), 3, 42, 0xF0));
    EXPECT_EQ((Bytes{0xF0, 0xF4, 0xF2}), Bytes(b.begin(), b.begin() + 3));
    EXPECT_EQ(0x53, WithZone('3', 0x50));
    EXPECT_EQ(0xD3, WithZone(0xF3, 0xD0));
    EXPECT_EQ(0xD0u, ZoneOf(0xD3));
    EXPECT_EQ(3u, DigitOf(0xD3));
    const Bytes digits = {'1', '2', 0x53};
    EXPECT_EQ(123u, ReadZonedDigits(digits.data(), 3));
}

// The writers store whole words for the usual lengths; every length from 0 to 20 bytes,
// values at the edges of each digit count and in between, against a digit at a time:
// the same bytes, the same result, and nothing written outside the item.
TEST(NumberForms, WritersMatchDigitAtATimeAndStayInTheItem) {
    std::vector<uint64_t> values = {0, 1, 9, 10, 99, 100, 12345678, 99999999, 100000000, 123456789012345ull,
                                    999999999999999ull, 1000000000000000ull, 9999999999999999ull,
                                    10000000000000000ull, UINT64_MAX};
    uint64_t power = 1;
    for (int d = 1; d < 20; ++d) {
        power *= 10;
        values.push_back(power - 1);
        values.push_back(power);
        values.push_back(power + power / 3);
    }
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 2000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        values.push_back(state >> (state % 60));
    }
    for (int length = 0; length <= 20; ++length) {
        for (uint64_t value : values) {
            // Zoned: digits right-aligned after zeros, the low ones kept when they do not fit.
            for (unsigned zero : {0x30u, 0xF0u, 0x35u}) {
                Bytes expected(length + 2, 0xEE), got(length + 2, 0xEE);
                uint64_t rest = value;
                for (int i = length; i >= 1; --i, rest /= 10) expected[i] = static_cast<unsigned char>(zero + rest % 10);
                ASSERT_EQ(rest == 0, WriteZoned(got.data() + 1, length, value, static_cast<unsigned char>(zero)))
                    << length << " " << value;
                ASSERT_EQ(expected, got) << "zoned " << length << " " << value << " " << zero;
            }
            // Packed: the last digit and the sign nibble in the last byte.
            for (unsigned sign : {PACKED_POSITIVE, PACKED_NEGATIVE, PACKED_UNSIGNED}) {
                Bytes expected(length + 2, 0xEE), got(length + 2, 0xEE);
                uint64_t rest = value;
                bool fits = length > 0 || value == 0;
                if (length > 0) {
                    for (int k = 2 * length - 1; k >= 0; --k) {
                        unsigned nibble = k == 2 * length - 1 ? sign : static_cast<unsigned>(rest % 10);
                        if (k != 2 * length - 1) rest /= 10;
                        unsigned char& b = expected[1 + k / 2];
                        b = static_cast<unsigned char>(k % 2 == 0 ? (nibble << 4) | (b & 0x0F) : (b & 0xF0) | nibble);
                    }
                    fits = rest == 0;
                }
                ASSERT_EQ(fits, WritePacked(got.data() + 1, length, value, sign)) << length << " " << value;
                ASSERT_EQ(expected, got) << "packed " << length << " " << value << " " << sign;
            }
            // Binary: both byte orders, the fill past eight bytes.
            for (unsigned char fill : {0x00, 0xFF}) {
                Bytes big(length + 2, 0xEE), little(length + 2, 0xEE), expectBig(length + 2, 0xEE),
                    expectLittle(length + 2, 0xEE);
                for (int i = 0; i < length; ++i) {
                    unsigned char b = i < 8 ? static_cast<unsigned char>(value >> (8 * i)) : fill;
                    expectLittle[1 + i] = b;
                    expectBig[length - i] = b;
                }
                WriteBigEndian(big.data() + 1, length, value, fill);
                WriteLittleEndian(little.data() + 1, length, value, fill);
                ASSERT_EQ(expectBig, big) << "big-endian " << length << " " << value;
                ASSERT_EQ(expectLittle, little) << "little-endian " << length << " " << value;
            }
        }
    }
}

}  // namespace
