// Runs the built quillbox-cli on the example copybooks, in the repository folder so
// that the copybook is named "examples/NAME.cpy" as in the expected files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct Result {
    int status;
    std::string out, err;
};

std::string Here(const char* name) {
#ifdef _WIN32
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    return std::string(folder) + "\\" + name;
#else
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return name;
    return std::string(folder) + "/" + name;
#endif
}

// Per-process scratch file names: test cases run in parallel processes.
std::string ScratchName(const char* kind) { return qbtest::ProcessUniqueName("cli_", std::string(kind) + ".tmp"); }

#ifdef _WIN32
// A Unix path of the build (/work/...) as Wine's drive Z: path.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

Result RunCli(const std::vector<std::string>& args) {
    std::string outPath = Here(ScratchName("out").c_str()), errPath = Here(ScratchName("err").c_str());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string exe = WindowsPath(QB_CLI_PATH);
    std::string commandLine = "\"" + exe + "\"";
    for (const std::string& a : args) commandLine += " \"" + a + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    std::string folder = WindowsPath(QB_SOURCE_DIR);
    Result result{-1, "", ""};
    if (CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = qbtest::ReadFileBytes(outPath);
    result.err = qbtest::ReadFileBytes(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}
#else
Result RunCli(const std::vector<std::string>& args) {
    std::string outPath = Here(ScratchName("out").c_str()), errPath = Here(ScratchName("err").c_str());
    Result result{-1, "", ""};
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(QB_SOURCE_DIR) != 0) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QB_CLI_PATH));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QB_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = qbtest::ReadFileBytes(outPath);
    result.err = qbtest::ReadFileBytes(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}
#endif

std::string Expected(const std::string& name) {
    return qbtest::ReadFileBytes(std::string(QB_SOURCE_DIR) + "/tests/cli/expected/" + name);
}

// Runs a command that writes to standard output and compares it with expected/NAME.
void ExpectOutput(const std::string& expectedName, const std::vector<std::string>& args) {
    Result r = RunCli(args);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    std::string expected = Expected(expectedName);
    ASSERT_FALSE(expected.empty()) << expectedName;
    EXPECT_EQ(expected, r.out) << expectedName;
}

// Runs a command that writes the file OUT and compares the file with expected/NAME.
void ExpectFile(const std::string& expectedName, std::vector<std::string> args) {
    std::string out = Here(("cli_" + expectedName).c_str());
    args.push_back(out);
    Result r = RunCli(args);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.out + r.err);
    std::string expected = Expected(expectedName);
    ASSERT_FALSE(expected.empty()) << expectedName;
    EXPECT_EQ(expected, qbtest::ReadFileBytes(out)) << expectedName;
    std::remove(out.c_str());
}

TEST(CliLayout, ExampleCopybooks) {
    ExpectOutput("CUSTMAST.layout.txt", {"layout", "examples/CUSTMAST.cpy"});
    ExpectOutput("ORDERREC.layout.txt", {"layout", "examples/ORDERREC.cpy"});
    ExpectOutput("ORDERREC.expand.layout.txt", {"layout", "--expand", "examples/ORDERREC.cpy"});
    ExpectOutput("MIXEDUSE.layout.txt", {"layout", "examples/MIXEDUSE.cpy"});
}

TEST(CliTsv, ClipboardTextWithAndWithoutTitle) {
    ExpectOutput("CUSTMAST.tsv", {"tsv", "examples/CUSTMAST.cpy"});
    ExpectOutput("CUSTMAST.notitle.tsv", {"tsv", "--no-title", "examples/CUSTMAST.cpy"});
    ExpectOutput("ORDERREC.expand.tsv", {"tsv", "--expand", "examples/ORDERREC.cpy"});
    ExpectOutput("MIXEDUSE.tsv", {"tsv", "examples/MIXEDUSE.cpy"});
}

