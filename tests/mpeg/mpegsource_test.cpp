// Header probe, duration probe, source path limits and the pack boundary search.
#include "mpeg/mpegsource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct ProbeResult {
    bool ok;
    CMpegSource source;
    std::vector<std::string> events;
};

ProbeResult Probe(const std::string& path, IFileSystem& fs = PosixFileSystem(),
                  uint32_t previousHeader = 0) {
    ProbeResult result{false, {}, {}};
    EXPECT_TRUE(result.source.SetSourcePath(path));
    result.source.m_nHeaderLength = previousHeader;
    CRecordingReporter reporter;
    result.ok = result.source.ProbeHeader(reporter, fs);
    result.events = reporter.m_events;
    return result;
}

ProbeResult ProbeBytes(const CTempDir& dir, const Bytes& bytes, uint32_t previousHeader = 0) {
    const std::string path = dir.File("probe.mpg");
    WriteFile(path, bytes);
    return Probe(path, PosixFileSystem(), previousHeader);
}

}  // namespace

TEST(ProbeHeader, EightByteFileHasHeaderOfFour) {
    CTempDir dir;
    auto r = ProbeBytes(dir, {0, 0, 1, 0xBA, 0, 0, 1, 0xBA});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.source.m_nHeaderLength, 4u);
    EXPECT_EQ(r.source.m_llFileSize, 8);
    EXPECT_THAT(r.events, IsEmpty());
}

TEST(ProbeHeader, FindsFirstSecondCodeIncludingOddOffsets) {
    CTempDir dir;
    auto r = ProbeBytes(dir, MakeStream(100000, {0, 2049, 4096}));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.source.m_nHeaderLength, 2049u);
    EXPECT_EQ(r.source.m_llFileSize, 100000);
}

TEST(ProbeHeader, LastCandidateIs19996) {
    CTempDir dir;
    auto found = ProbeBytes(dir, MakeStream(30000, {0, 19996}));
    EXPECT_TRUE(found.ok);
    EXPECT_EQ(found.source.m_nHeaderLength, 19996u);

    auto missed = ProbeBytes(dir, MakeStream(30000, {0, 19997}), 77);
    EXPECT_FALSE(missed.ok);
    EXPECT_EQ(missed.source.m_nHeaderLength, 0u);
    EXPECT_EQ(missed.source.m_llFileSize, 30000);
    EXPECT_THAT(missed.events,
                ElementsAre("Error: Can not find the second pack in the mpeg file head!"));
}

TEST(ProbeHeader, FileShorterThanTheWindowIsScannedToItsEnd) {
    CTempDir dir;
    auto r = ProbeBytes(dir, MakeStream(5000, {0, 4996}));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.source.m_nHeaderLength, 4996u);
    auto cut = ProbeBytes(dir, MakeStream(4999, {0, 4996}));
    EXPECT_FALSE(cut.ok);
}

TEST(ProbeHeader, BadHeadsAreReportedAndKeepTheOldHeaderLength) {
    CTempDir dir;
    const Bytes elementary{0, 0, 1, 0xB3, 0, 0, 1, 0xBA, 1, 2, 3};
    for (const Bytes& bytes : {elementary, Bytes{0, 0, 1}, Bytes{}}) {
        auto r = ProbeBytes(dir, bytes, 2048);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.source.m_nHeaderLength, 2048u);
        EXPECT_EQ(r.source.m_llFileSize, static_cast<int64_t>(bytes.size()));
        EXPECT_THAT(r.events, ElementsAre("Error: Can not read the mpeg file head!"));
    }
}

TEST(ProbeHeader, MissingFileOrFolderCannotBeOpened) {
    CTempDir dir;
    for (const std::string& path : {dir.File("missing.mpg"), dir.Path().string(), std::string()}) {
        auto r = Probe(path);
        EXPECT_FALSE(r.ok);
        EXPECT_THAT(r.events, ElementsAre("Error: Can not open the mpeg file!")) << path;
    }
}

