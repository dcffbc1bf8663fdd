// The three split commands: a clip between two times, N pieces of equal size, pieces of N
// seconds. Each runs synchronously from the point where the window has checked its own
// precondition and read its fields, and tells the user everything through the reporter:
// failures, the replace question, the busy cursor while output is written, and finally
// "Splitting is done!" (caption "Message").
//
// Window wiring:
//   OnCutStart:         info line empty -> "Please open an MPEG file first!"; exchange from the
//                       controls; then CutClip(m_source, start, end, output file).
//   OnSplitBySizeStart: info line empty -> nothing; exchange; then SplitBySize(m_source,
//                       m_nPieceCount, output folder text).
//   OnSplitByTimeStart: read the piece length text (at most 31 characters), m_nPieceSeconds =
//                       ParsePieceLength(text); then SplitByTime(m_source, m_nPieceSeconds,
//                       output folder text).
// Every command re-measures the source into m_llFileSize; the other fields of the source are
// used as the probes left them.
//
// With clean cuts (CSplitOptions) the commands keep their checks, messages and order, but
// times map through the stream's own clock, every cut moves back to a place a piece can
// start (cleancut.h), pieces hold whole packs and end exactly where the next begins, and each
// piece after the first starts with a clean prefix instead of the source's first pack. A
// clean series plans all its cuts before it writes: where no place lies at a requested cut,
// the piece before runs on over it, fewer pieces are written, named by the count written, and
// Merged() tells which. A clean clip whose start or end has no place within the search's
// reach is refused with "Can not split the mpeg file!".
//
// Outputs never hurt what is already there: each is written beside its final path and takes
// that name only when complete (IFileSystem::CreateOutput), so a failure or a stop leaves the
// old file unchanged and no partial file; a replaced clip disappears only at that moment. An
// output path that names the source, through any link, is refused before the first byte and
// again just before the rename; anything there but a regular file is refused unopened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mpeg/cutlist.h"
#include "mpeg/mergedpiece.h"
#include "mpeg/mpegsource.h"
#include "mpeg/progress.h"
#include "mpeg/rangecopier.h"
#include "mpeg/reporter.h"
#include "mpeg/stoprequest.h"
#include "platform/io/fileio.h"

class CCleanCutPlanner;
struct CCleanCut;

enum class SplitStatus {
    Done,        // "Splitting is done!" was shown
    Failed,      // a failure message was shown; outputs completed before it stay
    Cancelled,   // a stop was requested; the output being written was removed, nothing shown
    Declined,    // the user did not confirm replacing the clip output; nothing was shown
    NotStarted,  // nothing to do for these inputs; nothing was shown or written
};

// A time as the window's three fields hold it; no range check.
struct CClipTime {
    int32_t m_nHour = 0;
    int32_t m_nMinute = 0;
    int32_t m_nSecond = 0;
    int32_t m_nMillisecond = 0;  // 0 to 999; the window's fields have none
};

// hours * 3,600 + minutes * 60 + seconds, in 64 bits so no field value can overflow it.
int64_t ClipTimeToSeconds(const CClipTime& time);

// The window reads at most this many characters of the piece length field.
inline constexpr size_t kPieceLengthTextMax = 31;

// The piece length text as a decimal integer: at most the first 31 characters, optional
// leading white space, an optional sign, digits up to the first non-digit; 0 without digits.
// Values beyond the 32-bit range saturate.
int32_t ParsePieceLength(std::string_view text);

// The raw (not yet searched) byte offsets of the three commands, in IEEE double precision in
// exactly their order (the quotient first), truncated toward zero; saturating, never
// overflowing. totalSeconds and pieceCount must be positive.
int64_t ClipOffset(int64_t seconds, int64_t totalSeconds, int64_t size);  // S / D * size
int64_t EqualPieceOffset(int32_t k, int32_t pieceCount, int64_t size);    // k / N * size
int64_t TimedPieceOffset(int32_t k, int32_t totalSeconds, int32_t pieceSeconds,
                         int64_t size);  // k / D * a * size

// How the commands cut. The default is the commands' byte-exact layout.
struct CSplitOptions {
    bool m_bCleanCuts = false;
};

// An output a command completed.
struct COutputRecord {
    std::string m_strPath;
    int64_t m_llStart = 0;        // the source offset of its first byte after the header
    int64_t m_llEnd = 0;          // the source offset after its last byte
    int64_t m_llHeaderBytes = 0;  // bytes in front of the source's [start, end)
};

class CSplitEngine {
public:
    // The stop request is polled between the chunks of a copy and between pieces; the
    // progress hears of each output as it is begun and of its bytes as they are written. Both
    // are called on the thread that runs the command.
    explicit CSplitEngine(IReporter& reporter, IFileSystem& fileSystem = PosixFileSystem(),
                          const IStopRequest& stop = NeverStop(),
                          IProgress& progress = NoProgress())
        : m_reporter(reporter),
          m_fileSystem(fileSystem),
          m_stop(stop),
          m_progress(progress),
          m_copier(fileSystem, reporter, stop, progress) {}

