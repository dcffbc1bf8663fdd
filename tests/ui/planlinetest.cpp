// The plan line of the main window on a DVD stream made with ffmpeg: the span the engine plans
// for what is typed, again when clean cuts are toggled or the mode changes, the messages of
// invalid fields, the exact position "Start Time" keeps, the key pictures the preview jumps
// between, and a clip whose first picture is the one the line named.
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

#include "../media/testmedia.h"
#include "mpeg/cutplan.h"
#include "mpeg/streamclock.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/latestjob.h"
#include "windowfixture.h"

namespace {

class CPlanWindow : public CWindow {
public:
    CPlanWindow() { Show(); }

    bool Open(const std::string& path) {
        shell.fileDialogs.ScriptChoice(QString::fromStdString(path));
        return ClickAndWait(IDC_OPEN_MPEG) && WaitForPlan();
    }
    bool WaitForPlan() {
        return QTest::qWaitFor([this] { return Dlg().PlanIsIdle(); }, 30000);
    }
    QString Line() { return Dlg().PlanLineText(); }
    void Type(int nId, const QString& text) {
        Edit(nId)->setText(text);
        QVERIFY(WaitForPlan());
    }
    void SetTimes(int nStart, int nEnd) {
        Type(IDC_START_SECOND, QString::number(nStart));
        Type(IDC_END_SECOND, QString::number(nEnd));
    }

    QTemporaryDir dir;
};

// The engine's plan of a clip between whole seconds, for the opened source.
CCutPlan EnginePlan(CClipDlg& dlg, CClipTime start, CClipTime end, bool clean) {
    CNoteReporter reporter;
    CCutPlanner planner(reporter);
    CCutPlan plan;
    CMpegSource source = dlg.m_source;
    planner.PlanClip(source, start, end, {clean}, plan);
    return plan;
}

QString Hundredths(int64_t time100ns) {
    const int64_t h = time100ns / 100'000;
    return QString::asprintf("%02lld:%02lld:%02lld.%02lld", static_cast<long long>(h / 360'000),
                             static_cast<long long>(h / 6000 % 60),
                             static_cast<long long>(h / 100 % 60), static_cast<long long>(h % 100));
}

}  // namespace

class CPlanLineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_strMedia = TestMediaPath(TestMedia::DvdLong);
        if (m_strMedia.empty()) {
            QSKIP("ffmpeg could not make the test media");
        }
    }
    void TypedTimesGiveThePlannedSpanAndCleanCutsChangeIt();
    void InvalidFieldsSayWhyAndSeriesShowTheirFirstPiece();
    void StartTimeKeepsTheExactPositionWhileTheFieldsMatchIt();
    void KeyPicturesReachThePreviewAndStartWritesTheNamedPicture();

private:
    std::string m_strMedia;
};

void CPlanLineTest::TypedTimesGiveThePlannedSpanAndCleanCutsChangeIt() {
    CPlanWindow window;
    QVERIFY(window.Open(m_strMedia));
    window.SetTimes(3, 8);
    const CCutPlan plain = EnginePlan(window.Dlg(), {0, 0, 3}, {0, 0, 8}, false);
    QVERIFY(window.Line().startsWith(u"Clip: "_s + Hundredths(*plain.m_first.m_start100ns) +
                                     u" to "_s + Hundredths(*plain.m_first.m_end100ns) + u", "_s));
    QVERIFY(window.Line().endsWith(u" MB"_s) || window.Line().endsWith(u" KB"_s));
    QCOMPARE(window.Dlg().GetDlgItem(IDC_CLIP_PLAN)->accessibleName(), window.Line());

    const QString plainLine = window.Line();
    window.Button(IDC_CLEAN_CUTS)->click();
    QVERIFY(window.WaitForPlan());
    const CCutPlan clean = EnginePlan(window.Dlg(), {0, 0, 3}, {0, 0, 8}, true);
    QVERIFY(window.Line().startsWith(u"Clip: "_s + Hundredths(*clean.m_first.m_start100ns)));
    QVERIFY(window.Line() != plainLine);
    window.Button(IDC_CLEAN_CUTS)->click();
    QVERIFY(window.WaitForPlan());
    QCOMPARE(window.Line(), plainLine);
}

