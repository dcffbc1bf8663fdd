// The copy step: exactly the bytes of the 512-byte block rule, whichever way they move, and
// the failure of each place with its own message.
#include "mpeg/rangecopier.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

const CopyMessages kMessages{"seek(1)", "seek(2)", "write(1)", "write(2)"};

class RangeCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_stream = MakeRegularStream(3 * 1024 * 1024 + 777, 2051, 3000);
        m_sourcePath = m_dir.File("source.mpg");
        m_outputPath = m_dir.File("out.mpg");
        WriteFile(m_sourcePath, m_stream);
    }

    // Copies and returns whether it succeeded; the output is closed either way.
    bool Copy(IFileSystem& fs, int64_t start, int64_t end, uint32_t header,
              int64_t sourceSize = kSourceSizeUnknown) {
        CRangeCopier copier(fs, m_reporter);
        CBusyCursor cursor(m_reporter);
        cursor.Raise();
        auto source = fs.OpenRead(m_sourcePath);
        auto output = fs.CreateWrite(m_outputPath);
        EXPECT_TRUE(source && output);
        const bool ok =
            copier.CopyRange(source, output, start, end, header, kMessages, cursor, sourceSize);
        if (ok) {
            EXPECT_TRUE(source && output);
            EXPECT_TRUE(output->Close());
        } else {
            EXPECT_FALSE(source);
            EXPECT_FALSE(output);
        }
        return ok;
    }

    CTempDir m_dir;
    Bytes m_stream;
    std::string m_sourcePath;
    std::string m_outputPath;
    CRecordingReporter m_reporter;
};

}  // namespace

TEST(BlockRuleLength, WholeBlocksCoveringTheRange) {
    EXPECT_EQ(BlockRuleLength(0, 0), 0);
    EXPECT_EQ(BlockRuleLength(10, 5), 0);
    EXPECT_EQ(BlockRuleLength(0, 1), 512);
    EXPECT_EQ(BlockRuleLength(0, 512), 512);
    EXPECT_EQ(BlockRuleLength(0, 513), 1024);
    EXPECT_EQ(BlockRuleLength(4000, 5000), 1024);
    EXPECT_EQ(BlockRuleLength(int64_t{5} << 32, (int64_t{5} << 32) + 1), 512);
}

TEST_F(RangeCopyTest, KernelAndPlainCopiesMatchTheLiteralModel) {
    const auto size = static_cast<int64_t>(m_stream.size());
    const std::vector<std::pair<int64_t, int64_t>> ranges{{0, 1},
                                                          {0, 512},
                                                          {0, 513},
                                                          {2051, 3051},
                                                          {5051, 5052},
                                                          {8051, 1048576},
                                                          {8051, 1048576 + 8051 + 1},
                                                          {0, size},
                                                          {11051, size},
                                                          {size - 1000, size + 100000},
                                                          {2051, 3 * 1048576 + 17}};
    CFaultyFileSystem plain;  // refuses kernel copies: reads and writes of up to 1 MiB
    CFaultyFileSystem kernel;
    kernel.m_bAllowCopyChunk = true;
    for (IFileSystem* fs : {static_cast<IFileSystem*>(&plain), static_cast<IFileSystem*>(&kernel),
                            &PosixFileSystem()}) {
        for (const auto& [start, end] : ranges) {
            ASSERT_TRUE(Copy(*fs, start, end, 2051));
            EXPECT_EQ(ReadFile(m_outputPath), ReferenceCopy(m_stream, start, end, 2051))
                << start << ".." << end;
        }
    }
}

TEST_F(RangeCopyTest, ShortReadsInTheMiddleLoseNothing) {
    CFaultyFileSystem fs;
    fs.m_limitRead = [](const std::string&, int64_t, size_t) { return 4099; };
    ASSERT_TRUE(Copy(fs, 8051, 2 * 1048576, 2051));
    EXPECT_EQ(ReadFile(m_outputPath), ReferenceCopy(m_stream, 8051, 2 * 1048576, 2051));
}

TEST_F(RangeCopyTest, EachPlaceFailsWithItsOwnMessageAfterTheCursorIsLowered) {
    struct Case {
        std::function<void(CFaultyFileSystem&)> fault;
        int64_t start;
        std::string expected;
    };
    const std::vector<Case> cases{
        {[](CFaultyFileSystem& fs) {
             fs.m_failSeek = [](const std::string&, int64_t d, SeekOrigin) { return d == 0; };
         },
         5051, "Error: seek(1)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_failSeek = [](const std::string&, int64_t d, SeekOrigin) { return d == 5051; };
         },
         5051, "Error: seek(2)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_failSeek = [](const std::string&, int64_t d, SeekOrigin) { return d == 0; };
         },
         0, "Error: seek(2)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_limitWrite = [](const std::string&, int64_t, size_t count) {
                 return static_cast<int64_t>(count) - 1;
             };
         },
         5051, "App: write(1)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_limitWrite = [](const std::string&, int64_t position, size_t count) {
                 return position >= 2051 ? 100 : static_cast<int64_t>(count);
             };
         },
         5051, "App: write(2)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_limitRead = [](const std::string&, int64_t position, size_t count) {
                 return position >= 6000 ? -1 : static_cast<int64_t>(count);
             };
         },
         5051, "App: write(2)"},
        {[](CFaultyFileSystem& fs) {
             fs.m_limitRead = [](const std::string&, int64_t, size_t) { return -1; };
         },
         5051, "App: write(1)"},
    };
    for (const Case& c : cases) {
        CFaultyFileSystem fs;
        c.fault(fs);
        m_reporter.m_events.clear();
        EXPECT_FALSE(Copy(fs, c.start, 2 * 1048576, 2051)) << c.expected;
        EXPECT_THAT(m_reporter.m_events, ElementsAre("Wait+", "Wait-", c.expected));
        EXPECT_EQ(m_reporter.m_nWaitDepth, 0);
    }
}

