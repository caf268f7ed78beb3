// Writing a file beside its name, then putting it in place: FileReplacement and the
// registry of temporary files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "filereplace.h"
#include "replacement_util.h"
#include "test_util.h"

#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

bool WriteWhole(const std::string& path, const std::string& bytes, const ReplaceOptions& options = ReplaceOptions()) {
    FileReplacement out;
    if (!out.Open(path, options)) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.File()) != bytes.size()) return false;
    return out.Commit();
}

#ifndef _WIN32
std::vector<std::string> SortedFilesIn(const std::string& folder) {
    std::vector<std::string> names = qbtest::FilesIn(folder);
    std::sort(names.begin(), names.end());
    return names;
}
#endif

// Writers of one name at once (threads of one process, which share the temporary
// names' counter): every one completes, and the name holds one writer's bytes, whole.
TEST(FileReplacement, WritersOfOneNameAllCompleteAndOneWinsWhole) {
    const std::string folder = qbtest::ScratchFolder("replace_race");
    const std::string path = folder + "out.dat";
    for (int round = 0; round < 10; ++round) {
        std::atomic<int> failures{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < 8; ++w) {
            writers.emplace_back([&, w] {
                if (!WriteWhole(path, std::string(20000 + w, static_cast<char>('a' + w)))) ++failures;
            });
        }
        for (std::thread& writer : writers) writer.join();
        EXPECT_EQ(0, failures.load());
        const std::string bytes = qbtest::ReadFileBytes(path);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(std::string(bytes.size(), bytes[0]), bytes);
        EXPECT_EQ(20000u + static_cast<unsigned>(bytes[0] - 'a'), bytes.size());
    }
    EXPECT_EQ(std::vector<std::string>{"out.dat"}, qbtest::FilesIn(folder));
    qbtest::RemoveFolder(folder);
}

// Abandoned, failed or uncommitted writes leave the old file and no temporary file; a
// name ending in a slash, a folder and an input are refused before anything is made.
TEST(FileReplacement, RefusesFoldersSlashesAndInputs) {
    const std::string folder = qbtest::ScratchFolder("replace_refuse");
    const std::string path = folder + "out.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old"));
    {
        FileReplacement abandoned;
        ASSERT_TRUE(abandoned.Open(path));
        EXPECT_EQ(FileReplacement::kRename, abandoned.How());
        std::fputs("half", abandoned.File());
    }
    EXPECT_EQ("old", qbtest::ReadFileBytes(path));

    FileReplacement out;
    EXPECT_FALSE(out.Open(folder + "new/"));
    EXPECT_EQ(FileReplacement::kFolderName, out.Why());
    EXPECT_FALSE(out.Open(path + "/"));
    EXPECT_EQ(FileReplacement::kFolderName, out.Why());
    EXPECT_FALSE(out.Open(folder.substr(0, folder.size() - 1)));
    EXPECT_EQ(FileReplacement::kFolderName, out.Why());
    EXPECT_FALSE(out.Open(folder + "missing/out.txt"));
    EXPECT_EQ(FileReplacement::kSystem, out.Why());
    EXPECT_EQ(ENOENT, out.Error());

    ReplaceOptions reading;
    reading.inputs = {folder + "other.txt", path};
    EXPECT_FALSE(out.Open(path, reading));
    EXPECT_EQ(FileReplacement::kSameAsInput, out.Why());
    EXPECT_EQ(1u, out.SameInput());
    EXPECT_EQ("old", qbtest::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));
    qbtest::RemoveFolder(folder);
}

#ifndef _WIN32
// A hard-linked file is written in place: every name sees the new bytes, and mode and
// inode stay. The owner and group stay too: root gives the new file the old one's.
TEST(FileReplacement, KeepsHardLinksModeAndOwner) {
    const std::string folder = qbtest::ScratchFolder("replace_keep");
    const std::string path = folder + "out.txt";
    const std::string twin = folder + "twin.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old bytes, longer than the new"));
    ASSERT_EQ(0, link(path.c_str(), twin.c_str()));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    struct stat before;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    {
        FileReplacement out;
        ASSERT_TRUE(out.Open(path));
        EXPECT_EQ(FileReplacement::kCopyIn, out.How());
        std::fputs("new", out.File());
        EXPECT_EQ("old bytes, longer than the new", qbtest::ReadFileBytes(twin));
        ASSERT_TRUE(out.Commit());
    }
    EXPECT_EQ("new", qbtest::ReadFileBytes(twin));
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(2u, static_cast<unsigned>(after.st_nlink));
    EXPECT_EQ(0640u, static_cast<unsigned>(after.st_mode & 07777));
    EXPECT_EQ((std::vector<std::string>{"out.txt", "twin.txt"}), SortedFilesIn(folder));

    ASSERT_EQ(0, unlink(twin.c_str()));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
        ASSERT_EQ(0, chmod(path.c_str(), 0604));
        ASSERT_TRUE(WriteWhole(path, "owned by nobody"));
        ASSERT_EQ(0, stat(path.c_str(), &after));
        EXPECT_EQ(65534u, static_cast<unsigned>(after.st_uid));
        EXPECT_EQ(65534u, static_cast<unsigned>(after.st_gid));
        EXPECT_EQ(0604u, static_cast<unsigned>(after.st_mode & 07777));
        EXPECT_EQ("owned by nobody", qbtest::ReadFileBytes(path));
    }
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, qbtest::FilesIn(folder));
    qbtest::RemoveFolder(folder);
}

