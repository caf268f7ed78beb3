// decode --format postgresql against a real server the test starts (initdb into a
// temporary folder, a Unix socket there and no TCP, run as an ordinary user when the
// tests run as root): every digit of NUMERIC read back, the types of the postgresql
// DDL, record types a table each, --if-exists, and loads that fail or are killed
// leaving the database as it was.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "direct_rows.h"
#include "pgsink.h"
#include "sqltable.h"
#include "test_util.h"
#include "valuecodec.h"

namespace {

namespace fs = std::filesystem;

const std::string kCli = QB_CLI_PATH;

std::string Scratch(const std::string& name) { return qbtest::ProcessUniqueName("postgres_", name); }

struct Result {
    int status;
    std::string err;
};

Result Cli(const std::string& arguments) {
    std::string err = Scratch("err");
    int raw = std::system(("'" + kCli + "' " + arguments + " >/dev/null 2>" + err).c_str());
    Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qbtest::ReadFileBytes(err)};
    std::remove(err.c_str());
    return result;
}

// The newest PostgreSQL server of Debian's packages: its bin folder, empty when none.
std::string ServerBin() {
    std::string best;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const fs::path bin = entry.path() / "bin";
        if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") &&
            (best.empty() || std::stoi(entry.path().filename().string()) > std::stoi(fs::path(best).parent_path().filename().string()))) {
            best = bin.string();
        }
    }
    return best;
}

// A throwaway server for the tests of this program, on a socket in its own folder.
class Server {
public:
    // Starts it; false with `why` when it could not.
    bool Start(std::string& why) {
        bin_ = ServerBin();
        if (bin_.empty()) {
            why = "PostgreSQL's server is not installed (Debian's postgresql; scripts/install-deps installs it)";
            return false;
        }
        char folder[] = "/tmp/qbpg.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            why = "cannot make a folder for the server";
            return false;
        }
        folder_ = folder;
        // The server refuses to run as root: as nobody then, in a folder of its own.
        if (geteuid() == 0) {
            if (chown(folder, 65534, 65534) != 0) {
                why = "cannot give the server's folder to nobody";
                return false;
            }
            as_ = "runuser -u nobody -- ";
        }
        const std::string log = folder_ + "/server.log";
        if (!Run(bin_ + "/initdb -D " + folder_ + "/data -A trust -U qb -E UTF8 --locale=C --no-sync >" + folder_ +
                 "/initdb.log 2>&1")) {
            why = "initdb failed: " + qbtest::ReadFileBytes(folder_ + "/initdb.log");
            return false;
        }
        if (!Run(bin_ + "/pg_ctl -D " + folder_ + "/data -l " + log + " -w -o \"-k " + folder_ +
                 " -c listen_addresses= -F\" start >/dev/null 2>&1")) {
            why = "the server did not start: " + qbtest::ReadFileBytes(log);
            return false;
        }
        started_ = true;
        return true;
    }
    void Stop() {
        if (started_) Run(bin_ + "/pg_ctl -D " + folder_ + "/data -m immediate -w stop >/dev/null 2>&1");
        started_ = false;
        std::error_code error;
        if (!folder_.empty()) fs::remove_all(folder_, error);
    }
    std::string Conninfo(const std::string& db = "postgres") const {
        return "host=" + folder_ + " user=qb dbname=" + db;
    }

private:
    bool Run(const std::string& command) { return std::system((as_ + command).c_str()) == 0; }
    std::string bin_, folder_, as_;
    bool started_ = false;
};

Server* server = nullptr;
std::string serverMissing;

// The rows of a query, values by spaces, rows on lines ("null" for NULL); the error's
// first line when it fails.
std::string Query(const std::string& sql, const std::string& db = "postgres") {
    PGconn* conn = PQconnectdb(server->Conninfo(db).c_str());
    std::string rows;
    if (PQstatus(conn) != CONNECTION_OK) {
        rows = std::string("cannot connect: ") + PQerrorMessage(conn);
    } else {
        PGresult* result = PQexec(conn, sql.c_str());
        if (PQresultStatus(result) == PGRES_TUPLES_OK) {
            for (int r = 0; r < PQntuples(result); ++r) {
                for (int c = 0; c < PQnfields(result); ++c) {
                    rows += std::string(c > 0 ? " " : "") + (PQgetisnull(result, r, c) ? "null" : PQgetvalue(result, r, c));
                }
                rows += "\n";
            }
        } else if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            rows = std::string("error: ") + PQresultErrorMessage(result);
        }
        PQclear(result);
    }
    PQfinish(conn);
    return rows;
}

class PostgresEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        server = new Server;
        if (!server->Start(serverMissing)) return;
    }
    void TearDown() override {
        server->Stop();
        delete server;
        server = nullptr;
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

#define NEED_SERVER()                                  \
    do {                                               \
        if (!serverMissing.empty()) {                  \
            if (ServerBin().empty()) GTEST_SKIP() << serverMissing; \
            FAIL() << serverMissing;                   \
        }                                              \
    } while (0)

class PostgresOutput : public ::testing::Test {
protected:
    void SetUp() override {
        NEED_SERVER();
        copybook_ = Scratch("rec.cpy");
        csv_ = Scratch("rec.csv");
        data_ = Scratch("rec.dat");
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook_, "       01 BIG-REC.\n"
                                                      "          05 ID PIC 9(4).\n"
                                                      "          05 BIG PIC S9(18) COMP.\n"
                                                      "          05 AMT PIC S9(16)V99 COMP-3.\n"
                                                      "          05 NUM18 PIC 9(18).\n"
                                                      "          05 NAME PIC X(6).\n"
                                                      "          05 RATE COMP-2.\n"
                                                      "          05 SMALL PIC S9(4) COMP.\n"));
        ASSERT_TRUE(qbtest::WriteFileBytes(csv_, "ID,BIG,AMT,NUM18,NAME,RATE,SMALL\n"
                                                 "1,123456789012345678,-9999999999999999.99,999999999999999999,a\\b\t,0.5,-32768\n"
                                                 "2,-9223372036854775808,0.01,0,      ,-1e+300,7\n"));
        Result encoded = Cli("encode " + copybook_ + " " + csv_ + " -o " + data_);
        ASSERT_EQ(encoded.status, 0) << encoded.err;
        // Each test its own database, so that the tests' tables never meet.
        db_ = "t" + std::to_string(getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : db_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_EQ(Query("CREATE DATABASE " + db_), "");
    }
    void TearDown() override {
        for (const std::string& path : {copybook_, csv_, data_}) {
            if (!path.empty()) std::remove(path.c_str());
        }
    }
    Result Load(const std::string& options = "", const std::string& data = "") {
        return Cli("decode " + copybook_ + " " + (data.empty() ? data_ : data) + " --format postgresql --db '" +
                   server->Conninfo(db_) + "' " + options);
    }
    std::string In(const std::string& sql) { return Query(sql, db_); }
    std::string copybook_, csv_, data_, db_;
};

TEST_F(PostgresOutput, EveryDigitReadBackInTheTypesOfTheDdl) {
    Result loaded = Load();
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(In("SELECT id, big, amt, num18, name, rate, small FROM \"BIG-REC\" ORDER BY id"),
              "1 123456789012345678 -9999999999999999.99 999999999999999999 a\\b\t   0.5 -32768\n"
              "2 -9223372036854775808 0.01 0        -1e+300 7\n");
    // The columns' types are those ddl --dialect postgresql writes.
    const std::string ddl = Scratch("rec.sql");
    ASSERT_EQ(Cli("ddl --dialect postgresql --table \"BIG-REC\" " + copybook_ + " " + ddl).status, 0);
    EXPECT_EQ(In("SELECT string_agg(format_type(atttypid, atttypmod), ', ' ORDER BY attnum) FROM pg_attribute "
                 "WHERE attrelid = '\"BIG-REC\"'::regclass AND attnum > 0"),
              "numeric(4,0), bigint, numeric(18,2), numeric(18,0), character varying(6), double precision, smallint\n");
    const std::string sql = qbtest::ReadFileBytes(ddl);
    std::remove(ddl.c_str());
    EXPECT_NE(sql.find("NUMERIC(18,2)"), std::string::npos) << sql;
    EXPECT_NE(sql.find("SMALLINT"), std::string::npos) << sql;

    // --table, bad data as NULL under --on-error null (exit 3, the rows committed).
    std::string bytes = qbtest::ReadFileBytes(data_);
    bytes[0] = 'x';
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    loaded = Load("--table loaded --on-error null --trim");
    EXPECT_EQ(loaded.status, 3) << loaded.err;
    EXPECT_EQ(In("SELECT id, big, name = '' FROM loaded ORDER BY big"), "2 -9223372036854775808 t\nnull 123456789012345678 f\n");
}

