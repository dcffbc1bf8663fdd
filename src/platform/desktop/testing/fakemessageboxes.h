// Message boxes that show nothing: each request is recorded and answered from a script.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "platform/desktop/messageboxes.h"

class CFakeMessageBoxes final : public IMessageBoxes {
public:
    EMessageBoxAnswer Show(const CMessageBoxRequest& request) override {
        m_requests.push_back(request);
        if (m_onShow) {
            m_onShow(request);
        }
        if (request.buttons == EMessageBoxButtons::Ok) {
            return EMessageBoxAnswer::Ok;
        }
        if (m_answers.empty()) {
            return m_defaultAnswer;
        }
        const EMessageBoxAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    // The answers the next Yes/No boxes give, in order; after them, the default answer.
    void ScriptAnswer(EMessageBoxAnswer answer) { m_answers.push_back(answer); }
    void SetDefaultAnswer(EMessageBoxAnswer answer) { m_defaultAnswer = answer; }
    // Runs while a box would be on screen.
    void SetOnShow(std::function<void(const CMessageBoxRequest&)> onShow) {
        m_onShow = std::move(onShow);
    }

    const std::vector<CMessageBoxRequest>& Requests() const { return m_requests; }
    void Clear() { m_requests.clear(); }

private:
    std::vector<CMessageBoxRequest> m_requests;
    std::deque<EMessageBoxAnswer> m_answers;
    EMessageBoxAnswer m_defaultAnswer = EMessageBoxAnswer::No;
    std::function<void(const CMessageBoxRequest&)> m_onShow;
};
