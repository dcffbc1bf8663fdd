// The hand-over of an opened source to the preview player, and its disposal.
#include <QSlider>

#include <cstring>

#include "media/gstfiltergraphfactory.h"
#include "media/qt/videowidgetoutput.h"
#include "preview/backgroundrenderer.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/positionslider.h"

bool CClipDlg::ClosePreview() {
    if (g_pPreview != nullptr) {
        if (g_pPreview->m_nState != CPreviewPlayer::Closed) {
            g_pPreview->Close();
        }
        delete g_pPreview;
        g_pPreview = nullptr;
    }
    m_nSliderPos = 0;
    m_pSlider->setValue(0);
    update();
    return true;
}

void CClipDlg::MakePreviewPlayer(const CMpegSource& source) {
    // The caller has closed the previous preview; one left open would be lost here.
    if (g_pPreview != nullptr) {
        ClosePreview();
    }
    if (m_pGraphFactory == nullptr) {
        m_pOwnGraphFactory = std::make_unique<CGstFilterGraphFactory>(WidgetGraphOptions());
        m_pGraphFactory = m_pOwnGraphFactory.get();
    }
    CPreviewContext context;
    context.pOwner = this;
    context.pMessageBoxes = &m_shell.messageBoxes;
    context.pGraphFactory = m_pGraphFactory;
    context.icon = m_hIcon;
    context.renderFile = m_pRenderer->AsRenderFile();
    g_pPreview = new CPreviewPlayer(std::move(context));

    // Both buffers have the platform's path limit, and the source path always fits its own.
    static_assert(sizeof g_pPreview->m_szFile == sizeof source.m_szSourcePath);
    std::strncpy(g_pPreview->m_szFile, source.m_szSourcePath, sizeof g_pPreview->m_szFile - 1);
    g_pPreview->m_szFile[sizeof g_pPreview->m_szFile - 1] = '\0';
}

int CClipDlg::OpenPreview(CMpegSource& source) {
    MakePreviewPlayer(source);
    if (g_pPreview->Open() == 1) {
        return 1;
    }
    source.ClearSourcePath();
    ClosePreview();
    return 0;
}

void CClipDlg::OpenPreviewInBackground(std::function<void(int)> opened) {
    MakePreviewPlayer(m_source);
    CPreviewPlayer* pPlayer = g_pPreview;
    const std::string strPath = m_source.SourcePath();
    pPlayer->OpenInBackground([this, pPlayer, strPath, opened](int nOpened) {
        // A player closed meanwhile (the close-source command) has taken the source with it.
        if (nOpened != 1 && g_pPreview == pPlayer) {
            if (m_source.SourcePath() == strPath) {
                m_source.ClearSourcePath();
            }
            ClosePreview();
        }
        opened(nOpened);
    });
}
