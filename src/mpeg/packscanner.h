// Reads the system layer of an MPEG-1 or MPEG-2 program stream over a window of bytes: packs
// with their clock and mux rate, system headers, stream maps and PES packets with their time
// stamps. Nothing is decoded; memory is the window, at most kMaxWindowBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "mpeg/streamids.h"
#include "platform/io/fileio.h"

// System clock (SCR base), PTS and DTS count this many units a second; all are 33-bit values.
inline constexpr int64_t kClockUnitsPerSecond = 90000;
inline constexpr int64_t kClockWrap = int64_t{1} << 33;

struct CPackHeader {
    bool m_bMpeg2 = false;
    // Bytes from the pack start code to the first byte after the header (and its stuffing):
    // 12 for MPEG-1, 14 plus 0 to 7 stuffing bytes for MPEG-2.
    uint32_t m_nLength = 0;
    int64_t m_llScr = 0;           // system clock reference, 90 kHz base
    uint32_t m_nScrExtension = 0;  // 27 MHz remainder (MPEG-2), else 0
    uint32_t m_nMuxRate = 0;       // program_mux_rate, units of 50 bytes a second
};

// Parses the pack header at bytes (which start with 00 00 01 BA); false when fewer than its
// length are available or a marker bit is wrong.
bool ParsePackHeader(const unsigned char* bytes, size_t available, CPackHeader& header);

// The time stamp in the five bytes of a PTS or DTS field (marker bits are not checked).
int64_t ParseTimeStamp(const unsigned char* bytes);
// Whether the three marker bits of a PTS or DTS field are set: bytes that only look like a
// time stamp rarely have all three.
bool TimeStampMarkersSet(const unsigned char* bytes);

// Difference a - b of two 33-bit clock values, taken as the shorter way round the wrap: a
// recording of less than 13 hours never wraps twice.
int64_t ClockDifference(int64_t a, int64_t b);

enum class EPsUnit { Pack, SystemHeader, StreamMap, Packet, EndCode };

// One unit of the system layer. Offsets are file offsets; a unit may reach beyond the window,
// in which case only its first bytes are in it.
struct CPsUnit {
    EPsUnit m_kind = EPsUnit::Pack;
    int64_t m_llOffset = 0;  // of its start code
    int64_t m_llLength = 0;  // the whole unit, start code included
    uint8_t m_nStreamId = 0;
    // Private stream 1 carries a sub-stream number in its first payload byte (DVD audio and
    // subpictures); 0 for every other stream or when the payload is empty.
    uint8_t m_nSubStreamId = 0;
    CPackHeader m_pack;  // Pack only
    std::optional<int64_t> m_pts;
    std::optional<int64_t> m_dts;
    int64_t m_llPayloadOffset = 0;  // Packet only: the elementary stream bytes, after its header
    int64_t m_llPayloadLength = 0;
};

inline uint16_t StreamKey(const CPsUnit& unit) {
    return StreamKey(unit.m_nStreamId, unit.m_nSubStreamId);
}

class CPackScanner {
public:
    static constexpr int64_t kMaxWindowBytes = int64_t{4} << 20;

    explicit CPackScanner(IFile& file) : m_file(file) {}

    // Reads up to `length` bytes (at most kMaxWindowBytes) from `offset` and puts the scanner
    // at the window's first byte. A window cut short by the end of the file is no failure;
    // false only when the seek or the read fails, SeekFailed telling which.
    bool ReadWindow(int64_t offset, int64_t length);
    bool SeekFailed() const { return m_bSeekFailed; }

    int64_t WindowOffset() const { return m_llWindowOffset; }
    int64_t WindowEnd() const { return m_llWindowOffset + static_cast<int64_t>(m_window.size()); }
    // The window's bytes from file offset `offset` on (nullptr outside the window) and how
    // many of them there are.
    const unsigned char* BytesAt(int64_t offset) const;
    size_t BytesAvailable(int64_t offset) const;

    // Where the next unit is read from.
    int64_t Position() const { return m_llPosition; }
    void SetPosition(int64_t offset) { m_llPosition = offset; }

    // The first 00 00 01 `code` at or after `from` inside the window.
    std::optional<int64_t> FindStartCode(int64_t from, uint8_t code) const;

    // Moves to the first pack at or after the position whose header parses and is followed by
    // another start code (so noise that looks like a pack start code is passed over); false,
    // at the window's end, when there is none.
    bool SyncToPack();

    // Reads the unit at the position and moves past it. False at the window's end, when the
    // unit's header is cut by the window's end, or when the bytes there are no unit (noise,
    // or a stream that is not a program stream): SyncToPack then goes on at the next pack.
    bool Next(CPsUnit& unit);

private:
    bool ReadPacket(const unsigned char* bytes, size_t available, CPsUnit& unit) const;

    // The syntax of the last pack read: the packets after an MPEG-2 pack follow the MPEG-2
    // syntax only.
    std::optional<bool> m_bMpeg2Packs;

    IFile& m_file;
    std::vector<unsigned char> m_window;
    int64_t m_llWindowOffset = 0;
    int64_t m_llPosition = 0;
    bool m_bSeekFailed = false;
};
