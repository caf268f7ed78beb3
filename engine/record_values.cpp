// The record object's value conversions between the record buffer and program values:
// display, signed display, packed decimal, binary, COMP-5, national and bit forms.
#include <cmath>
#include <cstring>
#include <string>

#include "engine_internal.h"

namespace {

// Decimal digits kept in the decimal forms: the last 18 bytes of a longer item.
constexpr int kDecimalWindow = 18;

// Integer readers divide at most this often: the widest value is 0 after it.
constexpr int kMaxDivisions = 20;

// Usages of the COBOL rules stored as native binary (least significant byte first, as
// GnuCOBOL keeps them and as COMP-5) without a digit count: POINTER and INDEX.
constexpr unsigned kBinaryOnly = USAGE_POINTER | USAGE_INDEX;

bool IsDigitChar(char c) { return c == '0' || c == '1'; }

// The low `count` bytes (1 to 8) of `value` read back as the item would: sign-extended
// for a signed item, zero-extended otherwise.
uint64_t Extend(uint64_t value, int count, bool isSigned) {
    if (count >= 8) return value;
    if (count <= 0) return 0;
    int bits = count * 8;
    uint64_t low = value & ((uint64_t{1} << bits) - 1);
    if (isSigned && (low >> (bits - 1)) != 0) low |= ~uint64_t{0} << bits;
    return low;
}

template <typename T>
T Narrow(uint64_t value, const CopyItem* item, bool dropDecimals) {
    // Arithmetic of the accessor's width: the value wraps into it, then divides.
    T result = static_cast<T>(value);
    if (dropDecimals) {
        int divisions = item->scale < kMaxDivisions ? item->scale : kMaxDivisions;
        for (int i = 0; i < divisions; ++i) result = static_cast<T>(result / 10);
    }
    return result;
}

// Eight display characters, first character in the lowest byte: their value (the low
// four bits of each, as decimal digits from the first) and whether one of them has a
// negative zone. The lanes never carry into each other: a digit lane holds at most 15,
// a pair at most 165, four at most 16665.
inline uint64_t DecodeEight(uint64_t chunk, uint64_t& negativeLanes) {
    constexpr uint64_t kLow = 0x0101010101010101ull;
    uint64_t zones = (chunk >> 4) & (kLow * 0x0F);
    uint64_t odd = (zones & kLow) << 7;
    uint64_t notThree = ((zones ^ (kLow * 0x03)) + kLow * 0x7F) & (kLow * 0x80);
    uint64_t notFifteen = ((zones ^ (kLow * 0x0F)) + kLow * 0x7F) & (kLow * 0x80);
    negativeLanes |= odd & notThree & notFifteen;
    uint64_t v = chunk & (kLow * 0x0F);
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFull;
    return v;
}

// A display number: value = value * 10 + low four bits for each character, negative
// when a character's zone has bit 0x10 and is neither 0x3 nor 0xF. Eight characters a
// step on little-endian machines, with the same result as one at a time.
__attribute__((always_inline)) inline uint64_t DecodeDisplay(const unsigned char* digits, int count, bool& negative) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t value = 0;
    uint64_t negativeLanes = 0;
    int head = count & 7;
    if (head != 0) {
        // The leading characters, placed last in the lane as if zero bytes stood before;
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
        value = DecodeEight(chunk, negativeLanes);
    }
    for (int i = head; i < count; i += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, digits + i, 8);
        value = value * 100000000ull + DecodeEight(chunk, negativeLanes);
    }
    negative = negativeLanes != 0;
    return value;
#else
    // Zones whose bit 0x10 is set, other than 0x3 and 0xF: a display byte with one of
    // them makes the number negative (bits 1, 5, 7, 9, 11, 13).
    constexpr unsigned kNegativeZoneMask = 0x2AA2;
    uint64_t value = 0;
    unsigned zones = 0;
    for (int i = 0; i < count; ++i) {
        value = value * 10 + (digits[i] & 0x0Fu);
        zones |= kNegativeZoneMask >> (digits[i] >> 4);
    }
    negative = (zones & 1u) != 0;
    return value;
#endif
}

