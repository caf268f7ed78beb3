// Decoded rows into tables of an SQLite database: each table made with the sqlite
// dialect's CREATE TABLE (or appended to, or replaced), every row inserted by one
// prepared statement, all of a load in one transaction, so that a load that fails or
// stops leaves the database as it was.
#ifndef QUILLBOX_CODEC_SQLITESINK_H
#define QUILLBOX_CODEC_SQLITESINK_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "datacodec.h"
#include "parallel.h"
#include "sqltable.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillbox {

// Rows whose values are ready to bind: each cell converted to the form of its column
// (an integer, a double, text, null) and its text kept here.
class SqliteRows {
public:
    // The forms of `plan`'s columns in an SQLite table.
    static std::vector<SqlValueForm> FormsOf(const LayoutPlan& plan);
    // The INSERT statement of every column of `plan` into `table`.
    static std::string InsertSql(const LayoutPlan& plan, const std::string& table);

    // How a column's good values are read straight from a record (AddRecord).
    struct Direct {
        enum Op : unsigned char {
            kInteger,       // an integer item that 64 bits hold: its value, never its text
            kIntegerText,   // the same of a picture with P: read back from its text
            kNumber,        // a number kept as its exact text
            kText           // a text or national item's text
        };
        Op op;
        const Field* field;
    };
    // The direct form of every column of `plan` (whose forms are `forms`); empty when a
    // column has none, so that every record goes through its cells.
    static std::vector<Direct> DirectOf(const LayoutPlan& plan, const std::vector<SqlValueForm>& forms);

    // Adds a row of `cells`, a cell per form; false (and the row not added) for a text
    // longer than SQLite binds.
    bool Add(const std::vector<SqlValueForm>& forms, const RowCells& cells);
    // Adds the row of a record's good values read with `values` by the columns' direct
    // forms (DirectOf), as Add adds them from the record's cells: no text is made of an
    // integer. False (and nothing added) when a value is not one the direct forms read
    // (bad data, blanks, an integer past 64 bits): the record's cells are then to be added.
    bool AddRecord(const std::vector<Direct>& direct, ValueCodec& values, const unsigned char* record);
    // Adds rows [from, to) of `other` (rows of the same forms).
    void Append(const SqliteRows& other, size_t from, size_t to);
    // Binds row `row` to the parameters of `statement`; the texts stay here.
    void Bind(sqlite3_stmt* statement, size_t row) const;
    size_t Rows() const { return rows_; }
    size_t TextBytes() const { return textUsed_; }
    void Clear();

private:
    // Room for `n` more bytes of text at the end of what is used.
    char* TextRoom(size_t n) {
        if (textRoom_ - textUsed_ < n) GrowText(n);
        return text_.get() + textUsed_;
    }
    void GrowText(size_t n);
    // Converts a value's text by the column's form (an integer, a double) or keeps it;
    // false for a text longer than SQLite binds.
    bool Put(SqlValueForm form, const char* text, size_t length);
    struct Value {
        union {
            int64_t integer;
            double real;
            size_t at;   // of the text in text_
        };
        uint32_t length;   // of the text (a cell's text is far shorter)
        enum Kind : uint8_t { kNull, kInteger, kReal, kText } kind;
    };
    size_t columns_ = 0, rows_ = 0;
    std::vector<Value> values_;
    std::unique_ptr<char[]> text_;   // the texts one after another
    size_t textUsed_ = 0, textRoom_ = 0;
};

// Makes the temporary files new databases are built in; a caller that removes them on
// a signal gives its own.
class StagingFiles {
public:
    virtual ~StagingFiles();
    // An empty file made exclusively in the folder of `target`: its path, or empty with
    // `error` (the system's reason).
    virtual std::string Make(const std::string& target, std::string& error);
    // The file was renamed into place or removed.
    virtual void Gone(const std::string& /*path*/) {}
};

