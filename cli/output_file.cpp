// The output file of a command and the registry of temporary files (see output_file.h).
#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

#include "cli_common.h"
#include "textfile.h"

// ---- The registry of temporary files --------------------------------------------------

namespace {

// A few slots are enough: a command holds at most the copy of its copybook and its
// output. A path that finds no slot is still removed by its owner, only not by a signal.
constexpr int kTemporarySlots = 16;
std::atomic<char*> temporaries[kTemporarySlots];
static_assert(std::atomic<char*>::is_always_lock_free, "the signal handler reads the slots");

// The signals that end the program after removing the temporary files.
#ifdef _WIN32
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
#endif

// The stop of a run that ends itself on a signal, and the signal that asked for it.
std::atomic<void (*)()> signalStop{nullptr};
std::atomic<int> pendingSignal{0};

// The signal handler: only async-signal-safe calls (unlink, _exit) on the registered
// paths, which are never freed while they are in a slot.
void RemoveTemporariesAndExit(int signalNumber) {
    void (*stop)() = signalStop.load();
    int none = 0;
    if (stop != nullptr && pendingSignal.compare_exchange_strong(none, signalNumber)) {
        stop();
        return;
    }
    // Files first, then the folders made for them (a copybook's copy lies in one).
    for (std::atomic<char*>& slot : temporaries) {
        const char* path = slot.load();
        if (path == nullptr) continue;
#ifdef _WIN32
        DeleteFileA(path);
#else
        unlink(path);
#endif
    }
    for (std::atomic<char*>& slot : temporaries) {
        const char* path = slot.load();
        if (path == nullptr) continue;
#ifdef _WIN32
        RemoveDirectoryA(path);
#else
        rmdir(path);
#endif
    }
    _exit(128 + signalNumber);
}

// Installs the handler once, when the first temporary file is registered. A signal
// that whoever started the program ignores (nohup, a background job) stays ignored.
void InstallSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signalNumber : kEndingSignals) {
#ifdef _WIN32
        if (std::signal(signalNumber, RemoveTemporariesAndExit) == SIG_IGN) std::signal(signalNumber, SIG_IGN);
#else
        struct sigaction current;
        if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveTemporariesAndExit;
        action.sa_flags = SA_RESTART;   // a run that stops itself reads and writes on
        sigemptyset(&action.sa_mask);
        for (int other : kEndingSignals) sigaddset(&action.sa_mask, other);
        sigaction(signalNumber, &action, nullptr);
#endif
    }
}

}  // namespace

void RegisterTemporaryFile(const std::string& path) {
    InstallSignalHandlers();
    char* copy = static_cast<char*>(std::malloc(path.size() + 1));
    if (copy == nullptr) return;
    std::memcpy(copy, path.c_str(), path.size() + 1);
    for (std::atomic<char*>& slot : temporaries) {
        char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, copy)) return;
    }
    std::free(copy);
}

void ForgetTemporaryFile(const std::string& path) {
    for (std::atomic<char*>& slot : temporaries) {
        char* held = slot.load();
        if (held != nullptr && path == held) {
            slot.store(nullptr);
            std::free(held);
            return;
        }
    }
}

void SetSignalStop(void (*stop)()) {
    InstallSignalHandlers();
    signalStop.store(stop);
}

void EndIfSignalled() {
    const int signalNumber = pendingSignal.load();
    if (signalNumber == 0) return;
    signalStop.store(nullptr);
    pendingSignal.store(0);
    RemoveTemporariesAndExit(signalNumber);
}

TemporaryFileHold::TemporaryFileHold() {
#ifndef _WIN32
    sigset_t ending;
    sigemptyset(&ending);
    for (int signalNumber : kEndingSignals) sigaddset(&ending, signalNumber);
    held = sigprocmask(SIG_BLOCK, &ending, &saved) == 0;
#endif
}

TemporaryFileHold::~TemporaryFileHold() {
#ifndef _WIN32
    if (held) sigprocmask(SIG_SETMASK, &saved, nullptr);
#endif
}

// ---- Names and files --------------------------------------------------------------------

namespace {

// What makes a file the same as another: its device (volume) and its number there.
// Only regular files are compared: a terminal or a pipe may well be both read and
// written.
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long number = 0;
};

