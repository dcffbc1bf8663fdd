// The length of a program stream from its own clock, as players show it: from the first
// presentation time stamp to the last one plus that picture or audio frame, else the span of
// its pack clock (SCR). A recording joined from several has a clock that jumps, forward or
// back: its length is the sum of the spans between the jumps. Reads the first and the last
// kEndWindowBytes of the file, kSampleCount small samples between them, and a few small reads
// around each jump; never the whole of a large file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/io/fileio.h"

enum class EClockSource {
    TimeStamps,  // presentation time stamps of the elementary streams
    PackClock,   // system clock references of the packs (a stream without time stamps)
};

// One stretch of a recording whose clock runs on without a jump.
struct CClockSpan {
    // The bytes of the file it covers: from where its first unit starts (0 for the first)
    // to where the next span's starts (the file's size for the last).
    int64_t m_llBegin = 0;
    int64_t m_llEnd = 0;
    // Its first time (as m_llStartClock below) and its playing time.
    int64_t m_llStartClock = 0;
    int64_t m_llDuration100ns = 0;
};

struct CClockLength {
    EClockSource m_source = EClockSource::TimeStamps;
    int64_t m_llDuration100ns = 0;  // greater than 0: the sum of the spans'
    // Where the length begins, as a 33-bit 90 kHz clock value: the first time stamp players
    // show (TimeStamps) or the first pack clock (PackClock).
    int64_t m_llStartClock = 0;
    // In file order; one for a recording that was not joined.
    std::vector<CClockSpan> m_spans;
};

class CStreamClock {
public:
    static constexpr int64_t kEndWindowBytes = int64_t{4} << 20;
    static constexpr int kSampleCount = 6;
    static constexpr int64_t kSampleBytes = int64_t{64} << 10;
    // What finding the jumps may cost at most, beyond the ends and the samples.
    static constexpr int kMaxJumpProbes = 64;
    static constexpr int64_t kMaxJumpBytes = int64_t{4} << 20;
    static constexpr size_t kMaxSpans = 64;

    // The length of the stream in `file` (of `size` bytes), or nullopt when it carries no
    // usable clock: no two distinct times, a jump back that the probes could not place, more
    // than kMaxSpans spans, time stamps that disagree with the pack clock, or a length shorter
    // than the file's mux rate allows for its size. A failed read gives nullopt too: the
    // media framework may still measure the file.
    static std::optional<CClockLength> Measure(IFile& file, int64_t size);
};
