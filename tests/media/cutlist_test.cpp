// Cut lists on real program streams: three segments of a 30 s MPEG-1 recording and of a
// DVD-style stream with AC-3, into one file and into one file a segment. The joined file must
// be as long as its segments, decode without an error, keep every stream's time stamps rising
// without a step over a second, and measure alike in ffprobe and GStreamer.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/mediaframework.h"
#include "media/querystopposition.h"
#include "mpeg/cutlist.h"
#include "mpeg/mpegsource.h"
#include "mpeg/splitengine.h"
#include "testmedia.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

// Per stream, the steps between its packets' time stamps (DTS, else PTS) in file order that
// go back or forward by more than a second.
std::vector<std::string> TimeStampSteps(const std::string& path) {
    const std::string command =
        "ffprobe -v error -show_entries packet=stream_index,pts_time,"
        "dts_time -of csv=p=0 '" +
        path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> steps;
    std::map<int, double> last;
    std::array<char, 256> line{};
    size_t packets = 0;
    while (pipe && std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
        int stream = -1;
        double pts = -1;
        double dts = -1;
        char ptsText[64] = {};
        char dtsText[64] = {};
        if (std::sscanf(line.data(), "%d,%63[^,],%63s", &stream, ptsText, dtsText) < 2) {
            continue;
        }
        ++packets;
        const bool hasDts = std::sscanf(dtsText, "%lf", &dts) == 1;
        const bool hasPts = std::sscanf(ptsText, "%lf", &pts) == 1;
        if (!hasDts && !hasPts) {
            continue;
        }
        const double time = hasDts ? dts : pts;
        if (const auto it = last.find(stream); it != last.end()) {
            const double step = time - it->second;
            if (step < -0.001 || step > 1.0) {
                steps.push_back("stream " + std::to_string(stream) + ": " +
                                std::to_string(it->second) + " -> " + std::to_string(time));
            }
        }
        last[stream] = time;
    }
    if (packets == 0) {
        steps.emplace_back("ffprobe listed no packet");
    }
    return steps;
}

struct CListCase {
    const char* m_szName;
    TestMedia m_media;
    const char* m_szSegments;
    double m_dGroupSeconds;  // the longest group of pictures
};

class CutListMediaTest : public ::testing::TestWithParam<CListCase> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(MediaFrameworkInitialize()); }
};

