// The filter graph over GStreamer: one playbin with both sinks chosen here (an appsink for the
// pictures, never a video sink GStreamer picks itself), bus messages turned into graph events
// on the streaming threads, and positions counted from the start of the stream.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "media/gstfiltergraphfactory.h"
#include "media/windowstyles.h"

namespace {

constexpr gint64 kNanosecondsPerUnit = 100;
// playbin's GstPlayFlags: video, audio, software volume and, for interlaced recordings (most
// of what comes from DVD and broadcast), deinterlacing; no subtitles, no visualisation.
constexpr guint kPlayFlagVideo = 0x1;
constexpr guint kPlayFlagAudio = 0x2;
constexpr guint kPlayFlagSoftVolume = 0x10;
constexpr guint kPlayFlagDeinterlace = 0x200;
// A graph nobody drains keeps at most this many events.
constexpr size_t kMaxPendingEvents = 64;
// How long a state change may take before a seek is issued anyway.
constexpr int kSettleBeforeSeekMs = 2000;
// A seek the decoders cannot start from is tried again this much earlier, a few times.
constexpr LONGLONG kSeekRetreat = 5'000'000;
constexpr int kSeekRetreats = 4;
// The demuxer seeks by the pack clock, which runs up to a second ahead of the pictures, and
// the decoders start at the next key picture: a paused seek goes back from its target this far,
// then twice as far each time until a key picture at or before the target comes; then up to
// kKeyPictureRefinements more seeks bring it within kCloseEnough of the target where they can.
constexpr LONGLONG kFirstKeyPictureRetreat = 10'000'000;
constexpr LONGLONG kLastKeyPictureRetreat = 640'000'000;
constexpr int kKeyPictureRefinements = 4;
constexpr LONGLONG kCloseEnough = 2'000'000;
// Looking for a picture with a time of its own after a seek goes this many pictures at most.
constexpr int kMaxPicturesToTimeStamp = 300;
constexpr size_t kTimeStampsKept = 512;
// A picture this close ahead is reached by stepping rather than by seeking.
constexpr LONGLONG kStepRatherThanSeek = 10'000'000;
// At most this many pictures are stepped through to reach one (over a minute of video).
constexpr int kMaxPicturesStepped = 4000;

struct CGraphEvent {
    long m_lCode = 0;
    LONG_PTR m_lParam1 = 0;
    LONG_PTR m_lParam2 = 0;
};

HRESULT StatusFromError(const GError* error) {
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
            case GST_RESOURCE_ERROR_NOT_FOUND:
                return HRESULT_FILE_NOT_FOUND;
            case GST_RESOURCE_ERROR_OPEN_READ:
            case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
                return E_ACCESSDENIED;
            default:
                return E_FAIL;
        }
    }
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
            case GST_STREAM_ERROR_TYPE_NOT_FOUND:
                return VFW_E_UNKNOWN_FILE_TYPE;
            case GST_STREAM_ERROR_WRONG_TYPE:
            case GST_STREAM_ERROR_CODEC_NOT_FOUND:
                return VFW_E_UNSUPPORTED_STREAM;
            case GST_STREAM_ERROR_DEMUX:
            case GST_STREAM_ERROR_DECODE:
            case GST_STREAM_ERROR_FORMAT:
                return VFW_E_INVALID_FILE_FORMAT;
            default:
                return E_FAIL;
        }
    }
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) {
        return VFW_E_CANNOT_RENDER;
    }
    return E_FAIL;
}

// GStreamer's linear volume and the volume in hundredths of a decibel.
double LinearFromCentibels(long lVolume) {
    return lVolume <= -10000 ? 0.0 : std::pow(10.0, static_cast<double>(lVolume) / 2000.0);
}

long CentibelsFromLinear(double linear) {
    if (linear <= 0.0) {
        return -10000;
    }
    const double centibels = 2000.0 * std::log10(linear);
    return static_cast<long>(std::lround(std::clamp(centibels, -10000.0, 0.0)));
}

