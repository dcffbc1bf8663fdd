// The three Start commands in the main window: their own preconditions, the exchange that
// stops them, and what the engine tells the user through the window's message boxes and
// busy cursor. The bytes of the outputs are the engine tests' business; here only whether
// and where they are written.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "mpeg/mpegsource.h"
#include "mpeg/reporter.h"
#include "platform/io/faultyfilesystem.h"
#include "silentreporter.h"
#include "testsupport.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/progressdlg.h"
#include "windowfixture.h"

namespace {

constexpr int kPackBytes = 2048;
constexpr int kPacks = 200;

// A program stream of equal packs: each starts with a pack start code, the rest is filler
// that holds no start code.
QByteArray MakeStream() {
    QByteArray data(kPackBytes * kPacks, '\x55');
    for (int i = 0; i < kPacks; ++i) {
        const int at = i * kPackBytes;
        data[at] = '\x00';
        data[at + 1] = '\x00';
        data[at + 2] = '\x01';
        data[at + 3] = '\xBA';
    }
    return data;
}

// A window that has a 100-second source open, as the Open command leaves it.
class COpenedWindow : public CWindow {
public:
    COpenedWindow() {
        QFile file(dir.filePath(u"show.mpg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(MakeStream());
        file.close();
        strSource = file.fileName();

        CClipDlg& dlg = Show();
        CSilentReporter reporter;
        QVERIFY(dlg.m_source.SetSourcePath(strSource.toStdString()));
        QVERIFY(dlg.m_source.ProbeHeader(reporter));
        dlg.m_source.m_llDuration100ns = 1'000'000'000;
        dlg.m_source.m_nTotalSeconds = 100;
        dlg.m_strInfoLine = u"show.mpg  (00:01:40)"_s;
        dlg.DoDataExchange(false);
    }

    void SetTimes(const QString& start, const QString& end) {
        const QStringList s = start.split(u':');
        const QStringList e = end.split(u':');
        Edit(IDC_START_HOUR)->setText(s[0]);
        Edit(IDC_START_MINUTE)->setText(s[1]);
        Edit(IDC_START_SECOND)->setText(s[2]);
        Edit(IDC_END_HOUR)->setText(e[0]);
        Edit(IDC_END_MINUTE)->setText(e[1]);
        Edit(IDC_END_SECOND)->setText(e[2]);
    }

    const CMessageBoxRequest& LastBox() const { return shell.messageBoxes.Requests().back(); }

    // Every file in the output folder, hidden ones too: no temporary file may stay behind.
    QStringList OutputFiles() const {
        QDir out(dir.filePath(u"out"_s));
        return out.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    // Starts a split into two pieces in out/ whose copy waits, inside the second piece, until
    // the test releases it.
    void StartHeldSplit(std::atomic<bool>& reached, std::atomic<bool>& released) {
        QVERIFY(QDir(dir.path()).mkdir(u"out"_s));
        Edit(IDC_OUTPUT_FOLDER)->setText(dir.filePath(u"out/"_s));
        Edit(IDC_PIECE_COUNT)->setText(u"2"_s);
        const std::string source = strSource.toStdString();
        constexpr int64_t kHoldAt = kPackBytes * kPacks * 3 / 4;
        heldFileSystem.m_limitRead = [source, &reached, &released](const std::string& path,
                                                                   int64_t position, size_t count) {
            if (path == source && position <= kHoldAt &&
                kHoldAt < position + static_cast<int64_t>(count) && !released) {
                reached = true;
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!released && std::chrono::steady_clock::now() < giveUp) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            return static_cast<int64_t>(count);
        };
        Dlg().SetFileSystem(heldFileSystem);
        Button(IDC_SIZE_START)->click();
        QVERIFY(Dlg().IsBusy());
        QTRY_VERIFY(reached);
    }

    QTemporaryDir dir;
    QString strSource;
    // Plain reads and writes, each through its hooks.
    CFaultyFileSystem heldFileSystem;
};

}  // namespace

class CSplitCommandsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void CutWithoutSourceAsksToOpenOne();
    void CutStopsWhenExchangeFails();
    void CutWritesClipAndSaysDone();
    void CutAsksBeforeReplacingAndNoKeepsFile();
    void CutWriteFailureShowsApplicationBoxAndLowersCursor();
    void CutRefusesSourceAsOutput();
    void SizeSplitNeedsSourceAndPositiveCount();
    void SizeSplitWritesPiecesIntoTypedFolder();
    void TimeSplitReadsLengthFieldWithoutExchange();
    void TimeSplitRefusesLengthOfZero();
    void TimeSplitWithoutDurationDoesNothing();
    void CleanCutsChangeWhatEachStartWrites();
    void ACleanSeriesThatMergedSaysSoAfterSplittingIsDone();
    void LongSplitShowsProgressAndCancelRemovesThePieceBeingWritten();
    void WindowKeepsHandlingEventsButTakesNoInputDuringASplit();
    void ClosingTheWindowStopsTheSplitFirst();
    void MessagesComeOnTheGuiThreadInTheirOrder();
};

void CSplitCommandsTest::CutWithoutSourceAsksToOpenOne() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    const auto& boxes = window.shell.messageBoxes.Requests();
    QCOMPARE(boxes.size(), size_t{1});
    QCOMPARE(boxes[0].kind, EMessageBoxKind::Owned);
    QCOMPARE(boxes[0].pOwner, &dlg);
    QCOMPARE(boxes[0].strCaption, u"Error"_s);
    QCOMPARE(boxes[0].strText, u"Please open an MPEG file first!"_s);
}

void CSplitCommandsTest::CutStopsWhenExchangeFails() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Dlg().m_strOutputFile = window.dir.filePath(u"out/clip.mpg"_s);
    window.Dlg().DoDataExchange(false);
    window.SetTimes(u"0:0:10"_s, u"0:0:20"_s);
    window.Edit(IDC_END_MINUTE)->setText(QString());

    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    QCOMPARE(window.Texts(), QStringList{u"Please enter an integer."_s});
    QVERIFY(window.OutputFiles().isEmpty());
    QCOMPARE(window.shell.busyCursor.Raises(), 0);
}

