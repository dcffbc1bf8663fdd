// The main window with every desktop service scripted, as the program builds it but with
// doubles; shared by the window's test programs.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

#include "app/clipapp.h"
#include "media/fake/fakefiltergraph.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "ui/clipdlg.h"

using namespace Qt::StringLiterals;

// The window with its services, as the program builds it but with doubles.
class CWindow {
public:
    explicit CWindow(const QString& strExecutable = u"/opt/tarnwick/tarnwick"_s)
        : m_app(strExecutable, shell.settings) {
        shell.shellFolders.SetFolder(CSIDL_MYVIDEO, u"/home/u/Videos"_s);
        shell.shellFolders.SetFolder(CSIDL_DESKTOP, u"/home/u/Desktop"_s);
    }

    // beforeShow sets the window up as the program does before it first shows (a start file).
    CClipDlg& Show(const std::function<void(CClipDlg&)>& beforeShow = {}) {
        m_pDlg = std::make_unique<CClipDlg>(m_app, shell.Services());
        m_pDlg->SetPreviewGraphFactory(&graphs);
        if (beforeShow) {
            beforeShow(*m_pDlg);
        }
        m_pDlg->show();
        return *m_pDlg;
    }

    CClipDlg& Dlg() { return *m_pDlg; }
    // Waits until the window's long work (a Start command, Open) has ended; false when it
    // has not within the time.
    bool WaitUntilIdle(int nTimeoutMs = 30000) {
        return QTest::qWaitFor([this] { return !m_pDlg->IsBusy(); }, nTimeoutMs);
    }
    // Clicks a button and waits for what it started.
    bool ClickAndWait(int nId) {
        Button(nId)->click();
        return WaitUntilIdle();
    }
    CClipApp& App() { return m_app; }
    // The texts of the message boxes shown so far, in order.
    QStringList Texts() const {
        QStringList texts;
        for (const CMessageBoxRequest& request : shell.messageBoxes.Requests()) {
            texts << request.strText;
        }
        return texts;
    }
    QLineEdit* Edit(int nId) { return qobject_cast<QLineEdit*>(m_pDlg->GetDlgItem(nId)); }
    QLabel* Label(int nId) { return qobject_cast<QLabel*>(m_pDlg->GetDlgItem(nId)); }
    QAbstractButton* Button(int nId) {
        return qobject_cast<QAbstractButton*>(m_pDlg->GetDlgItem(nId));
    }

    std::vector<CFakeSettingsStore::CWrite> WritesOf(const QString& strName) const {
        std::vector<CFakeSettingsStore::CWrite> writes;
        for (const auto& write : shell.settings.Writes()) {
            if (write.strName == strName) {
                writes.push_back(write);
            }
        }
        return writes;
    }

    CFakeShellServices shell;
    // The preview's graphs: scripted, so an opened source previews without any media.
    CFakeFilterGraphFactory graphs;

private:
    CClipApp m_app;
    std::unique_ptr<CClipDlg> m_pDlg;
};
