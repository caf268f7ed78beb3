// The SQLite row sink.
#include "sqlitesink.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "valuecodec.h"

namespace quillbox {

namespace {
const char kInterrupted[] = "the load was interrupted";
}

namespace {

// The folder part of a path, with its slash ("" for a bare name).
std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The CPU time the calling thread has spent, in ns.
long long ThreadCpuNanoseconds() {
    struct timespec now;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Syncs the file or folder `path`; false when that failed.
bool SyncPath(const std::string& path, bool folder) {
    int fd = open(path.empty() ? "." : path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0 || (folder && errno == EINVAL);   // some folders take no sync
    close(fd);
    return synced;
}

}  // namespace

// ---- Rows ready to bind ------------------------------------------------------------------

namespace {
// The magnitude with its sign as an int64: false when 64 bits do not hold it.
bool Int64Of(bool negative, uint64_t magnitude, int64_t& value) {
    if (magnitude > (negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX))) return false;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}
}  // namespace

std::vector<SqlValueForm> SqliteRows::FormsOf(const LayoutPlan& plan) {
    std::vector<SqlValueForm> forms;
    for (const Field& field : plan.fields) forms.push_back(SqlTypeOf(field, SqlDialect::kSqlite).form);
    return forms;
}

std::string SqliteRows::InsertSql(const LayoutPlan& plan, const std::string& table) {
    std::string insert = "INSERT INTO " + SqlIdentifier(table) + " (";
    std::string values = ") VALUES (";
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        insert += (i > 0 ? ", " : "") + SqlIdentifier(plan.fields[i].column);
        values += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
    }
    return insert + values + ")";
}

std::vector<SqliteRows::Direct> SqliteRows::DirectOf(const LayoutPlan& plan, const std::vector<SqlValueForm>& forms) {
    std::vector<Direct> direct;
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const Field& field = plan.fields[i];
        Direct column{Direct::kText, &field};
        const bool text = field.kind == Field::kText || field.kind == Field::kNational;
        const bool number = !text && ValueCodec::HasCsvCell(field);
        if (forms[i] == SqlValueForm::kInteger && number) {
            column.op = field.scale == 0 ? Direct::kInteger : Direct::kIntegerText;
        } else if (forms[i] == SqlValueForm::kExactText && number) {
            column.op = Direct::kNumber;
        } else if (forms[i] == SqlValueForm::kText && text) {
            column.op = Direct::kText;
        } else {
            return {};   // this column's values come through the cells only
        }
        direct.push_back(column);
    }
    return direct;
}

bool SqliteRows::Put(SqlValueForm form, const char* text, size_t length) {
    Value value;
    value.length = 0;
    switch (form) {
    case SqlValueForm::kInteger: {
        // The exact text of an integer column that 64 bits hold.
        uint64_t magnitude;
        bool negative;
        std::string reason;
        if (ParseDecimal(std::string_view(text, length), 0, negative, magnitude, reason) &&
            Int64Of(negative, magnitude, value.integer)) {
            value.kind = Value::kInteger;
            values_.push_back(value);
            return true;
        }
        break;
    }
    case SqlValueForm::kReal: {
        char copy[64];
        if (length < sizeof copy) {
            std::memcpy(copy, text, length);
            copy[length] = '\0';
            char* end = nullptr;
            double real = std::strtod(copy, &end);
            if (end == copy + length && !std::isnan(real)) {
                value.kind = Value::kReal;
                value.real = real;
                values_.push_back(value);
                return true;
            }
        }
        break;
    }
    case SqlValueForm::kExactText:
    case SqlValueForm::kDecimal:
    case SqlValueForm::kText: break;
    }
    if (length > static_cast<size_t>(INT32_MAX)) return false;   // more than SQLite binds
    value.kind = Value::kText;
    value.at = textUsed_;
    value.length = static_cast<uint32_t>(length);
    if (length > 0) std::memcpy(TextRoom(length), text, length);
    textUsed_ += length;
    values_.push_back(value);
    return true;
}

bool SqliteRows::Add(const std::vector<SqlValueForm>& forms, const RowCells& cells) {
    columns_ = forms.size();
    const size_t valuesBefore = values_.size(), textBefore = textUsed_;
    for (size_t i = 0; i < forms.size(); ++i) {
        if (cells.Kind(i) == Cell::kNull) {
            Value value;
            value.kind = Value::kNull;
            value.length = 0;
            values_.push_back(value);
        } else if (!Put(forms[i], cells.Text(i), cells.Length(i))) {
            values_.resize(valuesBefore);
            textUsed_ = textBefore;
            return false;
        }
    }
    ++rows_;
    return true;
}

