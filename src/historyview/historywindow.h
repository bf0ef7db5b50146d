// The History window: what the connection history says over a chosen range
// (uptime of the last day, week and month, the round trips with lost probes
// and outages, the outages, each target's loss and jitter, and what the
// keep-alive cost in bytes per day), following a running session as it
// writes, exporting the range as CSV or NDJSON and writing a report of it
// (PDF or HTML) to hand to the provider. An ordinary resizable
// window of its own beside the main one. Everything it shows from the
// network or the file is plain text.
#pragma once

#include "history/historycalc.h"
#include "history/historystore.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;
namespace config {
struct TOptions;
}

namespace history {
class THistoryStore;
enum class TExportKind;
enum class TExportFormat;
}

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

class TTimelineView;

class THistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The ranges of cb_HistRange, in its order.
    enum TRangeChoice { LastHour = 0, Last24Hours = 1, Last7Days = 2, Last30Days = 3, Everything = 4 };

    // Reads 'store'; 'options' gives the probe interval for the cost per day.
    THistoryWindow(THistoryStore &store, const config::TOptions &options, QWidget *parent = nullptr);

    QLabel *lbl_HistNotice = nullptr;      // problems with the file, a damaged file set aside
    QComboBox *cb_HistRange = nullptr;
    QPushButton *btn_HistExport = nullptr;
    QPushButton *btn_HistReport = nullptr;
    QLabel *lbl_HistUptime24 = nullptr, *lbl_HistUptime7 = nullptr, *lbl_HistUptime30 = nullptr;
    QLabel *lbl_HistLast = nullptr;        // the latest probe
    TTimelineView *img_HistTimeline = nullptr;
    QTabWidget *tab_Hist = nullptr;
    QTableWidget *tbl_HistOutages = nullptr, *tbl_HistTargets = nullptr, *tbl_HistBytes = nullptr;
    QTableWidget *tbl_HistIdle = nullptr;  // idle timers measured, newest first (every range)
    QLabel *lbl_HistCost = nullptr;        // the keep-alive's bytes a day at the current settings
    QLabel *lbl_HistRoute = nullptr;       // the selected outage's diagnosis and its route at the start

    // The range shown now.
    TRange Range() const;
    // The range item that fits the history: the last 24 hours, or
    // everything when the first record is younger than that.
    int FittingRange() const;
    // Reads the store again and shows it (the window does so by itself when
    // the store changes while it is shown).
    void Reload();
    // Exports the shown range into 'path'; false with the reason shown.
    bool ExportTo(TExportKind kind, TExportFormat format, const QString &path);
    // Writes a report of the shown range into 'path' (.pdf, .html); false
    // with the reason shown.
    bool ReportTo(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The pages of tab_Hist, in its order.
    enum TPage { OutagesPage = 0, TargetsPage, BytesPage, IdlePage, PageCount };
    // A page with no more rows than this is filled with the page shown.
    static constexpr size_t kFewRows = 100;

    void ShowUptime();
    // Fills the table of 'page' from the rows read last, if it has not got them yet.
    void FillPage(int page);
    void FillOutages();
    void FillTargets();
    void FillBytes();
    void FillIdle();
    void ShowSelectedOutage();
    void ShowNotice();
    void ExportClick();
    void RangeChosen(int index);
    std::optional<TUs> FirstRecord() const;
    void ReportClick();
    void ShowError(const QString &title, const QString &text);
    TUs Now() const;

    THistoryStore &store_;
    const config::TOptions &options_;
    QTimer reload_;                        // gathers a burst of writes into one reload
    // The rows of the range read last, for the pages that get them later.
    TUs readAt_ = 0;                       // the time they were read
    std::vector<TOutageRow> shownOutages_; // the outages table's rows, in its order
    std::vector<TTargetRow> targets_;
    std::vector<TDayBytes> days_;          // oldest first
    std::vector<TIdleTimerRow> idleTimers_;
    std::array<bool, PageCount> stale_{};  // pages whose table does not hold those rows yet
};

} // namespace historyview
