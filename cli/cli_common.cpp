// The copybook of a command, its loading, and texts for a terminal.
#include "cli_common.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "copyplaces.h"
#include "english.h"
#include "output_file.h"
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

std::string OpenFailure(int error) {
    return SystemToUtf8(OPEN_FAILED) + " (the file cannot be opened: " + std::strerror(error) + ")";
}

// The most bytes of copybook text read from standard input, a pipe or a device: a pipe
// that never ends is refused there, before it fills the temporary folder. (A copybook
// file may be larger, up to what an analysis takes: under 2 GB.)
constexpr long long kMaxPipedCopybookBytes = 64LL * 1024 * 1024;

// A copy of a copybook read from standard input, a pipe or a device, for the analysis,
// which reads a file it can measure: in a folder of its own (created for this run,
// readable by this user only), never beside other files of the shared temporary folder.
// Both are removed when the copy goes, also when the run is interrupted meanwhile.
class TemporaryCopy {
public:
    TemporaryCopy() = default;
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;
    ~TemporaryCopy() { Remove(); }

    const std::string& Path() const { return file_; }

    // Copies everything `from` still holds, at most kMaxPipedCopybookBytes. Failures name the
    // copybook as `shownName`.
    void Make(std::FILE* from, const std::string& shownName) {
        MakeFolder(shownName);
        file_ = folder_ + kSeparator + "copybook.cpy";
        // The signal handler of the temporary files removes the copy, then its folder.
        RegisterTemporaryFile(file_);
        std::FILE* to = std::fopen(file_.c_str(), "wb");
        if (to == nullptr) {
            const int error = errno;
            throw CommandFailure{shownName, "no temporary file for the copybook text (" + std::string(std::strerror(error)) + ")"};
        }
        // A block of NUL bytes is left as a hole (written as one byte at the end when it
        // ends the text): a device that gives nothing but zeros costs no disk.
        static const char kZeros[65536] = {};
        char block[65536];
        long long total = 0, hole = 0;
        std::size_t got;
        bool ok = true, tooLarge = false;
        while (ok && (got = std::fread(block, 1, sizeof block, from)) > 0) {
            total += static_cast<long long>(got);
            if (total > kMaxPipedCopybookBytes) {
                tooLarge = true;
                break;
            }
            if (std::memcmp(block, kZeros, got) == 0) {
                hole += static_cast<long long>(got);
                continue;
            }
            ok = SkipHole(to, hole) && std::fwrite(block, 1, got, to) == got;
        }
        int error = errno;
        if (ok && !tooLarge && hole > 0) {
            --hole;
            ok = SkipHole(to, hole) && std::fputc(0, to) != EOF;
        }
        if (ok && std::ferror(from)) ok = false;
        if (std::fclose(to) != 0) ok = false;
        if (tooLarge)
            throw CommandFailure{shownName, "the copybook text read from standard input, a pipe or a device goes "
                                            "past 64 MB, the most taken from one; nothing was analysed (give a "
                                            "copybook file instead)"};
        if (!ok) throw CommandFailure{shownName, "reading the copybook text failed (" + std::string(std::strerror(error)) + ")"};
    }

    void Remove() {
        if (!file_.empty()) std::remove(file_.c_str());
        if (!folder_.empty()) {
#ifdef _WIN32
            RemoveDirectoryA(folder_.c_str());
#else
            rmdir(folder_.c_str());
#endif
        }
        ForgetTemporaryFile(file_);
        ForgetTemporaryFile(folder_);
        file_.clear();
        folder_.clear();
    }

private:
#ifdef _WIN32
    static constexpr const char* kSeparator = "\\";
#else
    static constexpr const char* kSeparator = "/";
#endif

    static bool SkipHole(std::FILE* to, long long& hole) {
        if (hole == 0) return true;
        const bool ok = std::fseek(to, static_cast<long>(hole), SEEK_CUR) == 0;
        hole = 0;
        return ok;
    }

