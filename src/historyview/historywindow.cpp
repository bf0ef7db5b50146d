#include "historyview/historywindow.h"

#include "config/options.h"
#include "config/optionsfile.h"
#include "history/historyexport.h"
#include "history/historyreport.h"
#include "history/historystore.h"
#include "history/rfc3339.h"
#include "historyreport/reportfile.h"
#include "historyview/timelineview.h"
#include "diagnosis/verdict.h"
#include "platform/durationtext.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <ctime>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;
using namespace historyreport;

namespace {

// The tabs under the timeline take the room their stretch gives them and no
// more: a page that wraps its text (the bytes per day) would otherwise ask
// for its own height whenever it is shown, and the timeline above would
// grow and shrink as the tabs change.
class TSteadyTabs : public QTabWidget {
public:
    explicit TSteadyTabs(QWidget *parent) : QTabWidget(parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    }
    bool hasHeightForWidth() const override { return false; }
};

QLabel *PlainLabel(const QString &name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QTableWidget *Table(const QString &name, const QStringList &headings, QWidget *parent)
{
    auto *t = new QTableWidget(0, int(headings.size()), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headings);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// The route an outage kept, a hop a line: "2  10.0.0.2  gw.isp.example  4 ms",
// "3  *" for a hop that was lost. Empty for none, or for a text that is no route.
QStringList RouteLines(const QString &stored)
{
    QStringList lines;
    const QJsonDocument doc = QJsonDocument::fromJson(stored.toUtf8());
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject hop = v.toObject();
        QString line = QString::number(hop.value(QStringLiteral("hop")).toInt());
        const QString address = hop.value(QStringLiteral("address")).toString();
        if (address.isEmpty()) {
            lines << line + QStringLiteral("  *");
            continue;
        }
        line += QStringLiteral("  ") + address;
        const QString name = hop.value(QStringLiteral("name")).toString();
        if (!name.isEmpty())
            line += QStringLiteral("  ") + name;
        if (hop.value(QStringLiteral("ms")).isDouble())
            line += QStringLiteral("  %1 ms").arg(hop.value(QStringLiteral("ms")).toInt());
        lines << line;
    }
    return lines;
}

// One row of texts; numbers are aligned right.
// Fills a table from the top, its rows made at once: a decade's days or
// outages one insertRow at a time would be told to the view row by row.
class TTableFill {
public:
    TTableFill(QTableWidget *t, size_t rows) : t_(t)
    {
        t_->setUpdatesEnabled(false);
        t_->setRowCount(0);
        t_->setRowCount(int(rows));
    }
    ~TTableFill()
    {
        t_->setRowCount(row_);
        t_->setUpdatesEnabled(true);
    }
    void Add(const QStringList &cells, int firstNumber)
    {
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c >= firstNumber)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            t_->setItem(row_, c, item);
        }
        ++row_;
    }
    // A cell of the row added last.
    QTableWidgetItem *Last(int column) const { return t_->item(row_ - 1, column); }

private:
    QTableWidget *t_;
    int row_ = 0;
};

// The local time of a moment, by the C library's conversion (Qt's asks the
// system whether the zone changed at every call: slow over many rows).
QString LocalTime(TUs at)
{
    const time_t seconds = time_t(at / 1000000);
    std::tm tm{};
    if (!localtime_r(&seconds, &tm))
        return QDateTime::fromMSecsSinceEpoch(at / kUsPerMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                             tm.tm_min, tm.tm_sec);
}

// Decimals written by hand: a table of figures reads the same in every locale.
QString Fixed(double v, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const qint64 n = qint64(std::llround(v * scale));
    if (decimals == 0)
        return QString::number(n);
    return QStringLiteral("%1.%2").arg(n / qint64(scale)).arg(n % qint64(scale), decimals, 10, QLatin1Char('0'));
}

} // namespace

