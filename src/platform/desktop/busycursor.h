// The counted busy cursor shown while output is written.
#pragma once

class IBusyCursor {
public:
    virtual ~IBusyCursor() = default;

    // Raises the busy cursor by one level; it shows while any level is raised.
    virtual void Raise() = 0;

    // Lowers it by one level. A lower without a raise to balance does nothing, so the count
    // never goes below zero.
    virtual void Lower() = 0;
};