    void MakeFolder(const std::string& shownName) {
        int error = 0;
#ifdef _WIN32
        char temp[MAX_PATH + 1];
        char name[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof temp, temp);
        // A unique name from the system, taken over by a folder of that name.
        if (n > 0 && n < sizeof temp && GetTempFileNameA(temp, "qbx", 0, name) != 0) {
            DeleteFileA(name);
            if (CreateDirectoryA(name, nullptr)) folder_ = name;
        }
        error = EACCES;
#else
        const char* temp = std::getenv("TMPDIR");
        if (temp == nullptr || *temp == '\0') temp = "/tmp";
        std::string pattern = std::string(temp) + "/quillbox-cli.XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) folder_ = pattern;
        error = errno;
#endif
        if (!folder_.empty()) RegisterTemporaryFile(folder_);
        if (folder_.empty())
            throw CommandFailure{shownName, "no temporary folder for the copybook text (" + std::string(std::strerror(error)) + ")"};
    }

    std::string folder_;
    std::string file_;
};

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

void AddTableColumnOptions(CLI::App* command, TableColumnArguments& columns) {
    command->add_flag("--no-filler", columns.noFiller,
                      "FILLER items give no column (encode fills them with blanks of the data's code page)");
    command->add_option("--names", columns.names,
                        "column names: cobol (default, as the items are named) or sql (\"-\" as \"_\", names that "
                        "are SQL keywords quoted in SQL)")
        ->check(CLI::IsMember({"cobol", "sql"}));
}

void AddExpandFlag(CLI::App* command, bool& expand) {
    command->add_flag("--expand", expand, "show every array element (array expansion on)");
}

LoadedCopybook::~LoadedCopybook() { analyzer.reset(); }

