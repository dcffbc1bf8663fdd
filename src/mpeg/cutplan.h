// Where a cut will really fall, before anything is written: the span of a clip or of a
// series' first piece, found by the searches the commands write with (the pack boundary
// search, or the clean-cut planner), and the key pictures, the places a clean piece can start.
// Nothing here writes; failures are told through the reporter in the commands' own words.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "mpeg/cleancut.h"
#include "mpeg/mergedpiece.h"
#include "mpeg/mpegsource.h"
#include "mpeg/reporter.h"
#include "mpeg/splitengine.h"
#include "mpeg/stoprequest.h"
#include "platform/io/fileio.h"

// hours, minutes, seconds and milliseconds in milliseconds, in 64 bits.
int64_t ClipTimeToMilliseconds(const CClipTime& time);

// The message that refuses a clip from startMs to endMs of a source of totalSeconds, checked
// in the order the cut checks them; nullptr when the times are valid.
const char* ClipTimesProblem(int64_t startMs, int64_t endMs, int64_t totalSeconds);

// The bytes of the source a clip covers, as the cut finds them.
struct CClipSpan {
    int64_t m_llStart = 0;
    int64_t m_llEnd = 0;
    CCleanCut m_startCut;  // clean cuts only
    CCleanCut m_endCut;    // clean cuts only, when the clip ends before the file's end
    bool m_bToEnd = false;
};

// The search of CutClip: the start and the end of the clip between startMs and endMs (valid
// times, see ClipTimesProblem) of the opened `input`. With clean cuts it makes and prepares
// `planner`. Failures are reported as the cut reports them, "Can not split the mpeg file!"
// among them when the end does not lie after the start.
bool FindClipSpan(CMpegSource& source, IFile& input, int64_t startMs, int64_t endMs, bool cleanCuts,
                  std::optional<CCleanCutPlanner>& planner, IReporter& reporter,
                  const IStopRequest& stop, CClipSpan& span);

// A span as a command would write it.
struct CPlannedSpan {
    int64_t m_llStart = 0;  // source offset of its first byte after any header
    int64_t m_llEnd = 0;    // source offset after its last byte
    int64_t m_llBytes = 0;  // the size of the output
    // In 100-ns units from the stream's first time: the first picture at or after the start,
    // and the first after the end (the stream's length at the file's end). Unknown for a
    // stream without a usable clock.
    std::optional<int64_t> m_start100ns;
    std::optional<int64_t> m_end100ns;
};

// What a command would write for the current fields.
struct CCutPlan {
    int32_t m_nPieceCount = 1;
    CPlannedSpan m_first;  // the clip, or the first piece of a series
};

enum class EPlanStatus { Planned, Failed, Stopped, NotStarted };

// The start of every piece a clean series of `count` pieces writes, the first at the file's
// start: cut k lies k * pieceSeconds into the stream, or by size (pieceSeconds 0) at
// rawOffset(k). Where no picture can start a piece at a cut, the piece before runs on over it,
// as `merged` then says.
EPlanStatus PlanCleanStarts(CCleanCutPlanner& planner, int32_t count, int64_t pieceSeconds,
                            const std::function<int64_t(int32_t k)>& rawOffset,
                            const IStopRequest& stop, std::vector<CCleanCut>& starts,
                            CMergeReport& merged);

class CCutPlanner {
public:
    explicit CCutPlanner(IReporter& reporter, IFileSystem& fileSystem = PosixFileSystem(),
                         const IStopRequest& stop = NeverStop())
        : m_reporter(reporter), m_fileSystem(fileSystem), m_stop(stop) {}

    // The clip CutClip would write for these times; the same checks and messages, except
    // those about the output.
    EPlanStatus PlanClip(CMpegSource& source, const CClipTime& start, const CClipTime& end,
                         const CSplitOptions& options, CCutPlan& plan);
    // The piece count and first piece of SplitBySize and SplitByTime. NotStarted where the
    // command would do nothing.
    EPlanStatus PlanBySize(CMpegSource& source, int32_t pieceCount, const CSplitOptions& options,
                           CCutPlan& plan);
    EPlanStatus PlanByTime(CMpegSource& source, int32_t pieceSeconds, const CSplitOptions& options,
                           CCutPlan& plan);

private:
    EPlanStatus PlanFirstPiece(CMpegSource& source, int32_t count, int64_t pieceSeconds,
                               const CSplitOptions& options, CCutPlan& plan);
    // Fills the times of the span from the stream's clock.
    bool TimeSpan(IFile& input, const CMpegSource& source, const CClipSpan& span, bool clean,
                  CPlannedSpan& planned);

    IReporter& m_reporter;
    IFileSystem& m_fileSystem;
    const IStopRequest& m_stop;
};

// A place a clean piece can start, with the time of its first picture.
struct CKeyPicture {
    int64_t m_llTime100ns = 0;  // from the stream's first time
    int64_t m_llOffset = 0;
};

struct CKeyPictureList {
    std::vector<CKeyPicture> m_pictures;  // in file order
    bool m_bTruncated = false;            // more than kMaxKeyPictures were found
    bool m_bTimed = true;                 // false: the stream has no usable clock, no times
};

// The list stops growing here (about 16 MB): a recording of days at two key pictures a second.
inline constexpr size_t kMaxKeyPictures = size_t{1} << 20;

// Walks the whole source of `size` bytes once. `progress` hears the bytes read so far, now
// and then; a stop ends the walk (Stopped). Read failures are reported as the clean cuts
// report them. A place without a time of its own is left out when the stream is timed.
EPlanStatus ListKeyPictures(IFile& file, int64_t size, IReporter& reporter,
                            const IStopRequest& stop,
                            const std::function<void(int64_t done)>& progress,
                            CKeyPictureList& list);