THistoryWindow::THistoryWindow(THistoryStore &store, const config::TOptions &options, QWidget *parent)
    : QWidget(parent, Qt::Window), store_(store), options_(options)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("Connection History"));
    resize(820, 620);

    auto *layout = new QVBoxLayout(this);
    lbl_HistNotice = PlainLabel(QStringLiteral("lbl_HistNotice"), this);
    lbl_HistNotice->setWordWrap(true);
    lbl_HistNotice->setStyleSheet(QStringLiteral("color: #b00000"));
    lbl_HistNotice->hide();
    layout->addWidget(lbl_HistNotice);

    auto *top = new QHBoxLayout;
    QLabel *show = PlainLabel(QStringLiteral("lbl_HistShow"), this);
    show->setText(QStringLiteral("Show:"));
    top->addWidget(show);
    cb_HistRange = new QComboBox(this);
    cb_HistRange->setObjectName(QStringLiteral("cb_HistRange"));
    // The last hour follows a session as it runs; the longer ranges answer
    // how the line did this week or month.
    cb_HistRange->addItems({QStringLiteral("Last hour"), QStringLiteral("Last 24 hours"), QStringLiteral("Last 7 days"),
                            QStringLiteral("Last 30 days"), QStringLiteral("Everything")});
    // The range chosen last time; the first time, one the data fills.
    const int remembered = options_.HistoryWindow.Range;
    cb_HistRange->setCurrentIndex(remembered >= 0 ? remembered : FittingRange());
    top->addWidget(cb_HistRange);
    top->addStretch(1);
    btn_HistExport = new QPushButton(QStringLiteral("Export..."), this);
    btn_HistExport->setObjectName(QStringLiteral("btn_HistExport"));
    top->addWidget(btn_HistExport);
    btn_HistReport = new QPushButton(QStringLiteral("Report..."), this);
    btn_HistReport->setObjectName(QStringLiteral("btn_HistReport"));
    top->addWidget(btn_HistReport);
    layout->addLayout(top);

    auto *uptime = new QHBoxLayout;
    lbl_HistUptime24 = PlainLabel(QStringLiteral("lbl_HistUptime24"), this);
    lbl_HistUptime7 = PlainLabel(QStringLiteral("lbl_HistUptime7"), this);
    lbl_HistUptime30 = PlainLabel(QStringLiteral("lbl_HistUptime30"), this);
    for (QLabel *l : {lbl_HistUptime24, lbl_HistUptime7, lbl_HistUptime30}) {
        l->setFrameShape(QFrame::StyledPanel);
        l->setMargin(4);
        uptime->addWidget(l, 1);
    }
    layout->addLayout(uptime);
    lbl_HistLast = PlainLabel(QStringLiteral("lbl_HistLast"), this);
    layout->addWidget(lbl_HistLast);

    img_HistTimeline = new TTimelineView(this);
    layout->addWidget(img_HistTimeline, 3);

    tab_Hist = new TSteadyTabs(this);
    tab_Hist->setObjectName(QStringLiteral("tab_Hist"));
    tbl_HistOutages = Table(QStringLiteral("tbl_HistOutages"),
                            {"Start", "End", "Duration", "Lost probes", "Reason", "Verdict"}, this);
    tbl_HistTargets = Table(QStringLiteral("tbl_HistTargets"),
                            {"Target", "Method", "Probes", "Loss %", "Min ms", "Avg ms", "Max ms", "Jitter ms", "Down"}, this);
    auto *bytes = new QWidget(this);
    auto *bytesLayout = new QVBoxLayout(bytes);
    bytesLayout->setContentsMargins(0, 0, 0, 0);
    lbl_HistCost = PlainLabel(QStringLiteral("lbl_HistCost"), bytes);
    lbl_HistCost->setWordWrap(true);
    tbl_HistBytes = Table(QStringLiteral("tbl_HistBytes"), {"Day", "Probes", "Sent", "Received", "Total", "Skipped", "Saved"}, bytes);
    bytesLayout->addWidget(lbl_HistCost);
    bytesLayout->addWidget(tbl_HistBytes);
    tab_Hist->addTab(tbl_HistOutages, QStringLiteral("Outages"));
    tab_Hist->addTab(tbl_HistTargets, QStringLiteral("Targets"));
    tab_Hist->addTab(bytes, QStringLiteral("Bytes per day"));
    tbl_HistIdle = Table(QStringLiteral("tbl_HistIdle"),
                         {"Time", "Kind", "Network", "Timer s", "Alive after s", "Gone after s", "Trials", "Sent"}, this);
    tab_Hist->addTab(tbl_HistIdle, QStringLiteral("Idle timers"));
    layout->addWidget(tab_Hist, 2);
    lbl_HistRoute = PlainLabel(QStringLiteral("lbl_HistRoute"), this);
    lbl_HistRoute->setWordWrap(true);
    lbl_HistRoute->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbl_HistRoute->hide();
    layout->addWidget(lbl_HistRoute);
    connect(tbl_HistOutages, &QTableWidget::itemSelectionChanged, this, &THistoryWindow::ShowSelectedOutage);
    connect(tab_Hist, &QTabWidget::currentChanged, this, [this](int page) {
        FillPage(page);
        ShowSelectedOutage();
    });

    reload_.setObjectName(QStringLiteral("HistReloadTimer"));
    reload_.setSingleShot(true);
    reload_.setInterval(200);
    connect(&reload_, &QTimer::timeout, this, &THistoryWindow::Reload);
    // A running session writes every probe: the window follows while shown.
    connect(&store_, &THistoryStore::Changed, this, [this] {
        if (isVisible())
            reload_.start();
    });
    connect(&store_, &THistoryStore::ProblemChanged, this, &THistoryWindow::ShowNotice);
    connect(cb_HistRange, &QComboBox::currentIndexChanged, this, [this] {
        if (isVisible())
            Reload();
    });
    connect(cb_HistRange, &QComboBox::activated, this, &THistoryWindow::RangeChosen);
    connect(btn_HistExport, &QPushButton::clicked, this, &THistoryWindow::ExportClick);
    connect(btn_HistReport, &QPushButton::clicked, this, &THistoryWindow::ReportClick);

    // Esc and Ctrl+W close the window, as they close other windows of the
    // desktop; it hides and keeps its state for the next opening.
    for (const auto &[name, keys] : {std::pair{"HistCloseEsc", QKeySequence(Qt::Key_Escape)},
                                     std::pair{"HistCloseCtrlW", QKeySequence(Qt::CTRL | Qt::Key_W)}}) {
        auto *shortcut = new QShortcut(keys, this);
        shortcut->setObjectName(QLatin1String(name));
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

void THistoryWindow::RangeChosen(int index)
{
    // Remembered at once for the next start. A settings file that cannot be
    // written keeps the choice for this run only; the file's own problems
    // are told where it is saved as a whole.
    config::THistoryWindowOptions chosen;
    chosen.Range = index;
    config::SaveHistoryWindow(config::SettingsPath(), chosen, nullptr);
}

std::optional<TUs> THistoryWindow::FirstRecord() const
{
    const TUs now = Now();
    std::optional<TUs> first = store_.FirstProbe();
    const std::vector<TSpanRow> sessions = store_.Sessions({0, now + 1});
    if (!sessions.empty())
        first = std::min(first.value_or(sessions.front().Start), sessions.front().Start);
    return first;
}

int THistoryWindow::FittingRange() const
{
    const std::optional<TUs> first = FirstRecord();
    return first && *first > Now() - kUsPerDay ? Everything : Last24Hours;
}

TUs THistoryWindow::Now() const
{
    return QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
}

TRange THistoryWindow::Range() const
{
    const TUs now = Now();
    switch (cb_HistRange->currentIndex()) {
    case LastHour: return {now - kUsPerDay / 24, now + 1};
    case Last24Hours: return {now - kUsPerDay, now + 1};
    case Last30Days: return {now - 30 * kUsPerDay, now + 1};
    case Everything: {
        // From the first record, so a short history fills the timeline; a
        // minute at least, and a day when there is nothing yet.
        const TUs from = FirstRecord().value_or(now - kUsPerDay);
        return {std::min(from, now - kUsPerDay / 1440), now + 1};
    }
    default: return {now - 7 * kUsPerDay, now + 1};
    }
}

void THistoryWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Reload();
}

