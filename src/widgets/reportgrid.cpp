#include "widgets/reportgrid.h"
#include "desktop/fonts.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>

namespace {

constexpr int ReportRowHeight = 13;
constexpr int ReportColWidths[5] = {104, 48, 33, 36, 98};

// The heading row: its sections are painted by the grid's OnDrawCell handler,
// with a grid line on the right and bottom like the other cells.
class TReportHeader : public QHeaderView {
public:
    explicit TReportHeader(TReportGrid *grid)
        : QHeaderView(Qt::Horizontal, grid), grid_(grid) {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        if (!grid_->OnDrawCell) {
            QHeaderView::paintSection(painter, rect, logicalIndex);
            return;
        }
        painter->save();
        painter->setPen(TReportGrid::GridLineColour());
        painter->drawLine(rect.topRight(), rect.bottomRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->setFont(grid_->font());
        painter->setPen(Qt::white);
        const QRect cell = rect.adjusted(0, 0, -1, -1);
        painter->setClipRect(cell);
        grid_->OnDrawCell(*painter, logicalIndex, 0, cell);
        painter->restore();
    }

private:
    TReportGrid *grid_;
};

} // namespace

TReportGrid::TReportGrid(QWidget *parent)
    : QTableWidget(1, 5, parent)
{
    setHorizontalHeader(new TReportHeader(this));
    setFont(desktop::WindowFont(9));

    QPalette pal = palette();
    for (auto role : {QPalette::Base, QPalette::Window, QPalette::Button, QPalette::AlternateBase})
        pal.setColor(role, CellColour());
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        pal.setColor(role, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setStyleSheet(QStringLiteral("QTableWidget { gridline-color: black; }"));

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    setWordWrap(false);
    // A server's text wider than its column (a full IPv6 address in a
    // 104-pixel column) keeps its start and its end in view, which tell
    // addresses apart; the tool tip shows it whole.
    setTextElideMode(Qt::ElideMiddle);

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(ReportRowHeight);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setFixedHeight(ReportRowHeight);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    for (int c = 0; c < 5; ++c) {
        setColumnWidth(c, ReportColWidths[c]);
        setHorizontalHeaderItem(c, new QTableWidgetItem);
    }
    setRowCount(1); // the heading row and one empty row until a session fills it
}

int TReportGrid::RowCount() const
{
    return rowCount() + 1;
}

void TReportGrid::SetRowCount(int rows)
{
    setRowCount(rows > 1 ? rows - 1 : 0);
}

QString TReportGrid::Cells(int col, int row) const
{
    if (col < 0 || col >= columnCount() || row < 0 || row > rowCount())
        return QString();
    const QTableWidgetItem *it = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    return it ? it->text() : QString();
}

bool TReportGrid::SetCells(int col, int row, const QString &text)
{
    if (col < 0 || col >= columnCount() || row < 0 || row > rowCount())
        return false;
    if (row == 0) {
        QTableWidgetItem *it = horizontalHeaderItem(col);
        if (!it) {
            it = new QTableWidgetItem;
            setHorizontalHeaderItem(col, it);
        }
        it->setText(text);
        return true;
    }
    QTableWidgetItem *it = item(row - 1, col);
    if (!it) {
        it = new QTableWidgetItem;
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row - 1, col, it);
    }
    it->setText(text);
    it->setToolTip(ShowsWhole(col, text) ? QString() : text);
    return true;
}

bool TReportGrid::ShowsWhole(int col, const QString &text) const
{
    const int room = columnWidth(col) - 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    return QFontMetrics(font()).horizontalAdvance(text) <= room;
}
