// The preview player on a scripted graph: opening, the play states and their table, seeking,
// the position refresh, graph events, every failure of the open and what closing gives back;
// and the window: caption, menu, clicks, full screen, the idle cursor and the close box; the
// picture keys and what they ask of the graph.
#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <cstring>
#include <functional>

#include "media/qt/windowhandle.h"
#include "media/windowstyles.h"
#include "playerfixture.h"
#include "preview/previewmenu.h"
#include "preview/previewplacement.h"

using namespace Qt::StringLiterals;

namespace {

enum class EOperation { Play, Pause, Stop, EndOfStream, SeekTo, Close };

using CCalls = std::vector<std::string>;

const CCalls kStopCalls = {"Stop()", "SetPositions(0, 0x1, null, 0x0)", "Pause()"};
const CCalls kSeekCalls = {"IsFormatSupported()", "GetTimeFormat()", "SetTimeFormat()",
                           "SetPositions(20000000, 0x1, null, 0x0)"};

CCalls Join(std::initializer_list<CCalls> parts) {
    CCalls all;
    for (const CCalls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Brings an opened player into a state the way a user would.
void Enter(CPreviewPlayer& player, CPreviewPlayer::PlayState state) {
    if (state == CPreviewPlayer::Playing || state == CPreviewPlayer::Paused) {
        player.Play();
    }
    if (state == CPreviewPlayer::Paused) {
        player.Pause();
    }
    if (state == CPreviewPlayer::Closed) {
        player.Close();
    }
}

void Perform(CPlayerRig& rig, EOperation operation) {
    CPreviewPlayer& player = *rig.player;
    switch (operation) {
        case EOperation::Play:
            player.Play();
            break;
        case EOperation::Pause:
            player.Pause();
            break;
        case EOperation::Stop:
            player.Stop();
            break;
        case EOperation::EndOfStream:
            // Announced through the graph's notice, as the real graph does.
            rig.Graph().QueueEvent(EC_COMPLETE);
            CPlayerRig::Deliver();
            break;
        case EOperation::SeekTo:
            player.SeekTo(20000000);
            break;
        case EOperation::Close:
            player.Close();
            break;
    }
}

QPoint Centre(QWidget* pWidget) {
    return pWidget->rect().center();
}

}  // namespace

Q_DECLARE_METATYPE(EOperation)
Q_DECLARE_METATYPE(CPreviewPlayer::PlayState)
Q_DECLARE_METATYPE(CCalls)

class CPreviewPlayerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IgnoreUnsupportedWindowCalls(); }
    void OpenShowsVideoWindowStoppedWithoutPlaying();
    void StateTable_data();
    void StateTable();
    void RefusedRunOrPauseKeepsState();
    void SeekPassesTargetAndRestoresFormat();
    void RefreshReadsPositionsAndNotifiesOwner();
    void RefreshStopsAtFirstFailure();
    void OtherEventsAreFreedWithoutEffect();
    void OpenFailureIsReportedAndReleasesWhatWasObtained_data();
    void OpenFailureIsReportedAndReleasesWhatWasObtained();
    void GetVisibleFailureIsReportedButOpens();
    void AudioOnlyFileOpensHidden();
    void CloseReleasesEverythingOnce();
    void TitleFollowsState();
    void MenuStatesFollowPlayState_data();
    void MenuStatesFollowPlayState();
    void MenuCommandsRunAfterMenuCloses();
    void PictureKeysAskTheGraphForExactPictures_data();
    void PictureKeysAskTheGraphForExactPictures();
    void LeftClicksAlternateFrontWindow();
    void FullScreenPlacesVideoAndEscapeLeaves();
    void KeysPlayPauseGoFullScreenAndOpenMenu();
    void FullScreenClicksAlternateMainWindow();
    void NormalSizeCommandLeavesFullScreen();
    void CursorHidesOnlyAfterMoreThan100SecondsIdle();
    void StopInFullScreenEndsCursorChecks();
    void ClosingInFullScreenBringsMainWindowBack();
    void CloseBoxAsksMainWindowAndKeepsWindow();
    void MenuCloseAsksMainWindow();
    void WindowSitsInStripAboveMainWindow();
    void LargeVideoMovesMainWindowDownOrIsScaled();
    void OpenInBackgroundFinishesWhenTheFileHasRendered();
};

