// Clip cut, split into equal pieces and split by length.
#include "mpeg/splitengine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "mpeg/cleancut.h"
#include "mpeg/cutplan.h"
#include "mpeg/messages.h"
#include "mpeg/outputpaths.h"

namespace {

int64_t ScaleToOffset(double fraction, int64_t size) {
    const double offset = std::trunc(fraction * static_cast<double>(size));
    // 2^63 is exactly representable; anything at or beyond it (or NaN) cannot convert.
    constexpr double kTop = 9223372036854775808.0;
    if (!(offset < kTop)) {
        return std::isnan(offset) ? 0 : std::numeric_limits<int64_t>::max();
    }
    if (offset < -kTop) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(offset);
}

}  // namespace

struct CSplitEngine::SeriesPlan {
    int32_t m_nPieceCount;
    // Raw (unsearched) offset of boundary k, 0 <= k < m_nPieceCount, for a source of `size`.
    std::function<int64_t(int32_t k, int64_t size)> m_rawOffset;
    CopyMessages m_messages;
    // By time: boundary k lies k times this many seconds into the stream, which clean cuts
    // find through its clock. 0: by size, where clean cuts keep the raw offsets.
    int64_t m_llPieceSeconds = 0;
};

int64_t ClipTimeToSeconds(const CClipTime& time) {
    return int64_t{time.m_nHour} * 3600 + int64_t{time.m_nMinute} * 60 + time.m_nSecond;
}

int32_t ParsePieceLength(std::string_view text) {
    text = text.substr(0, kPieceLengthTextMax);
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return static_cast<int32_t>(std::min<int64_t>(value, kLimit - 1));
}

int64_t ClipOffset(int64_t seconds, int64_t totalSeconds, int64_t size) {
    const double quotient = static_cast<double>(seconds) / static_cast<double>(totalSeconds);
    return ScaleToOffset(quotient, size);
}

int64_t EqualPieceOffset(int32_t k, int32_t pieceCount, int64_t size) {
    const double quotient = static_cast<double>(k) / pieceCount;
    return ScaleToOffset(quotient, size);
}

int64_t TimedPieceOffset(int32_t k, int32_t totalSeconds, int32_t pieceSeconds, int64_t size) {
    double fraction = static_cast<double>(k) / totalSeconds;
    fraction = fraction * pieceSeconds;
    return ScaleToOffset(fraction, size);
}

void CSplitEngine::ShowError(const char* text) {
    m_reporter.ShowMessage(text, mpeg_text::kCaptionError);
}

SplitStatus CSplitEngine::MayWriteOutput(const std::string& outputPath,
                                         const std::vector<std::string>& sources) {
    for (const std::string& path : sources) {
        if (m_fileSystem.IsSameFile(outputPath, path)) {
            ShowError(mpeg_text::kOutputIsSource);
            return SplitStatus::Failed;
        }
    }
    // The old file stays until the new one takes its name.
    if (FileExists(m_fileSystem, outputPath) &&
        !m_reporter.AskReplace(outputPath + mpeg_text::kReplaceQuestionSuffix)) {
        return SplitStatus::Declined;
    }
    return SplitStatus::Done;
}

