// IReporter for a terminal: the final "Splitting is done!" on standard output, every other
// message on standard error, and the replace question answered by --yes, by the user on a
// terminal, or refused when nobody can answer it.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "mpeg/reporter.h"

class CConsoleReporter final : public IReporter {
public:
    CConsoleReporter(std::istream& in, std::ostream& out, std::ostream& err, bool interactive,
                     bool assumeYes)
        : m_in(in), m_out(out), m_err(err), m_bInteractive(interactive), m_bAssumeYes(assumeYes) {}

    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override;
    // --yes answers Yes; on a terminal the question is asked on standard error and a line
    // beginning with 'y' or 'Y' is Yes; otherwise the question is printed and answered No.
    bool AskReplace(const std::string& text) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    // Runs before anything is printed: erases a progress line that the text would otherwise
    // run into.
    void SetBeforeMessage(std::function<void()> beforeMessage) {
        m_beforeMessage = std::move(beforeMessage);
    }

private:
    void BeforeMessage() const {
        if (m_beforeMessage) {
            m_beforeMessage();
        }
    }

    std::function<void()> m_beforeMessage;
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bInteractive;
    bool m_bAssumeYes;
};