namespace {

CobolOptions CobolSettings(const CopybookArgument& argument, bool fromWorkingFolder) {
    CobolOptions options;
    options.includeDirs = argument.includeDirs;
    // A copybook read from standard input or a pipe finds its members as a copybook
    // in the working folder would, never beside its temporary copy.
    if (fromWorkingFolder) options.copybookFolder = ".";
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

// A refusal of the default analysis: FILE:LINE of the entry concerned when there is
// one, and a second line when the COBOL rules read that entry.
CommandFailure DefaultRulesFailure(const PlacedCopyAnalyzer& analyzer, const std::string& shown, std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    if (analyzer.FailedLine() <= 0) return CommandFailure{shown, message};
    if (analyzer.FailedEntryReadByCobolRules())
        message += "\n    the COBOL rules read this entry: analyse the copybook with --cobol";
    return CommandFailure{shown + ":" + std::to_string(analyzer.FailedLine()), message};
}

// The folders a missing COPY member was looked for in, the COPY statement's file's
// first, and how to add another.
std::string MemberSearch(const CopybookArgument& argument, const std::string& including, const std::string& analysedPath,
                         bool fromWorkingFolder) {
    std::string folder;
    if (including.empty() || including == analysedPath) {
        folder = fromWorkingFolder ? "." : std::filesystem::path(analysedPath).parent_path().string();
    } else {
        folder = std::filesystem::path(including).parent_path().string();
    }
    if (folder.empty()) folder = ".";
    std::string searched = SystemToUtf8(folder);
    for (const std::string& dir : argument.includeDirs) searched += ", " + ArgumentToUtf8(dir);
    return "looked for in " + searched + " (as NAME, NAME.cpy, NAME.cob or NAME.cbl); -I DIR adds the folder that "
           "holds it";
}

void PrintWarning(const std::string& place, const std::string& message) {
    std::string line = TerminalSafe("quillbox-cli: " + place + ": warning: " + message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void LoadCopybook(const CopybookArgument& argument, LoadedCopybook& loaded) {
    const std::string& given = argument.name;
    const std::string shown = ArgumentToUtf8(given);
    loaded.name = given;
    std::string path = given;

    // A path longer than the analysis keeps is refused before anything else, never
    // cut: a cut path may name another file.
    if (given != "-" && std::strlen(given.c_str()) > 256) throw PathTooLong(shown, given);

    TemporaryCopy copy;
    if (given == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        copy.Make(stdin, shown);
    } else {
        struct stat status;
        if (stat(given.c_str(), &status) != 0) throw CommandFailure{shown, OpenFailure(errno)};
        if (S_ISDIR(status.st_mode)) throw CommandFailure{shown, OpenFailure(EISDIR)};
        std::FILE* file = std::fopen(given.c_str(), "rb");
        if (file == nullptr) throw CommandFailure{shown, OpenFailure(errno)};
        if (!S_ISREG(status.st_mode)) {
            // A pipe, a terminal or a device: the analysis needs a file it can measure.
            try {
                copy.Make(file, shown);
            } catch (...) {
                std::fclose(file);
                throw;
            }
        }
        std::fclose(file);
    }
    if (!copy.Path().empty()) path = copy.Path();

    if (argument.cobol) {
        loaded.analyzer.reset(new CobolAnalyzer("", CobolSettings(argument, !copy.Path().empty())));
    } else {
        loaded.analyzer.reset(new PlacedCopyAnalyzer(""));
    }
    PlacedCopyAnalyzer* placed = dynamic_cast<PlacedCopyAnalyzer*>(loaded.analyzer.get());
    if (!loaded.analyzer->SetFileName(path.c_str())) throw PathTooLong(shown, path);
    NamingFile(shown, [&] {
        try {
            loaded.head = loaded.analyzer->Analyze();
        } catch (CCobolException& refusal) {
            std::string message = ExceptionMessage(refusal);
            const std::string entry = refusal.GetEntryText();
            if (!entry.empty()) message += "\n    " + SystemToUtf8(entry);
            const std::string said = refusal.GetMessageText();   // the analysis's own text, Shift_JIS
            if (said.find("COPYメンバ ") == 0 && said.find("が見つかりません") != std::string::npos) {
                message += "\n    " + MemberSearch(argument, refusal.GetCopybookFile(), path, !copy.Path().empty());
            }
            throw CommandFailure{CopybookPlace(refusal.GetCopybookFile(), refusal.GetCopybookLine(), path, shown),
                                 message};
        } catch (CItemLimitException&) {
            std::string message = "the copybook needs more than " + GroupedDigits(MAX_LIST_ITEMS) + " items, the limit of an analysis";
            if (placed == nullptr) throw CommandFailure{shown, message};
            throw DefaultRulesFailure(*placed, shown, message);
        } catch (CException& error) {
            if (placed == nullptr) throw;
            throw DefaultRulesFailure(*placed, shown, ExceptionMessage(error));
        } catch (const char* text) {
            if (placed == nullptr) throw;
            throw DefaultRulesFailure(*placed, shown, SystemToUtf8(quillbox::WithEnglish(text)));
        }
        return 0;
    });
    // The analysis has read the copy; it goes at once (the exceptions above take it
    // with them as well).
    copy.Remove();
    loaded.recordLength = loaded.analyzer->GetRecordLength();
    if (CobolAnalyzer* cobol = loaded.Cobol()) {
        for (const CobolWarning& warning : cobol->Warnings())
            PrintWarning(CopybookPlace(warning.fileName, warning.line, path, shown),
                         SystemToUtf8(quillbox::WithEnglish(warning.message)));
    }
    if (placed != nullptr) {
        for (const CopySourceNote& note : placed->Notes()) {
            const std::string place = shown + ":" + std::to_string(note.line);
            if (note.kind == CopySourceNote::SignSeparate)
                PrintWarning(place, "SIGN ... SEPARATE is passed over by the default rules: the sign takes no byte of "
                                    "its own here, while COBOL gives it one (--cobol lays it out so)");
            else
                PrintWarning(place, "SYNC is passed over by the default rules: no slack bytes are laid out, while COBOL "
                                    "may align the item (--cobol lays it out so)");
        }
    }
}

const char* const OUTPUT_FILE_HELP =
    "the file to write, \"-\" for standard output; it replaces the file there only when complete "
    "(a link's target is replaced, the link kept), a pipe or a device is written directly, an input is refused";

OutputFile::Texts ExportTexts() {
    return OutputFile::Texts{SystemToUtf8("ファイルのオープンに失敗") + " / the file cannot be opened for writing",
                             SystemToUtf8("ファイルの書き込みに失敗") + " / the file could not be written"};
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

std::string ExceptionMessage(CException& error) { return SystemToUtf8(quillbox::WithEnglish(error.GetMessageText())); }

std::string ExceptionMessage(CGIException& error) { return SystemToUtf8(quillbox::WithEnglish(error.GetMessageText())); }

CLI::App* AddRowsCommand(CLI::App& program, const char* name, const char* description, bool& expand,
                         CopybookArgument& copybook) {
    CLI::App* command = program.add_subcommand(name, description);
    AddExpandFlag(command, expand);
    AddCopybookArgument(command, copybook);
    return command;
}
