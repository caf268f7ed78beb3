// quillbox-cli: the layout of a copybook for a terminal (layout, json) and the exact
// bytes of the desktop program's clipboard copy (tsv), HTML report (html) and CREATE
// TABLE file (ddl). Each command is added by its own file (commands.h).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli_common.h"
#include "commands.h"
#include "quillbox_version.h"

namespace {

const char* const INPUT_HELP =
    "COPYBOOK is a COBOL copybook in fixed format: data description entries with level\n"
    "numbers 1 to 49, Shift_JIS text. Columns 1-6 (the sequence area) are ignored;\n"
    "column 7 is the indicator: \"*\" or \"/\" there makes a comment line. \"-\" reads the\n"
    "copybook from standard input; pipes and devices work too (at most 64 MB from them).\n";

// The exit statuses of the commands that show the layout (a data command lists its own).
const char* const EXIT_HELP = "exit status: 0 done; 1 the analysis or a file failed; 2 bad usage";

// What the program's help adds to the list of commands.
const char* const PROGRAM_HELP =
    "Every command takes --cobol: the copybook as written (COPY members from -I DIR, --free,\n"
    "--replace TAG=TEXT, --pointer-size 4|8), laid out as GnuCOBOL lays it out.\n"
    "decode and encode take -o FILE (standard output by default), --format csv|jsonl,\n"
    "--encoding CODEPAGE, --records fixed|lines|rdw|rdw-block and --on-error stop|skip|null.\n"
    "\"quillbox-cli COMMAND --help\" lists every option of a command.\n"
    "\n"
    "An output file (OUT, -o FILE) replaces the file there only when the command ends\n"
    "complete; \"-\" is standard output; an output that is an input is refused.\n";

const char* const PROGRAM_EXIT_HELP =
    "exit status: 0 done; 1 the analysis or a file failed, or decode/encode stopped on bad\n"
    "data; 2 bad usage; 3 decode/encode met bad data and skipped it or left it empty";

// The help with the usage line first, so that it starts with "usage:".
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter() { label("Usage", "usage"); }
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
        std::stringstream out;
        out << make_usage(app, name);
        out << make_description(app);
        out << make_positionals(app);
        out << make_groups(app, mode);
        out << make_subcommands(app, mode);
        out << '\n' << make_footer(app);
        return out.str();
    }
};

// The usage lines of the command that went wrong, or of every command.
std::string UsageText(const CLI::App& program, const HelpFormatter& formatter) {
    const CLI::App* failed = nullptr;
    for (const CLI::App* command : program.get_subcommands()) failed = command;
    std::string out;
    if (failed != nullptr) {
        out = formatter.make_usage(failed, program.get_name() + " " + failed->get_name());
    } else {
        for (const CLI::App* command : program.get_subcommands({})) {
            out += formatter.make_usage(command, program.get_name() + " " + command->get_name());
        }
    }
    return out + "Run with --help for more information.\n";
}

// The edits that turn `a` into `b`: inserting, deleting or changing a character, or
// swapping two neighbours (the optimal string alignment distance).
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t change = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                                         std::tolower(static_cast<unsigned char>(b[j - 1]))
                                     ? 0
                                     : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The command a mistyped `word` most likely meant: the first one it begins, else the
