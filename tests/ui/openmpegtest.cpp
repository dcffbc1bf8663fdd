// The Open MPEG command in the main window: the dialog it shows, the information line, and
// that a failed open leaves the opened source exactly as it was.
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "../media/testmedia.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "windowfixture.h"

namespace {

constexpr int kPackBytes = 2048;

// Equal packs, each starting with a pack start code, filled with bytes that hold none.
QByteArray MakeStream(int packs) {
    QByteArray data(kPackBytes * packs, '\x55');
    for (int i = 0; i < packs; ++i) {
        data.replace(i * kPackBytes, 4, QByteArray("\x00\x00\x01\xBA", 4));
    }
    return data;
}

// Seconds as the media framework reports them.
StopPositionQuery Reports(int64_t stop100ns) {
    return [stop100ns](const std::string&, int64_t* stop) {
        *stop = stop100ns;
        return true;
    };
}

struct CSourceState {
    std::string strPath;
    int64_t llSize;
    uint32_t nHeader;
    int64_t llDuration;
    int32_t nTotal;

    explicit CSourceState(const CMpegSource& source)
        : strPath(source.SourcePath()),
          llSize(source.m_llFileSize),
          nHeader(source.m_nHeaderLength),
          llDuration(source.m_llDuration100ns),
          nTotal(source.m_nTotalSeconds) {}
    bool operator==(const CSourceState&) const = default;
};

class COpenWindow : public CWindow {
public:
    COpenWindow() { Show(); }
    explicit COpenWindow(const std::function<void(CClipDlg&)>& beforeShow) { Show(beforeShow); }

    QString Write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly)) {
            return {};
        }
        file.write(bytes);
        return file.fileName();
    }

    void Open(const QString& path) {
        shell.fileDialogs.ScriptChoice(path);
        QVERIFY(ClickAndWait(IDC_OPEN_MPEG));
    }

    QTemporaryDir dir;
};

}  // namespace

class COpenMpegTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void OpensPlayableFileWithMeasuredDuration();
    void InformationLineShowsNameAndWholeSeconds_data();
    void InformationLineShowsNameAndWholeSeconds();
    void DialogStartsAtCurrentSourceAndCancelChangesNothing();
    void FailedOpenKeepsPreviousSource_data();
    void FailedOpenKeepsPreviousSource();
    void UnplayableFileSaysTotalTimeUnknown();
    void StreamsAreMeasuredByTheirOwnClock();
    void OpenRedisplaysStoredFieldValues();
    void OpeningLeavesTheWindowResponsiveUnderTheBusyCursor();
    void FileNamedAtStartOrDroppedOpensAsOpenMpegDoes_data();
    void FileNamedAtStartOrDroppedOpensAsOpenMpegDoes();
};

void COpenMpegTest::OpensPlayableFileWithMeasuredDuration() {
    const std::string media = TestMediaPath(TestMedia::Mpeg2Vob);
    if (media.empty()) {
        QSKIP("ffmpeg could not make the test media");
    }
    const std::optional<double> seconds = FfprobeDuration(media);
    QVERIFY(seconds);
    COpenWindow window;
    const QString path = QString::fromStdString(media);

    window.Open(path);

    QVERIFY2(window.Texts().isEmpty(), qPrintable(window.Texts().join(u'\n')));
    const CMpegSource& source = window.Dlg().m_source;
    QCOMPARE(QString::fromStdString(source.SourcePath()), path);
    QCOMPARE(source.m_llFileSize, QFileInfo(path).size());
    QVERIFY(source.m_nHeaderLength > 0);
    QVERIFY(source.m_llDuration100ns > 0);
    QVERIFY(std::abs(source.m_nTotalSeconds - std::floor(*seconds)) <= 1.0);
    const QString expected = QFileInfo(path).fileName() + u"  (00:00:0"_s +
                             QString::number(source.m_nTotalSeconds) + u')';
    QCOMPARE(window.Dlg().m_strInfoLine, expected);
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), expected);

    const auto& call = window.shell.fileDialogs.Calls().front();
    QCOMPARE(call.pOwner, &window.Dlg());
    QCOMPARE(call.strTitle, u"Select an MPEG file"_s);
    QCOMPARE(call.filter.strText, u"MPEG File(*.mpg;*.mpeg)"_s);
    QCOMPARE(call.filter.strPattern, u"*.mpg;*.mpeg"_s);
    QCOMPARE(call.strInitial, QString());
    // DVD-style .vob files and any other name can be chosen; the MPEG filter comes first.
    QCOMPARE(call.filters.size(), size_t{3});
    QCOMPARE(call.filters[0].strText, call.filter.strText);
    QCOMPARE(call.filters[1].strText, u"DVD video (*.vob)"_s);
    QCOMPARE(call.filters[1].strPattern, u"*.vob"_s);
    QCOMPARE(call.filters[2].strText, u"All files (*)"_s);
    QCOMPARE(call.filters[2].strPattern, u"*"_s);
}

