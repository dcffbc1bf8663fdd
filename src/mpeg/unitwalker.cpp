// The forward walk over the system layer: which window to read next, noise passed over to the
// next pack, a failed read told apart from the end.
#include "mpeg/unitwalker.h"

#include <algorithm>

void CUnitWalker::Start(int64_t begin, int64_t end, bool sync, ENoise noise) {
    m_llBegin = begin;
    m_llEnd = end;
    m_eNoise = noise;
    m_bNeedSync = sync;
    m_bWindowRead = false;
    m_bWindowAtEnd = false;
    m_bDone = begin >= end;
    m_bGap = false;
    m_eFailure = EFailure::None;
}

bool CUnitWalker::Next(CPsUnit& unit) {
    m_bGap = false;
    if (!m_bDone && !m_bWindowRead && !Read(m_llBegin)) {
        return false;
    }
    for (;;) {
        if (m_bDone) {
            return false;
        }
        if (m_bNeedSync) {
            m_bNeedSync = false;
            if (!Sync()) {
                return false;
            }
        }
        const int64_t at = m_scanner.Position();
        if (at >= m_llEnd) {
            return Finish();
        }
        if (m_scanner.Next(unit)) {
            // A unit the window cuts is read again, whole as far as the walk reaches.
            if (!m_bWindowAtEnd &&
                m_scanner.WindowEnd() < std::min(unit.m_llOffset + unit.m_llLength, m_llEnd)) {
                if (!Read(unit.m_llOffset)) {
                    return false;
                }
                continue;
            }
            return true;
        }
        // The window's end cut the unit's header: it is read again in the next.
        if (!m_bWindowAtEnd && static_cast<int64_t>(m_scanner.BytesAvailable(at)) < kHeaderSlack) {
            if (!Read(at)) {
                return false;
            }
            continue;
        }
        // Noise, or a unit the file's end cuts.
        if (m_eNoise == ENoise::Stop) {
            return Finish();
        }
        m_bGap = true;
        m_scanner.SetPosition(at + 1);
        m_bNeedSync = true;
    }
}

std::span<const unsigned char> CUnitWalker::Bytes(const CPsUnit& unit) const {
    return Span(unit.m_llOffset, unit.m_llLength);
}

std::span<const unsigned char> CUnitWalker::Payload(const CPsUnit& unit) const {
    return Span(unit.m_llPayloadOffset, unit.m_llPayloadLength);
}

bool CUnitWalker::Walk(int64_t begin, int64_t end, bool sync, ENoise noise,
                       const std::function<bool(const CPsUnit&)>& visit) {
    Start(begin, end, sync, noise);
    CPsUnit unit;
    while (Next(unit)) {
        if (!visit(unit)) {
            return true;
        }
    }
    return !Failed();
}

bool CUnitWalker::Read(int64_t offset) {
    m_bWindowRead = true;
    // Reading past the walk's end only for the header of its last unit keeps a short walk a
    // short read.
    int64_t request = std::min(m_llWindowBytes - kHeaderSlack, m_llEnd - offset) + kHeaderSlack;
    if (m_llSize) {
        request = std::max<int64_t>(0, std::min(request, *m_llSize - offset));
    }
    if (!m_scanner.ReadWindow(offset, request)) {
        m_eFailure = m_scanner.SeekFailed() ? EFailure::Seek : EFailure::Read;
        m_bDone = true;
        return false;
    }
    const int64_t got = m_scanner.WindowEnd() - offset;
    if (m_llSize && got < request) {
        // The file ended before the size it was known to have: it shrank, or the read failed.
        m_eFailure = EFailure::Read;
        m_bDone = true;
        return false;
    }
    m_bWindowAtEnd = m_llSize ? m_scanner.WindowEnd() >= *m_llSize : got < request;
    return true;
}

bool CUnitWalker::Sync() {
    for (;;) {
        const int64_t from = m_scanner.Position();
        if (m_scanner.SyncToPack()) {
            return true;
        }
        // A pack header the window's end cut is found again in the next window.
        const int64_t next = std::max(from, m_scanner.WindowEnd() - kHeaderSlack);
        if (m_bWindowAtEnd || next >= m_llEnd) {
            return Finish();
        }
        if (!Read(next)) {
            return false;
        }
    }
}

bool CUnitWalker::Finish() {
    m_bDone = true;
    return false;
}

std::span<const unsigned char> CUnitWalker::Span(int64_t offset, int64_t length) const {
    const unsigned char* bytes = m_scanner.BytesAt(offset);
    if (bytes == nullptr || length <= 0) {
        return {};
    }
    return {bytes, std::min(m_scanner.BytesAvailable(offset), static_cast<size_t>(length))};
}
