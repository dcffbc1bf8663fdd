// The length of a program stream from its own clock, as players show it: from the first
// presentation time stamp to the last one plus that frame or audio packet, else the span of
// its pack clock (SCR). Reads the first and the last kEndWindowBytes of the file and, between
// them, kSampleCount small samples that show a clock running backwards (two recordings
// joined); never the whole of a large file.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/io/fileio.h"

enum class EClockSource {
    TimeStamps,  // presentation time stamps of the elementary streams
    PackClock,   // system clock references of the packs (a stream without time stamps)
};

struct CClockLength {
    EClockSource m_source = EClockSource::TimeStamps;
    int64_t m_llDuration100ns = 0;  // greater than 0
    // Where the length begins, as a 33-bit 90 kHz clock value: the first time stamp players
    // show (TimeStamps) or the first pack clock (PackClock).
    int64_t m_llStartClock = 0;
};

class CStreamClock {
public:
    static constexpr int64_t kEndWindowBytes = int64_t{4} << 20;
    static constexpr int kSampleCount = 6;
    static constexpr int64_t kSampleBytes = int64_t{64} << 10;

    // The length of the stream in `file` (of `size` bytes), or nullopt when it carries no
    // usable clock: no two distinct times, a clock that runs backwards or jumps inside what
    // was read or between the places read, time stamps that disagree with the pack clock, or
    // a length shorter than the file's mux rate allows for its size. A failed read gives
    // nullopt too: the media framework may still measure the file.
    static std::optional<CClockLength> Measure(IFile& file, int64_t size);
};
