// One traceroute with hop names through TMSTrace, set up as the window sets
// it up (hop limit 64, test echo, time-out 15 s unless given): prints each
// line, the summary and the wall time from Start to the end.
//
//   trace_once HOST [async|blocking] [TIMEOUT_MS]
#include "net/mstrace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: trace_once HOST [async|blocking] [TIMEOUT_MS]\n");
        return 2;
    }
    TMSTrace trace;
    trace.Resolve = true;
    trace.SendTestPacket = true;
    trace.SetTimeToLive(64);
    trace.SetTimeOut(argc > 3 ? std::atoi(argv[3]) : 15000);
    trace.Mode = argc > 2 && QByteArray(argv[2]) == "blocking" ? wsmBlocking : wsmAsync;
    QElapsedTimer took;
    int rc = 0;
    trace.OnData = [&](QObject *, std::int32_t) {
        std::printf("    %s\n", qPrintable(trace.HopText()));
    };
    trace.OnFinished = [&](QObject *) {
        std::printf("%s\nwall %lld ms\n", qPrintable(trace.SummaryText()),
                    static_cast<long long>(took.elapsed()));
        QCoreApplication::exit(0);
    };
    trace.OnError = [&](QObject *, std::int32_t code, const QString &msg) {
        std::printf("Error %d: %s\n", code, qPrintable(msg));
        rc = 1;
        QCoreApplication::exit(1);
    };
    took.start();
    trace.Start(QString::fromLocal8Bit(argv[1]));
    return trace.Busy() ? app.exec() : rc;
}