void CPreviewPlayerTest::OpenShowsVideoWindowStoppedWithoutPlaying() {
    CPlayerRig rig;
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Closed);
    QCOMPARE(rig.Open(), 1);

    CFakeFilterGraph& graph = rig.Graph();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    QCOMPARE(graph.RenderedFile(), std::string("/media/rec/show.mpg"));
    QCOMPARE(graph.CountCalls("Run("), 0);
    QCOMPARE(graph.CountCalls("Pause("), 0);
    QVERIFY(rig.boxes.Requests().empty());

    // Seven interfaces besides the graph, in order, each obtained once.
    const CCalls queries(graph.Calls().begin() + 1, graph.Calls().begin() + 8);
    QCOMPARE(queries,
             (CCalls{"QueryInterface(IID_IMediaControl)", "QueryInterface(IID_IMediaEventEx)",
                     "QueryInterface(IID_IMediaSeeking)", "QueryInterface(IID_IVideoWindow)",
                     "QueryInterface(IID_IBasicVideo)", "QueryInterface(IID_IBasicAudio)",
                     "QueryInterface(IID_IVideoFrameStep)"}));
    QCOMPARE(graph.TotalOutstandingReferences(), 8);

    // The video is a borderless child of the window, whose client area has its native size.
    CPreviewWindow* pWindow = rig.Window();
    QVERIFY(pWindow != nullptr);
    QVERIFY(pWindow->isVisible());
    QVERIFY(pWindow->isWindow());
    QVERIFY(pWindow->parentWidget() == nullptr);
    QCOMPARE(pWindow->objectName(), u"PreviewWindow"_s);
    QCOMPARE(pWindow->size(), QSize(352, 288));
    QCOMPARE(pWindow->minimumSize(), pWindow->maximumSize());
    QVERIFY(!(pWindow->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(pWindow->palette().color(QPalette::Window), QColor(Qt::black));
    QCOMPARE(graph.Owner(), ToOAHWND(pWindow));
    QCOMPARE(graph.MessageDrain(), ToOAHWND(pWindow));
    QVERIFY(graph.WindowStyle() & WS_CHILD);
    QVERIFY(!(graph.WindowStyle() & (WS_CAPTION | WS_THICKFRAME)));
    long l = 0, t = 0, w = 0, h = 0;
    graph.GetWindowRect(&l, &t, &w, &h);
    QCOMPARE(QRect(l, t, w, h), QRect(0, 0, 352, 288));
    QCOMPARE(graph.NotifyMessage(), WM_GRAPHNOTIFY);
    QVERIFY(graph.NotifyTarget() != nullptr);

    // Positions read 0 until the first refresh, one second on.
    QCOMPARE(pWindow->TimerInterval(IDT_POSITION), 1000);
    QVERIFY(!pWindow->IsTimerActive(IDT_CURSOR));
    QCOMPARE(rig.player->m_llCurrentPos, 0);
    QCOMPARE(rig.player->m_llStopPos, 0);
    QCOMPARE(rig.Title(), u"show.mpg  "_s);
}

void CPreviewPlayerTest::StateTable_data() {
    using S = CPreviewPlayer::PlayState;
    QTest::addColumn<S>("from");
    QTest::addColumn<EOperation>("operation");
    QTest::addColumn<CCalls>("calls");
    QTest::addColumn<S>("to");

    const CCalls run = {"Run()", "SetRate(1.00)"};
    const CCalls rate = {"SetRate(1.00)"};
    const CCalls eventStop =
        Join({{"GetEvent(0)", "FreeEventParams(1, 0, 0)"}, kStopCalls, {"GetEvent(0)"}});
    QTest::newRow("Play in Stopped") << S::Stopped << EOperation::Play << run << S::Playing;
    QTest::newRow("Play in Paused") << S::Paused << EOperation::Play << run << S::Playing;
    QTest::newRow("Play in Playing") << S::Playing << EOperation::Play << rate << S::Playing;
    QTest::newRow("Play in Closed") << S::Closed << EOperation::Play << CCalls{} << S::Closed;
    QTest::newRow("Pause in Stopped") << S::Stopped << EOperation::Pause << CCalls{} << S::Stopped;
    QTest::newRow("Pause in Paused") << S::Paused << EOperation::Pause << CCalls{} << S::Paused;
    QTest::newRow("Pause in Playing")
        << S::Playing << EOperation::Pause << CCalls{"Pause()"} << S::Paused;
    QTest::newRow("Pause in Closed") << S::Closed << EOperation::Pause << CCalls{} << S::Closed;
    QTest::newRow("Stop in Stopped") << S::Stopped << EOperation::Stop << CCalls{} << S::Stopped;
    QTest::newRow("Stop in Paused") << S::Paused << EOperation::Stop << kStopCalls << S::Stopped;
    QTest::newRow("Stop in Playing") << S::Playing << EOperation::Stop << kStopCalls << S::Stopped;
    QTest::newRow("Stop in Closed") << S::Closed << EOperation::Stop << CCalls{} << S::Closed;
    // End of stream in Stopped: the event is drained, and Stop has nothing to do.
    QTest::newRow("end of stream in Stopped")
        << S::Stopped << EOperation::EndOfStream
        << CCalls{"GetEvent(0)", "FreeEventParams(1, 0, 0)", "GetEvent(0)"} << S::Stopped;
    QTest::newRow("end of stream in Paused")
        << S::Paused << EOperation::EndOfStream << eventStop << S::Stopped;
    QTest::newRow("end of stream in Playing")
        << S::Playing << EOperation::EndOfStream << eventStop << S::Stopped;
    QTest::newRow("SeekTo in Stopped")
        << S::Stopped << EOperation::SeekTo << kSeekCalls << S::Stopped;
    QTest::newRow("SeekTo in Paused") << S::Paused << EOperation::SeekTo << kSeekCalls << S::Paused;
    QTest::newRow("SeekTo in Playing")
        << S::Playing << EOperation::SeekTo << kSeekCalls << S::Playing;
    QTest::newRow("SeekTo in Closed") << S::Closed << EOperation::SeekTo << CCalls{} << S::Closed;
    QTest::newRow("Close in Stopped") << S::Stopped << EOperation::Close << CCalls{} << S::Closed;
    QTest::newRow("Close in Paused") << S::Paused << EOperation::Close << CCalls{} << S::Closed;
    QTest::newRow("Close in Playing") << S::Playing << EOperation::Close << CCalls{} << S::Closed;
    QTest::newRow("Close in Closed") << S::Closed << EOperation::Close << CCalls{} << S::Closed;
}

void CPreviewPlayerTest::StateTable() {
    QFETCH(CPreviewPlayer::PlayState, from);
    QFETCH(EOperation, operation);
    QFETCH(CCalls, calls);
    QFETCH(CPreviewPlayer::PlayState, to);

    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    Enter(*rig.player, from);
    QCOMPARE(rig.player->m_nState, from);
    rig.Graph().ClearCalls();

    Perform(rig, operation);
    QCOMPARE(rig.player->m_nState, to);
    if (operation == EOperation::Close) {
        // Closing: the graph is stopped first, and nothing stays held.
        QCOMPARE(rig.Graph().TotalOutstandingReferences(), 0);
        QVERIFY(rig.Window() == nullptr);
        if (from != CPreviewPlayer::Closed) {
            QCOMPARE(rig.Graph().Calls().front(), std::string("Stop()"));
        }
        return;
    }
    QCOMPARE(rig.Graph().Calls(), calls);
    if (to != CPreviewPlayer::Closed) {
        QCOMPARE(rig.Title(),
                 to == CPreviewPlayer::Paused ? u"show.mpg  (Paused)"_s : u"show.mpg  "_s);
    }
    if (operation == EOperation::EndOfStream || operation == EOperation::Stop) {
        // Rewound; the graph is left paused so the first picture stays on screen.
        if (from == CPreviewPlayer::Paused || from == CPreviewPlayer::Playing) {
            QCOMPARE(rig.Graph().CurrentPosition(), 0);
            QCOMPARE(rig.Graph().FilterState(), State_Paused);
        }
    }
}

void CPreviewPlayerTest::RefusedRunOrPauseKeepsState() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.Graph().SetResult(FakeCall::Run, E_FAIL);
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    QCOMPARE(rig.Graph().CountCalls("SetRate("), 1);

    rig.Graph().ClearResult(FakeCall::Run);
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    rig.Graph().SetResult(FakeCall::Pause, VFW_E_WRONG_STATE);
    rig.player->Pause();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QCOMPARE(rig.Title(), u"show.mpg  "_s);

    // A refused rate leaves the caption as it was.
    rig.Graph().ClearResult(FakeCall::Pause);
    rig.player->Pause();
    QCOMPARE(rig.Title(), u"show.mpg  (Paused)"_s);
    rig.Graph().SetResult(FakeCall::SetRate, E_NOTIMPL);
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QCOMPARE(rig.Title(), u"show.mpg  (Paused)"_s);
}

void CPreviewPlayerTest::SeekPassesTargetAndRestoresFormat() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    CFakeFilterGraph& graph = rig.Graph();
    graph.SetStopPosition(30000000);

    // A negative target means the start; one beyond the end goes to the graph as it is.
    QCOMPARE(rig.player->SeekTo(-5), S_OK);
    QCOMPARE(graph.CurrentPosition(), 0);
    QCOMPARE(rig.player->SeekTo(90000000), S_OK);
    QCOMPARE(graph.CurrentPosition(), 90000000);
    QCOMPARE(graph.CountCalls("SetTimeFormat("), 2);  // set each time, nothing to restore

    // A graph left in another format gets it back after the seek.
    const TimeFormat frames = TIME_FORMAT_FRAME;
    rig.player->pMS->SetTimeFormat(&frames);
    graph.ClearCalls();
    QCOMPARE(rig.player->SeekTo(10), S_OK);
    QCOMPARE(graph.CountCalls("SetTimeFormat("), 2);
    TimeFormat now = TIME_FORMAT_NONE;
    rig.player->pMS->GetTimeFormat(&now);
    QVERIFY(now == TIME_FORMAT_FRAME);

    // Failures come back as they are, and the position stays.
    graph.SetResult(FakeCall::SetPositions, E_FAIL);
    QCOMPARE(rig.player->SeekTo(50), E_FAIL);
    graph.ClearResult(FakeCall::SetPositions);
    graph.SetResult(FakeCall::GetTimeFormat, E_POINTER);
    QCOMPARE(rig.player->SeekTo(50), E_POINTER);
    graph.ClearResult(FakeCall::GetTimeFormat);
    graph.SetResult(FakeCall::IsFormatSupported, S_FALSE);
    graph.ClearCalls();
    QCOMPARE(rig.player->SeekTo(50), E_NOINTERFACE);
    QCOMPARE(graph.CountCalls("SetPositions("), 0);
    QCOMPARE(graph.CurrentPosition(), 10);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
}

