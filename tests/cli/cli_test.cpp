// Runs the built quillbox-cli on the example copybooks, in the repository folder so
// that the copybook is named "examples/NAME.cpy" as in the expected files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct Result {
    int status;
    std::string out, err;
    long peakKilobytes = 0;   // the run's peak resident memory (POSIX)
};

// How a run gets its standard input and its limits.
struct RunOptions {
    std::string input;          // the bytes of standard input (empty: the test's own)
    bool inputThroughPipe = false;   // through a pipe instead of a file (POSIX)
    long fileSizeLimit = 0;     // no file may grow past it (POSIX); 0: no limit
    std::string temporaryFolder;     // TMPDIR of the run (POSIX); empty: unchanged
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

Result RunCli(const std::vector<std::string>& args, const RunOptions& options = RunOptions()) {
    std::string outPath = Here(ScratchName("out").c_str()), errPath = Here(ScratchName("err").c_str());
    std::string inPath = Here(ScratchName("in").c_str());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = INVALID_HANDLE_VALUE;
    if (!options.input.empty()) {
        std::FILE* file = std::fopen(inPath.c_str(), "wb");
        if (file != nullptr) {
            std::fwrite(options.input.data(), 1, options.input.size(), file);
            std::fclose(file);
        }
        in = CreateFileA(inPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    }
    std::string exe = WindowsPath(QB_CLI_PATH);
    std::string commandLine = "\"" + exe + "\"";
    for (const std::string& a : args) commandLine += " \"" + a + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in != INVALID_HANDLE_VALUE ? in : GetStdHandle(STD_INPUT_HANDLE);
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
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    std::remove(inPath.c_str());
    result.out = qbtest::ReadFileBytes(outPath);
    result.err = qbtest::ReadFileBytes(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}
#else
Result RunCli(const std::vector<std::string>& args, const RunOptions& options = RunOptions()) {
    std::string outPath = Here(ScratchName("out").c_str()), errPath = Here(ScratchName("err").c_str());
    std::string inPath = Here(ScratchName("in").c_str());
    Result result{-1, "", ""};
    int pipeEnds[2] = {-1, -1};
    if (!options.input.empty()) {
        if (options.inputThroughPipe) {
            if (pipe(pipeEnds) != 0) return result;
        } else {
            std::FILE* file = std::fopen(inPath.c_str(), "wb");
            if (file == nullptr) return result;
            std::fwrite(options.input.data(), 1, options.input.size(), file);
            std::fclose(file);
        }
    }
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(QB_SOURCE_DIR) != 0) _exit(127);
        if (!options.input.empty()) {
            int in = options.inputThroughPipe ? pipeEnds[0] : open(inPath.c_str(), O_RDONLY);
            if (in < 0 || dup2(in, 0) < 0) _exit(127);
            if (options.inputThroughPipe) close(pipeEnds[1]);
        }
        if (options.fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit bound{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &bound);
        }
        if (!options.temporaryFolder.empty()) setenv("TMPDIR", options.temporaryFolder.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QB_CLI_PATH));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QB_CLI_PATH, argv.data());
        _exit(127);
    }
    if (options.inputThroughPipe && pipeEnds[0] >= 0) {
        close(pipeEnds[0]);
        signal(SIGPIPE, SIG_IGN);   // the child may end without reading it all
        std::size_t done = 0;
        while (done < options.input.size()) {
            ssize_t n = write(pipeEnds[1], options.input.data() + done, options.input.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(pipeEnds[1]);
    }
    int status = 0;
    rusage usage{};
    if (child > 0 && wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.peakKilobytes = usage.ru_maxrss;
    std::remove(inPath.c_str());
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

// ---- The command line on CLI11: version, help, standard input, limits and messages ----

// A scratch file of this test process with the given bytes; its absolute path.
std::string Scratch(const char* kind, const std::string& bytes) {
    std::string path = Here(ScratchName(kind).c_str());
    EXPECT_TRUE(qbtest::WriteFileBytes(path, bytes)) << path;
    return path;
}

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || (more == 1 && c < 0xC2) || i + more >= text.size() + (more == 0 ? 1 : 0)) return false;
        unsigned long code = more == 0 ? c : c & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        if ((more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

// "quillbox-cli: FILE: " and a message of one line.
void ExpectNamedFailure(const Result& r, const std::string& file) {
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ("", r.out);
    const std::string prefix = "quillbox-cli: " + file + ": ";
    EXPECT_EQ(0u, r.err.find(prefix)) << r.err;
    EXPECT_GT(r.err.size(), prefix.size() + 1) << r.err;
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << r.err;
}

TEST(CliVersionAndHelp, VersionAndTheHelpOfEveryCommand) {
    Result version = RunCli({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.find("quillbox-cli 1."));
    EXPECT_EQ(version.out.size() - 1, version.out.find('\n'));

    for (const char* command : {"layout", "tsv", "html", "ddl", "json"}) {
        SCOPED_TRACE(command);
        Result help = RunCli({command, "--help"});
        EXPECT_EQ(0, help.status);
        EXPECT_EQ(0u, help.out.find(std::string("usage: quillbox-cli ") + command + " ")) << help.out;
        // What input is expected.
        EXPECT_NE(std::string::npos, help.out.find("fixed format"));
        EXPECT_NE(std::string::npos, help.out.find("Shift_JIS"));
        EXPECT_NE(std::string::npos, help.out.find("Columns 1-6"));
        EXPECT_NE(std::string::npos, help.out.find("column 7"));
        EXPECT_NE(std::string::npos, help.out.find("\"-\" reads"));
    }
    EXPECT_NE(std::string::npos, RunCli({"ddl", "--help"}).out.find("--quote-names"));
    EXPECT_NE(std::string::npos, RunCli({"json", "--help"}).out.find("U+FFFD"));

    // A usage error: CLI11's message, then the usage of that command.
    Result usage = RunCli({"tsv", "--expand", "--bogus", "a"});
    EXPECT_EQ(2, usage.status);
    EXPECT_EQ(0u, usage.err.find("quillbox-cli: The following argument was not expected: --bogus"));
    EXPECT_NE(std::string::npos, usage.err.find("usage: quillbox-cli tsv [OPTIONS] COPYBOOK"));
}

TEST(CliStandardInput, DashReadsTheCopybookFromStandardInput) {
    const std::string copybook = qbtest::ReadFileBytes(std::string(QB_SOURCE_DIR) + "/examples/CUSTMAST.cpy");
    ASSERT_FALSE(copybook.empty());
    RunOptions fromFile;
    fromFile.input = copybook;
    Result layout = RunCli({"layout", "-"}, fromFile);
    EXPECT_EQ(0, layout.status) << layout.err;
    EXPECT_EQ(Expected("CUSTMAST.layout.txt"), layout.out);

    // The HTML report's file line shows "-" as given.
    std::string out = Here(ScratchName("stdin.html").c_str());
    Result html = RunCli({"html", "-", out}, fromFile);
    EXPECT_EQ(0, html.status) << html.err;
    std::string report = qbtest::ReadFileBytes(out);
    EXPECT_NE(std::string::npos, report.find("<b>-</b>"));
    std::remove(out.c_str());
#ifndef _WIN32
    // A pipe, as "-" and as /dev/stdin; the temporary file goes away afterwards.
    RunOptions fromPipe = fromFile;
    fromPipe.inputThroughPipe = true;
    fromPipe.temporaryFolder = Here(ScratchName("tmpdir").c_str());
    ASSERT_EQ(0, mkdir(fromPipe.temporaryFolder.c_str(), 0700));
    for (const char* name : {"-", "/dev/stdin"}) {
        SCOPED_TRACE(name);
        Result piped = RunCli({"json", name}, fromPipe);
        EXPECT_EQ(0, piped.status) << piped.err;
        std::string expected = Expected("CUSTMAST.json");
        const std::string given = "\"file\": \"examples/CUSTMAST.cpy\"";
        ASSERT_NE(std::string::npos, expected.find(given));
        expected.replace(expected.find(given), given.size(), std::string("\"file\": \"") + name + "\"");
        EXPECT_EQ(expected, piped.out);
    }
    EXPECT_EQ(0, rmdir(fromPipe.temporaryFolder.c_str())) << "a temporary file was left behind";
#endif
}

TEST(CliErrors, PathLongerThanTheAnalysisTakesIsRefusedNotCut) {
    // 302 bytes that name the example through "./" steps: cut at 256 bytes the path
    // would name a folder.
    std::string path = "examples/";
    while (path.size() < 302 - std::string("CUSTMAST.cpy").size()) path += "./";
    path += "CUSTMAST.cpy";
    for (const char* command : {"layout", "json"}) {
        Result r = RunCli({command, path});
        ExpectNamedFailure(r, path);
        EXPECT_NE(std::string::npos, r.err.find("at most 256 bytes")) << r.err;
    }
}

TEST(CliLayout, ControlBytesOfItemTextsNeverReachTheTerminal) {
    const std::string copybook = Scratch("control.cpy", "       01  R.\n       05  A PIC X. *> \x1b[2Jbell\x07 del\x7f\n");
    Result r = RunCli({"layout", copybook});
    EXPECT_EQ(0, r.status) << r.err;
    for (char c : r.out) {
        unsigned char b = static_cast<unsigned char>(c);
        EXPECT_TRUE(b >= 0x20 || b == '\n') << static_cast<int>(b);
        EXPECT_NE(0x7F, b);
    }
    EXPECT_NE(std::string::npos, r.out.find("?[2Jbell? del?")) << r.out;
    std::remove(copybook.c_str());
}

TEST(CliJson, AlwaysValidUtf8) {
    // Bytes that are no character in Shift_JIS: a lone first byte before a blank, and
    // bytes no table maps; the file name is no UTF-8 either (where names are bytes).
    const std::string text = "       01  R\x81 .\n       05  A\xFF\xFD PIC X. *> \x81\x7F\xA0\x80\n";
#ifdef _WIN32
    const std::string copybook = Scratch("bad.cpy", text);
#else
    const std::string copybook = Scratch("bad\xC3\x28.cpy", text);
#endif
    Result r = RunCli({"json", copybook});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(IsUtf8(r.out)) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\xEF\xBF\xBD"));   // U+FFFD
    EXPECT_NE(std::string::npos, r.out.find("\"recordLength\": 1,"));
    std::remove(copybook.c_str());
}

TEST(CliJson, RenamesNameTheRenamedItemsWhole) {
    // "RENAMES a THRU b" does not fit the item's 63-byte text: the range still names
    // both items in full, and the text is cut between characters.
    const std::string longNames = Scratch("renames_long.cpy",
        "       01  CUSTOMER-RECORD.\n"
        "           05  CUSTOMER-ACCOUNT-OPENING-DATE  PIC 9(8).\n"
        "           05  CUSTOMER-ACCOUNT-BALANCE-TOTAL PIC S9(9)V99 COMP-3.\n"
        "           66  CUSTOMER-ACCOUNT-FIGURES\n"
        "                   RENAMES CUSTOMER-ACCOUNT-OPENING-DATE\n"
        "                   THROUGH CUSTOMER-ACCOUNT-BALANCE-TOTAL.\n");
    Result r = RunCli({"json", "--cobol", longNames});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("\"renames\": {\"from\": \"CUSTOMER-ACCOUNT-OPENING-DATE\", "
                                            "\"thru\": \"CUSTOMER-ACCOUNT-BALANCE-TOTAL\"}")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\"byteLength\": 14, \"position\": 1,")) << r.out;
    std::remove(longNames.c_str());

    // Double-byte names (12 and 13 characters): the cut falls inside the 13th.
    const std::string wide = Scratch("renames_sjis.cpy",
        "       01  顧客レコード.\n"
        "           05  顧客口座開設年月日記録欄   PIC 9(8).\n"
        "           05  顧客口座残高合計金額記録欄 PIC 9(9).\n"
        "           66  顧客口座 RENAMES 顧客口座開設年月日記録欄\n"
        "                   THRU 顧客口座残高合計金額記録欄.\n"
        "           66  顧客開設 RENAMES 顧客口座開設年月日記録欄.\n");
    r = RunCli({"json", "--cobol", wide});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(IsUtf8(r.out)) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("\xEF\xBF\xBD")) << r.out;   // no U+FFFD
    EXPECT_NE(std::string::npos, r.out.find(u8"\"renames\": {\"from\": \"顧客口座開設年月日記録欄\", "
                                            u8"\"thru\": \"顧客口座残高合計金額記録欄\"}")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(u8"\"picture\": \"RENAMES 顧客口座開設年月日記録欄 THRU 顧客口座残高合計金額記録\","))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find(u8"\"renames\": {\"from\": \"顧客口座開設年月日記録欄\", \"thru\": null}"))
        << r.out;
    std::remove(wide.c_str());
}

TEST(CliErrors, EveryErrorNamesItsFile) {
    // The analysis, with the line of the entry.
    const std::string bad = Scratch("occurs0.cpy", "       01  R.\n       05  A PIC X OCCURS 0.\n");
    ExpectNamedFailure(RunCli({"tsv", bad}), bad + ":2");
    std::remove(bad.c_str());
    // The item limit: a CLI text with the limit's value.
    const std::string huge = Scratch("huge.cpy", "       01  R.\n       05  A PIC X OCCURS 9000000.\n");
    Result limit = RunCli({"layout", huge});
    ExpectNamedFailure(limit, huge + ":2");
    EXPECT_NE(std::string::npos, limit.err.find("more than 8,388,608 items, the limit")) << limit.err;
    std::remove(huge.c_str());
    // Files that cannot be read, with the reason.
    Result folder = RunCli({"json", "examples"});
    ExpectNamedFailure(folder, "examples");
    EXPECT_NE(std::string::npos, folder.err.find("(")) << folder.err;
    Result missing = RunCli({"html", "examples/NO-SUCH.cpy", "out.html"});
    ExpectNamedFailure(missing, "examples/NO-SUCH.cpy");
    EXPECT_NE(std::string::npos, missing.err.find("No such file")) << missing.err;
    // The output file.
    Result unwritable = RunCli({"ddl", "--table", "T", "examples/CUSTMAST.cpy", "no-such-folder/t.sql"});
    ExpectNamedFailure(unwritable, "no-such-folder/t.sql");
#ifndef _WIN32
    if (geteuid() != 0) {
        const std::string locked = Scratch("locked.cpy", "       01  R.\n");
        chmod(locked.c_str(), 0);
        Result denied = RunCli({"tsv", locked});
        ExpectNamedFailure(denied, locked);
        EXPECT_NE(std::string::npos, denied.err.find("Permission denied")) << denied.err;
        chmod(locked.c_str(), 0644);
        std::remove(locked.c_str());
    }
    // A write that fails part way names the file and keeps the one that was there.
    const std::string report = Scratch("kept.html", "old report");
    RunOptions limited;
    limited.fileSizeLimit = 1000;   // room for the message on standard error, not for the report
    Result failed = RunCli({"html", "examples/CUSTMAST.cpy", report}, limited);
    ExpectNamedFailure(failed, report);
    EXPECT_EQ("old report", qbtest::ReadFileBytes(report));
    std::remove(report.c_str());
#endif
}

}  // namespace

