// Fetches one URL a number of times through THttpCli::Get and prints each
// transfer time in microseconds, one per line (used by http_bench.sh).
//
//   bench_http URL COUNT
#include "net/httpcli.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_http URL COUNT\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    THttpCli cli;
    cli.NoCache = true;
    cli.URL = url;
    qint64 expected = -1;
    for (int i = 0; i < count; ++i) {
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        cli.ReceiveStream = &body;
        QElapsedTimer t;
        t.start();
        try {
            cli.Get();
        } catch (const EHttpException &e) {
            std::fprintf(stderr, "bench_http: %s (%d)\n", e.what(), e.ErrorCode);
            return 1;
        }
        const qint64 us = t.nsecsElapsed() / 1000;
        if (cli.StatusCode() != 200 || (expected >= 0 && body.size() != expected)) {
            std::fprintf(stderr, "bench_http: status %d, %lld bytes\n", cli.StatusCode(),
                         static_cast<long long>(body.size()));
            return 1;
        }
        expected = body.size();
        std::printf("%lld\n", static_cast<long long>(us));
    }
    std::fprintf(stderr, "bench_http: %d x %lld bytes\n", count, static_cast<long long>(expected));
    return 0;
}
