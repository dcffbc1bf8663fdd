// The clean-cut planner: the searches over the places a piece can start, by time and by
// position, and the layout of a piece that starts at one.
#include "mpeg/cleancut.h"

#include <algorithm>
#include <span>

#include "mpeg/messages.h"
#include "mpeg/packheaderwriter.h"
#include "mpeg/streamclock.h"
#include "mpeg/streamids.h"
#include "mpeg/unitwalker.h"

namespace {

// The walker's windows: larger than any unit (at most 65,541 bytes); a probe of the clock
// usually needs no more than its first packets.
constexpr int64_t kWindowBytes = int64_t{1} << 20;
constexpr int64_t kProbeWindowBytes = int64_t{128} << 10;
// Prepare looks for the video stream and its first sequence header this far, and tells how
// the video is coded from its first bytes.
constexpr int64_t kHeadBytes = int64_t{4} << 20;
constexpr size_t kDetectBytes = 64 * 1024;
// The backward search reads windows that grow from the first size to the last.
constexpr int64_t kFirstBackWindow = int64_t{512} << 10;
constexpr int64_t kLastBackWindow = int64_t{8} << 20;
// Bytes read before a window for the state a place depends on (the pack before it, a header
// split across packets, the latest sequence header).
constexpr int64_t kLookBack = int64_t{256} << 10;
// Bytes read after a window to learn the first picture of a place found near its end.
constexpr int64_t kFinishBytes = int64_t{1} << 20;
// A place whose first picture comes this little after the requested time still counts as at
// it: streams start their audio and video a few milliseconds apart, and times are asked for in
// whole seconds.
constexpr int64_t kTimeTolerance = kClockUnitsPerSecond / 20;
// The binary search stops when its interval is this small.
constexpr int64_t kSearchResolution = int64_t{256} << 10;
// A probe of the clock reads at most this far for a time stamp.
constexpr int64_t kProbeBytes = int64_t{8} << 20;

// Hands the scanner the unit the walker has just read, with its payload, after telling it of
// a gap before the unit.
void Feed(CEntryScanner& scanner, const CUnitWalker& walker, const CPsUnit& unit) {
    if (walker.Gap()) {
        scanner.OnGap();
    }
    scanner.OnUnit(unit, walker.Payload(unit));
}

}  // namespace

bool CCleanCutPlanner::ReportRead(bool seekFailed) {
    m_reporter.ShowMessage(seekFailed ? mpeg_text::kBoundarySeekWrong : mpeg_text::kCanNotReadHead,
                           mpeg_text::kCaptionError);
    return false;
}

