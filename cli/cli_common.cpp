// The copybook of a command, its loading, and texts for a terminal.
#include "cli_common.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "textcodec.h"
#include "quillbox.h"

namespace {

// The engine's own text for a file it cannot open, followed here by the reason.
const char* const OPEN_FAILED = "ファイルのオープンに失敗！！";

// A count with thousands separators: 8,388,608.
std::string GroupedDigits(long count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

CommandFailure PathTooLong(const std::string& shown, const std::string& path) {
    return CommandFailure{shown, "the path is " + std::to_string(path.size()) +
                                     " bytes long; the analysis takes at most 256 bytes"};
}

// Removes a temporary file and takes it off the registry.
void RemoveTemporaryFile(const std::string& path) {
    if (path.empty()) return;
    std::remove(path.c_str());
    ForgetTemporaryFile(path);
}

std::string OpenFailure(int error) {
    return SystemToUtf8(OPEN_FAILED) + " (" + std::strerror(error) + ")";
}

// Copies everything `from` still holds into a new temporary file, whose name it
// returns. Failures name the copybook as given.
std::string CopyToTemporaryFile(std::FILE* from, const std::string& shownName) {
    std::string path;
    std::FILE* to = nullptr;
    {
        // Registered as soon as it is there: a signal that ends the program removes it.
        TemporaryFileHold hold;
#ifdef _WIN32
        char folder[MAX_PATH + 1];
        char name[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof folder, folder);
        if (n > 0 && n < sizeof folder && GetTempFileNameA(folder, "qbx", 0, name) != 0) {
            path = name;
            RegisterTemporaryFile(path);
            to = std::fopen(name, "wb");
        }
#else
        const char* folder = std::getenv("TMPDIR");
        if (folder == nullptr || *folder == '\0') folder = "/tmp";
        std::string pattern = std::string(folder) + "/quillbox-cli.XXXXXX";
        int fd = mkstemp(&pattern[0]);
        if (fd >= 0) {
            path = pattern;
            RegisterTemporaryFile(path);
            to = fdopen(fd, "wb");
            if (to == nullptr) close(fd);
        }
#endif
    }
    if (to == nullptr) {
        int error = errno;
        RemoveTemporaryFile(path);
        throw CommandFailure{shownName, "no temporary file for the copybook text (" + std::string(std::strerror(error)) + ")"};
    }
    char block[65536];
    std::size_t got;
    bool ok = true;
    while ((got = std::fread(block, 1, sizeof block, from)) > 0) {
        if (std::fwrite(block, 1, got, to) != got) {
            ok = false;
            break;
        }
    }
    int error = errno;
    if (std::ferror(from)) ok = false;
    if (std::fclose(to) != 0) ok = false;
    if (!ok) {
        RemoveTemporaryFile(path);
        throw CommandFailure{shownName, "reading the copybook text failed (" + std::string(std::strerror(error)) + ")"};
    }
    return path;
}

}  // namespace

void AddCopybookArgument(CLI::App* command, CopybookArgument& copybook) {
    command->add_option("COPYBOOK", copybook.name,
                        "the copybook file; \"-\" reads it from standard input")
        ->required();
    CLI::Option* cobol = command->add_flag(
        "--cobol", copybook.cobol,
        "analyse under the COBOL rules: copybooks as written (fixed or free format, COPY, levels 66, 77 "
        "and 88, every clause and usage), laid out as GnuCOBOL lays them out");
    // Each occurrence of -I and --replace takes one value, so that a folder never takes
    // the copybook's place.
    command->add_option("-I,--include", copybook.includeDirs, "a folder searched for COPY members (repeatable)")
        ->allow_extra_args(false)
        ->needs(cobol);
    command->add_flag("--free", copybook.freeFormat, "free-format source from the first line")->needs(cobol);
    command->add_option("--replace", copybook.replacements,
                        "TAG=TEXT: replace TAG (a :TAG: placeholder, say) by TEXT in every word (repeatable)")
        ->allow_extra_args(false)
        ->needs(cobol)
        ->check([](const std::string& value) {
            return value.find('=') == std::string::npos || value[0] == '=' ? std::string("expected TAG=TEXT")
                                                                            : std::string();
        });
    command->add_option("--pointer-size", copybook.pointerSize, "bytes of a POINTER item: 4 (default) or 8")
        ->needs(cobol)
        ->check(CLI::IsMember({4, 8}));
}

void AddExpandFlag(CLI::App* command, bool& expand) {
    command->add_flag("--expand", expand, "show every array element (array expansion on)");
}

LoadedCopybook::~LoadedCopybook() {
    analyzer.reset();
    RemoveTemporaryFile(temporaryFile);
}

namespace {

CobolOptions CobolSettings(const CopybookArgument& argument) {
    CobolOptions options;
    options.includeDirs = argument.includeDirs;
    options.freeFormat = argument.freeFormat;
    options.pointerSize = argument.pointerSize;
    for (const std::string& replacement : argument.replacements) {
        std::string text = ArgumentToShiftJis(replacement);
        std::size_t equals = text.find('=');
        options.replacements.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return options;
}

// "FILE:LINE" of a place in a copybook: the name as given on the command line for the
// file analysed (which may be a temporary copy of standard input), the member's path
// otherwise; the file alone when there is no line.
std::string CopybookPlace(const std::string& file, int line, const std::string& analysedPath, const std::string& shown) {
    std::string place = file.empty() || file == analysedPath ? shown : SystemToUtf8(file);
    if (line > 0) place += ":" + std::to_string(line);
    return place;
}

}  // namespace

void LoadCopybook(const CopybookArgument& argument, LoadedCopybook& loaded) {
    const std::string& given = argument.name;
    const std::string shown = ArgumentToUtf8(given);
    loaded.name = given;
    if (argument.cobol) {
        loaded.analyzer.reset(new CobolAnalyzer("", CobolSettings(argument)));
    } else {
        loaded.analyzer.reset(new CopyAnalyzer(""));
    }
    std::string path = given;

    // A path longer than the analysis keeps is refused before anything else, never
    // cut: a cut path may name another file.
    if (given != "-" && !loaded.analyzer->SetFileName(given.c_str())) throw PathTooLong(shown, given);

    if (given == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        path = loaded.temporaryFile = CopyToTemporaryFile(stdin, shown);
    } else {
        struct stat status;
        if (stat(given.c_str(), &status) != 0) throw CommandFailure{shown, OpenFailure(errno)};
        if (S_ISDIR(status.st_mode)) throw CommandFailure{shown, OpenFailure(EISDIR)};
        std::FILE* file = std::fopen(given.c_str(), "rb");
        if (file == nullptr) throw CommandFailure{shown, OpenFailure(errno)};
        if (!S_ISREG(status.st_mode)) {
            // A pipe, a terminal or a device: the analysis needs a file it can measure.
            try {
                path = loaded.temporaryFile = CopyToTemporaryFile(file, shown);
            } catch (...) {
                std::fclose(file);
                throw;
            }
        }
        std::fclose(file);
    }

    if (!loaded.analyzer->SetFileName(path.c_str())) throw PathTooLong(shown, path);
    NamingFile(shown, [&] {
        try {
            loaded.head = loaded.analyzer->Analyze();
        } catch (CCobolException& refusal) {
            std::string message = ExceptionMessage(refusal);
            const std::string entry = refusal.GetEntryText();
            if (!entry.empty()) message += "\n    " + SystemToUtf8(entry);
            throw CommandFailure{CopybookPlace(refusal.GetCopybookFile(), refusal.GetCopybookLine(), path, shown),
                                 message};
        } catch (CItemLimitException&) {
            throw CommandFailure{shown, "the copybook needs more than " + GroupedDigits(MAX_LIST_ITEMS) +
                                            " items, the limit of an analysis"};
        }
        return 0;
    });
    loaded.recordLength = loaded.analyzer->GetRecordLength();
    if (CobolAnalyzer* cobol = loaded.Cobol()) {
        for (const CobolWarning& warning : cobol->Warnings()) {
            std::string line = "quillbox-cli: " + CopybookPlace(warning.fileName, warning.line, path, shown) +
                               ": warning: " + SystemToUtf8(warning.message);
            line = TerminalSafe(line) + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
    }
}

const char* const OUTPUT_FILE_HELP =
    "the file to write, \"-\" for standard output; it replaces the file there only when complete "
    "(a link's target is replaced, the link kept), a pipe or a device is written directly, an input is refused";

OutputFile::Texts ExportTexts() {
    return OutputFile::Texts{SystemToUtf8("ファイルのオープンに失敗"), SystemToUtf8("ファイルの書き込みに失敗")};
}

std::string SystemToUtf8(const std::string& text) { return quillbox::ShiftJisToUtf8(text); }

std::string TerminalSafe(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            out += '?';   // U+0080 to U+009F
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void WriteOut(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

std::string ArgumentToUtf8(const std::string& argument) {
#ifdef _WIN32
    return quillbox::ShiftJisToUtf8(argument);
#else
    return argument;
#endif
}

std::string ArgumentToShiftJis(const std::string& argument) {
#ifdef _WIN32
    return argument;
#else
    std::string converted;
    return quillbox::Utf8ToShiftJis(argument, converted) ? converted : argument;
#endif
}

std::string ExceptionMessage(CException& error) { return SystemToUtf8(error.GetMessageText()); }

std::string ExceptionMessage(CGIException& error) { return SystemToUtf8(error.GetMessageText()); }

CLI::App* AddRowsCommand(CLI::App& program, const char* name, const char* description, bool& expand,
                         CopybookArgument& copybook) {
    CLI::App* command = program.add_subcommand(name, description);
    AddExpandFlag(command, expand);
    AddCopybookArgument(command, copybook);
    return command;
}
