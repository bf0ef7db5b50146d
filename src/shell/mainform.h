// The main window's shell: five tool switches on the left, one content panel
// at a time in the middle, an information column on the right and a status
// line at the bottom, with the menus, the option panels and the settings file.
// Every control is a member under its design name, which is also its
// objectName; the controls are the window's own.
//
// The shell knows no feature. The features (src/antiidle, src/tools, ...)
// are given the window as an IShell (shell/shellapi.h) and fill in the
// switch and the panel the layout made for them; src/app creates them.
// The layout is built in mainform_layout.cpp, the settings and option panels
// are in settings.cpp, IShell in shellservices.cpp, the rest of the shell's
// behaviour in mainform.cpp.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "desktop/helpviewer.h"
#include "shell/shellapi.h"

#include <map>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QScrollArea;
class QSpinBox;
class QTextEdit;
class QTimer;

class TAnimate;
class TCheckListBox;
class TFitLabel;
class TGoToWeb;
class THoldForm;
class TJustOne32;
class TPreviousInstance;
class TPictureButton;
class TResponseGraph;
class TRadioGroup;
class TSpinText;
class TTickingClock;

class TMainForm : public QWidget, public IShell {
    Q_OBJECT
public:
    // 'hold' is the hidden hold window the program ends through (none in
    // a window made alone, as tests make it); 'instance' the program's
    // single-instance guard, whose requests bring this window to the front.
    explicit TMainForm(THoldForm *hold = nullptr, TPreviousInstance *instance = nullptr);
    ~TMainForm() override;

    // ---- shell: operations ----
    void SetStatus(const QString &text, bool repaint = false) override;
    // Appends "• text" to a history or result pane and scrolls to its end.
    static void AddLine(QTextEdit *pane, const QString &text);
    // Settings file -> option values -> option controls.
    void LoadSettings();
    // Option values -> settings file; a refused write is shown in a message
    // box (false).
    bool SaveSettings();
    // The same without a message box: false with the message in 'error'.
    bool SaveSettings(QString *error);
    // Full path of the settings file.
    static QString SettingsFile();
    // Options > Preferences...: the preferences dialog.
    void Preferences1Click();
    // Takes 'options' as the preferences dialog's Save does: the preference
    // sections written to the settings file, the watchers told.
    void ChangePreferences(const config::TOptions &options);
    // Option-panel openers and the save question's answers.
    void img_AIArrowClick();
    void img_LatArrowClick();
    void img_PngArrowClick();
    void img_TrcArrowClick();
    void DialUpOptions1Click();
    void btn_YesClick();
    void btn_NoClick();
    // Menu handlers of the shell.
    void HideIdlix1Click();
    void Exit1Click();
    void Undo1Click();
    void Cut1Click();
    void Copy1Click();
    void Paste1Click();
    void Clear1Click();
    void SelectAll1Click();
    void StayOnTop1Click();
    void Help2Click();
    void BrisvaneHomePage1Click();
    void IdlixHomePage1Click();
    void About1Click();
    // Stopwatch display (one tick a second) and the status-line quotation.
    void TickingClock1Tick();
    void StatusLBLMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void EggTimerTimer();

    // ---- IShell: what the features ask of the window ----
    QWidget *Window() override { return this; }
    QTextEdit *History() override { return re_History; }
    void AddHistoryLine(const QString &text) override;
    void SetHistoryWriter(std::function<void(const QString &text)> writer) override;
    void SetHistoryInFront(bool front) override;
    void RepaintBackground() override;
    TResponseGraph &Graph() override { return *ResponseGraph; }
    TInfoColumn Info() override;
    TTickingClock &Stopwatch() override { return *TickingClock1; }
    QProgressBar *Gauge() override { return Gauge1; }
    void AcquireBackdrop() override;
    void ReleaseBackdrop() override;
    int BackdropUsers() const { return backdropUsers_; }
    void ShowMessage(const QString &text) override;
    void ShowWarning(const QString &text) override;
    void HideWindow() override;
    bool ShowTrayMessage(const QString &title, const QString &text) override;
    TToolSwitch &Switch(TToolId tool) override;
    QList<TToolId> RunningTools() const override;
    QFrame *Panel(TPanelId panel) override;
    const config::TOptions &Options() const override { return options_; }
    void SetOptions(const config::TOptions &options) override;
    void OpenOptions(TToolId tool) override;
    void WatchPreferences(std::function<void()> changed) override;
    void SetDialUpEntries(const QStringList &entries) override;
    TDialUpMenu DialUpMenu() override { return {Connect1, Disconnect1, Reset1}; }

