// The floor for a once-a-second display: a minimal Qt Widgets window whose one
// label shows the time, updated by a QTimer once a second (idle_bench.sh
// measures it beside Idlix).
#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowTitle(QStringLiteral("label-floor"));
    label.setMinimumSize(200, 40);
    auto show = [&label] { label.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))); };
    show();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &label, show);
    tick.start(1000);
    label.show();
    return app.exec();
}
