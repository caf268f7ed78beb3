// quillbox-cli encode: CSV or JSON Lines back into the records of a data file.
#include "commands.h"
#include "data_command_options.h"

void AddEncodeCommand(CLI::App& program) {
    AddDataCommand(program,
                   {"encode", "CSV or JSON Lines back into the records of a data file", "INPUT",
                    "the CSV or JSON Lines file; \"-\" reads standard input",
                    "The exact inverse of decode: a CSV needs decode's header row. A value that does not fit\n"
                    "its item (too many digits or decimals, text too long, a bit other than 0 or 1) is bad\n"
                    "data under --on-error, never cut.",
                    false});
}