// Raises the fault of an item that ItemBytes refused.
[[noreturn]] __attribute__((noinline)) void RefuseItem(const CopyItem* item, const char* record,
                                                       const char* missingMessage) {
    if (item == nullptr) RAISE(CException, missingMessage);
    if (record == nullptr) RAISE(CException, "データファイルがオープンされていない。");
    RAISE(CException, "項目がレコードの範囲外です。");
}

}  // namespace

// The item's bytes inside the record; raises when there is no record, no item, or
// the item does not lie inside the record.
inline unsigned char* CopyRecord::ItemBytes(CopyItem* item, const char* missingMessage) {
    if (item != nullptr && record != nullptr) {
        int64_t start = static_cast<int64_t>(item->position) - 1;
        if (start >= 0 && item->byteLength >= 0 && start + item->byteLength <= recordLength &&
            (bufferLimit == 0 || start + item->byteLength <= bufferLimit)) {
            return reinterpret_cast<unsigned char*>(record) + start;
        }
    }
    RefuseItem(item, record, missingMessage);
}

// The item's integer value, modulo 2 to the 64th.
__attribute__((always_inline)) inline uint64_t CopyRecord::DecodeInteger(CopyItem* item, bool signByNegativeZone) {
    if (item == nullptr) RAISE(CException, "項目がありません！");
    unsigned flags = item->flags;
    // POINTER and INDEX items (COBOL rules) have no category; they read as binary.
    if ((flags & (ITEM_NUMERIC | kBinaryOnly)) == 0) RAISE(CException, "データ型が正しくない。");
    const unsigned char* bytes = ItemBytes(item, "項目がありません！");
    int length = item->byteLength;
    bool isSigned = (flags & ITEM_SIGNED) != 0;
    uint64_t value = 0;

    if (flags & (USAGE_COMP5 | USAGE_BINARY | kBinaryOnly)) {
        // Two's complement of the item's own length; the low-order 8 bytes of a longer one.
        int count = length < 8 ? length : 8;
        if (flags & (USAGE_COMP5 | kBinaryOnly)) {
            for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
        } else {
            const unsigned char* low = bytes + (length - count);
            switch (count) {
            case 2:
                value = (uint64_t{low[0]} << 8) | low[1];
                break;
            case 4:
                value = (uint64_t{low[0]} << 24) | (uint64_t{low[1]} << 16) | (uint64_t{low[2]} << 8) | low[3];
                break;
            default:
                for (int i = 0; i < count; ++i) value = (value << 8) | low[i];
                break;
            }
        }
        return Extend(value, count, isSigned);
    }

    // The decimal forms read the last 18 bytes; the zero bytes that would stand before
    // a shorter item leave the value 0, so they are not visited.
    int count = length < kDecimalWindow ? length : kDecimalWindow;
    const unsigned char* digits = bytes + (length - count);
    if (flags & USAGE_PACKED) {
        // Per byte: value * 10 + high nibble, then * 10 + a digit low nibble, or the
        // value negated by a low nibble D. Two bytes of digits are taken in one step.
        int i = 0;
        for (; i + 2 <= count; i += 2) {
            unsigned first = digits[i];
            unsigned second = digits[i + 1];
            if ((first & 0x0F) > 9 || (second & 0x0F) > 9) break;
            value = value * 10000 + ((first >> 4) * 10 + (first & 0x0F)) * 100 + (second >> 4) * 10 + (second & 0x0F);
        }
        for (; i < count; ++i) {
            unsigned high = digits[i] >> 4;
            unsigned low = digits[i] & 0x0F;
            if (low <= 9) {
                value = value * 100 + high * 10 + low;
            } else {
                value = value * 10 + high;
                if (low == 0x0D) value = 0 - value;
            }
        }
        return value;
    }

    bool negative = false;
    if (flags & SIGN_SEPARATE) {
        // The sign character stands before or after the digits, in a byte of its own.
        const unsigned char* sign = (flags & SIGN_LEADING) ? bytes : bytes + length - 1;
        const unsigned char* first = (flags & SIGN_LEADING) ? bytes + 1 : bytes;
        int digitCount = length > 0 ? length - 1 : 0;
        count = digitCount < kDecimalWindow ? digitCount : kDecimalWindow;
        digits = first + (digitCount - count);
        for (int i = 0; i < count; ++i) value = value * 10 + (digits[i] & 0x0Fu);
        negative = length > 0 && *sign == '-';
    } else if (signByNegativeZone) {
        for (int i = 0; i < count; ++i) {
            value = value * 10 + (digits[i] & 0x0Fu);
            negative |= (digits[i] & 0xF0u) == negativeZone;
        }
    } else {
        value = DecodeDisplay(digits, count, negative);
    }
    return negative ? 0 - value : value;
}

