// The boundary writer: one walk around the cut pack, its units split at the cut, the audio
// streams followed frame by frame across the cut so that each piece holds whole frames only.
#include "mpeg/boundarywriter.h"

#include <algorithm>
#include <map>

#include "mpeg/audioframes.h"
#include "mpeg/streamids.h"
#include "mpeg/unitwalker.h"

namespace {

constexpr int64_t kWindowBytes = int64_t{1} << 20;
// The walk around the cut: far enough for a few frames of every audio stream on each side
// (audio is a small share of a program stream), near enough to stay one read or two.
constexpr int64_t kAudioLookBack = int64_t{384} << 10;
constexpr int64_t kAudioLookAhead = int64_t{384} << 10;
// The bytes of a private stream 1 audio payload before its frames: sub-stream number, frame
// count and first access unit pointer.
constexpr size_t kPrivateAudioHeader = 4;
constexpr size_t kMaxMpeg1Stuffing = 16;

struct CUnitCopy {
    CPsUnit m_unit;
    std::vector<unsigned char> m_bytes;
    bool m_bInPack = false;  // of the pack holding the cut
};

// Where a packet's PTS and DTS fields lie.
struct CStampField {
    bool m_bMpeg2 = false;
    size_t m_nAt = 0;
    size_t m_nBytes = 0;
};

std::optional<CStampField> ReadStamps(const std::vector<unsigned char>& b, size_t headerEnd) {
    if (headerEnd < 7 || headerEnd > b.size()) {
        return std::nullopt;
    }
    if ((b[6] & 0xC0) == 0x80) {
        const int flags = b[7] >> 6;
        const size_t bytes = flags == 2 ? 5 : (flags == 3 ? 10 : 0);
        return 9 + bytes <= headerEnd ? std::optional(CStampField{true, 9, bytes}) : std::nullopt;
    }
    size_t at = 6;
    while (at < headerEnd && b[at] == 0xFF) {
        ++at;
    }
    if (at < headerEnd && (b[at] & 0xC0) == 0x40) {
        at += 2;
    }
    if (at >= headerEnd) {
        return std::nullopt;
    }
    const size_t bytes = (b[at] & 0xF0) == 0x20 ? 5 : ((b[at] & 0xF0) == 0x30 ? 10 : 0);
    return at + bytes <= headerEnd ? std::optional(CStampField{false, at, bytes}) : std::nullopt;
}

// A picture (access unit) begins in these bytes: the packet's time stamp is its own.
bool HasPictureStart(ECleanVideo video, std::span<const unsigned char> b) {
    for (size_t i = 0; i + 4 < b.size(); ++i) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) {
            continue;
        }
        const unsigned char code = b[i + 3];
        if (video == ECleanVideo::Mpeg
                ? code == 0x00
                : ((code & 0x1F) == 9 ||
                   (((code & 0x1F) == 1 || (code & 0x1F) == 5) && (b[i + 4] & 0x80) != 0))) {
            return true;
        }
    }
    return false;
}

void SetLength(std::vector<unsigned char>& packet) {
    const size_t length = packet.size() - 6;
    packet[4] = static_cast<unsigned char>(length >> 8);
    packet[5] = static_cast<unsigned char>(length & 0xFF);
}

struct CAudioPacket {
    size_t m_nUnit = 0;
    size_t m_nDataAt = 0;  // where its frame bytes begin in the unit's bytes
    int64_t m_llEsBegin = 0;
    int64_t m_llEsEnd = 0;
    bool m_bBefore = false;
};

struct CAudioStream {
    EAudioFrames m_format = EAudioFrames::Mpeg;
    std::vector<unsigned char> m_es;
    std::vector<CAudioPacket> m_packets;
};

// The frame bytes of the stream cut at the boundary `b`: [before, b) end the piece before
// with part of a frame, [b, after) open the piece after with the rest of it.
void FramesAtCut(const CAudioStream& stream, int64_t b, int64_t& before, int64_t& after) {
    const std::span<const unsigned char> es(stream.m_es);
    const auto size = static_cast<int64_t>(es.size());
    before = b;
    after = b;
    std::optional<int64_t> at = FindConfirmedFrame(stream.m_format, es, 0);
    std::optional<int64_t> start;
    int64_t end = 0;
    while (at && *at < b) {
        const auto frame = ParseAudioFrame(stream.m_format, es.subspan(static_cast<size_t>(*at)));
        if (!frame) {
            at = FindConfirmedFrame(stream.m_format, es, *at + 1);
            continue;
        }
        start = at;
        end = *at + frame->m_llLength;
        at = end;
    }
    if (start) {
        before = end > b ? *start : end;
    }
    if (at && *at >= b && *at + 4 <= size &&
        ParseAudioFrame(stream.m_format, es.subspan(static_cast<size_t>(*at)))) {
        after = *at;
    } else if (const auto next = FindConfirmedFrame(stream.m_format, es, b)) {
        after = *next;
    }
}

}  // namespace

