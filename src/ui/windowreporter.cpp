// The engine's messages in the main window's message boxes. Engine texts may carry paths, which
// are bytes in the file system's encoding, so every text is decoded as a path is.
#include "ui/windowreporter.h"

#include <QFile>

#include <utility>

CWindowReporter::CWindowReporter(QWidget* pOwner, QString strApplicationName,
                                 const CShellServices& shell)
    : m_pOwner(pOwner), m_strApplicationName(std::move(strApplicationName)), m_shell(shell) {}

void CWindowReporter::ShowMessage(const std::string& text, const std::string& caption) {
    m_shell.messageBoxes.Show(
        OwnedMessage(m_pOwner, FromFileSystemPath(caption), FromFileSystemPath(text)));
}

void CWindowReporter::ShowAppMessage(const std::string& text) {
    m_shell.messageBoxes.Show(ApplicationMessage(m_strApplicationName, FromFileSystemPath(text)));
}

bool CWindowReporter::AskReplace(const std::string& text) {
    return m_shell.messageBoxes.Show(ReplaceQuestion(FromFileSystemPath(text))) ==
           EMessageBoxAnswer::Yes;
}

void CWindowReporter::BeginWaitCursor() {
    m_shell.busyCursor.Raise();
}

void CWindowReporter::EndWaitCursor() {
    m_shell.busyCursor.Lower();
}

std::string ToFileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromFileSystemPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
