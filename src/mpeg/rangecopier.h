// CopyRange, the copy step shared by the three split commands, with its output layout: the
// source header unless the range starts at offset 0, then the source from the start offset in
// whole 512-byte blocks until the end offset is reached or passed (the last block may run up
// to 511 bytes past the end, or stop short at the end of the source). CopyExact, its twin for
// clean cuts, copies a prefix and then exactly a range of whole packs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mpeg/progress.h"
#include "mpeg/reporter.h"
#include "mpeg/stoprequest.h"
#include "platform/io/fileio.h"

// The four texts of the calling command, each bound to its one place.
struct CopyMessages {
    std::string headerSeek;   // seek to offset 0 for the header failed (caption "Error")
    std::string startSeek;    // seek to the start offset failed (caption "Error")
    std::string headerWrite;  // header not copied in full (application message box)
    std::string blockWrite;   // a block not copied in full (application message box)
};

// Bytes a copy from start to end produces after the header, before the end of the source
// cuts it short: whole 512-byte blocks covering [start, end), 0 when end <= start.
int64_t BlockRuleLength(int64_t start, int64_t end);

// For CopyRange: the caller did not measure the source, so its end ends a copy early.
inline constexpr int64_t kSourceSizeUnknown = -1;

// What a complete CopyRange writes from a source of sourceSize bytes (measured): the header
// unless start is 0, then the block rule, both cut short at the end of the source.
int64_t CopyRangeBytes(int64_t start, int64_t end, uint32_t headerLength, int64_t sourceSize);

// One source byte that the output carries with another value.
struct CBytePatch {
    int64_t m_llOffset = 0;  // in the source
    unsigned char m_nValue = 0;
};

// A part of a clean piece after its prefix: the source bytes [m_llFrom, m_llTo) as they
// are, or bytes written as given.
struct CCopyPart {
    bool m_bLiteral = false;
    int64_t m_llFrom = 0;
    int64_t m_llTo = 0;
    std::vector<unsigned char> m_bytes;  // m_bLiteral only
};

// The layout of a clean piece: the prefix as given, then its parts in order, or without parts
// exactly the source bytes of [m_llStart, m_llEnd); the patched byte, if any, in place of the
// source's where a source range holds it (a literal part carries it already).
struct CExactCopy {
    std::vector<unsigned char> m_prefix;
    int64_t m_llStart = 0;
    int64_t m_llEnd = 0;
    std::optional<CBytePatch> m_patch;
    std::vector<CCopyPart> m_parts;

    // The bytes the piece holds.
    int64_t Bytes() const;
};

class CRangeCopier {
public:
    // Where the kernel cannot copy, the bytes pass through a buffer of this size, small enough
    // to stay in the processor's cache between the read and the write.
    static constexpr size_t kBufferBytes = size_t{256} << 10;
    // Between two looks at the stop request and two progress reports the copy moves one chunk:
    // its size follows the speed of the disk so that a chunk takes about kChunkSeconds, within
    // these bounds. Large enough that the work between chunks costs nothing measurable, short
    // enough that a stop is obeyed within a fraction of a second.
    static constexpr int64_t kFirstChunkBytes = int64_t{8} << 20;
    static constexpr int64_t kMinChunkBytes = int64_t{1} << 20;
    static constexpr int64_t kMaxChunkBytes = int64_t{64} << 20;
    static constexpr double kChunkSeconds = 0.025;

    CRangeCopier(IFileSystem& fileSystem, IReporter& reporter,
                 const IStopRequest& stop = NeverStop(), IProgress& progress = NoProgress())
        : m_fileSystem(fileSystem), m_reporter(reporter), m_stop(stop), m_progress(progress) {}

    // Copies per the layout above from the source to the output, both open. On failure it has
    // lowered the busy cursor, shown the message and closed (reset) both files, which removes
    // an output that is not yet in place; on success both are still open, the output not yet
    // closed. A failed read counts as a block not copied in full, since the output would
    // silently lack data. sourceSize is the size measured when the command opened the source:
    // a source that ends before the end of the block rule or this size, whichever comes first,
    // has shrunk, and the copy fails with the write message of the part it was in. A stop
    // request, polled between chunks, ends the copy the same way but shows nothing. The
    // progress hears of the bytes written after the header and after each chunk (Advance).
    bool CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output, int64_t start,
                   int64_t end, uint32_t headerLength, const CopyMessages& messages,
                   CBusyCursor& cursor, int64_t sourceSize = kSourceSizeUnknown);
    bool CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IOutputFile>& output,
                   int64_t start, int64_t end, uint32_t headerLength, const CopyMessages& messages,
                   CBusyCursor& cursor, int64_t sourceSize = kSourceSizeUnknown);

    // Copies a clean piece per its layout, with the same contract as CopyRange: the header
    // messages for the prefix, the block messages for the range. A source that ends before
    // the range does has shrunk: the copy fails with the block message.
    bool CopyExact(std::unique_ptr<IFile>& source, std::unique_ptr<IOutputFile>& output,
                   const CExactCopy& copy, const CopyMessages& messages, CBusyCursor& cursor);

    // True when the last CopyRange or CopyExact ended because a stop was requested.
    bool Stopped() const { return m_bStopped; }

private:
    enum class Outcome {
        Copied,
        HeaderSeekFailed,
        StartSeekFailed,
        HeaderShort,
        BlockShort,
        Stopped
    };

    Outcome Copy(IFile& source, IFile& output, int64_t start, int64_t end, uint32_t headerLength,
                 int64_t sourceSize);
    Outcome CopyExactly(IFile& source, IFile& output, const CExactCopy& copy);
    // Source bytes [from, to), `patch` applied: the bytes up to the source's next block
    // boundary through the buffer, the rest in the kernel, so that a file system that shares
    // blocks between files gets whole blocks to share.
    Outcome CopySource(IFile& source, IFile& output, int64_t from, int64_t to,
                       const std::optional<CBytePatch>& patch);
    // Moves up to `count` bytes from the source's position to the output's, in chunks, polling
    // the stop request and telling the progress after each; `moved` counts what came before
    // the source ended.
    Outcome Move(IFile& source, IFile& output, int64_t count, int64_t& moved);
    // One chunk of a Move: in the kernel while it can, else through the buffer. The count
    // moved, 0 at the end of the source, -1 on a failure.
    int64_t MoveChunk(IFile& source, IFile& output, int64_t count);
    // The bytes of the current output are written: the progress hears of them.
    void Wrote(int64_t count);
    template <typename Output>
    bool CopyRangeTo(std::unique_ptr<IFile>& source, std::unique_ptr<Output>& output, int64_t start,
                     int64_t end, uint32_t headerLength, const CopyMessages& messages,
                     CBusyCursor& cursor, int64_t sourceSize);
    template <typename Output>
    bool Conclude(Outcome outcome, std::unique_ptr<IFile>& source, std::unique_ptr<Output>& output,
                  const CopyMessages& messages, CBusyCursor& cursor);

    IFileSystem& m_fileSystem;
    IReporter& m_reporter;
    const IStopRequest& m_stop;
    IProgress& m_progress;
    bool m_bStopped = false;
    bool m_bInKernel = true;  // for the current output
    int64_t m_llWritten = 0;  // bytes of the current output
    int64_t m_llChunkBytes = kFirstChunkBytes;
    std::unique_ptr<char[]> m_buffer;  // kBufferBytes once the first copy needs it
};
