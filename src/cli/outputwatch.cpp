#include "cli/outputwatch.h"

void COutputWatch::BeginOutput(const CProgressOutput& output) {
    m_bBegun = true;
    m_bInPlace = output.m_bInPlace;
    m_inner.BeginOutput(output);
}

void COutputWatch::Advance(int64_t written) {
    m_inner.Advance(written);
}
