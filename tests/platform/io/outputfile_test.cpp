// Outputs on real folders: nothing takes the final name before Commit, the old file survives
// everything but a successful Commit, and the source or anything but a regular file is refused
// without being opened.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "platform/io/fileio.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_sourcePath = m_dir.File("source.mpg");
        WriteFile(m_sourcePath, Text("source bytes"));
        m_source = m_fs.OpenRead(m_sourcePath);
        ASSERT_TRUE(m_source);
    }

    static Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

    std::unique_ptr<IOutputFile> Create(const std::string& path, OutputStatus expected) {
        OutputStatus status = OutputStatus::Ok;
        auto output = m_fs.CreateOutput(path, *m_source, status);
        EXPECT_EQ(status, expected) << path;
        EXPECT_EQ(output != nullptr, expected == OutputStatus::Ok) << path;
        return output;
    }

    std::set<std::string> Entries() const {
        std::set<std::string> names;
        m_fs.ListFolder(m_dir.Path().string(), [&](const std::string& name) {
            if (name != "stdout.txt" && name != "stderr.txt") {
                names.insert(name);
            }
        });
        return names;
    }

    CTempDir m_dir;
    IFileSystem& m_fs = PosixFileSystem();
    std::string m_sourcePath;
    std::unique_ptr<IFile> m_source;
};

}  // namespace

