// Text that must be read whole in a place of fixed size: a full IPv6 address
// in the status line, the report table or the history pane. The font shrinks
// from its designed pixel size, a pixel at a time, down to a floor below
// which text stops being comfortable to read; what still does not fit is
// shown as the place allows and the whole text goes into the tool tip.
#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QWidget;

// The font that shows 'text' on one line within 'width' pixels: 'designed'
// itself when the text fits it, else the largest pixel size down to
// 'floorPixels' that fits, else the floor. 'whole' (when given) tells whether
// the text fits in the font returned.
QFont FitFont(const QFont &designed, const QString &text, int width, int floorPixels,
              bool *whole = nullptr);

// The pixel size under which fitted text is not shrunk further.
constexpr int kFitFloorPixels = 7;

// Keeps a one-line label's text fitted to the room it has. The label keeps
// its place and size; its font follows each text (call Fit after setting
// one). While the text shows whole in the designed font the tool tip is the
// label's own hint; otherwise it is the whole text. A widget laid over the
// label's right end (a gauge) takes that part of the room while it shows.
class TFitLabel : public QObject {
public:
    TFitLabel(QLabel *label, int floorPixels = kFitFloorPixels);

    // A widget that covers part of the label while visible; the fit follows
    // its showing and hiding.
    void SetCover(QWidget *cover);
    // Fits the label's current text.
    void Fit();
    // Pixels of the label the text may use now.
    int Room() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *label_;
    QPointer<QWidget> cover_;
    QFont designed_;
    QString hint_;
    int floor_;
};
