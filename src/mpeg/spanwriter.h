// Writes clean pieces of a source one after the other into one output, each with its clock
// moved so that it follows the piece before without a jump. The bytes pass through a buffer of
// fixed size, where their time stamps are rewritten (CClockShifter); nothing else changes.
#pragma once

#include <cstdint>
#include <memory>

#include "mpeg/audiojoint.h"
#include "mpeg/clockshifter.h"
#include "mpeg/progress.h"
#include "mpeg/rangecopier.h"
#include "mpeg/stoprequest.h"
#include "platform/io/fileio.h"

class CSpanWriter {
public:
    static constexpr size_t kBufferBytes = size_t{1} << 20;

    enum class EResult { Written, SeekFailed, ReadShort, WriteShort, Stopped };

    // The progress hears of the output's bytes written, counted from `written` on.
    CSpanWriter(const IStopRequest& stop, IProgress& progress, int64_t written = 0)
        : m_stop(stop), m_progress(progress), m_llWritten(written) {}

    // Appends the piece of `layout` to the output at its position, every SCR, PTS and DTS
    // moved by `shift` 90 kHz units; its sound that would play before the end of the sound
    // of the pieces before is left out (CAudioJoint). The stop request is polled after each
    // buffer.
    EResult Write(IFile& source, IFile& output, const CExactCopy& layout, int64_t shift);

    int64_t Written() const { return m_llWritten; }

private:
    EResult Emit(IFile& output, CClockShifter& shifter, const unsigned char* bytes, size_t count);
    EResult CopySource(IFile& source, IFile& output, CClockShifter& shifter, int64_t from,
                       int64_t to, const std::optional<CBytePatch>& patch);
    EResult Flush(IFile& output);

    const IStopRequest& m_stop;
    IProgress& m_progress;
    int64_t m_llWritten;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::vector<unsigned char> m_out;
    CAudioJoint m_joint;
};
