// Fetches one URL again and again through THttpCli::Get for a number of
// seconds and prints the resident memory once a second, then the peak and the
// outcome of the requests (used by http_flood.sh against a server that never
// ends its reply header).
//
//   bench_httpflood URL SECONDS
#include "net/httpcli.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTimer>
#include <cstdio>

namespace {
long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_httpflood URL SECONDS\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const qint64 spanMs = std::atoi(argv[2]) * 1000LL;
    THttpCli cli;
    cli.URL = url;
    QMap<QString, int> outcomes;
    long peak = 0;
    qint64 nextReport = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < spanMs) {
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        cli.ReceiveStream = &body;
        // A client that never gave up on the header would be stopped here.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &cli, [&cli] { cli.Abort(); });
        watchdog.start(static_cast<int>(std::max<qint64>(1, spanMs - t.elapsed())));
        try {
            cli.Get();
            ++outcomes[QStringLiteral("success")];
        } catch (const EHttpException &e) {
            ++outcomes[e.Message()];
        }
        peak = std::max(peak, residentKiB());
        if (t.elapsed() >= nextReport) {
            std::printf("%5.1f s  %ld KiB\n", t.elapsed() / 1000.0, residentKiB());
            std::fflush(stdout);
            nextReport += 1000;
        }
    }
    std::printf("peak %ld KiB\n", peak);
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        std::printf("%6d x %s\n", it.value(), qPrintable(it.key()));
    return 0;
}