void CPlanLineTest::InvalidFieldsSayWhyAndSeriesShowTheirFirstPiece() {
    CPlanWindow window;
    QVERIFY(window.Open(m_strMedia));
    window.SetTimes(9, 8);
    QCOMPARE(window.Line(), u"The Start Time is bigger than the End Time!"_s);
    window.Type(IDC_END_SECOND, u"99"_s);
    QCOMPARE(window.Line(), u"The End Time is bigger than the total time!"_s);
    window.Type(IDC_END_SECOND, u"x"_s);
    QCOMPARE(window.Line(), u"Please enter an integer."_s);
    // Nothing else changed: the fields keep what was typed, no message box was shown.
    QCOMPARE(window.Edit(IDC_END_SECOND)->text(), u"x"_s);
    QVERIFY(window.shell.messageBoxes.Requests().empty());

    window.Button(IDC_BY_SIZE)->click();
    window.Type(IDC_PIECE_COUNT, u"3"_s);
    QVERIFY2(window.Line().startsWith(u"3 pieces, the first: 00:00:00.00 to "_s),
             qPrintable(window.Line()));
    window.Button(IDC_BY_TIME)->click();
    window.Type(IDC_PIECE_SECONDS, u"5"_s);
    QVERIFY2(window.Line().startsWith(u"3 pieces, the first: 00:00:00.00 to 00:00:0"_s),
             qPrintable(window.Line()));

    // Closing the source empties the line.
    window.Button(IDC_CLOSE_SOURCE)->click();
    QVERIFY(window.WaitForPlan());
    QCOMPARE(window.Line(), QString());
    QVERIFY(!window.Dlg().GetDlgItem(IDC_CLIP_PLAN)->isEnabled());
}

void CPlanLineTest::StartTimeKeepsTheExactPositionWhileTheFieldsMatchIt() {
    CPlanWindow window;
    QVERIFY(window.Open(m_strMedia));
    QVERIFY(g_pPreview != nullptr);
    g_pPreview->m_llCurrentPos = 34'800'000;  // 3.48 s
    window.Button(IDC_START_TIME)->click();
    QCOMPARE(window.Edit(IDC_START_SECOND)->text(), u"3"_s);
    QVERIFY(window.Dlg().DoDataExchange(true));
    QCOMPARE(window.Dlg().FieldTime(false).m_nMillisecond, 480);
    QCOMPARE(window.Dlg().FieldTime(true).m_nMillisecond, 0);
    window.Type(IDC_START_SECOND, u"4"_s);
    QVERIFY(window.Dlg().DoDataExchange(true));
    QCOMPARE(window.Dlg().FieldTime(false).m_nMillisecond, 0);
}

void CPlanLineTest::KeyPicturesReachThePreviewAndStartWritesTheNamedPicture() {
    CPlanWindow window;
    QVERIFY(window.Open(m_strMedia));
    QVERIFY(g_pPreview != nullptr);
    QVERIFY(g_pPreview->CanJumpToKeyPictures());

    // The next key picture from a paused position is the next one the engine lists.
    CNoteReporter reporter;
    auto file = PosixFileSystem().OpenRead(m_strMedia);
    CKeyPictureList list;
    QCOMPARE(
        ListKeyPictures(*file, window.Dlg().m_source.m_llFileSize, reporter, NeverStop(), {}, list),
        EPlanStatus::Planned);
    QVERIFY(list.m_pictures.size() > 3);
    CFakeFilterGraph& graph = window.graphs.Graph();
    graph.SetCurrentPosition(list.m_pictures[1].m_llTime100ns + 10'000);
    g_pPreview->JumpToKeyPicture(true);
    // Inside that picture: the preview seeks into it, not to its very edge.
    const int64_t llOnePicture = 400'000;
    QVERIFY(graph.CurrentPosition() >= list.m_pictures[2].m_llTime100ns);
    QVERIFY(graph.CurrentPosition() < list.m_pictures[2].m_llTime100ns + llOnePicture);

    // The line names the clip's first picture; a click seeks the preview there, and Start
    // writes a clip that begins with it.
    window.Button(IDC_CLEAN_CUTS)->click();
    window.SetTimes(3, 8);
    QVERIFY(window.Line().startsWith(u"Clip: "_s));
    const CCutPlan plan = EnginePlan(window.Dlg(), {0, 0, 3}, {0, 0, 8}, true);
    window.Button(IDC_CLIP_PLAN)->click();
    QCOMPARE(graph.CurrentPosition(), *plan.m_first.m_start100ns);

    const QString clip = window.dir.filePath(u"clip.mpg"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(clip);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));
    const auto picture = DecodeFirstPicture(clip.toStdString());
    QVERIFY(picture);
    // The line counts from the stream's first time.
    const auto clock = CStreamClock::Measure(*file, window.Dlg().m_source.m_llFileSize);
    QVERIFY(clock);
    const double named = static_cast<double>(clock->m_llStartClock) / 90000 +
                         static_cast<double>(*plan.m_first.m_start100ns) / 1e7;
    QVERIFY2(std::abs(picture->m_dSeconds - named) < 0.05,
             qPrintable(QString::number(picture->m_dSeconds) + u" "_s + QString::number(named)));
}

QTEST_MAIN(CPlanLineTest)
#include "planlinetest.moc"
