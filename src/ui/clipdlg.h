// The main window: the source information line, the three split modes with their fields, the
// preview's transport buttons and the output destination. It owns every value the split
// commands read; values move between its fields and its controls only in explicit exchanges.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "media/mediainterfaces.h"
#include "mpeg/mpegsource.h"
#include "mpeg/splitengine.h"
#include "platform/desktop/shellservices.h"
#include "platform/io/fileio.h"

class CBackgroundRenderer;
class CClipApp;
class CCutListDlg;
class CJoinDlg;
class CDisplayStatic;
class CEngineJob;
class CInputBlocker;
class CLatestJob;
class CPositionSlider;
class CProgressDlg;
class CUpDown;
class CWindowReporter;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

class CClipDlg : public QDialog {
    Q_OBJECT

public:
    enum class EMode { ByFrame, BySize, ByTime };

    // Builds the window and its controls. The set-up (OnInitDialog) runs when the window is
    // first shown. app and shell must outlive the window.
    CClipDlg(CClipApp& app, const CShellServices& shell, QWidget* pParent = nullptr);
    ~CClipDlg() override;

    // Set-up after the controls exist: fills the controls, reads the stored output folder and
    // output file, applies the By frame layout. Runs once, before the window first shows.
    bool OnInitDialog();

    // Moves the exchanged values between the fields and the controls: the information line,
    // the six time fields, the output file and the piece count. Towards the controls it cannot
    // fail. From the controls it stops at the first integer field that holds no number, says
    // "Please enter an integer.", selects that field and returns false; the fields before it
    // have taken their new values, the later ones keep their old ones.
    bool DoDataExchange(bool bFromControls);

    // Shows the controls of one mode and hides those of the others; touches nothing else.
    void ShowModeControls(EMode mode);

    // The stored value, or the default moved into the shell folder nFolder: the part of
    // strDefault from its last separator on is put after the folder's path.
    QString ReadFolderSetting(const QString& strSection, const QString& strName,
                              const QString& strDefault, int nFolder);

    // A window-menu command. The About command is recognised with its low four bits cleared;
    // Minimize and Close do what the window's title bar does.
    void OnSysCommand(unsigned nID, qintptr lParam);

    // How the Open MPEG command measures a source's duration; the media framework's query
    // unless a test hands in its own.
    void SetStopPositionQuery(StopPositionQuery query) { m_queryStopPosition = std::move(query); }

    // The control with the identifier, or null.
    QWidget* GetDlgItem(int nId) const;

    // The window menu (Alt+Space, or a right click on the window's free area).
    QMenu* WindowMenu() const { return m_pWindowMenu; }

    // Command and notification handlers, named as the window's commands are.
    void OnOpenMpeg();
    // Opens strPath as Open MPEG does once its dialog has chosen it: the same probes, messages
    // and preview. Ignored while long work runs.
    void OpenMpegFile(const QString& strPath);
    // A file to open once the window has first shown (the command line's); nIgnoredFiles more
    // were named, and the user is told that only the first is opened.
    void SetStartFile(const QString& strPath, int nIgnoredFiles = 0);
    // The message when several files arrive at once.
    static QString OnlyFirstFileText(const QString& strPath);
    void OnCutStart();
    // The window menu's "Cut list..." and "Join MPEG files...": each opens its window (made
    // once, kept while the main window lives).
    void OnCutList();
    void OnJoinFiles();
    CCutListDlg* CutListDialog() const { return m_pCutListDlg; }
    CJoinDlg* JoinDialog() const { return m_pJoinDlg; }
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStartTime();
    void OnEndTime();
    void OnSplitBySizeStart();
    void OnSplitByTimeStart();
    void OnByFrame();
    void OnBySize();
    void OnByTime();
    void OnBrowseFolder();
    void OnBrowseOutputFile();
    void OnHomepage();
    void OnHelpButton();
    void OnHelp();
    void OnCloseSource();
    void OnSliderReleased();
    // The clean cuts check box: takes its state and stores it (section "Option", clean_cuts).
    void OnCleanCuts();
    void OnPieceCountDelta(int nOldPos, int nDelta);
    void ShowPosition();
    void OnClose();

    // Seeks the preview to a slider position (0 to 600 of its stop position); false when
    // there is no preview or it has no stop position yet.
    bool SeekFromSlider(int nSliderPos);
    // Shows the size of each of nCount pieces of the source in KB; a count below 1, or no
    // source, leaves the display as it is.
    void ShowEachSize(int nCount);

