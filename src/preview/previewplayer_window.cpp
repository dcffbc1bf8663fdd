// The player's window side: creating and placing the preview window, its two sizes (the
// native video size and full screen), the popup menu, the left click that switches which
// window is in front, the idle cursor in full screen and the caption.
#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWindow>

#include <algorithm>

#include "media/qt/graphnotifytarget.h"
#include "mpeg/outputpaths.h"
#include "preview/previewmenu.h"
#include "preview/previewplacement.h"
#include "preview/previewplayer.h"
#include "preview/previewwindow.h"
#include "preview/windowframes.h"

using namespace Qt::StringLiterals;

namespace {

// How long the window manager is given to say how large a frame it draws.
constexpr int kFrameWaitMs = 300;

// Keeps a window above every other, or stops doing so, without hiding it: changing the flags
// through the widget would hide and show the window again, and hiding the main window ends
// the modal loop the program runs it in.
void SetStaysOnTop(QWidget* pWindow, bool bOnTop) {
    if (pWindow == nullptr) {
        return;
    }
    Qt::WindowFlags flags = pWindow->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, bOnTop);
    if (flags == pWindow->windowFlags()) {
        return;
    }
    if (QWindow* pHandle = pWindow->windowHandle()) {
        pWindow->overrideWindowFlags(flags);
        pHandle->setFlags(flags);
    } else {
        pWindow->setWindowFlags(flags);
    }
}

// Brings a window forward, shown and active. A main window that has been closed (its window
// ends, and the preview with it) stays closed.
void BringForward(QWidget* pWindow) {
    if (pWindow->isHidden()) {
        return;
    }
    if (pWindow->isMinimized()) {
        pWindow->showNormal();
    } else {
        pWindow->show();
    }
    pWindow->raise();
    pWindow->activateWindow();
}

// Takes the main window out of the way of the full-screen video. It is minimised rather than
// hidden: hiding would end its modal loop, and with it the program.
void PutAway(QWidget* pWindow) {
    pWindow->showMinimized();
}

}  // namespace

void CPreviewPlayer::CreatePreviewWindow() {
    auto* pWindow = new CPreviewWindow(*this, m_context.icon);
    QScreen* pScreen =
        m_hWndOwner != nullptr ? m_hWndOwner->screen() : QGuiApplication::primaryScreen();
    const QRect workArea = pScreen != nullptr ? pScreen->availableGeometry() : QRect();
    const QRect ownerRect = m_hWndOwner != nullptr ? m_hWndOwner->frameGeometry() : QRect();
    const QRect placement = PreviewWindowRect(workArea, ownerRect);
    pWindow->move(placement.topLeft());
    // A strip too thin for a window still gives one; a video resizes it at once.
    pWindow->setFixedSize(std::max(placement.width(), 1), std::max(placement.height(), 1));
    m_hWnd = pWindow;
    m_pNotifyTarget = std::make_unique<CGraphNotifyTarget>(pWindow);
    m_bWindowCreated = true;
}

void CPreviewPlayer::DestroyPreviewWindow() {
    if (m_hWnd == nullptr) {
        return;
    }
    if (pVW != nullptr) {
        m_hWnd->hide();
        pVW->put_Visible(OAFALSE);
        if (m_bFullScreen) {
            // Leaves the window hidden, brings the main window back and restores the cursor.
            m_bShown = false;
            LeaveFullScreen();
            m_hWnd->hide();
        }
    }
    if (m_hWndOwner != nullptr) {
        m_hWndOwner->update();
    }
    // Its timers, its menu and the video painted into it go with it.
    delete m_hWnd;
    m_hWnd = nullptr;
}

