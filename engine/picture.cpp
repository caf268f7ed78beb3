// Picture and usage analysis: category counts of a PICTURE character-string, and the
// checks and remark reading that end every entry.
//
// The numeric analysers return (positions or digits) * 256 + decimal places; the
// counting analysers return the plain count. Every count is kept in 64 bits while a
// string is read, so that a repetition such as X(99999999999) is refused instead of
// wrapping around; a count that would pass the largest signed 32-bit value is refused
// with the same message as an over-long record.
#include <climits>
#include <cstdint>

#include "engine_internal.h"

namespace {

// The repetition count written after the "(" at `open`: the decimal digits that follow
// it (none reads as 0). The digits themselves are checked again by the caller, one by
// one, while it stays in its count state.
std::int64_t ReadRepeat(const char* open) {
    std::int64_t n = 0;
    for (const char* p = open + 1; IsDecimalDigit(*p); ++p) {
        n = n * 10 + (*p - '0');
        if (n > INT_MAX) RAISE(CException, "レコード長が大きすぎます。");
    }
    return n;
}

// Refuses a running count that no longer fits a signed 32-bit field.
void CheckCount(std::int64_t count) {
    if (count > INT_MAX) RAISE(CException, "レコード長が大きすぎます。");
}

// Repeats such as "()" add n - 1 = -1; a string made only of them would describe a
// negative size, which no storage can have.
void CheckNotNegative(std::int64_t count) {
    if (count < 0) RAISE(CException, "桁指定エラー");
}

// The largest count of digit positions a numeric item may hold.
constexpr std::int64_t kMaxNumericDigits = 18;

// A byte inside the "(n)" of a repetition: true at the ")" that ends it; anything but
// a digit is refused.
bool EndsCount(char c) {
    if (c == ')') return true;
    if (!IsDecimalDigit(c)) RAISE(CException, "桁指定エラー");
    return false;
}

// The result of a numeric analyser: `size` * 256 + `decimals`, after the checks every
// numeric string passes at its end. With at most 18 digits and a 63-byte string, both
// parts fit their 8 bits.
int NumericResult(std::int64_t size, std::int64_t digits, std::int64_t decimals) {
    CheckNotNegative(digits);
    CheckNotNegative(decimals);
    if (digits > kMaxNumericDigits) RAISE(CException, "数値型は18桁まで");
    return static_cast<int>(size * 256 + decimals);
}

// The shared scheme of the national, alphanumeric and boolean analysers: each accepted
// symbol counts one, "(n)" adds n - 1.
int CountSymbols(const char* picture, const char* accepted) {
    enum { kSymbol, kCount } state = kSymbol;
    std::int64_t count = 0;
    for (const char* p = picture; *p; ++p) {
        const char c = FoldByte(*p);
        if (state == kSymbol) {
            bool known = false;
            for (const char* a = accepted; *a; ++a) {
                if (c == *a) { known = true; break; }
            }
            if (known) {
                ++count;
            } else if (c == '(') {
                count += ReadRepeat(p) - 1;
                state = kCount;
            } else {
                RAISE(CException, "データ型エラー");
            }
            CheckCount(count);
        } else if (EndsCount(c)) {
            state = kSymbol;
        }
    }
    CheckNotNegative(count);
    return static_cast<int>(count);
}

// Does `picture` hold an editing symbol, which a binary or packed item cannot have?
bool HasEditingSymbol(const char* picture) {
    for (const char* p = picture; *p; ++p) {
        switch (*p) {
        case '.': case ',': case '/': case '\\': case '$':
        case 'z': case 'Z': case '+': case '-':
            return true;
        default:
            break;
        }
    }
    return false;
}

}  // namespace

