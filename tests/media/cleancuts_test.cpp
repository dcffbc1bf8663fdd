// Clean cuts on real program streams: the MPEG-1 sample and streams of the shapes found in the
// wild (a 30 s MPEG-1 recording, VCD, SVCD and DVD) made with ffmpeg here. Each is split into
// three pieces by time and cut at two clip times, and every piece must play as itself: its
// length as ffprobe reads it close to the span the cut planned, its first picture the group at
// or before the requested time, decoded without an error, and the pieces together the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "mpeg/cleancut.h"
#include "mpeg/mpegsource.h"
#include "mpeg/splitengine.h"
#include "mpeg/streamclock.h"
#include "testmedia.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

// ffprobe's length may differ from the planned span by the audio that the muxer sends ahead
// of the pictures and by the pictures of the previous group that the first pack holds.
constexpr double kLengthSlack = 0.7;
// A group starts at the requested time when it is this little after it.
constexpr double kStartSlack = 0.05;

struct CStream {
    std::string m_strName;
    std::string m_strPath;
};

std::vector<CStream> Streams() {
    return {
        {"wxPython movie (MPEG-1 sample)", SamplePath("wxpython-classic_testmovie.mpg")},
        {"30 s MPEG-1, ffmpeg -f mpeg", TestMediaPath(TestMedia::Mpeg1Long)},
        {"VCD", TestMediaPath(TestMedia::VcdLong)},
        {"SVCD", TestMediaPath(TestMedia::Svcd)},
        {"DVD", TestMediaPath(TestMedia::DvdLong)},
    };
}

class CleanCutsTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        m_stream = Streams()[GetParam()];
        if (m_stream.m_strPath.empty()) {
            GTEST_SKIP() << m_stream.m_strName << ": ffmpeg could not make it";
        }
        m_bytes = ReadFile(m_stream.m_strPath);
        CRecordingReporter reporter;
        ASSERT_TRUE(m_source.SetSourcePath(m_stream.m_strPath));
        ASSERT_TRUE(m_source.ProbeHeader(reporter));
        ASSERT_TRUE(m_source.ProbeDuration({}));  // from the stream's own clock
        auto file = PosixFileSystem().OpenRead(m_stream.m_strPath);
        const auto clock = CStreamClock::Measure(*file, Size());
        ASSERT_TRUE(clock);
        m_dStart = static_cast<double>(clock->m_llStartClock) / 90000;
        m_dEnd = m_dStart + static_cast<double>(clock->m_llDuration100ns) / 1e7;
        m_keys = KeyPictureTimes(m_stream.m_strPath);
        ASSERT_GT(m_keys.size(), 3u);
    }

    int64_t Size() const { return static_cast<int64_t>(m_bytes.size()); }

    // Where the plan puts a cut at `seconds` into the stream: the time its first picture is
    // shown, the stream's start for the first piece.
    double PlannedTime(int64_t seconds) {
        if (seconds == 0) {
            return m_dStart;
        }
        auto file = PosixFileSystem().OpenRead(m_stream.m_strPath);
        CRecordingReporter reporter;
        CCleanCutPlanner planner(*file, Size(), reporter);
        CCleanCut cut;
        EXPECT_TRUE(planner.Prepare() && planner.AtTime(seconds, 0, cut));
        return cut.m_llOffset == 0 ? m_dStart
                                   : static_cast<double>(cut.m_llTime.value_or(0)) / 90000;
    }

    // The checks every piece that starts at a requested time must pass.
    void CheckPiece(const COutputRecord& output, double requested, double plannedStart,
                    double plannedEnd) {
        const std::string& path = output.m_strPath;
        SCOPED_TRACE(m_stream.m_strName + ": " + path);
        const auto length = FfprobeDuration(path);
        ASSERT_TRUE(length);
        EXPECT_NEAR(*length, plannedEnd - plannedStart, kLengthSlack);
        EXPECT_EQ(FirstPictureErrors(path), "");
        if (output.m_llStart == 0) {
            return;
        }
        // Its first picture is the last I picture shown at or before the requested time, so
        // it starts within one group of pictures of it.
        const double wanted = m_dStart + requested + kStartSlack;
        const auto key = std::upper_bound(m_keys.begin(), m_keys.end(), wanted);
        ASSERT_NE(key, m_keys.begin());
        const auto picture = DecodeFirstPicture(path);
        ASSERT_TRUE(picture);
        EXPECT_NEAR(picture->m_dSeconds, *(key - 1), 0.002);
        const double group = key != m_keys.end() ? *key - *(key - 1) : m_dEnd - *(key - 1);
        EXPECT_LE(m_dStart + requested - picture->m_dSeconds, group);
    }

    CStream m_stream;
    Bytes m_bytes;
    CMpegSource m_source;
    double m_dStart = 0;
    double m_dEnd = 0;
    std::vector<double> m_keys;
    CTempDir m_dir;
};

}  // namespace

TEST_P(CleanCutsTest, ThreePiecesByTimePlayAsThemselvesAndHoldTheSource) {
    const int32_t total = m_source.m_nTotalSeconds;
    const int32_t seconds = (total + 2) / 3;
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    engine.SetOptions({true});
    ASSERT_EQ(engine.SplitByTime(m_source, seconds, m_dir.Folder()), SplitStatus::Done);
    const auto& outputs = engine.Outputs();
    ASSERT_EQ(outputs.size(), 3u);
    Bytes joined;
    for (size_t k = 0; k < outputs.size(); ++k) {
        const int64_t from = static_cast<int64_t>(k) * seconds;
        const double plannedStart = PlannedTime(from);
        const double plannedEnd = k + 1 < outputs.size() ? PlannedTime(from + seconds) : m_dEnd;
        CheckPiece(outputs[k], static_cast<double>(from), plannedStart, plannedEnd);
        const Bytes piece = ReadFile(outputs[k].m_strPath);
        joined.insert(joined.end(), piece.begin() + outputs[k].m_llHeaderBytes, piece.end());
    }
    // Apart from their prefixes and the broken_link flags of their first groups.
    ASSERT_EQ(joined.size(), m_bytes.size());
    size_t flags = 0;
    for (size_t i = 0; i < joined.size(); ++i) {
        if (joined[i] != m_bytes[i]) {
            EXPECT_EQ(joined[i] ^ m_bytes[i], 0x20) << i;
            ++flags;
        }
    }
    EXPECT_LE(flags, 2u);
}

TEST_P(CleanCutsTest, AClipBetweenTwoTimesPlaysAsItself) {
    const int32_t total = m_source.m_nTotalSeconds;
    const int32_t from = total / 3;
    const int32_t to = 2 * total / 3;
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    engine.SetOptions({true});
    const std::string clip = m_dir.File("clip.mpg");
    ASSERT_EQ(engine.CutClip(m_source, {0, 0, from}, {0, 0, to}, clip), SplitStatus::Done);
    CheckPiece(engine.Outputs().at(0), from, PlannedTime(from), PlannedTime(to));
}

INSTANTIATE_TEST_SUITE_P(Streams, CleanCutsTest, ::testing::Range(size_t{0}, Streams().size()));
