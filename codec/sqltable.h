// The table of a layout in SQL: a column type for each column in the dialects a
// database loads (SQLite, PostgreSQL, Db2), the names quoted as the dialect needs, and
// the CREATE TABLE statement. (The generic statement, which names no database, is the
// desktop program's CREATE TABLE file.)
#ifndef QUILLBOX_CODEC_SQLTABLE_H
#define QUILLBOX_CODEC_SQLTABLE_H

#include <string>
#include <vector>

#include "layoutplan.h"

namespace quillbox {

enum class SqlDialect { kGeneric, kSqlite, kPostgresql, kDb2 };

// "generic", "sqlite", "postgresql", "db2"; false for anything else.
bool ParseSqlDialect(const std::string& text, SqlDialect& dialect);

// What a load does when the database has the table already.
enum class IfExists { kFail, kAppend, kReplace };
// "fail", "append", "replace"; false for anything else.
bool ParseIfExists(const std::string& text, IfExists& ifExists);

// How a column's values are held in the dialect's type.
enum class SqlValueForm {
    kInteger,     // a 64-bit integer
    kReal,        // floating point
    kExactText,   // exact decimal text (a scale, or more digits than 64 bits hold)
    kDecimal,     // the dialect's exact DECIMAL/NUMERIC
    kText         // character data
};

struct SqlColumnType {
    std::string type;       // "DECIMAL(9,2)", "TEXT /* PIC S9(16)V99 */"
    SqlValueForm form;
};
// The column's type in `dialect` (not kGeneric).
SqlColumnType SqlTypeOf(const Field& field, SqlDialect dialect);

// `name` (UTF-8) as an SQL identifier: as it is when it is a plain identifier that is
// no keyword, otherwise in double quotes (a quote in it doubled).
// `quoteAll`: in double quotes whatever it is.
std::string SqlIdentifier(const std::string& name, bool quoteAll = false);

// A table name as the columns are named: with ColumnNaming::kSql a plain identifier
// where its letters allow, "-" as "_" and in lower case (STMT_STM-DETAIL as
// stmt_stm_detail), which no database needs quoted; as it is with kCobol. Only ASCII is
// changed, never the bytes of a Japanese character (`name` is UTF-8, or Shift_JIS with
// `shiftJis`).
std::string TableNameAs(const std::string& name, ColumnNaming naming, bool shiftJis = false);

// The tables of record types, one per name of `records`: PREFIX_RECORD (RECORD alone
// with no prefix) as TableNameAs makes it, numbered where two are one name to SQL
// (T_HDR and T_Hdr_2).
std::vector<std::string> RecordTableNames(const std::vector<std::string>& records, const std::string& prefix,
                                          ColumnNaming naming, bool shiftJis = false);

// False with `error` when `name` cannot be a table name of the dialect: empty, with a
// control character, or longer than the dialect allows.
bool CheckTableName(const std::string& name, SqlDialect dialect, std::string& error);

// CREATE TABLE `table` with a column per column of `plan`, in `dialect` (not kGeneric);
// lines end in "\n". `quoteAll`: every name in double quotes.
std::string CreateTableSql(const LayoutPlan& plan, const std::string& table, SqlDialect dialect, bool quoteAll = false);

}  // namespace quillbox

#endif