#ifdef _WIN32
bool IdentifyHandle(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    identity.device = information.dwVolumeSerialNumber;
    identity.number = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}
#endif

// The identity of the regular file `name` names ("-": standard input for an input,
// standard output for the output); false when it is none.
bool IdentifyFile(const std::string& name, bool output, FileIdentity& identity) {
#ifdef _WIN32
    if (name == "-") return IdentifyHandle(GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_INPUT_HANDLE), identity);
    HANDLE handle = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = IdentifyHandle(handle, identity);
    CloseHandle(handle);
    return known;
#else
    struct stat status;
    int got = name == "-" ? fstat(output ? STDOUT_FILENO : STDIN_FILENO, &status) : stat(name.c_str(), &status);
    if (got != 0 || !S_ISREG(status.st_mode)) return false;
    identity.device = static_cast<unsigned long long>(status.st_dev);
    identity.number = static_cast<unsigned long long>(status.st_ino);
    return true;
#endif
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.device == b.device && a.number == b.number; }

std::string Shown(const std::string& name) { return name == "-" ? std::string("standard output") : ArgumentToUtf8(name); }

// Refuses an output that is one of the inputs: writing it would destroy what is read.
void RefuseInputs(const std::string& name, const std::vector<std::string>& inputs) {
    FileIdentity output;
    if (!IdentifyFile(name, true, output)) return;
    for (const std::string& input : inputs) {
        FileIdentity read;
        if (!IdentifyFile(input, false, read) || !SameFile(output, read)) continue;
        const std::string inputShown = input == "-" ? std::string("standard input") : "the input " + ArgumentToUtf8(input);
        throw CommandFailure{Shown(name), "the output is the same file as " + inputShown +
                                              "; nothing was written (choose another output)"};
    }
}

#ifdef _WIN32
// A name of a DOS device (NUL, CON, PRN, AUX, COM1-9, LPT1-9, with or without an
// extension, in any folder), or a \\.\ device path: written directly.
bool IsDeviceName(const std::string& name) {
    if (name.compare(0, 4, "\\\\.\\") == 0) return true;
    std::string base = name.substr(PathFolder(name).size());
    base = base.substr(0, base.find('.'));
    for (char& c : base) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (base == "NUL" || base == "CON" || base == "PRN" || base == "AUX") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}
#else
enum class Resolution { kFile, kProcessFile, kFailed };

// True when the canonical folder of `path` lies in /proc, where a link stands for a
// file the process has open (/dev/stdout and /dev/fd/N lead there).
bool InProcessFolder(const std::string& path) {
    const std::string folder = PathFolder(path);
    char canonical[PATH_MAX];
    if (realpath(folder.empty() ? "." : folder.c_str(), canonical) == nullptr) return false;
    return std::strncmp(canonical, "/proc/", 6) == 0;
}

// Follows the symbolic links that `name` ends in: `resolved` is the path of the file
// they lead to, which may not be there yet (a link to a new file). kProcessFile for a
// link of /proc; kFailed (errno set) when a link cannot be read or they loop.
Resolution ResolveLinks(const std::string& name, std::string& resolved) {
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) {
        if (path.compare(0, 6, "/proc/") == 0) return Resolution::kProcessFile;
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            resolved = path;
            return Resolution::kFile;
        }
        if (InProcessFolder(path)) return Resolution::kProcessFile;
        char text[PATH_MAX];
        ssize_t length = readlink(path.c_str(), text, sizeof text);
        if (length < 0) return Resolution::kFailed;
        if (static_cast<std::size_t>(length) >= sizeof text) {
            errno = ENAMETOOLONG;
            return Resolution::kFailed;
        }
        std::string target(text, static_cast<std::size_t>(length));
        path = !target.empty() && target[0] == '/' ? target : PathFolder(path) + target;
    }
    errno = ELOOP;
    return Resolution::kFailed;
}
#endif

}  // namespace

// ---- OutputFile -----------------------------------------------------------------------

