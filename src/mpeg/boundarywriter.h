// The bytes at a clean cut: the pack that holds the cut, split into the pack that ends the
// piece before and the pack that opens the piece after, and the audio packets around it
// trimmed to whole frames. Every other byte of the source stays as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mpeg/entryscanner.h"
#include "mpeg/rangecopier.h"
#include "platform/io/fileio.h"

// Source bytes [m_llOffset, m_llOffset + the size of m_bytes) that a piece carries as m_bytes:
// an audio packet with the part of a frame cut at the boundary taken out, of the same size.
struct CPacketRewrite {
    int64_t m_llOffset = 0;
    std::vector<unsigned char> m_bytes;
};

struct CBoundary {
    int64_t m_llPack = 0;  // the pack holding the cut: [m_llPack, m_llPackEnd)
    int64_t m_llPackEnd = 0;
    // Its elementary packets before the video packet holding the cut and that packet's bytes
    // up to the cut, behind the pack's header; empty when there are none.
    std::vector<unsigned char> m_head;
    // The pack's header, then its other units: the rest of the cut packet under a header of
    // its own, the packets after it.
    std::vector<unsigned char> m_tail;
    // Audio packets of the piece before (before m_llPack) and after (from m_llPackEnd).
    std::vector<CPacketRewrite> m_before;
    std::vector<CPacketRewrite> m_after;
};

class CBoundaryWriter {
public:
    CBoundaryWriter(IFile& file, int64_t size, ECleanVideo video, uint8_t videoId)
        : m_file(file), m_llSize(size), m_video(video), m_nVideoId(videoId) {}

    // The boundary at the video header whose first byte is at headerOffset, in the pack at
    // `pack`; `patch` (a broken_link flag) is set in the bytes it rewrites. Nothing when the
    // pack cannot be read whole or holds no video packet with that byte: the cut then stays
    // between whole packs. False when a seek or read failed (SeekFailed tells which).
    bool Build(int64_t pack, int64_t headerOffset, const std::optional<CBytePatch>& patch,
               std::optional<CBoundary>& boundary);
    bool SeekFailed() const { return m_bSeekFailed; }

private:
    IFile& m_file;
    int64_t m_llSize;
    ECleanVideo m_video;
    uint8_t m_nVideoId;
    bool m_bSeekFailed = false;
};

// A packet's header rebuilt around a payload of `payloadBytes`, with the PTS and DTS fields
// (as the source wrote them, 0, 5 or 10 bytes) given: MPEG-2 or MPEG-1 syntax.
std::vector<unsigned char> MakePesHeader(uint8_t streamId, bool mpeg2,
                                         std::span<const unsigned char> stamps,
                                         size_t payloadBytes);

// A padding packet of `total` bytes (at least 6).
std::vector<unsigned char> MakePadding(size_t total);

// The audio packet `b` (header up to headerEnd, frame bytes from dataAt) with only its frame
// bytes [keepFrom, keepTo) (counted from dataAt), of the same size: the bytes taken out become
// a padding packet after it, or stuffing in its header when they are too few for one. Nothing
// when the header has no room for them.
std::optional<std::vector<unsigned char>> TrimAudio(const std::vector<unsigned char>& b,
                                                    size_t headerEnd, size_t dataAt,
                                                    size_t keepFrom, size_t keepTo);