TEST_F(PostgresOutput, ExistingTablesFailAppendOrReplace) {
    ASSERT_EQ(Load().status, 0);
    Result refused = Load();
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the table BIG-REC exists (--if-exists append"), std::string::npos) << refused.err;
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    ASSERT_EQ(Load("--if-exists append").status, 0);
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "4\n");
    // Replace: the table made anew (a column of the old one gone).
    ASSERT_EQ(In("ALTER TABLE \"BIG-REC\" ADD COLUMN extra INTEGER"), "");
    ASSERT_EQ(Load("--if-exists replace").status, 0);
    EXPECT_EQ(In("SELECT COUNT(*), COUNT(*) FILTER (WHERE amt = 0.01) FROM \"BIG-REC\""), "2 1\n");
    EXPECT_EQ(In("SELECT COUNT(*) FROM information_schema.columns WHERE column_name = 'extra'"), "0\n");
}

TEST_F(PostgresOutput, FailedLoadsLeaveTheDatabaseAsItWas) {
    ASSERT_EQ(Load().status, 0);
    // Bad data in the second record stops the run: the first row does not stay.
    std::string bytes = qbtest::ReadFileBytes(data_);
    std::string bad = bytes;
    bad[bad.size() / 2] = 'x';
    const std::string badData = Scratch("bad.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(badData, bad));
    Result stopped = Load("--if-exists append", badData);
    std::remove(badData.c_str());
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    // A replace that stops keeps the old table; a table made by a load that stops goes.
    ASSERT_TRUE(qbtest::WriteFileBytes(badData, bad));
    EXPECT_EQ(Load("--if-exists replace", badData).status, 1);
    EXPECT_EQ(Load("--table other", badData).status, 1);
    std::remove(badData.c_str());
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    EXPECT_EQ(In("SELECT to_regclass('other') IS NULL"), "t\n");
    // The server refuses a row (a check the table has): its reason, nothing added.
    ASSERT_EQ(In("ALTER TABLE \"BIG-REC\" ADD CHECK (id < 2) NOT VALID"), "");
    Result refused = Load("--if-exists append");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("did not take the rows 1 to 2"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("check constraint"), std::string::npos) << refused.err;
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");

    // No server there: what failed and what --db takes.
    Result nowhere = Cli("decode " + copybook_ + " " + data_ + " --format postgresql --db 'host=/nonexistent dbname=x'");
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("cannot connect to the database"), std::string::npos) << nowhere.err;
    EXPECT_NE(nowhere.err.find("/nonexistent"), std::string::npos) << nowhere.err;
    // Without --db, with -o, or from encode: refused with what to do.
    Result noDb = Cli("decode " + copybook_ + " " + data_ + " --format postgresql");
    EXPECT_EQ(noDb.status, 1);
    EXPECT_NE(noDb.err.find("--db \"host="), std::string::npos) << noDb.err;
    EXPECT_EQ(Load("-o x.db").status, 1);
    EXPECT_EQ(Cli("encode " + copybook_ + " " + csv_ + " --format postgresql --db 'x'").status, 1);
}