void CPreviewPlayerTest::RefreshReadsPositionsAndNotifiesOwner() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.Graph().SetStopPosition(36000000000);
    rig.Graph().SetCurrentPosition(18000000000);
    CPlayerRig::Deliver();
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 0);

    // The window's position timer runs the refresh.
    rig.player->OnTimer(IDT_POSITION);
    QCOMPARE(rig.player->m_llStopPos, 36000000000);
    QCOMPARE(rig.player->m_llCurrentPos, 18000000000);
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 0);  // posted, not yet delivered
    CPlayerRig::Deliver();
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 1);
    QCOMPARE(rig.owner.messages.back().lParam, 0);

    // A graph without 100-ns positions never refreshes: the fields keep their values.
    rig.Graph().SetResult(FakeCall::IsFormatSupported, S_FALSE);
    rig.Graph().SetCurrentPosition(5);
    rig.player->RefreshPosition();
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_llCurrentPos, 18000000000);
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 1);
}

void CPreviewPlayerTest::RefreshStopsAtFirstFailure() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.Graph().SetStopPosition(700);
    rig.Graph().SetCurrentPosition(300);
    rig.Graph().SetResult(FakeCall::GetCurrentPosition, E_FAIL);
    rig.player->RefreshPosition();
    CPlayerRig::Deliver();
    // What was read before the failure stays; the owner hears nothing.
    QCOMPARE(rig.player->m_llStopPos, 700);
    QCOMPARE(rig.player->m_llCurrentPos, 0);
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), 0);
}

void CPreviewPlayerTest::OtherEventsAreFreedWithoutEffect() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.player->Play();
    rig.Graph().ClearCalls();
    rig.Graph().QueueEvent(EC_ERRORABORT, E_FAIL, 0);
    rig.Graph().QueueEvent(EC_PAUSED);
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QCOMPARE(rig.Graph().CountCalls("FreeEventParams("), 2);
    QCOMPARE(rig.Graph().PendingEvents(), size_t{0});
    QCOMPARE(rig.Graph().CountCalls("Stop("), 0);
}

void CPreviewPlayerTest::OpenFailureIsReportedAndReleasesWhatWasObtained_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("interfacesObtained");  // besides the graph

    const auto query = [](const char* iid, const char* ptr) {
        return QString::fromLatin1(
                   "FAILED(hr=0x80004002) in pGB->QueryInterface(%1, (void **)&%2)\n")
            .arg(QLatin1StringView(iid), QLatin1StringView(ptr));
    };
    QTest::newRow("graph") << 0 << u"Message"_s
                           << u"FAILED(hr=0x800401f0) in CoCreateInstance(CLSID_FilterGraph, NULL, "
                              u"CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&pGB)\n"_s
                           << -1;
    QTest::newRow("render") << 1 << u"Error"_s
                            << u"Cannot play the file.  The file is either corrupt or\nthe player "
                               u"does not support the format you are trying to play.\nIf you want "
                               u"more decoders, please visit our website."_s
                            << 0;
    QTest::newRow("control") << 2 << u"Message"_s << query("IID_IMediaControl", "pMC") << 0;
    QTest::newRow("events") << 3 << u"Message"_s << query("IID_IMediaEventEx", "pME") << 1;
    QTest::newRow("seeking") << 4 << u"Message"_s << query("IID_IMediaSeeking", "pMS") << 2;
    QTest::newRow("video window") << 5 << u"Message"_s << query("IID_IVideoWindow", "pVW") << 3;
    QTest::newRow("basic video") << 6 << u"Message"_s << query("IID_IBasicVideo", "pBV") << 4;
    QTest::newRow("basic audio") << 7 << u"Message"_s << query("IID_IBasicAudio", "pBA") << 5;
    QTest::newRow("notify") << 8 << u"Message"_s
                            << u"FAILED(hr=0x80004005) in pME->SetNotifyWindow(reinterpret_cast<"
                               u"OAHWND>(m_hWnd), WM_GRAPHNOTIFY, 0)\n"_s
                            << 6;
    // The video window's own message comes first; the open's follows it.
    QTest::newRow("video position")
        << 9 << u"Message"_s << u"FAILED(hr=0x80004005) in InitVideoWindow(1, 1)\n"_s << 6;
}

void CPreviewPlayerTest::OpenFailureIsReportedAndReleasesWhatWasObtained() {
    QFETCH(int, step);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, interfacesObtained);

    CPlayerRig rig;
    CFakeFilterGraph& graph = rig.Graph();
    const IID order[] = {IID_IMediaControl, IID_IMediaEventEx, IID_IMediaSeeking,
                         IID_IVideoWindow,  IID_IBasicVideo,   IID_IBasicAudio};
    switch (step) {
        case 0:
            rig.factory.SetCreateResult(CO_E_NOTINITIALIZED);
            break;
        case 1:
            graph.SetResult(FakeCall::RenderFile, VFW_E_UNKNOWN_FILE_TYPE);
            break;
        case 8:
            graph.SetResult(FakeCall::SetNotifyWindow, E_FAIL);
            break;
        case 9:
            graph.SetResult(FakeCall::SetWindowPosition, E_FAIL);
            break;
        default:
            graph.FailQueryInterface(order[step - 2], E_NOINTERFACE);
            break;
    }
    QPointer<QWidget> window;
    rig.boxes.SetOnShow([&](const CMessageBoxRequest&) { window = rig.Window(); });

    QCOMPARE(rig.Open(), 0);
    QVERIFY(!rig.boxes.Requests().empty());
    const CMessageBoxRequest& last = rig.boxes.Requests().back();
    QCOMPARE(last.kind, EMessageBoxKind::Preview);
    QVERIFY(last.pOwner == nullptr);
    QCOMPARE(last.strCaption, caption);
    QCOMPARE(last.strText, text);
    QCOMPARE(last.buttons, EMessageBoxButtons::Ok);
    if (step == 9) {
        QCOMPARE(rig.boxes.Requests().size(), size_t{2});
        QCOMPARE(rig.boxes.Requests().front().strText,
                 u"FAILED(hr=0x80004005) in pVW->SetWindowPosition(rect.left, rect.top, "
                 u"rect.right, rect.bottom)\n"_s);
    } else {
        QCOMPARE(rig.boxes.Requests().size(), size_t{1});
    }

    // The window existed while the message showed, and is gone; the player is closed.
    QVERIFY(window.isNull());
    QVERIFY(rig.Window() == nullptr);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Closed);
    QCOMPARE(rig.player->m_szFile[0], '\0');

    // Exactly what was obtained was released, each once.
    if (interfacesObtained < 0) {
        QCOMPARE(rig.factory.GraphsHandedOut(), 0);
        return;
    }
    QCOMPARE(graph.ReferencesObtained(IID_IGraphBuilder), 1);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(graph.ReferencesObtained(order[i]), i < interfacesObtained ? 1 : 0);
        QCOMPARE(graph.CountCalls(std::string("Release(") + InterfaceName(order[i]) + ")"),
                 i < interfacesObtained ? 1 : 0);
    }
    QCOMPARE(graph.TotalOutstandingReferences(), 0);
    QVERIFY(graph.NotifyTarget() == nullptr);
    QVERIFY(rig.player->pGB == nullptr && rig.player->pMC == nullptr && rig.player->pVW == nullptr);
}

