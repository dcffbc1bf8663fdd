// Opens a help page or a web address with the desktop's own viewer.
#pragma once

#include <QUrl>

class IDesktopLauncher {
public:
    virtual ~IDesktopLauncher() = default;

    // Hands the address to the desktop. Nothing is reported when no viewer starts.
    virtual void Open(const QUrl& url) = 0;
};