// A load of several COPY blocks whose first the server refuses, on one thread and on
// four: the message names that block's rows, and nothing of the load stays.
TEST_F(PostgresOutput, ARefusedBlockOfSeveralEndsTheLoadAndNothingStays) {
    ASSERT_EQ(Load().status, 0);
    const std::string two = qbtest::ReadFileBytes(data_);
    std::string many;
    for (int i = 0; i < 60000; ++i) many += two;   // blocks of several MB: more than one COPY
    const std::string big = Scratch("many.dat");
    ASSERT_TRUE(qbtest::WriteFileBytes(big, many));
    ASSERT_EQ(In("ALTER TABLE \"BIG-REC\" ADD CHECK (id < 2) NOT VALID"), "");
    std::vector<std::string> said;
    for (const char* threads : {"1", "4"}) {
        SCOPED_TRACE(threads);
        Result refused = Load(std::string("--if-exists append --threads ") + threads, big);
        said.push_back(refused.err);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("the table BIG-REC did not take the rows 1 to "), std::string::npos) << refused.err;
        EXPECT_EQ(refused.err.find("did not take the rows 1 to 120000"), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("check constraint"), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("nothing was written"), std::string::npos) << refused.err;
        EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    }
    // The same COPY blocks, the same records read up to the refused block.
    EXPECT_EQ(said[0], said[1]);
    std::remove(big.c_str());
}

// A load killed midway, by SIGINT or SIGKILL, after rows reached the server: the
// database as it was. The data comes through a pipe that the test keeps open, so the
// load waits with its transaction open until the test kills it.
void KillMidway(const std::string& options, int how, const std::string& db,
                const std::string& copybook, const std::string& data, const std::string& conninfo,
                const char* threads = "1") {
    const std::string fifo = Scratch("fifo");
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(kCli.c_str(), kCli.c_str(), "decode", copybook.c_str(), fifo.c_str(), "--format", "postgresql", "--db",
              conninfo.c_str(), "--if-exists", options.c_str(), "--threads", threads, static_cast<char*>(nullptr));
        _exit(127);
    }
    // A load that ended early closes the pipe: a write then fails, and does not kill the test.
    signal(SIGPIPE, SIG_IGN);
    std::FILE* pipe = std::fopen(fifo.c_str(), "wb");
    ASSERT_NE(pipe, nullptr);
    // More rows than one COPY takes, so that some reach the server before the kill.
    const std::string record = qbtest::ReadFileBytes(data);
    for (size_t sent = 0; sent < 3 * (4u << 20); sent += record.size()) std::fwrite(record.data(), 1, record.size(), pipe);
    std::fflush(pipe);
    // Wait until the load's COPY has written into the table (its lock stays to the end).
    bool copied = false;
    for (int i = 0; i < 400 && !copied; ++i) {
        copied = Query("SELECT COUNT(*) FROM pg_locks l JOIN pg_stat_activity a USING (pid) WHERE a.application_name = "
                       "'quillbox-cli' AND l.mode = 'RowExclusiveLock' AND l.relation IS NOT NULL",
                       db) != "0\n";
        if (!copied) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(copied);
    kill(child, how);
    std::fclose(pipe);
    int status = 0;
    waitpid(child, &status, 0);
    std::remove(fifo.c_str());
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0));
}