class CGstFilterGraph final : public IGraphBuilder,
                              public IMediaControl,
                              public IMediaEventEx,
                              public IMediaSeeking,
                              public IVideoWindow,
                              public IBasicVideo,
                              public IBasicAudio,
                              public IVideoFrameStep {
public:
    explicit CGstFilterGraph(const CGraphOptions& options);
    CGstFilterGraph(const CGstFilterGraph&) = delete;
    CGstFilterGraph& operator=(const CGstFilterGraph&) = delete;

    // Builds the empty pipeline; a failure leaves the graph to be released.
    HRESULT Initialize();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IGraphBuilder
    HRESULT RenderFile(const char* pszFile, const char* pszPlayList) override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(long msTimeout, OAFilterState* pfs) override;

    // IMediaEventEx
    HRESULT GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                     long msTimeout) override;
    HRESULT FreeEventParams(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(INotifyTarget* pTarget, long lMsg, LONG_PTR lInstanceData) override;

    // IMediaSeeking
    HRESULT IsFormatSupported(const TimeFormat* pFormat) override;
    HRESULT GetTimeFormat(TimeFormat* pFormat) override;
    HRESULT SetTimeFormat(const TimeFormat* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT SetRate(double dRate) override;

    // IVideoWindow
    HRESULT get_Visible(long* pVisible) override;
    HRESULT put_Visible(long Visible) override;
    HRESULT get_WindowStyle(long* pStyle) override;
    HRESULT put_WindowStyle(long Style) override;
    HRESULT get_Owner(OAHWND* pOwner) override;
    HRESULT put_Owner(OAHWND Owner) override;
    HRESULT get_MessageDrain(OAHWND* pDrain) override;
    HRESULT put_MessageDrain(OAHWND Drain) override;
    HRESULT SetWindowPosition(long Left, long Top, long Width, long Height) override;
    HRESULT GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    HRESULT NotifyOwnerMessage(OAHWND hwnd, long uMsg, LONG_PTR wParam, LONG_PTR lParam) override;

    // IBasicVideo
    HRESULT GetVideoSize(long* pWidth, long* pHeight) override;
    HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) override;

    // IBasicAudio
    HRESULT get_Volume(long* plVolume) override;
    HRESULT put_Volume(long lVolume) override;

    // IVideoFrameStep
    HRESULT Step(DWORD dwFrames, IUnknown* pStepObject) override;

private:
    ~CGstFilterGraph() override;

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    static GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer self);
    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer self);
    static void OnElementSetup(GstElement* pipeline, GstElement* element, gpointer self);
    static GstPadProbeReturn OnDecoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer self);

    void HandleBusMessage(GstMessage* message);
    void DeliverSample(GstSample* sample);
    void QueueEventLocked(long lCode, LONG_PTR lParam1, LONG_PTR lParam2);

    // The first error since the last reset, or S_OK.
    HRESULT PendingError();
    void ResetErrors();
    size_t PendingEventCount();
    // Takes back the EC_ERRORABORT events queued after the first `keep` events: errors the
    // graph has recovered from on its own are nobody's business.
    void DropErrorEventsAfter(size_t keep);
    // Sets PAUSED and waits until the first picture is cued, an error arrives or time is up.
    HRESULT Cue(int timeoutMs);
    HRESULT WaitForStateChange(int timeoutMs, HRESULT hrTimeout);
    // After an error the pipeline no longer flows: rebuild it from the file and cue it at
    // the last known position, so that the next call finds a usable graph. When that position
    // fails again the graph is cued at the start, unless bOrAtStart is false: then the
    // failure is returned and the graph stays broken.
    HRESULT RecoverIfBroken(bool bOrAtStart = true);
    // A picture on screen.
    struct CPicture {
        LONGLONG m_llTime = 0;      // from the start of the stream
        LONGLONG m_llDuration = 0;  // 0: not known
        // Its time came with the stream, or follows from one that did since the last seek.
        // Before that the decoder guesses times from decoding times, which may be a few
        // pictures early.
        bool m_bTimed = false;
    };
    // Nothing without video, or after its end has been passed.
    std::optional<CPicture> ShownPicture();
    // Seeks to a key picture near the position: one seek while running; otherwise to the
    // first picture with a time of its own at or before it (kFirstKeyPictureRetreat).
    HRESULT SeekTo(LONGLONG position);
    // A flushing seek to a key picture near a pipeline time, then forward to the first picture
    // with a time of its own; *pLanded is what shows then (nothing when no picture does).
    HRESULT LandNear(gint64 target, std::optional<CPicture>* pLanded);
    // A flushing seek to a key picture near a pipeline time, waiting until it has settled.
    HRESULT SeekToPipelineTime(gint64 target);
    // Shows the picture on screen at the position in playback (AM_SEEKING_ExactPicture): a
    // seek to a key picture before it, then steps.
    HRESULT SeekToPictureAt(LONGLONG position);
    // One landing for SeekToPictureAt; bMayStep lets a picture just ahead be reached by steps.
    HRESULT LandOnPictureAt(LONGLONG position, bool bMayStep);
    // One picture forward. S_FALSE when there was none: at the end of the video, whose last
    // picture's time m_llLastPicture then holds (the pipeline may show nothing after that).
    HRESULT StepOnePicture();
    // Called on a flush of the video decoder, and before each seek.
    void ForgetTimeStamps();
    bool QueryStop(LONGLONG* pStop);
    LONGLONG QueryCurrent();
    // The native size and the frame rate from the video's caps; false without a size.
    bool ReadVideoCaps();
    void ApplyWindowState();

    CGraphOptions m_options;
    std::atomic<ULONG> m_cRef{1};
    GstElement* m_pPipeline = nullptr;
    std::unique_ptr<IVideoOutput> m_pOutput;

    // Used on the caller's thread only.
    bool m_bRendered = false;
    bool m_bHasVideo = false;
    bool m_bHasAudio = false;
    long m_nVideoWidth = 0;
    long m_nVideoHeight = 0;
    // The video's frame rate from its caps, numerator / denominator pictures a second; both 0
    // when it declares none.
    gint m_nFrameRateNumerator = 0;
    gint m_nFrameRateDenominator = 0;
    // The time of the video's last picture, known once a step has run past it; else -1.
    LONGLONG m_llLastPicture = -1;
    // The end of the latest picture shown so far.
    LONGLONG m_llVideoEnd = 0;
    gint64 m_nStreamStartNs = 0;  // GStreamer's position at the start of the stream
    LONGLONG m_llLastPosition = 0;
    LONGLONG m_llLastStop = -1;
    OAFilterState m_state = State_Stopped;
    CVideoWindowState m_window;

    // Shared with the streaming threads.
    std::mutex m_mutex;
    std::condition_variable m_eventQueued;
    std::deque<CGraphEvent> m_events;
    bool m_bEventsEnabled = false;
    INotifyTarget* m_pNotifyTarget = nullptr;
    long m_lNotifyMsg = 0;
    LONG_PTR m_lNotifyData = 0;
    HRESULT m_hrError = S_OK;
    bool m_bMissingPlugin = false;
    // The video's sink reported that a step met the end of the stream.
    bool m_bStepReachedEnd = false;
    // Since the last flush of the video decoder: whether it has been given a key picture, the
    // stream times (ns) of the time stamps of the pictures it has been given from then on
    // (the newest kTimeStampsKept), and whether a picture with one of them has been on screen.
    bool m_bKeySinceFlush = false;
    std::deque<gint64> m_timeStampsSinceKey;
    bool m_bTimeStampShown = false;
};

CGstFilterGraph::CGstFilterGraph(const CGraphOptions& options) : m_options(options) {
    m_window.m_nStyle = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
}

