#include "printmodule.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QString>

extern "C" __attribute__((visibility("default"))) int
idlix_print_dialog(QWidget *parent, const char *dialogName, IdlixPrintPaint paint, void *context)
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QString::fromUtf8(dialogName));
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    paint(&printer, context);
    return 1;
}
