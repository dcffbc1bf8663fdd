// The video window's painting and its input forwarding.
#include "media/qt/videowidget.h"

#include <QCoreApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

CVideoWidget::CVideoWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Plain moves count as activity for the window that receives them.
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void CVideoWidget::SetFrame(std::shared_ptr<const CVideoFrame> frame) {
    m_pFrame = std::move(frame);
    ++m_nFramesShown;
    update();
}

void CVideoWidget::SetMessageDrain(QWidget* drain) {
    m_pDrain = drain == this ? nullptr : drain;
}

bool CVideoWidget::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (m_pDrain != nullptr) {
                // The copy keeps this widget's coordinates, as the receiver expects.
                std::unique_ptr<QEvent> copy(event->clone());
                QCoreApplication::sendEvent(m_pDrain, copy.get());
                event->accept();
                return true;
            }
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void CVideoWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_pFrame == nullptr || m_pFrame->m_nWidth <= 0 || m_pFrame->m_nHeight <= 0) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Wraps the frame's pixels without copying; the frame outlives the painter.
    const QImage image(m_pFrame->m_pixels.data(), m_pFrame->m_nWidth, m_pFrame->m_nHeight,
                       m_pFrame->m_nBytesPerLine, QImage::Format_RGB32);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}
