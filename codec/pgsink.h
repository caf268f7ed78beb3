// Decoded rows into tables of a PostgreSQL database (through libpq): each table made
// with the postgresql dialect's CREATE TABLE (or appended to, or replaced), all of a load
// in one transaction, so that a load that fails, stops or is killed leaves the database
// as it was. The rows go by COPY in its binary form into a table the load made (every
// decimal as NUMERIC's own base-10000 digits, exact; the server reads that form faster
// than text), and in its text form into a table that was there before, whose columns may
// be of other types.
#ifndef QUILLBOX_CODEC_PGSINK_H
#define QUILLBOX_CODEC_PGSINK_H

#include <future>
#include <string>
#include <vector>

#include "datacodec.h"
#include "parallel.h"
#include "sqltable.h"

struct pg_conn;

namespace quillbox {

// The connection of a load and its one transaction.
class PostgresDatabase {
public:
    // `conninfo`: libpq's connection string ("host=/run/postgresql dbname=sales", or a
    // postgresql:// URI).
    explicit PostgresDatabase(std::string conninfo);
    ~PostgresDatabase();   // what was not committed is rolled back
    PostgresDatabase(const PostgresDatabase&) = delete;
    PostgresDatabase& operator=(const PostgresDatabase&) = delete;

    // Connects and begins the transaction; false with Failure() when it cannot.
    bool Open();
    // Commits the load; false (and the database as it was) when that failed.
    bool Commit();
    // Rolls the load back.
    void Abandon();
    // Keeps the first failure; `fromServer`: the server's or libpq's reason follows it.
    bool Fail(const std::string& what, bool fromServer = true);
    // Runs a statement that returns no rows.
    bool Exec(const std::string& sql);
    // Whether the table `identifier` (as SQL writes it: quoted or plain) exists for the
    // connection's search path.
    bool TableExists(const std::string& identifier, bool& exists);
    // Runs `copy` (COPY ... FROM STDIN) with `data` (COPY's rows).
    bool Copy(const std::string& copy, const std::string& data);
    // Runs `copy` with `data` on a thread of its own while the caller makes the next
    // rows, once the COPY sent before it has ended: `data` is swapped for an empty string
    // to fill, and `rows` are added to `*stored` when the server has taken them. False
    // when the COPY before failed (or this one could not start): Failure() then says
    // `failure` of that COPY with the server's reason. One COPY is on its way at a time,
    // so a failure is always found at the same COPY, however fast the server is.
    bool Send(const std::string& copy, std::string& data, long long rows, long long* stored, std::string failure);
    // Waits for the COPY on its way; false (with Failure) when it failed, or when the
    // load failed before.
    bool Wait();
    bool IsOpen() const { return open_; }
    const std::string& Failure() const { return failure_; }

private:
    // Waits for the COPY on its way, if any: false when it failed.
    bool Settled() { return !sending_.done.valid() || Wait(); }
    // The COPY on its way (Send).
    struct Sending {
        std::future<bool> done;
        std::string copy, data, failure;
        long long rows = 0;
        long long* stored = nullptr;
    };
    std::string conninfo_;
    pg_conn* conn_ = nullptr;
    bool open_ = false;        // a transaction is open
    bool committed_ = false;
    std::string failure_;
    Sending sending_;
};

// A table's rows into the database. On several threads (DecodeParallelInto) the rows'
// COPY bytes are made on the decoding workers; the calling thread sends them, in COPY
// statements that end at the rows where one thread ends them.
class PostgresSink : public BlockRowSink {
public:
    // Table `table` (UTF-8) of a database opened by the caller, who commits it (several
    // tables in one load).
    PostgresSink(PostgresDatabase& database, std::string table, IfExists ifExists);
    ~PostgresSink() override;   // waits for a COPY of its rows still on its way
    PostgresSink(const PostgresSink&) = delete;
    PostgresSink& operator=(const PostgresSink&) = delete;

    bool Begin(const LayoutPlan& plan) override;
    bool Row(const LayoutPlan& plan, const RowCells& cells) override;
    // A record's good values made into COPY bytes straight from its bytes (AppendRecord).
    bool DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) override;
    // The rows stay in the open transaction: the database's Commit makes them the
    // database's.
    bool Finish() override;
    std::string Failure() const override { return failure_; }
    long long Stored(long long /*given*/) const override { return stored_; }
    std::unique_ptr<Block> NewBlock() override;
    bool Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) override;

    // Rows are sent in COPY statements of about this many bytes (a load of several
    // tables holds one buffer per table).
    static constexpr size_t kCopyBytes = 4 << 20;

    // How a column's value goes in COPY's binary form.
    enum class BinaryForm { kBytes, kNumeric, kInt2, kInt4, kInt8, kFloat4, kFloat8 };

private:
    class ReadyRows;
    bool Fail(const std::string& what, bool fromServer = true);
    bool Flush();
    // The COPY bytes of a row of `cells` appended to `out` (the binary form: by the forms
    // Begin found); false (`out` as it was, `refused` the column) for a value the
    // column's type does not take.
    bool AppendRow(std::string& out, const RowCells& cells, size_t& refused) const;
    // The same for a record's good values read with `values` straight from its bytes (no
    // cell made of them); false (`out` as it was) when a value needs its cell: bad data,
    // blanks, a value its column does not take, a column of no direct form.
    bool AppendRecord(std::string& out, ValueCodec& values, const unsigned char* record) const;
    // The failure of a row whose value of column `column` is `value`.
    bool Refuse(const LayoutPlan& plan, size_t column, const std::string& value);

    PostgresDatabase& database_;
    std::string table_;
    IfExists ifExists_;
    std::string copy_;       // COPY table (columns) FROM STDIN
    std::string buffer_;     // COPY rows not sent yet
    bool binary_ = false;    // COPY's binary form, in the forms of `forms_`
    std::vector<BinaryForm> forms_;
    bool direct_ = false;    // every column has a form AppendRecord makes
    const LayoutPlan* plan_ = nullptr;   // of the rows, from Begin
    long long buffered_ = 0;   // rows in the buffer
    long long sent_ = 0;       // rows sent (some may be on their way)
    long long stored_ = 0;     // rows the server took
    std::string failure_;
};

// `text` (UTF-8) as a field of COPY's text form: backslash, tab, line ends escaped.
void AppendCopyField(std::string& out, const char* text, size_t length);

// The decimal `text` ("-123.45", digits with an optional sign and point) as a field of
// COPY's binary form for NUMERIC (its length, then the base-10000 digits); false when
// `text` is not such a number.
bool AppendBinaryNumeric(std::string& out, const char* text, size_t length);

}  // namespace quillbox

#endif
