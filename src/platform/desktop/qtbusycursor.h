// The busy cursor as a stack of application override cursors, one per raised level.
#pragma once

#include "platform/desktop/busycursor.h"

class CQtBusyCursor final : public IBusyCursor {
public:
    CQtBusyCursor() = default;
    CQtBusyCursor(const CQtBusyCursor&) = delete;
    CQtBusyCursor& operator=(const CQtBusyCursor&) = delete;
    // Restores every level still raised, so no wait cursor outlives its owner.
    ~CQtBusyCursor() override;

    void Raise() override;
    void Lower() override;

    int Depth() const { return m_nDepth; }

private:
    int m_nDepth = 0;
};
