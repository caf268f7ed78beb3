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

#include "encoding.h"
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

std::string OpenFailure(int error) {
    return SystemToUtf8(OPEN_FAILED) + " (" + std::strerror(error) + ")";
}

// Copies everything `from` still holds into a new temporary file, whose name it
// returns. Failures name the copybook as given.
std::string CopyToTemporaryFile(std::FILE* from, const std::string& shownName) {
    std::string path;
    std::FILE* to = nullptr;
#ifdef _WIN32
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof folder, folder);
    if (n > 0 && n < sizeof folder && GetTempFileNameA(folder, "qbx", 0, name) != 0) {
        path = name;
        to = std::fopen(name, "wb");
    }
#else
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    std::string pattern = std::string(folder) + "/quillbox-cli.XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd >= 0) {
        path = pattern;
        to = fdopen(fd, "wb");
        if (to == nullptr) close(fd);
    }
#endif
    if (to == nullptr) {
        int error = errno;
        if (!path.empty()) std::remove(path.c_str());
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
        std::remove(path.c_str());
        throw CommandFailure{shownName, "reading the copybook text failed (" + std::string(std::strerror(error)) + ")"};
    }
    return path;
}

}  // namespace

void AddCopybookArgument(CLI::App* command, CopybookArgument& copybook) {
    command->add_option("COPYBOOK", copybook.name,
                        "the copybook file; \"-\" reads it from standard input")
        ->required();
}

LoadedCopybook::~LoadedCopybook() {
    analyzer.reset();
    if (!temporaryFile.empty()) std::remove(temporaryFile.c_str());
}

void LoadCopybook(const CopybookArgument& argument, LoadedCopybook& loaded) {
    const std::string& given = argument.name;
    const std::string shown = ArgumentToUtf8(given);
    loaded.name = given;
    loaded.analyzer.reset(new CopyAnalyzer(""));
    std::string path = given;

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

    if (!loaded.analyzer->SetFileName(path.c_str())) {
        throw CommandFailure{shown, "the path is " + std::to_string(path.size()) +
                                        " bytes long; the analysis takes at most 256 bytes"};
    }
    NamingFile(shown, [&] {
        try {
            loaded.head = loaded.analyzer->Analyze();
        } catch (CItemLimitException&) {
            throw CommandFailure{shown, "the copybook needs more than " + GroupedDigits(MAX_LIST_ITEMS) +
                                            " items, the limit of an analysis"};
        }
        return 0;
    });
    loaded.recordLength = loaded.analyzer->GetRecordLength();
}

void FailOnExport(int exportResult, int error, const std::string& out) {
    if (exportResult == EXPORT_OPEN_FAILED) {
        std::string message = SystemToUtf8("ファイルのオープンに失敗");
        if (error != 0) message += " (" + std::string(std::strerror(error)) + ")";
        throw CommandFailure{ArgumentToUtf8(out), message};
    }
    if (exportResult == EXPORT_WRITE_FAILED) throw CommandFailure{ArgumentToUtf8(out), SystemToUtf8("ファイルの書き込みに失敗")};
}

std::string SystemToUtf8(const std::string& text) { return ShiftJisToUtf8(text); }

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
    return ShiftJisToUtf8(argument);
#else
    return argument;
#endif
}

std::string ArgumentToShiftJis(const std::string& argument) {
#ifdef _WIN32
    return argument;
#else
    std::string converted;
    return Utf8ToShiftJis(argument, converted) ? converted : argument;
#endif
}

std::string ExceptionMessage(CException& error) { return SystemToUtf8(error.GetMessageText()); }

std::string ExceptionMessage(CGIException& error) { return SystemToUtf8(error.GetMessageText()); }
