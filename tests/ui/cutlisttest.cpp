// The cut list and "Join MPEG files..." in the window: a list made from the Start and End
// fields is what Start writes, the list outlives a mode switch, and a join chosen from the
// window menu writes its file. The streams are made with ffmpeg while the tests run.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "../media/testmedia.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/cutlistdlg.h"
#include "ui/joindlg.h"
#include "windowfixture.h"

namespace {

class CListWindow : public CWindow {
public:
    CListWindow() { Show(); }

    bool Open(const std::string& path) {
        shell.fileDialogs.ScriptChoice(QString::fromStdString(path));
        return ClickAndWait(IDC_OPEN_MPEG) &&
               QTest::qWaitFor([this] { return Dlg().PlanIsIdle(); }, 30000);
    }
    void SetTimes(int nStart, int nEnd) {
        Edit(IDC_START_SECOND)->setText(QString::number(nStart));
        Edit(IDC_END_SECOND)->setText(QString::number(nEnd));
    }
    QAction* MenuAction(const QString& strName) {
        return Dlg().WindowMenu()->findChild<QAction*>(strName);
    }
    template <typename T>
    T* In(QWidget* pWindow, const QString& strName) {
        return pWindow->findChild<T*>(strName);
    }
    QTemporaryDir dir;
};

}  // namespace

class CCutListWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_strMedia = TestMediaPath(TestMedia::DvdLong);
        if (m_strMedia.empty()) {
            QSKIP("ffmpeg could not make the test media");
        }
    }
    void ListFromTheFieldsIsWrittenAndOutlivesAModeSwitch();
    void JoinFromTheWindowMenuWritesTheJoinedFile();

private:
    std::string m_strMedia;
};

void CCutListWindowTest::ListFromTheFieldsIsWrittenAndOutlivesAModeSwitch() {
    CListWindow window;
    QVERIFY(window.Open(m_strMedia));
    window.MenuAction(u"CutListAction"_s)->trigger();
    CCutListDlg* pList = window.Dlg().CutListDialog();
    QVERIFY(pList != nullptr && pList->isVisible());
    // Every button in the tab order, the list named for screen readers.
    for (QPushButton* pButton : pList->findChildren<QPushButton*>()) {
        QVERIFY((pButton->focusPolicy() & Qt::TabFocus) != 0);
        QVERIFY(pButton->text().contains(u'&'));
    }
    QVERIFY(!window.In<QListWidget>(pList, u"Segments"_s)->accessibleName().isEmpty());
    auto* pAdd = window.In<QPushButton>(pList, u"Add"_s);
    window.SetTimes(1, 3);
    pAdd->click();
    window.SetTimes(5, 7);
    pAdd->click();
    window.SetTimes(9, 11);
    pAdd->click();
    QCOMPARE(window.In<QListWidget>(pList, u"Segments"_s)->count(), 3);
    // Reordered and put back, edited in place.
    window.In<QPushButton>(pList, u"MoveUp"_s)->click();
    QCOMPARE(pList->Segments()[1].m_llStartMs, 9000);
    window.In<QPushButton>(pList, u"MoveDown"_s)->click();
    window.In<QLineEdit>(pList, u"SegmentEdit"_s)->setText(u"9-11.5"_s);
    window.In<QPushButton>(pList, u"Apply"_s)->click();
    QCOMPARE(pList->Segments()[2].m_llEndMs, 11500);

    // The list stays through By size and back.
    window.Button(IDC_BY_SIZE)->click();
    window.Button(IDC_BY_FRAME)->click();
    QCOMPARE(window.Dlg().CutListDialog(), pList);
    QCOMPARE(pList->Segments().size(), size_t{3});

    // Saved and loaded as CSV.
    const QString csv = window.dir.filePath(u"list.csv"_s);
    QVERIFY(pList->SaveCsv(csv));
    window.In<QPushButton>(pList, u"Clear"_s)->click();
    QVERIFY(pList->Segments().empty());
    QVERIFY(pList->LoadCsv(csv));
    QCOMPARE(pList->Segments().size(), size_t{3});

    const QString output = window.dir.filePath(u"kept.mpg"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(output);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));
    QCOMPARE(window.Texts().last(), u"Splitting is done!"_s);
    QVERIFY(QFile::exists(output));
    const auto length = FfprobeDuration(output.toStdString());
    QVERIFY(length && *length > 5.5 && *length < 8.5);

    window.In<QCheckBox>(pList, u"Separate"_s)->setChecked(true);
    QVERIFY(window.ClickAndWait(IDC_CUT_START));
    for (int k = 0; k < 3; ++k) {
        QVERIFY(QFile::exists(window.dir.filePath(u"kept_%1.mpg"_s.arg(k))));
    }
}

void CCutListWindowTest::JoinFromTheWindowMenuWritesTheJoinedFile() {
    CListWindow window;
    window.MenuAction(u"JoinAction"_s)->trigger();
    CJoinDlg* pJoin = window.Dlg().JoinDialog();
    QVERIFY(pJoin != nullptr && pJoin->isVisible());
    const QString vob = QString::fromStdString(TestMediaPath(TestMedia::Mpeg2Vob));
    window.shell.fileDialogs.ScriptChoice(vob + u"\n"_s + vob);
    window.In<QPushButton>(pJoin, u"AddFiles"_s)->click();
    QCOMPARE(pJoin->Files().size(), size_t{2});
    const QString output = window.dir.filePath(u"joined.mpg"_s);
    pJoin->OutputEdit()->setText(output);
    window.In<QPushButton>(pJoin, u"Join"_s)->click();
    QVERIFY(window.WaitUntilIdle());
    QCOMPARE(window.Texts().last(), u"Joining is done!"_s);
    QCOMPARE(QFileInfo(output).size(), 2 * QFileInfo(vob).size());
}

QTEST_MAIN(CCutListWindowTest)
#include "cutlisttest.moc"
