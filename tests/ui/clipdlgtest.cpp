// The main window, driven headless with every desktop service scripted: its start, the mode
// layouts, the exchange, the ways it ends, the output destination, help and About.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <functional>
#include <memory>

#include "app/aboutdlg.h"
#include "app/clipapp.h"
#include "platform/desktop/testing/fakeshellservices.h"
#include "platform/desktop/windowmessage.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "windowfixture.h"

using namespace Qt::StringLiterals;

namespace {

const CSettingsScope kScope{u"Quellbrook"_s, u"tarnwick"_s};

// What each mode shows, and the controls no mode touches.
const QSet<int> kFrameOnly = {IDC_POSITION_SLIDER, IDC_POSITION,     IDC_PLAY,
                              IDC_PAUSE,           IDC_STOP,         IDC_START_TIME,
                              IDC_END_TIME,        IDC_START_HOUR,   IDC_START_COLON1,
                              IDC_START_MINUTE,    IDC_START_COLON2, IDC_START_SECOND,
                              IDC_END_HOUR,        IDC_END_COLON1,   IDC_END_MINUTE,
                              IDC_END_COLON2,      IDC_END_SECOND,   IDC_OUTPUT_FILE_LABEL,
                              IDC_OUTPUT_FILE,     IDC_CUT_START,    IDC_BROWSE_FILE};
const QSet<int> kSizeOnly = {IDC_PIECE_COUNT_LABEL, IDC_PIECE_COUNT, IDC_PIECE_COUNT_SPIN,
                             IDC_EACH_SIZE_LABEL,   IDC_EACH_SIZE,   IDC_SIZE_START};
const QSet<int> kTimeOnly = {IDC_PIECE_SECONDS_LABEL, IDC_PIECE_SECONDS, IDC_PIECE_SECONDS_SPIN,
                             IDC_SECONDS_LABEL, IDC_TIME_START};
const QSet<int> kSeries = {IDC_OUTPUT_FOLDER_LABEL, IDC_OUTPUT_FOLDER, IDC_BROWSE_FOLDER};
const QSet<int> kAlwaysShown = {IDC_OPEN_MPEG, IDC_INFO_LINE,  IDC_BY_FRAME, IDC_BY_SIZE,
                                IDC_BY_TIME,   IDC_CLEAN_CUTS, IDC_HOMEPAGE, IDC_HELP_BUTTON};

// The desktop's font for the life of one window: the application font, put back afterwards.
class CDesktopFont {
public:
    explicit CDesktopFont(const QFont& font) : m_previous(QApplication::font()) {
        QApplication::setFont(font);
    }
    ~CDesktopFont() { QApplication::setFont(m_previous); }
    CDesktopFont(const CDesktopFont&) = delete;
    CDesktopFont& operator=(const CDesktopFont&) = delete;

private:
    QFont m_previous;
};

QSet<int> AllControls() {
    return kFrameOnly + kSizeOnly + kTimeOnly + kSeries + kAlwaysShown +
           QSet<int>{IDC_CLOSE_SOURCE};
}

}  // namespace

class CClipDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void StartShowsByFrameLayoutAndDefaults();
    void EachModeShowsExactlyItsControls_data();
    void EachModeShowsExactlyItsControls();
    void SwitchingModesKeepsTypedText();
    void ExchangeTakesLeadingIntegersUnchecked();
    void ExchangeStopsAtFieldWithoutNumber_data();
    void ExchangeStopsAtFieldWithoutNumber();
    void ExchangeTakesOutputFileBeforeFailingPieceCount();
    void ExchangeTowardsControlsRewritesThem();
    void StoredValuesWinOverDefaults();
    void UnknownVideosFolderFallsBackToPlainDefaults();
    void RootVideosFolderGivesSingleSeparator();
    void RenamedApplicationReadsItsOwnSettings();
    void CloseBoxStoresFolderValueNotTypedText();
    void EscapeEndsWindowStoringNothing();
    void EnterWithValidFieldsEndsWindow();
    void EnterWithInvalidFieldKeepsWindowOpen();
    void EnterOnFocusedButtonPressesIt();
    void BrowseOutputFileMakesMpgPath_data();
    void BrowseOutputFileMakesMpgPath();
    void BrowseOutputFileStartsInFolderOfStoredValue_data();
    void BrowseOutputFileStartsInFolderOfStoredValue();
    void CancelledSaveDialogChangesNothing();
    void BrowseFolderAddsFinalSeparator_data();
    void BrowseFolderAddsFinalSeparator();
    void FolderBrowserStartsAtOutputFolderWhenItExists();
    void CancelledFolderBrowserStoresAndShowsValueAgain();
    void CloseAfterBrowseStoresChosenFolderAgain();
    void PathsBeyondPlatformLimitAreRefusedWhole();
    void WindowMenuEndsWithAboutEntry();
    void WindowMenuOpensFromFreeAreaAndKeyboard();
    void AboutCommandIgnoresLowFourBits();
    void HelpAndHomepageLaunchTheirTargets();
    void PositionReportRefreshesDisplayUnlessSliderHeld();
    void CleanCutsAreStoredWhenChangedAndReadAtStart();
    void WindowCarriesIdentifiersAndNames();
    void TabOrderFollowsTemplate();
    void WindowScalesWithDesktopFont();
    void VisibleControlsNeitherOverlapNorClipText_data();
    void VisibleControlsNeitherOverlapNorClipText();
};

