// The media framework's interfaces: a filter graph that renders one file, and the roles a
// player holds on it (control, events, seeking, video window, native video size and picture
// rate, audio, picture steps).
//
// Contracts shared by every interface here:
// - Results are status codes (media/hresult.h): negative is failure, nothing throws.
// - Reference counting: every interface pointer handed out (by a factory or QueryInterface)
//   carries one reference, given up with exactly one Release. The graph lives until its last
//   reference is released; releasing it stops playback and joins the graph's threads.
// - Threads: call the graph from one thread, the GUI thread when a video output or a notify
//   target is attached; the graph runs its own streaming threads and never calls back into the
//   caller's thread except through INotifyTarget (from any thread, see there). RenderFile
//   alone may be called from another thread, while nothing else calls the graph: it touches
//   no window (a player renders there so that its GUI thread need not wait for the file).
// - Positions are signed counts of 100 ns from the start of the stream: the beginning is 0 and
//   the end is the stop position.
#pragma once

#include <cstdint>

#include "media/hresult.h"

using LONG_PTR = std::intptr_t;
using LONGLONG = std::int64_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
// A time in seconds.
using REFTIME = double;

// A window as the video window calls see it. Never dereferenced by the core: the video output
// that paints into a real window turns it back into that window (media/qt/windowhandle.h).
struct OAWindow;
using OAHWND = OAWindow*;

constexpr long OATRUE = -1;
constexpr long OAFALSE = 0;

// Interface identifiers for QueryInterface.
enum class IID {
    IUnknown,
    IGraphBuilder,
    IMediaControl,
    IMediaEventEx,
    IMediaSeeking,
    IVideoWindow,
    IBasicVideo,
    IBasicAudio,
    IVideoFrameStep
};
using REFIID = IID;
inline constexpr IID IID_IUnknown = IID::IUnknown;
inline constexpr IID IID_IGraphBuilder = IID::IGraphBuilder;
inline constexpr IID IID_IMediaControl = IID::IMediaControl;
inline constexpr IID IID_IMediaEventEx = IID::IMediaEventEx;
inline constexpr IID IID_IMediaSeeking = IID::IMediaSeeking;
inline constexpr IID IID_IVideoWindow = IID::IVideoWindow;
inline constexpr IID IID_IBasicVideo = IID::IBasicVideo;
inline constexpr IID IID_IBasicAudio = IID::IBasicAudio;
inline constexpr IID IID_IVideoFrameStep = IID::IVideoFrameStep;

// Name of an identifier, for call logs and messages ("IID_IMediaControl").
const char* InterfaceName(REFIID riid);

class IUnknown {
public:
    static constexpr IID kIid = IID::IUnknown;
    // On success *ppvObject holds the interface named by riid, converted to void* from that
    // interface's own pointer type, with one reference added. On failure *ppvObject is null.
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    // Both return the new count; it is informative only.
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

    // Typed form: pGB->QueryInterface(&pMC) asks for IID_IMediaControl.
    template <class Interface>
    HRESULT QueryInterface(Interface** ppInterface) {
        if (ppInterface == nullptr) {
            return E_POINTER;
        }
        void* pv = nullptr;
        const HRESULT hr = QueryInterface(Interface::kIid, &pv);
        *ppInterface = static_cast<Interface*>(pv);
        return hr;
    }

protected:
    virtual ~IUnknown() = default;
};

class IGraphBuilder : public IUnknown {
public:
    static constexpr IID kIid = IID::IGraphBuilder;
    // Builds the whole playback chain for a file (a path in the file system's encoding).
    // Succeeds only when the file can be played; a playlist is not supported and must be null.
    // On success the graph is stopped, cued at the start of the stream.
    virtual HRESULT RenderFile(const char* pszFile, const char* pszPlayList) = 0;
};

using OAFilterState = long;
constexpr OAFilterState State_Stopped = 0;
constexpr OAFilterState State_Paused = 1;
constexpr OAFilterState State_Running = 2;

class IMediaControl : public IUnknown {
public:
    static constexpr IID kIid = IID::IMediaControl;
    // S_OK when the graph has changed state, S_FALSE while the change is still under way
    // (both succeed); negative when the graph refused it.
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // Stops playing and keeps the position. The graph stays cued, so a stopped graph keeps
    // showing its current picture.
    virtual HRESULT Stop() = 0;
    // Waits at most msTimeout ms (-1: without limit) for a state change under way;
    // VFW_S_STATE_INTERMEDIATE when it is still not complete.
    virtual HRESULT GetState(long msTimeout, OAFilterState* pfs) = 0;
};

