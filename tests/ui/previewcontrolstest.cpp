// The main window's side of the preview, on a scripted graph: the transport buttons, "Start
// Time" and "End Time", the position display and the 600-step slider, the piece count's
// each-size display, and the close-source command the preview window sends.
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QtTest>

#include <memory>

#include "media/fake/fakefiltergraph.h"
#include "preview/previewplayer.h"
#include "preview/previewwindow.h"
#include "ui/controlids.h"
#include "ui/positionslider.h"
#include "ui/updown.h"
#include "windowfixture.h"

using namespace Qt::StringLiterals;

namespace {

constexpr LONGLONG kSecond = 10000000;

// The main window with a source whose preview plays on a scripted graph.
class CPreviewedWindow {
public:
    CPreviewedWindow() : dlg(window.Show()), factory(window.graphs) {}

    // Opens the preview of a source of the given size, as the Open command hands it over.
    bool OpenSource(std::int64_t llSize = 10000000) {
        dlg.m_source.SetSourcePath("/media/rec/show.mpg");
        dlg.m_source.m_llFileSize = llSize;
        dlg.m_strInfoLine = u"show.mpg  (01:00:00)"_s;
        dlg.DoDataExchange(false);
        dlg.ClosePreview();
        return dlg.OpenPreview(dlg.m_source) == 1;
    }

    // The preview's positions as its next refresh reads them, delivered to the window.
    void Report(LONGLONG llCurrent, LONGLONG llStop) {
        factory.Graph().SetCurrentPosition(llCurrent);
        factory.Graph().SetStopPosition(llStop);
        g_pPreview->OnTimer(IDT_POSITION);
        Deliver();
    }

    static void Deliver() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    CPositionSlider* Slider() {
        return static_cast<CPositionSlider*>(dlg.GetDlgItem(IDC_POSITION_SLIDER));
    }
    QString Position() { return window.Label(IDC_POSITION)->text(); }
    QString EachSize() { return window.Label(IDC_EACH_SIZE)->text(); }
    // The last seek the graph was given, or empty.
    std::string LastSeek() {
        std::string last;
        for (const std::string& call : factory.Graph().Calls()) {
            if (call.rfind("SetPositions(", 0) == 0) {
                last = call;
            }
        }
        return last;
    }

    CWindow window;
    CClipDlg& dlg;
    CFakeFilterGraphFactory& factory;
};

// Counts the events of one type that reach an object.
class CEventCounter final : public QObject {
public:
    CEventCounter(QObject* pWatched, QEvent::Type type) : m_type(type) {
        pWatched->installEventFilter(this);
    }
    int Count() const { return m_nCount; }

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == m_type) {
            ++m_nCount;
        }
        return false;
    }

private:
    QEvent::Type m_type;
    int m_nCount = 0;
};

}  // namespace

class CPreviewControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void TransportButtonsDrivePreview();
    void TimeButtonsTakePreviewPositionWithoutFraction();
    void TimeButtonsWithoutPreviewDoNothing();
    void PositionDisplayShowsWholeSeconds_data();
    void PositionDisplayShowsWholeSeconds();
    void SliderFollowsPreviewInSixHundredSteps();
    void WindowWithPreviewPaintsOnlyWhatChanges();
    void SliderReleaseSeeksToItsShare_data();
    void SliderReleaseSeeksToItsShare();
    void SliderReleaseWithoutStopPositionOrPreviewDoesNotSeek();
    void HeldSliderIgnoresReportsThenSeeksWhereReleased();
    void ArrowKeysMoveThumbWithoutSeeking();
    void PieceCountStepShowsEachSize();
    void ClosingPreviewWindowClosesSource();
    void ClosingMainWindowClosesPreview();
    void UnplayableFileEmptiesSourcePath();
    void NewSourceReplacesPreview();
};

