// Console reporter of tarnwick-cli.
#include "cli/consolereporter.h"

#include <istream>
#include <ostream>

#include "mpeg/messages.h"

void CConsoleReporter::ShowMessage(const std::string& text, const std::string& caption) {
    BeforeMessage();
    std::ostream& stream = caption == mpeg_text::kCaptionMessage ? m_out : m_err;
    stream << text << '\n' << std::flush;
}

void CConsoleReporter::ShowAppMessage(const std::string& text) {
    BeforeMessage();
    m_err << text << '\n' << std::flush;
}

bool CConsoleReporter::AskReplace(const std::string& text) {
    if (m_bAssumeYes) {
        return true;
    }
    BeforeMessage();
    if (!m_bInteractive) {
        m_err << text << '\n' << std::flush;
        return false;
    }
    m_err << text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(m_in, answer)) {
        m_err << '\n' << std::flush;
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}
