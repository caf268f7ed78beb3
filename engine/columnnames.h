// The names of a table's columns: one rule for every table made of a layout (the
// CREATE TABLE file, the decoded CSV and JSON Lines, the schema, a database table).
//
// A column is named as the CREATE TABLE file has always named it: the item's name and,
// in an array, "_" and its element number (or running number). Where that name is
// unique it stays. Where it repeats:
//   1. an item in nested tables carries every index, outermost first (ORD-DLV-DATE_2_3);
//   2. a name that still repeats is qualified by the nearest enclosing group that the
//      other items of that name are not in (CUST-ADDR-CUST-ID);
//   3. a name that no group tells apart is numbered: FILLER, FILLER_2, FILLER_3.
// A table with two columns of one name is no valid SQL: the rule keeps every name that
// was unique and mends only the repeated ones.
#ifndef COBCPY_COLUMNNAMES_H
#define COBCPY_COLUMNNAMES_H

#include <string>
#include <vector>

#include "cobcpy.h"

enum class ColumnNaming {
    kCobol,   // the item's name as written (Shift_JIS)
    kSql      // "-" as "_", and names that are SQL keywords in double quotes
};

// The names (Shift_JIS bytes) of `items`, elementary items in list order, the columns
// of one table. `useSerialNo`: array columns by the item's running number.
std::vector<std::string> ColumnNamesOf(const std::vector<const CopyItem*>& items, bool useSerialNo,
                                       ColumnNaming naming = ColumnNaming::kCobol);

// Makes `names` unique as the repeats of column names are numbered: names that differ
// only in the case of ASCII letters are one name (to SQL, and to a file system that
// ignores case); the first keeps it, the others get _2, _3... (a number no other name
// holds). `shiftJis`: the names are Shift_JIS bytes, else UTF-8. The tables and files
// of record types.
void NumberRepeatedNames(std::vector<std::string>& names, bool shiftJis);

// A FILLER item: named FILLER, or with no name.
bool IsFillerItem(const CopyItem* item);

// True when `name` (upper or lower case) is a reserved word of SQL that a column name
// must be quoted to be.
bool IsSqlKeyword(const std::string& name);

#endif