bool CCleanCutPlanner::Prepare() {
    // The first pack with the system headers and stream maps right after it; the video
    // stream, the first whose payload tells how it is coded; the stream that times the packs
    // of a stream without video.
    CUnitWalker reader(m_file, kWindowBytes, m_llSize);
    reader.Start(0, m_llSize, false);
    int64_t prefixEnd = 0;
    bool inPrefix = true;
    std::optional<uint16_t> anyStamped;
    std::vector<unsigned char> videoHead;
    CPsUnit unit;
    while (reader.Next(unit) && unit.m_llOffset < kHeadBytes) {
        if (inPrefix) {
            // Only units the file holds whole.
            const bool whole = unit.m_llOffset + unit.m_llLength <= m_llSize;
            const bool opens = whole && unit.m_llOffset == 0 && unit.m_kind == EPsUnit::Pack;
            const bool follows =
                whole && m_prefixPack && !reader.Gap() && unit.m_llOffset == prefixEnd &&
                (unit.m_kind == EPsUnit::SystemHeader || unit.m_kind == EPsUnit::StreamMap);
            if (opens) {
                m_prefixPack = unit.m_pack;
            }
            inPrefix = opens || follows;
            if (inPrefix) {
                prefixEnd = unit.m_llOffset + unit.m_llLength;
                const std::span<const unsigned char> bytes = reader.Bytes(unit);
                m_prefix.insert(m_prefix.end(), bytes.begin(), bytes.end());
            }
        }
        if (unit.m_kind != EPsUnit::Packet) {
            continue;
        }
        const std::span<const unsigned char> payload = reader.Payload(unit);
        // The first video stream's first bytes, gathered across its packets: a start code may
        // lie across two of them.
        if (m_video == ECleanVideo::None && IsVideoStream(unit.m_nStreamId) &&
            (videoHead.empty() || unit.m_nStreamId == m_nVideoId) &&
            videoHead.size() < kDetectBytes) {
            m_nVideoId = unit.m_nStreamId;
            videoHead.insert(
                videoHead.end(), payload.begin(),
                payload.begin() + std::min(payload.size(), kDetectBytes - videoHead.size()));
            m_video = DetectVideo(videoHead);
        }
        if (unit.m_pts && IsTimedStream(unit.m_nStreamId, unit.m_nSubStreamId)) {
            if (!anyStamped) {
                anyStamped = StreamKey(unit);
            }
            if (!m_reference && !IsVideoStream(unit.m_nStreamId)) {
                m_reference = StreamKey(unit);
            }
        }
        if (m_video != ECleanVideo::None && m_reference) {
            break;
        }
    }
    if (reader.Failed()) {
        return ReportRead(reader.SeekFailed());
    }
    if (!m_reference) {
        m_reference = anyStamped;
    }
    if (m_video == ECleanVideo::None) {
        return true;
    }
    // The stream's first sequence header (SPS and PPS), for pieces that start without one.
    CUnitWalker head(m_file, kWindowBytes, m_llSize);
    head.Start(0, m_llSize, false);
    CEntryScanner scanner(m_video, m_nVideoId, m_reference);
    bool anyPlace = false;
    while (head.Next(unit) && unit.m_llOffset < kHeadBytes) {
        Feed(scanner, head, unit);
        anyPlace = !scanner.Take().empty() || anyPlace;
        if (anyPlace && !scanner.FirstParameters().empty()) {
            break;
        }
    }
    if (head.Failed()) {
        return ReportRead(head.SeekFailed());
    }
    m_firstParameters = scanner.FirstParameters();
    // H.264 without IDR pictures or recovery points: pictures of I slices are where it can be
    // entered.
    m_bIntraUnits = m_video == ECleanVideo::H264 && !anyPlace;
    return true;
}

void CCleanCutPlanner::SetFloor(int64_t offset) {
    // What was found without a place counted the old floor's place as none.
    if (offset < m_llFloor) {
        m_llEmptyBegin = m_llEmptyEnd = 0;
    }
    m_llFloor = offset;
}

void CCleanCutPlanner::NoteEmpty(int64_t begin, int64_t end) {
    if (begin >= end) {
        return;
    }
    if (begin <= m_llEmptyEnd && end >= m_llEmptyBegin && m_llEmptyBegin < m_llEmptyEnd) {
        m_llEmptyBegin = std::min(begin, m_llEmptyBegin);
        m_llEmptyEnd = std::max(end, m_llEmptyEnd);
    } else {
        m_llEmptyBegin = begin;
        m_llEmptyEnd = end;
    }
}

bool CCleanCutPlanner::ProbeTime(int64_t offset, int64_t limit, std::optional<CProbe>& probe) {
    // The searches of a series probe the same places on their way down.
    if (const auto known = m_probes.find({offset, limit}); known != m_probes.end()) {
        probe = known->second;
        return true;
    }
    if (m_probes.size() >= kKeptProbes) {
        m_probes.clear();
    }
    if (!ReadProbe(offset, limit, probe)) {
        return false;
    }
    m_probes.emplace(std::make_pair(offset, limit), probe);
    return true;
}

bool CCleanCutPlanner::ReadProbe(int64_t offset, int64_t limit, std::optional<CProbe>& probe) {
    probe.reset();
    CUnitWalker reader(m_file, kProbeWindowBytes, m_llSize);
    reader.Start(offset, m_llSize, offset > 0);
    const std::optional<uint16_t> key =
        m_video != ECleanVideo::None ? StreamKey(m_nVideoId, 0) : m_reference;
    CPsUnit unit;
    while (reader.Next(unit) && unit.m_llOffset < std::min(limit, offset + kProbeBytes)) {
        if (m_bPackClock) {
            if (unit.m_kind == EPsUnit::Pack) {
                probe = CProbe{unit.m_pack.m_llScr, unit.m_llOffset};
                return true;
            }
        } else if (unit.m_kind == EPsUnit::Packet && unit.m_pts && key && StreamKey(unit) == *key) {
            // Decoding times run forward with the file where presentation times do not.
            probe = CProbe{unit.m_dts.value_or(*unit.m_pts), unit.m_llOffset};
            return true;
        }
    }
    return !reader.Failed() || ReportRead(reader.SeekFailed());
}