HRESULT CPreviewPlayer::InitVideoWindow(int nMultiplier, int nDivider) {
    if (m_bFullScreen && m_bShown) {
        LeaveFullScreen();
    }
    if (pBV == nullptr || m_hWnd == nullptr || nDivider == 0) {
        return S_OK;
    }
    long lWidth = 0;
    long lHeight = 0;
    if (FAILED(pBV->GetVideoSize(&lWidth, &lHeight))) {
        // No video size: the window stays as it is.
        return S_OK;
    }
    const int nWidth = static_cast<int>(lWidth) * nMultiplier / nDivider;
    const int nHeight = static_cast<int>(lHeight) * nMultiplier / nDivider;
    // The client area takes the video's size; the position stays.
    m_hWnd->setFixedSize(std::max(nWidth, 1), std::max(nHeight, 1));
    m_hWnd->raise();

    const QRect rect = m_hWnd->rect();
    const HRESULT hr = pVW->SetWindowPosition(rect.left(), rect.top(), rect.width(), rect.height());
    if (FAILED(hr)) {
        ShowPreviewMessage(
            "FAILED(hr=0x%x) in pVW->SetWindowPosition(rect.left, rect.top, rect.right, "
            "rect.bottom)\n",
            static_cast<unsigned>(hr));
    }
    return hr;
}

void CPreviewPlayer::PlaceBesideOwner() {
    long lWidth = 0;
    long lHeight = 0;
    if (m_hWnd == nullptr || m_hWndOwner == nullptr || pVW == nullptr || pBV == nullptr ||
        FAILED(pBV->GetVideoSize(&lWidth, &lHeight)) || lWidth <= 0 || lHeight <= 0) {
        return;
    }
    QScreen* pScreen = m_hWndOwner->screen();
    if (pScreen == nullptr) {
        return;
    }
    // The frames as the window manager draws them: Qt knows a window's only some time after it
    // is mapped (the main window may have just appeared), and the preview's not before it is.
    // A preview whose frame cannot be had is given the main window's.
    const QRect rcOwnerClient = m_hWndOwner->geometry();
    const QMargins ownerFrame = WindowFrameMargins(m_hWndOwner, kFrameWaitMs).value_or(QMargins());
    const QRect rcOwner = rcOwnerClient.marginsAdded(ownerFrame);
    const QMargins frame = WindowFrameMargins(m_hWnd, kFrameWaitMs).value_or(ownerFrame);
    // Wayland does not let a window place itself.
    const bool bSelfPlacing = !QGuiApplication::platformName().startsWith(u"wayland"_s);
    const CPreviewLayout layout = PreviewBesideOwner(
        pScreen->availableGeometry(), rcOwner, frame,
        QSize(static_cast<int>(lWidth), static_cast<int>(lHeight)), bSelfPlacing);
    if (bSelfPlacing) {
        // Placed by their client areas: a frame position is turned into a client position with
        // the frame Qt knows, which may still be none.
        const QPoint ownerOffset(ownerFrame.left(), ownerFrame.top());
        if (layout.ptOwner != rcOwner.topLeft()) {
            m_hWndOwner->setGeometry(QRect(layout.ptOwner + ownerOffset, rcOwnerClient.size()));
        }
        m_hWnd->setGeometry(
            QRect(layout.ptPreview + QPoint(frame.left(), frame.top()), m_hWnd->size()));
    }
    if (layout.sizeVideo != m_hWnd->size()) {
        m_hWnd->setFixedSize(layout.sizeVideo);
        pVW->SetWindowPosition(0, 0, layout.sizeVideo.width(), layout.sizeVideo.height());
    }
}

HRESULT CPreviewPlayer::ResizeVideoToClient() {
    if (pVW != nullptr && m_hWnd != nullptr) {
        const QRect rect = m_hWnd->rect();
        pVW->SetWindowPosition(0, 0, rect.width(), rect.height());
    }
    return S_OK;
}

bool CPreviewPlayer::ToggleFullScreen() {
    if (m_bNoVideo || pVW == nullptr) {
        return false;
    }
    return m_bFullScreen ? LeaveFullScreen() : EnterFullScreen();
}

