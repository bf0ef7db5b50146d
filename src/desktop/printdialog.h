// The system's print dialog, loaded the first time it is asked for. Qt Print
// Support brings the printing system's client libraries with it (CUPS and
// what CUPS links: TLS, Kerberos, service discovery); a start that prints
// nothing never loads them. The dialog lives in a small module beside the
// program (idlix-print.so), which links Qt Print Support; the program does not.
#pragma once

#include <QLibrary>
#include <QString>

#include <functional>

class QPagedPaintDevice;
class QWidget;

namespace desktop {

enum class TPrintAsk {
    Printed,      // the user chose a printer and the pages were painted on it
    Cancelled,    // the user closed the dialog
    Unavailable,  // the module could not be loaded: the error says why
};

class TPrintDialog {
public:
    // paths: where the module is looked for, in order.
    explicit TPrintDialog(QStringList paths = ModulePaths()) : paths_(std::move(paths)) {}
    // Shows the print dialog (objectName dialogName) over parent, loading the
    // module first if this object has not yet, and when the user accepts it
    // calls paint with the chosen printer. paint's own failures are its
    // caller's to report; *error gets why the module could not be loaded.
    TPrintAsk Run(QWidget *parent, const QString &dialogName,
                  const std::function<void(QPagedPaintDevice *)> &paint, QString *error);
    // True once the module is loaded.
    bool Loaded() const { return entry_ != nullptr; }
    // Where the module is looked for, in order: beside the program (the build
    // folder, a portable copy), then where the package installs it.
    static QStringList ModulePaths();

private:
    bool Load(QString *error);

    // Never unloaded: Qt's print support registers itself with Qt for the
    // rest of the run (QLibrary leaves a library loaded when it is destroyed).
    QStringList paths_;
    QLibrary library_;
    using TEntry = int (*)(QWidget *, const char *, void (*)(QPagedPaintDevice *, void *), void *);
    TEntry entry_ = nullptr;
};

} // namespace desktop
