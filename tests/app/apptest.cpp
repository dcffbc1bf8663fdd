// The application shell: names and paths taken from the executable, start-up, the settings
// kept per application name in the real store, and the About box.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/aboutdlg.h"
#include "app/appresources.h"
#include "app/clipapp.h"
#include "app/pathparts.h"
#include "app/startcommand.h"
#include "platform/desktop/qtsettingsstore.h"
#include "platform/desktop/testing/fakesettingsstore.h"

using namespace Qt::StringLiterals;

class CAppTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void TailFromLastBackslash_data();
    void TailFromLastBackslash();
    void FolderOfPath_data();
    void FolderOfPath();
    void RemoveFileExtensionLooksOnlyInFileName_data();
    void RemoveFileExtensionLooksOnlyInFileName();
    void NamesComeFromExecutable_data();
    void NamesComeFromExecutable();
    void StartUpRunsMainWindowModallyThenDestroysIt();
    void SettingsLiveUnderCompanyAndApplicationName();
    void RenamedExecutableKeepsSettingsOfItsOwn();
    void AboutBoxShowsIconVersionMakerAndOk();
    void HelpPageFoundBesideExecutableOrInstalled();
    void StartCommandTakesOneFileAndTheUsualOptions_data();
    void StartCommandTakesOneFileAndTheUsualOptions();
};

void CAppTest::TailFromLastBackslash_data() {
    QTest::addColumn<QString>("strPath");
    QTest::addColumn<QString>("strTail");
    QTest::newRow("file") << u"/clip1.mpg"_s << u"/clip1.mpg"_s;
    QTest::newRow("folder") << u"/"_s << u"/"_s;
    QTest::newRow("deep") << u"/home/u/Videos/clip1.mpg"_s << u"/clip1.mpg"_s;
    QTest::newRow("no separator") << u"clip1.mpg"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("multi-byte name") << u"/ä/日本/映像.mpg"_s << u"/映像.mpg"_s;
}

void CAppTest::TailFromLastBackslash() {
    QFETCH(QString, strPath);
    QFETCH(QString, strTail);
    QCOMPARE(::TailFromLastBackslash(strPath), strTail);
}

void CAppTest::FolderOfPath_data() {
    QTest::addColumn<QString>("strPath");
    QTest::addColumn<QString>("strFolder");
    QTest::newRow("executable") << u"/opt/tarnwick/tarnwick.HLP"_s << u"/opt/tarnwick/"_s;
    QTest::newRow("blanks") << u"/opt/my tools/t.HLP"_s << u"/opt/my tools/"_s;
    QTest::newRow("root") << u"/t.HLP"_s << u"/"_s;
    QTest::newRow("no separator") << u"t.HLP"_s << QString();
}

void CAppTest::FolderOfPath() {
    QFETCH(QString, strPath);
    QFETCH(QString, strFolder);
    QCOMPARE(::FolderOfPath(strPath), strFolder);
}

void CAppTest::RemoveFileExtensionLooksOnlyInFileName_data() {
    QTest::addColumn<QString>("strPath");
    QTest::addColumn<QString>("strStem");
    QTest::newRow("extension") << u"/v/cut.avi"_s << u"/v/cut"_s;
    QTest::newRow("two dots") << u"/v/show.part1.mpg"_s << u"/v/show.part1"_s;
    QTest::newRow("dot in folder only") << u"/home/u/my.clips/part"_s << u"/home/u/my.clips/part"_s;
    QTest::newRow("bare name") << u"cut.mpg"_s << u"cut"_s;
    QTest::newRow("no dot") << u"/v/cut"_s << u"/v/cut"_s;
}

void CAppTest::RemoveFileExtensionLooksOnlyInFileName() {
    QFETCH(QString, strPath);
    QFETCH(QString, strStem);
    QCOMPARE(RemoveFileExtension(strPath), strStem);
}

void CAppTest::NamesComeFromExecutable_data() {
    QTest::addColumn<QString>("strExecutable");
    QTest::addColumn<QString>("strName");
    QTest::addColumn<QString>("strHelpFile");
    QTest::newRow("installed") << u"/usr/bin/tarnwick"_s << u"tarnwick"_s
                               << u"/usr/bin/tarnwick.HLP"_s;
    QTest::newRow("renamed") << u"/opt/x/cutter"_s << u"cutter"_s << u"/opt/x/cutter.HLP"_s;
    QTest::newRow("with extension")
        << u"/opt/x/tarnwick.bin"_s << u"tarnwick"_s << u"/opt/x/tarnwick.HLP"_s;
    QTest::newRow("dotted folder")
        << u"/opt/v1.2/tarnwick"_s << u"tarnwick"_s << u"/opt/v1.2/tarnwick.HLP"_s;
}

