// decode --format sqlite: the table made and filled in one transaction, every digit
// kept, and a database left as it was when the load fails or stops.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

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
std::string Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
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

}  // namespace
