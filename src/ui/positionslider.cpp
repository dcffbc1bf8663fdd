#include "ui/positionslider.h"

#include <QMouseEvent>

#include "app/clipapp.h"

CPositionSlider::CPositionSlider(CClipApp& app, QWidget* pParent)
    : QSlider(Qt::Horizontal, pParent), m_app(app) {
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

void CPositionSlider::mousePressEvent(QMouseEvent* pEvent) {
    const bool bLeft = pEvent->button() == Qt::LeftButton;
    if (bLeft) {
        m_app.m_bSliderDragging = true;
    }
    QSlider::mousePressEvent(pEvent);
    if (bLeft) {
        update();
    }
}

void CPositionSlider::mouseReleaseEvent(QMouseEvent* pEvent) {
    const bool bLeft = pEvent->button() == Qt::LeftButton;
    if (bLeft) {
        m_app.m_bSliderDragging = false;
    }
    QSlider::mouseReleaseEvent(pEvent);
    if (bLeft) {
        update();
        Q_EMIT ReleasedCapture();
    }
}
