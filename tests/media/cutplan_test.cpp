// The plan of a cut and the key-picture list on streams ffmpeg and GStreamer wrote: a plan
// names the bytes the cut then writes, its start is the clip's first picture as ffmpeg decodes
// it, and the key pictures are those ffprobe marks, each a place a clean piece starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "mpeg/cleancut.h"
#include "mpeg/cutplan.h"
#include "mpeg/messages.h"
#include "mpeg/mpegsource.h"
#include "mpeg/splitengine.h"
#include "mpeg/streamclock.h"
#include "testmedia.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

struct CStream {
    std::string m_strName;
    std::string m_strPath;
    // How far a key picture's time may lie from ffprobe's: less than one picture, also where
    // the muxer leaves I pictures without a time stamp of their own.
    double m_dTimeSlack = 0.02;
};

std::vector<CStream> Streams() {
    return {
        {"wxPython movie (MPEG-1 sample)", SamplePath("wxpython-classic_testmovie.mpg")},
        {"30 s MPEG-1, ffmpeg -f mpeg", TestMediaPath(TestMedia::Mpeg1Long)},
        {"VCD", TestMediaPath(TestMedia::VcdLong)},
        {"MPEG-2, closed groups", TestMediaPath(TestMedia::Mpeg2Vob)},
        {"DVD, open groups", TestMediaPath(TestMedia::DvdLong)},
        {"H.264, GStreamer mpegpsmux", TestMediaPath(TestMedia::GstH264)},
        {"H.264 camera", TestMediaPath(TestMedia::Camera)},
    };
}

// The times of the pictures ffprobe marks as key frames in the first video stream.
std::vector<double> FfprobeKeyFrames(const std::string& path, const CTempDir& scratch) {
    const CommandOutcome probe = RunShellCommand(
        "ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time,"
        "key_frame -of csv=p=0 '" +
            path + "'",
        scratch);
    std::vector<double> times;
    size_t from = 0;
    while (from < probe.out.size()) {
        const size_t end = std::min(probe.out.find('\n', from), probe.out.size());
        const std::string line = probe.out.substr(from, end - from);
        from = end + 1;
        // "1,12.345000" (key_frame first, as ffprobe orders its fields)
        if (line.starts_with("1,") && line.size() > 2 && line[2] != 'N') {
            times.push_back(std::strtod(line.c_str() + 2, nullptr));
        }
    }
    return times;
}

class CutPlanTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        m_stream = Streams()[GetParam()];
        if (m_stream.m_strPath.empty()) {
            GTEST_SKIP() << m_stream.m_strName << ": the stream could not be made";
        }
        ASSERT_TRUE(m_source.SetSourcePath(m_stream.m_strPath));
        ASSERT_TRUE(m_source.ProbeHeader(m_reporter));
        ASSERT_TRUE(m_source.ProbeDuration({}));  // from the stream's own clock
        auto file = PosixFileSystem().OpenRead(m_stream.m_strPath);
        const auto clock = CStreamClock::Measure(*file, m_source.m_llFileSize);
        ASSERT_TRUE(clock);
        m_dStart = static_cast<double>(clock->m_llStartClock) / 90000;
    }

    CStream m_stream;
    CMpegSource m_source;
    CRecordingReporter m_reporter;
    double m_dStart = 0;
    CTempDir m_dir;
};

}  // namespace

