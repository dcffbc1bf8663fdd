// Remembers how the output being written is written, so the notice after a signal can say what
// became of it.
#pragma once

#include "mpeg/progress.h"

class COutputWatch final : public IProgress {
public:
    // Passes every report on to inner, which must outlive the watch.
    explicit COutputWatch(IProgress& inner) : m_inner(inner) {}

    void BeginOutput(const CProgressOutput& output) override;
    void Advance(int64_t written) override;

    // True once an output was begun.
    bool Begun() const { return m_bBegun; }
    // True when the output begun last is written into the existing file itself.
    bool InPlace() const { return m_bInPlace; }

private:
    IProgress& m_inner;
    bool m_bBegun = false;
    bool m_bInPlace = false;
};