bool CPreviewPlayer::PlaceFullScreenVideo(int cx, int cy) {
    long lWidth = 0;
    long lHeight = 0;
    if (pBV == nullptr || FAILED(pBV->GetVideoSize(&lWidth, &lHeight))) {
        return false;
    }
    const QRect video =
        FullScreenVideoRect(cx, cy, static_cast<int>(lWidth), static_cast<int>(lHeight));
    pVW->SetWindowPosition(video.left(), video.top(), video.width(), video.height());
    return true;
}

bool CPreviewPlayer::EnterFullScreen() {
    if (pVW == nullptr || m_hWnd == nullptr) {
        return false;
    }
    QScreen* pScreen = m_hWnd->screen();
    if (pScreen == nullptr) {
        pScreen = QGuiApplication::primaryScreen();
    }
    const QRect screen = pScreen != nullptr ? pScreen->geometry() : QRect(0, 0, 640, 480);

    m_rcNormal = m_hWnd->geometry();
    m_dwNormalStyle = m_hWnd->windowState() & ~Qt::WindowFullScreen;

    // Frameless over the whole screen; the black background shows wherever the video does not.
    // The geometry is set as well, for a desktop without a window manager.
    m_hWnd->setMinimumSize(0, 0);
    m_hWnd->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_hWnd->setGeometry(screen);
    m_hWnd->showFullScreen();
    m_hWnd->raise();

    if (!PlaceFullScreenVideo(screen.width(), screen.height())) {
        return false;
    }
    m_dwLastActivity = m_context.timeGetTime();
    m_hWnd->SetTimer(IDT_CURSOR, kCursorCheckMs);
    m_bFullScreen = true;
    m_bHideOwnerNext = true;
    return true;
}

bool CPreviewPlayer::LeaveFullScreen() {
    if (pVW == nullptr || m_hWnd == nullptr) {
        return false;
    }
    // Cleared first, so the resize that follows puts the video back over the whole client.
    m_bFullScreen = false;
    m_hWnd->setWindowState(m_dwNormalStyle);
    m_hWnd->setGeometry(m_rcNormal);
    m_hWnd->setFixedSize(m_rcNormal.size());
    if (m_bShown) {
        m_hWnd->show();
        ResizeVideoToClient();
    } else {
        m_hWnd->hide();
    }
    m_hWnd->KillTimer(IDT_CURSOR);
    ShowCursorNow();

    // The main window comes back and forward; the preview ends in front of it, not topmost,
    // and active: the keys that follow are the preview's (an Escape there does nothing), not
    // the main window's, where Escape would end the program.
    if (m_hWndOwner != nullptr) {
        BringForward(m_hWndOwner);
    }
    SetStaysOnTop(m_hWnd, false);
    if (m_bShown) {
        m_hWnd->show();
        m_hWnd->raise();
        m_hWnd->activateWindow();
        m_hWnd->setFocus(Qt::OtherFocusReason);
    } else {
        m_hWnd->hide();
    }
    return true;
}

void CPreviewPlayer::OnLeftClick() {
    if (pVW == nullptr || m_hWnd == nullptr) {
        return;
    }
    QWidget* pOwner = m_hWndOwner;
    if (m_bFullScreen) {
        // Alternately out of the way, and above the video so its controls can be used.
        if (pOwner != nullptr) {
            if (m_bHideOwnerNext) {
                SetStaysOnTop(pOwner, false);
                PutAway(pOwner);
            } else {
                SetStaysOnTop(pOwner, true);
                BringForward(pOwner);
            }
        }
        m_bHideOwnerNext = !m_bHideOwnerNext;
        return;
    }
    if (g_bRaisePreview) {
        if (pOwner != nullptr) {
            SetStaysOnTop(pOwner, false);
            pOwner->show();
        }
        m_hWnd->show();
        m_hWnd->raise();
        m_hWnd->activateWindow();
    } else if (pOwner != nullptr) {
        SetStaysOnTop(pOwner, true);
        BringForward(pOwner);
    }
    g_bRaisePreview = !g_bRaisePreview;
}

