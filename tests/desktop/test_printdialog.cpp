// The print dialog's module: found where it is looked for, or a clear reason
// when it is not; the dialog cancelled paints nothing, accepted paints once
// on the printer the user chose.
#include "desktop/printdialog.h"

#include "../support/testutil.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <gtest/gtest.h>

using desktop::TPrintAsk;
using desktop::TPrintDialog;

namespace {

// Whether this process has the module mapped.
bool ModuleMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/idlix-print.so");
}

// Answers the print dialog once it shows: cancels it, or points its printer
// at a PDF file and accepts.
struct TDialogAnswer {
    QString pdf;  // empty: cancel
    QString seenName;

    void Arm()
    {
        auto *timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [this, timer] {
            auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seenName = dialog->objectName();
            if (pdf.isEmpty()) {
                dialog->done(QDialog::Rejected);
            } else {
                dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
                dialog->printer()->setOutputFileName(pdf);
                dialog->done(QDialog::Accepted);
            }
            timer->deleteLater();
        });
        timer->start(20);
    }
};

} // namespace

TEST(PrintDialog, WithoutItsModuleSaysWhyAndPaintsNothing)
{
    testutil::ScratchDir dir;
    QFile notAModule(dir.file("idlix-print.so"));
    ASSERT_TRUE(notAModule.open(QIODevice::WriteOnly));
    notAModule.write("not a shared object\n");
    notAModule.close();
    const struct {
        const char *what;
        QStringList paths;
    } cases[] = {
        {"nowhere", {dir.file("none/idlix-print.so")}},
        {"a file that is no module", {dir.file("idlix-print.so")}},
        {"a library without the entry point", {QStringLiteral(IDLIX_NOT_PRINT_MODULE)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TPrintDialog print(c.paths);
        int painted = 0;
        QString error;
        EXPECT_EQ(print.Run(nullptr, "PrintDialog1", [&](QPagedPaintDevice *) { ++painted; }, &error),
                  TPrintAsk::Unavailable);
        EXPECT_FALSE(print.Loaded());
        EXPECT_EQ(painted, 0);
        EXPECT_TRUE(error.startsWith("Printing is not available: the print module could not be loaded"))
            << error.toStdString();
    }
}

TEST(PrintDialog, LoadedOnFirstUseThenCancelledOrPrinted)
{
    testutil::ScratchDir dir;
    ASSERT_FALSE(ModuleMapped());
    // The module is found after a place where it is not.
    TPrintDialog print({dir.file("none/idlix-print.so"), QStringLiteral(IDLIX_PRINT_MODULE)});
    EXPECT_FALSE(print.Loaded());
    EXPECT_FALSE(ModuleMapped());

    const struct {
        const char *what;
        bool accept;
        TPrintAsk asked;
        int painted;
    } cases[] = {
        {"cancelled", false, TPrintAsk::Cancelled, 0},
        {"printed", true, TPrintAsk::Printed, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TDialogAnswer answer;
        answer.pdf = c.accept ? dir.file(QStringLiteral("%1.pdf").arg(c.what)) : QString();
        answer.Arm();
        int painted = 0;
        QString error;
        const TPrintAsk asked = print.Run(nullptr, "PrintDialog1",
                                          [&](QPagedPaintDevice *printer) {
                                              ++painted;
                                              QPainter painter(printer);
                                              painter.drawText(100, 100, QStringLiteral("printed page"));
                                          },
                                          &error);
        EXPECT_EQ(asked, c.asked) << error.toStdString();
        EXPECT_EQ(painted, c.painted);
        EXPECT_EQ(answer.seenName, "PrintDialog1");
        EXPECT_TRUE(print.Loaded());
        EXPECT_TRUE(ModuleMapped());
        if (c.accept) {
            QFile pdf(answer.pdf);
            ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
            EXPECT_TRUE(pdf.read(5) == "%PDF-");
        }
    }
}
