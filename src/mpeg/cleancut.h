// Clean cuts: the places where a piece of a program stream can start and play as itself, the
// way requested times and byte positions reach those places, and the prefix in front of such a
// piece. Nothing is decoded; the planner reads bounded windows of the source, never all of it.
//
// Where a piece can start:
// - MPEG-1/MPEG-2 video: at the pack holding a sequence header, or a group-of-pictures header,
//   that is followed by an I picture; a navigation pack right before that pack (DVD: system
//   header and private stream 2, no media) goes with it.
// - H.264 video: at the pack where an access unit with an IDR picture begins.
// - Video of any other kind, or none: at any pack.
// A piece that starts at a group-of-pictures header or an IDR picture without a sequence header
// (SPS and PPS) of its own gets the latest one in front of it, in its prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "mpeg/boundarywriter.h"
#include "mpeg/entryscanner.h"
#include "mpeg/packscanner.h"
#include "mpeg/rangecopier.h"
#include "mpeg/reporter.h"
#include "platform/io/fileio.h"

// Where a piece starts, and what it needs to play from there.
struct CCleanCut {
    // 0 (the start of the file, nothing in front) or the start of a pack.
    int64_t m_llOffset = 0;
    // The pack header at m_llOffset.
    CPackHeader m_pack;
    // The presentation time of the piece's first picture (or packet), a 33-bit 90 kHz clock
    // value, when the stream tells it.
    std::optional<int64_t> m_llTime;
    // Elementary-stream bytes the decoder needs before the first picture: the latest sequence
    // header with its extensions (H.264: SPS and PPS), when the piece starts without its own.
    std::vector<unsigned char> m_parameters;
    // The group-of-pictures header byte that gets its broken_link flag: the piece's first group
    // is open, so its leading B pictures refer to a picture of the previous piece.
    std::optional<CBytePatch> m_brokenLink;
    // The first byte of the video header the piece starts with, and how the source is
    // rewritten there: nothing when the cut stays between whole packs.
    int64_t m_llHeaderOffset = 0;
    std::optional<CBoundary> m_boundary;
};

class CCleanCutPlanner {
public:
    // `file` is the open source of `size` bytes; the planner moves its position freely.
    CCleanCutPlanner(IFile& file, int64_t size, IReporter& reporter)
        : m_file(file), m_llSize(size), m_reporter(reporter) {}

    // Reads the head of the source: the first pack's header with the system headers and
    // stream maps right after it, the video stream and how to read it, its first sequence
    // header. False when a read failed: "my_lseeki64 is wrong(7)." or "Can not read the mpeg
    // file head!" (caption "Error") has been reported, as the boundary search reports them.
    bool Prepare();

    // The last place a piece can start whose first picture is shown at or before `seconds`
    // from the start of the stream (or up to 0.05 s after it: audio and video start a few
    // milliseconds apart), through the stream's own clock (a binary search over its time
    // stamps or pack clock); for a stream without a usable clock, the last place at or before
    // fallbackOffset. The stream's first place is the start of the file.
    // Failures are reported as by Prepare.
    bool AtTime(int64_t seconds, int64_t fallbackOffset, CCleanCut& cut);

    // The last place a piece can start whose header lies at or before `position`.
    bool AtOffset(int64_t position, CCleanCut& cut);

    // The layout of the piece from `from` to `end` (a later place `to`, or the file's size):
    // from offset 0 the source as it is; else the prefix (the first pack's header, its system
    // headers and stream maps, a padding packet that puts the piece's body at an offset
    // congruent to its source offset modulo 4096, with the pack clock set just before the
    // first copied pack's, and the parameters the piece needs in a packet of their own), then
    // [from, end) with the broken_link flag set where the cut asks for it. Where a boundary
    // rewrites the source, the piece opens with the rest of the pack holding its cut and ends
    // with the head of the pack holding the next, and audio packets at both keep whole frames.
    CExactCopy Layout(const CCleanCut& from, int64_t end, const CCleanCut* to = nullptr) const;

    // What the stream carries, as Prepare read it from the head of the file.
    ECleanVideo Video() const { return m_video; }

private:
    using CEntry = CEntryScanner::CEntry;

    bool Find(int64_t end, const std::function<bool(const CEntry&)>& accept, CCleanCut& cut);
    bool ScanWindow(int64_t begin, int64_t end, const std::function<bool(const CEntry&)>& accept,
                    std::optional<CEntry>& best, bool& bestIsFirst);
    struct CProbe {
        int64_t m_llTime = 0;
        int64_t m_llOffset = 0;
    };
    bool ProbeTime(int64_t offset, std::optional<CProbe>& probe);
    bool ReportRead(bool seekFailed);

    IFile& m_file;
    int64_t m_llSize;
    IReporter& m_reporter;

    // What Prepare found.
    ECleanVideo m_video = ECleanVideo::None;
    uint8_t m_nVideoId = 0;
    std::optional<uint16_t> m_reference;  // the stream (id << 8 | sub-stream) that times packs
    std::vector<unsigned char> m_prefix;  // the first pack's header, system headers, stream maps
    std::optional<CPackHeader> m_prefixPack;
    std::vector<unsigned char> m_firstParameters;

    // The stream's clock, measured on the first AtTime.
    bool m_bClockMeasured = false;
    bool m_bPackClock = false;
    std::optional<int64_t> m_llStartClock;
};
