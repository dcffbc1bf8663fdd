// The ordered list of the cut list and of Join MPEG files.
#include "ui/orderedlist.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

COrderedList::COrderedList(QWidget* pParent, const QString& strLabel, const QString& strName,
                           const QString& strAccessibleName)
    : QWidget(pParent) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    auto* pLabel = new QLabel(strLabel, this);
    m_pList = new QListWidget(this);
    m_pList->setObjectName(strName);
    m_pList->setAccessibleName(strAccessibleName);
    pLabel->setBuddy(m_pList);
    pLayout->addWidget(pLabel);
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(m_pList, 1);
    m_pButtons = new QVBoxLayout;
    m_pButtons->addStretch(1);
    pRow->addLayout(m_pButtons);
    pLayout->addLayout(pRow);
}

QPushButton* COrderedList::AddButton(const QString& strText, const QString& strName,
                                     std::function<void()> onClick) {
    auto* pButton = new QPushButton(strText, this);
    pButton->setObjectName(strName);
    // Enter in the dialog's fields must not move or remove a row.
    pButton->setAutoDefault(false);
    connect(pButton, &QPushButton::clicked, this, std::move(onClick));
    m_pButtons->insertWidget(m_pButtons->count() - 1, pButton);
    return pButton;
}

void COrderedList::AddOrderButtons() {
    AddButton(u"Move &up"_s, u"MoveUp"_s, [this] { Move(-1); });
    AddButton(u"Move &down"_s, u"MoveDown"_s, [this] { Move(1); });
    AddButton(u"&Remove"_s, u"Remove"_s, [this] { Remove(); });
}

int COrderedList::Current() const {
    return m_pList->currentRow();
}

void COrderedList::Move(int nBy) {
    const int row = Current();
    const int to = row + nBy;
    if (row < 0 || to < 0 || to >= m_pList->count()) {
        return;
    }
    if (m_onMoved) {
        m_onMoved(row, to);
    }
    QListWidgetItem* pItem = m_pList->takeItem(row);
    m_pList->insertItem(to, pItem);
    m_pList->setCurrentRow(to);
}

void COrderedList::Remove() {
    const int row = Current();
    if (row < 0) {
        return;
    }
    if (m_onRemoved) {
        m_onRemoved(row);
    }
    delete m_pList->takeItem(row);
    m_pList->setCurrentRow(std::min(row, m_pList->count() - 1));
}

QLineEdit* AddFieldRow(QWidget* pOwner, QBoxLayout* pLayout, const QString& strLabel,
                       const QString& strName, const QString& strAccessibleName,
                       const QString& strButton, const QString& strButtonName,
                       std::function<void()> onClick) {
    auto* pRow = new QHBoxLayout;
    auto* pLabel = new QLabel(strLabel, pOwner);
    auto* pEdit = new QLineEdit(pOwner);
    pEdit->setObjectName(strName);
    pEdit->setAccessibleName(strAccessibleName);
    pLabel->setBuddy(pEdit);
    pRow->addWidget(pLabel);
    pRow->addWidget(pEdit, 1);
    auto* pButton = new QPushButton(strButton, pOwner);
    pButton->setObjectName(strButtonName);
    pButton->setAutoDefault(false);
    QObject::connect(pButton, &QPushButton::clicked, pOwner, std::move(onClick));
    pRow->addWidget(pButton);
    pLayout->addLayout(pRow);
    return pEdit;
}
