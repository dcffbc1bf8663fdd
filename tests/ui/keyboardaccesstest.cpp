// The main window without a mouse: the mode group by keyboard, the context-menu keys, and what
// a screen reader hears of the values the window shows and of a mode switched through it.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "preview/previewplayer.h"
#include "preview/previewwindow.h"
#include "ui/controlids.h"
#include "windowfixture.h"

using namespace Qt::StringLiterals;

namespace {

QString AccessibleName(QWidget* pWidget) {
    return QAccessible::queryAccessibleInterface(pWidget)->text(QAccessible::Name);
}

// A small program stream: packs of 2,048 bytes, each starting with a pack start code.
QByteArray MakeStream(int nPacks) {
    QByteArray data(2048 * nPacks, '\x55');
    for (int i = 0; i < nPacks; ++i) {
        data.replace(i * 2048, 4, QByteArray("\x00\x00\x01\xBA", 4));
    }
    return data;
}

// A window with a source open and its preview shown on the scripted graph, as the Open command
// leaves it.
CPreviewWindow* OpenPreviewed(CWindow& window) {
    CClipDlg& dlg = window.Show();
    if (!QTest::qWaitForWindowActive(&dlg)) {
        return nullptr;
    }
    dlg.m_source.SetSourcePath("/media/rec/show.mpg");
    dlg.m_strInfoLine = u"show.mpg  (01:00:00)"_s;
    dlg.DoDataExchange(false);
    if (dlg.OpenPreview(dlg.m_source) != 1 || g_pPreview == nullptr) {
        return nullptr;
    }
    return g_pPreview->Window();
}

}  // namespace

class CKeyboardAccessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ModeGroupIsOneTabStopAndArrowsSwitchLayout();
    void AccessibleToggleOrProgramCheckSwitchesLayout();
    void MenuKeysOpenWindowMenuWithAbout();
    void MenuKeyInFieldOpensFieldsOwnMenu();
    void DisplaysSpeakTheirTextAfterOpen();
    void EscapeAfterFullScreenBelongsToPreview();
    void EscapeClosingMenuKeepsFullScreen();
};

void CKeyboardAccessTest::ModeGroupIsOneTabStopAndArrowsSwitchLayout() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    auto* pFrame = window.Button(IDC_BY_FRAME);
    auto* pSize = window.Button(IDC_BY_SIZE);
    auto* pTime = window.Button(IDC_BY_TIME);

    // Tab reaches the group at its checked button, and leaves it at once.
    window.Button(IDC_END_TIME)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), pFrame);
    QTest::keyClick(pFrame, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window.Button(IDC_HOMEPAGE));

    // An arrow moves to the next mode and switches to its layout as a click does.
    pFrame->setFocus();
    QTest::keyClick(pFrame, Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), pSize);
    QVERIFY(pSize->isChecked() && !pFrame->isChecked());
    QVERIFY(dlg.GetDlgItem(IDC_PIECE_COUNT)->isVisible());
    QVERIFY(!dlg.GetDlgItem(IDC_START_HOUR)->isVisible());

    // The checked button is now the group's tab stop.
    QTest::keyClick(pSize, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window.Button(IDC_HOMEPAGE));
    QTest::keyClick(window.Button(IDC_HOMEPAGE), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), pSize);

    // Down and Right go on, Left and Up go back, round the group.
    QTest::keyClick(pSize, Qt::Key_Down);
    QVERIFY(pTime->isChecked());
    QVERIFY(dlg.GetDlgItem(IDC_PIECE_SECONDS)->isVisible());
    QTest::keyClick(pTime, Qt::Key_Right);
    QVERIFY(pFrame->isChecked());
    QCOMPARE(QApplication::focusWidget(), pFrame);
    QVERIFY(dlg.GetDlgItem(IDC_START_HOUR)->isVisible());
    QTest::keyClick(pFrame, Qt::Key_Left);
    QVERIFY(pTime->isChecked());
    QTest::keyClick(pTime, Qt::Key_Up);
    QVERIFY(pSize->isChecked());
    QVERIFY(dlg.GetDlgItem(IDC_PIECE_COUNT)->isVisible());
    QVERIFY(!dlg.GetDlgItem(IDC_PIECE_SECONDS)->isVisible());
    // Nothing else moved: no field took a value.
    QCOMPARE(window.Edit(IDC_PIECE_COUNT)->text(), u"2"_s);
}

