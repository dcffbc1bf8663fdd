// SIGINT and SIGTERM as a stop request for tarnwick-cli: the first one asks the running command
// to stop, which removes the output it was writing and keeps the file that was there; a second
// one ends the process at once.
#pragma once

#include "mpeg/stoprequest.h"

class CStopSignals final : public IStopRequest {
public:
    // Installs the handlers for the whole process on the first call; every call returns the
    // same object. Interrupted system calls are not restarted, so a replace question waiting
    // on the terminal ends at once with No.
    static CStopSignals& Install();

    bool IsStopRequested() const override { return Signal() != 0; }

    // The signal that asked to stop, 0 while none has.
    int Signal() const;

private:
    CStopSignals() = default;
};
