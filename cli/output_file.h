// The output file of a command (html, ddl, decode, encode), opened so that nothing is
// lost and nothing is replaced by surprise:
// - a regular file, or a name not there yet, is written as a temporary file in the same
//   folder and renamed over the name only by Commit: a run that fails, stops on bad data
//   or is interrupted leaves the file that was there as it was;
// - a symbolic link is followed, and its target replaced that way; the link stays;
// - "-" is standard output; a pipe (FIFO) and a device are written directly, and so is
//   a name that stands for an open file of the process (/dev/stdout, /proc/self/fd/N);
// - an output that is the same file as an input of the command (hard and symbolic links
//   included) is refused before anything is opened for writing.
// Temporary files, this one and the copy of a copybook read from a pipe, are kept in a
// registry that a signal handler empties: SIGINT, SIGTERM, SIGHUP or SIGPIPE remove
// them and end the program with 128 + the signal's number (130 for SIGINT).
#ifndef QUILLBOX_CLI_OUTPUT_FILE_H
#define QUILLBOX_CLI_OUTPUT_FILE_H

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

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
    std::FILE* File() const { return file; }
    // True when the output is written directly (standard output, a pipe, a device).
    bool Direct() const { return temporary.empty(); }

    // Completes the output: the temporary file is flushed to the disk, closed and put in
    // place of the name; a direct output is flushed (and closed). Raises CommandFailure
    // naming the output (writeFailed) when that fails; the old file then stays.
    void Commit();
    // Gives the output up: the temporary file is removed, the old file stays.
    void Abandon();

private:
    std::string name;        // as given
    std::string target;      // the path a temporary file is renamed to
    std::string temporary;   // empty for a direct output
    Texts texts;
    std::FILE* file = nullptr;
};

// Temporary files (and folders made for them) that a signal ending the program removes.
// The path is registered right after it is created (the signals are held in between,
// TemporaryFileHold) and forgotten right after it was removed or renamed.
void RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile(const std::string& path);

// A run that can end itself cleanly on a signal (a database load rolls back): while
// `stop` is set, the first ending signal only calls it (it must be async-signal-safe)
// and the run, stopping soon after, ends with 128 + the signal's number
// (EndIfSignalled). A second signal ends the program at once, as without it.
void SetSignalStop(void (*stop)());
// Ends the program as the signal that asked the run to stop would have (its temporary
// files removed first); returns when there was none.
void EndIfSignalled();

// Holds the signals that remove temporary files while a temporary file is created and
// registered, so that none is left between the two.
class TemporaryFileHold {
public:
    TemporaryFileHold();
    ~TemporaryFileHold();
    TemporaryFileHold(const TemporaryFileHold&) = delete;
    TemporaryFileHold& operator=(const TemporaryFileHold&) = delete;

private:
#ifndef _WIN32
    bool held = false;
    sigset_t saved;   // the signal mask before
#endif
};

#endif
