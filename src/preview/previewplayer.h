// The preview player: plays the opened source through a filter graph in a top-level window of
// its own, reports its position to the main window once a second, and goes full screen.
//
// Contracts:
// - GUI thread only. The graph's notices, the timers and the menu commands all arrive as
//   events of the preview window on this thread.
// - The player owns one reference on each interface it obtained (released once, by Close or
//   the destructor) and owns the preview window (destroyed by Close).
// - The owner window, the message boxes and the graph factory must outlive the player.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/mediainterfaces.h"
#include "platform/desktop/windowmessage.h"

class CGraphNotifyTarget;
class CPreviewWindow;
class IMessageBoxes;

// The graph's "events are pending" notice.
inline constexpr long WM_GRAPHNOTIFY = WM_USER + 13;

// Timers of the preview window.
inline constexpr int IDT_CURSOR = 1;    // full screen: hides an idle cursor
inline constexpr int IDT_POSITION = 2;  // refreshes the positions

inline constexpr int kCursorCheckMs = 50000;
inline constexpr std::uint32_t kCursorIdleMs = 100000;
inline constexpr int kPositionRefreshMs = 1000;

// Milliseconds of a monotonic clock, wrapping at 2^32 like the system's multimedia timer.
using CMillisecondClock = std::function<std::uint32_t()>;
std::uint32_t MonotonicMilliseconds();

// How a graph renders its file (IGraphBuilder::RenderFile, which waits until the first picture
// is cued): done gets the status, on the GUI thread, once the graph has rendered, perhaps on a
// thread of its own meanwhile. The graph must not be called in between.
using CRenderFile = std::function<void(IGraphBuilder* pGB, const std::string& strPath,
                                       std::function<void(HRESULT)> done)>;

// What a player needs from the program: the main window it reports to, the message boxes, the
// maker of filter graphs, the window icon, a clock, and for OpenInBackground the way files are
// rendered (none: on the GUI thread, at once).
struct CPreviewContext {
    QWidget* pOwner = nullptr;
    IMessageBoxes* pMessageBoxes = nullptr;
    IFilterGraphFactory* pGraphFactory = nullptr;
    QIcon icon;
    CMillisecondClock timeGetTime = MonotonicMilliseconds;
    CRenderFile renderFile;
};

class CPreviewPlayer {
public:
    enum PlayState { Stopped = 0, Paused = 1, Playing = 2, Closed = 3 };

    explicit CPreviewPlayer(CPreviewContext context);
    virtual ~CPreviewPlayer();
    CPreviewPlayer(const CPreviewPlayer&) = delete;
    CPreviewPlayer& operator=(const CPreviewPlayer&) = delete;

    // --- Playback ---
    // Creates the hidden window and builds the graph for m_szFile; 1 on success. On failure
    // the player has closed itself (state Closed, window gone, graph released).
    int Open();
    // Open without waiting on the GUI thread for the file to render: the graph renders it
    // through the context's renderFile, and opened gets what Open would return, on the GUI
    // thread, once it has (0 as well when the player was closed meanwhile; opened then must not
    // expect the player to exist any more). Until then the player holds only pGB: playing,
    // seeking and the position refresh do nothing.
    void OpenInBackground(std::function<void(int)> opened);
    // Creates the graph, renders the file, obtains the interfaces and shows the window; each
    // failure is reported and its status returned (negative), leaving the rest to Close.
    HRESULT BuildGraph(const char* pszPath);
    // BuildGraph before and after the rendering: the graph's creation, then, given what
    // RenderFile returned, the interfaces and the window.
    HRESULT CreateGraph();
    HRESULT FinishGraph(HRESULT hrRender);
    void CheckVisibility();
    void Play();
    void Pause();
    // Stops, rewinds to the start and shows the first picture again.
    void Stop();
    // Moves the play position (100-ns units; a negative one means 0). The state stays.
    HRESULT SeekTo(LONGLONG llPosition);
    // Reads the stop and current positions and posts WM_PREVIEW_POSITION to the owner.
    void RefreshPosition();
    // Drains the graph's events; the end of the stream stops and rewinds.
    HRESULT HandleGraphEvents();
    // Stops, destroys the window and releases every interface; the state becomes Closed.
    void Close();
    void ReleaseInterfaces();

    // --- Pictures ---
    // Each works on a paused picture: a playing preview pauses where it is, and a stopped one
    // becomes paused on the picture it shows. Then the position is posted to the main window,
    // exact to the picture. Nothing happens for a file without video.
    // One picture forward; at the last picture of the video it stays there.
    void StepForward();
    // One picture back; at the first picture it stays there.
    void StepBack();
    // To the next or the previous time of the key picture list; beyond its ends nothing moves.
    void JumpToKeyPicture(bool bForward);
    // The key pictures: the times, in 100-ns units from the stream's start, of the pictures a
    // clean piece can start at, in any order. The jumps stay disabled until a list with a time
    // in it is handed over.
    void SetKeyPictures(std::vector<LONGLONG> times);
    bool CanStepPictures() const;
    bool CanJumpToKeyPictures() const;

