// decode --format sqlite: the table made and filled in one transaction, every digit
// kept, and a database left as it was when the load fails or stops.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "datafile.h"
#include "direct_rows.h"
#include "sqlitesink.h"
#include "sqltable.h"
#include "test_util.h"

namespace {

const std::string kCli = QB_CLI_PATH;

std::string Scratch(const std::string& name) { return qbtest::ProcessUniqueName("sqlite_", name); }

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

// The rows of a query, each value as "type:text", rows on lines.
// `writable`: opened as a program that writes it would (a journal left by a load that was
// killed is rolled back).
std::string Query(const std::string& path, const std::string& sql, bool writable = false) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2(path.c_str(), &db, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        rows = std::string("error: ") + sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                static const char* const types[] = {"", "int", "real", "text", "blob", "null"};
                const unsigned char* text = sqlite3_column_text(statement, i);
                rows += std::string(i > 0 ? " " : "") + types[sqlite3_column_type(statement, i)] + ":" +
                        (text != nullptr ? reinterpret_cast<const char*>(text) : "");
            }
            rows += "\n";
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

class SqliteOutput : public ::testing::Test {
protected:
    void SetUp() override {
        copybook_ = Scratch("rec.cpy");
        csv_ = Scratch("rec.csv");
        data_ = Scratch("rec.dat");
        db_ = Scratch("rec.db");
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook_, "       01 BIG-REC.\n"
                                                      "          05 ID PIC 9(4).\n"
                                                      "          05 BIG PIC S9(18) COMP.\n"
                                                      "          05 AMT PIC S9(16)V99 COMP-3.\n"
                                                      "          05 NUM18 PIC 9(18).\n"
                                                      "          05 NAME PIC X(6).\n"
                                                      "          05 RATE COMP-2.\n"));
        ASSERT_TRUE(qbtest::WriteFileBytes(csv_, "ID,BIG,AMT,NUM18,NAME,RATE\n"
                                                 "1,123456789012345678,-9999999999999999.99,999999999999999999,abc   ,0.5\n"
                                                 "2,-9223372036854775808,0.01,0,      ,-1e+300\n"));
        Result encoded = Cli("encode " + copybook_ + " " + csv_ + " -o " + data_);
        ASSERT_EQ(encoded.status, 0) << encoded.err;
    }
    void TearDown() override {
        for (const std::string& path : {copybook_, csv_, data_, db_, db_ + "-journal"}) std::remove(path.c_str());
    }
    Result Load(const std::string& options = "") {
        return Cli("decode " + copybook_ + " " + data_ + " --format sqlite -o " + db_ + " " + options);
    }
    std::string copybook_, csv_, data_, db_;
};

TEST_F(SqliteOutput, EveryDigitReadBack) {
    Result loaded = Load();
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(Query(db_, "SELECT ID, BIG, AMT, NUM18, NAME, RATE FROM \"BIG-REC\" ORDER BY ID"),
              "int:1 int:123456789012345678 text:-9999999999999999.99 int:999999999999999999 text:abc    real:0.5\n"
              "int:2 int:-9223372036854775808 text:0.01 int:0 text:       real:-1.0e+300\n");
    // The table's own name with --table; bad data as NULL under --on-error null.
    std::string bytes = qbtest::ReadFileBytes(data_);
    bytes[0] = 'x';
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    loaded = Load("--table loaded --on-error null");
    EXPECT_EQ(loaded.status, 3) << loaded.err;
    EXPECT_EQ(Query(db_, "SELECT ID, BIG FROM loaded ORDER BY BIG"),
              "int:2 int:-9223372036854775808\nnull: int:123456789012345678\n");
}

