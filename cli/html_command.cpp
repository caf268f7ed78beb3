// quillbox-cli html: the desktop program's HTML report of the layout.
#include <cstdio>
#include <memory>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"

namespace {

struct HtmlOptions {
    CopybookArgument copybook;
    std::string out;
    bool expand = false;
};

}  // namespace

void AddHtmlCommand(CLI::App& program) {
    auto options = std::make_shared<HtmlOptions>();
    CLI::App* command = AddRowsCommand(
        program, "html", "the HTML report (Shift_JIS, CR LF); its file line shows COPYBOOK as given", options);
    command->add_option("OUT", options->out, OUTPUT_FILE_HELP)->required();
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        const std::string shown = ArgumentToShiftJis(options->copybook.name);
        WriteExport(options->out, options->copybook.name, [&](std::FILE* file) {
            return WriteHtmlReport(file, copybook.Head(), copybook.RecordLength(), shown.c_str(), options->expand);
        });
    });
}
