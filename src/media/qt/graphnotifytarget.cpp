// Graph notices posted as Qt events.
#include "media/qt/graphnotifytarget.h"

#include <QCoreApplication>

CGraphNotifyEvent::CGraphNotifyEvent(long lMsg, LONG_PTR lInstanceData)
    : QEvent(EventType()), m_lMsg(lMsg), m_lInstanceData(lInstanceData) {}

QEvent::Type CGraphNotifyEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CGraphNotifyTarget::CGraphNotifyTarget(QObject* receiver) : m_pReceiver(receiver) {
    if (receiver != nullptr) {
        // Runs inside the receiver's destruction, before its posted events are removed for
        // the last time, so nothing posted to it can outlive it.
        m_destroyed = QObject::connect(receiver, &QObject::destroyed, [this] {
            std::lock_guard lock(m_mutex);
            m_pReceiver = nullptr;
        });
    }
}

CGraphNotifyTarget::~CGraphNotifyTarget() {
    QObject::disconnect(m_destroyed);
}

void CGraphNotifyTarget::PostGraphNotify(long lMsg, LONG_PTR lInstanceData) {
    std::lock_guard lock(m_mutex);
    if (m_pReceiver != nullptr) {
        QCoreApplication::postEvent(m_pReceiver, new CGraphNotifyEvent(lMsg, lInstanceData));
    }
}
