// Special folders with scripted answers.
#pragma once

#include <map>
#include <vector>

#include "platform/desktop/shellfolders.h"

class CFakeShellFolders final : public IShellFolders {
public:
    std::optional<QString> GetFolderPath(int nFolder) override {
        m_requested.push_back(nFolder);
        const auto it = m_folders.find(nFolder);
        return it == m_folders.end() ? std::nullopt : it->second;
    }

    // The answer for nFolder; nothing (the default) means it cannot be determined.
    void SetFolder(int nFolder, std::optional<QString> folder) {
        m_folders[nFolder] = std::move(folder);
    }
    const std::vector<int>& Requested() const { return m_requested; }

private:
    std::map<int, std::optional<QString>> m_folders;
    std::vector<int> m_requested;
};