TEST_F(PostgresOutput, InterruptedOrKilledLoadsLeaveTheDatabaseAsItWas) {
    ASSERT_EQ(Load().status, 0);
    KillMidway("append", SIGINT, db_, copybook_, data_, server->Conninfo(db_));
    // The server ends the lost connection's transaction: no row of the load stays.
    for (int i = 0; i < 100 && In("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'quillbox-cli'") != "0\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    // Also with the records decoded on several threads.
    KillMidway("append", SIGINT, db_, copybook_, data_, server->Conninfo(db_), "4");
    for (int i = 0; i < 100 && In("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'quillbox-cli'") != "0\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
    KillMidway("replace", SIGKILL, db_, copybook_, data_, server->Conninfo(db_));
    for (int i = 0; i < 100 && In("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'quillbox-cli'") != "0\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(In("SELECT COUNT(*) FROM \"BIG-REC\""), "2\n");
}

TEST_F(PostgresOutput, RecordTypesATableEachWithSqlNames) {
    const std::string examples = std::string(QB_SOURCE_DIR) + "/examples/";
    const std::string run = "decode --cobol " + examples + "cobol/ORDTYPES.cpy " + examples +
                            "ordtypes.vb --encoding ibm-037 --records rdw --format postgresql --db '" +
                            server->Conninfo(db_) +
                            "' --record-type ORD-TYPE=H:ORD-HEADER --record-type ORD-TYPE=D:ORD-LINE ";
    Result loaded = Cli(run + "--record-type ORD-TYPE=T:ORD-TRAILER --table ord --names sql");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(In("SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1"),
              "ord_ord_header\nord_ord_line\nord_ord_trailer\n");
    EXPECT_EQ(In("SELECT COUNT(*), SUM(line_qty), MAX(line_price) FROM ord_ord_line"), "4 992 1250.00\n");
    // A record no rule chooses stops the run: nothing of the load is left.
    Result stopped = Cli(run + "--table again");
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(In("SELECT COUNT(*) FROM pg_tables WHERE tablename LIKE 'again%'"), "0\n");
}

// The tables of the public schema of `db` and their rows in the order a scan gives them
// (the order of the load into a table it made), as text.
std::string Tables(const std::string& db) {
    std::string all;
    std::string names = Query("SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1", db);
    for (size_t at = 0, end; (end = names.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string name = names.substr(at, end - at);
        all += name + ":\n" + Query("SELECT * FROM \"" + name + "\"", db);
    }
    return all;
}

// --threads 4 loads what --threads 1 loads: the same tables and rows in the same order,
// the same summary and exit status, under each policy, with a stop far into the file,
// with record types (a table each) and appended to a table that is there. Chunks of
// 64 KB, so that the records span many.
TEST_F(PostgresOutput, ThreadsLoadWhatOneThreadLoads) {
    const std::string examples = std::string(QB_SOURCE_DIR) + "/examples/";
    const std::string record = qbtest::ReadFileBytes(examples + "custmast.dat");
    const std::string ordtypes = qbtest::ReadFileBytes(examples + "ordtypes.vb");
    std::string cm, types;
    for (int i = 0; i < 3000; ++i) cm += record;
    for (int i = 0; i < 2000; ++i) types += ordtypes;
    std::string bad = cm, late = cm;
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) bad[random() % bad.size()] = static_cast<char>(random() % 256);
    std::fill(late.begin() + static_cast<long>(late.size() * 7 / 10), late.begin() + static_cast<long>(late.size() * 7 / 10 + 40), '\xff');
    const std::string cmPath = Scratch("cm.dat"), badPath = Scratch("cm_bad.dat"), latePath = Scratch("cm_late.dat"),
                      typesPath = Scratch("types.vb");
    ASSERT_TRUE(qbtest::WriteFileBytes(cmPath, cm));
    ASSERT_TRUE(qbtest::WriteFileBytes(badPath, bad));
    ASSERT_TRUE(qbtest::WriteFileBytes(latePath, late));
    ASSERT_TRUE(qbtest::WriteFileBytes(typesPath, types));
    const std::string other = db_ + "_threads";
    ASSERT_EQ(Query("CREATE DATABASE " + other), "");
    setenv("QUILLBOX_CHUNK_BYTES", "65536", 1);
    const std::string custmast = examples + "CUSTMAST.cpy ";
    const std::string typeRules = "--cobol " + examples + "cobol/ORDTYPES.cpy " + typesPath +
                                  " --encoding ibm-037 --records rdw --names sql --record-type ORD-TYPE=H:ORD-HEADER "
                                  "--record-type ORD-TYPE=D:ORD-LINE ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fixed", custmast + cmPath},
        {"bad data, stop", custmast + badPath + " --table c_stop"},
        {"bad data, skip", custmast + badPath + " --table c_skip --on-error skip"},
        {"bad data, null", custmast + badPath + " --table c_null --on-error null"},
        {"bad data late, stop", custmast + latePath + " --table c_late"},
        {"appended, bad data, null", custmast + badPath + " --on-error null --if-exists append"},
        {"appended, bad data late, stop", custmast + latePath + " --if-exists append"},
        {"record types", typeRules + "--record-type ORD-TYPE=T:ORD-TRAILER --table rt"},
        {"record types, a record no rule takes, stop", typeRules + "--table rs"},
        {"record types, a record no rule takes, skip", typeRules + "--table rk --on-error skip"},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.first);
        const std::string command = "decode " + run.second + " --format postgresql --db '";
        Result one = Cli(command + server->Conninfo(db_) + "' --threads 1");
        Result four = Cli(command + server->Conninfo(other) + "' --threads 4");
        EXPECT_LE(one.status, 3) << one.err;
        EXPECT_EQ(one.status, four.status);
        EXPECT_EQ(one.err, four.err);
    }
    unsetenv("QUILLBOX_CHUNK_BYTES");
    for (const std::string& path : {cmPath, badPath, latePath, typesPath}) std::remove(path.c_str());
    const std::string loaded = Tables(db_);
    EXPECT_NE(loaded.find("c_null:"), std::string::npos) << loaded.substr(0, 200);
    EXPECT_NE(loaded.find("rk_ord_line:"), std::string::npos) << loaded.substr(0, 200);
    EXPECT_EQ(loaded.find("c_stop"), std::string::npos);
    EXPECT_TRUE(loaded == Tables(other)) << "the tables of --threads 4 differ from those of --threads 1";
}