    // The plan line below the time fields (clipdlg_plan.cpp): where the mode's Start command
    // would really cut and what it would write, as the engine's search finds it off the GUI
    // thread; worked out again whenever a field, the mode or the clean cuts box changes.
    // Invalid fields give the message the command would show. Its click seeks the preview to
    // the planned first picture.
    void UpdatePlanLine();
    void OnPlanLine();
    QString PlanLineText() const;
    // A source opened or closed: the plan line again, and the key pictures, listed off the
    // GUI thread, handed to the preview of that file.
    void OnSourceChanged();
    // Neither the plan line nor the key pictures are being worked out, nor on their way.
    bool PlanIsIdle() const;
    // The start or end fields as the clip cut takes them: with the milliseconds of the exact
    // position "Start Time" or "End Time" took while the fields still hold its whole seconds.
    CClipTime FieldTime(bool bEnd) const;

    // Disposes of the preview, if any, and puts the slider back to 0.
    bool ClosePreview();

    // Hands the opened source to a new preview player; 1 when it has opened the file. On
    // failure the source path is emptied and the player disposed of.
    int OpenPreview(CMpegSource& source);
    // OpenPreview for the Open command: the file renders off the GUI thread, and opened gets
    // OpenPreview's result once it has (the source path is emptied and the player disposed of
    // on failure, as there).
    void OpenPreviewInBackground(std::function<void(int)> opened);

    // Long work. The Start commands and the Open command's probes and preview start run off
    // the GUI thread, on copies of the source's facts; the window keeps painting, shows the
    // busy cursor as the work asks (for Open, throughout), and takes no other input until the
    // work has ended. After kProgressDelayMs a Start command's progress dialog, modal to the
    // window, shows which file is written, a bar over all the bytes and Cancel. Every message
    // of the work is shown by this thread in its order. A close request meanwhile stops the
    // work first and closes the window when it has ended.
    static constexpr int kProgressDelayMs = 500;
    static constexpr int kProgressRefreshMs = 100;
    // True from the start of such work until it has ended.
    bool IsBusy() const { return m_bBusy; }
    // The progress dialog once a command has shown one, else null.
    CProgressDlg* ProgressDialog() const { return m_pProgressDlg; }
    // The file system the commands read and write; the real one unless a test hands in
    // another, which must outlive the window.
    void SetFileSystem(IFileSystem& fileSystem) { m_pFileSystem = &fileSystem; }

    // The maker of the preview's filter graphs; it must outlive the window. Unless one is set,
    // the window makes GStreamer graphs that paint into the preview window.
    void SetPreviewGraphFactory(IFilterGraphFactory* pFactory) { m_pGraphFactory = pFactory; }

    // Runs the folder browser owned by pOwner, starting at strFolder if that is a folder, else
    // at the desktop; a chosen folder replaces strFolder. False when nothing was chosen, and
    // strFolder is then unchanged.
    bool BrowseForFolder(QWidget* pOwner, QString& strFolder);

    // Exchanged fields.
    QString m_strInfoLine;
    int m_nStartHour = 0;
    int m_nStartMinute = 0;
    int m_nStartSecond = 0;
    int m_nEndHour = 0;
    int m_nEndMinute = 0;
    int m_nEndSecond = 0;
    QString m_strOutputFile;
    int m_nPieceCount = 2;

    // Fields written into their controls explicitly.
    QString m_strOutputFolder;
    int m_nPieceSeconds = 0;
    int m_nSliderPos = 0;
    // The three Start commands cut cleanly (CSplitOptions); read from the settings at set-up.
    bool m_bCleanCuts = false;

    // The opened source: path (empty for none), size, header length and duration. Filled by
    // the Open MPEG command; the Start commands re-measure the size.
    CMpegSource m_source;

protected:
    void setVisible(bool bVisible) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    // Local files dropped on the window open as Open MPEG opens them; several open the first.
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void OpenStartFile();
    static QStringList LocalFiles(const QMimeData* pData);
    void CreateControls();
    void ConnectCommands();
    void CreateJob();
    // The mode's radio button nId runs pHandler when it becomes checked, or is clicked checked.
    void ConnectModeSwitch(int nId, void (CClipDlg::*pHandler)());
    // The checked mode button is the group's one tab stop.
    void UpdateModeTabStop();
    // Focuses and clicks the mode button nStep places from pFrom, round the group.
    bool MoveModeSelection(QRadioButton* pFrom, int nStep);
    // The Menu key or Shift+F10: the focused control's context menu, or the window menu.
    void OpenContextMenuFromKeyboard();
    void AddAboutToWindowMenu();
    void ShowWindowMenu(const QPoint& globalPos);
    bool ExchangeInteger(int nId, int& nValue);
    void OnOK();
    void OnCancel();
    // The four kinds of message box, as the window shows them.
    void ShowMessage(const QString& strCaption, const QString& strText);
    void ShowAppMessage(const QString& strText);
    // The output folder as the series splits take it: the text of 1021, which becomes the
    // stored folder value.
    std::string TakeOutputFolderText();
    // "Start Time" and "End Time": the preview's position, in whole seconds, into three time
    // fields, then shown; nothing without a preview.
    void TakePreviewPosition(int& nHour, int& nMinute, int& nSecond);