TEST_F(SqliteOutput, ExistingTablesAndFailedLoadsLeaveTheDatabaseAsItWas) {
    ASSERT_EQ(Load().status, 0);
    const std::string before = qbtest::ReadFileBytes(db_);
    Result refused = Load();
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the table BIG-REC exists (--if-exists append"), std::string::npos) << refused.err;
    EXPECT_EQ(qbtest::ReadFileBytes(db_), before);
    ASSERT_EQ(Load("--if-exists append").status, 0);
    EXPECT_EQ(Query(db_, "SELECT COUNT(*) FROM \"BIG-REC\""), "int:4\n");
    ASSERT_EQ(Load("--if-exists replace").status, 0);
    EXPECT_EQ(Query(db_, "SELECT COUNT(*) FROM \"BIG-REC\""), "int:2\n");

    // Bad data in the second record stops the run: nothing of it reaches the table.
    std::string bytes = qbtest::ReadFileBytes(data_);
    std::string good = bytes;
    bytes[bytes.size() / 2] = 'x';   // the second record's ID
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    Result stopped = Load("--if-exists append");
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(Query(db_, "SELECT COUNT(*) FROM \"BIG-REC\""), "int:2\n");
    // A database made for a load that stops is removed.
    std::remove(db_.c_str());
    EXPECT_EQ(Load().status, 1);
    EXPECT_EQ(std::fopen(db_.c_str(), "rb"), nullptr);

    // A file that is no database is left alone.
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, good));
    ASSERT_TRUE(qbtest::WriteFileBytes(db_, "not a database, a text of some length to be sure of it\n"));
    Result notDb = Load();
    EXPECT_EQ(notDb.status, 1);
    EXPECT_NE(notDb.err.find("the file is not an SQLite database"), std::string::npos) << notDb.err;
    EXPECT_EQ(qbtest::ReadFileBytes(db_), "not a database, a text of some length to be sure of it\n");
    // Standard output is no database; encode reads no database.
    EXPECT_EQ(Cli("decode " + copybook_ + " " + data_ + " --format sqlite").status, 1);
    EXPECT_EQ(Cli("encode " + copybook_ + " " + csv_ + " --format sqlite -o " + db_).status, 1);
}

TEST(SqliteRecordTypes, ATablePerRecordTypeInOneLoad) {
    const std::string examples = std::string(QB_SOURCE_DIR) + "/examples/";
    const std::string db = Scratch("types.db");
    const std::string run = "decode --cobol " + examples + "cobol/ORDTYPES.cpy " + examples +
                            "ordtypes.vb --encoding ibm-037 --records rdw --format sqlite -o " + db +
                            " --record-type ORD-TYPE=H:ORD-HEADER --record-type ORD-TYPE=D:ORD-LINE ";
    std::remove(db.c_str());
    Result loaded = Cli(run + "--record-type ORD-TYPE=T:ORD-TRAILER --table ord");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
              "text:ord_ORD-HEADER\ntext:ord_ORD-LINE\ntext:ord_ORD-TRAILER\n");
    EXPECT_EQ(Query(db, "SELECT COUNT(*), SUM(\"LINE-QTY\"), MAX(\"LINE-PRICE\") FROM \"ord_ORD-LINE\""),
              "int:4 int:992 text:1250.00\n");
    // A record no rule chooses stops the run: nothing of the load is left.
    std::remove(db.c_str());
    Result stopped = Cli(run);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(std::fopen(db.c_str(), "rb"), nullptr);
    // verify takes the record types too and writes no database; the record no rule
    // chooses goes to --rejects, as it does in a load that skips it.
    const std::string rejects = Scratch("types.rej");
    Result verified = Cli("verify" + run.substr(6) + "--rejects " + rejects);
    EXPECT_EQ(verified.status, 3) << verified.err;
    EXPECT_NE(verified.err.find("verify: 8 records read"), std::string::npos) << verified.err;
    EXPECT_EQ(std::fopen(db.c_str(), "rb"), nullptr);
    const std::string verifiedRejects = qbtest::ReadFileBytes(rejects);
    EXPECT_FALSE(verifiedRejects.empty());
    std::remove(rejects.c_str());
    Result skipped = Cli(run + "--on-error skip --rejects " + rejects);
    EXPECT_EQ(skipped.status, 3) << skipped.err;
    EXPECT_EQ(qbtest::ReadFileBytes(rejects), verifiedRejects);
    EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM \"ORD-LINE\""), "int:4\n");
    for (const std::string& path : {db, rejects}) std::remove(path.c_str());
}

