#include "widgets/animate.h"

#include <QPainter>

TAnimate::TAnimate(QWidget *parent) : QWidget(parent)
{
    timer_.setObjectName(QStringLiteral("AnimateTimer"));
    connect(&timer_, &QTimer::timeout, this, &TAnimate::Tick);
}

void TAnimate::Clear()
{
    timer_.stop();
    movie_ = platform::TAviMovie();
    image_ = QImage();
    current_ = -1;
    update();
}

void TAnimate::SetFileName(const QString &path)
{
    fileName_ = path;
    Clear();
    if (path.isEmpty() || !platform::LoadAvi(path, &movie_))
        return;
    ShowFrame(0);
}

void TAnimate::SetActive(bool on)
{
    if (!on) {
        timer_.stop();
        return;
    }
    if (movie_.Frames.isEmpty())
        return;
    ShowFrame(0);
    if (current_ < 0)
        return;
    timer_.start(movie_.FrameIntervalMs());
}

// Decodes one frame on top of the one before (RLE8 delta frames rely on it).
// A frame that does not decode empties the control: a bad clip shows nothing.
void TAnimate::ShowFrame(int index)
{
    const QImage prev = (index == current_ + 1) ? image_ : QImage();
    const QImage img = platform::DecodeAviFrame(movie_, index, prev);
    if (img.isNull()) {
        Clear();
        return;
    }
    image_ = img;
    current_ = index;
    update();
}

void TAnimate::Tick()
{
    const int last = FrameCount() - 1;
    const int stop = (stopFrame_ >= 0 && stopFrame_ < last) ? stopFrame_ : last;
    if (current_ >= stop && stopFrame_ >= 0) {
        timer_.stop();
        if (OnStop)
            OnStop();
        return;
    }
    ShowFrame(current_ >= last ? 0 : current_ + 1);
}

void TAnimate::paintEvent(QPaintEvent *)
{
    if (image_.isNull())
        return;
    QPainter p(this);
    // Centred, as the clip may be smaller than the control.
    p.drawImage((width() - image_.width()) / 2, (height() - image_.height()) / 2, image_);
}
