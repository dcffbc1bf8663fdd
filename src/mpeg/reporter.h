// The engine's only way to talk to the user. The window implements it with its message boxes
// and busy cursor, the command-line tool with its output streams, tests with a recorder.
//
// Threads: the engine calls its reporter on the thread that runs the command, one call at a
// time, and each call returns only when it is done (a message has been seen, the question
// answered). The window runs its commands on a worker thread and carries each call over to its
// GUI thread, where its message boxes and cursor live.
#pragma once

#include <string>

class IReporter {
public:
    virtual ~IReporter() = default;

    // A message owned by the main window with an explicit caption ("Error", "error" or
    // "Message"), an OK button and no icon.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

    // The application message box: the application's name as caption, OK, exclamation icon.
    virtual void ShowAppMessage(const std::string& text) = 0;

    // The replace question: no owner, caption "Warning", Yes and No, exclamation icon.
    // True only when the user answers Yes.
    virtual bool AskReplace(const std::string& text) = 0;

    // Raise and lower the busy cursor; always called in pairs.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

// Raises the busy cursor at most once and lowers it on every way out of a command.
class CBusyCursor {
public:
    explicit CBusyCursor(IReporter& reporter) : m_reporter(reporter) {}
    ~CBusyCursor() { Lower(); }
    CBusyCursor(const CBusyCursor&) = delete;
    CBusyCursor& operator=(const CBusyCursor&) = delete;

    void Raise() {
        if (!m_bRaised) {
            m_bRaised = true;
            m_reporter.BeginWaitCursor();
        }
    }
    void Lower() {
        if (m_bRaised) {
            m_bRaised = false;
            m_reporter.EndWaitCursor();
        }
    }
    bool IsRaised() const { return m_bRaised; }

private:
    IReporter& m_reporter;
    bool m_bRaised = false;
};
