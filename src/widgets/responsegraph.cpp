#include "widgets/responsegraph.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

namespace {

QImage EmptyPicture(const QLabel *image)
{
    QImage pic(image->size(), QImage::Format_ARGB32_Premultiplied);
    pic.fill(Qt::transparent);
    return pic;
}

} // namespace

TResponseGraph::TResponseGraph(QLabel *background, QLabel *line)
    : background_(background), line_(line)
{
}

void TResponseGraph::ClearResponseHistory()
{
    graph::ClearResponseHistory(ResponseHistory);
}

void TResponseGraph::PushResponse(int ms)
{
    graph::PushResponse(ResponseHistory, ms);
}

void TResponseGraph::DrawGraph(bool lineOnBackground)
{
    QImage pic = EmptyPicture(background_);
    graph::DrawGraphBackground(pic);
    background_->setPixmap(QPixmap::fromImage(pic));
    DrawResponseLine(lineOnBackground ? background_ : line_);
}

void TResponseGraph::DrawResponseLine(QLabel *image)
{
    // The line goes over whatever the picture holds; a cleared picture starts
    // out transparent.
    const QPixmap current = image->pixmap();
    QImage pic = current.isNull() || current.size() != image->size()
        ? EmptyPicture(image)
        : current.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    graph::DrawResponseLine(pic, ResponseHistory);
    image->setPixmap(QPixmap::fromImage(pic));
}
