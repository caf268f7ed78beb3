// Decoded rows into tables of an SQLite database: each table made with the sqlite
// dialect's CREATE TABLE (or appended to, or replaced), every row inserted by one
// prepared statement, all of a load in one transaction, so that a load that fails or
// stops leaves the database as it was.
#ifndef QUILLBOX_CODEC_SQLITESINK_H
#define QUILLBOX_CODEC_SQLITESINK_H

#include <memory>
#include <string>
#include <vector>

#include "datacodec.h"
#include "sqltable.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillbox {

// The database file of a load and its one transaction.
class SqliteDatabase {
public:
    explicit SqliteDatabase(std::string path);
    ~SqliteDatabase();   // what was not committed is rolled back
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Opens the file (made when it is not there) and begins the transaction; false with
    // Failure() when it cannot (no SQLite database, locked by another program).
    bool Open();
    // Commits the load; false (and the database as it was) when that failed.
    bool Commit();
    // Rolls the load back: the database as it was, a file made for it removed.
    void Abandon();
    // Keeps the first failure; `fromSqlite`: SQLite's own reason follows it.
    bool Fail(const std::string& what, bool fromSqlite = true);
    bool Exec(const std::string& sql);
    sqlite3* Handle() const { return db_; }
    bool IsOpen() const { return open_; }
    const std::string& Failure() const { return failure_; }

private:
    void Close();

    std::string path_;
    sqlite3* db_ = nullptr;
    bool made_ = false;        // the file was not there before
    bool open_ = false;        // a transaction is open
    bool committed_ = false;
    std::string failure_;
};

class SqliteSink : public RowSink {
public:
    // Table `table` (UTF-8) of the database file `path`, a load of its own.
    SqliteSink(std::string path, std::string table, IfExists ifExists);
    // Table `table` of a database opened by the caller, which commits it (several
    // tables in one load).
    SqliteSink(SqliteDatabase& database, std::string table, IfExists ifExists);
    ~SqliteSink() override;
    SqliteSink(const SqliteSink&) = delete;
    SqliteSink& operator=(const SqliteSink&) = delete;

    bool Begin(const LayoutPlan& plan) override;
    bool Row(const LayoutPlan& plan, const RowCells& cells) override;
    // The rows stay in the open transaction: Commit makes them the database's.
    bool Finish() override;
    std::string Failure() const override { return failure_; }
    long long Stored(long long /*given*/) const override { return stored_; }

    // The load of its own database: commit it (false when that failed) or roll it back.
    bool Commit();
    void Abandon();

private:
    bool Fail(const std::string& what, bool fromSqlite = true);

    std::unique_ptr<SqliteDatabase> owned_;
    SqliteDatabase& database_;
    std::string table_;
    IfExists ifExists_;
    sqlite3_stmt* insert_ = nullptr;
    long long stored_ = 0;
    std::vector<SqlValueForm> forms_;
    std::string failure_;
};

}  // namespace quillbox

#endif