void CClipDlgTest::StartShowsByFrameLayoutAndDefaults() {
    CWindow window;
    CClipDlg& dlg = window.Show();

    QVERIFY(window.Button(IDC_BY_FRAME)->isChecked());
    for (const int nId : AllControls()) {
        const bool bExpected = kFrameOnly.contains(nId) || kAlwaysShown.contains(nId);
        QVERIFY2(window.Dlg().GetDlgItem(nId)->isVisibleTo(&dlg) == bExpected,
                 qPrintable(QString::number(nId)));
    }
    for (const int nId : {IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND, IDC_END_HOUR,
                          IDC_END_MINUTE, IDC_END_SECOND}) {
        QCOMPARE(window.Edit(nId)->text(), u"0"_s);
    }
    QCOMPARE(window.Edit(IDC_PIECE_COUNT)->text(), u"2"_s);
    QCOMPARE(window.Edit(IDC_PIECE_SECONDS)->text(), u"60"_s);
    QCOMPARE(dlg.m_nPieceSeconds, 60);
    QCOMPARE(window.Label(IDC_EACH_SIZE)->text(), QString());
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), QString());
    QVERIFY(!dlg.m_source.HasSourcePath());

    // Nothing stored: both defaults lie in the videos folder.
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"/home/u/Videos/"_s);
    QCOMPARE(dlg.m_strOutputFolder, u"/home/u/Videos/"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), u"/home/u/Videos/clip1.mpg"_s);
    QCOMPARE(dlg.m_strOutputFile, u"/home/u/Videos/clip1.mpg"_s);
    // Reading never stores.
    QVERIFY(window.shell.settings.Writes().empty());
    QVERIFY(window.shell.messageBoxes.Requests().empty());

    auto* pSlider = qobject_cast<QSlider*>(dlg.GetDlgItem(IDC_POSITION_SLIDER));
    QCOMPARE(pSlider->minimum(), 0);
    QCOMPARE(pSlider->maximum(), 600);
    QCOMPARE(pSlider->value(), 0);

    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.repaint();
    QCOMPARE(window.Label(IDC_POSITION)->text(), u"00:00:00"_s);
}

void CClipDlgTest::EachModeShowsExactlyItsControls_data() {
    QTest::addColumn<int>("nRadio");
    QTest::addColumn<QSet<int>>("shown");
    QTest::newRow("By frame") << IDC_BY_FRAME << kFrameOnly + kAlwaysShown;
    QTest::newRow("By size") << IDC_BY_SIZE << kSizeOnly + kSeries + kAlwaysShown;
    QTest::newRow("By time") << IDC_BY_TIME << kTimeOnly + kSeries + kAlwaysShown;
}

void CClipDlgTest::EachModeShowsExactlyItsControls() {
    QFETCH(int, nRadio);
    QFETCH(QSet<int>, shown);
    CWindow window;
    CClipDlg& dlg = window.Show();
    // From every other mode, and again from the same one.
    for (const int nFrom : {IDC_BY_FRAME, IDC_BY_SIZE, IDC_BY_TIME, nRadio}) {
        window.Button(nFrom)->click();
        window.Button(nRadio)->click();
        QVERIFY(window.Button(nRadio)->isChecked());
        for (const int nId : AllControls()) {
            QVERIFY2(dlg.GetDlgItem(nId)->isVisible() == shown.contains(nId),
                     qPrintable(u"control %1 after %2"_s.arg(nId).arg(nFrom)));
        }
    }
}

void CClipDlgTest::SwitchingModesKeepsTypedText() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    const std::pair<int, QString> typed[] = {
        {IDC_START_HOUR, u"12abc"_s},           {IDC_END_SECOND, u"-3"_s},
        {IDC_OUTPUT_FILE, u"/tmp/typed.mpg"_s}, {IDC_PIECE_COUNT, u"7x"_s},
        {IDC_PIECE_SECONDS, u"abc"_s},          {IDC_OUTPUT_FOLDER, u"/tmp/out"_s}};
    for (const auto& [nId, strText] : typed) {
        window.Edit(nId)->setText(strText);
    }
    for (const int nRadio : {IDC_BY_SIZE, IDC_BY_TIME, IDC_BY_FRAME, IDC_BY_TIME, IDC_BY_SIZE}) {
        window.Button(nRadio)->click();
    }
    for (const auto& [nId, strText] : typed) {
        QCOMPARE(window.Edit(nId)->text(), strText);
    }
    // A mode switch is no exchange.
    QCOMPARE(dlg.m_nStartHour, 0);
    QCOMPARE(dlg.m_nPieceCount, 2);
    QCOMPARE(dlg.m_strOutputFolder, u"/home/u/Videos/"_s);
}

void CClipDlgTest::ExchangeTakesLeadingIntegersUnchecked() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_START_HOUR)->setText(u"12abc"_s);
    window.Edit(IDC_START_MINUTE)->setText(u" 7"_s);
    window.Edit(IDC_START_SECOND)->setText(u"-5"_s);
    window.Edit(IDC_END_HOUR)->setText(u"+1"_s);
    window.Edit(IDC_END_MINUTE)->setText(u"75"_s);
    window.Edit(IDC_END_SECOND)->setText(u"\t59 s"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(u"  /tmp/with blanks.mpg "_s);
    window.Edit(IDC_PIECE_COUNT)->setText(u"20000"_s);

    QVERIFY(dlg.DoDataExchange(true));
    QCOMPARE(dlg.m_nStartHour, 12);
    QCOMPARE(dlg.m_nStartMinute, 7);
    QCOMPARE(dlg.m_nStartSecond, -5);
    QCOMPARE(dlg.m_nEndHour, 1);
    QCOMPARE(dlg.m_nEndMinute, 75);
    QCOMPARE(dlg.m_nEndSecond, 59);
    QCOMPARE(dlg.m_strOutputFile, u"  /tmp/with blanks.mpg "_s);
    QCOMPARE(dlg.m_nPieceCount, 20000);
    QVERIFY(window.shell.messageBoxes.Requests().empty());
    // The exchange from the controls writes nothing back into them.
    QCOMPARE(window.Edit(IDC_START_HOUR)->text(), u"12abc"_s);
}

