// Writing a file so that nothing is lost and nothing is replaced by surprise: the one
// write-beside-then-rename routine of every writer (the command line's outputs, the
// text files of the desktop program, the data writer of the codec, the Python module).
//
// - A regular file, or a name not there yet, is written as a temporary file in the same
//   folder under a name no other writer uses (this process's number and a counter,
//   created exclusively), and put in place of the name only by Commit: a writer that
//   fails, stops or is interrupted leaves the file that was there as it was. Two
//   writers of one name both complete; the name ends up with one of the two files whole.
// - A symbolic link is followed, and its target replaced that way; the link stays.
// - A pipe (FIFO) and a device are written directly, and so is a name that stands for
//   an open file of the process (/dev/stdout, /proc/self/fd/N); "-" is standard output
//   when the options say so.
// - An output that is the same file as one of the writer's inputs (hard and symbolic
//   links included) is refused before anything is opened for writing.
// - A file that a rename would change is written in place instead: one with other hard
//   links, or one whose owner or group the new file could not be given. The text still
//   goes to the temporary file first; Commit copies it into the file with the signals of
//   the temporary-file registry held, so the file keeps its owner, mode and links and
//   is cut short only by a write error (a disk that fails mid-copy); the space is
//   reserved before the file is touched.
// - A writable file in a folder the writer may not write (no temporary file can be made
//   there) is written directly, as a shell redirect would: Notice() says so, since a
//   failure then leaves the file incomplete.
// - A name ending in a slash names a folder and is refused.
//
// Temporary files are kept in a registry without a fixed size, which a signal handler
// empties when the program asks for it (RemoveTemporaryFilesOnSignals): SIGINT,
// SIGTERM, SIGHUP or SIGPIPE then remove them and end the program with 128 + the
// signal's number. A library user (the Python module) leaves the signals alone.
#ifndef CGICLIB_FILEREPLACE_H
#define CGICLIB_FILEREPLACE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

struct ReplaceOptions {
    // The files the writer reads, as given ("-" is standard input): an output that is
    // one of them is refused.
    std::vector<std::string> inputs;
    // "-" names standard output (a command line); otherwise it is a file of that name.
    bool dashIsStandardOutput = false;
};

class FileReplacement {
public:
    // How the output is written.
    enum Mode {
        kNone,      // not open
        kRename,    // a temporary file beside it, renamed over the name by Commit
        kCopyIn,    // a temporary file beside it, copied into the file by Commit (owner, links kept)
        kDirect,    // written directly: standard output, a pipe, a device, an open file of the process
        kInPlace    // written directly into the file: its folder cannot be written
    };
    // Why Open or Commit failed.
    enum Failure {
        kNoFailure,
        kSystem,        // Error() is the errno of the call that failed
        kSameAsInput,   // the output is the input SameInput() of the options
        kFolderName,    // the name ends in a slash, or is a folder
        kNoRoom         // the file written in place would not fit: nothing changed
    };

    FileReplacement() = default;
    // Opens `path` for writing, in binary mode. False (Why(), Error()) when it cannot be.
    bool Open(const std::string& path, const ReplaceOptions& options = ReplaceOptions());
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // Without Commit, the temporary file is removed and the old file stays.
    ~FileReplacement();

    std::FILE* File() const { return file_; }
    Mode How() const { return mode_; }
    bool Direct() const { return mode_ == kDirect || mode_ == kInPlace; }
    // True when the name was there (as a regular file) when it was opened.
    bool Existed() const { return existed_; }
    // The path written after links were followed (empty for standard output).
    const std::string& Target() const { return target_; }
    // A remark for the user about how the file is written (kInPlace), or empty.
    const std::string& Notice() const { return notice_; }

    // Completes the output: the temporary file is flushed to the disk, closed and put in
    // place of the name (renamed, or copied in); a direct output is flushed and closed
    // (standard output only flushed). False (Why(), Error()) when that fails; the old
    // file then stays, except where it was written directly.
    bool Commit();
    // Commit only when there was no file at the name when it was opened, nor now;
    // otherwise Abandon and false (Why() kSystem, Error() EEXIST).
    bool CommitIfNew();
    // Gives the output up: the temporary file is removed, the old file stays.
    void Abandon();

    Failure Why() const { return why_; }
    int Error() const { return error_; }
    std::size_t SameInput() const { return sameInput_; }
    // The reason in English: strerror, or what the failure means.
    std::string Reason() const;

private:
    bool Fail(Failure why, int error);
    bool OpenTemporary(const std::string& folder, int mode);
    bool CopyIn();

    std::string target_;
    std::string temporary_;
    std::string notice_;
    std::FILE* file_ = nullptr;
    Mode mode_ = kNone;
    bool existed_ = false;
    bool standardOutput_ = false;
    Failure why_ = kNoFailure;
    int error_ = 0;
    std::size_t sameInput_ = 0;
};

// Registers a temporary file (or a folder made for one) that a signal ending the program
// removes: files first, then folders. The path is registered right after it is created
// (the signals are held in between, TemporaryFileHold) and forgotten right after it was
// removed or renamed. Any number of paths.
void RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile(const std::string& path);
// From now on SIGINT, SIGTERM, SIGHUP and SIGPIPE (SIGBREAK on Windows) remove the
// registered paths and end the program with 128 + the signal's number; the handlers are
// installed when the first path is registered. A signal ignored when the handler is
// installed (nohup, a background job) stays ignored.
void RemoveTemporaryFilesOnSignals();

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
