// The progress line of tarnwick-cli on a terminal: one line on standard error, rewritten in
// place, with the share of the command done, its speed and the time it still needs.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "mpeg/progress.h"

class CTerminalProgress final : public IProgress {
public:
    // Seconds of a monotonic clock.
    using CClock = std::function<double()>;
    // The line is drawn at the first bytes written and then at most this often.
    static constexpr double kRedrawSeconds = 0.2;

    // err must be a terminal: the line is drawn with a carriage return and erased with the
    // terminal's erase-to-end-of-line.
    explicit CTerminalProgress(std::ostream& err, CClock clock = SteadySeconds);

    void BeginOutput(const CProgressOutput& output) override;
    void Advance(int64_t written) override;

    // Erases the line, if one is drawn, so that a message can take its place; the next step
    // draws it again.
    void Clear();

    // "37%  812.4 MiB/s  0:02 left": the share done, the bytes a second since the first
    // output began, and the time the rest takes at that speed (hours only when needed).
    static std::string FormatLine(int64_t done, int64_t total, double seconds);

    static double SteadySeconds();

private:
    void Draw();

    std::ostream& m_err;
    CClock m_clock;
    CProgressOutput m_output;
    int64_t m_llWritten = 0;
    double m_dStarted = -1;
    double m_dLastDrawn = -1;
    bool m_bDrawn = false;
};
