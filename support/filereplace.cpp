// Writing a file beside its name, then renaming it into place (see filereplace.h).
#include "filereplace.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <climits>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "textfile.h"

// ---- The registry of temporary files --------------------------------------------------

namespace {

// A registered path. Nodes are only ever added to the list, never freed or changed but
// for `live`: the signal handler may walk the list at any moment, from any thread.
struct TemporaryNode {
    std::atomic<bool> live;
    char* path;
    TemporaryNode* next;
};
std::atomic<TemporaryNode*> temporaries{nullptr};
std::atomic<bool> removeOnSignals{false};
static_assert(std::atomic<TemporaryNode*>::is_always_lock_free, "the signal handler reads the list");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the nodes");

// The signals that end the program after removing the temporary files.
#ifdef _WIN32
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
#endif

// The stop of a run that ends itself on a signal, and the signal that asked for it.
std::atomic<void (*)()> signalStop{nullptr};
std::atomic<int> pendingSignal{0};

// The signal handler: only async-signal-safe calls (unlink, rmdir, _exit).
void RemoveTemporariesAndExit(int signalNumber) {
    void (*stop)() = signalStop.load();
    int none = 0;
    if (stop != nullptr && pendingSignal.compare_exchange_strong(none, signalNumber)) {
        stop();
        return;
    }
    // Files first, then the folders made for them (a copybook's copy lies in one).
    for (int pass = 0; pass < 2; ++pass) {
        for (TemporaryNode* node = temporaries.load(); node != nullptr; node = node->next) {
            if (!node->live.load()) continue;
#ifdef _WIN32
            if (pass == 0) DeleteFileA(node->path);
            else RemoveDirectoryA(node->path);
#else
            if (pass == 0) unlink(node->path);
            else rmdir(node->path);
#endif
        }
    }
    _exit(128 + signalNumber);
}

void InstallSignalHandlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
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

void RemoveTemporaryFilesOnSignals() { removeOnSignals.store(true); }

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

void RegisterTemporaryFile(const std::string& path) {
    if (!removeOnSignals.load() || path.empty()) return;
    InstallSignalHandlers();
    // A node of the same path that was forgotten is taken again.
    for (TemporaryNode* node = temporaries.load(); node != nullptr; node = node->next) {
        bool dead = false;
        if (path == node->path && node->live.compare_exchange_strong(dead, true)) return;
    }
    TemporaryNode* node = static_cast<TemporaryNode*>(std::malloc(sizeof(TemporaryNode)));
    char* copy = static_cast<char*>(std::malloc(path.size() + 1));
    if (node == nullptr || copy == nullptr) {
        // Still removed by its owner, only not by a signal.
        std::free(node);
        std::free(copy);
        return;
    }
    std::memcpy(copy, path.c_str(), path.size() + 1);
    new (node) TemporaryNode;
    node->live.store(true);
    node->path = copy;
    node->next = temporaries.load();
    while (!temporaries.compare_exchange_weak(node->next, node)) {
    }
}

void ForgetTemporaryFile(const std::string& path) {
    if (!removeOnSignals.load() || path.empty()) return;
    for (TemporaryNode* node = temporaries.load(); node != nullptr; node = node->next) {
        bool live = true;
        if (path == node->path && node->live.compare_exchange_strong(live, false)) return;
    }
}

TemporaryFileHold::TemporaryFileHold() {
#ifndef _WIN32
    sigset_t ending;
    sigemptyset(&ending);
    for (int signalNumber : kEndingSignals) sigaddset(&ending, signalNumber);
    held = pthread_sigmask(SIG_BLOCK, &ending, &saved) == 0;
#endif
}

TemporaryFileHold::~TemporaryFileHold() {
#ifndef _WIN32
    if (held) pthread_sigmask(SIG_SETMASK, &saved, nullptr);
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

// The identity of the regular file `name` names (`standard`: standard input for an
// input, standard output for the output); false when it is none.
bool IdentifyFile(const std::string& name, bool standard, bool output, FileIdentity& identity) {
#ifdef _WIN32
    if (standard) return IdentifyHandle(GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_INPUT_HANDLE), identity);
    HANDLE handle = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = IdentifyHandle(handle, identity);
    CloseHandle(handle);
    return known;
#else
    struct stat status;
    int got = standard ? fstat(output ? STDOUT_FILENO : STDIN_FILENO, &status) : stat(name.c_str(), &status);
    if (got != 0 || !S_ISREG(status.st_mode)) return false;
    identity.device = static_cast<unsigned long long>(status.st_dev);
    identity.number = static_cast<unsigned long long>(status.st_ino);
    return true;
#endif
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.device == b.device && a.number == b.number; }

bool EndsInSeparator(const std::string& name) {
    if (name.empty()) return false;
#ifdef _WIN32
    if (name.back() == '\\') return PathFolder(name).size() == name.size();
#endif
    return name.back() == '/';
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
// The errno of a rename over `target` that failed with `error`. A file open in another
// program is EBUSY: Windows refuses it as a sharing violation, or as access denied, and
// then it is in use when it cannot be opened for deletion alone either.
int ReplaceErrno(const std::string& target, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return EBUSY;
    if (error != ERROR_ACCESS_DENIED) return ErrnoOf(error);
    HANDLE held = CreateFileA(target.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? EBUSY : EACCES;
    CloseHandle(held);
    return EACCES;
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

// Writes all of `size` bytes; false (errno set) when that fails.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t wrote = write(fd, data, size);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}
#endif

// The temporary names of this process: its number and a counter shared by its threads.
std::atomic<unsigned long> temporaryCounter{0};

}  // namespace

// ---- FileReplacement ----------------------------------------------------------------------

bool FileReplacement::Fail(Failure why, int error) {
    why_ = why;
    error_ = error;
    return false;
}

std::string FileReplacement::Reason() const {
    switch (why_) {
    case kNoFailure:
        return std::string();
    case kSameAsInput:
        return "the output is the same file as an input; nothing was written (choose another output)";
    case kFolderName:
        return "a folder, not a file (give the file's name, without a slash at the end)";
    case kNoRoom:
        return "no room to write the file in place (" + std::string(std::strerror(error_)) + "); it was left as it was";
    case kSystem:
        break;
    }
    return std::strerror(error_);
}

bool FileReplacement::Open(const std::string& path, const ReplaceOptions& options) {
    Abandon();
    why_ = kNoFailure;
    error_ = 0;
    notice_.clear();
    target_.clear();
    existed_ = false;
    standardOutput_ = options.dashIsStandardOutput && path == "-";

    // An input is never written: refused before anything is opened.
    FileIdentity output;
    if (IdentifyFile(path, standardOutput_, true, output)) {
        for (std::size_t i = 0; i < options.inputs.size(); ++i) {
            const std::string& input = options.inputs[i];
            FileIdentity read;
            if (!IdentifyFile(input, input == "-", false, read) || !SameFile(output, read)) continue;
            sameInput_ = i;
            return Fail(kSameAsInput, EEXIST);
        }
    }
    auto openDirectly = [&](const char* name) {
        file_ = std::fopen(name, "wb");
        if (file_ == nullptr) return Fail(kSystem, errno);
        mode_ = kDirect;
        return true;
    };

    if (standardOutput_) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
        mode_ = kDirect;
        return true;
    }
    if (path.empty()) return Fail(kSystem, ENOENT);
    if (EndsInSeparator(path)) return Fail(kFolderName, EISDIR);
#ifdef _WIN32
    if (IsDeviceName(path)) return openDirectly(path.c_str());
    target_ = path;
#else
    switch (ResolveLinks(path, target_)) {
    case Resolution::kFailed:
        return Fail(kSystem, errno);
    case Resolution::kProcessFile: {
        // Standard output named by its path is written through the stream itself: a
        // new opening would cut a file that standard output appends to.
        FileIdentity named, standard;
        if (IdentifyFile(path, false, true, named) && IdentifyFile("-", true, true, standard) &&
            SameFile(named, standard)) {
            file_ = stdout;
            standardOutput_ = true;
            mode_ = kDirect;
            return true;
        }
        return openDirectly(path.c_str());
    }
    case Resolution::kFile:
        break;
    }
#endif

    struct stat status;
    const bool exists = stat(target_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) return Fail(kFolderName, EISDIR);
    if (exists && !S_ISREG(status.st_mode)) return openDirectly(path.c_str());   // a pipe or a device
    existed_ = exists;
#ifdef _WIN32
    if (exists && _access(target_.c_str(), 2) != 0) return Fail(kSystem, errno);
    if (!OpenTemporary(PathFolder(target_), 0)) return false;
    mode_ = kRename;
    return true;
#else
    if (exists && access(target_.c_str(), W_OK) != 0) return Fail(kSystem, errno);
    // A new file gets what a plain create gives it; a replacement keeps the permissions
    // of the file it replaces.
    const int mode = exists ? static_cast<int>(status.st_mode & 07777) : 0666;
    if (!OpenTemporary(PathFolder(target_), mode)) {
        if (!exists || (error_ != EACCES && error_ != EPERM)) return false;
        // The file may be written but not its folder: written as a shell redirect does.
        why_ = kNoFailure;
        error_ = 0;
        file_ = std::fopen(target_.c_str(), "wb");
        if (file_ == nullptr) return Fail(kSystem, errno);
        mode_ = kInPlace;
        notice_ = "its folder cannot be written, so the file is written in place; if the run fails it is left "
                  "incomplete";
        return true;
    }
    mode_ = kRename;
    if (!exists) return true;
    // A rename gives the name a new file: other hard links would keep the old one, and
    // the new one must get the old one's owner and group (a user can give a file only a
    // group of its own; root any owner).
    const int fd = fileno(file_);
    struct stat made;
    bool same = status.st_nlink == 1 && fstat(fd, &made) == 0;
    if (same && (made.st_uid != status.st_uid || made.st_gid != status.st_gid)) {
        same = fchown(fd, status.st_uid, status.st_gid) == 0;
        // A change of owner drops the set-user-ID and set-group-ID bits.
        if (same) same = fchmod(fd, static_cast<mode_t>(mode)) == 0;
    }
    if (!same) mode_ = kCopyIn;
    return true;
#endif
}

bool FileReplacement::OpenTemporary(const std::string& folder, int mode) {
#ifdef _WIN32
    (void)mode;
    const unsigned long process = static_cast<unsigned long>(_getpid());
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        char base[64];
        std::snprintf(base, sizeof base, ".~qb%lx-%lx.tmp", process, ++temporaryCounter);
        const std::string candidate = folder + base;
        TemporaryFileHold hold;
#ifdef _WIN32
        // Shared for deleting, so that the signal handler can remove it while it is open.
        HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return Fail(kSystem, ErrnoOf(error));
        }
        RegisterTemporaryFile(candidate);
        temporary_ = candidate;
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(handle);
            Abandon();
            return Fail(kSystem, EMFILE);
        }
        file_ = _fdopen(fd, "wb");
        if (file_ == nullptr) {
            int error = errno;
            _close(fd);
            Abandon();
            return Fail(kSystem, error);
        }
#else
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return Fail(kSystem, errno);
        }
        RegisterTemporaryFile(candidate);
        temporary_ = candidate;
        // A replacement gets the mode of the file it replaces, whatever the umask takes away.
        if (existed_) fchmod(fd, static_cast<mode_t>(mode));
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            int error = errno;
            close(fd);
            Abandon();
            return Fail(kSystem, error);
        }