// Decimals in every position of NUMERIC's base-10000 groups, through the binary form of
// a table the load makes and the text form of one appended to whose columns are text:
// both keep every digit and the scale, and the text form converts to the table's types.
TEST_F(PostgresOutput, BinaryAndTextFormsKeepEveryDigitAndScale) {
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook_, "       01 DEC-REC.\n"
                                                  "          05 ID PIC 9(2).\n"
                                                  "          05 WIDE PIC S9(20)V9(9) COMP-3.\n"
                                                  "          05 TINY PIC SV9(5).\n"
                                                  "          05 HALF PIC S9(4) COMP.\n"
                                                  "          05 WORD PIC S9(9) COMP.\n"
                                                  "          05 RATIO COMP-1.\n"
                                                  "          05 NAME PIC N(2).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(csv_, "ID,WIDE,TINY,HALF,WORD,RATIO,NAME\n"
                                             u8"1,0,0,0,0,0,漢字\n"
                                             "2,-99999999999999999999.999999999,-0.00001,-32768,-2147483648,-1.5,\n"
                                             "3,10000.0001,0.1,32767,2147483647,3.25,\n"
                                             "4,12345678901234567890.123456789,0.00010,1,10000,0.5,\n"
                                             "5,0.000000001,-0.99999,-1,-10000,1e+20,\n"));
    Result encoded = Cli("encode --cobol " + copybook_ + " " + csv_ + " -o " + data_);
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    const std::string blank = u8"\u3000\u3000";   // a blank PIC N(2): two ideographic spaces
    const std::string expected = u8"1 0.000000000 0.00000 0 0 0 漢字\n"
                                 "2 -99999999999999999999.999999999 -0.00001 -32768 -2147483648 -1.5 " + blank + "\n"
                                 "3 10000.000100000 0.10000 32767 2147483647 3.25 " + blank + "\n"
                                 "4 12345678901234567890.123456789 0.00010 1 10000 0.5 " + blank + "\n"
                                 "5 0.000000001 -0.99999 -1 -10000 1e+20 " + blank + "\n";
    ASSERT_EQ(Load("--cobol --table made").status, 0);
    std::string made = In("SELECT id, wide, tiny, half, word, ratio, name FROM made ORDER BY id");
    EXPECT_EQ(made, expected) << made;
    EXPECT_EQ(In("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = 'made'::regclass "
                 "AND attname = 'wide'"),
              "numeric(29,9)\n");
    ASSERT_EQ(In("CREATE TABLE texts (id text, wide text, tiny text, half text, word text, ratio text, name text)"), "");
    Result appended = Load("--cobol --table texts --if-exists append");
    ASSERT_EQ(appended.status, 0) << appended.err;
    EXPECT_EQ(In("SELECT wide, tiny, half FROM texts ORDER BY id"),
              "0.000000000 0.00000 0\n-99999999999999999999.999999999 -0.00001 -32768\n"
              "10000.000100000 0.10000 32767\n12345678901234567890.123456789 0.00010 1\n"
              "0.000000001 -0.99999 -1\n");
    // A table the server refuses the rows of: its reason, and no option for reading the
    // data (whose first bytes, "01" and a packed zero, look like a record descriptor word).
    ASSERT_EQ(In("CREATE TABLE other (elsewhere text)"), "");
    Result refused = Load("--cobol --table other --if-exists append");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("column \"id\" of relation \"other\" does not exist"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("try --records"), std::string::npos) << refused.err;
}