// Records whose names differ only in case (or are the same) are one table name to SQL:
// each gets a table of its own, numbered as repeated columns are, and a rule naming the
// second as written chooses the second.
TEST(SqliteRecordTypes, RecordNamesThatDifferOnlyInCaseGetTablesOfTheirOwn) {
    const std::string copybook = Scratch("case.cpy"), data = Scratch("case.dat"), db = Scratch("case.db");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 HDR.\n"
                                                 "          05 H-TYPE PIC X.\n"
                                                 "          05 H-TEXT PIC X(3).\n"
                                                 "       01 Hdr.\n"
                                                 "          05 D-TYPE PIC X.\n"
                                                 "          05 D-AMT PIC 9(3).\n"
                                                 "       01 HDR.\n"
                                                 "          05 T-TYPE PIC X.\n"
                                                 "          05 T-COUNT PIC 9(3).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(data, "HabcD123T002D045"));
    const std::string rules = " --record-type H-TYPE=H:HDR --record-type D-TYPE=D:Hdr --record-type T-TYPE=T:HDR_3";
    std::remove(db.c_str());
    Result loaded = Cli("decode --cobol " + copybook + " " + data + " --format sqlite -o " + db + rules + " --table t");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
              "text:t_HDR\ntext:t_HDR_3\ntext:t_Hdr_2\n");
    EXPECT_EQ(Query(db, "SELECT \"D-AMT\" FROM t_Hdr_2"), "int:123\nint:45\n");
    EXPECT_EQ(Query(db, "SELECT \"T-COUNT\" FROM t_HDR_3"), "int:2\n");
    EXPECT_EQ(Query(db, "SELECT \"H-TEXT\" FROM t_HDR"), "text:abc\n");
    // The tables of ddl are those of the load, and a database takes them.
    const std::string ddl = Scratch("case.sql");
    Result written = Cli("ddl --cobol --dialect sqlite --table t " + copybook + " " + ddl);
    ASSERT_EQ(written.status, 0) << written.err;
    const std::string sql = qbtest::ReadFileBytes(ddl);
    for (const char* table : {"CREATE TABLE t_HDR (", "CREATE TABLE t_Hdr_2 (", "CREATE TABLE t_HDR_3 ("}) {
        EXPECT_NE(sql.find(table), std::string::npos) << sql;
    }
    sqlite3* memory = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &memory), SQLITE_OK);
    char* refused = nullptr;
    EXPECT_EQ(sqlite3_exec(memory, sql.c_str(), nullptr, nullptr, &refused), SQLITE_OK) << (refused ? refused : "");
    sqlite3_free(refused);
    sqlite3_close(memory);
    // Under --names sql the names are lower case: still three tables.
    std::remove(db.c_str());
    Result lower = Cli("decode --cobol " + copybook + " " + data + " --format sqlite -o " + db + rules + " --names sql");
    ASSERT_EQ(lower.status, 0) << lower.err;
    EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
              "text:hdr\ntext:hdr_2\ntext:hdr_3\n");
    for (const std::string& path : {copybook, data, db, ddl}) std::remove(path.c_str());
}

// ---- Loads that own only what they made ----------------------------------------------

namespace fs = std::filesystem;

