// Cut lists: several segments of one source, into one file or one file a segment.
#include <algorithm>
#include <optional>
#include <vector>

#include "mpeg/cleancut.h"
#include "mpeg/clockshifter.h"
#include "mpeg/cutplan.h"
#include "mpeg/messages.h"
#include "mpeg/outputpaths.h"
#include "mpeg/picturerate.h"
#include "mpeg/spanwriter.h"
#include "mpeg/splitengine.h"

struct CSplitEngine::ListPiece {
    int64_t m_llStart = 0;
    int64_t m_llEnd = 0;
    CExactCopy m_layout;
    int64_t m_llShift = 0;
};

namespace {

std::string SegmentName(size_t index) {
    return "Segment " + std::to_string(index + 1);
}

// The clock of the first pack a piece writes, and of the pack that follows its last.
int64_t FirstScr(const CExactCopy& layout, const CCleanCut& start) {
    return PackHeaderScr(layout.m_prefix).value_or(start.m_pack.m_llScr);
}

// How long a picture lasts, from the sequence header at a clean cut; 0 when none is read.
int64_t PictureTicksAt(IFile& input, int64_t offset) {
    std::vector<unsigned char> bytes(8192);
    if (my_lseeki64(&input, offset, SeekOrigin::Begin) != offset) {
        return 0;
    }
    const int64_t read = input.Read(bytes.data(), bytes.size());
    if (read <= 0) {
        return 0;
    }
    return CPictureRate::FindPictureTicks({bytes.data(), static_cast<size_t>(read)});
}

}  // namespace

SplitStatus CSplitEngine::PlanCutList(CMpegSource& source, IFile& input, const CCutList& list,
                                      std::vector<ListPiece>& pieces) {
    const int64_t size = source.m_llFileSize;
    const int64_t totalMs = int64_t{source.m_nTotalSeconds} * 1000;
    // One planner for every segment: the stream's clock is measured once.
    CCleanCutPlanner planner(input, size, m_reporter, m_stop);
    if (!planner.Prepare()) {
        return SplitStatus::Failed;
    }
    const auto& segments = list.Segments();
    CCleanCut previousEnd;
    for (size_t k = 0; k < segments.size(); ++k) {
        const CCutSegment& segment = segments[k];
        const bool toEnd = segment.m_llEndMs == totalMs;
        CCleanCut startCut;
        CCleanCut endCut;
        if (!planner.AtMilliseconds(segment.m_llStartMs,
                                    ClipOffset(segment.m_llStartMs, totalMs, size), startCut) ||
            (!toEnd &&
             !planner.AtMilliseconds(segment.m_llEndMs,
                                     ClipOffset(segment.m_llEndMs, totalMs, size), endCut))) {
            return planner.Stopped() ? SplitStatus::Cancelled : SplitStatus::Failed;
        }
        if (startCut.m_eSearch == ECleanSearch::BeyondReach ||
            (!toEnd && endCut.m_eSearch == ECleanSearch::BeyondReach)) {
            ShowError((SegmentName(k) + ": no picture within reach starts a clean piece").c_str());
            return SplitStatus::Failed;
        }
        ListPiece piece;
        piece.m_llStart = startCut.m_llOffset;
        piece.m_llEnd = toEnd ? size : endCut.m_llOffset;
        if (piece.m_llEnd <= piece.m_llStart) {
            ShowError((SegmentName(k) + " holds no place where a clean piece can start: it "
                                        "lies within one group of pictures")
                          .c_str());
            return SplitStatus::Failed;
        }
        if (!pieces.empty() && piece.m_llStart < pieces.back().m_llEnd) {
            ShowError((SegmentName(k) + " starts in the group of pictures where the segment "
                                        "before it ends")
                          .c_str());
            return SplitStatus::Failed;
        }
        piece.m_layout = planner.Layout(startCut, piece.m_llEnd, toEnd ? nullptr : &endCut);
        // Each segment starts where the one before ended, on the written clock: its first
        // picture is shown when the picture after the previous segment's last would have been,
        // and its first pack arrives no earlier than that picture's pack would have. The larger
        // of the two moves keeps both clocks rising; the other gets a small gap.
        if (!pieces.empty()) {
            int64_t move =
                ClockDifference(previousEnd.m_pack.m_llScr, FirstScr(piece.m_layout, startCut));
            if (previousEnd.m_llTime && startCut.m_llTime) {
                const int64_t byTime = ClockDifference(*previousEnd.m_llTime, *startCut.m_llTime);
                // A gap in the pictures is whole pictures long, so no two decode at once.
                const int64_t picture = PictureTicksAt(input, startCut.m_llOffset);
                if (move > byTime && picture > 0) {
                    move = byTime + (move - byTime + picture - 1) / picture * picture;
                }
                move = std::max(move, byTime);
            }
            piece.m_llShift = pieces.back().m_llShift + move;
        }
        previousEnd = endCut;
        pieces.push_back(std::move(piece));
        if (m_stop.IsStopRequested()) {
            return SplitStatus::Cancelled;
        }
    }
    return SplitStatus::Done;
}

