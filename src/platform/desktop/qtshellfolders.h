// Special folders from QStandardPaths.
#pragma once

#include "platform/desktop/shellfolders.h"

class CQtShellFolders final : public IShellFolders {
public:
    // CSIDL_MYVIDEO: the user's videos folder when it exists, else the home folder.
    // CSIDL_DESKTOP: the user's desktop folder when it exists, else the home folder.
    std::optional<QString> GetFolderPath(int nFolder) override;
};