// The names in a folder, sorted.
std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A folder of its own for the database (the temporary files a load makes lie beside
// it), a copybook and `records` records of 48 bytes.
class SqliteLoads : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::current_path() / Scratch("loads");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        copybook_ = Scratch("loads.cpy");
        data_ = Scratch("loads.dat");
        db_ = (folder_ / "r.db").string();
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook_, "       01 R.\n"
                                                      "          05 ID PIC 9(8).\n"
                                                      "          05 NAME PIC X(40).\n"));
    }
    void TearDown() override {
        for (const std::string& path : {copybook_, data_}) std::remove(path.c_str());
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    void WriteData(long records) {
        std::string bytes;
        bytes.reserve(static_cast<size_t>(records) * 48);
        char id[16];
        for (long i = 0; i < records; ++i) {
            std::snprintf(id, sizeof id, "%08ld", i % 100000000);
            bytes += id;
            bytes += "A NAME OF FORTY BYTES";
            bytes.append(40 - 21, ' ');
        }
        ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    }
    std::string LoadCommand(const std::string& options = "") const {
        return "'" + kCli + "' decode " + copybook_ + " " + data_ + " --format sqlite -o " + db_ + " " + options;
    }
    // Starts a load, waits until it is inserting (its database or temporary file there),
    // sends `signal` and returns the exit status (-1: it ended by the signal itself).
    int Interrupt(const std::string& options, int signalNumber, bool& stillRunning) {
        const std::vector<std::string> before = NamesIn(folder_);
        pid_t child = fork();
        if (child == 0) {
            std::string command = "exec " + LoadCommand(options) + " 2>/dev/null";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Inserting: a temporary file for a new database, a journal for one that was there.
        for (int wait = 0; wait < 2000; ++wait) {
            std::vector<std::string> now = NamesIn(folder_);
            if (now.size() > before.size()) break;
            usleep(5000);
        }
        usleep(150000);
        int raw = 0;
        stillRunning = waitpid(child, &raw, WNOHANG) == 0;
        kill(child, signalNumber);
        if (stillRunning) waitpid(child, &raw, 0);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    fs::path folder_;
    std::string copybook_, data_, db_;
};

// Two loads into one new database at once, again and again: one makes it, whole; the
// other fails with a clear word and removes nothing.
TEST_F(SqliteLoads, TwoLoadsIntoOneNewDatabaseLeaveOneWholeDatabase) {
    WriteData(2000);
    const std::string err1 = Scratch("race1.err"), err2 = Scratch("race2.err"), statuses = Scratch("race.status");
    int lost = 0, bothKept = 0, unclear = 0;
    for (int attempt = 0; attempt < 60; ++attempt) {
        std::remove(db_.c_str());
        const std::string script = LoadCommand() + " 2>" + err1 + " & p=$!; " + LoadCommand() + " 2>" + err2 +
                                   "; b=$?; wait $p; a=$?; echo $a $b >" + statuses;
        ASSERT_EQ(std::system(("sh -c '" + [&] {
                                  std::string quoted;
                                  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                                  return quoted;
                              }() + "'").c_str()),
                  0);
        const std::string both = qbtest::ReadFileBytes(statuses);
        if (Query(db_, "SELECT COUNT(*) FROM R") != "int:2000\n") ++lost;
        if (both == "0 0\n") ++bothKept;
        if (both == "0 1\n" || both == "1 0\n") {
            const std::string err = qbtest::ReadFileBytes(both == "0 1\n" ? err2 : err1);
            if (err.find("another program made the database while this load ran") == std::string::npos &&
                err.find("the table R exists") == std::string::npos &&
                err.find("locked by another program") == std::string::npos) {
                ++unclear;
                ADD_FAILURE() << err;
            }
        } else if (both != "0 0\n") {
            ADD_FAILURE() << "statuses " << both;
        }
        // Nothing but the database is left beside it.
        EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"r.db"});
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(bothKept, 0);
    EXPECT_EQ(unclear, 0);
    for (const std::string& path : {err1, err2, statuses}) std::remove(path.c_str());
}

// An interrupted load into a new database leaves no database at all (SIGINT, SIGTERM:
// nothing; SIGKILL: only its temporary file, never a broken database under the name).
TEST_F(SqliteLoads, InterruptedLoadsLeaveNoBrokenDatabase) {
    WriteData(1500000);
    // On one thread and on several (the workers decoding ahead of the inserts).
    for (const std::string threads : {"", " --threads 4"}) {
        SCOPED_TRACE(threads);
        // The database of the round before, and the journal a killed load may leave
        // beside it when it was killed before the journal held anything to roll back.
        std::remove(db_.c_str());
        std::remove((db_ + "-journal").c_str());
        for (int signalNumber : {SIGINT, SIGTERM, SIGKILL}) {
            SCOPED_TRACE(signalNumber);
            bool running = false;
            const int status = Interrupt(threads, signalNumber, running);
            ASSERT_TRUE(running) << "the load ended before the signal: a larger file is needed";
            if (signalNumber != SIGKILL) {
                EXPECT_EQ(status, 128 + signalNumber);
                EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{});
            } else {
                std::vector<std::string> left = NamesIn(folder_);
                ASSERT_EQ(left.size(), 1u);
                EXPECT_EQ(left[0].compare(0, 4, ".~qb"), 0) << left[0];
                fs::remove(folder_ / left[0]);
            }
        }
        // A database that was there is rolled back to what it held: at once on SIGINT and
        // SIGTERM (no journal left), after a kill by the journal when it is next opened.
        ASSERT_EQ(std::system((LoadCommand("--count 10") + " 2>/dev/null").c_str()), 0);
        for (int signalNumber : {SIGINT, SIGTERM, SIGKILL}) {
            SCOPED_TRACE(signalNumber);
            bool running = false;
            const int status = Interrupt("--if-exists append" + threads, signalNumber, running);
            ASSERT_TRUE(running);
            if (signalNumber != SIGKILL) {
                EXPECT_EQ(status, 128 + signalNumber);
                EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"r.db"});
            }
            const bool writable = signalNumber == SIGKILL;
            EXPECT_EQ(Query(db_, "SELECT COUNT(*) FROM R", writable), "int:10\n");
            EXPECT_EQ(Query(db_, "PRAGMA integrity_check", writable), "text:ok\n");
        }
    }
}

