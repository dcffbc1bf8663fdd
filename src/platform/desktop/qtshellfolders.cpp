#include "platform/desktop/qtshellfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

std::optional<QString> ExistingFolder(const QString& strPath) {
    if (strPath.isEmpty() || !QFileInfo(strPath).isDir()) {
        return std::nullopt;
    }
    return QDir::cleanPath(strPath);
}

}  // namespace

std::optional<QString> CQtShellFolders::GetFolderPath(int nFolder) {
    QStandardPaths::StandardLocation location = QStandardPaths::HomeLocation;
    switch (nFolder) {
        case CSIDL_MYVIDEO:
            location = QStandardPaths::MoviesLocation;
            break;
        case CSIDL_DESKTOP:
            location = QStandardPaths::DesktopLocation;
            break;
        default:
            return std::nullopt;
    }
    // Many systems have neither folder; the home folder is where their users keep files.
    if (auto folder = ExistingFolder(QStandardPaths::writableLocation(location))) {
        return folder;
    }
    return ExistingFolder(QDir::homePath());
}
