// The copy step: exactly the bytes of the 512-byte block rule, moved in large chunks.
#include "mpeg/rangecopier.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "mpeg/messages.h"

namespace {

constexpr int64_t kBlockBytes = 512;
// The block that file systems share between files (XFS, Btrfs): a range copied in the kernel
// shares its blocks only where both offsets fall on its boundaries.
constexpr int64_t kShareBlock = 4096;

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

int64_t CopyRangeBytes(int64_t start, int64_t end, uint32_t headerLength, int64_t sourceSize) {
    if (start < 0 || sourceSize <= start) {
        return 0;
    }
    const int64_t header = start != 0 ? std::min<int64_t>(headerLength, sourceSize) : 0;
    return header + std::min(BlockRuleLength(start, end), sourceSize - start);
}

template <typename Output>
bool CRangeCopier::Conclude(Outcome outcome, std::unique_ptr<IFile>& source,
                            std::unique_ptr<Output>& output, const CopyMessages& messages,
                            CBusyCursor& cursor) {
    m_bStopped = outcome == Outcome::Stopped;
    if (outcome == Outcome::Copied) {
        return true;
    }
    cursor.Lower();
    switch (outcome) {
        case Outcome::HeaderSeekFailed:
            m_reporter.ShowMessage(messages.headerSeek, mpeg_text::kCaptionError);
            break;
        case Outcome::StartSeekFailed:
            m_reporter.ShowMessage(messages.startSeek, mpeg_text::kCaptionError);
            break;
        case Outcome::HeaderShort:
            m_reporter.ShowAppMessage(messages.headerWrite);
            break;
        case Outcome::BlockShort:
            m_reporter.ShowAppMessage(messages.blockWrite);
            break;
        case Outcome::Stopped:
        case Outcome::Copied:
            break;
    }
    output.reset();
    source.reset();
    return false;
}

template <typename Output>
bool CRangeCopier::CopyRangeTo(std::unique_ptr<IFile>& source, std::unique_ptr<Output>& output,
                               int64_t start, int64_t end, uint32_t headerLength,
                               const CopyMessages& messages, CBusyCursor& cursor,
                               int64_t sourceSize) {
    // A missing file fails the first seek, as my_lseeki64 does for a null file.
    if (!source || !output) {
        return Conclude(start != 0 ? Outcome::HeaderSeekFailed : Outcome::StartSeekFailed, source,
                        output, messages, cursor);
    }
    return Conclude(Copy(*source, *output, start, end, headerLength, sourceSize), source, output,
                    messages, cursor);
}

bool CRangeCopier::CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IFile>& output,
                             int64_t start, int64_t end, uint32_t headerLength,
                             const CopyMessages& messages, CBusyCursor& cursor,
                             int64_t sourceSize) {
    return CopyRangeTo(source, output, start, end, headerLength, messages, cursor, sourceSize);
}

bool CRangeCopier::CopyRange(std::unique_ptr<IFile>& source, std::unique_ptr<IOutputFile>& output,
                             int64_t start, int64_t end, uint32_t headerLength,
                             const CopyMessages& messages, CBusyCursor& cursor,
                             int64_t sourceSize) {
    return CopyRangeTo(source, output, start, end, headerLength, messages, cursor, sourceSize);
}