TEST_F(OutputFileTest, TakesItsNameOnlyWhenCommittedAndKeepsTheOldMode) {
    const std::string path = m_dir.File("clip.mpg");
    WriteFile(path, Text("old"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    auto output = Create(path, OutputStatus::Ok);
    ASSERT_TRUE(output);
    EXPECT_FALSE(output->IsInPlace());
    ASSERT_EQ(output->Write("new bytes", 9), 9);
    EXPECT_EQ(ReadFile(path), Text("old"));
    if (SupportsUnnamedFiles(m_dir.Path().string())) {
        EXPECT_EQ(Entries(), (std::set<std::string>{"source.mpg", "clip.mpg"}));
    }
    EXPECT_EQ(output->Commit(), OutputStatus::Ok);
    EXPECT_EQ(ReadFile(path), Text("new bytes"));
    EXPECT_EQ(Entries(), (std::set<std::string>{"source.mpg", "clip.mpg"}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(OutputFileTest, WithoutCommitNothingIsLeft) {
    const std::string kept = m_dir.File("kept.mpg");
    WriteFile(kept, Text("old"));
    for (const std::string& path : {kept, m_dir.File("new.mpg")}) {
        auto output = Create(path, OutputStatus::Ok);
        ASSERT_TRUE(output);
        ASSERT_EQ(output->Write("partial", 7), 7);
        output.reset();
    }
    EXPECT_EQ(ReadFile(kept), Text("old"));
    EXPECT_EQ(Entries(), (std::set<std::string>{"source.mpg", "kept.mpg"}));
}

TEST_F(OutputFileTest, RefusesTheSourceThroughEveryLink) {
    ASSERT_EQ(::symlink(m_sourcePath.c_str(), m_dir.File("symbolic").c_str()), 0);
    ASSERT_EQ(::link(m_sourcePath.c_str(), m_dir.File("hard").c_str()), 0);
    // The source opened again: its descriptor links name it too.
    const int probe = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(probe, 0);
    ::close(probe);
    auto third = m_fs.OpenRead(m_sourcePath);  // takes the descriptor just freed
    ASSERT_TRUE(third);
    for (const std::string& path :
         {m_sourcePath, m_dir.File("symbolic"), m_dir.File("hard"), m_dir.Folder() + "./source.mpg",
          "/proc/self/fd/" + std::to_string(probe), "/dev/fd/" + std::to_string(probe)}) {
        Create(path, OutputStatus::IsSource);
        EXPECT_TRUE(m_fs.IsOpenFile(*m_source, path)) << path;
    }
    EXPECT_EQ(ReadFile(m_sourcePath), Text("source bytes"));
}

TEST_F(OutputFileTest, RefusesWhatIsNotARegularFileWithoutOpeningIt) {
    const std::string fifo = m_dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::filesystem::create_directory(m_dir.Path() / "folder");
    const std::string socketPath = m_dir.File("socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), m_dir.File("to-fifo").c_str()), 0);
    ASSERT_EQ(::symlink(m_dir.File("nowhere").c_str(), m_dir.File("dangling").c_str()), 0);
    for (const std::string& path :
         {fifo, m_dir.File("to-fifo"), m_dir.File("folder"), socketPath, std::string("/dev/null"),
          m_dir.File("dangling"), m_dir.File("missing/clip.mpg"), m_dir.File("folder/"),
          std::string()}) {
        Create(path, OutputStatus::CannotOpen);
    }
    ::close(listener);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("nowhere")));
}

// Written through the link, as cp does: the link stays and the file it points at is replaced.
TEST_F(OutputFileTest, ThroughASymbolicLinkTheFileItPointsAtIsReplaced) {
    std::filesystem::create_directory(m_dir.Path() / "sub");
    const std::string target = m_dir.File("sub/target.mpg");
    WriteFile(target, Text("old"));
    const std::string link = m_dir.File("link.mpg");
    ASSERT_EQ(::symlink("sub/target.mpg", link.c_str()), 0);
    auto output = Create(link, OutputStatus::Ok);
    ASSERT_TRUE(output);
    ASSERT_EQ(output->Write("new", 3), 3);
    EXPECT_EQ(output->Commit(), OutputStatus::Ok);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), Text("new"));
}

TEST_F(OutputFileTest, CommitRefusesTheSourceOrASpecialFileThatTookTheName) {
    const std::string clip = m_dir.File("clip.mpg");
    auto output = Create(clip, OutputStatus::Ok);
    ASSERT_TRUE(output);
    ASSERT_EQ(output->Write("new", 3), 3);
    ASSERT_EQ(::link(m_sourcePath.c_str(), clip.c_str()), 0);
    EXPECT_EQ(output->Commit(), OutputStatus::IsSource);
    EXPECT_EQ(ReadFile(clip), Text("source bytes"));

    const std::string fifo = m_dir.File("fifo.mpg");
    output = Create(fifo, OutputStatus::Ok);
    ASSERT_TRUE(output);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_EQ(output->Commit(), OutputStatus::CannotOpen);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(Entries(), (std::set<std::string>{"source.mpg", "clip.mpg", "fifo.mpg"}));
}

// A folder the user may not write into, holding a file they may write: as before, that file
// is written in place; a file they may not write is not replaced at all.
TEST_F(OutputFileTest, WhereNothingCanBeCreatedTheFileIsWrittenInPlace) {
    const std::string locked = m_dir.File("locked");
    std::filesystem::create_directory(locked);
    const std::string inPlace = locked + "/clip.mpg";
    WriteFile(inPlace, Text("old content"));
    const std::string readOnly = m_dir.File("read-only.mpg");
    WriteFile(readOnly, Text("keep"));
    GiveToChild(m_dir.Path().string(), 0777);
    GiveToChild(m_sourcePath, 0644);
    GiveToChild(inPlace, 0644);
    GiveToChild(readOnly, 0444);
    if (RunningAsRoot()) {
        ASSERT_EQ(::chown(locked.c_str(), 0, 0), 0);  // nobody may not create files there
    }
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);

    const int status = RunInChild(
        [&] {
            IFileSystem& fs = PosixFileSystem();
            auto source = fs.OpenRead(m_sourcePath);
            OutputStatus result = OutputStatus::Ok;
            if (!source || fs.CreateOutput(locked + "/new.mpg", *source, result) ||
                result != OutputStatus::CannotOpen || fs.CreateOutput(readOnly, *source, result) ||
                result != OutputStatus::CannotOpen) {
                return 1;
            }
            auto output = fs.CreateOutput(inPlace, *source, result);
            if (!output || !output->IsInPlace() || output->Write("new", 3) != 3 ||
                output->Commit() != OutputStatus::Ok) {
                return 2;
            }
            return 0;
        },
        30, true);
    ::chmod(locked.c_str(), 0755);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(inPlace), Text("new"));
    EXPECT_EQ(ReadFile(readOnly), Text("keep"));
    EXPECT_FALSE(std::filesystem::exists(locked + "/new.mpg"));
}