// NUMERIC's binary form: base-10000 groups aligned at the point, the leading and
// trailing zero groups left out, the display scale the digits after the point.
TEST(PostgresBinary, NumericGroupsWeightSignAndScale) {
    auto binary = [](const std::string& text) {
        std::string out;
        if (!quillbox::AppendBinaryNumeric(out, text.data(), text.size())) return std::string("refused");
        std::string shown;
        // length, then ndigits weight sign dscale digits... as numbers
        for (size_t i = 4; i + 1 < out.size(); i += 2) {
            const int value = (static_cast<unsigned char>(out[i]) << 8) | static_cast<unsigned char>(out[i + 1]);
            shown += (shown.empty() ? "" : " ") + std::to_string(i == 6 && value >= 0x8000 ? value - 0x10000 : value);
        }
        const int length = (static_cast<unsigned char>(out[2]) << 8) | static_cast<unsigned char>(out[3]);
        return std::to_string(length) + ": " + shown;
    };
    EXPECT_EQ(binary("0"), "8: 0 0 0 0");
    EXPECT_EQ(binary("-0.00"), "8: 0 0 0 2");                  // no negative zero
    EXPECT_EQ(binary("12.50"), "12: 2 0 0 2 12 5000");
    EXPECT_EQ(binary("0.0001"), "10: 1 -1 0 4 1");
    EXPECT_EQ(binary("-0.00001"), "10: 1 -2 16384 5 1000");
    EXPECT_EQ(binary("10000"), "10: 1 1 0 0 1");               // the zero group after it left out
    EXPECT_EQ(binary("00123456789.120"), "16: 4 2 0 3 1 2345 6789 1200");
    EXPECT_EQ(binary("+7"), "10: 1 0 0 0 7");
    EXPECT_EQ(binary(".5"), "10: 1 -1 0 1 5000");
    for (const char* bad : {"", "-", ".", "1.2.3", "1e5", "12a", " 1", "1 ", "--1", "0x10"}) {
        EXPECT_EQ(binary(bad), "refused") << bad;
    }
    EXPECT_EQ(binary(std::string(400, '9')), "refused");      // beyond any item's digits
}


// A sink that ends (its load failed or was stopped) while a COPY of its rows is on its
// way waits for it: the COPY counts its rows into the sink. The load rolled back, the
// table is not there.
TEST_F(PostgresOutput, ASinkEndingWithACopyOnItsWayWaitsForIt) {
    quillbox::Layout layout(copybook_);
    quillbox::DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.RecordLength(), quillbox::DataOptions(), error)) << error;
    const quillbox::LayoutPlan& plan = setup.Plan();
    const char* const values[] = {"1", "-2", "3.25", "4", "abc", "0.5", "-6"};
    ASSERT_EQ(plan.fields.size(), sizeof values / sizeof values[0]);
    {
        quillbox::PostgresDatabase database(server->Conninfo(db_));
        {
            quillbox::PostgresSink sink(database, "gone", quillbox::IfExists::kFail);
            ASSERT_TRUE(sink.Begin(plan)) << sink.Failure();
            quillbox::RowCells cells;
            // More rows than one COPY takes: the first COPY is on its way when the sink ends.
            for (int row = 0; row < 80000; ++row) {
                cells.Start(plan.fields.size());
                for (size_t i = 0; i < plan.fields.size(); ++i) {
                    cells.Put(i, i == 4 ? quillbox::Cell::kText : quillbox::Cell::kNumber, values[i], std::strlen(values[i]));
                }
                ASSERT_TRUE(sink.Row(plan, cells)) << sink.Failure();
            }
        }
        database.Abandon();
    }
    EXPECT_EQ(In("SELECT to_regclass('gone') IS NULL"), "t\n");
}

