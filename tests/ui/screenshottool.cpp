// Writes pictures of the main window in each mode and of the About box, for the docs and for
// checking the layout by eye: tarnwick_screenshots <output-folder> [<point-size>]. With a point
// size the desktop's font is DejaVu Sans at that size, and the pictures' names end in -<size>pt.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPixmap>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>

#include "app/aboutdlg.h"
#include "app/clipapp.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"

using namespace Qt::StringLiterals;

namespace {

bool Save(QWidget& widget, const QString& strPath) {
    QCoreApplication::processEvents();
    const bool bSaved = widget.grab().save(strPath);
    std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(strPath));
    return bSaved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: tarnwick_screenshots <output-folder> [<point-size>]\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QString strSuffix;
    if (argc == 3) {
        const int nPointSize = QString::fromLocal8Bit(argv[2]).toInt();
        if (nPointSize <= 0) {
            std::fprintf(stderr, "the point size is a whole number\n");
            return 2;
        }
        QApplication::setFont(QFont(u"DejaVu Sans"_s, nPointSize));
        strSuffix = u"-%1pt"_s.arg(nPointSize);
    }
    auto name = [&](const QString& strBase) {
        return output.filePath(strBase + strSuffix + u".png"_s);
    };

    CFakeShellServices shell;
    shell.shellFolders.SetFolder(CSIDL_MYVIDEO, u"/home/user/Videos"_s);
    CClipApp app(u"/usr/bin/tarnwick"_s, shell.settings);
    CClipDlg dlg(app, shell.Services());
    dlg.show();
    dlg.m_strInfoLine = u"show.mpg  (01:00:00)"_s;
    dlg.DoDataExchange(false);

    bool bOk = Save(dlg, name(u"main-by-frame"_s));
    static_cast<QRadioButton*>(dlg.GetDlgItem(IDC_BY_SIZE))->click();
    bOk = Save(dlg, name(u"main-by-size"_s)) && bOk;
    static_cast<QRadioButton*>(dlg.GetDlgItem(IDC_BY_TIME))->click();
    bOk = Save(dlg, name(u"main-by-time"_s)) && bOk;

    CAboutDlg about(&dlg);
    about.show();
    bOk = Save(about, name(u"about"_s)) && bOk;
    return bOk ? 0 : 1;
}
