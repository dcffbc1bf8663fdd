// The streams of a recording and its clock at both ends.
#include "mpeg/streamfacts.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "mpeg/packscanner.h"

#include "mpeg/streamids.h"
#include "mpeg/unitwalker.h"

namespace {

std::string StreamName(uint16_t key) {
    char text[32];
    if ((key >> 8) == kPrivateStream1Id) {
        std::snprintf(text, sizeof text, "0xBD/0x%02X", key & 0xFF);
    } else {
        std::snprintf(text, sizeof text, "0x%02X", key >> 8);
    }
    return text;
}

// H.264 profiles a sequence parameter set names; its NAL header byte alone is also an MPEG
// slice start code.
bool IsH264Profile(unsigned char profile) {
    switch (profile) {
        case 66:
        case 77:
        case 88:
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
            return true;
        default:
            return false;
    }
}

// The format of the video a payload holds the sequence header of: MPEG with its picture size
// (MPEG-2 when the sequence extension follows), or H.264 at a sequence parameter set. Empty
// when it holds none.
std::string VideoFormat(std::span<const unsigned char> p) {
    for (size_t i = 0; i + 7 < p.size(); ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) {
            continue;
        }
        if (p[i + 3] == 0xB3) {
            const unsigned width = unsigned{p[i + 4]} << 4 | p[i + 5] >> 4;
            const unsigned height = (unsigned{p[i + 5]} & 0x0F) << 8 | p[i + 6];
            bool mpeg2 = false;
            for (size_t j = i + 12; j + 4 < p.size() && j < i + 300; ++j) {
                if (p[j] == 0 && p[j + 1] == 0 && p[j + 2] == 1 && p[j + 3] == 0xB5 &&
                    (p[j + 4] >> 4) == 1) {
                    mpeg2 = true;
                    break;
                }
            }
            return std::string(mpeg2 ? "MPEG-2" : "MPEG-1") + " video " + std::to_string(width) +
                   "x" + std::to_string(height);
        }
        if ((p[i + 3] & 0x9F) == 0x07 && (p[i + 3] & 0x60) != 0 && IsH264Profile(p[i + 4])) {
            return "H.264 video";
        }
    }
    return {};
}

}  // namespace

bool ReadStreamFacts(IFile& file, int64_t size, CStreamFacts& facts) {
    facts = {};
    CUnitWalker walker(file, CPackScanner::kMaxWindowBytes, size);
    bool videoSeen = false;
    // Per timed stream: how many of its first units were looked at for the first time shown.
    std::map<uint16_t, int> headStamps;
    const bool headRead = walker.Walk(
        0, std::min(size, kFactsHeadBytes), true, CUnitWalker::ENoise::Resync,
        [&](const CPsUnit& unit) {
            if (unit.m_kind == EPsUnit::Pack && !facts.m_llFirstScr) {
                facts.m_llFirstScr = unit.m_pack.m_llScr;
            }
            if (unit.m_kind != EPsUnit::Packet ||
                !IsTimedStream(unit.m_nStreamId, unit.m_nSubStreamId)) {
                return true;
            }
            facts.m_streams.insert(StreamKey(unit));
            if (IsVideoStream(unit.m_nStreamId) && !videoSeen) {
                facts.m_strVideo = VideoFormat(walker.Payload(unit));
                videoSeen = !facts.m_strVideo.empty();
            }
            // The first unit shown is among the first few each stream sends.
            if (unit.m_pts && headStamps[StreamKey(unit)]++ < 16 &&
                (!facts.m_llFirstTime || ClockDifference(*unit.m_pts, *facts.m_llFirstTime) < 0)) {
                facts.m_llFirstTime = unit.m_pts;
            }
            return true;
        });
    if (!headRead) {
        return false;
    }
    std::optional<int64_t> before;
    std::map<uint16_t, std::vector<int64_t>> stamps;
    const bool tailRead =
        walker.Walk(std::max<int64_t>(0, size - kFactsTailBytes), size, true,
                    CUnitWalker::ENoise::Resync, [&](const CPsUnit& unit) {
                        if (unit.m_kind == EPsUnit::Pack) {
                            before = facts.m_llLastScr;
                            facts.m_llLastScr = unit.m_pack.m_llScr;
                            facts.m_llLastStep = before ? *facts.m_llLastScr - *before : 0;
                        }
                        if (unit.m_kind == EPsUnit::Packet &&
                            IsTimedStream(unit.m_nStreamId, unit.m_nSubStreamId) && unit.m_pts) {
                            stamps[StreamKey(unit)].push_back(*unit.m_pts);
                        }
                        return true;
                    });
    // Each stream ends a step after its last unit shown, the step the shortest between two of
    // them; the recording ends when its last stream does.
    for (const auto& [key, times] : stamps) {
        const int64_t base = times.front();
        std::vector<int64_t> relative;
        for (const int64_t time : times) {
            relative.push_back(ClockDifference(time, base));
        }
        std::sort(relative.begin(), relative.end());
        int64_t step = 0;
        for (size_t i = 1; i < relative.size(); ++i) {
            const int64_t gap = relative[i] - relative[i - 1];
            if (gap > 0 && (step == 0 || gap < step)) {
                step = gap;
            }
        }
        const int64_t end = (base + relative.back() + step) % kClockWrap;
        if (!facts.m_llEndTime || ClockDifference(end, *facts.m_llEndTime) > 0) {
            facts.m_llEndTime = end;
        }
    }
    return tailRead;
}

std::optional<std::string> StreamDifference(const CStreamFacts& first, const CStreamFacts& other) {
    for (const uint16_t key : other.m_streams) {
        if (first.m_streams.count(key) == 0) {
            return "it holds stream " + StreamName(key) + ", which the first file does not";
        }
    }
    for (const uint16_t key : first.m_streams) {
        if (other.m_streams.count(key) == 0) {
            return "it lacks stream " + StreamName(key) + " of the first file";
        }
    }
    if (first.m_strVideo != other.m_strVideo && !first.m_strVideo.empty() &&
        !other.m_strVideo.empty()) {
        return "its video is " + other.m_strVideo + ", the first file's " + first.m_strVideo;
    }
    return std::nullopt;
}
