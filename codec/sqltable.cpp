// Column types and CREATE TABLE in the dialects of the databases a table is loaded into.
#include "sqltable.h"

#include <algorithm>
#include <cctype>

#include "columnnames.h"
#include "textcodec.h"

namespace quillbox {

namespace {

std::string Type(const char* name, int a) { return std::string(name) + "(" + std::to_string(a) + ")"; }
std::string Type(const char* name, int a, int b) {
    return std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}

// The digits of a decimal type that holds every value of the item: its picture's
// digits, with the places P scaling leaves out, and at least its decimal places.
int PrecisionOf(const Field& field) {
    int digits = std::max(field.digits, 1);
    if (field.scale < 0) return digits - field.scale;
    return std::max(digits, field.scale);
}

// The decimal digits of the largest value a binary item's bytes hold.
int BinaryDigits(const Field& field) {
    static const int kDigits[9][2] = {{0, 0}, {3, 3}, {5, 5}, {8, 8}, {10, 10}, {13, 13}, {15, 15}, {17, 17}, {19, 20}};
    int length = std::min(std::max(field.length, 1), 8);
    return kDigits[length][field.isSigned ? 0 : 1];
}

// The bits of a binary item's values (without the sign's): 15 for S9(4) COMP, 16 for 9(4) COMP.
int ValueBits(const Field& field) { return 8 * field.length - (field.isSigned ? 1 : 0); }

SqlColumnType Numeric(const Field& field, SqlDialect dialect) {
    const bool binary = field.kind == Field::kBinary || field.kind == Field::kComp5;
    int precision = PrecisionOf(field);
    if (binary) precision = std::max(precision, BinaryDigits(field));
    const int scale = std::max(field.scale, 0);
    const bool integer = scale == 0;
    // A binary integer in the smallest integer type its bytes fit.
    if (binary && integer && dialect != SqlDialect::kSqlite) {
        int bits = ValueBits(field);
        if (bits <= 15) return {"SMALLINT", SqlValueForm::kInteger};
        if (bits <= 31) return {"INTEGER", SqlValueForm::kInteger};
        if (bits <= 63) return {"BIGINT", SqlValueForm::kInteger};
    }
    switch (dialect) {
    case SqlDialect::kSqlite: {
        // SQLite's NUMERIC affinity keeps 15 digits of a decimal: an integer of 64 bits
        // is an INTEGER, everything else the exact decimal text.
        bool fits = integer && (binary ? ValueBits(field) <= 63 : precision <= 18);
        if (fits) return {"INTEGER", SqlValueForm::kInteger};
        std::string picture = ShiftJisToUtf8(ItemText(field.item->picture).Get());
        for (size_t at; (at = picture.find("*/")) != std::string::npos;) picture.replace(at, 2, "* /");
        std::string type = "TEXT";
        if (!picture.empty()) type += " /* PIC " + picture + " */";
        return {type, SqlValueForm::kExactText};
    }
    case SqlDialect::kPostgresql:
        return {integer ? Type("NUMERIC", precision) : Type("NUMERIC", precision, scale), SqlValueForm::kDecimal};
    case SqlDialect::kDb2:
        // Db2's DECIMAL holds 31 digits: more are kept as their text.
        if (precision > 31) return {Type("VARCHAR", precision + 2), SqlValueForm::kExactText};
        return {Type("DECIMAL", precision, scale), SqlValueForm::kDecimal};
    case SqlDialect::kGeneric: break;
    }
    return {Type("DECIMAL", precision, scale), SqlValueForm::kDecimal};
}

}  // namespace

bool ParseSqlDialect(const std::string& text, SqlDialect& dialect) {
    if (text == "generic") dialect = SqlDialect::kGeneric;
    else if (text == "sqlite") dialect = SqlDialect::kSqlite;
    else if (text == "postgresql") dialect = SqlDialect::kPostgresql;
    else if (text == "db2") dialect = SqlDialect::kDb2;
    else return false;
    return true;
}

bool ParseIfExists(const std::string& text, IfExists& ifExists) {
    if (text == "fail") ifExists = IfExists::kFail;
    else if (text == "append") ifExists = IfExists::kAppend;
    else if (text == "replace") ifExists = IfExists::kReplace;
    else return false;
    return true;
}

SqlColumnType SqlTypeOf(const Field& field, SqlDialect dialect) {
    const bool sqlite = dialect == SqlDialect::kSqlite, db2 = dialect == SqlDialect::kDb2;
    switch (field.kind) {
    case Field::kDisplay:
    case Field::kPacked:
    case Field::kBinary:
    case Field::kComp5: return Numeric(field, dialect);
    case Field::kFloat: return {"REAL", SqlValueForm::kReal};
    case Field::kDouble: return {sqlite ? "REAL" : db2 ? "DOUBLE" : "DOUBLE PRECISION", SqlValueForm::kReal};
    case Field::kNational:
        if (sqlite) return {"TEXT", SqlValueForm::kText};
        return {Type(db2 ? "GRAPHIC" : "NCHAR", std::max(field.length / 2, 1)), SqlValueForm::kText};
    case Field::kBits: return {dialect == SqlDialect::kPostgresql ? "BYTEA" : "BLOB", SqlValueForm::kText};
    case Field::kText:
    case Field::kBoolChars: break;
    }
    if (sqlite) return {"TEXT", SqlValueForm::kText};
    return {Type("VARCHAR", std::max(field.length, 1)), SqlValueForm::kText};
}

std::string SqlIdentifier(const std::string& name, bool quoteAll) {
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) plain = false;
    }
    if (plain && !quoteAll && !IsSqlKeyword(name)) return name;
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

