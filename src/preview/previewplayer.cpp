// The player's playback side: opening and building the graph, the play states, seeking, the
// position refresh, graph events and closing. The window side is previewplayer_window.cpp.
#include "preview/previewplayer.h"

#include <QElapsedTimer>

#include <cstdarg>
#include <cstdio>

#include "media/qt/graphnotifytarget.h"
#include "media/qt/windowhandle.h"
#include "media/windowstyles.h"
#include "platform/desktop/messageboxes.h"
#include "preview/previewwindow.h"

using namespace Qt::StringLiterals;

CPreviewPlayer* g_pPreview = nullptr;
bool g_bRaisePreview = true;

namespace {

constexpr char kCannotPlay[] =
    "Cannot play the file.  The file is either corrupt or\n"
    "the player does not support the format you are trying to play.\n"
    "If you want more decoders, please visit our website.";

// Status codes as "%x" shows them.
unsigned Hex(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

template <class Interface>
void SafeRelease(Interface*& p) {
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

}  // namespace

std::uint32_t MonotonicMilliseconds() {
    static const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return static_cast<std::uint32_t>(started.elapsed());
}

CPreviewPlayer::CPreviewPlayer(CPreviewContext context)
    : m_hWndOwner(context.pOwner), m_context(std::move(context)) {
    if (!m_context.timeGetTime) {
        m_context.timeGetTime = MonotonicMilliseconds;
    }
}

CPreviewPlayer::~CPreviewPlayer() {
    // A player deleted without Close still gives back its window and every reference.
    if (m_nState != Closed) {
        Close();
    }
    DestroyPreviewWindow();
    ReleaseInterfaces();
}

void CPreviewPlayer::ShowPreviewMessage(const char* pszFormat, ...) {
    char szBuffer[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szBuffer, sizeof szBuffer, pszFormat, args);
    va_end(args);
    ShowPreviewBox(u"Message"_s, QString::fromLocal8Bit(szBuffer));
}

void CPreviewPlayer::ShowPreviewBox(const QString& strCaption, const QString& strText) {
    if (m_context.pMessageBoxes != nullptr) {
        m_context.pMessageBoxes->Show(PreviewMessage(strCaption, strText));
    }
}

int CPreviewPlayer::Open() {
    m_nState = Stopped;
    CreatePreviewWindow();
    if (FAILED(BuildGraph(m_szFile))) {
        Close();
        return 0;
    }
    return 1;
}

void CPreviewPlayer::OpenInBackground(std::function<void(int)> opened) {
    m_nState = Stopped;
    CreatePreviewWindow();
    if (FAILED(CreateGraph())) {
        Close();
        opened(0);
        return;
    }
    if (!m_context.renderFile) {
        const HRESULT hr = FinishGraph(pGB->RenderFile(m_szFile, nullptr));
        if (FAILED(hr)) {
            Close();
        }
        opened(FAILED(hr) ? 0 : 1);
        return;
    }
    // The graph is not touched here until it has rendered: until then the player holds only
    // pGB, so the transport, seeking and the position refresh do nothing.
    const QPointer<CPreviewWindow> pWindow = m_hWnd;
    m_context.renderFile(pGB, m_szFile, [this, pWindow, opened](HRESULT hrRender) {
        // Closed (and perhaps deleted) while the file rendered: nothing is left to finish.
        if (pWindow == nullptr) {
            opened(0);
            return;
        }
        const HRESULT hr = FinishGraph(hrRender);
        if (FAILED(hr)) {
            Close();
        }
        opened(FAILED(hr) ? 0 : 1);
    });
}

HRESULT CPreviewPlayer::BuildGraph(const char* pszPath) {
    const HRESULT hr = CreateGraph();
    if (FAILED(hr)) {
        return hr;
    }
    // The path goes to the graph in the file system's own encoding; nothing to convert.
    return FinishGraph(pGB->RenderFile(pszPath, nullptr));
}

HRESULT CPreviewPlayer::CreateGraph() {
    const HRESULT hr = m_context.pGraphFactory != nullptr
                           ? m_context.pGraphFactory->CreateFilterGraph(&pGB)
                           : REGDB_E_CLASSNOTREG;
    if (FAILED(hr)) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
            "IID_IGraphBuilder, (void **)&pGB)\n",
            Hex(hr));
    }
    return hr;
}

