// Join: several recordings into one stream with one clock.
#include <algorithm>

#include "mpeg/clockshifter.h"
#include "mpeg/messages.h"
#include "mpeg/outputpaths.h"
#include "mpeg/packscanner.h"
#include "mpeg/spanwriter.h"
#include "mpeg/splitengine.h"
#include "mpeg/streamfacts.h"

namespace {

// The progress of one output that several copies write, each counting from 0.
class COffsetProgress final : public IProgress {
public:
    COffsetProgress(IProgress& progress, int64_t offset)
        : m_progress(progress), m_llOffset(offset) {}
    void BeginOutput(const CProgressOutput&) override {}
    void Advance(int64_t written) override { m_progress.Advance(m_llOffset + written); }

private:
    IProgress& m_progress;
    int64_t m_llOffset;
};

// A recording runs on from the one before when its first pack comes after the other's last
// and within this much of it.
constexpr int64_t kRunOnClock = kClockUnitsPerSecond;

struct CJoinInput {
    std::unique_ptr<IFile> m_file;
    int64_t m_llSize = 0;
    CStreamFacts m_facts;
    int64_t m_llShift = 0;
};

}  // namespace

SplitStatus CSplitEngine::Join(const std::vector<std::string>& inputs,
                               const std::string& outputPath) {
    m_outputs.clear();
    m_merged = {};
    if (inputs.size() < 2) {
        ShowError("A join needs at least two MPEG files.");
        return SplitStatus::Failed;
    }
    if (const SplitStatus may = MayWriteOutput(outputPath, inputs); may != SplitStatus::Done) {
        return may;
    }
    std::vector<CJoinInput> files(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        CMpegSource source;
        if (!source.SetSourcePath(inputs[i]) || !source.ProbeHeader(m_reporter, m_fileSystem)) {
            return SplitStatus::Failed;
        }
        CJoinInput& input = files[i];
        input.m_file = OpenAndMeasureSource(source, m_reporter, m_fileSystem);
        if (!input.m_file) {
            return SplitStatus::Failed;
        }
        input.m_llSize = source.m_llFileSize;
        if (!ReadStreamFacts(*input.m_file, input.m_llSize, input.m_facts)) {
            ShowError(mpeg_text::kBoundarySeekWrong);
            return SplitStatus::Failed;
        }
        if (i == 0) {
            continue;
        }
        if (auto difference = StreamDifference(files[0].m_facts, input.m_facts)) {
            ShowError((inputs[i] + " can not be joined to " + inputs[0] + ": " + *difference + ".")
                          .c_str());
            return SplitStatus::Failed;
        }
        // Each recording starts where the one before ends on the written clock, unless its
        // own clock already does.
        const CStreamFacts& before = files[i - 1].m_facts;
        input.m_llShift = files[i - 1].m_llShift;
        if (before.m_llLastScr && input.m_facts.m_llFirstScr) {
            const int64_t gap = ClockDifference(*input.m_facts.m_llFirstScr, *before.m_llLastScr);
            if (gap <= 0 || gap > kRunOnClock) {
                // Its first picture is shown when the picture after the last one before would
                // have been; without time stamps, its first pack follows the last one before.
                const int64_t step =
                    std::clamp<int64_t>(before.m_llLastStep, 1, kClockUnitsPerSecond / 10);
                const int64_t move =
                    before.m_llEndTime && input.m_facts.m_llFirstTime
                        ? ClockDifference(*before.m_llEndTime, *input.m_facts.m_llFirstTime)
                        : step - gap;
                input.m_llShift += move;
            }
        }
        if (m_stop.IsStopRequested()) {
            return SplitStatus::Cancelled;
        }
    }

    OutputStatus status = OutputStatus::CannotOpen;
    auto output = m_fileSystem.CreateOutput(outputPath, *files[0].m_file, status);
    if (!output) {
        ShowError(status == OutputStatus::IsSource
                      ? mpeg_text::kOutputIsSource
                      : (mpeg_text::kDoNotOpenTarget + outputPath).c_str());
        return SplitStatus::Failed;
    }
    CBusyCursor cursor(m_reporter);
    cursor.Raise();
    CProgressOutput step;
    step.m_strPath = outputPath;
    for (const CJoinInput& input : files) {
        step.m_llBytes += input.m_llSize;
    }
    step.m_llRunBytes = step.m_llBytes;
    step.m_bInPlace = output->IsInPlace();
    m_progress.BeginOutput(step);
    const CopyMessages messages{mpeg_text::kCutHeaderSeek, mpeg_text::kCutStartSeek,
                                mpeg_text::kCutHeaderWrite, mpeg_text::kCutBlockWrite};
    int64_t done = 0;
    for (CJoinInput& input : files) {
        if (input.m_llShift == 0) {
            // Verbatim: the kernel copies, and a file system that shares blocks shares them.
            COffsetProgress progress(m_progress, done);
            CRangeCopier copier(m_fileSystem, m_reporter, m_stop, progress);
            if (!copier.CopyRange(input.m_file, output, 0, input.m_llSize, 0, messages, cursor,
                                  input.m_llSize)) {
                return copier.Stopped() ? SplitStatus::Cancelled : SplitStatus::Failed;
            }
        } else {
            CSpanWriter writer(m_stop, m_progress, done);
            CExactCopy whole;
            whole.m_llEnd = input.m_llSize;
            const CSpanWriter::EResult result =
                writer.Write(*input.m_file, *output, whole, input.m_llShift);
            if (result != CSpanWriter::EResult::Written) {
                output.reset();
                cursor.Lower();
                if (result == CSpanWriter::EResult::SeekFailed) {
                    ShowError(mpeg_text::kCutStartSeek);
                } else if (result != CSpanWriter::EResult::Stopped) {
                    m_reporter.ShowAppMessage(mpeg_text::kCutBlockWrite);
                }
                return result == CSpanWriter::EResult::Stopped ? SplitStatus::Cancelled
                                                               : SplitStatus::Failed;
            }
        }
        // Every input stays open until the commit: the output compares itself to the first.
        done += input.m_llSize;
        if (m_stop.IsStopRequested()) {
            return SplitStatus::Cancelled;
        }
    }
    const OutputStatus committed = output->Commit();
    cursor.Lower();
    if (committed == OutputStatus::Ok) {
        m_outputs.push_back({outputPath, 0, files.back().m_llSize, 0});
        m_reporter.ShowMessage(mpeg_text::kJoiningDone, mpeg_text::kCaptionMessage);
        return SplitStatus::Done;
    }
    ReportCommitFailure(committed, outputPath, mpeg_text::kCutBlockWrite);
    return SplitStatus::Failed;
}