void CKeyboardAccessTest::AccessibleToggleOrProgramCheckSwitchesLayout() {
    CWindow window;
    CClipDlg& dlg = window.Show();

    // A screen reader's toggle action on "By size".
    QAccessibleInterface* pSize = QAccessible::queryAccessibleInterface(window.Button(IDC_BY_SIZE));
    QVERIFY(pSize != nullptr && pSize->actionInterface() != nullptr);
    const QString strToggle = QAccessibleActionInterface::toggleAction();
    QVERIFY(pSize->actionInterface()->actionNames().contains(strToggle));
    pSize->actionInterface()->doAction(strToggle);
    QVERIFY(window.Button(IDC_BY_SIZE)->isChecked());
    QVERIFY(dlg.GetDlgItem(IDC_PIECE_COUNT)->isVisible());
    QVERIFY(dlg.GetDlgItem(IDC_OUTPUT_FOLDER)->isVisible());
    QVERIFY(!dlg.GetDlgItem(IDC_POSITION_SLIDER)->isVisible());

    // A check made by a program, automation for instance.
    window.Button(IDC_BY_TIME)->setChecked(true);
    QVERIFY(dlg.GetDlgItem(IDC_PIECE_SECONDS)->isVisible());
    QVERIFY(!dlg.GetDlgItem(IDC_PIECE_COUNT)->isVisible());

    // A click on the checked button applies its layout again, with nothing else changed.
    dlg.GetDlgItem(IDC_PIECE_COUNT)->show();
    window.Button(IDC_BY_TIME)->click();
    QVERIFY(!dlg.GetDlgItem(IDC_PIECE_COUNT)->isVisible());
    QVERIFY(window.Button(IDC_BY_TIME)->isChecked());
}

void CKeyboardAccessTest::MenuKeysOpenWindowMenuWithAbout() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QMenu* pMenu = dlg.WindowMenu();
    QVERIFY(pMenu != nullptr);
    QCOMPARE(pMenu->actions().last()->text(), u"&About Tarnwick"_s);

    // On a button, on the mode group, on the slider: the keys reach the window's menu.
    for (const int nFocus : {IDC_OPEN_MPEG, IDC_BY_FRAME, IDC_POSITION_SLIDER}) {
        QWidget* pFocus = dlg.GetDlgItem(nFocus);
        pFocus->setFocus();
        QTest::keyClick(pFocus, Qt::Key_Menu);
        QVERIFY2(pMenu->isVisible(), qPrintable(QString::number(nFocus)));
        pMenu->hide();
        QTest::keyClick(pFocus, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY2(pMenu->isVisible(), qPrintable(QString::number(nFocus)));
        pMenu->hide();
    }
    // F10 alone is no menu key; the mode is not changed by any of this.
    QTest::keyClick(window.Button(IDC_OPEN_MPEG), Qt::Key_F10);
    QVERIFY(!pMenu->isVisible());
    QVERIFY(window.Button(IDC_BY_FRAME)->isChecked());
}

void CKeyboardAccessTest::MenuKeyInFieldOpensFieldsOwnMenu() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QLineEdit* pField = window.Edit(IDC_OUTPUT_FILE);
    pField->setFocus();
    // A field's editing menu runs its own loop; it is noted and closed from inside.
    QString strPopup;
    bool bWindowMenuShown = false;
    QTimer::singleShot(50, [&] {
        if (QWidget* pPopup = QApplication::activePopupWidget()) {
            strPopup = QString::fromLatin1(pPopup->metaObject()->className());
            bWindowMenuShown = pPopup == dlg.WindowMenu();
            pPopup->close();
        }
    });
    QTest::keyClick(pField, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(!strPopup.isEmpty());
    QCOMPARE(strPopup, u"QMenu"_s);
    QVERIFY(!bWindowMenuShown);
}

