#include "platform/desktop/qtbusycursor.h"

#include <QCursor>
#include <QGuiApplication>

CQtBusyCursor::~CQtBusyCursor() {
    while (m_nDepth > 0) {
        Lower();
    }
}

void CQtBusyCursor::Raise() {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    ++m_nDepth;
}

void CQtBusyCursor::Lower() {
    if (m_nDepth == 0) {
        return;
    }
    QGuiApplication::restoreOverrideCursor();
    --m_nDepth;
}