void CPreviewControlsTest::TransportButtonsDrivePreview() {
    CPreviewedWindow w;
    // No preview: the buttons do nothing.
    w.window.Button(IDC_PLAY)->click();
    w.window.Button(IDC_PAUSE)->click();
    w.window.Button(IDC_STOP)->click();
    QVERIFY(g_pPreview == nullptr);

    QVERIFY(w.OpenSource());
    QCOMPARE(g_pPreview->m_nState, CPreviewPlayer::Stopped);
    w.window.Button(IDC_PLAY)->click();
    QCOMPARE(g_pPreview->m_nState, CPreviewPlayer::Playing);
    w.window.Button(IDC_PAUSE)->click();
    QCOMPARE(g_pPreview->m_nState, CPreviewPlayer::Paused);
    QCOMPARE(g_pPreview->Window()->windowTitle(), u"show.mpg  (Paused)"_s);
    w.window.Button(IDC_STOP)->click();
    QCOMPARE(g_pPreview->m_nState, CPreviewPlayer::Stopped);
    QCOMPARE(w.factory.Graph().CurrentPosition(), 0);
}

void CPreviewControlsTest::TimeButtonsTakePreviewPositionWithoutFraction() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(37259000000, 72000000000);  // 3,725.9 s

    // Text typed since the last exchange is replaced by the fields.
    w.window.Edit(IDC_END_HOUR)->setText(u"99"_s);
    w.window.Edit(IDC_OUTPUT_FILE)->setText(u"typed.mpg"_s);
    w.window.Button(IDC_START_TIME)->click();
    QCOMPARE(w.dlg.m_nStartHour, 1);
    QCOMPARE(w.dlg.m_nStartMinute, 2);
    QCOMPARE(w.dlg.m_nStartSecond, 5);
    QCOMPARE(w.window.Edit(IDC_START_HOUR)->text(), u"1"_s);
    QCOMPARE(w.window.Edit(IDC_START_MINUTE)->text(), u"2"_s);
    QCOMPARE(w.window.Edit(IDC_START_SECOND)->text(), u"5"_s);
    QCOMPARE(w.window.Edit(IDC_END_HOUR)->text(), u"0"_s);
    QCOMPARE(w.window.Edit(IDC_OUTPUT_FILE)->text(), w.dlg.m_strOutputFile);

    // An end before the start is taken as it comes.
    w.Report(10 * kSecond + 9999999, 72000000000);
    w.window.Button(IDC_END_TIME)->click();
    QCOMPARE(w.dlg.m_nEndHour, 0);
    QCOMPARE(w.dlg.m_nEndMinute, 0);
    QCOMPARE(w.dlg.m_nEndSecond, 10);
    QCOMPARE(w.window.Edit(IDC_END_SECOND)->text(), u"10"_s);
    QCOMPARE(w.dlg.m_nStartHour, 1);

    // A seek shows only at the next refresh: the buttons still take the old position.
    g_pPreview->SeekTo(100 * kSecond);
    w.window.Button(IDC_END_TIME)->click();
    QCOMPARE(w.dlg.m_nEndSecond, 10);
}

void CPreviewControlsTest::TimeButtonsWithoutPreviewDoNothing() {
    CPreviewedWindow w;
    w.dlg.m_nStartHour = 4;
    w.window.Edit(IDC_START_HOUR)->setText(u"7"_s);
    w.window.Button(IDC_START_TIME)->click();
    w.window.Button(IDC_END_TIME)->click();
    QCOMPARE(w.dlg.m_nStartHour, 4);
    QCOMPARE(w.window.Edit(IDC_START_HOUR)->text(), u"7"_s);
}

void CPreviewControlsTest::PositionDisplayShowsWholeSeconds_data() {
    QTest::addColumn<LONGLONG>("current");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << LONGLONG{0} << u"00:00:00"_s;
    QTest::newRow("59.99 s") << LONGLONG{599900000} << u"00:00:59"_s;
    QTest::newRow("1:02:05") << LONGLONG{37259000000} << u"01:02:05"_s;
    QTest::newRow("10 hours") << LONGLONG{360000000000} << u"10:00:00"_s;
    QTest::newRow("100 hours, not wrapped") << LONGLONG{3600000000000} << u"100:00:00"_s;
}

void CPreviewControlsTest::PositionDisplayShowsWholeSeconds() {
    QFETCH(LONGLONG, current);
    QFETCH(QString, text);
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(current, 4000000000000);
    QCOMPARE(w.Position(), text);
}

