// Text-mode file access with the Windows rules (see textfile.h).
#include "textfile.h"

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

namespace {

// Creates a new file that did not exist, for writing; -1 (errno set) on failure.
int CreateNewFile(const std::string& path, int mode) {
#ifdef _WIN32
    (void)mode;
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
#endif
}

}  // namespace

TextFileReplacement::TextFileReplacement(const char* path)
    : target(path != nullptr ? path : ""), file(nullptr), targetExisted(false) {
    struct stat status;
    bool exists = !target.empty() && stat(target.c_str(), &status) == 0;
    targetExisted = exists;
    if (target.empty()) {
        errno = ENOENT;
        return;
    }
    if (exists && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return;
    }
#ifdef _WIN32
    if (exists && _access(target.c_str(), 2) != 0) return;
    int mode = 0;
    unsigned long process = static_cast<unsigned long>(_getpid());
#else
    if (exists && access(target.c_str(), W_OK) != 0) return;
    // A new file gets what a plain create would give it; a replacement keeps the
    // permissions of the file it replaces.
    int mode = exists ? static_cast<int>(status.st_mode & 07777) : 0666;
    unsigned long process = static_cast<unsigned long>(getpid());
#endif
    const std::string folder = PathFolder(target);
    static unsigned long counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".~qb%lx-%lx.tmp", process, ++counter);
        std::string candidate = folder + name;
        int fd = CreateNewFile(candidate, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
#ifdef _WIN32
        file = _fdopen(fd, "wb");
        if (file == nullptr) _close(fd);
#else
        if (exists) fchmod(fd, static_cast<mode_t>(mode));
        file = fdopen(fd, "wb");
        if (file == nullptr) close(fd);
#endif
        if (file == nullptr) {
            std::remove(candidate.c_str());
            return;
        }
        temporary = candidate;
        return;
    }
}

TextFileReplacement::~TextFileReplacement() { Abandon(); }

bool TextFileReplacement::CommitIfNew() {
    struct stat status;
    if (targetExisted || stat(target.c_str(), &status) == 0) {
        Abandon();
        return false;
    }
    return Commit();
}

void TextFileReplacement::Abandon() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    if (!temporary.empty()) std::remove(temporary.c_str());
    temporary.clear();
}

bool TextFileReplacement::Commit() {
    commitError = 0;
    if (file == nullptr) {
        commitError = EBADF;
        return false;
    }
    // Each step's errno is kept where it fails: the steps after it (the temporary
    // file's removal among them) set errno again.
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
    if (!ok) commitError = errno != 0 ? errno : EIO;
#ifndef _WIN32
    // The bytes are on the disk before the name points at them.
    if (ok && fsync(fileno(file)) != 0) {
        ok = false;
        commitError = errno;
    }
#endif
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        commitError = errno;
    }
    file = nullptr;
#ifdef _WIN32
    if (ok && MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        ok = false;
        const DWORD error = GetLastError();
        commitError = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? EBUSY
                      : error == ERROR_ACCESS_DENIED                                    ? EACCES
                      : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL     ? ENOSPC
                                                                                        : EIO;
        if (commitError == EACCES) {
            // A file open in another program is refused as access denied: it is in use
            // when it cannot be opened for deletion alone either.
            HANDLE held = CreateFileA(target.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (held == INVALID_HANDLE_VALUE) {
                if (GetLastError() == ERROR_SHARING_VIOLATION) commitError = EBUSY;
            } else {
                CloseHandle(held);
            }
        }
    }
#else
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        commitError = errno;
    }
#endif
    if (ok) temporary.clear();
    Abandon();
    return ok;
}
