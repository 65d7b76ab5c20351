// The main window: the key list, the search words, the two paths, the menu
// and its commands, and the window side of a search run (dropped files).
#pragma once

#include <QMainWindow>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop.hpp"
#include "config/options.hpp"
#include "run/run_host.hpp"
#include "run/search_run.hpp"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;

namespace korvalen {

class TAboutForm;
class THelpViewer;
class TResultsForm;
class TSettingForm;

// Where the program keeps its files: the INI file and the help file.
struct FormSetup {
    std::string iniPath;  // file-system bytes
    QString helpFile;
};

// The text colour of the word box while it only shows the words: the grey
// of an inactive title bar.
QColor InactiveCaptionColour();

class TMainForm : public QMainWindow, public RunHost {
    Q_OBJECT

  public:
    TMainForm(Desktop& desktop, FormSetup setup, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The dialogs, created after the main window.
    void SetDialogs(TSettingForm* setting, TAboutForm* about);
    TSettingForm* SettingForm() const noexcept { return settingForm_; }
    TAboutForm* AboutForm() const noexcept { return aboutForm_; }
    THelpViewer* HelpViewer() const noexcept { return helpViewer_; }
    // The results window, made at its first use.
    TResultsForm* ResultsForm();

    iset Options;
    const RunState& State() const noexcept { return run_.State(); }
    bool DropTarget() const noexcept { return dropTarget_; }
    QString StatusText() const;
    QString HelpFile() const;
    const std::string& IniPath() const noexcept { return setup_.iniPath; }

    // How often a run lets the window process its events (tests make it 0).
    void SetMessageInterval(std::chrono::microseconds interval) { messageInterval_ = interval; }

    // Controls.
    QFrame* Panel1;
    QLabel* Label3;
    QComboBox* DCRelStr;
    QProgressBar* PFileCount;
    QLabel* Label1;
    QLineEdit* ERelFile;
    QLabel* Label2;
    QLineEdit* EOutputFile;
    QPlainTextEdit* MSearchStr;
    QStatusBar* StatusBar;

    // Menu.
    QMenu* MFile;
    QAction* MFileRel;
    QAction* MFileOut;
    QAction* KS1;
    QAction* MFileResults;
    QAction* MFileOutDel;
    QAction* MFileStop;
    QAction* MFileExit;
    QMenu* MEdit;
    QAction* MEditRel;
    QAction* MEditOut;
    QAction* MEditRelChg;
    QAction* MEditWord;
    QMenu* MSetting;
    QAction* MSettingRun;
    QAction* MSettingPos;
    QMenu* MHelp;
    QAction* MHelpTopic;
    QAction* MHelpAbout;

    // The two file dialogs: each keeps its file name between showings.
    FileDialogRequest OpenKvlFile;
    FileDialogRequest OutputDialog;

    // Handlers.
    void FormDestroy();  // once; also run by the destructor
    void LoadRelKeys(const std::string& path);
    void DCRelStrExit();
    void DCRelStrEnter();
    void DCRelStrKeyDown(int key);
    void MSearchStrKeyDown(int key);
    void MSearchStrExit();
    void MEditWordClick();
    void EndEditWord();
    void MEditRelChgClick();
    void MFileRelClick();
    void MFileOutClick();
    void KS1Click();
    void MFileOutDelClick();
    void MEditRelClick();
    void MEditOutClick();
    void MFileStopClick();
    void MFileResultsClick();
    void MFileExitClick();
    void MHelpTopicClick();
    void MHelpAboutClick();
    void MSettingRunClick();
    void MSettingPosClick();
    void RecycleFile(const std::string& path);
    void OpenWithEditor(const std::string& path) override;
    // At `line` (0: the file's start) and `column` (1-based, in characters,
    // and on screen; 0: none) where the editor allows. A program that cannot be started is
    // named in a message with the reason.
    void OpenWithEditor(const std::string& path, std::int64_t line, std::int64_t column = 0,
                        std::int64_t screenColumn = 0);

    // Files dropped, or handed over on the command line: a run over them
    // starts once control returns to the event loop. False when refused, as
    // a drop is while a run is under way.
    bool DropFiles(std::vector<std::string> names);
    // A search run over `names` (file-system bytes), as a drop starts it.
    RunOutcome WMDropFiles(const std::vector<std::string>& names);

  signals:
    // Every status text, in order, also those a run sets between repaints.
    void statusTextSet(const QString& text);
    // A run has ended (or was refused); the outcome as the run reported it.
    void runEnded(korvalen::RunOutcome outcome);

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenu();
    void BuildControls();
    void FormCreate();
    void SetStatus(const QString& text);
    void SetWords(const std::vector<std::string>& words);
    std::vector<std::string> Words() const;
    QString ShowFileDialog(FileDialogRequest& dialog);  // empty when cancelled
    void SetEditing(bool editing);
    void FlushProgress();
    void SaveFailed();

    // RunHost: reached through a RunHost reference (the run, the tests).
    void SetStatusText(std::string_view utf8) override;
    void SetCaption(std::string_view utf8) override;
    void SetAppTitle(std::string_view utf8) override;
    void SetProgressMax(std::int64_t max) override;
    void SetProgressPos(std::int64_t pos) override;
    void SetProgressVisible(bool visible) override;
    void LockControls() override;
    void UnlockControls() override;
    void Minimize() override;
    void Restore() override;
    void ShowMessage(std::string_view utf8) override;
    void ProcessMessages() override;
    std::uint64_t WordsGeneration() override { return wordsGeneration_; }
    std::vector<std::string> SearchWords() override { return Words(); }
    std::int64_t AvailablePhysicalMemory() override;
    bool ShiftCtrlDown() override;
    std::string AskOutputPath() override;
    void SetDropTarget(bool on) override;

    Desktop& desktop_;
    FormSetup setup_;
    SearchRun run_;
    TSettingForm* settingForm_ = nullptr;
    TAboutForm* aboutForm_ = nullptr;
    THelpViewer* helpViewer_;
    TResultsForm* resultsForm_ = nullptr;
    QLabel* statusLabel_;

    bool dropTarget_ = false;
    bool dropPending_ = false;
    bool inRun_ = false;
    bool destroyed_ = false;
    bool pathsSaved_ = false;  // by closing the window
    std::uint64_t wordsGeneration_ = 0;
    Qt::WindowStates stateBeforeMinimize_;
    std::chrono::steady_clock::time_point restoreHeldUntil_;  // a late minimise is undone

    // Progress in bytes, shown scaled to the bar's int range.
    std::int64_t progressPos_ = 0;
    int progressShift_ = 0;

    // Pending events are processed at most this often during a run.
    std::chrono::microseconds messageInterval_{20000};
    std::chrono::steady_clock::time_point lastMessages_;
    std::uint32_t messageCalls_ = 0;
    std::int64_t progressAtCheck_ = 0;
    QString pendingStatus_;
    bool statusPending_ = false;
};

// The program's windows in their order: the main window (its creation reads
// the INI file and loads the key list), then the settings dialog, then the
// about dialog, both owned by the main window and hidden.
std::unique_ptr<TMainForm> CreateForms(Desktop& desktop, FormSetup setup);

// Where the main window of `size` saved at `left`, `top` opens: kept on the
// screen it overlaps most, pulled in from that screen's edges; a window off
// every screen goes to the primary one.
QPoint WindowPlace(std::int64_t left, std::int64_t top, QSize size, const QRect& primary,
                   const std::vector<QRect>& screens);
// The saved size bounded by `minimum` and by the screen the window opens on,
// at its place by WindowPlace: a hand-edited INI file cannot make a window
// larger than the screens or place it off them.
QRect WindowGeometry(std::int64_t left, std::int64_t top, QSize saved, QSize minimum,
                     const QRect& primary, const std::vector<QRect>& screens);

// The executable's path with its extension (if any) replaced by `extension`.
QString ExePathWithExtension(const QString& exePath, const QString& extension);

}  // namespace korvalen