std::optional<std::vector<unsigned char>> TrimAudio(const std::vector<unsigned char>& b,
                                                    size_t headerEnd, size_t dataAt,
                                                    size_t keepFrom, size_t keepTo) {
    const size_t total = b.size();
    const size_t kept = keepTo - keepFrom;
    const size_t dropped = total - dataAt - kept;
    if (kept == 0) {
        return MakePadding(total);
    }
    std::vector<unsigned char> out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(dataAt));
    if (b[3] == kPrivateStream1Id && dataAt == headerEnd + kPrivateAudioHeader) {
        // The first access unit pointer counts from its own last byte.
        const size_t first = size_t{b[headerEnd + 2]} << 8 | b[headerEnd + 3];
        size_t next = 0;
        if (keepFrom > 0) {
            next = 1;  // the first kept byte starts a frame
        } else if (first >= 1 && first - 1 < kept) {
            next = first;
        }
        out[headerEnd + 1] = next == 0 ? 0 : std::max<unsigned char>(out[headerEnd + 1], 1);
        out[headerEnd + 2] = static_cast<unsigned char>(next >> 8);
        out[headerEnd + 3] = static_cast<unsigned char>(next & 0xFF);
    }
    const auto data = b.begin() + static_cast<std::ptrdiff_t>(dataAt);
    out.insert(out.end(), data + static_cast<std::ptrdiff_t>(keepFrom),
               data + static_cast<std::ptrdiff_t>(keepTo));
    if (dropped >= 6) {
        SetLength(out);
        const std::vector<unsigned char> padding = MakePadding(dropped);
        out.insert(out.end(), padding.begin(), padding.end());
    } else if (dropped > 0) {
        if ((b[6] & 0xC0) == 0x80) {
            out.insert(out.begin() + 9 + b[8], dropped, 0xFF);
            out[8] = static_cast<unsigned char>(b[8] + dropped);
        } else {
            size_t stuffing = 0;
            while (6 + stuffing < headerEnd && b[6 + stuffing] == 0xFF) {
                ++stuffing;
            }
            if (stuffing + dropped > kMaxMpeg1Stuffing) {
                return std::nullopt;
            }
            out.insert(out.begin() + 6, dropped, 0xFF);
        }
    }
    return out;
}

std::vector<unsigned char> MakePesHeader(uint8_t streamId, bool mpeg2,
                                         std::span<const unsigned char> stamps,
                                         size_t payloadBytes) {
    std::vector<unsigned char> header{0x00, 0x00, 0x01, streamId, 0, 0};
    if (mpeg2) {
        header.push_back(0x80);
        header.push_back(stamps.size() == 10 ? 0xC0 : (stamps.size() == 5 ? 0x80 : 0x00));
        header.push_back(static_cast<unsigned char>(stamps.size()));
        header.insert(header.end(), stamps.begin(), stamps.end());
    } else if (stamps.empty()) {
        header.push_back(0x0F);
    } else {
        header.insert(header.end(), stamps.begin(), stamps.end());
    }
    const size_t length = header.size() - 6 + payloadBytes;
    header[4] = static_cast<unsigned char>(length >> 8);
    header[5] = static_cast<unsigned char>(length & 0xFF);
    return header;
}

std::vector<unsigned char> MakePadding(size_t total) {
    std::vector<unsigned char> padding(total, 0xFF);
    padding[0] = padding[1] = 0x00;
    padding[2] = 0x01;
    padding[3] = kPaddingId;
    SetLength(padding);
    return padding;
}

