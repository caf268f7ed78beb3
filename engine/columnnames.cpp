// The one naming rule of table columns.
#include "columnnames.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "textrules.h"

namespace {

std::string NameText(const CopyItem* item, ColumnNaming naming) {
    std::string name = ItemText(item->name).Get();
    // '-' is never the second byte of a Shift_JIS character, so it is replaced alone.
    if (naming == ColumnNaming::kSql) std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Whether the item is an occurrence of an OCCURS table of its own (not an item under
// one). Group occurrences all carry the OCCURS count; elementary ones may carry it on
// the first occurrence only, and are known then by their siblings of the same name.
bool IsOccurrence(const CopyItem* item) {
    if (item->elementNo == 0) return false;
    if (item->occursCount > 0) return true;
    auto same = [item](const CopyItem* other, int elementNo) {
        return other != nullptr && other->elementNo == elementNo && std::strcmp(other->name, item->name) == 0;
    };
    return same(item->prevSibling, item->elementNo - 1) || same(item->nextSibling, item->elementNo + 1);
}

// The element numbers of the tables around the item (itself included), outermost first.
std::vector<int> TableIndexes(const CopyItem* item) {
    std::vector<int> indexes;
    for (const CopyItem* p = item; p != nullptr; p = p->parent) {
        if (IsOccurrence(p)) indexes.push_back(p->elementNo);
    }
    std::reverse(indexes.begin(), indexes.end());
    return indexes;
}

// A name as COBOL and SQL compare names: ASCII letters in upper case (the bytes of a
// Shift_JIS double-byte character as they are). AMT and Amt are one name to both.
// In UTF-8 no byte of a longer character is an ASCII letter.
std::string NameKey(const std::string& name, bool shiftJis = true) {
    std::string key = name;
    for (size_t i = 0; i < key.size(); ++i) {
        if (shiftJis && IsShiftJisLeadByte(key[i]) && i + 1 < key.size()) {
            ++i;
        } else if (key[i] >= 'a' && key[i] <= 'z') {
            key[i] = static_cast<char>(key[i] - 'a' + 'A');
        }
    }
    return key;
}

// The names already given, compared as NameKey compares them.
class TakenNames {
public:
    explicit TakenNames(const std::vector<std::string>& names, bool shiftJis = true) : shiftJis_(shiftJis) {
        for (const std::string& name : names) Insert(name);
    }
    bool Has(const std::string& name) const { return keys_.count(NameKey(name, shiftJis_)) != 0; }
    void Insert(const std::string& name) { keys_.insert(NameKey(name, shiftJis_)); }

private:
    bool shiftJis_;
    std::set<std::string> keys_;
};

// The columns (their positions) of each name given to more than one, names that differ
// only in case being one name.
std::map<std::string, std::vector<size_t>> Repeated(const std::vector<std::string>& names, bool shiftJis = true) {
    std::map<std::string, std::vector<size_t>> of;
    for (size_t i = 0; i < names.size(); ++i) of[NameKey(names[i], shiftJis)].push_back(i);
    for (auto it = of.begin(); it != of.end();) {
        if (it->second.size() < 2) it = of.erase(it);
        else ++it;
    }
    return of;
}

bool IsAncestor(const CopyItem* group, const CopyItem* item) {
    for (const CopyItem* p = item->parent; p != nullptr; p = p->parent) {
        if (p == group) return true;
    }
    return false;
}

}  // namespace

bool IsFillerItem(const CopyItem* item) {
    return item->name[0] == '\0' || std::strcmp(ItemText(item->name).Get(), "FILLER") == 0;
}

std::vector<std::string> ColumnNamesOf(const std::vector<const CopyItem*>& items, bool useSerialNo, ColumnNaming naming) {
    const char* separator = naming == ColumnNaming::kSql ? "_" : "-";
    std::vector<std::string> names;
    names.reserve(items.size());
    // As the CREATE TABLE file has always named them.
    for (const CopyItem* item : items) {
        std::string name = NameText(item, naming);
        if (item->elementNo != 0) name += "_" + std::to_string(useSerialNo ? item->serialNo : item->elementNo);
        names.push_back(std::move(name));
    }
    // 1. Every index of nested tables. (A running number is unique already.)
    if (!useSerialNo) {
        for (const auto& repeat : Repeated(names)) {
            for (size_t i : repeat.second) {
                std::vector<int> indexes = TableIndexes(items[i]);
                if (indexes.size() < 2) continue;
                std::string name = NameText(items[i], naming);
                for (int index : indexes) name += "_" + std::to_string(index);
                names[i] = std::move(name);
            }
        }
    }
    // 2. The nearest enclosing group the other columns of the name are not in.
    TakenNames taken(names);
    for (const auto& repeat : Repeated(names)) {
        const std::vector<size_t>& columns = repeat.second;
        std::vector<std::string> chosen(columns.size());
        for (size_t k = 0; k < columns.size(); ++k) {
            const CopyItem* item = items[columns[k]];
            for (const CopyItem* group = item->parent; group != nullptr; group = group->parent) {
                if (IsFillerItem(group)) continue;
                bool shared = false;
                for (size_t other : columns) {
                    if (other != columns[k] && IsAncestor(group, items[other])) shared = true;
                }
                if (shared) break;   // every group further out holds the other one too
                std::string candidate = NameText(group, naming) + separator + names[columns[k]];
                if (taken.Has(candidate)) continue;
                chosen[k] = candidate;
                break;
            }
        }
        for (size_t k = 0; k < columns.size(); ++k) {
            if (chosen[k].empty()) continue;
            names[columns[k]] = chosen[k];
            taken.Insert(chosen[k]);
        }
    }
    // 3. Numbered: the first keeps the name, the others _2, _3...
    for (const auto& repeat : Repeated(names)) {
        const std::vector<size_t>& columns = repeat.second;
        int number = 1;
        for (size_t k = 1; k < columns.size(); ++k) {
            // Each column's own spelling, numbered.
            const std::string& name = names[columns[k]];
            std::string base = name.empty() ? std::string("FILLER") : name;
            std::string candidate;
            do {
                candidate = base + "_" + std::to_string(++number);
            } while (taken.Has(candidate));
            names[columns[k]] = candidate;
            taken.Insert(candidate);
        }
    }
    return names;
}

void NumberRepeatedNames(std::vector<std::string>& names, bool shiftJis) {
    TakenNames taken(names, shiftJis);
    for (const auto& repeat : Repeated(names, shiftJis)) {
        const std::vector<size_t>& at = repeat.second;
        int number = 1;
        for (size_t k = 1; k < at.size(); ++k) {
            std::string candidate;
            do {
                candidate = names[at[k]] + "_" + std::to_string(++number);
            } while (taken.Has(candidate));
            names[at[k]] = candidate;
            taken.Insert(candidate);
        }
    }
}

bool IsSqlKeyword(const std::string& name) {
    // The reserved words of standard SQL and of the dialects written (SQLite,
    // PostgreSQL, Db2) that can be met as a COBOL data name once '-' is '_'.
    static const std::set<std::string> keywords = {
        "ABSOLUTE", "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "ANALYZE", "AND", "ANY", "ARE", "ARRAY", "AS", "ASC",
        "ASENSITIVE", "ASYMMETRIC", "AT", "ATOMIC", "AUTHORIZATION", "AUTOINCREMENT", "BEGIN", "BETWEEN", "BIGINT",
        "BINARY", "BLOB", "BOOLEAN", "BOTH", "BY", "CALL", "CALLED", "CASCADE", "CASE", "CAST", "CHAR", "CHARACTER",
        "CHECK", "CLOB", "CLOSE", "COLLATE", "COLUMN", "COMMIT", "CONDITION", "CONNECT", "CONSTRAINT", "CONTINUE",
        "CORRESPONDING", "CREATE", "CROSS", "CUBE", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
        "CURRENT_USER", "CURSOR", "CYCLE", "DATE", "DAY", "DEALLOCATE", "DEC", "DECIMAL", "DECLARE", "DEFAULT",
        "DEFERRABLE", "DELETE", "DEREF", "DESC", "DESCRIBE", "DETERMINISTIC", "DISCONNECT", "DISTINCT", "DO",
        "DOUBLE", "DROP", "DYNAMIC", "EACH", "ELEMENT", "ELSE", "END", "ESCAPE", "EXCEPT", "EXCLUSIVE", "EXEC",
        "EXECUTE", "EXISTS", "EXPLAIN", "EXTERNAL", "FALSE", "FETCH", "FILTER", "FLOAT", "FOR", "FOREIGN", "FREE",
        "FROM", "FULL", "FUNCTION", "GET", "GLOBAL", "GRANT", "GROUP", "GROUPING", "HAVING", "HOLD", "HOUR",
        "IDENTITY", "IF", "IMMEDIATE", "IN", "INDEX", "INDICATOR", "INNER", "INOUT", "INPUT", "INSENSITIVE", "INSERT",
        "INT", "INTEGER", "INTERSECT", "INTERVAL", "INTO", "IS", "ISNULL", "JOIN", "KEY", "LANGUAGE", "LARGE",
        "LATERAL", "LEADING", "LEFT", "LIKE", "LIMIT", "LOCAL", "LOCALTIME", "LOCALTIMESTAMP", "MATCH", "MEMBER",
        "MERGE", "METHOD", "MINUTE", "MODIFIES", "MODULE", "MONTH", "MULTISET", "NATIONAL", "NATURAL", "NCHAR",
        "NCLOB", "NEW", "NO", "NONE", "NOT", "NOTNULL", "NULL", "NUMERIC", "OF", "OFFSET", "OLD", "ON", "ONLY",
        "OPEN", "OR", "ORDER", "OUT", "OUTER", "OUTPUT", "OVER", "OVERLAPS", "PARAMETER", "PARTITION", "PLAN",
        "POSITION", "PRAGMA", "PRECISION", "PREPARE", "PRIMARY", "PROCEDURE", "RANGE", "READS", "REAL", "RECURSIVE",
        "REF", "REFERENCES", "REFERENCING", "REGEXP", "REINDEX", "RELEASE", "RENAME", "REPLACE", "RESTRICT",
        "RESULT", "RETURN", "RETURNS", "REVOKE", "RIGHT", "ROLLBACK", "ROLLUP", "ROW", "ROWS", "SAVEPOINT", "SCOPE",
        "SCROLL", "SEARCH", "SECOND", "SELECT", "SENSITIVE", "SESSION_USER", "SET", "SIMILAR", "SMALLINT", "SOME",
        "SPECIFIC", "SQL", "SQLEXCEPTION", "SQLSTATE", "SQLWARNING", "START", "STATIC", "SUBMULTISET", "SYMMETRIC",
        "SYSTEM", "SYSTEM_USER", "TABLE", "TEMP", "TEMPORARY", "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR",
        "TIMEZONE_MINUTE", "TO", "TRAILING", "TRANSACTION", "TRANSLATION", "TREAT", "TRIGGER", "TRUE", "UNION",
        "UNIQUE", "UNKNOWN", "UNNEST", "UPDATE", "USER", "USING", "VACUUM", "VALUE", "VALUES", "VARCHAR",
        "VARYING", "VIEW", "VIRTUAL", "WHEN", "WHENEVER", "WHERE", "WINDOW", "WITH", "WITHIN", "WITHOUT", "YEAR"};
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return keywords.count(upper) != 0;
}
