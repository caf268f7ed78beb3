// storage: how an item's bytes hold its value, decided in one place from the item's
// category and usage flags. Every reader of the layout (the record object, the
// layout's byte lengths, the front ends' texts, the data codec) asks these functions
// instead of testing the usage bits itself.
//
// An entry of the copybook dialect may say two usages (05 A PIC 9(5) COMP COMP-5.);
// its flags then hold both bits. The storage form takes them in the order the record
// object's value operations do: COMP-5 (and the COBOL rules' POINTER and INDEX), then
// BINARY, then PACKED-DECIMAL, then BIT, COMP-1 and COMP-2. Under the COBOL rules a
// repeated USAGE clause keeps only its last usage, so their flags hold one.
#ifndef COBCPY_STORAGE_H
#define COBCPY_STORAGE_H

#include "cobcpy.h"

enum class StorageForm : unsigned char {
    kNone,          // no storage of its own: group, condition name (88), RENAMES (66)
    kDisplay,       // zoned decimal: one digit a byte, the sign in a zone or in a character of its own
    kEdited,        // a numeric item held as characters: an edited PICTURE, or bytes that are not one a digit
    kPacked,        // packed decimal: two digits a byte, the sign in the last nibble
    kBinary,        // two's complement, most significant byte first: BINARY, COMP, COMP-4, COMP-X
    kNativeBinary,  // two's complement, least significant byte first: COMP-5, BINARY-CHAR .. BINARY-DOUBLE, POINTER, INDEX
    kFloat,         // 4-byte floating point: COMP-1, FLOAT-SHORT
    kDouble,        // 8-byte floating point: COMP-2, FLOAT-LONG
    kText,          // characters: alphanumeric, alphabetic, alphanumeric-edited, national-edited with one-byte insertions
    kNational,      // two bytes a character: national and DBCS items, numeric items of USAGE NATIONAL
    kBits,          // USAGE BIT: eight bits a byte, the first bit in the most significant one
    kBoolChars,     // boolean without BIT: one character '0' or '1' a bit
};

// The storage form of an item's bytes: kNone for an item without storage of its own;
// otherwise the binary or packed usage (in the order above) whatever the category, as
// the layout sized the item by it; then a national category (kNational, or kText for a
// national-edited PICTURE with one-byte insertions); then USAGE NATIONAL, BIT, COMP-1
// or COMP-2; then the category: a numeric item is kDisplay when its PICTURE holds only
// 9 S V P and its length is its digits (one more with a separate sign), kEdited
// otherwise; a boolean item kBoolChars; every other item kText.
StorageForm StorageFormOf(const CopyItem* item);

// The form the usage alone gives a number stored in the item, its category not looked
// at: kNativeBinary, kBinary, kPacked, kNational, kBits, kFloat, kDouble (in this order
// when the flags hold more than one), or kDisplay for display usage. Defined for every
// item, groups included. The record object's numeric operations use it, since they
// check no category: kNativeBinary, kBinary and kPacked are read and written as such,
// every other form as display digits.
inline StorageForm UsageFormOf(const CopyItem* item) {
    const unsigned flags = item->flags;
    if (flags & (USAGE_COMP5 | USAGE_POINTER | USAGE_INDEX)) return StorageForm::kNativeBinary;
    if (flags & USAGE_BINARY) return StorageForm::kBinary;
    if (flags & USAGE_PACKED) return StorageForm::kPacked;
    if (flags & USAGE_NATIONAL) return StorageForm::kNational;
    if (flags & USAGE_BIT) return StorageForm::kBits;
    if (flags & USAGE_FLOAT) return StorageForm::kFloat;
    if (flags & USAGE_DOUBLE) return StorageForm::kDouble;
    return StorageForm::kDisplay;
}

// Whether the item's usage words include one stored in `form`, whatever else they
// say: kNativeBinary (COMP-5, POINTER, INDEX), kBinary, kPacked, kNational (USAGE
// NATIONAL), kBits, kFloat or kDouble; false for the other forms. For the rules that
// test one usage ahead of the order above: the record object's bit texts (BIT), and
// the 宣言 cell and the DDL column type, which name COMP-1 and COMP-2 first.
inline bool HasUsage(const CopyItem* item, StorageForm form) {
    unsigned bits = 0;
    switch (form) {
    case StorageForm::kNativeBinary: bits = USAGE_COMP5 | USAGE_POINTER | USAGE_INDEX; break;
    case StorageForm::kBinary: bits = USAGE_BINARY; break;
    case StorageForm::kPacked: bits = USAGE_PACKED; break;
    case StorageForm::kNational: bits = USAGE_NATIONAL; break;
    case StorageForm::kBits: bits = USAGE_BIT; break;
    case StorageForm::kFloat: bits = USAGE_FLOAT; break;
    case StorageForm::kDouble: bits = USAGE_DOUBLE; break;
    default: break;
    }
    return (item->flags & bits) != 0;
}

// Whether the item has the COBOL rules' POINTER or INDEX usage: a native binary number
// without a category or a digit count.
inline bool HasAddressUsage(const CopyItem* item) { return (item->flags & (USAGE_POINTER | USAGE_INDEX)) != 0; }

// A category or usage of an item by its flag: the text the item table and the HTML
// report show, and the lower-case name the command-line tool's JSON gives.
struct ItemFlagName {
    unsigned flag;
    const char* shown;
    const char* name;
};

// The item table's 属性 usage: the first of binary "BINARY", packed "PACK", COMP-5,
// bit, float and double whose flag is set, then (COBOL rules only) pointer, index,
// national and COMP-X. Null for display usage.
const ItemFlagName* UsageNameOf(unsigned flags);

// The most usages one item's flags can name.
constexpr int USAGE_NAME_COUNT = 10;

// Every usage the flags hold, each once: the copybook dialect's six in the order of
// their flag values (binary, COMP-5, packed, bit, float, double), then the COBOL rules'
// COMP-X, pointer, index and national. Returns how many were stored in `names`.
int UsageNamesOf(unsigned flags, const ItemFlagName* (&names)[USAGE_NAME_COUNT]);

#endif
