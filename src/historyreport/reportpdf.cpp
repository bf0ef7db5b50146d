#include "historyreport/reportpdf.h"

#include "historyreport/reportchart.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextOption>

#include <algorithm>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

namespace {

QColor Rgb(unsigned rgb) { return QColor(int(rgb >> 16 & 255), int(rgb >> 8 & 255), int(rgb & 255)); }

// Lays the document out from the top of a page down, in points, turned
// into the device's pixels as it draws.
class TPageWriter {
public:
    TPageWriter(QPagedPaintDevice *device, QPainter &painter, const QString &title)
        : device_(device), p_(painter), title_(title)
    {
        k_ = device->logicalDpiY() / 72.0;
        width_ = device->width() / k_;
        height_ = device->height() / k_;
    }

    bool Ok() const { return ok_; }

    void Start() { Footer(); }

    QFont Font(double pt, bool bold = false) const
    {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setStyleHint(QFont::SansSerif);
        f.setPointSizeF(pt);
        f.setBold(bold);
        return f;
    }

    // Room for 'h' points on this page, or a new one.
    void Need(double h)
    {
        if (y_ + h <= height_ - kFooter || y_ == 0)
            return;
        if (!device_->newPage()) {
            ok_ = false;
            return;
        }
        ++page_;
        y_ = 0;
        Footer();
    }

    void Skip(double h) { y_ += h; }

    // A paragraph wrapped to the page's width.
    void Paragraph(const QString &text, const QFont &font, const QColor &colour = QColor(32, 32, 32))
    {
        p_.setFont(font);
        const QRectF box(0, 0, width_ * k_, 1e9);
        const QRectF used = p_.boundingRect(box, Qt::TextWordWrap, text);
        const double h = used.height() / k_;
        Need(h);
        p_.setPen(colour);
        p_.drawText(QRectF(0, y_ * k_, width_ * k_, used.height()), Qt::TextWordWrap, text);
        y_ += h;
    }

    void Pairs(const TDocPairs &pairs)
    {
        const QFont font = Font(9.5);
        p_.setFont(font);
        const QFontMetricsF fm(font, device_);
        double keyW = 0;
        for (const auto &[key, value] : pairs)
            keyW = std::max(keyW, fm.horizontalAdvance(key) / k_);
        keyW += 10;
        for (const auto &[key, value] : pairs) {
            const QRectF box((keyW) * k_, 0, (width_ - keyW) * k_, 1e9);
            const double h = std::max(fm.height(), p_.boundingRect(box, Qt::TextWordWrap, value).height()) / k_ + 2;
            Need(h);
            p_.setPen(QColor(85, 85, 85));
            p_.drawText(QRectF(0, y_ * k_, keyW * k_, h * k_), Qt::AlignLeft | Qt::AlignTop, key);
            p_.setPen(QColor(32, 32, 32));
            p_.drawText(QRectF(keyW * k_, y_ * k_, (width_ - keyW) * k_, h * k_), Qt::TextWordWrap, value);
            y_ += h;
        }
    }

    void Chart(const TDocChart &chart, const QLocale &locale)
    {
        const TChartDrawing d = LayoutChart(chart, width_, 130, locale);
        Need(d.Height + 6);
        const double top = y_;
        auto at = [&](const QPointF &q) { return QPointF(q.x() * k_, (top + q.y()) * k_); };
        p_.setFont(Font(d.FontSize * 0.85));
        const QFontMetricsF fm(p_.font(), device_);
        for (const TChartShape &s : d.Shapes) {
            switch (s.Kind) {
            case TChartShape::Rect:
                p_.fillRect(QRectF(at(s.Points[0]), at(s.Points[1])), Rgb(s.Rgb));
                break;
            case TChartShape::Polyline: {
                QPen pen(Rgb(s.Rgb), s.Stroke * k_);
                pen.setJoinStyle(Qt::RoundJoin);
                p_.setPen(pen);
                QPolygonF line;
                for (const QPointF &q : s.Points)
                    line << at(q);
                p_.drawPolyline(line);
                break;
            }
            case TChartShape::Text: {
                const double w = fm.horizontalAdvance(s.Label);
                QPointF base = at(s.Points[0]);
                base.rx() -= s.Align < 0 ? 0 : s.Align > 0 ? w : w / 2;
                p_.setPen(Rgb(s.Rgb));
                p_.drawText(base, s.Label);
                break;
            }
            }
        }
        y_ += d.Height + 6;
    }