#endif
        return true;
    }
    return Fail(kSystem, EEXIST);
}

FileReplacement::~FileReplacement() { Abandon(); }

void FileReplacement::Abandon() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    file_ = nullptr;
    mode_ = kNone;
    if (temporary_.empty()) return;
    std::remove(temporary_.c_str());
    ForgetTemporaryFile(temporary_);
    temporary_.clear();
}

bool FileReplacement::CommitIfNew() {
    struct stat status;
    if (existed_ || (!target_.empty() && stat(target_.c_str(), &status) == 0)) {
        Abandon();
        return Fail(kSystem, EEXIST);
    }
    return Commit();
}

#ifndef _WIN32
// Copies the temporary file into the target, which keeps its inode: its owner, mode and
// hard links. The other writers of the same target wait for the lock.
bool FileReplacement::CopyIn() {
    const int from = open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return Fail(kSystem, errno);
    const int to = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (to < 0) {
        const int error = errno;
        close(from);
        // The file went meanwhile: the temporary file takes its name after all.
        if (error == ENOENT) {
            if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(kSystem, errno);
            ForgetTemporaryFile(temporary_);
            temporary_.clear();
            return true;
        }
        return Fail(kSystem, error);
    }
    bool ok = flock(to, LOCK_EX) == 0;
    int error = errno;
    struct stat source;
    if (ok && fstat(from, &source) != 0) {
        ok = false;
        error = errno;
    }
    // The room first: a file system that is full refuses here, before a byte changes.
    if (ok && source.st_size > 0) {
        const int reserved = posix_fallocate(to, 0, source.st_size);
        if (reserved == ENOSPC || reserved == EFBIG || reserved == EDQUOT) {
            close(to);
            close(from);
            return Fail(kNoRoom, reserved);
        }
    }
    if (ok) {
        // The copy is not stopped half-way by the signals that end the program.
        TemporaryFileHold hold;
        constexpr std::size_t kBlock = 1 << 16;
        char* buffer = static_cast<char*>(std::malloc(kBlock));
        if (buffer == nullptr) {
            ok = false;
            error = ENOMEM;
        }
        ssize_t got = 0;
        while (ok && (got = read(from, buffer, kBlock)) != 0) {
            if (got < 0) {
                if (errno == EINTR) continue;
                ok = false;
                error = errno;
                break;
            }
            if (!WriteAll(to, buffer, static_cast<std::size_t>(got))) {
                ok = false;
                error = errno;
            }
        }
        std::free(buffer);
        if (ok && (ftruncate(to, source.st_size) != 0 || fsync(to) != 0)) {
            ok = false;
            error = errno;
        }
    }
    if (close(to) != 0 && ok) {
        ok = false;
        error = errno;
    }
    close(from);
    if (!ok) return Fail(kSystem, error);
    Abandon();
    return true;
}
#else
bool FileReplacement::CopyIn() { return Fail(kSystem, ENOSYS); }
#endif

