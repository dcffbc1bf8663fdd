// A busy cursor that only counts.
#pragma once

#include "platform/desktop/busycursor.h"

class CFakeBusyCursor final : public IBusyCursor {
public:
    void Raise() override {
        ++m_nDepth;
        ++m_nRaises;
    }
    void Lower() override {
        ++m_nLowers;
        if (m_nDepth > 0) {
            --m_nDepth;
        }
    }

    int Depth() const { return m_nDepth; }
    int Raises() const { return m_nRaises; }
    int Lowers() const { return m_nLowers; }

private:
    int m_nDepth = 0;
    int m_nRaises = 0;
    int m_nLowers = 0;
};