void CPreviewControlsTest::SliderFollowsPreviewInSixHundredSteps() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    // Until the first refresh both positions are 0: the slider stays at 0.
    PostWindowMessage(&w.dlg, WM_PREVIEW_POSITION);
    w.Deliver();
    QCOMPARE(w.Slider()->value(), 0);
    QCOMPARE(w.Position(), u"00:00:00"_s);

    w.Report(1800 * kSecond, 3600 * kSecond);
    QCOMPARE(w.Slider()->value(), 300);
    QCOMPARE(w.dlg.m_nSliderPos, 300);
    QCOMPARE(w.Position(), u"00:30:00"_s);

    // Truncated, not rounded.
    w.Report(1800 * kSecond - 1, 3600 * kSecond);
    QCOMPARE(w.Slider()->value(), 299);

    // A paint refreshes it as well.
    w.factory.Graph().SetCurrentPosition(900 * kSecond);
    g_pPreview->RefreshPosition();
    w.dlg.repaint();
    QCOMPARE(w.Slider()->value(), 150);

    // A stop position of 0 puts it to 0 on each refresh.
    w.Report(1800 * kSecond, 0);
    QCOMPARE(w.Slider()->value(), 0);
    QCOMPARE(w.Position(), u"00:30:00"_s);
}

// The window's paint refreshes the display and the slider; a refresh that changes nothing
// must not ask for another paint, or the window paints without pause while a preview exists.
void CPreviewControlsTest::WindowWithPreviewPaintsOnlyWhatChanges() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(1800 * kSecond, 3600 * kSecond);
    QTest::qWait(200);

    CEventCounter paints(&w.dlg, QEvent::Paint);
    QTest::qWait(1000);
    // The preview's once-a-second refresh finds the same position: nothing to paint.
    QVERIFY2(paints.Count() <= 2, qPrintable(u"%1 paints in a second"_s.arg(paints.Count())));

    // A new position is painted, once, and the paint shows it.
    w.factory.Graph().SetCurrentPosition(900 * kSecond);
    g_pPreview->RefreshPosition();
    QTest::qWait(300);
    QCOMPARE(w.Slider()->value(), 150);
    QCOMPARE(w.Position(), u"00:15:00"_s);
    const int nAfterChange = paints.Count();
    QVERIFY(nAfterChange >= 1);
    QTest::qWait(500);
    QCOMPARE(paints.Count(), nAfterChange);
}

void CPreviewControlsTest::SliderReleaseSeeksToItsShare_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("seek");
    QTest::newRow("150 of 3,600 s") << 150 << u"SetPositions(9000000000, 0x1, null, 0x0)"_s;
    QTest::newRow("the end") << 600 << u"SetPositions(36000000000, 0x1, null, 0x0)"_s;
    QTest::newRow("the start") << 0 << u"SetPositions(0, 0x1, null, 0x0)"_s;
    QTest::newRow("one step") << 1 << u"SetPositions(60000000, 0x1, null, 0x0)"_s;
}

