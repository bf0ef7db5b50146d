#include "desktop/printdialog.h"

#include "printmodule/printmodule.h"

#include <QCoreApplication>

#include <type_traits>

namespace desktop {

static_assert(std::is_same_v<decltype(&idlix_print_dialog), int (*)(QWidget *, const char *, IdlixPrintPaint, void *)>,
              "the module's entry point and its caller agree");

QStringList TPrintDialog::ModulePaths()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return {dir + QStringLiteral("/idlix-print.so"),
            dir + QStringLiteral("/" IDLIX_PRIVLIB_FROM_BIN "/idlix-print.so")};
}

bool TPrintDialog::Load(QString *error)
{
    if (entry_)
        return true;
    QStringList tried;
    for (const QString &path : paths_) {
        library_.setFileName(path);
        if (library_.load()) {
            entry_ = reinterpret_cast<TEntry>(library_.resolve(IDLIX_PRINT_ENTRY));
            if (entry_)
                return true;
        }
        tried << library_.errorString();
        library_.unload();
    }
    if (error)
        *error = QStringLiteral("Printing is not available: the print module could not be loaded (%1).")
                     .arg(tried.join(QStringLiteral("; ")));
    return false;
}

TPrintAsk TPrintDialog::Run(QWidget *parent, const QString &dialogName,
                            const std::function<void(QPagedPaintDevice *)> &paint, QString *error)
{
    if (!Load(error))
        return TPrintAsk::Unavailable;
    auto call = [](QPagedPaintDevice *printer, void *context) {
        (*static_cast<const std::function<void(QPagedPaintDevice *)> *>(context))(printer);
    };
    const QByteArray name = dialogName.toUtf8();
    auto *context = const_cast<std::function<void(QPagedPaintDevice *)> *>(&paint);
    return entry_(parent, name.constData(), call, context) ? TPrintAsk::Printed : TPrintAsk::Cancelled;
}

} // namespace desktop
