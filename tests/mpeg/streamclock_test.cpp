// The length of a stream from its own clock: the span players show, the faults that make the
// clock unusable (joined recordings, jumps, a span the mux rate rules out), the header copied
// in front of pieces, and how much of a large file is read.
#include "mpeg/streamclock.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

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
    // A clock that jumps an hour and back at every pack: more spans than can be counted.
    CPsBuilder flicker;
    for (int64_t k = 0; k < 2000; ++k) {
        const int64_t time = k * kPicture + (k % 2) * 3600 * kSecond;
        flicker.Pack(time).Packet(0xE0, 20, time);
    }
    for (const Bytes& bytes : {MakeRegularStream(200'000, 2048, 2048), lone.Data(), flicker.Data(),
                               Bytes{1, 2, 3}, Bytes{}}) {
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

// Recordings joined into one file play one after the other, wherever their clocks jump and
// wherever the jump lies against the places read: the length is the sum of theirs.
TEST_F(StreamClockTest, JoinedRecordingsMeasureTheSumOfTheirSpans) {
    CRecordingShape small;
    CRecordingShape large;
    large.m_dSeconds = 8;
    large.m_nPictureBytes = 60000;  // two of them reach beyond both ends read
    const auto at = [](CRecordingShape shape, int64_t start) {
        shape.m_llStart = start;
        return shape;
    };
    const int64_t hour = 3600 * kSecond;
    struct CRow {
        const char* m_name;
        std::vector<CRecordingShape> m_parts;
        size_t m_nSpans;
    };
    const CRow rows[] = {
        {"the same twice (cat a a): back, inside what is read", {small, small}, 2},
        {"an hour later, inside what is read", {small, at(small, hour)}, 2},
        {"ten seconds later, inside what is read", {small, at(small, 14 * kSecond)}, 2},
        {"back, between the places read", {large, large}, 2},
        {"an hour later, between the places read", {large, at(large, hour)}, 2},
        {"three, back and forward", {large, at(large, hour), large}, 3},
        {"the same three times", {large, large, large}, 3},
        {"the clock goes on: one recording", {large, at(large, large.m_llStart + 8 * kSecond)}, 1},
    };
    for (const CRow& row : rows) {
        CPsBuilder builder;
        int64_t expected = 0;
        for (const CRecordingShape& part : row.m_parts) {
            AppendRecording(builder, part);
            expected += Expected(part);
        }
        const auto length = Measure(builder.Data());
        ASSERT_TRUE(length) << row.m_name;
        EXPECT_EQ(length->m_source, EClockSource::TimeStamps) << row.m_name;
        EXPECT_EQ(length->m_spans.size(), row.m_nSpans) << row.m_name;
        EXPECT_NEAR(length->m_llDuration100ns, expected, Units(kPicture)) << row.m_name;
        int64_t sum = 0;
        int64_t covered = 0;
        for (const CClockSpan& span : length->m_spans) {
            EXPECT_EQ(span.m_llBegin, covered) << row.m_name;
            covered = span.m_llEnd;
            sum += span.m_llDuration100ns;
        }
        EXPECT_EQ(covered, builder.Size()) << row.m_name;
        EXPECT_EQ(sum, length->m_llDuration100ns) << row.m_name;
        EXPECT_EQ(length->m_spans[0].m_llStartClock, row.m_parts[0].m_llStart) << row.m_name;
    }

    // More spans than can be told apart at a bounded cost: no length.
    CRecordingShape brief = small;
    brief.m_dSeconds = 2;
    CPsBuilder many;
    for (size_t k = 0; k <= CStreamClock::kMaxSpans; ++k) {
        AppendRecording(many, brief);
    }
    EXPECT_FALSE(Measure(many.Data()));

    // Without time stamps, the pack clock's spans.
    CRecordingShape unstamped = small;
    unstamped.m_bStamps = false;
    CPsBuilder packClock;
    AppendRecording(packClock, unstamped);
    AppendRecording(packClock, unstamped);
    const auto length = Measure(packClock.Data());
    ASSERT_TRUE(length);
    EXPECT_EQ(length->m_source, EClockSource::PackClock);
    EXPECT_EQ(length->m_spans.size(), 2u);
}

// One wild time among thousands of continuous ones is dropped, not taken for a jump.
TEST_F(StreamClockTest, WildTimesAmongContinuousOnesAreDropped) {
    CRecordingShape shape;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    const Bytes clean = builder.Data();
    const std::vector<int64_t>& units = builder.UnitOffsets();
    // A camera's audio packet with no PES header: G.711 silence right after the length,
    // which read as MPEG-1 fields is a time stamp ten hours away with its marker bits set.
    const Bytes headerless = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x0A, 0x37, 0x4F,
                              0xFD, 0x4C, 0x85, 0xD5, 0xD5, 0xD5, 0xD5, 0xD5};
    struct CRow {
        const char* m_name;
        std::function<void(Bytes&, int64_t)> m_change;  // at a pack in the middle
    };
    const CRow rows[] = {
        {"a packet without PES header",
         [&headerless](Bytes& bytes, int64_t pack) {
             bytes.insert(bytes.begin() + pack + 14, headerless.begin(), headerless.end());
         }},
        {"a time stamp most of an hour away",
         [](Bytes& bytes, int64_t pack) {
             // The packet after the pack header: its PTS field, markers kept.
             unsigned char* pts = bytes.data() + pack + 14 + 9;
             pts[1] ^= 0x40;
         }},
        {"a pack clock far behind",
         [](Bytes& bytes, int64_t pack) {
             CPsBuilder early;
             early.Pack(0);
             std::copy(early.Data().begin(), early.Data().end(), bytes.begin() + pack);
         }},
    };
    for (const CRow& row : rows) {
        Bytes bytes = clean;
        // From the back, so earlier offsets stay.
        for (auto i = static_cast<ptrdiff_t>(units.size()) - 10; i > 10; i -= 37) {
            if (bytes[static_cast<size_t>(units[i]) + 3] == 0xBA) {
                row.m_change(bytes, units[i]);
            }
        }
        const auto length = Measure(bytes);
        ASSERT_TRUE(length) << row.m_name;
        EXPECT_EQ(length->m_spans.size(), 1u) << row.m_name;
        EXPECT_EQ(length->m_llDuration100ns, Expected(shape)) << row.m_name;
    }
}

// A stream that stamps only some of its pictures ends one picture after its last stamp, as
// long as its sequence header (SPS) says; without one, one step between stamps.
TEST_F(StreamClockTest, ThePictureRateEndsTheVideo) {
    const Bytes mpeg25 = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x13};
    const Bytes mpeg2997 = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x14};
    // x264's SPS (High 4:4:4 profile, with VUI timing) at 25 and 30000/1001 pictures a second.
    const Bytes h264At25 = {0x00, 0x00, 0x01, 0x67, 0xF4, 0x00, 0x0A, 0x91, 0x96,
                            0x84, 0x7B, 0x01, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10,
                            0x00, 0x00, 0x03, 0x03, 0x20, 0xF1, 0x22, 0x6A};
    const Bytes h264At2997 = {0x00, 0x00, 0x01, 0x67, 0xF4, 0x00, 0x0A, 0x91,
                              0x96, 0x84, 0x7B, 0x01, 0x10, 0x00, 0x00, 0x3E,
                              0x90, 0x00, 0x0E, 0xA6, 0x00, 0xF1, 0x22, 0x6A};
    constexpr int64_t kStep = 12 * kPicture;  // one stamp a dozen pictures
    constexpr int kStamps = 9;
    struct CRow {
        const char* m_name;
        Bytes m_header;
        int64_t m_llPicture;
    };
    const CRow rows[] = {
        {"MPEG, 25 a second", mpeg25, kPicture},
        {"MPEG, 29.97 a second", mpeg2997, 3003},
        {"H.264, 25 a second", h264At25, kPicture},
        {"H.264, 29.97 a second", h264At2997, 3003},
        {"no rate stated", {}, kStep},
    };
    for (const CRow& row : rows) {
        CPsBuilder builder;
        for (int k = 0; k < kStamps; ++k) {
            Bytes payload(4000, 0xFF);
            if (k == 0) {
                std::copy(row.m_header.begin(), row.m_header.end(), payload.begin());
            }
            builder.Pack(k * kStep, false).Packet(0xE0, payload, kSecond + k * kStep, {}, false);
        }
        const auto length = Measure(builder.Data());
        ASSERT_TRUE(length) << row.m_name;
        EXPECT_EQ(length->m_llDuration100ns, Units((kStamps - 1) * kStep + row.m_llPicture))
            << row.m_name;
    }
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
    CRecordingShape later = shape;
    later.m_llStart += int64_t{3600} * kSecond;
    // One recording; two joined, the second an hour later, the jump far from what is read
    // anyway: the probes that find it read a few small windows more.
    const std::pair<std::vector<CRecordingShape>, int64_t> rows[] = {
        {{shape}, 9 << 20},
        {{shape, later}, (9 << 20) + (1 << 20)},
    };
    for (const auto& [parts, most] : rows) {
        CPsBuilder builder;
        int64_t expected = 0;
        for (const CRecordingShape& part : parts) {
            AppendRecording(builder, part);
            expected += Expected(part);
        }
        int64_t read = 0;
        CFaultyFileSystem counting;
        counting.m_limitRead = [&read](const std::string&, int64_t, size_t count) {
            read += static_cast<int64_t>(count);
            return static_cast<int64_t>(count);
        };
        const auto length = Measure(builder.Data(), counting);
        ASSERT_TRUE(length) << parts.size();
        EXPECT_EQ(length->m_llDuration100ns, expected) << parts.size();
        // The two ends, the samples, and the packets a window's end cut, read again.
        ASSERT_GT(builder.Size(), 40 << 20);
        EXPECT_LE(read, most) << parts.size();
    }
}

TEST_F(StreamClockTest, AFailedReadGivesNoLength) {
    CRecordingShape shape;
    CPsBuilder builder;
    AppendRecording(builder, shape);
    CFaultyFileSystem failing;
    failing.m_limitRead = [](const std::string&, int64_t, size_t) { return -1; };
    EXPECT_FALSE(Measure(builder.Data(), failing));
}
