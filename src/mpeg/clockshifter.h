// Moves the clock of a stretch of program stream: every pack's SCR and every packet's PTS and
// DTS by the same number of 90 kHz units, modulo 2^33, all other bytes as they are. Bytes come
// in any pieces; a unit cut between two pieces waits for the rest, so memory stays at one unit
// (at most 64 KiB) beyond the piece at hand.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class CAudioJoint;

class CClockShifter {
public:
    // `joint`, when given, sees every unit after its stamps have moved.
    explicit CClockShifter(int64_t shift, CAudioJoint* joint = nullptr)
        : m_llShift(shift), m_pJoint(joint) {}

    // Appends to `out` the bytes of `in` that are ready, shifted; keeps a unit not yet whole.
    void Feed(std::span<const unsigned char> in, std::vector<unsigned char>& out);
    // The bytes kept back, as they are: the stretch ended inside a unit.
    void Finish(std::vector<unsigned char>& out);

    // A 33-bit clock value moved by `shift`, wrapping.
    static int64_t Shifted(int64_t value, int64_t shift);

private:
    // Shifts the stamps of the whole unit at `unit`.
    void ShiftUnit(unsigned char* unit, size_t length) const;

    int64_t m_llShift;
    CAudioJoint* m_pJoint;
    std::vector<unsigned char> m_pending;
};

// The 33-bit value of a time stamp written as PTS, DTS and the MPEG-1 SCR are (5 bytes with
// marker bits), and the same bytes with another value, the marker and prefix bits kept.
int64_t ReadStamp(const unsigned char* bytes);
void WriteStamp(unsigned char* bytes, int64_t value);

// Where a PES packet's time stamps lie and where its header ends, in either syntax (MPEG-2:
// flags and header length; MPEG-1: stuffing, an optional buffer size, then the stamps);
// nothing when `length` holds too little of it.
struct CPesLayout {
    size_t m_nHeaderEnd = 0;
    std::optional<size_t> m_ptsAt;
    std::optional<size_t> m_dtsAt;
};
std::optional<CPesLayout> ReadPesLayout(const unsigned char* packet, size_t length);

// The SCR base of the pack header at the start of `bytes`, if they start with one.
std::optional<int64_t> PackHeaderScr(std::span<const unsigned char> bytes);
