// The item table's text model: the columns, the cell texts of one item, the shown-item
// rule and the record-length line.
#include "quillbox.h"

#include <cstdio>
#include <cstring>

#include "core_internal.h"

const ItemColumn ITEM_COLUMNS[ITEM_COLUMN_COUNT] = {
    {"データ型", COLUMN_LEFT, 0},
    {"No", COLUMN_RIGHT, 40},
    {"レベル", COLUMN_RIGHT, 30},
    {"項目名", COLUMN_LEFT, 135},
    {"宣言", COLUMN_CENTER, 55},
    {"桁数", COLUMN_RIGHT, 50},
    {"小数部桁数", COLUMN_RIGHT, 50},
    {"バイト", COLUMN_RIGHT, 50},
    {"属性", COLUMN_LEFT, 60},
    {"再定義(REDEFINES)", COLUMN_LEFT, 135},
    {"配列数", COLUMN_RIGHT, 50},
    {"要素番号", COLUMN_RIGHT, 50},
    {"次元", COLUMN_RIGHT, 35},
    {"相対位置", COLUMN_RIGHT, 50},
    {"備考", COLUMN_LEFT, 110},
};

bool IsShiftJisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::size_t CutLength(const char* source, std::size_t limit) {
    if (source == nullptr) return 0;
    std::size_t n = 0;
    while (source[n] != '\0') {
        std::size_t width = 1;
        if (IsShiftJisLeadByte(static_cast<unsigned char>(source[n]))) {
            // A first byte left without its second (a text cut elsewhere) is dropped.
            if (source[n + 1] == '\0') break;
            width = 2;
        }
        if (n + width > limit) break;
        n += width;
    }
    return n;
}

std::size_t CopyTextCut(char* buffer, std::size_t size, const char* source) {
    if (size == 0) return 0;
    std::size_t n = CutLength(source, size - 1);
    if (n > 0) std::memcpy(buffer, source, n);
    buffer[n] = '\0';
    return n;
}

namespace {

// A text field of an item: 64 bytes that the engine always terminates; a field that is
// not terminated is read up to its 63rd byte.
void CopyField(char* cell, const char (&field)[64]) {
    char bounded[64];
    std::memcpy(bounded, field, sizeof bounded - 1);
    bounded[sizeof bounded - 1] = '\0';
    CopyTextCut(cell, ITEM_CELL_SIZE, bounded);
}

void FormatNumber(char* cell, int value) {
    std::snprintf(cell, ITEM_CELL_SIZE, "%d", value);
}

// Columns that leave a zero count empty: formatted, then "0" becomes the empty text.
void FormatCount(char* cell, int value) {
    FormatNumber(cell, value);
    if (std::strcmp(cell, "0") == 0) cell[0] = '\0';
}

const char* CategoryText(unsigned flags) {
    const char* text = "";
    if (flags & ITEM_NUMERIC) text = "数値";
    if (flags & ITEM_ALPHANUMERIC) text = "文字";
    if (flags & ITEM_NATIONAL) text = "2バイト文字";
    if (flags & ITEM_BOOLEAN) text = "ビット";
    if (flags & ITEM_GROUP) text = "集団項目";
    return text;
}

const char* UsageText(unsigned flags) {
    if (flags & USAGE_BINARY) return "BINARY";
    if (flags & USAGE_PACKED) return "PACK";
    if (flags & USAGE_COMP5) return "COMP-5";
    if (flags & USAGE_BIT) return "BIT";
    if (flags & USAGE_FLOAT) return "FLOAT";
    if (flags & USAGE_DOUBLE) return "DOUBLE";
    return "";
}

bool IsShown(const CopyItem* item, bool arrayExpansion) {
    return arrayExpansion || item->elementNo <= 1;
}

}  // namespace