bool CBoundaryWriter::Build(int64_t pack, int64_t headerOffset,
                            const std::optional<CBytePatch>& patch,
                            std::optional<CBoundary>& boundary) {
    boundary.reset();
    const int64_t begin = std::max<int64_t>(0, pack - kAudioLookBack);
    CUnitWalker walker(m_file, kWindowBytes, m_llSize);
    walker.Start(begin, std::min(m_llSize, pack + kAudioLookAhead), begin > 0);
    std::vector<CUnitCopy> units;
    std::map<uint16_t, CAudioStream> streams;
    bool inPack = false;
    bool seenPack = false;
    bool packWhole = true;
    int64_t packEnd = pack;
    CPsUnit unit;
    while (walker.Next(unit)) {
        if (unit.m_kind == EPsUnit::Pack || unit.m_kind == EPsUnit::EndCode) {
            inPack = unit.m_kind == EPsUnit::Pack && unit.m_llOffset == pack;
            seenPack = seenPack || inPack;
        }
        const std::span<const unsigned char> bytes = walker.Bytes(unit);
        const bool whole = static_cast<int64_t>(bytes.size()) == unit.m_llLength;
        if (inPack) {
            packWhole = packWhole && whole;
            packEnd = unit.m_llOffset + unit.m_llLength;
        }
        std::optional<EAudioFrames> format;
        if (unit.m_kind == EPsUnit::Packet && IsMpegAudioStream(unit.m_nStreamId)) {
            format = EAudioFrames::Mpeg;
        } else if (unit.m_kind == EPsUnit::Packet && unit.m_nStreamId == kPrivateStream1Id &&
                   IsAc3SubStream(unit.m_nSubStreamId)) {
            format = EAudioFrames::Ac3;
        }
        if (!inPack && !(format && whole)) {
            continue;
        }
        units.push_back({unit, {bytes.begin(), bytes.end()}, inPack});
        if (!format || !whole) {
            continue;
        }
        const size_t dataAt = static_cast<size_t>(unit.m_llPayloadOffset - unit.m_llOffset) +
                              (*format == EAudioFrames::Ac3 ? kPrivateAudioHeader : 0);
        if (dataAt > bytes.size()) {
            continue;
        }
        CAudioStream& stream = streams[StreamKey(unit)];
        stream.m_format = *format;
        const auto esBegin = static_cast<int64_t>(stream.m_es.size());
        stream.m_es.insert(stream.m_es.end(), bytes.begin() + static_cast<std::ptrdiff_t>(dataAt),
                           bytes.end());
        stream.m_packets.push_back({units.size() - 1, dataAt, esBegin,
                                    static_cast<int64_t>(stream.m_es.size()),
                                    unit.m_llOffset < pack});
    }
    if (walker.Failed()) {
        m_bSeekFailed = walker.SeekFailed();
        return false;
    }
    if (!seenPack || !packWhole) {
        return true;
    }
    // The video packet that holds the cut, and the pack's units around it.
    std::optional<size_t> cut;
    for (size_t i = 0; i < units.size(); ++i) {
        const CPsUnit& u = units[i].m_unit;
        if (units[i].m_bInPack && u.m_kind == EPsUnit::Packet && u.m_nStreamId == m_nVideoId &&
            u.m_llPayloadOffset <= headerOffset &&
            headerOffset < u.m_llPayloadOffset + u.m_llPayloadLength) {
            cut = i;
        }
    }
    size_t first = 0;
    while (first < units.size() && !units[first].m_bInPack) {
        ++first;
    }
    if (!cut || first >= units.size() || units[first].m_unit.m_kind != EPsUnit::Pack) {
        return true;
    }
    for (CUnitCopy& copy : units) {
        if (copy.m_bInPack && patch && patch->m_llOffset >= copy.m_unit.m_llOffset &&
            patch->m_llOffset < copy.m_unit.m_llOffset + copy.m_unit.m_llLength) {
            copy.m_bytes[static_cast<size_t>(patch->m_llOffset - copy.m_unit.m_llOffset)] =
                patch->m_nValue;
        }
    }
    for (auto& [key, stream] : streams) {
        for (CAudioPacket& packet : stream.m_packets) {
            if (units[packet.m_nUnit].m_bInPack) {
                packet.m_bBefore = packet.m_nUnit < *cut;
            }
        }
    }

    CBoundary result;
    result.m_llPack = pack;
    result.m_llPackEnd = packEnd;
    // Each audio stream loses the frame the cut runs through, and nothing else.
    for (auto& [key, stream] : streams) {
        int64_t b = static_cast<int64_t>(stream.m_es.size());
        for (const CAudioPacket& packet : stream.m_packets) {
            if (!packet.m_bBefore) {
                b = packet.m_llEsBegin;
                break;
            }
        }
        int64_t before = b;
        int64_t after = b;
        FramesAtCut(stream, b, before, after);
        for (const CAudioPacket& packet : stream.m_packets) {
            const int64_t keepFrom =
                packet.m_bBefore ? packet.m_llEsBegin : std::max(packet.m_llEsBegin, after);
            const int64_t keepTo =
                packet.m_bBefore ? std::min(packet.m_llEsEnd, before) : packet.m_llEsEnd;
            const bool unchanged =
                packet.m_bBefore ? keepTo == packet.m_llEsEnd : keepFrom == packet.m_llEsBegin;
            if (unchanged) {
                continue;
            }
            CUnitCopy& copy = units[packet.m_nUnit];
            const auto headerEnd =
                static_cast<size_t>(copy.m_unit.m_llPayloadOffset - copy.m_unit.m_llOffset);
            const auto from =
                static_cast<size_t>(std::max<int64_t>(0, keepFrom - packet.m_llEsBegin));
            const auto to = static_cast<size_t>(std::max(keepFrom, keepTo) - packet.m_llEsBegin);
            auto trimmed = TrimAudio(copy.m_bytes, headerEnd, packet.m_nDataAt, from, to);
            if (!trimmed) {
                continue;
            }
            if (copy.m_bInPack) {
                copy.m_bytes = std::move(*trimmed);
            } else {
                (packet.m_bBefore ? result.m_before : result.m_after)
                    .push_back({copy.m_unit.m_llOffset, std::move(*trimmed)});
            }
        }
    }
    const auto byOffset = [](const CPacketRewrite& a, const CPacketRewrite& b) {
        return a.m_llOffset < b.m_llOffset;
    };
    std::sort(result.m_before.begin(), result.m_before.end(), byOffset);
    std::sort(result.m_after.begin(), result.m_after.end(), byOffset);

    // The cut packet in two: its time stamps go with the part where the picture they belong
    // to begins.
    const CUnitCopy& video = units[*cut];
    const std::vector<unsigned char>& vb = video.m_bytes;
    const auto headerEnd =
        static_cast<size_t>(video.m_unit.m_llPayloadOffset - video.m_unit.m_llOffset);
    auto at = static_cast<size_t>(headerOffset - video.m_unit.m_llOffset);
    if (m_video == ECleanVideo::H264 && at > headerEnd && vb[at - 1] == 0) {
        --at;  // a four-byte start code goes whole with the access unit it opens
    }
    const auto stamps = ReadStamps(vb, headerEnd);
    if (!stamps) {
        return true;
    }
    std::vector<unsigned char> headPart;
    std::vector<unsigned char> tailPart;
    if (at == headerEnd) {
        tailPart = vb;
    } else {
        const std::span<const unsigned char> all(vb);
        const std::span<const unsigned char> fields = all.subspan(stamps->m_nAt, stamps->m_nBytes);
        const bool ownedBefore = HasPictureStart(m_video, all.subspan(headerEnd, at - headerEnd));
        headPart =
            MakePesHeader(vb[3], stamps->m_bMpeg2,
                          ownedBefore ? fields : std::span<const unsigned char>(), at - headerEnd);
        headPart.insert(headPart.end(), vb.begin() + static_cast<std::ptrdiff_t>(headerEnd),
                        vb.begin() + static_cast<std::ptrdiff_t>(at));
        tailPart =
            MakePesHeader(vb[3], stamps->m_bMpeg2,
                          ownedBefore ? std::span<const unsigned char>() : fields, vb.size() - at);
        tailPart.insert(tailPart.end(), vb.begin() + static_cast<std::ptrdiff_t>(at), vb.end());
    }
    const std::vector<unsigned char>& packHeader = units[first].m_bytes;
    std::vector<unsigned char> head = packHeader;
    std::vector<unsigned char> tail = packHeader;
    bool headHasPackets = !headPart.empty();
    for (size_t i = first + 1; i < units.size() && units[i].m_bInPack; ++i) {
        const CUnitCopy& copy = units[i];
        if (i == *cut) {
            tail.insert(tail.end(), tailPart.begin(), tailPart.end());
            continue;
        }
        // Pictures and sound before the cut end the piece before; navigation, subpictures and
        // headers go with the group of pictures after it.
        const bool toHead = i < *cut && copy.m_unit.m_kind == EPsUnit::Packet &&
                            IsTimedStream(copy.m_unit.m_nStreamId, copy.m_unit.m_nSubStreamId);
        std::vector<unsigned char>& into = toHead ? head : tail;
        into.insert(into.end(), copy.m_bytes.begin(), copy.m_bytes.end());
        headHasPackets = headHasPackets || toHead;
    }
    head.insert(head.end(), headPart.begin(), headPart.end());
    if (headHasPackets) {
        result.m_head = std::move(head);
    }
    result.m_tail = std::move(tail);
    boundary = std::move(result);
    return true;
}
