// The controls that follow the preview: transport buttons, time buttons, position display
// and slider, the piece count spin and the close-source command.
#include <QLabel>

#include "app/clipapp.h"
#include "ui/clipdlg.h"
#include "ui/positionslider.h"

using namespace Qt::StringLiterals;

void CClipDlg::OnPlay() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnPause() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnStop() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnStartTime() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnEndTime() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnSliderReleased() {
    // Not implemented yet: does nothing until the preview player exists.
}

void CClipDlg::OnPieceCountDelta(int /*nOldPos*/, int /*nDelta*/) {
    // Not implemented yet: the each-size display is not computed until a source can be opened.
}

void CClipDlg::OnCloseSource() {
    // Not implemented yet: does nothing until a source and its preview can be opened.
}

void CClipDlg::ShowPosition() {
    if (m_app.m_bSliderDragging) {
        return;
    }
    // Only the no-preview case so far: there is no preview player yet, so the position reads
    // 00:00:00 and the slider stays where it is. Following a preview comes with the player.
    m_pPosition->setText(u"00:00:00"_s);
}

bool CClipDlg::ClosePreview() {
    // There is no preview player to dispose of yet; the slider goes back to the start.
    m_nSliderPos = 0;
    m_pSlider->setValue(0);
    update();
    return true;
}

int CClipDlg::OpenPreview(CMpegSource& source) {
    // Not implemented yet: there is no preview player to hand the file to.
    (void)source;
    return 0;
}