void CPreviewPlayerTest::GetVisibleFailureIsReportedButOpens() {
    CPlayerRig rig;
    rig.Graph().SetResult(FakeCall::get_Visible, E_UNEXPECTED);
    QCOMPARE(rig.Open(), 1);
    QCOMPARE(rig.boxes.Requests().size(), size_t{1});
    QCOMPARE(rig.boxes.Requests().front().strCaption, u"Message"_s);
    QCOMPARE(rig.boxes.Requests().front().strText,
             u"Failed(8000ffff) in pVW->get_Visible()!\r\n"_s);
    // Treated as video.
    QVERIFY(!rig.player->m_bNoVideo);
    QVERIFY(rig.Window()->isVisible());
}

void CPreviewPlayerTest::AudioOnlyFileOpensHidden() {
    CPlayerRig rig;
    rig.Graph().SetNoVideo(true);
    QCOMPARE(rig.Open("/media/rec/radio.mpg"), 1);
    QVERIFY(rig.player->m_bNoVideo);
    QVERIFY(!rig.player->m_bShown);
    QVERIFY(!rig.Window()->isVisible());
    QCOMPARE(rig.Graph().CountCalls("put_Owner("), 0);
    QCOMPARE(rig.Window()->TimerInterval(IDT_POSITION), 1000);
    QCOMPARE(rig.Title(), u"radio.mpg  "_s);

    // It plays, pauses, stops and seeks as a video does; full screen is refused.
    rig.player->Play();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QCOMPARE(rig.player->SeekTo(3), S_OK);
    rig.player->Pause();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Paused);
    QVERIFY(!rig.player->ToggleFullScreen());
    QVERIFY(!rig.player->m_bFullScreen);
    QVERIFY(!rig.Window()->isVisible());
    rig.player->Stop();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
}

void CPreviewPlayerTest::CloseReleasesEverythingOnce() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.player->Play();
    QPointer<QWidget> window(rig.Window());
    CFakeFilterGraph& graph = rig.Graph();
    graph.ClearCalls();

    rig.player->Close();
    QVERIFY(window.isNull());
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Closed);
    QCOMPARE(rig.player->m_szFile[0], '\0');
    QCOMPARE(graph.Calls(), (CCalls{"Stop()", "put_Visible(0)", "put_Visible(0)", "put_Owner(null)",
                                    "SetNotifyWindow(null, 0, 0)", "Release(IID_IMediaEventEx)",
                                    "Release(IID_IMediaSeeking)", "Release(IID_IMediaControl)",
                                    "Release(IID_IBasicAudio)", "Release(IID_IVideoFrameStep)",
                                    "Release(IID_IBasicVideo)", "Release(IID_IVideoWindow)",
                                    "Release(IID_IGraphBuilder)"}));
    QCOMPARE(graph.TotalOutstandingReferences(), 0);

    // Deleting the closed player releases nothing twice.
    graph.ClearCalls();
    rig.player.reset();
    QVERIFY(graph.Calls().empty());
}

void CPreviewPlayerTest::TitleFollowsState() {
    CPlayerRig rig;
    QCOMPARE(rig.Open("relative-name.vob"), 1);
    QCOMPARE(rig.Title(), u"relative-name.vob  "_s);
    rig.player->Play();
    rig.player->Pause();
    QCOMPARE(rig.Title(), u"relative-name.vob  (Paused)"_s);
    rig.player->Play();
    QCOMPARE(rig.Title(), u"relative-name.vob  "_s);
    rig.player->Pause();
    rig.player->Stop();
    QCOMPARE(rig.Title(), u"relative-name.vob  "_s);

    // A backslash is an ordinary character of a name, and a name in UTF-8 reads as it is.
    CPlayerRig other;
    QCOMPARE(other.Open("/media/Vid\xc3\xa9os/D:\\rec\\show.mpg"), 1);
    QCOMPARE(other.Title(), u"D:\\rec\\show.mpg  "_s);
    CPlayerRig third;
    QCOMPARE(third.Open("/media/Vid\xc3\xa9o d'\xc3\xa9t\xc3\xa9.mpg"), 1);
    QCOMPARE(third.Title(), u"Vidéo d'été.mpg  "_s);
}

void CPreviewPlayerTest::MenuStatesFollowPlayState_data() {
    QTest::addColumn<CPreviewPlayer::PlayState>("state");
    QTest::addColumn<bool>("fullScreen");
    QTest::addColumn<bool>("keyPictures");  // a list handed over
    QTest::addColumn<bool>("video");
    // Full screen, Normal size, Play, pause, Stop, Next picture, Previous picture, Next key
    // picture, Previous key picture, Close
    QTest::addColumn<QList<bool>>("enabled");
    using S = CPreviewPlayer::PlayState;
    QTest::newRow("stopped") << S::Stopped << false << false << true
                             << QList<bool>{true, true, true,  false, false,
                                            true, true, false, false, true};
    QTest::newRow("paused") << S::Paused << false << false << true
                            << QList<bool>{true, true, true,  false, true,
                                           true, true, false, false, true};
    QTest::newRow("playing") << S::Playing << false << false << true
                             << QList<bool>{true, true, false, true,  true,
                                            true, true, false, false, true};
    QTest::newRow("playing full screen")
        << S::Playing << true << false << true
        << QList<bool>{true, true, false, true, true, true, true, false, false, true};
    QTest::newRow("paused with key pictures")
        << S::Paused << false << true << true
        << QList<bool>{true, true, true, false, true, true, true, true, true, true};
    QTest::newRow("sound only") << S::Paused << false << true << false
                                << QList<bool>{true,  true,  true,  false, true,
                                               false, false, false, false, true};
}