// Every integer usage at the ends of its column's type and with a P, decimals, text with
// COPY's escapes and national text, with blanks, low-values, bad digits and binary values
// past their pictures among them: a load whose COPY rows are made straight from the
// records' bytes stores what a load of the records' cells stores, in COPY's binary form
// (a new table) and its text form (a table appended to), on one thread and on three,
// under each policy.
TEST_F(PostgresOutput, ValuesReadFromTheRecordsBytesAreThoseOfTheirCells) {
    const std::string copybook = Scratch("direct.cpy"), data = Scratch("direct.dat");
    std::string error;
    ASSERT_TRUE(directrows::Write(kCli, copybook, data, error)) << error;
    quillbox::Layout layout(copybook, directrows::CobolRules());
    int policyNumber = 0;
    for (const directrows::Policy& policy : directrows::kPolicies) {
        const quillbox::DataOptions options = directrows::OptionsOf(policy);
        quillbox::DataSetup setup;
        ASSERT_TRUE(setup.Prepare(layout.Head(), layout.RecordLength(), options, error)) << error;
        ++policyNumber;
        for (const bool appended : {false, true}) {
            SCOPED_TRACE(appended ? "text form" : "binary form");
            std::string tables[directrows::kWays], heard[directrows::kWays];
            quillbox::RunResult results[directrows::kWays];
            long long direct = 0;
            for (int way = 0; way < directrows::kWays; ++way) {
                const std::string table = "d" + std::to_string(policyNumber) + (appended ? "a" : "n") + std::to_string(way);
                if (appended) {
                    ASSERT_EQ(In(quillbox::CreateTableSql(setup.Plan(), table, quillbox::SqlDialect::kPostgresql)), "");
                }
                directrows::Faults faults;
                {
                    quillbox::PostgresDatabase database(server->Conninfo(db_));
                    directrows::Counting<quillbox::PostgresSink> sink(
                        database, table, appended ? quillbox::IfExists::kAppend : quillbox::IfExists::kFail);
                    results[way] = directrows::Load(way, layout, setup, options, data, sink, faults);
                    if (way == 0) direct = sink.direct;
                    EXPECT_TRUE(sink.Finish() && database.Commit()) << sink.Failure() << database.Failure();
                }
                tables[way] = In("SELECT * FROM " + table + " ORDER BY 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14");
                EXPECT_EQ(tables[way].find("error"), std::string::npos) << tables[way];
                heard[way] = faults.heard;
            }
            directrows::ExpectSameLoads(tables, heard, results, direct);
        }
    }
    // The values at the ends of 64 bits and of the picture, the text with COPY's escapes:
    // as many as the rows that hold them (direct_rows.h).
    auto rowsWith = [](int every, int at) { return std::to_string((directrows::kRows - 1 - at) / every + 1) + "\n"; };
    for (const char* table : {"d1n0", "d1a0"}) {
        SCOPED_TRACE(table);
        const std::string from = std::string("SELECT COUNT(*) FROM ") + table + " WHERE ";
        EXPECT_EQ(In(from + "I8 IN (9223372036854775807, -9223372036854775808)"), rowsWith(19, 4));
        EXPECT_EQ(In(from + "I4 = 18446744073709551615"), rowsWith(23, 6));
        EXPECT_EQ(In(from + "I5 IN (9999, -9999)"), "200\n");
        EXPECT_EQ(In(from + "rtrim(T1) = E'a\\\\b'"), rowsWith(10, 2));
        EXPECT_EQ(In(from + "rtrim(T1) = E'x\\ty'"), rowsWith(10, 7));
    }
    for (const std::string& path : {copybook, data}) std::remove(path.c_str());
}

}  // namespace
