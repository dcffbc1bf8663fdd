// The GStreamer graph on real streams, headless: a silent audio sink and pictures delivered to
// a recording output.
#include "media/gstfiltergraphfactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "media/mediaframework.h"
#include "media/windowstyles.h"
#include "testmedia.h"

namespace {

using namespace std::chrono_literals;

constexpr LONGLONG kSecond = 10'000'000;
constexpr long kGraphNotify = 1037;

// Records the pictures and window states a graph hands its output.
class CRecordingOutput final : public IVideoOutput {
public:
    struct CShared {
        std::mutex m_mutex;
        std::condition_variable m_changed;
        int m_nFrames = 0;
        int m_nWidth = 0;
        int m_nHeight = 0;
        CVideoWindowState m_window;
        int m_nWindowUpdates = 0;
    };

    explicit CRecordingOutput(std::shared_ptr<CShared> shared) : m_shared(std::move(shared)) {}

    void PresentFrame(std::shared_ptr<const CVideoFrame> frame) override {
        std::lock_guard lock(m_shared->m_mutex);
        ++m_shared->m_nFrames;
        m_shared->m_nWidth = frame->m_nWidth;
        m_shared->m_nHeight = frame->m_nHeight;
        m_shared->m_changed.notify_all();
    }
    void ApplyWindowState(const CVideoWindowState& state) override {
        std::lock_guard lock(m_shared->m_mutex);
        m_shared->m_window = state;
        ++m_shared->m_nWindowUpdates;
    }

private:
    std::shared_ptr<CShared> m_shared;
};

// Counts notices, from whatever thread they come.
class CCountingTarget final : public INotifyTarget {
public:
    void PostGraphNotify(long lMsg, LONG_PTR lInstanceData) override {
        std::lock_guard lock(m_mutex);
        ++m_nNotices;
        m_lLastMsg = lMsg;
        m_lLastData = lInstanceData;
        m_changed.notify_all();
    }
    bool WaitForNotices(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_nNotices >= count; });
    }
    int Notices() {
        std::lock_guard lock(m_mutex);
        return m_nNotices;
    }
    long LastMessage() {
        std::lock_guard lock(m_mutex);
        return m_lLastMsg;
    }
    LONG_PTR LastData() {
        std::lock_guard lock(m_mutex);
        return m_lLastData;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nNotices = 0;
    long m_lLastMsg = 0;
    LONG_PTR m_lLastData = 0;
};

// One graph with all its roles, released in the order a player releases them.
struct CGraph {
    IGraphBuilder* pGB = nullptr;
    IMediaControl* pMC = nullptr;
    IMediaEventEx* pME = nullptr;
    IMediaSeeking* pMS = nullptr;
    IVideoWindow* pVW = nullptr;
    IBasicVideo* pBV = nullptr;
    IBasicAudio* pBA = nullptr;
    IVideoFrameStep* pFS = nullptr;

    CGraph() = default;
    CGraph(const CGraph&) = delete;
    CGraph& operator=(const CGraph&) = delete;
    ~CGraph() { EXPECT_EQ(ReleaseAll(), 0u); }

    ULONG ReleaseAll() {
        for (IUnknown* role : std::initializer_list<IUnknown*>{pME, pMS, pMC, pBA, pFS, pBV, pVW}) {
            if (role != nullptr) {
                role->Release();
            }
        }
        pME = nullptr;
        pMS = nullptr;
        pMC = nullptr;
        pBA = nullptr;
        pFS = nullptr;
        pBV = nullptr;
        pVW = nullptr;
        ULONG remaining = 0;
        if (pGB != nullptr) {
            remaining = pGB->Release();
            pGB = nullptr;
        }
        return remaining;
    }
};

class GstFilterGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(MediaFrameworkInitialize()); }

    GstFilterGraphTest() : m_output(std::make_shared<CRecordingOutput::CShared>()) {
        CGraphOptions options;
        options.m_strAudioSink = "fakesink sync=true";
        options.m_makeVideoOutput = [shared = m_output] {
            return std::make_unique<CRecordingOutput>(shared);
        };
        m_factory = std::make_unique<CGstFilterGraphFactory>(options);
    }

    // Creates a graph, renders the file and takes every role, as a player's build does.
    void Build(const std::string& path, HRESULT expectRender = S_OK) {
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(m_factory->CreateFilterGraph(&m_graph.pGB), S_OK);
        ASSERT_EQ(m_graph.pGB->RenderFile(path.c_str(), nullptr), expectRender);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pMC), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pME), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pMS), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pVW), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pBV), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pBA), S_OK);
        ASSERT_EQ(m_graph.pGB->QueryInterface(&m_graph.pFS), S_OK);
    }

    LONGLONG Current() {
        LONGLONG position = -1;
        EXPECT_EQ(m_graph.pMS->GetCurrentPosition(&position), S_OK);
        return position;
    }
    LONGLONG Stop() {
        LONGLONG stop = -1;
        EXPECT_EQ(m_graph.pMS->GetStopPosition(&stop), S_OK);
        return stop;
    }
    HRESULT SeekTo(LONGLONG position) {
        return m_graph.pMS->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                         AM_SEEKING_NoPositioning);
    }
    void WaitForState(OAFilterState expected) {
        OAFilterState state = -1;
        EXPECT_EQ(m_graph.pMC->GetState(10000, &state), S_OK);
        EXPECT_EQ(state, expected);
    }
    bool WaitForFrames(int count) {
        std::unique_lock lock(m_output->m_mutex);
        return m_output->m_changed.wait_for(lock, 10s,
                                            [&] { return m_output->m_nFrames >= count; });
    }
    int Frames() {
        std::lock_guard lock(m_output->m_mutex);
        return m_output->m_nFrames;
    }
    // Takes every pending event; the codes in order.
    std::vector<long> DrainEvents() {
        std::vector<long> codes;
        long code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        while (SUCCEEDED(m_graph.pME->GetEvent(&code, &param1, &param2, 0))) {
            codes.push_back(code);
            EXPECT_EQ(m_graph.pME->FreeEventParams(code, param1, param2), S_OK);
        }
        return codes;
    }

    std::shared_ptr<CRecordingOutput::CShared> m_output;
    std::unique_ptr<CGstFilterGraphFactory> m_factory;
    CGraph m_graph;
};

