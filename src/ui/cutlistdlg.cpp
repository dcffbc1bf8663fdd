// The cut list's window.
#include "ui/cutlistdlg.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSaveFile>
#include <QVBoxLayout>

#include "platform/desktop/filedialogs.h"
#include "ui/orderedlist.h"

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
    m_pList = new COrderedList(this, u"&Segments to keep:"_s, u"Segments"_s, u"Segments to keep"_s);
    m_pList->AddButton(u"&Add Start/End"_s, u"Add"_s, [this] { OnAdd(); });
    m_pList->AddOrderButtons();
    m_pList->AddButton(u"C&lear"_s, u"Clear"_s, [this] { OnClear(); });
    m_pList->AddButton(u"S&eek to start"_s, u"Seek"_s, [this] { OnSeek(); });
    m_pList->AddButton(u"Sa&ve CSV..."_s, u"Save"_s, [this] { OnSave(); });
    m_pList->AddButton(u"L&oad CSV..."_s, u"Load"_s, [this] { OnLoad(); });
    m_pList->m_onMoved = [this](int nFrom, int nTo) {
        std::swap(m_segments[static_cast<size_t>(nFrom)], m_segments[static_cast<size_t>(nTo)]);
    };
    m_pList->m_onRemoved = [this](int nRow) { m_segments.erase(m_segments.begin() + nRow); };
    pLayout->addWidget(m_pList);

    m_pEdit = AddFieldRow(this, pLayout, u"Se&gment (start-end):"_s, u"SegmentEdit"_s,
                          u"Selected segment, start-end"_s, u"A&pply"_s, u"Apply"_s,
                          [this] { OnApplyEdit(); });

    m_pSeparate = new QCheckBox(u"One &file per segment (NAME_0.mpg, NAME_1.mpg, ...)"_s, this);
    m_pSeparate->setObjectName(u"Separate"_s);
    pLayout->addWidget(m_pSeparate);
    pLayout->addWidget(new QLabel(
        u"While the list holds segments, Start (By frame) writes them to the output file."_s,
        this));
    connect(m_pList->List(), &QListWidget::currentRowChanged, this,
            &CCutListDlg::OnSelectionChanged);
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
    const int row = m_pList->Current();
    return row >= 0 && row < static_cast<int>(m_segments.size()) ? row : -1;
}

void CCutListDlg::Refill(int nSelect) {
    QListWidget* pList = m_pList->List();
    pList->clear();
    for (const CCutSegment& segment : m_segments) {
        pList->addItem(SegmentText(segment));
    }
    if (nSelect >= 0 && nSelect < pList->count()) {
        pList->setCurrentRow(nSelect);
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
