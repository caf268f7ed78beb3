// quillbox: the platform-free core of the layout window's outputs.
// Everything the window shows or writes that needs no window lives here, so that the
// Win32 program, quillbox-cli and the Python module share one copy of every rule:
// - the item table: its fifteen columns, the cell texts of one item (FormatItemRow),
//   the shown-item rule (FirstShownItem / NextShownItem) and the record-length line;
// - the HTML report and the CREATE TABLE file;
// - the clipboard text of "copy all rows", built from the table's cell texts;
// - the search: the row test, FindForward / FindBackward and where F3 and Shift+F3
//   begin and whether they give the wrap-around notice;
// - start-up: the command-line argument rule and the temporary file's path;
// - the pasted copybook text written to the temporary file.
// All texts are Shift_JIS byte strings; every length counts bytes.
#ifndef QUILLBOX_H
#define QUILLBOX_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "columnnames.h"

// ---------------------------------------------------------------------------------
// Product
constexpr const char* PRODUCT_NAME = "Quillbox";

// Window title after a successful analysis: "<path> - Quillbox". Always terminated;
// cut to `size` - 1 bytes.
void FormatWindowTitle(const char* path, char* buffer, std::size_t size);

// ---------------------------------------------------------------------------------
// The item table

constexpr int ITEM_COLUMN_COUNT = 15;   // column 0 (category) is created with width 0
constexpr int ITEM_CELL_SIZE = 64;      // a cell holds at most 63 bytes and a terminator

// Column indexes the other commands refer to.
constexpr int COLUMN_CATEGORY = 0;
constexpr int COLUMN_NO = 1;
constexpr int COLUMN_NAME = 3;
constexpr int COLUMN_REMARK = 14;

enum ColumnAlignment { COLUMN_LEFT, COLUMN_RIGHT, COLUMN_CENTER };

struct ItemColumn {
    const char* title;           // exact header text
    ColumnAlignment alignment;
    int width;                   // initial width in pixels
};

// The fifteen columns in index order.
extern const ItemColumn ITEM_COLUMNS[ITEM_COLUMN_COUNT];

typedef char ItemRowCells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE];

// ItemFlagName (storage.h, through cobcpy.h): a category or usage of an item by its
// flag, with the text the table and the HTML report show and the JSON name.
// The category: the last of numeric, alphanumeric, national, boolean and group whose
// flag is set (a group keeps "集団項目" whatever else is set), then a level-88 condition
// name ("条件名") or a level-66 RENAMES item ("再命名"). Null when none is.
const ItemFlagName* ItemCategory(unsigned flags);
// The 属性 text: the item's usage as UsageNameOf (storage.h) names it (the first of
// binary, packed, COMP-5, bit, float and double whose flag is set, then, COBOL-rules
// analysis only, pointer, index, national and COMP-X); when it names none, the first
// of sign separate, sign leading, SYNC and OCCURS DEPENDING. Null when none is.
const ItemFlagName* ItemUsage(unsigned flags);

// The fifteen cell texts of one item; `rowNumber` is its 1-based number among the shown
// rows. Every cell is terminated.
void FormatItemRow(const CopyItem* item, int rowNumber, char cells[ITEM_COLUMN_COUNT][ITEM_CELL_SIZE]);

// The shown-item rule. With array expansion on every item is shown, to the end of the
// list. With it off, an item whose elementNo is greater than 1 is skipped, and a shown
// item carrying ITEM_LIST_END is the last one shown.
// FirstShownItem gives the first shown item of the list at `head` (null: none);
// NextShownItem gives the shown item after the shown item `item` (null: the walk ends).
const CopyItem* FirstShownItem(const CopyItem* head, bool arrayExpansion);
const CopyItem* NextShownItem(const CopyItem* item, bool arrayExpansion);
CopyItem* FirstShownItem(CopyItem* head, bool arrayExpansion);
CopyItem* NextShownItem(CopyItem* item, bool arrayExpansion);
int CountShownItems(const CopyItem* head, bool arrayExpansion);

