// The copy step: exactly the bytes of the 512-byte block rule, moved in large chunks.
#include "mpeg/rangecopier.h"

#include <algorithm>
#include <limits>

#include "mpeg/messages.h"

namespace {

constexpr int64_t kBlockBytes = 512;

}  // namespace

int64_t BlockRuleLength(int64_t start, int64_t end) {
    if (end <= start) {
        return 0;
    }
    const uint64_t span = static_cast<uint64_t>(end) - static_cast<uint64_t>(start);
    const uint64_t blocks = span / kBlockBytes + (span % kBlockBytes != 0 ? 1 : 0);
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    return static_cast<int64_t>(std::min(blocks * kBlockBytes, limit));
}

bool CRangeCopier::Fail(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output,
                        const std::string& text, bool applicationBox, CBusyCursor& cursor) {
    cursor.Lower();
    if (applicationBox) {
        m_reporter.ShowAppMessage(text);
    } else {
        m_reporter.ShowMessage(text, mpeg_text::kCaptionError);
    }
    output.reset();
    source.reset();
    return false;
}

bool CRangeCopier::CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output,
                             int64_t start, int64_t end, uint32_t headerLength,
                             const CopyMessages& messages, CBusyCursor& cursor) {
    if (m_buffer.empty()) {
        m_buffer.resize(kChunkBytes);
    }
    if (start != 0) {
        if (my_lseeki64(source.get(), 0, SeekOrigin::Begin) == -1) {
            return Fail(source, output, messages.headerSeek, false, cursor);
        }
        // The header is far smaller than a chunk: one read and one write. A short read (a
        // source shorter than its header) is copied as it is.
        int64_t remaining = headerLength;
        while (remaining > 0) {
            const auto ask = static_cast<size_t>(std::min<int64_t>(remaining, kChunkBytes));
            const int64_t got = source->Read(m_buffer.data(), ask);
            if (got < 0) {
                return Fail(source, output, messages.headerWrite, true, cursor);
            }
            if (got > 0 && output->Write(m_buffer.data(), static_cast<size_t>(got)) != got) {
                return Fail(source, output, messages.headerWrite, true, cursor);
            }
            if (got < static_cast<int64_t>(ask)) {
                break;
            }
            remaining -= got;
        }
    }
    if (my_lseeki64(source.get(), start, SeekOrigin::Begin) == -1) {
        return Fail(source, output, messages.startSeek, false, cursor);
    }
    int64_t remaining = BlockRuleLength(start, end);
    bool inKernel = true;
    while (remaining > 0) {
        int64_t moved = 0;
        if (inKernel) {
            moved = m_fileSystem.CopyChunk(*source, *output, remaining);
            if (moved == kCopyUnsupported) {
                inKernel = false;
                continue;
            }
            if (moved < 0) {
                return Fail(source, output, messages.blockWrite, true, cursor);
            }
        } else {
            const auto ask = static_cast<size_t>(std::min<int64_t>(remaining, kChunkBytes));
            moved = source->Read(m_buffer.data(), ask);
            if (moved < 0) {
                return Fail(source, output, messages.blockWrite, true, cursor);
            }
            if (moved > 0 && output->Write(m_buffer.data(), static_cast<size_t>(moved)) != moved) {
                return Fail(source, output, messages.blockWrite, true, cursor);
            }
        }
        if (moved == 0) {
            break;  // the end of the source: the last block is short
        }
        remaining -= moved;
    }
    return true;
}
