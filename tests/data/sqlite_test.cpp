// decode --format sqlite: the table made and filled in one transaction, every digit
// kept, and a database left as it was when the load fails or stops.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "datafile.h"
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
}

// ---- Every copybook of the corpus the COBOL rules take ------------------------------

namespace fs = std::filesystem;

// The corpus' COPY members are stored under their project's prefix ("zappbuild-
// epsmtinp.cpy" holds EPSMTINP): a folder of links under the member names finds them.
std::string MemberFolder(const fs::path& corpus) {
    const fs::path dir = fs::current_path() / "sqlite_corpus_members";
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
