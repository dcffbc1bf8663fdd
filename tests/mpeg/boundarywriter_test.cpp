// The boundary writer on streams built unit by unit: the pack holding a cut becomes two, the
// video packet split at the header with its time stamps where its picture begins, and the
// audio frame the cut runs through taken out of both sides, every rewritten packet of its
// old size.
#include "mpeg/boundarywriter.h"

#include <gtest/gtest.h>

#include "mpeg/audioframes.h"
#include "mpeg/audiojoint.h"
#include "mpeg/streamids.h"
#include "mpeg/unitwalker.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

// MPEG-1 layer II, 48 kHz, 192 kbit/s: 576-byte frames.
constexpr size_t kFrameBytes = 576;
constexpr size_t kAudioBytes = 10 * kFrameBytes;

Bytes AudioStream() {
    Bytes audio(kAudioBytes, 0x55);
    for (size_t at = 0; at < audio.size(); at += kFrameBytes) {
        audio[at] = 0xFF;
        audio[at + 1] = 0xFD;
        audio[at + 2] = 0xA4;
        audio[at + 3] = 0x00;
    }
    return audio;
}

struct CStreams {
    Bytes m_audio;
    Bytes m_video;
    std::vector<std::optional<int64_t>> m_videoStamps;  // of each video packet, in order
};

// The audio and video elementary streams of a program stream.
CStreams Read(const Bytes& bytes, const CTempDir& dir) {
    const std::string path = dir.File("read.mpg");
    WriteFile(path, bytes);
    auto file = PosixFileSystem().OpenRead(path);
    CUnitWalker walker(*file, CPackScanner::kMaxWindowBytes, static_cast<int64_t>(bytes.size()));
    walker.Start(0, static_cast<int64_t>(bytes.size()), false, CUnitWalker::ENoise::Stop);
    CStreams streams;
    CPsUnit unit;
    while (walker.Next(unit)) {
        if (unit.m_kind != EPsUnit::Packet) {
            continue;
        }
        const auto payload = walker.Payload(unit);
        if (IsMpegAudioStream(unit.m_nStreamId)) {
            streams.m_audio.insert(streams.m_audio.end(), payload.begin(), payload.end());
        } else if (IsVideoStream(unit.m_nStreamId)) {
            streams.m_video.insert(streams.m_video.end(), payload.begin(), payload.end());
            streams.m_videoStamps.push_back(unit.m_pts);
        }
    }
    return streams;
}

// The piece before a boundary and the piece after it, as the layout puts them together.
std::pair<Bytes, Bytes> Pieces(const Bytes& source, const CBoundary& boundary) {
    Bytes before(source.begin(), source.begin() + boundary.m_llPack);
    for (const CPacketRewrite& rewrite : boundary.m_before) {
        std::copy(rewrite.m_bytes.begin(), rewrite.m_bytes.end(),
                  before.begin() + rewrite.m_llOffset);
    }
    before.insert(before.end(), boundary.m_head.begin(), boundary.m_head.end());
    Bytes after = boundary.m_tail;
    const auto rest = static_cast<int64_t>(after.size()) - boundary.m_llPackEnd;
    after.insert(after.end(), source.begin() + boundary.m_llPackEnd, source.end());
    for (const CPacketRewrite& rewrite : boundary.m_after) {
        std::copy(rewrite.m_bytes.begin(), rewrite.m_bytes.end(),
                  after.begin() + (rewrite.m_llOffset + rest));
    }
    return {before, after};
}

}  // namespace