void CAppTest::NamesComeFromExecutable() {
    QFETCH(QString, strExecutable);
    QFETCH(QString, strName);
    QFETCH(QString, strHelpFile);
    CFakeSettingsStore settings;
    const CClipApp app(strExecutable, settings);
    QCOMPARE(app.ApplicationName(), strName);
    QCOMPARE(app.HelpFilePath(), strHelpFile);
    QVERIFY(!app.m_bSliderDragging);
}

void CAppTest::StartUpRunsMainWindowModallyThenDestroysIt() {
    CFakeSettingsStore settings;
    CClipApp app(u"/opt/tarnwick/tarnwick"_s, settings);
    QPointer<QDialog> pBuilt;
    bool bWasMainWindowWhileRunning = false;
    bool bWasModal = false;
    bool bGivenApp = false;

    const bool bResult = app.StartUp([&](CClipApp& given) -> std::unique_ptr<QDialog> {
        bGivenApp = &given == &app;
        auto pDlg = std::make_unique<QDialog>();
        pBuilt = pDlg.get();
        QTimer::singleShot(0, pDlg.get(), [&, pDlg = pDlg.get()] {
            bWasMainWindowWhileRunning = app.MainWindow() == pDlg;
            bWasModal = QApplication::activeModalWidget() == pDlg;
            pDlg->reject();
        });
        return pDlg;
    });

    QVERIFY(!bResult);
    QVERIFY(bGivenApp);
    QVERIFY(bWasMainWindowWhileRunning);
    QVERIFY(bWasModal);
    QVERIFY(pBuilt.isNull());
    QCOMPARE(app.MainWindow(), nullptr);
}

void CAppTest::SettingsLiveUnderCompanyAndApplicationName() {
    CQtSettingsStore settings;
    CClipApp app(u"/opt/tarnwick/shellapp"_s, settings);
    QCOMPARE(app.ReadSetting(u"Option"_s, u"output_folder"_s, u"/dflt/"_s), u"/dflt/"_s);
    // Reading does not create the value.
    const QString strFile =
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath(u"Quellbrook/shellapp.conf"_s);
    QVERIFY(!QFile::exists(strFile));

    QVERIFY(app.WriteSetting(u"Option"_s, u"output_folder"_s, u"/home/u/a,b;c @x/"_s));
    QCOMPARE(app.ReadSetting(u"Option"_s, u"output_folder"_s, u"/dflt/"_s), u"/home/u/a,b;c @x/"_s);
    QFile file(strFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    QVERIFY(contents.contains("[Option]"));
    QVERIFY(contents.contains("output_folder="));
}

void CAppTest::RenamedExecutableKeepsSettingsOfItsOwn() {
    CQtSettingsStore settings;
    CClipApp original(u"/opt/tarnwick/tarnwick"_s, settings);
    CClipApp renamed(u"/opt/tarnwick/cutter"_s, settings);
    QVERIFY(original.WriteSetting(u"Option"_s, u"output_cut_file"_s, u"/a/original.mpg"_s));
    QCOMPARE(renamed.ReadSetting(u"Option"_s, u"output_cut_file"_s, u"/dflt.mpg"_s),
             u"/dflt.mpg"_s);
    QVERIFY(renamed.WriteSetting(u"Option"_s, u"output_cut_file"_s, u"/a/renamed.mpg"_s));
    QCOMPARE(original.ReadSetting(u"Option"_s, u"output_cut_file"_s, u"/dflt.mpg"_s),
             u"/a/original.mpg"_s);
    // Two copies under one name share their settings.
    CClipApp secondCopy(u"/elsewhere/cutter"_s, settings);
    QCOMPARE(secondCopy.ReadSetting(u"Option"_s, u"output_cut_file"_s, u"/dflt.mpg"_s),
             u"/a/renamed.mpg"_s);
}

void CAppTest::AboutBoxShowsIconVersionMakerAndOk() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), u"About Tarnwick"_s);
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));

    QStringList texts;
    bool bIcon = false;
    for (const QLabel* pLabel : about.findChildren<QLabel*>()) {
        texts << pLabel->text();
        bIcon = bIcon || !pLabel->pixmap().isNull();
    }
    QVERIFY(bIcon);
    QVERIFY(texts.contains(u"Tarnwick Version 2.3"_s));
    QVERIFY(std::any_of(texts.begin(), texts.end(),
                        [](const QString& s) { return s.contains(u"Quellbrook"_s); }));

    auto* pOk = about.findChild<QPushButton*>(u"1"_s);
    QVERIFY(pOk != nullptr);
    QCOMPARE(pOk->text(), u"OK"_s);
    QVERIFY(pOk->isDefault());
    QTimer::singleShot(0, pOk, &QPushButton::click);
    QCOMPARE(about.exec(), int(QDialog::Accepted));

    QVERIFY(!LoadApplicationIcon().pixmap(32, 32).isNull());
    QCOMPARE(LoadResourceString(IDS_ABOUTBOX), u"&About Tarnwick"_s);
}