// Any failure to make the new file but a folder that refuses files (here: no free inode) refuses
// the output and leaves the old file as it was: writing it in place could only leave a partial
// file under its name when the disk is full too. And no space for the new file's bytes leaves
// the old file as it was.
TEST_F(OutputFileTest, NoInodeOrNoSpaceLeavesTheOldFileAsItWas) {
    const std::string mount = m_dir.File("small");
    std::filesystem::create_directory(mount);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=200k,nr_inodes=4") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    struct CUnmount {
        std::string m_strPath;
        ~CUnmount() { ::umount2(m_strPath.c_str(), MNT_DETACH); }
    } unmount{mount};
    const std::string path = mount + "/clip.mpg";
    const Bytes old(100'000, 7);
    WriteFile(path, old);
    // The rest of the inodes taken.
    std::set<std::string> names{"clip.mpg"};
    for (int i = 0; i < 8; ++i) {
        const std::string name = "filler" + std::to_string(i);
        const int fd = ::open((mount + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) {
            break;
        }
        ::close(fd);
        names.insert(name);
    }
    std::set<std::string> entries;
    const auto list = [&] {
        entries.clear();
        m_fs.ListFolder(mount, [&](const std::string& name) { entries.insert(name); });
        return entries;
    };

    OutputStatus status = OutputStatus::Ok;
    EXPECT_EQ(m_fs.CreateOutput(path, *m_source, status), nullptr);
    EXPECT_EQ(status, OutputStatus::CannotOpen);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(list(), names);

    // An inode again, but not the room for the new bytes beside the old ones.
    ASSERT_EQ(::unlink((mount + "/filler0").c_str()), 0);
    names.erase("filler0");
    auto output = Create(path, OutputStatus::Ok);
    ASSERT_TRUE(output);
    const Bytes clip(380'000, 9);
    EXPECT_LT(output->Write(clip.data(), clip.size()), static_cast<int64_t>(clip.size()));
    output.reset();
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(list(), names);
}

// In a sticky folder (as /tmp is) only the owner of a file may rename over it: another user's
// writable file is written in place from the start, rather than refused after the whole copy;
// the user's own file is replaced as anywhere else.
TEST_F(OutputFileTest, InAStickyFolderAnotherUsersFileIsWrittenInPlace) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs a file of another user";
    }
    const std::string shared = m_dir.File("shared");
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string foreign = shared + "/foreign.mpg";
    const std::string own = shared + "/own.mpg";
    WriteFile(foreign, Text("old content"));
    ASSERT_EQ(::chmod(foreign.c_str(), 0666), 0);
    WriteFile(own, Text("old content"));
    GiveToChild(own, 0644);
    GiveToChild(m_dir.Path().string(), 0755);
    GiveToChild(m_sourcePath, 0644);

    const int status = RunInChild(
        [&] {
            IFileSystem& fs = PosixFileSystem();
            auto source = fs.OpenRead(m_sourcePath);
            OutputStatus result = OutputStatus::Ok;
            int failure = 0;
            for (const auto& [path, inPlace] : {std::pair{foreign, true}, std::pair{own, false}}) {
                ++failure;
                auto output = source ? fs.CreateOutput(path, *source, result) : nullptr;
                if (!output || output->IsInPlace() != inPlace || output->Write("new", 3) != 3 ||
                    output->Commit() != OutputStatus::Ok) {
                    return failure;
                }
            }
            return 0;
        },
        30, true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(foreign), Text("new"));
    EXPECT_EQ(ReadFile(own), Text("new"));
    struct stat info {};
    ASSERT_EQ(::stat(foreign.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
}

// A killed run leaves its hidden file where the file system has no unnamed files; the next
// output into the folder removes it, but not one that a running writer holds locked, nor any
// other file.
TEST_F(OutputFileTest, HiddenFilesNobodyHoldsAreRemovedByTheNextOutput) {
    const std::string abandoned = m_dir.File(".tarnwick-abcdefghij");
    const std::string held = m_dir.File(".tarnwick-0123456789");
    WriteFile(abandoned, Text("left by a killed run"));
    WriteFile(held, Text("being written"));
    WriteFile(m_dir.File(".tarnwick-notes"), Text("the user's"));
    WriteFile(m_dir.File(".tarnwick-ABCDEFGHIJ"), Text("the user's"));
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // A source that happens to have such a name.
    const std::string sourceName = m_dir.File(".tarnwick-sourcefile");
    WriteFile(sourceName, Text("source bytes"));
    auto source = m_fs.OpenRead(sourceName);
    ASSERT_TRUE(source);

    OutputStatus status = OutputStatus::CannotOpen;
    auto output = m_fs.CreateOutput(m_dir.File("clip.mpg"), *source, status);
    ASSERT_TRUE(output);
    ASSERT_EQ(output->Write("new", 3), 3);
    EXPECT_EQ(output->Commit(), OutputStatus::Ok);
    ::close(holder);
    EXPECT_EQ(Entries(), (std::set<std::string>{"source.mpg", "clip.mpg", ".tarnwick-0123456789",
                                                ".tarnwick-notes", ".tarnwick-ABCDEFGHIJ",
                                                ".tarnwick-sourcefile"}));
}