    void SetOptions(const CSplitOptions& options) { m_options = options; }

    // The outputs the last command completed, in the order it wrote them.
    const std::vector<COutputRecord>& Outputs() const { return m_outputs; }

    // The requested pieces the last clean series merged; empty after any other command.
    const CMergeReport& Merged() const { return m_merged; }

    // "By frame": the clip between start and end into outputPath. Checks the times against
    // the total, refuses an output that is the source itself, asks before replacing an
    // existing output (Declined on any answer but Yes), then writes the clip. An end equal to
    // the total duration ends the clip at the end of the file.
    SplitStatus CutClip(CMpegSource& source, const CClipTime& start, const CClipTime& end,
                        const std::string& outputPath);

    // "By size": pieceCount pieces of equal size, named by MakePiecePath in outputFolder
    // (taken as it is: no separator is added). NotStarted when pieceCount is below 1. Work
    // grows with the pieces really written and the entries of the folder, never with the
    // piece count alone.
    SplitStatus SplitBySize(CMpegSource& source, int32_t pieceCount,
                            const std::string& outputFolder);

    // "By time": pieces of pieceSeconds each, the last taking what remains. NotStarted when
    // the source has no duration or no path; a length of 0 or less is refused with
    // "The split file time must be bigger than 0!" and writes nothing.
    SplitStatus SplitByTime(CMpegSource& source, int32_t pieceSeconds,
                            const std::string& outputFolder);

    // A cut list: the segments of `list`, fitted to the source's total time (refusals shown
    // with caption "Error", naming the segment or line), each between clean cuts. Into one
    // file at outputPath, whose clock runs on across every joint: the SCR, PTS and DTS of each
    // segment after the first move by its start minus the end of what was written before it.
    // With `separate`, one file a segment, named as pieces are (stem_0.mpg, ...) beside
    // outputPath. Asks before replacing outputPath, as CutClip does; "Splitting is done!".
    SplitStatus CutList(CMpegSource& source, CCutList list, const std::string& outputPath,
                        bool separate);

    // Join: the recordings of `inputs` (at least two), in order, into outputPath as one stream
    // with one clock. A recording whose pack clock runs on from the one before (a DVD's VOB
    // files) is copied as it is, in the kernel where it can; any other has its SCR, PTS and
    // DTS moved so that it starts where the one before ended. A recording with other
    // elementary streams or another video format or picture size than the first is refused,
    // naming it and how it differs. Asks before replacing outputPath; "Joining is done!".
    SplitStatus Join(const std::vector<std::string>& inputs, const std::string& outputPath);

private:
    struct SeriesPlan;
    struct ListPiece;
    SplitStatus PlanCutList(CMpegSource& source, IFile& input, const CCutList& list,
                            std::vector<ListPiece>& pieces);
    SplitStatus WriteJoined(std::unique_ptr<IFile>& input, const std::vector<ListPiece>& pieces,
                            const std::string& outputPath, CBusyCursor& cursor);
    SplitStatus RunSeries(CMpegSource& source, const SeriesPlan& plan,
                          const std::string& outputFolder);
    // The start of every piece a clean series writes, the first at the file's start; fills
    // m_merged.
    SplitStatus PlanCleanSeries(CCleanCutPlanner& planner, const SeriesPlan& plan, int64_t size,
                                std::vector<CCleanCut>& starts);
    void ShowError(const char* text);
    // Done when the output may be written: it is none of the sources (compared by name first,
    // so the user is not asked about replacing a source; the open source is compared again
    // before the first byte and before the rename), and an existing file may be replaced.
    SplitStatus MayWriteOutput(const std::string& outputPath,
                               const std::vector<std::string>& sources);
    // The message of an output whose commit failed (`blockWrite` for a failed write).
    void ReportCommitFailure(OutputStatus status, const std::string& path,
                             const std::string& blockWrite);
    bool FolderHoldsSourceAsPiece(IFile& input, const CMpegSource& source, int32_t count,
                                  const std::string& outputFolder);
    // What the output holds when complete: the clean layout's prefix and range, or the
    // header and block rule of the default layout.
    static int64_t OutputBytes(const CExactCopy* clean, int64_t start, int64_t end,
                               const CMpegSource& source);
    // Writes one output; step names it for the progress, which is told of it once it is
    // created.
    SplitStatus WriteOutput(std::unique_ptr<IFile>& input, const CProgressOutput& step,
                            int64_t start, int64_t end, const CMpegSource& source,
                            const CopyMessages& messages, CBusyCursor& cursor,
                            const CExactCopy* clean = nullptr);

    IReporter& m_reporter;
    IFileSystem& m_fileSystem;
    const IStopRequest& m_stop;
    IProgress& m_progress;
    CRangeCopier m_copier;
    CSplitOptions m_options;
    std::vector<COutputRecord> m_outputs;
    CMergeReport m_merged;
};