void CAppTest::HelpPageFoundBesideExecutableOrInstalled() {
    QTemporaryDir root;
    const QString strBin = root.path() + u"/usr/bin/"_s;
    QVERIFY(QDir().mkpath(strBin));
    auto writePage = [](const QString& strPath) {
        QVERIFY(QDir().mkpath(QFileInfo(strPath).path()));
        QFile page(strPath);
        QVERIFY(page.open(QIODevice::WriteOnly));
    };
    // Nowhere: beside the executable, where the viewer says it is missing.
    QCOMPARE(LocateHelpPage(strBin), strBin + u"help/Introduction.htm"_s);
    // Installed: in the data folder beside bin.
    const QString strInstalled = root.path() + u"/usr/share/tarnwick/help/Introduction.htm"_s;
    writePage(strInstalled);
    QCOMPARE(LocateHelpPage(strBin), strInstalled);
    // In the build tree the page lies beside the executable, and that one wins.
    writePage(strBin + u"help/Introduction.htm"_s);
    QCOMPARE(LocateHelpPage(strBin), strBin + u"help/Introduction.htm"_s);
}

void CAppTest::StartCommandTakesOneFileAndTheUsualOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("ignored");
    QTest::addColumn<QString>("text");
    const int run = CStartCommand::kRun;
    QTest::newRow("nothing") << QStringList{} << run << QString() << 0 << QString();
    QTest::newRow("relative file")
        << QStringList{u"../a.mpg"_s} << run << u"/home/u/a.mpg"_s << 0 << QString();
    QTest::newRow("absolute file")
        << QStringList{u"/v/a b.mpg"_s} << run << u"/v/a b.mpg"_s << 0 << QString();
    QTest::newRow("file URL") << QStringList{u"file:///v/a%20b.mpg"_s} << run << u"/v/a b.mpg"_s
                              << 0 << QString();
    QTest::newRow("several files") << QStringList{u"a.mpg"_s, u"b.mpg"_s, u"c.mpg"_s} << run
                                   << u"/home/u/clips/a.mpg"_s << 2 << QString();
    QTest::newRow("a name starting with a dash after --")
        << QStringList{u"--"_s, u"-a.mpg"_s} << run << u"/home/u/clips/-a.mpg"_s << 0 << QString();
    QTest::newRow("help wins over a file and an unknown option")
        << QStringList{u"a.mpg"_s, u"-x"_s, u"--help"_s} << int{CStartCommand::kHelp} << QString()
        << 0 << u"Usage: tarnwick [FILE]"_s;
    QTest::newRow("short help") << QStringList{u"-h"_s} << int{CStartCommand::kHelp} << QString()
                                << 0 << u"--version"_s;
    QTest::newRow("version") << QStringList{u"--version"_s} << int{CStartCommand::kVersion}
                             << QString() << 0 << u"tarnwick 2.3\n"_s;
    QTest::newRow("unknown option")
        << QStringList{u"--frobnicate"_s, u"a.mpg"_s} << int{CStartCommand::kError} << QString()
        << 0 << u"tarnwick: unknown option --frobnicate\nTry 'tarnwick --help'.\n"_s;
    // Before the display: the toolkit's options are left to it, the file to the second reading.
    QTest::newRow("before the display: the toolkit's options")
        << QStringList{u"-platform"_s, u"offscreen"_s, u"--style=fusion"_s, u"a.mpg"_s} << run
        << QString() << 0 << QString();
    QTest::newRow("before the display: an unknown option")
        << QStringList{u"--platform"_s, u"xcb"_s, u"--frobnicate"_s} << int{CStartCommand::kError}
        << QString() << 0 << u"tarnwick: unknown option --frobnicate\n"_s;
}

void CAppTest::StartCommandTakesOneFileAndTheUsualOptions() {
    QFETCH(QStringList, args);
    QFETCH(int, action);
    QFETCH(QString, file);
    QFETCH(int, ignored);
    QFETCH(QString, text);
    // Rows named "before the display: ..." are the first reading.
    const EStartReading reading = QString::fromUtf8(QTest::currentDataTag()).startsWith(u"before"_s)
                                      ? EStartReading::kBeforeDisplay
                                      : EStartReading::kAfterToolkit;
    const CStartCommand command =
        ParseStartCommand(args, u"tarnwick"_s, u"2.3"_s, u"/home/u/clips"_s, reading);
    QCOMPARE(int{command.m_action}, action);
    QCOMPARE(command.m_strFile, file);
    QCOMPARE(command.m_nIgnoredFiles, ignored);
    QVERIFY2(command.m_strText.contains(text), qPrintable(command.m_strText));
}

int main(int argc, char* argv[]) {
    // The real settings store writes below XDG_CONFIG_HOME; keep it in a folder of this run,
    // set before Qt first looks at it.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication application(argc, argv);
    CAppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "apptest.moc"
