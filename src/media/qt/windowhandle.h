// Windows as the video window calls carry them: a QWidget behind the core's opaque handle.
#pragma once

#include <QWidget>

#include "media/mediainterfaces.h"

inline OAHWND ToOAHWND(QWidget* widget) {
    return reinterpret_cast<OAHWND>(widget);
}

inline QWidget* WidgetFromOAHWND(OAHWND window) {
    return reinterpret_cast<QWidget*>(window);
}