TEST_F(SqliteLoads, DevicesAndRolledBackLoadsAreSaidSo) {
    WriteData(3);
    // A device is no database, and nothing is made beside it.
    Result device = Cli("decode " + copybook_ + " " + data_ + " --format sqlite -o /dev/null");
    EXPECT_EQ(device.status, 1);
    EXPECT_NE(device.err.find("/dev/null: not a regular file"), std::string::npos) << device.err;
    Result folder = Cli("decode " + copybook_ + " " + data_ + " --format sqlite -o " + folder_.string());
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("a folder"), std::string::npos) << folder.err;

    // A load stopped on bad data keeps no row: the summary says none was written.
    std::string bytes = qbtest::ReadFileBytes(data_);
    bytes[48 * 2] = 'x';
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    Result stopped = Cli("decode " + copybook_ + " " + data_ + " --format sqlite -o " + db_);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.err.find("3 records read, 0 written, 1 bad"), std::string::npos) << stopped.err;
    EXPECT_NE(stopped.err.find("nothing was written: the load was rolled back"), std::string::npos) << stopped.err;
    EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{});
    // A link to a new database is followed: the database is made where it leads.
    ASSERT_EQ(symlink("made.db", db_.c_str()), 0);
    Result linked = Cli("decode " + copybook_ + " " + data_ + " --format sqlite --on-error skip -o " + db_);
    EXPECT_EQ(linked.status, 3) << linked.err;
    EXPECT_TRUE(fs::is_symlink(db_));
    EXPECT_EQ(Query((folder_ / "made.db").string(), "SELECT COUNT(*) FROM R"), "int:2\n");
}

// --rejects and --report with the database, and verify, which writes no database.
TEST_F(SqliteLoads, RejectsAndReportsWithTheDatabase) {
    WriteData(3);
    std::string bytes = qbtest::ReadFileBytes(data_);
    bytes[48] = 'x';
    ASSERT_TRUE(qbtest::WriteFileBytes(data_, bytes));
    const std::string rejects = (folder_ / "rejects.dat").string(), report = (folder_ / "report.json").string();
    Result loaded = Cli("decode " + copybook_ + " " + data_ + " --format sqlite -o " + db_ + " --on-error skip --rejects " +
                        rejects + " --report " + report);
    EXPECT_EQ(loaded.status, 3) << loaded.err;
    EXPECT_EQ(Query(db_, "SELECT ID FROM R ORDER BY ID"), "int:0\nint:2\n");
    EXPECT_EQ(qbtest::ReadFileBytes(rejects), bytes.substr(48, 48));
    EXPECT_NE(qbtest::ReadFileBytes(report).find("\"rejectsWritten\": 1"), std::string::npos);
    std::remove(rejects.c_str());
    std::remove(report.c_str());
    std::remove(db_.c_str());

    Result verified = Cli("verify " + copybook_ + " " + data_ + " --format sqlite -o " + db_ + " --rejects " + rejects +
                          " --report " + report);
    EXPECT_EQ(verified.status, 3) << verified.err;
    EXPECT_NE(verified.err.find("verify: 3 records read"), std::string::npos) << verified.err;
    EXPECT_FALSE(fs::exists(db_));
    EXPECT_EQ(qbtest::ReadFileBytes(rejects), bytes.substr(48, 48));
    EXPECT_NE(qbtest::ReadFileBytes(report).find("\"rejectsWritten\": 1"), std::string::npos);

    // An output named twice is refused before anything is written.
    const std::string kept = "kept as it was";
    ASSERT_TRUE(qbtest::WriteFileBytes(rejects, kept));
    std::remove(report.c_str());
    const std::string csv = (folder_ / "t.csv").string();
    for (const std::string& twice : {" -o " + rejects + " --rejects " + rejects,
                                     " -o " + csv + " --rejects " + folder_.string() + "/../" +
                                         folder_.filename().string() + "/t.csv",
                                     " -o " + csv + " --rejects " + rejects + " --report " + rejects,
                                     " --format sqlite -o " + db_ + " --rejects " + db_}) {
        Result refused = Cli("decode " + copybook_ + " " + data_ + " --on-error skip" + twice);
        EXPECT_EQ(refused.status, 2) << twice;
        EXPECT_NE(refused.err.find("names the same file as"), std::string::npos) << refused.err;
        EXPECT_EQ(qbtest::ReadFileBytes(rejects), kept);
        EXPECT_FALSE(fs::exists(csv));
        EXPECT_FALSE(fs::exists(db_));
    }
    Result verifyTwice = Cli("verify " + copybook_ + " " + data_ + " --rejects " + report + " --report " + report);
    EXPECT_EQ(verifyTwice.status, 2) << verifyTwice.err;
    EXPECT_FALSE(fs::exists(report));
}