char* CopyAnalyzer::EndEntry(CopyItem* item, char* position) {
    // Usage against category, with the entry's own usage words only (usages passed
    // down from groups are added later).
    switch (UsageFormOf(item)) {
    case StorageForm::kBinary:
    case StorageForm::kNativeBinary:
    case StorageForm::kPacked:
        if (!(item->flags & (ITEM_NUMERIC | ITEM_GROUP)))
            RAISE(CException, "属性の組み合わせが不当");
        if (HasEditingSymbol(item->picture))
            RAISE(CException, "COMP系属性にできない形式");
        break;
    default:
        break;
    }
    if (HasUsage(item, StorageForm::kBits) && !(item->flags & (ITEM_BOOLEAN | ITEM_GROUP)))
        RAISE(CException, "属性の組み合わせが不当");

    // The remark: a "*>" comment behind the terminating period on the entry's line.
    char* p = position;
    if (*p == ';') ++p;
    while (IsBlank(*p)) ++p;
    if (p[0] == '*' && p[1] == '>') {
        p += 2;
        while (IsBlank(*p)) ++p;
        int length = 0;
        while (*p && *p != '\n' && length < static_cast<int>(sizeof item->remark) - 1)
            item->remark[length++] = *p++;
        item->remark[length] = '\0';
    }
    while (*p && *p != '\n') ++p;

    stage = 0;
    return p;
}

int CopyAnalyzer::AnalyzeSignedPicture(const char* picture) {
    enum { kFirstDigit, kSymbol, kCount } state = kFirstDigit;
    std::int64_t digits = 0, decimals = 0;
    bool point = false;
    // The leading S takes no digit position.
    for (const char* p = picture + (*picture ? 1 : 0); *p; ++p) {
        const char c = FoldByte(*p);
        if (point && c == 'v') RAISE(CException, "小数部指定不当");
        if (state == kCount) {
            if (EndsCount(c)) state = kSymbol;
            continue;
        }
        switch (state) {
        case kFirstDigit:
            if (c != '9') RAISE(CException, "データ型エラー");
            ++digits;
            if (point) ++decimals;
            state = kSymbol;
            break;
        case kSymbol:
            if (c == '9') {
                ++digits;
                if (point) ++decimals;
            } else if (c == '(') {
                const std::int64_t n = ReadRepeat(p);
                digits += n - 1;
                if (point) decimals += n - 1;
                state = kCount;
            } else if (c == 'v') {
                point = true;
            } else {
                RAISE(CException, "データ型エラー");
            }
            break;
        case kCount:
            break;
        }
        CheckCount(digits);
    }
    return NumericResult(digits, digits, decimals);
}

int CopyAnalyzer::AnalyzeNumericPicture(const char* picture) {
    enum { kSymbol, kCount, kAfterInsertion } state = kSymbol;
    std::int64_t positions = 0, digits = 0, decimals = 0;
    bool point = false;
    bool leading = true;
    // One digit position: it occupies a character and holds a digit.
    auto countPosition = [&]() {
        ++positions;
        ++digits;
        if (point) ++decimals;
    };
    for (const char* p = picture; *p; ++p) {
        const char c = FoldByte(*p);
        if (point && (c == 'v' || c == '.')) RAISE(CException, "小数部指定不当");
        if (state == kCount) {
            if (EndsCount(c)) state = kSymbol;
            continue;
        }
        switch (state) {
        case kSymbol:
            if (c == '9') {
                leading = false;
                countPosition();
            } else if (leading && (c == 'z' || c == '\\' || c == '$' || c == '+' || c == '-')) {
                countPosition();
            } else if (c == 'v') {
                point = true;
                leading = false;
                state = kAfterInsertion;
            } else if (c == '.') {
                point = true;
                leading = false;
                ++positions;
                state = kAfterInsertion;
            } else if (c == ',' || c == '/') {
                ++positions;
                if (point) ++decimals;
                state = kAfterInsertion;
            } else if (c == '(') {
                const std::int64_t n = ReadRepeat(p);
                positions += n - 1;
                digits += n - 1;
                if (point) decimals += n - 1;
                state = kCount;
            } else {
                RAISE(CException, "データ型エラー");
            }
            break;
        case kCount:
            break;
        case kAfterInsertion:
            if (c == '9' || c == 'z') {
                countPosition();
                state = kSymbol;
            } else {
                RAISE(CException, "データ型エラー");
            }
            break;
        }
        CheckCount(positions);
    }
    return NumericResult(positions, digits, decimals);
}

int CopyAnalyzer::AnalyzeNationalPicture(const char* picture) {
    return CountSymbols(picture, "ngj");
}

int CopyAnalyzer::AnalyzeAlphanumericPicture(const char* picture) {
    return CountSymbols(picture, "xb.,/");
}

int CopyAnalyzer::AnalyzeBooleanPicture(const char* picture) {
    return CountSymbols(picture, "1");
}