// Event codes delivered by GetEvent.
constexpr long EC_COMPLETE = 0x01;    // the end of the stream was played
constexpr long EC_USERABORT = 0x02;   // not sent by this framework
constexpr long EC_ERRORABORT = 0x03;  // playback stopped on an error; param 1 is its status
constexpr long EC_PAUSED = 0x0E;      // not sent by this framework

// Receiver of the graph's "events are pending" notice, in place of a window message.
class INotifyTarget {
public:
    // Called from any thread, possibly a streaming thread, once for each event queued while
    // the target is set. Must return at once and deliver the notice later on the receiver's
    // own thread (a posted message, a queued event): never call the graph from inside.
    virtual void PostGraphNotify(long lMsg, LONG_PTR lInstanceData) = 0;

protected:
    virtual ~INotifyTarget() = default;
};

class IMediaEventEx : public IUnknown {
public:
    static constexpr IID kIid = IID::IMediaEventEx;
    // Takes the oldest pending event. Waits up to msTimeout ms (0: not at all, -1: without
    // limit); E_ABORT when no event came.
    virtual HRESULT GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                             long msTimeout) = 0;
    virtual HRESULT FreeEventParams(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;
    // Sets or, with a null target, clears the notify target. After a call with null returns,
    // the old target is never called again. The target must stay alive until then.
    virtual HRESULT SetNotifyWindow(INotifyTarget* pTarget, long lMsg, LONG_PTR lInstanceData) = 0;
};

// Time formats of IMediaSeeking.
enum class TimeFormat { None, MediaTime, Frame, Byte, Sample, Field };
inline constexpr TimeFormat TIME_FORMAT_NONE = TimeFormat::None;
inline constexpr TimeFormat TIME_FORMAT_MEDIA_TIME = TimeFormat::MediaTime;
inline constexpr TimeFormat TIME_FORMAT_FRAME = TimeFormat::Frame;
inline constexpr TimeFormat TIME_FORMAT_BYTE = TimeFormat::Byte;
inline constexpr TimeFormat TIME_FORMAT_SAMPLE = TimeFormat::Sample;
inline constexpr TimeFormat TIME_FORMAT_FIELD = TimeFormat::Field;

// SetPositions flags: the low two bits say how a position is given.
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
// A flag beside the positioning bits: land on the picture that is on screen at the position in
// playback (the latest one that starts at or before it) instead of a key picture near it. The
// graph decodes from the key picture before it, so it takes longer. Needs a graph that is not
// running; a graph without video lands as without the flag.
constexpr DWORD AM_SEEKING_ExactPicture = 0x100;

class IMediaSeeking : public IUnknown {
public:
    static constexpr IID kIid = IID::IMediaSeeking;
    // S_OK for a supported format, S_FALSE for another. Only TIME_FORMAT_MEDIA_TIME is
    // supported, and it is the graph's format from the start.
    virtual HRESULT IsFormatSupported(const TimeFormat* pFormat) = 0;
    virtual HRESULT GetTimeFormat(TimeFormat* pFormat) = 0;
    virtual HRESULT SetTimeFormat(const TimeFormat* pFormat) = 0;
    // The playable length; equal to the stop position.
    virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* pStop) = 0;
    // Within 0 .. stop position. While the graph is not running and shows a picture, the time
    // of that picture.
    virtual HRESULT GetCurrentPosition(LONGLONG* pCurrent) = 0;
    // Moves the play position (absolute or relative); the stop position cannot be moved, so
    // its flags must be AM_SEEKING_NoPositioning. A position beyond the end is taken as the
    // end and a negative one as 0: a seek never leaves the graph unusable. Without
    // AM_SEEKING_ExactPicture a graph that is not running shows the key picture at or before
    // the position (or the first one after it where none comes before), and a running graph
    // goes on from a key picture near it. Returns when the graph has settled at the new
    // position, or after a time-out with the seek still going; VFW_E_WRONG_STATE for
    // AM_SEEKING_ExactPicture while running.
    virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                 DWORD dwStopFlags) = 0;
    // Only normal speed (1.0) is supported; another rate gives E_NOTIMPL.
    virtual HRESULT GetRate(double* pdRate) = 0;
    virtual HRESULT SetRate(double dRate) = 0;
};

