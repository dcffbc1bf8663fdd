// The preview on the real graph, headless: small program streams made with ffmpeg open
// stopped with their first picture painted, play at the speed of the clock, seek, stop and
// rewind at their end; an audio-only file plays unseen; a file that cannot be played leaves
// no preview and no source behind.
#include <QElapsedTimer>
#include <QImage>
#include <QtTest>

#include <cstdlib>

#include "media/gstfiltergraphfactory.h"
#include "media/mediaframework.h"
#include "media/qt/videowidget.h"
#include "media/qt/videowidgetoutput.h"
#include "playerfixture.h"
#include "testmedia.h"
#include "ui/windowfixture.h"

using namespace Qt::StringLiterals;

namespace {

constexpr LONGLONG kSecond = 10000000;

CGraphOptions SilentWidgetOptions() {
    CGraphOptions options;
    options.m_strAudioSink = "fakesink sync=true";
    return WidgetGraphOptions(options);
}

// How many sampled pixels along a line a third of the way down are far from black.
int BrightSamples(const QImage& image) {
    int bright = 0;
    for (int x = 8; x < image.width(); x += 16) {
        bright += qGray(image.pixel(x, image.height() / 3)) > 64 ? 1 : 0;
    }
    return bright;
}

LONGLONG CurrentAfterRefresh(CPreviewPlayer& player) {
    player.RefreshPosition();
    return player.m_llCurrentPos;
}

}  // namespace

class CPreviewGstTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void OpensStoppedWithFirstPicturePainted();
    void PositionAdvancesAboutOneSecondPerSecond();
    void SeekLandsWithinOneSecondOfTarget();
    void EndOfStreamStopsAndRewinds();
    void AudioOnlyFilePlaysWithWindowHidden();
    void UnplayableFileLeavesNoPreviewAndNoSource();

private:
    CGstFilterGraphFactory m_factory{SilentWidgetOptions()};
    std::string m_strVideo;
};

void CPreviewGstTest::initTestCase() {
    IgnoreUnsupportedWindowCalls();
    QVERIFY(MediaFrameworkInitialize());
    m_strVideo = TestMediaPath(TestMedia::Mpeg2Vob);
    if (m_strVideo.empty()) {
        QSKIP("ffmpeg could not make the test stream");
    }
}

void CPreviewGstTest::OpensStoppedWithFirstPicturePainted() {
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(m_strVideo), 1);
    QVERIFY(rig.boxes.Requests().empty());
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    QVERIFY(!rig.player->m_bNoVideo);
    QVERIFY(rig.Window()->isVisible());
    QCOMPARE(rig.Window()->size(), QSize(352, 288));
    QCOMPARE(rig.Title(), u"mpeg2.vob  "_s);

    auto* pVideo = rig.Window()->findChild<CVideoWidget*>();
    QVERIFY(pVideo != nullptr);
    QCOMPARE(pVideo->geometry(), QRect(0, 0, 352, 288));
    QTRY_VERIFY_WITH_TIMEOUT(pVideo->FramesShown() > 0, 10000);
    QVERIFY2(BrightSamples(rig.Window()->grab().toImage()) > 5, "no picture in the window");

    // The video hands its mouse input to the preview window: a right click opens the menu.
    QTest::mouseClick(pVideo, Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
    QVERIFY(rig.player->ContextMenu() != nullptr);
    rig.player->ContextMenu()->close();

    // Nothing plays until Play: the position stays at the start.
    QTest::qWait(300);
    rig.player->RefreshPosition();
    QCOMPARE(rig.player->m_llCurrentPos, 0);
    QVERIFY(std::llabs(rig.player->m_llStopPos - 3 * kSecond) < kSecond / 2);
}