OutputFile::OutputFile(const std::string& name, const std::vector<std::string>& inputs, const Texts& texts)
    : name(name), texts(texts) {
    RefuseInputs(name, inputs);
    auto openFailure = [&](int error) {
        std::string message = std::strerror(error);
        if (!texts.openFailed.empty()) message = texts.openFailed + " (" + message + ")";
        return CommandFailure{Shown(name), message};
    };
    auto openDirectly = [&](const char* path) {
        file = std::fopen(path, "wb");
        if (file == nullptr) throw openFailure(errno);
    };

    if (name == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file = stdout;
        return;
    }
#ifdef _WIN32
    if (IsDeviceName(name)) {
        openDirectly(name.c_str());
        return;
    }
    target = name;
#else
    switch (ResolveLinks(name, target)) {
    case Resolution::kFailed:
        throw openFailure(errno);
    case Resolution::kProcessFile: {
        // Standard output named by its path is written through the stream itself: a
        // new opening would cut a file that standard output appends to.
        FileIdentity named, standardOutput;
        if (IdentifyFile(name, true, named) && IdentifyFile("-", true, standardOutput) &&
            SameFile(named, standardOutput)) {
            file = stdout;
            return;
        }
        openDirectly(name.c_str());
        return;
    }
    case Resolution::kFile:
        break;
    }
#endif

    struct stat status;
    const bool exists = stat(target.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) throw openFailure(EISDIR);
    if (exists && !S_ISREG(status.st_mode)) {   // a pipe or a device
        target.clear();
        openDirectly(name.c_str());
        return;
    }
#ifdef _WIN32
    if (exists && _access(target.c_str(), 2) != 0) throw openFailure(errno);
    const unsigned long process = static_cast<unsigned long>(_getpid());
#else
    if (exists && access(target.c_str(), W_OK) != 0) throw openFailure(errno);
    // A new file gets what a plain create gives it; a replacement keeps the permissions
    // of the file it replaces.
    const mode_t mode = exists ? static_cast<mode_t>(status.st_mode & 07777) : 0666;
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif

    const std::string folder = PathFolder(target);
    static unsigned long counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char base[64];
        std::snprintf(base, sizeof base, ".~qb%lx-%lx.tmp", process, ++counter);
        const std::string candidate = folder + base;
        TemporaryFileHold hold;
#ifdef _WIN32
        // Shared for deleting, so that the signal handler can remove it while it is open.
        HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            throw openFailure(ErrnoOf(error));
        }
        RegisterTemporaryFile(candidate);
        temporary = candidate;
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(handle);
            Abandon();
            throw openFailure(EMFILE);
        }
        file = _fdopen(fd, "wb");
        if (file == nullptr) {
            int error = errno;
            _close(fd);
            Abandon();
            throw openFailure(error);
        }
#else
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw openFailure(errno);
        }
        RegisterTemporaryFile(candidate);
        temporary = candidate;
        if (exists) fchmod(fd, mode);
        file = fdopen(fd, "wb");
        if (file == nullptr) {
            int error = errno;
            close(fd);
            Abandon();
            throw openFailure(error);
        }
#endif
        return;
    }
    throw openFailure(EEXIST);
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() {
    if (file != nullptr && file != stdout) std::fclose(file);
    file = nullptr;
    if (temporary.empty()) return;
    std::remove(temporary.c_str());
    ForgetTemporaryFile(temporary);
    temporary.clear();
}

void OutputFile::Commit() {
    if (file == nullptr) return;
    errno = 0;
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
#ifndef _WIN32
    // The bytes are on the disk before the name points at them.
    if (ok && !Direct()) ok = fsync(fileno(file)) == 0;
#endif
    int error = errno;
    if (file != stdout) {
        if (std::fclose(file) != 0 && ok) {
            ok = false;
            error = errno;
        }
    }
    file = nullptr;
    if (ok && !Direct()) {
#ifdef _WIN32
        ok = MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (!ok) error = ErrnoOf(GetLastError());
#else
        ok = std::rename(temporary.c_str(), target.c_str()) == 0;
        if (!ok) error = errno;
#endif
        if (ok) {
            ForgetTemporaryFile(temporary);
            temporary.clear();
        }
    }
    if (ok) return;
    Abandon();
    if (name == "-") throw CommandFailure{"", "writing to standard output failed"};
    std::string message = texts.writeFailed;
    if (error != 0) message += " (" + std::string(std::strerror(error)) + ")";
    throw CommandFailure{Shown(name), message};
}
