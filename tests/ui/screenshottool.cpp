// Writes pictures of the main window in each mode and of the About box, for the docs and for
// checking the layout by eye: tarnwick_screenshots <output-folder> [<point-size>]. With a point
// size the desktop's font is DejaVu Sans at that size, and the pictures' names end in -<size>pt.
// tarnwick_screenshots <output-folder> --plan <file> opens the file, asks for a clean clip from
// 00:00:02 to 00:00:06 and writes main-plan-line.png once the plan line shows it.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPixmap>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "app/aboutdlg.h"
#include "app/clipapp.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"

using namespace Qt::StringLiterals;

namespace {

class CSilentPlanReporter final : public IReporter {
public:
    void ShowMessage(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ShowAppMessage(const std::string& text) override { ShowMessage(text, {}); }
    bool AskReplace(const std::string&) override { return false; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};

bool Save(QWidget& widget, const QString& strPath) {
    QCoreApplication::processEvents();
    const bool bSaved = widget.grab().save(strPath);
    std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(strPath));
    return bSaved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc == 4 && QString::fromLocal8Bit(argv[2]) == u"--plan"_s) {
        CFakeShellServices shell;
        CClipApp app(u"/usr/bin/tarnwick"_s, shell.settings);
        CClipDlg dlg(app, shell.Services());
        dlg.show();
        CSilentPlanReporter reporter;
        if (!dlg.m_source.SetSourcePath(argv[3]) || !dlg.m_source.ProbeHeader(reporter) ||
            !dlg.m_source.ProbeDuration({})) {
            std::fprintf(stderr, "cannot open %s\n", argv[3]);
            return 1;
        }
        dlg.m_strInfoLine = QString::fromStdString(
            FormatSourceInfoLine(QString::fromLocal8Bit(argv[3]).section(u'/', -1).toStdString(),
                                 dlg.m_source.m_nTotalSeconds));
        dlg.m_nStartSecond = 2;
        dlg.m_nEndSecond = 6;
        dlg.DoDataExchange(false);
        static_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_CLEAN_CUTS))->click();
        dlg.UpdatePlanLine();
        const bool bPlanned = QTest::qWaitFor(
            [&dlg] { return dlg.PlanIsIdle() && !dlg.PlanLineText().isEmpty(); }, 10000);
        if (!bPlanned) {
            std::fprintf(stderr, "the plan line stayed empty\n");
            return 1;
        }
        return Save(dlg, QDir(QString::fromLocal8Bit(argv[1])).filePath(u"main-plan-line.png"_s))
                   ? 0
                   : 1;
    }
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
