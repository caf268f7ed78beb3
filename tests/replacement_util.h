// Helpers of the tests that a failed write keeps the file that was there: a scratch
// folder of the test process, the temporary files left in it, and (POSIX) a write
// run in a child process whose files may not grow past a limit.
#ifndef QUILLBOX_REPLACEMENT_UTIL_H
#define QUILLBOX_REPLACEMENT_UTIL_H

#include <string>
#include <vector>

#include "test_util.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qbtest {

// A new empty folder of this test process in the working folder, "NAME_<pid>/".
inline std::string ScratchFolder(const std::string& name) {
    std::string folder = ProcessUniqueName(name + "_", "folder");
#ifdef _WIN32
    _mkdir(folder.c_str());
#else
    mkdir(folder.c_str(), 0777);
#endif
    return folder + "/";
}

// The names of the files in `folder` (ending in "/"), "." and ".." left out.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
#else
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
#endif
    return names;
}

// Removes the files of `folder` and the folder.
inline void RemoveFolder(const std::string& folder) {
    for (const std::string& name : FilesIn(folder)) std::remove((folder + name).c_str());
#ifdef _WIN32
    _rmdir(folder.c_str());
#else
    rmdir(folder.c_str());
#endif
}

#ifndef _WIN32
// Runs `write` in a child process in which no file may grow past `limit` bytes (a
// write beyond it fails instead of raising a signal). Returns the child's result:
// 1 when `write` returned true, 0 when false, -1 when the child did not end normally.
template <class Write>
int WriteWithFileSizeLimit(long limit, Write write) {
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit bound{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_FSIZE, &bound);
        _exit(write() ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

}  // namespace qbtest

#endif
