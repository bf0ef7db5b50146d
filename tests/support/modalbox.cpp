// The test helpers that need Qt Widgets (readModalBox, showsLiterally), kept
// apart so the tests of the layers without widgets link none.
#include "testutil.h"

#include <QApplication>
#include <QLabel>
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

bool showsLiterally(const QLabel *label)
{
    // The same text in a label like it that is told to show characters.
    QLabel plain;
    plain.setFont(label->font());
    plain.setWordWrap(label->wordWrap());
    plain.setMargin(label->margin());
    plain.setIndent(label->indent());
    plain.setContentsMargins(label->contentsMargins());
    plain.setTextFormat(Qt::PlainText);
    plain.setText(label->text());
    const int width = label->width() > 0 ? label->width() : 200;
    return plain.sizeHint() == label->sizeHint()
           && (!label->wordWrap() || plain.heightForWidth(width) == label->heightForWidth(width));
}

} // namespace testutil