SplitStatus CSplitEngine::CutClip(CMpegSource& source, const CClipTime& start, const CClipTime& end,
                                  const std::string& outputPath) {
    m_outputs.clear();
    m_merged = {};
    const int64_t startMs = ClipTimeToMilliseconds(start);
    const int64_t endMs = ClipTimeToMilliseconds(end);
    if (const char* problem = ClipTimesProblem(startMs, endMs, source.m_nTotalSeconds)) {
        ShowError(problem);
        return SplitStatus::Failed;
    }
    if (const SplitStatus may = MayWriteOutput(outputPath, {source.SourcePath()});
        may != SplitStatus::Done) {
        return may;
    }

    auto input = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
    if (!input) {
        return SplitStatus::Failed;
    }
    // The search the plan of a cut makes too.
    std::optional<CCleanCutPlanner> planner;
    CClipSpan span;
    if (!FindClipSpan(source, *input, startMs, endMs, m_options.m_bCleanCuts, planner, m_reporter,
                      m_stop, span)) {
        if (planner && planner->Stopped()) {
            return SplitStatus::Cancelled;
        }
        return SplitStatus::Failed;
    }
    const int64_t startOffset = span.m_llStart;
    const int64_t endOffset = span.m_llEnd;
    const CCleanCut& startCut = span.m_startCut;

    CBusyCursor cursor(m_reporter);
    const CopyMessages messages{mpeg_text::kCutHeaderSeek, mpeg_text::kCutStartSeek,
                                mpeg_text::kCutHeaderWrite, mpeg_text::kCutBlockWrite};
    std::optional<CExactCopy> layout;
    if (planner) {
        layout = planner->Layout(startCut, endOffset, span.m_bToEnd ? nullptr : &span.m_endCut);
    }
    CProgressOutput step;
    step.m_strPath = outputPath;
    step.m_llBytes = OutputBytes(layout ? &*layout : nullptr, startOffset, endOffset, source);
    step.m_llRunBytes = step.m_llBytes;
    const SplitStatus written = WriteOutput(input, step, startOffset, endOffset, source, messages,
                                            cursor, layout ? &*layout : nullptr);
    if (written != SplitStatus::Done) {
        return written;
    }
    input.reset();
    cursor.Lower();
    m_reporter.ShowMessage(mpeg_text::kSplittingDone, mpeg_text::kCaptionMessage);
    return SplitStatus::Done;
}

SplitStatus CSplitEngine::SplitBySize(CMpegSource& source, int32_t pieceCount,
                                      const std::string& outputFolder) {
    m_outputs.clear();
    m_merged = {};
    if (pieceCount < 1) {
        return SplitStatus::NotStarted;
    }
    SeriesPlan plan{
        pieceCount,
        [pieceCount](int32_t k, int64_t size) { return EqualPieceOffset(k, pieceCount, size); },
        {mpeg_text::kSizeHeaderSeek, mpeg_text::kSizeStartSeek, mpeg_text::kSizeHeaderWrite,
         mpeg_text::kSizeBlockWrite}};
    return RunSeries(source, plan, outputFolder);
}

SplitStatus CSplitEngine::SplitByTime(CMpegSource& source, int32_t pieceSeconds,
                                      const std::string& outputFolder) {
    m_outputs.clear();
    m_merged = {};
    const int32_t total = source.m_nTotalSeconds;
    if (total <= 0 || !source.HasSourcePath()) {
        return SplitStatus::NotStarted;
    }
    if (pieceSeconds <= 0) {
        ShowError(mpeg_text::kPieceTimeNotPositive);
        return SplitStatus::Failed;
    }
    const int32_t whole = total / pieceSeconds;
    const int32_t pieceCount = whole + (whole * pieceSeconds != total ? 1 : 0);
    SeriesPlan plan{pieceCount,
                    [total, pieceSeconds](int32_t k, int64_t size) {
                        return TimedPieceOffset(k, total, pieceSeconds, size);
                    },
                    {mpeg_text::kTimeHeaderSeek, mpeg_text::kTimeStartSeek,
                     mpeg_text::kTimeHeaderWrite, mpeg_text::kTimeBlockWrite},
                    pieceSeconds};
    return RunSeries(source, plan, outputFolder);
}

SplitStatus CSplitEngine::PlanCleanSeries(CCleanCutPlanner& planner, const SeriesPlan& plan,
                                          int64_t size, std::vector<CCleanCut>& starts) {
    switch (PlanCleanStarts(
        planner, plan.m_nPieceCount, plan.m_llPieceSeconds,
        [&](int32_t k) { return plan.m_rawOffset(k, size); }, m_stop, starts, m_merged)) {
        case EPlanStatus::Planned:
            return SplitStatus::Done;
        case EPlanStatus::Stopped:
            return SplitStatus::Cancelled;
        default:
            return SplitStatus::Failed;
    }
}

