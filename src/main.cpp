// Tarnwick: the desktop program. The application object runs the main window as the only
// main loop; the process ends when that window closes.
#include <QApplication>

#include <memory>

#include "app/clipapp.h"
#include "platform/desktop/qtshellservices.h"
#include "ui/clipdlg.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Names the installed desktop entry, from which the desktop takes the icon and the name.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    CQtShellServices shell;
    CClipApp theApp(QCoreApplication::applicationFilePath(), shell.Services().settings);
    theApp.StartUp([&shell](CClipApp& app) -> std::unique_ptr<QDialog> {
        return std::make_unique<CClipDlg>(app, shell.Services());
    });
    return 0;
}
