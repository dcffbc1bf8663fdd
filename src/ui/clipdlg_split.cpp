// The Start commands of the three modes: the clip cut, equal pieces and pieces by length. The
// window checks its own preconditions and reads its fields; the split engine does the rest and
// reports through the window's message boxes and busy cursor.
#include <QLineEdit>

#include "app/clipapp.h"
#include "mpeg/splitengine.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/windowreporter.h"

using namespace Qt::Literals::StringLiterals;

std::string CClipDlg::TakeOutputFolderText() {
    m_strOutputFolder = m_pOutputFolderEdit->text();
    return ToFileSystemPath(m_strOutputFolder);
}

void CClipDlg::OnCutStart() {
    if (m_strInfoLine.isEmpty()) {
        ShowMessage(u"Error"_s, u"Please open an MPEG file first!"_s);
        return;
    }
    // A field that holds no number has been reported; cutting with the old values would
    // write a clip the user did not ask for.
    if (!DoDataExchange(true)) {
        return;
    }
    CWindowReporter reporter(this, m_app.ApplicationName(), m_shell);
    CSplitEngine engine(reporter);
    engine.SetOptions(CSplitOptions{m_bCleanCuts});
    engine.CutClip(m_source, CClipTime{m_nStartHour, m_nStartMinute, m_nStartSecond},
                   CClipTime{m_nEndHour, m_nEndMinute, m_nEndSecond},
                   ToFileSystemPath(m_strOutputFile));
}

void CClipDlg::OnSplitBySizeStart() {
    if (m_strInfoLine.isEmpty()) {
        return;
    }
    if (!DoDataExchange(true)) {
        return;
    }
    if (m_nPieceCount < 1) {
        return;
    }
    CWindowReporter reporter(this, m_app.ApplicationName(), m_shell);
    CSplitEngine engine(reporter);
    engine.SetOptions(CSplitOptions{m_bCleanCuts});
    engine.SplitBySize(m_source, m_nPieceCount, TakeOutputFolderText());
}

void CClipDlg::OnSplitByTimeStart() {
    if (m_source.m_nTotalSeconds == 0 || !m_source.HasSourcePath()) {
        return;
    }
    // Read straight from the field: this command runs no exchange, so a time field holding
    // no number does not stop it.
    const QString text = m_pPieceSecondsEdit->text().left(static_cast<int>(kPieceLengthTextMax));
    m_nPieceSeconds = ParsePieceLength(text.toStdString());
    CWindowReporter reporter(this, m_app.ApplicationName(), m_shell);
    CSplitEngine engine(reporter);
    engine.SetOptions(CSplitOptions{m_bCleanCuts});
    engine.SplitByTime(m_source, m_nPieceSeconds, TakeOutputFolderText());
}
