// The PostgreSQL row sink.
#include "pgsink.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

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
        // A connection left in a COPY (its end could not be sent) answers every call
        // with the COPY's status again: the statement failed, and there is no more to take.
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) break;
    }
    return ok;
}

// Big-endian integers of COPY's binary form, at `at` (returning the end) or appended.
char* PutBig(char* at, uint64_t u, int bytes) {
    for (int k = 0; k < bytes; ++k) at[k] = static_cast<char>((u >> (8 * (bytes - 1 - k))) & 0xFF);
    return at + bytes;
}

void PutInt16(std::string& out, int value) {
    char bytes[2];
    PutBig(bytes, static_cast<uint16_t>(value), 2);
    out.append(bytes, 2);
}

void PutInt32(std::string& out, int32_t value) {
    char bytes[4];
    PutBig(bytes, static_cast<uint32_t>(value), 4);
    out.append(bytes, 4);
}

void PutUint64(std::string& out, uint64_t u) {
    char bytes[8];
    PutBig(bytes, u, 8);
    out.append(bytes, 8);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The escape of a character in a field of COPY's text form; null for one kept as it is.
const char* CopyEscape(char c) {
    return c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
}

// The start of every COPY in the binary form: its signature, no flags, no extension.
void PutBinaryHeader(std::string& out) {
    static const char kSignature[11] = {'P', 'G', 'C', 'O', 'P', 'Y', '\n', '\377', '\r', '\n', '\0'};
    out.append(kSignature, sizeof kSignature);
    PutInt32(out, 0);
    PutInt32(out, 0);
}

// A binary or floating value's text as the bytes of its column's type; false when the
// text is no such value or does not fit.
bool AppendBinaryNumber(std::string& out, PostgresSink::BinaryForm form, const char* text, size_t length) {
    const char* end = text + length;
    switch (form) {
    case PostgresSink::BinaryForm::kInt2:
    case PostgresSink::BinaryForm::kInt4:
    case PostgresSink::BinaryForm::kInt8: {
        long long value = 0;
        const char* from = text != end && *text == '+' ? text + 1 : text;
        const auto parsed = std::from_chars(from, end, value);
        if (parsed.ec != std::errc() || parsed.ptr != end) return false;
        if (form == PostgresSink::BinaryForm::kInt2) {
            if (value < INT16_MIN || value > INT16_MAX) return false;
            PutInt32(out, 2);
            PutInt16(out, static_cast<int>(value));
        } else if (form == PostgresSink::BinaryForm::kInt4) {
            if (value < INT32_MIN || value > INT32_MAX) return false;
            PutInt32(out, 4);
            PutInt32(out, static_cast<int32_t>(value));
        } else {
            PutInt32(out, 8);
            PutUint64(out, static_cast<uint64_t>(value));
        }
        return true;
    }
    case PostgresSink::BinaryForm::kFloat4:
    case PostgresSink::BinaryForm::kFloat8: {
        const std::string_view word(text, length);
        double value = 0;
        if (word == "NaN") {
            value = std::numeric_limits<double>::quiet_NaN();
        } else if (word == "Infinity" || word == "-Infinity") {
            value = word[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        } else if (form == PostgresSink::BinaryForm::kFloat4) {
            // Read as a float, as the server reads a REAL's text.
            float single = 0;
            const auto parsed = std::from_chars(text, end, single);
            if (parsed.ec != std::errc() || parsed.ptr != end) return false;
            value = single;
        } else {
            const auto parsed = std::from_chars(text, end, value);
            if (parsed.ec != std::errc() || parsed.ptr != end) return false;
        }
        if (form == PostgresSink::BinaryForm::kFloat4) {
            const float single = static_cast<float>(value);
            uint32_t bits;
            std::memcpy(&bits, &single, sizeof bits);
            PutInt32(out, 4);
            PutInt32(out, static_cast<int32_t>(bits));
        } else {
            uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            PutInt32(out, 8);
            PutUint64(out, bits);
        }
        return true;
    }
    default: return false;
    }
}

}  // namespace

bool AppendBinaryNumeric(std::string& out, const char* text, size_t length) {
    size_t i = 0;
    bool negative = false;
    if (i < length && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    size_t intBegin = i;
    while (i < length && IsDigit(text[i])) ++i;
    const size_t intEnd = i;
    size_t fracBegin = i, fracEnd = i;
    if (i < length && text[i] == '.') {
        fracBegin = ++i;
        while (i < length && IsDigit(text[i])) ++i;
        fracEnd = i;
    }
    if (i != length || (intEnd == intBegin && fracEnd == fracBegin)) return false;
    while (intBegin < intEnd && text[intBegin] == '0') ++intBegin;
    const size_t intDigits = intEnd - intBegin, fracDigits = fracEnd - fracBegin;
    const size_t intGroups = (intDigits + 3) / 4, fracGroups = (fracDigits + 3) / 4;
    // NUMERIC's digits are base-10000 groups aligned at the point; its display scale is
    // the digits after the point. Far more than any item's digits is refused.
    uint16_t groups[96];
    if (intGroups + fracGroups > sizeof groups / sizeof groups[0]) return false;
    size_t n = 0, at = intBegin;
    for (size_t g = 0; g < intGroups; ++g) {
        const size_t take = g == 0 && intDigits % 4 != 0 ? intDigits % 4 : 4;
        int value = 0;
        for (size_t k = 0; k < take; ++k) value = value * 10 + (text[at++] - '0');
        groups[n++] = static_cast<uint16_t>(value);
    }
    at = fracBegin;
    for (size_t g = 0; g < fracGroups; ++g) {
        int value = 0;
        for (size_t k = 0; k < 4; ++k) value = value * 10 + (at < fracEnd ? text[at++] - '0' : 0);
        groups[n++] = static_cast<uint16_t>(value);
    }
    int weight = static_cast<int>(intGroups) - 1;
    size_t first = 0, last = n;
    while (first < last && groups[first] == 0) {
        ++first;
        --weight;
    }
    while (last > first && groups[last - 1] == 0) --last;
    const size_t count = last - first;
    if (count == 0) {
        weight = 0;
        negative = false;
    }
    // The field's length, then NUMERIC's header and digits, appended at once.
    char bytes[12 + 2 * sizeof groups / sizeof groups[0]];
    char* end = PutBig(bytes, 8 + 2 * count, 4);
    end = PutBig(end, count, 2);
    end = PutBig(end, static_cast<uint16_t>(weight), 2);
    end = PutBig(end, negative ? 0x4000 : 0, 2);
    end = PutBig(end, fracDigits, 2);
    for (size_t k = first; k < last; ++k) end = PutBig(end, groups[k], 2);
    out.append(bytes, static_cast<size_t>(end - bytes));
    return true;
}

void AppendCopyField(std::string& out, const char* text, size_t length) {
    size_t from = 0;
    for (size_t i = 0; i < length; ++i) {
        const char* escape = CopyEscape(text[i]);
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
    if (conn_ == nullptr || !Settled()) return false;
    PGresult* result = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

bool PostgresDatabase::TableExists(const std::string& identifier, bool& exists) {
    if (!Settled()) return false;
    const char* values[] = {identifier.c_str()};
    PGresult* result = PQexecParams(conn_, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
    if (ok) exists = PQgetvalue(result, 0, 0)[0] == 't';
    PQclear(result);
    return ok;
}

bool PostgresDatabase::Send(const std::string& copy, std::string& data, long long rows, long long* stored,
                            std::string failure) {
    if (!Wait()) return false;
    sending_.copy = copy;
    sending_.data.swap(data);
    data.clear();   // the room of the COPY before, to fill again
    sending_.rows = rows;
    sending_.stored = stored;
    sending_.failure = std::move(failure);
    try {
        sending_.done = std::async(std::launch::async, [this] { return Copy(sending_.copy, sending_.data); });
    } catch (const std::system_error&) {
        // No thread to be had: the COPY is run here.
        std::promise<bool> ran;
        ran.set_value(Copy(sending_.copy, sending_.data));
        sending_.done = ran.get_future();
    }
    return true;
}

bool PostgresDatabase::Wait() {
    if (!sending_.done.valid()) return failure_.empty();
    if (!sending_.done.get()) return Fail(sending_.failure);
    *sending_.stored += sending_.rows;
    return failure_.empty();
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
    if (!Wait() || !open_ || !failure_.empty()) return false;
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
    Settled();   // the connection is this thread's again
    if (committed_ || !open_) return;
    Exec("ROLLBACK");
    open_ = false;
}

PostgresSink::PostgresSink(PostgresDatabase& database, std::string table, IfExists ifExists)
    : database_(database), table_(std::move(table)), ifExists_(ifExists) {}

PostgresSink::~PostgresSink() {
    // The COPY on its way counts its rows into this sink: it ends while the sink is here.
    database_.Wait();
}

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
    plan_ = &plan;
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
    // The binary form only into a table of the load's own types: a table appended to
    // may have others, which its text form converts to.
    binary_ = !exists || ifExists_ == IfExists::kReplace;
    if (binary_) {
        copy_ += " WITH (FORMAT binary)";
        forms_.clear();
        for (const Field& field : plan.fields) {
            const SqlColumnType type = SqlTypeOf(field, SqlDialect::kPostgresql);
            BinaryForm form = BinaryForm::kBytes;
            if (type.form == SqlValueForm::kDecimal) form = BinaryForm::kNumeric;
            else if (type.type == "SMALLINT") form = BinaryForm::kInt2;
            else if (type.type == "INTEGER") form = BinaryForm::kInt4;
            else if (type.type == "BIGINT") form = BinaryForm::kInt8;
            else if (type.type == "REAL") form = BinaryForm::kFloat4;
            else if (type.type == "DOUBLE PRECISION") form = BinaryForm::kFloat8;
            else if (type.form != SqlValueForm::kText) binary_ = false;   // a type of no binary form here
            forms_.push_back(form);
        }
        if (!binary_) copy_.erase(copy_.size() - std::strlen(" WITH (FORMAT binary)"));
    }
    // A record's values straight into COPY: numbers of the usual usages and text, in
    // binary integer and NUMERIC columns, or any column of the text form.
    direct_ = true;
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const Field& field = plan.fields[i];
        const bool text = field.kind == Field::kText || field.kind == Field::kNational;
        const bool number = !text && ValueCodec::HasCsvCell(field);
        const BinaryForm form = binary_ ? forms_[i] : BinaryForm::kBytes;
        if (form == BinaryForm::kBytes ? !text && !(number && !binary_)
                                       : !number || form == BinaryForm::kFloat4 || form == BinaryForm::kFloat8) {
            direct_ = false;
        }
    }
    buffer_.reserve(kCopyBytes + (64 << 10));
    return true;
}

bool PostgresSink::AppendRecord(std::string& out, ValueCodec& values, const unsigned char* record) const {
    const size_t before = out.size();
    const std::vector<Field>& fields = plan_->fields;
    if (binary_) PutInt16(out, static_cast<int>(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        const BinaryForm form = binary_ ? forms_[i] : BinaryForm::kBytes;
        bool ok = true;
        if (form == BinaryForm::kInt2 || form == BinaryForm::kInt4 || form == BinaryForm::kInt8) {
            bool negative;
            uint64_t magnitude;
            const int bytes = form == BinaryForm::kInt2 ? 2 : form == BinaryForm::kInt4 ? 4 : 8;
            const uint64_t limit = uint64_t{1} << (8 * bytes - 1);   // of the negative; one less positive
            ok = field.scale == 0 && values.NumberOf(field, record, negative, magnitude) &&
                 magnitude <= (negative ? limit : limit - 1);
            if (ok) {
                const uint64_t value = negative ? 0 - magnitude : magnitude;
                PutInt32(out, bytes);
                if (bytes == 2) PutInt16(out, static_cast<int>(static_cast<int16_t>(value)));
                else if (bytes == 4) PutInt32(out, static_cast<int32_t>(value));
                else PutUint64(out, value);
            }
        } else if (form == BinaryForm::kNumeric) {
            char text[kDecimalRoom];
            const char* end = values.CsvCellInto(field, record, text);
            ok = end != nullptr && AppendBinaryNumeric(out, text, static_cast<size_t>(end - text));
        } else {
            // Text (or, in the text form, a number's text) where it lands, its length
            // before it in the binary form, escaped for the text form.
            if (!binary_ && i > 0) out += '\t';
            const size_t at = out.size(), room = ValueCodec::CellRoom(field);
            const size_t head = binary_ ? 4 : 0;
            out.resize(at + head + room);
            char* start = &out[at + head];
            const char* end = field.kind == Field::kText || field.kind == Field::kNational
                                  ? values.TextCellInto(field, record, start)
                                  : values.CsvCellInto(field, record, start);
            ok = end != nullptr;
            if (ok) {
                const size_t length = static_cast<size_t>(end - start);
                if (binary_) {
                    PutBig(&out[at], length, 4);
                    out.resize(at + head + length);
                } else if (std::find_if(start, start + length, CopyEscape) != start + length) {
                    const std::string value(start, length);
                    out.resize(at);
                    AppendCopyField(out, value.data(), value.size());
                } else {
                    out.resize(at + length);
                }
            }
        }
        if (!ok) {
            out.resize(before);
            return false;
        }
    }
    if (!binary_) out += '\n';
    return true;
}

bool PostgresSink::AppendRow(std::string& out, const RowCells& cells, size_t& refused) const {
    const size_t before = out.size();
    if (!binary_) {
        for (size_t i = 0; i < cells.Size(); ++i) {
            if (i > 0) out += '\t';
            if (cells.Kind(i) == Cell::kNull) out += "\\N";
            else AppendCopyField(out, cells.Text(i), cells.Length(i));
        }
        out += '\n';
        return true;
    }
    PutInt16(out, static_cast<int>(cells.Size()));
    for (size_t i = 0; i < cells.Size(); ++i) {
        if (cells.Kind(i) == Cell::kNull) {
            PutInt32(out, -1);
            continue;
        }
        const char* text = cells.Text(i);
        const size_t length = cells.Length(i);
        const BinaryForm form = i < forms_.size() ? forms_[i] : BinaryForm::kBytes;
        bool ok = true;
        if (form == BinaryForm::kBytes) {
            PutInt32(out, static_cast<int32_t>(length));
            out.append(text, length);
        } else if (form == BinaryForm::kNumeric) {
            ok = AppendBinaryNumeric(out, text, length);
        } else {
            ok = AppendBinaryNumber(out, form, text, length);
        }
        if (!ok) {
            out.resize(before);
            refused = i;
            return false;
        }
    }
    return true;
}

bool PostgresSink::Refuse(const LayoutPlan& plan, size_t i, const std::string& value) {
    const std::string column = i < plan.fields.size() ? plan.fields[i].column : std::to_string(i + 1);
    return Fail("the table " + table_ + ", row " + std::to_string(sent_ + buffered_ + 1) + ", column " + column +
                    ": the value " + value + " is not one its type takes",
                false);
}

bool PostgresSink::Row(const LayoutPlan& plan, const RowCells& cells) {
    if (!failure_.empty()) return false;
    if (binary_ && buffer_.empty()) PutBinaryHeader(buffer_);
    size_t refused = 0;
    if (!AppendRow(buffer_, cells, refused)) return Refuse(plan, refused, cells.String(refused));
    ++buffered_;
    return buffer_.size() < kCopyBytes || Flush();
}

bool PostgresSink::DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) {
    if (!direct_ || !failure_.empty()) return false;   // Row says why
    if (binary_ && buffer_.empty()) PutBinaryHeader(buffer_);
    if (!AppendRecord(buffer_, values, record)) return false;
    ++buffered_;
    failed = buffer_.size() >= kCopyBytes && !Flush();
    return true;
}

// The COPY bytes of rows made on a decoding worker, and where each row ends.
class PostgresSink::ReadyRows : public BlockRowSink::Block {
public:
    explicit ReadyRows(const PostgresSink& sink) : sink_(sink) {}
    bool Add(const LayoutPlan&, const RowCells& cells) override {
        if (refused_) return false;
        size_t column = 0;
        if (!sink_.AppendRow(bytes_, cells, column)) {
            refused_ = true;
            column_ = column;
            value_ = cells.String(column);
            return false;
        }
        ends_.push_back(bytes_.size());
        return true;
    }
    bool AddRecord(ValueCodec& values, const unsigned char* record) override {
        if (refused_ || !sink_.direct_ || !sink_.AppendRecord(bytes_, values, record)) return false;
        ends_.push_back(bytes_.size());
        return true;
    }
    size_t Rows() const override { return ends_.size(); }
    void Clear() override {
        bytes_.clear();
        ends_.clear();
        refused_ = false;
    }

private:
    friend class PostgresSink;
    const PostgresSink& sink_;
    std::string bytes_;
    std::vector<size_t> ends_;
    bool refused_ = false;
    size_t column_ = 0;     // of the row refused
    std::string value_;     // its value there
};

std::unique_ptr<BlockRowSink::Block> PostgresSink::NewBlock() {
    return std::unique_ptr<Block>(new ReadyRows(*this));
}

bool PostgresSink::Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) {
    taken = 0;
    if (!failure_.empty()) return false;
    ReadyRows& ready = static_cast<ReadyRows&>(*block);
    const size_t have = ready.ends_.size();
    const size_t end = std::min(to, have);
    const size_t* ends = ready.ends_.data();
    size_t row = from;
    while (row < end) {
        if (binary_ && buffer_.empty()) PutBinaryHeader(buffer_);
        // The rows up to the one that brings the buffer to kCopyBytes, after which one
        // thread's Row sends them.
        const size_t begin = row == 0 ? 0 : ends[row - 1];
        const size_t room = kCopyBytes > buffer_.size() ? kCopyBytes - buffer_.size() : 0;
        const size_t last = static_cast<size_t>(std::lower_bound(ends + row, ends + end, begin + room) - ends);
        const size_t stop = last < end ? last + 1 : end;
        buffer_.append(ready.bytes_.data() + begin, ends[stop - 1] - begin);
        buffered_ += static_cast<long long>(stop - row);
        if (last < end && !Flush()) {
            taken += stop - row - 1;
            return false;
        }
        taken += stop - row;
        row = stop;
    }
    if (to > have) return Refuse(*plan_, ready.column_, ready.value_);
    return true;
}

bool PostgresSink::Flush() {
    if (!failure_.empty()) return false;
    if (buffered_ == 0) return true;
    if (binary_) PutInt16(buffer_, -1);   // the end of the rows
    // The server names the row of this COPY and the column that it refused.
    std::string failure = "the table " + table_ + " did not take the rows " + std::to_string(sent_ + 1) + " to " +
                          std::to_string(sent_ + buffered_);
    if (!database_.Send(copy_, buffer_, buffered_, &stored_, std::move(failure))) {
        return Fail(database_.Failure(), false);
    }
    sent_ += buffered_;
    buffered_ = 0;
    return true;
}

bool PostgresSink::Finish() {
    if (!Flush()) return false;
    // The last COPY taken: the transaction may end.
    return database_.Wait() || Fail(database_.Failure(), false);
}

}  // namespace quillbox
