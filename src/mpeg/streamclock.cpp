// The stream's own clock: time stamps per elementary stream and the pack clock, gathered over
// a few places of the file and checked for the faults of joined or damaged recordings.
#include "mpeg/streamclock.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "mpeg/packscanner.h"
#include "mpeg/picturerate.h"
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
// Bytes between two places read that take this many times longer than at the slowest rate
// read elsewhere, or this many times shorter than at the fastest, may hide a jump: the places
// between are probed.
constexpr int64_t kRateFactor = 4;
// A rate is taken from places whose clock spans at least this much.
constexpr int64_t kRateSpan = kSecond;
// A step that breaks the clock counts as a jump once this many times in a row follow the new
// clock; a lone one is a wild value and dropped.
constexpr size_t kJumpConfirmations = 2;
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

// One elementary stream within one stretch of a place read. Times are relative to the first
// time stamp of the file, so the 33-bit wrap plays no part.
struct CTrack {
    bool m_bVideo = false;
    bool m_bStarted = false;
    int64_t m_llFirst = 0;  // in the order of the file: where players start
    int64_t m_llLast = 0;
    int64_t m_llMin = 0;
    int64_t m_llMax = 0;
    // Video: the shortest step between neighbouring time stamps, for a stream whose picture
    // rate is unknown.
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
    // one picture (`pictureTicks`, when the stream states its rate) or audio frame, or, for
    // audio without frames (PCM), plus its last packet.
    int64_t End(int64_t pictureTicks) const {
        if (m_bVideo) {
            return m_llMax + (pictureTicks > 0 ? pictureTicks : m_llMinStep);
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

// A stretch of one place read over which the clock runs on: a place is cut into several
// where its clock jumps.
struct CRegion {
    CRegion(int64_t begin, int64_t end) : m_llBegin(begin), m_llEnd(end) {}

    int64_t m_llBegin = 0;
    int64_t m_llEnd = 0;
    bool m_bFirstPack = false;  // the file's first pack alone
    bool m_bScrBroken = false;  // the pack clock ran backwards or jumped
    // Packs that carry packets: a pack with nothing in it (the header in front of a piece
    // cut from a stream) says nothing about the time of the bytes after it.
    int m_nClockPoints = 0;
    int64_t m_llFirstScr = 0;
    int64_t m_llLastScr = 0;
    int64_t m_llMaxScrStep = 0;
    uint32_t m_nMaxMuxRate = 0;
    size_t m_nStamps = 0;
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
    int64_t EndTime(const std::map<uint16_t, int64_t>& pictureTicks) const {
        int64_t most = std::numeric_limits<int64_t>::min();
        for (const auto& [key, track] : m_tracks) {
            const auto found = pictureTicks.find(key);
            most = std::max(most, track.End(found != pictureTicks.end() ? found->second : 0));
        }
        return most;
    }
    // Clock ticks per byte over the region, when its clock spans enough to tell.
    std::optional<double> TicksPerByte() const {
        const int64_t span = HasTimeStamps() ? MaxTime() - MinTime() : m_llLastScr - m_llFirstScr;
        if (span < kRateSpan || m_llEnd <= m_llBegin) {
            return std::nullopt;
        }
        return static_cast<double>(span) / static_cast<double>(m_llEnd - m_llBegin);
    }
};

// A time read from the stream: a pack clock or one stream's time stamp, relative to the
// file's first of its kind.
struct CClockEvent {
    bool m_bScr = false;
    int64_t m_llTime = 0;
    int64_t m_llPack = 0;  // where the pack that carries it starts
    CPsUnit m_unit;        // a packet's (time stamp)
    int64_t m_llPayload = 0;
};

class CClockReader {
public:
    explicit CClockReader(IFile& file) : m_walker(file) {}

    // Gathers the clock of the units that start in [begin, end) into `out`, one region for
    // each stretch between jumps. With `firstPack`, the file's first pack is a region of its
    // own. With `sync`, the walk starts at the first pack at or after begin.
    bool Read(int64_t begin, int64_t end, bool sync, bool firstPack, std::vector<CRegion>& out) {
        m_out = &out;
        m_pending.clear();
        out.emplace_back(begin, end);
        out.back().m_bFirstPack = firstPack;
        bool firstPackOpen = firstPack;
        bool pendingPack = false;
        int64_t pendingScr = 0;
        int64_t packOffset = begin;
        const bool read =
            m_walker.Walk(begin, end, sync, CUnitWalker::ENoise::Resync, [&](const CPsUnit& unit) {
                if (unit.m_kind == EPsUnit::Pack) {
                    if (firstPackOpen && unit.m_llOffset > begin) {
                        firstPackOpen = false;
                        Cut(unit.m_llOffset);
                    }
                    packOffset = unit.m_llOffset;
                    pendingPack = true;
                    if (!m_scrReference) {
                        m_scrReference = unit.m_pack.m_llScr;
                    }
                    pendingScr = ClockDifference(unit.m_pack.m_llScr, *m_scrReference);
                    CRegion& region = m_out->back();
                    region.m_nMaxMuxRate = std::max(region.m_nMaxMuxRate, unit.m_pack.m_nMuxRate);
                    return true;
                }
                if (unit.m_kind != EPsUnit::Packet || unit.m_nStreamId == kPaddingId) {
                    return true;
                }
                if (pendingPack) {
                    pendingPack = false;
                    Offer(CClockEvent{true, pendingScr, packOffset, {}, 0});
                }
                if (IsTimedStream(unit.m_nStreamId, unit.m_nSubStreamId)) {
                    OfferPacket(unit, packOffset);
                }
                return !m_bTooManyJumps;
            });
        // A break the walk's end left unconfirmed is not believed.
        for (const CClockEvent& event : m_pending) {
            if (event.m_bScr) {
                m_out->back().m_bScrBroken = true;
            }
        }
        m_pending.clear();
        return read;
    }

    // The clock values the times gathered are relative to; 0 before the first was read.
    int64_t PtsReference() const { return m_ptsReference.value_or(0); }
    int64_t ScrReference() const { return m_scrReference.value_or(0); }
    // The picture length of each video stream that states its rate.
    const std::map<uint16_t, int64_t>& PictureTicks() const { return m_pictureTicks; }
    // A place read held more jumps than any recording that can be measured.
    bool TooManyJumps() const { return m_bTooManyJumps; }

private:
    // Ends the current region where `offset` starts the next.
    void Cut(int64_t offset) {
        if (m_out->size() >= kMaxRegions) {
            // A clock that jumps this often is no clock: stop reading, keep memory bounded.
            m_bTooManyJumps = true;
            return;
        }
        const int64_t end = m_out->back().m_llEnd;
        m_out->back().m_llEnd = offset;
        m_out->emplace_back(offset, end);
    }

    void OfferPacket(const CPsUnit& unit, int64_t packOffset) {
        const std::span<const unsigned char> payload = m_walker.Payload(unit);
        const uint16_t key = StreamKey(unit);
        if (IsVideoStream(unit.m_nStreamId) && !m_pictureTicks.contains(key) &&
            !m_unknownRate.contains(key)) {
            if (const int64_t ticks = CPictureRate::FindPictureTicks(payload)) {
                m_pictureTicks[key] = ticks;
            } else if (++m_rateTries[key] > kRateTries) {
                m_unknownRate.insert(key);
            }
        }
        // Bytes beyond the end of the place read are not there to be shown.
        const CRegion& region = m_out->back();
        const int64_t bytes = std::clamp<int64_t>(
            std::min(unit.m_llPayloadLength, region.m_llEnd - unit.m_llPayloadOffset), 0,
            unit.m_llPayloadLength);
        if (!unit.m_pts) {
            if (m_pending.empty()) {
                AddUnstamped(m_out->back(), key, bytes);
            }
            return;
        }
        if (!m_ptsReference) {
            m_ptsReference = *unit.m_pts;
        }
        CClockEvent event{false, ClockDifference(*unit.m_pts, *m_ptsReference), packOffset, unit,
                          bytes};
        if (!IsVideoStream(unit.m_nStreamId) && !m_frameTicks.contains(key)) {
            m_frameTicks[key] = FindFrameTicks(unit, payload);
        }
        Offer(event);
    }

    // Whether the event goes on from what the region holds of its kind.
    static bool Continues(const CRegion& region, const CClockEvent& event) {
        if (event.m_bScr) {
            if (region.m_nClockPoints == 0) {
                return true;
            }
            const int64_t step = event.m_llTime - region.m_llLastScr;
            return step >= 0 && step <= kMaxStep;
        }
        const auto found = region.m_tracks.find(StreamKey(event.m_unit));
        if (found != region.m_tracks.end()) {
            const int64_t step = event.m_llTime - found->second.m_llLast;
            return step >= -kMaxReorder && step <= kMaxStep;
        }
        // A stream's first time stamp in the region: near the others'.
        return !region.HasTimeStamps() || (event.m_llTime >= region.MinTime() - kMaxStep &&
                                           event.m_llTime <= region.MaxTime() + kMaxStep);
    }

    // Takes a time into the region, or holds it while it is not known whether it is a wild
    // value or the first of a jump.
    void Offer(const CClockEvent& event) {
        CRegion& region = m_out->back();
        if (Continues(region, event)) {
            // What was held was wild.
            for (const CClockEvent& held : m_pending) {
                region.m_bScrBroken = region.m_bScrBroken || held.m_bScr;
            }
            m_pending.clear();
            Add(region, event);
            return;
        }
        if (!m_pending.empty() &&
            std::abs(event.m_llTime - m_pending.front().m_llTime) > kMaxStep + kMaxReorder) {
            // Wild values that do not agree with each other: the earlier ones go.
            region.m_bScrBroken = region.m_bScrBroken || m_pending.front().m_bScr;
            m_pending.clear();
        }
        m_pending.push_back(event);
        if (m_pending.size() < kJumpConfirmations) {
            return;
        }
        // A jump: a new region from the pack of its first time.
        Cut(m_pending.front().m_llPack);
        std::vector<CClockEvent> held;
        held.swap(m_pending);
        for (const CClockEvent& taken : held) {
            Add(m_out->back(), taken);
        }
    }

    void Add(CRegion& region, const CClockEvent& event) {
        if (event.m_bScr) {
            AddClockPoint(region, event.m_llTime);
        } else {
            AddStamp(region, event);
        }
    }

    static void AddClockPoint(CRegion& region, int64_t scr) {
        if (region.m_nClockPoints > 0) {
            region.m_llMaxScrStep = std::max(region.m_llMaxScrStep, scr - region.m_llLastScr);
        } else {
            region.m_llFirstScr = scr;
        }
        region.m_llLastScr = scr;
        ++region.m_nClockPoints;
    }

    static void AddUnstamped(CRegion& region, uint16_t key, int64_t bytes) {
        // A stream's tracks begin at its first time stamp in the region.
        if (const auto found = region.m_tracks.find(key); found != region.m_tracks.end()) {
            found->second.m_llBytesSinceStamp += bytes;
        }
    }

    void AddStamp(CRegion& region, const CClockEvent& event) {
        const CPsUnit& unit = event.m_unit;
        const uint16_t key = StreamKey(unit);
        CTrack& track = region.m_tracks[key];
        const int64_t time = event.m_llTime;
        ++region.m_nStamps;
        if (!track.m_bStarted) {
            track.m_bStarted = true;
            track.m_bVideo = IsVideoStream(unit.m_nStreamId);
            track.m_llFirst = track.m_llMin = track.m_llMax = time;
            if (const auto found = m_frameTicks.find(key); found != m_frameTicks.end()) {
                track.m_llFrameTicks = found->second;
            }
        } else {
            const int64_t step = time - track.m_llLast;
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
        track.m_llBytesSinceStamp = event.m_llPayload;
    }

    // The length of an audio frame that starts in the packet's payload, where its format
    // is known; 0 otherwise.
    static int64_t FindFrameTicks(const CPsUnit& unit, std::span<const unsigned char> bytes) {
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

    // Video packets searched for a sequence header before the rate counts as unknown.
    static constexpr int kRateTries = 64;
    // Regions of all the places read together, beyond which the spans could not be counted.
    static constexpr size_t kMaxRegions = 4 * CStreamClock::kMaxSpans;

    CUnitWalker m_walker;
    std::vector<CRegion>* m_out = nullptr;
    std::vector<CClockEvent> m_pending;
    std::optional<int64_t> m_scrReference;
    std::optional<int64_t> m_ptsReference;
    std::map<uint16_t, int64_t> m_pictureTicks;
    std::map<uint16_t, int> m_rateTries;
    std::set<uint16_t> m_unknownRate;
    std::map<uint16_t, int64_t> m_frameTicks;
    bool m_bTooManyJumps = false;
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

// How fast the clock runs against the bytes, at its slowest and fastest in the places read
// whose clock spans enough to tell; both 0 when none does.
struct CByteRate {
    double m_dLeastTicksPerByte = 0;
    double m_dMostTicksPerByte = 0;
};

enum class EGap { Continues, Jumps };

// How the clock goes from `previous` to `next`, read the bytes between them apart: on, or a
// jump. Far more or far less time than those bytes take at the rates read elsewhere hides
// a jump (a recording joined from copies of one can step forward by just its length).
EGap Across(const CRegion& previous, const CRegion& next, bool stamps, const CByteRate& rate) {
    const auto gap = static_cast<double>(std::max<int64_t>(0, next.m_llBegin - previous.m_llEnd));
    int64_t least = -kMaxReorder;
    int64_t most = std::numeric_limits<int64_t>::max() / 4;
    if (rate.m_dMostTicksPerByte > 0) {
        least += static_cast<int64_t>(gap * rate.m_dLeastTicksPerByte / kRateFactor);
        most = kMaxStep + static_cast<int64_t>(gap * rate.m_dMostTicksPerByte * kRateFactor);
    }
    int64_t step = 0;
    if (stamps) {
        step = next.MinTime() - previous.MaxTime();
        for (const auto& [key, track] : previous.m_tracks) {
            if (const auto found = next.m_tracks.find(key); found != next.m_tracks.end()) {
                step = found->second.m_llFirst - track.m_llLast;
                break;
            }
        }
    } else {
        least = std::max<int64_t>(least, 0);
        step = next.m_llFirstScr - previous.m_llLastScr;
    }
    return step < least || step > most ? EGap::Jumps : EGap::Continues;
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
    if (!reader.Read(0, headEnd, false, true, regions) || reader.TooManyJumps()) {
        return std::nullopt;
    }
    const int64_t tailBegin = std::max(headEnd, size - kEndWindowBytes);
    std::vector<std::pair<int64_t, int64_t>> places;
    if (tailBegin > headEnd) {
        const int64_t between = tailBegin - headEnd;
        if (between > kSampleBytes * (kSampleCount + 1)) {
            for (int k = 1; k <= kSampleCount; ++k) {
                const int64_t at = headEnd + between / (kSampleCount + 1) * k;
                places.emplace_back(at, at + kSampleBytes);
            }
        }
    }
    if (tailBegin < size) {
        places.emplace_back(tailBegin, size);
    }
    for (const auto& [begin, end] : places) {
        // Every place but the head starts at its first pack.
        if (!reader.Read(begin, end, true, false, regions) || reader.TooManyJumps()) {
            return std::nullopt;
        }
    }
    // A piece cut from a longer stream carries a copy of that stream's first pack in front:
    // a clock that jumps right after the first pack leaves that pack out.
    if (regions.size() > 1 && !ContinuesInto(regions[0], regions[1])) {
        regions[1].m_llBegin = 0;
        regions.erase(regions.begin());
    }

    // The clock that counts: the time stamps where there are any, else the pack clock. The
    // places that show none of it say nothing.
    // Time stamps that span nothing (a piece holding one picture) leave it to the pack clock.
    int64_t least = std::numeric_limits<int64_t>::max();
    int64_t most = std::numeric_limits<int64_t>::min();
    for (const CRegion& region : regions) {
        if (region.HasTimeStamps()) {
            least = std::min(least, region.MinTime());
            most = std::max(most, region.MaxTime());
        }
    }
    const bool stamps = most > least;
    const auto usable = [stamps](const CRegion& region) {
        return stamps ? region.HasTimeStamps() : region.m_nClockPoints > 0;
    };
    const auto dropUnusable = [&usable](std::vector<CRegion>& list, size_t from) {
        list.erase(std::remove_if(list.begin() + static_cast<ptrdiff_t>(from), list.end(),
                                  [&usable](const CRegion& region) { return !usable(region); }),
                   list.end());
    };
    if (!regions.empty() && !usable(regions.front())) {
        // The first span begins at the start of the file all the same.
        const size_t next = static_cast<size_t>(
            std::find_if(regions.begin(), regions.end(), usable) - regions.begin());
        if (next < regions.size()) {
            regions[next].m_llBegin = 0;
        }
    }
    dropUnusable(regions, 0);
    if (regions.empty()) {
        return std::nullopt;
    }

    CByteRate rate;
    for (const CRegion& region : regions) {
        if (const auto ticks = region.TicksPerByte()) {
            rate.m_dLeastTicksPerByte = rate.m_dMostTicksPerByte == 0
                                            ? *ticks
                                            : std::min(rate.m_dLeastTicksPerByte, *ticks);
            rate.m_dMostTicksPerByte = std::max(rate.m_dMostTicksPerByte, *ticks);
        }
    }

    // Where two places read do not go on from each other, the clock jumps between them:
    // probes halve the bytes between until the jump lies within one small read.
    std::vector<bool> jumpAfter(regions.size(), false);
    int probes = 0;
    int64_t probeBytes = 0;
    for (size_t i = 0; i + 1 < regions.size();) {
        CRegion& previous = regions[i];
        const CRegion& next = regions[i + 1];
        const bool adjacent = previous.m_llEnd >= next.m_llBegin;
        const EGap gap = Across(previous, next, stamps, rate);
        if (gap == EGap::Continues && !adjacent) {
            ++i;
            continue;
        }
        if (adjacent) {
            jumpAfter[i] = gap != EGap::Continues;
            ++i;
            continue;
        }
        const int64_t between = next.m_llBegin - previous.m_llEnd;
        const bool whole = between <= 2 * kSampleBytes;
        const int64_t begin = whole ? previous.m_llEnd : previous.m_llEnd + between / 2;
        const int64_t end = whole ? next.m_llBegin : std::min(next.m_llBegin, begin + kSampleBytes);
        if (probes >= kMaxJumpProbes || probeBytes + (end - begin) > kMaxJumpBytes) {
            // A jump that cannot be placed: no length can be told.
            return std::nullopt;
        }
        ++probes;
        probeBytes += end - begin;
        std::vector<CRegion> found;
        if (!reader.Read(begin, end, true, false, found) || reader.TooManyJumps() ||
            regions.size() + found.size() > kMaxSpans * 4) {
            return std::nullopt;
        }
        dropUnusable(found, 0);
        if (whole) {
            // Nothing read between: the two meet where the read began and ended.
            if (found.empty()) {
                previous.m_llEnd = next.m_llBegin;
                continue;
            }
            found.front().m_llBegin = previous.m_llEnd;
            found.back().m_llEnd = next.m_llBegin;
        } else if (found.empty()) {
            // A probe with no clock in it: the jump cannot be placed.
            return std::nullopt;
        }
        regions.insert(regions.begin() + static_cast<ptrdiff_t>(i) + 1, found.begin(), found.end());
        jumpAfter.insert(jumpAfter.begin() + static_cast<ptrdiff_t>(i) + 1, found.size(), false);
    }

    // The spans between the jumps, and what each plays.
    std::vector<CClockSpan> spans;
    int64_t total = 0;
    uint32_t muxRate = 0;
    bool scrAgrees = true;  // every span's pack clock could be read and trusted
    const std::map<uint16_t, int64_t>& pictureTicks = reader.PictureTicks();
    for (size_t first = 0; first < regions.size();) {
        size_t last = first;
        while (last + 1 < regions.size() && !jumpAfter[last]) {
            ++last;
        }
        // The pack clock counts only where it never runs backwards or jumps. Some muxers
        // write it loosely (out of order, with a mux rate far below the real one) and players
        // go by the time stamps; for those it is left out.
        bool scrTrusted = true;
        const CRegion* firstClock = nullptr;
        const CRegion* lastClock = nullptr;
        int clockPoints = 0;
        int64_t start = std::numeric_limits<int64_t>::max();
        int64_t end = std::numeric_limits<int64_t>::min();
        for (size_t k = first; k <= last; ++k) {
            const CRegion& region = regions[k];
            muxRate = std::max(muxRate, region.m_nMaxMuxRate);
            scrTrusted = scrTrusted && !region.m_bScrBroken;
            if (region.HasTimeStamps()) {
                start = std::min(start, region.StartTime());
                end = std::max(end, region.EndTime(pictureTicks));
            }
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
        // A single time between two jumps is a wild one that began a place read.
        const CRegion& only = regions[first];
        if (first == last && regions.size() > 1 &&
            (stamps ? only.m_nStamps : static_cast<size_t>(only.m_nClockPoints)) < 2) {
            first = last + 1;
            continue;
        }
        scrAgrees = scrAgrees && scrSpan > 0;
        CClockSpan span;
        span.m_llBegin = spans.empty() ? 0 : regions[first].m_llBegin;
        int64_t ticks = 0;
        if (stamps) {
            ticks = std::max<int64_t>(0, end - start);
            if (scrSpan > 0 && std::abs(ticks - scrSpan) > std::max(kSpanAgreement, ticks / 10)) {
                return std::nullopt;
            }
            span.m_llStartClock = (reader.PtsReference() + start) & (kClockWrap - 1);
        } else {
            ticks = scrSpan;
            if (firstClock != nullptr) {
                span.m_llStartClock =
                    (reader.ScrReference() + firstClock->m_llFirstScr) & (kClockWrap - 1);
            }
        }
        span.m_llDuration100ns = ToHundredNanoseconds(ticks);
        total += ticks;
        spans.push_back(span);
        first = last + 1;
    }
    if (total <= 0 || spans.size() > kMaxSpans) {
        return std::nullopt;
    }
    for (size_t k = 0; k < spans.size(); ++k) {
        spans[k].m_llEnd = k + 1 < spans.size() ? spans[k + 1].m_llBegin : size;
    }
    CClockLength length{stamps ? EClockSource::TimeStamps : EClockSource::PackClock,
                        ToHundredNanoseconds(total), spans.front().m_llStartClock,
                        std::move(spans)};
    if (scrAgrees && muxRate > 0) {
        const double fastest = static_cast<double>(size) / (muxRate * 50.0) * 10'000'000.0;
        if (static_cast<double>(length.m_llDuration100ns) < fastest * kMuxRateSlack) {
            return std::nullopt;
        }
    }
    return length;
}