void CPreviewControlsTest::SliderReleaseSeeksToItsShare() {
    QFETCH(int, position);
    QFETCH(QString, seek);
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(1800 * kSecond, 3600 * kSecond);
    w.factory.Graph().ClearCalls();

    w.Slider()->setValue(position);
    QTest::mouseRelease(w.Slider(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(w.dlg.m_nSliderPos, position);
    QCOMPARE(QString::fromStdString(w.LastSeek()), seek);
    // The play state stays as it was.
    QCOMPARE(g_pPreview->m_nState, CPreviewPlayer::Stopped);
}

void CPreviewControlsTest::SliderReleaseWithoutStopPositionOrPreviewDoesNotSeek() {
    CPreviewedWindow w;
    w.Slider()->setValue(200);
    QTest::mouseRelease(w.Slider(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(w.dlg.m_nSliderPos, 200);  // stored all the same
    QVERIFY(!w.dlg.SeekFromSlider(200));

    QVERIFY(w.OpenSource());
    QVERIFY(!w.dlg.SeekFromSlider(200));  // no refresh yet: no stop position
    QVERIFY(w.LastSeek().empty());
    w.Report(0, 3600 * kSecond);
    QVERIFY(w.dlg.SeekFromSlider(200));
    QCOMPARE(w.LastSeek(), std::string("SetPositions(12000000000, 0x1, null, 0x0)"));

    // A failed seek is silent.
    w.factory.Graph().SetResult(FakeCall::SetPositions, E_FAIL);
    QVERIFY(w.dlg.SeekFromSlider(100));
    QVERIFY(w.window.shell.messageBoxes.Requests().empty());
}

void CPreviewControlsTest::HeldSliderIgnoresReportsThenSeeksWhereReleased() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(1800 * kSecond, 3600 * kSecond);
    CPositionSlider* pSlider = w.Slider();

    QTest::mousePress(pSlider, Qt::LeftButton, {}, QPoint(pSlider->width() / 2, 5));
    QVERIFY(w.window.App().m_bSliderDragging);
    pSlider->setValue(150);  // where the drag has taken the thumb
    w.Report(2400 * kSecond, 3600 * kSecond);
    QCOMPARE(pSlider->value(), 150);
    QCOMPARE(w.Position(), u"00:30:00"_s);

    w.factory.Graph().ClearCalls();
    QTest::mouseRelease(pSlider, Qt::LeftButton, {}, QPoint(pSlider->width() / 4, 5));
    QVERIFY(!w.window.App().m_bSliderDragging);
    QCOMPARE(w.LastSeek(), std::string("SetPositions(9000000000, 0x1, null, 0x0)"));
}

void CPreviewControlsTest::ArrowKeysMoveThumbWithoutSeeking() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(1800 * kSecond, 3600 * kSecond);
    w.factory.Graph().ClearCalls();
    w.Slider()->setFocus();
    QTest::keyClick(w.Slider(), Qt::Key_Right);
    QCOMPARE(w.Slider()->value(), 301);
    QVERIFY(w.LastSeek().empty());
    // The next refresh moves the thumb back to the play position.
    w.Report(1800 * kSecond, 3600 * kSecond);
    QCOMPARE(w.Slider()->value(), 300);
}

void CPreviewControlsTest::PieceCountStepShowsEachSize() {
    CPreviewedWindow w;
    auto* pSpin = static_cast<CUpDown*>(w.dlg.GetDlgItem(IDC_PIECE_COUNT_SPIN));
    QLineEdit* pCount = w.window.Edit(IDC_PIECE_COUNT);

    // Before any source the display stays empty.
    pSpin->Step(+1);
    QCOMPARE(w.EachSize(), QString());

    QVERIFY(w.OpenSource(10000000));
    pCount->setText(u"2"_s);
    pSpin->Step(+1);
    QCOMPARE(pCount->text(), u"3"_s);
    QCOMPARE(w.EachSize(), u"3255KB"_s);

    // Down from 1 proposes 0: the display keeps what it showed.
    pCount->setText(u"1"_s);
    pSpin->Step(-1);
    QCOMPARE(w.EachSize(), u"3255KB"_s);
    pSpin->Step(+1);
    QCOMPARE(w.EachSize(), u"4882KB"_s);

    // Typing a count shows nothing new; only a step does.
    pCount->setText(u"7"_s);
    QCOMPARE(w.EachSize(), u"4882KB"_s);

    // Sizes beyond 2^31 KB are shown whole.
    w.dlg.m_source.m_llFileSize = 3000000000000;
    w.dlg.ShowEachSize(1);
    QCOMPARE(w.EachSize(), u"2929687500KB"_s);
}

void CPreviewControlsTest::ClosingPreviewWindowClosesSource() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    w.Report(1800 * kSecond, 3600 * kSecond);
    w.dlg.m_nStartMinute = 3;
    w.dlg.m_nEndHour = 2;
    w.dlg.m_nPieceCount = 5;
    w.dlg.DoDataExchange(false);
    QPointer<QWidget> preview(g_pPreview->Window());
    CFakeFilterGraph& graph = w.factory.Graph();

    // The close box asks; the main window closes the source when the request arrives.
    QVERIFY(!preview->close());
    QVERIFY(g_pPreview != nullptr);
    w.Deliver();
    QVERIFY(g_pPreview == nullptr);
    QVERIFY(preview.isNull());
    QCOMPARE(graph.TotalOutstandingReferences(), 0);

    QVERIFY(!w.dlg.m_source.HasSourcePath());
    QCOMPARE(w.dlg.m_strInfoLine, QString());
    QCOMPARE(w.window.Label(IDC_INFO_LINE)->text(), QString());
    for (const int nId : {IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND, IDC_END_HOUR,
                          IDC_END_MINUTE, IDC_END_SECOND}) {
        QCOMPARE(w.window.Edit(nId)->text(), u"0"_s);
    }
    QCOMPARE(w.dlg.m_nStartMinute, 0);
    QCOMPARE(w.dlg.m_nEndHour, 0);
    QCOMPARE(w.window.Edit(IDC_PIECE_COUNT)->text(), u"5"_s);
    QCOMPARE(w.Position(), u"00:00:00"_s);
    QCOMPARE(w.Slider()->value(), 0);
    QCOMPARE(w.dlg.m_nSliderPos, 0);
}

void CPreviewControlsTest::ClosingMainWindowClosesPreview() {
    QPointer<QWidget> preview;
    {
        CPreviewedWindow w;
        QVERIFY(w.OpenSource());
        preview = g_pPreview->Window();
        QVERIFY(g_pPreview->EnterFullScreen());
        QVERIFY(w.dlg.close());
        QVERIFY(g_pPreview == nullptr);
        QVERIFY(preview.isNull());
        QVERIFY(!w.dlg.isVisible());
        QCOMPARE(w.factory.Graph().TotalOutstandingReferences(), 0);

        // A window that ends another way (Escape) takes its preview with it, full screen or
        // not, and is not shown again on the way.
        QVERIFY(w.OpenSource());
        preview = g_pPreview->Window();
        QVERIFY(g_pPreview->EnterFullScreen());
        w.dlg.hide();
    }
    QVERIFY(g_pPreview == nullptr);
    QVERIFY(preview.isNull());
}

void CPreviewControlsTest::UnplayableFileEmptiesSourcePath() {
    CPreviewedWindow w;
    w.factory.Graph().SetResult(FakeCall::RenderFile, VFW_E_UNKNOWN_FILE_TYPE);
    QVERIFY(!w.OpenSource());
    QVERIFY(g_pPreview == nullptr);
    QVERIFY(!w.dlg.m_source.HasSourcePath());
    QCOMPARE(w.dlg.m_strInfoLine, u"show.mpg  (01:00:00)"_s);
    const auto& requests = w.window.shell.messageBoxes.Requests();
    QCOMPARE(requests.size(), size_t{1});
    QCOMPARE(requests.front().strCaption, u"Error"_s);
    QCOMPARE(requests.front().kind, EMessageBoxKind::Preview);
    QCOMPARE(w.factory.Graph().TotalOutstandingReferences(), 0);
}

void CPreviewControlsTest::NewSourceReplacesPreview() {
    CPreviewedWindow w;
    QVERIFY(w.OpenSource());
    QPointer<QWidget> firstWindow(g_pPreview->Window());
    CFakeFilterGraph& firstGraph = w.factory.Graph();
    w.factory.PrepareNextGraph();

    // The Open command's hand-off: close the old preview, open the new file.
    w.dlg.ClosePreview();
    QVERIFY(firstWindow.isNull());
    QCOMPARE(firstGraph.TotalOutstandingReferences(), 0);
    QCOMPARE(w.dlg.OpenPreview(w.dlg.m_source), 1);
    QVERIFY(g_pPreview != nullptr);
    QCOMPARE(w.factory.GraphsHandedOut(), 2);
    QCOMPARE(w.factory.Graph().RenderedFile(), std::string("/media/rec/show.mpg"));
}

QTEST_MAIN(CPreviewControlsTest)
#include "previewcontrolstest.moc"
