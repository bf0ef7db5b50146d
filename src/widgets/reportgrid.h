// TReportGrid: the string grid of the anti-idle report. Row 0 is the fixed
// heading row (shown as the table's header), rows 1.. hold one server each;
// every cell holds text.
#pragma once

#include <QTableWidget>
#include <functional>

class QHeaderView;

class TReportGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TReportGrid(QWidget *parent = nullptr);

    // Number of rows, the heading row included (at least 1).
    int RowCount() const;
    void SetRowCount(int rows);
    // Number of columns.
    int ColCount() const { return columnCount(); }

    // Text of a cell; row 0 is the heading row. Outside the grid: empty text.
    QString Cells(int col, int row) const;
    // Sets a cell's text. Returns false (and changes nothing) outside the grid.
    // A text wider than its column shows its start and end with "…" between,
    // and the cell's tool tip holds it whole.
    bool SetCells(int col, int row, const QString &text);
    // Whether a text shows whole in a cell of the column (in the grid's font,
    // inside the cell's margins).
    bool ShowsWhole(int col, const QString &text) const;

    // Paints a cell of the heading row: canvas, column, row, the cell's
    // rectangle without its grid lines. Unset: the header paints normally.
    std::function<void(QPainter &canvas, int col, int row, const QRect &rect)> OnDrawCell;

    // Background colour of the cells and the colour of their text.
    static QColor CellColour() { return QColor(70, 70, 70); }
    static QColor GridLineColour() { return QColor(0, 0, 0); }
};