void CClipDlgTest::ExchangeStopsAtFieldWithoutNumber_data() {
    QTest::addColumn<QString>("strText");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << u"abc"_s;
    QTest::newRow("lone sign") << u"-"_s;
    QTest::newRow("blanks") << u"   "_s;
    QTest::newRow("beyond 32 bits") << u"99999999999"_s;
}

void CClipDlgTest::ExchangeStopsAtFieldWithoutNumber() {
    QFETCH(QString, strText);
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_START_HOUR)->setText(u"4"_s);
    window.Edit(IDC_START_MINUTE)->setText(u"5"_s);
    window.Edit(IDC_START_SECOND)->setText(strText);
    window.Edit(IDC_END_SECOND)->setText(u"9"_s);
    window.Edit(IDC_OUTPUT_FILE)->setText(u"/later.mpg"_s);
    window.Edit(IDC_PIECE_COUNT)->setText(u"5"_s);
    // The box is on screen before the field is focused.
    QWidget* pFocusWhileShown = window.Edit(IDC_START_SECOND);
    window.shell.messageBoxes.SetOnShow(
        [&](const CMessageBoxRequest&) { pFocusWhileShown = dlg.focusWidget(); });

    QVERIFY(!dlg.DoDataExchange(true));

    const auto& requests = window.shell.messageBoxes.Requests();
    QCOMPARE(requests.size(), size_t{1});
    QCOMPARE(requests[0].kind, EMessageBoxKind::Application);
    QCOMPARE(requests[0].strCaption, u"tarnwick"_s);
    QCOMPARE(requests[0].strText, u"Please enter an integer."_s);
    QCOMPARE(requests[0].buttons, EMessageBoxButtons::Ok);
    QCOMPARE(requests[0].icon, EMessageBoxIcon::Exclamation);
    QVERIFY(pFocusWhileShown != window.Edit(IDC_START_SECOND));

    QCOMPARE(dlg.focusWidget(), window.Edit(IDC_START_SECOND));
    QCOMPARE(window.Edit(IDC_START_SECOND)->selectedText(), strText);
    // Fields before the failing one took their values; the later ones kept theirs.
    QCOMPARE(dlg.m_nStartHour, 4);
    QCOMPARE(dlg.m_nStartMinute, 5);
    QCOMPARE(dlg.m_nStartSecond, 0);
    QCOMPARE(dlg.m_nEndSecond, 0);
    QCOMPARE(dlg.m_strOutputFile, u"/home/u/Videos/clip1.mpg"_s);
    QCOMPARE(dlg.m_nPieceCount, 2);
}

void CClipDlgTest::ExchangeTakesOutputFileBeforeFailingPieceCount() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Button(IDC_BY_SIZE)->click();
    window.Edit(IDC_OUTPUT_FILE)->setText(u"/new.mpg"_s);
    window.Edit(IDC_PIECE_COUNT)->setText(u"x2"_s);
    QVERIFY(!dlg.DoDataExchange(true));
    QCOMPARE(dlg.m_strOutputFile, u"/new.mpg"_s);
    QCOMPARE(dlg.focusWidget(), window.Edit(IDC_PIECE_COUNT));
    // Only the browse command stores the output file.
    QVERIFY(window.shell.settings.Writes().empty());
}

void CClipDlgTest::ExchangeTowardsControlsRewritesThem() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_START_HOUR)->setText(u"typed"_s);
    window.Edit(IDC_PIECE_SECONDS)->setText(u"typed"_s);
    window.Edit(IDC_OUTPUT_FOLDER)->setText(u"typed"_s);
    dlg.m_strInfoLine = u"a.mpg  (01:01:05)"_s;
    dlg.m_nStartHour = -5;
    dlg.m_nEndMinute = 75;
    dlg.m_strOutputFile = u"/x/y.mpg"_s;
    dlg.m_nPieceCount = 12;

    QVERIFY(dlg.DoDataExchange(false));
    QCOMPARE(window.Label(IDC_INFO_LINE)->text(), u"a.mpg  (01:01:05)"_s);
    QCOMPARE(window.Edit(IDC_START_HOUR)->text(), u"-5"_s);
    QCOMPARE(window.Edit(IDC_END_MINUTE)->text(), u"75"_s);
    QCOMPARE(window.Edit(IDC_END_SECOND)->text(), u"0"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), u"/x/y.mpg"_s);
    QCOMPARE(window.Edit(IDC_PIECE_COUNT)->text(), u"12"_s);
    // Not exchanged.
    QCOMPARE(window.Edit(IDC_PIECE_SECONDS)->text(), u"typed"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"typed"_s);

    // The information line comes back from its control too.
    window.Label(IDC_INFO_LINE)->setText(QString());
    QVERIFY(dlg.DoDataExchange(true));
    QVERIFY(dlg.m_strInfoLine.isEmpty());
}

void CClipDlgTest::StoredValuesWinOverDefaults() {
    CWindow window;
    window.shell.settings.Preset(kScope, u"Option"_s, u"output_folder"_s, u"/data/cuts/"_s);
    window.shell.settings.Preset(kScope, u"Option"_s, u"output_cut_file"_s, u"/data/a.mpg"_s);
    CClipDlg& dlg = window.Show();
    QCOMPARE(dlg.m_strOutputFolder, u"/data/cuts/"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"/data/cuts/"_s);
    QCOMPARE(dlg.m_strOutputFile, u"/data/a.mpg"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), u"/data/a.mpg"_s);
}