    // ---- composition ----
    // A menu item by its design name, for the composition to bind to a
    // feature (null when the menus have no such item).
    QAction *MenuItem(const QString &name) const;
    // Disables the switch and Tools menu item of every tool no feature has
    // bound: a tool that is not part of the program cannot be started.
    void DisableUnboundTools();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The window's controls, timers and small components, each under its
    // design name, which is also its objectName: the features get what they
    // need through IShell, tests find them by name.
    // ---- shell: menu ----
    QMenuBar *MainMenu1 = nullptr;
    QMenu *Tools1 = nullptr, *Edit1 = nullptr, *DialUp1 = nullptr, *Options1 = nullptr,
          *Help1 = nullptr;
    QAction *AntiIdle1 = nullptr, *Finger1 = nullptr, *LatencyTest1 = nullptr, *Ping1 = nullptr,
            *TraceRoute1 = nullptr, *ISPTree1 = nullptr, *Resolve1 = nullptr, *History1 = nullptr,
            *FindIdleTimer1 = nullptr, *HideIdlix1 = nullptr, *Exit1 = nullptr;
    QAction *Undo1 = nullptr, *Cut1 = nullptr, *Copy1 = nullptr, *Paste1 = nullptr,
            *Clear1 = nullptr, *SelectAll1 = nullptr;
    QAction *Connect1 = nullptr, *Disconnect1 = nullptr, *Reset1 = nullptr,
            *DialUpOptions1 = nullptr;
    QAction *AntiIdle2 = nullptr, *Latency1 = nullptr, *Ping5 = nullptr, *ServerList1 = nullptr,
            *Traceroute2 = nullptr, *StayOnTop1 = nullptr, *Preferences1 = nullptr;
    QAction *Help2 = nullptr, *BrisvaneHomePage1 = nullptr, *IdlixHomePage1 = nullptr,
            *About1 = nullptr;

    // ---- shell: client area, backgrounds, tool switches ----
    QWidget *Client = nullptr;           // 449 x 252 area below the menu bar
    QLabel *img_Background = nullptr;    // picture covering the client area
    QLabel *img_Bg2 = nullptr;           // backdrop behind the wide panels
    TPictureButton *btn_AntiIdle = nullptr, *btn_Finger = nullptr, *btn_Latency = nullptr,
                   *btn_Ping = nullptr, *btn_Trace = nullptr;
    QLabel *lbl_AntiIdle = nullptr, *lbl_Finger = nullptr, *lbl_Latency = nullptr,
           *lbl_Ping = nullptr, *lbl_Trace = nullptr;   // captions above the switches
    QLabel *img_AIRed = nullptr, *img_AIGreen = nullptr, *img_FngRed = nullptr,
           *img_FngGreen = nullptr, *img_LatRed = nullptr, *img_LatGreen = nullptr,
           *img_PngRed = nullptr, *img_PngGreen = nullptr, *img_TrcRed = nullptr,
           *img_TrcGreen = nullptr;
    TPictureButton *img_AIArrow = nullptr, *img_LatArrow = nullptr, *img_PngArrow = nullptr,
                   *img_TrcArrow = nullptr;

