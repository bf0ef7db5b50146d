// The Find Idle Timer window as a user sees it, for the closing notes and
// for a look after a change: a reflector on loopback, a short UDP
// measurement (silences from 1 s up to --max), and a picture of the window
// taken from the screen (run under Xvfb) once the verdict shows.
//
//   IDLIX_FINDER_FIRST=1 idletimer_window OUT.png [MAX]
#include "config/options.h"
#include "idletimer/reflector.h"
#include "idletimerview/idletimerwindow.h"
#include "platform/resolver.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: idletimer_window OUT.png [MAX]\n");
        return 64;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    config::TOptions options;
    options.Reflector.Key = QStringLiteral("a shared key for the picture");
    idletimer::TReflector reflector(idletimer::KeyBytes(options.Reflector.Key));
    QString error;
    if (!reflector.Listen(platform::IpAddress::V4(platform::InetAddr("127.0.0.1")), 0, &error)) {
        std::fprintf(stderr, "idletimer_window: %s\n", qPrintable(error));
        return 1;
    }
    options.Reflector.Host = QStringLiteral("127.0.0.1:%1").arg(reflector.Port());
    idletimerview::TIdleTimerWindow window(options);
    window.OnUseInterval = [](int) {};
    window.se_IdleMax->setValue(argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 4);
    window.move(20, 20);
    window.show();
    window.OnResult = [&](const idletimer::TIdleResult &) {
        QTimer::singleShot(300, [&] {
            const QPixmap shot = window.screen()->grabWindow(0, window.frameGeometry().x(), window.frameGeometry().y(),
                                                             window.frameGeometry().width(), window.frameGeometry().height());
            QApplication::exit(shot.save(out) ? 0 : 1);
        });
    };
    QTimer::singleShot(200, [&] { window.btn_IdleStart->click(); });
    return QApplication::exec();
}