// nearest within a third of the command's length (at least one edit); empty for none.
std::string NearestCommand(const CLI::App& program, const std::string& word) {
    std::string nearest;
    std::size_t best = std::string::npos;
    for (const CLI::App* command : program.get_subcommands({})) {
        const std::string& name = command->get_name();
        if (!word.empty() && name.compare(0, word.size(), word) == 0) return name;
        std::size_t distance = EditDistance(word, name);
        if (distance <= std::max<std::size_t>(1, name.size() / 3) && distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest;
}

// The word of the command line that should name the command but names none: the first
// word that is no option (the program's own options take no value). Empty when the
// command is known or not given.
std::string UnknownCommand(const CLI::App& program, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return std::string();
        if (word.size() > 1 && word[0] == '-') continue;
        for (const CLI::App* command : program.get_subcommands({})) {
            if (command->get_name() == word) return std::string();
        }
        return word.empty() ? std::string("\"\"") : word;
    }
    return std::string();
}

// The option meant by an argument of the command line that names none of its command's
// options: "--encoding" for "--encodng" (a near name), "--on-error" for "-on-error" (one
// dash short). Returns "'WORD': did you mean 'OPTION'?"; empty when every option is known
// or none is near.
std::string MistypedOption(const CLI::App& program, int argc, char** argv) {
    const CLI::App* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") break;
        if (command == nullptr) {
            if (word.size() > 1 && word[0] == '-') continue;
            for (const CLI::App* candidate : program.get_subcommands({})) {
                if (candidate->get_name() == word) command = candidate;
            }
            if (command == nullptr) return std::string();
            continue;
        }
        if (word.size() < 3 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) continue;
        const bool twoDashes = word[1] == '-';
        const std::string name = word.substr(twoDashes ? 2 : 1, word.find('=') - (twoDashes ? 2 : 1));
        std::string nearest;
        std::size_t best = std::string::npos;
        bool exact = false;
        for (const CLI::Option* option : command->get_options()) {
            for (const std::string& longName : option->get_lnames()) {
                if (longName == name) {
                    // Given with one dash, it was read as short options and their values.
                    exact = twoDashes;
                    if (!twoDashes) nearest = longName;
                    break;
                }
                std::size_t distance = EditDistance(name, longName);
                if (twoDashes && distance <= std::max<std::size_t>(1, longName.size() / 3) && distance < best) {
                    best = distance;
                    nearest = longName;
                }
            }
            if (exact || (!twoDashes && !nearest.empty())) break;
        }
        if (exact) continue;
        if (!nearest.empty()) {
            return "'" + TerminalSafe(ArgumentToUtf8(word)) + "': did you mean '--" + nearest + "'?";
        }
    }
    return std::string();
}

// Writes "quillbox-cli: FILE: MESSAGE" (a message of one line) to standard error.
int Fail(const CommandFailure& failure) {
    std::string message = failure.message;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    std::string line = "quillbox-cli: " + (failure.file.empty() ? "" : failure.file + ": ") + message;
    line = TerminalSafe(line) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The outputs are exact bytes: no line-end conversion by the C runtime.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    // The temporary files of a run go when a signal ends it.
    RemoveTemporaryFilesOnSignals();
    CLI::App program("The record layout of a COBOL copybook, for a terminal or a script.", "quillbox-cli");
    auto formatter = std::make_shared<HelpFormatter>();
    program.formatter(formatter);
    program.set_version_flag("--version", "quillbox-cli " QB_VERSION);
    program.require_subcommand(1);

    AddLayoutCommand(program);
    AddTsvCommand(program);
    AddHtmlCommand(program);
    AddDdlCommand(program);
    AddJsonCommand(program);
    AddDecodeCommand(program);
    AddEncodeCommand(program);
    AddVerifyCommand(program);
    AddSchemaCommand(program);
    // Each command's help: what COPYBOOK is, the command's own words, its exit statuses.
    // The program's footer is set after the commands, which would take it over.
    for (CLI::App* command : program.get_subcommands({})) {
        std::string footer = INPUT_HELP;
        const std::string own = command->get_footer();
        if (!own.empty()) footer += "\n" + own;
        if (own.find("exit status:") == std::string::npos) footer += std::string("\n") + EXIT_HELP;
        command->footer(footer);
    }
    program.footer(std::string(INPUT_HELP) + "\n" + PROGRAM_HELP + "\n" + PROGRAM_EXIT_HELP);

    const std::string unknown = UnknownCommand(program, argc, argv);
    if (!unknown.empty()) {
        const std::string nearest = NearestCommand(program, unknown);
        std::string text = "quillbox-cli: unknown command '" + TerminalSafe(ArgumentToUtf8(unknown)) + "'" +
                           (nearest.empty() ? std::string() : "; did you mean '" + nearest + "'?") + "\n" +
                           UsageText(program, *formatter);
        std::fwrite(text.data(), 1, text.size(), stderr);
        return 2;
    }

    try {
        program.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return program.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return program.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return program.exit(version);
    } catch (const CLI::ParseError& error) {
        const std::string meant = MistypedOption(program, argc, argv);
        std::string text = "quillbox-cli: " + std::string(error.what()) + "\n" +
                           (meant.empty() ? std::string() : "quillbox-cli: " + meant + "\n") +
                           UsageText(program, *formatter);
        std::fwrite(text.data(), 1, text.size(), stderr);
        return 2;
    } catch (const CommandFailure& failure) {
        return Fail(failure);
    } catch (const CommandStatus& ended) {
        std::fflush(stdout);
        return ended.status;
    } catch (const std::exception& error) {
        return Fail(CommandFailure{"", error.what()});
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        return Fail(CommandFailure{"", "writing to standard output failed"});
    }
    return 0;
}