void CSplitCommandsTest::CutWritesClipAndSaysDone() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FILE)->setText(window.dir.filePath(u"out/clip.mpg"_s));
    window.SetTimes(u"0:0:10"_s, u"0:0:20"_s);

    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    QCOMPARE(window.Texts(), QStringList{u"Splitting is done!"_s});
    QCOMPARE(window.LastBox().kind, EMessageBoxKind::Owned);
    QCOMPARE(window.LastBox().strCaption, u"Message"_s);
    QCOMPARE(window.LastBox().pOwner, &window.Dlg());
    QCOMPARE(window.OutputFiles(), QStringList{u"clip.mpg"_s});
    // A clip that starts inside the file begins with the header, itself a whole pack.
    QFile clip(window.dir.filePath(u"out/clip.mpg"_s));
    QVERIFY(clip.open(QIODevice::ReadOnly));
    QVERIFY(clip.size() > kPackBytes);
    QCOMPARE(clip.read(4), QByteArray("\x00\x00\x01\xBA", 4));
    QCOMPARE(window.shell.busyCursor.Raises(), 1);
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
    // The exchange took the typed times into the fields.
    QCOMPARE(window.Dlg().m_nEndSecond, 20);
}

void CSplitCommandsTest::CutAsksBeforeReplacingAndNoKeepsFile() {
    COpenedWindow window;
    const QString output = window.dir.filePath(u"clip.mpg"_s);
    QFile existing(output);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    window.Edit(IDC_OUTPUT_FILE)->setText(output);
    window.SetTimes(u"0:0:0"_s, u"0:0:30"_s);

    window.shell.messageBoxes.ScriptAnswer(EMessageBoxAnswer::No);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    QCOMPARE(window.shell.messageBoxes.Requests().size(), size_t{1});
    const CMessageBoxRequest& question = window.LastBox();
    QCOMPARE(question.kind, EMessageBoxKind::ReplaceQuestion);
    QCOMPARE(question.pOwner, nullptr);
    QCOMPARE(question.strCaption, u"Warning"_s);
    QCOMPARE(question.buttons, EMessageBoxButtons::YesNo);
    QCOMPARE(question.icon, EMessageBoxIcon::Exclamation);
    QCOMPARE(question.strText, output + u" exists. Do you want to replace it?"_s);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
    existing.close();

    window.shell.messageBoxes.ScriptAnswer(EMessageBoxAnswer::Yes);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));
    QCOMPARE(window.Texts().last(), u"Splitting is done!"_s);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.read(4), QByteArray("\x00\x00\x01\xBA", 4));
}

