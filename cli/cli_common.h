// What every command of quillbox-cli shares: the copybook named on the command line
// and its loading, the failure of a command, and texts for a terminal.
//
// A command lives in a file of its own and is added to the program by its
// registration function (commands.h), which declares the subcommand with its options
// and help, and sets the subcommand's callback to the work.
#ifndef QUILLBOX_CLI_COMMON_H
#define QUILLBOX_CLI_COMMON_H

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cobolrules.h"
#include "columnnames.h"
#include "output_file.h"

// The failure of a command: exit status 1 and "quillbox-cli: FILE: MESSAGE" on
// standard error. `file` is the name as given on the command line (the terminal's
// encoding); `message` is UTF-8.
struct CommandFailure {
    std::string file;
    std::string message;
};

// The end of a command with another exit status than 0 or 1 (decode and encode: 3 when
// bad data was met and not stopped on); main() returns it after the output is flushed.
struct CommandStatus {
    int status;
};

// The copybook named on the command line. Options that change how it is read are
// declared by AddCopybookArgument and kept here.
struct CopybookArgument {
    std::string name;   // as given; "-" for standard input
    // --cobol: the COBOL-rules analysis (CobolAnalyzer) instead of the default one, with
    // the settings below (each of them needs --cobol).
    bool cobol = false;
    std::vector<std::string> includeDirs;    // -I DIR, in order
    bool freeFormat = false;                 // --free
    std::vector<std::string> replacements;   // --replace TAG=TEXT, in order
    int pointerSize = 4;                     // --pointer-size 4|8
};

// Declares the positional COPYBOOK of `command` and the options of the COBOL rules.
void AddCopybookArgument(CLI::App* command, CopybookArgument& copybook);

// Declares --expand, the array-expansion setting of the desktop program (off unless
// given).
void AddExpandFlag(CLI::App* command, bool& expand);

// How a table command (decode, encode, ddl, schema) chooses and names its columns.
struct TableColumnArguments {
    bool noFiller = false;         // --no-filler
    std::string names = "cobol";   // --names cobol|sql
    ColumnNaming Naming() const { return names == "sql" ? ColumnNaming::kSql : ColumnNaming::kCobol; }
};
void AddTableColumnOptions(CLI::App* command, TableColumnArguments& columns);

// A copybook analysed for a command. Standard input, pipes and other files that are
// not plain files are copied to a temporary file first, removed once analysed.
class LoadedCopybook {
public:
    LoadedCopybook() = default;
    LoadedCopybook(const LoadedCopybook&) = delete;
    LoadedCopybook& operator=(const LoadedCopybook&) = delete;
    ~LoadedCopybook();

    CopyAnalyzer& Analyzer() { return *analyzer; }
    // The COBOL-rules analyzer under --cobol; null otherwise.
    CobolAnalyzer* Cobol() { return dynamic_cast<CobolAnalyzer*>(analyzer.get()); }
    CopyItem* Head() { return head; }
    unsigned long RecordLength() const { return recordLength; }
    // The name as given on the command line.
    const std::string& Name() const { return name; }

private:
    friend void LoadCopybook(const CopybookArgument& argument, LoadedCopybook& loaded);
    std::unique_ptr<CopyAnalyzer> analyzer;
    CopyItem* head = nullptr;
    unsigned long recordLength = 0;
    std::string name;
};

// Analyses the copybook named by `argument` into `loaded`. Every failure becomes a
// CommandFailure that names the copybook: a file that cannot be read says why, a path
// longer than the analysis keeps is refused, the analysis's own message is converted
// to UTF-8. A refusal of the COBOL rules names the file and line ("FILE:LINE", the
// member's own inside a COPY member) and adds the entry's text on a second line; the
// warnings of an accepted copybook go to standard error, one line each.
void LoadCopybook(const CopybookArgument& argument, LoadedCopybook& loaded);

// Runs `work`, turning the exceptions of the engine and of the support library into a
// CommandFailure naming `file`.
template <typename Work>
auto NamingFile(const std::string& file, Work work) -> decltype(work());