bool SqliteRows::AddRecord(const std::vector<Direct>& direct, ValueCodec& values, const unsigned char* record) {
    columns_ = direct.size();
    const size_t valuesBefore = values_.size(), textBefore = textUsed_;
    values_.resize(valuesBefore + direct.size());
    Value* value = values_.data() + valuesBefore;
    for (const Direct& column : direct) {
        const Field& field = *column.field;
        bool negative;
        uint64_t magnitude;
        if (column.op == Direct::kInteger) {
            if (!values.NumberOf(field, record, negative, magnitude) || !Int64Of(negative, magnitude, value->integer)) {
                break;
            }
            value->kind = Value::kInteger;
        } else {
            // A text at most CellRoom(field) bytes long, far less than SQLite binds.
            char* out = TextRoom(ValueCodec::CellRoom(field));
            char* end = column.op == Direct::kText ? values.TextCellInto(field, record, out)
                                                   : values.CsvCellInto(field, record, out);
            if (end == nullptr) break;
            if (column.op == Direct::kIntegerText) {
                std::string reason;
                if (!ParseDecimal(std::string_view(out, static_cast<size_t>(end - out)), 0, negative, magnitude, reason) ||
                    !Int64Of(negative, magnitude, value->integer)) {
                    break;
                }
                value->kind = Value::kInteger;
            } else {
                value->kind = Value::kText;
                value->at = textUsed_;
                value->length = static_cast<uint32_t>(end - out);
                textUsed_ += value->length;
            }
        }
        ++value;
    }
    if (value != values_.data() + values_.size()) {
        values_.resize(valuesBefore);
        textUsed_ = textBefore;
        return false;
    }
    ++rows_;
    return true;
}

void SqliteRows::Append(const SqliteRows& other, size_t from, size_t to) {
    columns_ = other.columns_;
    const Value* values = other.values_.data();
    for (size_t i = from * columns_; i < to * columns_; ++i) {
        Value value = values[i];
        if (value.kind == Value::kText) {
            const size_t at = textUsed_;
            if (value.length > 0) std::memcpy(TextRoom(value.length), other.text_.get() + value.at, value.length);
            textUsed_ += value.length;
            value.at = at;
        }
        values_.push_back(value);
    }
    rows_ += to - from;
}

void SqliteRows::Bind(sqlite3_stmt* statement, size_t row) const {
    const Value* values = values_.data() + row * columns_;
    for (size_t i = 0; i < columns_; ++i) {
        const int at = static_cast<int>(i + 1);
        const Value& value = values[i];
        switch (value.kind) {
        case Value::kNull: sqlite3_bind_null(statement, at); break;
        case Value::kInteger: sqlite3_bind_int64(statement, at, value.integer); break;
        case Value::kReal: sqlite3_bind_double(statement, at, value.real); break;
        case Value::kText:
            sqlite3_bind_text(statement, at, text_.get() + value.at, static_cast<int>(value.length), SQLITE_STATIC);
            break;
        }
    }
}

void SqliteRows::GrowText(size_t n) {
    size_t room = std::max<size_t>(textRoom_ * 2, 64 << 10);
    while (room - textUsed_ < n) room *= 2;
    std::unique_ptr<char[]> grown(new char[room]);
    if (textUsed_ > 0) std::memcpy(grown.get(), text_.get(), textUsed_);
    text_ = std::move(grown);
    textRoom_ = room;
}

void SqliteRows::Clear() {
    values_.clear();
    textUsed_ = 0;
    rows_ = 0;
}

StagingFiles::~StagingFiles() = default;

std::string StagingFiles::Make(const std::string& target, std::string& error) {
    static std::atomic<unsigned long> counter{0};
    const std::string folder = FolderOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char base[64];
        std::snprintf(base, sizeof base, ".~qbdb%lx-%lx.tmp", static_cast<unsigned long>(getpid()), ++counter);
        const std::string candidate = folder + base;
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return candidate;
        }
        if (errno != EEXIST) break;
    }
    error = std::strerror(errno);
    return std::string();
}

SqliteDatabase::SqliteDatabase(std::string path, StagingFiles* staging) : path_(std::move(path)), staging_(staging) {}

SqliteDatabase::~SqliteDatabase() {
    if (!committed_) Abandon();
    StopWriter();
    Close();
}

