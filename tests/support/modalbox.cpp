// readModalBox: the one test helper that needs Qt Widgets, kept apart so the
// tests of the layers without widgets link none.
#include "testutil.h"

#include <QApplication>
#include <QMessageBox>

namespace testutil {

SeenBox readModalBox(const std::function<void()> &open)
{
    SeenBox seen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {true, box->windowTitle(), box->text(), int(box->icon()),
                int(box->buttons().size()), box->textFormat() == Qt::PlainText};
        box->accept();
    });
    closer.start(20);
    open();
    return seen;
}

} // namespace testutil
