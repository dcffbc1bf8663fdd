#include "platform/desktop/qtdesktoplauncher.h"

#include <QDesktopServices>

void CQtDesktopLauncher::Open(const QUrl& url) {
    // A missing browser or help viewer is the desktop's to report, not ours.
    static_cast<void>(QDesktopServices::openUrl(url));
}