// ---- Every copybook of the corpus the COBOL rules take ------------------------------

// The corpus' COPY members are stored under their project's prefix ("zappbuild-
// epsmtinp.cpy" holds EPSMTINP): a folder of links under the member names finds them.

// ---- Values straight from the records' bytes --------------------------------------------

// Every integer usage at 64 bits' ends and with a P, the numbers kept as text, text and
// national text, with blanks, low-values, bad digits and binary values past their
// pictures among them: a load that reads the values straight from the records stores
// what a load of the records' cells stores, on one thread and on three, under each policy.
TEST(SqliteDirect, ValuesReadFromTheRecordsBytesAreThoseOfTheirCells) {
    const std::string copybook = Scratch("direct.cpy"), data = Scratch("direct.dat");
    std::string error;
    ASSERT_TRUE(directrows::Write(kCli, copybook, data, error)) << error;
    quillbox::Layout layout(copybook, directrows::CobolRules());
    for (const directrows::Policy& policy : directrows::kPolicies) {
        const quillbox::DataOptions options = directrows::OptionsOf(policy);
        quillbox::DataSetup setup;
        ASSERT_TRUE(setup.Prepare(layout.Head(), layout.RecordLength(), options, error)) << error;
        std::string tables[directrows::kWays], heard[directrows::kWays];
        quillbox::RunResult results[directrows::kWays];
        long long direct = 0;
        for (int way = 0; way < directrows::kWays; ++way) {
            const std::string db = Scratch("direct" + std::to_string(way) + ".db");
            std::remove(db.c_str());
            directrows::Faults faults;
            directrows::Counting<quillbox::SqliteSink> sink(db, "T", quillbox::IfExists::kFail);
            results[way] = directrows::Load(way, layout, setup, options, data, sink, faults);
            if (way == 0) direct = sink.direct;
            EXPECT_TRUE(sink.Commit()) << sink.Failure();
            tables[way] = Query(db, "SELECT * FROM T ORDER BY rowid");
            if (way == 0 && &policy == &directrows::kPolicies[0]) {
                // Binary values past their pictures: at 64 bits' ends an integer, past them the text.
                EXPECT_EQ(Query(db, "SELECT I8 FROM T WHERE rowid IN (5, 24) ORDER BY rowid"),
                          "int:9223372036854775807\nint:-9223372036854775808\n");
                EXPECT_EQ(Query(db, "SELECT I4 FROM T WHERE rowid = 7"), "text:18446744073709551615\n");
                EXPECT_EQ(Query(db, "SELECT I3 FROM T WHERE rowid = 8"), "int:-1\n");
            }
            heard[way] = faults.heard;
            std::remove(db.c_str());
        }
        directrows::ExpectSameLoads(tables, heard, results, direct);
    }
    for (const std::string& path : {copybook, data}) std::remove(path.c_str());
}

