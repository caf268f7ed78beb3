// quillbox-cli: the layout of a copybook for a terminal (layout, json) and the exact
// bytes of the desktop program's clipboard copy (tsv), HTML report (html) and CREATE
// TABLE file (ddl). Each command is added by its own file (commands.h).
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

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
    "copybook from standard input; pipes and devices work too.\n";

const char* const EXIT_HELP = "exit status: 0 done; 1 the analysis or a file failed; 2 bad usage";

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
    CLI::App program("The record layout of a COBOL copybook, for a terminal or a script.", "quillbox-cli");
    auto formatter = std::make_shared<HelpFormatter>();
    program.formatter(formatter);
    program.footer(std::string(INPUT_HELP) + "\n" + EXIT_HELP);
    program.set_version_flag("--version", "quillbox-cli " QB_VERSION);
    program.require_subcommand(1);

    AddLayoutCommand(program);
    AddTsvCommand(program);
    AddHtmlCommand(program);
    AddDdlCommand(program);
    AddJsonCommand(program);
    AddDecodeCommand(program);
    AddEncodeCommand(program);
    for (CLI::App* command : program.get_subcommands({})) {
        if (command->get_footer().empty()) {
            command->footer(INPUT_HELP);
        } else {
            command->footer(std::string(INPUT_HELP) + "\n" + command->get_footer());
        }
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
        std::string text = "quillbox-cli: " + std::string(error.what()) + "\n" + UsageText(program, *formatter);
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
