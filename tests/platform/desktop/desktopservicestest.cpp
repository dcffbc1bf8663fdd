// The Qt implementations of the desktop services: what each kind of message box looks like,
// the counted busy cursor, the settings file, the special folders, dialog units and posted
// window messages.
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

#include "platform/desktop/dialogunits.h"
#include "platform/desktop/qtbusycursor.h"
#include "platform/desktop/qtfiledialogs.h"
#include "platform/desktop/qtmessageboxes.h"
#include "platform/desktop/qtsettingsstore.h"
#include "platform/desktop/qtshellfolders.h"
#include "platform/desktop/windowmessage.h"

using namespace Qt::StringLiterals;

namespace {

// Records the window messages it receives.
class CMessageSink : public QObject {
public:
    std::vector<std::tuple<unsigned, quintptr, qintptr>> received;

protected:
    void customEvent(QEvent* pEvent) override {
        if (pEvent->type() == CWindowMessageEvent::EventType()) {
            const auto* pMessage = static_cast<CWindowMessageEvent*>(pEvent);
            received.emplace_back(pMessage->Message(), pMessage->WParam(), pMessage->LParam());
        }
    }
};

}  // namespace

class CDesktopServicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void EachKindFixesOwnerCaptionButtonsAndIcon();
    void ApplicationBoxIsOwnedByActiveWindow();
    void ReplaceQuestionAnswersYesOnlyForYes();
    void BusyCursorCountsAndNeverGoesBelowZero();
    void SettingsKeepAwkwardStringsWhole();
    void SettingsWriteReportsFailure();
    void ShellFoldersFallBackToHome();
    void DialogUnitsFollowTheFont();
    void FileFilterTakesQtForm();
    void WindowMessagesArriveInOrderAfterReturn();
};

void CDesktopServicesTest::EachKindFixesOwnerCaptionButtonsAndIcon() {
    QWidget owner;
    const CMessageBoxRequest owned = OwnedMessage(&owner, u"Error"_s, u"Can not open!"_s);
    QCOMPARE(owned.kind, EMessageBoxKind::Owned);
    QCOMPARE(owned.pOwner, &owner);
    QCOMPARE(owned.buttons, EMessageBoxButtons::Ok);
    QCOMPARE(owned.icon, EMessageBoxIcon::None);

    const CMessageBoxRequest question = ReplaceQuestion(u"/a.mpg exists."_s);
    QCOMPARE(question.pOwner, nullptr);
    QCOMPARE(question.strCaption, u"Warning"_s);
    QCOMPARE(question.buttons, EMessageBoxButtons::YesNo);
    QCOMPARE(question.icon, EMessageBoxIcon::Exclamation);

    const CMessageBoxRequest preview = PreviewMessage(u"Message"_s, u"graph failed"_s);
    QCOMPARE(preview.kind, EMessageBoxKind::Preview);
    QCOMPARE(preview.pOwner, nullptr);
    QCOMPARE(preview.icon, EMessageBoxIcon::None);

    // The boxes as shown.
    std::unique_ptr<QMessageBox> box = CQtMessageBoxes::Build(owned);
    QCOMPARE(box->parentWidget(), &owner);
    QCOMPARE(box->windowTitle(), u"Error"_s);
    QCOMPARE(box->text(), u"Can not open!"_s);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);

    box = CQtMessageBoxes::Build(question);
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box->escapeButton(), box->button(QMessageBox::No));

    box = CQtMessageBoxes::Build(preview);
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(box->windowTitle(), u"Message"_s);
}

void CDesktopServicesTest::ApplicationBoxIsOwnedByActiveWindow() {
    const CMessageBoxRequest request =
        ApplicationMessage(u"cutter"_s, u"Please enter an integer."_s);
    QCOMPARE(request.kind, EMessageBoxKind::Application);
    QCOMPARE(request.strCaption, u"cutter"_s);
    QCOMPARE(request.icon, EMessageBoxIcon::Exclamation);

    QWidget active;
    active.show();
    active.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&active));
    const std::unique_ptr<QMessageBox> box = CQtMessageBoxes::Build(request);
    QCOMPARE(box->parentWidget(), &active);
    QCOMPARE(box->windowTitle(), u"cutter"_s);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
}

