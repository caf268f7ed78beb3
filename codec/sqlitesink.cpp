// The SQLite row sink.
#include "sqlitesink.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "valuecodec.h"

namespace quillbox {

SqliteDatabase::SqliteDatabase(std::string path) : path_(std::move(path)) {}

SqliteDatabase::~SqliteDatabase() {
    if (!committed_) Abandon();
    Close();
}

bool SqliteDatabase::Fail(const std::string& what, bool fromSqlite) {
    if (failure_.empty()) {
        failure_ = what;
        if (fromSqlite && db_ != nullptr && sqlite3_errcode(db_) != SQLITE_OK) {
            int code = sqlite3_errcode(db_);
            if (code == SQLITE_NOTADB) failure_ = "the file is not an SQLite database";
            else if (code == SQLITE_BUSY || code == SQLITE_LOCKED) failure_ = "the database is locked by another program";
            else failure_ += ": " + std::string(sqlite3_errmsg(db_));
        }
    }
    return false;
}

bool SqliteDatabase::Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SqliteDatabase::Close() {
    // A statement a sink still holds keeps the connection until it is finalized.
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDatabase::Open() {
    if (open_) return true;
    if (!failure_.empty()) return false;
    struct stat status;
    made_ = stat(path_.c_str(), &status) != 0 && errno == ENOENT;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        return Fail("cannot open the database");
    }
    sqlite3_busy_timeout(db_, 2000);
    // A file made for this load needs no rollback journal: a load that does not end
    // well removes it; it is synced when the load commits.
    if (made_ && !(Exec("PRAGMA journal_mode = OFF") && Exec("PRAGMA synchronous = OFF"))) {
        return Fail("cannot set up the database");
    }
    // One transaction for the whole load, taken for writing at once: a database that
    // another program writes is refused here, before anything is done.
    if (!Exec("BEGIN IMMEDIATE")) return Fail("cannot write the database");
    open_ = true;
    return true;
}

bool SqliteDatabase::Commit() {
    if (!open_ || !failure_.empty()) return false;
    if (!Exec("COMMIT")) {
        Fail("cannot commit the load");
        Abandon();
        return false;
    }
    open_ = false;
    committed_ = true;
    if (made_) {
        // The file made for the load (written without syncs) reaches the disk now.
        int fd = open(path_.c_str(), O_RDONLY);
        bool synced = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0) close(fd);
        if (!synced) return Fail("cannot write the database to the disk", false);
    }
    return true;
}

void SqliteDatabase::Abandon() {
    if (committed_) return;
    if (open_ && db_ != nullptr) Exec("ROLLBACK");
    open_ = false;
    if (made_) {
        // The file made for the load goes again, with its journal.
        Close();
        std::remove(path_.c_str());
        std::remove((path_ + "-journal").c_str());
        made_ = false;
    }
}

SqliteSink::SqliteSink(std::string path, std::string table, IfExists ifExists)
    : owned_(new SqliteDatabase(std::move(path))), database_(*owned_), table_(std::move(table)), ifExists_(ifExists) {}

SqliteSink::SqliteSink(SqliteDatabase& database, std::string table, IfExists ifExists)
    : database_(database), table_(std::move(table)), ifExists_(ifExists) {}

SqliteSink::~SqliteSink() {
    if (insert_ != nullptr) sqlite3_finalize(insert_);
}

bool SqliteSink::Finish() {
    // The statement ends with the rows: the transaction can then end.
    if (insert_ != nullptr) sqlite3_finalize(insert_);
    insert_ = nullptr;
    return failure_.empty();
}

bool SqliteSink::Fail(const std::string& what, bool fromSqlite) {
    database_.Fail(what, fromSqlite);
    if (failure_.empty()) failure_ = database_.Failure().empty() ? what : database_.Failure();
    return false;
}