int8_t CopyRecord::GetInt8(CopyItem* item, bool dropDecimals) {
    return Narrow<int8_t>(DecodeInteger(item, false), item, dropDecimals);
}

int16_t CopyRecord::GetInt16(CopyItem* item, bool dropDecimals) {
    return Narrow<int16_t>(DecodeInteger(item, false), item, dropDecimals);
}

int32_t CopyRecord::GetInt32(CopyItem* item, bool dropDecimals) {
    return Narrow<int32_t>(DecodeInteger(item, false), item, dropDecimals);
}

int64_t CopyRecord::GetInt64(CopyItem* item, bool dropDecimals) {
    return Narrow<int64_t>(DecodeInteger(item, false), item, dropDecimals);
}

double CopyRecord::GetDouble(CopyItem* item) {
    double value = static_cast<double>(static_cast<int64_t>(DecodeInteger(item, true)));
    int divisions = item->scale < 400 ? item->scale : 400;
    for (int i = 0; i < divisions; ++i) value /= 10.0;
    return value;
}

// Stores `kept` (the digits that fit the item's digit count), negated when `negative`,
// in the item's form. `cut` tells that digits were already dropped; false is returned
// then, or when the item's bytes cannot hold the value.
bool CopyRecord::StoreDigits(CopyItem* item, uint64_t kept, bool negative, bool cut) {
    unsigned char* bytes = ItemBytes(item, "項目がありません！");
    int length = item->byteLength;
    unsigned flags = item->flags;
    bool isSigned = (flags & ITEM_SIGNED) != 0;
    uint64_t value = negative ? 0 - kept : kept;
    bool below = negative && kept != 0;

    if (flags & (USAGE_COMP5 | USAGE_BINARY | kBinaryOnly)) {
        // The low-order bytes of the value in the item's own length; a longer item
        // carries the sign in its extra high-order bytes.
        unsigned char fill = below ? 0xFF : 0x00;
        bool littleEndian = (flags & (USAGE_COMP5 | kBinaryOnly)) != 0;
        for (int i = 0; i < length; ++i) {
            unsigned char b = i < 8 ? static_cast<unsigned char>(value >> (8 * i)) : fill;
            bytes[littleEndian ? i : length - 1 - i] = b;
        }
        int count = length < 8 ? length : 8;
        if (Extend(value, count, isSigned) != value) cut = true;
        return !cut;
    }

    if (flags & USAGE_PACKED) {
        std::memset(bytes, 0, static_cast<size_t>(length));
        if (length == 0) return !cut && kept == 0;
        uint64_t rest = kept;
        unsigned sign = isSigned ? (below ? 0x0D : 0x0C) : 0x0F;
        bytes[length - 1] = static_cast<unsigned char>(((rest % 10) << 4) | sign);
        rest /= 10;
        for (int i = length - 2; i >= 0 && rest != 0; --i) {
            unsigned low = static_cast<unsigned>(rest % 10);
            rest /= 10;
            unsigned high = static_cast<unsigned>(rest % 10);
            rest /= 10;
            bytes[i] = static_cast<unsigned char>((high << 4) | low);
        }
        if (rest != 0) cut = true;
        return !cut;
    }

    // Display: '0' characters, the digits right-aligned, the sign in the last zone
    // (COBOL rules: in the first zone for SIGN LEADING; a character of its own before or
    // after the digits for SIGN ... SEPARATE).
    unsigned char* signByte = nullptr;
    if (flags & SIGN_SEPARATE) {
        if (length == 0) return !cut && kept == 0;
        signByte = (flags & SIGN_LEADING) ? bytes : bytes + length - 1;
        if (flags & SIGN_LEADING) ++bytes;
        --length;
    }
    std::memset(bytes, '0', static_cast<size_t>(length));
    uint64_t rest = kept;
    for (int i = length - 1; i >= 0 && rest != 0; --i) {
        bytes[i] = static_cast<unsigned char>('0' + rest % 10);
        rest /= 10;
    }
    if (rest != 0) cut = true;
    if (signByte != nullptr) {
        *signByte = below ? '-' : '+';
    } else if (isSigned && length > 0 && (flags & SIGN_LEADING)) {
        unsigned zone = below ? negativeZone : positiveZone;
        bytes[0] = static_cast<unsigned char>((bytes[0] & 0x0F) | (zone & 0xF0));
    } else if (isSigned && length > 0) {
        unsigned zone = below ? negativeZone : positiveZone;
        bytes[length - 1] = static_cast<unsigned char>((bytes[length - 1] & 0x0F) | (zone & 0xF0));
    }
    return !cut;
}