void CPreviewPlayer::ShowContextMenu(const QPoint& globalPos) {
    if (m_hWnd == nullptr) {
        return;
    }
    // Loaded anew for every click, so its states are always those of this moment.
    QMenu* pMenu = LoadPreviewMenu(m_hWnd);
    pMenu->setAttribute(Qt::WA_DeleteOnClose);
    UpdateMenuState(pMenu);
    CPreviewWindow* pWindow = m_hWnd;
    // The chosen command is carried out after the menu has gone, as a posted command; it is
    // dropped if the window goes first.
    QObject::connect(pMenu, &QMenu::triggered, pWindow, [this, pWindow](QAction* pAction) {
        const int nCommand = pAction->data().toInt();
        QMetaObject::invokeMethod(
            pWindow, [this, nCommand] { OnCommand(nCommand); }, Qt::QueuedConnection);
    });
    m_pMenu = pMenu;
    pMenu->popup(globalPos);
}

void CPreviewPlayer::UpdateMenuState(QMenu* pMenu) const {
    PreviewMenuItem(pMenu, ID_PREVIEW_FULLSCREEN)->setChecked(m_bFullScreen);
    for (const int nCommand : {ID_PREVIEW_NEXTPICTURE, ID_PREVIEW_PREVPICTURE}) {
        PreviewMenuItem(pMenu, nCommand)->setEnabled(CanStepPictures());
    }
    for (const int nCommand : {ID_PREVIEW_NEXTKEYPICTURE, ID_PREVIEW_PREVKEYPICTURE}) {
        PreviewMenuItem(pMenu, nCommand)->setEnabled(CanJumpToKeyPictures());
    }
    switch (m_nState) {
        case Stopped:
            PreviewMenuItem(pMenu, ID_PREVIEW_PAUSE)->setEnabled(false);
            PreviewMenuItem(pMenu, ID_PREVIEW_STOP)->setEnabled(false);
            break;
        case Paused:
            PreviewMenuItem(pMenu, ID_PREVIEW_PAUSE)->setEnabled(false);
            break;
        case Playing:
            PreviewMenuItem(pMenu, ID_PREVIEW_PLAY)->setEnabled(false);
            break;
        case Closed:
            break;
    }
}

void CPreviewPlayer::UpdateTitle() {
    if (m_hWnd == nullptr) {
        return;
    }
    // "%s %s %s": the file's name, an empty text, and the pause marker.
    const QString strName = QFile::decodeName(ExtractFileName(m_szFile).c_str());
    const QString strMarker = m_nState == Paused ? u"(Paused)"_s : QString();
    m_hWnd->setWindowTitle(u"%1 %2 %3"_s.arg(strName, QString(), strMarker));
}

void CPreviewPlayer::ShowCursorNow() {
    if (m_nCursorCount < 0 && m_hWnd != nullptr) {
        m_hWnd->setCursor(Qt::ArrowCursor);
    }
    m_nCursorCount = 0;
    m_dwLastActivity = m_context.timeGetTime();
}

void CPreviewPlayer::HideCursorNow() {
    if (m_nCursorCount >= 0 && m_hWnd != nullptr) {
        m_hWnd->setCursor(Qt::BlankCursor);
        m_nCursorCount = -1;
    }
}

void CPreviewPlayer::OnMoveOrSize() {
    if (!m_bShown) {
        return;
    }
    if (m_bFullScreen) {
        // A window manager may cover the screen only after the video has been placed.
        PlaceFullScreenVideo(m_hWnd->width(), m_hWnd->height());
    } else {
        ResizeVideoToClient();
    }
}

void CPreviewPlayer::OnCloseRequest() {
    // The main window closes the source, which closes this player and its window.
    if (m_hWndOwner != nullptr) {
        PostWindowMessage(m_hWndOwner, WM_COMMAND, IDC_CLOSE_SOURCE, 0);
    }
}

void CPreviewPlayer::OnKeyUp(int nKey) {
    if (nKey == Qt::Key_Escape && m_bFullScreen) {
        LeaveFullScreen();
    }
}

