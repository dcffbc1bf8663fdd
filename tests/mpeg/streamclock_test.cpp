// The length of a stream from its own clock: the span players show, the faults that make the
// clock unusable (joined recordings, jumps, a span the mux rate rules out), the header copied
// in front of pieces, and how much of a large file is read.
#include "mpeg/streamclock.h"

#include <gtest/gtest.h>

#include <optional>

#include "mpeg/packscanner.h"
#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

constexpr int64_t kSecond = 90000;
constexpr int64_t kPicture = 3600;
constexpr int64_t kAudioFrame = 2160;

int64_t Units(int64_t ticks) {
    return ticks * 1000 / 9;
}

class StreamClockTest : public ::testing::Test {
protected:
    std::optional<CClockLength> Measure(const Bytes& bytes, IFileSystem& fs = PosixFileSystem()) {
        const std::string path = m_dir.File("clock.mpg");
        WriteFile(path, bytes);
        auto file = fs.OpenRead(path);
        EXPECT_NE(file, nullptr);
        return CStreamClock::Measure(*file, static_cast<int64_t>(bytes.size()));
    }

    // The length players give a recording of AppendRecording: its last picture or audio
    // frame ends it.
    static int64_t Expected(const CRecordingShape& shape) {
        const auto end = static_cast<int64_t>(shape.m_dSeconds * kSecond);
        const int64_t pictures = (end + kPicture - 1) / kPicture;
        const int64_t frames = (end + kAudioFrame - 1) / kAudioFrame;
        return Units(std::max(pictures * kPicture, shape.m_bAudio ? frames * kAudioFrame : 0));
    }

    CTempDir m_dir;
};

}  // namespace

TEST_F(StreamClockTest, FirstTimeStampToLastPlusOneFrame) {
    for (const bool audio : {true, false}) {
        CRecordingShape shape;
        shape.m_dSeconds = 9.23;
        shape.m_bAudio = audio;
        CPsBuilder builder;
        AppendRecording(builder, shape);
        const auto length = Measure(builder.Data());
        ASSERT_TRUE(length) << audio;
        EXPECT_EQ(length->m_source, EClockSource::TimeStamps);
        EXPECT_EQ(length->m_llDuration100ns, Expected(shape)) << audio;
    }
}

TEST_F(StreamClockTest, ClockThatWrapsAroundItsThirtyThreeBits) {
    CRecordingShape shape;
    shape.m_llStart = kClockWrap - 2 * kSecond;
    CPsBuilder wrapping;
    AppendRecording(wrapping, shape);
    const auto length = Measure(wrapping.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_llDuration100ns, Expected(shape));
}

TEST_F(StreamClockTest, WithoutTimeStampsThePackClockSpan) {
    CRecordingShape shape;
    shape.m_bStamps = false;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    const auto length = Measure(builder.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_source, EClockSource::PackClock);
    // From the first pack's clock to the last one's, the last audio frame's.
    const int64_t lastFrame = (4 * kSecond - 1) / kAudioFrame * kAudioFrame;
    EXPECT_EQ(length->m_llDuration100ns, Units(lastFrame));
}

