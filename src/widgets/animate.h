// TAnimate: plays a silent AVI clip (the spinning logo) frame by frame.
#pragma once

#include "desktop/avimovie.h"

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>

class TAnimate : public QWidget {
    Q_OBJECT
public:
    explicit TAnimate(QWidget *parent = nullptr);

    // Opens a clip and shows its first frame; a missing or bad file leaves the
    // control empty (nothing drawn, the parent shows through) and not playing.
    // In a window drawn larger than 100 % the clip's double-size drawing
    // ("name@2x.avi" beside it) plays instead when it is there.
    void SetFileName(const QString &path);
    QString FileName() const { return fileName_; }

    // Starts (from frame 0) or stops playback. Playing a control with no clip does nothing.
    void SetActive(bool on);
    bool Active() const { return timer_.isActive(); }
    void Play() { SetActive(true); }
    void Stop() { SetActive(false); }

    // Last frame to show: playback halts once it has been displayed. -1 loops forever.
    void SetStopFrame(int frame) { stopFrame_ = frame; }
    int StopFrame() const { return stopFrame_; }

    // Number of frames of the open clip (0 when none).
    int FrameCount() const { return int(movie_.Frames.size()); }
    // Index of the frame on display (-1 when none).
    int CurrentFrame() const { return current_; }
    // The picture on display (null when none).
    QImage CurrentImage() const { return image_; }
    // Fired when playback stops by itself at the stop frame.
    std::function<void()> OnStop;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    void ShowFrame(int index);
    void Tick();
    void Clear();

    QString fileName_;
    desktop::TAviMovie movie_;
    QImage image_;
    qreal ratio_ = 1;   // the clip's pixels per window pixel
    int current_ = -1;
    int stopFrame_ = -1;
    QTimer timer_;
};