CGstFilterGraph::~CGstFilterGraph() {
    {
        // Nobody can take events any more; a target left set must not hear of them.
        std::lock_guard lock(m_mutex);
        m_bEventsEnabled = false;
        m_pNotifyTarget = nullptr;
    }
    if (m_pPipeline != nullptr) {
        // NULL joins every streaming thread, so no frame or message arrives after this.
        gst_element_set_state(m_pPipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(m_pPipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(m_pPipeline);
    }
    m_pOutput.reset();
}

HRESULT CGstFilterGraph::Initialize() {
    m_pPipeline = gst_element_factory_make("playbin", nullptr);
    if (m_pPipeline == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }
    gst_object_ref_sink(m_pPipeline);

    GError* error = nullptr;
    GstElement* audioSink =
        gst_parse_bin_from_description(m_options.m_strAudioSink.c_str(), TRUE, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    if (audioSink == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }

    GstElement* videoSink = nullptr;
    if (m_options.m_bDeliverFrames) {
        videoSink = gst_element_factory_make("appsink", nullptr);
        if (videoSink != nullptr) {
            GstCaps* caps =
                gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
            g_object_set(videoSink, "caps", caps, "max-buffers", 2u, "drop", TRUE, nullptr);
            gst_caps_unref(caps);
            GstAppSinkCallbacks callbacks{};
            callbacks.new_preroll = &CGstFilterGraph::OnNewPreroll;
            callbacks.new_sample = &CGstFilterGraph::OnNewSample;
            gst_app_sink_set_callbacks(GST_APP_SINK(videoSink), &callbacks, this, nullptr);
        }
    } else {
        videoSink = gst_element_factory_make("fakesink", nullptr);
    }
    if (videoSink == nullptr) {
        gst_object_unref(gst_object_ref_sink(audioSink));
        return REGDB_E_CLASSNOTREG;
    }

    const guint flags =
        kPlayFlagVideo | kPlayFlagAudio | (m_options.m_bDeliverFrames ? kPlayFlagSoftVolume : 0u);
    g_object_set(m_pPipeline, "video-sink", videoSink, "audio-sink", audioSink, "flags", flags,
                 nullptr);

    GstBus* bus = gst_element_get_bus(m_pPipeline);
    gst_bus_set_sync_handler(bus, &CGstFilterGraph::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    g_signal_connect(m_pPipeline, "element-setup", G_CALLBACK(&CGstFilterGraph::OnElementSetup),
                     this);

    if (m_options.m_makeVideoOutput) {
        m_pOutput = m_options.m_makeVideoOutput();
    }
    return S_OK;
}

// --- IUnknown ---

HRESULT CGstFilterGraph::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = GraphInterfacePointer(this, riid);
    if (*ppvObject == nullptr) {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CGstFilterGraph::AddRef() {
    return ++m_cRef;
}

ULONG CGstFilterGraph::Release() {
    const ULONG count = --m_cRef;
    if (count == 0) {
        delete this;
    }
    return count;
}

// --- Bus and appsink callbacks, on streaming threads (or on the caller's, for state changes)

GstBusSyncReply CGstFilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    static_cast<CGstFilterGraph*>(self)->HandleBusMessage(message);
    // Everything the graph needs is taken here; nothing waits on the bus.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void CGstFilterGraph::HandleBusMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            const HRESULT hr = error != nullptr ? StatusFromError(error) : E_FAIL;
            if (error != nullptr) {
                g_error_free(error);
            }
            std::lock_guard lock(m_mutex);
            if (SUCCEEDED(m_hrError)) {
                m_hrError = hr;
                QueueEventLocked(EC_ERRORABORT, hr, 0);
            }
            break;
        }
        case GST_MESSAGE_EOS: {
            std::lock_guard lock(m_mutex);
            QueueEventLocked(EC_COMPLETE, S_OK, 0);
            break;
        }
        case GST_MESSAGE_STEP_DONE: {
            // Stepping pictures is counted in buffers; the sound follows in time.
            GstFormat format = GST_FORMAT_UNDEFINED;
            gboolean eos = FALSE;
            gst_message_parse_step_done(message, &format, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, &eos);
            if (format == GST_FORMAT_BUFFERS && eos) {
                std::lock_guard lock(m_mutex);
                m_bStepReachedEnd = true;
            }
            break;
        }
        case GST_MESSAGE_ELEMENT:
            if (gst_message_has_name(message, "missing-plugin")) {
                std::lock_guard lock(m_mutex);
                m_bMissingPlugin = true;
            }
            break;
        default:
            break;
    }
}

void CGstFilterGraph::QueueEventLocked(long lCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    if (!m_bEventsEnabled || m_events.size() >= kMaxPendingEvents) {
        return;
    }
    m_events.push_back({lCode, lParam1, lParam2});
    m_eventQueued.notify_all();
    // Called under the lock, so SetNotifyWindow(nullptr) waits for a notice under way.
    if (m_pNotifyTarget != nullptr) {
        m_pNotifyTarget->PostGraphNotify(m_lNotifyMsg, m_lNotifyData);
    }
}

GstFlowReturn CGstFilterGraph::OnNewPreroll(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_preroll(sink);
    if (sample != nullptr) {
        static_cast<CGstFilterGraph*>(self)->DeliverSample(sample);
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

GstFlowReturn CGstFilterGraph::OnNewSample(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample != nullptr) {
        static_cast<CGstFilterGraph*>(self)->DeliverSample(sample);
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

void CGstFilterGraph::OnElementSetup(GstElement*, GstElement* element, gpointer self) {
    if (!GST_IS_VIDEO_DECODER(element)) {
        return;
    }
    if (GstPad* pad = gst_element_get_static_pad(element, "sink"); pad != nullptr) {
        gst_pad_add_probe(pad,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                          &CGstFilterGraph::OnDecoderInput, self, nullptr);
        gst_object_unref(pad);
    }
}

GstPadProbeReturn CGstFilterGraph::OnDecoderInput(GstPad* pad, GstPadProbeInfo* info,
                                                  gpointer self) {
    auto* graph = static_cast<CGstFilterGraph*>(self);
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) != 0) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) {
            graph->ForgetTimeStamps();
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer == nullptr) {
        return GST_PAD_PROBE_OK;
    }
    gint64 streamTime = -1;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            const guint64 converted =
                gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
            if (converted != GST_CLOCK_TIME_NONE) {
                streamTime = static_cast<gint64>(converted);
            }
            gst_event_unref(event);
        }
    }
    std::lock_guard lock(graph->m_mutex);
    if (!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) {
        graph->m_bKeySinceFlush = true;
    }
    if (graph->m_bKeySinceFlush && streamTime >= 0) {
        graph->m_timeStampsSinceKey.push_back(streamTime);
        if (graph->m_timeStampsSinceKey.size() > kTimeStampsKept) {
            graph->m_timeStampsSinceKey.pop_front();
        }
    }
    return GST_PAD_PROBE_OK;
}

void CGstFilterGraph::ForgetTimeStamps() {
    std::lock_guard lock(m_mutex);
    m_bKeySinceFlush = false;
    m_timeStampsSinceKey.clear();
    m_bTimeStampShown = false;
}