// The disk fills up: the process's file size limit stops the writes. (/dev/full served here
// until a device at the output path came to be refused unopened.)
void CSplitCommandsTest::CutWriteFailureShowsApplicationBoxAndLowersCursor() {
    COpenedWindow window;
    const QString output = window.dir.filePath(u"clip.mpg"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(output);
    window.SetTimes(u"0:0:0"_s, u"0:0:30"_s);
    window.shell.messageBoxes.SetDefaultAnswer(EMessageBoxAnswer::Yes);

    rlimit usual{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &usual), 0);
    rlimit small = usual;
    small.rlim_cur = 4096;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));
    ::setrlimit(RLIMIT_FSIZE, &usual);
    std::signal(SIGXFSZ, previous);

    const CMessageBoxRequest& failure = window.LastBox();
    QCOMPARE(failure.kind, EMessageBoxKind::Application);
    QCOMPARE(failure.strCaption, window.App().ApplicationName());
    QCOMPARE(failure.icon, EMessageBoxIcon::Exclamation);
    QCOMPARE(failure.strText, u"Can not write the output mpeg file(2)!"_s);
    QVERIFY(!window.Texts().contains(u"Splitting is done!"_s));
    QCOMPARE(window.shell.busyCursor.Raises(), 1);
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
    QVERIFY(!QFile::exists(output));
}

void CSplitCommandsTest::CutRefusesSourceAsOutput() {
    COpenedWindow window;
    const QString link = window.dir.filePath(u"link.mpg"_s);
    QVERIFY(QFile::link(window.strSource, link));
    window.Edit(IDC_OUTPUT_FILE)->setText(link);
    window.SetTimes(u"0:0:10"_s, u"0:0:20"_s);
    window.shell.messageBoxes.SetDefaultAnswer(EMessageBoxAnswer::Yes);

    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    QCOMPARE(window.Texts(), QStringList{u"The output file can not be the source file!"_s});
    QCOMPARE(QFileInfo(window.strSource).size(), qint64{kPackBytes} * kPacks);
}

void CSplitCommandsTest::SizeSplitNeedsSourceAndPositiveCount() {
    {
        CWindow window;
        window.Show();
        QVERIFY(window.ClickAndWait(IDC_SIZE_START));
        QVERIFY(window.shell.messageBoxes.Requests().empty());
    }
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FOLDER)->setText(window.dir.filePath(u"out/"_s));
    window.Edit(IDC_PIECE_COUNT)->setText(u"0"_s);
    QVERIFY(window.ClickAndWait(IDC_SIZE_START));
    QVERIFY(window.shell.messageBoxes.Requests().empty());
    QVERIFY(window.OutputFiles().isEmpty());

    // A piece count that holds no number stops the command after the exchange's message.
    window.Edit(IDC_PIECE_COUNT)->setText(u"many"_s);
    QVERIFY(window.ClickAndWait(IDC_SIZE_START));
    QCOMPARE(window.Texts(), QStringList{u"Please enter an integer."_s});
    QVERIFY(window.OutputFiles().isEmpty());
}

