// Sound left out at joints so that its time stamps keep rising.
#include "mpeg/audiojoint.h"

#include <algorithm>
#include <vector>

#include "mpeg/boundarywriter.h"
#include "mpeg/clockshifter.h"
#include "mpeg/packscanner.h"
#include "mpeg/streamids.h"

namespace {

// DVD audio in private stream 1: sub-stream number, frame count and first access unit.
constexpr size_t kPrivateAudioHeader = 4;
// A muxer keeps sound within a second or so of its pictures (the decoder's buffer allows no
// more): a piece's sound is left out at most this far before the end of what was written, and
// at most this many packets of it, so a clock that disagrees cannot take a whole segment's sound.
constexpr int64_t kLongestOverlap = 2 * 90000;
constexpr int kMostPacketsLeftOut = 256;

struct CAudioPacket {
    EAudioFrames m_format = EAudioFrames::Mpeg;
    uint16_t m_nKey = 0;
    size_t m_nHeaderEnd = 0;
    size_t m_nDataAt = 0;
    std::optional<int64_t> m_pts;
};

// The audio packet at p (MPEG audio or AC-3), with where its header and frame bytes begin.
std::optional<CAudioPacket> ReadAudioPacket(const unsigned char* p, size_t length) {
    if (length < 4) {
        return std::nullopt;
    }
    const unsigned char id = p[3];
    if (!IsMpegAudioStream(id) && id != kPrivateStream1Id) {
        return std::nullopt;
    }
    const std::optional<CPesLayout> layout = ReadPesLayout(p, length);
    if (!layout) {
        return std::nullopt;
    }
    CAudioPacket packet;
    packet.m_nHeaderEnd = layout->m_nHeaderEnd;
    if (layout->m_ptsAt) {
        packet.m_pts = ReadStamp(p + *layout->m_ptsAt);
    }
    packet.m_nDataAt = packet.m_nHeaderEnd;
    uint8_t sub = 0;
    if (id == kPrivateStream1Id) {
        if (packet.m_nHeaderEnd >= length || !IsAc3SubStream(p[packet.m_nHeaderEnd])) {
            return std::nullopt;
        }
        sub = p[packet.m_nHeaderEnd];
        packet.m_format = EAudioFrames::Ac3;
        packet.m_nDataAt += kPrivateAudioHeader;
    }
    if (packet.m_nDataAt > length) {
        return std::nullopt;
    }
    packet.m_nKey = StreamKey(id, sub);
    return packet;
}

// Where the first frame that starts in the packet begins, counted from its frame bytes: from
// the first access unit pointer of DVD audio, else the first header that the next frame's
// header confirms or, with no next header in the packet, that is of the stream's kind.
std::optional<size_t> FirstFrame(const CAudioPacket& packet, const unsigned char* unit,
                                 size_t length, const CAudioFrame& known) {
    const unsigned char* data = unit + packet.m_nDataAt;
    const size_t size = length - packet.m_nDataAt;
    if (packet.m_format == EAudioFrames::Ac3 && packet.m_nDataAt >= kPrivateAudioHeader) {
        const size_t pointer =
            size_t{unit[packet.m_nHeaderEnd + 2]} << 8 | unit[packet.m_nHeaderEnd + 3];
        // 0: no frame starts in the packet.
        if (pointer == 0 || pointer - 1 >= size) {
            return std::nullopt;
        }
        if (ParseAudioFrame(packet.m_format, {data + pointer - 1, size - (pointer - 1)})) {
            return pointer - 1;
        }
    }
    for (size_t at = 0; at + 4 <= size; ++at) {
        const auto frame = ParseAudioFrame(packet.m_format, {data + at, size - at});
        if (!frame) {
            continue;
        }
        const auto end = static_cast<size_t>(frame->m_llLength) + at;
        if (end + 4 <= size) {
            const auto next = ParseAudioFrame(packet.m_format, {data + end, size - end});
            if (next && next->m_nKind == frame->m_nKind) {
                return at;
            }
        } else if (known.m_llLength > 0 && frame->m_nKind == known.m_nKind) {
            return at;
        }
    }
    return std::nullopt;
}

}  // namespace