// ---- Output files: nothing lost, nothing replaced by surprise ----

namespace {

const std::vector<std::string> kCustmastDdl = {"ddl", "--table", "CUSTMAST", "examples/CUSTMAST.cpy"};

// A copybook of one text and one number, and data for it.
const char* const kSmallCopybook = "       01  R.\n           05  A PIC X(4).\n           05  N PIC 9(4).\n";

std::vector<std::string> With(std::vector<std::string> args, const std::string& last) {
    args.push_back(last);
    return args;
}

// Every message of a data command's options starts with the program's name, also those
// found once the copybook is read.
TEST(CliErrors, DataOptionErrorsCarryThePrefix) {
    Result r = RunCli({"decode", "examples/CUSTMAST.cpy", "examples/custmast.dat", "--record-type-default", "NOPE"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(0u, r.err.find("quillbox-cli: the copybook has no 01 record NOPE\n")) << r.err;
    Result rule = RunCli({"decode", "examples/CUSTMAST.cpy", "examples/custmast.dat", "--record-type", "NOPE=1:CUSTMAST"});
    EXPECT_EQ(1, rule.status);
    EXPECT_EQ(0u, rule.err.find("quillbox-cli: ")) << rule.err;
}

TEST(CliHelp, EachParagraphOnceExitStatusesAndOptionsNamed) {
    const std::string copybookParagraph = "COPYBOOK is a COBOL copybook in fixed format";
    for (const char* command : {"layout", "tsv", "html", "ddl", "json", "decode", "encode"}) {
        SCOPED_TRACE(command);
        Result help = RunCli({command, "--help"});
        EXPECT_EQ(0, help.status);
        std::size_t first = help.out.find(copybookParagraph);
        ASSERT_NE(std::string::npos, first) << help.out;
        EXPECT_EQ(std::string::npos, help.out.find(copybookParagraph, first + 1)) << help.out;
        first = help.out.find("exit status:");
        ASSERT_NE(std::string::npos, first) << help.out;
        EXPECT_EQ(std::string::npos, help.out.find("exit status:", first + 1)) << help.out;
    }
    Result program = RunCli({"--help"});
    EXPECT_EQ(0, program.status);
    for (const char* named : {"--cobol", "-I DIR", "-o FILE", "--format csv|jsonl", "--encoding", "--records",
                              "--on-error", "2 bad usage; 3 decode/encode met bad data"}) {
        EXPECT_NE(std::string::npos, program.out.find(named)) << named << "\n" << program.out;
    }
}

TEST(CliHelp, UnknownCommandIsNamedWithTheNearestOne) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"lay", "examples/CUSTMAST.cpy"}, "quillbox-cli: unknown command 'lay'; did you mean 'layout'?\n"},
             {{"jsno", "examples/CUSTMAST.cpy"}, "quillbox-cli: unknown command 'jsno'; did you mean 'json'?\n"},
             {{"--version-not", "decod"}, ""},   // an unknown option: CLI11's own message
             {{"ecnode"}, "quillbox-cli: unknown command 'ecnode'; did you mean 'encode'?\n"},
             {{"lay", "--help"}, "quillbox-cli: unknown command 'lay'; did you mean 'layout'?\n"},
             {{"print", "x"}, "quillbox-cli: unknown command 'print'\n"}}) {
        SCOPED_TRACE(c.args[0]);
        Result r = RunCli(c.args);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("", r.out);
        if (!c.message.empty()) {
            EXPECT_EQ(0u, r.err.find(c.message)) << r.err;
        }
        EXPECT_NE(std::string::npos, r.err.find("usage: quillbox-cli layout")) << r.err;
    }
}