TEST_P(CutPlanTest, APlanNamesTheBytesAndTheFirstPictureOfTheCut) {
    SCOPED_TRACE(m_stream.m_strName);
    const int32_t total = m_source.m_nTotalSeconds;
    // Times with milliseconds, and a clip to the end of the file.
    const CClipTime middle{0, 0, total / 3, 480};
    const std::vector<std::pair<CClipTime, CClipTime>> clips{
        {middle, {0, 0, 2 * total / 3, 250}},
        {middle, {0, 0, total, 0}},
    };
    for (const bool clean : {false, true}) {
        for (const auto& [start, end] : clips) {
            SCOPED_TRACE(std::string(clean ? "clean" : "default") + " to " +
                         std::to_string(end.m_nSecond));
            CCutPlanner planner(m_reporter);
            CCutPlan plan;
            ASSERT_EQ(planner.PlanClip(m_source, start, end, {clean}, plan), EPlanStatus::Planned);
            CSplitEngine engine(m_reporter);
            engine.SetOptions({clean});
            const std::string clip = m_dir.File("clip.mpg");
            ASSERT_EQ(engine.CutClip(m_source, start, end, clip + (clean ? "c" : "d")),
                      SplitStatus::Done);
            const COutputRecord& output = engine.Outputs().at(0);
            EXPECT_EQ(plan.m_first.m_llStart, output.m_llStart);
            EXPECT_EQ(plan.m_first.m_llEnd, output.m_llEnd);
            EXPECT_EQ(plan.m_first.m_llBytes,
                      static_cast<int64_t>(ReadFile(output.m_strPath).size()));
            ASSERT_TRUE(plan.m_first.m_start100ns && plan.m_first.m_end100ns);
            EXPECT_LT(*plan.m_first.m_start100ns, *plan.m_first.m_end100ns);
            if (end.m_nSecond == total) {
                EXPECT_EQ(*plan.m_first.m_end100ns, m_source.m_llDuration100ns);
            }
            if (clean) {
                // The clip's first picture as ffmpeg decodes it.
                const auto picture = DecodeFirstPicture(output.m_strPath);
                ASSERT_TRUE(picture);
                EXPECT_NEAR(m_dStart + static_cast<double>(*plan.m_first.m_start100ns) / 1e7,
                            picture->m_dSeconds, std::max(0.05, m_stream.m_dTimeSlack));
            }
        }
    }
    // Invalid times are refused in the cut's words, and nothing is planned.
    CCutPlanner planner(m_reporter);
    CCutPlan plan;
    m_reporter.m_events.clear();
    EXPECT_EQ(planner.PlanClip(m_source, {0, 0, 2}, {0, 0, 1, 500}, {}, plan), EPlanStatus::Failed);
    ASSERT_EQ(m_reporter.m_events.size(), 1u);
    EXPECT_NE(m_reporter.m_events[0].find(mpeg_text::kStartBiggerThanEnd), std::string::npos);
}

TEST_P(CutPlanTest, KeyPicturesAreTheKeyFramesAndCleanPiecesStartThere) {
    SCOPED_TRACE(m_stream.m_strName);
    auto file = PosixFileSystem().OpenRead(m_stream.m_strPath);
    const int64_t size = m_source.m_llFileSize;
    CKeyPictureList list;
    int64_t lastProgress = -1;
    ASSERT_EQ(
        ListKeyPictures(
            *file, size, m_reporter, NeverStop(), [&](int64_t done) { lastProgress = done; }, list),
        EPlanStatus::Planned);
    EXPECT_EQ(lastProgress, size);
    EXPECT_TRUE(list.m_bTimed);
    EXPECT_FALSE(list.m_bTruncated);

    const std::vector<double> keys = FfprobeKeyFrames(m_stream.m_strPath, m_dir);
    ASSERT_FALSE(keys.empty());
    ASSERT_EQ(list.m_pictures.size(), keys.size());
    CCleanCutPlanner planner(*file, size, m_reporter);
    ASSERT_TRUE(planner.Prepare());
    for (size_t i = 0; i < keys.size(); ++i) {
        const CKeyPicture& picture = list.m_pictures[i];
        EXPECT_NEAR(m_dStart + static_cast<double>(picture.m_llTime100ns) / 1e7, keys[i],
                    m_stream.m_dTimeSlack)
            << i;
        // A clean cut anywhere before the next key picture starts at this one.
        const int64_t before = i + 1 < keys.size() ? list.m_pictures[i + 1].m_llOffset : size;
        CCleanCut cut;
        ASSERT_TRUE(planner.AtOffset(before - 1, cut));
        EXPECT_EQ(cut.m_llOffset, picture.m_llOffset) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, CutPlanTest, ::testing::Range(size_t{0}, Streams().size()));
