// How far a command has got, told as it writes: the window shows it as a bar with the name of
// the file being written, the command-line tool as a line on a terminal. Beside IStopRequest,
// which the same loop polls.
#pragma once

#include <cstdint>
#include <string>

// One output of a command, as it is begun.
struct CProgressOutput {
    int32_t m_nIndex = 0;  // 0 for the first output of the command
    int32_t m_nCount = 1;  // outputs the command writes unless it stops early
    std::string m_strPath;
    int64_t m_llBytes = 0;  // what this output holds when complete
    // Bytes the earlier outputs of this command hold, and what all of them will hold: exact
    // for the last output; before it, the part of the source not yet cut counts as it would be
    // copied, with one header for each piece still to come.
    int64_t m_llRunDone = 0;
    int64_t m_llRunBytes = 0;
    // Written into the existing file itself: a stop or failure leaves it incomplete.
    bool m_bInPlace = false;
};

class IProgress {
public:
    virtual ~IProgress() = default;

    // Called on the command's thread, between chunks of the copy: must be cheap and must not
    // block. A stopped or failed command simply calls nothing more.

    // The output is about to be written.
    virtual void BeginOutput(const CProgressOutput& output) = 0;
    // `written` bytes of the current output are written: never fewer than the call before,
    // and its m_llBytes exactly once, when the output is complete.
    virtual void Advance(int64_t written) = 0;
};

// The progress of a command nobody watches.
class CNoProgress final : public IProgress {
public:
    void BeginOutput(const CProgressOutput&) override {}
    void Advance(int64_t) override {}
};

// One shared instance, for callers that show no progress.
inline IProgress& NoProgress() {
    static CNoProgress none;
    return none;
}
