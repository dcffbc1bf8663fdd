#include "app/appresources.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

QIcon LoadApplicationIcon() {
    QIcon icon;
    for (const int nSize : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(u":/icons/tarnwick-%1.png"_s.arg(nSize), QSize(nSize, nSize));
    }
    return icon;
}

QString LoadResourceString(int nId) {
    switch (nId) {
        case IDS_ABOUTBOX:
            return u"&About Tarnwick"_s;
        default:
            return {};
    }
}

QString LocateHelpPage(const QString& strExecutableFolder) {
    const QString strBeside = strExecutableFolder + QString::fromUtf16(kHelpTopicPath);
    if (QFile::exists(strBeside)) {
        return strBeside;
    }
    // The install rules put the data folder at this path from the executable's folder.
    const QString strInstalled =
        QDir::cleanPath(strExecutableFolder + QStringLiteral(TARNWICK_DATA_FROM_BINDIR) + u'/' +
                        QString::fromUtf16(kHelpTopicPath));
    return QFile::exists(strInstalled) ? strInstalled : strBeside;
}
