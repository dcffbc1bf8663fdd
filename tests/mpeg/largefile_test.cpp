// Sources over 4 GiB: sizes, boundaries and copies beyond the 32-bit range, on a sparse file.
#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mpeg/splitengine.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

constexpr int64_t kFourGiB = int64_t{4} << 30;
constexpr int64_t kSize = kFourGiB + (int64_t{8} << 20) + 123;
constexpr int64_t kOddCode = kFourGiB + 4096 * 100 + 1;
const unsigned char kCode[4] = {0, 0, 1, 0xBA};

// Codes at 0, at the header length 2,048 and every 4,096 bytes from 4 GiB on; one odd code.
bool IsCode(int64_t at) {
    return at == 0 || at == 2048 || at == kOddCode ||
           (at >= kFourGiB && (at - kFourGiB) % 4096 == 0 && at + 4 <= kSize);
}

// The literal window search over the predicate, for offsets far beyond what fits in memory.
int64_t ModelBoundary(int64_t position) {
    for (int64_t window = position - 2496; window >= 0; window -= 2500) {
        for (int64_t i = 2496; i >= 0; --i) {
            const int64_t at = window + i;
            if (at + 3 < kSize && IsCode(at) && (at - 2048) % 2 == 0) {
                return at;
            }
        }
    }
    return 0;
}

Bytes ReadAt(int fd, int64_t offset, size_t count) {
    Bytes bytes(count);
    EXPECT_EQ(::pread(fd, bytes.data(), count, offset), static_cast<ssize_t>(count));
    return bytes;
}

class LargeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.File("large.mpg");
        const int fd = ::open(m_path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        for (int64_t at : {int64_t{0}, int64_t{2048}, kOddCode}) {
            ASSERT_EQ(::pwrite(fd, kCode, 4, at), 4);
        }
        for (int64_t at = kFourGiB; at + 4 <= kSize; at += 4096) {
            ASSERT_EQ(::pwrite(fd, kCode, 4, at), 4);
        }
        ASSERT_EQ(::close(fd), 0);
        ASSERT_TRUE(m_source.SetSourcePath(m_path));
        ASSERT_TRUE(m_source.ProbeHeader(m_reporter));
    }

    CTempDir m_dir;
    std::string m_path;
    CMpegSource m_source;
    CRecordingReporter m_reporter;
};

}  // namespace

TEST_F(LargeFileTest, ProbeAndBoundariesBeyondFourGiB) {
    EXPECT_EQ(m_source.m_llFileSize, kSize);
    EXPECT_EQ(m_source.m_nHeaderLength, 2048u);
    auto file = PosixFileSystem().OpenRead(m_path);
    ASSERT_TRUE(file);
    for (int64_t position : {kOddCode + 3000, kFourGiB + 4096 * 100, kFourGiB + 2,
                             kFourGiB + 123'457, kSize, kSize + 10'000}) {
        int64_t found = position;
        ASSERT_TRUE(m_source.FindPackBoundary(file.get(), found, m_reporter));
        EXPECT_EQ(found, ModelBoundary(position)) << position;
        EXPECT_GE(found, kFourGiB);
    }
    int64_t aboveOdd = kOddCode + 3000;
    ASSERT_TRUE(m_source.FindPackBoundary(file.get(), aboveOdd, m_reporter));
    EXPECT_EQ(aboveOdd, kFourGiB + 4096 * 100);
}

TEST_F(LargeFileTest, ClipToTheEndOfAFileOverFourGiB) {
    m_source.m_nTotalSeconds = 1000;
    const std::string output = m_dir.File("clip.mpg");
    CSplitEngine engine(m_reporter);
    ASSERT_EQ(engine.CutClip(m_source, {0, 0, 999}, {0, 0, 1000}, output), SplitStatus::Done);

    const int64_t start = ModelBoundary(ClipOffset(999, 1000, kSize));
    ASSERT_GT(start, kFourGiB);
    const int in = ::open(m_path.c_str(), O_RDONLY);
    const int out = ::open(output.c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    EXPECT_EQ(::lseek(out, 0, SEEK_END), 2048 + kSize - start);
    EXPECT_EQ(ReadAt(out, 0, 2048), ReadAt(in, 0, 2048));
    EXPECT_EQ(ReadAt(out, 2048, 4), Bytes(kCode, kCode + 4));
    EXPECT_EQ(ReadAt(out, 2048 + kSize - start - 70'000, 70'000),
              ReadAt(in, kSize - 70'000, 70'000));
    ::close(in);
    ::close(out);
}
