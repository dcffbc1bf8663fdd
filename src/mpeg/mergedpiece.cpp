// The wording of a clean series that wrote fewer pieces than asked.
#include "mpeg/mergedpiece.h"

#include <cstdio>

#include "mpeg/outputpaths.h"

namespace {

std::string Clock(int64_t seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string Pieces(int32_t count) {
    return std::to_string(count) + (count == 1 ? " piece" : " pieces");
}

}  // namespace

std::string CMergeReport::Text() const {
    if (m_pieces.empty()) {
        return {};
    }
    std::string text;
    for (size_t i = 0; i < m_pieces.size() && i < kListedPieces; ++i) {
        const CMergedPiece& piece = m_pieces[i];
        text += ExtractFileName(piece.m_strPath) + " runs on over ";
        if (m_llPieceSeconds > 0) {
            text += Clock(piece.m_nFirst * m_llPieceSeconds);
            if (piece.m_nLast > piece.m_nFirst) {
                text += " to " + Clock(piece.m_nLast * m_llPieceSeconds);
            }
        } else {
            text +=
                piece.m_nLast > piece.m_nFirst ? "the starts of pieces " : "the start of piece ";
            text += std::to_string(piece.m_nFirst + 1);
            if (piece.m_nLast > piece.m_nFirst) {
                text += " to " + std::to_string(piece.m_nLast + 1);
            }
            text += " of " + std::to_string(m_nRequested);
        }
        text += piece.m_eReason == EMergeReason::NoPlace
                    ? ": no picture after its start can begin a piece.\n"
                    : ": no picture within a minute or 64 MiB before can begin a piece.\n";
    }
    if (m_pieces.size() > kListedPieces) {
        text += "... and " + std::to_string(m_pieces.size() - kListedPieces) + " more.\n";
    }
    text += Pieces(m_nWritten) + (m_nWritten == 1 ? " was" : " were") + " written instead of " +
            std::to_string(m_nRequested) + ": " + ExtractFileName(m_strFirstPath);
    if (m_nWritten > 1) {
        text += " to " + ExtractFileName(m_strLastPath);
    }
    return text + ".";
}
