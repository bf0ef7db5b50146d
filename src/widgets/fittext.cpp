#include "widgets/fittext.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

namespace {

int TextWidth(const QFont &font, const QString &text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

QFont FitFont(const QFont &designed, const QString &text, int width, int floorPixels,
              bool *whole)
{
    QFont font = designed;
    const bool fits = TextWidth(font, text) <= width;
    if (whole)
        *whole = fits;
    if (fits || text.isEmpty())
        return font;
    // A font given in points is measured by its pixel size on this screen.
    const int designedPx = designed.pixelSize() > 0 ? designed.pixelSize()
                                                    : QFontInfo(designed).pixelSize();
    for (int px = designedPx - 1; px >= floorPixels; --px) {
        font.setPixelSize(px);
        if (TextWidth(font, text) <= width) {
            if (whole)
                *whole = true;
            return font;
        }
    }
    font.setPixelSize(std::min(designedPx, floorPixels));
    return font;
}

TFitLabel::TFitLabel(QLabel *label, int floorPixels)
    : QObject(label), label_(label), designed_(label->font()), hint_(label->toolTip()),
      floor_(floorPixels)
{
}

void TFitLabel::SetCover(QWidget *cover)
{
    if (cover_)
        cover_->removeEventFilter(this);
    cover_ = cover;
    if (cover_)
        cover_->installEventFilter(this);
    Fit();
}

int TFitLabel::Room() const
{
    const QMargins around = label_->contentsMargins();
    const int margins = around.left() + around.right() + 2 * label_->margin();
    int right = label_->width();
    if (cover_ && cover_->isVisible() && cover_->parentWidget() == label_->parentWidget()) {
        const QRect covered = cover_->geometry().intersected(label_->geometry());
        if (!covered.isEmpty())
            right = std::min(right, covered.left() - label_->x());
    }
    return std::max(0, right - margins);
}

void TFitLabel::Fit()
{
    const QString text = label_->text();
    bool whole = true;
    const QFont font = FitFont(designed_, text, Room(), floor_, &whole);
    if (label_->font() != font)
        label_->setFont(font);
    const bool asDesigned = whole && font == designed_;
    label_->setToolTip(asDesigned ? hint_ : text);
}

bool TFitLabel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == cover_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        Fit();
    return QObject::eventFilter(watched, event);
}
