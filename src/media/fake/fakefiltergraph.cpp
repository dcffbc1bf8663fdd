// The scriptable fake graph: one object behind all interfaces, each interface counting its
// own references so a test sees exactly which were obtained and which released.
#include "media/fake/fakefiltergraph.h"

#include <algorithm>
#include <cstdio>

#include "media/windowstyles.h"

namespace {

std::string Hex(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string Pointer(const void* p, const char* name) {
    return p != nullptr ? name : "null";
}

// Gives one interface its own AddRef, Release and QueryInterface, so that the object that
// implements all of them can tell through which interface a reference came back.
template <class Interface>
class CCountedRole : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryRole(riid, ppvObject);
    }
    ULONG AddRef() override { return CountReference(Interface::kIid, +1); }
    ULONG Release() override { return CountReference(Interface::kIid, -1); }

protected:
    virtual HRESULT QueryRole(REFIID riid, void** ppvObject) = 0;
    virtual ULONG CountReference(REFIID riid, int delta) = 0;
};

}  // namespace

class CFakeFilterGraph::CRoles final : public CCountedRole<IGraphBuilder>,
                                       public CCountedRole<IMediaControl>,
                                       public CCountedRole<IMediaEventEx>,
                                       public CCountedRole<IMediaSeeking>,
                                       public CCountedRole<IVideoWindow>,
                                       public CCountedRole<IBasicVideo>,
                                       public CCountedRole<IBasicAudio>,
                                       public CCountedRole<IVideoFrameStep> {
public:
    explicit CRoles(CFakeFilterGraph& graph) : m_graph(graph) {}
    ~CRoles() override = default;

    // IGraphBuilder
    HRESULT RenderFile(const char* pszFile, const char* pszPlayList) override {
        m_graph.Log("RenderFile(" + std::string(pszFile != nullptr ? pszFile : "null") + ", " +
                    Pointer(pszPlayList, "playlist") + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::RenderFile, &hr)) {
            return hr;
        }
        if (pszFile == nullptr) {
            return E_POINTER;
        }
        m_graph.m_bRendered = true;
        m_graph.m_strFile = pszFile;
        return S_OK;
    }

    // IMediaControl
    HRESULT Run() override { return ChangeState("Run()", FakeCall::Run, State_Running); }
    HRESULT Pause() override { return ChangeState("Pause()", FakeCall::Pause, State_Paused); }
    HRESULT Stop() override { return ChangeState("Stop()", FakeCall::Stop, State_Stopped); }
    HRESULT GetState(long msTimeout, OAFilterState* pfs) override {
        m_graph.Log("GetState(" + std::to_string(msTimeout) + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::GetState, &hr)) {
            return hr;
        }
        if (pfs == nullptr) {
            return E_POINTER;
        }
        *pfs = m_graph.m_state;
        return S_OK;
    }

    // IMediaEventEx
    HRESULT GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                     long msTimeout) override {
        m_graph.Log("GetEvent(" + std::to_string(msTimeout) + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::GetEvent, &hr)) {
            return hr;
        }
        if (lEventCode == nullptr || lParam1 == nullptr || lParam2 == nullptr) {
            return E_POINTER;
        }
        if (m_graph.m_events.empty()) {
            return E_ABORT;
        }
        const CEvent event = m_graph.m_events.front();
        m_graph.m_events.pop_front();
        *lEventCode = event.m_lCode;
        *lParam1 = event.m_lParam1;
        *lParam2 = event.m_lParam2;
        return S_OK;
    }
    HRESULT FreeEventParams(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2) override {
        m_graph.Log("FreeEventParams(" + std::to_string(lEventCode) + ", " +
                    std::to_string(lParam1) + ", " + std::to_string(lParam2) + ")");
        HRESULT hr = S_OK;
        m_graph.Scripted(FakeCall::FreeEventParams, &hr);
        return hr;
    }
    HRESULT SetNotifyWindow(INotifyTarget* pTarget, long lMsg, LONG_PTR lInstanceData) override {
        m_graph.Log("SetNotifyWindow(" + Pointer(pTarget, "target") + ", " + std::to_string(lMsg) +
                    ", " + std::to_string(lInstanceData) + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::SetNotifyWindow, &hr)) {
            return hr;
        }
        m_graph.m_pNotifyTarget = pTarget;
        m_graph.m_lNotifyMsg = lMsg;
        m_graph.m_lNotifyData = lInstanceData;
        return S_OK;
    }

    // IMediaSeeking
    HRESULT IsFormatSupported(const TimeFormat* pFormat) override {
        m_graph.Log("IsFormatSupported()");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::IsFormatSupported, &hr)) {
            return hr;
        }
        if (pFormat == nullptr) {
            return E_POINTER;
        }
        return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT GetTimeFormat(TimeFormat* pFormat) override {
        m_graph.Log("GetTimeFormat()");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::GetTimeFormat, &hr)) {
            return hr;
        }
        if (pFormat == nullptr) {
            return E_POINTER;
        }
        *pFormat = m_graph.m_timeFormat;
        return S_OK;
    }
    HRESULT SetTimeFormat(const TimeFormat* pFormat) override {
        m_graph.Log("SetTimeFormat()");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::SetTimeFormat, &hr)) {
            return hr;
        }
        if (pFormat == nullptr) {
            return E_POINTER;
        }
        m_graph.m_timeFormat = *pFormat;
        return S_OK;
    }
    HRESULT GetDuration(LONGLONG* pDuration) override {
        return ReadPosition("GetDuration()", FakeCall::GetDuration, m_graph.m_llStop, pDuration);
    }
    HRESULT GetStopPosition(LONGLONG* pStop) override {
        return ReadPosition("GetStopPosition()", FakeCall::GetStopPosition, m_graph.m_llStop,
                            pStop);
    }
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override {
        return ReadPosition("GetCurrentPosition()", FakeCall::GetCurrentPosition,
                            m_graph.m_llCurrent, pCurrent);
    }
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override {
        m_graph.Log("SetPositions(" +
                    (pCurrent != nullptr ? std::to_string(*pCurrent) : std::string("null")) + ", " +
                    Hex(dwCurrentFlags) + ", " +
                    (pStop != nullptr ? std::to_string(*pStop) : std::string("null")) + ", " +
                    Hex(dwStopFlags) + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::SetPositions, &hr)) {
            return hr;
        }
        const DWORD how = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
        if (how == AM_SEEKING_NoPositioning) {
            return S_OK;
        }
        if (pCurrent == nullptr) {
            return E_POINTER;
        }
        // Kept as given, so a test sees exactly what the caller asked for (exact or not).
        m_graph.m_llCurrent =
            how == AM_SEEKING_RelativePositioning ? m_graph.m_llCurrent + *pCurrent : *pCurrent;
        return S_OK;
    }
    HRESULT GetRate(double* pdRate) override {
        m_graph.Log("GetRate()");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::GetRate, &hr)) {
            return hr;
        }
        if (pdRate == nullptr) {
            return E_POINTER;
        }
        *pdRate = m_graph.m_dRate;
        return S_OK;
    }
    HRESULT SetRate(double dRate) override {
        char text[64];
        std::snprintf(text, sizeof text, "SetRate(%.2f)", dRate);
        m_graph.Log(text);
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::SetRate, &hr)) {
            return hr;
        }
        m_graph.m_dRate = dRate;
        return S_OK;
    }

    // IVideoWindow
    HRESULT get_Visible(long* pVisible) override {
        HRESULT hr = S_OK;
        if (!VideoCall("get_Visible()", FakeCall::get_Visible, &hr)) {
            return hr;
        }
        if (pVisible == nullptr) {
            return E_POINTER;
        }
        *pVisible = m_graph.m_bVisible ? OATRUE : OAFALSE;
        return S_OK;
    }
    HRESULT put_Visible(long Visible) override {
        HRESULT hr = S_OK;
        if (VideoCall("put_Visible(" + std::to_string(Visible) + ")", FakeCall::put_Visible, &hr)) {
            m_graph.m_bVisible = Visible != OAFALSE;
        }
        return hr;
    }
    HRESULT get_WindowStyle(long* pStyle) override {
        HRESULT hr = S_OK;
        if (!VideoCall("get_WindowStyle()", FakeCall::get_WindowStyle, &hr)) {
            return hr;
        }
        if (pStyle == nullptr) {
            return E_POINTER;
        }
        *pStyle = m_graph.m_lStyle;
        return S_OK;
    }
    HRESULT put_WindowStyle(long Style) override {
        HRESULT hr = S_OK;
        if (VideoCall("put_WindowStyle(" + Hex(static_cast<unsigned long>(Style)) + ")",
                      FakeCall::put_WindowStyle, &hr)) {
            m_graph.m_lStyle = Style;
        }
        return hr;
    }
    HRESULT get_Owner(OAHWND* pOwner) override {
        HRESULT hr = S_OK;
        if (!VideoCall("get_Owner()", FakeCall::get_Owner, &hr)) {
            return hr;
        }
        if (pOwner == nullptr) {
            return E_POINTER;
        }
        *pOwner = m_graph.m_hOwner;
        return S_OK;
    }
    HRESULT put_Owner(OAHWND Owner) override {
        HRESULT hr = S_OK;
        if (VideoCall("put_Owner(" + Pointer(Owner, "window") + ")", FakeCall::put_Owner, &hr)) {
            m_graph.m_hOwner = Owner;
        }
        return hr;
    }
    HRESULT get_MessageDrain(OAHWND* pDrain) override {
        HRESULT hr = S_OK;
        if (!VideoCall("get_MessageDrain()", FakeCall::get_MessageDrain, &hr)) {
            return hr;
        }
        if (pDrain == nullptr) {
            return E_POINTER;
        }
        *pDrain = m_graph.m_hDrain;
        return S_OK;
    }
    HRESULT put_MessageDrain(OAHWND Drain) override {
        HRESULT hr = S_OK;
        if (VideoCall("put_MessageDrain(" + Pointer(Drain, "window") + ")",
                      FakeCall::put_MessageDrain, &hr)) {
            m_graph.m_hDrain = Drain;
        }
        return hr;
    }
    HRESULT SetWindowPosition(long Left, long Top, long Width, long Height) override {
        HRESULT hr = S_OK;
        if (VideoCall("SetWindowPosition(" + std::to_string(Left) + ", " + std::to_string(Top) +
                          ", " + std::to_string(Width) + ", " + std::to_string(Height) + ")",
                      FakeCall::SetWindowPosition, &hr)) {
            m_graph.m_lLeft = Left;
            m_graph.m_lTop = Top;
            m_graph.m_lWidth = Width;
            m_graph.m_lHeight = Height;
        }
        return hr;
    }
    HRESULT GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override {
        HRESULT hr = S_OK;
        if (!VideoCall("GetWindowPosition()", FakeCall::GetWindowPosition, &hr)) {
            return hr;
        }
        if (pLeft == nullptr || pTop == nullptr || pWidth == nullptr || pHeight == nullptr) {
            return E_POINTER;
        }
        m_graph.GetWindowRect(pLeft, pTop, pWidth, pHeight);
        return S_OK;
    }
    HRESULT NotifyOwnerMessage(OAHWND, long uMsg, LONG_PTR, LONG_PTR) override {
        HRESULT hr = S_OK;
        VideoCall("NotifyOwnerMessage(" + std::to_string(uMsg) + ")", FakeCall::NotifyOwnerMessage,
                  &hr);
        return hr;
    }

    // IBasicVideo
    HRESULT GetVideoSize(long* pWidth, long* pHeight) override {
        HRESULT hr = S_OK;
        if (!VideoCall("GetVideoSize()", FakeCall::GetVideoSize, &hr)) {
            return hr;
        }
        if (pWidth == nullptr || pHeight == nullptr) {
            return E_POINTER;
        }
        *pWidth = m_graph.m_lVideoWidth;
        *pHeight = m_graph.m_lVideoHeight;
        return S_OK;
    }

    HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) override {
        HRESULT hr = S_OK;
        if (!VideoCall("get_AvgTimePerFrame()", FakeCall::get_AvgTimePerFrame, &hr)) {
            return hr;
        }
        if (pAvgTimePerFrame == nullptr) {
            return E_POINTER;
        }
        if (m_graph.m_dTimePerFrame <= 0) {
            return VFW_E_NOT_FOUND;
        }
        *pAvgTimePerFrame = m_graph.m_dTimePerFrame;
        return S_OK;
    }

    // IBasicAudio
    HRESULT get_Volume(long* plVolume) override {
        m_graph.Log("get_Volume()");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::get_Volume, &hr)) {
            return hr;
        }
        if (plVolume == nullptr) {
            return E_POINTER;
        }
        *plVolume = m_graph.m_lVolume;
        return S_OK;
    }
    HRESULT put_Volume(long lVolume) override {
        m_graph.Log("put_Volume(" + std::to_string(lVolume) + ")");
        HRESULT hr = S_OK;
        if (m_graph.Scripted(FakeCall::put_Volume, &hr)) {
            return hr;
        }
        m_graph.m_lVolume = lVolume;
        return S_OK;
    }

    // IVideoFrameStep: each picture moves the position by the time per frame, up to the stop
    // position (S_FALSE there), as the real graph does while not running.
    HRESULT Step(DWORD dwFrames, IUnknown* pStepObject) override {
        HRESULT hr = S_OK;
        if (!VideoCall("Step(" + std::to_string(dwFrames) + ")", FakeCall::Step, &hr)) {
            return hr;
        }
        if (pStepObject != nullptr) {
            return E_INVALIDARG;
        }
        if (m_graph.m_state == State_Running) {
            return VFW_E_WRONG_STATE;
        }
        const auto llFrame = static_cast<LONGLONG>(m_graph.m_dTimePerFrame * 1e7);
        const LONGLONG llTarget = m_graph.m_llCurrent + llFrame * dwFrames;
        m_graph.m_llCurrent = std::min(llTarget, m_graph.m_llStop);
        return llTarget > m_graph.m_llStop ? S_FALSE : S_OK;
    }

    IGraphBuilder* GraphBuilder() { return this; }

