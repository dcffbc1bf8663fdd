// Cut lists from the command line, CSV and EDL files.
#include "mpeg/cutlist.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

namespace {

// Times past a million hours are no recording's.
constexpr int64_t kMaxWholeSeconds = int64_t{3600} * 1'000'000;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int64_t> ParseDigits(std::string_view text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// "S" or "S.fff...": milliseconds, rounded to the nearest.
std::optional<int64_t> ParseSecondsMs(std::string_view text) {
    const size_t point = text.find('.');
    const auto whole = ParseDigits(text.substr(0, point));
    if (!whole || *whole > kMaxWholeSeconds) {
        return std::nullopt;
    }
    int64_t ms = *whole * 1000;
    if (point == std::string_view::npos) {
        return ms;
    }
    const std::string_view decimals = text.substr(point + 1);
    if (decimals.empty() || decimals.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int64_t fraction = 0;
    for (size_t i = 0; i < 4; ++i) {
        fraction = fraction * 10 + (i < decimals.size() ? decimals[i] - '0' : 0);
    }
    return ms + (fraction + 5) / 10;
}

// The lines of a list file that hold something, trimmed, with their numbers from 1: blank
// lines and # comments left out.
std::vector<std::pair<size_t, std::string_view>> ContentLines(std::string_view text) {
    std::vector<std::pair<size_t, std::string_view>> lines;
    for (size_t number = 1; !text.empty(); ++number) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        if (!line.empty() && line.front() != '#') {
            lines.emplace_back(number, line);
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

CSpanRefusal LineRefusal(size_t line, std::string_view what) {
    return {"Line " + std::to_string(line) +
            " of the cut list does not parse: " + std::string(what)};
}

}  // namespace

std::optional<int64_t> ParseListTime(std::string_view text) {
    text = Trim(text);
    const size_t first = text.find(':');
    if (first == std::string_view::npos) {
        return ParseSecondsMs(text);
    }
    const size_t second = text.find(':', first + 1);
    if (second != std::string_view::npos && text.find(':', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    int64_t hours = 0;
    std::string_view rest = text;
    if (second != std::string_view::npos) {
        const auto parsed = ParseDigits(text.substr(0, first));
        if (!parsed || *parsed > 1'000'000) {
            return std::nullopt;
        }
        hours = *parsed;
        rest = text.substr(first + 1);
    }
    const size_t colon = rest.find(':');
    const auto minutes = ParseDigits(rest.substr(0, colon));
    const auto seconds = ParseSecondsMs(rest.substr(colon + 1));
    if (!minutes || *minutes > 1'000'000 || !seconds) {
        return std::nullopt;
    }
    return (hours * 3600 + *minutes * 60) * 1000 + *seconds;
}

std::string FormatListTime(int64_t milliseconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(milliseconds / 3'600'000),
                  static_cast<long long>(milliseconds / 60'000 % 60),
                  static_cast<long long>(milliseconds / 1000 % 60),
                  static_cast<long long>(milliseconds % 1000));
    return text;
}

std::optional<CSpanRefusal> CCutList::ParseSegments(std::string_view text) {
    Clear();
    size_t index = 0;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        ++index;
        const size_t dash = item.find('-');
        const auto start =
            dash == std::string_view::npos ? std::nullopt : ParseListTime(item.substr(0, dash));
        const auto end =
            dash == std::string_view::npos ? std::nullopt : ParseListTime(item.substr(dash + 1));
        if (!start || !end) {
            return CSpanRefusal{"Segment " + std::to_string(index) + " ('" + std::string(item) +
                                "') is not START-END with times as H:M:S.mmm or seconds"};
        }
        m_segments.push_back({*start, *end, {}});
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        text.remove_prefix(comma + 1);
    }
}

std::optional<CSpanRefusal> CCutList::ParseCsv(std::string_view text) {
    Clear();
    for (const auto& [number, line] : ContentLines(text)) {
        const size_t first = line.find(',');
        if (first == std::string_view::npos) {
            return LineRefusal(number, "it is not start,end[,name]");
        }
        const size_t second = line.find(',', first + 1);
        const auto start = ParseListTime(line.substr(0, first));
        const std::string_view endText = Trim(line.substr(first + 1, second - first - 1));
        const auto end =
            endText.empty() ? std::optional<int64_t>(kSegmentToEnd) : ParseListTime(endText);
        if (!start || !end) {
            return LineRefusal(number, "times are seconds or H:M:S.mmm");
        }
        std::string name;
        if (second != std::string_view::npos) {
            name = std::string(Trim(line.substr(second + 1)));
        }
        m_segments.push_back({*start, *end, std::move(name)});
    }
    return std::nullopt;
}

std::optional<CSpanRefusal> CCutList::ParseEdl(std::string_view text) {
    Clear();
    for (const auto& [number, line] : ContentLines(text)) {
        std::vector<std::string_view> fields;
        size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos])) != 0) {
                ++pos;
            }
            const size_t begin = pos;
            while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos])) == 0) {
                ++pos;
            }
            if (pos > begin) {
                fields.push_back(line.substr(begin, pos - begin));
            }
        }
        if (fields.size() != 3) {
            return LineRefusal(number, "it is not \"start end action\"");
        }
        const auto start = ParseListTime(fields[0]);
        const auto end = ParseListTime(fields[1]);
        const auto action = ParseDigits(fields[2]);
        if (!start || !end || !action) {
            return LineRefusal(number, "times are seconds or H:M:S.mmm, the action a number");
        }
        if (*end <= *start) {
            return LineRefusal(number, "its end does not lie after its start");
        }
        if (*action == 0) {
            if (!m_drops.empty() && *start < m_drops.back().m_llEndMs) {
                return LineRefusal(number, "it starts before the line before it ends");
            }
            m_drops.push_back({*start, *end, {}});
        }
    }
    if (m_drops.empty()) {
        return CSpanRefusal{"The EDL file drops nothing: it has no \"start end 0\" line"};
    }
    return std::nullopt;
}