// The database file of a load and its one transaction. A database that is there is
// loaded in place under its rollback journal: a load that fails or is interrupted
// leaves it as it was. A new database is built in a temporary file beside its name
// (no journal, one sync at the end) and put in place by the commit, without replacing
// anything: a load that fails, is interrupted or even killed never leaves a broken
// database under the name, and of two loads making the same new database at once one
// commits and the other fails with a clear word, neither removing what the other made.
class SqliteDatabase {
public:
    // `staging` makes the temporary file of a new database (null: StagingFiles' own).
    explicit SqliteDatabase(std::string path, StagingFiles* staging = nullptr);
    ~SqliteDatabase();   // what was not committed is rolled back
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Opens the database (built anew when it is not there) and begins the transaction;
    // false with Failure() when it cannot (no regular file, no SQLite database, locked
    // by another program).
    bool Open();
    // Commits the load (a new database put in place); false (and the database as it
    // was, no new one) when that failed.
    bool Commit();
    // Rolls the load back: the database as it was, the temporary file of a new one removed.
    void Abandon();
    // Keeps the first failure; `fromSqlite`: SQLite's own reason follows it.
    bool Fail(const std::string& what, bool fromSqlite = true);
    // Runs `sql` (after the rows handed to Insert are in).
    bool Exec(const std::string& sql);

    // Rows are inserted on a thread of the database's own while the caller decodes the
    // next: Insert hands `rows` over (replaced by an empty block to fill) to be inserted
    // by `statement`, `stored` counting them; it waits while a few blocks are queued.
    // False (with Failure) when an insert failed.
    bool Insert(sqlite3_stmt* statement, long long* stored, std::unique_ptr<SqliteRows>& rows);
    // Waits until every row handed over is inserted; false (with Failure) when one failed.
    bool Drain();
    // Asks the load to stop: the rows and the commit that follow fail, and the load is
    // rolled back. Safe in a signal handler and from another thread.
    void Interrupt();
    bool Interrupted() const { return interrupted_.load(std::memory_order_relaxed); }
    // The CPU seconds the inserting thread has spent so far (binding and stepping the
    // rows handed over), for a comparison with SQLite's own inserts on a busy machine.
    double InsertingCpuSeconds() const { return static_cast<double>(insertingCpu_.load()) / 1e9; }
    sqlite3* Handle() const { return db_; }
    bool IsOpen() const { return open_; }
    const std::string& Failure() const { return failure_; }
private:
    void Close();
    bool Publish();
    void Write();          // the inserting thread
    void StopWriter();     // what is queued is dropped

    struct Work {
        sqlite3_stmt* statement;
        long long* stored;
        std::unique_ptr<SqliteRows> rows;
    };
    std::atomic<bool> interrupted_{false};
    std::atomic<sqlite3*> interruptible_{nullptr};   // the connection, for Interrupt
    std::atomic<long long> insertingCpu_{0};          // ns, of the inserting threads so far
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable queued_, taken_;
    std::deque<Work> queue_;
    std::vector<std::unique_ptr<SqliteRows>> spare_;
    bool writing_ = false, stopping_ = false, writerFailed_ = false;
    std::string writerFailure_;

    std::string path_;        // as given
    std::string target_;      // the path the links of `path_` lead to
    StagingFiles* staging_;
    std::string building_;    // the temporary file a new database is built in
    sqlite3* db_ = nullptr;
    bool open_ = false;        // a transaction is open
    bool committed_ = false;
    std::string failure_;
};

// A table's rows into the database. On several threads (DecodeParallelInto) the values
// are converted on the decoding workers, and the inserting thread only binds and steps.
class SqliteSink : public BlockRowSink {
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
    // A record's good values converted straight from its bytes (SqliteRows::AddRecord).
    bool DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) override;
    // The rows stay in the open transaction: Commit makes them the database's.
    bool Finish() override;
    std::string Failure() const override { return failure_; }
    long long Stored(long long /*given*/) const override { return stored_; }
    std::unique_ptr<Block> NewBlock() override;
    bool Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) override;

    // The load of its own database: commit it (false when that failed) or roll it back.
    bool Commit();
    void Abandon();

private:
    class ReadyRows;
    bool Fail(const std::string& what, bool fromSqlite = true);
    bool InsertFull();

    std::unique_ptr<SqliteDatabase> owned_;
    SqliteDatabase& database_;
    std::string table_;
    IfExists ifExists_;
    sqlite3_stmt* insert_ = nullptr;
    long long stored_ = 0;
    std::vector<SqlValueForm> forms_;
    std::vector<SqliteRows::Direct> direct_;   // empty: every row through its cells
    std::unique_ptr<SqliteRows> rows_;   // the block being filled
    std::string failure_;
};

}  // namespace quillbox

#endif
