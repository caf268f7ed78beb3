// The storage rule, with the inline parts of storage.h: the one place that reads the
// usage flags to tell how an item's bytes hold its value, how long the copybook
// dialect makes them, what a subordinate takes from its group, and how the front ends
// name the usages.
#include "storage.h"

#include "engine_internal.h"

namespace {

// Every usage bit of either analysis.
constexpr unsigned kAllUsages = USAGE_BINARY | USAGE_COMP5 | USAGE_PACKED | USAGE_BIT | USAGE_FLOAT | USAGE_DOUBLE |
                                USAGE_POINTER | USAGE_INDEX | USAGE_NATIONAL | USAGE_COMPX;

// The usages a subordinate takes from its group in the copybook dialect; COMP-1 and
// COMP-2 are not passed on.
constexpr unsigned kDialectInheritedUsages = USAGE_BINARY | USAGE_PACKED | USAGE_COMP5 | USAGE_BIT;

// Whether a numeric PICTURE holds only the symbols of a number stored one digit a
// byte (9 S V P and repetition counts); anything else edits it into text.
bool IsDigitsPicture(const char* picture) {
    for (const char* p = picture; *p; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '9' || c == 'S' || c == 'V' || c == 'P' || c == '(' || c == ')' || (c >= '0' && c <= '8')) continue;
        return false;
    }
    return true;
}

// Two, four or eight bytes, the smallest binary field that holds `digits` digits.
std::int64_t BinaryLength(std::int64_t digits) {
    if (digits <= 4) return 2;
    if (digits <= 9) return 4;
    if (digits <= 18) return 8;
    RAISE(CException, "数値型が64ビットを超えるかもしれません。");
}

// The usage names: the item table's 属性 order is the order of this table.
const ItemFlagName kUsageNames[USAGE_NAME_COUNT] = {
    {USAGE_BINARY, "BINARY", "binary"},    {USAGE_PACKED, "PACK", "packed-decimal"}, {USAGE_COMP5, "COMP-5", "comp-5"},
    {USAGE_BIT, "BIT", "bit"},             {USAGE_FLOAT, "FLOAT", "comp-1"},          {USAGE_DOUBLE, "DOUBLE", "comp-2"},
    {USAGE_POINTER, "POINTER", "pointer"}, {USAGE_INDEX, "INDEX", "index"},          {USAGE_NATIONAL, "NATIONAL", "national"},
    {USAGE_COMPX, "COMP-X", "comp-x"},
};

// The listing order of UsageNamesOf, as indexes into kUsageNames.
const int kListedUsages[USAGE_NAME_COUNT] = {0, 2, 1, 3, 4, 5, 9, 6, 7, 8};

}  // namespace

StorageForm StorageFormOf(const CopyItem* item) {
    const unsigned flags = item->flags;
    if (flags & (ITEM_GROUP | ITEM_CONDITION | ITEM_RENAMES)) return StorageForm::kNone;
    const StorageForm usage = UsageFormOf(item);
    switch (usage) {
    case StorageForm::kNativeBinary:
    case StorageForm::kBinary:
    case StorageForm::kPacked:
        return usage;
    default:
        break;
    }
    if (flags & ITEM_NATIONAL) {
        // National-edited with one-byte B 0 / (as GnuCOBOL lays N-edited pictures out):
        // no run of double-byte characters, so text.
        const bool mixed = (flags & ITEM_EDITED) && item->byteLength != 2 * item->digits;
        return mixed ? StorageForm::kText : StorageForm::kNational;
    }
    if (usage != StorageForm::kDisplay) return usage;
    if (flags & ITEM_NUMERIC) {
        const int separate = (flags & SIGN_SEPARATE) ? 1 : 0;
        const bool digits = !(flags & ITEM_EDITED) && IsDigitsPicture(item->picture) &&
                            item->byteLength == item->digits + separate;
        return digits ? StorageForm::kDisplay : StorageForm::kEdited;
    }
    if (flags & ITEM_BOOLEAN) return StorageForm::kBoolChars;
    return StorageForm::kText;
}

const ItemFlagName* UsageNameOf(unsigned flags) {
    for (const ItemFlagName& usage : kUsageNames) {
        if (flags & usage.flag) return &usage;
    }
    return nullptr;
}

int UsageNamesOf(unsigned flags, const ItemFlagName* (&names)[USAGE_NAME_COUNT]) {
    int count = 0;
    for (int index : kListedUsages) {
        if (flags & kUsageNames[index].flag) names[count++] = &kUsageNames[index];
    }
    return count;
}

std::int64_t DialectByteLength(CopyItem* item) {
    const std::int64_t digits = item->digits;
    switch (UsageFormOf(item)) {
    case StorageForm::kBinary:
        return BinaryLength(digits);
    case StorageForm::kNativeBinary:
        // The dialect's length table takes BINARY, then PACKED-DECIMAL, then COMP-5: an
        // entry that says COMP-5 and COMP-3 is as long as the packed number, and holds
        // it as COMP-5.
        if ((item->flags & (USAGE_PACKED | USAGE_BINARY)) == USAGE_PACKED) return digits / 2 + 1;
        return BinaryLength(digits);
    case StorageForm::kPacked:
        return digits / 2 + 1;
    default:
        break;
    }
    if (item->flags & ITEM_NATIONAL) return digits * 2;
    switch (UsageFormOf(item)) {
    case StorageForm::kBits:
        return (digits + 7) / 8;
    case StorageForm::kFloat:
        item->flags |= ITEM_NUMERIC;
        return 4;
    case StorageForm::kDouble:
        item->flags |= ITEM_NUMERIC;
        return 8;
    default:
        return digits;
    }
}

void InheritDialectUsage(CopyItem* item, const CopyItem* giver) { item->flags |= giver->flags & kDialectInheritedUsages; }

void InheritCobolUsage(CopyItem* item, const CopyItem* group) { item->flags |= group->flags & kAllUsages; }