TEST(CliHtml, Reports) {
    ExpectFile("CUSTMAST.html", {"html", "examples/CUSTMAST.cpy"});
    ExpectFile("ORDERREC.expand.html", {"html", "--expand", "examples/ORDERREC.cpy"});
    ExpectFile("MIXEDUSE.html", {"html", "examples/MIXEDUSE.cpy"});
}

TEST(CliDdl, CreateTableFiles) {
    ExpectFile("CUSTMAST.ddl", {"ddl", "--table", "CUSTMAST", "examples/CUSTMAST.cpy"});
    ExpectFile("ORDERREC.serial.quoted.ddl", {"ddl", "--table=ORDERS", "--serial-no", "--quote-names", "examples/ORDERREC.cpy"});
    ExpectFile("MIXEDUSE.ddl", {"ddl", "--table", "MIXED", "examples/MIXEDUSE.cpy"});
}

TEST(CliJson, EveryShownItem) {
    ExpectOutput("CUSTMAST.json", {"json", "examples/CUSTMAST.cpy"});
    ExpectOutput("ORDERREC.json", {"json", "examples/ORDERREC.cpy"});
    ExpectOutput("MIXEDUSE.json", {"json", "--expand", "examples/MIXEDUSE.cpy"});
}

TEST(CliErrors, AnalysisFailureUsageErrorAndHelp) {
    Result missing = RunCli({"layout", "examples/NO-SUCH-FILE.cpy"});
    EXPECT_EQ(1, missing.status);
    EXPECT_EQ("", missing.out);
    EXPECT_FALSE(missing.err.empty());
    EXPECT_EQ(Expected("missing.stderr.txt"), missing.err);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"print", "x"}, {"layout"}, {"layout", "--bogus", "a"}, {"html", "a"},
             {"ddl", "a", "b"}, {"ddl", "--table", "", "a", "b"}, {"tsv", "--table", "T", "a"}}) {
        Result usage = RunCli(args);
        EXPECT_EQ(2, usage.status) << (args.empty() ? "" : args[0]);
        EXPECT_NE(std::string::npos, usage.err.find("usage:"));
        EXPECT_EQ("", usage.out);
    }

    Result help = RunCli({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage:"));

    Result unwritable = RunCli({"html", "examples/CUSTMAST.cpy", "no-such-folder/x/out.html"});
    EXPECT_EQ(1, unwritable.status);
    EXPECT_EQ(Expected("openfail.stderr.txt"), unwritable.err);
}

}  // namespace

