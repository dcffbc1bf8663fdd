// The launcher on QDesktopServices.
#pragma once

#include "platform/desktop/desktoplauncher.h"

class CQtDesktopLauncher final : public IDesktopLauncher {
public:
    void Open(const QUrl& url) override;
};
