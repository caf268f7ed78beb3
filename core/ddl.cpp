// The CREATE TABLE file: one column per elementary item of the analysed layout.
#include "quillbox.h"

#include <string>
#include <vector>

#include "columnnames.h"

namespace {

// Column type, first match: floating point, then numeric with and without decimals,
// then bit items; everything else is character data of the item's byte length.
int PrintColumnType(std::FILE* file, const CopyItem* item) {
    if (HasUsage(item, StorageForm::kFloat)) return PrintText(file, " REAL");
    if (HasUsage(item, StorageForm::kDouble)) return PrintText(file, " DOUBLE PRECISION");
    const unsigned flags = item->flags;
    if ((flags & ITEM_NUMERIC) && item->scale != 0) return PrintText(file, " DECIMAL(%d,%d)", item->digits, item->scale);
    if (flags & ITEM_NUMERIC) return PrintText(file, " NUMERIC(%d)", item->digits);
    if (HasUsage(item, StorageForm::kBits)) return PrintText(file, " BLOB");
    return PrintText(file, " VARCHAR(%d)", item->byteLength);
}

// Level of an item for the subtree walk: a level-77 item is a record of its own, as
// a level-01 one is. (66 and 88 items lie below their record and give no column.)
int SubtreeLevel(const CopyItem* item) { return item->level == 77 ? 1 : item->level; }

// The item after `item` and everything subordinate to it (null at the end).
const CopyItem* AfterSubtree(const CopyItem* item) {
    const int level = SubtreeLevel(item);
    for (item = item->next; item != nullptr && SubtreeLevel(item) > level; item = item->next) {
    }
    return item;
}

}  // namespace

bool WriteCreateTable(std::FILE* file, const CopyItem* head, const char* tableName,
                      bool useSerialNo, bool quoteNames) {
    return WriteCreateTable(file, head, tableName, useSerialNo, quoteNames, false, ColumnNaming::kCobol);
}

bool WriteCreateTable(std::FILE* file, const CopyItem* head, const char* tableName, bool useSerialNo,
                      bool quoteNames, bool noFiller, ColumnNaming naming) {
    // The columns: one per elementary item outside redefining areas.
    std::vector<const CopyItem*> columns;
    const CopyItem* item = head;
    while (item != nullptr) {
        if ((item->flags & ITEM_REDEFINES) && item != head) {
            // A redefining area gives no column: skip the item and everything below it.
            // (A record that redefines another, taken alone, is the area itself.)
            item = AfterSubtree(item);
            continue;
        }
        // Groups, condition names (88) and RENAMES items (66) have no storage of their own.
        if ((item->flags & (ITEM_GROUP | ITEM_CONDITION | ITEM_RENAMES)) || (noFiller && IsFillerItem(item))) {
            item = item->next;
            continue;
        }
        columns.push_back(item);
        item = item->next;
    }
    // Named by the tables' one rule: a repeated name is told apart, never written twice.
    const std::vector<std::string> names = ColumnNamesOf(columns, useSerialNo, naming);
    const char* quote = quoteNames ? "\"" : "";
    bool ok = PrintText(file, "CREATE TABLE %s%s%s (\n", quote, TextOrEmpty(tableName), quote) >= 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0 && PrintText(file, ",\n") < 0) ok = false;
        // SQL names that are keywords are quoted even where names are not.
        const char* columnQuote = !quoteNames && naming == ColumnNaming::kSql && IsSqlKeyword(names[i]) ? "\"" : quote;
        if (PrintText(file, "    %s%s%s", columnQuote, names[i].c_str(), columnQuote) < 0) ok = false;
        if (PrintColumnType(file, columns[i]) < 0) ok = false;
    }
    if (PrintText(file, "\n);\n") < 0) ok = false;
    return ok;
}

ExportResult WriteCreateTable(const char* path, const CopyItem* head, const char* tableName,
                              bool useSerialNo, bool quoteNames) {
    // The statement replaces an earlier file only when it is complete: a failed
    // write leaves the old file as it was.
    TextFileReplacement replacement(path);
    if (replacement.File() == nullptr) return EXPORT_OPEN_FAILED;
    if (!WriteCreateTable(replacement.File(), head, tableName, useSerialNo, quoteNames)) return EXPORT_WRITE_FAILED;
    return replacement.Commit() ? EXPORT_DONE : EXPORT_WRITE_FAILED;
}
