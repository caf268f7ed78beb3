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

// Creates (or truncates) `path` and writes `size` bytes with the text-mode rule.
bool WriteTextFile(const char* path, const char* data, std::size_t size);

// The bytes that a text-mode write of `data` puts on disk (LF becomes CR LF).
std::string ToTextModeBytes(const char* data, std::size_t size);

#endif