void CGstFilterGraph::DeliverSample(GstSample* sample) {
    if (m_pOutput == nullptr) {
        return;
    }
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps)) {
        return;
    }
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) {
        return;
    }
    // A copy, so the decoder's buffers go back to it at once whatever the GUI does.
    auto frame = std::make_shared<CVideoFrame>();
    frame->m_nWidth = GST_VIDEO_FRAME_WIDTH(&mapped);
    frame->m_nHeight = GST_VIDEO_FRAME_HEIGHT(&mapped);
    frame->m_nBytesPerLine = frame->m_nWidth * 4;
    const auto* source = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    const int sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    const size_t rowBytes = static_cast<size_t>(frame->m_nBytesPerLine);
    frame->m_pixels.resize(rowBytes * static_cast<size_t>(frame->m_nHeight));
    for (int row = 0; row < frame->m_nHeight; ++row) {
        std::copy_n(source + static_cast<std::ptrdiff_t>(row) * sourceStride, rowBytes,
                    frame->m_pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes) * row);
    }
    gst_video_frame_unmap(&mapped);
    m_pOutput->PresentFrame(std::move(frame));
}

// --- State changes ---

HRESULT CGstFilterGraph::PendingError() {
    std::lock_guard lock(m_mutex);
    return m_hrError;
}

size_t CGstFilterGraph::PendingEventCount() {
    std::lock_guard lock(m_mutex);
    return m_events.size();
}

void CGstFilterGraph::DropErrorEventsAfter(size_t keep) {
    std::lock_guard lock(m_mutex);
    if (keep >= m_events.size()) {
        return;
    }
    const auto first = m_events.begin() + static_cast<std::ptrdiff_t>(keep);
    m_events.erase(
        std::remove_if(first, m_events.end(),
                       [](const CGraphEvent& event) { return event.m_lCode == EC_ERRORABORT; }),
        m_events.end());
}

void CGstFilterGraph::ResetErrors() {
    std::lock_guard lock(m_mutex);
    m_hrError = S_OK;
    m_bMissingPlugin = false;
}

HRESULT CGstFilterGraph::Cue(int timeoutMs) {
    if (gst_element_set_state(m_pPipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        const HRESULT hr = PendingError();
        return FAILED(hr) ? hr : VFW_E_CANNOT_RENDER;
    }
    return WaitForStateChange(timeoutMs, VFW_E_TIMEOUT);
}

HRESULT CGstFilterGraph::WaitForStateChange(int timeoutMs, HRESULT hrTimeout) {
    // Short slices, so an error posted while a change hangs ends the wait early.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const GstStateChangeReturn result =
            gst_element_get_state(m_pPipeline, nullptr, nullptr, 20 * GST_MSECOND);
        const HRESULT hrError = PendingError();
        if (FAILED(hrError)) {
            return hrError;
        }
        if (result == GST_STATE_CHANGE_SUCCESS || result == GST_STATE_CHANGE_NO_PREROLL) {
            return S_OK;
        }
        if (result == GST_STATE_CHANGE_FAILURE) {
            return E_FAIL;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return hrTimeout;
        }
    }
}

HRESULT CGstFilterGraph::RecoverIfBroken(bool bOrAtStart) {
    if (SUCCEEDED(PendingError())) {
        return S_OK;
    }
    const LONGLONG resumeAt = m_llLastPosition;
    gst_element_set_state(m_pPipeline, GST_STATE_NULL);
    ResetErrors();
    HRESULT hr = Cue(m_options.m_nRenderTimeoutMs);
    if (SUCCEEDED(hr) && resumeAt > 0) {
        hr = SeekTo(resumeAt);
    }
    if (FAILED(hr) && !bOrAtStart) {
        return hr;
    }
    if (FAILED(hr)) {
        // A file that fails again is left at its start rather than failing each call.
        gst_element_set_state(m_pPipeline, GST_STATE_NULL);
        ResetErrors();
        hr = Cue(m_options.m_nRenderTimeoutMs);
        m_llLastPosition = 0;
    }
    if (SUCCEEDED(hr) && m_state == State_Running) {
        gst_element_set_state(m_pPipeline, GST_STATE_PLAYING);
    }
    return hr;
}

// --- IGraphBuilder ---

