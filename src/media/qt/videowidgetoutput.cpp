// Hand-over of pictures from the streaming threads to the video widget, and the video window
// calls applied to it.
#include "media/qt/videowidgetoutput.h"

#include "media/qt/windowhandle.h"

CVideoWidgetOutput::CVideoWidgetOutput()
    : m_pWidget(new CVideoWidget()), m_pRelay(std::make_unique<QObject>()) {
    m_pWidget->hide();
}

CVideoWidgetOutput::~CVideoWidgetOutput() {
    m_pRelay.reset();
    delete m_pWidget.data();
}

void CVideoWidgetOutput::PresentFrame(std::shared_ptr<const CVideoFrame> frame) {
    {
        std::lock_guard lock(m_mutex);
        if (m_pPending != nullptr) {
            ++m_nDropped;
        }
        m_pPending = std::move(frame);
        if (m_bCallQueued) {
            return;
        }
        m_bCallQueued = true;
    }
    QMetaObject::invokeMethod(
        m_pRelay.get(), [this] { ShowPendingFrame(); }, Qt::QueuedConnection);
}

void CVideoWidgetOutput::ShowPendingFrame() {
    std::shared_ptr<const CVideoFrame> frame;
    {
        std::lock_guard lock(m_mutex);
        frame = std::move(m_pPending);
        m_pPending.reset();
        m_bCallQueued = false;
    }
    if (m_pWidget != nullptr && frame != nullptr) {
        m_pWidget->SetFrame(std::move(frame));
    }
}

int CVideoWidgetOutput::FramesDropped() const {
    std::lock_guard lock(m_mutex);
    return m_nDropped;
}

void CVideoWidgetOutput::ApplyWindowState(const CVideoWindowState& state) {
    if (m_pWidget == nullptr) {
        return;
    }
    QWidget* owner = WidgetFromOAHWND(state.m_hOwner);
    if (m_pWidget->parentWidget() != owner) {
        m_pWidget->setParent(owner);
    }
    m_pWidget->setGeometry(static_cast<int>(state.m_nLeft), static_cast<int>(state.m_nTop),
                           static_cast<int>(state.m_nWidth), static_cast<int>(state.m_nHeight));
    m_pWidget->SetMessageDrain(WidgetFromOAHWND(state.m_hMessageDrain));
    // Without an owner the video would be a window of its own; it is shown only inside one.
    m_pWidget->setVisible(state.m_bVisible && owner != nullptr);
}

CGraphOptions WidgetGraphOptions(CGraphOptions options) {
    options.m_bDeliverFrames = true;
    options.m_makeVideoOutput = [] { return std::make_unique<CVideoWidgetOutput>(); };
    return options;
}
