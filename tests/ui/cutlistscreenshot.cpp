// Pictures of the cut list holding three segments and of Join MPEG files holding a DVD's three
// files, for the docs and for checking by eye:
// tarnwick_cutlist_screenshot <cut-list-file> <join-file>. Not a test.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>

#include <cstdio>
#include <utility>

#include "platform/desktop/testing/fakefiledialogs.h"
#include "ui/cutlistdlg.h"
#include "ui/joindlg.h"

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarnwick_cutlist_screenshot <cut-list-file> <join-file>\n");
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
    if (!dlg.grab().save(QString::fromLocal8Bit(argv[1]))) {
        return 1;
    }
    dlg.hide();

    CJoinDlg join(
        nullptr, dialogs, [](const std::vector<QString>&, const QString&) {},
        [](const QString&) {});
    join.AddFiles({u"/media/dvd/VIDEO_TS/VTS_01_1.VOB"_s, u"/media/dvd/VIDEO_TS/VTS_01_2.VOB"_s,
                   u"/media/dvd/VIDEO_TS/VTS_01_3.VOB"_s});
    join.OutputEdit()->setText(u"/home/user/Videos/film.vob"_s);
    join.resize(560, 280);
    join.show();
    QApplication::processEvents();
    return join.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
