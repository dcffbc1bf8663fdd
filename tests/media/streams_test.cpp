// Program streams of every shape at hand, real and made here, through the whole engine with
// the real media framework: the length from the stream's clock against ffprobe's, the cut and
// both splits, and every piece opened again as the Open command opens it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "media/mediaframework.h"
#include "media/querystopposition.h"
#include "mpeg/mpegsource.h"
#include "mpeg/outputpaths.h"
#include "mpeg/splitengine.h"
#include "testmedia.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

constexpr double kUnitsPerSecond = 10'000'000.0;

struct CStream {
    std::string m_strName;
    std::string m_strPath;
    // The framework plays a piece cut from the middle. The real samples carry their
    // sequence header only at the start, so the framework finds no picture in a later piece
    // (the pieces are byte for byte what they always were; the Open command measures them
    // from their clock).
    bool m_bFrameworkPlaysPieces = true;
};

// Every program stream the tests have: the real samples and the generated ones. (The
// sample that is a video elementary stream is no program stream and cannot be opened.)
std::vector<CStream> ProgramStreams() {
    std::vector<CStream> streams;
    for (const char* name : {"wxpython-classic_testmovie.mpg", "puremagic_test.mpg",
                             "exoplayer_sample_h262_mpeg_audio.mpg", "neg_mimetype_mpeg.mpeg"}) {
        streams.push_back({name, SamplePath(name), false});
    }
    const std::pair<const char*, TestMedia> made[] = {
        {"ffmpeg -f vob", TestMedia::Mpeg2Vob},
        {"ffmpeg VCD", TestMedia::Mpeg1Vcd},
        {"ffmpeg DVD", TestMedia::DvdPal},
        {"audio only", TestMedia::AudioOnly},
        {"ffmpeg -f mpeg", TestMedia::FfmpegMpeg1},
        {"mpegpsmux H.264", TestMedia::GstH264},
        {"camera", TestMedia::Camera},
        {"camera, large", TestMedia::CameraLarge},
        {"camera, small packs", TestMedia::CameraSmallPacks},
        {"sparse time stamps", TestMedia::SparseStamps},
    };
    for (const auto& [name, media] : made) {
        streams.push_back({name, TestMediaPath(media), true});
    }
    return streams;
}

class StreamsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(MediaFrameworkInitialize()); }

    // Opens as the Open command does: the header probe, then the length from the clock or
    // from the framework.
    static bool Open(const std::string& path, CMpegSource& source,
                     const StopPositionQuery& query = QueryStopPosition) {
        CRecordingReporter reporter;
        return source.SetSourcePath(path) && source.ProbeHeader(reporter) &&
               source.ProbeDuration(query);
    }

    static double Seconds(const CMpegSource& source) {
        return static_cast<double>(source.m_llDuration100ns) / kUnitsPerSecond;
    }

    // Checks every output of one command against the source and returns their lengths.
    static std::vector<double> CheckPieces(const std::vector<std::string>& paths,
                                           bool frameworkPlaysSource, const std::string& what) {
        std::vector<double> lengths;
        for (const std::string& path : paths) {
            const Bytes bytes = ReadFile(path);
            EXPECT_TRUE(bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 &&
                        bytes[3] == 0xBA)
                << what << ": " << path;
            CMpegSource piece;
            EXPECT_TRUE(Open(path, piece)) << what << ": " << path;
            EXPECT_GT(piece.m_llDuration100ns, 0) << what << ": " << path;
            if (frameworkPlaysSource) {
                int64_t stop = 0;
                EXPECT_TRUE(QueryStopPosition(path, &stop)) << what << ": " << path;
            }
            lengths.push_back(Seconds(piece));
        }
        return lengths;
    }

    static std::vector<std::string> Outputs(const std::filesystem::path& folder) {
        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            paths.push_back(entry.path().string());
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(StreamsTest, LengthFromTheClockMatchesFfprobeWithoutTheFramework) {
    for (const CStream& stream : ProgramStreams()) {
        ASSERT_FALSE(stream.m_strPath.empty()) << stream.m_strName << " could not be made";
        const std::optional<double> expected = FfprobeDuration(stream.m_strPath);
        ASSERT_TRUE(expected) << stream.m_strName;
        int asked = 0;
        const StopPositionQuery counting = [&asked](const std::string& path, int64_t* stop) {
            ++asked;
            return QueryStopPosition(path, stop);
        };
        CMpegSource source;
        ASSERT_TRUE(Open(stream.m_strPath, source, counting)) << stream.m_strName;
        EXPECT_EQ(source.m_eDurationSource, EDurationSource::TimeStamps) << stream.m_strName;
        EXPECT_EQ(asked, 0) << stream.m_strName;
        EXPECT_NEAR(Seconds(source), *expected, 0.1) << stream.m_strName;
        EXPECT_EQ(source.m_nTotalSeconds, source.m_llDuration100ns / 10'000'000);
    }
}

TEST_F(StreamsTest, ClockThatDisagreesWithItselfTakesTheFrameworksLength) {
    const std::string mismatch = TestMediaPath(TestMedia::ClockMismatch);
    ASSERT_FALSE(mismatch.empty());
    int64_t framework = 0;
    ASSERT_TRUE(QueryStopPosition(mismatch, &framework));
    CMpegSource source;
    ASSERT_TRUE(Open(mismatch, source));
    EXPECT_EQ(source.m_eDurationSource, EDurationSource::MediaFramework);
    EXPECT_EQ(source.m_llDuration100ns, framework);
}

// Recordings joined into one file, whose clock jumps an hour ahead or starts again, inside
// the places the clock is read and between them: ffprobe and the framework answer with the
// clock's ends, the length is the sum of the parts; a clean split by time gives pieces of the
// length asked (to within a group of pictures, 0.48 s).
TEST_F(StreamsTest, JoinedRecordingsMeasureTheSumOfTheirParts) {
    struct CRow {
        const char* m_name;
        TestMedia m_media;  // two halves of the same size
        int32_t m_nPieceSeconds;
    };
    const CRow rows[] = {
        {"3 s twice (cat a a)", TestMedia::Joined, 2},
        {"20 s and the same an hour later", TestMedia::JoinedLater, 8},
        {"60 s twice", TestMedia::JoinedLong, 30},
        {"60 s and the same an hour later", TestMedia::JoinedLongLater, 30},
    };
    for (const CRow& row : rows) {
        SCOPED_TRACE(row.m_name);
        const std::string path = TestMediaPath(row.m_media);
        ASSERT_FALSE(path.empty());
        CMpegSource source;
        ASSERT_TRUE(Open(path, source, {}));
        EXPECT_EQ(source.m_eDurationSource, EDurationSource::TimeStamps);
        // The first half alone, as ffprobe measures it.
        CTempDir halfDir;
        const Bytes bytes = ReadFile(path);
        const std::string first = halfDir.File("half.vob");
        WriteFile(first,
                  Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(bytes.size() / 2)));
        const std::optional<double> half = FfprobeDuration(first);
        ASSERT_TRUE(half);
        EXPECT_NEAR(Seconds(source), 2 * *half, 0.1);

        CTempDir dir;
        CRecordingReporter reporter;
        CSplitEngine engine(reporter);
        engine.SetOptions({true});
        ASSERT_EQ(engine.SplitByTime(source, row.m_nPieceSeconds, dir.Folder()), SplitStatus::Done);
        const std::vector<double> lengths = CheckPieces(Outputs(dir.Path()), false, row.m_name);
        const auto expected = static_cast<size_t>(
            std::ceil(static_cast<double>(source.m_nTotalSeconds) / row.m_nPieceSeconds));
        ASSERT_EQ(lengths.size(), expected);
        for (size_t k = 0; k + 1 < lengths.size(); ++k) {
            EXPECT_NEAR(lengths[k], row.m_nPieceSeconds, 1.0) << k;
        }
    }
}

