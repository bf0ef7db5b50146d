// The traceroute tool. A trace runs inside MSTrace1; its events write the
// lines, the status line and the gauge, one hop after the other in hop order
// however the engine's probes come back. In blocking mode the run happens
// inside the Trace click or the test echo's completion (the engine lets
// pending events run between hops), so every handler here may be entered
// while another is on the stack: Trace again is refused by the engine
// ("Already in Progress"), Cancel ends the run from the event loop right
// after the click (so "Routing halted." is followed by the cancel summary),
// and closing the panel leaves the run going.
#include "tools/tracetool.h"

#include "net/mstrace.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "widgets/captionbutton.h"
#include "widgets/layout.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>

namespace {

// Header sections: width, and the range the user may drag it to.
struct TSection {
    const char *caption;
    Qt::Alignment align;
    int width, minWidth, maxWidth;
};
constexpr TSection kSections[] = {
    {"Hop", Qt::AlignCenter, 34, 32, 44},
    {"Time (ms)", Qt::AlignCenter, 54, 54, 54},
    {"Host", Qt::AlignLeft | Qt::AlignVCenter, 300, 300, 300},
};
constexpr int kHeaderX = 3, kHeaderY = 44, kHeaderH = 16;
// Space between the pane's frame and its text.
constexpr int kTextMargin = 2;
// The host text starts a little right of its section's edge, as the caption does.
constexpr int kHostIndent = 4;
constexpr int kLongestEchoWaitMs = 65535;

} // namespace

TTraceTool::TTraceTool(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::Trace))
{
    setObjectName(QStringLiteral("TraceTool"));
    MSTrace1 = new TMSTrace(this);
    MSTrace1->setObjectName(QStringLiteral("MSTrace1"));
    MSTrace1->SetTimeOut(15000);
    MSTrace1->SetTimeToLive(64);
    MSTrace1->Resolve = true;
    MSTrace1->SendTestPacket = true;
    MSTrace1->OnTest = [this](QObject *s) { MSTrace1Test(s); };
    MSTrace1->OnData = [this](QObject *s, std::int32_t status) { MSTrace1Data(s, status); };
    MSTrace1->OnFinished = [this](QObject *s) { MSTrace1Finished(s); };
    MSTrace1->OnError = [this](QObject *s, std::int32_t e, const QString &m) {
        MSTrace1Error(s, e, m);
    };
    // The options arrow presses in as the command buttons do.
    if (TPictureButton *arrow = switch_.Parts().Arrow)
        arrow->PressEffect = true;
    CreatePanel();
    switch_.Bind([this] { btn_TraceClick(); });
}

TTraceTool::~TTraceTool()
{
    MSTrace1->OnTest = nullptr;
    MSTrace1->OnData = nullptr;
    MSTrace1->OnFinished = nullptr;
    MSTrace1->OnError = nullptr;
    delete MSTrace1;
}

bool TTraceTool::Running() const
{
    return switch_.Running();
}

void TTraceTool::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::Trace);
    pnl_Trace = panel_->Frame();
    MakeLabel(pnl_Trace, QStringLiteral("lbl_TrcHost"), QStringLiteral("Host:"), 6, 22, 30, 14);
    edt_TrcHost = MakeEdit(pnl_Trace, QStringLiteral("edt_TrcHost"), 38, 20, 126);

    btn_TrcYes = MakeCaptionButton(pnl_Trace, QStringLiteral("btn_TrcYes"),
                                   QStringLiteral("lbl_TrcTrace"), QStringLiteral("Trace"), 177,
                                   20, CaptionButtonWidth, &lbl_TrcTrace);
    btn_TrcNo = MakeCaptionButton(pnl_Trace, QStringLiteral("btn_TrcNo"),
                                  QStringLiteral("lbl_TrcCancel"), QStringLiteral("Cancel"), 243,
                                  20, CaptionButtonWidth, &lbl_TrcCancel);
    btn_TrcYes->OnClick = [this] { btn_TrcYesClick(); };
    btn_TrcNo->OnClick = [this] { btn_TrcNoClick(); };

    re_Trace = MakeOutputPane(pnl_Trace, QStringLiteral("re_Trace"),
                              QRect(kHeaderX, kHeaderY + kHeaderH, 303, 183 - kHeaderY - kHeaderH));
    re_Trace->document()->setDocumentMargin(kTextMargin);

    CreateHeader();

    // Enter traces as it comes back up, after the press effect was seen.
    InstallEnterAction(edt_TrcHost, TKeyEdge::Up, [this] { edt_TrcHostKeyUp(); });
    InstallEnterPressEffect(edt_TrcHost, btn_TrcYes);
}

