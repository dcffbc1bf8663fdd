// The window's ties to the desktop: the help page, the home page, the window menu and the
// About box. None of them changes the window's values or reports a failure.
#include <QMenu>
#include <QUrl>

#include "app/aboutdlg.h"
#include "app/appresources.h"
#include "app/clipapp.h"
#include "app/pathparts.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"

using namespace Qt::StringLiterals;

void CClipDlg::OnHelpButton() {
    // Beside the executable, or where the program is installed; a missing page is the viewer's
    // to report.
    const QString strPage = LocateHelpPage(FolderOfPath(m_app.HelpFilePath()));
    m_shell.launcher.Open(QUrl::fromLocalFile(strPage));
}

void CClipDlg::OnHomepage() {
    m_shell.launcher.Open(QUrl(QString::fromUtf16(kHomePageAddress)));
}

void CClipDlg::OnHelp() {
    // The standard help command opens nothing: help is the Help button's.
}

void CClipDlg::AddAboutToWindowMenu() {
    if (m_pWindowMenu == nullptr) {
        m_pWindowMenu = new QMenu(this);
        m_pWindowMenu->setObjectName(u"WindowMenu"_s);
        auto addCommand = [this](const QString& strText, unsigned nID) {
            QAction* pAction = m_pWindowMenu->addAction(strText);
            connect(pAction, &QAction::triggered, this, [this, nID] { OnSysCommand(nID, 0); });
        };
        QAction* pCutList = m_pWindowMenu->addAction(u"C&ut list..."_s);
        pCutList->setObjectName(u"CutListAction"_s);
        connect(pCutList, &QAction::triggered, this, [this] { OnCutList(); });
        QAction* pJoin = m_pWindowMenu->addAction(u"&Join MPEG files..."_s);
        pJoin->setObjectName(u"JoinAction"_s);
        connect(pJoin, &QAction::triggered, this, [this] { OnJoinFiles(); });
        m_pWindowMenu->addSeparator();
        addCommand(u"Mi&nimize"_s, SC_MINIMIZE);
        addCommand(u"&Close"_s, SC_CLOSE);
        const QString strAbout = LoadResourceString(IDS_ABOUTBOX);
        if (!strAbout.isEmpty()) {
            m_pWindowMenu->addSeparator();
            addCommand(strAbout, IDM_ABOUTBOX);
        }
    }
}

void CClipDlg::ShowWindowMenu(const QPoint& globalPos) {
    if (m_pWindowMenu != nullptr) {
        m_pWindowMenu->popup(globalPos);
    }
}

void CClipDlg::OnSysCommand(unsigned nID, qintptr /*lParam*/) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.exec();
        return;
    }
    switch (nID & 0xFFF0) {
        case SC_MINIMIZE:
            showMinimized();
            break;
        case SC_CLOSE:
            close();
            break;
        default:
            break;
    }
}
