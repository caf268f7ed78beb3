// The output file of a command (html, ddl, decode, encode), opened so that nothing is
// lost and nothing is replaced by surprise, through FileReplacement (filereplace.h):
// a temporary file beside the name renamed into place by Commit; links followed; "-",
// pipes and devices written directly; an input refused; owner, mode and hard links
// kept. The failures become CommandFailure naming the output as given.
// Temporary files, this one and the copy of a copybook read from a pipe, are kept in the
// registry of filereplace.h, which SIGINT, SIGTERM, SIGHUP or SIGPIPE empty (main()
// asks for it) before ending the program with 128 + the signal's number.
#ifndef QUILLBOX_CLI_OUTPUT_FILE_H
#define QUILLBOX_CLI_OUTPUT_FILE_H

#include <cstdio>
#include <string>
#include <vector>

#include "filereplace.h"

class OutputFile {
public:
    // What a failure says after the file's name.
    struct Texts {
        std::string openFailed;    // before the reason in parentheses; empty: the reason alone
        std::string writeFailed;   // writing, closing or renaming failed
    };

    // Opens the output `name` (as given on the command line) of a command that reads
    // `inputs` (as given; "-" is standard input). Raises CommandFailure naming the
    // output when it is an input, a folder, a file that may not be written, or when it
    // cannot be created.
    OutputFile(const std::string& name, const std::vector<std::string>& inputs, const Texts& texts);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Without Commit, the temporary file is removed and the old file stays.
    ~OutputFile();

    // The stream to write, in binary mode.
    std::FILE* File() const { return replacement.File(); }
    // True when the output is written directly (standard output, a pipe, a device).
    bool Direct() const { return replacement.Direct(); }

    // Completes the output: the temporary file is flushed to the disk, closed and put in
    // place of the name; a direct output is flushed (and closed). Raises CommandFailure
    // naming the output (writeFailed) when that fails; the old file then stays.
    void Commit();
    // Gives the output up: the temporary file is removed, the old file stays.
    void Abandon();

private:
    std::string name;        // as given
    Texts texts;
    FileReplacement replacement;
};

#endif
