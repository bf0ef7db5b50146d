#include "widgets/animate.h"

#include <QFileInfo>
#include <QPainter>

TAnimate::TAnimate(QWidget *parent) : QWidget(parent)
{
    timer_.setObjectName(QStringLiteral("AnimateTimer"));
    connect(&timer_, &QTimer::timeout, this, &TAnimate::Tick);
}

void TAnimate::Clear()
{
    timer_.stop();
    movie_ = desktop::TAviMovie();
    image_ = QImage();
    current_ = -1;
    update();
}

namespace {

// "bvspin.avi" -> "bvspin@2x.avi", the clip drawn at twice the size.
QString DoubleClip(const QString &path)
{
    const qsizetype dot = path.lastIndexOf('.');
    return dot < 0 ? QString() : path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

} // namespace

void TAnimate::SetFileName(const QString &path)
{
    fileName_ = path;
    Clear();
    if (path.isEmpty())
        return;
    // A window drawn larger than 100 % plays the double-size clip beside the
    // named one, when there is one, rather than the small one enlarged.
    ratio_ = 1;
    if (devicePixelRatioF() > 1 && QFileInfo::exists(DoubleClip(path))
        && desktop::LoadAvi(DoubleClip(path), &movie_))
        ratio_ = 2;
    else if (!desktop::LoadAvi(path, &movie_))
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
    const QImage img = desktop::DecodeAviFrame(movie_, index, prev);
    if (img.isNull()) {
        Clear();
        return;
    }
    image_ = img;
    image_.setDevicePixelRatio(ratio_);
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
    const QSize size = image_.deviceIndependentSize().toSize();
    p.drawImage((width() - size.width()) / 2, (height() - size.height()) / 2, image_);
}