namespace {

// The COBOL rules: a copybook as written, with a COPY member from an -I folder.
const std::vector<std::string> kPayrec = {"--cobol", "-I", "tests/cli/cobol/copy", "tests/cli/cobol/PAYREC.cpy"};

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(CliCobol, EveryCommandTakesTheCobolRules) {
    ExpectOutput("PAYREC.cobol.layout.txt", Args({"layout"}, kPayrec));
    ExpectOutput("PAYREC.cobol.expand.tsv", Args({"tsv", "--expand"}, kPayrec));
    ExpectOutput("PAYREC.cobol.json", Args({"json"}, kPayrec));
    ExpectFile("PAYREC.cobol.ddl", Args({"ddl", "--table", "PAY"}, kPayrec));
    ExpectFile("PAYREC.cobol.html", Args({"html"}, kPayrec));
}

TEST(CliCobol, SettingsOfTheCobolRules) {
    // --free, --pointer-size and --replace change the layout; -I finds the member.
    Result fixed = RunCli({"json", "--cobol", "tests/cli/cobol/FREEPTR.cpy"});
    // Text from column 1 is recognised as free format, as --free says it is.
    EXPECT_EQ(0, fixed.status) << fixed.err;
    EXPECT_NE(std::string::npos, fixed.out.find("\"recordLength\": 7,"));
    Result free = RunCli({"json", "--cobol", "--free", "tests/cli/cobol/FREEPTR.cpy"});
    EXPECT_EQ(0, free.status) << free.err;
    EXPECT_NE(std::string::npos, free.out.find("\"recordLength\": 7,"));
    EXPECT_NE(std::string::npos, free.out.find("\"usage\": [\"pointer\"]"));
    Result wide = RunCli({"json", "--cobol", "--free", "--pointer-size", "8", "tests/cli/cobol/FREEPTR.cpy"});
    EXPECT_NE(std::string::npos, wide.out.find("\"recordLength\": 11,"));
    // --replace works on the text before COPY ... REPLACING, so the placeholder is gone.
    Result replaced = RunCli({"tsv", "--cobol", "-I", "tests/cli/cobol/copy", "--replace", ":P:=LN",
                              "tests/cli/cobol/PAYREC.cpy"});
    EXPECT_EQ(0, replaced.status) << replaced.err;
    EXPECT_NE(std::string::npos, replaced.out.find("\tLN-ITEM\t"));
    EXPECT_EQ(std::string::npos, replaced.out.find("\tPL-ITEM\t"));
    Result noMember = RunCli({"tsv", "--cobol", "tests/cli/cobol/PAYREC.cpy"});
    EXPECT_EQ(1, noMember.status);
    EXPECT_EQ(0u, noMember.err.find("quillbox-cli: tests/cli/cobol/PAYREC.cpy:20: ")) << noMember.err;
    EXPECT_NE(std::string::npos, noMember.err.find("\n    COPY PAYLINE")) << noMember.err;
    EXPECT_EQ("", noMember.out);
}

TEST(CliCobol, RefusalNamesFileLineAndEntryWarningsGoToStandardError) {
    Result refused = RunCli({"layout", "--cobol", "tests/cli/cobol/BADPIC.cpy"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("", refused.out);
    EXPECT_EQ(0u, refused.err.find("quillbox-cli: tests/cli/cobol/BADPIC.cpy:3: ")) << refused.err;
    EXPECT_EQ(refused.err.size() - std::string("\n    05 BAD-AMOUNT PIC 9(5)Q\n").size(),
              refused.err.find("\n    05 BAD-AMOUNT PIC 9(5)Q\n"))
        << refused.err;

    Result warned = RunCli({"tsv", "--cobol", "tests/cli/cobol/COMPX.cpy"});
    EXPECT_EQ(0, warned.status);
    EXPECT_NE(std::string::npos, warned.out.find("\tFLAG-BITS\t"));
    EXPECT_EQ(0u, warned.err.find("quillbox-cli: tests/cli/cobol/COMPX.cpy:2: warning: ")) << warned.err;

    // The default rules refuse what the COBOL rules take, with the default message.
    Result seed = RunCli({"layout", "tests/cli/cobol/PAYREC.cpy"});
    EXPECT_EQ(1, seed.status);
    EXPECT_EQ(std::string::npos, seed.err.find(":5:"));
}

TEST(CliCobol, SettingsNeedTheCobolRulesAndValidValues) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"layout", "--free", "tests/cli/cobol/FREEPTR.cpy"},
             {"tsv", "-I", "tests", "tests/cli/cobol/PAYREC.cpy"},
             {"json", "--replace", "A=B", "tests/cli/cobol/PAYREC.cpy"},
             {"ddl", "--table", "T", "--pointer-size", "8", "tests/cli/cobol/PAYREC.cpy", "x.sql"},
             {"json", "--cobol", "--pointer-size", "2", "tests/cli/cobol/FREEPTR.cpy"},
             {"json", "--cobol", "--replace", "NOEQUALS", "tests/cli/cobol/FREEPTR.cpy"},
             // -I takes one folder each time: a second word is a second COPYBOOK.
             {"layout", "--cobol", "-I", "tests", "examples", "tests/cli/cobol/FREEPTR.cpy"}}) {
        Result usage = RunCli(args);
        EXPECT_EQ(2, usage.status) << args[1];
        EXPECT_NE(std::string::npos, usage.err.find("usage:")) << args[1];
        EXPECT_EQ("", usage.out);
    }
}

}  // namespace
