// The "Anti-Idle Report" panel: the session time, the per-server table and
// its Print and Close buttons.
#include "antiidle/antiidlereport.h"

#include "antiidle/reportprintjob.h"
#include "session/statscalc.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "widgets/captionbutton.h"
#include "widgets/picturebutton.h"
#include "widgets/reportgrid.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>

TAntiIdleReport::TAntiIdleReport(IShell &shell, QObject *parent)
    : QObject(parent), shell_(shell)
{
    setObjectName(QStringLiteral("AntiIdleReport"));
    CreatePanel();
    WriteReportHeadings();
}

TAntiIdleReport::~TAntiIdleReport() = default;

void TAntiIdleReport::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::AIReport);
    pnl_AIReport = panel_->Frame();
    lbl_RptTime = new QLabel(pnl_AIReport);
    lbl_RptTime->setTextFormat(Qt::PlainText);
    lbl_RptTime->setObjectName(QStringLiteral("lbl_RptTime"));
    // As wide as the panel allows: the start and end fit one line in the
    // usual locales; a longer date still has the second line of the box.
    lbl_RptTime->setGeometry(4, 18, 301, 26);
    lbl_RptTime->setWordWrap(true);
    lbl_RptTime->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    ReportGrid = new TReportGrid(pnl_AIReport);
    ReportGrid->setObjectName(QStringLiteral("ReportGrid"));
    ReportGrid->setGeometry(6, 46, 297, 112);
    ReportGrid->OnDrawCell = [this](QPainter &canvas, int col, int row, const QRect &rect) {
        ReportGridDrawCell(canvas, col, row, rect);
    };

    btn_RptPrint = MakeCaptionButton(pnl_AIReport, QStringLiteral("btn_RptPrint"),
                                    QStringLiteral("lbl_RptPrint"), QStringLiteral("Print"), 175,
                                    163, CaptionButtonWidth, &lbl_RptPrint);
    btn_RptClose = MakeCaptionButton(pnl_AIReport, QStringLiteral("btn_RptClose"),
                                    QStringLiteral("lbl_RptClose"), QStringLiteral("Close"), 243,
                                    163, CaptionButtonWidth, &lbl_RptClose);
    btn_RptPrint->OnClick = [this] { btn_RptPrintClick(); };
    btn_RptClose->OnClick = [this] { btn_RptCloseClick(); };
}

void TAntiIdleReport::WriteReportHeadings()
{
    static const char *const headings[5] = {"Server", "Successful", "Failed", "%", "Average"};
    for (int c = 0; c < 5; ++c)
        ReportGrid->SetCells(c, 0, QString::fromLatin1(headings[c]));
}

void TAntiIdleReport::ReportGridDrawCell(QPainter &canvas, int col, int row, const QRect &rect)
{
    if (row != 0)
        return;
    canvas.fillRect(rect, QColor(128, 128, 128));
    const QFontMetrics fm(canvas.font());
    // Centred on the row: half the row's height less half the text height.
    const int top = rect.top() + rect.height() / 2 - fm.height() / 2;
    canvas.drawText(QPoint(rect.left() + 3, top + fm.ascent()), ReportGrid->Cells(col, 0));
}

void TAntiIdleReport::ResetReportTable(const QStringList &hosts, bool cycle)
{
    ReportGrid->SetRowCount(int(hosts.size()) + 1);
    for (int i = 0; i < hosts.size(); ++i) {
        const QString cells[5] = {hosts[i], QStringLiteral("0"), QStringLiteral("0"),
                                  cycle ? QStringLiteral("0") : QStringLiteral("100"),
                                  QStringLiteral("0")};
        for (int c = 0; c < 5; ++c)
            ReportGrid->SetCells(c, i + 1, cells[c]);
    }
}

void TAntiIdleReport::AddSuccess(int row, int ms)
{
    const auto good = session::CellInteger(ReportGrid->Cells(1, row));
    const auto sum = session::CellInteger(ReportGrid->Cells(4, row));
    if (row >= 1 && row < ReportGrid->RowCount() && good && sum) {
        ReportGrid->SetCells(1, row, QString::number(*good + 1));
        ReportGrid->SetCells(4, row, QString::number(*sum + ms));
    }
}

void TAntiIdleReport::AddFailure(int row)
{
    const auto failed = session::CellInteger(ReportGrid->Cells(2, row));
    if (row >= 1 && row < ReportGrid->RowCount() && failed)
        ReportGrid->SetCells(2, row, QString::number(*failed + 1));
}

void TAntiIdleReport::FinishReport()
{
    for (int row = 1; row < ReportGrid->RowCount(); ++row) {
        const auto a = session::CellInteger(ReportGrid->Cells(1, row));
        const auto f = session::CellInteger(ReportGrid->Cells(2, row));
        const auto t = session::CellInteger(ReportGrid->Cells(4, row));
        if (!a || !f || !t)
            continue; // an empty row (no session yet) has nothing to sum up
        const session::TRowSummary s = session::SummariseRow(*a, *f, *t);
        ReportGrid->SetCells(3, row, s.Percent);
        ReportGrid->SetCells(4, row, s.Average);
    }
    ReportGrid->viewport()->update();
}

void TAntiIdleReport::ShowReport()
{
    FinishReport();
    panel_->Open();
}

void TAntiIdleReport::HideReport()
{
    if (panel_->IsOpen())
        panel_->Close();
}

void TAntiIdleReport::btn_RptCloseClick()
{
    HideReport();
}

void TAntiIdleReport::btn_RptPrintClick()
{
    PrintReport();
}

void TAntiIdleReport::PrintReport()
{
    QString error;
    const auto asked = printDialog_.Run(shell_.Window(), QStringLiteral("PrintDialog1"),
                                        [this](QPagedPaintDevice *printer) { PrintReportTo(printer); }, &error);
    if (asked == desktop::TPrintAsk::Unavailable)
        shell_.ShowMessage(error);
}

bool TAntiIdleReport::PrintReportTo(QPagedPaintDevice *device)
{
    QList<QStringList> rows;
    for (int r = 1; r < ReportGrid->RowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < 5; ++c)
            row << ReportGrid->Cells(c, r);
        rows << row;
    }
    QString error;
    if (antiidle::PrintReportPages(device, lbl_RptTime->text(), rows, &error))
        return true;
    shell_.ShowMessage(error);
    return false;
}

