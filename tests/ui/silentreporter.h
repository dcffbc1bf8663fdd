// A reporter for a test's own probes of a file, where no message is expected and none matters.
#pragma once

#include "mpeg/reporter.h"

class CSilentReporter final : public IReporter {
public:
    void ShowMessage(const std::string&, const std::string&) override {}
    void ShowAppMessage(const std::string&) override {}
    bool AskReplace(const std::string&) override { return false; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};