// Adds the subcommand `name` of a command that shows the item rows, with its --expand
// flag and then its COPYBOOK argument.
CLI::App* AddRowsCommand(CLI::App& program, const char* name, const char* description, bool& expand,
                         CopybookArgument& copybook);

// The same for a command whose options hold `expand` and `copybook`.
template <typename Options>
CLI::App* AddRowsCommand(CLI::App& program, const char* name, const char* description,
                         const std::shared_ptr<Options>& options) {
    return AddRowsCommand(program, name, description, options->expand, options->copybook);
}

// Sets the callback of `command`: the copybook named by `options->copybook` is
// analysed, then `work(options, copybook)` runs.
template <typename Options, typename Work>
void OnLoadedCopybook(CLI::App* command, std::shared_ptr<Options> options, Work work) {
    command->callback([options, work] {
        LoadedCopybook copybook;
        LoadCopybook(options->copybook, copybook);
        work(options, copybook);
    });
}

// Writes the file `out` (as given on the command line; "-" is standard output) of a
// command that read the copybook `copybook` (as given) with `writer`, a writer of an
// open stream that returns false when a write failed. The file is an OutputFile: it
// takes the place of the old one only when every byte was written, and is refused when
// it is the copybook. Failures are CommandFailures naming `out`.
template <typename Writer>
void WriteExport(const std::string& out, const std::string& copybook, Writer writer);

// The help of an output file argument: what becomes of the file that was there.
extern const char* const OUTPUT_FILE_HELP;

// What a failure of WriteExport says after the file's name.
OutputFile::Texts ExportTexts();

// The CREATE TABLE statements of a copybook's table (ddl, schema --format sql): the
// generic file (Shift_JIS) or a database's dialect (UTF-8); under the COBOL rules a
// table per record type. Throws CommandFailure for a table name the dialect refuses.
struct TableDdl {
    std::string table;
    bool serialNo = false;
    bool quoteNames = false;
    std::string dialect = "generic";
    TableColumnArguments columns;
    bool cobol = false;
};
bool WriteTableDdl(std::FILE* file, LoadedCopybook& copybook, const TableDdl& ddl);

// A text of the system (Shift_JIS) as UTF-8.
std::string SystemToUtf8(const std::string& text);

// A UTF-8 text made safe for a terminal: control characters (C0, DEL and C1) become
// "?", so that no byte of an item text can move the cursor or change the terminal.
std::string TerminalSafe(const std::string& utf8);

// Writes bytes to standard output; false when the stream failed.
void WriteOut(const std::string& bytes);

// Command-line arguments arrive in the ANSI code page on Windows, in UTF-8 elsewhere.
std::string ArgumentToUtf8(const std::string& argument);
std::string ArgumentToShiftJis(const std::string& argument);

// The message of an exception of the engine or of the support library, as UTF-8.
std::string ExceptionMessage(CException& error);
std::string ExceptionMessage(CGIException& error);

template <typename Work>
auto NamingFile(const std::string& file, Work work) -> decltype(work()) {
    try {
        return work();
    } catch (CException& error) {
        throw CommandFailure{file, ExceptionMessage(error)};
    } catch (CGIException& error) {
        throw CommandFailure{file, ExceptionMessage(error)};
    } catch (const char* text) {
        throw CommandFailure{file, SystemToUtf8(text)};
    }
}

template <typename Writer>
void WriteExport(const std::string& out, const std::string& copybook, Writer writer) {
    const OutputFile::Texts texts = ExportTexts();
    OutputFile output(out, {copybook}, texts);
    const std::string shown = out == "-" ? std::string() : ArgumentToUtf8(out);
    const bool written = NamingFile(shown, [&] { return writer(output.File()); });
    if (!written) {
        if (out == "-") throw CommandFailure{"", "writing to standard output failed"};
        throw CommandFailure{shown, texts.writeFailed};
    }
    output.Commit();
}

#endif
