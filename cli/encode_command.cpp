// quillbox-cli encode: CSV or JSON Lines back into the records of a data file.
#include <memory>

#include "commands.h"
#include "data_command_options.h"

void AddEncodeCommand(CLI::App& program) {
    auto options = std::make_shared<DataCommandOptions>();
    CLI::App* command = program.add_subcommand("encode", "CSV or JSON Lines back into the records of a data file");
    AddDataOptions(command, *options, "INPUT", "the CSV or JSON Lines file; \"-\" reads standard input");
    command->footer(
        "The exact inverse of decode: a CSV needs decode's header row. A value that does not fit\n"
        "its item (too many digits or decimals, text too long, a bit other than 0 or 1) is bad\n"
        "data under --on-error, never cut.\n"
        "exit status: 0 done; 1 stopped on bad data or a file failed; 2 bad usage; 3 bad data skipped");
    command->callback([options] { RunDataCommand(*options, false); });
}