void CClipDlgTest::UnknownVideosFolderFallsBackToPlainDefaults() {
    CWindow window;
    window.shell.shellFolders.SetFolder(CSIDL_MYVIDEO, std::nullopt);
    window.shell.settings.Preset(kScope, u"Option"_s, u"output_cut_file"_s, u"/kept.mpg"_s);
    CClipDlg& dlg = window.Show();

    QCOMPARE(dlg.m_strOutputFolder, u"/"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"/"_s);
    // The lookup is made, and fails, whether or not a value is stored.
    QCOMPARE(dlg.m_strOutputFile, u"/kept.mpg"_s);
    const auto& requests = window.shell.messageBoxes.Requests();
    QCOMPARE(requests.size(), size_t{2});
    for (const CMessageBoxRequest& request : requests) {
        QCOMPARE(request.kind, EMessageBoxKind::Owned);
        QCOMPARE(request.pOwner, &dlg);
        QCOMPARE(request.strCaption, u"Error"_s);
        QCOMPARE(request.strText, u"Can not get My Videos directory!"_s);
        QCOMPARE(request.icon, EMessageBoxIcon::None);
    }
}

void CClipDlgTest::RootVideosFolderGivesSingleSeparator() {
    CWindow window;
    window.shell.shellFolders.SetFolder(CSIDL_MYVIDEO, u"/"_s);
    CClipDlg& dlg = window.Show();
    QCOMPARE(dlg.m_strOutputFolder, u"/"_s);
    QCOMPARE(dlg.m_strOutputFile, u"/clip1.mpg"_s);
}

void CClipDlgTest::RenamedApplicationReadsItsOwnSettings() {
    CWindow window(u"/opt/tarnwick/cutter"_s);
    window.shell.settings.Preset(kScope, u"Option"_s, u"output_folder"_s, u"/tarnwick/"_s);
    window.shell.settings.Preset({u"Quellbrook"_s, u"cutter"_s}, u"Option"_s, u"output_folder"_s,
                                 u"/cutter/"_s);
    CClipDlg& dlg = window.Show();
    QCOMPARE(dlg.m_strOutputFolder, u"/cutter/"_s);

    dlg.close();
    const auto writes = window.WritesOf(u"output_folder"_s);
    QCOMPARE(writes.size(), size_t{1});
    QCOMPARE(writes[0].scope.strApplication, u"cutter"_s);
    QCOMPARE(writes[0].scope.strCompany, u"Quellbrook"_s);
}

void CClipDlgTest::CloseBoxStoresFolderValueNotTypedText() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_OUTPUT_FOLDER)->setText(u"/typed/"_s);
    qobject_cast<QSlider*>(dlg.GetDlgItem(IDC_POSITION_SLIDER))->setValue(300);

    QVERIFY(dlg.close());

    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    const auto writes = window.shell.settings.Writes();
    QCOMPARE(writes.size(), size_t{1});
    QCOMPARE(writes[0].strSection, u"Option"_s);
    QCOMPARE(writes[0].strName, u"output_folder"_s);
    QCOMPARE(writes[0].strValue, u"/home/u/Videos/"_s);
    // Closing disposes of the preview and puts the slider back to the start.
    QCOMPARE(qobject_cast<QSlider*>(dlg.GetDlgItem(IDC_POSITION_SLIDER))->value(), 0);
}

void CClipDlgTest::EscapeEndsWindowStoringNothing() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_START_HOUR)->setText(u"bad"_s);
    window.Edit(IDC_START_HOUR)->setFocus();

    QTest::keyClick(window.Edit(IDC_START_HOUR), Qt::Key_Escape);

    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(window.shell.settings.Writes().empty());
    QVERIFY(window.shell.messageBoxes.Requests().empty());
}

void CClipDlgTest::EnterWithValidFieldsEndsWindow() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QLineEdit* pOutput = window.Edit(IDC_OUTPUT_FILE);
    pOutput->setFocus();
    pOutput->setText(u"/typed.mpg"_s);

    QTest::keyClick(pOutput, Qt::Key_Return);

    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_strOutputFile, u"/typed.mpg"_s);
    QVERIFY(window.shell.settings.Writes().empty());
}

void CClipDlgTest::EnterWithInvalidFieldKeepsWindowOpen() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_END_MINUTE)->setText(u"x"_s);
    window.Edit(IDC_OUTPUT_FILE)->setFocus();

    QTest::keyClick(window.Edit(IDC_OUTPUT_FILE), Qt::Key_Enter, Qt::KeypadModifier);

    QVERIFY(dlg.isVisible());
    QCOMPARE(window.shell.messageBoxes.Requests().size(), size_t{1});
    QCOMPARE(dlg.focusWidget(), window.Edit(IDC_END_MINUTE));
}

void CClipDlgTest::EnterOnFocusedButtonPressesIt() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Button(IDC_HOMEPAGE)->setFocus();

    QTest::keyClick(window.Button(IDC_HOMEPAGE), Qt::Key_Return);

    QVERIFY(dlg.isVisible());
    QCOMPARE(window.shell.launcher.Opened().size(), size_t{1});
}

void CClipDlgTest::BrowseOutputFileMakesMpgPath_data() {
    QTest::addColumn<QString>("strChosen");
    QTest::addColumn<QString>("strExpected");
    QTest::newRow("other extension") << u"/v/cut.avi"_s << u"/v/cut.mpg"_s;
    QTest::newRow("no extension") << u"/v/cut"_s << u"/v/cut.mpg"_s;
    QTest::newRow("upper case") << u"/v/cut.MPG"_s << u"/v/cut.mpg"_s;
    QTest::newRow("two dots") << u"/v/show.part1.ts"_s << u"/v/show.part1.mpg"_s;
    // A dot in a folder name is no extension.
    QTest::newRow("dot in folder") << u"/home/u/my.clips/part"_s << u"/home/u/my.clips/part.mpg"_s;
}