TEST_F(GstFilterGraphTest, RendersMpeg2StoppedWithFirstPictureAndNativeSize) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    ASSERT_TRUE(WaitForFrames(1)) << "no picture while cued";
    {
        std::lock_guard lock(m_output->m_mutex);
        EXPECT_EQ(m_output->m_nWidth, 352);
        EXPECT_EQ(m_output->m_nHeight, 288);
    }
    long width = 0;
    long height = 0;
    EXPECT_EQ(m_graph.pBV->GetVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 288);
    REFTIME dTimePerFrame = 0;
    EXPECT_EQ(m_graph.pBV->get_AvgTimePerFrame(&dTimePerFrame), S_OK);
    EXPECT_DOUBLE_EQ(dTimePerFrame, 0.04);
    long visible = 0;
    EXPECT_EQ(m_graph.pVW->get_Visible(&visible), S_OK);

    WaitForState(State_Stopped);
    EXPECT_EQ(Current(), 0);
    EXPECT_NEAR(static_cast<double>(Stop()), 3.0 * kSecond, 0.5 * kSecond);
    LONGLONG duration = 0;
    EXPECT_EQ(m_graph.pMS->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, Stop());

    TimeFormat format = TIME_FORMAT_NONE;
    EXPECT_EQ(m_graph.pMS->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(m_graph.pMS->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
    EXPECT_EQ(m_graph.pMS->GetTimeFormat(&format), S_OK);
    EXPECT_EQ(format, TIME_FORMAT_MEDIA_TIME);
    EXPECT_EQ(m_graph.pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(m_graph.pMS->SetRate(1.0), S_OK);
    EXPECT_EQ(m_graph.pMS->SetRate(2.0), E_NOTIMPL);
    EXPECT_TRUE(DrainEvents().empty());
}

TEST_F(GstFilterGraphTest, RendersADvdStreamWithItsAc3Audio) {
    Build(TestMediaPath(TestMedia::DvdPal));
    long width = 0;
    long height = 0;
    EXPECT_EQ(m_graph.pBV->GetVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 576);
    long volume = 1;
    EXPECT_EQ(m_graph.pBA->get_Volume(&volume), S_OK) << "no audio stream";
    EXPECT_EQ(volume, 0);
    ASSERT_TRUE(WaitForFrames(1));
    std::lock_guard lock(m_output->m_mutex);
    EXPECT_EQ(m_output->m_nWidth, 720);
}

TEST_F(GstFilterGraphTest, VideoWindowCallsReachTheOutput) {
    Build(TestMediaPath(TestMedia::Mpeg1Vcd));
    auto* owner = reinterpret_cast<OAHWND>(0x1000);
    long style = 0;
    ASSERT_EQ(m_graph.pVW->get_WindowStyle(&style), S_OK);
    EXPECT_EQ(m_graph.pVW->put_WindowStyle((style & ~(WS_CAPTION | WS_THICKFRAME)) | WS_CHILD),
              S_OK);
    EXPECT_EQ(m_graph.pVW->put_Owner(owner), S_OK);
    EXPECT_EQ(m_graph.pVW->put_MessageDrain(owner), S_OK);
    EXPECT_EQ(m_graph.pVW->SetWindowPosition(0, 0, 352, 288), S_OK);
    EXPECT_EQ(m_graph.pVW->SetWindowPosition(0, 0, -1, 288), E_INVALIDARG);
    EXPECT_EQ(m_graph.pVW->put_Visible(OAFALSE), S_OK);
    {
        std::lock_guard lock(m_output->m_mutex);
        EXPECT_EQ(m_output->m_window.m_hOwner, owner);
        EXPECT_EQ(m_output->m_window.m_hMessageDrain, owner);
        EXPECT_EQ(m_output->m_window.m_nWidth, 352);
        EXPECT_FALSE(m_output->m_window.m_bVisible);
        EXPECT_EQ(m_output->m_window.m_nStyle & (WS_CAPTION | WS_CHILD), WS_CHILD);
    }
    long left = -1;
    long top = -1;
    long width = -1;
    long height = -1;
    EXPECT_EQ(m_graph.pVW->GetWindowPosition(&left, &top, &width, &height), S_OK);
    EXPECT_EQ(std::vector<long>({left, top, width, height}), std::vector<long>({0, 0, 352, 288}));
    long visible = OATRUE;
    EXPECT_EQ(m_graph.pVW->get_Visible(&visible), S_OK);
    EXPECT_EQ(visible, OAFALSE);
    EXPECT_EQ(m_graph.pVW->put_Owner(nullptr), S_OK);
}

TEST_F(GstFilterGraphTest, PlaysInRealTimeAndPausesAndStops) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    WaitForState(State_Running);
    const LONGLONG first = Current();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    const LONGLONG second = Current();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double advanced = static_cast<double>(second - first) / kSecond;
    EXPECT_NEAR(advanced, elapsed, 0.35) << "position moved " << advanced << " s in " << elapsed;
    EXPECT_GT(Frames(), 5);
    // Pictures are stepped and found exactly only while the graph stands still.
    EXPECT_EQ(m_graph.pFS->Step(1, nullptr), VFW_E_WRONG_STATE);
    LONGLONG exact = kSecond;
    EXPECT_EQ(
        m_graph.pMS->SetPositions(&exact, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ExactPicture,
                                  nullptr, AM_SEEKING_NoPositioning),
        VFW_E_WRONG_STATE);

    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Pause()));
    WaitForState(State_Paused);
    const LONGLONG paused = Current();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Current(), paused);

    // Stop keeps the position and the graph cued: a rewind shows the first picture again.
    EXPECT_EQ(m_graph.pMC->Stop(), S_OK);
    WaitForState(State_Stopped);
    const int framesBefore = Frames();
    EXPECT_EQ(SeekTo(0), S_OK);
    EXPECT_EQ(Current(), 0);
    EXPECT_TRUE(WaitForFrames(framesBefore + 1));
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Pause()));
    WaitForState(State_Paused);
}

