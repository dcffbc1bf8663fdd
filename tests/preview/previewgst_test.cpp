// The preview on the real graph, headless: small program streams made with ffmpeg open
// stopped with their first picture painted, play at the speed of the clock, seek, stop and
// rewind at their end; step picture by picture and jump between key pictures exactly; an
// audio-only file plays unseen; a file that cannot be played leaves no preview and no source
// behind.
#include <QElapsedTimer>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

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

// The pixels of the picture the video window shows, once the graph's pictures have arrived.
std::vector<std::uint8_t> ShownPixels(CPlayerRig& rig) {
    CPlayerRig::Deliver();
    const auto* pVideo = rig.Window()->findChild<CVideoWidget*>();
    return pVideo != nullptr && pVideo->Frame() != nullptr ? pVideo->Frame()->m_pixels
                                                           : std::vector<std::uint8_t>();
}

}  // namespace

Q_DECLARE_METATYPE(TestMedia)

class CPreviewGstTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void OpensStoppedWithFirstPicturePainted();
    void PositionAdvancesAboutOneSecondPerSecond();
    void SeekLandsWithinOneSecondOfTarget();
    void EndOfStreamStopsAndRewinds();
    void StepsAndJumpsLandOnExactPictures_data();
    void StepsAndJumpsLandOnExactPictures();
    void StepsAtTheEndsAreHarmless();
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
    const std::vector<std::uint8_t> first = ShownPixels(rig);
    QVERIFY(!first.empty());
    // Half-way in, so the end comes sooner.
    QVERIFY(SUCCEEDED(rig.player->SeekTo(15 * kSecond / 10)));
    rig.player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(rig.player->m_nState, CPreviewPlayer::Stopped, 15000);
    QCOMPARE(CurrentAfterRefresh(*rig.player), 0);
    // The first picture itself, not the first one the demuxer finds near the start's time.
    QVERIFY(ShownPixels(rig) == first);
    QCOMPARE(rig.Title(), u"mpeg2.vob  "_s);
    QVERIFY(rig.Window()->isVisible());

    // It does not loop or close; Play starts again from the beginning.
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTest::qWait(300);
    QVERIFY(CurrentAfterRefresh(*rig.player) < 2 * kSecond);
}

void CPreviewGstTest::StepsAndJumpsLandOnExactPictures_data() {
    QTest::addColumn<TestMedia>("media");
    QTest::newRow("MPEG-1 video CD") << TestMedia::Mpeg1Vcd;
    QTest::newRow("MPEG-2") << TestMedia::Mpeg2Vob;
    QTest::newRow("MPEG-2 DVD with B pictures") << TestMedia::DvdLong;
    QTest::newRow("MPEG-1 with B pictures") << TestMedia::Mpeg1Long;
}