HRESULT CGstFilterGraph::RenderFile(const char* pszFile, const char* pszPlayList) {
    if (pszFile == nullptr) {
        return E_POINTER;
    }
    if (pszPlayList != nullptr) {
        return E_INVALIDARG;
    }
    if (m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(pszFile, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    if (uri == nullptr) {
        return E_INVALIDARG;
    }
    g_object_set(m_pPipeline, "uri", uri, nullptr);
    g_free(uri);

    ResetErrors();
    HRESULT hr = Cue(m_options.m_nRenderTimeoutMs);
    gint nVideo = 0;
    gint nAudio = 0;
    if (SUCCEEDED(hr)) {
        g_object_get(m_pPipeline, "n-video", &nVideo, "n-audio", &nAudio, nullptr);
        if (nVideo + nAudio == 0) {
            hr = VFW_E_CANNOT_RENDER;
        }
    }
    if (FAILED(hr)) {
        gst_element_set_state(m_pPipeline, GST_STATE_NULL);
        ResetErrors();
        return hr;
    }

    m_bHasVideo = nVideo > 0 && ReadVideoCaps();
    m_bHasAudio = nAudio > 0;
    gint64 start = 0;
    m_nStreamStartNs =
        gst_element_query_position(m_pPipeline, GST_FORMAT_TIME, &start) && start > 0 ? start : 0;
    m_llLastPosition = 0;
    m_state = State_Stopped;
    m_bRendered = true;
    bool missingPlugin = false;
    {
        std::lock_guard lock(m_mutex);
        m_bEventsEnabled = true;
        missingPlugin = m_bMissingPlugin;
    }
    // No window state to apply yet: the video window calls are refused until now, and the
    // video output starts hidden. So rendering touches no window and may run on another
    // thread than the GUI's.
    return missingPlugin ? VFW_S_PARTIAL_RENDER : S_OK;
}

bool CGstFilterGraph::ReadVideoCaps() {
    GstPad* pad = nullptr;
    g_signal_emit_by_name(m_pPipeline, "get-video-pad", 0, &pad);
    if (pad == nullptr) {
        return false;
    }
    bool known = false;
    if (GstCaps* caps = gst_pad_get_current_caps(pad); caps != nullptr) {
        const GstStructure* structure = gst_caps_get_structure(caps, 0);
        gint width = 0;
        gint height = 0;
        if (structure != nullptr && gst_structure_get_int(structure, "width", &width) &&
            gst_structure_get_int(structure, "height", &height) && width > 0 && height > 0) {
            m_nVideoWidth = width;
            m_nVideoHeight = height;
            known = true;
        }
        gint numerator = 0;
        gint denominator = 0;
        if (structure != nullptr &&
            gst_structure_get_fraction(structure, "framerate", &numerator, &denominator) &&
            numerator > 0 && denominator > 0) {
            m_nFrameRateNumerator = numerator;
            m_nFrameRateDenominator = denominator;
        }
        gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    return known;
}

// --- IMediaControl ---

HRESULT CGstFilterGraph::Run() {
    if (!m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = RecoverIfBroken();
    if (FAILED(hr)) {
        return hr;
    }
    const GstStateChangeReturn result = gst_element_set_state(m_pPipeline, GST_STATE_PLAYING);
    if (result == GST_STATE_CHANGE_FAILURE) {
        return E_FAIL;
    }
    m_state = State_Running;
    return result == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

HRESULT CGstFilterGraph::Pause() {
    if (!m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = RecoverIfBroken();
    if (FAILED(hr)) {
        return hr;
    }
    const GstStateChangeReturn result = gst_element_set_state(m_pPipeline, GST_STATE_PAUSED);
    if (result == GST_STATE_CHANGE_FAILURE) {
        return E_FAIL;
    }
    m_state = State_Paused;
    return result == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

HRESULT CGstFilterGraph::Stop() {
    if (m_bRendered && SUCCEEDED(PendingError())) {
        // PAUSED, not READY: the graph stays cued, so it can be repositioned and shows a
        // picture at once; the audio device stays open until the graph is released.
        gst_element_set_state(m_pPipeline, GST_STATE_PAUSED);
    }
    m_state = State_Stopped;
    return S_OK;
}

HRESULT CGstFilterGraph::GetState(long msTimeout, OAFilterState* pfs) {
    if (pfs == nullptr) {
        return E_POINTER;
    }
    *pfs = m_state;
    if (!m_bRendered) {
        return S_OK;
    }
    const GstClockTime timeout =
        msTimeout < 0 ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(msTimeout) * GST_MSECOND;
    switch (gst_element_get_state(m_pPipeline, nullptr, nullptr, timeout)) {
        case GST_STATE_CHANGE_ASYNC:
            return VFW_S_STATE_INTERMEDIATE;
        case GST_STATE_CHANGE_FAILURE:
            return E_FAIL;
        default:
            return S_OK;
    }
}

// --- IMediaEventEx ---

HRESULT CGstFilterGraph::GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                  long msTimeout) {
    if (lEventCode == nullptr || lParam1 == nullptr || lParam2 == nullptr) {
        return E_POINTER;
    }
    std::unique_lock lock(m_mutex);
    const auto pending = [this] { return !m_events.empty(); };
    if (msTimeout < 0) {
        m_eventQueued.wait(lock, pending);
    } else if (msTimeout > 0) {
        m_eventQueued.wait_for(lock, std::chrono::milliseconds(msTimeout), pending);
    }
    if (m_events.empty()) {
        *lEventCode = 0;
        *lParam1 = 0;
        *lParam2 = 0;
        return E_ABORT;
    }
    const CGraphEvent event = m_events.front();
    m_events.pop_front();
    *lEventCode = event.m_lCode;
    *lParam1 = event.m_lParam1;
    *lParam2 = event.m_lParam2;
    return S_OK;
}

HRESULT CGstFilterGraph::FreeEventParams(long, LONG_PTR, LONG_PTR) {
    // Event parameters are plain numbers here; nothing to free.
    return S_OK;
}

HRESULT CGstFilterGraph::SetNotifyWindow(INotifyTarget* pTarget, long lMsg,
                                         LONG_PTR lInstanceData) {
    std::lock_guard lock(m_mutex);
    m_pNotifyTarget = pTarget;
    m_lNotifyMsg = pTarget != nullptr ? lMsg : 0;
    m_lNotifyData = pTarget != nullptr ? lInstanceData : 0;
    // Events queued before the target was set are announced now.
    if (m_pNotifyTarget != nullptr && !m_events.empty()) {
        m_pNotifyTarget->PostGraphNotify(m_lNotifyMsg, m_lNotifyData);
    }
    return S_OK;
}

// --- IMediaSeeking ---

HRESULT CGstFilterGraph::IsFormatSupported(const TimeFormat* pFormat) {
    if (pFormat == nullptr) {
        return E_POINTER;
    }
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CGstFilterGraph::GetTimeFormat(TimeFormat* pFormat) {
    if (pFormat == nullptr) {
        return E_POINTER;
    }
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CGstFilterGraph::SetTimeFormat(const TimeFormat* pFormat) {
    if (pFormat == nullptr) {
        return E_POINTER;
    }
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

bool CGstFilterGraph::QueryStop(LONGLONG* pStop) {
    gint64 duration = 0;
    if (m_bRendered && gst_element_query_duration(m_pPipeline, GST_FORMAT_TIME, &duration) &&
        duration >= 0) {
        m_llLastStop = std::max(duration / kNanosecondsPerUnit, m_llVideoEnd);
    }
    if (m_llLastStop < 0) {
        return false;
    }
    *pStop = m_llLastStop;
    return true;
}

HRESULT CGstFilterGraph::GetDuration(LONGLONG* pDuration) {
    return GetStopPosition(pDuration);
}

HRESULT CGstFilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (pStop == nullptr) {
        return E_POINTER;
    }
    if (!m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    return QueryStop(pStop) ? S_OK : E_FAIL;
}

LONGLONG CGstFilterGraph::QueryCurrent() {
    // Paused, the pipeline answers with where its segment starts, which after a seek is not
    // where the picture on screen is: the picture's own time is the position shown.
    if (const std::optional<CPicture> shown =
            m_state != State_Running ? ShownPicture() : std::nullopt) {
        // The pipeline's length may end before the last picture does.
        m_llVideoEnd = std::max(m_llVideoEnd, shown->m_llTime + shown->m_llDuration);
        LONGLONG stop = 0;
        m_llLastPosition = QueryStop(&stop) ? std::min(shown->m_llTime, stop) : shown->m_llTime;
        return m_llLastPosition;
    }
    gint64 position = 0;
    // During a state change or a seek the pipeline may not answer; the last answer stands.
    if (gst_element_query_position(m_pPipeline, GST_FORMAT_TIME, &position) && position >= 0) {
        LONGLONG current = (position - m_nStreamStartNs) / kNanosecondsPerUnit;
        LONGLONG stop = 0;
        if (QueryStop(&stop)) {
            current = std::min(current, stop);
        }
        m_llLastPosition = std::max<LONGLONG>(current, 0);
    }
    return m_llLastPosition;
}

HRESULT CGstFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (pCurrent == nullptr) {
        return E_POINTER;
    }
    if (!m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    *pCurrent = QueryCurrent();
    return S_OK;
}

HRESULT CGstFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                      DWORD dwStopFlags) {
    (void)pStop;
    if ((dwStopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning) {
        return E_NOTIMPL;
    }
    const DWORD how = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    if (how == AM_SEEKING_NoPositioning) {
        return S_OK;
    }
    if (pCurrent == nullptr) {
        return E_POINTER;
    }
    if (how == AM_SEEKING_IncrementalPositioning) {
        return E_INVALIDARG;
    }
    if (!m_bRendered) {
        return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = RecoverIfBroken();
    if (FAILED(hr)) {
        return hr;
    }
    LONGLONG target = *pCurrent;
    if (how == AM_SEEKING_RelativePositioning) {
        const LONGLONG current = QueryCurrent();
        target =
            target > std::numeric_limits<LONGLONG>::max() - current ? current : current + target;
    }
    const bool bExact = (dwCurrentFlags & AM_SEEKING_ExactPicture) != 0 && m_bHasVideo;
    if (bExact && m_state == State_Running) {
        return VFW_E_WRONG_STATE;
    }
    const LONGLONG before = QueryCurrent();
    const size_t eventsBefore = PendingEventCount();
    HRESULT hrSeek = bExact ? SeekToPictureAt(target) : SeekTo(target);
    // Some spots of a stream leave the decoders no picture to start from before the end, and
    // the pipeline stops with an error. A little earlier usually works; failing that, the
    // graph is rebuilt where it was, so a failed seek leaves the position as it was.
    for (int retreat = 1; FAILED(hrSeek) && FAILED(PendingError()) && retreat <= kSeekRetreats;
         ++retreat) {
        m_llLastPosition = std::max<LONGLONG>(target - retreat * kSeekRetreat, 0);
        hrSeek = RecoverIfBroken(false);
        if (SUCCEEDED(hrSeek)) {
            DropErrorEventsAfter(eventsBefore);
        }
    }
    if (FAILED(hrSeek) && FAILED(PendingError())) {
        m_llLastPosition = before;
        const HRESULT hrRecover = RecoverIfBroken();
        if (SUCCEEDED(hrRecover)) {
            DropErrorEventsAfter(eventsBefore);
        }
        return FAILED(hrRecover) ? hrRecover : hrSeek;
    }
    return hrSeek;
}

HRESULT CGstFilterGraph::SeekTo(LONGLONG position) {
    // Past the end the demuxer and decoders may find no picture at all and stop the pipeline
    // with an error, so a seek there goes to the end instead.
    LONGLONG stop = 0;
    if (QueryStop(&stop)) {
        position = std::min(position, stop);
    }
    const LONGLONG limit =
        (std::numeric_limits<gint64>::max() - m_nStreamStartNs) / kNanosecondsPerUnit;
    position = std::clamp<LONGLONG>(position, 0, limit);
    // The stream's start is not the demuxer's: its clock finds a pack whose pictures start
    // later. Time 0 of the pipeline is its first pack, with the first picture.
    const auto pipelineTime = [this](LONGLONG at) {
        return at > 0 ? m_nStreamStartNs + at * kNanosecondsPerUnit : 0;
    };
    if (m_state == State_Running || !m_bHasVideo) {
        const HRESULT hr = SeekToPipelineTime(pipelineTime(position));
        if (SUCCEEDED(hr)) {
            m_llLastPosition = position;
        }
        return hr;
    }
    // Paused: the latest key picture at or before the position. The demuxer goes by its pack
    // clock, which runs ahead of the pictures by an amount of the stream's own, so where a
    // seek lands is learnt by trying: back until a picture at or before the position comes,
    // then closer, halving the gap to the nearest seek that came too late.
    const auto early = [position](const std::optional<CPicture>& landed) {
        return landed && landed->m_llTime <= position;
    };
    std::optional<CPicture> landed;
    gint64 from = 0;
    gint64 late = pipelineTime(position);
    for (LONGLONG retreat = kFirstKeyPictureRetreat;; retreat *= 2) {
        from = pipelineTime(position - retreat);
        if (const HRESULT hr = LandNear(from, &landed); FAILED(hr)) {
            return hr;
        }
        if (early(landed) || from == 0 || retreat >= kLastKeyPictureRetreat) {
            break;
        }
        late = from;
    }
    gint64 good = from;
    std::optional<CPicture> goodLanded = landed;
    for (int n = 0; n < kKeyPictureRefinements && early(goodLanded) &&
                    position - goodLanded->m_llTime > kCloseEnough &&
                    late - good > kCloseEnough * kNanosecondsPerUnit;
         ++n) {
        from = good + (late - good) / 2;
        if (const HRESULT hr = LandNear(from, &landed); FAILED(hr)) {
            return hr;
        }
        if (early(landed)) {
            good = from;
            goodLanded = landed;
        } else {
            late = from;
        }
    }
    if (from != good) {
        if (const HRESULT hr = LandNear(good, &landed); FAILED(hr)) {
            return hr;
        }
    }
    m_llLastPosition = landed ? landed->m_llTime : position;
    return S_OK;
}

HRESULT CGstFilterGraph::LandNear(gint64 target, std::optional<CPicture>* pLanded) {
    pLanded->reset();
    HRESULT hr = SeekToPipelineTime(target);
    if (FAILED(hr)) {
        return hr;
    }
    // The pictures before one with a time of its own have times the decoder guessed.
    for (int n = 0; n < kMaxPicturesToTimeStamp; ++n) {
        *pLanded = ShownPicture();
        if (!*pLanded || (*pLanded)->m_bTimed) {
            return S_OK;
        }
        hr = StepOnePicture();
        if (hr != S_OK) {
            *pLanded = ShownPicture();
            return FAILED(hr) ? hr : S_OK;
        }
    }
    *pLanded = ShownPicture();
    return S_OK;
}

HRESULT CGstFilterGraph::SeekToPipelineTime(gint64 target) {
    // A seek issued while a state change is still under way can be lost.
    WaitForStateChange(kSettleBeforeSeekMs, S_FALSE);
    ForgetTimeStamps();
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT);
    if (!gst_element_seek_simple(m_pPipeline, GST_FORMAT_TIME, flags, target)) {
        return E_FAIL;
    }
    return WaitForStateChange(m_options.m_nSeekTimeoutMs, S_FALSE);
}

HRESULT CGstFilterGraph::SeekToPictureAt(LONGLONG position) {
    HRESULT hr = LandOnPictureAt(position, true);
    // A busy machine can leave the pipeline a picture past the position (a picture shown
    // before its time stamp was seen, say); a second landing, from a seek, puts that right.
    const std::optional<CPicture> shown = SUCCEEDED(hr) ? ShownPicture() : std::nullopt;
    if (shown && shown->m_llTime > position &&
        (m_llLastPicture < 0 || shown->m_llTime < m_llLastPicture)) {
        hr = LandOnPictureAt(position, false);
    }
    return hr;
}

HRESULT CGstFilterGraph::LandOnPictureAt(LONGLONG position, bool bMayStep) {
    HRESULT hr = S_OK;
    // A second pass when the video turns out to end before the position: its last picture.
    for (int pass = 0; pass < 2; ++pass) {
        if (m_llLastPicture >= 0) {
            position = std::min(position, m_llLastPicture);
        }
        std::optional<CPicture> shown = ShownPicture();
        const bool bJustAhead = bMayStep && shown && shown->m_bTimed &&
                                shown->m_llTime <= position &&
                                position - shown->m_llTime <= kStepRatherThanSeek;
        if (!bJustAhead) {
            hr = SeekTo(position);
            if (FAILED(hr)) {
                return hr;
            }
        }
        // Forward while the next picture starts at or before the position.
        hr = S_OK;
        for (int n = 0; n < kMaxPicturesStepped && hr == S_OK; ++n) {
            shown = ShownPicture();
            if (!shown || shown->m_llDuration <= 0 ||
                shown->m_llTime + shown->m_llDuration > position) {
                return S_OK;
            }
            hr = StepOnePicture();
        }
        if (hr != S_FALSE || ShownPicture()) {
            return FAILED(hr) ? hr : S_OK;
        }
    }
    return hr;
}

HRESULT CGstFilterGraph::StepOnePicture() {
    const std::optional<CPicture> before = ShownPicture();
    if (!before || (m_llLastPicture >= 0 && before->m_llTime >= m_llLastPicture)) {
        return S_FALSE;
    }
    WaitForStateChange(kSettleBeforeSeekMs, S_FALSE);
    {
        std::lock_guard lock(m_mutex);
        m_bStepReachedEnd = false;
    }
    // Flushing: the sink gives up the picture it holds and cues the next one, so the pipeline
    // changes state and the wait below ends once that picture is on screen.
    if (!gst_element_send_event(m_pPipeline,
                                gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE))) {
        return E_FAIL;
    }
    const HRESULT hr = WaitForStateChange(m_options.m_nSeekTimeoutMs, VFW_E_TIMEOUT);
    if (FAILED(hr)) {
        return hr;
    }
    bool bEnded = false;
    {
        std::lock_guard lock(m_mutex);
        bEnded = m_bStepReachedEnd;
    }
    // The sink holds the new picture once the change has completed; a picture that has not
    // changed yet is waited for a little, so a step is never counted twice.
    std::optional<CPicture> after = ShownPicture();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleBeforeSeekMs);
    while (!bEnded && after && after->m_llTime == before->m_llTime &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        WaitForStateChange(m_options.m_nSeekTimeoutMs, S_FALSE);
        after = ShownPicture();
        std::lock_guard lock(m_mutex);
        bEnded = m_bStepReachedEnd;
    }
    if (bEnded || !after) {
        m_llLastPicture = before->m_llTime;
        return S_FALSE;
    }
    m_llLastPosition = after->m_llTime;
    return S_OK;
}

std::optional<CGstFilterGraph::CPicture> CGstFilterGraph::ShownPicture() {
    if (!m_bHasVideo) {
        return std::nullopt;
    }
    GstSample* sample = nullptr;
    g_object_get(m_pPipeline, "sample", &sample, nullptr);
    if (sample == nullptr) {
        return std::nullopt;
    }
    std::optional<CPicture> shown;
    const GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    const guint64 streamTime =
        buffer != nullptr && segment != nullptr && GST_BUFFER_PTS_IS_VALID(buffer)
            ? gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
            : GST_CLOCK_TIME_NONE;
    if (streamTime != GST_CLOCK_TIME_NONE) {
        CPicture picture;
        picture.m_llTime = std::max<LONGLONG>(
            (static_cast<gint64>(streamTime) - m_nStreamStartNs) / kNanosecondsPerUnit, 0);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) {
            picture.m_llDuration =
                static_cast<LONGLONG>(GST_BUFFER_DURATION(buffer)) / kNanosecondsPerUnit;
        } else if (m_nFrameRateNumerator > 0) {
            picture.m_llDuration = static_cast<LONGLONG>(gst_util_uint64_scale_int(
                GST_SECOND / kNanosecondsPerUnit, m_nFrameRateDenominator, m_nFrameRateNumerator));
        }
        std::lock_guard lock(m_mutex);
        if (!m_bTimeStampShown) {
            m_bTimeStampShown =
                std::find(m_timeStampsSinceKey.begin(), m_timeStampsSinceKey.end(),
                          static_cast<gint64>(streamTime)) != m_timeStampsSinceKey.end();
        }
        picture.m_bTimed = m_bTimeStampShown;
        shown = picture;
    }
    gst_sample_unref(sample);
    return shown;
}

HRESULT CGstFilterGraph::GetRate(double* pdRate) {
    if (pdRate == nullptr) {
        return E_POINTER;
    }
    *pdRate = 1.0;
    return S_OK;
}

HRESULT CGstFilterGraph::SetRate(double dRate) {
    if (!(dRate > 0.0)) {
        return E_INVALIDARG;
    }
    return dRate == 1.0 ? S_OK : E_NOTIMPL;
}

// --- IVideoWindow ---

void CGstFilterGraph::ApplyWindowState() {
    if (m_pOutput != nullptr && m_bHasVideo) {
        m_pOutput->ApplyWindowState(m_window);
    }
}

HRESULT CGstFilterGraph::get_Visible(long* pVisible) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pVisible == nullptr) {
        return E_POINTER;
    }
    *pVisible = m_window.m_bVisible ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CGstFilterGraph::put_Visible(long Visible) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    m_window.m_bVisible = Visible != OAFALSE;
    ApplyWindowState();
    return S_OK;
}

HRESULT CGstFilterGraph::get_WindowStyle(long* pStyle) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pStyle == nullptr) {
        return E_POINTER;
    }
    *pStyle = m_window.m_nStyle;
    return S_OK;
}

HRESULT CGstFilterGraph::put_WindowStyle(long Style) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    m_window.m_nStyle = Style;
    ApplyWindowState();
    return S_OK;
}

HRESULT CGstFilterGraph::get_Owner(OAHWND* pOwner) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pOwner == nullptr) {
        return E_POINTER;
    }
    *pOwner = m_window.m_hOwner;
    return S_OK;
}