void CClipDlgTest::BrowseOutputFileMakesMpgPath() {
    QFETCH(QString, strChosen);
    QFETCH(QString, strExpected);
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.shell.fileDialogs.ScriptChoice(strChosen);

    window.Button(IDC_BROWSE_FILE)->click();

    const auto& calls = window.shell.fileDialogs.Calls();
    QCOMPARE(calls.size(), size_t{1});
    QCOMPARE(calls[0].dialog, CFakeFileDialogs::EDialog::Save);
    QCOMPARE(calls[0].pOwner, &dlg);
    QCOMPARE(calls[0].strTitle, u"Select Output"_s);
    QCOMPARE(calls[0].filter.strText, u"MPEG file(*.mpg)"_s);
    QCOMPARE(calls[0].filter.strPattern, u"*.mpg"_s);
    QCOMPARE(calls[0].strInitial, u"/home/u/Videos"_s);

    QCOMPARE(dlg.m_strOutputFile, strExpected);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), strExpected);
    QCOMPARE(window.shell.settings.Value(kScope, u"Option"_s, u"output_cut_file"_s),
             std::optional<QString>(strExpected));
}

void CClipDlgTest::BrowseOutputFileStartsInFolderOfStoredValue_data() {
    QTest::addColumn<QString>("strOutputFile");
    QTest::addColumn<QString>("strInitialFolder");
    QTest::newRow("bare name") << u"clip.mpg"_s << u"."_s;
    QTest::newRow("root folder") << u"/clip1.mpg"_s << u"/"_s;
    QTest::newRow("with blanks") << u"/my videos/a b.mpg"_s << u"/my videos"_s;
}

void CClipDlgTest::BrowseOutputFileStartsInFolderOfStoredValue() {
    QFETCH(QString, strOutputFile);
    QFETCH(QString, strInitialFolder);
    CWindow window;
    CClipDlg& dlg = window.Show();
    dlg.m_strOutputFile = strOutputFile;
    // Text typed since the last exchange does not count.
    window.Edit(IDC_OUTPUT_FILE)->setText(u"/elsewhere/typed.mpg"_s);

    window.Button(IDC_BROWSE_FILE)->click();

    QCOMPARE(window.shell.fileDialogs.Calls().at(0).strInitial, strInitialFolder);
}

void CClipDlgTest::CancelledSaveDialogChangesNothing() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_OUTPUT_FILE)->setText(u"/typed.mpg"_s);
    window.shell.fileDialogs.ScriptCancel();

    window.Button(IDC_BROWSE_FILE)->click();

    QCOMPARE(dlg.m_strOutputFile, u"/home/u/Videos/clip1.mpg"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FILE)->text(), u"/typed.mpg"_s);
    QVERIFY(window.shell.settings.Writes().empty());
}

void CClipDlgTest::BrowseFolderAddsFinalSeparator_data() {
    QTest::addColumn<QString>("strChosen");
    QTest::addColumn<QString>("strExpected");
    QTest::newRow("folder") << u"/v/Video"_s << u"/v/Video/"_s;
    QTest::newRow("root") << u"/"_s << u"/"_s;
    QTest::newRow("blanks and dots") << u"/v/my.clips 2"_s << u"/v/my.clips 2/"_s;
}

void CClipDlgTest::BrowseFolderAddsFinalSeparator() {
    QFETCH(QString, strChosen);
    QFETCH(QString, strExpected);
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Button(IDC_BY_SIZE)->click();
    window.shell.fileDialogs.ScriptChoice(strChosen);

    window.Button(IDC_BROWSE_FOLDER)->click();

    const auto& calls = window.shell.fileDialogs.Calls();
    QCOMPARE(calls.size(), size_t{1});
    QCOMPARE(calls[0].dialog, CFakeFileDialogs::EDialog::Folder);
    QCOMPARE(calls[0].pOwner, &dlg);
    QCOMPARE(calls[0].strTitle, u"Choose a folder"_s);
    QCOMPARE(calls[0].strInitial, u"/home/u/Desktop"_s);
    QCOMPARE(dlg.m_strOutputFolder, strExpected);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), strExpected);
    QCOMPARE(window.shell.settings.Value(kScope, u"Option"_s, u"output_folder"_s),
             std::optional<QString>(strExpected));
}

void CClipDlgTest::FolderBrowserStartsAtOutputFolderWhenItExists() {
    QTemporaryDir dir;
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Button(IDC_BY_TIME)->click();
    dlg.m_strOutputFolder = dir.path() + u"/"_s;
    window.Button(IDC_BROWSE_FOLDER)->click();
    // Where the folder no longer exists, the desktop as before.
    dlg.m_strOutputFolder = dir.path() + u"/gone/"_s;
    window.Button(IDC_BROWSE_FOLDER)->click();

    const auto& calls = window.shell.fileDialogs.Calls();
    QCOMPARE(calls.size(), size_t{2});
    QCOMPARE(calls[0].strInitial, dir.path() + u"/"_s);
    QCOMPARE(calls[1].strInitial, u"/home/u/Desktop"_s);
}

void CClipDlgTest::CancelledFolderBrowserStoresAndShowsValueAgain() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Edit(IDC_OUTPUT_FOLDER)->setText(u"/typed"_s);
    window.shell.fileDialogs.ScriptCancel();
    window.Button(IDC_BROWSE_FOLDER)->click();
    QCOMPARE(dlg.m_strOutputFolder, u"/home/u/Videos/"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"/home/u/Videos/"_s);
    QCOMPARE(window.WritesOf(u"output_folder"_s).size(), size_t{1});

    // A value taken from the field by a split, without its separator, gets one even so.
    dlg.m_strOutputFolder = u"/e/out"_s;
    window.shell.fileDialogs.ScriptCancel();
    window.Button(IDC_BROWSE_FOLDER)->click();
    QCOMPARE(dlg.m_strOutputFolder, u"/e/out/"_s);
    QCOMPARE(window.WritesOf(u"output_folder"_s).back().strValue, u"/e/out/"_s);
}