void CDesktopServicesTest::ReplaceQuestionAnswersYesOnlyForYes() {
    CQtMessageBoxes boxes;
    auto answerWith = [&](QMessageBox::StandardButton button) {
        QTimer::singleShot(0, [button] {
            auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (pBox == nullptr) {
                return;
            }
            if (button == QMessageBox::Escape) {
                pBox->reject();
            } else {
                pBox->button(button)->click();
            }
        });
        return boxes.Show(ReplaceQuestion(u"/a.mpg exists. Do you want to replace it?"_s));
    };
    QCOMPARE(answerWith(QMessageBox::Yes), EMessageBoxAnswer::Yes);
    QCOMPARE(answerWith(QMessageBox::No), EMessageBoxAnswer::No);
    QCOMPARE(answerWith(QMessageBox::Escape), EMessageBoxAnswer::No);
}

void CDesktopServicesTest::BusyCursorCountsAndNeverGoesBelowZero() {
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    {
        CQtBusyCursor cursor;
        cursor.Lower();
        QCOMPARE(cursor.Depth(), 0);
        cursor.Raise();
        cursor.Raise();
        QCOMPARE(cursor.Depth(), 2);
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        cursor.Lower();
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        cursor.Lower();
        cursor.Lower();
        QCOMPARE(cursor.Depth(), 0);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        // A cursor raised by someone else is not ours to restore.
        QGuiApplication::setOverrideCursor(Qt::CrossCursor);
        cursor.Lower();
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
        QGuiApplication::restoreOverrideCursor();
        cursor.Raise();
    }
    // Levels still raised go with their owner.
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void CDesktopServicesTest::SettingsKeepAwkwardStringsWhole() {
    CQtSettingsStore store;
    const CSettingsScope scope{u"Quellbrook"_s, u"awkward"_s};
    const QString values[] = {u"/home/u/a,b/"_s,
                              u"@start/"_s,
                              u"/semi;colon/x=y/"_s,
                              u" leading blank/"_s,
                              u"/ä/日本/"_s,
                              u"/quote\"d\\back/"_s,
                              QString()};
    for (const QString& strValue : values) {
        QVERIFY(store.WriteString(scope, u"Option"_s, u"output_folder"_s, strValue));
        QCOMPARE(store.ReadString(scope, u"Option"_s, u"output_folder"_s, u"dflt"_s), strValue);
    }
    QCOMPARE(store.ReadString(scope, u"Option"_s, u"missing"_s, u"dflt"_s), u"dflt"_s);
    QCOMPARE(store.ReadString(scope, u"Other"_s, u"output_folder"_s, u"dflt"_s), u"dflt"_s);
}

void CDesktopServicesTest::SettingsWriteReportsFailure() {
    // A folder where the settings file should be: nothing can be written there.
    const QDir config(qEnvironmentVariable("XDG_CONFIG_HOME"));
    QVERIFY(config.mkpath(u"Quellbrook/blocked.conf"_s));
    CQtSettingsStore store;
    const CSettingsScope scope{u"Quellbrook"_s, u"blocked"_s};
    QVERIFY(!store.WriteString(scope, u"Option"_s, u"output_folder"_s, u"/x/"_s));
    QCOMPARE(store.ReadString(scope, u"Option"_s, u"output_folder"_s, u"dflt"_s), u"dflt"_s);
}

void CDesktopServicesTest::ShellFoldersFallBackToHome() {
    const QDir home(QDir::homePath());
    CQtShellFolders folders;
    QCOMPARE(folders.GetFolderPath(CSIDL_MYVIDEO), std::optional<QString>(home.path()));
    QCOMPARE(folders.GetFolderPath(CSIDL_DESKTOP), std::optional<QString>(home.path()));
    QVERIFY(home.mkpath(u"Videos"_s));
    QVERIFY(home.mkpath(u"Desktop"_s));
    QCOMPARE(folders.GetFolderPath(CSIDL_MYVIDEO),
             std::optional<QString>(home.filePath(u"Videos"_s)));
    QCOMPARE(folders.GetFolderPath(CSIDL_DESKTOP),
             std::optional<QString>(home.filePath(u"Desktop"_s)));
    QCOMPARE(folders.GetFolderPath(0x05), std::nullopt);
}

void CDesktopServicesTest::DialogUnitsFollowTheFont() {
    const QFont font = CDialogUnits::DialogFont();
    // The package list installs the font the template sizes were checked with.
    QCOMPARE(QFontInfo(font).family(), u"DejaVu Sans"_s);
    const CDialogUnits units(font);
    QVERIFY(units.BaseX() > 0 && units.BaseY() > 0);
    QCOMPARE(units.ToPixels(0, 0, 4, 8), QRect(0, 0, units.BaseX(), units.BaseY()));
    // Controls that touch in dialog units touch in pixels, whatever the rounding.
    for (int x = 0; x < 40; ++x) {
        QCOMPARE(units.ToPixels(x, x, 3, 5).right() + 1, units.ToPixels(x + 3, 0, 1, 1).left());
        QCOMPARE(units.ToPixels(x, x, 3, 5).bottom() + 1, units.ToPixels(0, x + 5, 1, 1).top());
    }
    QFont larger = font;
    larger.setPointSize(16);
    QVERIFY(CDialogUnits(larger).BaseX() > units.BaseX());
}

void CDesktopServicesTest::FileFilterTakesQtForm() {
    QCOMPARE(CQtFileDialogs::NameFilter({u"MPEG File(*.mpg;*.mpeg)"_s, u"*.mpg;*.mpeg"_s}),
             u"MPEG File(*.mpg *.mpeg)"_s);
    QCOMPARE(CQtFileDialogs::NameFilter({u"MPEG file(*.mpg)"_s, u"*.mpg"_s}),
             u"MPEG file(*.mpg)"_s);
    QCOMPARE(CQtFileDialogs::NameFilter({u"Clips"_s, u"*.mpg"_s}), u"Clips (*.mpg)"_s);

    // The open dialog offers several filters in their order, the first selected.
    QFileDialog dialog;
    CQtFileDialogs::SetNameFilters(dialog, {{u"MPEG File(*.mpg;*.mpeg)"_s, u"*.mpg;*.mpeg"_s},
                                            {u"DVD video (*.vob)"_s, u"*.vob"_s},
                                            {u"All files (*)"_s, u"*"_s}});
    QCOMPARE(dialog.nameFilters(), QStringList({u"MPEG File(*.mpg *.mpeg)"_s,
                                                u"DVD video (*.vob)"_s, u"All files (*)"_s}));
    QCOMPARE(dialog.selectedNameFilter(), u"MPEG File(*.mpg *.mpeg)"_s);
}

void CDesktopServicesTest::WindowMessagesArriveInOrderAfterReturn() {
    CMessageSink sink;
    PostWindowMessage(&sink, WM_USER + 3);
    PostWindowMessage(&sink, WM_COMMAND, 1053, 7);
    QVERIFY(sink.received.empty());
    QCoreApplication::sendPostedEvents(&sink);
    QCOMPARE(sink.received.size(), size_t{2});
    QCOMPARE(sink.received[0], std::make_tuple(1027u, quintptr{0}, qintptr{0}));
    QCOMPARE(sink.received[1], std::make_tuple(0x0111u, quintptr{1053}, qintptr{7}));
}

int main(int argc, char* argv[]) {
    // Settings and special folders of this run only, set before Qt first looks at them.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(u".config"_s).toUtf8());
    QApplication application(argc, argv);
    CDesktopServicesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "desktopservicestest.moc"
