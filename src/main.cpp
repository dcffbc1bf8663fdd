// Tarnwick: the desktop program. The application object runs the main window as the only
// main loop; the process ends when that window closes.
#include <QApplication>
#include <QDir>

#include <cstdio>
#include <memory>

#include "app/clipapp.h"
#include "app/startcommand.h"
#include "platform/desktop/qtshellservices.h"
#include "ui/clipdlg.h"

namespace {

QStringList Arguments(int argc, char* argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    return args;
}

// Prints the command's text where it belongs; the exit status, or -1 to run the window.
int Answer(const CStartCommand& command) {
    switch (command.m_action) {
        case CStartCommand::kHelp:
        case CStartCommand::kVersion:
            std::fputs(command.m_strText.toLocal8Bit().constData(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case CStartCommand::kError:
            std::fputs(command.m_strText.toLocal8Bit().constData(), stderr);
            return 2;
        case CStartCommand::kRun:
            break;
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    const QString strProgram = QStringLiteral("tarnwick");
    const QString strVersion = QStringLiteral(TARNWICK_VERSION);
    // --help, --version and an unknown option are answered before the display is opened, so
    // they work without one; Qt's own options (-platform, -display, ...) are taken out before
    // the file is read.
    const CStartCommand early =
        ParseStartCommand(Arguments(argc, argv), strProgram, strVersion, QDir::currentPath(),
                          EStartReading::kBeforeDisplay);
    if (const int status = Answer(early); status >= 0) {
        return status;
    }
    QApplication application(argc, argv);
    const CStartCommand command =
        ParseStartCommand(Arguments(argc, argv), strProgram, strVersion, QDir::currentPath());
    if (const int status = Answer(command); status >= 0) {
        return status;
    }
    // Names the installed desktop entry, from which the desktop takes the icon and the name.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    CQtShellServices shell;
    CClipApp theApp(QCoreApplication::applicationFilePath(), shell.Services().settings);
    theApp.StartUp([&shell, &command](CClipApp& app) -> std::unique_ptr<QDialog> {
        auto pDlg = std::make_unique<CClipDlg>(app, shell.Services());
        pDlg->SetStartFile(command.m_strFile, command.m_nIgnoredFiles);
        return pDlg;
    });
    return 0;
}
