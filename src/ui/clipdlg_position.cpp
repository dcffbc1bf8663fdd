// The controls that follow the preview: transport buttons, time buttons, position display
// and slider, the piece count spin and the close-source command.
#include <QLabel>

#include <cstdint>

#include "app/clipapp.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/displaystatic.h"
#include "ui/positionslider.h"

using namespace Qt::StringLiterals;

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;
constexpr int kSliderSteps = 600;

struct CClockTime {
    int nHours;
    int nMinutes;
    int nSeconds;
};

// Whole seconds of a media time, truncated toward zero.
int WholeSeconds(LONGLONG llMediaTime) {
    return static_cast<int>(llMediaTime / kUnitsPerSecond);
}

// Hours are not wrapped at 24.
CClockTime SplitSeconds(int nSeconds) {
    const int nHours = nSeconds / 3600;
    const int nMinutes = nSeconds % 3600 / 60;
    return {nHours, nMinutes, nSeconds - (nHours * 60 + nMinutes) * 60};
}

QString FormatClockTime(const CClockTime& time) {
    return QString::asprintf("%02d:%02d:%02d", time.nHours, time.nMinutes, time.nSeconds);
}

}  // namespace

void CClipDlg::OnPlay() {
    if (g_pPreview != nullptr) {
        g_pPreview->Play();
    }
}

void CClipDlg::OnPause() {
    if (g_pPreview != nullptr) {
        g_pPreview->Pause();
    }
}

void CClipDlg::OnStop() {
    if (g_pPreview != nullptr) {
        g_pPreview->Stop();
    }
}

void CClipDlg::OnStartTime() {
    TakePreviewPosition(m_nStartHour, m_nStartMinute, m_nStartSecond);
    TakeExactPosition(false);
}

void CClipDlg::OnEndTime() {
    TakePreviewPosition(m_nEndHour, m_nEndMinute, m_nEndSecond);
    TakeExactPosition(true);
}

void CClipDlg::TakePreviewPosition(int& nHour, int& nMinute, int& nSecond) {
    if (g_pPreview == nullptr) {
        return;
    }
    const CClockTime time = SplitSeconds(WholeSeconds(g_pPreview->m_llCurrentPos));
    nHour = time.nHours;
    nMinute = time.nMinutes;
    nSecond = time.nSeconds;
    DoDataExchange(false);
}

void CClipDlg::ShowPosition() {
    // Neither the display nor the thumb moves while the user holds the thumb.
    if (m_app.m_bSliderDragging) {
        return;
    }
    if (g_pPreview == nullptr) {
        m_pPosition->SetWindowText(FormatClockTime({0, 0, 0}));
        return;
    }
    const LONGLONG llCurrent = g_pPreview->m_llCurrentPos;
    const LONGLONG llStop = g_pPreview->m_llStopPos;
    m_pPosition->SetWindowText(FormatClockTime(SplitSeconds(WholeSeconds(llCurrent))));
    m_nSliderPos =
        llStop != 0
            ? static_cast<int>(static_cast<double>(llCurrent) / static_cast<double>(llStop) * 600.0)
            : 0;
    // setValue redraws the slider when its value changes and only then. A slider is drawn on
    // this window's surface, so asking it to redraw from here, where the window paints, would
    // paint the window again and again without pause.
    m_pSlider->setValue(m_nSliderPos);
}

void CClipDlg::OnSliderReleased() {
    m_nSliderPos = m_pSlider->value();
    SeekFromSlider(m_nSliderPos);
}

bool CClipDlg::SeekFromSlider(int nSliderPos) {
    if (g_pPreview == nullptr || g_pPreview->m_llStopPos == 0) {
        return false;
    }
    // Left to right in double precision: stop × position × (1/600).
    const double dTarget = static_cast<double>(g_pPreview->m_llStopPos) * nSliderPos *
                           (1.0 / static_cast<double>(kSliderSteps));
    g_pPreview->SeekTo(static_cast<LONGLONG>(dTarget));
    return true;
}

void CClipDlg::OnPieceCountDelta(int nOldPos, int nDelta) {
    // The proposed count, before the spin applies its range.
    ShowEachSize(nOldPos + nDelta);
}

void CClipDlg::ShowEachSize(int nCount) {
    if (nCount < 1 || !m_source.HasSourcePath()) {
        return;
    }
    const std::int64_t llPiece = m_source.m_llFileSize / nCount;
    const std::int64_t llKilobytes = llPiece / 1024;
    m_pEachSize->SetWindowText(QString::number(llKilobytes) + u"KB"_s);
}

void CClipDlg::OnCloseSource() {
    ClosePreview();
    m_strInfoLine.clear();
    m_source.ClearSourcePath();
    m_nStartHour = m_nStartMinute = m_nStartSecond = 0;
    m_nEndHour = m_nEndMinute = m_nEndSecond = 0;
    m_pPosition->SetWindowText(FormatClockTime({0, 0, 0}));
    DoDataExchange(false);
    OnSourceChanged();
}
