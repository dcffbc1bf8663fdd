// The progress line of tarnwick-cli.
#include "cli/terminalprogress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace {

// Clears from the cursor to the end of the line.
constexpr const char* kEraseLine = "\033[K";

std::string FormatDuration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole % 3600 / 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

CTerminalProgress::CTerminalProgress(std::ostream& err, CClock clock)
    : m_err(err), m_clock(std::move(clock)) {}

double CTerminalProgress::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string CTerminalProgress::FormatLine(int64_t done, int64_t total, double seconds) {
    const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    // Truncated, so 100% means done.
    const int percent = static_cast<int>(std::clamp(share, 0.0, 1.0) * 100.0);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char text[96];
    if (rate > 0) {
        const double left = static_cast<double>(std::max<int64_t>(total - done, 0)) / rate;
        std::snprintf(text, sizeof text, "%3d%%  %.1f MiB/s  %s left", percent,
                      rate / (1024.0 * 1024.0), FormatDuration(left).c_str());
    } else {
        std::snprintf(text, sizeof text, "%3d%%", percent);
    }
    return text;
}

void CTerminalProgress::BeginOutput(const CProgressOutput& output) {
    if (m_dStarted < 0) {
        m_dStarted = m_clock();
    }
    m_output = output;
    m_llWritten = 0;
}

void CTerminalProgress::Advance(int64_t written) {
    m_llWritten = written;
    const double now = m_clock();
    const bool last = m_output.m_llRunDone + written >= m_output.m_llRunBytes;
    if (m_dLastDrawn < 0 || last || now - m_dLastDrawn >= kRedrawSeconds) {
        m_dLastDrawn = now;
        Draw();
    }
}

void CTerminalProgress::Draw() {
    const double elapsed = m_clock() - m_dStarted;
    m_err << '\r' << FormatLine(m_output.m_llRunDone + m_llWritten, m_output.m_llRunBytes, elapsed)
          << kEraseLine << std::flush;
    m_bDrawn = true;
}

void CTerminalProgress::Clear() {
    if (m_bDrawn) {
        m_err << '\r' << kEraseLine << std::flush;
        m_bDrawn = false;
    }
}
