// Value conversions on items laid out by hand inside a 200-byte record.
#include <cmath>
#include <cstdint>

#include "record_fixture.h"

namespace {

class Values : public ::testing::Test {
protected:
    Values()
        : copybook("values_buf.cpy", {"01  BUF  PIC X(200)."}), data("values_buf.dat"),
          record(data.path(), copybook.path()) {}
    void SetUp() override {
        ASSERT_TRUE(record.Open(4));
        buffer = reinterpret_cast<unsigned char*>(record.RecordBuffer());
    }
    // The bytes of an item at `position`.
    std::string At(const CopyItem& item) const {
        return std::string(reinterpret_cast<const char*>(buffer) + item.position - 1,
                           static_cast<size_t>(item.byteLength));
    }
    void Put(const CopyItem& item, const std::string& bytes) {
        std::memcpy(buffer + item.position - 1, bytes.data(), bytes.size());
    }
    Copybook copybook;
    ScratchFile data;
    CopyRecord record;
    unsigned char* buffer = nullptr;
};

constexpr unsigned kSigned = ITEM_NUMERIC | ITEM_SIGNED;

TEST_F(Values, DisplayUnsignedForms) {
    CopyItem item = MakeItem(11, 5, ITEM_NUMERIC, 5);
    EXPECT_TRUE(record.SetInt32(&item, 12345));
    EXPECT_EQ(At(item), "12345");
    EXPECT_EQ(record.GetInt32(&item), 12345);
    EXPECT_TRUE(record.SetInt64(&item, 0));
    EXPECT_EQ(At(item), "00000");
    EXPECT_EQ(record.GetInt64(&item), 0);
    EXPECT_TRUE(record.SetInt32(&item, 99999));
    EXPECT_EQ(record.GetInt32(&item), 99999);
    EXPECT_FALSE(record.SetInt32(&item, 123456));
    EXPECT_EQ(At(item), "23456");
    EXPECT_EQ(record.GetInt16(&item), 23456);
    // An unsigned item holds no negative value: refused, the item unchanged.
    EXPECT_FALSE(record.SetInt32(&item, -42));
    EXPECT_EQ(At(item), "23456");

    CopyItem two = MakeItem(1, 2, ITEM_NUMERIC, 2);
    EXPECT_FALSE(record.SetInt16(&two, 345));
    EXPECT_EQ(At(two), "45");
}

// A negative value for an unsigned item is refused the same way in every usage: false,
// and the item keeps its bytes (it used to store the magnitude in display and packed
// items, 65531 in a 9(4) COMP item, and -5 in a 9(18) COMP item with true).
TEST_F(Values, UnsignedItemsRefuseNegativeValuesInEveryUsage) {
    struct {
        const char* what;
        CopyItem item;
    } cases[] = {
        {"9(5) display", MakeItem(1, 5, ITEM_NUMERIC, 5)},
        {"9(5) COMP-3", MakeItem(1, 3, ITEM_NUMERIC | USAGE_PACKED, 5)},
        {"9(4) COMP", MakeItem(1, 2, ITEM_NUMERIC | USAGE_BINARY, 4)},
        {"9(4) COMP-5", MakeItem(1, 2, ITEM_NUMERIC | USAGE_COMP5, 4)},
        {"9(18) COMP", MakeItem(1, 8, ITEM_NUMERIC | USAGE_BINARY, 18)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(record.SetInt64(&c.item, 7));
        const std::string before = At(c.item);
        EXPECT_FALSE(record.SetInt8(&c.item, -5));
        EXPECT_FALSE(record.SetInt16(&c.item, -5));
        EXPECT_FALSE(record.SetInt32(&c.item, -5));
        EXPECT_FALSE(record.SetInt64(&c.item, -5));
        // SetDouble as well (it stored 5, or 65531 in the 9(4) COMP item).
        EXPECT_FALSE(record.SetDouble(&c.item, -5.0));
        EXPECT_FALSE(record.SetDouble(&c.item, -0.6));
        EXPECT_EQ(At(c.item), before);
        EXPECT_EQ(record.GetInt64(&c.item), 7);
        // A negative value that rounds to zero is zero.
        EXPECT_TRUE(record.SetDouble(&c.item, -0.001));
        EXPECT_EQ(record.GetInt64(&c.item), 0);
    }
}

TEST_F(Values, DisplaySignZones) {
    CopyItem item = MakeItem(21, 3, kSigned, 3);
    EXPECT_TRUE(record.SetInt32(&item, -123));
    EXPECT_EQ(At(item), "12\x53");
    EXPECT_EQ(record.GetInt32(&item), -123);
    EXPECT_EQ(record.GetInt8(&item), -123);
    EXPECT_TRUE(record.SetInt32(&item, 123));
    EXPECT_EQ(At(item), "12\x43");
    EXPECT_EQ(record.GetInt32(&item), 123);
    EXPECT_TRUE(record.SetInt32(&item, 0));
    EXPECT_EQ(At(item), "00\x40");
    EXPECT_TRUE(record.SetInt8(&item, -128));
    EXPECT_EQ(record.GetInt64(&item), -128);
    // -1000 keeps its last three digits, 000: the value 0 is not negative.
    EXPECT_FALSE(record.SetInt32(&item, -1000));
    EXPECT_EQ(At(item), "00\x40");

    record.SetNegativeZone(0xD0);
    record.SetPositiveZone(0xC0);
    EXPECT_TRUE(record.SetInt32(&item, -123));
    EXPECT_EQ(At(item), "12\xD3");
    EXPECT_EQ(record.GetInt32(&item), -123);
    EXPECT_DOUBLE_EQ(record.GetDouble(&item), -123.0);
    EXPECT_TRUE(record.SetInt32(&item, 987));
    EXPECT_EQ(At(item), "98\xC7");
    EXPECT_EQ(record.GetInt32(&item), 987);
    // The integer readers take any odd zone but 3 and F as negative; the
    // floating-point reader only the configured negative zone.
    Put(item, "12\x53");
    EXPECT_EQ(record.GetInt32(&item), -123);
    EXPECT_DOUBLE_EQ(record.GetDouble(&item), 123.0);
    Put(item, "12\xF3");
    EXPECT_EQ(record.GetInt32(&item), 123);
}

TEST_F(Values, PackedForms) {
    CopyItem item = MakeItem(31, 2, kSigned | USAGE_PACKED, 3);
    EXPECT_TRUE(record.SetInt32(&item, -123));
    EXPECT_EQ(At(item), "\x12\x3D");
    EXPECT_EQ(record.GetInt32(&item), -123);
    EXPECT_EQ(record.GetInt8(&item), -123);
    EXPECT_TRUE(record.SetInt16(&item, 0));
    EXPECT_EQ(At(item), std::string("\x00\x0C", 2));
    EXPECT_FALSE(record.SetInt32(&item, 1234));
    EXPECT_EQ(At(item), "\x23\x4C");

    CopyItem plain = MakeItem(34, 2, ITEM_NUMERIC | USAGE_PACKED, 3);
    EXPECT_TRUE(record.SetInt32(&plain, 123));
    EXPECT_EQ(At(plain), "\x12\x3F");
    EXPECT_EQ(record.GetInt32(&plain), 123);

    // S9(5)V99 COMP-3: 7 digits in 4 bytes.
    CopyItem wide = MakeItem(40, 4, kSigned | USAGE_PACKED, 7, 2);
    EXPECT_TRUE(record.SetInt32(&wide, 9999999));
    EXPECT_EQ(At(wide), "\x99\x99\x99\x9C");
    EXPECT_EQ(record.GetInt32(&wide), 9999999);
    EXPECT_EQ(record.GetInt32(&wide, true), 99999);
    EXPECT_TRUE(record.SetInt32(&wide, -9999999));
    EXPECT_EQ(record.GetInt64(&wide), -9999999);
    EXPECT_FALSE(record.SetInt32(&wide, 12345678));
    EXPECT_EQ(record.GetInt32(&wide), 2345678);

    // A sign nibble before the last byte negates what was read so far; other
    // non-digit nibbles are passed over.
    Put(plain, "\x1D\x2C");
    EXPECT_EQ(record.GetInt32(&plain), -8);
    Put(plain, "\x1A\x2D");
    EXPECT_EQ(record.GetInt32(&plain), -12);

    // 18 digits, the widest decimal item.
    CopyItem longest = MakeItem(50, 10, kSigned | USAGE_PACKED, 18);
    EXPECT_TRUE(record.SetInt64(&longest, -999999999999999999));
    EXPECT_EQ(record.GetInt64(&longest), -999999999999999999);
    EXPECT_FALSE(record.SetInt64(&longest, INT64_MIN));
    EXPECT_EQ(record.GetInt64(&longest), -223372036854775808);
}

TEST_F(Values, BinaryAndComp5OfTheAccessorWidth) {
    CopyItem binary = MakeItem(61, 2, kSigned | USAGE_BINARY, 4);
    EXPECT_TRUE(record.SetInt16(&binary, -2));
    EXPECT_EQ(At(binary), "\xFF\xFE");
    EXPECT_EQ(record.GetInt16(&binary), -2);
    EXPECT_EQ(record.GetInt32(&binary), -2);
    EXPECT_EQ(record.GetInt64(&binary), -2);
    EXPECT_EQ(record.GetInt8(&binary), -2);
    CopyItem unsignedBinary = MakeItem(61, 2, ITEM_NUMERIC | USAGE_BINARY, 4);
    EXPECT_EQ(record.GetInt32(&unsignedBinary), 65534);

    CopyItem comp5 = MakeItem(65, 2, kSigned | USAGE_COMP5, 4);
    EXPECT_TRUE(record.SetInt16(&comp5, 258));
    EXPECT_EQ(At(comp5), "\x02\x01");
    EXPECT_EQ(record.GetInt16(&comp5), 258);
    EXPECT_EQ(record.GetInt64(&comp5), 258);
    EXPECT_TRUE(record.SetInt32(&comp5, -9999));
    EXPECT_EQ(record.GetInt32(&comp5), -9999);

    // A narrow accessor into a wider item: the value is sign-extended.
    CopyItem word = MakeItem(70, 4, kSigned | USAGE_COMP5, 9);
    EXPECT_TRUE(record.SetInt8(&word, -5));
    EXPECT_EQ(At(word), "\xFB\xFF\xFF\xFF");
    EXPECT_EQ(record.GetInt32(&word), -5);
    CopyItem bigWord = MakeItem(75, 4, kSigned | USAGE_BINARY, 9);
    EXPECT_TRUE(record.SetInt8(&bigWord, -5));
    EXPECT_EQ(At(bigWord), "\xFF\xFF\xFF\xFB");
    EXPECT_EQ(record.GetInt64(&bigWord), -5);

    // Digits beyond the picture are cut; so is a negative value in an unsigned item.
    EXPECT_FALSE(record.SetInt32(&binary, 12345));
    EXPECT_EQ(record.GetInt32(&binary), 2345);
    EXPECT_FALSE(record.SetInt32(&unsignedBinary, -2));
    EXPECT_TRUE(record.SetInt32(&unsignedBinary, 9999));
    EXPECT_EQ(record.GetInt32(&unsignedBinary), 9999);

    CopyItem doubleWord = MakeItem(80, 8, kSigned | USAGE_BINARY, 18);
    EXPECT_TRUE(record.SetInt64(&doubleWord, -999999999999999999));
    EXPECT_EQ(record.GetInt64(&doubleWord), -999999999999999999);
    EXPECT_TRUE(record.SetInt64(&doubleWord, 999999999999999999));
    EXPECT_EQ(record.GetInt64(&doubleWord), 999999999999999999);
}

// Every length from 1 to 8 bytes, both byte orders, through every accessor width
// wide enough for the value.
TEST_F(Values, BinaryAndComp5OfEveryLength) {
    for (unsigned usage : {USAGE_BINARY, USAGE_COMP5}) {
        for (int length = 1; length <= 8; ++length) {
            CopyItem item = MakeItem(101, length, kSigned | usage, 18);
            int64_t largest = length == 8 ? INT64_MAX : (int64_t{1} << (8 * length - 1)) - 1;
            int64_t smallest = -largest - 1;
            for (int64_t value : {int64_t{0}, int64_t{-1}, int64_t{1}, largest, smallest, largest / 3, smallest / 7}) {
                // 18 digits: the widest 64-bit values do not fit.
                bool fits = value > -1000000000000000000 && value < 1000000000000000000;
                SCOPED_TRACE(testing::Message() << "usage " << usage << " length " << length << " value " << value);
                EXPECT_EQ(record.SetInt64(&item, value), fits);
                if (!fits) continue;
                EXPECT_EQ(record.GetInt64(&item), value);
                if (value >= INT32_MIN && value <= INT32_MAX) {
                    EXPECT_EQ(record.GetInt32(&item), value);
                    EXPECT_TRUE(record.SetInt32(&item, static_cast<int32_t>(value)));
                    EXPECT_EQ(record.GetInt64(&item), value);
                }
                if (value >= INT16_MIN && value <= INT16_MAX) {
                    EXPECT_EQ(record.GetInt16(&item), value);
                    EXPECT_TRUE(record.SetInt16(&item, static_cast<int16_t>(value)));
                    EXPECT_EQ(record.GetInt64(&item), value);
                }
                if (value >= INT8_MIN && value <= INT8_MAX) {
                    EXPECT_EQ(record.GetInt8(&item), value);
                    EXPECT_TRUE(record.SetInt8(&item, static_cast<int8_t>(value)));
                    EXPECT_EQ(record.GetInt64(&item), value);
                }
            }
            // One more than the length holds: bytes cut, reported.
            if (length < 8) {
                EXPECT_FALSE(record.SetInt64(&item, largest + 1));
                EXPECT_FALSE(record.SetInt64(&item, smallest - 1));
            }
            // Unsigned: zero-extended, the whole range of the length.
            CopyItem plain = MakeItem(101, length, ITEM_NUMERIC | usage, 18);
            uint64_t all = length == 8 ? 0 : (uint64_t{1} << (8 * length)) - 1;
            if (length < 8) {
                EXPECT_TRUE(record.SetInt64(&plain, static_cast<int64_t>(all)));
                EXPECT_EQ(record.GetInt64(&plain), static_cast<int64_t>(all));
                EXPECT_FALSE(record.SetInt64(&plain, -1));
            }
        }
    }
}

TEST_F(Values, ReadersWrapInTheirWidth) {
    CopyItem item = MakeItem(1, 3, ITEM_NUMERIC, 3);
    Put(item, "300");
    EXPECT_EQ(record.GetInt8(&item), 44);
    EXPECT_EQ(record.GetInt16(&item), 300);
    CopyItem wide = MakeItem(1, 10, ITEM_NUMERIC, 10);
    Put(wide, "4294967297");
    EXPECT_EQ(record.GetInt32(&wide), 1);
    EXPECT_EQ(record.GetInt64(&wide), 4294967297);
}

TEST_F(Values, ItemsLongerThanEighteenBytesReadTheirLastEighteen) {
    CopyItem display = MakeItem(1, 24, ITEM_NUMERIC, 24);
    Put(display, "999999123456789012345678");
    EXPECT_EQ(record.GetInt64(&display), 123456789012345678);
    EXPECT_DOUBLE_EQ(record.GetDouble(&display), 123456789012345678.0);
    CopyItem packed = MakeItem(30, 20, kSigned | USAGE_PACKED, 39);
    std::string bytes(20, '\x00');
    bytes[0] = '\x99';
    bytes[19] = '\x1D';
    Put(packed, bytes);
    EXPECT_EQ(record.GetInt64(&packed), -1);
    CopyItem binary = MakeItem(60, 12, kSigned | USAGE_BINARY, 18);
    Put(binary, std::string("\x7F\x7F\x7F\x7F\x00\x00\x00\x00\x00\x00\x01\x00", 12));
    EXPECT_EQ(record.GetInt64(&binary), 256);
    CopyItem comp5 = MakeItem(80, 12, kSigned | USAGE_COMP5, 18);
    Put(comp5, std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00", 12));
    EXPECT_EQ(record.GetInt64(&comp5), -2);
    EXPECT_TRUE(record.SetInt64(&comp5, -3));
    EXPECT_EQ(At(comp5), std::string(1, '\xFD') + std::string(11, '\xFF'));
}

TEST_F(Values, ScaleWithAndWithoutDroppingDecimals) {
    CopyItem item = MakeItem(1, 3, ITEM_NUMERIC, 3, 2);  // 9V99
    Put(item, "123");
    EXPECT_EQ(record.GetInt32(&item), 123);
    EXPECT_EQ(record.GetInt32(&item, true), 1);
    EXPECT_EQ(record.GetInt8(&item, true), 1);
    EXPECT_DOUBLE_EQ(record.GetDouble(&item), 1.23);
    // Dropping decimals on writing divides the value first.
    EXPECT_TRUE(record.SetInt32(&item, 456, true));
    EXPECT_EQ(At(item), "004");
    EXPECT_TRUE(record.SetInt32(&item, 456));
    EXPECT_EQ(At(item), "456");

    CopyItem negative = MakeItem(10, 5, kSigned | USAGE_PACKED, 9, 3);  // S9(6)V999 COMP-3
    EXPECT_TRUE(record.SetInt64(&negative, -123456789));
    EXPECT_EQ(record.GetInt64(&negative, true), -123456);
    EXPECT_DOUBLE_EQ(record.GetDouble(&negative), -123456.789);
}

TEST_F(Values, SetDoubleRounding) {
    CopyItem item = MakeItem(1, 7, kSigned, 7, 2);  // S9(5)V99
    EXPECT_TRUE(record.SetDouble(&item, -123.456));
    EXPECT_EQ(record.GetInt32(&item), -12346);
    EXPECT_DOUBLE_EQ(record.GetDouble(&item), -123.46);
    EXPECT_TRUE(record.SetDouble(&item, 1.004));
    EXPECT_EQ(record.GetInt32(&item), 100);
    // 2.675 is a little below 2.675 in binary: it rounds down.
    EXPECT_TRUE(record.SetDouble(&item, 2.675));
    EXPECT_EQ(record.GetInt32(&item), 267);
    EXPECT_TRUE(record.SetDouble(&item, 99999.99));
    EXPECT_EQ(record.GetInt32(&item), 9999999);
    EXPECT_TRUE(record.SetDouble(&item, -0.001));
    EXPECT_EQ(At(item), "000000\x40");
    EXPECT_FALSE(record.SetDouble(&item, 123456.7));
    EXPECT_EQ(record.GetInt32(&item), 2345670);
    // No digits to store.
    EXPECT_TRUE(record.SetDouble(&item, 1.0));
    EXPECT_FALSE(record.SetDouble(&item, std::nan("")));
    EXPECT_FALSE(record.SetDouble(&item, HUGE_VAL));
    EXPECT_EQ(record.GetInt32(&item), 100);

    CopyItem packed = MakeItem(20, 4, kSigned | USAGE_PACKED, 7, 2);
    EXPECT_TRUE(record.SetDouble(&packed, -0.5));
    EXPECT_EQ(At(packed), std::string("\x00\x00\x05\x0D", 4));
    CopyItem binary = MakeItem(30, 4, kSigned | USAGE_BINARY, 9, 4);
    EXPECT_TRUE(record.SetDouble(&binary, 12.34567));
    EXPECT_EQ(record.GetInt32(&binary), 123457);
    EXPECT_DOUBLE_EQ(record.GetDouble(&binary), 12.3457);
}

TEST_F(Values, NationalTexts) {
    CopyItem item = MakeItem(1, 4, ITEM_NATIONAL, 2);
    EXPECT_RAISES(record.SetString(&item, "\x93\xfa\x96"), CException, "日本語項目に半角文字は設定できない。");
    EXPECT_TRUE(record.SetString(&item, "日本"));
    EXPECT_EQ(At(item), "日本");
    EXPECT_TRUE(record.SetString(&item, "語"));
    EXPECT_EQ(At(item), "語\x81\x40");
    EXPECT_FALSE(record.SetString(&item, "日本語"));
    EXPECT_EQ(At(item), "日本");
    EXPECT_RAISES(record.SetString(&item, "ab"), CException, "Shift-JIS日本語項目に半角文字は設定できない。");
    EXPECT_RAISES(record.SetString(&item, "日a1"), CException, "Shift-JIS日本語項目に半角文字は設定できない。");
    // Another filler: no Shift_JIS check, and the filler fills the rest.
    record.SetNationalSpace("**");
    EXPECT_TRUE(record.SetString(&item, "ab"));
    EXPECT_EQ(At(item), "ab**");
    char buffer[8];
    EXPECT_EQ(Bytes(record.GetString(&item, buffer, 8), 5), std::string("ab**\0", 5));
}

TEST_F(Values, BitTexts) {
    CopyItem bits = MakeItem(1, 2, ITEM_BOOLEAN | USAGE_BIT, 10);
    EXPECT_TRUE(record.SetString(&bits, "1010101011"));
    EXPECT_EQ(At(bits), "\xAA\xC0");
    char buffer[20];
    std::memset(buffer, 'x', sizeof buffer);
    record.GetString(&bits, buffer, 20);
    EXPECT_EQ(Bytes(buffer, 20), std::string("1010101011000000000\0", 20));
    // Never more than size - 1 characters, whatever the size.
    char small[6];
    std::memset(small, 'x', sizeof small);
    record.GetString(&bits, small, 5);
    EXPECT_EQ(Bytes(small, 6), std::string("1010\0x", 6));
    char one[2] = {'x', 'x'};
    record.GetString(&bits, one, 1);
    EXPECT_EQ(Bytes(one, 2), std::string("\0x", 2));
    // More characters than bits: the rest is cut.
    EXPECT_FALSE(record.SetString(&bits, "111111111111"));
    EXPECT_EQ(At(bits), "\xFF\xC0");
    EXPECT_RAISES(record.SetString(&bits, "1012"), CException, "2進数文字でない");
    // Raw bytes through SetBits.
    EXPECT_TRUE(record.SetBits(&bits, "\x0F\xF0", 2));
    EXPECT_EQ(At(bits), "\x0F\xF0");
    EXPECT_FALSE(record.SetBits(&bits, "abc", 3));
    EXPECT_EQ(At(bits), "ab");

    CopyItem characters = MakeItem(10, 8, ITEM_BOOLEAN, 8);
    EXPECT_TRUE(record.SetString(&characters, "101"));
    EXPECT_EQ(At(characters), "10100000");
    EXPECT_TRUE(record.SetBits(&characters, "11", 2));
    EXPECT_EQ(At(characters), "11000000");
    EXPECT_RAISES(record.SetBits(&characters, "1x", 2), CException, "2進数文字でない");
    CopyItem text = MakeItem(20, 4, ITEM_ALPHANUMERIC, 4);
    EXPECT_RAISES(record.SetBits(&text, "1", 1), CException, "ビット型ではない");
}

TEST_F(Values, TextsAndBytes) {
    CopyItem item = MakeItem(1, 5, ITEM_ALPHANUMERIC, 5);
    EXPECT_TRUE(record.SetString(&item, "AB"));
    EXPECT_EQ(At(item), "AB   ");
    EXPECT_FALSE(record.SetString(&item, "ABCDEFG"));
    EXPECT_EQ(At(item), "ABCDE");
    EXPECT_TRUE(record.SetString(&item, "XYZ\0W", 5));
    EXPECT_EQ(At(item), std::string("XYZ\0W", 5));
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    record.GetString(&item, buffer, 3);
    EXPECT_EQ(Bytes(buffer, 4), "XYZx");  // the item fills the buffer: no terminator
    record.GetBytes(&item, buffer, 8);
    EXPECT_EQ(Bytes(buffer, 8), std::string("XYZ\0W\0\0\0", 8));
    EXPECT_RAISES(record.GetString(&item, buffer, 0), CException, "バッファサイズ少な杉");
    EXPECT_RAISES(record.GetBytes(&item, buffer, -1), CException, "バッファサイズ少な杉");
    // An integer written into an alphanumeric item is stored as display digits.
    EXPECT_TRUE(record.SetInt32(&item, 42));
    EXPECT_EQ(At(item), "00042");
    EXPECT_RAISES(record.GetInt32(&item), CException, "データ型が正しくない。");
    EXPECT_RAISES(record.GetInt64(&item), CException, "データ型が正しくない。");
    EXPECT_RAISES(record.GetDouble(&item), CException, "データ型が正しくない。");
}

TEST_F(Values, ItemsOutsideTheRecordAreRefused) {
    CopyItem beyond = MakeItem(199, 4, ITEM_NUMERIC, 4);
    EXPECT_RAISES(record.GetInt32(&beyond), CException, "項目がレコードの範囲外です。");
    EXPECT_RAISES(record.SetInt32(&beyond, 1), CException, "項目がレコードの範囲外です。");
    CopyItem before = MakeItem(0, 1, ITEM_ALPHANUMERIC, 1);
    EXPECT_RAISES(record.SetString(&before, "A"), CException, "項目がレコードの範囲外です。");
    CopyItem last = MakeItem(197, 4, ITEM_NUMERIC, 4);
    EXPECT_TRUE(record.SetInt32(&last, 1234));
    EXPECT_EQ(record.GetInt32(&last), 1234);
    EXPECT_RAISES(record.GetInt32(static_cast<CopyItem*>(nullptr)), CException, "項目がありません！");

    ASSERT_TRUE(record.Close());
    EXPECT_RAISES(record.GetInt32(&last), CException, "データファイルがオープンされていない。");
    EXPECT_RAISES(record.SetString(&last, "1"), CException, "データファイルがオープンされていない。");
}

}  // namespace
