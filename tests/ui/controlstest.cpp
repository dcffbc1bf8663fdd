// The main window's own controls on their own: the integer rule of the exchange, the up-down
// beside a free-text field, and the position slider's hold flag and release notification.
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include "app/clipapp.h"
#include "platform/desktop/testing/fakesettingsstore.h"
#include "ui/dialoginteger.h"
#include "ui/positionslider.h"
#include "ui/updown.h"

using namespace Qt::StringLiterals;

namespace {

// A field with its up-down attached, as the main window sets up the piece count.
struct CSpinField {
    CSpinField() {
        field.setGeometry(100, 50, 70, 22);
        upDown.resize(19, 22);
        upDown.SetBuddy(&field);
        upDown.SetRange(1, 10000);
        field.setText(u"2"_s);
    }

    QWidget parent;
    QLineEdit field{&parent};
    CUpDown upDown{&parent};
};

}  // namespace

class CControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ParseDialogIntegerReadsLeadingNumber_data();
    void ParseDialogIntegerReadsLeadingNumber();
    void UpDownTakesRightEndOfField();
    void UpDownStepsFromNumberInField();
    void UpDownKeepsLastPositionForTextItCannotRead();
    void UpDownStopsAtRangeButStillNotifies();
    void UpDownStepsWithArrowKeysAndClicks();
    void SliderFlagsHoldAndReportsRelease();
};

void CControlsTest::ParseDialogIntegerReadsLeadingNumber_data() {
    QTest::addColumn<QString>("strText");
    QTest::addColumn<bool>("bRead");
    QTest::addColumn<int>("nValue");
    QTest::newRow("plain") << u"42"_s << true << 42;
    QTest::newRow("trailing letters") << u"12abc"_s << true << 12;
    QTest::newRow("leading blank") << u" 7"_s << true << 7;
    QTest::newRow("leading tab and newline") << u"\t\n9"_s << true << 9;
    QTest::newRow("negative") << u"-5"_s << true << -5;
    QTest::newRow("plus sign") << u"+8"_s << true << 8;
    QTest::newRow("leading zeros") << u"007"_s << true << 7;
    QTest::newRow("decimal point") << u"3.9"_s << true << 3;
    QTest::newRow("grouped") << u"1,000"_s << true << 1;
    QTest::newRow("largest") << u"2147483647"_s << true << 2147483647;
    QTest::newRow("smallest") << u"-2147483648"_s << true << int(-2147483647 - 1);
    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("letters") << u"abc"_s << false << 0;
    QTest::newRow("lone sign") << u"-"_s << false << 0;
    QTest::newRow("sign then blank") << u"- 5"_s << false << 0;
    QTest::newRow("blanks only") << u"    "_s << false << 0;
    QTest::newRow("too large") << u"2147483648"_s << false << 0;
    QTest::newRow("far too large") << u"123456789012345678901234567890"_s << false << 0;
    QTest::newRow("too small") << u"-2147483649"_s << false << 0;
    // Only the first 63 characters are looked at.
    QTest::newRow("digit at 63") << QString(62, u' ') + u"5"_s << true << 5;
    QTest::newRow("digit at 64") << QString(63, u' ') + u"5"_s << false << 0;
    QTest::newRow("number cut at 63") << QString(61, u' ') + u"123"_s << true << 12;
}

void CControlsTest::ParseDialogIntegerReadsLeadingNumber() {
    QFETCH(QString, strText);
    QFETCH(bool, bRead);
    QFETCH(int, nValue);
    const std::optional<int> value = ParseDialogInteger(strText);
    QCOMPARE(value.has_value(), bRead);
    if (bRead) {
        QCOMPARE(*value, nValue);
    }
}

void CControlsTest::UpDownTakesRightEndOfField() {
    CSpinField spin;
    QCOMPARE(spin.field.geometry(), QRect(100, 50, 51, 22));
    QCOMPARE(spin.upDown.geometry(), QRect(151, 50, 19, 22));
    QCOMPARE(spin.upDown.Buddy(), &spin.field);
    QCOMPARE(spin.upDown.focusPolicy(), Qt::NoFocus);
}