void CAudioJoint::BeginPiece() {
    for (auto& [key, stream] : m_streams) {
        stream.m_bOpen = false;
        stream.m_nLeftOut = 0;
    }
}

void CAudioJoint::OnUnit(unsigned char* unit, size_t length) {
    const std::optional<CAudioPacket> packet = ReadAudioPacket(unit, length);
    if (!packet) {
        return;
    }
    CStream& stream = m_streams[packet->m_nKey];
    stream.m_format = packet->m_format;
    const size_t size = length - packet->m_nDataAt;
    const std::optional<size_t> first =
        packet->m_pts ? FirstFrame(*packet, unit, length, stream.m_frame) : std::nullopt;
    if (stream.m_bOpen || !stream.m_end) {
        stream.m_bOpen = true;
        Written(stream, unit + packet->m_nDataAt, size, first, packet->m_pts);
        return;
    }
    // Before the first packet kept in this piece: a packet without a frame that its time
    // stamp times, or one that plays before the end of the sound already written, is left out.
    const int64_t early = packet->m_pts ? ClockDifference(*stream.m_end, *packet->m_pts) : 0;
    const bool overlaps = !packet->m_pts || !first || (early > 0 && early <= kLongestOverlap);
    if (overlaps && stream.m_nLeftOut < kMostPacketsLeftOut) {
        LeaveOut(stream, unit, length);
        return;
    }
    stream.m_bOpen = true;
    // The packet's time stamp belongs to the first frame that starts in it; the bytes before
    // that frame end a frame whose start was left out.
    if (stream.m_nLeftOut > 0 && first && *first > 0) {
        const std::vector<unsigned char> bytes(unit, unit + length);
        const auto trimmed =
            TrimAudio(bytes, packet->m_nHeaderEnd, packet->m_nDataAt, *first, size);
        if (!trimmed) {
            // No room in its header for the change: it goes too.
            stream.m_bOpen = false;
            LeaveOut(stream, unit, length);
            return;
        }
        std::copy(trimmed->begin(), trimmed->end(), unit);
        Written(stream, bytes.data() + packet->m_nDataAt + *first, size - *first, 0, packet->m_pts);
        return;
    }
    Written(stream, unit + packet->m_nDataAt, size, first, packet->m_pts);
}

void CAudioJoint::LeaveOut(CStream& stream, unsigned char* unit, size_t length) {
    const std::vector<unsigned char> padding = MakePadding(length);
    std::copy(padding.begin(), padding.end(), unit);
    ++stream.m_nLeftOut;
}

void CAudioJoint::Written(CStream& stream, const unsigned char* data, size_t size,
                          std::optional<size_t> first, std::optional<int64_t> stamp) {
    // A time stamp times the first frame that starts in the packet; without one it times
    // nothing here.
    if (stamp && first) {
        // Frame bytes before that frame end the frame before.
        const size_t from = *first;
        if (const auto frame = ParseAudioFrame(stream.m_format, {data + from, size - from})) {
            stream.m_frame = *frame;
        }
        stream.m_lastStamp = stamp;
        stream.m_llBytesSinceStamp = static_cast<int64_t>(size - from);
    } else {
        stream.m_llBytesSinceStamp += static_cast<int64_t>(size);
    }
    if (!stream.m_lastStamp || stream.m_frame.m_llLength <= 0 || stream.m_frame.m_nRate <= 0) {
        return;
    }
    // Every frame begun since the time stamp plays whole.
    const int64_t frames =
        (stream.m_llBytesSinceStamp + stream.m_frame.m_llLength - 1) / stream.m_frame.m_llLength;
    const int64_t ticks =
        (frames * stream.m_frame.m_nSamples * 90000 + stream.m_frame.m_nRate - 1) /
        stream.m_frame.m_nRate;
    stream.m_end = CClockShifter::Shifted(*stream.m_lastStamp, ticks);
}
