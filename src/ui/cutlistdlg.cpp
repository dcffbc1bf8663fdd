// The cut list's window.
#include "ui/cutlistdlg.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "platform/desktop/filedialogs.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Cut lists are small; a larger file is no cut list.
constexpr qint64 kMaxCsvBytes = qint64{4} << 20;

const CFileFilter kCsvFilter{u"CSV cut list"_s, u"*.csv"_s};

QString SegmentText(const CCutSegment& segment) {
    QString text = QString::fromStdString(FormatListTime(segment.m_llStartMs)) + u" - "_s +
                   (segment.m_llEndMs == kSegmentToEnd
                        ? u"end"_s
                        : QString::fromStdString(FormatListTime(segment.m_llEndMs)));
    if (!segment.m_strName.empty()) {
        text += u"  "_s + QString::fromStdString(segment.m_strName);
    }
    return text;
}

}  // namespace

CCutListDlg::CCutListDlg(QWidget* pParent, IFileDialogs& fileDialogs, CurrentTimes currentTimes,
                         SeekTo seekTo, ShowError showError)
    : QDialog(pParent),
      m_fileDialogs(fileDialogs),
      m_currentTimes(std::move(currentTimes)),
      m_seekTo(std::move(seekTo)),
      m_showError(std::move(showError)) {
    setObjectName(u"CutListDlg"_s);
    setWindowTitle(u"Cut list"_s);
    auto* pLayout = new QVBoxLayout(this);
    auto* pListLabel = new QLabel(u"&Segments to keep:"_s, this);
    m_pList = new QListWidget(this);
    m_pList->setObjectName(u"Segments"_s);
    m_pList->setAccessibleName(u"Segments to keep"_s);
    pListLabel->setBuddy(m_pList);
    pLayout->addWidget(pListLabel);

    auto* pRow = new QHBoxLayout;
    pRow->addWidget(m_pList, 1);
    auto* pButtons = new QVBoxLayout;
    auto addButton = [this, pButtons](const QString& strText, const QString& strName,
                                      void (CCutListDlg::*handler)()) {
        auto* pButton = new QPushButton(strText, this);
        pButton->setObjectName(strName);
        pButton->setAutoDefault(false);
        connect(pButton, &QPushButton::clicked, this, handler);
        pButtons->addWidget(pButton);
        return pButton;
    };
    addButton(u"&Add Start/End"_s, u"Add"_s, &CCutListDlg::OnAdd);
    addButton(u"Move &up"_s, u"MoveUp"_s, &CCutListDlg::OnMoveUp);
    addButton(u"Move &down"_s, u"MoveDown"_s, &CCutListDlg::OnMoveDown);
    addButton(u"&Remove"_s, u"Remove"_s, &CCutListDlg::OnRemove);
    addButton(u"C&lear"_s, u"Clear"_s, &CCutListDlg::OnClear);
    addButton(u"S&eek to start"_s, u"Seek"_s, &CCutListDlg::OnSeek);
    addButton(u"Sa&ve CSV..."_s, u"Save"_s, &CCutListDlg::OnSave);
    addButton(u"L&oad CSV..."_s, u"Load"_s, &CCutListDlg::OnLoad);
    pButtons->addStretch(1);
    pRow->addLayout(pButtons);
    pLayout->addLayout(pRow);

    auto* pEditRow = new QHBoxLayout;
    auto* pEditLabel = new QLabel(u"Se&gment (start-end):"_s, this);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(u"SegmentEdit"_s);
    m_pEdit->setAccessibleName(u"Selected segment, start-end"_s);
    pEditLabel->setBuddy(m_pEdit);
    pEditRow->addWidget(pEditLabel);
    pEditRow->addWidget(m_pEdit, 1);
    auto* pApply = new QPushButton(u"A&pply"_s, this);
    pApply->setObjectName(u"Apply"_s);
    pApply->setAutoDefault(false);
    connect(pApply, &QPushButton::clicked, this, &CCutListDlg::OnApplyEdit);
    pEditRow->addWidget(pApply);
    pLayout->addLayout(pEditRow);

    m_pSeparate = new QCheckBox(u"One &file per segment (NAME_0.mpg, NAME_1.mpg, ...)"_s, this);
    m_pSeparate->setObjectName(u"Separate"_s);
    pLayout->addWidget(m_pSeparate);
    pLayout->addWidget(new QLabel(
        u"While the list holds segments, Start (By frame) writes them to the output file."_s,
        this));
    connect(m_pList, &QListWidget::currentRowChanged, this, &CCutListDlg::OnSelectionChanged);
}

