// The planned span of a cut and the list of key pictures.
#include "mpeg/cutplan.h"

#include <algorithm>

#include "mpeg/messages.h"
#include "mpeg/rangecopier.h"
#include "mpeg/streamclock.h"
#include "mpeg/unitwalker.h"

namespace {

constexpr int64_t kWalkWindowBytes = int64_t{1} << 20;
// The time after a cut is read from this many bytes at most.
constexpr int64_t kTimeProbeBytes = int64_t{8} << 20;
// Pictures come in decoding order: the earliest of the first few times after a cut is the
// first one shown.
constexpr int kTimeProbePackets = 4;
// The key-picture walk tells its progress and polls the stop request this often.
constexpr int64_t kProgressBytes = int64_t{8} << 20;

int64_t ClockTo100ns(int64_t clock, int64_t startClock) {
    return ClockDifference(clock, startClock) * 1000 / 9;
}

bool ReportRead(IReporter& reporter, const CUnitWalker& walker) {
    reporter.ShowMessage(
        walker.SeekFailed() ? mpeg_text::kBoundarySeekWrong : mpeg_text::kCanNotReadHead,
        mpeg_text::kCaptionError);
    return false;
}

// The stream clock the planner and the key pictures use: the stream's first time and whether
// it is the pack clock.
struct CPlanClock {
    int64_t m_llStart = 0;
    bool m_bPackClock = false;
};

std::optional<CPlanClock> MeasureClock(IFile& file, int64_t size) {
    const auto clock = CStreamClock::Measure(file, size);
    if (!clock) {
        return std::nullopt;
    }
    return CPlanClock{clock->m_llStartClock, clock->m_source == EClockSource::PackClock};
}

}  // namespace

int64_t ClipTimeToMilliseconds(const CClipTime& time) {
    return ClipTimeToSeconds(time) * 1000 + time.m_nMillisecond;
}

const char* ClipTimesProblem(int64_t startMs, int64_t endMs, int64_t totalSeconds) {
    const int64_t totalMs = totalSeconds * 1000;
    // A total of 0 (a source under one second) leaves no start time below it.
    if (totalSeconds <= 0 || startMs >= totalMs) {
        return mpeg_text::kStartBiggerThanTotal;
    }
    if (endMs > totalMs) {
        return mpeg_text::kEndBiggerThanTotal;
    }
    if (startMs >= endMs) {
        return mpeg_text::kStartBiggerThanEnd;
    }
    return nullptr;
}

bool FindClipSpan(CMpegSource& source, IFile& input, int64_t startMs, int64_t endMs, bool cleanCuts,
                  std::optional<CCleanCutPlanner>& planner, IReporter& reporter,
                  const IStopRequest& stop, CClipSpan& span) {
    span = CClipSpan{};
    const int64_t size = source.m_llFileSize;
    // Milliseconds over the total's milliseconds: the same quotient as seconds over seconds.
    const int64_t totalMs = int64_t{source.m_nTotalSeconds} * 1000;
    // A clip that ends at the total duration ends at the end of the file, so its tail after
    // the last pack start code is not lost.
    span.m_bToEnd = endMs == totalMs;
    span.m_llStart = ClipOffset(startMs, totalMs, size);
    span.m_llEnd = size;
    if (cleanCuts) {
        planner.emplace(input, size, reporter, stop);
        if (!planner->Prepare() ||
            !planner->AtMilliseconds(startMs, span.m_llStart, span.m_startCut) ||
            (!span.m_bToEnd &&
             !planner->AtMilliseconds(endMs, ClipOffset(endMs, totalMs, size), span.m_endCut))) {
            return false;
        }
        // A clip from the file's start or to its end would hold far more than was asked.
        if (span.m_startCut.m_eSearch == ECleanSearch::BeyondReach ||
            (!span.m_bToEnd && span.m_endCut.m_eSearch == ECleanSearch::BeyondReach)) {
            reporter.ShowMessage(mpeg_text::kCanNotSplit, mpeg_text::kCaptionLowerError);
            return false;
        }
        span.m_llStart = span.m_startCut.m_llOffset;
        if (!span.m_bToEnd) {
            span.m_llEnd = span.m_endCut.m_llOffset;
        }
    } else {
        if (!source.FindPackBoundary(&input, span.m_llStart, reporter)) {
            return false;
        }
        if (!span.m_bToEnd) {
            span.m_llEnd = ClipOffset(endMs, totalMs, size);
            if (!source.FindPackBoundary(&input, span.m_llEnd, reporter)) {
                return false;
            }
        }
    }
    if (span.m_llEnd <= span.m_llStart) {
        reporter.ShowMessage(mpeg_text::kCanNotSplit, mpeg_text::kCaptionLowerError);
        return false;
    }
    return true;
}