TEST_F(StreamsTest, CameraStreamsOpenThoughTheFrameworkFindsNoLength) {
    const std::pair<TestMedia, int32_t> rows[] = {
        {TestMedia::Camera, 20},
        // Its audio packets without PES header once made its clock look broken.
        {TestMedia::CameraSmallPacks, 320},
    };
    for (const auto& [media, seconds] : rows) {
        const std::string camera = TestMediaPath(media);
        ASSERT_FALSE(camera.empty());
        int64_t stop = 0;
        EXPECT_FALSE(QueryStopPosition(camera, &stop)) << camera;
        CMpegSource source;
        ASSERT_TRUE(Open(camera, source)) << camera;
        EXPECT_EQ(source.m_nTotalSeconds, seconds) << camera;
    }
}

TEST_F(StreamsTest, LongFirstPacksGiveOnlyTheirHeadersToPieces) {
    for (const std::string& path :
         {TestMediaPath(TestMedia::FfmpegMpeg1), TestMediaPath(TestMedia::GstH264),
          TestMediaPath(TestMedia::CameraLarge), SamplePath("neg_mimetype_mpeg.mpeg")}) {
        ASSERT_FALSE(path.empty());
        CMpegSource source;
        ASSERT_TRUE(Open(path, source)) << path;
        EXPECT_GT(source.m_nHeaderLength, 20000u) << path;
        // The pack header, the system header and any stream map: then the first packet of
        // an elementary stream.
        const Bytes bytes = ReadFile(path);
        const uint32_t copy = source.m_nHeaderCopyLength;
        ASSERT_LT(copy + 4, bytes.size());
        EXPECT_LT(copy, 200u) << path;
        EXPECT_TRUE(bytes[copy] == 0 && bytes[copy + 1] == 0 && bytes[copy + 2] == 1 &&
                    bytes[copy + 3] > 0xBC)
            << path;
    }
}

TEST_F(StreamsTest, EveryPieceOfEveryModeOpensAndTheLengthsAddUp) {
    for (const CStream& stream : ProgramStreams()) {
        if (stream.m_strName == "neg_mimetype_mpeg.mpeg") {
            continue;  // its packs are too long to cut into pieces of two packs or more (below)
        }
        SCOPED_TRACE(stream.m_strName);
        CMpegSource source;
        ASSERT_TRUE(Open(stream.m_strPath, source));
        int64_t ignored = 0;
        const bool frameworkPlays =
            stream.m_bFrameworkPlaysPieces && QueryStopPosition(stream.m_strPath, &ignored);
        const int32_t total = source.m_nTotalSeconds;
        CTempDir dir;
        CRecordingReporter reporter;
        CSplitEngine engine(reporter);

        // By frame: the middle third, or the whole of a short stream.
        if (total >= 1) {
            const int32_t from = total >= 3 ? total / 3 : 0;
            const int32_t to = total >= 3 ? 2 * total / 3 : total;
            const std::string clip = dir.File("clip.mpg");
            ASSERT_EQ(engine.CutClip(source, {0, 0, from}, {0, 0, to}, clip), SplitStatus::Done);
            CheckPieces({clip}, frameworkPlays, "clip");
        }

        // By size and by time: the pieces' lengths add up to the source's, within a second
        // a piece (a cut at a pack boundary puts audio sent ahead of the pictures into the
        // earlier piece).
        std::filesystem::create_directory(dir.Path() / "size");
        ASSERT_EQ(engine.SplitBySize(source, 3, dir.Folder() + "size/"), SplitStatus::Done);
        const std::vector<double> bySize =
            CheckPieces(Outputs(dir.Path() / "size"), frameworkPlays, "by size");
        EXPECT_NEAR(std::accumulate(bySize.begin(), bySize.end(), 0.0), Seconds(source),
                    1.0 * static_cast<double>(bySize.size()));
        if (total >= 1) {
            std::filesystem::create_directory(dir.Path() / "time");
            const int32_t seconds = std::max(1, total / 3);
            ASSERT_EQ(engine.SplitByTime(source, seconds, dir.Folder() + "time/"),
                      SplitStatus::Done);
            const std::vector<double> byTime =
                CheckPieces(Outputs(dir.Path() / "time"), frameworkPlays, "by time");
            EXPECT_NEAR(std::accumulate(byTime.begin(), byTime.end(), 0.0), Seconds(source),
                        1.0 * static_cast<double>(byTime.size()));
        }
    }
}

