// The "Anti-Idle Report" panel: the session time, the per-server table and
// its Print and Close buttons.
#include "app/mainform.h"

#include "antiidle/reportbutton.h"
#include "antiidle/reportgrid.h"
#include "antiidle/reportprint.h"
#include "app/picturebutton.h"
#include "platform/msgbox.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>


void TMainForm::CreateReportPanel()
{
    lbl_RptTime = new QLabel(pnl_AIReport);
    lbl_RptTime->setObjectName(QStringLiteral("lbl_RptTime"));
    lbl_RptTime->setGeometry(6, 18, 297, 26);
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
                                    163, 60, &lbl_RptPrint);
    btn_RptClose = MakeCaptionButton(pnl_AIReport, QStringLiteral("btn_RptClose"),
                                    QStringLiteral("lbl_RptClose"), QStringLiteral("Close"), 243,
                                    163, 60, &lbl_RptClose);
    btn_RptPrint->OnClick = [this] { btn_RptPrintClick(); };
    btn_RptClose->OnClick = [this] { btn_RptCloseClick(); };
}

void TMainForm::WriteReportHeadings()
{
    static const char *const headings[5] = {"Server", "Successful", "Failed", "%", "Average"};
    for (int c = 0; c < 5; ++c)
        ReportGrid->SetCells(c, 0, QString::fromLatin1(headings[c]));
}

void TMainForm::ReportGridDrawCell(QPainter &canvas, int col, int row, const QRect &rect)
{
    if (row != 0)
        return;
    canvas.fillRect(rect, QColor(128, 128, 128));
    const QFontMetrics fm(canvas.font());
    // Centred on the row: half the row's height less half the text height.
    const int top = rect.top() + rect.height() / 2 - fm.height() / 2;
    canvas.drawText(QPoint(rect.left() + 3, top + fm.ascent()), ReportGrid->Cells(col, 0));
}

void TMainForm::btn_RptCloseClick()
{
    pnl_AIReport->hide();
    // The finger, ping and traceroute tools and the server-list and ISP-tree
    // panels stand on the same backdrop.
    const bool backdropInUse = !img_FngGreen->isHidden() || !img_PngGreen->isHidden()
        || !img_TrcGreen->isHidden() || !pnl_Servers->isHidden() || !pnl_ISPTree->isHidden();
    if (!backdropInUse) {
        img_Bg2->hide();
        img_Background->update();
    }
}

void TMainForm::btn_RptPrintClick()
{
    PrintReport();
}

void TMainForm::PrintReport()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintReportTo(&printer);
}

bool TMainForm::PrintReportTo(QPagedPaintDevice *device)
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
    platform::ShowMessage(error);
    return false;
}

void TMainForm::CreateAntiIdlePanels()
{
    CreateServerPanel();
    CreateReportPanel();
    connect(LogTimer, &QTimer::timeout, this, [this] { LogTimerTimer(); });
}
