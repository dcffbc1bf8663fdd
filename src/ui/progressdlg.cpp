// The progress dialog of the Start commands.
#include "ui/progressdlg.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "mpeg/outputpaths.h"
#include "platform/desktop/dialogunits.h"

using namespace Qt::StringLiterals;

CProgressDlg::CProgressDlg(QWidget* pOwner)
    : QDialog(pOwner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(u"ProgressDialog"_s);
    setWindowTitle(u"Tarnwick"_s);
    // It stays in front of the main window, which paints behind it but takes no input (the
    // window keeps it away while its work runs). Not modal to the toolkit, which would also
    // hold back the main window's close request, which must stop the work and close.
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits units(font());
    setFixedSize(units.ToPixels(0, 0, 220, 62).size());

    m_pText = new QLabel(this);
    m_pText->setTextFormat(Qt::PlainText);
    m_pText->setGeometry(units.ToPixels(7, 7, 206, 9));

    m_pBar = new QProgressBar(this);
    m_pBar->setRange(0, kBarSteps);
    m_pBar->setValue(0);
    m_pBar->setGeometry(units.ToPixels(7, 20, 206, 12));
    m_pBar->setAccessibleName(u"Progress"_s);

    m_pCancel = new QPushButton(u"Cancel"_s, this);
    m_pCancel->setGeometry(units.ToPixels(163, 40, 50, 14));
    m_pCancel->setDefault(true);
    connect(m_pCancel, &QPushButton::clicked, this, &CProgressDlg::reject);
}

QString CProgressDlg::DescribeOutput(const CProgressOutput& output) {
    const QString strName = QFile::decodeName(ExtractFileName(output.m_strPath).c_str());
    if (output.m_nCount <= 1) {
        return strName;
    }
    return u"piece %1 of %2: %3"_s.arg(output.m_nIndex + 1).arg(output.m_nCount).arg(strName);
}

void CProgressDlg::ShowProgress(const CProgressOutput& output, int64_t written) {
    const QString strText = DescribeOutput(output);
    if (strText != m_strFullText) {
        m_strFullText = strText;
        // A long name is shortened in the middle to fit; screen readers hear all of it.
        m_pText->setText(
            m_pText->fontMetrics().elidedText(strText, Qt::ElideMiddle, m_pText->width()));
        m_pText->setAccessibleName(strText);
        m_pText->setToolTip(strText == m_pText->text() ? QString() : strText);
    }
    const int64_t total = std::max<int64_t>(output.m_llRunBytes, 1);
    const int64_t done = std::clamp<int64_t>(output.m_llRunDone + written, 0, total);
    const int nValue = static_cast<int>(done * kBarSteps / total);
    if (nValue > m_pBar->value()) {
        m_pBar->setValue(nValue);
    }
}

void CProgressDlg::Reset() {
    m_strFullText.clear();
    m_pText->clear();
    m_pText->setToolTip(QString());
    m_pBar->setValue(0);
    m_pCancel->setEnabled(true);
}

QString CProgressDlg::Text() const {
    return m_strFullText;
}

int CProgressDlg::BarValue() const {
    return m_pBar->value();
}

void CProgressDlg::reject() {
    // The dialog goes when the command has stopped, not before.
    if (m_pCancel->isEnabled()) {
        m_pCancel->setEnabled(false);
        Q_EMIT CancelRequested();
    }
}