HRESULT CGstFilterGraph::put_Owner(OAHWND Owner) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    m_window.m_hOwner = Owner;
    ApplyWindowState();
    return S_OK;
}

HRESULT CGstFilterGraph::get_MessageDrain(OAHWND* pDrain) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pDrain == nullptr) {
        return E_POINTER;
    }
    *pDrain = m_window.m_hMessageDrain;
    return S_OK;
}

HRESULT CGstFilterGraph::put_MessageDrain(OAHWND Drain) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    m_window.m_hMessageDrain = Drain;
    ApplyWindowState();
    return S_OK;
}

HRESULT CGstFilterGraph::SetWindowPosition(long Left, long Top, long Width, long Height) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (Width < 0 || Height < 0) {
        return E_INVALIDARG;
    }
    m_window.m_nLeft = Left;
    m_window.m_nTop = Top;
    m_window.m_nWidth = Width;
    m_window.m_nHeight = Height;
    ApplyWindowState();
    return S_OK;
}

HRESULT CGstFilterGraph::GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pLeft == nullptr || pTop == nullptr || pWidth == nullptr || pHeight == nullptr) {
        return E_POINTER;
    }
    *pLeft = m_window.m_nLeft;
    *pTop = m_window.m_nTop;
    *pWidth = m_window.m_nWidth;
    *pHeight = m_window.m_nHeight;
    return S_OK;
}