void THistoryWindow::ShowNotice()
{
    QStringList lines = store_.Notices();
    if (!store_.Problem().isEmpty())
        lines << store_.Problem();
    lbl_HistNotice->setText(lines.join(QLatin1Char('\n')));
    lbl_HistNotice->setVisible(!lines.isEmpty());
}

void THistoryWindow::ShowSelectedOutage()
{
    const int row = tbl_HistOutages->currentRow();
    const bool selected = tab_Hist->currentWidget() == tbl_HistOutages && row >= 0
                          && row < int(shownOutages_.size()) && tbl_HistOutages->item(row, 0)
                          && tbl_HistOutages->item(row, 0)->isSelected();
    if (!selected) {
        lbl_HistRoute->hide();
        return;
    }
    const TOutageRow &o = shownOutages_[size_t(row)];
    QStringList lines;
    if (const auto verdict = diagnosis::VerdictFromName(o.Verdict))
        lines << QStringLiteral("Why: %1 (%2). %3").arg(diagnosis::VerdictPlace(*verdict), o.Verdict, o.Evidence);
    else
        lines << QStringLiteral("Why: not diagnosed.");
    const QStringList route = RouteLines(o.Route);
    if (route.isEmpty())
        lines << QStringLiteral("No route was traced at its start.");
    else
        lines << QStringLiteral("Route at its start:") << route;
    lbl_HistRoute->setText(lines.join(QLatin1Char('\n')));
    lbl_HistRoute->show();
}

