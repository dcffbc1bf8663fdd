// What a recording holds, as far as a join must agree on it: its timed elementary streams,
// its video's format and picture size, and its pack clock at both ends. Read from the head and
// the tail of the file only.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "platform/io/fileio.h"

struct CStreamFacts {
    std::set<uint16_t> m_streams;  // StreamKey of each, subpictures left out (they come late)
    std::string m_strVideo;        // "MPEG-2 video 720x576", "H.264 video", or empty
    // The pack clock: the first pack's SCR, the last pack's, and that pack's own length in
    // clock units (the step from the pack before it); nothing without packs.
    std::optional<int64_t> m_llFirstScr;
    std::optional<int64_t> m_llLastScr;
    int64_t m_llLastStep = 0;
    // The time the first unit of any timed stream is shown, and the time after the last one
    // (its time stamp plus the shortest step between two of its stream).
    std::optional<int64_t> m_llFirstTime;
    std::optional<int64_t> m_llEndTime;
};

// How far into the file the streams are looked for, and how much of its tail is read for the
// last pack.
inline constexpr int64_t kFactsHeadBytes = int64_t{1} << 20;
inline constexpr int64_t kFactsTailBytes = int64_t{1} << 20;

// False when a seek or read failed.
bool ReadStreamFacts(IFile& file, int64_t size, CStreamFacts& facts);

// How `other` differs from `first` in what a join must agree on, in words; nothing when alike.
std::optional<std::string> StreamDifference(const CStreamFacts& first, const CStreamFacts& other);