// A file its user may write, in a folder that user may not write (no temporary file can
// be made there): written in place as a shell redirect would, with a notice. Run as
// another user than the folder's owner (nobody, when the tests run as root).
TEST(FileReplacement, WritableFileInAFolderThatIsNotIsWrittenInPlace) {
    char pattern[] = "/tmp/qb_replace_inplace.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    const std::string folder = std::string(pattern) + "/";
    const std::string path = folder + "out.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, "old"));
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    }
    ASSERT_EQ(0, chmod(path.c_str(), 0644));
    ASSERT_EQ(0, chmod(folder.c_str(), root ? 0755 : 0555));
    pid_t child = fork();
    if (child == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        FileReplacement out;
        if (!out.Open(path)) _exit(11);
        if (out.How() != FileReplacement::kInPlace || out.Notice().empty()) _exit(12);
        std::fputs("new", out.File());
        _exit(out.Commit() ? 0 : 13);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("new", qbtest::ReadFileBytes(path));
    chmod(folder.c_str(), 0755);
    qbtest::RemoveFolder(folder);
}

// A link is followed and stays a link; a pipe is written directly; "-" is standard
// output only where the options say so.
TEST(FileReplacement, FollowsLinksAndWritesPipesDirectly) {
    const std::string folder = qbtest::ScratchFolder("replace_links");
    const std::string target = folder + "target.txt";
    const std::string link = folder + "link.txt";
    ASSERT_TRUE(qbtest::WriteFileBytes(target, "old"));
    ASSERT_EQ(0, symlink("target.txt", link.c_str()));
    ASSERT_TRUE(WriteWhole(link, "through the link"));
    struct stat status;
    ASSERT_EQ(0, lstat(link.c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ("through the link", qbtest::ReadFileBytes(target));

    const std::string pipe = folder + "pipe";
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    std::string got;
    std::thread reader([&] { got = qbtest::ReadFileBytes(pipe); });
    {
        FileReplacement out;
        ASSERT_TRUE(out.Open(pipe));
        EXPECT_EQ(FileReplacement::kDirect, out.How());
        std::fputs("piped", out.File());
        EXPECT_TRUE(out.Commit());
    }
    reader.join();
    EXPECT_EQ("piped", got);
    ASSERT_EQ(0, lstat(pipe.c_str(), &status));
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    ReplaceOptions commandLine;
    commandLine.dashIsStandardOutput = true;
    FileReplacement out;
    ASSERT_TRUE(out.Open("-", commandLine));
    EXPECT_EQ(stdout, out.File());
    EXPECT_TRUE(out.Commit());
    EXPECT_EQ((std::vector<std::string>{"link.txt", "pipe", "target.txt"}), SortedFilesIn(folder));
    qbtest::RemoveFolder(folder);
}

// The registry has no fixed size: a signal that ends the program removes every
// temporary file, 40 of them here, and the folder made for them.
TEST(TemporaryFiles, ASignalRemovesEveryRegisteredFile) {
    const std::string folder = qbtest::ScratchFolder("replace_signal");
    const std::string made = folder + "made";
    pid_t child = fork();
    if (child == 0) {
        RemoveTemporaryFilesOnSignals();
        if (mkdir(made.c_str(), 0777) != 0) _exit(10);
        RegisterTemporaryFile(made);
        std::vector<FileReplacement> outputs(40);
        for (size_t i = 0; i < outputs.size(); ++i) {
            if (!outputs[i].Open(made + "/out" + std::to_string(i) + ".csv")) _exit(11);
            std::fputs("row\n", outputs[i].File());
            std::fflush(outputs[i].File());
        }
        if (qbtest::FilesIn(made + "/").size() != 40) _exit(12);
        raise(SIGTERM);
        _exit(13);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(128 + SIGTERM, WEXITSTATUS(status));
    EXPECT_TRUE(qbtest::FilesIn(folder).empty());
    qbtest::RemoveFolder(folder);
}
#endif

}  // namespace