CCutList CCutListDlg::List() const {
    CCutList list;
    for (const CCutSegment& segment : m_segments) {
        list.Add(segment);
    }
    return list;
}

bool CCutListDlg::OneFilePerSegment() const {
    return m_pSeparate->isChecked();
}

int CCutListDlg::Selected() const {
    const int row = m_pList->currentRow();
    return row >= 0 && row < static_cast<int>(m_segments.size()) ? row : -1;
}

void CCutListDlg::Refill(int nSelect) {
    m_pList->clear();
    for (const CCutSegment& segment : m_segments) {
        m_pList->addItem(SegmentText(segment));
    }
    if (nSelect >= 0 && nSelect < m_pList->count()) {
        m_pList->setCurrentRow(nSelect);
    }
}

void CCutListDlg::OnSelectionChanged() {
    const int row = Selected();
    if (row < 0) {
        m_pEdit->clear();
        return;
    }
    const CCutSegment& segment = m_segments[static_cast<size_t>(row)];
    m_pEdit->setText(QString::fromStdString(FormatListTime(segment.m_llStartMs)) + u"-"_s +
                     (segment.m_llEndMs == kSegmentToEnd
                          ? QString()
                          : QString::fromStdString(FormatListTime(segment.m_llEndMs))));
}

void CCutListDlg::OnAdd() {
    const auto times = m_currentTimes();
    if (!times) {
        return;
    }
    m_segments.push_back({times->first, times->second, {}});
    Refill(static_cast<int>(m_segments.size()) - 1);
}

void CCutListDlg::OnMoveUp() {
    const int row = Selected();
    if (row > 0) {
        std::swap(m_segments[static_cast<size_t>(row)], m_segments[static_cast<size_t>(row) - 1]);
        Refill(row - 1);
    }
}

void CCutListDlg::OnMoveDown() {
    const int row = Selected();
    if (row >= 0 && row + 1 < static_cast<int>(m_segments.size())) {
        std::swap(m_segments[static_cast<size_t>(row)], m_segments[static_cast<size_t>(row) + 1]);
        Refill(row + 1);
    }
}

void CCutListDlg::OnRemove() {
    const int row = Selected();
    if (row >= 0) {
        m_segments.erase(m_segments.begin() + row);
        Refill(std::min(row, static_cast<int>(m_segments.size()) - 1));
    }
}

void CCutListDlg::OnClear() {
    m_segments.clear();
    Refill(-1);
}

void CCutListDlg::OnApplyEdit() {
    const int row = Selected();
    if (row < 0) {
        return;
    }
    CCutList parsed;
    if (auto refusal = parsed.ParseSegments(m_pEdit->text().toStdString())) {
        m_showError(QString::fromStdString(refusal->m_strText));
        return;
    }
    if (parsed.Segments().size() != 1) {
        m_showError(u"Please enter one segment as start-end."_s);
        return;
    }
    CCutSegment& segment = m_segments[static_cast<size_t>(row)];
    segment.m_llStartMs = parsed.Segments().front().m_llStartMs;
    segment.m_llEndMs = parsed.Segments().front().m_llEndMs;
    Refill(row);
}

void CCutListDlg::OnSeek() {
    const int row = Selected();
    if (row >= 0) {
        m_seekTo(m_segments[static_cast<size_t>(row)].m_llStartMs);
    }
}

void CCutListDlg::OnSave() {
    if (const auto path =
            m_fileDialogs.GetSaveFileName(this, u"Save the cut list"_s, kCsvFilter, QString())) {
        SaveCsv(*path);
    }
}

void CCutListDlg::OnLoad() {
    if (const auto path =
            m_fileDialogs.GetOpenFileName(this, u"Load a cut list"_s, {kCsvFilter}, QString())) {
        LoadCsv(*path);
    }
}

bool CCutListDlg::SaveCsv(const QString& strPath) {
    // The old file is replaced only by a complete new one.
    QSaveFile file(strPath);
    const QByteArray text = QByteArray::fromStdString(List().ToCsv());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        m_showError(u"Can not write the cut list "_s + strPath);
        return false;
    }
    return true;
}

bool CCutListDlg::LoadCsv(const QString& strPath) {
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCsvBytes) {
        m_showError(u"Can not read the cut list "_s + strPath);
        return false;
    }
    const QByteArray text = file.read(kMaxCsvBytes);
    CCutList list;
    if (auto refusal = list.ParseCsv(text.toStdString())) {
        m_showError(QString::fromStdString(refusal->m_strText));
        return false;
    }
    m_segments = list.Segments();
    Refill(m_segments.empty() ? -1 : 0);
    return true;
}
