// The system layer of a program stream, unit by unit, over a window read in one piece.
#include "mpeg/packscanner.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsStartCodePrefix(const unsigned char* bytes) {
    return bytes[0] == 0x00 && bytes[1] == 0x00 && bytes[2] == 0x01;
}

// Streams whose packets carry no PES header fields after the length (ISO/IEC 13818-1, 2.4.3.7).
bool HasNoPesHeader(uint8_t streamId) {
    switch (streamId) {
        case kStreamMapId:
        case kPaddingId:
        case kPrivateStream2Id:
        case 0xF0:  // ECM
        case 0xF1:  // EMM
        case 0xF2:  // DSM-CC
        case 0xF8:  // H.222.1 type E
        case 0xFF:  // program stream directory
            return true;
        default:
            return false;
    }
}

}  // namespace

int64_t ParseTimeStamp(const unsigned char* bytes) {
    return (int64_t{bytes[0] & 0x0E} << 29) | (int64_t{bytes[1]} << 22) |
           (int64_t{bytes[2] & 0xFE} << 14) | (int64_t{bytes[3]} << 7) | (bytes[4] >> 1);
}

bool TimeStampMarkersSet(const unsigned char* bytes) {
    return (bytes[0] & 0x01) != 0 && (bytes[2] & 0x01) != 0 && (bytes[4] & 0x01) != 0;
}

int64_t ClockDifference(int64_t a, int64_t b) {
    int64_t difference = (a - b) % kClockWrap;
    if (difference < 0) {
        difference += kClockWrap;
    }
    return difference >= kClockWrap / 2 ? difference - kClockWrap : difference;
}

bool ParsePackHeader(const unsigned char* bytes, size_t available, CPackHeader& header) {
    if (available < 12 || !IsStartCodePrefix(bytes) || bytes[3] != kPackId) {
        return false;
    }
    const unsigned char* b = bytes + 4;
    if ((b[0] & 0xC0) == 0x40) {
        // MPEG-2: '01', SCR with three marker bits, its extension, the mux rate, stuffing.
        if (available < 14 || (b[0] & 0x04) == 0 || (b[2] & 0x04) == 0 || (b[4] & 0x04) == 0 ||
            (b[5] & 0x01) == 0) {
            return false;
        }
        const uint32_t stuffing = b[9] & 0x07;
        if (available < 14 + stuffing) {
            return false;
        }
        header.m_bMpeg2 = true;
        header.m_nLength = 14 + stuffing;
        header.m_llScr = (int64_t{b[0] & 0x38} << 27) | (int64_t{b[0] & 0x03} << 28) |
                         (int64_t{b[1]} << 20) | (int64_t{b[2] & 0xF8} << 12) |
                         (int64_t{b[2] & 0x03} << 13) | (int64_t{b[3]} << 5) | (b[4] >> 3);
        header.m_nScrExtension = (static_cast<uint32_t>(b[4] & 0x03) << 7) | (b[5] >> 1);
        header.m_nMuxRate = (uint32_t{b[6]} << 14) | (uint32_t{b[7]} << 6) | (b[8] >> 2);
        return true;
    }
    if ((b[0] & 0xF0) == 0x20) {
        // MPEG-1: '0010', SCR with markers, then '1', the mux rate and '1'.
        if ((b[0] & 0x01) == 0 || (b[2] & 0x01) == 0 || (b[4] & 0x01) == 0) {
            return false;
        }
        header.m_bMpeg2 = false;
        header.m_nLength = 12;
        header.m_llScr = ParseTimeStamp(b);
        header.m_nScrExtension = 0;
        header.m_nMuxRate =
            (static_cast<uint32_t>(b[5] & 0x7F) << 15) | (uint32_t{b[6]} << 7) | (b[7] >> 1);
        return true;
    }
    return false;
}

bool CPackScanner::ReadWindow(int64_t offset, int64_t length) {
    m_window.clear();
    m_llWindowOffset = offset;
    m_llPosition = offset;
    length = std::clamp<int64_t>(length, 0, kMaxWindowBytes);
    m_bSeekFailed = my_lseeki64(&m_file, offset, SeekOrigin::Begin) == -1;
    if (m_bSeekFailed) {
        return false;
    }
    m_window.resize(static_cast<size_t>(length));
    const int64_t got = m_file.Read(m_window.data(), m_window.size());
    if (got < 0) {
        m_window.clear();
        return false;
    }
    m_window.resize(static_cast<size_t>(got));
    return true;
}

const unsigned char* CPackScanner::BytesAt(int64_t offset) const {
    if (offset < m_llWindowOffset || offset >= WindowEnd()) {
        return nullptr;
    }
    return m_window.data() + (offset - m_llWindowOffset);
}

size_t CPackScanner::BytesAvailable(int64_t offset) const {
    if (offset < m_llWindowOffset || offset >= WindowEnd()) {
        return 0;
    }
    return static_cast<size_t>(WindowEnd() - offset);
}

std::optional<int64_t> CPackScanner::FindStartCode(int64_t from, uint8_t code) const {
    from = std::max(from, m_llWindowOffset);
    const unsigned char* const end = m_window.data() + m_window.size();
    const unsigned char* at = BytesAt(from);
    // Look for the 01 of each candidate: it is at least two bytes into it.
    while (at != nullptr && end - at >= 4) {
        const auto* one =
            static_cast<const unsigned char*>(std::memchr(at + 2, 0x01, end - at - 3));
        if (one == nullptr) {
            break;
        }
        if (one[-1] == 0x00 && one[-2] == 0x00 && one[1] == code) {
            return m_llWindowOffset + (one - 2 - m_window.data());
        }
        at = one - 1;
    }
    return std::nullopt;
}