std::string TableNameAs(const std::string& name, ColumnNaming naming, bool shiftJis) {
    if (naming != ColumnNaming::kSql) return name;
    std::string plain = name;
    for (size_t i = 0; i < plain.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(plain[i]);
        // The second byte of a Shift_JIS character may be an ASCII letter: it is kept.
        if (shiftJis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            ++i;
            continue;
        }
        if (c == '-') plain[i] = '_';
        else if (c >= 'A' && c <= 'Z') plain[i] = static_cast<char>(c - 'A' + 'a');
    }
    return plain;
}

std::vector<std::string> RecordTableNames(const std::vector<std::string>& records, const std::string& prefix,
                                          ColumnNaming naming, bool shiftJis) {
    std::vector<std::string> tables;
    for (const std::string& record : records) {
        tables.push_back(TableNameAs(prefix.empty() ? record : prefix + "_" + record, naming, shiftJis));
    }
    NumberRepeatedNames(tables, shiftJis);
    return tables;
}

bool CheckTableName(const std::string& name, SqlDialect dialect, std::string& error) {
    const size_t limit = dialect == SqlDialect::kPostgresql ? 63 : dialect == SqlDialect::kDb2 ? 128 : 1023;
    if (name.empty()) {
        error = "the table name is empty";
        return false;
    }
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            error = "the table name \"" + name + "\" has a control character";
            return false;
        }
    }
    if (name.size() > limit) {
        error = "the table name \"" + name + "\" is longer than the " + std::to_string(limit) + " bytes the dialect allows";
        return false;
    }
    return true;
}

std::string CreateTableSql(const LayoutPlan& plan, const std::string& table, SqlDialect dialect, bool quoteAll) {
    std::string sql = "CREATE TABLE " + SqlIdentifier(table, quoteAll) + " (\n";
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const Field& field = plan.fields[i];
        SqlColumnType type = SqlTypeOf(field, dialect);
        // A comment after the type goes after the comma, so that it ends the line.
        std::string comment;
        size_t at = type.type.find(" /*");
        if (at != std::string::npos) {
            comment = type.type.substr(at);
            type.type.erase(at);
        }
        sql += "    " + SqlIdentifier(field.column, quoteAll) + " " + type.type;
        if (i + 1 < plan.fields.size()) sql += ",";
        sql += comment + "\n";
    }
    sql += ");\n";
    return sql;
}

}  // namespace quillbox