void CPreviewPlayerTest::MenuStatesFollowPlayState() {
    QFETCH(CPreviewPlayer::PlayState, state);
    QFETCH(bool, fullScreen);
    QFETCH(bool, keyPictures);
    QFETCH(bool, video);
    QFETCH(QList<bool>, enabled);

    CPlayerRig rig;
    rig.Graph().SetNoVideo(!video);
    QCOMPARE(rig.Open(), 1);
    Enter(*rig.player, state);
    if (fullScreen) {
        QVERIFY(rig.player->EnterFullScreen());
    }
    if (keyPictures) {
        rig.player->SetKeyPictures({0, 5000000});
    }
    // A right click opens the menu where the pointer is; without video, so does the Menu key.
    if (video) {
        QTest::mouseClick(rig.Window(), Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
    } else {
        rig.player->ShowContextMenu(QPoint(30, 40));
    }
    QMenu* pMenu = rig.player->ContextMenu();
    QVERIFY(pMenu != nullptr);
    QTRY_VERIFY(pMenu->isVisible());
    QCOMPARE(pMenu->title(), u"PREVIEW"_s);

    QStringList texts;
    QList<bool> states;
    for (QAction* pAction : pMenu->actions()) {
        if (!pAction->isSeparator()) {
            texts << pAction->text();
            states << pAction->isEnabled();
        }
    }
    QCOMPARE(texts, (QStringList{u"Full screen"_s, u"Normal size"_s, u"Play"_s, u"pause"_s,
                                 u"Stop"_s, u"Next picture"_s, u"Previous picture"_s,
                                 u"Next key picture"_s, u"Previous key picture"_s, u"Close"_s}));
    QCOMPARE(pMenu->actions().size(), 13);
    QVERIFY(pMenu->actions().at(2)->isSeparator());
    QVERIFY(pMenu->actions().at(6)->isSeparator());
    QVERIFY(pMenu->actions().at(11)->isSeparator());
    QCOMPARE(states, enabled);
    // The picture commands show their keys, and screen readers name them.
    QStringList keys;
    for (const int nCommand : {ID_PREVIEW_NEXTPICTURE, ID_PREVIEW_PREVPICTURE,
                               ID_PREVIEW_NEXTKEYPICTURE, ID_PREVIEW_PREVKEYPICTURE}) {
        keys << PreviewMenuItem(pMenu, nCommand)->shortcut().toString();
    }
    QCOMPARE(keys, (QStringList{u"."_s, u","_s, u"PgDown"_s, u"PgUp"_s}));
    QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pMenu);
    QVERIFY(pAccessible != nullptr);
    QCOMPARE(pAccessible->child(7)->text(QAccessible::Name), u"Next picture"_s);
    QCOMPARE(PreviewMenuItem(pMenu, ID_PREVIEW_FULLSCREEN)->isChecked(), fullScreen);
    pMenu->close();
}

void CPreviewPlayerTest::MenuCommandsRunAfterMenuCloses() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.player->ShowContextMenu(rig.Window()->mapToGlobal(QPoint(10, 10)));
    QPointer<QMenu> menu(rig.player->ContextMenu());
    QVERIFY(!menu.isNull());
    PreviewMenuItem(menu, ID_PREVIEW_PLAY)->trigger();
    // The command is posted: it runs once the menu has gone, and the menu is destroyed.
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    menu->close();
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTRY_VERIFY(menu.isNull());

    // Each menu is loaded anew: what was greyed before is enabled when the state allows it.
    rig.player->ShowContextMenu(QPoint(5, 5));
    QVERIFY(!PreviewMenuItem(rig.player->ContextMenu(), ID_PREVIEW_PLAY)->isEnabled());
    PreviewMenuItem(rig.player->ContextMenu(), ID_PREVIEW_PAUSE)->trigger();
    rig.player->ContextMenu()->close();
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Paused);
    rig.player->ShowContextMenu(QPoint(5, 5));
    QVERIFY(PreviewMenuItem(rig.player->ContextMenu(), ID_PREVIEW_PLAY)->isEnabled());
    PreviewMenuItem(rig.player->ContextMenu(), ID_PREVIEW_STOP)->trigger();
    rig.player->ContextMenu()->close();
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);

    // Unknown commands do nothing.
    rig.player->OnCommand(12345);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
}

void CPreviewPlayerTest::PictureKeysAskTheGraphForExactPictures_data() {
    using S = CPreviewPlayer::PlayState;
    QTest::addColumn<S>("from");
    QTest::addColumn<LONGLONG>("position");
    QTest::addColumn<bool>("keyPictures");  // 0, 5, 10 and 15 s handed over, in disorder
    QTest::addColumn<double>("timePerFrame");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<CCalls>("calls");  // Run, Pause, Step and SetPositions
    QTest::addColumn<S>("to");
    QTest::addColumn<LONGLONG>("landed");

    constexpr LONGLONG kSecond = 10000000;
    const auto exact = [](LONGLONG llTarget) {
        return "SetPositions(" + std::to_string(llTarget) + ", 0x101, null, 0x0)";
    };
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    QTest::newRow(". in Stopped: paused on the next picture")
        << S::Stopped << LONGLONG{0} << false << 0.04 << int(Qt::Key_Period) << none
        << CCalls{"Pause()", "Step(1)"} << S::Paused << kSecond / 25;
    QTest::newRow(". in Playing pauses first")
        << S::Playing << 2 * kSecond << false << 0.04 << int(Qt::Key_Period) << none
        << CCalls{"Pause()", "Step(1)"} << S::Paused << 2 * kSecond + kSecond / 25;
    QTest::newRow(", aims half a picture back")
        << S::Paused << 2 * kSecond << false << 0.04 << int(Qt::Key_Comma) << none
        << CCalls{exact(2 * kSecond - kSecond / 50)} << S::Paused << 2 * kSecond - kSecond / 50;
    QTest::newRow(", without a frame rate aims 1 ms back")
        << S::Paused << 2 * kSecond << false << 0.0 << int(Qt::Key_Comma) << none
        << CCalls{exact(2 * kSecond - kSecond / 1000)} << S::Paused << 2 * kSecond - kSecond / 1000;
    QTest::newRow(", at the first picture")
        << S::Paused << LONGLONG{0} << false << 0.04 << int(Qt::Key_Comma) << none << CCalls{}
        << S::Paused << LONGLONG{0};
    QTest::newRow("Page Down on a key picture: the next one")
        << S::Paused << 5 * kSecond << true << 0.04 << int(Qt::Key_PageDown) << none
        << CCalls{exact(10 * kSecond + kSecond / 50)} << S::Paused << 10 * kSecond + kSecond / 50;
    QTest::newRow("> between key pictures: the next one")
        << S::Playing << 7 * kSecond << true << 0.04 << int(Qt::Key_Greater) << shift
        << CCalls{"Pause()", exact(10 * kSecond + kSecond / 50)} << S::Paused
        << 10 * kSecond + kSecond / 50;
    QTest::newRow("Shift+. as the keyboard reports it: the next one")
        << S::Paused << 7 * kSecond << true << 0.04 << int(Qt::Key_Period) << shift
        << CCalls{exact(10 * kSecond + kSecond / 50)} << S::Paused << 10 * kSecond + kSecond / 50;
    QTest::newRow("Page Up on a key picture: the one before")
        << S::Paused << 10 * kSecond << true << 0.04 << int(Qt::Key_PageUp) << none
        << CCalls{exact(5 * kSecond + kSecond / 50)} << S::Paused << 5 * kSecond + kSecond / 50;
    QTest::newRow("< in a group: its key picture")
        << S::Paused << 12 * kSecond << true << 0.04 << int(Qt::Key_Less) << shift
        << CCalls{exact(10 * kSecond + kSecond / 50)} << S::Paused << 10 * kSecond + kSecond / 50;
    QTest::newRow("Page Down after the last key picture")
        << S::Paused << 15 * kSecond << true << 0.04 << int(Qt::Key_PageDown) << none << CCalls{}
        << S::Paused << 15 * kSecond;
    QTest::newRow("Page Up at the first key picture")
        << S::Paused << LONGLONG{0} << true << 0.04 << int(Qt::Key_PageUp) << none << CCalls{}
        << S::Paused << LONGLONG{0};
    QTest::newRow("Page Down without a list: not even a pause")
        << S::Playing << 7 * kSecond << false << 0.04 << int(Qt::Key_PageDown) << none << CCalls{}
        << S::Playing << 7 * kSecond;
    QTest::newRow(". with Control is not the key")
        << S::Paused << 7 * kSecond << false << 0.04 << int(Qt::Key_Period)
        << Qt::KeyboardModifiers(Qt::ControlModifier) << CCalls{} << S::Paused << 7 * kSecond;
}

