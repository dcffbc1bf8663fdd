// A scriptable filter graph for tests: the interfaces of media/mediainterfaces.h without any
// media. Every call can be made to return a chosen status, events are queued by the test, and
// every call and every reference is recorded, so a test can check what a player obtained,
// called and released. Single-threaded: notify targets are called on the caller's thread.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/mediainterfaces.h"

// The calls whose result can be scripted.
enum class FakeCall {
    RenderFile,
    Run,
    Pause,
    Stop,
    GetState,
    GetEvent,
    FreeEventParams,
    SetNotifyWindow,
    IsFormatSupported,
    GetTimeFormat,
    SetTimeFormat,
    GetDuration,
    GetStopPosition,
    GetCurrentPosition,
    SetPositions,
    GetRate,
    SetRate,
    get_Visible,
    put_Visible,
    get_WindowStyle,
    put_WindowStyle,
    get_Owner,
    put_Owner,
    get_MessageDrain,
    put_MessageDrain,
    SetWindowPosition,
    GetWindowPosition,
    NotifyOwnerMessage,
    GetVideoSize,
    get_AvgTimePerFrame,
    get_Volume,
    put_Volume,
    Step,
};

class CFakeFilterGraph {
public:
    CFakeFilterGraph();
    ~CFakeFilterGraph();
    CFakeFilterGraph(const CFakeFilterGraph&) = delete;
    CFakeFilterGraph& operator=(const CFakeFilterGraph&) = delete;

    // --- Scripting ---
    // From now on the call returns hr without doing anything else (a success code as well,
    // e.g. S_FALSE from IsFormatSupported). ClearResult restores the normal behaviour.
    void SetResult(FakeCall call, HRESULT hr);
    void ClearResult(FakeCall call);
    // QueryInterface for riid fails with hr and hands out nothing.
    void FailQueryInterface(REFIID riid, HRESULT hr);
    // A graph without video: get_Visible, GetVideoSize and the other video window calls
    // return E_NOINTERFACE, as the real graph does for an audio-only file.
    void SetNoVideo(bool bNoVideo);
    void SetVideoSize(long width, long height);
    // What get_AvgTimePerFrame answers; 0 or less: VFW_E_NOT_FOUND, as for a stream that
    // declares no rate.
    void SetTimePerFrame(REFTIME dSeconds);
    void SetStopPosition(LONGLONG stop);
    void SetCurrentPosition(LONGLONG current);
    // Queues an event and, if a notify target is set, calls it at once.
    void QueueEvent(long lEventCode, LONG_PTR lParam1 = 0, LONG_PTR lParam2 = 0);

    // --- Inspection ---
    // Every call in order, e.g. "QueryInterface(IID_IMediaControl)", "Run()",
    // "SetPositions(0, 0x1, null, 0x0)", "SetNotifyWindow(target, 1037, 0)",
    // "Release(IID_IMediaEventEx)".
    const std::vector<std::string>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }
    // How many calls' log entries start with the given text ("Run(", "Release(IID_IBasicVideo)").
    int CountCalls(const std::string& prefix) const;
    // References handed out for riid (the factory's counts as IID_IGraphBuilder) and those
    // still held.
    int ReferencesObtained(REFIID riid) const;
    int OutstandingReferences(REFIID riid) const;
    int TotalOutstandingReferences() const;
    OAFilterState FilterState() const { return m_state; }
    bool IsRendered() const { return m_bRendered; }
    const std::string& RenderedFile() const { return m_strFile; }
    LONGLONG CurrentPosition() const { return m_llCurrent; }
    double Rate() const { return m_dRate; }
    INotifyTarget* NotifyTarget() const { return m_pNotifyTarget; }
    long NotifyMessage() const { return m_lNotifyMsg; }
    LONG_PTR NotifyInstanceData() const { return m_lNotifyData; }
    size_t PendingEvents() const { return m_events.size(); }
    bool IsVisible() const { return m_bVisible; }
    long WindowStyle() const { return m_lStyle; }
    OAHWND Owner() const { return m_hOwner; }
    OAHWND MessageDrain() const { return m_hDrain; }
    void GetWindowRect(long* pLeft, long* pTop, long* pWidth, long* pHeight) const;

    // The graph's reference handed out by the factory.
    IGraphBuilder* HandOut();

private:
    class CRoles;
    friend class CRoles;

    // The scripted result of a call, if any.
    bool Scripted(FakeCall call, HRESULT* phr) const;
    void Log(std::string entry) { m_calls.push_back(std::move(entry)); }

    std::unique_ptr<CRoles> m_pRoles;
    std::map<FakeCall, HRESULT> m_results;
    std::map<IID, HRESULT> m_queryFailures;
    std::map<IID, int> m_obtained;
    std::map<IID, int> m_released;
    std::vector<std::string> m_calls;

    bool m_bRendered = false;
    std::string m_strFile;
    bool m_bNoVideo = false;
    long m_lVideoWidth = 352;
    long m_lVideoHeight = 288;
    REFTIME m_dTimePerFrame = 0.04;
    OAFilterState m_state = State_Stopped;
    LONGLONG m_llStop = 0;
    LONGLONG m_llCurrent = 0;
    double m_dRate = 1.0;
    TimeFormat m_timeFormat = TIME_FORMAT_MEDIA_TIME;
    struct CEvent {
        long m_lCode;
        LONG_PTR m_lParam1;
        LONG_PTR m_lParam2;
    };
    std::deque<CEvent> m_events;
    INotifyTarget* m_pNotifyTarget = nullptr;
    long m_lNotifyMsg = 0;
    LONG_PTR m_lNotifyData = 0;
    bool m_bVisible = true;
    long m_lStyle = 0;
    OAHWND m_hOwner = nullptr;
    OAHWND m_hDrain = nullptr;
    long m_lLeft = 0;
    long m_lTop = 0;
    long m_lWidth = 0;
    long m_lHeight = 0;
    long m_lVolume = 0;
};

// Hands out fake graphs. The graphs belong to the factory and outlive every reference a
// test's player holds, so they can be inspected after the player has released them.
class CFakeFilterGraphFactory final : public IFilterGraphFactory {
public:
    // Every creation from now on fails with hr (S_OK: creations succeed again).
    void SetCreateResult(HRESULT hr) { m_hrCreate = hr; }
    HRESULT CreateFilterGraph(IGraphBuilder** ppGraph) override;

    // The graph the next creation hands out or, once it has, the one it handed out last.
    // Script it before the player creates it; inspect it afterwards.
    CFakeFilterGraph& Graph();
    // A fresh graph for the next creation, when the previous one was handed out already.
    CFakeFilterGraph& PrepareNextGraph();
    int CreateCalls() const { return m_nCreateCalls; }
    int GraphsHandedOut() const { return m_nHandedOut; }

private:
    HRESULT m_hrCreate = S_OK;
    int m_nCreateCalls = 0;
    int m_nHandedOut = 0;
    bool m_bCurrentHandedOut = false;
    std::vector<std::unique_ptr<CFakeFilterGraph>> m_graphs;
};
