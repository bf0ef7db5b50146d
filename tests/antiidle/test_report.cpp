// The report: the grid's heading painting and a printed report of more rows
// than one page holds, printed to a PDF file and read back with pdftotext.
#include "widgets/reportgrid.h"
#include "antiidle/reportprintjob.h"
#include "sessionwindow.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QApplication>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct TWord {
    int Page;
    double X, Y; // top-left, points
    QString Text;
};

// Words of a PDF with their page and position, from pdftotext -bbox.
QList<TWord> PdfWords(const QString &pdf)
{
    QProcess p;
    p.start("pdftotext", {"-bbox", pdf, "-"});
    if (!p.waitForFinished(30000))
        return {};
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    QList<TWord> words;
    int page = 0;
    static const QRegularExpression token(
        "<page |<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>([^<]*)</word>");
    for (auto it = token.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith("<page")) {
            ++page;
            continue;
        }
        words.append({page, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return words;
}

const TWord *Find(const QList<TWord> &words, int page, const QString &text)
{
    for (const TWord &w : words)
        if (w.Page == page && w.Text == text)
            return &w;
    return nullptr;
}

// The word that begins row n. Row number and server name stand close enough
// for pdftotext to join them into one word when the number is wide
// ("17.)host17.test"), so either form is accepted.
const TWord *FindRow(const QList<TWord> &words, int page, int n)
{
    const QString number = QStringLiteral("%1.)").arg(n);
    const QString joined = number + QStringLiteral("host%1.test").arg(n);
    for (const TWord &w : words)
        if (w.Page == page && (w.Text == number || w.Text == joined))
            return &w;
    return nullptr;
}

// Row numbers ("7.)") printed on a page, in order.
QList<int> RowNumbers(const QList<TWord> &words, int page)
{
    QList<int> out;
    static const QRegularExpression num("^(\\d+)\\.\\)");
    for (const TWord &w : words)
        if (w.Page == page) {
            const auto m = num.match(w.Text);
            if (m.hasMatch())
                out << m.captured(1).toInt();
        }
    return out;
}

} // namespace

TEST(ReportGrid, CellsAddressTheHeadingAsRowZero)
{
    TReportGrid grid;
    EXPECT_EQ(grid.RowCount(), 2); // headings and one empty row
    EXPECT_TRUE(grid.SetCells(0, 0, "Server"));
    EXPECT_EQ(grid.Cells(0, 0), "Server");
    grid.SetRowCount(4);
    EXPECT_TRUE(grid.SetCells(4, 3, "99"));
    EXPECT_EQ(grid.Cells(4, 3), "99");
    EXPECT_FALSE(grid.SetCells(0, 4, "x"));
    EXPECT_FALSE(grid.SetCells(5, 1, "x"));
    EXPECT_EQ(grid.Cells(0, 9), QString());
    grid.SetRowCount(2);
    EXPECT_EQ(grid.Cells(4, 3), QString());
    EXPECT_EQ(grid.Cells(0, 0), "Server");
}

TEST(ReportGrid, HeadingRowIsPaintedGreyWithItsText)
{
    testutil::ScratchDir dir;
    TMainForm form;
    antiidletest::AntiIdleParts parts;
    parts.Attach(form);
    [[maybe_unused]] TAntiIdleSession *ai = parts.ai;
    [[maybe_unused]] TServerList *serverList = parts.serverList;
    [[maybe_unused]] TAntiIdleReport *report = parts.report;
    Ctl<QFrame>(form, "pnl_AIReport")->show();
    report->ReportGrid->show();
    const QImage shot = report->ReportGrid->grab().toImage();
    // Heading cells are grey with light text; the body stays dark grey.
    const QRgb grey = qRgb(128, 128, 128);
    EXPECT_EQ(shot.pixel(60, 1), grey);
    EXPECT_EQ(shot.pixel(200, 11), grey);
    int light = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 3; x < 40; ++x)
            light += qGray(shot.pixel(x, y)) > 200;
    EXPECT_GT(light, 5) << "the heading text \"Server\" is drawn";
    EXPECT_EQ(shot.pixel(60, 20), qRgb(70, 70, 70));
    // Grid line between the first two heading cells.
    EXPECT_NE(shot.pixel(103, 5), grey);
    EXPECT_EQ(shot.pixel(105, 5), grey);
}

class PrintedReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
        platform::Services().Message = [this](const QString &m) { messages << m; };
    }
    void TearDown() override { platform::Services().Message = {}; }
    testutil::ScratchDir dir;
    QStringList messages;
};