void THistoryWindow::ShowUptime()
{
    const TUs now = Now();
    const TRange month{now - 30 * kUsPerDay, now + 1};
    const std::vector<TSpanRow> sessions = store_.Sessions(month);
    const std::vector<TSpanRow> gaps = store_.Gaps(month);
    const std::vector<TOutageRow> outages = store_.Outages(month);
    const std::pair<QLabel *, TUs> figures[] = {
        {lbl_HistUptime24, kUsPerDay}, {lbl_HistUptime7, 7 * kUsPerDay}, {lbl_HistUptime30, 30 * kUsPerDay}};
    const QString names[] = {QStringLiteral("Last 24 hours"), QStringLiteral("Last 7 days"),
                             QStringLiteral("Last 30 days")};
    int i = 0;
    for (const auto &[label, span] : figures) {
        const TUptime up = Uptime({now - span, now + 1}, sessions, gaps, outages, now);
        QString text = names[i++] + QStringLiteral(": ");
        if (const std::optional<double> pct = up.Percent()) {
            text += Fixed(*pct, 2) + QStringLiteral(" % up\n");
            text += QStringLiteral("%1 outage%2, %3 down, %4 watched")
                        .arg(up.Outages)
                        .arg(up.Outages == 1 ? QString() : QStringLiteral("s"))
                        .arg(platform::DurationText(up.Down / kUsPerMs), platform::DurationText(up.Monitored / kUsPerMs));
        } else {
            text += QStringLiteral("not monitored\n ");
        }
        label->setText(text);
    }
}

