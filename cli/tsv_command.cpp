// quillbox-cli tsv: the desktop program's clipboard text of "copy all rows".
#include <memory>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"

namespace {

struct TsvOptions {
    CopybookArgument copybook;
    bool expand = false;
    bool noTitle = false;
};

}  // namespace

void AddTsvCommand(CLI::App& program) {
    auto options = std::make_shared<TsvOptions>();
    CLI::App* command = program.add_subcommand(
        "tsv", "the clipboard text of \"copy all rows\" (Shift_JIS, CR LF) to standard output");
    AddExpandFlag(command, options->expand);
    command->add_flag("--no-title", options->noTitle, "leave out the title row");
    AddCopybookArgument(command, options->copybook);
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        WriteOut(BuildClipboardText(ItemRowTable(copybook.Head(), options->expand), !options->noTitle));
    });
}