void COpenMpegTest::InformationLineShowsNameAndWholeSeconds_data() {
    QTest::addColumn<qint64>("stop");
    QTest::addColumn<QString>("line");
    QTest::newRow("3,665 s") << qint64{36'650'000'000} << u"a.mpg  (01:01:05)"_s;
    QTest::newRow("360,000 s") << qint64{3'600'000'000'000} << u"a.mpg  (100:00:00)"_s;
    QTest::newRow("below one second") << qint64{9'999'999} << u"a.mpg  (00:00:00)"_s;
    QTest::newRow("59.9 s") << qint64{599'000'000} << u"a.mpg  (00:00:59)"_s;
}

void COpenMpegTest::InformationLineShowsNameAndWholeSeconds() {
    QFETCH(qint64, stop);
    QFETCH(QString, line);
    COpenWindow window;
    window.Dlg().SetStopPositionQuery(Reports(stop));
    window.Open(window.Write(u"a.mpg"_s, MakeStream(10)));
    QCOMPARE(window.Dlg().m_strInfoLine, line);
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), line);
    QCOMPARE(window.Dlg().m_source.m_llDuration100ns, stop);
}

void COpenMpegTest::DialogStartsAtCurrentSourceAndCancelChangesNothing() {
    COpenWindow window;
    window.Dlg().SetStopPositionQuery(Reports(1'000'000'000));
    const QString first = window.Write(u"first.mpg"_s, MakeStream(10));
    window.Open(first);
    const CSourceState opened(window.Dlg().m_source);
    const QString line = window.Dlg().m_strInfoLine;

    window.shell.fileDialogs.ScriptCancel();
    QVERIFY(window.ClickAndWait(IDC_OPEN_MPEG));

    QCOMPARE(window.shell.fileDialogs.Calls().back().strInitial, first);
    QVERIFY(CSourceState(window.Dlg().m_source) == opened);
    QCOMPARE(window.Dlg().m_strInfoLine, line);
    QVERIFY(window.Texts().isEmpty());
}

void COpenMpegTest::FailedOpenKeepsPreviousSource_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("applicationBox");
    QTest::newRow("missing file") << u"missing"_s << u"Can not open the mpeg file!"_s << false;
    QTest::newRow("too short") << u"short"_s << u"Can not read the mpeg file head!"_s << false;
    QTest::newRow("video elementary stream")
        << u"elementary"_s << u"Can not read the mpeg file head!"_s << false;
    QTest::newRow("no second pack")
        << u"one pack"_s << u"Can not find the second pack in the mpeg file head!"_s << false;
    QTest::newRow("no duration") << u"duration"_s << u"Can not open the mpeg total time!"_s << true;
    QTest::newRow("gone before the second open")
        << u"gone"_s << u"Can not open the mpeg file!"_s << false;
}

void COpenMpegTest::FailedOpenKeepsPreviousSource() {
    QFETCH(QString, failure);
    QFETCH(QString, message);
    QFETCH(bool, applicationBox);
    COpenWindow window;
    window.Dlg().SetStopPositionQuery(Reports(1'000'000'000));
    window.Open(window.Write(u"good.mpg"_s, MakeStream(10)));
    const CSourceState opened(window.Dlg().m_source);
    const QString line = window.Dlg().m_strInfoLine;
    QCOMPARE(line, u"good.mpg  (00:01:40)"_s);

    QString path = window.dir.filePath(u"bad.mpg"_s);
    if (failure == u"short"_s) {
        window.Write(u"bad.mpg"_s, QByteArray("\x00\x00\x01", 3));
    } else if (failure == u"elementary"_s) {
        window.Write(u"bad.mpg"_s, QByteArray("\x00\x00\x01\xB3", 4) + QByteArray(30000, 'x'));
    } else if (failure == u"one pack"_s) {
        window.Write(u"bad.mpg"_s, QByteArray("\x00\x00\x01\xBA", 4) + QByteArray(30000, 'x'));
    } else if (failure == u"duration"_s) {
        window.Write(u"bad.mpg"_s, MakeStream(20));
        window.Dlg().SetStopPositionQuery([](const std::string&, int64_t*) { return false; });
    } else if (failure == u"gone"_s) {
        window.Write(u"bad.mpg"_s, MakeStream(20));
        window.Dlg().SetStopPositionQuery([](const std::string& file, int64_t* stop) {
            *stop = 50'000'000;
            return QFile::remove(QString::fromStdString(file));
        });
    }
    window.shell.messageBoxes.Clear();

    window.Open(path);

    QCOMPARE(window.Texts(), QStringList{message});
    const CMessageBoxRequest& box = window.shell.messageBoxes.Requests().front();
    if (applicationBox) {
        QCOMPARE(box.kind, EMessageBoxKind::Application);
        QCOMPARE(box.strCaption, window.App().ApplicationName());
    } else {
        QCOMPARE(box.kind, EMessageBoxKind::Owned);
        QCOMPARE(box.strCaption, u"Error"_s);
    }
    QVERIFY(CSourceState(window.Dlg().m_source) == opened);
    QCOMPARE(window.Dlg().m_strInfoLine, line);
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), line);
}

void COpenMpegTest::UnplayableFileSaysTotalTimeUnknown() {
    // Packs that hold no stream: the header probe accepts them, the media framework cannot
    // play them.
    COpenWindow window;
    window.Open(window.Write(u"empty.mpg"_s, MakeStream(100)));
    QCOMPARE(window.Texts(), QStringList{u"Can not open the mpeg total time!"_s});
    QVERIFY(window.Dlg().m_strInfoLine.isEmpty());
    QVERIFY(!window.Dlg().m_source.HasSourcePath());
}

void COpenMpegTest::StreamsAreMeasuredByTheirOwnClock() {
    // 9.23 s by its time stamps, where the framework says 8.76 s; and a camera's stream, for
    // which the framework has no length at all. Neither asks the framework.
    const std::string movie = SamplePath("wxpython-classic_testmovie.mpg");
    const std::string camera = TestMediaPath(TestMedia::Camera);
    QVERIFY(!movie.empty() && !camera.empty());
    COpenWindow window;
    int asked = 0;
    window.Dlg().SetStopPositionQuery([&asked](const std::string&, int64_t*) {
        ++asked;
        return false;
    });
    window.Open(QString::fromStdString(movie));
    QCOMPARE(window.Dlg().m_strInfoLine, u"wxpython-classic_testmovie.mpg  (00:00:09)"_s);
    QCOMPARE(window.Dlg().m_source.m_eDurationSource, EDurationSource::TimeStamps);
    window.Open(QString::fromStdString(camera));
    QCOMPARE(window.Dlg().m_strInfoLine, u"camera.mpg  (00:00:20)"_s);
    QVERIFY(window.Dlg().m_source.HasSourcePath());
    QVERIFY2(window.Texts().isEmpty(), qPrintable(window.Texts().join(u'\n')));
    QCOMPARE(asked, 0);
}

void COpenMpegTest::OpenRedisplaysStoredFieldValues() {
    COpenWindow window;
    window.Dlg().SetStopPositionQuery(Reports(1'000'000'000));
    window.Edit(IDC_START_MINUTE)->setText(u"7"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(u"/tmp/typed.mpg"_s);
    window.Open(window.Write(u"a.mpg"_s, MakeStream(10)));
    QCOMPARE(window.Edit(IDC_START_MINUTE)->text(), u"0"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), window.Dlg().m_strOutputFile);
}

// The probes run off the GUI thread: while the media framework measures the file, timers fire
// and the busy cursor shows; the window is opened once the measurement has come.
void COpenMpegTest::OpeningLeavesTheWindowResponsiveUnderTheBusyCursor() {
    COpenWindow window;
    std::atomic<bool> measuring{false};
    std::atomic<bool> measured{false};
    window.Dlg().SetStopPositionQuery([&](const std::string&, int64_t* pStop) {
        measuring = true;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!measured && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        *pStop = 30LL * 10000000;
        return true;
    });
    window.shell.fileDialogs.ScriptChoice(window.Write(u"slow.mpg"_s, MakeStream(20)));
    window.Button(IDC_OPEN_MPEG)->click();
    QTRY_VERIFY(measuring);
    QVERIFY(window.Dlg().IsBusy());
    QCOMPARE(window.shell.busyCursor.Depth(), 1);

    QElapsedTimer clock;
    clock.start();
    qint64 llFiredAt = -1;
    QTimer::singleShot(100, &window.Dlg(), [&] { llFiredAt = clock.elapsed(); });
    QTRY_VERIFY(llFiredAt >= 0);
    QVERIFY2(llFiredAt < 400, qPrintable(u"the timer fired after %1 ms"_s.arg(llFiredAt)));
    QVERIFY(window.Dlg().m_strInfoLine.isEmpty());

    measured = true;
    QVERIFY(window.WaitUntilIdle());
    QCOMPARE(window.Dlg().m_strInfoLine, u"slow.mpg  (00:00:30)"_s);
    QCOMPARE(window.shell.busyCursor.Depth(), 0);
    QCOMPARE(window.shell.busyCursor.Raises(), 1);
    QVERIFY(window.Texts().isEmpty());
}

void COpenMpegTest::FileNamedAtStartOrDroppedOpensAsOpenMpegDoes_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("files");
    QTest::newRow("command line") << u"start"_s << 1;
    QTest::newRow("command line, several") << u"start"_s << 3;
    QTest::newRow("one dropped") << u"drop"_s << 1;
    QTest::newRow("several dropped") << u"drop"_s << 2;
}

// The command line's file and a drop go the way of Open MPEG: the same probes and messages,
// the information line and the preview; of several files the first is opened, and the user is
// told so.
void COpenMpegTest::FileNamedAtStartOrDroppedOpensAsOpenMpegDoes() {
    QFETCH(QString, how);
    QFETCH(int, files);
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        QFile file(dir.filePath(u"f%1.mpg"_s.arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(MakeStream(10 + i));
        paths << file.fileName();
    }
    const auto setUp = [&](CClipDlg& dlg) {
        dlg.SetStopPositionQuery(Reports(1'000'000'000));
        if (how == u"start"_s) {
            dlg.SetStartFile(paths.front(), files - 1);
        }
    };
    COpenWindow window(setUp);
    if (how == u"drop"_s) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) {
            urls << QUrl::fromLocalFile(path);
        }
        data.setUrls(urls);
        const QPoint at = window.Dlg().rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window.Dlg(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window.Dlg(), &drop);
        QVERIFY(drop.isAccepted());
    }
    QTRY_COMPARE(window.Dlg().m_strInfoLine, u"f0.mpg  (00:01:40)"_s);
    QVERIFY(window.WaitUntilIdle());
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), u"f0.mpg  (00:01:40)"_s);
    QCOMPARE(QString::fromStdString(window.Dlg().m_source.SourcePath()), paths.front());
    QVERIFY(g_pPreview != nullptr);
    QCOMPARE(window.graphs.GraphsHandedOut(), 1);
    const QStringList expected =
        files > 1 ? QStringList{u"Only one file can be opened at a time. f0.mpg is opened."_s}
                  : QStringList{};
    QCOMPARE(window.Texts(), expected);
    QVERIFY(window.shell.fileDialogs.Calls().empty());

    // Anything but local files is not taken.
    QMimeData text;
    text.setText(u"f1.mpg"_s);
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window.Dlg(), &enter);
    QVERIFY(!enter.isAccepted());
}

QTEST_MAIN(COpenMpegTest)
#include "openmpegtest.moc"
