// How a long command learns that it should stop: the copy asks between chunks, a series between
// pieces. A stopped command removes the output it was writing and shows nothing.
#pragma once

class IStopRequest {
public:
    virtual ~IStopRequest() = default;

    // True once a stop has been asked for; stays true. May be called from the command's thread
    // at any time, so it must be cheap and must not block.
    virtual bool IsStopRequested() const = 0;
};

// The stop request of a command nothing can stop.
class CNeverStop final : public IStopRequest {
public:
    bool IsStopRequested() const override { return false; }
};

// One shared instance, for callers that have no stop to offer.
inline const IStopRequest& NeverStop() {
    static const CNeverStop never;
    return never;
}