// The status text after a table fill: "レコード長 : %10ldByte" with the record length
// when `head` is not null, the empty text when it is. Always terminated.
void FormatRecordLengthLine(unsigned long recordLength, char* buffer, std::size_t size);
void FormatStatusText(const CopyItem* head, unsigned long recordLength, char* buffer, std::size_t size);

// ---------------------------------------------------------------------------------
// Reading the table back: the clipboard copy and the search work on the cell texts the
// table shows, never on the items. The window reads them from its list view; the
// command-line tool and the tests from rows made by FormatItemRow.
class ItemTableCells {
public:
    virtual ~ItemTableCells() {}
    virtual int RowCount() const = 0;
    // Copies the text of `column` (0 to 14) of row `row` (index from 0) into `buffer`:
    // at most `size` - 1 bytes, always terminated.
    virtual void GetCellText(int row, int column, char* buffer, int size) const = 0;
};

// The rows of the shown-item rule, as FillItemTable puts them into the table.
class ItemRowTable : public ItemTableCells {
public:
    ItemRowTable();
    ItemRowTable(const CopyItem* head, bool arrayExpansion);
    void Fill(const CopyItem* head, bool arrayExpansion);   // replaces every row
    void AddRow(const char* const cellTexts[ITEM_COLUMN_COUNT]); // a row of given texts (cut to 63 bytes)
    int RowCount() const override;
    void GetCellText(int row, int column, char* buffer, int size) const override;
    const char* Cell(int row, int column) const;
private:
    struct Row { ItemRowCells cells; };
    std::vector<Row> rows;
};

// ---------------------------------------------------------------------------------
// Result of a writer that creates a file. The writers go through a temporary file in
// the same folder that replaces the file only when complete (TextFileReplacement), so
// a failure never destroys the file that was there.
enum ExportResult {
    EXPORT_DONE,          // every byte written and the file in place
    EXPORT_OPEN_FAILED,   // the file could not be created: nothing written
    EXPORT_WRITE_FAILED   // writing, closing or replacing failed: the old file stays
};

// ---------------------------------------------------------------------------------
// HTML report: header with `fileNameShown` (the path of the copybook shown, empty after
// a clipboard analysis; escaped like the cells) and the record length, one row block
// per shown item, footer. The file is written in text mode (LF becomes CR LF).
// A CGIMemoryException from building a row's texts is passed on; the old file stays.
ExportResult WriteHtmlReport(const char* path, const CopyItem* head, unsigned long recordLength,
                             const char* fileNameShown, bool arrayExpansion);
// Same, to a file opened by the caller with OpenTextFile. False when a write failed.
bool WriteHtmlReport(std::FILE* file, const CopyItem* head, unsigned long recordLength,
                     const char* fileNameShown, bool arrayExpansion);

// ---------------------------------------------------------------------------------
// CREATE TABLE file: one column per elementary item of the whole list (no shown-item
// rule; redefining areas and group items give no column).
constexpr int TABLE_NAME_CAPACITY = 1024;   // table name: at most 1023 bytes

ExportResult WriteCreateTable(const char* path, const CopyItem* head, const char* tableName,
                              bool useSerialNo, bool quoteNames);
bool WriteCreateTable(std::FILE* file, const CopyItem* head, const char* tableName,
                      bool useSerialNo, bool quoteNames);
// The same with FILLER items left out (`noFiller`) and the names written as `naming`.
bool WriteCreateTable(std::FILE* file, const CopyItem* head, const char* tableName, bool useSerialNo,
                      bool quoteNames, bool noFiller, ColumnNaming naming);

// ---------------------------------------------------------------------------------
// Clipboard text of "copy all rows": the optional title row, then one line per table
// row with the texts of columns 1 to 14 (each cut to 63 bytes), tab-separated, every
// line ended by CR LF. No fixed room per line: the text is as long as its rows need.
constexpr int CLIPBOARD_COLUMN_COUNT = 14;
extern const char* const CLIPBOARD_TITLES[CLIPBOARD_COLUMN_COUNT];

