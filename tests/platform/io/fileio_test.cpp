// The POSIX file layer on real files, and the fault double's scripted failures.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/io/faultyfilesystem.h"
#include "platform/io/fileio.h"
#include "platform/io/posixfilesystem.h"

namespace {

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwick-io-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }

    IFileSystem& m_fs = PosixFileSystem();
    std::filesystem::path m_dir;
};

std::string ReadAll(IFile& file, size_t count) {
    std::string text(count, '\0');
    const int64_t got = file.Read(text.data(), count);
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
}

}  // namespace

TEST_F(FileIoTest, SeekRoutine) {
    EXPECT_EQ(my_lseeki64(nullptr, 0, SeekOrigin::End), -1);
    auto file = m_fs.OpenRead(Write("a", "0123456789"));
    ASSERT_TRUE(file);
    EXPECT_EQ(my_lseeki64(file.get(), 0, SeekOrigin::End), 10);
    EXPECT_EQ(my_lseeki64(file.get(), 3, SeekOrigin::Begin), 3);
    EXPECT_EQ(my_lseeki64(file.get(), 2, SeekOrigin::Current), 5);
    EXPECT_EQ(my_lseeki64(file.get(), -1, SeekOrigin::Begin), -1);
    EXPECT_EQ(ReadAll(*file, 3), "567");
    EXPECT_EQ(ReadAll(*file, 100), "89");
    EXPECT_EQ(ReadAll(*file, 100), "");
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(file->Read(nullptr, 0), -1);
    EXPECT_EQ(my_lseeki64(file.get(), 0, SeekOrigin::Begin), -1);
}