TEST(ProbeHeader, FailedSizeSeekAndShortReadAreReported) {
    CTempDir dir;
    const std::string path = dir.File("a.mpg");
    WriteFile(path, MakeRegularStream(50000, 2048, 2048));

    CFaultyFileSystem failSeek;
    failSeek.m_failSeek = [](const std::string&, int64_t, SeekOrigin origin) {
        return origin == SeekOrigin::End;
    };
    auto r = Probe(path, failSeek);
    EXPECT_FALSE(r.ok);
    EXPECT_THAT(r.events, ElementsAre("Error: my_lseeki64 is wrong for GetFileSizeEx"));

    CFaultyFileSystem shortRead;
    shortRead.m_limitRead = [](const std::string&, int64_t, size_t) { return 19999; };
    r = Probe(path, shortRead);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.source.m_llFileSize, 50000);
    EXPECT_THAT(r.events, ElementsAre("Error: Can not read the mpeg file head!"));
}

TEST(ProbeHeader, RealSamples) {
    const char* samples = std::getenv("TARNWICK_SAMPLES");
    ASSERT_NE(samples, nullptr) << "CTest sets TARNWICK_SAMPLES";
    const std::string folder = std::string(samples) + "/";
    for (const char* name : {"wxpython-classic_testmovie.mpg", "puremagic_test.mpg",
                             "exoplayer_sample_h262_mpeg_audio.mpg"}) {
        auto r = Probe(folder + name);
        EXPECT_TRUE(r.ok) << name;
        EXPECT_EQ(r.source.m_nHeaderLength, 2048u) << name;
        EXPECT_EQ(r.source.m_nHeaderCopyLength, 2048u) << name;
    }
    // Its second pack lies beyond the first 20,000 bytes: once refused, now followed to it.
    // What goes in front of pieces is the pack header and the system header after it.
    auto far = Probe(folder + "neg_mimetype_mpeg.mpeg");
    EXPECT_TRUE(far.ok);
    EXPECT_EQ(far.source.m_llFileSize, 55296);
    EXPECT_EQ(far.source.m_nHeaderLength, 20480u);
    EXPECT_EQ(far.source.m_nHeaderCopyLength, 12u + 15u);
    EXPECT_THAT(far.events, IsEmpty());
    auto elementary = Probe(folder + "neg_file-type_fixture.mpg");
    EXPECT_FALSE(elementary.ok);
    EXPECT_THAT(elementary.events, ElementsAre("Error: Can not read the mpeg file head!"));
}

// A pack header, a system header, a stream map, then `firstPackets` packets of 10,000 bytes
// before the second pack: the shape of ffmpeg's and GStreamer's program streams.
CPsBuilder LongFirstPack(int firstPackets, bool mpeg2 = true) {
    CPsBuilder builder;
    builder.Pack(1000, mpeg2, 25200, mpeg2 ? 3 : 0).SystemHeader().StreamMap();
    for (int i = 0; i < firstPackets; ++i) {
        builder.Packet(i % 2 == 0 ? 0xE0 : 0xC0, 10000, 5000 + i, {}, mpeg2);
    }
    for (int i = 0; i < 3; ++i) {
        builder.Pack(2000 + i, mpeg2).Packet(0xE0, 2000, {}, {}, mpeg2);
    }
    return builder;
}

TEST(ProbeHeader, LongFirstPackIsFollowedToTheSecondPack) {
    CTempDir dir;
    for (const bool mpeg2 : {true, false}) {
        const CPsBuilder builder = LongFirstPack(5, mpeg2);
        // Units: pack, system header, stream map, five packets, then the second pack.
        const int64_t second = builder.UnitOffsets()[8];
        const int64_t firstPacket = builder.UnitOffsets()[3];
        ASSERT_GT(second, kHeadWindowBytes);
        auto r = ProbeBytes(dir, builder.Data());
        EXPECT_TRUE(r.ok) << mpeg2;
        EXPECT_THAT(r.events, IsEmpty());
        EXPECT_EQ(r.source.m_nHeaderLength, second) << mpeg2;
        EXPECT_EQ(r.source.m_nHeaderCopyLength, firstPacket) << mpeg2;
    }
    // No system header: the pack header alone goes in front of pieces.
    CPsBuilder bare;
    bare.Pack(1000, true, 25200, 2).Packet(0xE0, 30000, 5000).Pack(2000).Packet(0xE0, 100);
    auto r = ProbeBytes(dir, bare.Data());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.source.m_nHeaderLength, 16u + 30000 + 14);
    EXPECT_EQ(r.source.m_nHeaderCopyLength, 16u);
}