void THistoryWindow::Reload()
{
    // The zone as it is now, for every local time below.
    tzset();
    ShowNotice();
    ShowUptime();
    const TUs now = Now();
    const TRange range = Range();
    const std::vector<TSpanRow> sessions = store_.Sessions(range);
    const std::vector<TSpanRow> pauses = store_.Gaps(range);
    const std::vector<TOutageRow> outages = store_.Outages(range);

    // One pass over the range: the timeline's points, each target's figures,
    // the bytes of each day and the latest probe.
    TRangeFigures figures;
    // Hour summaries stand in for probes once a column of the timeline spans an
    // hour or more, at the width it has or any it is likely to get.
    if (!ReadRangeFigures(store_, range, pauses, now, std::max(1000, img_HistTimeline->width()), figures))
        ShowNotice();
    const qint64 bytes = figures.Bytes, probes = figures.Probes;

    img_HistTimeline->SetData(range, std::move(figures.Points), Gaps(range, sessions, pauses, now),
                              Intervals(outages, now));
    if (const std::optional<TProbeRow> &latest = figures.Latest) {
        const TProbeRow &last = *latest;
        lbl_HistLast->setText(QStringLiteral("Latest probe: %1  %2 %3  %4%5")
                                  .arg(LocalTime(last.At), KindName(last.Kind), last.Host, OutcomeName(last.Outcome),
                                       last.Ok() ? QStringLiteral(" in %1 ms").arg(RoundTripText(last.TimeUs()))
                                                 : QStringLiteral(" (%1)").arg(last.Reason)));
    } else {
        lbl_HistLast->setText(QStringLiteral("No probes in this range."));
    }

    // The tables get these rows as their pages are shown: a decade's days
    // and outages are thousands of rows, a good part of the time to the
    // first paint, for pages that may never be looked at.
    readAt_ = now;
    shownOutages_.assign(outages.rbegin(), outages.rend());
    targets_ = std::move(figures.Targets);
    days_ = std::move(figures.Days);
    // Idle timers are few and measured now and then: all of them, whatever the range.
    idleTimers_ = store_.IdleTimers();
    stale_.fill(true);
    FillPage(tab_Hist->currentIndex());
    // A page of a few rows costs nothing to fill: it is filled now all the
    // same, so that what reads the tables (assistive tools) finds them as
    // the range has them.
    const size_t rows[PageCount] = {shownOutages_.size(), targets_.size(), days_.size(), idleTimers_.size()};
    for (int page = 0; page < PageCount; ++page) {
        if (rows[page] <= kFewRows)
            FillPage(page);
    }
    ShowSelectedOutage();

    // What a day costs at the current interval, from the bytes measured per probe.
    bool ok = false;
    const int minutes = config::TAntiIdleOptions::FrequencyRange.Clamp(options_.AntiIdle.Frequency.trimmed().toInt(&ok));
    if (probes > 0 && ok) {
        const qint64 perProbe = (bytes + probes / 2) / probes;
        lbl_HistCost->setText(QStringLiteral("About %1 a day at one probe every %2 min (%3 a probe on average).")
                                  .arg(FormatBytes(perProbe * (1440 / minutes)))
                                  .arg(minutes)
                                  .arg(FormatBytes(perProbe)));
    } else {
        lbl_HistCost->setText(QStringLiteral("No probes measured in this range yet."));
    }
}

void THistoryWindow::FillPage(int page)
{
    if (page < 0 || page >= PageCount || !stale_[size_t(page)])
        return;
    stale_[size_t(page)] = false;
    switch (TPage(page)) {
    case OutagesPage: FillOutages(); break;
    case TargetsPage: FillTargets(); break;
    case BytesPage: FillBytes(); break;
    case IdlePage: FillIdle(); break;
    case PageCount: break;
    }
}

void THistoryWindow::FillOutages()
{
    TTableFill rows(tbl_HistOutages, shownOutages_.size());
    for (const TOutageRow &o : shownOutages_) {
        QString end = o.End ? LocalTime(*o.End) : QStringLiteral("still down");
        if (o.End && !o.EndedBy.isEmpty() && o.EndedBy != QLatin1String("up"))
            end += QStringLiteral(" (") + o.EndedBy + QLatin1Char(')');
        const qint64 ms = o.End ? o.DurationMs : (readAt_ - o.Start) / kUsPerMs;
        rows.Add({LocalTime(o.Start), end, platform::DurationText(ms), QString::number(o.ProbesLost), o.Reason(),
                  o.Verdict},
                 6);
        if (!o.Evidence.isEmpty())
            rows.Last(5)->setToolTip(o.Evidence);
    }
}

void THistoryWindow::FillTargets()
{
    TTableFill rows(tbl_HistTargets, targets_.size());
    for (const TTargetRow &t : targets_) {
        rows.Add({t.Host, KindName(t.Kind), QString::number(t.Probes), Fixed(t.LossPercent(), 1), RoundTripText(t.MinUs),
                  t.Probes > t.Lost ? Fixed(t.Average, 1) : QString(), RoundTripText(t.MaxUs),
                  t.Jitter ? Fixed(*t.Jitter, 1) : QString(),
                  t.DownUs > 0 ? platform::DurationText(t.DownUs / kUsPerMs) : QString()},
                 2);
    }
}