TEST_F(StreamClockTest, NoClockToMeasure) {
    // Packs with nothing in them, a lone picture whose packs all carry one clock, and no
    // program stream at all.
    CPsBuilder lone;
    lone.Pack(1000).SystemHeader().Packet(0xE0, 2000, 5000).Pack(1000).Packet(0xE0, 2000);
    for (const Bytes& bytes :
         {MakeRegularStream(200'000, 2048, 2048), lone.Data(), Bytes{1, 2, 3}, Bytes{}}) {
        EXPECT_FALSE(Measure(bytes));
    }
    // A lone picture whose packs take time to arrive: that time.
    CPsBuilder arriving;
    arriving.Pack(1000).Packet(0xE0, 2000, 5000).Pack(1900).Packet(0xE0, 2000);
    const auto length = Measure(arriving.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_source, EClockSource::PackClock);
    EXPECT_EQ(length->m_llDuration100ns, Units(900));
}

TEST_F(StreamClockTest, JoinedRecordingsHaveNoUsableClock) {
    CRecordingShape shape;
    CPsBuilder joined;
    AppendRecording(joined, shape);
    AppendRecording(joined, shape);  // `cat a.mpg a.mpg`: the clock runs back in the middle
    EXPECT_FALSE(Measure(joined.Data()));

    // Large ones are joined far from both ends read: the samples between them tell.
    CRecordingShape large;
    large.m_dSeconds = 8;
    large.m_nPictureBytes = 60000;
    CPsBuilder big;
    AppendRecording(big, large);
    ASSERT_GT(big.Size(), 2 * CStreamClock::kEndWindowBytes);
    AppendRecording(big, large);
    EXPECT_FALSE(Measure(big.Data()));

    // Joined recordings whose clock goes on are one recording.
    CRecordingShape later = large;
    later.m_llStart += 8 * kSecond;
    CPsBuilder continued;
    AppendRecording(continued, large);
    AppendRecording(continued, later);
    const auto length = Measure(continued.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_llDuration100ns, Units(8 * kSecond) + Expected(later));
}

TEST_F(StreamClockTest, AJumpInsideWhatIsReadMakesTheClockUnusable) {
    CRecordingShape shape;
    CRecordingShape after = shape;
    after.m_llStart += 4 * kSecond + 10 * kSecond;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    AppendRecording(builder, after);
    EXPECT_FALSE(Measure(builder.Data()));
}

TEST_F(StreamClockTest, HeaderCopiedFromAnEarlierTimeIsLeftOut) {
    // A piece cut at 20 s of a recording: the source's first pack in front, then its own.
    CRecordingShape source;
    source.m_dSeconds = 0.04;  // one picture, as in a first pack
    source.m_bAudio = false;
    CRecordingShape piece;
    piece.m_llStart += 20 * kSecond;
    CPsBuilder builder;
    AppendRecording(builder, source);
    AppendRecording(builder, piece);
    const auto length = Measure(builder.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_llDuration100ns, Expected(piece));
}

TEST_F(StreamClockTest, PackClockWrittenOutOfOrderIsLeftToTheTimeStamps) {
    // Some muxers write the SCR loosely, now and then back in time; players go by the PTS.
    CRecordingShape shape;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    Bytes bytes = builder.Data();
    const std::vector<int64_t>& units = builder.UnitOffsets();
    for (size_t i = 40; i < units.size(); i += 40) {
        if (bytes[static_cast<size_t>(units[i]) + 3] == 0xBA) {
            CPsBuilder early;
            early.Pack(0);
            std::copy(early.Data().begin(), early.Data().end(),
                      bytes.begin() + static_cast<ptrdiff_t>(units[i]));
        }
    }
    const auto length = Measure(bytes);
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_llDuration100ns, Expected(shape));
}

TEST_F(StreamClockTest, SpanShorterThanTheMuxRateAllowsIsNotBelieved) {
    // 4 s of pictures of 60 KB at a stated mux rate of 50 bytes a second: no way.
    CPsBuilder builder;
    for (int64_t picture = 0; picture < 100; ++picture) {
        builder.Pack(picture * kPicture, true, 1).Packet(0xE0, 60000, picture * kPicture);
    }
    EXPECT_FALSE(Measure(builder.Data()));
}

TEST_F(StreamClockTest, ReadsOnlyTheEndsAndSmallSamplesOfALargeFile) {
    CRecordingShape shape;
    shape.m_dSeconds = 30;
    shape.m_nPictureBytes = 60000;  // some 45 MB
    CPsBuilder builder;
    AppendRecording(builder, shape);
    int64_t read = 0;
    CFaultyFileSystem counting;
    counting.m_limitRead = [&read](const std::string&, int64_t, size_t count) {
        read += static_cast<int64_t>(count);
        return static_cast<int64_t>(count);
    };
    const auto length = Measure(builder.Data(), counting);
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_llDuration100ns, Expected(shape));
    // The two ends, the samples, and the packets a window's end cut, read again.
    ASSERT_GT(builder.Size(), 40 << 20);
    EXPECT_LE(read, 9 << 20);
}

TEST_F(StreamClockTest, AFailedReadGivesNoLength) {
    CRecordingShape shape;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    CFaultyFileSystem failing;
    failing.m_limitRead = [](const std::string&, int64_t, size_t) { return -1; };
    EXPECT_FALSE(Measure(builder.Data(), failing));
}