void TTraceTool::CreateHeader()
{
    auto *model = new QStandardItemModel(0, int(std::size(kSections)), pnl_Trace);
    TraceHeader = new QHeaderView(Qt::Horizontal, pnl_Trace);
    TraceHeader->setObjectName(QStringLiteral("TraceHeader"));
    TraceHeader->setModel(model);
    TraceHeader->setSectionsClickable(false);
    TraceHeader->setHighlightSections(false);
    TraceHeader->setStretchLastSection(false);
    TraceHeader->setMinimumSectionSize(kSections[0].minWidth);
    for (int i = 0; i < int(std::size(kSections)); ++i) {
        const TSection &s = kSections[i];
        model->setHeaderData(i, Qt::Horizontal, QString::fromLatin1(s.caption));
        model->setHeaderData(i, Qt::Horizontal, QVariant::fromValue(s.align),
                             Qt::TextAlignmentRole);
        TraceHeader->resizeSection(i, s.width);
        TraceHeader->setSectionResizeMode(
            i, s.minWidth == s.maxWidth ? QHeaderView::Fixed : QHeaderView::Interactive);
    }
    TraceHeader->setFont(re_Trace->font());
    // As wide as its sections; the panel shows what fits.
    int width = 0;
    for (const TSection &s : kSections)
        width += s.width;
    TraceHeader->setGeometry(kHeaderX, kHeaderY, width, kHeaderH);
    // The header view keeps one minimum for every section; the Hop section's
    // own limits are held here, and the columns follow every resize.
    connect(TraceHeader, &QHeaderView::sectionResized, this, [this](int index, int, int size) {
        const TSection &s = kSections[index];
        const int held = std::clamp(size, s.minWidth, s.maxWidth);
        if (held != size) {
            TraceHeader->resizeSection(index, held);
            return;
        }
        AlignColumns();
    });
    AlignColumns();
    TraceHeader->show();
}

void TTraceTool::AlignColumns()
{
    // Tab positions count from where the text starts, inside the pane's frame
    // and margin; the header starts at the pane's left edge.
    const int origin = re_Trace->x() + re_Trace->frameWidth() + kTextMargin - TraceHeader->x();
    const qreal timeCentre =
        TraceHeader->sectionPosition(1) + TraceHeader->sectionSize(1) / 2.0 - origin;
    const qreal hostLeft = TraceHeader->sectionPosition(2) + kHostIndent - origin;
    columns_.setTabPositions({QTextOption::Tab(timeCentre, QTextOption::CenterTab),
                              QTextOption::Tab(hostLeft, QTextOption::LeftTab)});
    QTextCursor all(re_Trace->document());
    all.select(QTextCursor::Document);
    all.mergeBlockFormat(columns_);
}

void TTraceTool::AddTraceLine(const QString &line)
{
    AddPaneLine(re_Trace, TLineStyle::Plain, line);
    // Tab stops belong to each line; a line after a cleared pane has none.
    QTextCursor last(re_Trace->document()->lastBlock());
    last.mergeBlockFormat(columns_);
}

int TTraceTool::TimeOutMs(int seconds)
{
    return int(std::clamp<qint64>(qint64(seconds) * 1000, 0, kLongestEchoWaitMs));
}

void TTraceTool::SetGauge(int value)
{
    QProgressBar *gauge = shell_.Gauge();
    gauge->setValue(std::clamp(value, gauge->minimum(), gauge->maximum()));
}

void TTraceTool::btn_TraceClick()
{
    QProgressBar *gauge = shell_.Gauge();
    if (!Running()) {
        gauge->setValue(gauge->minimum());
        gauge->show();
        switch_.SetRunning(true);
        panel_->Open();
        edt_TrcHost->setFocus();
        return;
    }

    // Closing leaves a trace in progress running: its lines go on into the
    // hidden (cleared) pane and it still writes the status line.
    gauge->hide();
    switch_.SetRunning(false);
    panel_->Close();
    shell_.SetStatus(QStringLiteral("Status:"));
    edt_TrcHost->clear();
    re_Trace->clear();
}