TEST(BoundaryWriter, SplitsThePackAtTheCutAndKeepsWholeAudioFramesOnEachSide) {
    struct CCase {
        const char* m_name;
        bool m_bMpeg2;
        size_t m_nAudioInPack;  // audio bytes before the video packet in the cut pack
        bool m_bPictureBefore;  // a picture begins in the video packet before the header
        size_t m_nBeforeEnd;    // the audio each side keeps: [0, m_nBeforeEnd) before
        size_t m_nAfterStart;   // and [m_nAfterStart, the end) after
    };
    // Audio runs [0, 2000), [2000, 3000) before the cut pack, [3000, m_nAudioInPack) in it
    // before its video packet, the rest in it and after. Cut at 3100, the frame at 2880 loses
    // 220 bytes before and 356 after, as padding packets; cut at 3459, the frame at 3456 loses
    // three bytes before, as header stuffing.
    const CCase cases[] = {
        {"padding, MPEG-2", true, 3100, true, 2880, 3456},
        {"padding, stamps move to the picture after the cut", true, 3100, false, 2880, 3456},
        {"stuffing, MPEG-2", true, 3459, true, 3456, 4032},
        {"stuffing, MPEG-1", false, 3459, false, 3456, 4032},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        const Bytes audio = AudioStream();
        const auto part = [&](size_t from, size_t to) {
            return Bytes(audio.begin() + static_cast<std::ptrdiff_t>(from),
                         audio.begin() + static_cast<std::ptrdiff_t>(to));
        };
        // The video packet: the end of one picture (or only its data), then the header.
        Bytes video{0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
        if (!c.m_bPictureBefore) {
            video = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        }
        video.insert(video.end(), 200, 0x99);
        const size_t header = video.size();
        const Bytes sequence{0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x23, 0, 0, 1, 0xB8, 0, 8, 0, 0x40};
        video.insert(video.end(), sequence.begin(), sequence.end());
        video.insert(video.end(), 300, 0x77);

        CPsBuilder builder;
        builder.Pack(0, c.m_bMpeg2).Packet(0xC0, part(0, 2000), 1000, {}, c.m_bMpeg2);
        builder.Pack(100, c.m_bMpeg2).Packet(0xC0, part(2000, 3000), 2000, {}, c.m_bMpeg2);
        const int64_t pack = builder.Size();
        builder.Pack(200, c.m_bMpeg2)
            .Packet(0xC0, part(3000, c.m_nAudioInPack), 3000, {}, c.m_bMpeg2)
            .Packet(0xE0, video, 9000, 6000, c.m_bMpeg2)
            .Packet(0xC0, part(c.m_nAudioInPack, 4000), {}, {}, c.m_bMpeg2);
        const int64_t packEnd = builder.Size();
        builder.Pack(300, c.m_bMpeg2).Packet(0xC0, part(4000, kAudioBytes), 4000, {}, c.m_bMpeg2);
        builder.EndCode();
        const Bytes& source = builder.Data();
        const int64_t headerOffset = builder.UnitOffsets()[6] +
                                     static_cast<int64_t>(c.m_bMpeg2 ? 9 + 10 : 6 + 4 + 10) +
                                     static_cast<int64_t>(header);
        ASSERT_EQ(source[static_cast<size_t>(headerOffset) + 3], 0xB3);

        CTempDir dir;
        WriteFile(dir.File("source.mpg"), source);
        auto file = PosixFileSystem().OpenRead(dir.File("source.mpg"));
        CBoundaryWriter writer(*file, builder.Size(), ECleanVideo::Mpeg, 0xE0);
        std::optional<CBoundary> boundary;
        ASSERT_TRUE(writer.Build(pack, headerOffset, std::nullopt, boundary));
        ASSERT_TRUE(boundary);
        EXPECT_EQ(boundary->m_llPack, pack);
        EXPECT_EQ(boundary->m_llPackEnd, packEnd);
        for (const auto* rewrites : {&boundary->m_before, &boundary->m_after}) {
            for (const CPacketRewrite& rewrite : *rewrites) {
                const auto at = static_cast<size_t>(rewrite.m_llOffset);
                const size_t length = 6 + (size_t{source[at + 4]} << 8 | source[at + 5]);
                EXPECT_EQ(rewrite.m_bytes.size(), length) << at;
            }
        }

        const auto [before, after] = Pieces(source, *boundary);
        const CStreams first = Read(before, dir);
        const CStreams second = Read(after, dir);
        // Whole frames only, nothing else lost.
        EXPECT_EQ(first.m_audio, part(0, c.m_nBeforeEnd));
        EXPECT_EQ(second.m_audio, part(c.m_nAfterStart, kAudioBytes));
        // The video split at the header, nothing lost or doubled.
        EXPECT_EQ(first.m_video,
                  Bytes(video.begin(), video.begin() + static_cast<std::ptrdiff_t>(header)));
        EXPECT_EQ(second.m_video,
                  Bytes(video.begin() + static_cast<std::ptrdiff_t>(header), video.end()));
        ASSERT_FALSE(first.m_videoStamps.empty());
        ASSERT_FALSE(second.m_videoStamps.empty());
        EXPECT_EQ(first.m_videoStamps.back(),
                  c.m_bPictureBefore ? std::optional<int64_t>(9000) : std::nullopt);
        EXPECT_EQ(second.m_videoStamps.front(),
                  c.m_bPictureBefore ? std::nullopt : std::optional<int64_t>(9000));
        // The pack header opens both halves of the pack.
        ASSERT_GE(boundary->m_head.size(), 4u);
        EXPECT_EQ(boundary->m_head[3], kPackId);
        EXPECT_EQ(boundary->m_tail[3], kPackId);
    }
}

TEST(AudioFrames, LengthsFromTheHeaders) {
    struct CCase {
        EAudioFrames m_format;
        Bytes m_header;
        int64_t m_llLength;  // 0: no header
    };
    const CCase cases[] = {
        {EAudioFrames::Mpeg, {0xFF, 0xFD, 0xA4, 0x00, 0, 0}, 576},  // MPEG-1 II, 192k, 48 kHz
        {EAudioFrames::Mpeg, {0xFF, 0xFB, 0x92, 0x00, 0, 0}, 418},  // MPEG-1 III 128k, 44.1, pad
        {EAudioFrames::Mpeg, {0xFF, 0xF3, 0x80, 0x00, 0, 0}, 208},  // MPEG-2 III 64k, 22.05
        {EAudioFrames::Mpeg, {0xFF, 0xFF, 0x44, 0x00, 0, 0}, 128},  // MPEG-1 I 128k, 48 kHz
        {EAudioFrames::Mpeg, {0xFF, 0xFD, 0xF4, 0x00, 0, 0}, 0},    // bit rate index 15
        {EAudioFrames::Mpeg, {0xFF, 0xFD, 0xAC, 0x00, 0, 0}, 0},    // sampling rate index 3
        {EAudioFrames::Ac3, {0x0B, 0x77, 0, 0, 0x1E, 0x40}, 1792},  // 448k, 48 kHz
        {EAudioFrames::Ac3, {0x0B, 0x77, 0, 0, 0x55, 0x40}, 836},   // 192k, 44.1 kHz, odd
        {EAudioFrames::Ac3, {0x0B, 0x77, 0, 0, 0x88, 0x40}, 384},   // 64k, 32 kHz
        {EAudioFrames::Ac3, {0x0B, 0x77, 0, 0, 0xC0, 0x40}, 0},     // reserved rate
        {EAudioFrames::Ac3, {0x0B, 0x77, 0, 0, 0x1E, 0x80}, 0},     // E-AC-3
    };
    for (const CCase& c : cases) {
        const auto frame = ParseAudioFrame(c.m_format, c.m_header);
        EXPECT_EQ(frame ? frame->m_llLength : 0, c.m_llLength) << c.m_llLength;
    }
    // A header is found where the next one confirms it, not at a lone sync word before it.
    Bytes bytes{0xFF, 0xFD, 0xA4, 0x00, 0x55};
    const Bytes stream = AudioStream();
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    EXPECT_EQ(FindConfirmedFrame(EAudioFrames::Mpeg, bytes, 0), 5);
    EXPECT_EQ(FindConfirmedFrame(EAudioFrames::Mpeg, bytes, 6), 5 + kFrameBytes);
}

// At a joint, the sound of the piece after that would play before the end of the sound
// already written is left out as padding of its size, the first packet kept starts at a whole
// frame, and a clock that disagrees by more than a muxer's lag keeps its sound.
TEST(AudioJoint, LeavesOutTheSoundThatWouldPlayAgainAndNoMore) {
    const Bytes frames = AudioStream();
    // An MPEG-2 packet of `count` frames with `tail` bytes of a frame's end in front.
    const auto packet = [&](std::optional<int64_t> pts, size_t count, size_t tail) {
        Bytes payload(frames.end() - static_cast<std::ptrdiff_t>(tail), frames.end());
        payload.insert(payload.end(), frames.begin(),
                       frames.begin() + static_cast<std::ptrdiff_t>(count * kFrameBytes));
        CPsBuilder builder;
        builder.Packet(0xC0, payload, pts, {}, true);
        return builder.Data();
    };
    struct CCase {
        const char* m_name;
        std::vector<std::optional<int64_t>> m_after;  // the stamps of the piece after
        size_t m_nTail;                               // of its packets
        const char* m_kinds;  // each: 'P' left out, 'K' kept as is, 'T' starts at its frame
    };
    // The piece before ends with two frames stamped 8640: its sound ends at 12960.
    const CCase cases[] = {
        {"one packet plays again", {8640, 12960, 17280}, 0, "PKK"},
        {"unstamped packets before it go too", {std::nullopt, 10800, 12960}, 0, "PPK"},
        {"the first kept starts at a frame", {10800, 12960}, 100, "PT"},
        {"a clock two minutes off keeps its sound", {12960 - 120 * 90000, 12960}, 0, "KK"},
        {"no overlap", {12960, 17280}, 0, "KK"},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        CAudioJoint joint;
        joint.BeginPiece();
        for (const int64_t pts : {0, 4320, 8640}) {
            Bytes unit = packet(pts, 2, 0);
            const Bytes before = unit;
            joint.OnUnit(unit.data(), unit.size());
            EXPECT_EQ(unit, before);
        }
        joint.BeginPiece();
        for (size_t k = 0; k < c.m_after.size(); ++k) {
            Bytes unit = packet(c.m_after[k], 2, c.m_nTail);
            const Bytes before = unit;
            joint.OnUnit(unit.data(), unit.size());
            ASSERT_EQ(unit.size(), before.size());
            switch (c.m_kinds[k]) {
                case 'P':
                    EXPECT_EQ(unit[3], kPaddingId) << k;
                    break;
                case 'K':
                    EXPECT_EQ(unit, before) << k;
                    break;
                default: {
                    EXPECT_EQ(unit[3], 0xC0) << k;
                    const size_t dataAt = 9 + unit[8];
                    const Bytes header(unit.begin() + static_cast<std::ptrdiff_t>(dataAt),
                                       unit.begin() + static_cast<std::ptrdiff_t>(dataAt) + 4);
                    EXPECT_EQ(header, Bytes(frames.begin(), frames.begin() + 4)) << k;
                    break;
                }
            }
        }
    }
}