void CPreviewGstTest::StepsAndJumpsLandOnExactPictures() {
    QFETCH(TestMedia, media);
    const std::string path = TestMediaPath(media);
    if (path.empty()) {
        QSKIP("ffmpeg could not make the stream");
    }
    constexpr LONGLONG kPicture = kSecond / 25;
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(path), 1);
    QVERIFY(rig.player->CanStepPictures());
    QVERIFY(!rig.player->CanJumpToKeyPictures());

    // 25 pictures forward from the stopped first picture: one second, each one posted.
    for (int n = 0; n < 25; ++n) {
        rig.player->StepForward();
    }
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Paused);
    QVERIFY2(std::llabs(rig.player->m_llCurrentPos - kSecond) < kPicture / 2,
             qPrintable(QString::number(rig.player->m_llCurrentPos)));
    CPlayerRig::Deliver();
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 25);

    // One forward and one back: the same picture and time as before.
    const LONGLONG llAtOneSecond = rig.player->m_llCurrentPos;
    const std::vector<std::uint8_t> atOneSecond = ShownPixels(rig);
    rig.player->StepForward();
    QCOMPARE(rig.player->m_llCurrentPos, llAtOneSecond + kPicture);
    QVERIFY(ShownPixels(rig) != atOneSecond);
    rig.player->StepBack();
    QCOMPARE(rig.player->m_llCurrentPos, llAtOneSecond);
    QVERIFY(ShownPixels(rig) == atOneSecond);

    // The key pictures as ffprobe finds them, from the first picture's time.
    std::vector<LONGLONG> keys;
    for (const double dSeconds : KeyPictureTimes(path)) {
        keys.push_back(std::llround(dSeconds * kSecond));
    }
    QVERIFY(keys.size() >= 3);
    const LONGLONG llFirst = keys.front();
    for (LONGLONG& llKey : keys) {
        llKey -= llFirst;
    }
    rig.player->SetKeyPictures(keys);
    QVERIFY(rig.player->CanJumpToKeyPictures());
    const auto next = std::upper_bound(keys.begin(), keys.end(), llAtOneSecond);
    QVERIFY(next != keys.end());
    rig.player->JumpToKeyPicture(true);
    QVERIFY2(std::llabs(rig.player->m_llCurrentPos - *next) < kPicture / 2,
             qPrintable(u"%1 for %2"_s.arg(rig.player->m_llCurrentPos).arg(*next)));
    const std::vector<std::uint8_t> atKey = ShownPixels(rig);
    rig.player->JumpToKeyPicture(false);
    QVERIFY2(std::llabs(rig.player->m_llCurrentPos - *(next - 1)) < kPicture / 2,
             qPrintable(u"%1 for %2"_s.arg(rig.player->m_llCurrentPos).arg(*(next - 1))));

    // The jump showed the picture that stepping there shows.
    rig.player->Stop();
    QCOMPARE(CurrentAfterRefresh(*rig.player), 0);
    while (rig.player->m_llCurrentPos < *next - kPicture / 2) {
        const LONGLONG llBefore = rig.player->m_llCurrentPos;
        rig.player->StepForward();
        QVERIFY(rig.player->m_llCurrentPos > llBefore);
    }
    QVERIFY(ShownPixels(rig) == atKey);
}

void CPreviewGstTest::StepsAtTheEndsAreHarmless() {
    CPlayerRig rig(&m_factory);
    QCOMPARE(rig.Open(m_strVideo), 1);
    const std::vector<std::uint8_t> first = ShownPixels(rig);
    QVERIFY(!first.empty());
    rig.player->SetKeyPictures({0, kSecond});

    // Before the first picture there is nothing.
    rig.player->StepBack();
    rig.player->JumpToKeyPicture(false);
    QCOMPARE(rig.player->m_llCurrentPos, 0);
    QVERIFY(ShownPixels(rig) == first);

    // Past the last picture: it stays on screen, and stepping back from it works.
    QVERIFY(SUCCEEDED(rig.player->SeekTo(rig.player->m_llStopPos + kSecond)));
    for (int n = 0; n < 30; ++n) {
        rig.player->StepForward();
    }
    const LONGLONG llLast = rig.player->m_llCurrentPos;
    QVERIFY2(llLast > rig.player->m_llStopPos - kSecond / 2 && llLast <= rig.player->m_llStopPos,
             qPrintable(QString::number(llLast)));
    QVERIFY(!ShownPixels(rig).empty());
    rig.player->JumpToKeyPicture(true);
    QCOMPARE(rig.player->m_llCurrentPos, llLast);
    rig.player->StepBack();
    QCOMPARE(rig.player->m_llCurrentPos, llLast - kSecond / 25);
    QVERIFY(rig.boxes.Requests().empty());

    // The pipeline still plays.
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTRY_COMPARE_WITH_TIMEOUT(rig.player->m_nState, CPreviewPlayer::Stopped, 10000);
    QVERIFY(SUCCEEDED(rig.player->SeekTo(kSecond / 2)));
    rig.player->Play();
    QTest::qWait(500);
    QVERIFY(CurrentAfterRefresh(*rig.player) > kSecond / 2);
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