    void Table(const TDocTable &t)
    {
        Need(40);
        Paragraph(t.Title, Font(12, true));
        Skip(3);
        if (t.Rows.empty()) {
            Paragraph(t.IfEmpty, Font(9.5), QColor(68, 68, 68));
            Skip(6);
            return;
        }
        const QFont head = Font(8.5, true), body = Font(8.5), note = Font(7.5);
        const QFontMetricsF hm(head, device_), bm(body, device_);
        const qsizetype cols = t.Headings.size();
        // Each column as wide as its widest text; text columns give way when
        // the page is too narrow, and their cells are elided.
        std::vector<double> w(size_t(cols), 0);
        for (qsizetype c = 0; c < cols; ++c)
            w[size_t(c)] = hm.horizontalAdvance(t.Headings[c]) / k_;
        for (const TDocRow &row : t.Rows) {
            for (qsizetype c = 0; c < cols && c < row.Cells.size(); ++c)
                w[size_t(c)] = std::max(w[size_t(c)], bm.horizontalAdvance(row.Cells[c]) / k_);
        }
        const double pad = 10;   // 4 on either side, 2 to spare for rounding
        double total = 0, text = 0;
        for (qsizetype c = 0; c < cols; ++c) {
            w[size_t(c)] += pad;
            total += w[size_t(c)];
            if (!t.Figure(c))
                text += w[size_t(c)];
        }
        if (total > width_ && text > 0) {
            const double shrink = std::max(0.2, (text - (total - width_)) / text);
            for (qsizetype c = 0; c < cols; ++c) {
                if (!t.Figure(c))
                    w[size_t(c)] *= shrink;
            }
        }
        const double rowH = bm.height() / k_ + 3;   // the route's line under a row
        auto headings = [&] {
            p_.setFont(head);
            const double h = Cells(w, t.Headings, t, false);
            Need(h + rowH * 2);
            Cells(w, t.Headings, t, true);
            y_ += h;
            Rule(QColor(136, 136, 136), 0.8);
        };
        headings();
        for (const TDocRow &row : t.Rows) {
            p_.setFont(body);
            const double h = Cells(w, row.Cells, t, false) + (row.Note.isEmpty() ? 0 : rowH);
            const int before = page_;
            Need(h);
            if (page_ != before)
                headings();
            p_.setFont(body);
            p_.setPen(QColor(32, 32, 32));
            y_ += Cells(w, row.Cells, t, true);
            if (!row.Note.isEmpty()) {
                p_.setFont(note);
                p_.setPen(QColor(85, 85, 85));
                const QFontMetricsF nm(note, device_);
                p_.drawText(QPointF(16 * k_, (y_ + 1) * k_ + nm.ascent()),
                            nm.elidedText(row.Note, Qt::ElideRight, (width_ - 16) * k_));
                y_ += rowH;
            }
            Rule(QColor(221, 221, 221), 0.4);
        }
        Skip(8);
    }

private:
    static constexpr double kFooter = 20;

    // A row of cells in the painter's font, each wrapped to its column
    // (between words, or anywhere in a word longer than the column); its
    // height in points. Drawn at the current line when 'draw' is set.
    double Cells(const std::vector<double> &w, const QStringList &cells, const TDocTable &t, bool draw)
    {
        double x = 0, tallest = 0;
        for (qsizetype c = 0; c < cells.size() && c < qsizetype(w.size()); ++c) {
            QTextOption option(t.Figure(c) ? Qt::AlignRight : Qt::AlignLeft);
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            const QRectF box((x + 4) * k_, (y_ + 1.5) * k_, std::max(1.0, w[size_t(c)] - 8) * k_, 1e9);
            const QRectF used = p_.boundingRect(box, cells[c], option);
            tallest = std::max(tallest, used.height() / k_);
            if (draw)
                p_.drawText(QRectF(box.topLeft(), QSizeF(box.width(), used.height())), cells[c], option);
            x += w[size_t(c)];
        }
        return tallest + 3;
    }

    void Rule(const QColor &colour, double width)
    {
        p_.setPen(QPen(colour, width * k_));
        p_.drawLine(QPointF(0, y_ * k_), QPointF(width_ * k_, y_ * k_));
        y_ += 1;
    }

    void Footer()
    {
        const QFont f = Font(7.5);
        p_.setFont(f);
        p_.setPen(QColor(110, 110, 110));
        const QRectF box(0, (height_ - kFooter + 6) * k_, width_ * k_, (kFooter - 6) * k_);
        p_.drawText(box, Qt::AlignLeft | Qt::AlignBottom, title_);
        p_.drawText(box, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Page %1").arg(page_));
    }

    QPagedPaintDevice *device_;
    QPainter &p_;
    QString title_;
    double k_ = 1, width_ = 0, height_ = 0, y_ = 0;
    int page_ = 1;
    bool ok_ = true;
};

} // namespace

bool PaintReport(QPagedPaintDevice *device, const TReportDoc &doc, QString *error)
{
    QPainter painter;
    if (!painter.begin(device)) {
        if (error)
            *error = QStringLiteral("The report could not be printed: the printer did not start the document.");
        return false;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    TPageWriter page(device, painter, doc.Title);
    page.Start();
    page.Paragraph(doc.Title, page.Font(18, true));
    page.Skip(6);
    page.Pairs(doc.Head);
    if (!doc.EmptyNotice.isEmpty()) {
        page.Skip(8);
        page.Paragraph(doc.EmptyNotice, page.Font(10, true), QColor(176, 0, 0));
    }
    page.Skip(10);
    page.Paragraph(QStringLiteral("Summary"), page.Font(12, true));
    page.Skip(3);
    page.Pairs(doc.Summary);
    if (!doc.Tables.empty() && !doc.Tables.front().Rows.empty()) {
        page.Skip(10);
        page.Need(170);
        page.Paragraph(QStringLiteral("Each day"), page.Font(12, true));
        page.Skip(3);
        for (const TDocChart &c : doc.Charts)
            page.Chart(c, doc.Locale);
    }
    page.Skip(6);
    for (const TDocTable &t : doc.Tables)
        page.Table(t);
    page.Paragraph(doc.Method, page.Font(8.5), QColor(68, 68, 68));
    const bool ended = painter.end();
    if (!page.Ok() || !ended) {
        if (error)
            *error = QStringLiteral("The report could not be printed: the printer refused a page.");
        return false;
    }
    return true;
}

QByteArray ReportPdf(const TReportDoc &doc, QString *error)
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setTitle(doc.Title);
        writer.setCreator(QStringLiteral("Idlix"));
        writer.setPageSize(QPageSize(doc.PageSize == QLatin1String("Letter") ? QPageSize::Letter : QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        if (!PaintReport(&writer, doc, error))
            return {};
    }
    return bytes;
}

} // namespace historyreport