CRangeCopier::Outcome CRangeCopier::Copy(IFile& source, IFile& output, int64_t start, int64_t end,
                                         uint32_t headerLength, int64_t sourceSize) {
    // Not cleared: only the bytes read into it are ever used, and a copy that runs in the
    // kernel touches no more than the header's pages.
    m_bInKernel = true;
    if (!m_buffer) {
        m_buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
    }
    const bool measured = sourceSize != kSourceSizeUnknown;
    m_llWritten = 0;
    if (start != 0) {
        if (my_lseeki64(&source, 0, SeekOrigin::Begin) == -1) {
            return Outcome::HeaderSeekFailed;
        }
        // A source shorter than its header when it was measured is copied as it is.
        int64_t remaining = headerLength;
        int64_t copied = 0;
        while (remaining > 0) {
            const auto ask = static_cast<size_t>(std::min<int64_t>(remaining, kBufferBytes));
            const int64_t got = source.Read(m_buffer.get(), ask);
            if (got < 0) {
                return Outcome::HeaderShort;
            }
            if (got > 0 && output.Write(m_buffer.get(), static_cast<size_t>(got)) != got) {
                return Outcome::HeaderShort;
            }
            copied += got;
            if (got < static_cast<int64_t>(ask)) {
                break;
            }
            remaining -= got;
        }
        if (measured && copied < std::min<int64_t>(headerLength, sourceSize)) {
            return Outcome::HeaderShort;
        }
        Wrote(copied);
    }
    if (my_lseeki64(&source, start, SeekOrigin::Begin) == -1) {
        return Outcome::StartSeekFailed;
    }
    const int64_t length = BlockRuleLength(start, end);
    // What the source must deliver: the block rule, cut short only by the end it had when
    // the command measured it.
    int64_t due = 0;
    if (measured && sourceSize > start) {
        due = std::min(length, sourceSize - start);
    }
    int64_t copied = 0;
    const Outcome outcome = Move(source, output, length, copied);
    if (outcome != Outcome::Copied) {
        return outcome;
    }
    return copied < due ? Outcome::BlockShort : Outcome::Copied;
}

CRangeCopier::Outcome CRangeCopier::Move(IFile& source, IFile& output, int64_t count,
                                         int64_t& moved) {
    moved = 0;
    int64_t remaining = count;
    while (remaining > 0) {
        if (m_stop.IsStopRequested()) {
            return Outcome::Stopped;
        }
        const auto begun = std::chrono::steady_clock::now();
        const int64_t step = MoveChunk(source, output, std::min(remaining, m_llChunkBytes));
        if (step < 0) {
            return Outcome::BlockShort;
        }
        if (step == 0) {
            break;  // the end of the source
        }
        remaining -= step;
        moved += step;
        Wrote(step);
        // The next chunk takes about kChunkSeconds at the speed this one went; a short last
        // piece says too little about the speed.
        if (step >= kMinChunkBytes) {
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
            const double scaled =
                static_cast<double>(step) * kChunkSeconds / std::max(took.count(), 1e-6);
            // Whole blocks, so that chunks that start on a block boundary all do.
            m_llChunkBytes =
                std::clamp(static_cast<int64_t>(std::min(scaled, 1e18)), kMinChunkBytes,
                           std::min(kMaxChunkBytes, m_llChunkBytes * 2)) /
                kShareBlock * kShareBlock;
        }
    }
    return Outcome::Copied;
}

void CRangeCopier::Wrote(int64_t count) {
    if (count > 0) {
        m_llWritten += count;
        m_progress.Advance(m_llWritten);
    }
}

bool CRangeCopier::CopyExact(std::unique_ptr<IFile>& source, std::unique_ptr<IOutputFile>& output,
                             const CExactCopy& copy, const CopyMessages& messages,
                             CBusyCursor& cursor) {
    if (!source || !output) {
        return Conclude(Outcome::StartSeekFailed, source, output, messages, cursor);
    }
    return Conclude(CopyExactly(*source, *output, copy), source, output, messages, cursor);
}