TEST_F(GstFilterGraphTest, SeeksLandNearTheTarget) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    for (const LONGLONG target : {2 * kSecond, kSecond / 2, LONGLONG{0}, kSecond + kSecond / 4}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SeekTo(target), S_OK);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_NEAR(static_cast<double>(Current()), static_cast<double>(target), kSecond)
            << "target " << target;
        // Stopped, it shows a key picture at or before the target, and says which.
        EXPECT_LE(Current(), target);
        std::printf("seek to %.2f s while stopped: %.1f ms\n",
                    static_cast<double>(target) / kSecond, ms);
    }
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    WaitForState(State_Running);
    EXPECT_EQ(SeekTo(kSecond / 2), S_OK);
    EXPECT_NEAR(static_cast<double>(Current()), 0.5 * kSecond, kSecond);
    LONGLONG back = -kSecond / 4;
    EXPECT_EQ(m_graph.pMS->SetPositions(&back, AM_SEEKING_RelativePositioning, nullptr,
                                        AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_NEAR(static_cast<double>(Current()), 0.25 * kSecond, kSecond);
    LONGLONG stop = 0;
    EXPECT_EQ(m_graph.pMS->SetPositions(&back, AM_SEEKING_AbsolutePositioning, &stop,
                                        AM_SEEKING_AbsolutePositioning),
              E_NOTIMPL);
    EXPECT_EQ(SeekTo(-5 * kSecond), S_OK);
    EXPECT_LT(Current(), kSecond);
}

TEST_F(GstFilterGraphTest, EndOfStreamArrivesAsCompleteThroughTheNotifyTarget) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    CCountingTarget target;
    ASSERT_EQ(m_graph.pME->SetNotifyWindow(&target, kGraphNotify, 42), S_OK);
    ASSERT_EQ(SeekTo(Stop() - kSecond / 2), S_OK);
    ASSERT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    ASSERT_TRUE(target.WaitForNotices(1, 15s)) << "no end of stream";
    EXPECT_EQ(target.LastMessage(), kGraphNotify);
    EXPECT_EQ(target.LastData(), 42);
    EXPECT_EQ(DrainEvents(), std::vector<long>{EC_COMPLETE});
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    EXPECT_EQ(m_graph.pME->GetEvent(&code, &param1, &param2, 0), E_ABORT);

    // As a player does at the end: stop, rewind, cue; then play again to the end, with the
    // notices switched off.
    EXPECT_EQ(m_graph.pMC->Stop(), S_OK);
    EXPECT_EQ(SeekTo(0), S_OK);
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Pause()));
    WaitForState(State_Paused);
    EXPECT_LT(Current(), kSecond / 2);
    ASSERT_EQ(m_graph.pME->SetNotifyWindow(nullptr, 0, 0), S_OK);
    const int notices = target.Notices();
    ASSERT_EQ(SeekTo(Stop() - kSecond / 2), S_OK);
    ASSERT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    ASSERT_EQ(m_graph.pME->GetEvent(&code, &param1, &param2, 15000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(target.Notices(), notices);
}

TEST_F(GstFilterGraphTest, SeekBeyondTheEndLeavesTheGraphUsable) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    const LONGLONG stop = Stop();
    EXPECT_EQ(SeekTo(stop + 100 * kSecond), S_OK);
    EXPECT_LE(Current(), stop);
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    WaitForState(State_Running);
    EXPECT_EQ(SeekTo(stop * 2), S_OK);
    EXPECT_EQ(SeekTo(kSecond), S_OK);
    EXPECT_NEAR(static_cast<double>(Current()), static_cast<double>(kSecond), kSecond);
    const LONGLONG before = Current();
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(Current(), before) << "the graph no longer plays";
    for (const long code : DrainEvents()) {
        EXPECT_NE(code, EC_ERRORABORT);
    }
}

// An audio sink that refuses to start makes every Run fail with an error on the bus.
TEST_F(GstFilterGraphTest, ARefusedRunIsReportedAndLeavesTheGraphUsable) {
    CGraphOptions options;
    options.m_strAudioSink = "fakesink sync=true state-error=paused-to-playing";
    m_factory = std::make_unique<CGstFilterGraphFactory>(options);
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    CCountingTarget target;
    ASSERT_EQ(m_graph.pME->SetNotifyWindow(&target, kGraphNotify, 0), S_OK);
    ASSERT_EQ(SeekTo(kSecond + kSecond / 2), S_OK);

    EXPECT_TRUE(FAILED(m_graph.pMC->Run()));
    ASSERT_TRUE(target.WaitForNotices(1, 10s));
    EXPECT_EQ(DrainEvents(), std::vector<long>{EC_ERRORABORT});
    OAFilterState state = -1;
    m_graph.pMC->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);

    // The next call rebuilds the pipeline where it was.
    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Pause()));
    WaitForState(State_Paused);
    EXPECT_NEAR(static_cast<double>(Current()), 1.5 * kSecond, kSecond / 2);
    EXPECT_EQ(SeekTo(kSecond / 2), S_OK);
    EXPECT_NEAR(static_cast<double>(Current()), 0.5 * kSecond, kSecond / 2);
}

