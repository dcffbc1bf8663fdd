#include "ui/updown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <optional>

namespace {

// Holding an arrow steps again after a pause, then quickly, as the keyboard repeats.
constexpr int kRepeatDelayMs = 500;
constexpr int kRepeatIntervalMs = 50;

// The whole text as one decimal number, white space allowed only in front; anything else,
// such as "12abc", is not a number the control can step from.
std::optional<int> StrictInteger(const QString& strText) {
    QStringView text(strText);
    while (!text.isEmpty() && text.front().isSpace()) {
        text = text.mid(1);
    }
    if (text.isEmpty() || text.back().isSpace()) {
        return std::nullopt;
    }
    bool bOk = false;
    const int nValue = text.toInt(&bOk, 10);
    return bOk ? std::optional<int>(nValue) : std::nullopt;
}

}  // namespace

CUpDown::CUpDown(QWidget* pParent) : QWidget(pParent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void CUpDown::SetBuddy(QLineEdit* pBuddy) {
    if (m_pBuddy != nullptr) {
        m_pBuddy->removeEventFilter(this);
    }
    m_pBuddy = pBuddy;
    if (m_pBuddy == nullptr) {
        return;
    }
    const QRect rcBuddy = m_pBuddy->geometry();
    const int nWidth = width();
    m_pBuddy->setGeometry(rcBuddy.adjusted(0, 0, -nWidth, 0));
    setGeometry(rcBuddy.right() + 1 - nWidth, rcBuddy.top(), nWidth, rcBuddy.height());
    m_pBuddy->installEventFilter(this);
}

void CUpDown::SetRange(int nLower, int nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = std::clamp(m_nPos, std::min(nLower, nUpper), std::max(nLower, nUpper));
}

void CUpDown::SyncFromBuddy() {
    if (m_pBuddy == nullptr) {
        return;
    }
    const std::optional<int> value = StrictInteger(m_pBuddy->text());
    if (value && *value >= m_nLower && *value <= m_nUpper) {
        m_nPos = *value;
    }
}

void CUpDown::Step(int nDelta) {
    SyncFromBuddy();
    Q_EMIT DeltaPos(m_nPos, nDelta);
    const int nNewPos = std::clamp(m_nPos + nDelta, m_nLower, m_nUpper);
    if (nNewPos == m_nPos) {
        return;
    }
    m_nPos = nNewPos;
    if (m_pBuddy != nullptr) {
        m_pBuddy->setText(QString::number(m_nPos));
    }
}

bool CUpDown::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pBuddy && pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->modifiers() == Qt::NoModifier || pKey->modifiers() == Qt::KeypadModifier) {
            if (pKey->key() == Qt::Key_Up) {
                Step(+1);
                return true;
            }
            if (pKey->key() == Qt::Key_Down) {
                Step(-1);
                return true;
            }
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

int CUpDown::DeltaAt(const QPoint& point) const {
    return point.y() < height() / 2 ? +1 : -1;
}

void CUpDown::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(pEvent);
        return;
    }
    if (m_pBuddy != nullptr) {
        m_pBuddy->setFocus(Qt::MouseFocusReason);
    }
    m_nPressedDelta = DeltaAt(pEvent->position().toPoint());
    Step(m_nPressedDelta);
    m_repeat.start(kRepeatDelayMs, this);
    update();
}

void CUpDown::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(pEvent);
        return;
    }
    m_repeat.stop();
    m_nPressedDelta = 0;
    update();
}

void CUpDown::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() != m_repeat.timerId()) {
        QWidget::timerEvent(pEvent);
        return;
    }
    m_repeat.start(kRepeatIntervalMs, this);
    if (m_nPressedDelta != 0) {
        Step(m_nPressedDelta);
    }
}

void CUpDown::paintEvent(QPaintEvent* /*pEvent*/) {
    QPainter painter(this);
    const int nHalf = height() / 2;
    const QRect rcHalves[2] = {QRect(0, 0, width(), nHalf),
                               QRect(0, nHalf, width(), height() - nHalf)};
    for (int i = 0; i < 2; ++i) {
        const int nDelta = i == 0 ? +1 : -1;
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = rcHalves[i];
        button.state |= m_nPressedDelta == nDelta ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &painter, this);

        QStyleOption arrow;
        arrow.initFrom(this);
        const int nInset = std::max(2, rcHalves[i].height() / 5);
        arrow.rect = rcHalves[i].adjusted(nInset, nInset - 1, -nInset, -nInset + 1);
        style()->drawPrimitive(
            nDelta > 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
            &painter, this);
    }
}

QSize CUpDown::sizeHint() const {
    return {16, 22};
}
