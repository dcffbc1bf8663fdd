// Audio frame headers, read so that a piece can start and end on whole frames: MPEG audio
// (layers I to III, MPEG-1, MPEG-2 and 2.5) and AC-3. Nothing is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

enum class EAudioFrames { Mpeg, Ac3 };

// One frame header: the frame's length in bytes, and what the next frame's header must repeat
// to confirm it (version, layer and sampling rate; AC-3: the sampling rate).
struct CAudioFrame {
    int64_t m_llLength = 0;
    uint32_t m_nKind = 0;
    // How long it plays: m_nSamples at m_nRate samples a second.
    int32_t m_nSamples = 0;
    int32_t m_nRate = 0;
};

// The header at the start of bytes, when it is one.
std::optional<CAudioFrame> ParseAudioFrame(EAudioFrames format,
                                           std::span<const unsigned char> bytes);

// The first frame at or after `from` whose header the next frame's header confirms; a frame
// with no bytes after it for the next header stays unconfirmed.
std::optional<int64_t> FindConfirmedFrame(EAudioFrames format, std::span<const unsigned char> bytes,
                                          int64_t from);