void THistoryWindow::FillIdle()
{
    TTableFill rows(tbl_HistIdle, idleTimers_.size());
    for (const TIdleTimerRow &t : idleTimers_) {
        const QString timer = t.Verdict == QLatin1String("found")      ? QString::number(t.Seconds)
                              : t.Verdict == QLatin1String("at least") ? QStringLiteral("at least %1").arg(t.Seconds)
                                                                      : t.Verdict;
        rows.Add({LocalTime(t.At), t.Kind, t.Network, timer, QString::number(t.Alive),
                  t.Gone ? QString::number(t.Gone) : QString(), t.Trials, FormatBytes(t.Bytes)},
                 3);
    }
}

void THistoryWindow::FillBytes()
{
    TTableFill rows(tbl_HistBytes, days_.size());
    for (auto it = days_.rbegin(); it != days_.rend(); ++it)
        rows.Add({it->Day, QString::number(it->Probes), FormatBytes(it->Sent), FormatBytes(it->Received),
                  FormatBytes(it->Sent + it->Received), QString::number(it->Skipped), FormatBytes(it->Saved)},
                 1);
}

bool THistoryWindow::ExportTo(TExportKind kind, TExportFormat format, const QString &path)
{
    QString error;
    qint64 count = 0;
    if (ExportToFile(store_, kind, format, Range(), path, &error, &count))
        return true;
    ShowError(QStringLiteral("Export"), error);
    return false;
}

void THistoryWindow::ShowError(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool THistoryWindow::ReportTo(const QString &path)
{
    const std::optional<TReportFormat> format = ReportFormatFor(path);
    QString error;
    TReport report;
    if (!format) {
        error = QStringLiteral("A report is written as PDF (.pdf) or HTML (.html): %1").arg(path);
    } else if (BuildReport(store_, Range(), Now(), &report, &error)) {
        report.DownAfter = options_.History.DownAfter;
        report.UpAfter = options_.History.UpAfter;
        if (WriteReportFile(report, *format, path, &error))
            return true;
    }
    ShowError(QStringLiteral("Report"), error);
    return false;
}

void THistoryWindow::ReportClick()
{
    QString selected;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Report"), QStringLiteral("idlix-report.pdf"),
                                                QStringLiteral("PDF files (*.pdf);;HTML files (*.html)"), &selected);
    if (path.isEmpty())
        return;
    // A name typed without its kind takes the chosen filter's.
    if (!ReportFormatFor(path))
        path += selected.startsWith(QLatin1String("HTML")) ? QStringLiteral(".html") : QStringLiteral(".pdf");
    ReportTo(path);
}

void THistoryWindow::ExportClick()
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("mnu_HistExport"));
    struct TChoice {
        const char *text;
        TExportKind kind;
        TExportFormat format;
        const char *filter;
    };
    const TChoice choices[] = {
        {"Probes as CSV...", TExportKind::Probes, TExportFormat::Csv, "CSV files (*.csv)"},
        {"Probes as NDJSON...", TExportKind::Probes, TExportFormat::Ndjson, "NDJSON files (*.ndjson)"},
        {"Outages as CSV...", TExportKind::Outages, TExportFormat::Csv, "CSV files (*.csv)"},
        {"Outages as NDJSON...", TExportKind::Outages, TExportFormat::Ndjson, "NDJSON files (*.ndjson)"},
    };
    for (const TChoice &c : choices) {
        menu.addAction(QString::fromLatin1(c.text), this, [this, c] {
            const QString suffix = c.format == TExportFormat::Csv ? QStringLiteral(".csv") : QStringLiteral(".ndjson");
            const QString name = (c.kind == TExportKind::Probes ? QStringLiteral("idlix-probes")
                                                                 : QStringLiteral("idlix-outages")) + suffix;
            const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export"), name,
                                                              QString::fromLatin1(c.filter));
            if (!path.isEmpty())
                ExportTo(c.kind, c.format, path);
        });
    }
    menu.exec(btn_HistExport->mapToGlobal(QPoint(0, btn_HistExport->height())));
}

} // namespace historyview
