// quillbox-cli verify: every record of a data file checked, no table written.
#include "commands.h"
#include "data_command_options.h"

void AddVerifyCommand(CLI::App& program) {
    DataCommandText text{"verify", "checks every record of a data file; writes no table", "DATA",
                         "the data file; \"-\" reads standard input",
                         "Every value is decoded as decode does, and bad data reported as FILE: record N, item NAME\n"
                         "(offset K): reason. The summary of the counts ends the run; --report writes them as JSON,\n"
                         "--rejects the bad records. Bad records are counted and passed over (--on-error skip) unless\n"
                         "--on-error says otherwise; -o, --format and the table's options take no effect.",
                         true};
    text.verify = true;
    AddDataCommand(program, text);
}
