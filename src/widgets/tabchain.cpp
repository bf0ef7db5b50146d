#include "widgets/tabchain.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QWidget>

namespace {

// A widget Tab may give the focus to: shown, enabled, taking focus by Tab,
// not standing in for another (a spin box's text field), and not wholly
// covered by an opaque sibling of it or of one of its parents.
bool Reachable(QWidget *w, QWidget *window)
{
    return w->window() == window && w->isVisible() && w->isEnabled()
           && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy()
           && !w->visibleRegion().isEmpty();
}

// A text field that inserts Tab rather than moving on.
bool TakesTab(QWidget *w)
{
    if (auto *e = qobject_cast<QTextEdit *>(w))
        return !e->isReadOnly() && !e->tabChangesFocus();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return !e->isReadOnly() && !e->tabChangesFocus();
    return false;
}

class TVisibleTabChain : public QObject {
public:
    explicit TVisibleTabChain(QWidget *window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !window_)
            return false;
        auto *ke = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = ke->modifiers() & ~Qt::KeypadModifier;
        bool forward;
        if (ke->key() == Qt::Key_Tab && mods == Qt::NoModifier)
            forward = true;
        else if (ke->key() == Qt::Key_Backtab
                 || (ke->key() == Qt::Key_Tab && mods == Qt::ShiftModifier))
            forward = false;
        else
            return false;
        // The key reaches the focused widget first, then its parents: act once.
        auto *focus = qobject_cast<QWidget *>(watched);
        if (!focus || focus != QApplication::focusWidget() || focus->window() != window_
            || TakesTab(focus))
            return false;
        // The chain is a ring; it ends where it started.
        for (QWidget *w = Step(focus, forward); w && w != focus; w = Step(w, forward)) {
            if (Reachable(w, window_)) {
                w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                break;
            }
        }
        return true;
    }

private:
    static QWidget *Step(QWidget *w, bool forward)
    {
        return forward ? w->nextInFocusChain() : w->previousInFocusChain();
    }

    QPointer<QWidget> window_;
};

} // namespace

void InstallVisibleTabChain(QWidget *window)
{
    qApp->installEventFilter(new TVisibleTabChain(window));
}