SplitStatus CSplitEngine::RunSeries(CMpegSource& source, const SeriesPlan& plan,
                                    const std::string& outputFolder) {
    auto input = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
    if (!input) {
        return SplitStatus::Failed;
    }
    const int64_t size = source.m_llFileSize;
    const std::string sourcePath = source.SourcePath();

    // Clean cuts: all of them first, so the pieces are named by the count written.
    std::optional<CCleanCutPlanner> planner;
    std::vector<CCleanCut> starts;
    if (m_options.m_bCleanCuts) {
        planner.emplace(*input, size, m_reporter, m_stop);
        if (!planner->Prepare()) {
            return SplitStatus::Failed;
        }
        const SplitStatus planned = PlanCleanSeries(*planner, plan, size, starts);
        if (planned != SplitStatus::Done) {
            return planned;
        }
    }
    const int32_t count = planner ? static_cast<int32_t>(starts.size()) : plan.m_nPieceCount;
    if (FolderHoldsSourceAsPiece(*input, source, count, outputFolder)) {
        ShowError(mpeg_text::kOutputIsSource);
        return SplitStatus::Failed;
    }
    for (CMergedPiece& merged : m_merged.m_pieces) {
        merged.m_strPath = MakePiecePath(sourcePath, count, merged.m_nPiece, outputFolder);
    }
    if (!m_merged.m_pieces.empty()) {
        m_merged.m_strFirstPath = MakePiecePath(sourcePath, count, 0, outputFolder);
        m_merged.m_strLastPath = MakePiecePath(sourcePath, count, count - 1, outputFolder);
    }

    CBusyCursor cursor(m_reporter);
    int64_t runDone = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (m_stop.IsStopRequested()) {
            return SplitStatus::Cancelled;
        }
        const bool last = k == count - 1;
        int64_t startOffset = plan.m_rawOffset(k, size);
        int64_t endOffset = size;
        if (planner) {
            startOffset = starts[static_cast<size_t>(k)].m_llOffset;
            if (!last) {
                endOffset = starts[static_cast<size_t>(k) + 1].m_llOffset;
            }
        } else {
            if (!source.FindPackBoundary(input.get(), startOffset, m_reporter)) {
                return SplitStatus::Failed;
            }
            // The last piece ends at the end of the file: nothing after the last pack start
            // code is lost.
            if (!last) {
                endOffset = plan.m_rawOffset(k + 1, size);
                if (!source.FindPackBoundary(input.get(), endOffset, m_reporter)) {
                    return SplitStatus::Failed;
                }
            }
        }
        if (endOffset <= startOffset) {
            m_reporter.ShowMessage(mpeg_text::kCanNotSplit, mpeg_text::kCaptionLowerError);
            return SplitStatus::Failed;
        }
        std::optional<CExactCopy> layout;
        if (planner) {
            layout = planner->Layout(starts[static_cast<size_t>(k)], endOffset,
                                     last ? nullptr : &starts[static_cast<size_t>(k) + 1]);
        }
        CProgressOutput step;
        step.m_nIndex = k;
        step.m_nCount = count;
        step.m_strPath = MakePiecePath(sourcePath, count, k, outputFolder);
        step.m_llBytes = OutputBytes(layout ? &*layout : nullptr, startOffset, endOffset, source);
        step.m_llRunDone = runDone;
        // The pieces still to come cover the rest of the source, each with a header.
        const int64_t later =
            last ? 0 : (size - endOffset) + int64_t{count - k - 1} * source.m_nHeaderCopyLength;
        step.m_llRunBytes = runDone + step.m_llBytes + later;
        const SplitStatus written =
            WriteOutput(input, step, startOffset, endOffset, source, plan.m_messages, cursor,
                        layout ? &*layout : nullptr);
        if (written != SplitStatus::Done) {
            return written;
        }
        runDone += step.m_llBytes;
    }
    input.reset();
    cursor.Lower();
    m_reporter.ShowMessage(mpeg_text::kSplittingDone, mpeg_text::kCaptionMessage);
    return SplitStatus::Done;
}

