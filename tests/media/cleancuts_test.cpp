// Clean cuts on real program streams: the MPEG-1 sample and streams of the shapes found in the
// wild (a 30 s MPEG-1 recording, VCD, SVCD and DVD) made with ffmpeg here. Each is split into
// three pieces by time and cut at two clip times, and every piece must play as itself: its
// length as ffprobe reads it close to the span the cut planned, its first picture the group at
// or before the requested time, decoded without an error, and the pieces together the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
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
    // ffmpeg decodes its audio: the camera's G.711 in MPEG audio packets it takes for MPEG
    // audio, in the source as in every piece.
    bool m_bAudioDecodes = true;
};

std::vector<CStream> Streams() {
    return {
        {"wxPython movie (MPEG-1 sample)", SamplePath("wxpython-classic_testmovie.mpg")},
        {"30 s MPEG-1, ffmpeg -f mpeg", TestMediaPath(TestMedia::Mpeg1Long)},
        {"VCD", TestMediaPath(TestMedia::VcdLong)},
        {"SVCD", TestMediaPath(TestMedia::Svcd)},
        {"DVD", TestMediaPath(TestMedia::DvdLong)},
        {"H.264 from GStreamer's mpegpsmux", TestMediaPath(TestMedia::GstH264)},
        {"camera (H.264, G.711)", TestMediaPath(TestMedia::Camera), false},
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
        ExpectNoDecodeErrors(path);
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

    // Not a line from ffmpeg -v error but those the source gives itself: ffmpeg's DVD muxer
    // writes AC-3 packets that the demuxer reads with one time stamp twice, and the piece
    // that holds them reports it again.
    void ExpectNoDecodeErrors(const std::string& path) {
        if (!m_sourceErrors) {
            m_sourceErrors = 0;
            for (const std::string& line :
                 DecodeErrorLines(m_stream.m_strPath, !m_stream.m_bAudioDecodes)) {
                EXPECT_NE(line.find(kRepeatedStamp), std::string::npos) << line;
                ++*m_sourceErrors;
            }
        }
        for (const std::string& line : DecodeErrorLines(path, !m_stream.m_bAudioDecodes)) {
            EXPECT_NE(line.find(kRepeatedStamp), std::string::npos) << path << ": " << line;
            EXPECT_GT((*m_sourceErrors)--, 0) << path << ": " << line;
        }
    }

    // Split by time into `pieces`: each decodes without an error (ffmpeg) and plays without an
    // error or warning (GStreamer), and their video packets in order are the source's, each
    // joint changing at most one (its broken_link flag).
    void SplitByTimeAndCheck(int32_t pieces) {
        const int32_t total = m_source.m_nTotalSeconds;
        const int32_t seconds = std::max<int32_t>(1, (total + pieces - 1) / pieces);
        CRecordingReporter reporter;
        CSplitEngine engine(reporter);
        engine.SetOptions({true});
        const std::string folder = m_dir.Folder() + std::to_string(pieces) + "/";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(engine.SplitByTime(m_source, seconds, folder), SplitStatus::Done);
        std::vector<std::string> hashes;
        m_sourceErrors.reset();
        for (const COutputRecord& output : engine.Outputs()) {
            ExpectNoDecodeErrors(output.m_strPath);
            EXPECT_EQ(GstreamerProblems(output.m_strPath), std::vector<std::string>())
                << output.m_strPath;
            const auto piece = VideoPacketHashes(output.m_strPath);
            hashes.insert(hashes.end(), piece.begin(), piece.end());
        }
        const auto source = VideoPacketHashes(m_stream.m_strPath);
        ASSERT_EQ(hashes.size(), source.size()) << pieces;
        size_t changed = 0;
        for (size_t i = 0; i < source.size(); ++i) {
            changed += hashes[i] != source[i] ? 1 : 0;
        }
        EXPECT_LT(changed, engine.Outputs().size()) << pieces;
    }

    static constexpr const char* kRepeatedStamp = "non monotonically increasing dts";

    CStream m_stream;
    std::optional<int> m_sourceErrors;
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
    for (size_t k = 0; k < outputs.size(); ++k) {
        const int64_t from = static_cast<int64_t>(k) * seconds;
        const double plannedStart = PlannedTime(from);
        const double plannedEnd = k + 1 < outputs.size() ? PlannedTime(from + seconds) : m_dEnd;
        CheckPiece(outputs[k], static_cast<double>(from), plannedStart, plannedEnd);
        // The source's bytes from where the piece starts to where the next one does, in order.
        EXPECT_EQ(outputs[k].m_llStart, k == 0 ? 0 : outputs[k - 1].m_llEnd);
    }
    EXPECT_EQ(outputs.back().m_llEnd, Size());
}

TEST_P(CleanCutsTest, PiecesByTimeDecodeWithoutAnErrorAndHoldEveryPicture) {
    SplitByTimeAndCheck(3);
    SplitByTimeAndCheck(7);
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
