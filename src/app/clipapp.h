// The application object: names the application after its executable, keeps its per-user
// settings under the company key, and runs the main window as the program's only main loop.
#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "platform/desktop/settingsstore.h"

class QDialog;

class CClipApp {
public:
    // strExecutablePath is the program's full path: its file name without folder and extension
    // becomes the application name, which names the settings and captions the application
    // message box. The settings store must outlive the application object.
    CClipApp(const QString& strExecutablePath, ISettingsStore& settings);
    CClipApp(const CClipApp&) = delete;
    CClipApp& operator=(const CClipApp&) = delete;

    // Builds the main window; given the application object so the window can reach its
    // settings and flags.
    using CMainWindowFactory = std::function<std::unique_ptr<QDialog>(CClipApp&)>;

    // Runs the whole life of the application: builds the main window, runs it modally, then
    // destroys it. The window's result is not looked at. Always false: no message loop runs
    // after the main window has closed.
    bool StartUp(const CMainWindowFactory& makeMainWindow);

    // The stored value of strName in strSection, or strDefault when it is missing or cannot be
    // read.
    QString ReadSetting(const QString& strSection, const QString& strName,
                        const QString& strDefault) const;
    // Stores the value; false when it could not be stored. Callers may ignore the result.
    bool WriteSetting(const QString& strSection, const QString& strName,
                      const QString& strValue) const;

    const QString& ApplicationName() const { return m_strAppName; }
    // The executable's path with its extension replaced by ".HLP"; only its folder is used,
    // to find the help pages beside the executable.
    const QString& HelpFilePath() const { return m_strHelpFilePath; }
    // The running main window while StartUp runs it, else null.
    QDialog* MainWindow() const { return m_pMainWnd; }

    static QString ApplicationNameOf(const QString& strExecutablePath);

    // Set while the left mouse button is held on the position slider, so position reports do
    // not move the thumb under the user's hand. Only the slider sets and clears it.
    bool m_bSliderDragging = false;

private:
    QString m_strAppName;
    QString m_strHelpFilePath;
    QString m_strRegistryKey;
    ISettingsStore& m_settings;
    QDialog* m_pMainWnd = nullptr;
};
