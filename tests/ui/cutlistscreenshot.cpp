// A picture of the cut list holding three segments, for the docs and for checking by eye:
// tarnwick_cutlist_screenshot <output-file>. Not a test.
#include <QApplication>
#include <QListWidget>
#include <QPixmap>

#include <cstdio>
#include <utility>

#include "platform/desktop/testing/fakefiledialogs.h"
#include "ui/cutlistdlg.h"

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnwick_cutlist_screenshot <output-file>\n");
        return 2;
    }
    CFakeFileDialogs dialogs;
    const std::pair<int64_t, int64_t> segments[] = {
        {62'000, 754'480}, {1'012'040, 1'695'200}, {1'950'000, 2'401'520}};
    size_t next = 0;
    CCutListDlg dlg(
        nullptr, dialogs,
        [&]() -> std::optional<std::pair<int64_t, int64_t>> { return segments[next++ % 3]; },
        [](int64_t) {}, [](const QString&) {});
    for (int i = 0; i < 3; ++i) {
        dlg.OnAdd();
    }
    dlg.findChild<QListWidget*>(u"Segments"_s)->setCurrentRow(1);
    dlg.resize(560, 330);
    dlg.show();
    QApplication::processEvents();
    return dlg.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
