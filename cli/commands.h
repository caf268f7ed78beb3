// The commands of quillbox-cli. Each adds its subcommand, with its options, help and
// work, to the program; main() calls them in the order the help lists them.
#ifndef QUILLBOX_CLI_COMMANDS_H
#define QUILLBOX_CLI_COMMANDS_H

#include <CLI/CLI.hpp>

void AddLayoutCommand(CLI::App& program);
void AddTsvCommand(CLI::App& program);
void AddHtmlCommand(CLI::App& program);
void AddDdlCommand(CLI::App& program);
void AddJsonCommand(CLI::App& program);
void AddDecodeCommand(CLI::App& program);
void AddEncodeCommand(CLI::App& program);
void AddVerifyCommand(CLI::App& program);
void AddSchemaCommand(CLI::App& program);

#endif