HRESULT CGstFilterGraph::NotifyOwnerMessage(OAHWND, long, LONG_PTR, LONG_PTR) {
    return m_bHasVideo ? S_OK : E_NOINTERFACE;
}

// --- IBasicVideo ---

HRESULT CGstFilterGraph::GetVideoSize(long* pWidth, long* pHeight) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pWidth == nullptr || pHeight == nullptr) {
        return E_POINTER;
    }
    *pWidth = m_nVideoWidth;
    *pHeight = m_nVideoHeight;
    return S_OK;
}

HRESULT CGstFilterGraph::get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) {
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    if (pAvgTimePerFrame == nullptr) {
        return E_POINTER;
    }
    if (m_nFrameRateNumerator <= 0) {
        return VFW_E_NOT_FOUND;
    }
    *pAvgTimePerFrame =
        static_cast<double>(m_nFrameRateDenominator) / static_cast<double>(m_nFrameRateNumerator);
    return S_OK;
}

// --- IBasicAudio ---

HRESULT CGstFilterGraph::get_Volume(long* plVolume) {
    if (!m_bHasAudio) {
        return E_NOTIMPL;
    }
    if (plVolume == nullptr) {
        return E_POINTER;
    }
    gdouble linear = 1.0;
    g_object_get(m_pPipeline, "volume", &linear, nullptr);
    *plVolume = CentibelsFromLinear(linear);
    return S_OK;
}

