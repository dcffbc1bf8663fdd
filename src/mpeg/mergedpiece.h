// The pieces of a clean series that run on over requested cuts because no picture could start
// a piece there, and how the user is told so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Why a requested cut was not made.
enum class EMergeReason {
    NoPlace,      // no place a piece can start lies between the piece's start and the cut
    BeyondReach,  // none within the backward search's reach (a minute or 64 MiB) of the cut
};

// A written piece that holds the requested pieces m_nFirst to m_nLast (counted from 0, as
// the series was asked for) after its own start.
struct CMergedPiece {
    int32_t m_nPiece = 0;  // the written piece
    std::string m_strPath;
    int32_t m_nFirst = 0;
    int32_t m_nLast = 0;
    EMergeReason m_eReason = EMergeReason::NoPlace;
};

// What a clean series planned against what was asked.
struct CMergeReport {
    std::vector<CMergedPiece> m_pieces;  // empty when every requested piece was planned
    int32_t m_nRequested = 0;
    int32_t m_nWritten = 0;
    int64_t m_llPieceSeconds = 0;  // a series by time; 0: by size
    std::string m_strFirstPath;
    std::string m_strLastPath;

    // Empty when nothing was merged; else one line per merged piece (at most kListedPieces,
    // then how many more) naming the requested times (by size: pieces) it runs over and
    // why, and last "3 pieces were written instead of 15: show_0.mpg to show_2.mpg."
    std::string Text() const;

    static constexpr size_t kListedPieces = 8;
};