bool CPreviewPlayer::OnKeyDown(int nKey, Qt::KeyboardModifiers modifiers) {
    const bool bPlain = modifiers == Qt::NoModifier;
    if (bPlain && nKey == Qt::Key_Space) {
        if (m_nState == Playing) {
            Pause();
        } else {
            Play();
        }
        return true;
    }
    if (bPlain && (nKey == Qt::Key_F || nKey == Qt::Key_F11)) {
        ToggleFullScreen();
        return true;
    }
    // Shift with the comma and full stop keys gives "<" and ">" on most layouts.
    const bool bShifted = modifiers == Qt::ShiftModifier;
    if (bPlain && (nKey == Qt::Key_Period || nKey == Qt::Key_Comma)) {
        OnCommand(nKey == Qt::Key_Period ? ID_PREVIEW_NEXTPICTURE : ID_PREVIEW_PREVPICTURE);
        return true;
    }
    if ((bPlain && nKey == Qt::Key_PageDown) || ((bPlain || bShifted) && nKey == Qt::Key_Greater) ||
        (bShifted && nKey == Qt::Key_Period)) {
        OnCommand(ID_PREVIEW_NEXTKEYPICTURE);
        return true;
    }
    if ((bPlain && nKey == Qt::Key_PageUp) || ((bPlain || bShifted) && nKey == Qt::Key_Less) ||
        (bShifted && nKey == Qt::Key_Comma)) {
        OnCommand(ID_PREVIEW_PREVKEYPICTURE);
        return true;
    }
    if ((bPlain && nKey == Qt::Key_Menu) ||
        (modifiers == Qt::ShiftModifier && nKey == Qt::Key_F10)) {
        // Over the middle of the window, and with the same effect as a right click there.
        if (m_hWnd != nullptr) {
            ShowContextMenu(m_hWnd->mapToGlobal(m_hWnd->rect().center()));
            m_bHideOwnerNext = true;
        }
        return true;
    }
    return false;
}

void CPreviewPlayer::OnMouse(QEvent::Type type, Qt::MouseButton button, const QPoint& globalPos) {
    if (m_bFullScreen) {
        // Every mouse message counts as activity, a plain move as well.
        ShowCursorNow();
    }
    if (type != QEvent::MouseButtonRelease) {
        return;
    }
    if (button == Qt::LeftButton) {
        OnLeftClick();
    } else if (button == Qt::RightButton) {
        ShowContextMenu(globalPos);
        m_bHideOwnerNext = true;
    }
}

void CPreviewPlayer::OnCommand(int nCommand) {
    switch (nCommand) {
        case ID_PREVIEW_FULLSCREEN:
            ToggleFullScreen();
            break;
        case ID_PREVIEW_NORMALSIZE:
            InitVideoWindow(1, 1);
            break;
        case ID_PREVIEW_PLAY:
            Play();
            break;
        case ID_PREVIEW_PAUSE:
            Pause();
            break;
        case ID_PREVIEW_STOP:
            Stop();
            break;
        case ID_PREVIEW_NEXTPICTURE:
            StepForward();
            break;
        case ID_PREVIEW_PREVPICTURE:
            StepBack();
            break;
        case ID_PREVIEW_NEXTKEYPICTURE:
            JumpToKeyPicture(true);
            break;
        case ID_PREVIEW_PREVKEYPICTURE:
            JumpToKeyPicture(false);
            break;
        case ID_PREVIEW_CLOSE:
            if (m_hWnd != nullptr) {
                m_hWnd->close();
            }
            break;
        default:
            break;
    }
}

void CPreviewPlayer::OnTimer(int nId) {
    if (nId == IDT_CURSOR) {
        // An unsigned difference, so the clock's wrap-around does not matter.
        if (m_bFullScreen && m_context.timeGetTime() - m_dwLastActivity > kCursorIdleMs) {
            HideCursorNow();
        }
    } else if (nId == IDT_POSITION) {
        RefreshPosition();
    }
}
