// The print dialog's module: found where it is looked for, or a clear reason
// when it is not; the dialog cancelled paints nothing, accepted paints once
// on the printer the user chose.
#include "desktop/printdialog.h"

#include "../support/testutil.h"

#include <QApplication>
#include <QFile>
#include <QPrintDialog>
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

// Accepting prints through the same module: the report's Print test carries
// that one to a PDF. Here, what a user who changes their mind sees: nothing.
TEST(PrintDialog, LoadedOnFirstUseAndCancelledPaintsNothing)
{
    testutil::ScratchDir dir;
    // The module is found after a place where it is not, and only when asked.
    TPrintDialog print({dir.file("none/idlix-print.so"), QStringLiteral(IDLIX_PRINT_MODULE)});
    EXPECT_FALSE(print.Loaded());
    EXPECT_FALSE(ModuleMapped());

    QString seenName;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        seenName = dialog->objectName();
        dialog->done(QDialog::Rejected);
    });
    answer.start(20);
    int painted = 0;
    QString error;
    EXPECT_EQ(print.Run(nullptr, "PrintDialog1", [&](QPagedPaintDevice *) { ++painted; }, &error),
              TPrintAsk::Cancelled)
        << error.toStdString();
    EXPECT_EQ(painted, 0);
    EXPECT_EQ(seenName, "PrintDialog1");
    EXPECT_TRUE(print.Loaded());
    EXPECT_TRUE(ModuleMapped());
}