bool CPackScanner::SyncToPack() {
    for (int64_t from = m_llPosition;;) {
        const std::optional<int64_t> found = FindStartCode(from, kPackId);
        if (!found) {
            m_llPosition = WindowEnd();
            return false;
        }
        CPackHeader header;
        const unsigned char* bytes = BytesAt(*found);
        const size_t available = BytesAvailable(*found);
        if (ParsePackHeader(bytes, available, header) && available >= header.m_nLength + 4 &&
            IsStartCodePrefix(bytes + header.m_nLength) &&
            bytes[header.m_nLength + 3] >= kEndCodeId) {
            m_llPosition = *found;
            return true;
        }
        from = *found + 1;
    }
}

bool CPackScanner::Next(CPsUnit& unit) {
    const unsigned char* bytes = BytesAt(m_llPosition);
    const size_t available = BytesAvailable(m_llPosition);
    if (available < 4 || !IsStartCodePrefix(bytes)) {
        return false;
    }
    unit = CPsUnit{};
    unit.m_llOffset = m_llPosition;
    unit.m_nStreamId = bytes[3];
    if (unit.m_nStreamId == kPackId) {
        if (!ParsePackHeader(bytes, available, unit.m_pack)) {
            return false;
        }
        unit.m_kind = EPsUnit::Pack;
        unit.m_llLength = unit.m_pack.m_nLength;
        m_bMpeg2Packs = unit.m_pack.m_bMpeg2;
    } else if (unit.m_nStreamId == kEndCodeId) {
        unit.m_kind = EPsUnit::EndCode;
        unit.m_llLength = 4;
    } else if (unit.m_nStreamId > kPackId) {
        if (available < 6) {
            return false;
        }
        unit.m_llLength = 6 + ((int64_t{bytes[4]} << 8) | bytes[5]);
        if (unit.m_nStreamId == kSystemHeaderId) {
            unit.m_kind = EPsUnit::SystemHeader;
        } else if (unit.m_nStreamId == kStreamMapId) {
            unit.m_kind = EPsUnit::StreamMap;
        } else {
            unit.m_kind = EPsUnit::Packet;
            if (!ReadPacket(bytes, available, unit)) {
                return false;
            }
        }
    } else {
        return false;  // a start code of an elementary stream: not the system layer
    }
    m_llPosition += unit.m_llLength;
    return true;
}

bool CPackScanner::ReadPacket(const unsigned char* bytes, size_t available, CPsUnit& unit) const {
    const auto length = static_cast<size_t>(unit.m_llLength);
    // Header fields beyond what the window holds cannot be read; beyond the packet they are
    // not there (noise that happens to start like a packet).
    const size_t limit = std::min(available, length);
    size_t at = 6;
    if (!HasNoPesHeader(unit.m_nStreamId)) {
        if (at >= limit) {
            return false;
        }
        if ((bytes[at] & 0xC0) == 0x80) {
            // MPEG-2 PES header: two flag bytes and the length of the optional fields.
            if (at + 3 > limit) {
                return false;
            }
            const unsigned flags = bytes[at + 1];
            const size_t fields = at + 3;
            at = fields + bytes[at + 2];
            if (at > limit) {
                return false;
            }
            if ((flags & 0x80) != 0 && fields + 5 <= at && TimeStampMarkersSet(bytes + fields)) {
                unit.m_pts = ParseTimeStamp(bytes + fields);
                if ((flags & 0x40) != 0 && fields + 10 <= at &&
                    TimeStampMarkersSet(bytes + fields + 5)) {
                    unit.m_dts = ParseTimeStamp(bytes + fields + 5);
                }
            }
        } else if (m_bMpeg2Packs.value_or(false)) {
            // Cameras write some packets of an MPEG-2 stream with no PES header at all: the
            // payload follows the length, and what would be MPEG-1 fields there is sound.
        } else {
            // MPEG-1 packet: stuffing, an optional STD buffer size, then the time stamps.
            while (at < limit && bytes[at] == 0xFF && at < 6 + 16) {
                ++at;
            }
            if (at < limit && (bytes[at] & 0xC0) == 0x40) {
                at += 2;
            }
            if (at >= limit) {
                return false;
            }
            if ((bytes[at] & 0xF0) == 0x20) {
                if (at + 5 > limit) {
                    return false;
                }
                if (TimeStampMarkersSet(bytes + at)) {
                    unit.m_pts = ParseTimeStamp(bytes + at);
                }
                at += 5;
            } else if ((bytes[at] & 0xF0) == 0x30) {
                if (at + 10 > limit) {
                    return false;
                }
                if (TimeStampMarkersSet(bytes + at) && TimeStampMarkersSet(bytes + at + 5)) {
                    unit.m_pts = ParseTimeStamp(bytes + at);
                    unit.m_dts = ParseTimeStamp(bytes + at + 5);
                }
                at += 10;
            } else if (bytes[at] == 0x0F) {
                at += 1;
            } else {
                return false;
            }
        }
    }
    unit.m_llPayloadOffset = unit.m_llOffset + static_cast<int64_t>(at);
    unit.m_llPayloadLength = unit.m_llLength - static_cast<int64_t>(at);
    if (unit.m_nStreamId == kPrivateStream1Id && at < limit) {
        unit.m_nSubStreamId = bytes[at];
    }
    return true;
}