HRESULT CPreviewPlayer::FinishGraph(HRESULT hrRender) {
    HRESULT hr = hrRender;
    if (FAILED(hr)) {
        ShowPreviewBox(u"Error"_s, QString::fromLatin1(kCannotPlay));
        return hr;
    }

    if (FAILED(hr = pGB->QueryInterface(&pMC))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n", Hex(hr));
        return hr;
    }
    if (FAILED(hr = pGB->QueryInterface(&pME))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n", Hex(hr));
        return hr;
    }
    if (FAILED(hr = pGB->QueryInterface(&pMS))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)\n", Hex(hr));
        return hr;
    }
    if (FAILED(hr = pGB->QueryInterface(&pVW))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n", Hex(hr));
        return hr;
    }
    if (FAILED(hr = pGB->QueryInterface(&pBV))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n", Hex(hr));
        return hr;
    }
    if (FAILED(hr = pGB->QueryInterface(&pBA))) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicAudio, (void **)&pBA)\n", Hex(hr));
        return hr;
    }
    // Optional: a graph that cannot step still plays, with the picture commands disabled.
    if (FAILED(pGB->QueryInterface(&pFS))) {
        pFS = nullptr;
    }

    CheckVisibility();

    hr = pME->SetNotifyWindow(m_pNotifyTarget.get(), WM_GRAPHNOTIFY, 0);
    if (FAILED(hr)) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pME->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hWnd), "
            "WM_GRAPHNOTIFY, 0)\n",
            Hex(hr));
        return hr;
    }

    if (!m_bNoVideo) {
        // The video becomes a borderless child of the preview window, and its mouse and key
        // input comes to the preview window.
        long lStyle = 0;
        pVW->get_WindowStyle(&lStyle);
        pVW->put_WindowStyle((lStyle & ~(WS_CAPTION | WS_THICKFRAME)) | WS_CHILD);
        pVW->put_Owner(ToOAHWND(m_hWnd));
        pVW->put_MessageDrain(ToOAHWND(m_hWnd));

        const HRESULT hrInit = InitVideoWindow(1, 1);
        if (FAILED(hrInit)) {
            ShowPreviewMessage("FAILED(hr=0x%x) in InitVideoWindow(1, 1)\n", Hex(hrInit));
            return hrInit;
        }
        PlaceBesideOwner();
        m_bShown = true;
        m_hWnd->showNormal();
    } else {
        // Audio only: it plays with no window on screen.
        m_hWnd->hide();
    }

    m_hWnd->update();
    if (m_hWnd->isVisible()) {
        m_hWnd->raise();
        m_hWnd->activateWindow();
        m_hWnd->setFocus(Qt::OtherFocusReason);
    }
    UpdateTitle();
    m_hWnd->SetTimer(IDT_POSITION, kPositionRefreshMs);
    return hr;
}

void CPreviewPlayer::CheckVisibility() {
    if (pVW == nullptr || pBV == nullptr) {
        m_bNoVideo = true;
        return;
    }
    m_bNoVideo = false;
    long lVisible = 0;
    const HRESULT hr = pVW->get_Visible(&lVisible);
    if (hr == E_NOINTERFACE) {
        // No video renderer in the graph: an audio-only file.
        m_bNoVideo = true;
    } else if (FAILED(hr)) {
        ShowPreviewMessage("Failed(%08lx) in pVW->get_Visible()!\r\n",
                           static_cast<unsigned long>(Hex(hr)));
    }
}

void CPreviewPlayer::Play() {
    if (pMC == nullptr) {
        return;
    }
    if (m_nState == Stopped || m_nState == Paused) {
        if (SUCCEEDED(pMC->Run())) {
            m_nState = Playing;
        }
    }
    if (pMS != nullptr && SUCCEEDED(pMS->SetRate(1.0))) {
        UpdateTitle();
    }
}

void CPreviewPlayer::Pause() {
    if (pMC == nullptr) {
        return;
    }
    // A stopped preview cannot be paused.
    if (m_nState == Playing && SUCCEEDED(pMC->Pause())) {
        m_nState = Paused;
    }
    UpdateTitle();
}

