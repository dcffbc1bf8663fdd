// The graph's "events are pending" notice as a Qt event: posted from any thread, delivered to
// a QObject on its own thread, which then drains the graph's events.
#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <mutex>

#include "media/mediainterfaces.h"

class CGraphNotifyEvent final : public QEvent {
public:
    CGraphNotifyEvent(long lMsg, LONG_PTR lInstanceData);
    static QEvent::Type EventType();
    // The message number and instance data given to SetNotifyWindow.
    long Message() const { return m_lMsg; }
    LONG_PTR InstanceData() const { return m_lInstanceData; }

private:
    long m_lMsg;
    LONG_PTR m_lInstanceData;
};

// Posts a CGraphNotifyEvent to the receiver for each notice. Safe against the receiver going
// away first: after its destruction notices are dropped. Create it on the receiver's thread.
class CGraphNotifyTarget final : public INotifyTarget {
public:
    explicit CGraphNotifyTarget(QObject* receiver);
    ~CGraphNotifyTarget() override;
    CGraphNotifyTarget(const CGraphNotifyTarget&) = delete;
    CGraphNotifyTarget& operator=(const CGraphNotifyTarget&) = delete;

    void PostGraphNotify(long lMsg, LONG_PTR lInstanceData) override;

private:
    std::mutex m_mutex;
    QObject* m_pReceiver;
    QMetaObject::Connection m_destroyed;
};
