// Text-mode file access with the Windows rules (see textfile.h).
#include "textfile.h"

#include "filereplace.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

std::FILE* OpenTextFile(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    char binaryMode[8];
    std::size_t n = 0;
    for (const char* p = mode; *p != '\0' && n < sizeof binaryMode - 2; ++p) {
        if (*p != 'b' && *p != 't') binaryMode[n++] = *p;
    }
    binaryMode[n++] = 'b';
    binaryMode[n] = '\0';
    return std::fopen(path, binaryMode);
}

int ReadTextChar(std::FILE* file) {
    int c = std::getc(file);
    if (c == '\r') {
        int following = std::getc(file);
        if (following == '\n') return '\n';
        if (following != EOF) std::ungetc(following, file);
    }
    return c;
}

bool ReadTextLine(std::FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = ReadTextChar(file)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !line.empty() || c != EOF;
}

bool ReadTextFile(const char* path, std::string& text) {
    text.clear();
    std::FILE* file = OpenTextFile(path, "r");
    if (file == nullptr) return false;
    char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    // CR LF becomes LF in place; a CR alone stays. Most files have none to drop.
    std::size_t at = text.find("\r\n");
    if (at == std::string::npos) return ok;
    const std::size_t size = text.size();
    std::size_t out = at;
    for (std::size_t i = at; i < size; ++i) {
        if (text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') continue;
        text[out++] = text[i];
    }
    text.resize(out);
    return ok;
}

std::string ToTextModeBytes(const char* data, std::size_t size) {
    std::string out;
    out.reserve(size + size / 16);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') out.push_back('\r');
        out.push_back(data[i]);
    }
    return out;
}

std::size_t WriteText(std::FILE* file, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const void* lf = std::memchr(data + done, '\n', size - done);
        std::size_t stretch = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - (data + done)) : size - done;
        if (stretch > 0 && std::fwrite(data + done, 1, stretch, file) != stretch) return done;
        done += stretch;
        if (lf) {
            if (std::fwrite("\r\n", 1, 2, file) != 2) return done;
            ++done;
        }
    }
    return done;
}

std::size_t WriteText(std::FILE* file, const char* text) {
    return WriteText(file, text, std::strlen(text));
}

int PrintText(std::FILE* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return -1;
    }
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    va_end(again);
    std::size_t written = WriteText(file, buffer.data(), static_cast<std::size_t>(needed));
    return written == static_cast<std::size_t>(needed) ? needed : -1;
}

// The folder part of `path`, separator included ("" for a bare name). On Windows the
// path is in the ANSI code page, where the second byte of a double-byte character may
// be a backslash.
std::string PathFolder(const std::string& path) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
#ifdef _WIN32
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (path[i] == '\\' || path[i] == ':') end = i + 1;
#endif
        if (path[i] == '/') end = i + 1;
    }
    return path.substr(0, end);
}

bool WriteTextFile(const char* path, const char* data, std::size_t size) {
    TextFileReplacement replacement(path);
    if (replacement.File() == nullptr) return false;
    if (WriteText(replacement.File(), data, size) != size) return false;
    return replacement.Commit();
}

// ---- Replacing a file ---------------------------------------------------------------

TextFileReplacement::TextFileReplacement(const char* path) : replacement(new FileReplacement) {
    if (path == nullptr || !replacement->Open(path)) errno = path == nullptr ? ENOENT : replacement->Error();
}

TextFileReplacement::~TextFileReplacement() { delete replacement; }

std::FILE* TextFileReplacement::File() const { return replacement->File(); }

bool TextFileReplacement::Commit() {
    commitError = 0;
    if (replacement->Commit()) return true;
    commitError = replacement->Error() != 0 ? replacement->Error() : EIO;
    errno = commitError;
    return false;
}

bool TextFileReplacement::CommitIfNew() {
    commitError = 0;
    if (replacement->CommitIfNew()) return true;
    commitError = replacement->Error() != 0 ? replacement->Error() : EIO;
    errno = commitError;
    return false;
}