protected:
    HRESULT QueryRole(REFIID riid, void** ppvObject) override {
        m_graph.Log(std::string("QueryInterface(") + InterfaceName(riid) + ")");
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (const auto failure = m_graph.m_queryFailures.find(riid);
            failure != m_graph.m_queryFailures.end()) {
            return failure->second;
        }
        *ppvObject = GraphInterfacePointer(this, riid);
        if (*ppvObject == nullptr) {
            return E_NOINTERFACE;
        }
        // IUnknown is handed out as the IGraphBuilder and counted as one.
        const IID counted = riid == IID::IUnknown ? IID::IGraphBuilder : riid;
        ++m_graph.m_obtained[counted];
        return S_OK;
    }

    ULONG CountReference(REFIID riid, int delta) override {
        if (delta > 0) {
            m_graph.Log(std::string("AddRef(") + InterfaceName(riid) + ")");
            ++m_graph.m_obtained[riid];
        } else {
            m_graph.Log(std::string("Release(") + InterfaceName(riid) + ")");
            ++m_graph.m_released[riid];
        }
        return static_cast<ULONG>(std::max(0, m_graph.OutstandingReferences(riid)));
    }

private:
    HRESULT ChangeState(const char* entry, FakeCall call, OAFilterState state) {
        m_graph.Log(entry);
        HRESULT hr = S_OK;
        if (m_graph.Scripted(call, &hr)) {
            return hr;
        }
        m_graph.m_state = state;
        return S_OK;
    }

    HRESULT ReadPosition(const char* entry, FakeCall call, LONGLONG value, LONGLONG* pValue) {
        m_graph.Log(entry);
        HRESULT hr = S_OK;
        if (m_graph.Scripted(call, &hr)) {
            return hr;
        }
        if (pValue == nullptr) {
            return E_POINTER;
        }
        *pValue = value;
        return S_OK;
    }

    // Logs a video window call; false with *phr set when its result is scripted or the graph
    // has no video (E_NOINTERFACE), true when the call should go ahead.
    bool VideoCall(const std::string& entry, FakeCall call, HRESULT* phr) {
        m_graph.Log(entry);
        *phr = S_OK;
        if (m_graph.Scripted(call, phr)) {
            return false;
        }
        if (m_graph.m_bNoVideo) {
            *phr = E_NOINTERFACE;
            return false;
        }
        return true;
    }

    CFakeFilterGraph& m_graph;
};

