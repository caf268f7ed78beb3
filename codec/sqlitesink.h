// Decoded rows into a table of an SQLite database: the table made with the sqlite
// dialect's CREATE TABLE (or appended to, or replaced), every row inserted by one
// prepared statement in one transaction, so that a load that fails or stops leaves the
// database as it was.
#ifndef QUILLBOX_CODEC_SQLITESINK_H
#define QUILLBOX_CODEC_SQLITESINK_H

#include <string>
#include <vector>

#include "datacodec.h"
#include "sqltable.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillbox {

// What to do when the database has the table already.
enum class IfExists { kFail, kAppend, kReplace };
// "fail", "append", "replace"; false for anything else.
bool ParseIfExists(const std::string& text, IfExists& ifExists);

class SqliteSink : public RowSink {
public:
    // The database file `path` (made when it is not there), table `table` (UTF-8).
    SqliteSink(std::string path, std::string table, IfExists ifExists);
    ~SqliteSink() override;   // what was not committed is rolled back
    SqliteSink(const SqliteSink&) = delete;
    SqliteSink& operator=(const SqliteSink&) = delete;

    bool Begin(const LayoutPlan& plan) override;
    bool Row(const LayoutPlan& plan, const RowCells& cells) override;
    // The rows stay in the open transaction: Commit makes them the database's.
    bool Finish() override { return failure_.empty(); }
    std::string Failure() const override { return failure_; }
    long long Stored(long long /*given*/) const override { return stored_; }

    // Commits the load; false (and the database as it was) when that failed.
    bool Commit();
    // Rolls the load back: the database as it was, a file made for it removed.
    void Abandon();
    // The rows inserted so far.
    long long Inserted() const { return stored_; }

private:
    // Keeps the first failure; `fromSqlite`: SQLite's own reason follows it.
    bool Fail(const std::string& what, bool fromSqlite = true);
    bool Exec(const char* sql);
    void Close();

    std::string path_, table_;
    IfExists ifExists_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool made_ = false;        // the file was not there before
    bool open_ = false;        // a transaction is open
    bool committed_ = false;
    long long stored_ = 0;
    std::vector<SqlValueForm> forms_;
    std::string failure_;
};

}  // namespace quillbox

#endif