TEST_F(FileIoTest, OpenCreateAndFolders) {
    EXPECT_FALSE(m_fs.OpenRead(Path("missing")));
    EXPECT_FALSE(m_fs.OpenRead(m_dir.string()));
    EXPECT_FALSE(m_fs.CreateWrite(Path("no/such/folder")));
    EXPECT_FALSE(m_fs.CreateWrite(m_dir.string()));

    auto out = m_fs.CreateWrite(Write("b", "old content that is longer"));
    ASSERT_TRUE(out);
    // Descriptors must not leak into programs the window or the media layer starts.
    auto* posix = dynamic_cast<CPosixFile*>(out.get());
    ASSERT_NE(posix, nullptr);
    EXPECT_NE(::fcntl(posix->Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(out->Write("new", 3), 3);
    EXPECT_TRUE(out->Close());
    auto in = m_fs.OpenRead(Path("b"));
    EXPECT_EQ(ReadAll(*in, 100), "new");
    EXPECT_EQ(m_fs.Size(Path("b")), 3);
    EXPECT_EQ(m_fs.Size(Path("missing")), -1);
    // New files are not executable.
    struct stat info {};
    ASSERT_EQ(::stat(Path("b").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0111, 0u);
}

// Anything a path names counts, so replacing it is always asked about first.
TEST_F(FileIoTest, ExistsNeverBlocksAndCountsAnythingAtAll) {
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(m_fs.Exists(fifo));  // must not wait for a writer
    EXPECT_TRUE(m_fs.Exists(Write("c", "x")));
    EXPECT_TRUE(m_fs.Exists(m_dir.string()));
    ASSERT_EQ(::symlink(Path("missing").c_str(), Path("dangling").c_str()), 0);
    EXPECT_TRUE(m_fs.Exists(Path("dangling")));
    ASSERT_EQ(::chmod(Path("c").c_str(), 0), 0);
    EXPECT_TRUE(m_fs.Exists(Path("c")));
    EXPECT_FALSE(m_fs.Exists(Path("missing")));
    EXPECT_FALSE(m_fs.Exists(""));
}

TEST_F(FileIoTest, DeleteRemovesOnlyFilesAndLinks) {
    const std::string target = Write("target", "keep");
    const std::string link = Path("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_TRUE(m_fs.Delete(link));
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(m_fs.Delete(fifo));
    EXPECT_TRUE(std::filesystem::exists(fifo));
    std::filesystem::create_directory(Path("sub"));
    EXPECT_FALSE(m_fs.Delete(Path("sub")));
    EXPECT_FALSE(m_fs.Delete(Path("missing")));
    EXPECT_TRUE(m_fs.Delete(target));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(FileIoTest, SameFileByDeviceAndInode) {
    const std::string a = Write("a", "1");
    const std::string b = Write("b", "1");
    ASSERT_EQ(::symlink(a.c_str(), Path("sym").c_str()), 0);
    ASSERT_EQ(::link(a.c_str(), Path("hard").c_str()), 0);
    EXPECT_TRUE(m_fs.IsSameFile(a, a));
    EXPECT_TRUE(m_fs.IsSameFile(a, Path("sym")));
    EXPECT_TRUE(m_fs.IsSameFile(Path("hard"), a));
    EXPECT_TRUE(m_fs.IsSameFile(a, (m_dir / "." / "a").string()));
    EXPECT_FALSE(m_fs.IsSameFile(a, b));
    EXPECT_FALSE(m_fs.IsSameFile(a, Path("missing")));
    EXPECT_FALSE(m_fs.IsSameFile(Path("missing"), Path("missing")));
}

TEST_F(FileIoTest, KernelCopyMovesFromPositionToPosition) {
    auto in = m_fs.OpenRead(Write("in", "abcdefghij"));
    auto out = m_fs.CreateWrite(Path("out"));
    ASSERT_TRUE(in && out);
    ASSERT_EQ(out->Write("XY", 2), 2);
    ASSERT_EQ(in->Seek(3, SeekOrigin::Begin), 3);
    int64_t moved = m_fs.CopyChunk(*in, *out, 4);
    if (moved == kCopyUnsupported) {
        GTEST_SKIP() << "no in-kernel copy on this file system";
    }
    EXPECT_EQ(moved, 4);
    EXPECT_EQ(m_fs.CopyChunk(*in, *out, 100), 3);
    EXPECT_EQ(m_fs.CopyChunk(*in, *out, 100), 0);
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(ReadAll(*m_fs.OpenRead(Path("out")), 100), "XYdefghij");
}

TEST_F(FileIoTest, KernelCopyToADeviceIsLeftToPlainWrites) {
    auto in = m_fs.OpenRead(Write("in", "abc"));
    auto full = m_fs.CreateWrite("/dev/full");
    ASSERT_TRUE(in && full);
    EXPECT_EQ(m_fs.CopyChunk(*in, *full, 3), kCopyUnsupported);
    EXPECT_EQ(in->Seek(0, SeekOrigin::Current), 0);
    EXPECT_EQ(full->Write("abc", 3), -1);
}

// Positions that do not share pages go through a pipe: the same bytes, many pipe loads in
// one call, both positions advanced, and the end of the source as for the kernel's copy.
TEST_F(FileIoTest, KernelCopyBetweenPositionsThatShareNoPages) {
    std::string data(size_t{5} << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>('a' + i * 7 % 26);
    }
    auto in = m_fs.OpenRead(Write("in", data));
    auto out = m_fs.CreateWrite(Path("out"));
    ASSERT_TRUE(in && out);
    ASSERT_EQ(out->Write("header", 6), 6);
    ASSERT_EQ(in->Seek(2048, SeekOrigin::Begin), 2048);
    const int64_t first = int64_t{3} << 20;
    ASSERT_EQ(m_fs.CopyChunk(*in, *out, first), first);
    EXPECT_EQ(in->Seek(0, SeekOrigin::Current), 2048 + first);
    EXPECT_EQ(out->Seek(0, SeekOrigin::Current), 6 + first);
    const int64_t rest = static_cast<int64_t>(data.size()) - 2048 - first;
    EXPECT_EQ(m_fs.CopyChunk(*in, *out, int64_t{4} << 20), rest);
    EXPECT_EQ(m_fs.CopyChunk(*in, *out, 100), 0);
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(ReadAll(*m_fs.OpenRead(Path("out")), data.size()), "header" + data.substr(2048));
}

// An output that takes no pipe moves nothing and leaves the source where it was.
TEST_F(FileIoTest, PipeCopyToADeviceIsLeftToPlainWrites) {
    auto in = m_fs.OpenRead(Write("in", "abcdef"));
    auto full = m_fs.CreateWrite("/dev/full");
    ASSERT_TRUE(in && full);
    ASSERT_EQ(in->Seek(3, SeekOrigin::Begin), 3);
    EXPECT_EQ(m_fs.CopyChunk(*in, *full, 3), kCopyUnsupported);
    EXPECT_EQ(in->Seek(0, SeekOrigin::Current), 3);
}

TEST_F(FileIoTest, OffsetsBeyondFourGiB) {
    constexpr int64_t kFar = (int64_t{5} << 30) + 7;
    auto out = m_fs.CreateWrite(Path("sparse"));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->Seek(kFar, SeekOrigin::Begin), kFar);
    ASSERT_EQ(out->Write("end", 3), 3);
    ASSERT_TRUE(out->Close());
    EXPECT_EQ(m_fs.Size(Path("sparse")), kFar + 3);
    auto in = m_fs.OpenRead(Path("sparse"));
    EXPECT_EQ(my_lseeki64(in.get(), 0, SeekOrigin::End), kFar + 3);
    EXPECT_EQ(my_lseeki64(in.get(), -3, SeekOrigin::End), kFar);
    EXPECT_EQ(ReadAll(*in, 10), "end");
}

TEST_F(FileIoTest, FaultDoubleScriptsEachFailure) {
    const std::string path = Write("f", "0123456789");
    CFaultyFileSystem fs;
    fs.m_failSeek = [](const std::string&, int64_t distance, SeekOrigin) { return distance == 4; };
    fs.m_limitRead = [](const std::string&, int64_t position, size_t) {
        return position >= 8 ? int64_t{-1} : int64_t{3};
    };
    fs.m_limitWrite = [](const std::string&, int64_t position, size_t count) {
        return position == 0 ? static_cast<int64_t>(count) - 1 : int64_t{0};
    };
    fs.m_failClose = [](const std::string& p) { return p.ends_with("out"); };

    auto in = fs.OpenRead(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(my_lseeki64(in.get(), 4, SeekOrigin::Begin), -1);
    EXPECT_EQ(in->Seek(0, SeekOrigin::Current), 0);  // a failed seek moves nothing
    EXPECT_EQ(ReadAll(*in, 5), "012");
    EXPECT_EQ(my_lseeki64(in.get(), 8, SeekOrigin::Begin), 8);
    EXPECT_EQ(in->Read(nullptr, 2), -1);
    EXPECT_TRUE(in->Close());

    auto out = fs.CreateWrite(Path("out"));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Write("abcd", 4), 3);
    EXPECT_EQ(out->Write("e", 1), -1);
    EXPECT_FALSE(out->Close());
    EXPECT_EQ(fs.CopyChunk(*in, *out, 1), kCopyUnsupported);
    EXPECT_EQ(fs.m_openedForReading, std::vector<std::string>{path});
    EXPECT_EQ(fs.m_createdForWriting, std::vector<std::string>{Path("out")});
}