void CPreviewGstTest::PositionAdvancesAboutOneSecondPerSecond() {
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(m_strVideo), 1);
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(CurrentAfterRefresh(*rig.player) > 0, 10000);

    QElapsedTimer clock;
    clock.start();
    const LONGLONG llFrom = CurrentAfterRefresh(*rig.player);
    QTest::qWait(1000);
    const LONGLONG llTo = CurrentAfterRefresh(*rig.player);
    const LONGLONG llElapsed = clock.elapsed() * (kSecond / 1000);
    const LONGLONG llAdvanced = llTo - llFrom;
    QVERIFY2(std::llabs(llAdvanced - llElapsed) < kSecond * 4 / 10,
             qPrintable(u"advanced %1 in %2"_s.arg(llAdvanced).arg(llElapsed)));

    // The refresh tells the main window each time.
    CPlayerRig::Deliver();
    QVERIFY(rig.owner.Count(WM_PREVIEW_POSITION) >= 2);
}

void CPreviewGstTest::SeekLandsWithinOneSecondOfTarget() {
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(m_strVideo), 1);
    QVERIFY(SUCCEEDED(rig.player->SeekTo(15 * kSecond / 10)));
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    const LONGLONG llLanded = CurrentAfterRefresh(*rig.player);
    QVERIFY2(std::llabs(llLanded - 15 * kSecond / 10) <= kSecond,
             qPrintable(QString::number(llLanded)));

    // Beyond the end is harmless: the graph stays usable.
    QVERIFY(SUCCEEDED(rig.player->SeekTo(60 * kSecond)));
    QVERIFY(SUCCEEDED(rig.player->SeekTo(kSecond / 2)));
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
}

void CPreviewGstTest::EndOfStreamStopsAndRewinds() {
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(m_strVideo), 1);
    // Half-way in, so the end comes sooner.
    QVERIFY(SUCCEEDED(rig.player->SeekTo(15 * kSecond / 10)));
    rig.player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(rig.player->m_nState, CPreviewPlayer::Stopped, 15000);
    QCOMPARE(CurrentAfterRefresh(*rig.player), 0);
    QCOMPARE(rig.Title(), u"mpeg2.vob  "_s);
    QVERIFY(rig.Window()->isVisible());

    // It does not loop or close; Play starts again from the beginning.
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTest::qWait(300);
    QVERIFY(CurrentAfterRefresh(*rig.player) < 2 * kSecond);
}

void CPreviewGstTest::AudioOnlyFilePlaysWithWindowHidden() {
    const std::string audio = TestMediaPath(TestMedia::AudioOnly);
    if (audio.empty()) {
        QSKIP("ffmpeg could not make the audio stream");
    }
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(audio), 1);
    QVERIFY(rig.boxes.Requests().empty());
    QVERIFY(rig.player->m_bNoVideo);
    QVERIFY(!rig.Window()->isVisible());
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(CurrentAfterRefresh(*rig.player) > kSecond / 10, 10000);
    QVERIFY(!rig.Window()->isVisible());
    rig.player->Stop();
    QCOMPARE(CurrentAfterRefresh(*rig.player), 0);
}

void CPreviewGstTest::UnplayableFileLeavesNoPreviewAndNoSource() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    dlg.SetPreviewGraphFactory(&m_factory);
    const std::string text = TestMediaPath(TestMedia::TextFile);
    QVERIFY(dlg.m_source.SetSourcePath(text));
    dlg.m_strInfoLine = u"text.mpg  (00:00:03)"_s;

    QCOMPARE(dlg.OpenPreview(dlg.m_source), 0);
    const auto& requests = window.shell.messageBoxes.Requests();
    QCOMPARE(requests.size(), size_t{1});
    QCOMPARE(requests.front().kind, EMessageBoxKind::Preview);
    QCOMPARE(requests.front().strCaption, u"Error"_s);
    QVERIFY(requests.front().strText.startsWith(u"Cannot play the file."_s));
    QVERIFY(g_pPreview == nullptr);
    QVERIFY(!dlg.m_source.HasSourcePath());
    // The information line still names the file.
    QCOMPARE(dlg.m_strInfoLine, u"text.mpg  (00:00:03)"_s);
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        QVERIFY(pWidget->objectName() != u"PreviewWindow"_s);
    }
}

QTEST_MAIN(CPreviewGstTest)
#include "previewgst_test.moc"