CFakeFilterGraph::CFakeFilterGraph()
    : m_pRoles(std::make_unique<CRoles>(*this)),
      m_lStyle(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) {}

CFakeFilterGraph::~CFakeFilterGraph() = default;

void CFakeFilterGraph::SetResult(FakeCall call, HRESULT hr) {
    m_results[call] = hr;
}

void CFakeFilterGraph::ClearResult(FakeCall call) {
    m_results.erase(call);
}

void CFakeFilterGraph::FailQueryInterface(REFIID riid, HRESULT hr) {
    m_queryFailures[riid] = hr;
}

void CFakeFilterGraph::SetNoVideo(bool bNoVideo) {
    m_bNoVideo = bNoVideo;
}

void CFakeFilterGraph::SetVideoSize(long width, long height) {
    m_lVideoWidth = width;
    m_lVideoHeight = height;
}

void CFakeFilterGraph::SetTimePerFrame(REFTIME dSeconds) {
    m_dTimePerFrame = dSeconds;
}

void CFakeFilterGraph::SetStopPosition(LONGLONG stop) {
    m_llStop = stop;
}

void CFakeFilterGraph::SetCurrentPosition(LONGLONG current) {
    m_llCurrent = current;
}

void CFakeFilterGraph::QueueEvent(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    m_events.push_back({lEventCode, lParam1, lParam2});
    if (m_pNotifyTarget != nullptr) {
        m_pNotifyTarget->PostGraphNotify(m_lNotifyMsg, m_lNotifyData);
    }
}

