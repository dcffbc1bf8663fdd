// File dialogs that show nothing: each call is recorded and answered from a script.
#pragma once

#include <deque>
#include <vector>

#include "platform/desktop/filedialogs.h"

class CFakeFileDialogs final : public IFileDialogs {
public:
    enum class EDialog { Open, Save, Folder };

    struct CCall {
        EDialog dialog;
        QWidget* pOwner;
        QString strTitle;
        CFileFilter filter;                // the selected (first) filter
        QString strInitial;                // the initial file (Open) or folder (Save, Folder)
        std::vector<CFileFilter> filters;  // every filter offered, in order
    };

    std::optional<QString> GetOpenFileName(QWidget* pOwner, const QString& strTitle,
                                           const std::vector<CFileFilter>& filters,
                                           const QString& strInitialFile) override {
        const CFileFilter first = filters.empty() ? CFileFilter{} : filters.front();
        m_calls.push_back({EDialog::Open, pOwner, strTitle, first, strInitialFile, filters});
        return NextAnswer();
    }

    // Answered from a scripted choice whose paths are separated by new lines.
    std::vector<QString> GetOpenFileNames(QWidget* pOwner, const QString& strTitle,
                                          const std::vector<CFileFilter>& filters,
                                          const QString& strInitialFolder) override {
        const CFileFilter first = filters.empty() ? CFileFilter{} : filters.front();
        m_calls.push_back({EDialog::Open, pOwner, strTitle, first, strInitialFolder, filters});
        const std::optional<QString> answer = NextAnswer();
        if (!answer) {
            return {};
        }
        const QStringList paths = answer->split(u'\n');
        return {paths.begin(), paths.end()};
    }

    std::optional<QString> GetSaveFileName(QWidget* pOwner, const QString& strTitle,
                                           const CFileFilter& filter,
                                           const QString& strInitialFolder) override {
        m_calls.push_back({EDialog::Save, pOwner, strTitle, filter, strInitialFolder, {filter}});
        return NextAnswer();
    }

    std::optional<QString> BrowseForFolder(QWidget* pOwner, const QString& strTitle,
                                           const QString& strInitialFolder) override {
        m_calls.push_back({EDialog::Folder, pOwner, strTitle, {}, strInitialFolder, {}});
        return NextAnswer();
    }

    // The next dialog chooses this path.
    void ScriptChoice(const QString& strPath) { m_answers.push_back({true, strPath}); }
    // The next dialog is cancelled. Dialogs with nothing scripted are cancelled too.
    void ScriptCancel() { m_answers.push_back({false, QString()}); }

    const std::vector<CCall>& Calls() const { return m_calls; }

private:
    struct CAnswer {
        bool bChosen;
        QString strPath;
    };

    std::optional<QString> NextAnswer() {
        if (m_answers.empty() || !m_answers.front().bChosen) {
            if (!m_answers.empty()) {
                m_answers.pop_front();
            }
            return std::nullopt;
        }
        const QString strPath = m_answers.front().strPath;
        m_answers.pop_front();
        return strPath;
    }

    std::vector<CCall> m_calls;
    std::deque<CAnswer> m_answers;
};