void CSplitCommandsTest::SizeSplitWritesPiecesIntoTypedFolder() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    const QString folder = window.dir.filePath(u"out/"_s);
    window.Edit(IDC_OUTPUT_FOLDER)->setText(folder);
    window.Edit(IDC_PIECE_COUNT)->setText(u"3"_s);

    QVERIFY(window.ClickAndWait(IDC_SIZE_START));

    QCOMPARE(window.Texts(), QStringList{u"Splitting is done!"_s});
    QCOMPARE(window.OutputFiles(),
             (QStringList{u"show_0.mpg"_s, u"show_1.mpg"_s, u"show_2.mpg"_s}));
    // The folder the split took is the one the close box will store.
    QCOMPARE(window.Dlg().m_strOutputFolder, folder);
    QCOMPARE(window.shell.busyCursor.Raises(), 1);
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
}

void CSplitCommandsTest::TimeSplitReadsLengthFieldWithoutExchange() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FOLDER)->setText(window.dir.filePath(u"out/"_s));
    window.Edit(IDC_PIECE_SECONDS)->setText(u" 45 seconds"_s);
    // Would stop an exchange; this command runs none.
    window.Edit(IDC_START_HOUR)->setText(u"abc"_s);

    QVERIFY(window.ClickAndWait(IDC_TIME_START));

    QCOMPARE(window.Dlg().m_nPieceSeconds, 45);
    QCOMPARE(window.Texts(), QStringList{u"Splitting is done!"_s});
    QCOMPARE(window.OutputFiles(),
             (QStringList{u"show_0.mpg"_s, u"show_1.mpg"_s, u"show_2.mpg"_s}));
    QCOMPARE(window.Dlg().m_nStartHour, 0);
}

void CSplitCommandsTest::TimeSplitRefusesLengthOfZero() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FOLDER)->setText(window.dir.filePath(u"out/"_s));
    for (const QString& text : {u"0"_s, u""_s, u"-30"_s}) {
        window.shell.messageBoxes.Clear();
        window.Edit(IDC_PIECE_SECONDS)->setText(text);
        QVERIFY(window.ClickAndWait(IDC_TIME_START));
        QCOMPARE(window.Texts(), QStringList{u"The split file time must be bigger than 0!"_s});
        QCOMPARE(window.LastBox().strCaption, u"Error"_s);
        QVERIFY(window.OutputFiles().isEmpty());
    }
}

