#include "shell/mainform_shortcuts.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QWidget>

namespace {

// A field the user types into: there Ctrl+A selects all, as in every other
// program on the desktop. A read-only pane is no such field.
bool EditableText(const QObject *w)
{
    if (const auto *e = qobject_cast<const QLineEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QTextEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QPlainTextEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QAbstractSpinBox *>(w))
        return !e->isReadOnly();
    return false;
}

class TToolKeyRouter : public QObject {
public:
    explicit TToolKeyRouter(QWidget *window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Before a key becomes a shortcut, the focused widget is asked whether
        // it wants the key itself (ShortcutOverride); a text field says yes to
        // Ctrl+A. Withholding the question from it leaves the key to the menu.
        if (event->type() != QEvent::ShortcutOverride || !window_)
            return false;
        auto *ke = static_cast<QKeyEvent *>(event);
        if ((ke->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
            return false;
        switch (ke->key()) {
        case Qt::Key_A:
            // Selecting all in a host field must not start a session (which
            // would empty the last session's log).
            if (EditableText(watched))
                return false;
            break;
        case Qt::Key_F: case Qt::Key_L: case Qt::Key_P:
        case Qt::Key_T: case Qt::Key_I: case Qt::Key_R:
        case Qt::Key_Delete:   // Edit > Delete clears the whole field, not one word
            break;
        default:
            return false;
        }
        auto *w = qobject_cast<QWidget *>(watched);
        return w && w->window() == window_;
    }

private:
    QPointer<QWidget> window_;
};

} // namespace

void InstallToolKeyRouter(QWidget *window)
{
    qApp->installEventFilter(new TToolKeyRouter(window));
}