TEST(ProbeHeader, LongFirstPackWithoutASecondPackInFourMiBIsRefused) {
    CTempDir dir;
    // 4 MiB of packets in the first pack: the second pack starts beyond the search.
    const int packets = static_cast<int>(kLongFirstPackBytes / 10006) + 1;
    auto far = ProbeBytes(dir, LongFirstPack(packets).Data(), 77);
    EXPECT_FALSE(far.ok);
    EXPECT_EQ(far.source.m_nHeaderLength, 0u);
    EXPECT_THAT(far.events,
                ElementsAre("Error: Can not find the second pack in the mpeg file head!"));

    // Bytes that are no packet end the walk: nothing to follow.
    CPsBuilder broken;
    broken.Pack(1000).SystemHeader().Packet(0xE0, 30000, 5000).Raw(MakeStream(100, {}));
    broken.Pack(2000).Packet(0xE0, 100);
    auto noise = ProbeBytes(dir, broken.Data());
    EXPECT_FALSE(noise.ok);
    EXPECT_THAT(noise.events,
                ElementsAre("Error: Can not find the second pack in the mpeg file head!"));

    // And a file of one pack has no second one anywhere.
    CPsBuilder single;
    single.Pack(1000).SystemHeader().Packet(0xE0, 30000, 5000);
    EXPECT_FALSE(ProbeBytes(dir, single.Data()).ok);
}