void FormatItemRow(const CopyItem* item, int rowNumber, char cells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE]) {
    const unsigned flags = item->flags;
    CopyTextCut(cells[0], ITEM_CELL_SIZE, CategoryText(flags));
    FormatNumber(cells[1], rowNumber);
    std::snprintf(cells[2], ITEM_CELL_SIZE, "%02d", item->level);
    CopyField(cells[3], item->name);
    if (flags & USAGE_FLOAT) {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "単精度");
    } else if (flags & USAGE_DOUBLE) {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "倍精度");
    } else if (item->picture[0] == '\0') {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "GF");
    } else {
        CopyField(cells[4], item->picture);
    }
    FormatNumber(cells[5], item->digits);
    FormatCount(cells[6], item->scale);
    FormatNumber(cells[7], item->byteLength);
    CopyTextCut(cells[8], ITEM_CELL_SIZE, UsageText(flags));
    if (item->redefines != nullptr) {
        CopyField(cells[9], item->redefines->name);
    } else {
        cells[9][0] = '\0';
    }
    FormatCount(cells[10], item->occursCount);
    FormatCount(cells[11], item->elementNo);
    FormatCount(cells[12], item->dimension);
    FormatNumber(cells[13], item->position);
    CopyField(cells[14], item->remark);
}

const CopyItem* FirstShownItem(const CopyItem* head, bool arrayExpansion) {
    const CopyItem* item = head;
    while (item != nullptr && !IsShown(item, arrayExpansion)) item = item->next;
    return item;
}

const CopyItem* NextShownItem(const CopyItem* item, bool arrayExpansion) {
    if (item == nullptr) return nullptr;
    if (!arrayExpansion && (item->flags & ITEM_LIST_END)) return nullptr;
    return FirstShownItem(item->next, arrayExpansion);
}

CopyItem* FirstShownItem(CopyItem* head, bool arrayExpansion) {
    return const_cast<CopyItem*>(FirstShownItem(static_cast<const CopyItem*>(head), arrayExpansion));
}

CopyItem* NextShownItem(CopyItem* item, bool arrayExpansion) {
    return const_cast<CopyItem*>(NextShownItem(static_cast<const CopyItem*>(item), arrayExpansion));
}

int CountShownItems(const CopyItem* head, bool arrayExpansion) {
    int count = 0;
    for (const CopyItem* item = FirstShownItem(head, arrayExpansion); item != nullptr;
         item = NextShownItem(item, arrayExpansion)) {
        ++count;
    }
    return count;
}

void FormatRecordLengthLine(unsigned long recordLength, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::snprintf(buffer, size, "レコード長 : %10luByte", recordLength);
}

void FormatStatusText(const CopyItem* head, unsigned long recordLength, char* buffer, std::size_t size) {
    if (size == 0) return;
    if (head == nullptr) {
        buffer[0] = '\0';
    } else {
        FormatRecordLengthLine(recordLength, buffer, size);
    }
}

ItemRowTable::ItemRowTable() {}

ItemRowTable::ItemRowTable(const CopyItem* head, bool arrayExpansion) { Fill(head, arrayExpansion); }

void ItemRowTable::Fill(const CopyItem* head, bool arrayExpansion) {
    rows.clear();
    int rowNumber = 0;
    for (const CopyItem* item = FirstShownItem(head, arrayExpansion); item != nullptr;
         item = NextShownItem(item, arrayExpansion)) {
        rows.emplace_back();
        FormatItemRow(item, ++rowNumber, rows.back().cells);
    }
}

void ItemRowTable::AddRow(const char* const cellTexts[ITEM_COLUMN_COUNT]) {
    rows.emplace_back();
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) {
        CopyTextCut(rows.back().cells[column], ITEM_CELL_SIZE, cellTexts[column]);
    }
}

int ItemRowTable::RowCount() const { return static_cast<int>(rows.size()); }

void ItemRowTable::GetCellText(int row, int column, char* buffer, int size) const {
    if (size <= 0) return;
    CopyTextCut(buffer, static_cast<std::size_t>(size), Cell(row, column));
}

const char* ItemRowTable::Cell(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ITEM_COLUMN_COUNT) return "";
    return rows[static_cast<std::size_t>(row)].cells[column];
}
