// The streams of a recording and its clock at both ends.
#include "mpeg/streamfacts.h"

#include <algorithm>
#include <cstdio>

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

// The format of the video that a payload opens: an MPEG sequence header with its size (and
// extension, MPEG-2), or an H.264 sequence parameter set.
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
        if ((p[i + 3] & 0x1F) == 7 && (p[i + 3] & 0x80) == 0) {
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
    const bool headRead =
        walker.Walk(0, std::min(size, kFactsHeadBytes), true, CUnitWalker::ENoise::Resync,
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
                        return true;
                    });
    if (!headRead) {
        return false;
    }
    std::optional<int64_t> before;
    return walker.Walk(std::max<int64_t>(0, size - kFactsTailBytes), size, true,
                       CUnitWalker::ENoise::Resync, [&](const CPsUnit& unit) {
                           if (unit.m_kind == EPsUnit::Pack) {
                               before = facts.m_llLastScr;
                               facts.m_llLastScr = unit.m_pack.m_llScr;
                               facts.m_llLastStep = before ? *facts.m_llLastScr - *before : 0;
                           }
                           return true;
                       });
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
