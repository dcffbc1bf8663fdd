// The player's picture commands: one picture forward or back, and the jumps between the key
// pictures a clean piece can start at, each from a paused picture to an exact position.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "preview/previewplayer.h"

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;
constexpr LONGLONG kInsidePictureWithoutRate = kUnitsPerSecond / 1000;

}  // namespace

bool CPreviewPlayer::CanStepPictures() const {
    return m_nState != Closed && !m_bNoVideo && pMC != nullptr && pMS != nullptr && pFS != nullptr;
}

bool CPreviewPlayer::CanJumpToKeyPictures() const {
    return CanStepPictures() && !m_keyPictures.empty();
}

void CPreviewPlayer::SetKeyPictures(std::vector<LONGLONG> times) {
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    m_keyPictures = std::move(times);
}

bool CPreviewPlayer::PauseForPictures() {
    if (!CanStepPictures()) {
        return false;
    }
    if (m_nState != Paused) {
        if (FAILED(pMC->Pause())) {
            return false;
        }
        m_nState = Paused;
        UpdateTitle();
    }
    return ReadPositions();
}

LONGLONG CPreviewPlayer::InsidePicture() const {
    REFTIME dSeconds = 0;
    if (pBV == nullptr || FAILED(pBV->get_AvgTimePerFrame(&dSeconds)) || !(dSeconds > 0)) {
        return kInsidePictureWithoutRate;
    }
    const auto llHalf =
        static_cast<LONGLONG>(std::llround(dSeconds * static_cast<double>(kUnitsPerSecond) / 2));
    return std::max(llHalf, kInsidePictureWithoutRate);
}

void CPreviewPlayer::StepForward() {
    if (!PauseForPictures()) {
        return;
    }
    pFS->Step(1, nullptr);
    RefreshPosition();
}

void CPreviewPlayer::StepBack() {
    if (!PauseForPictures()) {
        return;
    }
    if (m_llCurrentPos > 0) {
        // The picture on screen half a picture earlier is the one before.
        SeekWithFlags(m_llCurrentPos - InsidePicture(), AM_SEEKING_ExactPicture);
    }
    RefreshPosition();
}

void CPreviewPlayer::JumpToKeyPicture(bool bForward) {
    if (m_keyPictures.empty() || !PauseForPictures()) {
        return;
    }
    // A listed time within half a picture of the position is the picture on screen.
    const LONGLONG llInside = InsidePicture();
    const auto first = m_keyPictures.begin();
    const auto last = m_keyPictures.end();
    auto target = last;
    if (bForward) {
        target = std::upper_bound(first, last, m_llCurrentPos + llInside);
    } else if (const auto after = std::lower_bound(first, last, m_llCurrentPos - llInside);
               after != first) {
        target = std::prev(after);
    }
    if (target != last) {
        SeekWithFlags(*target + llInside, AM_SEEKING_ExactPicture);
    }
    RefreshPosition();
}