// Writes the text into `buffer` (at most `size` - 1 bytes, terminated when `size` > 0)
// and returns its full length without the terminator. Call with a null buffer and size
// 0 to learn the length, then with a block of length + 1 bytes.
std::size_t BuildClipboardText(const ItemTableCells& table, bool withTitle, char* buffer, std::size_t size);
std::string BuildClipboardText(const ItemTableCells& table, bool withTitle);

// ---------------------------------------------------------------------------------
// Pasted copybook text: every carriage return removed, written in text mode (each line
// feed becomes CR LF on disk). False when the file cannot be created or written.
bool WritePastedSource(const char* path, const char* text);

// ---------------------------------------------------------------------------------
// Search
constexpr int SEARCH_TEXT_CAPACITY = 256;   // search text: at most 255 bytes

// Case-insensitive containment as the ANSI code page does it: half-width Latin letters
// match regardless of case, every other character (double-byte ones as a whole) must be
// equal; a match begins only at a character boundary. Null when not contained.
const char* FindTextNoCase(const char* text, const char* search);

// The row test: column 3 (項目名) contains the search text, or failing that column 14 (備考).
bool RowMatches(const ItemTableCells& table, int row, const char* searchText);

// Row number (index + 1) of the first matching row at or after `startIndex`; -1 if none.
int FindForward(const ItemTableCells& table, int startIndex, const char* searchText);
// Row number of the first matching row from `startIndex` - 1 down to index 0; -1 if none.
int FindBackward(const ItemTableCells& table, int startIndex, const char* searchText);

// Where F3 (FindNext) and Shift+F3 (FindPrevious) begin.
// `selectedIndex` is the index of the first selected or focused row, -1 when none.
struct SearchStart {
    bool wrapNotice;   // show the notice about the last (F3) or first (Shift+F3) row first
    int startIndex;    // argument of FindForward (F3) or FindBackward (Shift+F3)
    int afterNumber;   // the number for the not-found message: the row after (F3) or
                       // before (Shift+F3) which the search began; 0 or rows + 1 at an end
};
// F3: after the selected row; from the first row when none is selected; from the first
// row after the notice when the last row is selected.
SearchStart PlanFindNext(int rowCount, int selectedIndex);
// Shift+F3: before the selected row; from the last row (included) when none is selected;
// from the last row after the notice when the first row is selected.
SearchStart PlanFindPrevious(int rowCount, int selectedIndex);

// Message texts of the search.
extern const char* const SEARCH_CAPTION;             // "検索"
extern const char* const SEARCH_LAST_ROW_NOTICE;     // F3 on the last row
extern const char* const SEARCH_FIRST_ROW_NOTICE;    // Shift+F3 on the first row
// ""%s"は見つかりませんでした。" (search dialog).
void FormatSearchNotFound(const char* searchText, char* buffer, std::size_t size);
// "No.%dより後で"%s"は見つかりませんでした。" (forward) or "No.%dより前で..." (backward).
void FormatFindNotFound(bool forward, int number, const char* searchText, char* buffer, std::size_t size);

// ---------------------------------------------------------------------------------
// Start-up
constexpr int FILE_NAME_CAPACITY = 261;       // currentFileName, saveFileName: 260 and a terminator
constexpr int MODULE_PATH_CAPACITY = 522;     // the executable's path: 521 and a terminator
constexpr const char* TEMP_FILE_NAME = "__quillbox_cb.tmp";
constexpr int TEMP_FILE_PATH_CAPACITY = MODULE_PATH_CAPACITY + 17;

// The first command-line argument: when the line starts with a double quote, the text up
// to the next double quote or the end (blanks included); otherwise the text up to the
// first blank, double quote or the end. At most `size` - 1 bytes (260 for
// FILE_NAME_CAPACITY), never half a double-byte character; always terminated.
void TakeCommandLineArgument(const char* commandLine, char* buffer, std::size_t size);

// tempFilePath: the executable's path cut after its last backslash (a backslash byte that
// is the second byte of a double-byte character does not count), then TEMP_FILE_NAME.
// A path without a backslash gives TEMP_FILE_NAME alone. False (and an empty buffer) when
// the result does not fit in `size` - 1 bytes.
bool BuildTempFilePath(const char* modulePath, char* buffer, std::size_t size);

#endif
