#include "app/appresources.h"

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
