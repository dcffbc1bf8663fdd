// The plan line below the time fields: where the mode's Start command would really cut, worked
// out off the GUI thread by the engine's own search as the fields, the mode or the clean cuts
// box change; a click on it seeks the preview to the clip's first picture. And the list of key
// pictures, handed to the preview once a source has opened.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/clipapp.h"
#include "mpeg/cutplan.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/dialoginteger.h"
#include "ui/latestjob.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;

// 00:01:22.96: hours, minutes, seconds and hundredths, as a player shows a position.
QString FormatPlanTime(std::optional<int64_t> time100ns) {
    if (!time100ns) {
        return u"?"_s;
    }
    const int64_t hundredths = std::max<int64_t>(0, *time100ns) / 100'000;
    return QString::asprintf(
        "%02lld:%02lld:%02lld.%02lld", static_cast<long long>(hundredths / 360'000),
        static_cast<long long>(hundredths / 6000 % 60),
        static_cast<long long>(hundredths / 100 % 60), static_cast<long long>(hundredths % 100));
}

QString FormatPlanSize(int64_t bytes) {
    constexpr int64_t kMegabyte = int64_t{1} << 20;
    if (bytes < kMegabyte) {
        return QString::number((bytes + 1023) / 1024) + u" KB"_s;
    }
    return QString::number(static_cast<double>(bytes) / kMegabyte, 'f', 1) + u" MB"_s;
}

QString FormatSpan(const CPlannedSpan& span) {
    return FormatPlanTime(span.m_start100ns) + u" to "_s + FormatPlanTime(span.m_end100ns) +
           u", "_s + FormatPlanSize(span.m_llBytes);
}

// The milliseconds of an exact position while whole seconds still match it.
int32_t MillisecondsOf(std::optional<int64_t> exact, int64_t wholeSeconds) {
    if (!exact || *exact < 0 || *exact / kUnitsPerSecond != wholeSeconds) {
        return 0;
    }
    return static_cast<int32_t>(*exact / 10'000 % 1000);
}

}  // namespace

void CClipDlg::CreatePlanLine() {
    m_pPlanJob = std::make_unique<CLatestJob>();
    m_pKeyJob = std::make_unique<CLatestJob>();
    // A flat button: it reads as a line of text, and a click, Space or Enter seeks the preview.
    m_pPlanLine = new QPushButton(this);
    m_pPlanLine->setFlat(true);
    m_pPlanLine->setStyleSheet(
        u"QPushButton { text-align: left; padding: 0 1px; border: none; }"
        u"QPushButton:focus { border: 1px dotted palette(text); }"_s);
    m_pPlanLine->setObjectName(QString::number(IDC_CLIP_PLAN));
    m_pPlanLine->setAccessibleDescription(QString::number(IDC_CLIP_PLAN));
    m_pPlanLine->setToolTip(
        u"Where the cut will really fall, and its size. Click to show the "
        u"first picture in the preview."_s);
    m_controls[IDC_CLIP_PLAN] = m_pPlanLine;
    // Below the time fields, across the window, in the free space above the output file.
    const QRect endTime = GetDlgItem(IDC_END_TIME)->geometry();
    const QRect outputFile = GetDlgItem(IDC_OUTPUT_FILE)->geometry();
    const QRect browse = GetDlgItem(IDC_BROWSE_FILE)->geometry();
    const int nTop = GetDlgItem(IDC_END_SECOND)->geometry().bottom() + 1;
    m_pPlanLine->setGeometry(endTime.left(), nTop, browse.right() - endTime.left() + 1,
                             std::max(outputFile.top() - nTop, fontMetrics().height()));
    m_pPlanLine->setEnabled(false);
    QWidget::setTabOrder(GetDlgItem(IDC_END_SECOND), m_pPlanLine);
    connect(m_pPlanLine, &QPushButton::clicked, this, &CClipDlg::OnPlanLine);

    for (const int nId : {IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND, IDC_END_HOUR,
                          IDC_END_MINUTE, IDC_END_SECOND, IDC_PIECE_COUNT, IDC_PIECE_SECONDS}) {
        connect(static_cast<QLineEdit*>(GetDlgItem(nId)), &QLineEdit::textChanged, this,
                &CClipDlg::UpdatePlanLine);
    }
    for (const int nId : {IDC_BY_FRAME, IDC_BY_SIZE, IDC_BY_TIME, IDC_CLEAN_CUTS}) {
        connect(static_cast<QAbstractButton*>(GetDlgItem(nId)), &QAbstractButton::toggled, this,
                &CClipDlg::UpdatePlanLine);
    }
}

void CClipDlg::ShowPlanLine(const QString& strText) {
    m_pPlanLine->setText(strText);
    // Announced to screen readers as the information line is: by its name.
    m_pPlanLine->setAccessibleName(strText.isEmpty() ? u"Clip"_s : strText);
    m_pPlanLine->setEnabled(!strText.isEmpty());
}

QString CClipDlg::PlanLineText() const {
    return m_pPlanLine->text();
}

bool CClipDlg::PlanIsIdle() const {
    return m_pPlanJob->IsIdle() && m_pKeyJob->IsIdle();
}

CClipTime CClipDlg::FieldTime(bool bEnd) const {
    CClipTime time = bEnd ? CClipTime{m_nEndHour, m_nEndMinute, m_nEndSecond}
                          : CClipTime{m_nStartHour, m_nStartMinute, m_nStartSecond};
    time.m_nMillisecond =
        MillisecondsOf(bEnd ? m_llExactEnd : m_llExactStart, ClipTimeToSeconds(time));
    return time;
}

void CClipDlg::TakeExactPosition(bool bEnd) {
    if (g_pPreview == nullptr) {
        return;
    }
    (bEnd ? m_llExactEnd : m_llExactStart) = g_pPreview->m_llCurrentPos;
    UpdatePlanLine();
}

void CClipDlg::UpdatePlanLine() {
    if (m_pPlanJob == nullptr) {
        return;
    }
    m_planSeek.reset();
    if (!m_source.HasSourcePath() || m_strInfoLine.isEmpty()) {
        m_pPlanJob->Cancel();
        ShowPlanLine({});
        return;
    }
    // The fields as they read now, without an exchange: typing must not move any value.
    const auto field = [this](int nId) {
        return ParseDialogInteger(static_cast<QLineEdit*>(GetDlgItem(nId))->text());
    };
    const bool bClean = m_pCleanCuts->isChecked();
    const auto source = std::make_shared<CMpegSource>(m_source);
    IFileSystem& fileSystem = *m_pFileSystem;
    std::function<EPlanStatus(CCutPlanner&, CCutPlan&)> plan;
    bool bClip = false;
    if (static_cast<QRadioButton*>(GetDlgItem(IDC_BY_FRAME))->isChecked()) {
        std::optional<int> values[6];
        const int ids[] = {IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND,
                           IDC_END_HOUR,   IDC_END_MINUTE,   IDC_END_SECOND};
        for (int i = 0; i < 6; ++i) {
            values[i] = field(ids[i]);
            if (!values[i]) {
                m_pPlanJob->Cancel();
                ShowPlanLine(u"Please enter an integer."_s);
                return;
            }
        }
        CClipTime start{*values[0], *values[1], *values[2]};
        CClipTime end{*values[3], *values[4], *values[5]};
        start.m_nMillisecond = MillisecondsOf(m_llExactStart, ClipTimeToSeconds(start));
        end.m_nMillisecond = MillisecondsOf(m_llExactEnd, ClipTimeToSeconds(end));
        bClip = true;
        plan = [start, end, bClean, source](CCutPlanner& planner, CCutPlan& result) {
            return planner.PlanClip(*source, start, end, {bClean}, result);
        };
    } else if (static_cast<QRadioButton*>(GetDlgItem(IDC_BY_SIZE))->isChecked()) {
        const std::optional<int> count = field(IDC_PIECE_COUNT);
        if (!count) {
            m_pPlanJob->Cancel();
            ShowPlanLine(u"Please enter an integer."_s);
            return;
        }
        plan = [count = *count, bClean, source](CCutPlanner& planner, CCutPlan& result) {
            return planner.PlanBySize(*source, count, {bClean}, result);
        };
    } else {
        // As the Start command reads it.
        const QString text =
            m_pPieceSecondsEdit->text().left(static_cast<int>(kPieceLengthTextMax));
        const int32_t seconds = ParsePieceLength(text.toStdString());
        plan = [seconds, bClean, source](CCutPlanner& planner, CCutPlan& result) {
            return planner.PlanByTime(*source, seconds, {bClean}, result);
        };
    }
    m_pPlanJob->Post([this, plan, bClip, &fileSystem](const IStopRequest& stop) {
        CNoteReporter reporter;
        CCutPlanner planner(reporter, fileSystem, stop);
        CCutPlan result;
        const EPlanStatus status = plan(planner, result);
        QString text;
        std::optional<int64_t> seek;
        if (status == EPlanStatus::Planned) {
            if (bClip) {
                text = u"Clip: "_s + FormatSpan(result.m_first);
            } else {
                text = QString::number(result.m_nPieceCount) +
                       (result.m_nPieceCount == 1 ? u" piece"_s : u" pieces"_s) +
                       u", the first: "_s + FormatSpan(result.m_first);
            }
            seek = result.m_first.m_start100ns;
        } else if (status == EPlanStatus::Failed) {
            text = QString::fromStdString(reporter.FirstMessage());
        }
        return [this, text, seek] {
            ShowPlanLine(text);
            m_planSeek = seek;
        };
    });
}

void CClipDlg::OnPlanLine() {
    if (g_pPreview != nullptr && m_planSeek) {
        g_pPreview->SeekTo(*m_planSeek);
    }
}

void CClipDlg::OnSourceChanged() {
    m_llExactStart.reset();
    m_llExactEnd.reset();
    UpdatePlanLine();
    if (!m_source.HasSourcePath()) {
        m_pKeyJob->Cancel();
        return;
    }
    const auto source = std::make_shared<CMpegSource>(m_source);
    IFileSystem& fileSystem = *m_pFileSystem;
    m_pKeyJob->Post([source, &fileSystem](const IStopRequest& stop) -> CLatestJob::CResult {
        CNoteReporter reporter;
        auto file = OpenAndMeasureSource(*source, reporter, fileSystem);
        CKeyPictureList list;
        if (!file || ListKeyPictures(*file, source->m_llFileSize, reporter, stop, {}, list) !=
                         EPlanStatus::Planned) {
            return {};
        }
        std::vector<LONGLONG> times;
        if (list.m_bTimed) {
            times.reserve(list.m_pictures.size());
            for (const CKeyPicture& picture : list.m_pictures) {
                times.push_back(picture.m_llTime100ns);
            }
        }
        const std::string path = source->SourcePath();
        return [path, times = std::move(times)]() mutable {
            // Only to the preview of the file it was made from.
            if (g_pPreview != nullptr && path == g_pPreview->m_szFile) {
                g_pPreview->SetKeyPictures(std::move(times));
            }
        };
    });
}