// A row whose values go straight from the record and one that goes through its cells
// (bad data elsewhere in the record) hold their text alike, also in the code page of
// --output-encoding.
TEST(SqliteDirect, TextAlikeWhicheverWayItsRowWent) {
    const std::string copybook = Scratch("te.cpy"), data = Scratch("te.dat"), db = Scratch("te.db");
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, "       01 R.\n          05 A PIC X(4).\n          05 N PIC 9(3).\n"));
    ASSERT_TRUE(qbtest::WriteFileBytes(data, "\xe9t\xe9 012\xe9t\xe9 0x2"));   // Latin-1; the second N is bad
    for (const std::string& encoding : {std::string(), std::string(" --output-encoding cp1252")}) {
        SCOPED_TRACE(encoding);
        std::remove(db.c_str());
        Result loaded = Cli("decode " + copybook + " " + data + " --encoding latin1 --on-error null --format sqlite -o " +
                            db + encoding);
        EXPECT_EQ(loaded.status, 3) << loaded.err;
        EXPECT_EQ(Query(db, "SELECT hex(A), N FROM R ORDER BY rowid"),
                  encoding.empty() ? "text:C3A974C3A920 int:12\ntext:C3A974C3A920 null:\n"
                                   : "text:E974E920 int:12\ntext:E974E920 null:\n");
    }
    for (const std::string& path : {copybook, data, db}) std::remove(path.c_str());
}

std::string MemberFolder(const fs::path& corpus) {
    const fs::path dir = fs::current_path() / qbtest::ProcessUniqueName("sqlite_corpus_members_", "");
    std::error_code error;
    fs::create_directories(dir, error);
    for (const auto& entry : fs::directory_iterator(corpus)) {
        std::string stem = entry.path().stem().string();
        size_t dash = stem.find('-');
        if (entry.path().extension() != ".cpy" || dash == std::string::npos) continue;
        std::string member = stem.substr(dash + 1);
        for (char& c : member) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        fs::path link = dir / (member + ".cpy");
        if (!fs::is_symlink(link, error)) fs::create_symlink(entry.path(), link, error);
    }
    return dir.string();
}

