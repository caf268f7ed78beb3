// Text-mode file access with the Windows rules on every platform, so that the Linux
// and the Windows builds read and write the same bytes:
// - reading drops a carriage return that stands right before a line feed;
// - writing turns every line feed into a carriage return and a line feed.
// Files are opened in binary mode underneath; all conversion happens here.
#ifndef CGICLIB_TEXTFILE_H
#define CGICLIB_TEXTFILE_H

#include <cstddef>
#include <cstdio>
#include <string>

class FileReplacement;

// Opens `path` for text access. `mode` is one of the C text modes ("r", "w", "a",
// "r+", "w+", "a+"); the file is opened in the matching binary mode. Null on failure.
std::FILE* OpenTextFile(const char* path, const char* mode);

// Next character of a text-mode read, as an unsigned byte, or EOF.
int ReadTextChar(std::FILE* file);

// Reads one line, line feed included when there was one, into `line` (cleared
// first). False when the file was already at its end and nothing was read.
bool ReadTextLine(std::FILE* file, std::string& line);

// Reads the whole rest of the file with the text-mode rule into `text`.
bool ReadTextFile(const char* path, std::string& text);

// Writes `size` bytes with the text-mode rule; returns the count of source bytes
// written (equal to `size` on success).
std::size_t WriteText(std::FILE* file, const char* data, std::size_t size);
std::size_t WriteText(std::FILE* file, const char* text);

// printf-style formatted text-mode write; returns the count of source bytes written or -1.
int PrintText(std::FILE* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The folder part of `path`, separator included ("" for a bare name); on Windows the
// second byte of a double-byte character is never taken for a backslash.
std::string PathFolder(const std::string& path);

// A text-mode write that never destroys the file that was there: a FileReplacement
// (filereplace.h) of `path`. The text goes to a new temporary file in the same folder;
// Commit closes it and puts it in place of `path`. A write that fails, or that is
// abandoned (the object is destroyed without a successful Commit, also while an
// exception passes), removes the temporary file and leaves `path` as it was.
class TextFileReplacement {
public:
    // Creates the temporary file. File() is null (errno set) when it could not be
    // created, when `path` is a folder, or when `path` exists and may not be written.
    explicit TextFileReplacement(const char* path);
    TextFileReplacement(const TextFileReplacement&) = delete;
    TextFileReplacement& operator=(const TextFileReplacement&) = delete;
    ~TextFileReplacement();

    // The temporary file, for WriteText, PrintText and the like.
    std::FILE* File() const;
    // Closes the temporary file and puts it in place of `path`; false (and nothing
    // changed) when closing or renaming failed: CommitError() then says why.
    bool Commit();
    // Why the last Commit failed, read where it failed: the errno of the step (EBUSY
    // when `path` is open in another program, which Windows does not let be replaced);
    // 0 after a Commit that did not fail.
    int CommitError() const { return commitError; }
    // Puts the text as far as it was written in place of `path` only when there was
    // no file at `path` before; otherwise removes it, like the destructor. For a
    // writer that leaves a partial new file behind when interrupted, but never
    // replaces an existing one with it.
    bool CommitIfNew();

private:
    FileReplacement* replacement;
    int commitError = 0;
};

// Writes `size` bytes with the text-mode rule as the new content of `path`, through a
// TextFileReplacement: on failure the old file stays.
bool WriteTextFile(const char* path, const char* data, std::size_t size);

// The bytes that a text-mode write of `data` puts on disk (LF becomes CR LF).
std::string ToTextModeBytes(const char* data, std::size_t size);

#endif
