// The help document (HTML, shipped with the program) in a viewer window of
// the program's own.
#pragma once

#include <QPointer>
#include <QString>

class QWidget;

namespace desktop {

// One help window, made at its first use; the window frees itself when
// closed, and goes with the viewer.
class THelpViewer {
public:
    THelpViewer() = default;
    ~THelpViewer();
    THelpViewer(const THelpViewer &) = delete;
    THelpViewer &operator=(const THelpViewer &) = delete;

    // Shows the document's contents (its start) in the help window, creating
    // the window on first use and raising it afterwards. False when the file
    // is missing or cannot be read; the caller then reports that.
    bool ShowContents(const QString &helpFile);

private:
    QPointer<QWidget> window_;
};

} // namespace desktop