void TTraceTool::edt_TrcHostKeyUp()
{
    btn_TrcYes->Click();
    QCoreApplication::processEvents();
}

void TTraceTool::btn_TrcYesClick()
{
    QPointer<TTraceTool> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return;
    const QString host = edt_TrcHost->text();
    shell_.SetStatus(QStringLiteral("Status: Tracing to ") + host, true);
    edt_TrcHost->setEnabled(false);
    re_Trace->clear();
    // The last trace's end took the gauge away; this one brings it back.
    if (Running())
        shell_.Gauge()->show();
    SetGauge(0);

    // A trace already running keeps the settings it started with: the engine
    // refuses this start, and must not have its mode or sizes changed under it.
    if (!MSTrace1->Busy()) {
        const config::TTraceOptions &options = shell_.Options().Trace;
        MSTrace1->SetPacketSize(options.Bytes);
        MSTrace1->SendTestPacket = options.TestPacket;
        MSTrace1->SetTimeOut(TimeOutMs(options.TimeOut));
        switch (options.Mode) {
        case config::TTraceOptions::Asynchronous: MSTrace1->Mode = wsmAsync; break;
        case config::TTraceOptions::Blocking: MSTrace1->Mode = wsmBlocking; break;
        default: break;   // no item chosen: the mode stays
        }
    }
    MSTrace1->Start(host);
}

void TTraceTool::btn_TrcNoClick()
{
    if (!MSTrace1->Busy())
        return;
    MSTrace1->Cancel();
    edt_TrcHost->setEnabled(true);
    shell_.SetStatus(QStringLiteral("Status: Routing halted."), true);
}

void TTraceTool::MSTrace1Test(QObject *)
{
    shell_.SetStatus(QStringLiteral("Status: Tracing...  %1 hops expected")
                         .arg(MSTrace1->HopsExpected()),
                     true);
    QProgressBar *gauge = shell_.Gauge();
    // An empty range would turn the gauge into a busy indicator.
    gauge->setMaximum(std::max(MSTrace1->HopsExpected(), gauge->minimum() + 1));
    SetGauge(0);
}

void TTraceTool::MSTrace1Data(QObject *, std::int32_t)
{
    AddTraceLine(QStringLiteral("    ") + MSTrace1->HopText());
    if (MSTrace1->SendTestPacket)
        SetGauge(MSTrace1->ProbeOptions.Ttl);
}

void TTraceTool::MSTrace1Finished(QObject *)
{
    edt_TrcHost->setEnabled(true);
    // The gauge shows a trace's progress and goes with its end: left
    // standing it would cover the bottom line's save question of the option
    // panels. The summary and the status line tell how the trace went.
    shell_.Gauge()->hide();
    // Without ICMP no trace took place; the error line and its status say
    // why, and a summary repeating them would only hide that status.
    if (MSTrace1->ResultCode == kMsNoIcmp)
        return;
    const QString summary = MSTrace1->SummaryText();
    AddTraceLine(summary);
    shell_.SetStatus(QStringLiteral("Status: ") + summary, true);
    SetGauge(shell_.Gauge()->maximum());
}

void TTraceTool::MSTrace1Error(QObject *, std::int32_t Error, const QString &Msg)
{
    AddTraceLine(QStringLiteral("Error %1: ").arg(Error) + Msg);
    shell_.SetStatus(QStringLiteral("Status: Routing halted - Error."), true);
    // A refused second start leaves the first trace running: its host stays
    // locked and its gauge up until that one ends.
    if (Error != kMsInProgress) {
        edt_TrcHost->setEnabled(true);
        shell_.Gauge()->hide();
    }
    if (Error == kMsNoIcmp) {
        // After the engine has finished reporting, not from inside it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                const QString hint = TMSicmp::AccessHintOnce();
                if (!hint.isEmpty())
                    shell_.ShowMessage(hint);
            },
            Qt::QueuedConnection);
    }
}
