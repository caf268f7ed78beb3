// quillbox-cli ddl: the desktop program's CREATE TABLE file.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_common.h"
#include "commands.h"
#include "layoutplan.h"
#include "quillbox.h"
#include "sqltable.h"
#include "textfile.h"
#include "rectypes.h"

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

// Under the COBOL rules every 01 record lays out the same bytes, a record type of the
// file: a CREATE TABLE for each, named TABLE_RECORD, with the columns decode writes to
// that record's table. False when a write failed.
bool WriteRecordTables(std::FILE* file, const std::vector<CopyItem*>& records, const std::string& table,
                       bool serialNo, bool quoteNames, bool noFiller, ColumnNaming naming) {
    bool ok = true;
    std::vector<std::string> names;
    for (const CopyItem* record : records) names.push_back(record->name);
    names = quillbox::RecordTableNames(names, table, naming, true);
    for (size_t i = 0; i < records.size(); ++i) {
        std::string name = names[i];
        name.resize(ShiftJisCutLength(name.data(), name.size(), TABLE_NAME_CAPACITY - 1, true));
        if (i > 0 && PrintText(file, "\n") < 0) ok = false;
        quillbox::WithRecordAlone(records[i], [&] {
            if (!WriteCreateTable(file, records[i], name.c_str(), serialNo, quoteNames, noFiller, naming)) ok = false;
        });
    }
    return ok;
}

}  // namespace

bool WriteTableDdl(std::FILE* file, LoadedCopybook& copybook, const TableDdl& ddl) {
    quillbox::SqlDialect dialect = quillbox::SqlDialect::kGeneric;
    quillbox::ParseSqlDialect(ddl.dialect, dialect);
    // Under the COBOL rules several 01 records are record types: a table each.
    std::vector<CopyItem*> records = quillbox::RecordsOf(copybook.Head());
    bool perRecord = ddl.cobol && records.size() > 1 && records[1]->position == 1;
    const bool noFiller = ddl.columns.noFiller;
    const ColumnNaming naming = ddl.columns.Naming();
    if (dialect == quillbox::SqlDialect::kGeneric) {
        const std::string table = quillbox::TableNameAs(TableName(ddl.table), naming, true);
        if (perRecord) return WriteRecordTables(file, records, table, ddl.serialNo, ddl.quoteNames, noFiller, naming);
        return WriteCreateTable(file, copybook.Head(), table.c_str(), ddl.serialNo, ddl.quoteNames, noFiller, naming);
    }
    // A database's dialect: the columns of the data table decode writes.
    const std::string table = quillbox::TableNameAs(ArgumentToUtf8(ddl.table), naming);
    quillbox::ColumnChoice choice;
    choice.noFiller = noFiller;
    choice.naming = naming;
    std::string sql, error;
    auto add = [&](CopyItem* head, int length, const std::string& name) {
        quillbox::LayoutPlan plan;
        if (!quillbox::CheckTableName(name, dialect, error)) throw CommandFailure{"", error};
        if (!quillbox::BuildLayoutPlan(head, length, false, ddl.serialNo, choice, plan, error)) {
            throw CommandFailure{"", error};
        }
        sql += (sql.empty() ? "" : "\n") + quillbox::CreateTableSql(plan, name, dialect, ddl.quoteNames);
    };
    if (perRecord) {
        std::vector<std::string> names;
        for (const CopyItem* record : records) names.push_back(quillbox::RecordName(record));
        names = quillbox::RecordTableNames(names, table, naming);
        for (size_t i = 0; i < records.size(); ++i) {
            quillbox::WithRecordAlone(records[i], [&] { add(records[i], records[i]->byteLength, names[i]); });
        }
    } else {
        add(copybook.Head(), static_cast<int>(copybook.RecordLength()), table);
    }
    return WriteText(file, sql.data(), sql.size()) == sql.size();
}

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
    command->add_option("--dialect", options->dialect,
                        "generic (default: the desktop program's file, Shift_JIS), or the types and quoting of "
                        "sqlite, postgresql or db2 (UTF-8)")
        ->check(CLI::IsMember({"generic", "sqlite", "postgresql", "db2"}));
    AddTableColumnOptions(command, options->columns);
    AddCopybookArgument(command, options->copybook);
    command->add_option("OUT", options->out, OUTPUT_FILE_HELP)->required();
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        TableDdl ddl{options->table, options->serialNo, options->quoteNames, options->dialect, options->columns,
                     options->copybook.cobol};
        WriteExport(options->out, options->copybook.name, [&](std::FILE* file) { return WriteTableDdl(file, copybook, ddl); });
    });
}