// ---- The inserting thread ---------------------------------------------------------------

namespace {
constexpr size_t kQueuedBlocks = 8;   // blocks decoded ahead of the inserts, at most (a few MB)
}

bool SqliteDatabase::Insert(sqlite3_stmt* statement, long long* stored, std::unique_ptr<SqliteRows>& rows) {
    std::unique_lock<std::mutex> lock(mutex_);
    taken_.wait(lock, [&] { return queue_.size() < kQueuedBlocks || writerFailed_; });
    if (writerFailed_) return Fail(writerFailure_, false);
    queue_.push_back(Work{statement, stored, std::move(rows)});
    if (!spare_.empty()) {
        rows = std::move(spare_.back());
        spare_.pop_back();
    } else {
        rows.reset(new SqliteRows);
    }
    if (!writer_.joinable()) writer_ = std::thread([this] { Write(); });
    queued_.notify_one();
    return true;
}

bool SqliteDatabase::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    taken_.wait(lock, [&] { return (queue_.empty() && !writing_) || writerFailed_; });
    if (writerFailed_) return Fail(writerFailure_, false);
    return true;
}

void SqliteDatabase::Write() {
    const long long cpuBefore = ThreadCpuNanoseconds();
    long long cpuShown = 0;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Work work = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        const bool failed = writerFailed_;
        lock.unlock();
        taken_.notify_all();
        std::string failure;
        const size_t rows = work.rows->Rows();
        for (size_t row = 0; row < rows && !failed; ++row) {
            if (Interrupted()) {
                failure = kInterrupted;
                break;
            }
            work.rows->Bind(work.statement, row);
            const int step = sqlite3_step(work.statement);
            sqlite3_reset(work.statement);
            if (step == SQLITE_INTERRUPT) {
                failure = kInterrupted;
                break;
            }
            if (step != SQLITE_DONE) {
                const char* table = sqlite3_sql(work.statement);
                failure = std::string("cannot insert the rows (") + (table != nullptr ? table : "") + "): " +
                          sqlite3_errmsg(db_);
                if (step == SQLITE_FULL) failure = "cannot insert the rows: the disk is full";
                break;
            }
            ++*work.stored;
        }
        work.rows->Clear();
        const long long cpu = ThreadCpuNanoseconds() - cpuBefore;
        insertingCpu_.fetch_add(cpu - cpuShown);
        cpuShown = cpu;
        lock.lock();
        if (!failure.empty() && !writerFailed_) {
            writerFailed_ = true;
            writerFailure_ = failure;
        }
        spare_.push_back(std::move(work.rows));
        writing_ = false;
        lock.unlock();
        taken_.notify_all();
    }
}

void SqliteDatabase::StopWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    queued_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
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

void SqliteDatabase::Interrupt() {
    interrupted_.store(true);
    if (sqlite3* db = interruptible_.load()) sqlite3_interrupt(db);
}