    void CreatePlanLine();
    void ShowPlanLine(const QString& strText);
    // After "Start Time" or "End Time": keeps the preview's exact position.
    void TakeExactPosition(bool bEnd);

    // Runs a split command off the GUI thread on a copy of the source; the window's source
    // takes the size it measured, unless it names another file by then.
    using CSplitCommand = std::function<SplitStatus(CSplitEngine& engine, CMpegSource& source)>;
    void RunSplit(CSplitCommand command);
    // Long work begins: the window takes no more input. EndBusy undoes it, and closes the
    // window if a close request came meanwhile.
    void BeginBusy();
    void EndBusy();
    void OnJobFinished();
    void OnJobMessage();
    void OnJobMessageShown();
    void LowerOpenCursor();
    void ShowProgressDialog();
    void RefreshProgressDialog();
    void HideProgressDialog();
    // A new preview player for the source, in g_pPreview, not yet open.
    void MakePreviewPlayer(const CMpegSource& source);
    // The rest of Open once its probes have run on the worker.
    void FinishOpen(const CMpegSource& candidate, int nOutcome);

    CClipApp& m_app;
    CShellServices m_shell;
    StopPositionQuery m_queryStopPosition;
    QIcon m_hIcon;
    bool m_bInitialized = false;
    QString m_strStartFile;
    int m_nStartIgnoredFiles = 0;
    bool m_bMediaFrameworkStarted = false;

    std::map<int, QWidget*> m_controls;
    QMenu* m_pWindowMenu = nullptr;
    CCutListDlg* m_pCutListDlg = nullptr;
    CJoinDlg* m_pJoinDlg = nullptr;
    CDisplayStatic* m_pInfoLine = nullptr;
    QLineEdit* m_pOutputFileEdit = nullptr;
    QLineEdit* m_pPieceCountEdit = nullptr;
    CUpDown* m_pPieceCountSpin = nullptr;
    QLineEdit* m_pPieceSecondsEdit = nullptr;
    CUpDown* m_pPieceSecondsSpin = nullptr;
    QLineEdit* m_pOutputFolderEdit = nullptr;
    CDisplayStatic* m_pEachSize = nullptr;
    CDisplayStatic* m_pPosition = nullptr;
    CPositionSlider* m_pSlider = nullptr;
    QRadioButton* m_pByFrame = nullptr;
    // The mode button whose check has applied its layout since the last press; its click
    // then applies nothing more.
    int m_nModeCheckedId = 0;
    QCheckBox* m_pCleanCuts = nullptr;

    // The preview's graph maker: injected, or the window's own GStreamer one.
    IFilterGraphFactory* m_pGraphFactory = nullptr;
    std::unique_ptr<IFilterGraphFactory> m_pOwnGraphFactory;

    // Long work: the engine's reporter as this window shows it, the job that runs the work,
    // and what the window does meanwhile.
    IFileSystem* m_pFileSystem = &PosixFileSystem();
    std::unique_ptr<CWindowReporter> m_pReporter;
    std::unique_ptr<CEngineJob> m_pJob;
    std::function<void()> m_onJobFinished;
    std::unique_ptr<CInputBlocker> m_pInputBlocker;
    bool m_bBusy = false;
    bool m_bCloseWhenIdle = false;
    bool m_bBusyCursorRaised = false;  // by the Open command, for the whole of it
    CProgressDlg* m_pProgressDlg = nullptr;
    QTimer* m_pProgressDelay = nullptr;
    QTimer* m_pProgressRefresh = nullptr;
    bool m_bShowsProgress = false;  // the running work is a Start command's
    // The plan line, its work, the preview position of its first picture; the key pictures'
    // work; the exact positions behind the whole-second time fields.
    QPushButton* m_pPlanLine = nullptr;
    std::unique_ptr<CLatestJob> m_pPlanJob;
    std::unique_ptr<CLatestJob> m_pKeyJob;
    std::optional<int64_t> m_planSeek;
    std::optional<int64_t> m_llExactStart;
    std::optional<int64_t> m_llExactEnd;
    // Renders the preview's files off the GUI thread; declared last, so it goes first, and
    // with it every render under way.
    std::unique_ptr<CBackgroundRenderer> m_pRenderer;
};