bool FileReplacement::Commit() {
    if (file_ == nullptr) return Fail(kSystem, EBADF);
    errno = 0;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
#ifndef _WIN32
    // The bytes are on the disk before the name points at them.
    if (ok && !Direct()) ok = fsync(fileno(file_)) == 0;
#endif
    int error = errno;
    if (file_ != stdout && std::fclose(file_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    file_ = nullptr;
    if (!ok) {
        Abandon();
        return Fail(kSystem, error != 0 ? error : EIO);
    }
    if (mode_ == kCopyIn) {
        if (CopyIn()) return true;
        const Failure why = why_;
        error = error_;
        Abandon();
        return Fail(why, error);
    }
    if (mode_ == kRename) {
#ifdef _WIN32
        // Another writer's rename over the same name refuses this one for a moment
        // (access denied, a sharing violation): tried again for up to half a second.
        for (int attempt = 0;; ++attempt) {
            ok = MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            if (ok) break;
            const DWORD refused = GetLastError();
            if (attempt >= 50 || (refused != ERROR_ACCESS_DENIED && refused != ERROR_SHARING_VIOLATION &&
                                  refused != ERROR_LOCK_VIOLATION)) {
                error = ReplaceErrno(target_, refused);
                break;
            }
            Sleep(10);
        }
#else
        ok = std::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (!ok) error = errno;
#endif
        if (!ok) {
            Abandon();
            return Fail(kSystem, error);
        }
        ForgetTemporaryFile(temporary_);
        temporary_.clear();
    }
    mode_ = kNone;
    return true;
}