bool SqliteSink::Begin(const LayoutPlan& plan) {
    if (!database_.Open()) {
        failure_ = database_.Failure();
        return false;
    }
    sqlite3* db = database_.Handle();
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE", -1,
                           &query, nullptr) != SQLITE_OK) {
        return Fail("cannot read the database");
    }
    sqlite3_bind_text(query, 1, table_.c_str(), static_cast<int>(table_.size()), SQLITE_TRANSIENT);
    int step = sqlite3_step(query);
    sqlite3_finalize(query);
    if (step != SQLITE_ROW && step != SQLITE_DONE) return Fail("cannot read the database");
    const bool exists = step == SQLITE_ROW;
    if (exists && ifExists_ == IfExists::kFail) {
        return Fail("the table " + table_ + " exists (--if-exists append adds to it, replace replaces it)", false);
    }
    if (exists && ifExists_ == IfExists::kReplace && !database_.Exec("DROP TABLE " + SqlIdentifier(table_))) {
        return Fail("cannot drop the table " + table_);
    }
    if ((!exists || ifExists_ == IfExists::kReplace) && !database_.Exec(CreateTableSql(plan, table_, SqlDialect::kSqlite))) {
        return Fail("cannot create the table " + table_);
    }
    std::string insert = "INSERT INTO " + SqlIdentifier(table_) + " (";
    std::string values = ") VALUES (";
    forms_.clear();
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        insert += (i > 0 ? ", " : "") + SqlIdentifier(plan.fields[i].column);
        values += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
        forms_.push_back(SqlTypeOf(plan.fields[i], SqlDialect::kSqlite).form);
    }
    insert += values + ")";
    if (sqlite3_prepare_v2(db, insert.c_str(), static_cast<int>(insert.size()), &insert_, nullptr) != SQLITE_OK) {
        return Fail("the table " + table_ + " does not take the layout's columns");
    }
    return true;
}

bool SqliteSink::Row(const LayoutPlan&, const RowCells& cells) {
    for (size_t i = 0; i < forms_.size(); ++i) {
        const int at = static_cast<int>(i + 1);
        if (cells.Kind(i) == Cell::kNull) {
            sqlite3_bind_null(insert_, at);
            continue;
        }
        const char* text = cells.Text(i);
        const size_t length = cells.Length(i);
        switch (forms_[i]) {
        case SqlValueForm::kInteger: {
            // The exact text of an integer column that 64 bits hold.
            uint64_t magnitude;
            bool negative;
            std::string reason;
            if (ParseDecimal(std::string_view(text, length), 0, negative, magnitude, reason) &&
                magnitude <= (negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX))) {
                sqlite3_bind_int64(insert_, at, negative ? static_cast<sqlite3_int64>(0 - magnitude)
                                                         : static_cast<sqlite3_int64>(magnitude));
                continue;
            }
            break;
        }
        case SqlValueForm::kReal: {
            std::string copy(text, length);
            char* end = nullptr;
            double value = std::strtod(copy.c_str(), &end);
            if (end == copy.c_str() + copy.size() && !std::isnan(value)) {
                sqlite3_bind_double(insert_, at, value);
                continue;
            }
            break;
        }
        case SqlValueForm::kExactText:
        case SqlValueForm::kDecimal:
        case SqlValueForm::kText: break;
        }
        sqlite3_bind_text(insert_, at, text, static_cast<int>(length), SQLITE_STATIC);
    }
    const int step = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (step != SQLITE_DONE) return Fail(std::string("cannot insert into the table ") + table_);
    ++stored_;
    return true;
}

bool SqliteSink::Commit() {
    if (insert_ != nullptr) sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (!failure_.empty()) return false;
    if (database_.Commit()) return true;
    failure_ = database_.Failure();
    return false;
}

void SqliteSink::Abandon() {
    if (insert_ != nullptr) sqlite3_finalize(insert_);
    insert_ = nullptr;
    database_.Abandon();
}

}  // namespace quillbox