namespace {

// The first time shown at or after `offset`: the earliest of the first few time stamps of the
// video (else the reference stream), or the first pack clock.
std::optional<int64_t> ShownTimeAfter(IFile& file, int64_t size, int64_t offset,
                                      const CCleanCutPlanner& planner, bool packClock,
                                      bool& failed) {
    failed = false;
    CUnitWalker walker(file, kWalkWindowBytes, size);
    walker.Start(offset, size, offset > 0);
    const std::optional<uint16_t> key =
        planner.Video() != ECleanVideo::None
            ? std::optional<uint16_t>(StreamKey(planner.VideoId(), 0))
            : planner.Reference();
    std::optional<int64_t> earliest;
    int seen = 0;
    CPsUnit unit;
    while (seen < kTimeProbePackets && walker.Next(unit) &&
           unit.m_llOffset < offset + kTimeProbeBytes) {
        if (packClock) {
            if (unit.m_kind == EPsUnit::Pack) {
                return unit.m_pack.m_llScr;
            }
        } else if (unit.m_kind == EPsUnit::Packet && unit.m_pts && key && StreamKey(unit) == *key) {
            if (!earliest || ClockDifference(*unit.m_pts, *earliest) < 0) {
                earliest = *unit.m_pts;
            }
            ++seen;
        }
    }
    failed = walker.Failed();
    return earliest;
}

}  // namespace

bool CCutPlanner::TimeSpan(IFile& input, const CMpegSource& source, const CClipSpan& span,
                           bool clean, CPlannedSpan& planned) {
    const int64_t size = source.m_llFileSize;
    const auto clock = MeasureClock(input, size);
    if (!clock) {
        return true;
    }
    CCleanCutPlanner streams(input, size, m_reporter);
    if (!streams.Prepare()) {
        return false;
    }
    const auto timeAt = [&](int64_t offset, const CCleanCut* cut,
                            std::optional<int64_t>& time) -> bool {
        if (offset >= size) {
            time = source.m_llDuration100ns;
            return true;
        }
        if (offset == 0) {
            time = 0;
            return true;
        }
        if (cut != nullptr && cut->m_llTime) {
            time = ClockTo100ns(*cut->m_llTime, clock->m_llStart);
            return true;
        }
        bool failed = false;
        if (const auto shown =
                ShownTimeAfter(input, size, offset, streams, clock->m_bPackClock, failed)) {
            time = ClockTo100ns(*shown, clock->m_llStart);
        }
        if (failed) {
            m_reporter.ShowMessage(mpeg_text::kCanNotReadHead, mpeg_text::kCaptionError);
        }
        return !failed;
    };
    return timeAt(span.m_llStart, clean ? &span.m_startCut : nullptr, planned.m_start100ns) &&
           timeAt(span.m_bToEnd ? size : span.m_llEnd,
                  clean && !span.m_bToEnd ? &span.m_endCut : nullptr, planned.m_end100ns);
}

EPlanStatus CCutPlanner::PlanClip(CMpegSource& source, const CClipTime& start, const CClipTime& end,
                                  const CSplitOptions& options, CCutPlan& plan) {
    plan = CCutPlan{};
    const int64_t startMs = ClipTimeToMilliseconds(start);
    const int64_t endMs = ClipTimeToMilliseconds(end);
    if (const char* problem = ClipTimesProblem(startMs, endMs, source.m_nTotalSeconds)) {
        m_reporter.ShowMessage(problem, mpeg_text::kCaptionError);
        return EPlanStatus::Failed;
    }
    auto input = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
    if (!input) {
        return EPlanStatus::Failed;
    }
    std::optional<CCleanCutPlanner> planner;
    CClipSpan span;
    if (!FindClipSpan(source, *input, startMs, endMs, options.m_bCleanCuts, planner, m_reporter,
                      m_stop, span)) {
        return planner && planner->Stopped() ? EPlanStatus::Stopped : EPlanStatus::Failed;
    }
    if (m_stop.IsStopRequested()) {
        return EPlanStatus::Stopped;
    }
    CPlannedSpan& first = plan.m_first;
    first.m_llStart = span.m_llStart;
    const int64_t size = source.m_llFileSize;
    if (planner) {
        const CExactCopy layout = planner->Layout(span.m_startCut, span.m_llEnd,
                                                  span.m_bToEnd ? nullptr : &span.m_endCut);
        first.m_llEnd = span.m_llEnd;
        first.m_llBytes = layout.Bytes();
    } else {
        // The default layout copies whole 512-byte blocks from the start.
        first.m_llEnd =
            std::min(size, span.m_llStart + BlockRuleLength(span.m_llStart, span.m_llEnd));
        first.m_llBytes =
            CopyRangeBytes(span.m_llStart, span.m_llEnd, source.m_nHeaderCopyLength, size);
    }
    return TimeSpan(*input, source, span, options.m_bCleanCuts, first) ? EPlanStatus::Planned
                                                                       : EPlanStatus::Failed;
}

