// quillbox-cli decode: the records of a data file as CSV or JSON Lines.
#include "commands.h"
#include "data_command_options.h"

void AddDecodeCommand(CLI::App& program) {
    AddDataCommand(program,
                   {"decode", "the records of a data file as CSV or JSON Lines (UTF-8)", "DATA",
                    "the data file; \"-\" reads standard input",
                    "Numbers are exact decimal text (P scaling applied, unsigned items never negative); text\n"
                    "is converted to UTF-8; BIT items are strings of 0 and 1. CSV has a header row of the\n"
                    "DDL's column names. Bad data is reported as FILE: record N, item NAME (offset K): reason.",
                    true});
}
