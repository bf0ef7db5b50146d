// Sends the anti-idle session's HTTP GET probe, as a tick sends it, from the
// program's own window (every feature built, the window shown), COUNT times
// to HOST, and prints for each probe one line:
//   HttpElapsed  wall-ms  cpu-ms  gui-ms  timer-ms  timer-wakes
// wall-ms is the probe on the monotonic clock, cpu-ms the CPU time of the
// whole process meanwhile (all threads), gui-ms and timer-ms that of the GUI
// thread and of the timer threads, timer-wakes the times the timer threads
// woke (voluntary context switches). Used by probe_bench.sh. With
// PROBE_ONCE_SHOT set, the window is saved to that PNG file at the end.
//
//   probe_once HOST[:PORT] [COUNT]
#include "antiidle/antiidle.h"
#include "session/probechoice.h"
#include "antiidle/antiidlefeature.h"
#include "app/idlix.h"
#include "platform/monoclock.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "../tests/support/ctl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWindow>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuMs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6
            + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec)) / 1e3;
}

// What the threads of this process used so far: CPU time in ms of the GUI
// thread and of the timer threads (from schedstat, to the nanosecond), and
// the times the timer threads woke (voluntary context switches).
struct TThreadUse {
    double guiMs = 0, timerMs = 0;
    long timerWakes = 0;
};

TThreadUse threadUse()
{
    TThreadUse use;
    const QString self = QString::number(getpid());
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm")), sched(tasks.filePath(tid + "/schedstat"));
        if (!comm.open(QIODevice::ReadOnly) || !sched.open(QIODevice::ReadOnly))
            continue;
        const bool timer = comm.readAll().trimmed() == "TTimerThread";
        const double ms = sched.readAll().split(' ').value(0).toDouble() / 1e6;
        if (tid == self)
            use.guiMs += ms;
        if (!timer)
            continue;
        use.timerMs += ms;
        QFile status(tasks.filePath(tid + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                use.timerWakes += line.mid(24).trimmed().toLong();
    }
    return use;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    qputenv("IDLIX_DIR", dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe_once HOST[:PORT] [COUNT]\n");
        return 2;
    }
    const QString host = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 1;

    TIdlix idlix;
    TAntiIdle *ai = idlix.AntiIdle->Session;
    TMainForm &form = *idlix.Form;
    // On a real display the probes start once the window is on the screen,
    // so its repaints during the transfer are the ones a user would see.
    QElapsedTimer shown;
    shown.start();
    QTimer wake;   // so the wait below looks again at least every 50 ms
    wake.start(50);
    while (form.windowHandle() && !form.windowHandle()->isExposed() && shown.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wake.stop();
    Ctl<TSpinText>(form, "edt_AIFreq")->setText(QStringLiteral("1"));
    Ctl<QLineEdit>(form, "edt_AIHost")->setText(host);
    Ctl<TRadioGroup>(form, "rg_AIMethod")->SetItemIndex(session::pmHttpGets);
    ai->CycleMode = false;
    if (!ai->StartSessionStats()) {
        std::fprintf(stderr, "probe_once: the session could not start\n");
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const int good = ai->SuccessCount;
        ai->CurrentHost = host;
        ai->FailureCounted = false;
        const TThreadUse u0 = threadUse();
        const double c0 = cpuMs();
        const std::int64_t t0 = platform::MonoNowNs();
        ai->SendProbe();
        const std::int64_t t1 = platform::MonoNowNs();
        const double c1 = cpuMs();
        const TThreadUse u1 = threadUse();
        if (ai->SuccessCount != good + 1) {
            std::fprintf(stderr, "probe_once: the probe failed\n");
            return 1;
        }
        std::printf("%d %.3f %.3f %.3f %.3f %ld\n", ai->HttpElapsed, double(t1 - t0) / 1e6,
                    c1 - c0, u1.guiMs - u0.guiMs, u1.timerMs - u0.timerMs,
                    u1.timerWakes - u0.timerWakes);
        std::fflush(stdout);
    }
    // PROBE_ONCE_SHOT=file.png: a picture of the window after the probes.
    const QString shot = qEnvironmentVariable("PROBE_ONCE_SHOT");
    if (!shot.isEmpty() && !form.grab().save(shot))
        std::fprintf(stderr, "probe_once: cannot write %s\n", qPrintable(shot));
    return 0;
}