TEST(CliOutput, DashIsStandardOutput) {
    Result ddl = RunCli(With(kCustmastDdl, "-"));
    EXPECT_EQ(0, ddl.status) << ddl.err;
    EXPECT_EQ(Expected("CUSTMAST.ddl"), ddl.out);
    Result html = RunCli({"html", "examples/CUSTMAST.cpy", "-"});
    EXPECT_EQ(0, html.status) << html.err;
    EXPECT_EQ(Expected("CUSTMAST.html"), html.out);
    // No file named "-" in the folder the runs were made in.
    EXPECT_TRUE(qbtest::ReadFileBytes(std::string(QB_SOURCE_DIR) + "/-").empty());
    EXPECT_NE(0, std::remove((std::string(QB_SOURCE_DIR) + "/-").c_str()));
}

TEST(CliData, TheJapaneseEbcdicExampleReadsAndWritesAlikeOnEveryPlatform) {
    // examples/orders.vb: code page 930, blocked variable records of ORDERREC.cpy, and
    // the CSV it is encoded from. The codec converts the page by its own tables, so
    // every build reads and writes it as the others do.
    const std::string csv = Scratch("orders_csv", ""), vb = Scratch("orders_vb", "");
    Result decoded = RunCli({"decode", "examples/ORDERREC.cpy", "examples/orders.vb", "--encoding", "ibm-930",
                             "--records", "rdw-block", "--trim", "-o", csv});
    EXPECT_EQ(0, decoded.status) << decoded.err;
    const std::string expected = qbtest::ReadFileBytes(std::string(QB_SOURCE_DIR) + "/examples/orders.csv");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, qbtest::ReadFileBytes(csv));
    Result encoded = RunCli({"encode", "examples/ORDERREC.cpy", "examples/orders.csv", "--encoding", "cp930",
                             "--records", "rdw-block", "-o", vb});
    EXPECT_EQ(0, encoded.status) << encoded.err;
    EXPECT_EQ(qbtest::ReadFileBytes(std::string(QB_SOURCE_DIR) + "/examples/orders.vb"), qbtest::ReadFileBytes(vb));
    std::remove(csv.c_str());
    std::remove(vb.c_str());
}

