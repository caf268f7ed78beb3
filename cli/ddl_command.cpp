// quillbox-cli ddl: the desktop program's CREATE TABLE file.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"
#include "rectypes.h"

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

// Under the COBOL rules every 01 record lays out the same bytes, a record type of the
// file: a CREATE TABLE for each, named TABLE_RECORD, with the columns decode writes to
// that record's table. False when a write failed.
bool WriteRecordTables(std::FILE* file, const std::vector<CopyItem*>& records, const std::string& table,
                       bool serialNo, bool quoteNames) {
    bool ok = true;
    for (size_t i = 0; i < records.size(); ++i) {
        std::string name = table + "_" + records[i]->name;
        name.resize(ShiftJisCutLength(name.data(), name.size(), TABLE_NAME_CAPACITY - 1, true));
        if (i > 0 && PrintText(file, "\n") < 0) ok = false;
        quillbox::WithRecordAlone(records[i], [&] {
            if (!WriteCreateTable(file, records[i], name.c_str(), serialNo, quoteNames)) ok = false;
        });
    }
    return ok;
}

}  // namespace

void AddDdlCommand(CLI::App& program) {
    auto options = std::make_shared<DdlOptions>();
    CLI::App* command = program.add_subcommand("ddl", "the CREATE TABLE file (Shift_JIS, CR LF)");
    command->add_option("--table", options->table, "the table name (at most 1023 bytes in Shift_JIS); with --cobol, a copybook of several 01 "
                    "records gets a CREATE TABLE per record, named TABLE_RECORD, with the columns of decode's table "
                    "of that record")
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
        std::vector<CopyItem*> records = quillbox::RecordsOf(copybook.Head());
        bool perRecord = options->copybook.cobol && records.size() > 1 && records[1]->position == 1;
        WriteExport(options->out, options->copybook.name, [&](std::FILE* file) {
            if (perRecord) return WriteRecordTables(file, records, table, options->serialNo, options->quoteNames);
            return WriteCreateTable(file, copybook.Head(), table.c_str(), options->serialNo, options->quoteNames);
        });
    });
}