void CPreviewPlayerTest::PictureKeysAskTheGraphForExactPictures() {
    QFETCH(CPreviewPlayer::PlayState, from);
    QFETCH(LONGLONG, position);
    QFETCH(bool, keyPictures);
    QFETCH(double, timePerFrame);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(CCalls, calls);
    QFETCH(CPreviewPlayer::PlayState, to);
    QFETCH(LONGLONG, landed);

    CPlayerRig rig;
    CFakeFilterGraph& graph = rig.Graph();
    graph.SetStopPosition(300000000);
    graph.SetTimePerFrame(timePerFrame);
    QCOMPARE(rig.Open(), 1);
    Enter(*rig.player, from);
    graph.SetCurrentPosition(position);
    if (keyPictures) {
        rig.player->SetKeyPictures({100000000, 0, 150000000, 50000000, 50000000});
    }
    graph.ClearCalls();

    QTest::keyClick(rig.Window(), static_cast<Qt::Key>(key), modifiers);
    CCalls transport;
    for (const std::string& call : graph.Calls()) {
        for (const char* name : {"Run(", "Pause(", "Step(", "SetPositions("}) {
            if (call.starts_with(name)) {
                transport.push_back(call);
            }
        }
    }
    QCOMPARE(transport, calls);
    QCOMPARE(rig.player->m_nState, to);
    QCOMPARE(rig.Title(), to == CPreviewPlayer::Paused ? u"show.mpg  (Paused)"_s : u"show.mpg  "_s);
    // The main window hears of the new position at once, whenever the picture was paused.
    CPlayerRig::Deliver();
    const bool bPaused = to == CPreviewPlayer::Paused && modifiers != Qt::ControlModifier;
    QCOMPARE(rig.owner.Count(WM_PREVIEW_POSITION), bPaused ? 1 : 0);
    if (bPaused) {
        QCOMPARE(rig.player->m_llCurrentPos, landed);
    }
    QCOMPARE(graph.CurrentPosition(), landed);
}

void CPreviewPlayerTest::LeftClicksAlternateFrontWindow() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    QWindow* pOwnerHandle = rig.owner.windowHandle();
    QVERIFY(pOwnerHandle != nullptr);
    g_bRaisePreview = true;  // as at the start of the process

    // First: the preview in front, the main window not on top. Second: the main window floats
    // above the preview. Third: the preview again. Clicks neither play nor pause.
    QTest::mouseClick(rig.Window(), Qt::LeftButton, Qt::NoModifier, Centre(rig.Window()));
    QVERIFY(!g_bRaisePreview);
    QVERIFY(!(pOwnerHandle->flags() & Qt::WindowStaysOnTopHint));
    QTest::mouseClick(rig.Window(), Qt::LeftButton, Qt::NoModifier, Centre(rig.Window()));
    QVERIFY(g_bRaisePreview);
    QVERIFY(pOwnerHandle->flags() & Qt::WindowStaysOnTopHint);
    QVERIFY(rig.owner.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(rig.owner.isVisible());
    QTest::mouseClick(rig.Window(), Qt::LeftButton, Qt::NoModifier, Centre(rig.Window()));
    QVERIFY(!g_bRaisePreview);
    QVERIFY(!(pOwnerHandle->flags() & Qt::WindowStaysOnTopHint));
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    QVERIFY(!(rig.Window()->windowFlags() & Qt::WindowStaysOnTopHint));

    // The flag belongs to the process, not to one preview.
    CPlayerRig next;
    QCOMPARE(next.Open(), 1);
    QVERIFY(!g_bRaisePreview);
    QTest::mouseClick(next.Window(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    QVERIFY(g_bRaisePreview);
    QVERIFY(next.owner.windowFlags() & Qt::WindowStaysOnTopHint);
}

void CPreviewPlayerTest::FullScreenPlacesVideoAndEscapeLeaves() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    CPreviewWindow* pWindow = rig.Window();
    const QRect normal = pWindow->geometry();

    // Escape in normal size does nothing.
    QTest::keyClick(pWindow, Qt::Key_Escape);
    QCOMPARE(pWindow->geometry(), normal);

    rig.player->OnCommand(ID_PREVIEW_FULLSCREEN);
    QVERIFY(rig.player->m_bFullScreen);
    QVERIFY(pWindow->isFullScreen());
    const QSize screen = pWindow->screen()->geometry().size();
    QCOMPARE(pWindow->size(), screen);
    long l = 0, t = 0, w = 0, h = 0;
    rig.Graph().GetWindowRect(&l, &t, &w, &h);
    QCOMPARE(QRect(l, t, w, h), FullScreenVideoRect(screen.width(), screen.height(), 352, 288));
    QCOMPARE(pWindow->TimerInterval(IDT_CURSOR), 50000);
    QCOMPARE(rig.player->m_dwLastActivity, rig.now);

    // Escape comes on the key's release; a held key's repeats do nothing.
    QTest::keyPress(pWindow, Qt::Key_Escape);
    QVERIFY(rig.player->m_bFullScreen);
    QTest::keyRelease(pWindow, Qt::Key_Escape);
    QVERIFY(!rig.player->m_bFullScreen);
    QVERIFY(!pWindow->isFullScreen());
    QCOMPARE(pWindow->geometry(), normal);
    QVERIFY(!pWindow->IsTimerActive(IDT_CURSOR));
    rig.Graph().GetWindowRect(&l, &t, &w, &h);
    QCOMPARE(QRect(l, t, w, h), QRect(QPoint(0, 0), normal.size()));

    // The same command toggles back; the main window ends shown, the preview in front of it.
    rig.player->OnCommand(ID_PREVIEW_FULLSCREEN);
    QVERIFY(rig.player->m_bFullScreen);
    rig.player->OnCommand(ID_PREVIEW_FULLSCREEN);
    QVERIFY(!rig.player->m_bFullScreen);
    QCOMPARE(pWindow->geometry(), normal);
    QVERIFY(rig.owner.isVisible() && !rig.owner.isMinimized());
    QVERIFY(!(pWindow->windowFlags() & Qt::WindowStaysOnTopHint));
}

void CPreviewPlayerTest::KeysPlayPauseGoFullScreenAndOpenMenu() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    CPreviewWindow* pWindow = rig.Window();

    // Space: play from stopped, pause, play again; a held key acts once.
    QTest::keyClick(pWindow, Qt::Key_Space);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    QTest::keyClick(pWindow, Qt::Key_Space);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Paused);
    QCOMPARE(rig.Title(), u"show.mpg  (Paused)"_s);
    QTest::keyPress(pWindow, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, u" "_s, true);
    QApplication::sendEvent(pWindow, &repeat);
    QTest::keyRelease(pWindow, Qt::Key_Space);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
    // With a modifier it is not the play key.
    QTest::keyClick(pWindow, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);

    // F and F11 toggle full screen; Escape still leaves it.
    QTest::keyClick(pWindow, Qt::Key_F);
    QVERIFY(rig.player->m_bFullScreen);
    QTest::keyClick(pWindow, Qt::Key_F11);
    QVERIFY(!rig.player->m_bFullScreen);
    QTest::keyClick(pWindow, Qt::Key_F11);
    QVERIFY(rig.player->m_bFullScreen);
    QTest::keyClick(pWindow, Qt::Key_Escape);
    QVERIFY(!rig.player->m_bFullScreen);

    // The Menu key and Shift+F10 open the popup menu, in its state of the moment.
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
        QTest::keyClick(pWindow, key, modifiers);
        QPointer<QMenu> menu(rig.player->ContextMenu());
        QVERIFY(!menu.isNull() && menu->isVisible());
        QVERIFY(!PreviewMenuItem(menu, ID_PREVIEW_PLAY)->isEnabled());
        menu->close();
        QTRY_VERIFY(menu.isNull());
    }
    // A menu opened in full screen makes the next click put the main window away, as a right
    // click's does.
    QVERIFY(rig.player->EnterFullScreen());
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.owner.isMinimized());
    QTest::keyClick(pWindow, Qt::Key_Menu);
    rig.player->ContextMenu()->close();
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.owner.isMinimized());
}

