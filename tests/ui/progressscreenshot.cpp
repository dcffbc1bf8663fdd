// A picture of the progress dialog over the main window while a split into ten pieces writes
// its third, for the docs and for checking by eye: tarnwick_progress_screenshot <output-folder>.
// Writes progress.png. Takes the screen, so a window manager should run to draw the captions.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/clipapp.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "platform/io/faultyfilesystem.h"
#include "silentreporter.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/progressdlg.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int kPackBytes = 2048;
constexpr int kPacks = 5000;

void Wait(int nMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnwick_progress_screenshot <output-folder>\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));

    // A program stream of equal packs, in a folder of its own.
    QTemporaryDir scratch(QDir::tempPath() + u"/tarnwick-XXXXXX"_s);
    QDir(scratch.path()).mkdir(u"Videos"_s);
    const QString strSource = scratch.filePath(u"Videos/show.mpg"_s);
    QFile file(strSource);
    QByteArray data(kPackBytes * kPacks, '\x55');
    for (int i = 0; i < kPacks; ++i) {
        data.replace(i * kPackBytes, 4, QByteArray("\x00\x00\x01\xBA", 4));
    }
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(strSource));
        return 1;
    }
    file.close();

    CFakeShellServices shell;
    shell.shellFolders.SetFolder(CSIDL_MYVIDEO, scratch.filePath(u"Videos"_s));
    CClipApp app(u"/usr/bin/tarnwick"_s, shell.settings);
    CClipDlg dlg(app, shell.Services());
    // The copy waits in the third piece until the picture is taken.
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    const std::string source = strSource.toStdString();
    const int64_t holdAt = int64_t{kPackBytes} * kPacks * 26 / 100;
    CFaultyFileSystem fileSystem;
    fileSystem.m_limitRead = [&](const std::string& path, int64_t position, size_t count) {
        if (path == source && position <= holdAt && holdAt < position + int64_t(count)) {
            reached = true;
            while (!released) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return static_cast<int64_t>(count);
    };
    dlg.SetFileSystem(fileSystem);
    dlg.show();
    Wait(300);
    const QRect workArea = dlg.screen()->availableGeometry();
    QRect frame = dlg.frameGeometry();
    frame.moveCenter(workArea.center());
    dlg.move(frame.topLeft());

    // What the Open command leaves for a file of 60 minutes.
    CSilentReporter reporter;
    if (!dlg.m_source.SetSourcePath(source) || !dlg.m_source.ProbeHeader(reporter)) {
        std::fprintf(stderr, "cannot open %s\n", source.c_str());
        return 1;
    }
    dlg.m_source.m_llDuration100ns = 3600LL * 10000000;
    dlg.m_source.m_nTotalSeconds = 3600;
    dlg.m_strInfoLine = u"show.mpg  (01:00:00)"_s;
    dlg.DoDataExchange(false);
    static_cast<QRadioButton*>(dlg.GetDlgItem(IDC_BY_SIZE))->click();
    static_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PIECE_COUNT))->setText(u"10"_s);
    Wait(300);

    static_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_SIZE_START))->click();
    QElapsedTimer waited;
    waited.start();
    while ((!reached || dlg.ProgressDialog() == nullptr || !dlg.ProgressDialog()->isVisible()) &&
           waited.elapsed() < 10000) {
        Wait(20);
    }
    Wait(600);
    const QRect area =
        dlg.frameGeometry().united(dlg.ProgressDialog()->frameGeometry()).adjusted(-8, -8, 8, 8);
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(
        0, area.x(), area.y(), area.width(), area.height());
    const QString strPath = output.filePath(u"progress.png"_s);
    const bool bSaved = picture.save(strPath);
    std::printf("%s %s (%s)\n", bSaved ? "wrote" : "FAILED", qPrintable(strPath),
                qPrintable(dlg.ProgressDialog()->Text()));

    // Cancelled, so the pieces written for the picture go.
    dlg.ProgressDialog()->CancelButton()->click();
    released = true;
    while (dlg.IsBusy() && waited.elapsed() < 30000) {
        Wait(20);
    }
    return bSaved ? 0 : 1;
}
