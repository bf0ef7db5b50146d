// A command button drawn as a picture, with an optional caption label and the
// one-pixel press effect: while the mouse button is down the picture (and its
// caption) sit one pixel right and down.
#pragma once

#include <QLabel>
#include <QList>
#include <QPixmap>

#include <functional>

class QLineEdit;

class TPictureButton : public QLabel {
    Q_OBJECT
public:
    explicit TPictureButton(QWidget *parent = nullptr);

    // The images the button can show (an image list: for a switch 0 = off,
    // 1 = on; for an options arrow 0 = closed, 1 = open).
    void SetImages(const QList<QPixmap> &images);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);

    // A label that moves with the picture; when clickable, pressing it acts
    // as pressing the picture.
    void SetCaptionLabel(QLabel *caption, bool clickable);
    QLabel *CaptionLabel() const { return caption_; }

    // Whether mouse-down moves the picture (on for command buttons).
    bool PressEffect = true;

    // Press effect without the mouse (used by the Enter key of host fields).
    void PressDown();
    void PressUp();
    bool IsPressed() const { return pressed_; }

    // Runs the click: OnClick, then the clicked signal.
    void Click();

    std::function<void()> OnClick;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release(bool inside);

    QList<QPixmap> images_;
    int imageIndex_ = -1;
    QLabel *caption_ = nullptr;
    bool captionClickable_ = false;
    bool pressed_ = false;
};

// Gives `button` the press effect while Enter is held down in `field`:
// key-down of Enter presses it, key-up releases it. The field's own key
// handler decides what Enter does.
void InstallEnterPressEffect(QWidget *field, TPictureButton *button);

// When Enter acts in a host field: as it goes down, or as it comes back up.
enum class TKeyEdge { Down, Up };

// Runs 'action' on the given edge of Enter in 'field' and swallows both of its
// key events, so the field never sees them; a held key's repeats do nothing.
// Install it before the press effect, which is then asked first and still
// sees the key.
void InstallEnterAction(QWidget *field, TKeyEdge edge, std::function<void()> action);