bool CCleanCutPlanner::AtTime(int64_t seconds, int64_t fallbackOffset, CCleanCut& cut) {
    return AtMilliseconds(seconds * 1000, fallbackOffset, cut);
}

bool CCleanCutPlanner::AtMilliseconds(int64_t milliseconds, int64_t fallbackOffset,
                                      CCleanCut& cut) {
    if (!m_bClockMeasured) {
        m_bClockMeasured = true;
        if (auto clock = CStreamClock::Measure(m_file, m_llSize)) {
            m_spans = std::move(clock->m_spans);
            m_bPackClock = clock->m_source == EClockSource::PackClock;
        }
    }
    if (m_spans.empty()) {
        return AtOffset(fallbackOffset, cut);
    }
    // The span that plays at the time, and the time into it.
    int64_t target = milliseconds * (kClockUnitsPerSecond / 1000) + kTimeTolerance;
    size_t index = 0;
    for (; index + 1 < m_spans.size(); ++index) {
        const int64_t length = m_spans[index].m_llDuration100ns * 9 / 1000;
        if (target < length) {
            break;
        }
        target -= length;
    }
    const CClockSpan& span = m_spans[index];
    const int64_t start = span.m_llStartClock;
    const int64_t spanBegin = span.m_llBegin;
    const int64_t spanEnd = span.m_llEnd;
    // The clock runs forward with the file: after `high` every time lies beyond the target.
    int64_t low = spanBegin;
    int64_t high = spanEnd;
    int64_t highStamp = spanEnd;
    while (high - low > kSearchResolution) {
        const int64_t middle = low + (high - low) / 2;
        std::optional<CProbe> probe;
        if (!ProbeTime(middle, spanEnd, probe)) {
            return false;
        }
        if (probe && ClockDifference(probe->m_llTime, start) <= target) {
            low = middle;
        } else {
            high = middle;
            highStamp = probe ? probe->m_llOffset : middle;
        }
    }
    const int64_t end = std::min(m_llSize, std::max(high, highStamp) + 1);
    const bool packClock = m_bPackClock;
    return Find(
        end,
        [start, target, packClock, spanBegin, spanEnd](const CEntry& entry) {
            // Every place of an earlier span plays before the time, of a later one after it.
            if (entry.m_llHeaderPack < spanBegin) {
                return true;
            }
            if (entry.m_llHeaderPack >= spanEnd) {
                return false;
            }
            const std::optional<int64_t> time =
                packClock ? std::optional<int64_t>(entry.m_llHeaderScr) : entry.m_time;
            return time && ClockDifference(*time, start) <= target;
        },
        cut);
}

bool CCleanCutPlanner::AtOffset(int64_t position, CCleanCut& cut) {
    const int64_t end = std::clamp<int64_t>(position, -1, m_llSize - 1) + 1;
    return Find(
        end, [](const CEntry&) { return true; }, cut);
}

