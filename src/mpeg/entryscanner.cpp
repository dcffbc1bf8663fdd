// The video elementary stream read for the places a piece can start: start codes found across
// packets, sequence headers (SPS and PPS) kept for pieces that start without their own.
#include "mpeg/entryscanner.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "mpeg/picturerate.h"
#include "mpeg/streamids.h"

namespace {

// Parameters (a sequence header with its extensions, SPS and PPS) longer than this are not
// repeated: no real one comes near it, and they must fit one packet with its header.
constexpr size_t kMaxParameterBytes = 16 * 1024;
// H.264 SEI payload type of a recovery point.
constexpr unsigned kRecoveryPoint = 6;

// An Exp-Golomb code (ue(v)) from `bits` bits of a big-endian word, from bit `at` on.
std::optional<uint32_t> ReadGolomb(uint32_t word, int bits, int& at) {
    int zeros = 0;
    while (at < bits && ((word >> (bits - 1 - at)) & 1) == 0) {
        ++zeros;
        ++at;
    }
    if (at + zeros + 1 > bits) {
        return std::nullopt;
    }
    ++at;
    uint32_t value = 1;
    for (int i = 0; i < zeros; ++i, ++at) {
        value = value << 1 | ((word >> (bits - 1 - at)) & 1);
    }
    return value - 1;
}

// The slice_type of a slice whose NAL header is bytes[3]: read from the four bytes after it,
// enough for any first_mb_in_slice of a picture up to 1080 lines.
std::optional<uint32_t> SliceType(const std::array<unsigned char, 8>& bytes) {
    const uint32_t word = uint32_t{bytes[4]} << 24 | uint32_t{bytes[5]} << 16 |
                          uint32_t{bytes[6]} << 8 | uint32_t{bytes[7]};
    int at = 0;
    if (!ReadGolomb(word, 32, at)) {
        return std::nullopt;
    }
    return ReadGolomb(word, 32, at);
}

// I and SI slices (types 2, 4, and 7, 9 for "all slices of the picture alike").
bool IsIntraSlice(std::optional<uint32_t> type) {
    return type && (*type % 5 == 2 || *type % 5 == 4) && *type <= 9;
}

// Whether the SEI NAL unit (from its start code on) holds a recovery point message.
bool HoldsRecoveryPoint(const std::vector<unsigned char>& nal) {
    // The payload without its emulation prevention bytes.
    std::vector<unsigned char> rbsp;
    rbsp.reserve(nal.size());
    for (size_t i = 4, zeros = 0; i < nal.size(); ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    size_t at = 0;
    const auto number = [&](std::optional<unsigned>& value) {
        unsigned sum = 0;
        while (at < rbsp.size() && rbsp[at] == 0xFF) {
            sum += 0xFF;
            ++at;
        }
        if (at >= rbsp.size()) {
            return false;
        }
        value = sum + rbsp[at++];
        return true;
    };
    // Messages until the trailing bits.
    while (at < rbsp.size() && rbsp[at] != 0x80) {
        std::optional<unsigned> type;
        std::optional<unsigned> size;
        if (!number(type) || !number(size)) {
            return false;
        }
        if (*type == kRecoveryPoint) {
            return true;
        }
        at += *size;
    }
    return false;
}

}  // namespace

ECleanVideo DetectVideo(std::span<const unsigned char> payload) {
    for (size_t i = 0; i + 4 <= payload.size(); ++i) {
        if (payload[i] != 0 || payload[i + 1] != 0 || payload[i + 2] != 1) {
            continue;
        }
        const unsigned char code = payload[i + 3];
        if (code == kSequenceHeader) {
            return ECleanVideo::Mpeg;
        }
        if ((code & 0x80) == 0 && ((code & 0x1F) == 9 || (code & 0x1F) == 7)) {
            return ECleanVideo::H264;
        }
    }
    return ECleanVideo::None;
}

void CEntryScanner::OnUnit(const CPsUnit& unit, std::span<const unsigned char> payload) {
    if (unit.m_kind != EPsUnit::Pack && m_bInPack) {
        m_llPackEnd = unit.m_llOffset + unit.m_llLength;
    }
    switch (unit.m_kind) {
        case EPsUnit::Pack:
            OnPack(unit);
            return;
        case EPsUnit::SystemHeader:
            m_bPackHasNavigation = true;
            return;
        case EPsUnit::StreamMap:
        case EPsUnit::EndCode:
            return;
        case EPsUnit::Packet:
            break;
    }
    if (unit.m_nStreamId == kPrivateStream2Id) {
        m_bPackHasNavigation = true;
    }
    if (!m_bInPack) {
        return;
    }
    if (IsElementaryStream(unit.m_nStreamId)) {
        m_bPackHasMedia = true;
    }
    if (m_video == ECleanVideo::None) {
        if (m_packEntry && !m_packEntry->m_time && unit.m_pts &&
            (!m_reference || StreamKey(unit) == *m_reference)) {
            m_packEntry->m_time = unit.m_pts;
        }
        return;
    }
    if (unit.m_nStreamId != m_nVideoId) {
        return;
    }
    // A place whose first picture carried no time of its own takes the next one; MPEG pictures
    // wait for the picture header that time belongs to.
    if (unit.m_pts && m_video != ECleanVideo::Mpeg) {
        TimeWaiting(*unit.m_pts, -1);
    }
    CPacketInfo& info = m_packets[++m_nSerial % m_packets.size()];
    info = CPacketInfo{m_llPack, m_llEntryOffset, m_entryPack, m_llPackScr, unit.m_pts, false};
    Scan(payload.data(), payload.size(), unit.m_llPayloadOffset);
}

void CEntryScanner::OnGap() {
    m_tail.clear();
    m_pending.reset();
    m_bIntraCandidate = false;
    m_bHeaderlessPending = false;
    m_bFirstFieldOpen = false;
    m_bUnitRecovers = false;
    m_bCapturing = false;
    m_bInPack = false;
    m_bGroupSeen = false;
    m_bSliceInUnit = false;
    m_bUnitOpen = false;
}

void CEntryScanner::Flush() {
    if (m_packEntry) {
        m_entries.push_back(*m_packEntry);
        m_packEntry.reset();
    }
    for (CEntry& waiting : m_waiting) {
        waiting.m_bTimeKnown = true;
    }
    Release();
}

bool CEntryScanner::Pending(int64_t before) const {
    return (m_pending && m_pending->m_llHeaderPack < before) ||
           (!m_waiting.empty() && m_waiting.front().m_llHeaderPack < before) ||
           (m_packEntry && m_packEntry->m_llHeaderPack < before) || TailOpensCode(before);
}

std::vector<CEntryScanner::CEntry> CEntryScanner::Take() {
    std::vector<CEntry> entries;
    entries.swap(m_entries);
    return entries;
}

void CEntryScanner::OnPack(const CPsUnit& unit) {
    // A navigation pack right before a pack goes with it: it opens the same unit of a DVD.
    const bool navigation =
        m_bInPack && m_bPackHasNavigation && !m_bPackHasMedia && m_llPackEnd == unit.m_llOffset;
    const int64_t previous = m_llPack;
    const CPackHeader previousHeader = m_packHeader;
    m_bInPack = true;
    m_llPack = unit.m_llOffset;
    m_packHeader = unit.m_pack;
    m_llPackScr = unit.m_pack.m_llScr;
    m_llEntryOffset = navigation ? previous : m_llPack;
    m_entryPack = navigation ? previousHeader : m_packHeader;
    m_bPackHasNavigation = false;
    m_bPackHasMedia = false;
    m_llPackEnd = unit.m_llOffset + unit.m_llLength;
    if (m_video == ECleanVideo::None) {
        if (m_packEntry) {
            m_entries.push_back(*m_packEntry);
        }
        m_packEntry = CEntry{};
        m_packEntry->m_llOffset = m_packEntry->m_llHeaderPack = m_llPack;
        m_packEntry->m_pack = m_packHeader;
        m_packEntry->m_llHeaderScr = m_llPackScr;
        m_packEntry->m_bTimeKnown = true;
    }
}

// The last bytes read may begin a start code that the next packet completes: they hold
// one waiting for the bytes after it, or end in a zero.
bool CEntryScanner::TailOpensCode(int64_t before) const {
    const size_t n = m_tail.size();
    if (n == 0 || m_nSerial - m_tail[0].m_nSerial >= m_packets.size() ||
        m_packets[m_tail[0].m_nSerial % m_packets.size()].m_llPack >= before) {
        return false;
    }
    const bool held =
        n >= 3 && m_tail[0].m_nValue == 0 && m_tail[1].m_nValue == 0 && m_tail[2].m_nValue == 1;
    return held || m_tail[n - 1].m_nValue == 0;
}

CEntryScanner::CPacketInfo* CEntryScanner::Packet(uint32_t serial) {
    if (m_nSerial - serial >= m_packets.size()) {
        return nullptr;
    }
    return &m_packets[serial % m_packets.size()];
}

// A picture or access unit begins in the packet: the packet's time stamp is its own when
// it is the first to begin there.
std::optional<int64_t> CEntryScanner::UnitStart(uint32_t serial) {
    CPacketInfo* info = Packet(serial);
    if (info == nullptr) {
        return std::nullopt;
    }
    const bool first = !info->m_bUnitStarted;
    info->m_bUnitStarted = true;
    return first ? info->m_pts : std::nullopt;
}

void CEntryScanner::TimeWaiting(int64_t time, int temporalReference) {
    for (CEntry& waiting : m_waiting) {
        if (waiting.m_bTimeKnown) {
            continue;
        }
        waiting.m_time = time;
        if (temporalReference >= 0 && waiting.m_nTemporalReference >= 0 &&
            waiting.m_nGroup == m_nGroups && m_llPictureTicks > 0) {
            *waiting.m_time +=
                (waiting.m_nTemporalReference - temporalReference) * m_llPictureTicks;
        }
        waiting.m_bTimeKnown = true;
    }
    Release();
}

void CEntryScanner::Begin(uint32_t serial, bool hasParameters, int64_t headerOffset) {
    const CPacketInfo* info = Packet(serial);
    if (info == nullptr) {
        return;
    }
    m_pending = CEntry{};
    m_pending->m_llOffset = info->m_llEntryOffset;
    m_pending->m_llHeaderPack = info->m_llPack;
    m_pending->m_llHeaderOffset = headerOffset;
    m_pending->m_pack = info->m_entryPack;
    m_pending->m_llHeaderScr = info->m_llPackScr;
    m_pending->m_bNeedsParameters = !hasParameters;
    if (!hasParameters) {
        m_pending->m_parameters = m_latestParameters;
    }
}

void CEntryScanner::Complete(std::optional<int64_t> time) {
    m_bEntrySeen = true;
    m_pending->m_time = time;
    m_pending->m_bTimeKnown = time.has_value();
    m_waiting.push_back(std::move(*m_pending));
    m_pending.reset();
    Release();
}

// Places leave in file order, each once its time is settled.
void CEntryScanner::Release() {
    while (!m_waiting.empty() && m_waiting.front().m_bTimeKnown) {
        m_entries.push_back(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
}

// Elementary stream bytes: those of the tail (kept from earlier packets) and then the
// payload, indexed together.
void CEntryScanner::Scan(const unsigned char* payload, size_t length, int64_t offset) {
    const size_t tail = m_tail.size();
    const size_t total = tail + length;
    const int64_t base = m_llStreamBytes - static_cast<int64_t>(tail);
    const auto byteAt = [&](size_t i) { return i < tail ? m_tail[i].m_nValue : payload[i - tail]; };
    const auto codeAt = [&](size_t i) {
        CCode code;
        for (size_t j = 0; j < kCodeBytes; ++j) {
            code.m_bytes[j] = byteAt(i + j);
            code.m_offsets[j] = i + j < tail ? m_tail[i + j].m_llOffset
                                             : offset + static_cast<int64_t>(i + j - tail);
        }
        code.m_nSerial = i < tail ? m_tail[i].m_nSerial : m_nSerial;
        code.m_llIndex = base + static_cast<int64_t>(i);
        return code;
    };
    size_t keep = total >= 2 ? total - 2 : 0;
    bool held = false;
    // Codes that begin in the tail, then those in the payload, found by their 01 byte.
    for (size_t i = 0; i < tail && i + 3 <= total; ++i) {
        if (byteAt(i) != 0 || byteAt(i + 1) != 0 || byteAt(i + 2) != 1) {
            continue;
        }
        if (i + kCodeBytes > total) {
            keep = i;
            held = true;
            break;
        }
        OnCode(codeAt(i), byteAt);
    }
    for (size_t i = 0; !held && i + 3 <= length;) {
        const auto* one =
            static_cast<const unsigned char*>(std::memchr(payload + i + 2, 1, length - i - 2));
        if (one == nullptr) {
            break;
        }
        const auto at = static_cast<size_t>(one - payload);
        if (payload[at - 1] != 0 || payload[at - 2] != 0) {
            i = at - 1;
            continue;
        }
        if (at - 2 + kCodeBytes > length) {
            keep = tail + at - 2;
            held = true;
            break;
        }
        OnCode(codeAt(tail + at - 2), byteAt);
        i = at + 1;
    }
    m_llStreamBytes += static_cast<int64_t>(length);
    if (m_bCapturing) {
        Capture(m_llStreamBytes, byteAt, base);
    }
    std::vector<CTailByte> next;
    for (size_t i = std::min(keep, total); i < total; ++i) {
        next.push_back({byteAt(i),
                        i < tail ? m_tail[i].m_llOffset : offset + static_cast<int64_t>(i - tail),
                        i < tail ? m_tail[i].m_nSerial : m_nSerial});
    }
    m_tail.swap(next);
}

// Appends the captured stream's bytes up to the stream index `until`.
template <typename ByteAt>
void CEntryScanner::Capture(int64_t until, const ByteAt& byteAt, int64_t base) {
    for (int64_t i = m_llCaptured; i < until; ++i) {
        if (m_capture.size() >= kMaxParameterBytes) {
            m_bCaptureTooLong = true;
            break;
        }
        m_capture.push_back(byteAt(static_cast<size_t>(i - base)));
    }
    m_llCaptured = std::max(m_llCaptured, until);
}

void CEntryScanner::StartCapture(const CCode& code, ECapture kind) {
    m_bCapturing = true;
    m_bCaptureTooLong = false;
    m_eCapture = kind;
    m_capture.clear();
    m_llCaptured = code.m_llIndex;
}

template <typename ByteAt>
void CEntryScanner::EndCapture(const CCode& code, const ByteAt& byteAt, int64_t base) {
    if (!m_bCapturing) {
        return;
    }
    Capture(code.m_llIndex, byteAt, base);
    m_bCapturing = false;
    if (m_bCaptureTooLong) {
        return;
    }
    if (m_eCapture == ECapture::Sei) {
        m_bUnitRecovers = m_bUnitRecovers || HoldsRecoveryPoint(m_capture);
        return;
    }
    if (m_video == ECleanVideo::Mpeg) {
        m_latestParameters = m_capture;
    } else if (m_eCapture == ECapture::PictureSet) {
        // PPS: kept with the SPS they follow, a few of them.
        if (m_pictureSets.size() < 4) {
            m_pictureSets.push_back(m_capture);
        }
        m_latestParameters = m_sequenceSet;
        for (const auto& set : m_pictureSets) {
            m_latestParameters.insert(m_latestParameters.end(), set.begin(), set.end());
        }
    } else {
        m_sequenceSet = m_capture;
        m_pictureSets.clear();
        m_latestParameters = m_sequenceSet;
    }
    // The parameters of the stream's first place: with H.264, its SPS and the PPS after it.
    if (!m_bEntrySeen || m_firstParameters.empty()) {
        m_firstParameters = m_latestParameters;
    }
}

template <typename ByteAt>
void CEntryScanner::OnCode(const CCode& code, const ByteAt& byteAt) {
    const int64_t base = m_llStreamBytes - static_cast<int64_t>(m_tail.size());
    if (m_video == ECleanVideo::Mpeg) {
        OnMpegCode(code, byteAt, base);
    } else {
        OnH264Code(code, byteAt, base);
    }
}

template <typename ByteAt>
void CEntryScanner::OnMpegCode(const CCode& code, const ByteAt& byteAt, int64_t base) {
    const unsigned char kind = code.m_bytes[3];
    if (kind == kExtensionStart) {
        // The picture coding extension tells a field from a frame; any other extension is
        // part of the sequence header being captured, if any.
        if ((code.m_bytes[4] >> 4) == kPictureCodingExtension) {
            OnPictureStructure(code.m_bytes[6] & 3);
        }
        return;
    }
    if (kind == kUserData) {
        return;
    }
    // Without a picture coding extension (MPEG-1) a picture is a frame.
    if (m_bHeaderlessPending) {
        m_bHeaderlessPending = false;
        Complete(m_headerlessTime);
    }
    EndCapture(code, byteAt, base);
    if (kind == kSequenceHeader) {
        if (const int64_t ticks = CPictureRate::MpegSequenceTicks(
                std::span<const unsigned char>(code.m_bytes).subspan(4));
            ticks > 0) {
            m_llPictureTicks = ticks;
        }
        StartCapture(code, ECapture::Sequence);
        if (!m_pending) {
            Begin(code.m_nSerial, true, code.m_offsets[0]);
        }
    } else if (kind == kGroupHeader) {
        if (!m_pending) {
            Begin(code.m_nSerial, false, code.m_offsets[0]);
        }
        if (m_pending && !m_pending->m_brokenLink && !m_bGroupSeen) {
            const unsigned char flags = code.m_bytes[7];
            if ((flags & kClosedGop) == 0 && (flags & kBrokenLink) == 0) {
                m_pending->m_brokenLink =
                    CBytePatch{code.m_offsets[7], static_cast<unsigned char>(flags | kBrokenLink)};
            }
        }
        m_bGroupSeen = true;
        ++m_nGroups;
    } else if (kind == kPictureStart) {
        const std::optional<int64_t> time = UnitStart(code.m_nSerial);
        const int temporalReference = (code.m_bytes[4] << 2) | (code.m_bytes[5] >> 6);
        if (time) {
            TimeWaiting(*time, temporalReference);
        }
        m_bGroupSeen = false;
        if (!m_bStructureSeen) {
            m_bFirstFieldOpen = false;
        }
        m_bStructureSeen = false;
        const bool intra = ((code.m_bytes[5] >> 3) & 7) == 1;
        if (m_pending && intra) {
            m_pending->m_nTemporalReference = temporalReference;
            m_pending->m_nGroup = m_nGroups;
        }
        if (m_pending) {
            if (intra) {
                Complete(time);
            } else {
                m_pending.reset();  // no I picture: nothing decodes from here
            }
        } else if (intra) {
            // An I picture without headers: its piece gets the latest sequence header and a
            // group header of its own, unless it is the second field of a frame.
            Begin(code.m_nSerial, false, code.m_offsets[0]);
            if (m_pending) {
                m_pending->m_nTemporalReference = temporalReference;
                m_pending->m_nGroup = m_nGroups;
                m_pending->m_bNeedsGroupHeader = true;
                m_bHeaderlessPending = true;
                m_headerlessTime = time;
            }
        }
    }
}

void CEntryScanner::OnPictureStructure(unsigned structure) {
    const bool field = structure == 1 || structure == 2;
    const bool second = field && m_bFirstFieldOpen;
    m_bFirstFieldOpen = field && !second;
    m_bStructureSeen = true;
    if (m_bHeaderlessPending) {
        m_bHeaderlessPending = false;
        if (second) {
            m_pending.reset();
        } else {
            Complete(m_headerlessTime);
        }
    }
}

template <typename ByteAt>
void CEntryScanner::OnH264Code(const CCode& code, const ByteAt& byteAt, int64_t base) {
    const unsigned char header = code.m_bytes[3];
    if ((header & 0x80) != 0) {
        return;  // not a NAL unit
    }
    const int type = header & 0x1F;
    const bool slice = type == 1 || type == 5;
    const bool startsUnit =
        type == 9 ||
        (m_bSliceInUnit && (type == 6 || type == 7 || type == 8 || (type >= 14 && type <= 18))) ||
        (m_bSliceInUnit && slice && (code.m_bytes[4] & 0x80) != 0);
    EndCapture(code, byteAt, base);
    if (startsUnit || !m_bUnitOpen) {
        // The unit before held only I slices.
        if (m_bIntraCandidate && m_pending) {
            Complete(m_unitTime);
        }
        m_bIntraCandidate = false;
        m_bUnitOpen = true;
        m_bSliceInUnit = false;
        m_bUnitHasSps = false;
        m_bUnitRecovers = false;
        m_nUnitSerial = code.m_nSerial;
        m_llUnitOffset = code.m_offsets[0];
        m_unitTime = UnitStart(code.m_nSerial);
    }
    if (type == 7) {
        m_bUnitHasSps = true;
        StartCapture(code, ECapture::Sequence);
    } else if (type == 8) {
        StartCapture(code, ECapture::PictureSet);
    } else if (type == 6 && !m_bSliceInUnit) {
        StartCapture(code, ECapture::Sei);
    } else if (slice) {
        OnH264Slice(code, type);
    }
}

void CEntryScanner::OnH264Slice(const CCode& code, int type) {
    const std::optional<uint32_t> sliceType = SliceType(code.m_bytes);
    const bool intra = IsIntraSlice(sliceType);
    if (!m_bSliceInUnit) {
        m_bSliceInUnit = true;
        m_bIntraCandidate = false;
        if (type == 5 || m_bUnitRecovers) {
            Begin(m_nUnitSerial, m_bUnitHasSps, m_llUnitOffset);
            if (m_pending) {
                Complete(m_unitTime);
            }
        } else if (m_bIntraUnits && intra) {
            // Settled when the unit ends, unless a later slice of it is not an I slice; types
            // 7 and 9 say every slice of the picture is one.
            Begin(m_nUnitSerial, m_bUnitHasSps, m_llUnitOffset);
            if (m_pending && *sliceType >= 7) {
                Complete(m_unitTime);
            } else {
                m_bIntraCandidate = m_pending.has_value();
            }
        }
    } else if (m_bIntraCandidate && !intra) {
        m_pending.reset();
        m_bIntraCandidate = false;
    }
}
