// The split engine's reporter as the main window shows it: message boxes of the right kind
// and owner, and the counted busy cursor. GUI thread only: work on another thread reaches it
// through CEngineJob.
#pragma once

#include <QString>

#include "mpeg/reporter.h"
#include "platform/desktop/shellservices.h"

class QWidget;

class CWindowReporter final : public IReporter {
public:
    // pOwner owns the boxes that have an owner; strApplicationName captions the application
    // message box. The services must outlive the reporter.
    CWindowReporter(QWidget* pOwner, QString strApplicationName, const CShellServices& shell);

    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override;
    bool AskReplace(const std::string& text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

private:
    QWidget* m_pOwner;
    QString m_strApplicationName;
    CShellServices m_shell;
};

// Paths cross between the window (QString) and the engine (bytes in the file system's
// encoding) only through these two.
std::string ToFileSystemPath(const QString& path);
QString FromFileSystemPath(const std::string& path);