SplitStatus CSplitEngine::WriteJoined(std::unique_ptr<IFile>& input,
                                      const std::vector<ListPiece>& pieces,
                                      const std::string& outputPath, CBusyCursor& cursor) {
    OutputStatus status = OutputStatus::CannotOpen;
    auto output = m_fileSystem.CreateOutput(outputPath, *input, status);
    if (!output) {
        ShowError(status == OutputStatus::IsSource
                      ? mpeg_text::kOutputIsSource
                      : (mpeg_text::kDoNotOpenTarget + outputPath).c_str());
        return SplitStatus::Failed;
    }
    cursor.Raise();
    CProgressOutput step;
    step.m_strPath = outputPath;
    for (const ListPiece& piece : pieces) {
        step.m_llBytes += piece.m_layout.Bytes();
    }
    step.m_llRunBytes = step.m_llBytes;
    step.m_bInPlace = output->IsInPlace();
    m_progress.BeginOutput(step);
    CSpanWriter writer(m_stop, m_progress);
    for (const ListPiece& piece : pieces) {
        const CSpanWriter::EResult result =
            writer.Write(*input, *output, piece.m_layout, piece.m_llShift);
        if (result == CSpanWriter::EResult::Written) {
            continue;
        }
        // Dropping the output removes what was written of it.
        output.reset();
        cursor.Lower();
        switch (result) {
            case CSpanWriter::EResult::Stopped:
                return SplitStatus::Cancelled;
            case CSpanWriter::EResult::SeekFailed:
                ShowError(mpeg_text::kCutStartSeek);
                break;
            default:
                m_reporter.ShowAppMessage(mpeg_text::kCutBlockWrite);
                break;
        }
        return SplitStatus::Failed;
    }
    if (m_stop.IsStopRequested()) {
        return SplitStatus::Cancelled;
    }
    const OutputStatus committed = output->Commit();
    if (committed == OutputStatus::Ok) {
        m_outputs.push_back({outputPath, pieces.front().m_llStart, pieces.back().m_llEnd,
                             static_cast<int64_t>(pieces.front().m_layout.m_prefix.size())});
        return SplitStatus::Done;
    }
    cursor.Lower();
    ReportCommitFailure(committed, outputPath, mpeg_text::kCutBlockWrite);
    return SplitStatus::Failed;
}

SplitStatus CSplitEngine::CutList(CMpegSource& source, CCutList list, const std::string& outputPath,
                                  bool separate) {
    m_outputs.clear();
    m_merged = {};
    if (source.m_nTotalSeconds <= 0) {
        ShowError(mpeg_text::kStartBiggerThanTotal);
        return SplitStatus::Failed;
    }
    if (auto refusal = list.Fit(int64_t{source.m_nTotalSeconds} * 1000)) {
        ShowError(refusal->m_strText.c_str());
        return SplitStatus::Failed;
    }
    if (!separate) {
        if (const SplitStatus may = MayWriteOutput(outputPath, {source.SourcePath()});
            may != SplitStatus::Done) {
            return may;
        }
    }
    auto input = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
    if (!input) {
        return SplitStatus::Failed;
    }
    std::vector<ListPiece> pieces;
    if (const SplitStatus planned = PlanCutList(source, *input, list, pieces);
        planned != SplitStatus::Done) {
        return planned;
    }
    CBusyCursor cursor(m_reporter);
    if (!separate) {
        if (const SplitStatus written = WriteJoined(input, pieces, outputPath, cursor);
            written != SplitStatus::Done) {
            return written;
        }
    } else {
        const size_t slash = outputPath.rfind('/');
        const std::string folder =
            slash == std::string::npos ? std::string() : outputPath.substr(0, slash + 1);
        const auto count = static_cast<int32_t>(pieces.size());
        const CopyMessages messages{mpeg_text::kCutHeaderSeek, mpeg_text::kCutStartSeek,
                                    mpeg_text::kCutHeaderWrite, mpeg_text::kCutBlockWrite};
        int64_t runBytes = 0;
        for (const ListPiece& piece : pieces) {
            runBytes += piece.m_layout.Bytes();
        }
        int64_t runDone = 0;
        for (int32_t k = 0; k < count; ++k) {
            if (m_stop.IsStopRequested()) {
                return SplitStatus::Cancelled;
            }
            const ListPiece& piece = pieces[static_cast<size_t>(k)];
            CProgressOutput step;
            step.m_nIndex = k;
            step.m_nCount = count;
            step.m_strPath = MakePiecePath(outputPath, count, k, folder);
            step.m_llBytes = piece.m_layout.Bytes();
            step.m_llRunDone = runDone;
            step.m_llRunBytes = runBytes;
            const SplitStatus written = WriteOutput(input, step, piece.m_llStart, piece.m_llEnd,
                                                    source, messages, cursor, &piece.m_layout);
            if (written != SplitStatus::Done) {
                return written;
            }
            runDone += step.m_llBytes;
        }
    }
    input.reset();
    cursor.Lower();
    m_reporter.ShowMessage(mpeg_text::kSplittingDone, mpeg_text::kCaptionMessage);
    return SplitStatus::Done;
}