    // ---- shell: panels ----
    QFrame *pnl_History = nullptr;
    QTextEdit *re_History = nullptr;
    QScrollArea *sb_AI = nullptr;
    TRadioGroup *rg_AIMethod = nullptr;
    TSpinText *edt_AIFreq = nullptr;
    QLineEdit *edt_AIHost = nullptr;
    TCheckListBox *cb_AIOptions = nullptr;
    QFrame *pnl_Latency = nullptr;
    QLineEdit *edt_LatHost = nullptr;
    QSpinBox *se_LatInterval = nullptr, *se_LatTO = nullptr;
    QFrame *pnl_PingOptions = nullptr;
    QSpinBox *se_PngBytes = nullptr, *se_PngTO = nullptr;
    QFrame *pnl_traceOptions = nullptr;
    QSpinBox *se_TrcBytes = nullptr, *se_TrcTO = nullptr;
    QCheckBox *cb_TrcTestPack = nullptr;
    TRadioGroup *rg_TrcMode = nullptr;
    QScrollArea *pnl_DialUp = nullptr;
    QComboBox *cb_RasConnect = nullptr;
    QLineEdit *edt_RasUserName = nullptr, *edt_RasPassword = nullptr;
    QCheckBox *cb_RasCnctOnStrt = nullptr, *cb_RasAIStrt = nullptr, *cb_RasDisc = nullptr;
    QSpinBox *se_RasDisc = nullptr;
    QFrame *pnl_Proxy = nullptr;
    QLineEdit *edt_PxyServer = nullptr, *edt_PxyPort = nullptr, *edt_PxyUser = nullptr,
              *edt_PxyPass = nullptr;
    // Panels of the features, laid out here and filled in by the features.
    QFrame *pnl_AIReport = nullptr, *pnl_Finger = nullptr, *pnl_Ping = nullptr,
           *pnl_Trace = nullptr, *pnl_ISPTree = nullptr, *pnl_Servers = nullptr,
           *pnl_Resolve = nullptr;

    // ---- shell: information column and status line ----
    QLabel *img_AIGraph = nullptr, *img_LatGraph = nullptr;
    TAnimate *anm_BV = nullptr;
    QLabel *PingLight = nullptr, *lbl_Method = nullptr, *ModeLBL = nullptr, *GoodLBL = nullptr,
           *TimeLBL = nullptr;
    QLabel *StatusLBL = nullptr, *lbl_Question = nullptr;
    TPictureButton *btn_Yes = nullptr, *btn_No = nullptr;
    QProgressBar *Gauge1 = nullptr;

    // ---- shell: timers and small components ----
    QTimer *EggTimer = nullptr;
    TTickingClock *TickingClock1 = nullptr;
    TGoToWeb *GoToWeb1 = nullptr;
    TJustOne32 *JustOne321 = nullptr;

    int EggLine = 0;                  // next quotation line to show (2..6)
    QString HelpFile;                 // the help document beside the program

    std::unique_ptr<TResponseGraph> ResponseGraph;   // on img_AIGraph and img_LatGraph
    std::map<TToolId, TToolSwitch *> switches_;     // made by CreateSwitches, owned by the window
    int backdropUsers_ = 0;                          // holders of img_Bg2 (see AcquireBackdrop)
    config::TOptions options_;                       // the values the option panels show
    bool showingOptions_ = false;                    // ShowOptions is filling the controls
    std::vector<std::function<void()>> preferenceWatchers_;
    std::function<void(const QString &)> historyWriter_;   // see AddHistoryLine
    QPointer<THoldForm> hold_;                       // the hold window, when there is one
    TPreviousInstance *instance_ = nullptr;          // the single-instance guard, when there is one
    desktop::THelpViewer help_;                      // Help > Contents
    TFitLabel *statusFit_ = nullptr;                 // fits StatusLBL's text (child of it)

    void CreateMenu();
    void CreateSwitches();
    void CreateHistoryPane();
    void CreateOptionPanels();
    // The six option panels, in their stacking order.
    QList<QWidget *> OptionPanels() const;
    void CreateFeaturePanels();
    void CreateInfoColumn();
    void CreateTimers();
    void WireHandlers();
    void FormCreate();
    // Settings file -> option values, and Stay on Top applied; the option
    // controls are filled by ShowOptions.
    void ReadSettings();
    void ApplyStayOnTop(bool on);
    void SetArrowOpen(TPictureButton *arrow, bool open);
    void OpenOptionPanel(QWidget *panel, TPictureButton *arrow, QWidget *focus,
                         const QString &question);
    void CloseOptionPanels(bool save);
    // Option values -> controls; and every control's edits -> option values.
    void ShowOptions();
    void WireOptionControls();
    QFrame *MakePanel(const QString &name, const QString &title, bool wide);
};

