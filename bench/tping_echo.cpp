// Sends N echoes through TPing to one address and prints each round trip in
// ms, one per line ("-" for an echo without reply). Used by ping_bench.sh.
#include "net/ping.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tping_echo ADDRESS COUNT [INTERVAL_MS]\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    const unsigned long interval = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;
    TPing ping;
    ping.SetTimeout(5000);
    bool ok = false;
    ping.OnDnsLookupDone = [&](QObject *, quint16 error) { ok = error == 0; };
    ping.DnsLookup(argv[1]);  // a dotted address completes at once
    if (!ok) {
        std::fprintf(stderr, "tping_echo: %s is not an address\n", argv[1]);
        return 1;
    }
    ping.SetAddress(ping.DnsResult());
    for (int i = 0; i < count; ++i) {
        if (ping.Ping() > 0)
            std::printf("%lld.%03lld\n", ping.ReplyUs() / 1000, ping.ReplyUs() % 1000);
        else
            std::printf("- %s\n", qPrintable(ping.ErrorText()));
        std::fflush(stdout);
        QThread::msleep(interval);
    }
    return 0;
}
