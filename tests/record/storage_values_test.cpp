// The record object against the storage rule: entries that say two usages are written
// and read in the form StorageFormOf gives them, so a codec that follows the form
// agrees with the record object byte for byte.
#include <string>

#include "numeric_forms.h"
#include "record_fixture.h"

namespace {

// The bytes `value` takes in `item` by its storage form, made with the number forms'
// own writers; COMP-1 and COMP-2 items are written as display digits, as the record
// object's numeric operations take every form but the binary and packed ones.
std::string Expected(const CopyItem* item, int64_t value) {
    std::string bytes(static_cast<size_t>(item->byteLength), '\0');
    unsigned char* b = reinterpret_cast<unsigned char*>(&bytes[0]);
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    const unsigned char fill = negative ? 0xFF : 0x00;
    switch (StorageFormOf(item)) {
    case StorageForm::kNativeBinary:
        WriteLittleEndian(b, item->byteLength, static_cast<uint64_t>(value), fill);
        break;
    case StorageForm::kBinary:
        WriteBigEndian(b, item->byteLength, static_cast<uint64_t>(value), fill);
        break;
    case StorageForm::kPacked:
        WritePacked(b, item->byteLength, magnitude,
                    (item->flags & ITEM_SIGNED) ? (negative ? PACKED_NEGATIVE : PACKED_POSITIVE) : PACKED_UNSIGNED);
        break;
    default:
        WriteZoned(b, item->byteLength, magnitude, '0');
        if (item->flags & ITEM_SIGNED) b[item->byteLength - 1] = WithZone(b[item->byteLength - 1], negative ? 0x50 : 0x40);
        break;
    }
    return bytes;
}

TEST(StorageValues, TwoUsagesAreWrittenAndReadInTheStorageForm) {
    Copybook copybook("storage_two.cpy", {
                                             "01 R.",
                                             "    05 A PIC S9(5) COMP COMP-5.",
                                             "    05 B PIC S9(5) COMP-3 COMP.",
                                             "    05 C PIC S9(5) COMP-5 COMP-3.",
                                             "    05 D PIC 9(5) COMP-3 COMP-5 COMP.",
                                             "    05 E COMP-1 PIC S9(5) COMP.",
                                             "    05 F COMP-1 PIC S9(5) COMP-3.",
                                             "    05 G COMP-1 PIC 9(4).",
                                         });
    ScratchFile data("storage_two.dat");
    CopyRecord record(data.path(), copybook.path());
    ASSERT_TRUE(record.Open(4));
    const char* const names[] = {"R.A", "R.B", "R.C", "R.D", "R.E", "R.F", "R.G"};
    for (const char* name : names) {
        CopyItem* item = record.FindItemByName(name);
        ASSERT_NE(nullptr, item) << name;
        const bool isSigned = (item->flags & ITEM_SIGNED) != 0;
        for (int64_t value : {int64_t{0}, int64_t{4321}, int64_t{-1234}}) {
            if (!isSigned && value < 0) continue;
            EXPECT_TRUE(record.SetInt64(item, value)) << name << " " << value;
            const std::string stored(record.RecordBuffer() + item->position - 1, static_cast<size_t>(item->byteLength));
            EXPECT_EQ(Expected(item, value), stored) << name << " " << value;
            if (item->flags & ITEM_NUMERIC) {
                EXPECT_EQ(value, record.GetInt64(item)) << name << " " << value;
            }
        }
    }
}

}  // namespace
