// Clean cuts: the places where a piece of a program stream can start and play as itself, the
// way requested times and byte positions reach those places, and the prefix in front of such a
// piece. Nothing is decoded; the planner reads bounded windows of the source, never all of it.
//
// Where a piece can start:
// - MPEG-1/MPEG-2 video: at the pack holding a sequence header, or a group-of-pictures header,
//   that is followed by an I picture; a navigation pack right before that pack (DVD: system
//   header and private stream 2, no media) goes with it.
// - MPEG-1/MPEG-2 video also at an I picture without such headers; its piece gets a group
//   header with broken_link set in its prefix.
// - H.264 video: at the pack where an access unit with an IDR picture begins, or one that an
//   SEI marks as a recovery point; in a stream whose head holds neither, at access units of
//   I slices only.
// - Video of any other kind, or none: at any pack.
// A piece that starts at a group-of-pictures header or an IDR picture without a sequence header
// (SPS and PPS) of its own gets the latest one in front of it, in its prefix.
//
// The backward search from a time or position to its place reads at most kReachBytes or
// kReachSeconds of stream, never below the floor (the previous cut of a series), passes over a
// stretch an earlier search found without any place, and stops at a stop request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "mpeg/boundarywriter.h"
#include "mpeg/entryscanner.h"
#include "mpeg/packscanner.h"
#include "mpeg/rangecopier.h"
#include "mpeg/reporter.h"
#include "mpeg/stoprequest.h"
#include "mpeg/streamclock.h"
#include "platform/io/fileio.h"

// What the backward search came to.
enum class ECleanSearch {
    Found,        // a place after the floor (without a floor: the file's start counts)
    NoPlace,      // none between the floor (or the file's start) and the time or position
    BeyondReach,  // none within the search's reach, which ends above the floor
};

// Where a piece starts, and what it needs to play from there.
struct CCleanCut {
    // Unless Found, m_llOffset is the floor (0 without one) and nothing else is set.
    ECleanSearch m_eSearch = ECleanSearch::Found;
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
    // How far back a search reads for a place, whichever comes first.
    static constexpr int64_t kReachBytes = int64_t{64} << 20;
    static constexpr int64_t kReachSeconds = 60;

    // `file` is the open source of `size` bytes; the planner moves its position freely. The
    // searches poll `stop` between windows and while they read.
    CCleanCutPlanner(IFile& file, int64_t size, IReporter& reporter,
                     const IStopRequest& stop = NeverStop())
        : m_file(file), m_llSize(size), m_reporter(reporter), m_stop(stop) {}

    // Places at or before `offset` no longer count: a series' previous cut. -1: none.
    void SetFloor(int64_t offset);

    // The last search returned false because a stop was requested; nothing was reported.
    bool Stopped() const { return m_bStopped; }

    // Reads the head of the source: the first pack's header with the system headers and
    // stream maps right after it, the video stream and how to read it, its first sequence
    // header. False when a read failed: "my_lseeki64 is wrong(7)." or "Can not read the mpeg
    // file head!" (caption "Error") has been reported, as the boundary search reports them.
    bool Prepare();

    // The last place a piece can start whose first picture is shown at or before `seconds`
    // from the start of the stream (or up to 0.05 s after it: audio and video start a few
    // milliseconds apart), through the stream's own clock (a binary search over its time
    // stamps or pack clock); for a stream without a usable clock, the last place at or before
    // fallbackOffset. The stream's first place is the start of the file. A recording joined
    // from several plays its spans one after the other: the time is found in the span that
    // plays then.
    // Failures are reported as by Prepare.
    bool AtTime(int64_t seconds, int64_t fallbackOffset, CCleanCut& cut);
    // The same for a time in milliseconds.
    bool AtMilliseconds(int64_t milliseconds, int64_t fallbackOffset, CCleanCut& cut);

    // The last place a piece can start whose header lies at or before `position`.
    // AtTime and AtOffset: false when a read failed (reported) or a stop was requested.
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
    uint8_t VideoId() const { return m_nVideoId; }
    std::optional<uint16_t> Reference() const { return m_reference; }

private:
    using CEntry = CEntryScanner::CEntry;

    bool Find(int64_t end, const std::function<bool(const CEntry&)>& accept, CCleanCut& cut);
    // What a window of the backward search held.
    struct CWindow {
        std::optional<CEntry> m_best;  // the last place accepted
        int64_t m_llBestOffset = 0;    // where its piece starts (the file's start for the first)
        bool m_bAnyPlace = false;      // a place after the floor, accepted or not
        int64_t m_llTicks = 0;         // the stream time its packs span, in clock units
        int64_t m_llLastScr = 0;       // of its last pack
    };
    bool ScanWindow(int64_t begin, int64_t end, const std::function<bool(const CEntry&)>& accept,
                    CWindow& window);
    void NoteEmpty(int64_t begin, int64_t end);
    struct CProbe {
        int64_t m_llTime = 0;
        int64_t m_llOffset = 0;
    };
    bool ProbeTime(int64_t offset, int64_t limit, std::optional<CProbe>& probe);
    bool ReadProbe(int64_t offset, int64_t limit, std::optional<CProbe>& probe);
    static constexpr size_t kKeptProbes = 4096;
    // Probes by offset and the span's end that limits them.
    std::map<std::pair<int64_t, int64_t>, std::optional<CProbe>> m_probes;
    bool ReportRead(bool seekFailed);

    IFile& m_file;
    int64_t m_llSize;
    IReporter& m_reporter;
    const IStopRequest& m_stop;
    bool m_bStopped = false;
    int64_t m_llFloor = -1;
    // A stretch of header packs [begin, end) known to hold no place after the floor.
    int64_t m_llEmptyBegin = 0;
    int64_t m_llEmptyEnd = 0;

    // What Prepare found.
    ECleanVideo m_video = ECleanVideo::None;
    uint8_t m_nVideoId = 0;
    std::optional<uint16_t> m_reference;  // the stream (id << 8 | sub-stream) that times packs
    std::vector<unsigned char> m_prefix;  // the first pack's header, system headers, stream maps
    std::optional<CPackHeader> m_prefixPack;
    std::vector<unsigned char> m_firstParameters;
    bool m_bIntraUnits = false;

    // The stream's clock, measured on the first AtTime: the spans between its jumps, none
    // when it has no usable clock.
    bool m_bClockMeasured = false;
    bool m_bPackClock = false;
    std::vector<CClockSpan> m_spans;
};