void CKeyboardAccessTest::DisplaysSpeakTheirTextAfterOpen() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QLabel* pInfo = window.Label(IDC_INFO_LINE);
    QLabel* pPosition = window.Label(IDC_POSITION);
    QLabel* pEachSize = window.Label(IDC_EACH_SIZE);
    // Before there is anything to show, each keeps its name, and its identifier as before.
    QCOMPARE(AccessibleName(pInfo), u"Source information"_s);
    QCOMPARE(AccessibleName(pEachSize), u"each size"_s);
    QCOMPARE(pInfo->accessibleDescription(), QString::number(IDC_INFO_LINE));

    QTemporaryDir dir;
    QFile file(dir.filePath(u"show.mpg"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(MakeStream(8));
    file.close();
    dlg.SetStopPositionQuery([](const std::string&, int64_t* pStop) {
        *pStop = 3725LL * 10000000;
        return true;
    });
    window.shell.fileDialogs.ScriptChoice(file.fileName());
    QVERIFY(window.ClickAndWait(IDC_OPEN_MPEG));

    QCOMPARE(pInfo->text(), u"show.mpg  (01:02:05)"_s);
    QCOMPARE(AccessibleName(pInfo), u"show.mpg  (01:02:05)"_s);
    QCOMPARE(pInfo->accessibleDescription(), QString::number(IDC_INFO_LINE));

    // The position display, as the preview reports it, and the size of each piece.
    QVERIFY(g_pPreview != nullptr);
    window.graphs.Graph().SetCurrentPosition(65LL * 10000000);
    g_pPreview->RefreshPosition();
    QCoreApplication::sendPostedEvents(&dlg);
    QCOMPARE(AccessibleName(pPosition), u"00:01:05"_s);
    window.Button(IDC_BY_SIZE)->click();
    QTest::keyClick(window.Edit(IDC_PIECE_COUNT), Qt::Key_Up);
    QCOMPARE(pEachSize->text(), u"5KB"_s);
    QCOMPARE(AccessibleName(pEachSize), u"5KB"_s);

    // Closing the source empties the line, and its name is its own again.
    dlg.OnCloseSource();
    QCOMPARE(AccessibleName(pInfo), u"Source information"_s);
}

// Open, full screen, Escape, Escape: the first Escape leaves full screen with the preview in
// front and holding the keyboard, so the second is the preview's and does nothing; it must not
// reach the main window, where Escape ends the program.
void CKeyboardAccessTest::EscapeAfterFullScreenBelongsToPreview() {
    CWindow window;
    CPreviewWindow* pPreview = OpenPreviewed(window);
    QVERIFY(pPreview != nullptr);
    QTRY_COMPARE(QGuiApplication::focusWindow(), pPreview->windowHandle());

    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_F);
    QVERIFY(g_pPreview->m_bFullScreen);
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QVERIFY(!g_pPreview->m_bFullScreen);
    QTRY_COMPARE(QGuiApplication::focusWindow(), pPreview->windowHandle());
    QCOMPARE(QApplication::focusWidget(), pPreview);

    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(window.Dlg().isVisible());
    QCOMPARE(window.Dlg().result(), 0);
    QVERIFY(g_pPreview != nullptr);
    QVERIFY(!g_pPreview->m_bFullScreen);
    QCOMPARE(QGuiApplication::focusWindow(), pPreview->windowHandle());
}

// In full screen the Escape that closes the popup menu is the menu's: its release, which comes
// to the video once the menu has gone, does not leave full screen as well.
void CKeyboardAccessTest::EscapeClosingMenuKeepsFullScreen() {
    CWindow window;
    CPreviewWindow* pPreview = OpenPreviewed(window);
    QVERIFY(pPreview != nullptr);
    QTRY_COMPARE(QGuiApplication::focusWindow(), pPreview->windowHandle());
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_F);
    QVERIFY(g_pPreview->m_bFullScreen);

    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Menu);
    QTRY_VERIFY(g_pPreview->ContextMenu() != nullptr && g_pPreview->ContextMenu()->isVisible());
    QTest::keyPress(g_pPreview->ContextMenu(), Qt::Key_Escape);
    QTRY_VERIFY(g_pPreview->ContextMenu() == nullptr || !g_pPreview->ContextMenu()->isVisible());
    // A desktop gives the keyboard back to the preview when the menu goes; the offscreen
    // platform gives it to no window.
    pPreview->activateWindow();
    QTRY_COMPARE(QGuiApplication::focusWindow(), pPreview->windowHandle());
    QTest::keyRelease(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QVERIFY(g_pPreview->m_bFullScreen);

    // A whole Escape of its own still leaves.
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QVERIFY(!g_pPreview->m_bFullScreen);
}

QTEST_MAIN(CKeyboardAccessTest)
#include "keyboardaccesstest.moc"