bool CCleanCutPlanner::Find(int64_t end, const std::function<bool(const CEntry&)>& accept,
                            CCleanCut& cut) {
    cut = CCleanCut{};
    m_bStopped = false;
    const int64_t floor = std::max<int64_t>(m_llFloor, 0);
    cut.m_llOffset = floor;
    int64_t width = kFirstBackWindow;
    int64_t read = 0;
    int64_t ticks = 0;
    // The stretch [lowest, emptyTop) turned out to hold no place after the floor.
    int64_t lowest = end;
    int64_t emptyTop = end;
    int64_t windowEnd = end;
    while (windowEnd > floor) {
        if (m_stop.IsStopRequested()) {
            m_bStopped = true;
            return false;
        }
        if (windowEnd > m_llEmptyBegin && windowEnd <= m_llEmptyEnd) {
            windowEnd = lowest = std::max(floor, m_llEmptyBegin);
            continue;
        }
        if (read >= kReachBytes || ticks > kReachSeconds * kClockUnitsPerSecond) {
            break;
        }
        int64_t begin = std::max(floor, windowEnd - width);
        // Down to a stretch known to hold no place in one window: a series reads each of its
        // stretches once.
        if (m_llEmptyEnd < windowEnd && windowEnd - m_llEmptyEnd <= kLastBackWindow) {
            begin = std::max(floor, m_llEmptyEnd);
        }
        CWindow window;
        if (!ScanWindow(begin, windowEnd, accept, window)) {
            return false;
        }
        if (window.m_best) {
            // Within reach when its header pack is: the places before it lie further back.
            const CEntry& best = *window.m_best;
            const int64_t clock = ClockDifference(window.m_llLastScr, best.m_llHeaderScr);
            const int64_t after = std::clamp<int64_t>(clock, 0, window.m_llTicks);
            if (read + (windowEnd - best.m_llHeaderPack) > kReachBytes ||
                ticks + after > kReachSeconds * kClockUnitsPerSecond) {
                read = kReachBytes;
                break;
            }
            NoteEmpty(lowest, emptyTop);
            cut.m_llOffset = window.m_llBestOffset;
            if (cut.m_llOffset != 0) {
                cut.m_pack = best.m_pack;
                cut.m_llTime =
                    m_bPackClock ? std::optional<int64_t>(best.m_llHeaderScr) : best.m_time;
                if (best.m_bNeedsParameters) {
                    cut.m_parameters =
                        best.m_parameters.empty() ? m_firstParameters : best.m_parameters;
                }
                if (best.m_bNeedsGroupHeader) {
                    cut.m_parameters.insert(cut.m_parameters.end(), kBrokenGroupHeader.begin(),
                                            kBrokenGroupHeader.end());
                }
                cut.m_brokenLink = best.m_brokenLink;
                cut.m_llHeaderOffset = best.m_llHeaderOffset;
                if (m_video != ECleanVideo::None) {
                    CBoundaryWriter writer(m_file, m_llSize, m_video, m_nVideoId);
                    if (!writer.Build(best.m_llHeaderPack, best.m_llHeaderOffset, best.m_brokenLink,
                                      cut.m_boundary)) {
                        return ReportRead(writer.SeekFailed());
                    }
                }
            }
            return true;
        }
        if (window.m_bAnyPlace) {
            emptyTop = begin;
        }
        read += windowEnd - begin;
        ticks += window.m_llTicks;
        lowest = windowEnd = begin;
        width = std::min(width * 2, kLastBackWindow);
    }
    NoteEmpty(lowest, emptyTop);
    if (read >= kReachBytes || ticks > kReachSeconds * kClockUnitsPerSecond) {
        cut.m_eSearch = ECleanSearch::BeyondReach;
    } else if (m_llFloor >= 0) {
        cut.m_eSearch = ECleanSearch::NoPlace;
    }
    // Without a floor the file's start is where the stream's first piece starts anyway.
    return true;
}