TEST_F(GstFilterGraphTest, AudioOnlyHasNoVideoWindowButPlays) {
    Build(TestMediaPath(TestMedia::AudioOnly));
    long visible = 0;
    EXPECT_EQ(m_graph.pVW->get_Visible(&visible), E_NOINTERFACE);
    long width = 0;
    long height = 0;
    EXPECT_EQ(m_graph.pBV->GetVideoSize(&width, &height), E_NOINTERFACE);
    EXPECT_EQ(m_graph.pVW->put_Owner(nullptr), E_NOINTERFACE);
    EXPECT_EQ(m_graph.pVW->SetWindowPosition(0, 0, 10, 10), E_NOINTERFACE);
    REFTIME dTimePerFrame = 0;
    EXPECT_EQ(m_graph.pBV->get_AvgTimePerFrame(&dTimePerFrame), E_NOINTERFACE);
    EXPECT_EQ(m_graph.pFS->Step(1, nullptr), E_NOINTERFACE);
    EXPECT_EQ(Frames(), 0);

    long volume = 1;
    EXPECT_EQ(m_graph.pBA->put_Volume(-2000), S_OK);
    EXPECT_EQ(m_graph.pBA->get_Volume(&volume), S_OK);
    EXPECT_NEAR(volume, -2000, 5);
    EXPECT_EQ(m_graph.pBA->put_Volume(1), E_INVALIDARG);

    EXPECT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
    WaitForState(State_Running);
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(Current(), kSecond / 5);
    EXPECT_EQ(SeekTo(kSecond), S_OK);
    EXPECT_NEAR(static_cast<double>(Current()), static_cast<double>(kSecond), kSecond / 2);
}

TEST_F(GstFilterGraphTest, RenderFileFailsForWhatCannotBePlayed) {
    struct CCase {
        std::string path;
        HRESULT expected;
    };
    for (const CCase& c : {CCase{ScratchDir() + "/missing.mpg", HRESULT_FILE_NOT_FOUND},
                           CCase{TestMediaPath(TestMedia::TextFile), 0},
                           CCase{TestMediaPath(TestMedia::PackGarbage), 0}}) {
        IGraphBuilder* pGB = nullptr;
        ASSERT_EQ(m_factory->CreateFilterGraph(&pGB), S_OK);
        const HRESULT hr = pGB->RenderFile(c.path.c_str(), nullptr);
        EXPECT_TRUE(FAILED(hr)) << c.path;
        if (c.expected != 0) {
            EXPECT_EQ(hr, c.expected) << c.path;
        }
        // A graph that failed to render refuses to play rather than pretending to.
        IMediaControl* pMC = nullptr;
        ASSERT_EQ(pGB->QueryInterface(&pMC), S_OK);
        EXPECT_TRUE(FAILED(pMC->Run()));
        pMC->Release();
        EXPECT_EQ(pGB->Release(), 0u);
    }
    IGraphBuilder* pGB = nullptr;
    ASSERT_EQ(m_factory->CreateFilterGraph(&pGB), S_OK);
    EXPECT_EQ(pGB->RenderFile(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(pGB->RenderFile("x.mpg", "list"), E_INVALIDARG);
    EXPECT_EQ(pGB->Release(), 0u);
}

TEST_F(GstFilterGraphTest, ReferencesAreCountedAcrossRoles) {
    IGraphBuilder* pGB = nullptr;
    ASSERT_EQ(m_factory->CreateFilterGraph(&pGB), S_OK);
    IMediaSeeking* pMS = nullptr;
    ASSERT_EQ(pGB->QueryInterface(&pMS), S_OK);
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(pMS->QueryInterface(&pUnknown), S_OK);
    EXPECT_EQ(pUnknown->Release(), 2u);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(pGB->QueryInterface(static_cast<IID>(99), &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(pGB->Release(), 1u);
    // The graph lives on through its last reference, whichever role holds it.
    LONGLONG stop = 0;
    EXPECT_EQ(pMS->GetStopPosition(&stop), VFW_E_WRONG_STATE);
    EXPECT_EQ(pMS->Release(), 0u);
}

}  // namespace

// A seek anywhere in the last group of pictures, or to the stop position itself (the slider at
// its end), lands near its target and keeps the graph usable, stopped and playing.
TEST_F(GstFilterGraphTest, SeeksUpToTheStopPositionLandNearTheTarget) {
    Build(TestMediaPath(TestMedia::Mpeg2Vob));
    const LONGLONG stop = Stop();
    for (int run = 0; run < 2; ++run) {
        if (run == 1) {
            ASSERT_TRUE(SUCCEEDED(m_graph.pMC->Run()));
            WaitForState(State_Running);
        }
        for (LONGLONG target = stop - 2 * kSecond; target <= stop; target += kSecond / 10) {
            EXPECT_EQ(SeekTo(target), S_OK) << "target " << target;
            EXPECT_NEAR(static_cast<double>(Current()), static_cast<double>(target), kSecond)
                << "target " << target << (run == 1 ? " playing" : " stopped");
        }
        EXPECT_EQ(SeekTo(kSecond), S_OK);
        EXPECT_NEAR(static_cast<double>(Current()), static_cast<double>(kSecond), kSecond);
    }
    for (const long code : DrainEvents()) {
        EXPECT_NE(code, EC_ERRORABORT);
    }
}
