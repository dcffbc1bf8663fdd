#include "app/clipapp.h"

#include <QDialog>
#include <QFileInfo>

using namespace Qt::StringLiterals;

CClipApp::CClipApp(const QString& strExecutablePath, ISettingsStore& settings)
    : m_strAppName(ApplicationNameOf(strExecutablePath)),
      m_strRegistryKey(u"Quellbrook"_s),
      m_settings(settings) {
    const QFileInfo executable(strExecutablePath);
    const QString strSuffix = executable.suffix();
    m_strHelpFilePath =
        strSuffix.isEmpty()
            ? strExecutablePath + u".HLP"_s
            : strExecutablePath.left(strExecutablePath.size() - strSuffix.size()) + u"HLP"_s;
}

QString CClipApp::ApplicationNameOf(const QString& strExecutablePath) {
    return QFileInfo(strExecutablePath).completeBaseName();
}

bool CClipApp::StartUp(const CMainWindowFactory& makeMainWindow) {
    std::unique_ptr<QDialog> pDlg = makeMainWindow(*this);
    m_pMainWnd = pDlg.get();
    pDlg->exec();
    m_pMainWnd = nullptr;
    pDlg.reset();
    return false;
}

QString CClipApp::ReadSetting(const QString& strSection, const QString& strName,
                              const QString& strDefault) const {
    return m_settings.ReadString({m_strRegistryKey, m_strAppName}, strSection, strName, strDefault);
}

bool CClipApp::WriteSetting(const QString& strSection, const QString& strName,
                            const QString& strValue) const {
    return m_settings.WriteString({m_strRegistryKey, m_strAppName}, strSection, strName, strValue);
}
