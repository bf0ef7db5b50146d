// The entry point of idlix-print.so, the module that holds the print dialog.
// Plain C linkage, looked up by name: the program and the module are built
// together, so the Qt types on it are the same on both sides.
#pragma once

class QPagedPaintDevice;
class QWidget;

// Called with the printer the user chose and the caller's context.
typedef void (*IdlixPrintPaint)(QPagedPaintDevice *printer, void *context);

// Shows the print dialog over parent, named dialogName (UTF-8); when the user
// accepts it, paints through paint(printer, context) and returns 1; returns 0
// when the user cancels.
extern "C" int idlix_print_dialog(QWidget *parent, const char *dialogName, IdlixPrintPaint paint,
                                  void *context);

#define IDLIX_PRINT_ENTRY "idlix_print_dialog"