// The video window. A graph without video answers every call with E_NOINTERFACE.
class IVideoWindow : public IUnknown {
public:
    static constexpr IID kIid = IID::IVideoWindow;
    // OATRUE or OAFALSE. The video is shown while it is visible and has an owner.
    virtual HRESULT get_Visible(long* pVisible) = 0;
    virtual HRESULT put_Visible(long Visible) = 0;
    // Window style bits (media/windowstyles.h); kept for the caller, the look is the output's.
    virtual HRESULT get_WindowStyle(long* pStyle) = 0;
    virtual HRESULT put_WindowStyle(long Style) = 0;
    // The window the video is painted into, as a child; null detaches it.
    virtual HRESULT get_Owner(OAHWND* pOwner) = 0;
    virtual HRESULT put_Owner(OAHWND Owner) = 0;
    // The window that receives the video's mouse and keyboard input, in coordinates relative
    // to the video.
    virtual HRESULT get_MessageDrain(OAHWND* pDrain) = 0;
    virtual HRESULT put_MessageDrain(OAHWND Drain) = 0;
    // The video's rectangle in its owner's client coordinates; width and height not negative.
    virtual HRESULT SetWindowPosition(long Left, long Top, long Width, long Height) = 0;
    virtual HRESULT GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) = 0;
    // Passes a system message of the owner on to the video; nothing needs one here.
    virtual HRESULT NotifyOwnerMessage(OAHWND hwnd, long uMsg, LONG_PTR wParam,
                                       LONG_PTR lParam) = 0;
};

class IBasicVideo : public IUnknown {
public:
    static constexpr IID kIid = IID::IBasicVideo;
    // The native size of the pictures in pixels; E_NOINTERFACE when the graph has no video.
    virtual HRESULT GetVideoSize(long* pWidth, long* pHeight) = 0;
    // How long a picture lasts, in seconds, from the stream's frame rate; E_NOINTERFACE
    // without video, VFW_E_NOT_FOUND when the stream declares no rate.
    virtual HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) = 0;
};

class IBasicAudio : public IUnknown {
public:
    static constexpr IID kIid = IID::IBasicAudio;
    // Volume in hundredths of a decibel, -10000 (silent) to 0 (full); E_NOTIMPL without audio.
    virtual HRESULT get_Volume(long* plVolume) = 0;
    virtual HRESULT put_Volume(long lVolume) = 0;
};

// Steps the video picture by picture.
class IVideoFrameStep : public IUnknown {
public:
    static constexpr IID kIid = IID::IVideoFrameStep;
    // Shows the dwFrames-th picture after the one on screen, and the graph stays where it was
    // (paused or stopped); the sound follows. The step object must be null. Returns once the
    // picture is on screen: S_OK, or S_FALSE when the end of the video came first (its last
    // picture stays on screen). VFW_E_WRONG_STATE while running, E_NOINTERFACE without video.
    virtual HRESULT Step(DWORD dwFrames, IUnknown* pStepObject) = 0;
};

// For an object that plays every role of a graph: the pointer QueryInterface hands out for
// riid, converted to void* from that interface's own type (IUnknown is the IGraphBuilder's);
// null for an identifier it does not know.
template <class Graph>
void* GraphInterfacePointer(Graph* pGraph, REFIID riid) {
    switch (riid) {
        case IID::IUnknown:
            return static_cast<IUnknown*>(static_cast<IGraphBuilder*>(pGraph));
        case IID::IGraphBuilder:
            return static_cast<IGraphBuilder*>(pGraph);
        case IID::IMediaControl:
            return static_cast<IMediaControl*>(pGraph);
        case IID::IMediaEventEx:
            return static_cast<IMediaEventEx*>(pGraph);
        case IID::IMediaSeeking:
            return static_cast<IMediaSeeking*>(pGraph);
        case IID::IVideoWindow:
            return static_cast<IVideoWindow*>(pGraph);
        case IID::IBasicVideo:
            return static_cast<IBasicVideo*>(pGraph);
        case IID::IBasicAudio:
            return static_cast<IBasicAudio*>(pGraph);
        case IID::IVideoFrameStep:
            return static_cast<IVideoFrameStep*>(pGraph);
    }
    return nullptr;
}

// Makes filter graphs; the stand-in for creating CLSID_FilterGraph. Injected, so tests can
// hand a player a fake graph or a factory that fails.
class IFilterGraphFactory {
public:
    virtual ~IFilterGraphFactory() = default;
    // A new, empty graph with one reference. Fails with CO_E_NOTINITIALIZED before
    // MediaFrameworkInitialize, and leaves *ppGraph null on any failure.
    virtual HRESULT CreateFilterGraph(IGraphBuilder** ppGraph) = 0;
};
