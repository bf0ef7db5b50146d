#include "antiidle/reportprintjob.h"
#include "platform/version.h"

#include <QFont>
#include <QFontMetrics>
#include <QPagedPaintDevice>

namespace antiidle {

namespace {

// Column headings with their x positions in units of (D, Q).
struct THeading {
    const char *Text;
    int Ds;
    int Qs;
};
constexpr THeading Headings[5] = {
    {"Server", 0, 2},            // D div 2
    {"Successful Pings", 1, 6},  // D + 6Q
    {"Failed Pings", 3, 3},      // 3D + 3Q
    {"Success %", 4, 3},         // 4D + 3Q
    {"Average Response", 5, 3},  // 5D + 3Q
};

int HeadingX(const TReportPrintJob &job, int col)
{
    // "Server" sits at D div 2, which is not a whole number of quarters
    // when D is not a multiple of 4.
    if (col == 0)
        return job.D / 2;
    return Headings[col].Ds * job.D + Headings[col].Qs * job.Q;
}

void SetPointSize(QPainter &p, int points)
{
    QFont f = p.font();
    f.setPointSize(points);
    p.setFont(f);
}

// Headings, the underscore rule under them, then the row font.
void PrintColumnHeads(TReportPrintJob &job)
{
    QPainter &p = job.Canvas;
    for (int c = 0; c < 5; ++c)
        TextOutAt(p, HeadingX(job, c), job.Y, QString::fromLatin1(Headings[c].Text));
    job.Y += 3 * (job.Q / 4);
    TextOutAt(p, job.D / 4, job.Y, QString(92, QLatin1Char('_')));
    job.Y += job.D / 3;
    SetPointSize(p, 9);
}

} // namespace

void TextOutAt(QPainter &p, int x, int y, const QString &text)
{
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), text);
}

bool PrintPageHead(TReportPrintJob &job)
{
    QPainter &p = job.Canvas;
    if (!job.Started) {
        if (!p.begin(job.Device))
            return false;
        job.Started = true;
        job.PageNumber = 1;
        job.D = job.Device->logicalDpiX();
        job.Q = job.D / 4;
        QFont f(QStringLiteral("Tahoma"));
        f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
        p.setFont(f);
        p.setPen(Qt::black);
    } else if (job.NextPage) {
        job.NextPage = false;
        job.Device->newPage();
        ++job.PageNumber;
    }
    const int q = job.Q;
    SetPointSize(p, 22);
    TextOutAt(p, q, q + q / 4, QLatin1String(platform::ProgramTitle));
    SetPointSize(p, 12);
    TextOutAt(p, 28 * q, q + 3 * (q / 4),
              QStringLiteral("Page ") + QString::number(job.PageNumber));
    const int ruleY = 2 * q + q / 2;
    p.drawLine(0, ruleY, job.Device->width(), ruleY);
    SetPointSize(p, 10);
    job.Y = 5 * q;
    return true;
}

bool PrintReportPages(QPagedPaintDevice *device, const QString &timeText,
                      const QList<QStringList> &rows, QString *error)
{
    TReportPrintJob job;
    job.Device = device;
    if (!device || !PrintPageHead(job)) {
        if (error)
            *error = QStringLiteral("Unable to start printing");
        return false;
    }
    TextOutAt(job.Canvas, job.D / 2, job.Y, timeText);
    job.Y += 2 * job.Q;
    PrintColumnHeads(job);

    const int bottom = device->height() - 2 * job.Q;
    for (int n = 0; n < rows.size(); ++n) {
        if (job.Y > bottom) {
            job.NextPage = true;
            PrintPageHead(job);
            PrintColumnHeads(job);
        }
        TextOutAt(job.Canvas, job.D / 4, job.Y, QString::number(n + 1) + QStringLiteral(".)"));
        const QStringList &row = rows[n];
        for (int c = 0; c < 5 && c < row.size(); ++c)
            TextOutAt(job.Canvas, HeadingX(job, c), job.Y, row[c]);
        job.Y += job.Q;
    }
    job.Canvas.end();
    return true;
}

} // namespace antiidle