void CClipDlgTest::CloseAfterBrowseStoresChosenFolderAgain() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.shell.fileDialogs.ScriptChoice(u"/v/Video"_s);
    window.Button(IDC_BROWSE_FOLDER)->click();
    dlg.close();
    const auto writes = window.WritesOf(u"output_folder"_s);
    QCOMPARE(writes.size(), size_t{2});
    QCOMPARE(writes[1].strValue, u"/v/Video/"_s);
}

void CClipDlgTest::PathsBeyondPlatformLimitAreRefusedWhole() {
    const QString strLong = u"/v/"_s + QString(PATH_MAX, u'x');
    CWindow window;
    window.shell.shellFolders.SetFolder(CSIDL_MYVIDEO, strLong);
    CClipDlg& dlg = window.Show();
    // A default that could never be opened gives way to the plain one.
    QCOMPARE(dlg.m_strOutputFolder, u"/"_s);
    QCOMPARE(dlg.m_strOutputFile, u"/clip1.mpg"_s);

    window.shell.fileDialogs.ScriptChoice(strLong);
    window.Button(IDC_BROWSE_FILE)->click();
    QCOMPARE(dlg.m_strOutputFile, u"/clip1.mpg"_s);
    QVERIFY(window.WritesOf(u"output_cut_file"_s).empty());

    window.shell.fileDialogs.ScriptChoice(strLong);
    window.Button(IDC_BROWSE_FOLDER)->click();
    QCOMPARE(dlg.m_strOutputFolder, u"/"_s);
    QCOMPARE(window.Edit(IDC_OUTPUT_FOLDER)->text(), u"/"_s);
}

namespace {

// Runs action while watching for a modal About box; closes it and answers whether it came.
bool OpensAboutBox(const std::function<void()>& action) {
    bool bSeen = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* pAbout = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            bSeen = pAbout->windowTitle() == u"About Tarnwick"_s && pAbout->isModal();
            pAbout->accept();
        }
    });
    watcher.start(10);
    action();
    return bSeen;
}

}  // namespace

void CClipDlgTest::WindowMenuEndsWithAboutEntry() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QMenu* pMenu = dlg.WindowMenu();
    QVERIFY(pMenu != nullptr);
    const QList<QAction*> actions = pMenu->actions();
    QCOMPARE(actions.size(), 7);
    QCOMPARE(actions[0]->text(), u"C&ut list..."_s);
    QCOMPARE(actions[1]->text(), u"&Join MPEG files..."_s);
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(actions[3]->text(), u"Mi&nimize"_s);
    QCOMPARE(actions[4]->text(), u"&Close"_s);
    QVERIFY(actions[5]->isSeparator());
    QCOMPARE(actions[6]->text(), u"&About Tarnwick"_s);

    QVERIFY(OpensAboutBox([&] { actions[6]->trigger(); }));
    // Back to the main window, unchanged.
    QVERIFY(dlg.isVisible());
    QVERIFY(window.shell.settings.Writes().empty());

    actions[4]->trigger();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(window.WritesOf(u"output_folder"_s).size(), size_t{1});
}

void CClipDlgTest::WindowMenuOpensFromFreeAreaAndKeyboard() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QMenu* pMenu = dlg.WindowMenu();
    auto rightClick = [&](const QPoint& pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, dlg.mapToGlobal(pos));
        QApplication::sendEvent(&dlg, &event);
        const bool bShown = pMenu->isVisible();
        pMenu->hide();
        return bShown;
    };
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    window.Edit(IDC_START_HOUR)->setFocus();
    QTest::keyClick(window.Edit(IDC_START_HOUR), Qt::Key_Space, Qt::AltModifier);
    QVERIFY(pMenu->isVisible());
    pMenu->hide();
    QCOMPARE(window.Edit(IDC_START_HOUR)->text(), u"0"_s);

    const QPoint freeArea(dlg.width() - 3, dlg.height() - 3);
    QCOMPARE(dlg.childAt(freeArea), nullptr);
    QVERIFY(rightClick(freeArea));
    QVERIFY(rightClick(window.Label(IDC_OUTPUT_FILE_LABEL)->geometry().center()));
    // Controls are not the window's free area.
    QVERIFY(!rightClick(window.Button(IDC_OPEN_MPEG)->geometry().center()));
}

void CClipDlgTest::AboutCommandIgnoresLowFourBits() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    for (unsigned nLow = 0; nLow < 16; ++nLow) {
        QVERIFY2(OpensAboutBox([&] { dlg.OnSysCommand(0x10 + nLow, 0); }),
                 qPrintable(QString::number(0x10 + nLow)));
    }
    QVERIFY(!OpensAboutBox([&] { dlg.OnSysCommand(0x20, 0); }));
    QVERIFY(!OpensAboutBox([&] { dlg.OnSysCommand(0x0F, 0); }));
    QVERIFY(dlg.isVisible());
}

void CClipDlgTest::HelpAndHomepageLaunchTheirTargets() {
    CWindow window(u"/opt/my tools/tarnwick"_s);
    CClipDlg& dlg = window.Show();

    window.Button(IDC_HELP_BUTTON)->click();
    window.Button(IDC_HOMEPAGE)->click();
    // The standard help key opens nothing.
    QTest::keyClick(&dlg, Qt::Key_F1);

    const auto& opened = window.shell.launcher.Opened();
    QCOMPARE(opened.size(), size_t{2});
    QCOMPARE(opened[0], QUrl::fromLocalFile(u"/opt/my tools/help/Introduction.htm"_s));
    QCOMPARE(opened[1].scheme(), u"https"_s);
    QCOMPARE(opened[1].path(), u"/index.htm"_s);
    QVERIFY(window.shell.messageBoxes.Requests().empty());

    // The build puts the page where the program's Help button looks for it.
    QVERIFY(QFile::exists(QStringLiteral(TARNWICK_EXECUTABLE_DIR "/help/Introduction.htm")));
}

