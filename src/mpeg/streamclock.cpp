// The stream's own clock: time stamps per elementary stream and the pack clock, gathered over
// a few places of the file and checked for the faults of joined or damaged recordings.
#include "mpeg/streamclock.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <span>
#include <vector>

#include "mpeg/packscanner.h"
#include "mpeg/streamids.h"
#include "mpeg/unitwalker.h"

namespace {

constexpr int64_t kSecond = kClockUnitsPerSecond;
// Packs follow each other within 0.7 s and so do a stream's time stamps; more than this
// between neighbours read together is a jump in the clock.
constexpr int64_t kMaxStep = 5 * kSecond;
// Time stamps of one stream may step back this much (pictures sent before the ones shown
// earlier), and streams may lead each other by it.
constexpr int64_t kMaxReorder = 1 * kSecond;
// The time stamps and the pack clock span the same recording; they differ by the decoder's
// buffering at either end, a second or two.
constexpr int64_t kSpanAgreement = 3 * kSecond;
// A piece cut from a stream starts with a copy of that stream's first pack: its clock steps
// from that pack to the piece's own packs by far more than between any two packs after.
constexpr int64_t kLeadJumpFloor = kSecond / 10;
constexpr int64_t kLeadJumpFactor = 4;
// No stream delivers its bytes faster than its mux rate; half of that bound leaves room for
// muxers that state the rate loosely.
constexpr double kMuxRateSlack = 0.5;

// Clock ticks of one MPEG audio frame whose header starts at bytes, checked against the next
// frame's header when that lies within the bytes; 0 when there is no valid header.
int64_t MpegAudioFrameTicks(const unsigned char* bytes, size_t available) {
    if (available < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) {
        return 0;
    }
    const int version = (bytes[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = 4 - ((bytes[1] >> 1) & 3);
    const int bitrateIndex = bytes[2] >> 4;
    const int rateIndex = (bytes[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    static constexpr int kKbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2, I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // 2, II/III
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const int64_t bitrate = int64_t{kKbps[table][bitrateIndex]} * 1000;
    const int padding = (bytes[2] >> 1) & 1;
    int64_t samples = 1152;
    int64_t frameBytes = 0;
    if (layer == 1) {
        samples = 384;
        frameBytes = (12 * bitrate / rate + padding) * 4;
    } else if (layer == 3 && !mpeg1) {
        samples = 576;
        frameBytes = 72 * bitrate / rate + padding;
    } else {
        frameBytes = 144 * bitrate / rate + padding;
    }
    if (frameBytes < 4) {
        return 0;
    }
    if (static_cast<size_t>(frameBytes) + 2 <= available &&
        (bytes[frameBytes] != 0xFF || (bytes[frameBytes + 1] & 0xFE) != (bytes[1] & 0xFE))) {
        return 0;
    }
    return samples * kClockUnitsPerSecond / rate;
}

// Clock ticks of one AC-3 frame (1,536 samples) found in a DVD audio payload, after its
// four bytes of sub-stream number, frame count and first access unit pointer.
int64_t Ac3FrameTicks(const unsigned char* bytes, size_t available) {
    for (size_t i = 4; i + 5 <= available; ++i) {
        if (bytes[i] == 0x0B && bytes[i + 1] == 0x77) {
            static constexpr int kRates[3] = {48000, 44100, 32000};
            const int code = bytes[i + 4] >> 6;
            return code == 3 ? 0 : 1536 * kClockUnitsPerSecond / kRates[code];
        }
    }
    return 0;
}

// One elementary stream within one place read. Times are relative to the first time stamp
// of the file, so the 33-bit wrap plays no part.
struct CTrack {
    bool m_bVideo = false;
    bool m_bStarted = false;
    int64_t m_llFirst = 0;  // in the order of the file: where players start
    int64_t m_llLast = 0;
    int64_t m_llMin = 0;
    int64_t m_llMax = 0;
    // Video: the shortest step between neighbouring time stamps, one picture.
    int64_t m_llMinStep = 0;
    // The largest step either way between neighbouring time stamps.
    int64_t m_llMaxStep = 0;
    // Audio whose frames could be read: the length of one.
    int64_t m_llFrameTicks = 0;
    // Audio: clock ticks and payload bytes between time stamps, for the length of the last
    // packet; the payload bytes since the last time stamp.
    int64_t m_llStampedTicks = 0;
    int64_t m_llStampedBytes = 0;
    int64_t m_llBytesSinceStamp = 0;

    // Where the stream's presentation ends, as players reckon it: its last time stamp plus
    // one picture or audio frame, or, for audio without frames (PCM), plus its last packet.
    int64_t End() const {
        if (m_bVideo) {
            return m_llMax + m_llMinStep;
        }
        if (m_llFrameTicks > 0) {
            return m_llMax + m_llFrameTicks;
        }
        int64_t tail = 0;
        if (m_llStampedBytes > 0) {
            tail = static_cast<int64_t>(static_cast<double>(m_llBytesSinceStamp) *
                                        static_cast<double>(m_llStampedTicks) /
                                        static_cast<double>(m_llStampedBytes));
        }
        return std::max(m_llMax, m_llLast + tail);
    }
};

// What one place of the file showed.
struct CRegion {
    CRegion(int64_t begin, int64_t end) : m_llBegin(begin), m_llEnd(end) {}

    int64_t m_llBegin = 0;
    int64_t m_llEnd = 0;
    bool m_bBroken = false;     // a stream's time stamps ran backwards or jumped
    bool m_bScrBroken = false;  // the pack clock did
    // Packs that carry packets: a pack with nothing in it (the header in front of a piece
    // cut from a stream) says nothing about the time of the bytes after it.
    int m_nClockPoints = 0;
    int64_t m_llFirstScr = 0;
    int64_t m_llLastScr = 0;
    int64_t m_llMaxScrStep = 0;
    uint32_t m_nMaxMuxRate = 0;
    std::map<uint16_t, CTrack> m_tracks;

    bool HasTimeStamps() const { return !m_tracks.empty(); }
    int64_t MinTime() const {
        int64_t least = std::numeric_limits<int64_t>::max();
        for (const auto& [key, track] : m_tracks) {
            least = std::min(least, track.m_llMin);
        }
        return least;
    }
    int64_t StartTime() const {
        int64_t least = std::numeric_limits<int64_t>::max();
        for (const auto& [key, track] : m_tracks) {
            least = std::min(least, track.m_llFirst);
        }
        return least;
    }
    int64_t MaxTime() const {
        int64_t most = std::numeric_limits<int64_t>::min();
        for (const auto& [key, track] : m_tracks) {
            most = std::max(most, track.m_llMax);
        }
        return most;
    }
    int64_t EndTime() const {
        int64_t most = std::numeric_limits<int64_t>::min();
        for (const auto& [key, track] : m_tracks) {
            most = std::max(most, track.End());
        }
        return most;
    }
};

class CClockReader {
public:
    explicit CClockReader(IFile& file) : m_walker(file) {}

    // Gathers the clock of the units in [region.m_llBegin, region.m_llEnd). With `rest`, the
    // region ends where its second pack starts and `rest` takes the units from there to the
    // same end: the first pack of the file apart from the others, in one pass.
    bool Read(CRegion& first, bool syncFirst, CRegion* rest = nullptr) {
        CRegion* target = &first;
        const int64_t end = first.m_llEnd;
        bool pendingPack = false;
        int64_t pendingScr = 0;
        return m_walker.Walk(
            first.m_llBegin, end, syncFirst, CUnitWalker::ENoise::Resync, [&](const CPsUnit& unit) {
                CRegion& region = *target;
                if (unit.m_kind == EPsUnit::Pack) {
                    if (rest != nullptr && target == &first && unit.m_llOffset > first.m_llBegin) {
                        first.m_llEnd = rest->m_llBegin = unit.m_llOffset;
                        rest->m_llEnd = end;
                        target = rest;
                    }
                    CRegion& packRegion = *target;
                    pendingPack = true;
                    if (!m_scrReference) {
                        m_scrReference = unit.m_pack.m_llScr;
                    }
                    pendingScr = ClockDifference(unit.m_pack.m_llScr, *m_scrReference);
                    packRegion.m_nMaxMuxRate =
                        std::max(packRegion.m_nMaxMuxRate, unit.m_pack.m_nMuxRate);
                    return true;
                }
                if (unit.m_kind != EPsUnit::Packet || unit.m_nStreamId == kPaddingId) {
                    return true;
                }
                if (pendingPack) {
                    pendingPack = false;
                    AddClockPoint(region, pendingScr);
                }
                if (IsTimedStream(unit.m_nStreamId, unit.m_nSubStreamId)) {
                    AddPacket(region, unit);
                }
                return true;
            });
    }

    // The clock values the times gathered are relative to; 0 before the first was read.
    int64_t PtsReference() const { return m_ptsReference.value_or(0); }
    int64_t ScrReference() const { return m_scrReference.value_or(0); }

private:
    static void AddClockPoint(CRegion& region, int64_t scr) {
        if (region.m_nClockPoints > 0) {
            const int64_t step = scr - region.m_llLastScr;
            if (step < 0 || step > kMaxStep) {
                region.m_bScrBroken = true;
            }
            region.m_llMaxScrStep = std::max(region.m_llMaxScrStep, step);
        } else {
            region.m_llFirstScr = scr;
        }
        region.m_llLastScr = scr;
        ++region.m_nClockPoints;
    }

    void AddPacket(CRegion& region, const CPsUnit& unit) {
        const uint16_t key = StreamKey(unit);
        // Bytes beyond the end of the file are not there to be shown.
        const int64_t payload = std::clamp<int64_t>(
            std::min(unit.m_llPayloadLength, region.m_llEnd - unit.m_llPayloadOffset), 0,
            unit.m_llPayloadLength);
        if (!unit.m_pts) {
            // A stream's tracks begin at its first time stamp in the region.
            if (const auto found = region.m_tracks.find(key); found != region.m_tracks.end()) {
                found->second.m_llBytesSinceStamp += payload;
            }
            return;
        }
        CTrack& track = region.m_tracks[key];
        if (!m_ptsReference) {
            m_ptsReference = *unit.m_pts;
        }
        if (track.m_llFrameTicks == 0 && !IsVideoStream(unit.m_nStreamId)) {
            track.m_llFrameTicks = FindFrameTicks(unit);
        }
        const int64_t time = ClockDifference(*unit.m_pts, *m_ptsReference);
        if (!track.m_bStarted) {
            track.m_bStarted = true;
            track.m_bVideo = IsVideoStream(unit.m_nStreamId);
            track.m_llFirst = track.m_llMin = track.m_llMax = time;
        } else {
            const int64_t step = time - track.m_llLast;
            if (step < -kMaxReorder || step > kMaxStep) {
                region.m_bBroken = true;
            }
            track.m_llMaxStep = std::max(track.m_llMaxStep, std::abs(step));
            if (track.m_bVideo && step != 0) {
                const int64_t size = std::abs(step);
                track.m_llMinStep =
                    track.m_llMinStep == 0 ? size : std::min(track.m_llMinStep, size);
            } else if (!track.m_bVideo && step > 0) {
                track.m_llStampedTicks += step;
                track.m_llStampedBytes += track.m_llBytesSinceStamp;
            }
            track.m_llMin = std::min(track.m_llMin, time);
            track.m_llMax = std::max(track.m_llMax, time);
        }
        track.m_llLast = time;
        track.m_llBytesSinceStamp = payload;
    }

    // The length of an audio frame that starts in the packet's payload, where its format
    // is known; 0 otherwise.
    int64_t FindFrameTicks(const CPsUnit& unit) const {
        const std::span<const unsigned char> bytes = m_walker.Payload(unit);
        const unsigned char* payload = bytes.data();
        const size_t available = bytes.size();
        if (IsMpegAudioStream(unit.m_nStreamId)) {
            for (size_t i = 0; i + 4 <= available; ++i) {
                if (const int64_t ticks = MpegAudioFrameTicks(payload + i, available - i)) {
                    return ticks;
                }
            }
            return 0;
        }
        if (IsAc3SubStream(unit.m_nSubStreamId)) {
            return Ac3FrameTicks(payload, available);
        }
        return 0;
    }

    CUnitWalker m_walker;
    std::optional<int64_t> m_scrReference;
    std::optional<int64_t> m_ptsReference;
};

// Whether the clock of `next`, read right after `previous`, goes on from it: no step back,
// and no step forward far beyond the steps inside `next`. The time stamps decide where there
// are any: muxers often give the first pack a clock of its own (ffmpeg writes 0 there).
bool ContinuesInto(const CRegion& previous, const CRegion& next) {
    const auto jumps = [](int64_t step, int64_t usual) {
        return step < -kMaxReorder || step > std::max(kLeadJumpFloor, kLeadJumpFactor * usual);
    };
    if (previous.HasTimeStamps() && next.HasTimeStamps()) {
        for (const auto& [key, track] : previous.m_tracks) {
            const auto found = next.m_tracks.find(key);
            if (found != next.m_tracks.end() && found->second.m_llMaxStep > 0 &&
                jumps(found->second.m_llFirst - track.m_llLast, found->second.m_llMaxStep)) {
                return false;
            }
        }
        const int64_t step = next.MinTime() - previous.MaxTime();
        return step >= -kMaxReorder && step <= kMaxStep;
    }
    if (previous.m_nClockPoints > 0 && next.m_nClockPoints > 1 && !next.m_bScrBroken) {
        const int64_t step = next.m_llFirstScr - previous.m_llLastScr;
        return step >= 0 && !jumps(step, next.m_llMaxScrStep);
    }
    return true;
}

int64_t ToHundredNanoseconds(int64_t ticks) {
    return ticks * 1000 / 9;
}

}  // namespace

std::optional<CClockLength> CStreamClock::Measure(IFile& file, int64_t size) {
    if (size <= 0) {
        return std::nullopt;
    }
    // The places read, in file order: the first pack, the rest of the head, samples between,
    // the tail; the tail follows the head directly when the file is small.
    std::vector<CRegion> regions;
    const int64_t headEnd = std::min(size, kEndWindowBytes);
    CClockReader reader(file);
    regions.emplace_back(0, headEnd);
    regions.emplace_back(headEnd, headEnd);
    if (!reader.Read(regions[0], false, &regions[1]) || regions[0].m_bBroken ||
        regions[1].m_bBroken) {
        return std::nullopt;
    }
    const int64_t tailBegin = std::max(headEnd, size - kEndWindowBytes);
    if (tailBegin > headEnd) {
        const int64_t between = tailBegin - headEnd;
        if (between > kSampleBytes * (kSampleCount + 1)) {
            for (int k = 1; k <= kSampleCount; ++k) {
                const int64_t at = headEnd + between / (kSampleCount + 1) * k;
                regions.emplace_back(at, at + kSampleBytes);
            }
        }
    }
    if (tailBegin < size) {
        regions.emplace_back(tailBegin, size);
    }

    for (size_t i = 2; i < regions.size(); ++i) {
        // Every place but the head starts at its first pack.
        if (!reader.Read(regions[i], true) || regions[i].m_bBroken) {
            return std::nullopt;
        }
    }
    // A piece cut from a longer stream carries a copy of that stream's first pack in front:
    // a clock that jumps right after the first pack leaves that pack out.
    if (regions.size() > 1 && !ContinuesInto(regions[0], regions[1])) {
        regions.erase(regions.begin());
    }

    // The time stamps, across the places read: no stream starts a place much earlier than
    // the previous place ended.
    const CRegion* firstStamped = nullptr;
    const CRegion* lastStamped = nullptr;
    for (const CRegion& region : regions) {
        if (!region.HasTimeStamps()) {
            continue;
        }
        if (lastStamped != nullptr && region.MinTime() < lastStamped->MaxTime() - kMaxReorder) {
            return std::nullopt;
        }
        firstStamped = firstStamped == nullptr ? &region : firstStamped;
        lastStamped = &region;
    }

    // The pack clock counts only where it never runs backwards or jumps. Some muxers write it
    // loosely (out of order, with a mux rate far below the real one) and players go by the
    // time stamps; for those it is left out.
    bool scrTrusted = true;
    int clockPoints = 0;
    const CRegion* firstClock = nullptr;
    const CRegion* lastClock = nullptr;
    uint32_t muxRate = 0;
    for (const CRegion& region : regions) {
        muxRate = std::max(muxRate, region.m_nMaxMuxRate);
        scrTrusted = scrTrusted && !region.m_bScrBroken;
        if (region.m_nClockPoints == 0) {
            continue;
        }
        if (lastClock != nullptr && region.m_llFirstScr < lastClock->m_llLastScr) {
            scrTrusted = false;
        }
        firstClock = firstClock == nullptr ? &region : firstClock;
        lastClock = &region;
        clockPoints += region.m_nClockPoints;
    }
    const int64_t scrSpan =
        scrTrusted && clockPoints >= 2 ? lastClock->m_llLastScr - firstClock->m_llFirstScr : 0;

    // Players start at the earliest first time stamp of any stream; a stream's first may
    // come after the first pack.
    int64_t start = std::numeric_limits<int64_t>::max();
    for (const CRegion& region : regions) {
        if (region.m_llBegin < headEnd && region.HasTimeStamps()) {
            start = std::min(start, region.StartTime());
        }
    }

    std::optional<CClockLength> length;
    if (firstStamped != nullptr && lastStamped->MaxTime() > start) {
        const int64_t span = lastStamped->EndTime() - start;
        if (scrSpan > 0 && std::abs(span - scrSpan) > std::max(kSpanAgreement, span / 10)) {
            return std::nullopt;
        }
        length = CClockLength{EClockSource::TimeStamps, ToHundredNanoseconds(span),
                              (reader.PtsReference() + start) & (kClockWrap - 1)};
    } else if (scrSpan > 0) {
        // No time stamps, or ones that span nothing (a piece holding one picture): the time
        // the stream takes to arrive.
        length =
            CClockLength{EClockSource::PackClock, ToHundredNanoseconds(scrSpan),
                         (reader.ScrReference() + firstClock->m_llFirstScr) & (kClockWrap - 1)};
    } else {
        return std::nullopt;
    }
    if (scrSpan > 0 && muxRate > 0) {
        const double fastest = static_cast<double>(size) / (muxRate * 50.0) * 10'000'000.0;
        if (static_cast<double>(length->m_llDuration100ns) < fastest * kMuxRateSlack) {
            return std::nullopt;
        }
    }
    return length;
}
