// The main window's template, set-up, exchange, mode layouts and the ways it ends. The
// commands live beside it: clipdlg_output.cpp (Browse), clipdlg_shell.cpp (help, home page,
// window menu), clipdlg_open.cpp, clipdlg_split.cpp and clipdlg_position.cpp.
#include "ui/clipdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <iterator>

#include "app/appresources.h"
#include "app/clipapp.h"
#include "app/pathparts.h"
#include "media/mediaframework.h"
#include "media/querystopposition.h"
#include "platform/desktop/dialogunits.h"
#include "preview/backgroundrenderer.h"
#include "ui/controlids.h"
#include "ui/dialoginteger.h"
#include "ui/displaystatic.h"
#include "ui/enginejob.h"
#include "ui/inputblocker.h"
#include "ui/latestjob.h"
#include "ui/positionslider.h"
#include "ui/progressdlg.h"
#include "ui/updown.h"
#include "ui/windowreporter.h"

using namespace Qt::StringLiterals;

namespace {

enum class EControl { Edit, UpDown, Static, Button, Slider, Radio, GroupBox, CheckBox };

// One control of the template, in template order, which is also the tab order. Positions are
// dialog units.
struct CControlTemplate {
    int nId;
    EControl kind;
    const char16_t* pszText;
    int x, y, cx, cy;
    bool bCentred;
    // What a screen reader calls the control when its text does not say it (fields are named
    // after their labels); null to use the text.
    const char16_t* pszAccessibleName;
};

// clang-format off
constexpr CControlTemplate kTemplate[] = {
    {IDC_PIECE_COUNT,         EControl::Edit,     nullptr,             65,  80,  40, 14, true,  u"Split file number"},
    {IDC_PIECE_COUNT_SPIN,    EControl::UpDown,   nullptr,             105, 80,  11, 14, false, u"Split file number"},
    {IDC_INFO_LINE,           EControl::Static,   u"",                 70,  8,   200, 11, false, u"Source information"},
    {IDC_OPEN_MPEG,           EControl::Button,   u"Open MPEG",        7,   7,   50, 14, false, nullptr},
    {IDC_START_HOUR,          EControl::Edit,     nullptr,             60,  111, 18, 14, true,  u"Start hours"},
    {IDC_START_MINUTE,        EControl::Edit,     nullptr,             92,  111, 18, 14, true,  u"Start minutes"},
    {IDC_START_SECOND,        EControl::Edit,     nullptr,             123, 111, 18, 14, true,  u"Start seconds"},
    {IDC_START_COLON1,        EControl::Static,   u":",                84,  113, 8,  8,  false, nullptr},
    {IDC_START_COLON2,        EControl::Static,   u":",                116, 114, 8,  8,  false, nullptr},
    {IDC_END_HOUR,            EControl::Edit,     nullptr,             60,  134, 18, 14, true,  u"End hours"},
    {IDC_END_MINUTE,          EControl::Edit,     nullptr,             92,  134, 18, 14, true,  u"End minutes"},
    {IDC_END_SECOND,          EControl::Edit,     nullptr,             124, 134, 18, 14, true,  u"End seconds"},
    {IDC_END_COLON1,          EControl::Static,   u":",                84,  137, 8,  8,  false, nullptr},
    {IDC_END_COLON2,          EControl::Static,   u":",                116, 137, 8,  8,  false, nullptr},
    {IDC_CUT_START,           EControl::Button,   u"Start",            7,   183, 50, 14, false, nullptr},
    {IDC_OUTPUT_FILE,         EControl::Edit,     nullptr,             59,  160, 173, 14, false, u"Output File"},
    {IDC_OUTPUT_FILE_LABEL,   EControl::Static,   u"Output File",      7,   163, 40, 8,  false, nullptr},
    {IDC_PLAY,                EControl::Button,   u"Play",             13,  89,  42, 14, false, nullptr},
    {IDC_POSITION_SLIDER,     EControl::Slider,   nullptr,             7,   65,  229, 14, false, u"Position"},
    {IDC_PAUSE,               EControl::Button,   u"Pause",            101, 89,  42, 14, false, nullptr},
    {IDC_STOP,                EControl::Button,   u"Stop",             189, 89,  42, 14, false, nullptr},
    {IDC_POSITION,            EControl::Static,   u"",                 237, 68,  30, 8,  false, u"Play position"},
    {IDC_START_TIME,          EControl::Button,   u"Start Time",       7,   111, 42, 14, false, nullptr},
    {IDC_END_TIME,            EControl::Button,   u"End Time",         7,   134, 42, 14, false, nullptr},
    {IDC_PIECE_COUNT_LABEL,   EControl::Static,   u"Split file number", 7,  84,  54, 8,  false, nullptr},
    {IDC_SIZE_START,          EControl::Button,   u"Start",            7,   182, 50, 14, false, nullptr},
    {IDC_EACH_SIZE_LABEL,     EControl::Static,   u"each size",        140, 83,  46, 8,  false, nullptr},
    {IDC_EACH_SIZE,           EControl::Static,   u"",                 187, 83,  44, 14, false, u"each size"},
    {IDC_OUTPUT_FOLDER,       EControl::Edit,     nullptr,             64,  134, 169, 13, false, u"Output directory"},
    {IDC_BROWSE_FOLDER,       EControl::Button,   u"Browse",           235, 133, 34, 14, false, nullptr},
    {IDC_PIECE_SECONDS_LABEL, EControl::Static,   u"Split file time",  7,   82,  54, 8,  false, nullptr},
    {IDC_PIECE_SECONDS,       EControl::Edit,     nullptr,             64,  80,  45, 15, true,  u"Split file time"},
    {IDC_PIECE_SECONDS_SPIN,  EControl::UpDown,   nullptr,             110, 80,  11, 14, false, u"Split file time"},
    {IDC_SECONDS_LABEL,       EControl::Static,   u"Seconds",          120, 82,  35, 8,  false, nullptr},
    {IDC_TIME_START,          EControl::Button,   u"Start",            7,   183, 50, 14, false, nullptr},
    {IDC_OUTPUT_FOLDER_LABEL, EControl::Static,   u"Output directory", 7,   136, 51, 8,  false, nullptr},
    {IDC_BY_FRAME,            EControl::Radio,    u"By frame",         24,  40,  43, 10, false, nullptr},
    {IDC_BY_SIZE,             EControl::Radio,    u"By size",          108, 39,  38, 10, false, nullptr},
    {IDC_BY_TIME,             EControl::Radio,    u"By time",          187, 39,  39, 10, false, nullptr},
    {IDC_STATIC,              EControl::GroupBox, u"Split mode",       7,   29,  263, 27, false, nullptr},
    {IDC_HOMEPAGE,            EControl::Button,   u"Homepage",         150, 183, 50, 14, false, nullptr},
    {IDC_HELP_BUTTON,         EControl::Button,   u"Help",             220, 183, 50, 14, false, nullptr},
    {IDC_BROWSE_FILE,         EControl::Button,   u"Browse",           236, 160, 34, 14, false, nullptr},
    {IDC_CLOSE_SOURCE,        EControl::Button,   u"Close",            252, 110, 18, 14, false, nullptr},
    // Last in the tab order, after the controls of the classic template; it sits in the free
    // space between the Start buttons and Homepage.
    {IDC_CLEAN_CUTS,          EControl::CheckBox, u"Clean cuts",       64,  185, 80, 10, false,
     u"Clean cuts: every piece starts at a picture that plays, at the stream's own times"},
};

// What each mode shows; every other control keeps its visibility when the mode changes.
constexpr int kByFrameControls[] = {
    IDC_POSITION_SLIDER, IDC_POSITION, IDC_PLAY, IDC_PAUSE, IDC_STOP, IDC_START_TIME, IDC_END_TIME,
    IDC_START_HOUR, IDC_START_COLON1, IDC_START_MINUTE, IDC_START_COLON2, IDC_START_SECOND,
    IDC_END_HOUR, IDC_END_COLON1, IDC_END_MINUTE, IDC_END_COLON2, IDC_END_SECOND,
    IDC_OUTPUT_FILE_LABEL, IDC_OUTPUT_FILE, IDC_CUT_START, IDC_BROWSE_FILE};
constexpr int kBySizeControls[] = {
    IDC_PIECE_COUNT_LABEL, IDC_PIECE_COUNT, IDC_PIECE_COUNT_SPIN, IDC_EACH_SIZE_LABEL,
    IDC_EACH_SIZE, IDC_SIZE_START};
constexpr int kByTimeControls[] = {
    IDC_PIECE_SECONDS_LABEL, IDC_PIECE_SECONDS, IDC_PIECE_SECONDS_SPIN, IDC_SECONDS_LABEL,
    IDC_TIME_START};
constexpr int kSeriesControls[] = {IDC_OUTPUT_FOLDER_LABEL, IDC_OUTPUT_FOLDER, IDC_BROWSE_FOLDER};

// The mode switch, in the group's order.
constexpr int kModeRadios[] = {IDC_BY_FRAME, IDC_BY_SIZE, IDC_BY_TIME};

// The exchanged time fields, in exchange order.
constexpr int kTimeFields[] = {IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND,
                               IDC_END_HOUR,   IDC_END_MINUTE,   IDC_END_SECOND};
// clang-format on

constexpr int kSliderRange = 600;
constexpr int kSpinLower = 1;
constexpr int kSpinUpper = 10000;

const QString kOptionSection = u"Option"_s;
// "1" when clean cuts are on; anything else, or nothing, is off.
const QString kCleanCutsSetting = u"clean_cuts"_s;

// The keys that open a context menu: the Menu key, and Shift+F10 on keyboards without one.
bool IsContextMenuKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    return (event.key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
           (event.key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}

}  // namespace

CClipDlg::CClipDlg(CClipApp& app, const CShellServices& shell, QWidget* pParent)
    : QDialog(pParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_app(app),
      m_shell(shell),
      m_queryStopPosition(QueryStopPosition),
      m_hIcon(LoadApplicationIcon()) {
    setObjectName(QString::number(IDD_CLIP_DIALOG));
    // Modal without blocking any other window: the preview window, a top-level window of its
    // own, must take the mouse and keys while this one runs its loop.
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Tarnwick"_s);
    setFont(CDialogUnits::DialogFont());
    setAcceptDrops(true);
    m_strOutputFile = u"/clip1.mpg"_s;
    CreateControls();
    ConnectCommands();
    CreateJob();
    CreatePlanLine();
}

CClipDlg::~CClipDlg() {
    // Work still running is stopped and waited for before anything it uses goes.
    m_pJob.reset();
    // Ending with Escape or Enter leaves the preview open; it goes with the window, and a file
    // still rendering for it with the renderer.
    ClosePreview();
    m_pRenderer.reset();
    if (m_bMediaFrameworkStarted) {
        MediaFrameworkUninitialize();
    }
}

void CClipDlg::CreateJob() {
    m_pReporter = std::make_unique<CWindowReporter>(this, m_app.ApplicationName(), m_shell);
    m_pJob = std::make_unique<CEngineJob>(*m_pReporter);
    connect(m_pJob.get(), &CEngineJob::Finished, this, &CClipDlg::OnJobFinished);
    connect(m_pJob.get(), &CEngineJob::AboutToShowMessage, this, &CClipDlg::OnJobMessage);
    connect(m_pJob.get(), &CEngineJob::MessageShown, this, &CClipDlg::OnJobMessageShown);
    m_pProgressDelay = new QTimer(this);
    m_pProgressDelay->setSingleShot(true);
    connect(m_pProgressDelay, &QTimer::timeout, this, &CClipDlg::ShowProgressDialog);
    m_pProgressRefresh = new QTimer(this);
    connect(m_pProgressRefresh, &QTimer::timeout, this, &CClipDlg::RefreshProgressDialog);
    m_pRenderer = std::make_unique<CBackgroundRenderer>();
}

void CClipDlg::CreateControls() {
    const CDialogUnits units(font());
    setFixedSize(units.ToPixels(0, 0, 277, 213).size());

    QWidget* pPrevious = nullptr;
    QGroupBox* pGroupBox = nullptr;
    for (const CControlTemplate& item : kTemplate) {
        const QString strText =
            item.pszText != nullptr ? QString::fromUtf16(item.pszText) : QString();
        QWidget* pControl = nullptr;
        switch (item.kind) {
            case EControl::Edit: {
                auto* pEdit = new QLineEdit(this);
                pEdit->setAlignment(item.bCentred ? Qt::AlignCenter
                                                  : Qt::AlignLeft | Qt::AlignVCenter);
                pControl = pEdit;
                break;
            }
            case EControl::UpDown:
                pControl = new CUpDown(this);
                break;
            case EControl::Static: {
                // The statics that show values rather than captions start empty.
                auto* pLabel =
                    strText.isEmpty()
                        ? new CDisplayStatic(QString::fromUtf16(item.pszAccessibleName), this)
                        : new QLabel(strText, this);
                pLabel->setTextFormat(Qt::PlainText);
                pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                pControl = pLabel;
                break;
            }
            case EControl::Button:
                pControl = new QPushButton(strText, this);
                break;
            case EControl::Slider:
                pControl = new CPositionSlider(m_app, this);
                break;
            case EControl::Radio: {
                // One tab stop for the group, the checked button (UpdateModeTabStop); the
                // arrow keys move within it.
                auto* pRadio = new QRadioButton(strText, this);
                pRadio->setFocusPolicy(Qt::StrongFocus);
                pRadio->installEventFilter(this);
                pControl = pRadio;
                break;
            }
            case EControl::CheckBox: {
                auto* pCheck = new QCheckBox(strText, this);
                pCheck->setToolTip(
                    u"Cut at the stream's own times, start every piece at a picture that plays "
                    u"and give it a header of its own. Off: pieces of the size the times give, "
                    u"each with a copy of the source's first pack."_s);
                pControl = pCheck;
                break;
            }
            case EControl::GroupBox:
                pGroupBox = new QGroupBox(strText, this);
                // The frame's top edge runs through the middle of its title, as in the
                // template, instead of below it, so the radio buttons sit well inside.
                pGroupBox->setStyleSheet(
                    u"QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                    u" margin-top: 0.5em; }"
                    u"QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"_s);
                pControl = pGroupBox;
                break;
        }
        pControl->setGeometry(units.ToPixels(item.x, item.y, item.cx, item.cy));
        // A text that is wider than its box in this font may run on into the free space after
        // it rather than be cut off.
        if ((item.kind == EControl::Static || item.kind == EControl::Radio) && !strText.isEmpty() &&
            pControl->sizeHint().width() > pControl->width()) {
            pControl->resize(pControl->sizeHint().width(), pControl->height());
        }
        pControl->setObjectName(QString::number(item.nId));
        pControl->setAccessibleName(item.pszAccessibleName != nullptr
                                        ? QString::fromUtf16(item.pszAccessibleName)
                                        : QString(strText).remove(u'&'));
        if (item.nId != IDC_STATIC) {
            pControl->setAccessibleDescription(QString::number(item.nId));
            m_controls[item.nId] = pControl;
        }
        if (item.kind == EControl::UpDown) {
            // Attached to the field before it, at that field's right end.
            static_cast<CUpDown*>(pControl)->SetBuddy(qobject_cast<QLineEdit*>(pPrevious));
        }
        pPrevious = pControl;
    }
    // The frame is drawn behind the radio buttons it encloses, and lets their clicks through.
    if (pGroupBox != nullptr) {
        pGroupBox->lower();
        pGroupBox->setFocusPolicy(Qt::NoFocus);
    }

    // Tab stops follow the template's order.
    QWidget* pLastTabStop = nullptr;
    for (const CControlTemplate& item : kTemplate) {
        QWidget* pControl = GetDlgItem(item.nId);
        if (pControl == nullptr || !(pControl->focusPolicy() & Qt::TabFocus)) {
            continue;
        }
        if (pLastTabStop != nullptr) {
            QWidget::setTabOrder(pLastTabStop, pControl);
        }
        pLastTabStop = pControl;
    }

    // Labels name their fields for screen readers.
    auto setBuddy = [this](int nLabel, int nField) {
        static_cast<QLabel*>(GetDlgItem(nLabel))->setBuddy(GetDlgItem(nField));
    };
    setBuddy(IDC_OUTPUT_FILE_LABEL, IDC_OUTPUT_FILE);
    setBuddy(IDC_PIECE_COUNT_LABEL, IDC_PIECE_COUNT);
    setBuddy(IDC_EACH_SIZE_LABEL, IDC_EACH_SIZE);
    setBuddy(IDC_PIECE_SECONDS_LABEL, IDC_PIECE_SECONDS);
    setBuddy(IDC_OUTPUT_FOLDER_LABEL, IDC_OUTPUT_FOLDER);

    m_pInfoLine = static_cast<CDisplayStatic*>(GetDlgItem(IDC_INFO_LINE));
    m_pOutputFileEdit = static_cast<QLineEdit*>(GetDlgItem(IDC_OUTPUT_FILE));
    m_pPieceCountEdit = static_cast<QLineEdit*>(GetDlgItem(IDC_PIECE_COUNT));
    m_pPieceCountSpin = static_cast<CUpDown*>(GetDlgItem(IDC_PIECE_COUNT_SPIN));
    m_pPieceSecondsEdit = static_cast<QLineEdit*>(GetDlgItem(IDC_PIECE_SECONDS));
    m_pPieceSecondsSpin = static_cast<CUpDown*>(GetDlgItem(IDC_PIECE_SECONDS_SPIN));
    m_pOutputFolderEdit = static_cast<QLineEdit*>(GetDlgItem(IDC_OUTPUT_FOLDER));
    m_pEachSize = static_cast<CDisplayStatic*>(GetDlgItem(IDC_EACH_SIZE));
    m_pPosition = static_cast<CDisplayStatic*>(GetDlgItem(IDC_POSITION));
    m_pSlider = static_cast<CPositionSlider*>(GetDlgItem(IDC_POSITION_SLIDER));
    m_pByFrame = static_cast<QRadioButton*>(GetDlgItem(IDC_BY_FRAME));
    m_pCleanCuts = static_cast<QCheckBox*>(GetDlgItem(IDC_CLEAN_CUTS));
}

void CClipDlg::ConnectCommands() {
    auto onClick = [this](int nId, void (CClipDlg::*pHandler)()) {
        connect(static_cast<QAbstractButton*>(GetDlgItem(nId)), &QAbstractButton::clicked, this,
                pHandler);
    };
    onClick(IDC_OPEN_MPEG, &CClipDlg::OnOpenMpeg);
    onClick(IDC_CUT_START, &CClipDlg::OnCutStart);
    onClick(IDC_PLAY, &CClipDlg::OnPlay);
    onClick(IDC_PAUSE, &CClipDlg::OnPause);
    onClick(IDC_STOP, &CClipDlg::OnStop);
    onClick(IDC_START_TIME, &CClipDlg::OnStartTime);
    onClick(IDC_END_TIME, &CClipDlg::OnEndTime);
    onClick(IDC_SIZE_START, &CClipDlg::OnSplitBySizeStart);
    onClick(IDC_TIME_START, &CClipDlg::OnSplitByTimeStart);
    ConnectModeSwitch(IDC_BY_FRAME, &CClipDlg::OnByFrame);
    ConnectModeSwitch(IDC_BY_SIZE, &CClipDlg::OnBySize);
    ConnectModeSwitch(IDC_BY_TIME, &CClipDlg::OnByTime);
    onClick(IDC_BROWSE_FOLDER, &CClipDlg::OnBrowseFolder);
    onClick(IDC_BROWSE_FILE, &CClipDlg::OnBrowseOutputFile);
    onClick(IDC_HOMEPAGE, &CClipDlg::OnHomepage);
    onClick(IDC_HELP_BUTTON, &CClipDlg::OnHelpButton);
    onClick(IDC_CLOSE_SOURCE, &CClipDlg::OnCloseSource);
    onClick(IDC_CLEAN_CUTS, &CClipDlg::OnCleanCuts);
    connect(m_pSlider, &CPositionSlider::ReleasedCapture, this, &CClipDlg::OnSliderReleased);
    connect(m_pPieceCountSpin, &CUpDown::DeltaPos, this, &CClipDlg::OnPieceCountDelta);

    // The window menu, from the keyboard as from the title bar.
    auto* pMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(pMenuKey, &QShortcut::activated, this,
            [this] { ShowWindowMenu(mapToGlobal(QPoint(0, 0))); });
    // The standard help key opens nothing; Help is a button of its own.
    auto* pHelpKey = new QShortcut(QKeySequence::HelpContents, this);
    connect(pHelpKey, &QShortcut::activated, this, &CClipDlg::OnHelp);
}

void CClipDlg::ConnectModeSwitch(int nId, void (CClipDlg::*pHandler)()) {
    // A click, the arrow keys, a screen reader's toggle action or the program itself checks a
    // radio button, and its check applies the layout, once. A click on the button already
    // checked changes no check and applies the same layout again.
    auto* pRadio = static_cast<QRadioButton*>(GetDlgItem(nId));
    connect(pRadio, &QAbstractButton::pressed, this, [this] { m_nModeCheckedId = 0; });
    connect(pRadio, &QAbstractButton::toggled, this, [this, nId, pHandler](bool bChecked) {
        if (bChecked) {
            m_nModeCheckedId = nId;
            UpdateModeTabStop();
            (this->*pHandler)();
        }
    });
    connect(pRadio, &QAbstractButton::clicked, this, [this, nId, pHandler] {
        if (m_nModeCheckedId != nId) {
            (this->*pHandler)();
        }
        m_nModeCheckedId = 0;
    });
}

void CClipDlg::UpdateModeTabStop() {
    for (const int nId : kModeRadios) {
        auto* pRadio = static_cast<QRadioButton*>(GetDlgItem(nId));
        pRadio->setFocusPolicy(pRadio->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

bool CClipDlg::MoveModeSelection(QRadioButton* pFrom, int nStep) {
    const int nCount = static_cast<int>(std::size(kModeRadios));
    const auto* pFound =
        std::find(std::begin(kModeRadios), std::end(kModeRadios), pFrom->objectName().toInt());
    if (pFound == std::end(kModeRadios)) {
        return false;
    }
    // Round the group, as radio groups go.
    const int nNext = (static_cast<int>(pFound - kModeRadios) + nStep + nCount) % nCount;
    auto* pNext = static_cast<QRadioButton*>(GetDlgItem(kModeRadios[nNext]));
    pNext->setFocus(nStep > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    pNext->click();
    return true;
}

bool CClipDlg::eventFilter(QObject* pWatched, QEvent* pEvent) {
    auto* pRadio = qobject_cast<QRadioButton*>(pWatched);
    if (pRadio != nullptr && pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if ((pKey->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            switch (pKey->key()) {
                case Qt::Key_Right:
                case Qt::Key_Down:
                    return MoveModeSelection(pRadio, 1);
                case Qt::Key_Left:
                case Qt::Key_Up:
                    return MoveModeSelection(pRadio, -1);
                default:
                    break;
            }
        }
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

QWidget* CClipDlg::GetDlgItem(int nId) const {
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

void CClipDlg::setVisible(bool bVisible) {
    const bool bFirstShow = bVisible && !m_bInitialized;
    if (bFirstShow) {
        m_bInitialized = true;
        OnInitDialog();
    }
    QDialog::setVisible(bVisible);
    if (bFirstShow && !m_strStartFile.isEmpty()) {
        // Once the window is on screen, so the preview is placed beside it.
        QMetaObject::invokeMethod(this, &CClipDlg::OpenStartFile, Qt::QueuedConnection);
    }
}

bool CClipDlg::OnInitDialog() {
    DoDataExchange(false);
    AddAboutToWindowMenu();
    setWindowIcon(m_hIcon);

    // The duration probe and the preview need the media framework on this thread. Every
    // supported system counts as one whose videos folder can be looked up, so there is no
    // version to query first.
    m_bMediaFrameworkStarted = MediaFrameworkInitialize();

    m_pSlider->setRange(0, kSliderRange);
    m_pSlider->setValue(0);
    m_pPieceCountSpin->SetRange(kSpinLower, kSpinUpper);

    m_strOutputFolder =
        ReadFolderSetting(kOptionSection, u"output_folder"_s, u"/"_s, CSIDL_MYVIDEO);
    m_pOutputFolderEdit->setText(m_strOutputFolder);
    m_strOutputFile =
        ReadFolderSetting(kOptionSection, u"output_cut_file"_s, u"/clip1.mpg"_s, CSIDL_MYVIDEO);
    m_pOutputFileEdit->setText(m_strOutputFile);

    m_pPieceSecondsSpin->SetRange(kSpinLower, kSpinUpper);
    m_nPieceSeconds = 60;
    m_pPieceSecondsEdit->setText(QString::number(m_nPieceSeconds));

    m_bCleanCuts = m_app.ReadSetting(kOptionSection, kCleanCutsSetting, u"0"_s) == u"1"_s;
    m_pCleanCuts->setChecked(m_bCleanCuts);

    {
        // Checked without its toggle, which would apply the layout a second time.
        const QSignalBlocker quiet(m_pByFrame);
        m_pByFrame->setChecked(true);
    }
    UpdateModeTabStop();
    OnByFrame();

    m_source.ClearSourcePath();
    GetDlgItem(IDC_CLOSE_SOURCE)->hide();
    return true;
}

QString CClipDlg::ReadFolderSetting(const QString& strSection, const QString& strName,
                                    const QString& strDefault, int nFolder) {
    const std::optional<QString> folder = m_shell.shellFolders.GetFolderPath(nFolder);
    if (!folder) {
        ShowMessage(u"Error"_s, u"Can not get My Videos directory!"_s);
        return m_app.ReadSetting(strSection, strName, strDefault);
    }
    QString strTail = TailFromLastBackslash(strDefault);
    // The root folder already ends with the separator the tail begins with.
    if (folder->endsWith(kPathSeparator) && strTail.startsWith(kPathSeparator)) {
        strTail.remove(0, 1);
    }
    QString strFolderDefault = *folder + strTail;
    // A default beyond the platform's path limit could never be opened; keep the plain one.
    if (strFolderDefault.toUtf8().size() >= PATH_MAX) {
        strFolderDefault = strDefault;
    }
    return m_app.ReadSetting(strSection, strName, strFolderDefault);
}

bool CClipDlg::DoDataExchange(bool bFromControls) {
    int* const pTimeValues[] = {&m_nStartHour, &m_nStartMinute, &m_nStartSecond,
                                &m_nEndHour,   &m_nEndMinute,   &m_nEndSecond};
    if (!bFromControls) {
        m_pInfoLine->SetWindowText(m_strInfoLine);
        for (size_t i = 0; i < std::size(kTimeFields); ++i) {
            static_cast<QLineEdit*>(GetDlgItem(kTimeFields[i]))
                ->setText(QString::number(*pTimeValues[i]));
        }
        m_pOutputFileEdit->setText(m_strOutputFile);
        m_pPieceCountEdit->setText(QString::number(m_nPieceCount));
        return true;
    }
    m_strInfoLine = m_pInfoLine->text();
    for (size_t i = 0; i < std::size(kTimeFields); ++i) {
        if (!ExchangeInteger(kTimeFields[i], *pTimeValues[i])) {
            return false;
        }
    }
    m_strOutputFile = m_pOutputFileEdit->text();
    return ExchangeInteger(IDC_PIECE_COUNT, m_nPieceCount);
}

bool CClipDlg::ExchangeInteger(int nId, int& nValue) {
    auto* pEdit = static_cast<QLineEdit*>(GetDlgItem(nId));
    const std::optional<int> value = ParseDialogInteger(pEdit->text());
    if (!value) {
        ShowAppMessage(u"Please enter an integer."_s);
        pEdit->setFocus(Qt::OtherFocusReason);
        pEdit->selectAll();
        return false;
    }
    nValue = *value;
    return true;
}

void CClipDlg::ShowModeControls(EMode mode) {
    auto show = [this](const auto& ids, bool bShow) {
        for (const int nId : ids) {
            GetDlgItem(nId)->setVisible(bShow);
        }
    };
    show(kByFrameControls, mode == EMode::ByFrame);
    show(kBySizeControls, mode == EMode::BySize);
    show(kByTimeControls, mode == EMode::ByTime);
    show(kSeriesControls, mode != EMode::ByFrame);
}

void CClipDlg::OnByFrame() {
    ShowModeControls(EMode::ByFrame);
}

void CClipDlg::OnBySize() {
    ShowModeControls(EMode::BySize);
}

void CClipDlg::OnByTime() {
    ShowModeControls(EMode::ByTime);
}

void CClipDlg::OnClose() {
    m_app.WriteSetting(kOptionSection, u"output_folder"_s, m_strOutputFolder);
    ClosePreview();
    reject();
}

void CClipDlg::OnCleanCuts() {
    // Stored as soon as the user changes it, as a chosen output file is.
    m_bCleanCuts = m_pCleanCuts->isChecked();
    m_app.WriteSetting(kOptionSection, kCleanCutsSetting, m_bCleanCuts ? u"1"_s : u"0"_s);
}

void CClipDlg::OnOK() {
    if (DoDataExchange(true)) {
        accept();
    }
}

void CClipDlg::OnCancel() {
    reject();
}

void CClipDlg::closeEvent(QCloseEvent* pEvent) {
    // Work under way is stopped first; the window closes once it has ended.
    if (m_bBusy) {
        m_bCloseWhenIdle = true;
        m_pJob->RequestStop();
        pEvent->ignore();
        return;
    }
    OnClose();
    pEvent->accept();
}

void CClipDlg::keyPressEvent(QKeyEvent* pEvent) {
    // Keys reach the window when the focused control has no use for them; a focused push
    // button has already taken Enter as its own click.
    if (pEvent->matches(QKeySequence::Cancel)) {
        OnCancel();
        return;
    }
    const bool bPlain =
        pEvent->modifiers() == Qt::NoModifier ||
        (pEvent->modifiers() == Qt::KeypadModifier && pEvent->key() == Qt::Key_Enter);
    if (bPlain && (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter)) {
        OnOK();
        return;
    }
    if (IsContextMenuKey(*pEvent)) {
        OpenContextMenuFromKeyboard();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void CClipDlg::OpenContextMenuFromKeyboard() {
    if (m_pWindowMenu != nullptr && m_pWindowMenu->isVisible()) {
        return;
    }
    // The focused control's own menu, if it has one (a field's editing menu); else the
    // window's, which the event reaches by propagation.
    QWidget* pTarget = focusWidget() != nullptr ? focusWidget() : this;
    const QPoint pos = pTarget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, pos, pTarget->mapToGlobal(pos));
    QApplication::sendEvent(pTarget, &event);
}

void CClipDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    // From the keyboard: whatever has the focus, the window's menu, beside it.
    if (pEvent->reason() == QContextMenuEvent::Keyboard) {
        ShowWindowMenu(pEvent->globalPos());
        return;
    }
    // Only the window's free area: fields and buttons are not the window.
    QWidget* pChild = childAt(pEvent->pos());
    if (pChild == nullptr || qobject_cast<QLabel*>(pChild) != nullptr ||
        qobject_cast<QGroupBox*>(pChild) != nullptr) {
        ShowWindowMenu(pEvent->globalPos());
        return;
    }
    QDialog::contextMenuEvent(pEvent);
}

void CClipDlg::paintEvent(QPaintEvent* pEvent) {
    if (!isMinimized()) {
        ShowPosition();
    }
    QDialog::paintEvent(pEvent);
}

void CClipDlg::customEvent(QEvent* pEvent) {
    if (pEvent->type() != CWindowMessageEvent::EventType()) {
        QDialog::customEvent(pEvent);
        return;
    }
    const auto* pMessage = static_cast<CWindowMessageEvent*>(pEvent);
    if (pMessage->Message() == WM_PREVIEW_POSITION) {
        ShowPosition();
    } else if (pMessage->Message() == WM_COMMAND &&
               static_cast<int>(pMessage->WParam() & 0xFFFF) == IDC_CLOSE_SOURCE) {
        OnCloseSource();
    }
}

void CClipDlg::ShowMessage(const QString& strCaption, const QString& strText) {
    m_shell.messageBoxes.Show(OwnedMessage(this, strCaption, strText));
}

void CClipDlg::ShowAppMessage(const QString& strText) {
    m_shell.messageBoxes.Show(ApplicationMessage(m_app.ApplicationName(), strText));
}