    // --- The window ---
    void CreatePreviewWindow();
    void DestroyPreviewWindow();
    // Sizes the window's client area to the native video size times nMultiplier / nDivider.
    HRESULT InitVideoWindow(int nMultiplier, int nDivider);
    HRESULT ResizeVideoToClient();
    bool ToggleFullScreen();
    bool EnterFullScreen();
    bool LeaveFullScreen();
    void OnLeftClick();
    // Opens the popup menu at a point on the screen.
    void ShowContextMenu(const QPoint& globalPos);
    void UpdateMenuState(QMenu* pMenu) const;
    void UpdateTitle();
    void ShowCursorNow();
    void HideCursorNow();

    // Handlers of the window's events, in the order of its window procedure.
    void OnMoveOrSize();
    void OnCloseRequest();
    void OnKeyUp(int nKey);
    // The keyboard's way to what the mouse and the menu do: Space plays or pauses, F or F11
    // toggles full screen, the Menu key or Shift+F10 opens the popup menu, "." and "," step a
    // picture forward and back, Page Down or Shift+"." (">") and Page Up or Shift+"," ("<")
    // jump to the next and previous key picture. False for any other key, which the window
    // then handles as usual.
    bool OnKeyDown(int nKey, Qt::KeyboardModifiers modifiers);
    // A mouse message: QEvent::MouseMove or MouseButtonRelease with its button.
    void OnMouse(QEvent::Type type, Qt::MouseButton button, const QPoint& globalPos);
    void OnCommand(int nCommand);
    void OnTimer(int nId);

    // The preview window, or null before it is created and after it is destroyed.
    CPreviewWindow* Window() const { return m_hWnd; }
    // The popup menu while it is open, else null.
    QMenu* ContextMenu() const { return m_pMenu; }

    // --- Fields ---
    QPointer<QWidget> m_hWndOwner;
    CPreviewContext m_context;
    // The previewed file in the file system's encoding; empty means none.
    char m_szFile[PATH_MAX] = {};
    bool m_bNoVideo = false;
    bool m_bFullScreen = false;
    PlayState m_nState = Closed;
    IVideoWindow* pVW = nullptr;
    bool m_bShown = false;
    IBasicVideo* pBV = nullptr;
    IGraphBuilder* pGB = nullptr;
    IMediaControl* pMC = nullptr;
    IMediaEventEx* pME = nullptr;
    IBasicAudio* pBA = nullptr;
    IMediaSeeking* pMS = nullptr;
    // Null when the graph cannot step pictures: the picture commands are then disabled.
    IVideoFrameStep* pFS = nullptr;
    CPreviewWindow* m_hWnd = nullptr;
    bool m_bWindowCreated = false;
    std::uint32_t m_dwLastActivity = 0;
    // 0 or more while the cursor shows over the window, negative while it is hidden.
    int m_nCursorCount = 0;
    // The window's geometry before full screen.
    QRect m_rcNormal;
    LONGLONG m_llCurrentPos = 0;
    LONGLONG m_llStopPos = 0;
    bool m_bHideOwnerNext = true;
    // The window's state (normal or minimised) before full screen.
    Qt::WindowStates m_dwNormalStyle;

private:
    // Formats by printf rules into at most 512 bytes and shows it with the caption "Message".
    void ShowPreviewMessage(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    void ShowPreviewBox(const QString& strCaption, const QString& strText);
    // Reads the stop and current positions into m_llStopPos and m_llCurrentPos; false at the
    // first failure, with what was read before it kept.
    bool ReadPositions();
    // SeekTo with the seeking flags besides AM_SEEKING_AbsolutePositioning.
    HRESULT SeekWithFlags(LONGLONG llPosition, DWORD dwFlags);
    // What the picture commands do first; false when the picture cannot be paused.
    bool PauseForPictures();
    // How far inside a picture a target goes so that it finds that picture although its time
    // is known only to a few 100-ns units: half a picture, or 1 ms without a frame rate.
    LONGLONG InsidePicture() const;
    // Places the video on a full-screen window of the given size; false without a video size.
    bool PlaceFullScreenVideo(int cx, int cy);
    // At the open of a video: moves the main window down, or scales the video, so that neither
    // window hides the other (PreviewBesideOwner).
    void PlaceBesideOwner();

    // Announces the graph's events to the window; lives from the window's creation until the
    // graph has been told to forget it.
    std::unique_ptr<CGraphNotifyTarget> m_pNotifyTarget;
    QPointer<QMenu> m_pMenu;
    // Sorted, without duplicates.
    std::vector<LONGLONG> m_keyPictures;
};

// The current preview of the main window, null when there is none.
extern CPreviewPlayer* g_pPreview;
// Which window a left click on the preview brings forward in normal size: true for the
// preview. Flips at every such click, for the life of the process.
extern bool g_bRaisePreview;
