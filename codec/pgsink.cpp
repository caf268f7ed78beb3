// The PostgreSQL row sink.
#include "pgsink.h"

#include <libpq-fe.h>

#include <algorithm>

#include "valuecodec.h"

namespace quillbox {

namespace {

// The server's or libpq's message of the connection, on one line.
std::string ServerReason(PGconn* conn) {
    std::string reason = conn != nullptr ? PQerrorMessage(conn) : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    // libpq's lines (a hint indented by a tab) as one line.
    std::string line;
    for (char c : reason) {
        if (c == '\n' || c == '\t') c = ' ';
        if (c != ' ' || (!line.empty() && line.back() != ' ')) line.push_back(c);
    }
    return line;
}

// Takes and clears the results of the statement sent last; false when one failed.
bool Drain(PGconn* conn) {
    bool ok = true;
    while (PGresult* result = PQgetResult(conn)) {
        ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) ok = false;
        PQclear(result);
    }
    return ok;
}

}  // namespace

void AppendCopyField(std::string& out, const char* text, size_t length) {
    size_t from = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (escape == nullptr) continue;
        out.append(text + from, i - from);
        out += escape;
        from = i + 1;
    }
    out.append(text + from, length - from);
}

PostgresDatabase::PostgresDatabase(std::string conninfo) : conninfo_(std::move(conninfo)) {}

PostgresDatabase::~PostgresDatabase() {
    Abandon();
    if (conn_ != nullptr) PQfinish(conn_);
}

bool PostgresDatabase::Fail(const std::string& what, bool fromServer) {
    if (failure_.empty()) {
        failure_ = what;
        std::string reason = fromServer ? ServerReason(conn_) : std::string();
        if (!reason.empty()) failure_ += ": " + reason;
    }
    return false;
}

bool PostgresDatabase::Open() {
    if (open_) return true;
    if (!failure_.empty()) return false;
    // The program's name for the server's activity view, unless the string names another.
    const char* const keys[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
    const char* const values[] = {conninfo_.c_str(), "quillbox-cli", "UTF8", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
        Fail("cannot connect to the database");
        failure_ += " (--db takes libpq's connection string, such as \"host=/run/postgresql dbname=NAME\" or "
                    "postgresql://USER@HOST/NAME)";
        return false;
    }
    // Every row of the load in one transaction: a load that does not end well leaves
    // nothing behind, a lost connection included (the server rolls it back).
    if (!Exec("BEGIN")) return Fail("cannot begin the load");
    open_ = true;
    return true;
}

bool PostgresDatabase::Exec(const std::string& sql) {
    if (conn_ == nullptr) return false;
    PGresult* result = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

bool PostgresDatabase::TableExists(const std::string& identifier, bool& exists) {
    const char* values[] = {identifier.c_str()};
    PGresult* result = PQexecParams(conn_, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
    if (ok) exists = PQgetvalue(result, 0, 0)[0] == 't';
    PQclear(result);
    return ok;
}

bool PostgresDatabase::Copy(const std::string& copy, const std::string& data) {
    PGresult* result = PQexec(conn_, copy.c_str());
    const bool started = PQresultStatus(result) == PGRES_COPY_IN;
    PQclear(result);
    if (!started) return false;
    bool sent = true;
    // libpq takes the data in pieces of at most INT_MAX bytes.
    for (size_t at = 0; at < data.size() && sent;) {
        const size_t piece = std::min<size_t>(data.size() - at, 1 << 30);
        sent = PQputCopyData(conn_, data.data() + at, static_cast<int>(piece)) == 1;
        at += piece;
    }
    // A piece that could not be sent ends the COPY with an error, so that none of it is kept.
    if (PQputCopyEnd(conn_, sent ? nullptr : "the load could not send its rows") != 1) sent = false;
    return Drain(conn_) && sent;
}

bool PostgresDatabase::Commit() {
    if (!open_ || !failure_.empty()) return false;
    if (!Exec("COMMIT")) {
        Fail("cannot commit the load");
        Abandon();
        return false;
    }
    open_ = false;
    committed_ = true;
    return true;
}

void PostgresDatabase::Abandon() {
    if (committed_ || !open_) return;
    Exec("ROLLBACK");
    open_ = false;
}

PostgresSink::PostgresSink(PostgresDatabase& database, std::string table, IfExists ifExists)
    : database_(database), table_(std::move(table)), ifExists_(ifExists) {}

bool PostgresSink::Fail(const std::string& what, bool fromServer) {
    database_.Fail(what, fromServer);
    if (failure_.empty()) failure_ = database_.Failure().empty() ? what : database_.Failure();
    return false;
}

bool PostgresSink::Begin(const LayoutPlan& plan) {
    if (!database_.Open()) {
        failure_ = database_.Failure();
        return false;
    }
    const std::string name = SqlIdentifier(table_);
    bool exists = false;
    if (!database_.TableExists(name, exists)) return Fail("cannot read the database");
    if (exists && ifExists_ == IfExists::kFail) {
        return Fail("the table " + table_ + " exists (--if-exists append adds to it, replace replaces it)", false);
    }
    if (exists && ifExists_ == IfExists::kReplace && !database_.Exec("DROP TABLE " + name)) {
        return Fail("cannot drop the table " + table_);
    }
    if ((!exists || ifExists_ == IfExists::kReplace) &&
        !database_.Exec(CreateTableSql(plan, table_, SqlDialect::kPostgresql))) {
        return Fail("cannot create the table " + table_);
    }
    copy_ = "COPY " + name + " (";
    for (size_t i = 0; i < plan.fields.size(); ++i) copy_ += (i > 0 ? ", " : "") + SqlIdentifier(plan.fields[i].column);
    copy_ += ") FROM STDIN";
    buffer_.reserve(kCopyBytes + (64 << 10));
    return true;
}

bool PostgresSink::Row(const LayoutPlan&, const RowCells& cells) {
    for (size_t i = 0; i < cells.Size(); ++i) {
        if (i > 0) buffer_ += '\t';
        if (cells.Kind(i) == Cell::kNull) buffer_ += "\\N";
        else AppendCopyField(buffer_, cells.Text(i), cells.Length(i));
    }
    buffer_ += '\n';
    ++buffered_;
    return buffer_.size() < kCopyBytes || Flush();
}

bool PostgresSink::Flush() {
    if (!failure_.empty()) return false;
    if (buffered_ == 0) return true;
    if (!database_.Copy(copy_, buffer_)) {
        // The server names the row of this COPY and the column that it refused.
        return Fail("the table " + table_ + " did not take the rows " + std::to_string(stored_ + 1) + " to " +
                    std::to_string(stored_ + buffered_));
    }
    stored_ += buffered_;
    buffered_ = 0;
    buffer_.clear();
    return true;
}

bool PostgresSink::Finish() { return Flush(); }

}  // namespace quillbox