void CClipDlgTest::PositionReportRefreshesDisplayUnlessSliderHeld() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QLabel* pPosition = window.Label(IDC_POSITION);

    pPosition->setText(u"stale"_s);
    window.App().m_bSliderDragging = true;
    PostWindowMessage(&dlg, WM_PREVIEW_POSITION);
    QCoreApplication::sendPostedEvents(&dlg, CWindowMessageEvent::EventType());
    QCOMPARE(pPosition->text(), u"stale"_s);

    window.App().m_bSliderDragging = false;
    PostWindowMessage(&dlg, WM_PREVIEW_POSITION);
    QCOMPARE(pPosition->text(), u"stale"_s);  // queued, not yet handled
    QCoreApplication::sendPostedEvents(&dlg, CWindowMessageEvent::EventType());
    QCOMPARE(pPosition->text(), u"00:00:00"_s);
}

void CClipDlgTest::CleanCutsAreStoredWhenChangedAndReadAtStart() {
    {
        CWindow window;
        CClipDlg& dlg = window.Show();
        auto* pCheck = qobject_cast<QCheckBox*>(dlg.GetDlgItem(IDC_CLEAN_CUTS));
        QVERIFY(pCheck != nullptr);
        // Off when nothing is stored, and reading stores nothing.
        QVERIFY(!pCheck->isChecked());
        QVERIFY(!dlg.m_bCleanCuts);
        QVERIFY(window.WritesOf(u"clean_cuts"_s).empty());
        QVERIFY(pCheck->accessibleName().startsWith(u"Clean cuts: "_s));

        // The keyboard switches it like the mouse, and each change is stored at once.
        pCheck->setFocus();
        QTest::keyClick(pCheck, Qt::Key_Space);
        QVERIFY(dlg.m_bCleanCuts);
        pCheck->click();
        QVERIFY(!dlg.m_bCleanCuts);
        pCheck->click();
        const auto writes = window.WritesOf(u"clean_cuts"_s);
        QCOMPARE(writes.size(), size_t{3});
        QCOMPARE(writes[0].strSection, u"Option"_s);
        QCOMPARE(writes[0].strValue, u"1"_s);
        QCOMPARE(writes[1].strValue, u"0"_s);
        QCOMPARE(writes[2].strValue, u"1"_s);
        // Closing stores the folder as before and this switch only where it changed.
        dlg.close();
        QCOMPARE(window.WritesOf(u"clean_cuts"_s).size(), size_t{3});
    }
    for (const auto& [strStored, bOn] :
         {std::pair{u"1"_s, true}, std::pair{u"0"_s, false}, std::pair{u"yes"_s, false}}) {
        CWindow window;
        window.shell.settings.Preset(kScope, u"Option"_s, u"clean_cuts"_s, strStored);
        CClipDlg& dlg = window.Show();
        QCOMPARE(qobject_cast<QCheckBox*>(dlg.GetDlgItem(IDC_CLEAN_CUTS))->isChecked(), bOn);
        QCOMPARE(dlg.m_bCleanCuts, bOn);
    }
}

void CClipDlgTest::WindowCarriesIdentifiersAndNames() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    QCOMPARE(dlg.windowTitle(), u"Tarnwick"_s);
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!dlg.windowIcon().isNull());

    for (const int nId : AllControls()) {
        QWidget* pControl = dlg.GetDlgItem(nId);
        QVERIFY(pControl != nullptr);
        QCOMPARE(pControl->objectName(), QString::number(nId));
        QCOMPARE(pControl->accessibleDescription(), QString::number(nId));
        QVERIFY2(!pControl->accessibleName().isEmpty(), qPrintable(QString::number(nId)));
        QCOMPARE(dlg.findChild<QWidget*>(QString::number(nId)), pControl);
    }
    const std::pair<int, QString> names[] = {{IDC_START_HOUR, u"Start hours"_s},
                                             {IDC_START_MINUTE, u"Start minutes"_s},
                                             {IDC_START_SECOND, u"Start seconds"_s},
                                             {IDC_END_HOUR, u"End hours"_s},
                                             {IDC_END_MINUTE, u"End minutes"_s},
                                             {IDC_END_SECOND, u"End seconds"_s},
                                             {IDC_PIECE_COUNT, u"Split file number"_s},
                                             {IDC_OUTPUT_FOLDER, u"Output directory"_s},
                                             {IDC_OUTPUT_FILE, u"Output File"_s},
                                             {IDC_OPEN_MPEG, u"Open MPEG"_s},
                                             {IDC_BY_TIME, u"By time"_s}};
    for (const auto& [nId, strName] : names) {
        QCOMPARE(dlg.GetDlgItem(nId)->accessibleName(), strName);
    }
    // No control text carries an access key.
    for (const auto* pButton : dlg.findChildren<QAbstractButton*>()) {
        QVERIFY(!pButton->text().contains(u'&'));
    }
}

