// Clean pieces with moved clocks, appended to one output.
#include "mpeg/spanwriter.h"

#include <algorithm>

CSpanWriter::EResult CSpanWriter::Flush(IFile& output) {
    if (m_out.empty()) {
        return EResult::Written;
    }
    const int64_t wrote = output.Write(m_out.data(), m_out.size());
    if (wrote != static_cast<int64_t>(m_out.size())) {
        return EResult::WriteShort;
    }
    m_llWritten += wrote;
    m_progress.Advance(m_llWritten);
    m_out.clear();
    return EResult::Written;
}

CSpanWriter::EResult CSpanWriter::Emit(IFile& output, CClockShifter& shifter,
                                       const unsigned char* bytes, size_t count) {
    shifter.Feed({bytes, count}, m_out);
    return Flush(output);
}

CSpanWriter::EResult CSpanWriter::CopySource(IFile& source, IFile& output, CClockShifter& shifter,
                                             int64_t from, int64_t to,
                                             const std::optional<CBytePatch>& patch) {
    if (my_lseeki64(&source, from, SeekOrigin::Begin) != from) {
        return EResult::SeekFailed;
    }
    if (!m_buffer) {
        m_buffer = std::make_unique<unsigned char[]>(kBufferBytes);
    }
    for (int64_t at = from; at < to;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(to - at, kBufferBytes));
        // A source that ends early has shrunk since it was measured: the piece would lack data.
        if (source.Read(m_buffer.get(), want) != static_cast<int64_t>(want)) {
            return EResult::ReadShort;
        }
        if (patch && patch->m_llOffset >= at &&
            patch->m_llOffset < at + static_cast<int64_t>(want)) {
            m_buffer[static_cast<size_t>(patch->m_llOffset - at)] = patch->m_nValue;
        }
        if (const EResult result = Emit(output, shifter, m_buffer.get(), want);
            result != EResult::Written) {
            return result;
        }
        at += static_cast<int64_t>(want);
        if (m_stop.IsStopRequested()) {
            return EResult::Stopped;
        }
    }
    return EResult::Written;
}

CSpanWriter::EResult CSpanWriter::Write(IFile& source, IFile& output, const CExactCopy& layout,
                                        int64_t shift) {
    m_joint.BeginPiece();
    CClockShifter shifter(shift, &m_joint);
    EResult result = Emit(output, shifter, layout.m_prefix.data(), layout.m_prefix.size());
    if (result == EResult::Written && layout.m_parts.empty()) {
        result =
            CopySource(source, output, shifter, layout.m_llStart, layout.m_llEnd, layout.m_patch);
    }
    for (const CCopyPart& part : layout.m_parts) {
        if (result != EResult::Written) {
            break;
        }
        result = part.m_bLiteral ? Emit(output, shifter, part.m_bytes.data(), part.m_bytes.size())
                                 : CopySource(source, output, shifter, part.m_llFrom, part.m_llTo,
                                              layout.m_patch);
    }
    if (result != EResult::Written) {
        return result;
    }
    shifter.Finish(m_out);
    return Flush(output);
}