TEST(CliOutput, TheCopybookIsNeverWrittenOver) {
    const std::string copybook = Scratch("self.cpy", kSmallCopybook);
    for (const char* command : {"html", "ddl"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, copybook, copybook};
        if (std::string(command) == "ddl") args.insert(args.begin() + 1, {"--table", "T"});
        Result r = RunCli(args);
        ExpectNamedFailure(r, copybook);
        EXPECT_NE(std::string::npos, r.err.find("the same file as the input")) << r.err;
        EXPECT_EQ(kSmallCopybook, qbtest::ReadFileBytes(copybook));
    }
    std::remove(copybook.c_str());
}

}  // namespace

#ifndef _WIN32
namespace {

// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = opendir(path.c_str())) {
        while (dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a file, or a folder with everything in it (links are not followed).
void RemoveTree(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        for (const std::string& name : NamesIn(path)) RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// A scratch folder of this test process; removed with its files by the destructor.
struct ScratchFolder {
    std::string path;
    explicit ScratchFolder(const char* kind) : path(Here(ScratchName(kind).c_str())) {
        RemoveTree(path);
        mkdir(path.c_str(), 0700);
    }
    ~ScratchFolder() { RemoveTree(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> Names() const { return NamesIn(path); }
};

std::string LinkTarget(const std::string& link) {
    char text[4096];
    ssize_t n = readlink(link.c_str(), text, sizeof text);
    return n < 0 ? std::string() : std::string(text, static_cast<std::size_t>(n));
}

TEST(CliOutput, LinkIsFollowedItsTargetReplacedTheLinkKept) {
    ScratchFolder folder("links");
    ASSERT_TRUE(qbtest::WriteFileBytes(folder / "real.sql", "old text"));
    ASSERT_EQ(0, symlink("real.sql", (folder / "link.sql").c_str()));
    Result ddl = RunCli(With(kCustmastDdl, folder / "link.sql"));
    EXPECT_EQ(0, ddl.status) << ddl.err;
    EXPECT_EQ("real.sql", LinkTarget(folder / "link.sql"));
    EXPECT_EQ(Expected("CUSTMAST.ddl"), qbtest::ReadFileBytes(folder / "real.sql"));

    // A link to a file not there yet makes the file; a link through another folder.
    ASSERT_EQ(0, mkdir((folder / "sub").c_str(), 0700));
    ASSERT_EQ(0, symlink("sub/report.html", (folder / "new.html").c_str()));
    Result html = RunCli({"html", "examples/CUSTMAST.cpy", folder / "new.html"});
    EXPECT_EQ(0, html.status) << html.err;
    EXPECT_EQ("sub/report.html", LinkTarget(folder / "new.html"));
    EXPECT_EQ(Expected("CUSTMAST.html"), qbtest::ReadFileBytes(folder / "sub/report.html"));
    EXPECT_EQ(std::vector<std::string>{"report.html"}, NamesIn(folder / "sub"));
    EXPECT_EQ((std::vector<std::string>{"link.sql", "new.html", "real.sql", "sub"}), folder.Names());
}

// Waits until `ready` holds, for at most about ten seconds.
template <typename Condition>
bool WaitFor(Condition ready) {
    for (int i = 0; i < 1000; ++i) {
        if (ready()) return true;
        usleep(10000);
    }
    return ready();
}

TEST(CliOutput, PipeIsWrittenDirectly) {
    ScratchFolder folder("fifo");
    const std::string fifo = folder / "pipe";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    // A reader that copies what comes through the pipe into a file.
    pid_t reader = fork();
    if (reader == 0) {
        int in = open(fifo.c_str(), O_RDONLY);
        int out = open((folder / "read").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char block[4096];
        ssize_t n;
        while (in >= 0 && out >= 0 && (n = read(in, block, sizeof block)) > 0) {
            if (write(out, block, static_cast<std::size_t>(n)) != n) break;
        }
        _exit(0);
    }
    ASSERT_GT(reader, 0);
    Result ddl = RunCli(With(kCustmastDdl, fifo));
    // A run that put a file in the pipe's place never opened it: the reader waits on.
    int status = 0;
    if (!WaitFor([&] { return waitpid(reader, &status, WNOHANG) == reader; })) {
        kill(reader, SIGKILL);
        waitpid(reader, &status, 0);
        ADD_FAILURE() << "nothing was written into the pipe";
    }
    EXPECT_EQ(0, ddl.status) << ddl.err;
    struct stat after;
    ASSERT_EQ(0, lstat(fifo.c_str(), &after));
    EXPECT_TRUE(S_ISFIFO(after.st_mode));
    EXPECT_EQ(Expected("CUSTMAST.ddl"), qbtest::ReadFileBytes(folder / "read"));
    EXPECT_EQ((std::vector<std::string>{"pipe", "read"}), folder.Names());
}

TEST(CliOutput, NameOfAnOpenFileIsWrittenThroughIt) {
    // /dev/fd/1 names standard output, as /dev/stdout does: written through, never
    // replaced by a file (a run as root could replace the link /dev/stdout itself, which
    // is why the test takes /dev/fd/1, in a folder no file can be made in).
    for (const char* name : {"/dev/fd/1"}) {
        SCOPED_TRACE(name);
        struct stat before, after;
        ASSERT_EQ(0, lstat(name, &before));
        Result ddl = RunCli(With(kCustmastDdl, name));
        EXPECT_EQ(0, ddl.status) << ddl.err;
        EXPECT_EQ(Expected("CUSTMAST.ddl"), ddl.out);
        ASSERT_EQ(0, lstat(name, &after));
        EXPECT_EQ(before.st_mode, after.st_mode);
        EXPECT_EQ(before.st_ino, after.st_ino);
    }
}

TEST(CliOutput, OutputThatIsTheInputIsRefusedAndTheInputKept) {
    ScratchFolder folder("same");
    const std::string copybook = folder / "r.cpy", data = folder / "d.dat", csv = folder / "t.csv";
    const std::string records = "ABCD1234EFGH5678", table = "A,N\nABCD,1234\n";
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, kSmallCopybook));
    ASSERT_TRUE(qbtest::WriteFileBytes(data, records));
    ASSERT_TRUE(qbtest::WriteFileBytes(csv, table));
    ASSERT_EQ(0, link(data.c_str(), (folder / "hard.dat").c_str()));
    ASSERT_EQ(0, symlink("d.dat", (folder / "soft.csv").c_str()));
    ASSERT_EQ(0, symlink("t.csv", (folder / "soft.dat").c_str()));
    struct Case {
        std::vector<std::string> args;
        std::string output;
    };
    for (const Case& c : std::vector<Case>{{{"decode", copybook, data, "-o", data}, data},
                                           {{"decode", copybook, data, "-o", folder / "hard.dat"}, folder / "hard.dat"},
                                           {{"decode", copybook, data, "--output", folder / "soft.csv"}, folder / "soft.csv"},
                                           {{"encode", copybook, csv, "-o", csv}, csv},
                                           {{"encode", copybook, csv, "-o", folder / "soft.dat"}, folder / "soft.dat"},
                                           {{"encode", copybook, folder / "soft.dat", "-o", csv}, csv},
                                           {{"decode", copybook, data, "-o", copybook}, copybook}}) {
        SCOPED_TRACE(c.args[0] + " -o " + c.output);
        Result r = RunCli(c.args);
        ExpectNamedFailure(r, c.output);
        EXPECT_NE(std::string::npos, r.err.find("the same file as the input")) << r.err;
        EXPECT_EQ(records, qbtest::ReadFileBytes(data));
        EXPECT_EQ(table, qbtest::ReadFileBytes(csv));
        EXPECT_EQ(kSmallCopybook, qbtest::ReadFileBytes(copybook));
    }
    // Standard input that is the output file.
    RunOptions fromData;
    fromData.input = records;
    Result viaStdin = RunCli({"decode", copybook, "-", "-o", folder / "in.dat"}, fromData);
    EXPECT_EQ(0, viaStdin.status) << viaStdin.err;
    EXPECT_EQ((std::vector<std::string>{"d.dat", "hard.dat", "in.dat", "r.cpy", "soft.csv", "soft.dat", "t.csv"}),
              folder.Names());
}

TEST(CliOutput, RunStoppedOnBadDataKeepsTheOldFile) {
    ScratchFolder folder("stopped");
    const std::string copybook = folder / "r.cpy", bad = folder / "bad.dat", out = folder / "out.csv";
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, kSmallCopybook));
    ASSERT_TRUE(qbtest::WriteFileBytes(bad, "ABCD1234EFGH56x8"));
    ASSERT_TRUE(qbtest::WriteFileBytes(out, "old table"));
    Result stopped = RunCli({"decode", copybook, bad, "-o", out});
    EXPECT_EQ(1, stopped.status);
    EXPECT_EQ("old table", qbtest::ReadFileBytes(out));
    EXPECT_EQ((std::vector<std::string>{"bad.dat", "out.csv", "r.cpy"}), folder.Names());

    // encode stopped: no file where there was none, the old one where there was one.
    ASSERT_TRUE(qbtest::WriteFileBytes(folder / "bad.csv", "A,N\nABCD,1234\nEFGH,99999\n"));
    Result none = RunCli({"encode", copybook, folder / "bad.csv", "-o", folder / "new.dat"});
    EXPECT_EQ(1, none.status);
    ASSERT_TRUE(qbtest::WriteFileBytes(folder / "old.dat", "old records"));
    Result old = RunCli({"encode", copybook, folder / "bad.csv", "-o", folder / "old.dat"});
    EXPECT_EQ(1, old.status);
    EXPECT_EQ("old records", qbtest::ReadFileBytes(folder / "old.dat"));
    EXPECT_EQ((std::vector<std::string>{"bad.csv", "bad.dat", "old.dat", "out.csv", "r.cpy"}), folder.Names());

    // Bad data skipped (status 3): the output is complete and replaces the old file,
    // with its permissions.
    chmod(out.c_str(), 0640);
    Result skipped = RunCli({"decode", copybook, bad, "-o", out, "--on-error", "skip"});
    EXPECT_EQ(3, skipped.status);
    EXPECT_EQ("A,N\nABCD,1234\n", qbtest::ReadFileBytes(out));
    struct stat status;
    ASSERT_EQ(0, stat(out.c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 07777);
    Result encoded = RunCli({"encode", copybook, folder / "bad.csv", "-o", folder / "old.dat", "--on-error", "skip"});
    EXPECT_EQ(3, encoded.status);
    EXPECT_EQ("ABCD1234", qbtest::ReadFileBytes(folder / "old.dat"));
    EXPECT_EQ((std::vector<std::string>{"bad.csv", "bad.dat", "old.dat", "out.csv", "r.cpy"}), folder.Names());
}

TEST(CliOutput, InterruptedRunRemovesItsTemporaryFilesAndKeepsTheOldFile) {
    // decode reads records from a pipe that this test feeds, then ends it by a signal
    // while it waits for more: the copybook comes through standard input (so that a
    // temporary copy of it exists too), the records through a FIFO.
    // Also on four threads, where the signal may reach a worker while the others decode.
    signal(SIGPIPE, SIG_IGN);
    for (const char* threads : {"1", "4"})
    for (int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(std::string("--threads ") + threads + ", signal " + std::to_string(signalNumber));
        ScratchFolder folder("interrupted"), temporaryFolder("interrupted-tmp");
        const std::string fifo = folder / "records", out = folder / "out.csv", copybook = folder / "r.cpy";
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
        ASSERT_TRUE(qbtest::WriteFileBytes(out, "old table"));
        ASSERT_TRUE(qbtest::WriteFileBytes(copybook, kSmallCopybook));
        pid_t child = fork();
        if (child == 0) {
            int in = open(copybook.c_str(), O_RDONLY);
            int err = open("/dev/null", O_WRONLY);
            if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(err, 2) < 0) _exit(127);
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            setenv("TMPDIR", temporaryFolder.path.c_str(), 1);
            execl(QB_CLI_PATH, QB_CLI_PATH, "decode", "-", fifo.c_str(), "-o", out.c_str(), "--threads", threads,
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(child, 0);
        // The feed opens once decode opened the FIFO (never waiting on a run that failed).
        int feed = -1;
        EXPECT_TRUE(WaitFor([&] { return (feed = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
        if (feed < 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        ASSERT_GE(feed, 0);
        fcntl(feed, F_SETFL, fcntl(feed, F_GETFL) & ~O_NONBLOCK);
        std::string block;
        for (int i = 0; i < 20000; ++i) block += "ABCD1234";
        EXPECT_EQ(static_cast<ssize_t>(block.size()), write(feed, block.data(), block.size()));
        // The table goes to a temporary file beside out.csv; the copybook's copy in
        // TMPDIR is gone once the copybook is analysed.
        EXPECT_TRUE(WaitFor([&] { return folder.Names().size() == 4; }));
        EXPECT_EQ(0u, temporaryFolder.Names().size());
        usleep(100000);
        kill(child, signalNumber);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        close(feed);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(128 + signalNumber, WEXITSTATUS(status));
        EXPECT_EQ("old table", qbtest::ReadFileBytes(out));
        EXPECT_EQ((std::vector<std::string>{"out.csv", "r.cpy", "records"}), folder.Names());
        EXPECT_TRUE(temporaryFolder.Names().empty());
    }
}

// A copybook of `types` record types R01, R02, ... of 8 bytes, told apart by their
// first two bytes ("01", "02", ...), and the rules that choose them.
std::string TypesCopybook(int types) {
    std::string text;
    for (int t = 1; t <= types; ++t) {
        char entry[160];
        std::snprintf(entry, sizeof entry, "       01  R%02d.\n           05  T%02d PIC X(2).\n           05  V%02d PIC X(6).\n",
                      t, t, t);
        text += entry;
    }
    return text;
}

std::vector<std::string> TypeRules(int types) {
    std::vector<std::string> rules;
    for (int t = 1; t <= types; ++t) {
        char rule[32];
        std::snprintf(rule, sizeof rule, "T01=%02d:R%02d", t, t);
        rules.push_back("--record-type");
        rules.push_back(rule);
    }
    return rules;
}

TEST(CliOutput, NameEndingInASlashIsSaidSoAndAFailedRunLeavesNoNewFolder) {
    ScratchFolder folder("slash");
    const std::string copybook = folder / "r.cpy", data = folder / "r.dat";
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, TypesCopybook(2)));
    ASSERT_TRUE(qbtest::WriteFileBytes(data, "01AAAAAA02BBBBBB01CCCCCC"));
    std::vector<std::string> decode = {"decode", "--cobol", copybook};
    for (const std::string& rule : TypeRules(2)) decode.push_back(rule);
    auto run = [&](const std::string& input, const std::string& out) {
        std::vector<std::string> args = decode;
        args.insert(args.begin() + 3, input);
        args.push_back("-o");
        args.push_back(out);
        return RunCli(args);
    };

    // One output: a name with a slash at its end names no file.
    Result one = RunCli({"decode", "examples/CUSTMAST.cpy", "examples/custmast.dat", "-o", folder / "out.csv/"});
    ExpectNamedFailure(one, folder / "out.csv/");
    EXPECT_NE(std::string::npos, one.err.find("ends in a slash")) << one.err;
    // A file per record type: a file of that name is no folder ...
    ASSERT_TRUE(qbtest::WriteFileBytes(folder / "taken", "kept"));
    Result taken = run(data, folder / "taken/");
    ExpectNamedFailure(taken, folder / "taken/");
    EXPECT_NE(std::string::npos, taken.err.find("there is a file of that name")) << taken.err;
    EXPECT_EQ(std::string::npos, taken.err.find("File exists")) << taken.err;
    EXPECT_EQ("kept", qbtest::ReadFileBytes(folder / "taken"));
    // ... a run that fails removes the folder it made ...
    Result failed = run(folder / "missing.dat", folder / "tables/");
    EXPECT_EQ(1, failed.status) << failed.err;
    EXPECT_EQ((std::vector<std::string>{"r.cpy", "r.dat", "taken"}), folder.Names());
    // ... and one that completes keeps it, with its tables.
    Result done = run(data, folder / "tables/");
    EXPECT_EQ(0, done.status) << done.err;
    EXPECT_EQ((std::vector<std::string>{"R01.csv", "R02.csv"}), NamesIn(folder / "tables"));
}

TEST(CliOutput, InterruptedRunOfManyRecordTypesRemovesEveryTemporaryFile) {
    // 20 record types, a table file each: more temporary files than a fixed list of 16
    // held. The records come through a FIFO that stays open, so the run waits with
    // every table open until the signal ends it.
    signal(SIGPIPE, SIG_IGN);
    constexpr int kTypes = 20;
    ScratchFolder folder("manytypes");
    const std::string fifo = folder / "records", copybook = folder / "r.cpy", tables = folder / "tables/";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_TRUE(qbtest::WriteFileBytes(copybook, TypesCopybook(kTypes)));
    std::vector<std::string> args = {QB_CLI_PATH, "decode", "--cobol", copybook, fifo, "-o", tables};
    for (const std::string& rule : TypeRules(kTypes)) args.push_back(rule);
    pid_t child = fork();
    if (child == 0) {
        int err = open("/dev/null", O_WRONLY);
        if (err < 0 || dup2(err, 2) < 0) _exit(127);
        signal(SIGTERM, SIG_DFL);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(QB_CLI_PATH, argv.data());
        _exit(127);
    }
    ASSERT_GT(child, 0);
    int feed = -1;
    EXPECT_TRUE(WaitFor([&] { return (feed = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
    if (feed < 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    ASSERT_GE(feed, 0);
    fcntl(feed, F_SETFL, fcntl(feed, F_GETFL) & ~O_NONBLOCK);
    std::string records;
    for (int t = 1; t <= kTypes; ++t) {
        char record[16];
        std::snprintf(record, sizeof record, "%02dVALUE.", t);
        records += record;
    }
    EXPECT_EQ(static_cast<ssize_t>(records.size()), write(feed, records.data(), records.size()));
    EXPECT_TRUE(WaitFor([&] { return NamesIn(tables).size() == kTypes; })) << NamesIn(tables).size();
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    close(feed);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(128 + SIGTERM, WEXITSTATUS(status));
    // Every temporary file went, and with them the folder the run made.
    EXPECT_EQ((std::vector<std::string>{"r.cpy", "records"}), folder.Names());
}

TEST(CliOutput, ReplacedFileKeepsItsOwnerModeAndHardLinks) {
    ScratchFolder folder("keep");
    chmod(folder.path.c_str(), 0755);
    const std::string out = folder / "out.csv", twin = folder / "twin.csv";
    ASSERT_TRUE(qbtest::WriteFileBytes(out, "old table"));
    ASSERT_EQ(0, link(out.c_str(), twin.c_str()));
    ASSERT_EQ(0, chmod(out.c_str(), 0640));
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, chown(out.c_str(), 65534, 65534));
    }
    Result r = RunCli({"decode", "examples/CUSTMAST.cpy", "examples/custmast.dat", "-o", out});
    EXPECT_EQ(0, r.status) << r.err;
    const std::string table = qbtest::ReadFileBytes(out);
    EXPECT_NE(std::string::npos, table.find("CUST-BRANCH-CD")) << table;
    EXPECT_EQ(table, qbtest::ReadFileBytes(twin));
    struct stat status;
    ASSERT_EQ(0, stat(out.c_str(), &status));
    EXPECT_EQ(2u, static_cast<unsigned>(status.st_nlink));
    EXPECT_EQ(0640u, static_cast<unsigned>(status.st_mode & 07777));
    if (root) {
        EXPECT_EQ(65534u, static_cast<unsigned>(status.st_uid));
        EXPECT_EQ(65534u, static_cast<unsigned>(status.st_gid));
    }
    EXPECT_EQ((std::vector<std::string>{"out.csv", "twin.csv"}), folder.Names());

    // A file of nobody in a folder nobody may not write, replaced by nobody: written in
    // place, as a shell redirect would, and said.
    if (root) {
        ASSERT_EQ(0, unlink(twin.c_str()));
        char pattern[] = "/tmp/qb_cli_inplace.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        chmod(pattern, 0755);
        const std::string locked = std::string(pattern) + "/out.csv";
        ASSERT_TRUE(qbtest::WriteFileBytes(locked, "old table"));
        ASSERT_EQ(0, chown(locked.c_str(), 65534, 65534));
        pid_t child = fork();
        if (child == 0) {
            int err = open((folder / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (err < 0 || dup2(err, 2) < 0 || chdir(QB_SOURCE_DIR) != 0) _exit(127);
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
            execl(QB_CLI_PATH, QB_CLI_PATH, "decode", "examples/CUSTMAST.cpy", "examples/custmast.dat", "-o",
                  locked.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int childStatus = -1;
        ASSERT_EQ(child, waitpid(child, &childStatus, 0));
        const std::string err = qbtest::ReadFileBytes(folder / "err");
        EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << childStatus << err;
        EXPECT_NE(std::string::npos, err.find("quillbox-cli: " + locked + ": warning: its folder cannot be written"))
            << err;
        EXPECT_EQ(table, qbtest::ReadFileBytes(locked));
        RemoveTree(pattern);
    }
}

}  // namespace
#endif
namespace {

// ---- The default rules: the line of a refusal, a pointer to --cobol, clauses passed over ----

const char* const kCobolHint = "\n    the COBOL rules read this entry: analyse the copybook with --cobol\n";

TEST(CliDefaultRules, RefusalNamesTheLineOfItsEntryAndPointsToTheCobolRules) {
    // An entry read only by the COBOL rules, on line 4 after a comment and a blank line,
    // with the seed's message; the same from standard input.
    const std::string text = "       01  R.\n      * note\n\n       88  FLAG VALUE 'Y'.\n";
    const std::string condition = Scratch("cond.cpy", text);
    Result r = RunCli({"layout", condition});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("quillbox-cli: " + condition + u8":4: レベル番号解析エラー (a level number that cannot be read)" + kCobolHint,
              r.err);
    RunOptions input;
    input.input = text;
    EXPECT_EQ(std::string(u8"quillbox-cli: -:4: レベル番号解析エラー (a level number that cannot be read)") + kCobolHint,
              RunCli({"json", "-"}, input).err);
    std::remove(condition.c_str());

    // An entry over three lines is named by its first; the seed's message that ends in a
    // line feed keeps one line.
    const std::string depending =
        Scratch("dep.cpy", "       01  R.\n       05  N PIC 9.\n       05  A\n           PIC X OCCURS 2\n"
                           "           DEPENDING ON N.\n");
    r = RunCli({"tsv", depending});
    EXPECT_EQ("quillbox-cli: " + depending +
                  u8":3: DEPENDING指定の配列はサポートしていません。 (tables with DEPENDING ON are not read by the "
                  u8"default rules)" + kCobolHint,
              r.err);
    std::remove(depending.c_str());

    // More digits than the default rules take and no more than COBOL's 38: the COBOL
    // rules read it. A refusal the COBOL rules share (39 digits) has no second line.
    const std::string picture = Scratch("pic.cpy", "       01  R.\n       05  A PIC S9(18)V99.\n");
    EXPECT_EQ("quillbox-cli: " + picture + u8":2: 数値型は18桁まで (a number has at most 18 digits under the default rules)" +
                  kCobolHint,
              RunCli({"layout", picture}).err);
    EXPECT_EQ(0, RunCli({"layout", "--cobol", picture}).status);
    const std::string beyond = Scratch("pic39.cpy", "       01  R.\n       05  A PIC 9(39).\n");
    EXPECT_EQ("quillbox-cli: " + beyond + u8":2: 数値型は18桁まで (a number has at most 18 digits under the default rules)\n",
              RunCli({"layout", beyond}).err);
    std::remove(picture.c_str());
    std::remove(beyond.c_str());

    // Refusals of the layout: the entry whose occurrences pass the item limit, the entry
    // that makes the record too long.
    const std::string table = Scratch("table.cpy", "       01  R.\n       05  A PIC X.\n       05  G OCCURS 3000.\n"
                                                   "         10  B PIC X.\n         10  C PIC X OCCURS 3000.\n");
    r = RunCli({"layout", table});
    EXPECT_EQ(0u, r.err.find("quillbox-cli: " + table + ":5: the copybook needs more than 8,388,608 items")) << r.err;
    std::remove(table.c_str());
    const std::string longer = Scratch("long.cpy", "       01  R.\n       05  A PIC X(2000000000).\n"
                                                   "       05  B REDEFINES A PIC X(2000000000).\n"
                                                   "       05  C PIC X(2000000000).\n");
    EXPECT_EQ("quillbox-cli: " + longer + u8":4: レコード長が大きすぎます。 (the record is too long)\n",
              RunCli({"layout", longer}).err);
    std::remove(longer.c_str());
}

TEST(CliDefaultRules, ClausesPassedOverAreWarnedWithTheirLine) {
    const std::string plain = Scratch("plain.cpy", "       01  R.\n       05  A PIC S9(3).\n       05  B PIC 9(4) COMP.\n");
    const std::string clauses =
        Scratch("clauses.cpy", "       01  R.\n       05  A PIC S9(3) SIGN LEADING\n               SEPARATE.\n"
                               "       05  B PIC 9(4) COMP SYNC.\n");
    Result expected = RunCli({"layout", plain});
    Result r = RunCli({"layout", clauses});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(expected.out, r.out) << "the layout is that of the default rules";
    const std::string prefix = "quillbox-cli: " + clauses;
    EXPECT_EQ(0u, r.err.find(prefix + ":2: warning: SIGN ... SEPARATE is passed over")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("\n" + prefix + ":4: warning: SYNC is passed over")) << r.err;
    EXPECT_EQ(2, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    std::remove(plain.c_str());
    std::remove(clauses.c_str());
}

TEST(CliDefaultRules, CarriageReturnLineEndsAndByteOrderMark) {
    // Old Macintosh line ends, CR LF, and a UTF-8 byte order mark before a comment line:
    // the same layout as the plain file.
    const std::string lines[] = {"      * the record", "       01  R.", "       05  A PIC X(3).", "       05  B PIC 9(2)."};
    std::string lf, cr, crlf;
    for (const std::string& line : lines) {
        lf += line + "\n";
        cr += line + "\r";
        crlf += line + "\r\n";
    }
    const std::string plain = Scratch("lf.cpy", lf);
    Result expected = RunCli({"layout", plain});
    ASSERT_EQ(0, expected.status) << expected.err;
    ASSERT_NE(std::string::npos, expected.out.find("         5Byte"));
    for (const std::string& text : {cr, "\xEF\xBB\xBF" + crlf, "\xEF\xBB\xBF" + cr}) {
        const std::string file = Scratch("other.cpy", text);
        Result r = RunCli({"layout", file});
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(expected.out, r.out);
        std::remove(file.c_str());
    }
    std::remove(plain.c_str());
}

#ifndef _WIN32
// A temporary folder of the run, removed again; whether the run left anything in it.
class TemporaryFolder {
public:
    TemporaryFolder() : path_(Here(ScratchName("tmpdir").c_str())) { mkdir(path_.c_str(), 0700); }
    ~TemporaryFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& Path() const { return path_; }
    // The names in the folder.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::string listing = path_ + ".listing";
        std::system(("ls -A '" + path_ + "' > '" + listing + "'").c_str());
        std::string text = qbtest::ReadFileBytes(listing);
        std::remove(listing.c_str());
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            std::string name = text.substr(at, end - at);
            if (!name.empty()) names.push_back(name);
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return names;
    }

private:
    std::string path_;
};

TEST(CliStandardInput, CopyMembersAreSearchedInTheWorkingFolderNeverBesideTheTemporaryCopy) {
    // The member as a copybook in the working folder (the repository) finds it; a file
    // planted in the shared temporary folder under the same name is never taken.
    TemporaryFolder temporary;
    const std::string member = "tests/cli/cobol/copy/PAYLINE.cpy";
    ASSERT_EQ(0, std::system(("mkdir -p '" + temporary.Path() + "/tests/cli/cobol/copy'").c_str()));
    ASSERT_TRUE(qbtest::WriteFileBytes(temporary.Path() + "/" + member, "           10  PLANTED PIC X.\n"));
    RunOptions input;
    input.input = "       01  R.\n           COPY \"" + member + "\"\n               REPLACING ==:P:== BY ==PL==.\n";
    input.inputThroughPipe = true;
    input.temporaryFolder = temporary.Path();
    for (const char* name : {"-", "/dev/stdin"}) {
        SCOPED_TRACE(name);
        Result r = RunCli({"tsv", "--cobol", name}, input);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.out.find("\tPL-ITEM\t")) << r.out;
        EXPECT_EQ(std::string::npos, r.out.find("PLANTED"));
    }
    EXPECT_EQ(std::vector<std::string>{"tests"}, temporary.Names()) << "a temporary file was left behind";
}

TEST(CliStandardInput, EndlessInputStopsAt64Megabytes) {
    TemporaryFolder temporary;
    RunOptions options;
    options.temporaryFolder = temporary.Path();
    // A copy may not grow past the bound (the holes of zeros take no disk anyway).
    options.fileSizeLimit = (64L << 20) + 1;
    for (const char* cobol : {"", "--cobol"}) {
        std::vector<std::string> args{"layout"};
        if (*cobol != '\0') args.push_back(cobol);
        args.push_back("/dev/zero");
        Result r = RunCli(args, options);
        ExpectNamedFailure(r, "/dev/zero");
        EXPECT_NE(std::string::npos, r.err.find("goes past 64 MB")) << r.err;
    }
    // Copybook text through a pipe that gives more than the bound.
    std::string text;
    while (text.size() <= (65u << 20)) text += "      * a comment line of a copybook that never ends\n";
    options.input = text;
    options.inputThroughPipe = true;
    Result piped = RunCli({"layout", "-"}, options);
    EXPECT_EQ(1, piped.status);
    EXPECT_NE(std::string::npos, piped.err.find("goes past 64 MB")) << piped.err;
    EXPECT_TRUE(temporary.Names().empty()) << "a temporary file was left behind";
}

TEST(CliStandardInput, InterruptedRunLeavesNoTemporaryFile) {
    TemporaryFolder temporary;
    // A pipe that stays open (the run holds its other end): the run waits in the copy,
    // whose folder exists meanwhile, until a termination request ends it.
    pid_t child = fork();
    if (child == 0) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) _exit(127);
        dup2(pipeEnds[0], 0);
        setenv("TMPDIR", temporary.Path().c_str(), 1);
        execl(QB_CLI_PATH, QB_CLI_PATH, "layout", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    for (int i = 0; i < 100 && temporary.Names().empty(); ++i) usleep(20000);
    EXPECT_EQ(1u, temporary.Names().size()) << "the copy's folder while the run reads";
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_TRUE(temporary.Names().empty()) << "a temporary file was left behind";
}
#endif

// ---- Memory of json and layout: it does not grow with a table of every row ----

// Peak memory is measured on native builds without a sanitizer: the test is not built
// elsewhere (a skip there would fail `make test`).
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST(CliMemory, JsonAndLayoutHoldNoDocumentOrTableOfEveryRow) {
    // 50,000 items.
    std::string text = "       01  R.\n";
    for (int i = 0; i < 50000; ++i) text += "           05  ITEM-" + std::to_string(i) + " PIC X(8).\n";
    const std::string copybook = Scratch("many.cpy", text);
    Result layout = RunCli({"layout", copybook});
    Result json = RunCli({"json", copybook});
    ASSERT_EQ(0, layout.status) << layout.err;
    ASSERT_EQ(0, json.status) << json.err;
    EXPECT_NE(std::string::npos, layout.out.find("    400000Byte"));
    // The list of items takes some 300 bytes each; a table of rows another 960, a JSON
    // document of them several thousand.
    EXPECT_LT(layout.peakKilobytes, 50000) << "kB";
    EXPECT_LT(json.peakKilobytes, layout.peakKilobytes * 13 / 10) << "kB, layout " << layout.peakKilobytes;
    std::remove(copybook.c_str());
}
#endif

}  // namespace