void CPreviewPlayer::Stop() {
    if (pMC == nullptr || pMS == nullptr) {
        return;
    }
    if (m_nState == Paused || m_nState == Playing) {
        if (m_hWnd != nullptr) {
            m_hWnd->KillTimer(IDT_CURSOR);
        }
        pMC->Stop();
        m_nState = Stopped;
        LONGLONG llStart = 0;
        pMS->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
        // Paused at the start, so the first picture stays on screen while the state reads
        // Stopped.
        pMC->Pause();
    }
    UpdateTitle();
}

HRESULT CPreviewPlayer::SeekTo(LONGLONG llPosition) {
    return SeekWithFlags(llPosition, 0);
}

HRESULT CPreviewPlayer::SeekWithFlags(LONGLONG llPosition, DWORD dwFlags) {
    if (pMS == nullptr) {
        return S_OK;
    }
    if (pMS->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) != S_OK) {
        return E_NOINTERFACE;
    }
    TimeFormat savedFormat = TIME_FORMAT_NONE;
    HRESULT hr = pMS->GetTimeFormat(&savedFormat);
    if (FAILED(hr)) {
        return hr;
    }
    hr = pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
    if (FAILED(hr)) {
        return hr;
    }
    LONGLONG llTarget = llPosition < 0 ? 0 : llPosition;
    hr = pMS->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning | dwFlags, nullptr,
                           AM_SEEKING_NoPositioning);
    if (FAILED(hr)) {
        return hr;
    }
    if (savedFormat != TIME_FORMAT_MEDIA_TIME) {
        hr = pMS->SetTimeFormat(&savedFormat);
    }
    return hr;
}

void CPreviewPlayer::RefreshPosition() {
    if (ReadPositions() && m_hWndOwner != nullptr) {
        PostWindowMessage(m_hWndOwner, WM_PREVIEW_POSITION, 0, 0);
    }
}

bool CPreviewPlayer::ReadPositions() {
    if (pMS == nullptr || pMS->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) != S_OK) {
        return false;
    }
    TimeFormat savedFormat = TIME_FORMAT_NONE;
    if (FAILED(pMS->GetTimeFormat(&savedFormat)) ||
        FAILED(pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME))) {
        return false;
    }
    LONGLONG llValue = 0;
    if (FAILED(pMS->GetStopPosition(&llValue))) {
        return false;
    }
    m_llStopPos = llValue;
    if (FAILED(pMS->GetCurrentPosition(&llValue))) {
        return false;
    }
    m_llCurrentPos = llValue;
    return savedFormat == TIME_FORMAT_MEDIA_TIME || SUCCEEDED(pMS->SetTimeFormat(&savedFormat));
}

HRESULT CPreviewPlayer::HandleGraphEvents() {
    if (pME == nullptr) {
        return S_OK;
    }
    HRESULT hr = S_OK;
    long lEventCode = 0;
    LONG_PTR lParam1 = 0;
    LONG_PTR lParam2 = 0;
    while (SUCCEEDED(pME->GetEvent(&lEventCode, &lParam1, &lParam2, 0))) {
        hr = pME->FreeEventParams(lEventCode, lParam1, lParam2);
        if (lEventCode == EC_COMPLETE) {
            // The end of the file: stop and rewind; the preview neither loops nor closes.
            Stop();
        }
    }
    return hr;
}

void CPreviewPlayer::Close() {
    if (pMC != nullptr) {
        pMC->Stop();
    }
    m_nState = Stopped;
    if (m_bWindowCreated) {
        DestroyPreviewWindow();
    }
    ReleaseInterfaces();
    m_szFile[0] = '\0';
    m_nState = Closed;
    if (m_hWndOwner != nullptr) {
        // The main window repaints its position display.
        m_hWndOwner->update();
    }
}

void CPreviewPlayer::ReleaseInterfaces() {
    if (pVW != nullptr) {
        pVW->put_Visible(OAFALSE);
        pVW->put_Owner(nullptr);
    }
    if (pME != nullptr) {
        pME->SetNotifyWindow(nullptr, 0, 0);
    }
    SafeRelease(pME);
    SafeRelease(pMS);
    SafeRelease(pMC);
    SafeRelease(pBA);
    SafeRelease(pFS);
    SafeRelease(pBV);
    SafeRelease(pVW);
    SafeRelease(pGB);
    // The graph no longer calls it.
    m_pNotifyTarget.reset();
}
