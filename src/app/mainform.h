// The main window: five tool switches on the left, one content panel at a
// time in the middle, an information column on the right and a status line
// at the bottom. Every control is a public member named as the window's
// handlers and feature files refer to it, and carries that name as its
// objectName.
//
// The window's handlers are spread over the files of their features: the
// layout is built in mainform_layout*.cpp, the shell's own behaviour (menus,
// status line, stopwatch, quotation, close) in mainform.cpp, the settings and
// option panels in settings.cpp, and each feature folder adds its
// declarations to its own section below.
#pragma once

#include <QString>
#include <QWidget>

#include "antiidle/graphdraw.h"

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPagedPaintDevice;
class QPainter;
class QMenu;
class QMenuBar;
class QProgressBar;
class QScrollArea;
class QSpinBox;
class QTextEdit;
class QTimer;

class TAnimate;
class TCheckListBox;
class TGoToWeb;
class THttpCli;
class TJustOne32;
class TPing;
class TPictureButton;
class TReportGrid;
class TRadioGroup;
class TSpinText;
class TSuperTimer;
class TTickingClock;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // ---- shell: menu ----
    QMenuBar *MainMenu1 = nullptr;
    QMenu *Tools1 = nullptr, *Edit1 = nullptr, *DialUp1 = nullptr, *Options1 = nullptr,
          *Help1 = nullptr;
    QAction *AntiIdle1 = nullptr, *Finger1 = nullptr, *LatencyTest1 = nullptr, *Ping1 = nullptr,
            *TraceRoute1 = nullptr, *ISPTree1 = nullptr, *Resolve1 = nullptr,
            *HideIdlix1 = nullptr, *Exit1 = nullptr;
    QAction *Undo1 = nullptr, *Cut1 = nullptr, *Copy1 = nullptr, *Paste1 = nullptr,
            *Clear1 = nullptr, *SelectAll1 = nullptr;
    QAction *Connect1 = nullptr, *Disconnect1 = nullptr, *Reset1 = nullptr,
            *DialUpOptions1 = nullptr;
    QAction *AntiIdle2 = nullptr, *Latency1 = nullptr, *Ping5 = nullptr, *ServerList1 = nullptr,
            *Traceroute2 = nullptr, *StayOnTop1 = nullptr;
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
    // Panels of the features; their contents are added by the feature files.
    QFrame *pnl_AIReport = nullptr, *pnl_Finger = nullptr, *pnl_Ping = nullptr,
           *pnl_Trace = nullptr, *pnl_ISPTree = nullptr, *pnl_Servers = nullptr,
           *pnl_Resolve = nullptr;
    QLineEdit *edt_PngHost = nullptr;
    QSpinBox *se_PngTimes = nullptr;

    // ---- shell: information column and status line ----
    QLabel *img_AIGraph = nullptr, *img_LatGraph = nullptr;
    TAnimate *anm_BV = nullptr;
    QLabel *PingLight = nullptr, *lbl_Method = nullptr, *ModeLBL = nullptr, *GoodLBL = nullptr,
           *TimeLBL = nullptr;
    QLabel *StatusLBL = nullptr, *lbl_Question = nullptr;
    TPictureButton *btn_Yes = nullptr, *btn_No = nullptr;
    QProgressBar *Gauge1 = nullptr;

    // ---- shell: timers and small components ----
    QTimer *EggTimer = nullptr, *Timer3 = nullptr, *LogTimer = nullptr, *LatTimer = nullptr,
           *RasTimer = nullptr;
    TSuperTimer *HTTPTimer = nullptr;
    TTickingClock *TickingClock1 = nullptr;
    TGoToWeb *GoToWeb1 = nullptr;
    TJustOne32 *JustOne321 = nullptr;

    // ---- shell: operations used by every feature ----
    // Replaces the status line; repaint = true paints it at once (for writers
    // inside a long blocking step).
    void SetStatus(const QString &text, bool repaint = false);
    // Appends "• text" to a history or result pane and scrolls to its end.
    void AddLine(QTextEdit *pane, const QString &text);
    // Settings file <-> option controls.
    void LoadSettings();
    void SaveSettings();
    // Full path of the settings file.
    static QString SettingsFile();
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
    int EggLine = 0;                  // next quotation line to show (2..6)
    QString HelpFile;                 // the help document as shipped (platform/appdir.h)

    // ---- anti-idle (src/antiidle) ----
    bool CycleMode = false;           // a session visits the server list in turn
    bool SessionActive = false;       // an anti-idle session runs
    void btn_AntiIdleClick();
    int ServerIndex = 0;              // position in ListBox1 of the server being probed
    int AttemptCount = 0;             // probes started in this session
    int SuccessCount = 0;             // probes that succeeded
    int FailureCount = 0;             // probes that failed (lookup failures included)
    bool FailureCounted = false;      // a failure was already counted in this tick

    // The anti-idle cycle (antiidle.cpp, antiidle_echo.cpp).
    QString CurrentHost;              // host of the probe being sent (the HTTP probe uses it too)
    QString LastPingHost;             // host named in the texts of echo probes
    bool AlternateToggle = false;     // flipped by every probe; with "Alternate" true = echo
    int HttpRequestCount = 0;         // HTTP requests completed since the client was created
    int SessionSerial = 0;            // number of the latest session started
    int ProbeSerial = 0;              // session that sent the echo now in progress
    // Deletes the echo component with its events unbound, so a lookup that it
    // cancels on the way out never calls back into a window being destroyed.
    struct TPing2Deleter { void operator()(TPing *ping) const; };
    std::unique_ptr<TPing, TPing2Deleter> Ping2Owner{CreatePing2()};
    TPing *Ping2 = Ping2Owner.get();  // anti-idle echoes: Timeout 5000, TTL 64, Size 56
    TPing *CreatePing2();             // makes Ping2 and binds its three events
    void StartAntiIdle();             // clears the history, reads the options, sends the first probe
    void StartCycle();                // first server of the list, then the timer
    void Timer3Timer();               // one tick: the next host, then one probe
    void SendProbe();                 // one echo or HTTP GET to CurrentHost, by the method
    void StartProbeTimer();           // binds (once) and starts Timer3 and the stopwatch display
    void SendEcho(const QString &host); // tells how to allow ICMP once, then looks the host up
    void Ping2DnsLookupDone(QObject *Sender, quint16 Error);
    void Ping2EchoRequest(QObject *Sender);
    void Ping2EchoReply(QObject *Sender, int Error);
    void HttpProbe();                 // one HTTP GET of CurrentHost (webtransfer.cpp)

    // Web transfers (webtransfer.cpp, webtransfer_update.cpp): the HTTP GET
    // probe and the server list download share one client.
    struct THttpCli1Deleter { void operator()(THttpCli *cli) const; };
    std::unique_ptr<THttpCli, THttpCli1Deleter> HttpCli1Owner{CreateHttpCli1()};
    THttpCli *HttpCli1 = HttpCli1Owner.get();
    THttpCli *CreateHttpCli1();       // a client with the window's settings and four handlers
    void ReplaceHttpCli1();           // a fresh client keeping the proxy settings
    void CopyProxySettings();         // proxy fields of the options -> HttpCli1
    int HttpElapsed = 0;              // 1 ms stopwatch ticks counted during the current probe
    bool HttpTransferActive = false;  // a probe or download of HttpCli1 is under way
    bool HttpWatchdogFired = false;   // the running transfer was ended by its watchdog
    int HttpWatchdogMs = 0;           // longest transfer; 0 = automatic (see HttpWatchdogLimit)
    int HttpWatchdogLimit(bool probe) const; // the time limit in ms for the next transfer
    // Runs HttpCli1->Get() under the watchdog; raises what Get raises.
    void HttpGetGuarded(int limitMs);
    void HTTPTimerTimer();
    void HttpCli1DocBegin(THttpCli *Sender);
    void HttpCli1DocData(THttpCli *Sender, const char *Buffer, int Len);
    void HttpCli1DocEnd(THttpCli *Sender);
    void HttpCli1RequestDone(THttpCli *Sender, quint8 RqType, quint16 Error);
    void btn_SrvUpdateClick();        // "Update  List": downloads the server list

    // Server list panel (serverlist.cpp).
    QLineEdit *edt_SrvHost = nullptr;
    QListWidget *ListBox1 = nullptr;  // the server list; the only copy in memory
    TPictureButton *btn_SrvAdd = nullptr, *btn_SrvEdit = nullptr, *btn_SrvDelete = nullptr,
                   *btn_SrvUpdate = nullptr, *btn_SrvClose = nullptr;
    QLabel *lbl_SrvAdd = nullptr, *lbl_SrvEdit = nullptr, *lbl_SrvDelete = nullptr,
           *lbl_SrvUpdate = nullptr, *lbl_SrvClose = nullptr;
    // Fills pnl_Servers and pnl_AIReport and wires LogTimer; called once by the constructor.
    void CreateAntiIdlePanels();
    void CreateServerPanel();
    void LoadServerList();            // file -> ListBox1 when the file exists
    bool SaveServerList();            // ListBox1 -> file; false (message shown) on failure
    int SelectedServer() const;       // selected entry of ListBox1, -1 for none
    void ServerList1Click();
    void btn_SrvAddClick();
    void btn_SrvEditClick();
    void btn_SrvDeleteClick();
    void btn_SrvCloseClick();
    void edt_SrvHostKeyPress();       // Enter in edt_SrvHost

    // Response graphs (graph.cpp).
    antiidle::TResponseHistory ResponseHistory{}; // latest times in 40 ms units, newest first
    void ClearResponseHistory();
    void PushResponse(int ms);
    void DrawGraph();                 // background on img_AIGraph, then the line
    void DrawResponseLine(QLabel *image);

    // Session statistics and report (stats.cpp, report.cpp).
    TReportGrid *ReportGrid = nullptr;
    QLabel *lbl_RptTime = nullptr;
    TPictureButton *btn_RptPrint = nullptr, *btn_RptClose = nullptr;
    QLabel *lbl_RptPrint = nullptr, *lbl_RptClose = nullptr;
    void CreateReportPanel();
    void WriteReportHeadings();
    // Resets counters and table for a new session. False (with the message in
    // 'error') when the frequency is not an integer; nothing else is done then.
    bool StartSessionStats(QString *error = nullptr);
    void ResetReportTable();
    int ReportRow() const;            // table row of the server being probed
    void RecordSuccess(int ms);
    void RecordFailure();
    void RecordLookupFailure();
    void FinishReport();
    void EndSession();
    void LogTimerTimer();
    void ReportGridDrawCell(QPainter &canvas, int col, int row, const QRect &rect);
    void btn_RptCloseClick();
    void btn_RptPrintClick();
    void PrintReport();               // print dialog, then PrintReportTo
    bool PrintReportTo(QPagedPaintDevice *device);

    // ---- tools (src/tools) ----
    void btn_FingerClick();
    void btn_LatencyClick();
    void btn_PingClick();
    void btn_TraceClick();
    void ISPTree1Click();
    void Resolve1Click();

    // Echo components of the tools. The deleter drops their handlers before
    // freeing them, so a lookup cancelled on the way out reports to no one.
    struct TToolPingDeleter { void operator()(TPing *ping) const; };
    std::unique_ptr<TPing, TToolPingDeleter> Ping3;  // ping tool
    std::unique_ptr<TPing, TToolPingDeleter> Ping4;  // latency test
    // Creates Ping3, Ping4 and the ping panel's contents and wires both tools.
    void CreatePingTools();

    // Latency test (latency.cpp).
    QString LatHost;                  // host of the running test, as typed at its start
    int LatRun = 0;                   // counts test starts; an echo belongs to one run
    int LatEchoRun = 0;               // run of the echo in flight
    bool LatEchoActive = false;       // an echo is in flight; ticks meanwhile are skipped
    bool LatReplySeen = false;        // the echo in flight has reported its reply
    void Ping4DnsLookupDone(QObject *Sender, quint16 Error);
    void LatTimerTimer();
    void Ping4EchoRequest(QObject *Sender);
    void Ping4EchoReply(QObject *Sender, int Error);

    // Ping tool (pingtool.cpp).
    QTextEdit *re_Ping = nullptr;     // output pane
    TPictureButton *btn_PngYes = nullptr, *btn_PngNo = nullptr;
    QLabel *lbl_PngPing = nullptr, *lbl_PngCancel = nullptr;
    qint32 PingSeq = 0;               // echo being sent, 1-based during a run
    qint32 PingSuccesses = 0;         // echoes answered
    qint32 PingFailures = 0;          // echoes not answered
    qint32 PingSumRtt = 0;            // sum of the answered round trips, ms
    qint32 PingMaxRtt = 0;            // largest answered round trip, ms
    qint32 PingMinRtt = 10000000;     // smallest answered round trip; 10000000 = none yet
    qint32 PingTimes = 0;             // echoes of the run, fixed when its echoes start
    QString PingHost;                 // host of the run, as typed when it started
    bool PingRunActive = false;       // from Ping until the summary; a second Ping is refused
    bool PingReplySeen = false;       // the echo in flight has reported its reply
    void btn_PngYesClick();
    void btn_PngNoClick();
    void edt_PngHostKeyPress();       // Enter in edt_PngHost
    void Ping3DnsLookupDone(QObject *Sender, quint16 Error);
    void Ping3EchoRequest(QObject *Sender);
    void Ping3EchoReply(QObject *Sender, int Error);

    // ---- dial-up (src/dialup) ----
    void FillDialUpEntries();         // phone-book entries into cb_RasConnect
    void DialOnStart();               // "Connect on start" at creation
    void Connect1Click();
    void Disconnect1Click();
    void Reset1Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateMenu();
    void CreateSwitches();
    void CreateOptionPanels();
    void CreateFeaturePanels();
    void CreateInfoColumn();
    void CreateTimers();
    void WireHandlers();
    void FormCreate();
    void ApplyStayOnTop(bool on);
    void SetArrowOpen(TPictureButton *arrow, bool open);
    void OpenOptionPanel(QWidget *panel, TPictureButton *arrow, QWidget *focus,
                         const QString &question);
    void CloseOptionPanels(bool save);
    QFrame *MakePanel(const QString &name, const QString &title, bool wide);
    QLabel *MakeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y,
                      int w, int h);
};

extern TMainForm *MainForm;