bool CCleanCutPlanner::ScanWindow(int64_t begin, int64_t end,
                                  const std::function<bool(const CEntry&)>& accept,
                                  CWindow& window) {
    const int64_t from = std::max<int64_t>(0, begin - kLookBack);
    CUnitWalker reader(m_file, kWindowBytes, m_llSize);
    reader.Start(from, m_llSize, from > 0);
    CEntryScanner scanner(m_video, m_nVideoId, m_reference);
    scanner.SetIntraUnits(m_bIntraUnits);
    bool seenOne = false;
    const auto consider = [&](std::vector<CEntry> entries) {
        for (CEntry& entry : entries) {
            // The stream's first place is where its first piece starts anyway: the file's
            // start.
            const bool first = from == 0 && !seenOne;
            seenOne = true;
            if (entry.m_llHeaderPack < begin || entry.m_llHeaderPack >= end) {
                continue;
            }
            const int64_t offset = first ? 0 : entry.m_llOffset;
            if (offset <= m_llFloor) {
                continue;
            }
            window.m_bAnyPlace = true;
            if (accept(entry)) {
                window.m_best = std::move(entry);
                window.m_llBestOffset = offset;
            }
        }
    };
    std::optional<int64_t> lastScr;
    CPsUnit unit;
    for (uint32_t units = 0; reader.Next(unit); ++units) {
        // The packets of a pack that starts before the end belong to the window.
        if (unit.m_llOffset >= end + kFinishBytes ||
            (unit.m_kind == EPsUnit::Pack && unit.m_llOffset >= end && !scanner.Pending(end))) {
            break;
        }
        if (units % 256 == 0 && m_stop.IsStopRequested()) {
            m_bStopped = true;
            return false;
        }
        // The stream time the window spans, from its pack clock; a jump counts nothing.
        if (unit.m_kind == EPsUnit::Pack && unit.m_llOffset >= begin && unit.m_llOffset < end) {
            if (lastScr) {
                const int64_t step = ClockDifference(unit.m_pack.m_llScr, *lastScr);
                if (step > 0 && step <= kClockUnitsPerSecond) {
                    window.m_llTicks += step;
                }
            }
            lastScr = unit.m_pack.m_llScr;
            window.m_llLastScr = *lastScr;
        }
        Feed(scanner, reader, unit);
        consider(scanner.Take());
    }
    if (reader.Failed()) {
        return ReportRead(reader.SeekFailed());
    }
    scanner.Flush();
    consider(scanner.Take());
    return true;
}

namespace {

// Source bytes [from, to) as parts: ranges copied as they are, with the rewritten packets that
// lie whole inside in place of theirs.
void AddSource(std::vector<CCopyPart>& parts, int64_t from, int64_t to,
               const std::vector<const CPacketRewrite*>& rewrites) {
    int64_t at = from;
    for (const CPacketRewrite* rewrite : rewrites) {
        const int64_t begin = rewrite->m_llOffset;
        const int64_t end = begin + static_cast<int64_t>(rewrite->m_bytes.size());
        if (begin < at || end > to) {
            continue;
        }
        if (begin > at) {
            parts.push_back({false, at, begin, {}});
        }
        parts.push_back({true, begin, end, rewrite->m_bytes});
        at = end;
    }
    if (to > at) {
        parts.push_back({false, at, to, {}});
    }
}

// Bytes a padding packet needs so that `output` moves to an offset congruent to `source`
// modulo the block size of file systems that share blocks: 0, or at least a packet's header.
size_t AlignmentPadding(int64_t output, int64_t source) {
    constexpr int64_t kShareBlock = 4096;
    int64_t bytes = ((source - output) % kShareBlock + kShareBlock) % kShareBlock;
    if (bytes != 0 && bytes < 6) {
        bytes += kShareBlock;
    }
    return static_cast<size_t>(bytes);
}

}  // namespace

