// A cut list: the segments of one recording to keep, in order, as the user gives them on the
// command line (--segments A-B,C-D), in a CSV file (start,end[,name] lines) or in an EDL file
// (start end 0 lines: the parts to drop). Times are seconds with decimals or H:M:S.mmm and are
// kept in milliseconds. Nothing here reads the recording; Fit() checks the list against its
// length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A segment's end not given (a CSV line "10,"): it runs to the end of the recording.
inline constexpr int64_t kSegmentToEnd = -1;

struct CCutSegment {
    int64_t m_llStartMs = 0;
    int64_t m_llEndMs = kSegmentToEnd;
    std::string m_strName;  // CSV only; may be empty
};

// Why a list was refused, in words that name the segment or the line.
struct CSpanRefusal {
    std::string m_strText;
};

// A time of a list: "83.25" (seconds, any number of decimals, rounded to milliseconds) or
// "1:02:03.5" / "2:03.5" (H:M:S or M:S). Nothing for anything else.
std::optional<int64_t> ParseListTime(std::string_view text);

// H:MM:SS.mmm, as the refusals write times.
std::string FormatListTime(int64_t milliseconds);

class CCutList {
public:
    const std::vector<CCutSegment>& Segments() const { return m_segments; }
    bool Empty() const { return m_segments.empty() && m_drops.empty(); }
    void Add(const CCutSegment& segment) { m_segments.push_back(segment); }
    void Clear() {
        m_segments.clear();
        m_drops.clear();
    }

    // "A-B,C-D": the segments of --segments.
    std::optional<CSpanRefusal> ParseSegments(std::string_view text);
    // CSV lines "start,end[,name]"; empty lines and lines starting with '#' are skipped.
    std::optional<CSpanRefusal> ParseCsv(std::string_view text);
    // EDL lines "start end action": action 0 drops the part, other actions keep it.
    std::optional<CSpanRefusal> ParseEdl(std::string_view text);
    // By the file name: ".edl" (any case) is an EDL file, anything else CSV.
    std::optional<CSpanRefusal> ParseFile(std::string_view fileName, std::string_view text);

    // The list for a recording of totalMs: open ends run to it, the parts an EDL drops become
    // the segments between them. Refused: a segment that does not end after its start, one
    // that starts before the one before it ends, one that ends past the recording's end.
    std::optional<CSpanRefusal> Fit(int64_t totalMs);

    // The CSV text of the list, one "start,end[,name]" line a segment, times in seconds.
    std::string ToCsv() const;

private:
    std::vector<CCutSegment> m_segments;
    std::vector<CCutSegment> m_drops;  // from an EDL file until Fit
};