EPlanStatus PlanCleanStarts(CCleanCutPlanner& planner, int32_t count, int64_t pieceSeconds,
                            const std::function<int64_t(int32_t k)>& rawOffset,
                            const IStopRequest& stop, std::vector<CCleanCut>& starts,
                            CMergeReport& merged) {
    starts.assign(1, CCleanCut{});
    merged = CMergeReport{};
    merged.m_nRequested = count;
    merged.m_llPieceSeconds = pieceSeconds;
    // Each search ends at the cut before, so no piece can be empty.
    planner.SetFloor(0);
    for (int32_t k = 1; k < count; ++k) {
        if (stop.IsStopRequested()) {
            return EPlanStatus::Stopped;
        }
        const int64_t raw = rawOffset(k);
        CCleanCut cut;
        const bool found = pieceSeconds > 0 ? planner.AtTime(int64_t{k} * pieceSeconds, raw, cut)
                                            : planner.AtOffset(raw, cut);
        if (!found) {
            return planner.Stopped() ? EPlanStatus::Stopped : EPlanStatus::Failed;
        }
        if (cut.m_eSearch == ECleanSearch::Found) {
            planner.SetFloor(cut.m_llOffset);
            starts.push_back(std::move(cut));
            continue;
        }
        const int32_t piece = static_cast<int32_t>(starts.size()) - 1;
        const EMergeReason reason = cut.m_eSearch == ECleanSearch::NoPlace
                                        ? EMergeReason::NoPlace
                                        : EMergeReason::BeyondReach;
        auto& pieces = merged.m_pieces;
        if (!pieces.empty() && pieces.back().m_nPiece == piece &&
            pieces.back().m_eReason == reason && pieces.back().m_nLast == k - 1) {
            pieces.back().m_nLast = k;
        } else {
            pieces.push_back({piece, {}, k, k, reason});
        }
    }
    merged.m_nWritten = static_cast<int32_t>(starts.size());
    return EPlanStatus::Planned;
}

EPlanStatus CCutPlanner::PlanBySize(CMpegSource& source, int32_t pieceCount,
                                    const CSplitOptions& options, CCutPlan& plan) {
    plan = CCutPlan{};
    if (pieceCount < 1) {
        return EPlanStatus::NotStarted;
    }
    return PlanFirstPiece(source, pieceCount, 0, options, plan);
}

EPlanStatus CCutPlanner::PlanByTime(CMpegSource& source, int32_t pieceSeconds,
                                    const CSplitOptions& options, CCutPlan& plan) {
    plan = CCutPlan{};
    const int32_t total = source.m_nTotalSeconds;
    if (total <= 0 || !source.HasSourcePath()) {
        return EPlanStatus::NotStarted;
    }
    if (pieceSeconds <= 0) {
        m_reporter.ShowMessage(mpeg_text::kPieceTimeNotPositive, mpeg_text::kCaptionError);
        return EPlanStatus::Failed;
    }
    const int32_t whole = total / pieceSeconds;
    return PlanFirstPiece(source, whole + (whole * pieceSeconds != total ? 1 : 0), pieceSeconds,
                          options, plan);
}

