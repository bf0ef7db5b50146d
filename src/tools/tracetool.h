// The traceroute tool: a host field, Trace and Cancel, one line per hop under
// a three-column header, and the gauge following the hops against the
// estimate of the test echo. All the work is done by MSTrace1; this class is
// the glue between its events and the panel.
#pragma once

#include <QObject>
#include <QString>
#include <QTextBlockFormat>

#include <cstdint>
#include <memory>

class IShell;
class QFrame;
class QHeaderView;
class QLabel;
class QLineEdit;
class QTextEdit;
class TWidePanel;
class TMSTrace;
class TPictureButton;
class TToolSwitch;

class TTraceTool : public QObject {
    Q_OBJECT
public:
    // Binds the Traceroute switch of 'shell' and fills its panel.
    explicit TTraceTool(IShell &shell);
    // Unbinds MSTrace1's events before freeing it, so nothing of a run still
    // going reaches a half-destroyed tool.
    ~TTraceTool() override;

    // The traceroute: time-out 15000 ms, hop limit 64, hop names looked up,
    // test echo on; size, time-out, test echo and mode are set from the
    // options before every run.
    TMSTrace *MSTrace1 = nullptr;
    QFrame *pnl_Trace = nullptr;        // the panel (made by the window's layout)
    QLineEdit *edt_TrcHost = nullptr;   // host to trace; disabled while a trace runs
    TPictureButton *btn_TrcYes = nullptr, *btn_TrcNo = nullptr;
    QLabel *lbl_TrcTrace = nullptr, *lbl_TrcCancel = nullptr;
    QHeaderView *TraceHeader = nullptr; // "Hop", "Time (ms)", "Host" over re_Trace
    QTextEdit *re_Trace = nullptr;      // the hop lines

    // The panel is open (the switch is on); a trace may outlive it.
    bool Running() const;

    void btn_TraceClick();
    void btn_TrcYesClick();
    void btn_TrcNoClick();
    // Enter let go in edt_TrcHost: the Trace click.
    void edt_TrcHostKeyUp();
    void MSTrace1Test(QObject *Sender);
    void MSTrace1Data(QObject *Sender, std::int32_t Status);
    void MSTrace1Finished(QObject *Sender);
    void MSTrace1Error(QObject *Sender, std::int32_t Error, const QString &Msg);

    // Echo time-out for a time-out field of 'seconds': the engine waits at
    // most 65535 ms per echo, so longer waits are cut to that.
    static int TimeOutMs(int seconds);
    // Lines the hop columns up under the header's sections: a centred stop
    // under "Time (ms)" and a left stop at "Host".
    void AlignColumns();
    // Appends a line to re_Trace with those tab stops.
    void AddTraceLine(const QString &line);

private:
    void CreatePanel();
    void CreateHeader();
    // Gauge1 progress := value, kept inside the gauge's range.
    void SetGauge(int value);

    IShell &shell_;
    TToolSwitch &switch_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_Trace
    QTextBlockFormat columns_;   // the tab stops of every line
};