TEST_F(RangeCopyTest, WhatWasWrittenBeforeAFailureStays) {
    CFaultyFileSystem fs;
    fs.m_limitWrite = [](const std::string&, int64_t position, size_t count) {
        return std::min<int64_t>(static_cast<int64_t>(count), 100000 - position);
    };
    EXPECT_FALSE(Copy(fs, 5051, 2 * 1048576, 2051));
    const Bytes written = ReadFile(m_outputPath);
    ASSERT_EQ(written.size(), 100000u);
    const Bytes expected = ReferenceCopy(m_stream, 5051, 2 * 1048576, 2051);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.begin()));
}

TEST_F(RangeCopyTest, FullDeviceFailsTheBlockWrite) {
    CRangeCopier copier(PosixFileSystem(), m_reporter);
    CBusyCursor cursor(m_reporter);
    cursor.Raise();
    auto source = PosixFileSystem().OpenRead(m_sourcePath);
    auto output = PosixFileSystem().CreateWrite("/dev/full");
    ASSERT_TRUE(source && output);
    EXPECT_FALSE(copier.CopyRange(source, output, 0, 100000, 2051, kMessages, cursor));
    EXPECT_THAT(m_reporter.m_events, ElementsAre("Wait+", "Wait-", "App: write(2)"));
}

TEST_F(RangeCopyTest, ASourceEndingBeforeItsMeasuredSizeFailsThePartItEndsIn) {
    const auto size = static_cast<int64_t>(m_stream.size());
    // Unchanged, the end of the file still ends the last block early.
    ASSERT_TRUE(Copy(PosixFileSystem(), size - 1000, size + 100000, 2051, size));
    EXPECT_EQ(ReadFile(m_outputPath), ReferenceCopy(m_stream, size - 1000, size + 100000, 2051));
    m_reporter.m_events.clear();

    ASSERT_EQ(::truncate(m_sourcePath.c_str(), 2 * 1048576), 0);
    EXPECT_FALSE(Copy(PosixFileSystem(), 8051, size, 2051, size));
    ASSERT_EQ(::truncate(m_sourcePath.c_str(), 1000), 0);
    EXPECT_FALSE(Copy(PosixFileSystem(), 5051, 6000, 2051, size));
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: write(2)", "Wait+", "Wait-", "App: write(1)"));
    // A caller that measured nothing gets the end of the source as the end of the copy.
    m_reporter.m_events.clear();
    EXPECT_TRUE(Copy(PosixFileSystem(), 0, size, 2051));
    EXPECT_EQ(ReadFile(m_outputPath).size(), 1000u);
}

TEST_F(RangeCopyTest, ACleanPieceIsItsPartsInOrderWithTheBytePatchedWhereARangeHoldsIt) {
    // The prefix, a range, a literal part that puts source offset 9000 at an output offset
    // congruent to it (4904), and the rest of the source with a byte patched.
    CExactCopy copy;
    copy.m_prefix = Bytes(808, 0xAA);
    copy.m_llStart = 5000;
    copy.m_llEnd = 3 * 1048576;
    copy.m_patch = CBytePatch{600000, 0x5A};
    copy.m_parts = {{false, 5000, 6000, {}},
                    {true, 6000, 9000, Bytes(3096, 0xBB)},
                    {false, 9000, 3 * 1048576, {}}};
    Bytes expected = copy.m_prefix;
    expected.insert(expected.end(), m_stream.begin() + 5000, m_stream.begin() + 6000);
    expected.insert(expected.end(), 3096, 0xBB);
    expected.insert(expected.end(), m_stream.begin() + 9000, m_stream.begin() + 3 * 1048576);
    expected[808 + 1000 + 3096 + (600000 - 9000)] = 0x5A;
    EXPECT_EQ(copy.Bytes(), static_cast<int64_t>(expected.size()));

    CFaultyFileSystem fs;
    fs.m_bAllowCopyChunk = true;
    CRangeCopier copier(fs, m_reporter);
    CBusyCursor cursor(m_reporter);
    auto source = fs.OpenRead(m_sourcePath);
    std::unique_ptr<IOutputFile> output;
    {
        OutputStatus status = OutputStatus::Ok;
        output = fs.CreateOutput(m_outputPath, *source, status);
    }
    ASSERT_TRUE(source && output);
    ASSERT_TRUE(copier.CopyExact(source, output, copy, kMessages, cursor));
    ASSERT_EQ(output->Commit(), OutputStatus::Ok);
    EXPECT_EQ(ReadFile(m_outputPath), expected);
}
