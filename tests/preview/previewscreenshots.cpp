// Pictures of the main window with the preview window beside it, playing a real file, then
// paused, then a few pictures on with the preview's menu open, for the docs and for checking
// by eye:
//   tarnwick_preview_screenshots <output-folder> <mpeg-file> [<picture-name>]
// With a picture name, the main window starts centred on the screen, as a window manager may
// put it, and one picture of the file playing is taken under that name.
// Takes the whole screen, so a window manager should run to draw the captions.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <initializer_list>

#include "app/clipapp.h"
#include "media/gstfiltergraphfactory.h"
#include "media/qt/videowidget.h"
#include "media/qt/videowidgetoutput.h"
#include "media/querystopposition.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "preview/previewplayer.h"
#include "preview/previewwindow.h"
#include "ui/clipdlg.h"

using namespace Qt::StringLiterals;

namespace {

void Wait(int nMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The screen around the windows, captions included.
bool SaveScreen(std::initializer_list<const QWidget*> windows, const QString& strPath) {
    Wait(500);
    QRect area;
    for (const QWidget* pWindow : windows) {
        area = area.united(pWindow->frameGeometry());
    }
    area.adjust(-8, -8, 8, 8);
    QScreen* pScreen = QGuiApplication::primaryScreen();
    const QPixmap picture = pScreen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool bSaved = picture.save(strPath);
    std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(strPath));
    return bSaved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr,
                     "usage: tarnwick_preview_screenshots <output-folder> <mpeg-file> "
                     "[<picture-name>]\n");
        return 2;
    }
    const bool bCentred = argc == 4;
    const QDir output(QString::fromLocal8Bit(argv[1]));
    const std::string strFile = argv[2];

    CFakeShellServices shell;
    shell.shellFolders.SetFolder(CSIDL_MYVIDEO, u"/home/user/Videos"_s);
    CClipApp app(u"/usr/bin/tarnwick"_s, shell.settings);
    CClipDlg dlg(app, shell.Services());
    CGraphOptions options;
    options.m_strAudioSink = "fakesink sync=true";
    CGstFilterGraphFactory factory(WidgetGraphOptions(options));
    dlg.SetPreviewGraphFactory(&factory);
    dlg.move(40, 175);
    dlg.show();
    Wait(300);
    if (bCentred) {
        const QRect workArea = dlg.screen()->availableGeometry();
        QRect frame = dlg.frameGeometry();
        frame.moveCenter(workArea.center());
        dlg.move(frame.topLeft());
        Wait(300);
    }

    // What the Open command does once it has probed the file.
    std::int64_t llStop = 0;
    if (!dlg.m_source.SetSourcePath(strFile) || !QueryStopPosition(strFile, &llStop)) {
        std::fprintf(stderr, "cannot open %s\n", strFile.c_str());
        return 1;
    }
    dlg.m_source.m_llFileSize = QFileInfo(QString::fromLocal8Bit(argv[2])).size();
    dlg.m_strInfoLine = QString::fromStdString(
        FormatSourceInfoLine(QFileInfo(QString::fromLocal8Bit(argv[2])).fileName().toStdString(),
                             static_cast<int32_t>(llStop / 10000000)));
    dlg.DoDataExchange(false);
    dlg.ClosePreview();
    if (dlg.OpenPreview(dlg.m_source) != 1 || g_pPreview == nullptr) {
        std::fprintf(stderr, "the preview did not open\n");
        return 1;
    }
    CPreviewWindow* pPreview = g_pPreview->Window();

    if (bCentred) {
        dlg.OnPlay();
        Wait(2600);
        g_pPreview->RefreshPosition();
        const bool bOk =
            SaveScreen({&dlg, pPreview}, output.filePath(QString::fromLocal8Bit(argv[3])));
        dlg.ClosePreview();
        return bOk ? 0 : 1;
    }

    // Some way in, the start time taken, the position shown, then paused there.
    dlg.OnPlay();
    Wait(2600);
    g_pPreview->RefreshPosition();
    dlg.OnStartTime();
    Wait(1200);
    g_pPreview->RefreshPosition();
    bool bOk = SaveScreen({&dlg, pPreview}, output.filePath(u"preview.png"_s));
    dlg.OnPause();
    g_pPreview->RefreshPosition();
    bOk = SaveScreen({&dlg, pPreview}, output.filePath(u"preview-paused.png"_s)) && bOk;

    // Three pictures on, the menu with the picture commands, opened from the keyboard.
    for (int n = 0; n < 3; ++n) {
        g_pPreview->StepForward();
    }
    pPreview->activateWindow();
    g_pPreview->OnKeyDown(Qt::Key_Menu, Qt::NoModifier);
    QMenu* pMenu = g_pPreview->ContextMenu();
    if (pMenu == nullptr) {
        std::fprintf(stderr, "the preview's menu did not open\n");
        return 1;
    }
    bOk = SaveScreen({&dlg, pPreview, pMenu}, output.filePath(u"preview-menu.png"_s)) && bOk;
    pMenu->close();
    dlg.ClosePreview();
    return bOk ? 0 : 1;
}