TEST(ProbeDuration, StreamClockComesFirstAndTheFrameworkOnlyWithoutOne) {
    CTempDir dir;
    CPsBuilder builder;
    AppendRecording(builder, CRecordingShape{});
    WriteFile(dir.File("clock.mpg"), builder.Data());
    WriteFile(dir.File("none.mpg"), MakeRegularStream(100'000, 2048, 2048));
    int asked = 0;
    auto query = [&asked](const std::string&, int64_t* stop) {
        ++asked;
        *stop = 36'000'000'000;
        return true;
    };

    CMpegSource source;
    ASSERT_TRUE(source.SetSourcePath(dir.File("clock.mpg")));
    EXPECT_TRUE(source.ProbeDuration(query));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(source.m_eDurationSource, EDurationSource::TimeStamps);
    EXPECT_EQ(source.m_llDuration100ns, 40'080'000);  // 4 s and the last audio frame
    EXPECT_EQ(source.m_nTotalSeconds, 4);
    // No framework needed at all.
    EXPECT_TRUE(source.ProbeDuration(nullptr));

    ASSERT_TRUE(source.SetSourcePath(dir.File("none.mpg")));
    EXPECT_TRUE(source.ProbeDuration(query));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(source.m_eDurationSource, EDurationSource::MediaFramework);
    EXPECT_EQ(source.m_nTotalSeconds, 3600);
}

TEST(ProbeDuration, TruncatesToWholeSeconds) {
    CMpegSource source;
    ASSERT_TRUE(source.SetSourcePath("/x/show.mpg"));
    std::string askedFor;
    int64_t answer = 36'000'000'000;
    auto query = [&](const std::string& path, int64_t* stop) {
        askedFor = path;
        *stop = answer;
        return true;
    };
    EXPECT_TRUE(source.ProbeDuration(query));
    EXPECT_EQ(askedFor, "/x/show.mpg");
    EXPECT_EQ(source.m_llDuration100ns, 36'000'000'000);
    EXPECT_EQ(source.m_nTotalSeconds, 3600);
    answer = 35'999'999'999;
    EXPECT_TRUE(source.ProbeDuration(query));
    EXPECT_EQ(source.m_nTotalSeconds, 3599);
}

TEST(ProbeDuration, FailingOrMissingQueryKeepsTheTotal) {
    CMpegSource source;
    source.m_nTotalSeconds = 42;
    EXPECT_FALSE(source.ProbeDuration([](const std::string&, int64_t*) { return false; }));
    EXPECT_FALSE(source.ProbeDuration(nullptr));
    EXPECT_EQ(source.m_nTotalSeconds, 42);
}

TEST(SourcePath, LongerThanThePathLimitIsRefusedNotTruncated) {
    CMpegSource source;
    ASSERT_TRUE(source.SetSourcePath("/keep.mpg"));
    const std::string longest(CMpegSource::kPathCapacity - 1, 'a');
    EXPECT_TRUE(source.SetSourcePath(longest));
    EXPECT_EQ(source.SourcePath(), longest);
    EXPECT_FALSE(source.SetSourcePath(longest + "b"));
    EXPECT_EQ(source.SourcePath(), longest);
    EXPECT_FALSE(source.SetSourcePath(std::string("/a\0b", 4)));
    EXPECT_EQ(source.SourcePath(), longest);
    source.ClearSourcePath();
    EXPECT_FALSE(source.HasSourcePath());
}

TEST(SourceInfoLine, NameTwoBlanksAndUnboundedHours) {
    EXPECT_EQ(FormatSourceInfoLine("a.mpg", 3665), "a.mpg  (01:01:05)");
    EXPECT_EQ(FormatSourceInfoLine("a.mpg", 0), "a.mpg  (00:00:00)");
    EXPECT_EQ(FormatSourceInfoLine("b.mpg", 360000), "b.mpg  (100:00:00)");
}

// --- Pack boundary search ---------------------------------------------------------------

namespace {

class PackBoundaryTest : public ::testing::Test {
protected:
    // Writes the stream and opens it as the source with header length `header`.
    void Open(const Bytes& stream, uint32_t header, IFileSystem& fs = PosixFileSystem()) {
        m_stream = stream;
        const std::string path = m_dir.File("s.mpg");
        WriteFile(path, stream);
        m_source.m_nHeaderLength = header;
        m_source.m_llFileSize = static_cast<int64_t>(stream.size());
        m_file = fs.OpenRead(path);
        ASSERT_TRUE(m_file);
    }

    int64_t Search(int64_t position) {
        EXPECT_TRUE(m_source.FindPackBoundary(m_file.get(), position, m_reporter));
        EXPECT_THAT(m_reporter.m_events, IsEmpty());
        return position;
    }

    CTempDir m_dir;
    Bytes m_stream;
    CMpegSource m_source;
    std::unique_ptr<IFile> m_file;
    CRecordingReporter m_reporter;
};

}  // namespace

TEST_F(PackBoundaryTest, BelowTheFirstWindowAnswersZeroWithoutReading) {
    CFaultyFileSystem fs;
    int reads = 0;
    fs.m_limitRead = [&](const std::string&, int64_t, size_t count) {
        ++reads;
        return static_cast<int64_t>(count);
    };
    Open(MakeStream(10000, {0, 500, 1000}), 500, fs);
    EXPECT_EQ(Search(1000), 0);
    EXPECT_EQ(Search(2495), 0);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(Search(-5), 0);
}

TEST_F(PackBoundaryTest, WindowEdgesAndParity) {
    // P = 2,496: one window at 0 whose highest candidate is P itself.
    Open(MakeStream(10000, {0, 2048, 2496}), 2048);
    EXPECT_EQ(Search(2496), 2496);
    // A code above P is not taken; an odd distance from an even header is skipped.
    Open(MakeStream(20000, {0, 2048, 10000, 12001, 12048}), 2048);
    EXPECT_EQ(Search(12047), 10000);
    EXPECT_EQ(Search(13000), 12048);
    Open(MakeStream(20000, {0, 2048, 10000, 12001}), 2048);
    EXPECT_EQ(Search(13000), 10000);
    // An odd header length takes the odd code.
    Open(MakeStream(20000, {0, 2049, 10000, 12001}), 2049);
    EXPECT_EQ(Search(13000), 12001);
}

TEST_F(PackBoundaryTest, ThreeOffsetsBelowEachWindowAreNeverExamined) {
    // P = 10,000: windows start at 7,504 and 5,004; 7,501..7,503 lie in neither.
    for (int64_t hidden : {7501, 7502, 7503}) {
        Open(MakeStream(20000, {0, 2048, 5006, hidden}), hidden % 2 == 0 ? 2048 : 2049);
        const int64_t expected = hidden % 2 == 0 ? 5006 : 0;
        EXPECT_EQ(Search(10000), expected) << hidden;
    }
    Open(MakeStream(20000, {0, 2048, 5006, 7500, 7504}), 2048);
    EXPECT_EQ(Search(10000), 7504);
    Open(MakeStream(20000, {0, 2048, 5006, 7500}), 2048);
    EXPECT_EQ(Search(10000), 7500);
}

TEST_F(PackBoundaryTest, AtAndBeyondTheEndOfTheFile) {
    Open(MakeStream(20000, {0, 2048, 19996}), 2048);
    EXPECT_EQ(Search(20000), 19996);
    EXPECT_EQ(Search(1'000'000), 19996);
    // A source shorter than one window.
    Open(MakeStream(2000, {0, 1000, 1500}), 1000);
    EXPECT_EQ(Search(2600), 1500);
}

TEST_F(PackBoundaryTest, MatchesTheLiteralModelOnRandomStreams) {
    std::mt19937_64 random(12345);
    for (int round = 0; round < 30; ++round) {
        const auto size =
            static_cast<size_t>(std::uniform_int_distribution<int>(3000, 60000)(random));
        std::vector<int64_t> codes{0};
        std::uniform_int_distribution<int64_t> at(4, static_cast<int64_t>(size) - 4);
        for (int i = 0; i < 12; ++i) {
            codes.push_back(at(random));
        }
        const Bytes stream = MakeStream(size, codes);
        const auto header = static_cast<uint32_t>(codes[1] % 2 == 0 ? 2048 : 2049);
        Open(stream, header);
        std::uniform_int_distribution<int64_t> position(0, static_cast<int64_t>(size) + 6000);
        for (int i = 0; i < 40; ++i) {
            const int64_t p = position(random);
            EXPECT_EQ(Search(p), ReferenceBoundary(stream, p, header)) << "P=" << p;
        }
    }
}

TEST_F(PackBoundaryTest, NullFileAndFailedSeekLeaveThePosition) {
    Open(MakeRegularStream(20000, 2048, 2048), 2048);
    int64_t position = 9000;
    EXPECT_FALSE(m_source.FindPackBoundary(nullptr, position, m_reporter));
    EXPECT_EQ(position, 9000);
    EXPECT_THAT(m_reporter.m_events, ElementsAre("Error: my_lseeki64 is wrong(7)."));

    CFaultyFileSystem fs;
    fs.m_failSeek = [](const std::string&, int64_t distance, SeekOrigin) {
        return distance == 4004;  // the second window of a search from 9,000
    };
    Open(MakeStream(20000, {0, 2048}), 2048, fs);
    CRecordingReporter reporter;
    position = 9000;
    EXPECT_FALSE(m_source.FindPackBoundary(m_file.get(), position, reporter));
    EXPECT_EQ(position, 9000);
    EXPECT_THAT(reporter.m_events, ElementsAre("Error: my_lseeki64 is wrong(7)."));
}

TEST_F(PackBoundaryTest, ShortReadBeforeTheEndFailsWithPositionZero) {
    CFaultyFileSystem fs;
    fs.m_limitRead = [](const std::string&, int64_t, size_t) { return 1000; };
    Open(MakeRegularStream(20000, 2048, 2048), 2048, fs);
    CRecordingReporter reporter;
    int64_t position = 9000;
    EXPECT_FALSE(m_source.FindPackBoundary(m_file.get(), position, reporter));
    EXPECT_EQ(position, 0);
    EXPECT_THAT(reporter.m_events, ElementsAre("Error: Can not read the mpeg file head!"));

    // A failed read counts as 0 bytes: harmless beyond the end, an error before it.
    fs.m_limitRead = [](const std::string&, int64_t, size_t) { return -1; };
    Open(MakeStream(20000, {0, 2048}), 2048, fs);
    CRecordingReporter quiet;
    position = 30000;
    m_source.m_llFileSize = 20000;
    EXPECT_FALSE(m_source.FindPackBoundary(m_file.get(), position, quiet));
    EXPECT_THAT(quiet.m_events, ElementsAre("Error: Can not read the mpeg file head!"));
}
