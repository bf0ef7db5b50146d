#include "widgets/picturebutton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

TPictureButton::TPictureButton(QWidget *parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
}

void TPictureButton::SetImages(const QList<QPixmap> &images)
{
    images_ = images;
    if (imageIndex_ < 0 && !images_.isEmpty())
        imageIndex_ = 0;
    SetImageIndex(imageIndex_);
}

void TPictureButton::SetImageIndex(int index)
{
    imageIndex_ = index;
    // A picture that is not drawn yet (null pixmap) simply leaves the button blank.
    if (index >= 0 && index < images_.size())
        setPixmap(images_.at(index));
    else
        clear();
}

void TPictureButton::SetCaptionLabel(QLabel *caption, bool clickable)
{
    if (caption_)
        caption_->removeEventFilter(this);
    caption_ = caption;
    captionClickable_ = clickable;
    if (caption_ && clickable) {
        caption_->installEventFilter(this);
        caption_->setCursor(Qt::PointingHandCursor);
    }
}

void TPictureButton::PressDown()
{
    if (pressed_)
        return;
    pressed_ = true;
    if (!PressEffect)
        return;
    move(pos() + QPoint(1, 1));
    if (caption_)
        caption_->move(caption_->pos() + QPoint(1, 1));
}

void TPictureButton::PressUp()
{
    if (!pressed_)
        return;
    pressed_ = false;
    if (!PressEffect)
        return;
    move(pos() - QPoint(1, 1));
    if (caption_)
        caption_->move(caption_->pos() - QPoint(1, 1));
}

void TPictureButton::Click()
{
    if (OnClick)
        OnClick();
    emit clicked();
}

void TPictureButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        PressDown();
    event->accept();
}

void TPictureButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    // The picture has moved by the press; test against where it was pressed.
    const QPoint global = event->globalPosition().toPoint();
    bool inside = rect().contains(mapFromGlobal(global)) ||
                  rect().translated(-1, -1).contains(mapFromGlobal(global));
    if (caption_ && captionClickable_)
        inside = inside || caption_->rect().contains(caption_->mapFromGlobal(global)) ||
                 caption_->rect().translated(-1, -1).contains(caption_->mapFromGlobal(global));
    release(inside);
    event->accept();
}

void TPictureButton::release(bool inside)
{
    const bool wasPressed = pressed_;
    PressUp();
    if (wasPressed && inside)
        Click();
}

bool TPictureButton::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == caption_ && captionClickable_) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto *me = static_cast<QMouseEvent *>(event);
            if (me->button() == Qt::LeftButton)
                PressDown();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *me = static_cast<QMouseEvent *>(event);
            if (me->button() == Qt::LeftButton) {
                const QPoint global = me->globalPosition().toPoint();
                const QPoint local = caption_->mapFromGlobal(global);
                bool inside = caption_->rect().contains(local) ||
                              caption_->rect().translated(-1, -1).contains(local) ||
                              rect().contains(mapFromGlobal(global));
                release(inside);
            }
            return true;
        }
    }
    return QLabel::eventFilter(watched, event);
}

namespace {

// Watches a field's Enter key and presses/releases the button with it.
class TEnterPressEffect : public QObject {
public:
    TEnterPressEffect(QWidget *field, TPictureButton *button)
        : QObject(field), button_(button) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto *ke = static_cast<QKeyEvent *>(event);
            const bool enter = ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter;
            if (enter && !ke->isAutoRepeat() && button_) {
                if (event->type() == QEvent::KeyPress)
                    button_->PressDown();
                else
                    button_->PressUp();
            }
        } else if (event->type() == QEvent::FocusOut && button_) {
            // A key-up that lands elsewhere must not leave the button pressed.
            button_->PressUp();
        }
        return false;
    }

private:
    QPointer<TPictureButton> button_;
};

// Runs an action on one edge of Enter and swallows the key.
class TEnterAction : public QObject {
public:
    TEnterAction(QObject *field, TKeyEdge edge, std::function<void()> action)
        : QObject(field), edge_(edge), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        auto *ke = static_cast<QKeyEvent *>(event);
        if (ke->key() != Qt::Key_Return && ke->key() != Qt::Key_Enter)
            return false;
        const TKeyEdge edge = event->type() == QEvent::KeyPress ? TKeyEdge::Down : TKeyEdge::Up;
        if (edge == edge_ && !ke->isAutoRepeat())
            action_();
        return true;
    }

private:
    TKeyEdge edge_;
    std::function<void()> action_;
};

} // namespace

void InstallEnterPressEffect(QWidget *field, TPictureButton *button)
{
    field->installEventFilter(new TEnterPressEffect(field, button));
}

void InstallEnterAction(QWidget *field, TKeyEdge edge, std::function<void()> action)
{
    field->installEventFilter(new TEnterAction(field, edge, std::move(action)));
}
