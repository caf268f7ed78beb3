// quillbox-cli ddl: the desktop program's CREATE TABLE file.
#include <cstdio>
#include <memory>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"

namespace {

struct DdlOptions {
    CopybookArgument copybook;
    std::string out;
    std::string table;
    bool serialNo = false;
    bool quoteNames = false;
};

// The table name as the desktop program takes it: at most 1023 bytes of Shift_JIS,
// never half a character.
std::string TableName(const std::string& argument) {
    std::string table = ArgumentToShiftJis(argument);
    table.resize(ShiftJisCutLength(table.data(), table.size(), TABLE_NAME_CAPACITY - 1, true));
    return table;
}

}  // namespace

void AddDdlCommand(CLI::App& program) {
    auto options = std::make_shared<DdlOptions>();
    CLI::App* command = program.add_subcommand("ddl", "the CREATE TABLE file (Shift_JIS, CR LF)");
    command->add_option("--table", options->table, "the table name (at most 1023 bytes in Shift_JIS)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& name) { return name.empty() ? std::string("the table name is empty") : std::string(); },
            "NAME"));
    command->add_flag("--serial-no", options->serialNo, "number array columns by the item's running number");
    command->add_flag("--quote-names", options->quoteNames, "enclose the table and column names in double quotes");
    AddCopybookArgument(command, options->copybook);
    command->add_option("OUT", options->out, OUTPUT_FILE_HELP)->required();
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        const std::string table = TableName(options->table);
        WriteExport(options->out, options->copybook.name, [&](std::FILE* file) {
            return WriteCreateTable(file, copybook.Head(), table.c_str(), options->serialNo, options->quoteNames);
        });
    });
}