void CControlsTest::UpDownStepsFromNumberInField() {
    CSpinField spin;
    spin.upDown.Step(+1);
    QCOMPARE(spin.field.text(), u"3"_s);
    spin.field.setText(u"9999"_s);
    spin.upDown.Step(+1);
    // Decimal, no digit grouping.
    QCOMPARE(spin.field.text(), u"10000"_s);
    spin.field.setText(u" 60"_s);
    spin.upDown.Step(-1);
    QCOMPARE(spin.field.text(), u"59"_s);
    QCOMPARE(spin.upDown.Pos(), 59);
}

void CControlsTest::UpDownKeepsLastPositionForTextItCannotRead() {
    CSpinField spin;
    spin.upDown.Step(+1);  // 3
    for (const QString& strText : {u"12abc"_s, u"abc"_s, QString(), u"20000"_s, u"0"_s, u"5 "_s}) {
        spin.field.setText(strText);
        spin.upDown.Step(+1);
        QCOMPARE(spin.field.text(), u"4"_s);
        spin.upDown.Step(-1);
        QCOMPARE(spin.field.text(), u"3"_s);
        // Until it is stepped, the field keeps whatever was typed.
        spin.field.setText(strText);
        QCOMPARE(spin.field.text(), strText);
    }
}

void CControlsTest::UpDownStopsAtRangeButStillNotifies() {
    CSpinField spin;
    QSignalSpy notifications(&spin.upDown, &CUpDown::DeltaPos);

    spin.field.setText(u"1"_s);
    spin.upDown.Step(-1);
    QCOMPARE(spin.field.text(), u"1"_s);
    spin.field.setText(u"10000"_s);
    spin.upDown.Step(+1);
    QCOMPARE(spin.field.text(), u"10000"_s);
    spin.field.setText(u"2"_s);
    spin.upDown.Step(+1);

    QCOMPARE(notifications.size(), 3);
    QCOMPARE(notifications[0], (QList<QVariant>{1, -1}));
    QCOMPARE(notifications[1], (QList<QVariant>{10000, 1}));
    QCOMPARE(notifications[2], (QList<QVariant>{2, 1}));
}

void CControlsTest::UpDownStepsWithArrowKeysAndClicks() {
    CSpinField spin;
    QSignalSpy notifications(&spin.upDown, &CUpDown::DeltaPos);
    QTest::keyClick(&spin.field, Qt::Key_Up);
    QTest::keyClick(&spin.field, Qt::Key_Up);
    QCOMPARE(spin.field.text(), u"4"_s);
    QTest::keyClick(&spin.field, Qt::Key_Down);
    QCOMPARE(spin.field.text(), u"3"_s);

    QTest::mouseClick(&spin.upDown, Qt::LeftButton, {}, QPoint(9, 3));
    QCOMPARE(spin.field.text(), u"4"_s);
    QTest::mouseClick(&spin.upDown, Qt::LeftButton, {}, QPoint(9, 19));
    QTest::mouseClick(&spin.upDown, Qt::LeftButton, {}, QPoint(9, 19));
    QCOMPARE(spin.field.text(), u"2"_s);
    QCOMPARE(notifications.size(), 6);

    // Other keys still edit the field.
    QTest::keyClick(&spin.field, Qt::Key_End);
    QTest::keyClicks(&spin.field, u"x"_s);
    QCOMPARE(spin.field.text(), u"2x"_s);
}

void CControlsTest::SliderFlagsHoldAndReportsRelease() {
    CFakeSettingsStore settings;
    CClipApp app(u"/opt/tarnwick/tarnwick"_s, settings);
    CPositionSlider slider(app);
    slider.setRange(0, 600);
    slider.resize(400, 22);
    QSignalSpy released(&slider, &CPositionSlider::ReleasedCapture);

    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(200, 11));
    QVERIFY(app.m_bSliderDragging);
    QCOMPARE(released.size(), 0);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(300, 11));
    QVERIFY(!app.m_bSliderDragging);
    QCOMPARE(released.size(), 1);

    // Keys move the thumb without a notification; other buttons do not hold it.
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Right);
    QTest::mousePress(&slider, Qt::RightButton, {}, QPoint(100, 11));
    QVERIFY(!app.m_bSliderDragging);
    QTest::mouseRelease(&slider, Qt::RightButton, {}, QPoint(100, 11));
    QCOMPARE(released.size(), 1);
}

QTEST_MAIN(CControlsTest)
#include "controlstest.moc"
