// The item table's text model: the columns, the cell texts of one item, the shown-item
// rule and the record-length line.
#include "quillbox.h"

#include <cstdio>
#include <cstring>


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

namespace {

// Categories in rising precedence.
const ItemFlagName kCategories[] = {
    {ITEM_NUMERIC, "数値", "numeric"},  {ITEM_ALPHANUMERIC, "文字", "alphanumeric"}, {ITEM_NATIONAL, "2バイト文字", "national"},
    {ITEM_BOOLEAN, "ビット", "boolean"}, {ITEM_GROUP, "集団項目", "group"},
    // Only the COBOL-rules analysis sets these two; such an item has no other category.
    {ITEM_CONDITION, "条件名", "condition"}, {ITEM_RENAMES, "再命名", "renames"},
};
// The attributes the 属性 cell shows when the item names no usage (COBOL-rules
// analysis only).
const ItemFlagName kAttributes[] = {
    {SIGN_SEPARATE, "SEPARATE", "sign-separate"}, {SIGN_LEADING, "LEADING", "sign-leading"}, {ITEM_SYNC, "SYNC", "sync"},
    {ITEM_VARIABLE, "DEPENDING", "depending"},
};

// A text field of an item into a cell.
void CopyField(char* cell, const char (&field)[64]) {
    CopyTextCut(cell, ITEM_CELL_SIZE, ItemText(field).Get());
}

void FormatNumber(char* cell, int value) {
    std::snprintf(cell, ITEM_CELL_SIZE, "%d", value);
}

// Columns that leave a zero count empty: formatted, then "0" becomes the empty text.
void FormatCount(char* cell, int value) {
    FormatNumber(cell, value);
    if (std::strcmp(cell, "0") == 0) cell[0] = '\0';
}

// The shown text of a category or usage; empty for none.
const char* ShownText(const ItemFlagName* name) { return name != nullptr ? name->shown : ""; }

bool IsShown(const CopyItem* item, bool arrayExpansion) {
    return arrayExpansion || item->elementNo <= 1;
}

}  // namespace

const ItemFlagName* ItemCategory(unsigned flags) {
    const ItemFlagName* found = nullptr;
    for (const ItemFlagName& category : kCategories) {
        if (flags & category.flag) found = &category;
    }
    return found;
}

const ItemFlagName* ItemUsage(unsigned flags) {
    if (const ItemFlagName* usage = UsageNameOf(flags)) return usage;
    for (const ItemFlagName& attribute : kAttributes) {
        if (flags & attribute.flag) return &attribute;
    }
    return nullptr;
}

void FormatItemRow(const CopyItem* item, int rowNumber, char cells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE]) {
    const unsigned flags = item->flags;
    CopyTextCut(cells[0], ITEM_CELL_SIZE, ShownText(ItemCategory(flags)));
    FormatNumber(cells[1], rowNumber);
    std::snprintf(cells[2], ITEM_CELL_SIZE, "%02d", item->level);
    CopyField(cells[3], item->name);
    if (HasUsage(item, StorageForm::kFloat)) {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "単精度");
    } else if (HasUsage(item, StorageForm::kDouble)) {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "倍精度");
    } else if (item->picture[0] == '\0') {
        CopyTextCut(cells[4], ITEM_CELL_SIZE, "GF");
    } else {
        CopyField(cells[4], item->picture);
    }
    FormatNumber(cells[5], item->digits);
    FormatCount(cells[6], item->scale);
    FormatNumber(cells[7], item->byteLength);
    CopyTextCut(cells[8], ITEM_CELL_SIZE, ShownText(ItemUsage(flags)));
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