// A value that fits the column: digits within the picture, text within the bytes.
std::string Value(const quillbox::Field& field, std::mt19937& random) {
    auto digits = [&random](int n) {
        std::string text;
        for (int i = 0; i < n; ++i) text.push_back(static_cast<char>('0' + random() % 10));
        return text;
    };
    switch (field.kind) {
    case quillbox::Field::kDisplay:
    case quillbox::Field::kPacked:
    case quillbox::Field::kBinary:
    case quillbox::Field::kComp5: {
        int scale = std::max(field.scale, 0);
        int whole = std::min(std::max(field.digits - scale, 0), 18 - std::min(scale, 18));
        if (field.kind == quillbox::Field::kBinary || field.kind == quillbox::Field::kComp5) whole = std::min(whole, 2 * field.length - 1 - scale);
        std::string text = (field.isSigned && random() % 2 ? "-" : "") + (whole > 0 ? digits(whole) : "0");
        if (scale > 0) text += "." + digits(std::min(scale, 18));
        if (field.scale < 0) text += std::string(static_cast<size_t>(-field.scale), '0');
        return text;
    }
    case quillbox::Field::kFloat:
    case quillbox::Field::kDouble: return "1.5";
    case quillbox::Field::kNational: return std::string(u8"漢字").substr(0, field.length >= 4 ? 6 : 0);
    case quillbox::Field::kBits:
    case quillbox::Field::kBoolChars: return std::string(static_cast<size_t>(std::max(field.digits, 0)), '1').substr(0, 1);
    case quillbox::Field::kText: break;
    }
    std::string text;
    for (int i = 0; i < field.length && i < 6; ++i) text.push_back(static_cast<char>('A' + random() % 26));
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(SqliteCorpus, EveryCopybookLoadsItsDdlAndItsData) {
    const fs::path corpus = fs::path(QB_SOURCE_DIR).parent_path() / "shared" / "corpus-raw";
    std::error_code error;
    if (!fs::is_directory(corpus, error)) GTEST_SKIP() << "no corpus at " << corpus;
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 shell";
    const std::string members = MemberFolder(corpus);
    // The folder of links goes at the end, however the test ends.
    struct RemovedAtEnd {
        std::string path;
        ~RemovedAtEnd() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removeMembers{members};
    std::vector<fs::path> copybooks;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() == ".cpy") copybooks.push_back(entry.path());
    }
    std::sort(copybooks.begin(), copybooks.end());
    int loaded = 0;
    std::mt19937 random(20);
    const std::string csv = Scratch("corpus.csv"), data = Scratch("corpus.dat"), db = Scratch("corpus.db"),
                      back = Scratch("back.csv"), sql = Scratch("ddl.sql");
    for (const fs::path& copybook : copybooks) {
        SCOPED_TRACE(copybook.filename().string());
        const std::string analysis = "--cobol -I " + members + " '" + copybook.string() + "'";
        quillbox::LayoutOptions layoutOptions;
        layoutOptions.cobol = true;
        layoutOptions.includeDirs = {members};
        std::unique_ptr<quillbox::Layout> layout;
        try {
            layout.reset(new quillbox::Layout(copybook.string(), layoutOptions));
        } catch (const quillbox::Error&) {
            continue;   // a copybook the COBOL rules refuse
        }
        // The DDL in the sqlite dialect, and the generic one with quoted names, through
        // the sqlite3 shell.
        for (const std::string& form : {std::string("--dialect sqlite"), std::string("--quote-names")}) {
            std::remove(db.c_str());
            Result ddl = Cli("ddl --table T " + form + " " + analysis + " " + sql);
            ASSERT_EQ(ddl.status, 0) << ddl.err;
            std::string load = "sqlite3 -bail " + db + " < " + sql + " 2>&1";
            if (form == "--quote-names") load = "iconv -f CP932 -t UTF-8 " + sql + " | sqlite3 -bail " + db + " 2>&1";
            EXPECT_EQ(std::system(load.c_str()), 0) << form << ": " << qbtest::ReadFileBytes(sql);
        }
        // Generated rows encoded into a data file, decoded to CSV and into SQLite.
        quillbox::DataSetup setup;
        std::string why;
        if (!setup.Prepare(layout->Head(), layout->RecordLength(), quillbox::DataOptions(), why)) continue;
        const std::vector<quillbox::Field>& fields = setup.Plan().fields;
        if (fields.empty()) continue;
        std::string table;
        for (size_t i = 0; i < fields.size(); ++i) table += (i > 0 ? "," : "") + fields[i].column;
        table += "\n";
        for (int row = 0; row < 20; ++row) {
            for (size_t i = 0; i < fields.size(); ++i) {
                table += (i > 0 ? "," : "") + Value(fields[i], random);
            }
            table += "\n";
        }
        ASSERT_TRUE(qbtest::WriteFileBytes(csv, table));
        Result encoded = Cli("encode " + analysis + " " + csv + " -o " + data);
        ASSERT_EQ(encoded.status, 0) << encoded.err << table;
        ASSERT_EQ(std::system(("'" + kCli + "' decode " + analysis + " " + data + " -o " + back + " 2>/dev/null").c_str()), 0);
        std::remove(db.c_str());
        Result intoDb = Cli("decode " + analysis + " " + data + " --format sqlite --table T -o " + db);
        ASSERT_EQ(intoDb.status, 0) << intoDb.err;
        // Every value of an integer or exact column as the CSV has it; the row count.
        std::vector<std::string> lines = SplitLines(qbtest::ReadFileBytes(back));
        ASSERT_EQ(lines.size(), 21u);
        EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM T"), "int:20\n");
        for (size_t i = 0; i < fields.size(); ++i) {
            quillbox::SqlValueForm form = quillbox::SqlTypeOf(fields[i], quillbox::SqlDialect::kSqlite).form;
            if (form != quillbox::SqlValueForm::kInteger && form != quillbox::SqlValueForm::kExactText) continue;
            std::string got = Query(db, "SELECT " + quillbox::SqlIdentifier(fields[i].column) + " FROM T ORDER BY rowid");
            std::string expected;
            for (size_t r = 1; r < lines.size(); ++r) {
                // The column's cell: numbers are never quoted in the CSV.
                size_t start = 0;
                for (size_t k = 0; k < i; ++k) start = lines[r].find(',', start) + 1;
                std::string cell = lines[r].substr(start, lines[r].find(',', start) - start);
                expected += (form == quillbox::SqlValueForm::kInteger ? "int:" : "text:") + cell + "\n";
            }
            EXPECT_EQ(got, expected) << fields[i].column;
        }
        ++loaded;
    }
    for (const std::string& path : {csv, data, db, back, sql}) std::remove(path.c_str());
    EXPECT_GT(loaded, 20);
    std::printf("%d copybooks of the corpus loaded\n", loaded);
}

}  // namespace
