// The Qt side of the media layer: notices posted to the GUI thread, and the video widget fed
// by a real graph, headless on the offscreen platform.
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <thread>

#include "media/gstfiltergraphfactory.h"
#include "media/mediaframework.h"
#include "media/qt/graphnotifytarget.h"
#include "media/qt/videowidgetoutput.h"
#include "media/qt/windowhandle.h"
#include "testmedia.h"

namespace {

CGraphOptions SilentOptions() {
    CGraphOptions options;
    options.m_strAudioSink = "fakesink sync=true";
    return options;
}

class CNoticeReceiver final : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == CGraphNotifyEvent::EventType()) {
            const auto* notice = static_cast<CGraphNotifyEvent*>(event);
            m_messages.push_back(notice->Message());
            m_data.push_back(notice->InstanceData());
            m_onGuiThread = m_onGuiThread && QThread::currentThread() == thread();
            return true;
        }
        return QObject::event(event);
    }
    std::vector<long> m_messages;
    std::vector<LONG_PTR> m_data;
    bool m_onGuiThread = true;
};

class CMouseRecorder final : public QWidget {
public:
    void mouseReleaseEvent(QMouseEvent* event) override {
        m_releases.push_back(event->position().toPoint());
    }
    std::vector<QPoint> m_releases;
};

}  // namespace

class MediaQtTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(MediaFrameworkInitialize()); }

    void noticesFromAnotherThreadArriveOnTheGuiThread() {
        auto receiver = std::make_unique<CNoticeReceiver>();
        CGraphNotifyTarget target(receiver.get());
        std::thread([&target] {
            target.PostGraphNotify(1037, 7);
            target.PostGraphNotify(1037, 8);
        }).join();
        QTRY_COMPARE(receiver->m_messages.size(), size_t{2});
        QCOMPARE(receiver->m_data, (std::vector<LONG_PTR>{7, 8}));
        QVERIFY(receiver->m_onGuiThread);

        // Notices for a receiver that is gone are dropped, not delivered to freed memory.
        target.PostGraphNotify(1037, 9);
        receiver.reset();
        target.PostGraphNotify(1037, 10);
        QCoreApplication::processEvents();
    }

    void picturesArePaintedInTheOwnersChild() {
        CGstFilterGraphFactory factory(WidgetGraphOptions(SilentOptions()));
        CMouseRecorder owner;
        owner.resize(400, 320);
        owner.show();

        IGraphBuilder* pGB = nullptr;
        QCOMPARE(factory.CreateFilterGraph(&pGB), S_OK);
        const std::string path = TestMediaPath(TestMedia::Mpeg2Vob);
        QVERIFY(!path.empty());
        QCOMPARE(pGB->RenderFile(path.c_str(), nullptr), S_OK);
        IVideoWindow* pVW = nullptr;
        QCOMPARE(pGB->QueryInterface(&pVW), S_OK);
        QCOMPARE(pVW->put_Owner(ToOAHWND(&owner)), S_OK);
        QCOMPARE(pVW->put_MessageDrain(ToOAHWND(&owner)), S_OK);
        QCOMPARE(pVW->SetWindowPosition(10, 20, 352, 288), S_OK);

        auto* video = owner.findChild<CVideoWidget*>();
        QVERIFY(video != nullptr);
        QVERIFY(video->isVisible());
        QCOMPARE(video->geometry(), QRect(10, 20, 352, 288));
        QTRY_VERIFY_WITH_TIMEOUT(video->FramesShown() > 0, 10000);
        QCOMPARE(video->Frame()->m_nWidth, 352);

        // ffmpeg's test picture is mostly bright colour bars: far from black.
        const QImage painted = video->grab().toImage();
        QVERIFY(!painted.isNull());
        int bright = 0;
        for (int x = 8; x < painted.width(); x += 16) {
            bright += qGray(painted.pixel(x, painted.height() / 3)) > 64 ? 1 : 0;
        }
        QVERIFY2(bright > 5, "the picture was not painted");

        // Input on the video reaches the drain in the video's coordinates.
        QTest::mouseClick(video, Qt::LeftButton, Qt::NoModifier, QPoint(5, 6));
        QCOMPARE(owner.m_releases.size(), size_t{1});
        QCOMPARE(owner.m_releases.front(), QPoint(5, 6));

        QCOMPARE(pVW->put_Visible(OAFALSE), S_OK);
        QVERIFY(!video->isVisible());

        // Releasing the graph stops it first, then removes its video window.
        QPointer<CVideoWidget> guard(video);
        pVW->Release();
        QCOMPARE(pGB->Release(), 0u);
        QVERIFY(guard.isNull());
    }

    // How the preview opens a file: the graph made on the GUI thread renders on another,
    // touching no window there, and is then used on the GUI thread; the first picture, cued
    // while it rendered, is shown.
    void aGraphRenderedOnAnotherThreadPlaysOnTheGuiThread() {
        CGstFilterGraphFactory factory(WidgetGraphOptions(SilentOptions()));
        QWidget owner;
        owner.resize(400, 320);
        owner.show();
        IGraphBuilder* pGB = nullptr;
        QCOMPARE(factory.CreateFilterGraph(&pGB), S_OK);
        const std::string path = TestMediaPath(TestMedia::Mpeg2Vob);
        QVERIFY(!path.empty());
        HRESULT hrRender = E_FAIL;
        std::thread([&] { hrRender = pGB->RenderFile(path.c_str(), nullptr); }).join();
        QCOMPARE(hrRender, S_OK);
        QVERIFY(owner.findChild<CVideoWidget*>() == nullptr);

        IVideoWindow* pVW = nullptr;
        QCOMPARE(pGB->QueryInterface(&pVW), S_OK);
        QCOMPARE(pVW->put_Owner(ToOAHWND(&owner)), S_OK);
        QCOMPARE(pVW->SetWindowPosition(0, 0, 352, 288), S_OK);
        auto* video = owner.findChild<CVideoWidget*>();
        QVERIFY(video != nullptr && video->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(video->FramesShown() > 0, 10000);
        pVW->Release();
        QCOMPARE(pGB->Release(), 0u);
    }

    void anOwnerGoneFirstDoesNotBreakTheGraph() {
        CGstFilterGraphFactory factory(WidgetGraphOptions(SilentOptions()));
        auto owner = std::make_unique<QWidget>();
        IGraphBuilder* pGB = nullptr;
        QCOMPARE(factory.CreateFilterGraph(&pGB), S_OK);
        const std::string path = TestMediaPath(TestMedia::Mpeg1Vcd);
        QCOMPARE(pGB->RenderFile(path.c_str(), nullptr), S_OK);
        IVideoWindow* pVW = nullptr;
        IMediaControl* pMC = nullptr;
        QCOMPARE(pGB->QueryInterface(&pVW), S_OK);
        QCOMPARE(pGB->QueryInterface(&pMC), S_OK);
        QCOMPARE(pVW->put_Owner(ToOAHWND(owner.get())), S_OK);
        QVERIFY(SUCCEEDED(pMC->Run()));
        QTest::qWait(300);
        // The owner takes its child, the video window, with it while pictures keep coming.
        owner.reset();
        QTest::qWait(300);
        QCOMPARE(pVW->put_Owner(nullptr), S_OK);
        QCOMPARE(pMC->Stop(), S_OK);
        pMC->Release();
        pVW->Release();
        QCOMPARE(pGB->Release(), 0u);
    }

    void picturesTheGuiHasNoTimeForAreDropped() {
        CVideoWidgetOutput output;
        auto frame = std::make_shared<CVideoFrame>();
        frame->m_nWidth = 2;
        frame->m_nHeight = 2;
        frame->m_nBytesPerLine = 8;
        frame->m_pixels.assign(16, 0xFF);
        std::thread([&] {
            for (int i = 0; i < 1000; ++i) {
                output.PresentFrame(frame);
            }
        }).join();
        QCoreApplication::processEvents();
        QCOMPARE(output.Widget()->FramesShown(), 1);
        QCOMPARE(output.FramesDropped(), 999);
    }
};

QTEST_MAIN(MediaQtTest)
#include "mediaqt_test.moc"