CRangeCopier::Outcome CRangeCopier::CopyExactly(IFile& source, IFile& output,
                                                const CExactCopy& copy) {
    if (!m_buffer) {
        m_buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
    }
    m_bInKernel = true;
    m_llWritten = 0;
    if (!copy.m_prefix.empty() && output.Write(copy.m_prefix.data(), copy.m_prefix.size()) !=
                                      static_cast<int64_t>(copy.m_prefix.size())) {
        return Outcome::HeaderShort;
    }
    Wrote(static_cast<int64_t>(copy.m_prefix.size()));
    if (copy.m_parts.empty()) {
        return CopySource(source, output, copy.m_llStart, copy.m_llEnd, copy.m_patch);
    }
    for (const CCopyPart& part : copy.m_parts) {
        if (!part.m_bLiteral) {
            const Outcome outcome =
                CopySource(source, output, part.m_llFrom, part.m_llTo, copy.m_patch);
            if (outcome != Outcome::Copied) {
                return outcome;
            }
        } else if (!part.m_bytes.empty()) {
            if (output.Write(part.m_bytes.data(), part.m_bytes.size()) !=
                static_cast<int64_t>(part.m_bytes.size())) {
                return Outcome::BlockShort;
            }
            Wrote(static_cast<int64_t>(part.m_bytes.size()));
        }
    }
    return Outcome::Copied;
}

CRangeCopier::Outcome CRangeCopier::CopySource(IFile& source, IFile& output, int64_t from,
                                               int64_t to, const std::optional<CBytePatch>& patch) {
    if (from >= to) {
        return Outcome::Copied;
    }
    if (my_lseeki64(&source, from, SeekOrigin::Begin) == -1) {
        return Outcome::StartSeekFailed;
    }
    const bool patched = patch && patch->m_llOffset >= from && patch->m_llOffset < to;
    int64_t at = from;
    while (at < to) {
        const int64_t stop = patched && at <= patch->m_llOffset ? patch->m_llOffset : to;
        if (at == stop) {  // the patched byte
            unsigned char original = 0;
            if (source.Read(&original, 1) != 1 || output.Write(&patch->m_nValue, 1) != 1) {
                return Outcome::BlockShort;
            }
            Wrote(1);
            ++at;
            continue;
        }
        // The partial block first, written as it is.
        const int64_t head =
            std::min(stop, (at + kShareBlock - 1) / kShareBlock * kShareBlock) - at;
        if (head > 0 && head < stop - at) {
            const int64_t got = source.Read(m_buffer.get(), static_cast<size_t>(head));
            if (got != head || output.Write(m_buffer.get(), static_cast<size_t>(head)) != head) {
                return Outcome::BlockShort;
            }
            Wrote(head);
            at += head;
        }
        int64_t moved = 0;
        const Outcome outcome = Move(source, output, stop - at, moved);
        if (outcome != Outcome::Copied) {
            return outcome;
        }
        if (moved < stop - at) {
            return Outcome::BlockShort;
        }
        at = stop;
    }
    return Outcome::Copied;
}

int64_t CExactCopy::Bytes() const {
    int64_t bytes = static_cast<int64_t>(m_prefix.size());
    if (m_parts.empty()) {
        return bytes + (m_llEnd - m_llStart);
    }
    for (const CCopyPart& part : m_parts) {
        bytes += part.m_bLiteral ? static_cast<int64_t>(part.m_bytes.size())
                                 : part.m_llTo - part.m_llFrom;
    }
    return bytes;
}

int64_t CRangeCopier::MoveChunk(IFile& source, IFile& output, int64_t count) {
    if (m_bInKernel) {
        const int64_t moved = m_fileSystem.CopyChunk(source, output, count);
        if (moved != kCopyUnsupported) {
            return moved < 0 ? -1 : moved;
        }
        m_bInKernel = false;
    }
    int64_t moved = 0;
    while (moved < count) {
        const auto ask = static_cast<size_t>(std::min<int64_t>(count - moved, kBufferBytes));
        const int64_t got = source.Read(m_buffer.get(), ask);
        if (got < 0) {
            return -1;
        }
        if (got > 0 && output.Write(m_buffer.get(), static_cast<size_t>(got)) != got) {
            return -1;
        }
        moved += got;
        if (got < static_cast<int64_t>(ask)) {
            break;
        }
    }
    return moved;
}
