// The item search on the table's cell texts: the row test, the forward and backward
// scans, and where F3 and Shift+F3 begin.
#include "quillbox.h"

#include <cstdio>

const char* const SEARCH_CAPTION = "検索";
const char* const SEARCH_LAST_ROW_NOTICE = "最後の行が選択されています。\n検索開始位置を先頭に戻します。";
const char* const SEARCH_FIRST_ROW_NOTICE = "最初の行が選択されています。\n検索開始位置を最後に戻します。";

namespace {

// Room the row test reads a cell with: 254 bytes and a terminator.
constexpr int SEARCH_CELL_SIZE = 255;

// Whether `search` stands at `p`, character by character: double-byte characters must
// be equal as a whole (their second byte may look like a Latin letter and is never
// folded), single-byte ones equal after folding half-width Latin letters.
bool MatchesAt(const char* p, const char* search) {
    while (*search != '\0') {
        if (*p == '\0') return false;
        std::size_t width = ShiftJisCharWidth(search);
        if (ShiftJisCharWidth(p) != width) return false;
        if (width == 2) {
            if (p[0] != search[0] || p[1] != search[1]) return false;
        } else if (FoldByte(*p) != FoldByte(*search)) {
            return false;
        }
        p += width;
        search += width;
    }
    return true;
}

}  // namespace

const char* FindTextNoCase(const char* text, const char* search) {
    if (text == nullptr || search == nullptr) return nullptr;
    for (const char* p = text;; p += ShiftJisCharWidth(p)) {
        if (MatchesAt(p, search)) return p;
        if (*p == '\0') return nullptr;
    }
}

bool RowMatches(const ItemTableCells& table, int row, const char* searchText) {
    char cell[SEARCH_CELL_SIZE];
    cell[0] = '\0';
    table.GetCellText(row, COLUMN_NAME, cell, SEARCH_CELL_SIZE);
    cell[SEARCH_CELL_SIZE - 1] = '\0';
    if (FindTextNoCase(cell, searchText) != nullptr) return true;
    cell[0] = '\0';
    table.GetCellText(row, COLUMN_REMARK, cell, SEARCH_CELL_SIZE);
    cell[SEARCH_CELL_SIZE - 1] = '\0';
    return FindTextNoCase(cell, searchText) != nullptr;
}

int FindForward(const ItemTableCells& table, int startIndex, const char* searchText) {
    const int rows = table.RowCount();
    for (int index = startIndex < 0 ? 0 : startIndex; index < rows; ++index) {
        if (RowMatches(table, index, searchText)) return index + 1;
    }
    return -1;
}

int FindBackward(const ItemTableCells& table, int startIndex, const char* searchText) {
    const int rows = table.RowCount();
    for (int index = (startIndex > rows ? rows : startIndex) - 1; index >= 0; --index) {
        if (RowMatches(table, index, searchText)) return index + 1;
    }
    return -1;
}

SearchStart PlanFindNext(int rowCount, int selectedIndex) {
    if (rowCount < 0) rowCount = 0;
    if (selectedIndex < 0) return SearchStart{false, 0, 0};   // nothing selected: from the first row
    const int start = selectedIndex + 1;
    if (start >= rowCount) return SearchStart{true, 0, 0};    // the last row: back to the first row
    return SearchStart{false, start, start};
}

SearchStart PlanFindPrevious(int rowCount, int selectedIndex) {
    if (rowCount < 0) rowCount = 0;
    if (selectedIndex >= rowCount) selectedIndex = rowCount - 1;
    if (selectedIndex < 0) return SearchStart{false, rowCount, rowCount + 1};  // from the last row, included
    if (selectedIndex == 0) return SearchStart{true, rowCount, rowCount + 1};  // the first row: back to the last
    return SearchStart{false, selectedIndex, selectedIndex + 1};
}

void FormatSearchNotFound(const char* searchText, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::snprintf(buffer, size, "\"%s\"は見つかりませんでした。", TextOrEmpty(searchText));
}

void FormatFindNotFound(bool forward, int number, const char* searchText, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::snprintf(buffer, size, forward ? "No.%dより後で\"%s\"は見つかりませんでした。" : "No.%dより前で\"%s\"は見つかりませんでした。",
                  number, TextOrEmpty(searchText));
}
