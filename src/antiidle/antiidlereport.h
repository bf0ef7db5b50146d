// The "Anti-Idle Report" panel: the session's start and end, the per-server
// table (successes, failures, success rate, average time) and its Print and
// Close buttons. The session fills the table as its probes end.
#pragma once

#include "desktop/printdialog.h"

#include <QObject>
#include <QStringList>

#include <memory>

class IShell;
class QFrame;
class QLabel;
class QPagedPaintDevice;
class QPainter;
class QRect;
class TWidePanel;
class TPictureButton;
class TReportGrid;

class TAntiIdleReport : public QObject {
    Q_OBJECT
public:
    explicit TAntiIdleReport(IShell &shell, QObject *parent = nullptr);
    ~TAntiIdleReport() override;

    QFrame *pnl_AIReport = nullptr;
    QLabel *lbl_RptTime = nullptr;    // "Session Start: ...     Session End: ..."
    TReportGrid *ReportGrid = nullptr;
    TPictureButton *btn_RptPrint = nullptr, *btn_RptClose = nullptr;
    QLabel *lbl_RptPrint = nullptr, *lbl_RptClose = nullptr;

    void WriteReportHeadings();
    // One zeroed row per host; a single-host session's row starts at 100 %.
    void ResetReportTable(const QStringList &hosts, bool cycle);
    // Counts a success of 'ms' or a failure in table row 'row' (1-based;
    // a row the table lacks is left alone).
    void AddSuccess(int row, int ms);
    void AddFailure(int row);
    // Turns the sums into the success rate and the average.
    void FinishReport();
    // Shows the panel on the backdrop, summed up; hides it.
    void ShowReport();
    void HideReport();

    void ReportGridDrawCell(QPainter &canvas, int col, int row, const QRect &rect);
    void btn_RptCloseClick();
    void btn_RptPrintClick();
    void PrintReport();               // print dialog, then PrintReportTo
    bool PrintReportTo(QPagedPaintDevice *device);

private:
    void CreatePanel();
    IShell &shell_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_AIReport
    desktop::TPrintDialog printDialog_;     // loads printing on the first Print
};