HRESULT CGstFilterGraph::put_Volume(long lVolume) {
    if (!m_bHasAudio) {
        return E_NOTIMPL;
    }
    if (lVolume < -10000 || lVolume > 0) {
        return E_INVALIDARG;
    }
    g_object_set(m_pPipeline, "volume", LinearFromCentibels(lVolume), nullptr);
    return S_OK;
}

// --- IVideoFrameStep ---

HRESULT CGstFilterGraph::Step(DWORD dwFrames, IUnknown* pStepObject) {
    if (pStepObject != nullptr) {
        return E_INVALIDARG;
    }
    if (!m_bRendered || m_state == State_Running) {
        return VFW_E_WRONG_STATE;
    }
    if (!m_bHasVideo) {
        return E_NOINTERFACE;
    }
    HRESULT hr = RecoverIfBroken();
    for (DWORD n = 0; n < dwFrames && hr == S_OK; ++n) {
        hr = StepOnePicture();
    }
    // Stepped past the last picture: it comes back on screen.
    if (hr == S_FALSE && m_llLastPicture >= 0 && !ShownPicture()) {
        const HRESULT hrBack = SeekToPictureAt(m_llLastPicture);
        if (FAILED(hrBack)) {
            return hrBack;
        }
    }
    return hr;
}

}  // namespace

CGstFilterGraphFactory::CGstFilterGraphFactory(CGraphOptions options)
    : m_options(std::move(options)) {}

HRESULT CGstFilterGraphFactory::CreateFilterGraph(IGraphBuilder** ppGraph) {
    if (ppGraph == nullptr) {
        return E_POINTER;
    }
    *ppGraph = nullptr;
    if (!gst_is_initialized()) {
        return CO_E_NOTINITIALIZED;
    }
    auto* graph = new (std::nothrow) CGstFilterGraph(m_options);
    if (graph == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = graph->Initialize();
    if (FAILED(hr)) {
        static_cast<IGraphBuilder*>(graph)->Release();
        return hr;
    }
    *ppGraph = graph;
    return S_OK;
}
