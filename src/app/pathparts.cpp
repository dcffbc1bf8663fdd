#include "app/pathparts.h"

QString TailFromLastBackslash(const QString& strPath) {
    const qsizetype nLast = strPath.lastIndexOf(kPathSeparator);
    return nLast < 0 ? QString() : strPath.mid(nLast);
}

QString FolderOfPath(const QString& strPath) {
    const qsizetype nLast = strPath.lastIndexOf(kPathSeparator);
    return nLast < 0 ? QString() : strPath.left(nLast + 1);
}

QString RemoveFileExtension(const QString& strPath) {
    const qsizetype nDot = strPath.lastIndexOf(u'.');
    if (nDot < 0 || nDot < strPath.lastIndexOf(kPathSeparator)) {
        return strPath;
    }
    return strPath.left(nDot);
}