int CFakeFilterGraph::CountCalls(const std::string& prefix) const {
    int count = 0;
    for (const std::string& call : m_calls) {
        count += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return count;
}

int CFakeFilterGraph::ReferencesObtained(REFIID riid) const {
    const auto found = m_obtained.find(riid);
    return found != m_obtained.end() ? found->second : 0;
}

int CFakeFilterGraph::OutstandingReferences(REFIID riid) const {
    const auto released = m_released.find(riid);
    return ReferencesObtained(riid) - (released != m_released.end() ? released->second : 0);
}

int CFakeFilterGraph::TotalOutstandingReferences() const {
    int total = 0;
    for (const auto& [riid, count] : m_obtained) {
        total += count;
    }
    for (const auto& [riid, count] : m_released) {
        total -= count;
    }
    return total;
}

void CFakeFilterGraph::GetWindowRect(long* pLeft, long* pTop, long* pWidth, long* pHeight) const {
    *pLeft = m_lLeft;
    *pTop = m_lTop;
    *pWidth = m_lWidth;
    *pHeight = m_lHeight;
}

IGraphBuilder* CFakeFilterGraph::HandOut() {
    ++m_obtained[IID::IGraphBuilder];
    return m_pRoles->GraphBuilder();
}

bool CFakeFilterGraph::Scripted(FakeCall call, HRESULT* phr) const {
    const auto found = m_results.find(call);
    if (found == m_results.end()) {
        return false;
    }
    *phr = found->second;
    return true;
}

HRESULT CFakeFilterGraphFactory::CreateFilterGraph(IGraphBuilder** ppGraph) {
    ++m_nCreateCalls;
    if (ppGraph == nullptr) {
        return E_POINTER;
    }
    *ppGraph = nullptr;
    if (FAILED(m_hrCreate)) {
        return m_hrCreate;
    }
    if (m_bCurrentHandedOut) {
        PrepareNextGraph();
    }
    *ppGraph = Graph().HandOut();
    m_bCurrentHandedOut = true;
    ++m_nHandedOut;
    return S_OK;
}

CFakeFilterGraph& CFakeFilterGraphFactory::Graph() {
    if (m_graphs.empty()) {
        m_graphs.push_back(std::make_unique<CFakeFilterGraph>());
    }
    return *m_graphs.back();
}

CFakeFilterGraph& CFakeFilterGraphFactory::PrepareNextGraph() {
    m_graphs.push_back(std::make_unique<CFakeFilterGraph>());
    m_bCurrentHandedOut = false;
    return *m_graphs.back();
}
