// The window of "Join MPEG files...".
#include "ui/joindlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/filedialogs.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const CFileFilter kMpegFilter{u"MPEG File"_s, u"*.mpg;*.mpeg;*.vob;*.mpv;*.m2p;*.ps"_s};

}  // namespace

CJoinDlg::CJoinDlg(QWidget* pParent, IFileDialogs& fileDialogs, StartJoin startJoin,
                   ShowError showError)
    : QDialog(pParent),
      m_fileDialogs(fileDialogs),
      m_startJoin(std::move(startJoin)),
      m_showError(std::move(showError)) {
    setObjectName(u"JoinDlg"_s);
    setWindowTitle(u"Join MPEG files"_s);
    auto* pLayout = new QVBoxLayout(this);
    auto* pListLabel = new QLabel(u"&Files, joined in this order:"_s, this);
    m_pList = new QListWidget(this);
    m_pList->setObjectName(u"Files"_s);
    m_pList->setAccessibleName(u"Files to join, in order"_s);
    pListLabel->setBuddy(m_pList);
    pLayout->addWidget(pListLabel);
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(m_pList, 1);
    auto* pButtons = new QVBoxLayout;
    auto addButton = [this, pButtons](const QString& strText, const QString& strName,
                                      void (CJoinDlg::*handler)()) {
        auto* pButton = new QPushButton(strText, this);
        pButton->setObjectName(strName);
        pButton->setAutoDefault(false);
        connect(pButton, &QPushButton::clicked, this, handler);
        pButtons->addWidget(pButton);
        return pButton;
    };
    addButton(u"&Add files..."_s, u"AddFiles"_s, &CJoinDlg::OnAddFiles);
    addButton(u"Move &up"_s, u"MoveUp"_s, &CJoinDlg::OnMoveUp);
    addButton(u"Move &down"_s, u"MoveDown"_s, &CJoinDlg::OnMoveDown);
    addButton(u"&Remove"_s, u"Remove"_s, &CJoinDlg::OnRemove);
    pButtons->addStretch(1);
    pRow->addLayout(pButtons);
    pLayout->addLayout(pRow);

    auto* pOutputRow = new QHBoxLayout;
    auto* pOutputLabel = new QLabel(u"&Output file:"_s, this);
    m_pOutput = new QLineEdit(this);
    m_pOutput->setObjectName(u"Output"_s);
    m_pOutput->setAccessibleName(u"Output file"_s);
    pOutputLabel->setBuddy(m_pOutput);
    pOutputRow->addWidget(pOutputLabel);
    pOutputRow->addWidget(m_pOutput, 1);
    auto* pBrowse = new QPushButton(u"&Browse..."_s, this);
    pBrowse->setObjectName(u"Browse"_s);
    pBrowse->setAutoDefault(false);
    connect(pBrowse, &QPushButton::clicked, this, &CJoinDlg::OnBrowseOutput);
    pOutputRow->addWidget(pBrowse);
    pLayout->addLayout(pOutputRow);

    auto* pJoin = new QPushButton(u"&Join"_s, this);
    pJoin->setObjectName(u"Join"_s);
    connect(pJoin, &QPushButton::clicked, this, &CJoinDlg::OnJoin);
    pLayout->addWidget(pJoin, 0, Qt::AlignRight);
}

std::vector<QString> CJoinDlg::Files() const {
    std::vector<QString> files;
    for (int i = 0; i < m_pList->count(); ++i) {
        files.push_back(m_pList->item(i)->text());
    }
    return files;
}

void CJoinDlg::AddFiles(const std::vector<QString>& files) {
    for (const QString& file : files) {
        m_pList->addItem(file);
    }
    if (!files.empty()) {
        m_pList->setCurrentRow(m_pList->count() - 1);
    }
}

void CJoinDlg::OnAddFiles() {
    AddFiles(m_fileDialogs.GetOpenFileNames(this, u"Join MPEG files"_s, {kMpegFilter}, QString()));
}

void CJoinDlg::Move(int nBy) {
    const int row = m_pList->currentRow();
    const int to = row + nBy;
    if (row < 0 || to < 0 || to >= m_pList->count()) {
        return;
    }
    QListWidgetItem* pItem = m_pList->takeItem(row);
    m_pList->insertItem(to, pItem);
    m_pList->setCurrentRow(to);
}

void CJoinDlg::OnMoveUp() {
    Move(-1);
}

void CJoinDlg::OnMoveDown() {
    Move(1);
}

void CJoinDlg::OnRemove() {
    const int row = m_pList->currentRow();
    if (row >= 0) {
        delete m_pList->takeItem(row);
    }
}

void CJoinDlg::OnBrowseOutput() {
    if (const auto path =
            m_fileDialogs.GetSaveFileName(this, u"Joined file"_s, kMpegFilter, QString())) {
        m_pOutput->setText(*path);
    }
}

void CJoinDlg::OnJoin() {
    if (m_pList->count() < 2) {
        m_showError(u"Please add at least two MPEG files to join."_s);
        return;
    }
    if (m_pOutput->text().isEmpty()) {
        m_showError(u"Please choose the output file."_s);
        return;
    }
    m_startJoin(Files(), m_pOutput->text());
}