void CPreviewPlayerTest::FullScreenClicksAlternateMainWindow() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    QVERIFY(rig.player->EnterFullScreen());
    QVERIFY(rig.player->m_bHideOwnerNext);
    CPreviewWindow* pWindow = rig.Window();
    const bool raisePreview = g_bRaisePreview;

    // First click: the main window out of the way; second: above the video; third: away.
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.owner.isMinimized());
    QVERIFY(!(rig.owner.windowFlags() & Qt::WindowStaysOnTopHint));
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(!rig.owner.isMinimized());
    QVERIFY(rig.owner.isVisible());
    QVERIFY(rig.owner.windowFlags() & Qt::WindowStaysOnTopHint);
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.owner.isMinimized());
    QCOMPARE(g_bRaisePreview, raisePreview);  // full-screen clicks leave it alone

    // A right click makes the next left click put the main window away again.
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(!rig.owner.isMinimized());
    QTest::mouseClick(pWindow, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.player->ContextMenu() != nullptr);
    rig.player->ContextMenu()->close();
    QTest::mouseClick(pWindow, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(rig.owner.isMinimized());

    // Leaving full screen brings it back.
    QVERIFY(rig.player->LeaveFullScreen());
    QVERIFY(!rig.owner.isMinimized());
    QVERIFY(rig.owner.isVisible());
}

void CPreviewPlayerTest::NormalSizeCommandLeavesFullScreen() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.Graph().SetVideoSize(320, 240);
    QVERIFY(rig.player->EnterFullScreen());
    rig.player->OnCommand(ID_PREVIEW_NORMALSIZE);
    QVERIFY(!rig.player->m_bFullScreen);
    QCOMPARE(rig.Window()->size(), QSize(320, 240));
    long l = 0, t = 0, w = 0, h = 0;
    rig.Graph().GetWindowRect(&l, &t, &w, &h);
    QCOMPARE(QRect(l, t, w, h), QRect(0, 0, 320, 240));

    // Without a video size the window stays as it is and the command still succeeds.
    rig.Graph().SetResult(FakeCall::GetVideoSize, E_NOINTERFACE);
    QCOMPARE(rig.player->InitVideoWindow(1, 1), S_OK);
    QCOMPARE(rig.Window()->size(), QSize(320, 240));
    QVERIFY(rig.boxes.Requests().empty());
}

void CPreviewPlayerTest::CursorHidesOnlyAfterMoreThan100SecondsIdle() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    CPreviewWindow* pWindow = rig.Window();

    // In normal size the check does nothing.
    rig.now += 500000;
    rig.player->OnTimer(IDT_CURSOR);
    QCOMPARE(pWindow->cursor().shape(), Qt::ArrowCursor);

    QVERIFY(rig.player->EnterFullScreen());
    const std::uint32_t entered = rig.now;
    rig.now = entered + 100000;
    rig.player->OnTimer(IDT_CURSOR);
    QCOMPARE(pWindow->cursor().shape(), Qt::ArrowCursor);
    rig.now = entered + 100001;
    rig.player->OnTimer(IDT_CURSOR);
    QCOMPARE(pWindow->cursor().shape(), Qt::BlankCursor);
    QVERIFY(rig.player->m_nCursorCount < 0);

    // Any mouse message brings it back and counts as activity, a plain move included.
    rig.now += 7;
    QTest::mouseMove(pWindow, QPoint(40, 40));
    QCOMPARE(pWindow->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(rig.player->m_dwLastActivity, rig.now);
    rig.now += 100000;
    rig.player->OnTimer(IDT_CURSOR);
    QCOMPARE(pWindow->cursor().shape(), Qt::ArrowCursor);

    // The unsigned difference works across the clock's wrap-around.
    rig.now = 0xFFFFFF00u;
    QTest::mouseMove(pWindow, QPoint(41, 41));
    rig.now = 0xFFFFFF00u + 100001u;  // wrapped
    rig.player->OnTimer(IDT_CURSOR);
    QCOMPARE(pWindow->cursor().shape(), Qt::BlankCursor);

    // Leaving full screen always shows it.
    QVERIFY(rig.player->LeaveFullScreen());
    QCOMPARE(pWindow->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(rig.player->m_nCursorCount, 0);
}

void CPreviewPlayerTest::StopInFullScreenEndsCursorChecks() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.player->Play();
    QVERIFY(rig.player->EnterFullScreen());
    QVERIFY(rig.Window()->IsTimerActive(IDT_CURSOR));
    rig.Graph().QueueEvent(EC_COMPLETE);
    CPlayerRig::Deliver();
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    QVERIFY(rig.player->m_bFullScreen);
    QVERIFY(!rig.Window()->IsTimerActive(IDT_CURSOR));

    // Until full screen is entered again.
    QVERIFY(rig.player->LeaveFullScreen());
    QVERIFY(rig.player->EnterFullScreen());
    QVERIFY(rig.Window()->IsTimerActive(IDT_CURSOR));
}

void CPreviewPlayerTest::ClosingInFullScreenBringsMainWindowBack() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    QVERIFY(rig.player->EnterFullScreen());
    QTest::mouseClick(rig.Window(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QVERIFY(rig.owner.isMinimized());
    rig.now += 200000;
    rig.player->OnTimer(IDT_CURSOR);
    QVERIFY(rig.player->m_nCursorCount < 0);

    rig.player->Close();
    QVERIFY(!rig.owner.isMinimized());
    QVERIFY(rig.owner.isVisible());
    QCOMPARE(rig.player->m_nCursorCount, 0);
    QVERIFY(!rig.player->m_bFullScreen);
    QCOMPARE(rig.Graph().TotalOutstandingReferences(), 0);
}

void CPreviewPlayerTest::CloseBoxAsksMainWindowAndKeepsWindow() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    QVERIFY(!rig.Window()->close());
    QVERIFY(rig.Window()->isVisible());
    QCOMPARE(rig.owner.Count(WM_COMMAND, IDC_CLOSE_SOURCE), 0);  // posted
    CPlayerRig::Deliver();
    QCOMPARE(rig.owner.Count(WM_COMMAND, IDC_CLOSE_SOURCE), 1);
    QCOMPARE(rig.owner.messages.back().lParam, 0);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
}