CExactCopy CCleanCutPlanner::Layout(const CCleanCut& from, int64_t end, const CCleanCut* to) const {
    CExactCopy copy;
    copy.m_llStart = from.m_llOffset;
    copy.m_llEnd = end;
    copy.m_patch = from.m_brokenLink;
    const CBoundary* open =
        from.m_llOffset != 0 && from.m_boundary && from.m_boundary->m_llPack >= from.m_llOffset
            ? &*from.m_boundary
            : nullptr;
    const CBoundary* close =
        to != nullptr && to->m_llOffset == end && to->m_boundary && to->m_boundary->m_llPack >= end
            ? &*to->m_boundary
            : nullptr;
    if (open != nullptr || close != nullptr) {
        int64_t at = from.m_llOffset;
        if (open != nullptr && open->m_llPackEnd <= end) {
            // A navigation pack before the pack holding the cut, then the rest of that pack.
            copy.m_parts.push_back({false, at, open->m_llPack, {}});
            copy.m_parts.push_back({true, open->m_llPack, open->m_llPackEnd, open->m_tail});
            at = open->m_llPackEnd;
        }
        std::vector<const CPacketRewrite*> rewrites;
        for (const CBoundary* boundary : {open, close}) {
            if (boundary != nullptr) {
                for (const CPacketRewrite& rewrite :
                     boundary == open ? boundary->m_after : boundary->m_before) {
                    rewrites.push_back(&rewrite);
                }
            }
        }
        std::sort(rewrites.begin(), rewrites.end(),
                  [](const CPacketRewrite* a, const CPacketRewrite* b) {
                      return a->m_llOffset < b->m_llOffset;
                  });
        AddSource(copy.m_parts, at, end, rewrites);
        if (close != nullptr && !close->m_head.empty()) {
            copy.m_parts.push_back({true, close->m_llPack, close->m_llPack, close->m_head});
        }
    }
    if (from.m_llOffset == 0) {
        return copy;
    }
    const CPackHeader& header = m_prefixPack ? *m_prefixPack : from.m_pack;
    std::vector<unsigned char> prefix = m_prefixPack ? m_prefix : MakePackHeader(from.m_pack);
    const size_t headersEnd = prefix.size();
    if (const auto& parameters = from.m_parameters; !parameters.empty()) {
        // A packet of the video stream that carries them, without time stamps. The piece's
        // first video packet may begin with the end of the previous picture: a start code of
        // user data (H.264: filler data) after them turns those bytes into something every
        // decoder passes over, and keeps the parameters whole.
        const std::vector<unsigned char> fields = header.m_bMpeg2
                                                      ? std::vector<unsigned char>{0x84, 0x00, 0x00}
                                                      : std::vector<unsigned char>{0x0F};
        const unsigned char absorber[] = {0x00, 0x00, 0x01,
                                          m_video == ECleanVideo::H264 ? kFillerData : kUserData};
        const size_t length = fields.size() + parameters.size() + sizeof absorber;
        const unsigned char start[] = {0x00,
                                       0x00,
                                       0x01,
                                       m_nVideoId,
                                       static_cast<unsigned char>(length >> 8),
                                       static_cast<unsigned char>(length & 0xFF)};
        prefix.insert(prefix.end(), std::begin(start), std::end(start));
        prefix.insert(prefix.end(), fields.begin(), fields.end());
        prefix.insert(prefix.end(), parameters.begin(), parameters.end());
        prefix.insert(prefix.end(), std::begin(absorber), std::end(absorber));
    }
    // The longest source range starts at an output offset congruent to its own: whole blocks
    // of both files line up, which file systems that share blocks need to share them.
    int64_t before = static_cast<int64_t>(prefix.size());
    int64_t body = from.m_llOffset;
    int64_t longest = copy.m_parts.empty() ? end - from.m_llOffset : -1;
    for (int64_t output = 0; const CCopyPart& part : copy.m_parts) {
        if (!part.m_bLiteral && part.m_llTo - part.m_llFrom > longest) {
            longest = part.m_llTo - part.m_llFrom;
            body = part.m_llFrom;
            before = static_cast<int64_t>(prefix.size()) + output;
        }
        output += part.m_bLiteral ? static_cast<int64_t>(part.m_bytes.size())
                                  : part.m_llTo - part.m_llFrom;
    }
    if (const size_t padding = AlignmentPadding(before, body); padding != 0) {
        const std::vector<unsigned char> packet = MakePadding(padding);
        prefix.insert(prefix.begin() + static_cast<std::ptrdiff_t>(headersEnd), packet.begin(),
                      packet.end());
    }
    // The prefix's bytes arrive at its mux rate and end just before the first copied pack's:
    // its clock lies that long before, and at least one tick.
    constexpr int64_t kTick27 = 300;
    const uint32_t rate = header.m_nMuxRate != 0 ? header.m_nMuxRate : from.m_pack.m_nMuxRate;
    int64_t lead = kTick27;
    if (rate != 0) {
        const int64_t bytesPerSecond = int64_t{rate} * 50;
        const int64_t ticks = static_cast<int64_t>(prefix.size()) * 27'000'000;
        lead = std::max(lead, (ticks + bytesPerSecond - 1) / bytesPerSecond);
    }
    if (!header.m_bMpeg2) {
        lead = (lead + kTick27 - 1) / kTick27 * kTick27;
    }
    WritePackClock(prefix.data(), header.m_bMpeg2, Clock27(from.m_pack) - lead);
    copy.m_prefix = std::move(prefix);
    return copy;
}
