// The response graphs of the information column. img_AIGraph holds the
// background and, during an anti-idle session, the line; during the latency
// test img_LatGraph, laid over it, holds only the line. Both pictures are
// transparent where nothing is drawn, so the window's background shows.
#include "app/mainform.h"

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

void TMainForm::ClearResponseHistory()
{
    antiidle::ClearResponseHistory(ResponseHistory);
}

void TMainForm::PushResponse(int ms)
{
    antiidle::PushResponse(ResponseHistory, ms);
}

void TMainForm::DrawGraph()
{
    QImage pic = EmptyPicture(img_AIGraph);
    antiidle::DrawGraphBackground(pic);
    img_AIGraph->setPixmap(QPixmap::fromImage(pic));
    DrawResponseLine(!img_AIGreen->isHidden() ? img_AIGraph : img_LatGraph);
}

void TMainForm::DrawResponseLine(QLabel *image)
{
    // The line goes over whatever the picture holds; a cleared picture starts
    // out transparent.
    const QPixmap current = image->pixmap();
    QImage pic = current.isNull() || current.size() != image->size()
        ? EmptyPicture(image)
        : current.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    antiidle::DrawResponseLine(pic, ResponseHistory);
    image->setPixmap(QPixmap::fromImage(pic));
}