bool CSplitEngine::FolderHoldsSourceAsPiece(IFile& input, const CMpegSource& source, int32_t count,
                                            const std::string& outputFolder) {
    // Written pieces start at distinct pack start codes, at least 4 bytes apart, so no piece
    // beyond size / 4 + 1 can ever be written and none needs checking. Only the names in the
    // folder that are pieces of this series are examined, so the work follows the folder, not
    // the piece count. A folder that cannot be read is left to the check of each output.
    const int64_t reachable = std::min<int64_t>(count, source.m_llFileSize / 4 + 2);
    const PieceNameParts parts = SplitPiecePaths(source.SourcePath(), count, outputFolder);
    bool found = false;
    m_fileSystem.ListFolder(parts.m_strFolder, [&](const std::string& name) {
        const int64_t index = PieceIndexOfName(name, parts);
        if (!found && index >= 0 && index < reachable &&
            m_fileSystem.IsOpenFile(input, parts.m_strFolder + name)) {
            found = true;
        }
    });
    return found;
}

int64_t CSplitEngine::OutputBytes(const CExactCopy* clean, int64_t start, int64_t end,
                                  const CMpegSource& source) {
    if (clean != nullptr) {
        return clean->Bytes();
    }
    return CopyRangeBytes(start, end, source.m_nHeaderCopyLength, source.m_llFileSize);
}

SplitStatus CSplitEngine::WriteOutput(std::unique_ptr<IFile>& input, const CProgressOutput& step,
                                      int64_t start, int64_t end, const CMpegSource& source,
                                      const CopyMessages& messages, CBusyCursor& cursor,
                                      const CExactCopy* clean) {
    const std::string& path = step.m_strPath;
    OutputStatus status = OutputStatus::CannotOpen;
    auto output = m_fileSystem.CreateOutput(path, *input, status);
    if (!output) {
        if (status == OutputStatus::IsSource) {
            ShowError(mpeg_text::kOutputIsSource);
        } else {
            ShowError((mpeg_text::kDoNotOpenTarget + path).c_str());
        }
        return SplitStatus::Failed;
    }
    cursor.Raise();
    CProgressOutput begun = step;
    begun.m_bInPlace = output->IsInPlace();
    m_progress.BeginOutput(begun);
    const bool copied =
        clean != nullptr ? m_copier.CopyExact(input, output, *clean, messages, cursor)
                         : m_copier.CopyRange(input, output, start, end, source.m_nHeaderCopyLength,
                                              messages, cursor, source.m_llFileSize);
    if (!copied) {
        return m_copier.Stopped() ? SplitStatus::Cancelled : SplitStatus::Failed;
    }
    // A stop that came with the last chunk still keeps the old file: the new one is dropped.
    if (m_stop.IsStopRequested()) {
        return SplitStatus::Cancelled;
    }
    const OutputStatus committed = output->Commit();
    if (committed == OutputStatus::Ok) {
        if (clean != nullptr) {
            m_outputs.push_back({path, start, end, static_cast<int64_t>(clean->m_prefix.size())});
        } else {
            const int64_t size = source.m_llFileSize;
            m_outputs.push_back(
                {path, start, std::min(size, start + BlockRuleLength(start, end)),
                 start != 0 ? std::min<int64_t>(source.m_nHeaderCopyLength, size) : 0});
        }
        return SplitStatus::Done;
    }
    cursor.Lower();
    ReportCommitFailure(committed, path, messages.blockWrite);
    return SplitStatus::Failed;
}

void CSplitEngine::ReportCommitFailure(OutputStatus status, const std::string& path,
                                       const std::string& blockWrite) {
    switch (status) {
        case OutputStatus::Ok:
            break;
        case OutputStatus::WriteFailed:
            // Data the system accepted can still be lost at close; that is no success.
            m_reporter.ShowAppMessage(blockWrite);
            break;
        case OutputStatus::IsSource:
            ShowError(mpeg_text::kOutputIsSource);
            break;
        case OutputStatus::CannotOpen:
            ShowError((mpeg_text::kDoNotOpenTarget + path).c_str());
            break;
    }
}
