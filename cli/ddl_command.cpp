// quillbox-cli ddl: the desktop program's CREATE TABLE file.
#include <cstdio>
#include <memory>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "layoutplan.h"
#include "quillbox.h"
#include "sqltable.h"
#include "textfile.h"

namespace {

struct DdlOptions {
    CopybookArgument copybook;
    std::string out;
    std::string table;
    bool serialNo = false;
    bool quoteNames = false;
    std::string dialect = "generic";
    TableColumnArguments columns;
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
    command->add_option("--dialect", options->dialect,
                        "generic (default: the desktop program's file, Shift_JIS), or the types and quoting of "
                        "sqlite, postgresql or db2 (UTF-8)")
        ->check(CLI::IsMember({"generic", "sqlite", "postgresql", "db2"}));
    AddTableColumnOptions(command, options->columns);
    AddCopybookArgument(command, options->copybook);
    command->add_option("OUT", options->out, OUTPUT_FILE_HELP)->required();
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        quillbox::SqlDialect dialect = quillbox::SqlDialect::kGeneric;
        quillbox::ParseSqlDialect(options->dialect, dialect);
        if (dialect == quillbox::SqlDialect::kGeneric) {
            const std::string table = TableName(options->table);
            WriteExport(options->out, options->copybook.name, [&](std::FILE* file) {
                return WriteCreateTable(file, copybook.Head(), table.c_str(), options->serialNo, options->quoteNames,
                                        options->columns.noFiller, options->columns.Naming());
            });
            return;
        }
        // A database's dialect: the columns of the data table decode writes.
        const std::string table = ArgumentToUtf8(options->table);
        std::string error;
        if (!quillbox::CheckTableName(table, dialect, error)) throw CommandFailure{"", error};
        quillbox::ColumnChoice choice;
        choice.noFiller = options->columns.noFiller;
        choice.naming = options->columns.Naming();
        quillbox::LayoutPlan plan;
        if (!quillbox::BuildLayoutPlan(copybook.Head(), static_cast<int>(copybook.RecordLength()), false,
                                       options->serialNo, choice, plan, error)) {
            throw CommandFailure{"", error};
        }
        const std::string sql = quillbox::CreateTableSql(plan, table, dialect, options->quoteNames);
        WriteExport(options->out, options->copybook.name, [&](std::FILE* file) {
            return WriteText(file, sql.data(), sql.size()) == sql.size();
        });
    });
}
