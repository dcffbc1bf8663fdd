// Time stamps of packs and packets moved by one shift.
#include "mpeg/clockshifter.h"

#include <algorithm>

#include "mpeg/audiojoint.h"
#include "mpeg/packscanner.h"

namespace {

constexpr size_t kNoUnit = 0;

bool IsStartCode(const unsigned char* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Packets whose header holds no time stamps: system header, stream map, padding, private
// stream 2, ECM, EMM, DSM-CC, H.222.1 type E, directory.
bool HasNoStamps(unsigned char id) {
    return id == 0xBB || id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 ||
           id == 0xF2 || id == 0xF8 || id == 0xFF;
}

// The length of the unit at p (a start code, `available` bytes at hand), kNoUnit when more
// bytes are needed to tell, or SIZE_MAX when it is no unit.
size_t UnitLength(const unsigned char* p, size_t available) {
    if (available < 4) {
        return kNoUnit;
    }
    const unsigned char id = p[3];
    if (id == 0xB9) {
        return 4;
    }
    if (id == 0xBA) {
        if (available < 5) {
            return kNoUnit;
        }
        if ((p[4] & 0xC0) == 0x40) {
            if (available < 14) {
                return kNoUnit;
            }
            return 14 + (p[13] & 0x07);
        }
        return 12;
    }
    if (id < 0xBB) {
        return SIZE_MAX;
    }
    if (available < 6) {
        return kNoUnit;
    }
    return 6 + (static_cast<size_t>(p[4]) << 8 | p[5]);
}

}  // namespace

std::optional<int64_t> PackHeaderScr(std::span<const unsigned char> bytes);

int64_t ReadStamp(const unsigned char* b) {
    return (int64_t{b[0]} >> 1 & 0x07) << 30 | int64_t{b[1]} << 22 | (int64_t{b[2]} >> 1) << 15 |
           int64_t{b[3]} << 7 | int64_t{b[4]} >> 1;
}

void WriteStamp(unsigned char* b, int64_t value) {
    b[0] = static_cast<unsigned char>((b[0] & 0xF1) | ((value >> 30) & 0x07) << 1);
    b[1] = static_cast<unsigned char>(value >> 22);
    b[2] = static_cast<unsigned char>((b[2] & 0x01) | ((value >> 15) & 0x7F) << 1);
    b[3] = static_cast<unsigned char>(value >> 7);
    b[4] = static_cast<unsigned char>((b[4] & 0x01) | (value & 0x7F) << 1);
}

int64_t CClockShifter::Shifted(int64_t value, int64_t shift) {
    const int64_t moved = (value + shift % kClockWrap) % kClockWrap;
    return moved < 0 ? moved + kClockWrap : moved;
}

void CClockShifter::ShiftUnit(unsigned char* p, size_t length) const {
    const unsigned char id = p[3];
    if (id == 0xBA) {
        if ((p[4] & 0xC0) == 0x40) {
            // MPEG-2: 01 scr[32..30] 1 scr[29..15] 1 scr[14..0] 1 ext, spread over 6 bytes.
            const int64_t v = Shifted(*PackHeaderScr({p, length}), m_llShift);
            p[4] = static_cast<unsigned char>((p[4] & 0xC4) | ((v >> 30) & 0x07) << 3 |
                                              ((v >> 28) & 0x03));
            p[5] = static_cast<unsigned char>(v >> 20);
            p[6] = static_cast<unsigned char>((p[6] & 0x04) | ((v >> 15) & 0x1F) << 3 |
                                              ((v >> 13) & 0x03));
            p[7] = static_cast<unsigned char>(v >> 5);
            p[8] = static_cast<unsigned char>((p[8] & 0x07) | (v & 0x1F) << 3);
        } else if (length >= 9) {
            WriteStamp(p + 4, Shifted(ReadStamp(p + 4), m_llShift));
        }
        return;
    }
    if (id < 0xBB || HasNoStamps(id)) {
        return;
    }
    if (const auto layout = ReadPesLayout(p, length)) {
        for (const auto at : {layout->m_ptsAt, layout->m_dtsAt}) {
            if (at) {
                WriteStamp(p + *at, Shifted(ReadStamp(p + *at), m_llShift));
            }
        }
    }
}

std::optional<CPesLayout> ReadPesLayout(const unsigned char* p, size_t length) {
    if (length < 9) {
        return std::nullopt;
    }
    CPesLayout layout;
    if ((p[6] & 0xC0) == 0x80) {
        const unsigned flags = p[7] >> 6;
        if ((flags & 0x02) != 0 && length >= 14) {
            layout.m_ptsAt = 9;
        }
        if (flags == 0x03 && length >= 19) {
            layout.m_dtsAt = 14;
        }
        layout.m_nHeaderEnd = 9 + size_t{p[8]};
        return layout;
    }
    size_t i = 6;
    while (i < length && i < 6 + 16 && p[i] == 0xFF) {
        ++i;
    }
    if (i + 1 < length && (p[i] & 0xC0) == 0x40) {
        i += 2;
    }
    if (i >= length) {
        return std::nullopt;
    }
    if ((p[i] & 0xF0) == 0x20) {
        if (i + 5 <= length) {
            layout.m_ptsAt = i;
        }
        layout.m_nHeaderEnd = i + 5;
    } else if ((p[i] & 0xF0) == 0x30) {
        if (i + 10 <= length) {
            layout.m_ptsAt = i;
            layout.m_dtsAt = i + 5;
        }
        layout.m_nHeaderEnd = i + 10;
    } else {
        layout.m_nHeaderEnd = i + 1;  // 0x0F: no time stamps
    }
    return layout;
}

void CClockShifter::Feed(std::span<const unsigned char> in, std::vector<unsigned char>& out) {
    m_pending.insert(m_pending.end(), in.begin(), in.end());
    unsigned char* data = m_pending.data();
    const size_t size = m_pending.size();
    size_t pos = 0;
    while (pos < size) {
        const size_t available = size - pos;
        if (available < 4) {
            break;
        }
        if (!IsStartCode(data + pos)) {
            // Bytes between units go out as they are, up to the next start code.
            size_t next = pos + 1;
            while (next + 3 <= size && !IsStartCode(data + next)) {
                ++next;
            }
            if (next + 3 > size) {
                next = size - 2;  // a start code may begin in the last two bytes
            }
            out.insert(out.end(), data + pos, data + next);
            pos = next;
            continue;
        }
        const size_t length = UnitLength(data + pos, available);
        if (length == kNoUnit) {
            break;
        }
        if (length == SIZE_MAX) {
            out.insert(out.end(), data + pos, data + pos + 1);
            ++pos;
            continue;
        }
        if (length > available) {
            break;
        }
        ShiftUnit(data + pos, length);
        if (m_pJoint != nullptr) {
            m_pJoint->OnUnit(data + pos, length);
        }
        out.insert(out.end(), data + pos, data + pos + length);
        pos += length;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(pos));
}

void CClockShifter::Finish(std::vector<unsigned char>& out) {
    out.insert(out.end(), m_pending.begin(), m_pending.end());
    m_pending.clear();
}

std::optional<int64_t> PackHeaderScr(std::span<const unsigned char> b) {
    if (b.size() < 12 || !IsStartCode(b.data()) || b[3] != 0xBA) {
        return std::nullopt;
    }
    if ((b[4] & 0xC0) == 0x40) {
        return (int64_t{b[4]} >> 3 & 0x07) << 30 | (int64_t{b[4]} & 0x03) << 28 |
               int64_t{b[5]} << 20 | (int64_t{b[6]} >> 3) << 15 | (int64_t{b[6]} & 0x03) << 13 |
               int64_t{b[7]} << 5 | int64_t{b[8]} >> 3;
    }
    return ReadStamp(b.data() + 4);
}