TEST_P(CutListMediaTest, SegmentsJoinSeamlesslyAndApart) {
    const CListCase& param = GetParam();
    const std::string path = TestMediaPath(param.m_media);
    if (path.empty()) {
        GTEST_SKIP() << "ffmpeg could not make " << param.m_szName;
    }
    CTempDir scratch;
    CRecordingReporter reporter;
    CMpegSource source;
    ASSERT_TRUE(source.SetSourcePath(path));
    ASSERT_TRUE(source.ProbeHeader(reporter));
    ASSERT_TRUE(source.ProbeDuration({}));
    CCutList list;
    ASSERT_FALSE(list.ParseSegments(param.m_szSegments));
    double sum = 0;
    for (const CCutSegment& segment : list.Segments()) {
        sum += static_cast<double>(segment.m_llEndMs - segment.m_llStartMs) / 1000;
    }

    const std::string joined = scratch.File("joined.mpg");
    CSplitEngine engine(reporter);
    ASSERT_EQ(engine.CutList(source, list, joined, false), SplitStatus::Done)
        << ::testing::PrintToString(reporter.m_events);
    const auto length = FfprobeDuration(joined);
    ASSERT_TRUE(length);
    EXPECT_NEAR(*length, sum, param.m_dGroupSeconds * 3) << joined;
    EXPECT_EQ(DecodeErrorLines(joined), std::vector<std::string>{});
    EXPECT_EQ(TimeStampSteps(joined), std::vector<std::string>{});
    int64_t stop100ns = 0;
    ASSERT_TRUE(QueryStopPosition(joined, &stop100ns));
    // GStreamer measures from the first time stamp in the file to the last, whichever streams
    // they belong to; where a file starts and ends inside a recording, its video runs ahead of
    // its sound in the file by 0.3 to 0.8 s at each end, so GStreamer measures up to 1.6 s less
    // than ffprobe (as it does a `head -c` of the untouched source). So it is held between the
    // segments' sum, less what a clock stepping back at a joint would lose, and ffprobe's length.
    const double gstreamer = static_cast<double>(stop100ns) / 1e7;
    EXPECT_GT(gstreamer, sum - param.m_dGroupSeconds * 3);
    EXPECT_LE(gstreamer, *length + 0.05);

    ASSERT_EQ(engine.CutList(source, list, scratch.File("part.mpg"), true), SplitStatus::Done)
        << ::testing::PrintToString(reporter.m_events);
    ASSERT_EQ(engine.Outputs().size(), 3u);
    for (const COutputRecord& piece : engine.Outputs()) {
        EXPECT_EQ(piece.m_strPath.substr(piece.m_strPath.size() - 10, 5), "part_");
        EXPECT_EQ(DecodeErrorLines(piece.m_strPath), std::vector<std::string>{}) << piece.m_strPath;
        EXPECT_EQ(TimeStampSteps(piece.m_strPath), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, CutListMediaTest,
    ::testing::Values(CListCase{"Mpeg1Long", TestMedia::Mpeg1Long, "2-8,12.5-19,24-28", 0.6},
                      // Its sound runs up to 0.7 s behind its pictures, more at the first joint
                      // than at the end of the segment before: that sound is left out there.
                      CListCase{"Mpeg1LongSoundBehind", TestMedia::Mpeg1Long, "1-5,8-12.5,15-19",
                                0.6},
                      CListCase{"DvdLong", TestMedia::DvdLong, "0:00:01-0:00:03.5,5-7,9-11", 0.6}),
    [](const auto& info) { return std::string(info.param.m_szName); });

}  // namespace

namespace {

// The file cut into `parts` files at pack boundaries, as a DVD recorder cuts its VOB files.
std::string Split(const std::string& path, const CTempDir& scratch, int parts,
                  std::vector<std::string>& files) {
    const Bytes bytes = ReadFile(path);
    const size_t packs = bytes.size() / 2048;
    for (int k = 0; k < parts; ++k) {
        const size_t from = packs * k / parts * 2048;
        const size_t to = k + 1 == parts ? bytes.size() : packs * (k + 1) / parts * 2048;
        files.push_back(scratch.File("part" + std::to_string(k) + ".vob"));
        WriteFile(files.back(), Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(to)));
    }
    return path;
}

// Recordings whose clocks need moving join with the length of their sum and rising time
// stamps; a DVD's files, cut at packs with the clock running on, join to the very stream.
TEST(JoinMediaTest, ClocksRunOnAndStreamsMustAgree) {
    CTempDir scratch;
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    for (TestMedia media : {TestMedia::Mpeg2Vob, TestMedia::Camera}) {
        const std::string path = TestMediaPath(media);
        ASSERT_FALSE(path.empty());
        const std::string joined = scratch.File("joined.mpg");
        ASSERT_EQ(engine.Join({path, path, path}, joined), SplitStatus::Done)
            << ::testing::PrintToString(reporter.m_events);
        EXPECT_EQ(reporter.m_events.back(), "Message: Joining is done!");
        const auto one = FfprobeDuration(path);
        const auto all = FfprobeDuration(joined);
        ASSERT_TRUE(one && all);
        EXPECT_NEAR(*all, 3 * *one, 0.1) << path;
        EXPECT_EQ(TimeStampSteps(joined), std::vector<std::string>{}) << path;
        if (media != TestMedia::Camera) {  // ffmpeg takes the camera's G.711 for MPEG audio
            EXPECT_EQ(DecodeErrorLines(joined), std::vector<std::string>{});
        }
    }

    std::vector<std::string> vobs;
    const std::string dvd = Split(TestMediaPath(TestMedia::DvdLong), scratch, 3, vobs);
    const std::string joined = scratch.File("dvd.vob");
    ASSERT_EQ(engine.Join(vobs, joined), SplitStatus::Done);
    EXPECT_TRUE(ReadFile(joined) == ReadFile(dvd));

    const struct {
        std::vector<std::string> files;
        const char* says;
    } refused[] = {
        {{TestMediaPath(TestMedia::Mpeg2Vob), dvd},
         ": it holds stream 0xBD/0x80, which the first file does not."},
        {{TestMediaPath(TestMedia::Mpeg2Vob), TestMediaPath(TestMedia::Mpeg2Vob),
          TestMediaPath(TestMedia::Mpeg1Vcd)},
         ": its video is MPEG-1 video 352x288, the first file's MPEG-2 video 352x288."},
        {{TestMediaPath(TestMedia::Mpeg2Vob)}, "at least two"},
    };
    for (const auto& row : refused) {
        reporter.m_events.clear();
        const std::string output = scratch.File("refused.mpg");
        EXPECT_EQ(engine.Join(row.files, output), SplitStatus::Failed) << row.says;
        ASSERT_FALSE(reporter.m_events.empty());
        EXPECT_NE(reporter.m_events.back().find(row.says), std::string::npos)
            << reporter.m_events.back();
        EXPECT_FALSE(PathExists(output));
    }
}

}  // namespace