bool CopyRecord::StoreInteger(CopyItem* item, int64_t value, bool dropDecimals) {
    ItemBytes(item, "項目がありません！");
    if (dropDecimals) {
        int divisions = item->scale < kMaxDivisions ? item->scale : kMaxDivisions;
        for (int i = 0; i < divisions; ++i) value /= 10;
    }
    bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // Keep the last `digits` decimal digits of the magnitude.
    uint64_t kept = magnitude;
    // A POINTER or INDEX item has no digit count: it takes the value's binary bytes.
    if (item->digits < 20 && (item->flags & kBinaryOnly) == 0) {
        uint64_t limit = 1;
        for (int i = 0; i < item->digits; ++i) limit *= 10;
        kept = magnitude % limit;
    }
    return StoreDigits(item, kept, negative, kept != magnitude);
}

bool CopyRecord::SetInt8(CopyItem* item, int8_t value, bool dropDecimals) {
    return StoreInteger(item, value, dropDecimals);
}

bool CopyRecord::SetInt16(CopyItem* item, int16_t value, bool dropDecimals) {
    return StoreInteger(item, value, dropDecimals);
}

bool CopyRecord::SetInt32(CopyItem* item, int32_t value, bool dropDecimals) {
    return StoreInteger(item, value, dropDecimals);
}

bool CopyRecord::SetInt64(CopyItem* item, int64_t value, bool dropDecimals) {
    return StoreInteger(item, value, dropDecimals);
}

bool CopyRecord::SetDouble(CopyItem* item, double value) {
    ItemBytes(item, "項目が見つかりません！！");
    // Neither infinity nor NaN has decimal digits: nothing is stored.
    if (!std::isfinite(value)) return false;
    int scale = item->scale < 0 ? 0 : (item->scale > 400 ? 400 : item->scale);
    // The magnitude with `scale` decimal places, as decimal formatting rounds it.
    double magnitude = std::fabs(value);
    int needed = std::snprintf(nullptr, 0, "%.*f", scale, magnitude);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%.*f", scale, magnitude);
    text.resize(static_cast<size_t>(needed));
    std::string digits;
    digits.reserve(text.size());
    for (char c : text) {
        if (c >= '0' && c <= '9') digits.push_back(c);
    }
    // The last `digits` digits (at most 19, the most a 64-bit magnitude holds here);
    // any nonzero digit before them is cut off.
    size_t keep = item->digits < 0 ? 0 : static_cast<size_t>(item->digits);
    if (keep > 19) keep = 19;
    if (keep > digits.size()) keep = digits.size();
    bool cut = false;
    for (size_t i = 0; i + keep < digits.size(); ++i) {
        if (digits[i] != '0') cut = true;
    }
    uint64_t kept = 0;
    for (size_t i = digits.size() - keep; i < digits.size(); ++i) {
        kept = kept * 10 + static_cast<uint64_t>(digits[i] - '0');
    }
    return StoreDigits(item, kept, value < 0, cut);
}