void CSplitCommandsTest::TimeSplitWithoutDurationDoesNothing() {
    COpenedWindow window;
    QVERIFY(QDir(window.dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FOLDER)->setText(window.dir.filePath(u"out/"_s));
    window.Dlg().m_source.m_nTotalSeconds = 0;
    QVERIFY(window.ClickAndWait(IDC_TIME_START));
    QVERIFY(window.shell.messageBoxes.Requests().empty());
    QVERIFY(window.OutputFiles().isEmpty());

    window.Dlg().m_source.m_nTotalSeconds = 100;
    window.Dlg().m_source.ClearSourcePath();
    QVERIFY(window.ClickAndWait(IDC_TIME_START));
    QVERIFY(window.shell.messageBoxes.Requests().empty());
    QVERIFY(window.OutputFiles().isEmpty());
}

// After half a second the progress dialog, modal to the window, names the piece being written
// and shows the share of all bytes; Cancel stops the copy, the piece being written goes, the
// finished one stays, and nothing says "Splitting is done!".
void CSplitCommandsTest::LongSplitShowsProgressAndCancelRemovesThePieceBeingWritten() {
    COpenedWindow window;
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    QElapsedTimer started;
    started.start();
    window.StartHeldSplit(reached, released);
    CClipDlg& dlg = window.Dlg();
    QVERIFY(dlg.ProgressDialog() == nullptr || !dlg.ProgressDialog()->isVisible());

    QTRY_VERIFY(dlg.ProgressDialog() != nullptr && dlg.ProgressDialog()->isVisible());
    QVERIFY(started.elapsed() >= CClipDlg::kProgressDelayMs - 50);
    CProgressDlg* pProgress = dlg.ProgressDialog();
    QCOMPARE(pProgress->parentWidget(), &dlg);
    QVERIFY(pProgress->isWindow());
    QCOMPARE(pProgress->Text(), u"piece 2 of 2: show_1.mpg"_s);
    // The first piece, half of the bytes, is written.
    QVERIFY(pProgress->BarValue() >= CProgressDlg::kBarSteps * 4 / 10);
    QVERIFY(pProgress->BarValue() < CProgressDlg::kBarSteps);

    QTest::mouseClick(pProgress->CancelButton(), Qt::LeftButton);
    QVERIFY(!pProgress->CancelButton()->isEnabled());
    released = true;
    QVERIFY(window.WaitUntilIdle(5000));
    QVERIFY(!pProgress->isVisible());
    QCOMPARE(window.OutputFiles(), QStringList{u"show_0.mpg"_s});
    QVERIFY(window.Texts().isEmpty());
    QCOMPARE(window.shell.busyCursor.Raises(), 1);
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
}

// While the worker copies, the GUI thread serves timers and paints on time; the window itself
// takes neither clicks nor keys, so no second command starts and Escape does not end it.
void CSplitCommandsTest::WindowKeepsHandlingEventsButTakesNoInputDuringASplit() {
    COpenedWindow window;
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    window.StartHeldSplit(reached, released);
    CClipDlg& dlg = window.Dlg();

    QElapsedTimer clock;
    clock.start();
    qint64 llFiredAt = -1;
    QTimer::singleShot(100, &dlg, [&] { llFiredAt = clock.elapsed(); });
    QTRY_VERIFY(llFiredAt >= 0);
    QVERIFY2(llFiredAt < 400, qPrintable(u"the timer fired after %1 ms"_s.arg(llFiredAt)));
    QVERIFY(dlg.IsBusy());

    window.shell.fileDialogs.ScriptCancel();
    QTest::mouseClick(window.Button(IDC_OPEN_MPEG), Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(window.shell.fileDialogs.Calls().empty());
    QVERIFY(dlg.isVisible());

    released = true;
    QVERIFY(window.WaitUntilIdle());
    QCOMPARE(window.Texts(), QStringList{u"Splitting is done!"_s});
    QCOMPARE(window.OutputFiles(), (QStringList{u"show_0.mpg"_s, u"show_1.mpg"_s}));
    // Input reaches the window again.
    QTest::mouseClick(window.Button(IDC_OPEN_MPEG), Qt::LeftButton);
    QCOMPARE(window.shell.fileDialogs.Calls().size(), size_t{1});
}

// A close request while a split runs, with its progress dialog up, stops it; the window
// closes once the split has ended, storing the folder as any close does, and the piece being
// written is gone.
void CSplitCommandsTest::ClosingTheWindowStopsTheSplitFirst() {
    COpenedWindow window;
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    window.StartHeldSplit(reached, released);
    CClipDlg& dlg = window.Dlg();
    QTRY_VERIFY(dlg.ProgressDialog() != nullptr && dlg.ProgressDialog()->isVisible());

    // The progress dialog is not modal to the toolkit, which would hold back the desktop's
    // close request before it reaches the window.
    QCOMPARE(dlg.ProgressDialog()->windowModality(), Qt::NonModal);
    QVERIFY(QGuiApplication::modalWindow() != dlg.ProgressDialog()->windowHandle());
    QVERIFY(!dlg.close());
    QVERIFY(dlg.isVisible());
    QVERIFY(window.WritesOf(u"output_folder"_s).empty());
    released = true;
    QTRY_VERIFY(!dlg.isVisible());
    QVERIFY(!dlg.IsBusy());
    QCOMPARE(window.WritesOf(u"output_folder"_s).size(), size_t{1});
    QCOMPARE(window.OutputFiles(), QStringList{u"show_0.mpg"_s});
    QVERIFY(window.Texts().isEmpty());
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
}

// The worker's question and its answer, then the final message: each shown by the GUI thread,
// in that order, with its kind and owner.
void CSplitCommandsTest::MessagesComeOnTheGuiThreadInTheirOrder() {
    COpenedWindow window;
    const QString output = window.dir.filePath(u"clip.mpg"_s);
    QFile existing(output);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    window.Edit(IDC_OUTPUT_FILE)->setText(output);
    window.SetTimes(u"0:0:10"_s, u"0:0:20"_s);
    window.shell.messageBoxes.ScriptAnswer(EMessageBoxAnswer::Yes);
    std::vector<QThread*> threads;
    std::vector<int> cursorDepths;
    window.shell.messageBoxes.SetOnShow([&](const CMessageBoxRequest&) {
        threads.push_back(QThread::currentThread());
        cursorDepths.push_back(window.shell.busyCursor.Depth());
    });

    QVERIFY(window.ClickAndWait(IDC_CUT_START));

    const auto& boxes = window.shell.messageBoxes.Requests();
    QCOMPARE(boxes.size(), size_t{2});
    QCOMPARE(boxes[0].kind, EMessageBoxKind::ReplaceQuestion);
    QCOMPARE(boxes[0].pOwner, nullptr);
    QCOMPARE(boxes[1].kind, EMessageBoxKind::Owned);
    QCOMPARE(boxes[1].pOwner, &window.Dlg());
    QCOMPARE(boxes[1].strText, u"Splitting is done!"_s);
    QCOMPARE(threads, (std::vector<QThread*>{qApp->thread(), qApp->thread()}));
    // The busy cursor is down before the message, as after the copy.
    QCOMPARE(cursorDepths, (std::vector<int>{0, 0}));
}

QTEST_MAIN(CSplitCommandsTest)
#include "splitcommandstest.moc"

// The check box switches all three Start commands between the two layouts, on a real
// recording: by default piece 1 begins with the source's whole first pack; cut cleanly it
// begins with a short prefix of its own, and the pieces hold each byte of the source once.
void CSplitCommandsTest::CleanCutsChangeWhatEachStartWrites() {
    const QString sample =
        qEnvironmentVariable("TARNWICK_SAMPLES") + u"/wxpython-classic_testmovie.mpg"_s;
    if (!QFile::exists(sample)) {
        QSKIP("the real samples are not at hand");
    }
    CWindow window;
    QTemporaryDir dir;
    const QString source = dir.filePath(u"movie.mpg"_s);
    QVERIFY(QFile::copy(sample, source));
    QFile sourceFile(source);
    QVERIFY(sourceFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = sourceFile.readAll();
    CClipDlg& dlg = window.Show();
    CSilentReporter reporter;
    QVERIFY(dlg.m_source.SetSourcePath(source.toStdString()));
    QVERIFY(dlg.m_source.ProbeHeader(reporter));
    QVERIFY(dlg.m_source.ProbeDuration({}));  // from the stream's clock: 9 seconds
    dlg.m_strInfoLine = u"movie.mpg  (00:00:09)"_s;
    dlg.DoDataExchange(false);
    const QByteArray firstPack = bytes.left(static_cast<int>(dlg.m_source.m_nHeaderLength));
    window.shell.messageBoxes.SetDefaultAnswer(EMessageBoxAnswer::Yes);
    QVERIFY(QDir(dir.path()).mkdir(u"out"_s));
    const QString folder = dir.filePath(u"out/"_s);
    window.Edit(IDC_OUTPUT_FOLDER)->setText(folder);
    window.Edit(IDC_OUTPUT_FILE)->setText(folder + u"clip.mpg"_s);
    window.Edit(IDC_START_SECOND)->setText(u"3"_s);
    window.Edit(IDC_END_SECOND)->setText(u"6"_s);
    window.Edit(IDC_PIECE_COUNT)->setText(u"3"_s);
    window.Edit(IDC_PIECE_SECONDS)->setText(u"3"_s);
    const auto read = [&](const QString& name) {
        QFile file(folder + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    auto* pClean = window.Button(IDC_CLEAN_CUTS);
    for (const bool bClean : {false, true}) {
        if (pClean->isChecked() != bClean) {
            pClean->click();
        }
        for (const int nStart : {IDC_CUT_START, IDC_SIZE_START, IDC_TIME_START}) {
            for (const QString& name : QDir(folder).entryList(QDir::Files)) {
                QVERIFY(QFile::remove(folder + name));
            }
            window.shell.messageBoxes.Clear();
            QVERIFY(window.ClickAndWait(nStart));
            const auto& boxes = window.shell.messageBoxes.Requests();
            QCOMPARE(boxes.size(), size_t{1});
            QCOMPARE(boxes[0].strText, u"Splitting is done!"_s);
            const QByteArray later =
                read(nStart == IDC_CUT_START ? u"clip.mpg"_s : u"movie_1.mpg"_s);
            QVERIFY(later.size() > firstPack.size());
            QCOMPARE(later.startsWith(firstPack), !bClean);
            if (nStart == IDC_CUT_START) {
                continue;
            }
            // Cut cleanly, the pieces without their prefixes hold the source once: no pack
            // twice, none left out. Each later prefix carries up to a block of padding, each
            // joint splits a pack in two.
            const QByteArray pieces[] = {read(u"movie_0.mpg"_s), read(u"movie_1.mpg"_s),
                                         read(u"movie_2.mpg"_s)};
            const qint64 total = pieces[0].size() + pieces[1].size() + pieces[2].size();
            if (bClean) {
                QVERIFY(pieces[0].left(4096) == bytes.left(4096));
                QVERIFY(total > bytes.size() && total < bytes.size() + 2 * (4096 + 512));
            } else {
                QVERIFY(total >= bytes.size() + 2 * firstPack.size());
            }
        }
    }
    QCOMPARE(window.WritesOf(u"clean_cuts"_s).back().strValue, u"1"_s);
}

// A recording with one group of pictures, split cleanly into pieces of a second: one piece is
// written, and a message after "Splitting is done!" says which times were merged and why.
void CSplitCommandsTest::ACleanSeriesThatMergedSaysSoAfterSplittingIsDone() {
    CWindow window;
    QTemporaryDir dir;
    testing_support::CVideoShape shape;
    shape.m_dSeconds = 3;
    shape.m_nGroupPictures = 75;
    const QString source = dir.filePath(u"movie.mpg"_s);
    testing_support::WriteFile(source.toStdString(), testing_support::MakeVideoRecording(shape));
    CClipDlg& dlg = window.Show();
    CSilentReporter reporter;
    QVERIFY(dlg.m_source.SetSourcePath(source.toStdString()));
    QVERIFY(dlg.m_source.ProbeHeader(reporter));
    QVERIFY(dlg.m_source.ProbeDuration({}));
    dlg.m_strInfoLine = u"movie.mpg  (00:00:03)"_s;
    dlg.DoDataExchange(false);
    QVERIFY(QDir(dir.path()).mkdir(u"out"_s));
    window.Edit(IDC_OUTPUT_FOLDER)->setText(dir.filePath(u"out/"_s));
    window.Edit(IDC_PIECE_SECONDS)->setText(u"1"_s);
    window.Button(IDC_CLEAN_CUTS)->click();

    QVERIFY(window.ClickAndWait(IDC_TIME_START));

    const auto& boxes = window.shell.messageBoxes.Requests();
    QStringList texts;
    for (const CMessageBoxRequest& request : boxes) {
        texts << request.strText;
    }
    QCOMPARE(texts,
             (QStringList{u"Splitting is done!"_s,
                          u"movie_0.mpg runs on over 00:00:01 to 00:00:02: no picture after its "
                          "start can begin a piece.\n1 piece was written instead of 3: "
                          "movie_0.mpg."_s}));
    QCOMPARE(boxes.back().strCaption, u"Message"_s);
    QCOMPARE(boxes.back().pOwner, &dlg);
    QCOMPARE(QDir(dir.filePath(u"out"_s)).entryList(QDir::Files), QStringList{u"movie_0.mpg"_s});
}
