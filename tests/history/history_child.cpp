// A program that runs an anti-idle session with the history kept, for the
// tests that kill it: HTTP probes over the server list of the data folder
// (IDLIX_DIR), one every tick of the given milliseconds, until killed.
//
//   history_child TICK_MS
#include "config/options.h"
#include "history/historykeeper.h"
#include "session/antiidlesession.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int tickMs = argc > 1 ? std::atoi(argv[1]) : 50;
    config::TOptions options;
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    TAntiIdleSession engine(options);
    history::THistoryKeeper keeper(engine, options);
    if (!keeper.Store().IsOpen())
        return 1;
    if (!engine.Start())
        return 2;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &engine, &TAntiIdleSession::Tick);
    tick.start(tickMs);
    std::puts("running");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