void CClipDlgTest::TabOrderFollowsTemplate() {
    CWindow window;
    CClipDlg& dlg = window.Show();
    // The tab stops in template order; the mode group is one, at its checked button; statics
    // and up-downs are none.
    const int expected[] = {
        IDC_PIECE_COUNT,  IDC_OPEN_MPEG,     IDC_START_HOUR,    IDC_START_MINUTE,
        IDC_START_SECOND, IDC_END_HOUR,      IDC_END_MINUTE,    IDC_END_SECOND,
        IDC_CUT_START,    IDC_OUTPUT_FILE,   IDC_PLAY,          IDC_POSITION_SLIDER,
        IDC_PAUSE,        IDC_STOP,          IDC_START_TIME,    IDC_END_TIME,
        IDC_SIZE_START,   IDC_OUTPUT_FOLDER, IDC_BROWSE_FOLDER, IDC_PIECE_SECONDS,
        IDC_TIME_START,   IDC_BY_FRAME,      IDC_HOMEPAGE,      IDC_HELP_BUTTON,
        IDC_BROWSE_FILE,  IDC_CLOSE_SOURCE,  IDC_CLEAN_CUTS};
    // Tab walks the focus chain, passing over whatever takes no tab focus.
    QList<int> chain;
    QWidget* pWidget = dlg.GetDlgItem(expected[0]);
    do {
        bool bIsControl = false;
        const int nId = pWidget->objectName().toInt(&bIsControl);
        if (bIsControl && AllControls().contains(nId) && (pWidget->focusPolicy() & Qt::TabFocus)) {
            chain.append(nId);
        }
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != dlg.GetDlgItem(expected[0]));
    QCOMPARE(chain, QList<int>(std::begin(expected), std::end(expected)));
    for (const int nId :
         {IDC_BY_SIZE, IDC_BY_TIME, IDC_PIECE_COUNT_SPIN, IDC_INFO_LINE, IDC_EACH_SIZE}) {
        QVERIFY(!(dlg.GetDlgItem(nId)->focusPolicy() & Qt::TabFocus));
    }
}

void CClipDlgTest::WindowScalesWithDesktopFont() {
    QSize fallbackSize;
    {
        const CDesktopFont none(QFont(u"Sans Serif"_s, 9));
        CWindow window;
        CClipDlg& dlg = window.Show();
        // Where the desktop names no font, the one the template was drawn with.
        QCOMPARE(QFontInfo(dlg.font()).family(), u"DejaVu Sans"_s);
        QCOMPARE(dlg.font().pointSize(), 8);
        fallbackSize = dlg.size();
    }
    const CDesktopFont desktop(QFont(u"DejaVu Serif"_s, 12));
    CWindow window;
    CClipDlg& dlg = window.Show();
    QCOMPARE(QFontInfo(dlg.font()).family(), u"DejaVu Serif"_s);
    QCOMPARE(dlg.font().pointSize(), 12);
    QVERIFY(dlg.width() > fallbackSize.width() * 5 / 4);
    QVERIFY(dlg.height() > fallbackSize.height() * 5 / 4);
    QCOMPARE(dlg.GetDlgItem(IDC_HELP_BUTTON)->font(), dlg.font());
}

void CClipDlgTest::VisibleControlsNeitherOverlapNorClipText_data() {
    QTest::addColumn<int>("nRadio");
    QTest::addColumn<QFont>("desktopFont");
    // The toolkit's own guess stands for a desktop that names no font.
    const std::pair<const char*, QFont> fonts[] = {{"no desktop font", QFont(u"Sans Serif"_s, 9)},
                                                   {"10 pt", QFont(u"DejaVu Sans"_s, 10)},
                                                   {"12 pt", QFont(u"DejaVu Sans"_s, 12)},
                                                   {"serif 11 pt", QFont(u"DejaVu Serif"_s, 11)}};
    for (const auto& [pszFont, font] : fonts) {
        QTest::addRow("By frame, %s", pszFont) << IDC_BY_FRAME << font;
        QTest::addRow("By size, %s", pszFont) << IDC_BY_SIZE << font;
        QTest::addRow("By time, %s", pszFont) << IDC_BY_TIME << font;
    }
}

void CClipDlgTest::VisibleControlsNeitherOverlapNorClipText() {
    QFETCH(int, nRadio);
    QFETCH(QFont, desktopFont);
    const CDesktopFont desktop(desktopFont);
    CWindow window;
    CClipDlg& dlg = window.Show();
    window.Button(nRadio)->click();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.repaint();

    // Where each visible control draws: a static only as far as its text reaches.
    std::vector<std::pair<int, QRect>> areas;
    for (const int nId : AllControls()) {
        QWidget* pControl = dlg.GetDlgItem(nId);
        if (!pControl->isVisible()) {
            continue;
        }
        QVERIFY2(dlg.rect().contains(pControl->geometry()), qPrintable(QString::number(nId)));
        QRect rcArea = pControl->geometry();
        if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
            const QSize text = pLabel->fontMetrics().size(0, pLabel->text());
            QVERIFY2(text.width() <= pLabel->width() && text.height() <= pLabel->height(),
                     qPrintable(u"%1 cuts off %2"_s.arg(nId).arg(pLabel->text())));
            rcArea.setSize(text.boundedTo(rcArea.size()));
        } else if (auto* pButton = qobject_cast<QAbstractButton*>(pControl)) {
            const int nText = pButton->fontMetrics().horizontalAdvance(pButton->text());
            // A radio button or check box needs room for its mark as well.
            const bool bMarked = qobject_cast<QRadioButton*>(pButton) != nullptr ||
                                 qobject_cast<QCheckBox*>(pButton) != nullptr;
            const int nRoom = bMarked ? pButton->sizeHint().width() : nText + 8;
            QVERIFY2(nRoom <= pButton->width(),
                     qPrintable(u"%1 cuts off %2"_s.arg(nId).arg(pButton->text())));
        }
        if (!rcArea.isEmpty()) {
            areas.emplace_back(nId, rcArea);
        }
    }
    for (size_t i = 0; i < areas.size(); ++i) {
        for (size_t j = i + 1; j < areas.size(); ++j) {
            QVERIFY2(!areas[i].second.intersects(areas[j].second),
                     qPrintable(u"%1 overlaps %2"_s.arg(areas[i].first).arg(areas[j].first)));
        }
    }
}

QTEST_MAIN(CClipDlgTest)
#include "clipdlgtest.moc"
