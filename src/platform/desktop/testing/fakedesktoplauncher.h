// A launcher that records what it was asked to open.
#pragma once

#include <vector>

#include "platform/desktop/desktoplauncher.h"

class CFakeDesktopLauncher final : public IDesktopLauncher {
public:
    void Open(const QUrl& url) override { m_opened.push_back(url); }

    const std::vector<QUrl>& Opened() const { return m_opened; }

private:
    std::vector<QUrl> m_opened;
};
