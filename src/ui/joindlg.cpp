// The window of "Join MPEG files...".
#include "ui/joindlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/filedialogs.h"
#include "ui/orderedlist.h"

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
    m_pFiles = new COrderedList(this, u"&Files, joined in this order:"_s, u"Files"_s,
                                u"Files to join, in order"_s);
    m_pFiles->AddButton(u"&Add files..."_s, u"AddFiles"_s, [this] { OnAddFiles(); });
    m_pFiles->AddOrderButtons();
    pLayout->addWidget(m_pFiles);

    m_pOutput = AddFieldRow(this, pLayout, u"&Output file:"_s, u"Output"_s, u"Output file"_s,
                            u"&Browse..."_s, u"Browse"_s, [this] { OnBrowseOutput(); });

    auto* pJoin = new QPushButton(u"&Join"_s, this);
    pJoin->setObjectName(u"Join"_s);
    connect(pJoin, &QPushButton::clicked, this, &CJoinDlg::OnJoin);
    pLayout->addWidget(pJoin, 0, Qt::AlignRight);
}

std::vector<QString> CJoinDlg::Files() const {
    std::vector<QString> files;
    for (int i = 0; i < m_pFiles->List()->count(); ++i) {
        files.push_back(m_pFiles->List()->item(i)->text());
    }
    return files;
}

void CJoinDlg::AddFiles(const std::vector<QString>& files) {
    for (const QString& file : files) {
        m_pFiles->List()->addItem(file);
    }
    if (!files.empty()) {
        m_pFiles->List()->setCurrentRow(m_pFiles->List()->count() - 1);
    }
}

void CJoinDlg::OnAddFiles() {
    AddFiles(m_fileDialogs.GetOpenFileNames(this, u"Join MPEG files"_s, {kMpegFilter}, QString()));
}

void CJoinDlg::OnBrowseOutput() {
    if (const auto path =
            m_fileDialogs.GetSaveFileName(this, u"Joined file"_s, kMpegFilter, QString())) {
        m_pOutput->setText(*path);
    }
}

void CJoinDlg::OnJoin() {
    if (m_pFiles->List()->count() < 2) {
        m_showError(u"Please add at least two MPEG files to join."_s);
        return;
    }
    if (m_pOutput->text().isEmpty()) {
        m_showError(u"Please choose the output file."_s);
        return;
    }
    m_startJoin(Files(), m_pOutput->text());
}