char* CopyRecord::GetString(CopyItem* item, char* buffer, int size) {
    if (size < 1 || buffer == nullptr) RAISE(CException, "バッファサイズ少な杉");
    const unsigned char* bytes = ItemBytes(item, "項目が見つかりません！");
    int length = item->byteLength;
    if (item->flags & USAGE_BIT) {
        // The bits, most significant first, then '0' filling: size - 1 characters.
        std::memset(buffer, '0', static_cast<size_t>(size));
        int room = size - 1;
        int written = 0;
        for (int i = 0; i < length && written < room; ++i) {
            for (int bit = 7; bit >= 0 && written < room; --bit) {
                buffer[written++] = ((bytes[i] >> bit) & 1) ? '1' : '0';
            }
        }
        buffer[size - 1] = '\0';
        return buffer;
    }
    std::memset(buffer, 0, static_cast<size_t>(size));
    std::memcpy(buffer, bytes, static_cast<size_t>(length < size ? length : size));
    return buffer;
}

bool CopyRecord::SetString(CopyItem* item, const char* text, int length) {
    unsigned char* bytes = ItemBytes(item, "項目が見つかりません！");
    if (text == nullptr) text = "";
    if (length <= 0) length = static_cast<int>(std::strlen(text));
    int itemLength = item->byteLength;
    unsigned flags = item->flags;

    if (flags & ITEM_NATIONAL) {
        int characters = item->digits;
        if (characters > itemLength / 2) characters = itemLength / 2;
        for (int i = 0; i < characters; ++i) {
            bytes[2 * i] = static_cast<unsigned char>(nationalSpace[0]);
            bytes[2 * i + 1] = static_cast<unsigned char>(nationalSpace[1]);
        }
        if (length % 2 != 0) RAISE(CException, "日本語項目に半角文字は設定できない。");
        if (nationalSpace[0] == kFullWidthSpace[0] && nationalSpace[1] == kFullWidthSpace[1]) {
            for (int i = 0; i < length && text[i] != '\0'; i += 2) {
                if (!IsShiftJisLeadByte(text[i])) RAISE(CException, "Shift-JIS日本語項目に半角文字は設定できない。");
            }
        }
    } else if (flags & ITEM_BOOLEAN) {
        for (int i = 0; i < length; ++i) {
            if (!IsDigitChar(text[i])) RAISE(CException, "2進数文字でない");
        }
        if (flags & USAGE_BIT) {
            // First character into the most significant bit; a final incomplete byte
            // keeps its bits at the top.
            std::memset(bytes, 0, static_cast<size_t>(itemLength));
            int capacity = item->digits < itemLength * 8 ? item->digits : itemLength * 8;
            if (capacity < 0) capacity = 0;
            int stored = length < capacity ? length : capacity;
            for (int i = 0; i < stored; ++i) {
                if (text[i] == '1') bytes[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
            }
            return stored == length;
        }
        std::memset(bytes, '0', static_cast<size_t>(itemLength));
    } else {
        std::memset(bytes, ' ', static_cast<size_t>(itemLength));
    }
    std::memcpy(bytes, text, static_cast<size_t>(length < itemLength ? length : itemLength));
    return itemLength >= length;
}

char* CopyRecord::GetBytes(CopyItem* item, char* buffer, int size) {
    if (size < 1 || buffer == nullptr) RAISE(CException, "バッファサイズ少な杉");
    const unsigned char* bytes = ItemBytes(item, "項目がありません！");
    int length = item->byteLength;
    std::memset(buffer, 0, static_cast<size_t>(size));
    std::memcpy(buffer, bytes, static_cast<size_t>(length < size ? length : size));
    return buffer;
}

bool CopyRecord::SetBits(CopyItem* item, const char* text, int length) {
    unsigned char* bytes = ItemBytes(item, "項目が見つかりません！");
    if ((item->flags & ITEM_BOOLEAN) == 0) RAISE(CException, "ビット型ではない");
    if (text == nullptr || length < 0) length = 0;
    int itemLength = item->byteLength;
    if (item->flags & USAGE_BIT) {
        std::memset(bytes, 0, static_cast<size_t>(itemLength));
    } else {
        for (int i = 0; i < length; ++i) {
            if (!IsDigitChar(text[i])) RAISE(CException, "2進数文字でない");
        }
        std::memset(bytes, '0', static_cast<size_t>(itemLength));
    }
    if (length > 0) std::memcpy(bytes, text, static_cast<size_t>(length < itemLength ? length : itemLength));
    return itemLength >= length;
}
