// The user's special folders, looked up by the shell's folder identifiers.
#pragma once

#include <optional>

#include <QString>

// The desktop, where the folder browser is rooted.
inline constexpr int CSIDL_DESKTOP = 0x00;
// The user's videos folder.
inline constexpr int CSIDL_MYVIDEO = 0x0E;

class IShellFolders {
public:
    virtual ~IShellFolders() = default;

    // The folder's current path without a final separator, or nothing when it cannot be
    // determined. Never creates the folder.
    virtual std::optional<QString> GetFolderPath(int nFolder) = 0;
};
