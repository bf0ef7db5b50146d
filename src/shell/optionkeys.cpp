#include "shell/optionkeys.h"

#include "widgets/picturebutton.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace {

class TOptionPanelKeys : public QObject {
public:
    TOptionPanelKeys(QWidget *window, const QList<QWidget *> &panels, TPictureButton *yes,
                     TPictureButton *no)
        : QObject(window), window_(window), yes_(yes), no_(no)
    {
        for (QWidget *p : panels)
            panels_ << p;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !window_ || !yes_ || !no_)
            return false;
        auto *ke = static_cast<QKeyEvent *>(event);
        if ((ke->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || ke->isAutoRepeat())
            return false;
        TPictureButton *answer = nullptr;
        switch (ke->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            answer = yes_;
            break;
        case Qt::Key_Escape:
            answer = no_;
            break;
        default:
            return false;
        }
        // Only the focused control's key (it travels on to the parents), only
        // in this window (a drop-down's pop-up is a window of its own), and
        // only while the question is asked.
        auto *focus = qobject_cast<QWidget *>(watched);
        if (!focus || focus != QApplication::focusWidget() || focus->window() != window_
            || answer->isHidden() || !InOpenPanel(focus))
            return false;
        answer->Click();
        return true;
    }

private:
    bool InOpenPanel(QWidget *w) const
    {
        for (const QPointer<QWidget> &p : panels_) {
            if (p && p->isVisible() && p->isAncestorOf(w))
                return true;
        }
        return false;
    }

    QPointer<QWidget> window_;
    QList<QPointer<QWidget>> panels_;
    QPointer<TPictureButton> yes_, no_;
};

} // namespace

void InstallOptionPanelKeys(QWidget *window, const QList<QWidget *> &panels, TPictureButton *yes,
                            TPictureButton *no)
{
    qApp->installEventFilter(new TOptionPanelKeys(window, panels, yes, no));
}
