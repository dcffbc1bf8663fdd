// The opened source as the engine sees it: path, size, header length and duration, with the
// header probe, the duration probe and the pack boundary search that work on them.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mpeg/reporter.h"
#include "platform/io/fileio.h"

// Asks the media framework for a file's stop position in 100-ns units; false when the file
// cannot be played. The media layer provides QueryStopPosition with this shape.
using StopPositionQuery = std::function<bool(const std::string& path, int64_t* stop100ns)>;

// The four bytes 00 00 01 BA that start every pack of an MPEG-1 or MPEG-2 program stream.
inline constexpr unsigned char kPackStartCode[4] = {0x00, 0x00, 0x01, 0xBA};

// The header probe looks for the second pack start code in this many leading bytes.
inline constexpr int64_t kHeadWindowBytes = 20000;
// When the file starts with a pack whose header parses, it follows that pack's packets up to
// the second pack as long as it starts within this many bytes.
inline constexpr int64_t kLongFirstPackBytes = int64_t{4} << 20;

// Where the total time came from.
enum class EDurationSource {
    None,            // not measured (or given by the user)
    TimeStamps,      // the stream's presentation time stamps
    PackClock,       // the stream's pack clock (SCR)
    MediaFramework,  // QueryStopPosition: the stream carries no usable clock
};

// The boundary search reads the source in windows of this many bytes, stepping back by the
// same amount, while each window examines candidates at offsets kSearchTopOffset down to 0.
inline constexpr int64_t kSearchWindowBytes = 2500;
inline constexpr int64_t kSearchTopOffset = 2496;

// A plain value, copied freely: the window may probe into a copy and keep the old source
// until every probe has succeeded.
class CMpegSource {
public:
    static constexpr size_t kPathCapacity = PATH_MAX;

    // The source path, NUL-terminated; empty means no source. Set it through SetSourcePath.
    char m_szSourcePath[kPathCapacity] = {};
    // Size in bytes, as last measured by a probe or a split command.
    int64_t m_llFileSize = 0;
    // Offset of the second pack start code; the pack boundary search takes its parity rule
    // against it. 0 until a header probe succeeds.
    uint32_t m_nHeaderLength = 0;
    // Bytes copied in front of every output that does not start at offset 0. For a second
    // pack within the first 20,000 bytes the whole first pack (m_nHeaderLength); for a long
    // first pack only its pack header with the system headers and stream maps after it, so
    // no picture of the recording's start comes in front of a later piece.
    uint32_t m_nHeaderCopyLength = 0;
    // Length of the source in 100-ns units: from the stream's clock, else the stop position
    // the media framework reports.
    int64_t m_llDuration100ns = 0;
    // Whole seconds of m_llDuration100ns, truncated.
    int32_t m_nTotalSeconds = 0;
    EDurationSource m_eDurationSource = EDurationSource::None;

    // Stores a path. A path that does not fit the buffer with its terminator, or that holds a
    // NUL, is refused and the stored path is left as it was: it is never truncated.
    bool SetSourcePath(std::string_view path);
    void ClearSourcePath() { m_szSourcePath[0] = '\0'; }
    std::string SourcePath() const { return m_szSourcePath; }
    bool HasSourcePath() const { return m_szSourcePath[0] != '\0'; }

    // Opens the source, stores its size and finds the header length: the first pack start
    // code at offsets 4 to 19,996, else, for a file that starts with a well-formed pack, the
    // pack that follows its packets within the first 4 MiB. Every failure is reported: "Can
    // not open the mpeg file!", "my_lseeki64 is wrong for GetFileSizeEx", "Can not read the
    // mpeg file head!" or "Can not find the second pack in the mpeg file head!", all with the
    // caption "Error". The size stays stored even when a later step fails.
    bool ProbeHeader(IReporter& reporter, IFileSystem& fileSystem = PosixFileSystem());

    // Fills m_llDuration100ns, m_nTotalSeconds and m_eDurationSource: from the stream's own
    // clock (CStreamClock), else through the query. Shows nothing: the caller reports a
    // failure. Fails when the clock is not usable and the query is missing or fails; the
    // media framework is not asked at all for a stream with a usable clock.
    bool ProbeDuration(const StopPositionQuery& query, IFileSystem& fileSystem = PosixFileSystem());

    // Moves position back to the nearest pack start code at or below it whose distance from
    // the header length is even, reading `file` in 2,500-byte windows; 0 when none is found.
    // Uses m_llFileSize to tell a short read at the end of the file from a failed one.
    // On failure it has reported "my_lseeki64 is wrong(7)." (position unchanged) or
    // "Can not read the mpeg file head!" (position 0). Leaves the file position anywhere.
    bool FindPackBoundary(IFile* file, int64_t& position, IReporter& reporter) const;
};

// Opens the source for reading and measures its size into m_llFileSize, leaving the file at
// offset 0, as every split command and the header probe begin. Reports "Can not open the mpeg
// file!" or "my_lseeki64 is wrong for GetFileSizeEx" (caption "Error") and returns null.
std::unique_ptr<IFile> OpenAndMeasureSource(CMpegSource& source, IReporter& reporter,
                                            IFileSystem& fileSystem);

// The source information line: the file name, two blanks and (HH:MM:SS); hours unbounded.
std::string FormatSourceInfoLine(std::string_view fileName, int32_t totalSeconds);