std::optional<CSpanRefusal> CCutList::ParseFile(std::string_view fileName, std::string_view text) {
    std::string lower(fileName.substr(fileName.size() >= 4 ? fileName.size() - 4 : 0));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == ".edl" ? ParseEdl(text) : ParseCsv(text);
}

std::optional<CSpanRefusal> CCutList::Fit(int64_t totalMs) {
    if (!m_drops.empty()) {
        // Kept: what lies between the dropped parts; a drop past the end ends the recording.
        m_segments.clear();
        int64_t kept = 0;
        for (const CCutSegment& drop : m_drops) {
            if (drop.m_llStartMs > kept && kept < totalMs) {
                m_segments.push_back({kept, std::min(drop.m_llStartMs, totalMs), {}});
            }
            kept = std::max(kept, drop.m_llEndMs);
        }
        if (kept < totalMs) {
            m_segments.push_back({kept, totalMs, {}});
        }
        m_drops.clear();
        if (m_segments.empty()) {
            return CSpanRefusal{"The EDL file drops the whole recording"};
        }
    }
    if (m_segments.empty()) {
        return CSpanRefusal{"The cut list holds no segment"};
    }
    int64_t previousEnd = -1;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        CCutSegment& segment = m_segments[i];
        const std::string name =
            "Segment " + std::to_string(i + 1) + " (" + FormatListTime(segment.m_llStartMs) + "-" +
            (segment.m_llEndMs == kSegmentToEnd ? std::string("end")
                                                : FormatListTime(segment.m_llEndMs)) +
            ")";
        if (segment.m_llEndMs == kSegmentToEnd) {
            segment.m_llEndMs = totalMs;
        }
        if (segment.m_llEndMs > totalMs) {
            return CSpanRefusal{name + " ends past the end of the recording (" +
                                FormatListTime(totalMs) + ")"};
        }
        if (segment.m_llEndMs <= segment.m_llStartMs) {
            return CSpanRefusal{name + " does not end after its start"};
        }
        if (segment.m_llStartMs < previousEnd) {
            return CSpanRefusal{name +
                                " starts before the segment before it ends: segments must be "
                                "in order and must not overlap"};
        }
        previousEnd = segment.m_llEndMs;
    }
    return std::nullopt;
}

std::string CCutList::ToCsv() const {
    std::string csv;
    for (const CCutSegment& segment : m_segments) {
        char times[64];
        std::snprintf(times, sizeof times, "%lld.%03lld,",
                      static_cast<long long>(segment.m_llStartMs / 1000),
                      static_cast<long long>(segment.m_llStartMs % 1000));
        csv += times;
        if (segment.m_llEndMs != kSegmentToEnd) {
            std::snprintf(times, sizeof times, "%lld.%03lld",
                          static_cast<long long>(segment.m_llEndMs / 1000),
                          static_cast<long long>(segment.m_llEndMs % 1000));
            csv += times;
        }
        if (!segment.m_strName.empty()) {
            csv += "," + segment.m_strName;
        }
        csv += '\n';
    }
    return csv;
}