// A sample of 55,296 bytes in packs of 20,480: a piece that ends at its second pack is its
// first pack alone, a file without a second pack, which Open refuses as it refuses any.
TEST_F(StreamsTest, PieceOfOnePackIsRefusedLikeAnyFileWithoutASecondPack) {
    CMpegSource source;
    ASSERT_TRUE(Open(SamplePath("neg_mimetype_mpeg.mpeg"), source));
    CTempDir dir;
    CRecordingReporter reporter;
    ASSERT_EQ(CSplitEngine(reporter).SplitBySize(source, 2, dir.Folder()), SplitStatus::Done);
    const std::string first = dir.File("neg_mimetype_mpeg_0.mpg");
    EXPECT_EQ(std::filesystem::file_size(first), 20480u);
    CMpegSource piece;
    ASSERT_TRUE(piece.SetSourcePath(first));
    CRecordingReporter probe;
    EXPECT_FALSE(piece.ProbeHeader(probe));
    EXPECT_EQ(probe.m_events, std::vector<std::string>{
                                  "Error: Can not find the second pack in the mpeg file head!"});
    EXPECT_EQ(CheckPieces({dir.File("neg_mimetype_mpeg_1.mpg")}, false, "second").size(), 1u);
}

// The second piece of a stream whose first pack is long starts with its own pictures: the
// first one decoded is the source's picture of that time, not one of its first seconds.
// (A stream whose second pack lies within the first 20,000 bytes puts its whole first pack in
// front of every piece, byte for byte as before; its pieces start with that pack's pictures.)
TEST_F(StreamsTest, SecondPieceStartsWithItsOwnPicture) {
    for (const TestMedia media :
         {TestMedia::FfmpegMpeg1, TestMedia::GstH264, TestMedia::CameraLarge}) {
        const std::string path = TestMediaPath(media);
        SCOPED_TRACE(path);
        CMpegSource source;
        ASSERT_TRUE(Open(path, source));
        CTempDir dir;
        CRecordingReporter reporter;
        ASSERT_EQ(CSplitEngine(reporter).SplitBySize(source, 3, dir.Folder()), SplitStatus::Done);
        const std::string second = MakePiecePath(path, 3, 1, dir.Folder());

        const std::optional<CDecodedPicture> sourceFirst = DecodeFirstPicture(path);
        const std::optional<CDecodedPicture> pieceFirst = DecodeFirstPicture(second);
        ASSERT_TRUE(sourceFirst && pieceFirst);
        EXPECT_GT(pieceFirst->m_dSeconds, sourceFirst->m_dSeconds + 2.0);
        EXPECT_TRUE(pieceFirst->m_strPixels != sourceFirst->m_strPixels);
        const std::optional<CDecodedPicture> sameTime =
            DecodeFirstPicture(path, pieceFirst->m_dSeconds);
        ASSERT_TRUE(sameTime);
        EXPECT_NEAR(sameTime->m_dSeconds, pieceFirst->m_dSeconds, 0.001);
        EXPECT_TRUE(sameTime->m_strPixels == pieceFirst->m_strPixels);
    }
}

}  // namespace
