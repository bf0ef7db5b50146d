// The response graph of the information column, shared by the anti-idle
// session and the latency test (never both at once). The background picture
// holds the circle and axes and, during a session, the line; the line picture,
// laid over it, holds only the latency test's line. Both are transparent where
// nothing is drawn, so the window's background shows through.
#pragma once

#include "widgets/graphdraw.h"

class QLabel;

class TResponseGraph {
public:
    // background: img_AIGraph; line: img_LatGraph.
    TResponseGraph(QLabel *background, QLabel *line);

    graph::TResponseHistory ResponseHistory{}; // latest times in 40 ms units, newest first

    void ClearResponseHistory();
    void PushResponse(int ms);
    // Background on the background picture, then the line: on the background
    // picture when lineOnBackground, else on the line picture.
    void DrawGraph(bool lineOnBackground);
    // The line over whatever 'image' holds.
    void DrawResponseLine(QLabel *image);

    QLabel *Background() const { return background_; }
    QLabel *Line() const { return line_; }

private:
    QLabel *background_;
    QLabel *line_;
};
