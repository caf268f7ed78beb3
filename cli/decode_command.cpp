// quillbox-cli decode: the records of a data file as CSV or JSON Lines.
#include <memory>

#include "commands.h"
#include "data_command_options.h"

void AddDecodeCommand(CLI::App& program) {
    auto options = std::make_shared<DataCommandOptions>();
    CLI::App* command = program.add_subcommand("decode", "the records of a data file as CSV or JSON Lines (UTF-8)");
    AddDataOptions(command, *options, "DATA", "the data file; \"-\" reads standard input");
    command->footer(
        "Numbers are exact decimal text (P scaling applied, unsigned items never negative); text\n"
        "is converted to UTF-8; BIT items are strings of 0 and 1. CSV has a header row of the\n"
        "DDL's column names. Bad data is reported as FILE: record N, item NAME (offset K): reason.\n"
        "exit status: 0 done; 1 stopped on bad data or a file failed; 2 bad usage; 3 bad data skipped");
    command->callback([options] { RunDataCommand(*options, true); });
}
