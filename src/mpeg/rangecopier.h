// CopyRange, the copy step shared by the three split commands, with its output layout: the
// source header unless the range starts at offset 0, then the source from the start offset in
// whole 512-byte blocks until the end offset is reached or passed (the last block may run up
// to 511 bytes past the end, or stop short at the end of the source).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mpeg/reporter.h"
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

class CRangeCopier {
public:
    // The bytes of the block rule move in chunks of this size (or inside the kernel), so the
    // speed is the disk's while memory stays bounded whatever the size of the source.
    static constexpr size_t kChunkBytes = size_t{1} << 20;

    CRangeCopier(IFileSystem& fileSystem, IReporter& reporter)
        : m_fileSystem(fileSystem), m_reporter(reporter) {}

    // Copies per the layout above from the source to the output, both open. On failure it has
    // lowered the busy cursor, shown the message and closed (reset) both files; on success
    // both are still open, the output not yet closed. A failed read counts as a block not
    // copied in full, since the output would silently lack data.
    bool CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output, int64_t start,
                   int64_t end, uint32_t headerLength, const CopyMessages& messages,
                   CBusyCursor& cursor);

private:
    bool Fail(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output,
              const std::string& text, bool applicationBox, CBusyCursor& cursor);

    IFileSystem& m_fileSystem;
    IReporter& m_reporter;
    std::vector<char> m_buffer;  // kChunkBytes once the first plain copy needs it
};