EPlanStatus CCutPlanner::PlanFirstPiece(CMpegSource& source, int32_t count, int64_t pieceSeconds,
                                        const CSplitOptions& options, CCutPlan& plan) {
    auto input = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
    if (!input) {
        return EPlanStatus::Failed;
    }
    const int64_t size = source.m_llFileSize;
    plan.m_nPieceCount = count;
    CClipSpan span;
    span.m_bToEnd = count == 1;
    span.m_llEnd = size;
    const int64_t raw =
        pieceSeconds > 0
            ? TimedPieceOffset(1, source.m_nTotalSeconds, static_cast<int32_t>(pieceSeconds), size)
            : EqualPieceOffset(1, count, size);
    std::optional<int64_t> cleanBytes;
    if (options.m_bCleanCuts) {
        CCleanCutPlanner planner(*input, size, m_reporter, m_stop);
        if (!planner.Prepare()) {
            return EPlanStatus::Failed;
        }
        // Every cut is searched, so the count is the one the split writes; where no picture
        // can start the second piece, the first runs on over that cut.
        std::vector<CCleanCut> starts;
        CMergeReport merged;
        const EPlanStatus planned = PlanCleanStarts(
            planner, count, pieceSeconds,
            [&](int32_t k) {
                return pieceSeconds > 0 ? TimedPieceOffset(k, source.m_nTotalSeconds,
                                                           static_cast<int32_t>(pieceSeconds), size)
                                        : EqualPieceOffset(k, count, size);
            },
            m_stop, starts, merged);
        if (planned != EPlanStatus::Planned) {
            return planned;
        }
        plan.m_nPieceCount = static_cast<int32_t>(starts.size());
        span.m_bToEnd = starts.size() == 1;
        if (!span.m_bToEnd) {
            span.m_endCut = starts[1];
            span.m_llEnd = span.m_endCut.m_llOffset;
        }
        // The piece ends with the head of the pack holding the next cut.
        cleanBytes =
            planner.Layout(CCleanCut{}, span.m_llEnd, span.m_bToEnd ? nullptr : &span.m_endCut)
                .Bytes();
    } else if (!span.m_bToEnd) {
        span.m_llEnd = raw;
        if (!source.FindPackBoundary(input.get(), span.m_llEnd, m_reporter)) {
            return EPlanStatus::Failed;
        }
    }
    if (span.m_llEnd <= 0) {
        m_reporter.ShowMessage(mpeg_text::kCanNotSplit, mpeg_text::kCaptionLowerError);
        return EPlanStatus::Failed;
    }
    if (m_stop.IsStopRequested()) {
        return EPlanStatus::Stopped;
    }
    CPlannedSpan& first = plan.m_first;
    first.m_llEnd =
        options.m_bCleanCuts ? span.m_llEnd : std::min(size, BlockRuleLength(0, span.m_llEnd));
    first.m_llBytes = cleanBytes
                          ? *cleanBytes
                          : CopyRangeBytes(0, span.m_llEnd, source.m_nHeaderCopyLength, size);
    return TimeSpan(*input, source, span, options.m_bCleanCuts, first) ? EPlanStatus::Planned
                                                                       : EPlanStatus::Failed;
}

EPlanStatus ListKeyPictures(IFile& file, int64_t size, IReporter& reporter,
                            const IStopRequest& stop,
                            const std::function<void(int64_t done)>& progress,
                            CKeyPictureList& list) {
    list = CKeyPictureList{};
    CCleanCutPlanner planner(file, size, reporter);
    if (!planner.Prepare()) {
        return EPlanStatus::Failed;
    }
    // Without video there are no pictures to list, only packs.
    if (planner.Video() == ECleanVideo::None) {
        return EPlanStatus::Planned;
    }
    const auto clock = MeasureClock(file, size);
    list.m_bTimed = clock.has_value();
    CEntryScanner scanner(planner.Video(), planner.VideoId(), planner.Reference());
    bool first = true;
    const auto take = [&] {
        for (const CEntryScanner::CEntry& entry : scanner.Take()) {
            // The stream's first place is where its first piece starts: the file's start.
            const int64_t offset = first ? 0 : entry.m_llOffset;
            first = false;
            const std::optional<int64_t> time = clock && clock->m_bPackClock
                                                    ? std::optional<int64_t>(entry.m_llHeaderScr)
                                                    : entry.m_time;
            if (clock && !time) {
                continue;
            }
            if (list.m_pictures.size() >= kMaxKeyPictures) {
                list.m_bTruncated = true;
                continue;
            }
            list.m_pictures.push_back({clock ? ClockTo100ns(*time, clock->m_llStart) : 0, offset});
        }
    };
    CUnitWalker walker(file, kWalkWindowBytes, size);
    walker.Start(0, size, false);
    int64_t nextReport = kProgressBytes;
    CPsUnit unit;
    while (walker.Next(unit)) {
        if (unit.m_llOffset >= nextReport) {
            nextReport = unit.m_llOffset + kProgressBytes;
            if (stop.IsStopRequested()) {
                return EPlanStatus::Stopped;
            }
            if (progress) {
                progress(unit.m_llOffset);
            }
        }
        if (walker.Gap()) {
            scanner.OnGap();
        }
        scanner.OnUnit(unit, walker.Payload(unit));
        take();
    }
    if (walker.Failed()) {
        ReportRead(reporter, walker);
        return EPlanStatus::Failed;
    }
    scanner.Flush();
    take();
    if (progress) {
        progress(size);
    }
    return EPlanStatus::Planned;
}