TEST_F(PrintedReport, LongReportContinuesOnPageTwoWithHeadings)
{
    TMainForm form;
    antiidletest::AntiIdleParts parts;
    parts.Attach(form);
    [[maybe_unused]] TAntiIdleSession *ai = parts.ai;
    [[maybe_unused]] TServerList *serverList = parts.serverList;
    [[maybe_unused]] TAntiIdleReport *report = parts.report;
    QStringList servers;
    for (int i = 1; i <= 60; ++i)
        servers << QStringLiteral("host%1.test").arg(i);
    ai->Servers().Replace(servers);
    Inside(ai).State.CycleMode = true;
    Ctl<TSpinText>(form, "edt_AIFreq")->setText("1");
    ASSERT_TRUE(Inside(ai).StartSessionStats());
    Inside(ai).State.ServerIndex = 0;
    ai->Stats().CountAttempt();
    Inside(ai).RecordSuccess(250);
    report->FinishReport();

    const QString pdf = dir.file("report.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    ASSERT_TRUE(report->PrintReportTo(&printer));
    EXPECT_TRUE(messages.isEmpty());

    const QList<TWord> words = PdfWords(pdf);
    ASSERT_FALSE(words.isEmpty());
    int pages = 0;
    for (const TWord &w : words)
        pages = std::max(pages, w.Page);
    ASSERT_GE(pages, 2);

    // Page 1: title, page number, the session line, then rows from 1.
    ASSERT_TRUE(Find(words, 1, "Idlix"));
    ASSERT_TRUE(Find(words, 1, "Start:"));
    const QList<int> first = RowNumbers(words, 1);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(first.front(), 1);
    const TWord *row1 = FindRow(words, 1, 1);
    ASSERT_TRUE(row1);
    EXPECT_TRUE(Find(words, 1, "250")); // the average of the probed server

    // Page 2 repeats title, "Page 2", the headings, but not the session line,
    // and the numbers go on from page 1.
    const TWord *title2 = Find(words, 2, "Idlix");
    const TWord *pageNo = Find(words, 2, "2");
    ASSERT_TRUE(title2);
    ASSERT_TRUE(Find(words, 2, "Page"));
    ASSERT_TRUE(pageNo);
    EXPECT_FALSE(Find(words, 2, "Start:"));
    for (const char *h : {"Server", "Successful", "Failed", "Success", "Average", "Response"})
        EXPECT_TRUE(Find(words, 2, h)) << h;
    const QList<int> second = RowNumbers(words, 2);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(second.front(), first.back() + 1);
    EXPECT_EQ(first.size() + second.size() + [&] {
        int rest = 0;
        for (int p = 3; p <= pages; ++p)
            rest += RowNumbers(words, p).size();
        return rest;
    }(), 60);
    const TWord *host2 = FindRow(words, 2, second.front());
    ASSERT_TRUE(host2);

    // Positions: a quarter inch is 18 points. The title sits at the same place
    // on both pages; rows are a quarter inch apart; the first row of page 2
    // stands 2Q (36 pt) higher than page 1's first row, which is where the
    // session line had been.
    const TWord *title1 = Find(words, 1, "Idlix");
    EXPECT_NEAR(title1->Y, title2->Y, 0.5);
    EXPECT_NEAR(row1->Y - host2->Y, 36.0, 1.0);
    const TWord *row2 = FindRow(words, 1, 2);
    ASSERT_TRUE(row2);
    EXPECT_NEAR(row2->Y - row1->Y, 18.0, 0.5);
    // Columns from the printable left: row numbers at D/4, "Server" at D/2,
    // "Average Response" and the averages at 5D + 3Q, "Page" at 28Q.
    const TWord *server = Find(words, 1, "Server");
    const TWord *average = Find(words, 1, "Average");
    const TWord *avg = Find(words, 1, "250");
    ASSERT_TRUE(server && average && avg);
    EXPECT_NEAR(server->X - row1->X, 18.0, 0.5);
    EXPECT_NEAR(average->X - row1->X, 396.0, 0.5);
    EXPECT_NEAR(avg->X, average->X, 0.5);
    EXPECT_NEAR(Find(words, 2, "Page")->X - row1->X, 486.0, 0.5);
    // Page 1 says "Page 1".
    EXPECT_TRUE(Find(words, 1, "1"));
}

TEST_F(PrintedReport, PrinterThatCannotStartIsReported)
{
    TMainForm form;
    antiidletest::AntiIdleParts parts;
    parts.Attach(form);
    [[maybe_unused]] TAntiIdleSession *ai = parts.ai;
    [[maybe_unused]] TServerList *serverList = parts.serverList;
    [[maybe_unused]] TAntiIdleReport *report = parts.report;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.file("no/such/dir/report.pdf"));
    EXPECT_FALSE(report->PrintReportTo(&printer));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_FALSE(QFile::exists(dir.file("no/such/dir/report.pdf")));
}

TEST_F(PrintedReport, PrintLoadsPrintingOnFirstUseAndPrintsTheReport)
{
    auto mapped = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/idlix-print.so");
    };
    TMainForm form;
    antiidletest::AntiIdleParts parts;
    parts.Attach(form);
    parts.report->FinishReport();
    EXPECT_FALSE(mapped()) << "printing is loaded before anybody printed";

    // The user picks a PDF file in the dialog and accepts it.
    const QString pdf = dir.file("first.pdf");
    QString dialogName;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        dialogName = dialog->objectName();
        dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
        dialog->printer()->setOutputFileName(pdf);
        dialog->done(QDialog::Accepted);
    });
    answer.start(20);
    parts.report->PrintReport();

    EXPECT_EQ(dialogName, "PrintDialog1");
    EXPECT_TRUE(mapped());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    const QList<TWord> words = PdfWords(pdf);
    // The designed page: title, headings, page number.
    for (const char *word : {"Idlix", "Server", "Successful", "Average", "Page"})
        EXPECT_TRUE(Find(words, 1, word)) << word;
}
