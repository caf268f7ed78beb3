// The record object's value conversions between the record buffer and program values:
// display, signed display, packed decimal, binary, COMP-5, national and bit forms.
#include <cmath>
#include <cstring>
#include <string>

#include "engine_internal.h"
#include "numeric_forms.h"

namespace {

// Decimal digits kept in the decimal forms: the last 18 bytes of a longer item.
constexpr int kDecimalWindow = 18;

// Integer readers divide at most this often: the widest value is 0 after it.
constexpr int kMaxDivisions = 20;

bool IsDigitChar(char c) { return c == '0' || c == '1'; }

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
    if (!(flags & ITEM_NUMERIC) && !HasAddressUsage(item)) RAISE(CException, "データ型が正しくない。");
    const unsigned char* bytes = ItemBytes(item, "項目がありません！");
    int length = item->byteLength;
    bool isSigned = (flags & ITEM_SIGNED) != 0;

    const StorageForm form = UsageFormOf(item);
    if (form == StorageForm::kNativeBinary || form == StorageForm::kBinary) {
        // Two's complement of the item's own length; the low-order 8 bytes of a longer one.
        int count = length < 8 ? length : 8;
        uint64_t value = form == StorageForm::kNativeBinary ? ReadLittleEndian(bytes, count)
                                                            : ReadBigEndian(bytes + (length - count), count);
        return ExtendBinary(value, count, isSigned);
    }

    // The decimal forms read the last 18 bytes; the zero bytes that would stand before
    // a shorter item leave the value 0, so they are not visited.
    int count = length < kDecimalWindow ? length : kDecimalWindow;
    const unsigned char* digits = bytes + (length - count);
    // Packed: per byte, value * 10 + high nibble, then * 10 + a digit low nibble, or the
    // value negated by a low nibble D.
    if (form == StorageForm::kPacked) return ReadPackedLenient(digits, count);

    // Display, and every other usage.
    uint64_t value = 0;
    bool negative = false;
    if (flags & SIGN_SEPARATE) {
        // The sign character stands before or after the digits, in a byte of its own.
        const unsigned char* sign = (flags & SIGN_LEADING) ? bytes : bytes + length - 1;
        const unsigned char* first = (flags & SIGN_LEADING) ? bytes + 1 : bytes;
        int digitCount = length > 0 ? length - 1 : 0;
        count = digitCount < kDecimalWindow ? digitCount : kDecimalWindow;
        value = ReadZonedDigits(first + (digitCount - count), count);
        negative = length > 0 && *sign == '-';
    } else if (signByNegativeZone) {
        for (int i = 0; i < count; ++i) {
            value = AppendZonedDigit(value, digits[i]);
            negative |= ZoneOf(digits[i]) == negativeZone;
        }
    } else {
        value = ReadZonedLenient(digits, count, negative);
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

    const StorageForm form = UsageFormOf(item);
    switch (form) {
    case StorageForm::kNativeBinary:
    case StorageForm::kBinary: {
        // The low-order bytes of the value in the item's own length; a longer item
        // carries the sign in its extra high-order bytes.
        unsigned char fill = below ? 0xFF : 0x00;
        if (form == StorageForm::kNativeBinary) WriteLittleEndian(bytes, length, value, fill);
        else WriteBigEndian(bytes, length, value, fill);
        if (!FitsBinary(value, length < 8 ? length : 8, isSigned)) cut = true;
        return !cut;
    }
    case StorageForm::kPacked: {
        unsigned sign = isSigned ? (below ? PACKED_NEGATIVE : PACKED_POSITIVE) : PACKED_UNSIGNED;
        if (!WritePacked(bytes, length, kept, sign)) cut = true;
        return !cut;
    }
    default:
        break;
    }

    // Display, and every other usage: '0' characters, the digits right-aligned, the
    // sign in the last zone (COBOL rules: in the first zone for SIGN LEADING; a
    // character of its own before or after the digits for SIGN ... SEPARATE).
    unsigned char* signByte = nullptr;
    if (flags & SIGN_SEPARATE) {
        if (length == 0) return !cut && kept == 0;
        signByte = (flags & SIGN_LEADING) ? bytes : bytes + length - 1;
        if (flags & SIGN_LEADING) ++bytes;
        --length;
    }
    if (!WriteZoned(bytes, length, kept, '0')) cut = true;
    if (signByte != nullptr) {
        *signByte = below ? '-' : '+';
    } else if (isSigned && length > 0) {
        unsigned zone = below ? negativeZone : positiveZone;
        unsigned char* zoned = (flags & SIGN_LEADING) ? bytes : bytes + length - 1;
        *zoned = WithZone(*zoned, zone);
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
    // An unsigned number holds no negative value, whatever its usage: refused, and the
    // item left as it was (rather than its magnitude, or its two's complement, stored).
    if (negative && (item->flags & ITEM_NUMERIC) && !(item->flags & ITEM_SIGNED) && !HasAddressUsage(item)) {
        return false;
    }
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // Keep the last `digits` decimal digits of the magnitude.
    uint64_t kept = magnitude;
    // A POINTER or INDEX item has no digit count: it takes the value's binary bytes.
    if (item->digits < 20 && !HasAddressUsage(item)) {
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
    // An unsigned number holds no negative value, as the integer setters refuse it: the
    // item is left as it was (a value that rounds to zero is zero).
    if (value < 0 && digits.find_first_not_of('0') != std::string::npos && (item->flags & ITEM_NUMERIC) &&
        !(item->flags & ITEM_SIGNED) && !HasAddressUsage(item)) {
        return false;
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
    if (HasUsage(item, StorageForm::kBits)) {
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
        if (HasUsage(item, StorageForm::kBits)) {
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
    if (HasUsage(item, StorageForm::kBits)) {
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
