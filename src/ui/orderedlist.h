// A list whose order the user sets: a labelled list with a column of buttons beside it, among
// them Move up, Move down and Remove. The owner keeps what the rows stand for and hears of each
// move and removal before the row itself changes.
#pragma once

#include <QWidget>

#include <functional>

class QBoxLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QVBoxLayout;

class COrderedList : public QWidget {
    Q_OBJECT

public:
    COrderedList(QWidget* pParent, const QString& strLabel, const QString& strName,
                 const QString& strAccessibleName);

    QListWidget* List() const { return m_pList; }
    // Buttons stand in the order they are added.
    QPushButton* AddButton(const QString& strText, const QString& strName,
                           std::function<void()> onClick);
    // Move up, Move down and Remove.
    void AddOrderButtons();

    // The selected row, or -1.
    int Current() const;
    void Move(int nBy);
    void Remove();

    std::function<void(int nFrom, int nTo)> m_onMoved;
    std::function<void(int nRow)> m_onRemoved;

private:
    QListWidget* m_pList = nullptr;
    QVBoxLayout* m_pButtons = nullptr;
};

// A row of `owner`'s dialog under its list: a labelled field (named for screen readers) and a
// button beside it, appended to `layout`.
QLineEdit* AddFieldRow(QWidget* pOwner, QBoxLayout* pLayout, const QString& strLabel,
                       const QString& strName, const QString& strAccessibleName,
                       const QString& strButton, const QString& strButtonName,
                       std::function<void()> onClick);