void CPreviewPlayerTest::MenuCloseAsksMainWindow() {
    CPlayerRig rig;
    QCOMPARE(rig.Open(), 1);
    rig.player->Play();
    rig.player->ShowContextMenu(QPoint(10, 10));
    PreviewMenuItem(rig.player->ContextMenu(), ID_PREVIEW_CLOSE)->trigger();
    rig.player->ContextMenu()->close();
    CPlayerRig::Deliver();
    QCOMPARE(rig.owner.Count(WM_COMMAND, IDC_CLOSE_SOURCE), 1);
    QVERIFY(rig.Window() != nullptr);
    QCOMPARE(rig.player->m_nState, CPreviewPlayer::Playing);
}

void CPreviewPlayerTest::WindowSitsInStripAboveMainWindow() {
    CPlayerRig rig;
    rig.Graph().SetNoVideo(true);  // keeps the first placement's size
    QCOMPARE(rig.Open(), 1);
    const QRect expected =
        PreviewWindowRect(rig.owner.screen()->availableGeometry(), rig.owner.frameGeometry());
    QCOMPARE(rig.Window()->pos(), expected.topLeft());
    QCOMPARE(rig.Window()->size(), expected.size());

    // A video keeps the top-left corner and takes its native size.
    CPlayerRig video;
    QCOMPARE(video.Open(), 1);
    QCOMPARE(video.Window()->pos(), expected.topLeft());
    QCOMPARE(video.Window()->size(), QSize(352, 288));
}

void CPreviewPlayerTest::LargeVideoMovesMainWindowDownOrIsScaled() {
    // The offscreen screen is 800 by 600; its windows have thin frames.
    CPlayerRig rig;
    const QRect workArea = rig.owner.screen()->availableGeometry();
    rig.owner.setGeometry(200, 150, 400, 300);
    const int nFrameHeight = rig.owner.frameGeometry().height() - rig.owner.height();
    QCOMPARE(rig.Open(), 1);
    // 352x288 needs the main window further down: it moves just below the preview, which keeps
    // its place at the top.
    QCOMPARE(rig.Window()->pos(), QPoint(workArea.left() + 100, workArea.top() + 5));
    QCOMPARE(rig.Window()->size(), QSize(352, 288));
    QCOMPARE(rig.owner.frameGeometry().top(), workArea.top() + 5 + nFrameHeight + 288);
    QVERIFY(!rig.Window()->frameGeometry().intersects(rig.owner.frameGeometry()));

    // 720x576 cannot fit above it: the main window goes to the bottom, the video is scaled
    // into the strip with its aspect kept, and the video fills the window.
    CPlayerRig dvd;
    dvd.Graph().SetVideoSize(720, 576);
    dvd.owner.setGeometry(200, 150, 400, 300);
    QCOMPARE(dvd.Open(), 1);
    QCOMPARE(dvd.owner.frameGeometry().bottom(), workArea.bottom());
    const int nHeight = dvd.owner.frameGeometry().top() - (workArea.top() + 5) - nFrameHeight;
    QCOMPARE(dvd.Window()->size(), QSize(720 * nHeight / 576, nHeight));
    long l = 0, t = 0, w = 0, h = 0;
    dvd.Graph().GetWindowRect(&l, &t, &w, &h);
    QCOMPARE(QRect(l, t, w, h), QRect(QPoint(0, 0), dvd.Window()->size()));
    QVERIFY(!dvd.Window()->frameGeometry().intersects(dvd.owner.frameGeometry()));

    // "Normal size" still means the native size, and full screen comes back to the scaled one.
    const QRect scaled = dvd.Window()->geometry();
    QVERIFY(dvd.player->EnterFullScreen());
    QVERIFY(dvd.player->LeaveFullScreen());
    QCOMPARE(dvd.Window()->geometry(), scaled);
    dvd.player->OnCommand(ID_PREVIEW_NORMALSIZE);
    QCOMPARE(dvd.Window()->size(), QSize(720, 576));
}

// The file renders while the GUI thread goes on: until then the player has only the graph, so
// the transport and the refresh do nothing; afterwards it is open as Open leaves it. A render
// that fails is reported as Open reports it; a player closed meanwhile is told of nothing.
void CPreviewPlayerTest::OpenInBackgroundFinishesWhenTheFileHasRendered() {
    struct CPending {
        IGraphBuilder* pGB = nullptr;
        std::string strPath;
        std::function<void(HRESULT)> done;
    };
    auto deferred = [](CPending& pending) {
        return [&pending](IGraphBuilder* pGB, const std::string& strPath,
                          std::function<void(HRESULT)> done) {
            pending = {pGB, strPath, std::move(done)};
        };
    };
    {
        CPlayerRig rig;
        CPending pending;
        rig.player->m_context.renderFile = deferred(pending);
        std::strcpy(rig.player->m_szFile, "/media/rec/show.mpg");
        std::vector<int> results;
        rig.player->OpenInBackground([&](int nOpened) { results.push_back(nOpened); });
        QVERIFY(results.empty());
        QCOMPARE(pending.strPath, std::string("/media/rec/show.mpg"));
        QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
        QVERIFY(rig.player->pMC == nullptr && !rig.Window()->isVisible());
        rig.player->Play();
        rig.player->OnTimer(IDT_POSITION);
        QCOMPARE(rig.Graph().CountCalls("QueryInterface("), 0);

        QCOMPARE(pending.pGB->RenderFile(pending.strPath.c_str(), nullptr), S_OK);
        pending.done(S_OK);
        QCOMPARE(results, std::vector<int>{1});
        QVERIFY(rig.Window()->isVisible());
        QVERIFY(rig.Window()->IsTimerActive(IDT_POSITION));
        QCOMPARE(rig.player->m_nState, CPreviewPlayer::Stopped);
    }
    {
        CPlayerRig rig;
        CPending pending;
        rig.player->m_context.renderFile = deferred(pending);
        std::vector<int> results;
        rig.player->OpenInBackground([&](int nOpened) { results.push_back(nOpened); });
        pending.done(VFW_E_CANNOT_RENDER);
        QCOMPARE(results, std::vector<int>{0});
        QCOMPARE(rig.player->m_nState, CPreviewPlayer::Closed);
        QCOMPARE(rig.boxes.Requests().size(), size_t{1});
        QCOMPARE(rig.boxes.Requests()[0].strCaption, u"Error"_s);
        QCOMPARE(rig.Graph().TotalOutstandingReferences(), 0);
    }
    CPlayerRig rig;
    CPending pending;
    rig.player->m_context.renderFile = deferred(pending);
    std::vector<int> results;
    rig.player->OpenInBackground([&](int nOpened) { results.push_back(nOpened); });
    pending.pGB->AddRef();  // the renderer's own reference, as it holds one while it renders
    rig.player.reset();
    pending.done(S_OK);
    QCOMPARE(results, std::vector<int>{0});
    pending.pGB->Release();
    QCOMPARE(rig.Graph().TotalOutstandingReferences(), 0);
}

QTEST_MAIN(CPreviewPlayerTest)
#include "previewplayer_test.moc"