void SqliteDatabase::Close() {
    interruptible_.store(nullptr);
    // A statement a sink still holds keeps the connection until it is finalized.
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDatabase::Open() {
    if (open_) return true;
    if (!failure_.empty()) return false;
    // The links the name ends in are followed: a new database is made where they lead,
    // the links kept.
    target_ = path_;
    for (int hop = 0;; ++hop) {
        struct stat link;
        if (lstat(target_.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
        char text[4096];
        ssize_t length = hop < 40 ? readlink(target_.c_str(), text, sizeof text) : -1;
        if (length < 0 || static_cast<size_t>(length) >= sizeof text) {
            return Fail("cannot follow the link to the database (" + std::string(std::strerror(hop < 40 ? errno : ELOOP)) + ")", false);
        }
        std::string to(text, static_cast<size_t>(length));
        target_ = !to.empty() && to[0] == '/' ? to : FolderOf(target_) + to;
    }
    struct stat status;
    const char* opened = target_.c_str();
    if (stat(target_.c_str(), &status) == 0) {
        // A database is a file of its own: a folder, a device (/dev/null) or a pipe
        // takes none, and SQLite would put its journal beside it.
        if (S_ISDIR(status.st_mode)) return Fail("the name is a folder; a database is written to a file", false);
        if (!S_ISREG(status.st_mode)) {
            return Fail("not a regular file: a database is written to a file of its own, never a device or a pipe",
                        false);
        }
    } else if (errno == ENOENT) {
        std::string error;
        StagingFiles own;
        building_ = (staging_ != nullptr ? staging_ : &own)->Make(target_, error);
        if (building_.empty()) return Fail("cannot create the database (" + error + ")", false);
        opened = building_.c_str();
    } else {
        return Fail("cannot open the database (" + std::string(std::strerror(errno)) + ")", false);
    }
    // Never made here under its own name: a database removed meanwhile is not made again
    // in place.
    if (sqlite3_open_v2(opened, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        return Fail("cannot open the database");
    }
    interruptible_.store(db_);
    sqlite3_busy_timeout(db_, 2000);
    // A new database needs no rollback journal: a load that does not end well removes
    // its file, and nothing is under the name until the commit; it is synced then.
    if (!building_.empty() && !(Exec("PRAGMA journal_mode = OFF") && Exec("PRAGMA synchronous = OFF"))) {
        return Fail("cannot set up the database");
    }
    // One transaction for the whole load, taken for writing at once: a database that
    // another program writes is refused here, before anything is done.
    if (!Exec("BEGIN IMMEDIATE")) return Fail("cannot write the database");
    open_ = true;
    return true;
}

// Puts the new database in place under its name, replacing nothing: a database that
// another load made meanwhile stays, and this one is refused.
bool SqliteDatabase::Publish() {
    int error = 0;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, building_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0) return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) {
        errno = error;
        return false;
    }
#endif
    // A file system without the exclusive rename: a hard link is made exclusively too.
    if (link(building_.c_str(), target_.c_str()) == 0) {
        std::remove(building_.c_str());
        return true;
    }
    error = errno;
    if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP) {
        // Neither: the plain rename, once nothing is there.
        struct stat status;
        if (lstat(target_.c_str(), &status) == 0) {
            errno = EEXIST;
            return false;
        }
        return std::rename(building_.c_str(), target_.c_str()) == 0;
    }
    errno = error;
    return false;
}

bool SqliteDatabase::Commit() {
    if (!open_ || !failure_.empty()) return false;
    if (!Drain()) {
        Abandon();
        return false;
    }
    StopWriter();
    if (Interrupted() || !Exec("COMMIT")) {
        if (Interrupted()) Fail(kInterrupted, false);
        Fail("cannot commit the load");
        Abandon();
        return false;
    }
    open_ = false;
    if (!building_.empty()) {
        // The new database (written without syncs) reaches the disk, then its name.
        Close();
        if (!SyncPath(building_, false)) {
            Fail("cannot write the database to the disk (" + std::string(std::strerror(errno)) + ")", false);
            Abandon();
            return false;
        }
        if (!Publish()) {
            const int error = errno;
            Fail(error == EEXIST ? "another program made the database while this load ran; this load was not "
                                   "kept (run it again to add to that database: --if-exists append)"
                                 : "cannot put the database in place (" + std::string(std::strerror(error)) + ")",
                 false);
            Abandon();
            return false;
        }
        if (staging_ != nullptr) staging_->Gone(building_);
        building_.clear();
        SyncPath(FolderOf(target_), true);
    }
    committed_ = true;
    return true;
}

void SqliteDatabase::Abandon() {
    if (committed_) return;
    StopWriter();
    // A database that was there is rolled back; a new one is dropped whole.
    if (open_ && db_ != nullptr && building_.empty()) Exec("ROLLBACK");
    open_ = false;
    if (!building_.empty()) {
        Close();
        std::remove(building_.c_str());
        if (staging_ != nullptr) staging_->Gone(building_);
        building_.clear();
    }
}

SqliteSink::SqliteSink(std::string path, std::string table, IfExists ifExists)
    : owned_(new SqliteDatabase(std::move(path))), database_(*owned_), table_(std::move(table)), ifExists_(ifExists) {}

SqliteSink::SqliteSink(SqliteDatabase& database, std::string table, IfExists ifExists)
    : database_(database), table_(std::move(table)), ifExists_(ifExists) {}

SqliteSink::~SqliteSink() {
    // The rows handed over are not inserted by a statement that is gone.
    if (insert_ != nullptr) {
        database_.Drain();
        sqlite3_finalize(insert_);
    }
}

bool SqliteSink::Finish() {
    // The last rows in, the statement ends with them: the transaction can then end.
    if (insert_ != nullptr) {
        if (failure_.empty() && rows_ && rows_->Rows() > 0 && !database_.Insert(insert_, &stored_, rows_)) {
            Fail(database_.Failure(), false);
        }
        if (!database_.Drain() && failure_.empty()) Fail(database_.Failure(), false);
        sqlite3_finalize(insert_);
    }
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
    // The connection is this thread's while no rows are being inserted.
    if (!database_.Drain()) {
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
    forms_ = SqliteRows::FormsOf(plan);
    direct_ = SqliteRows::DirectOf(plan, forms_);
    const std::string insert = SqliteRows::InsertSql(plan, table_);
    if (sqlite3_prepare_v2(db, insert.c_str(), static_cast<int>(insert.size()), &insert_, nullptr) != SQLITE_OK) {
        return Fail("the table " + table_ + " does not take the layout's columns");
    }
    rows_.reset(new SqliteRows);
    return true;
}

namespace {
constexpr size_t kBlockRows = 2048;             // rows of a block handed to the inserting thread
constexpr size_t kBlockText = size_t{1} << 20;  // or bytes of its texts
}

bool SqliteSink::Row(const LayoutPlan&, const RowCells& cells) {
    if (!failure_.empty()) return false;
    if (database_.Interrupted()) return Fail(kInterrupted, false);
    if (!rows_->Add(forms_, cells)) return Fail("a value of more than 2 GB does not go into the table " + table_, false);
    return InsertFull();
}

bool SqliteSink::DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) {
    if (direct_.empty() || !failure_.empty() || database_.Interrupted()) return false;   // Row says why
    if (!rows_->AddRecord(direct_, values, record)) return false;
    failed = !InsertFull();
    return true;
}

// Hands the block being filled to the inserting thread once it is full.
bool SqliteSink::InsertFull() {
    if (rows_->Rows() >= kBlockRows || rows_->TextBytes() >= kBlockText) {
        if (!database_.Insert(insert_, &stored_, rows_)) return Fail(database_.Failure(), false);
    }
    return true;
}

// A block of rows converted on a decoding worker by the forms Begin found.
class SqliteSink::ReadyRows : public BlockRowSink::Block {
public:
    ReadyRows(const std::vector<SqlValueForm>& forms, const std::vector<SqliteRows::Direct>& direct)
        : forms_(forms), direct_(direct), rows_(new SqliteRows) {}
    bool Add(const LayoutPlan&, const RowCells& cells) override {
        if (refused_ || !rows_->Add(forms_, cells)) {
            refused_ = true;
            return false;
        }
        return true;
    }
    bool AddRecord(ValueCodec& values, const unsigned char* record) override {
        return !refused_ && !direct_.empty() && rows_->AddRecord(direct_, values, record);
    }
    size_t Rows() const override { return rows_->Rows(); }
    void Clear() override {
        rows_->Clear();
        refused_ = false;
    }

private:
    friend class SqliteSink;
    const std::vector<SqlValueForm>& forms_;
    const std::vector<SqliteRows::Direct>& direct_;
    std::unique_ptr<SqliteRows> rows_;   // handed to the inserting thread whole, or copied
    bool refused_ = false;
};

std::unique_ptr<BlockRowSink::Block> SqliteSink::NewBlock() { return std::unique_ptr<Block>(new ReadyRows(forms_, direct_)); }

bool SqliteSink::Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) {
    taken = 0;
    if (!failure_.empty()) return false;
    if (database_.Interrupted()) return Fail(kInterrupted, false);
    ReadyRows& ready = static_cast<ReadyRows&>(*block);
    const size_t have = ready.rows_->Rows();
    const size_t end = std::min(to, have);
    if (from < end) {
        if (from == 0 && end == have && rows_->Rows() == 0 && have >= kBlockRows / 8) {
            // A large block goes to the inserting thread as it is (an empty one in its place).
            if (!database_.Insert(insert_, &stored_, ready.rows_)) {
                taken = end - from - 1;
                return Fail(database_.Failure(), false);
            }
        } else {
            // Smaller ones, or parts, are gathered into blocks of the usual size.
            rows_->Append(*ready.rows_, from, end);
            if (!InsertFull()) {
                taken = end - from - 1;
                return false;
            }
        }
        taken = end - from;
    }
    if (to > have) return Fail("a value of more than 2 GB does not go into the table " + table_, false);
    return true;
}

bool SqliteSink::Commit() {
    Finish();
    if (!failure_.empty()) return false;
    if (database_.Commit()) return true;
    failure_ = database_.Failure();
    return false;
}

void SqliteSink::Abandon() {
    database_.Abandon();
    if (insert_ != nullptr) sqlite3_finalize(insert_);
    insert_ = nullptr;
}

}  // namespace quillbox
