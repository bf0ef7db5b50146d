// Records what a TMSTrace reports, in order, as the window would see it: one
// entry per event with the texts the handlers read at that moment.
#pragma once

#include "net/mstrace.h"
#include "../support/testutil.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <chrono>

struct TraceRecorder {
    explicit TraceRecorder(TMSTrace &t) : trace(t)
    {
        t.OnTest = [this](QObject *s) {
            sender = s;
            events << QStringLiteral("test %1").arg(trace.HopsExpected());
        };
        t.OnData = [this](QObject *s, std::int32_t status) {
            sender = s;
            events << QStringLiteral("data %1 ").arg(status) + Masked(trace.HopText());
            hopTtls << trace.ProbeOptions.Ttl;
            busyInEvents = busyInEvents && trace.Busy();
        };
        t.OnFinished = [this](QObject *s) {
            sender = s;
            events << QStringLiteral("finished ") + trace.SummaryText();
            ++ends;
        };
        t.OnError = [this](QObject *s, std::int32_t code, const QString &msg) {
            sender = s;
            events << QStringLiteral("error %1 %2").arg(code).arg(msg);
            ++ends;
        };
    }

    // Starts a run and waits until it ended (OnFinished or OnError and the
    // component idle again).
    bool Run(const QString &host, std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        events.clear();
        hopTtls.clear();
        ends = 0;
        trace.Start(host);
        return Wait(limit);
    }
    bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        return testutil::waitFor([this] { return ends > 0 && !trace.Busy(); }, limit);
    }

    // A hop line with its round trip replaced by "RTT", so runs compare.
    static QString Masked(const QString &line)
    {
        QStringList f = line.split(QLatin1Char('\t'));
        static const QRegularExpression digits(QStringLiteral("^\\d+$"));
        if (f.size() >= 3 && digits.match(f[1]).hasMatch())
            f[1] = QStringLiteral("RTT");
        return f.join(QLatin1Char('\t'));
    }

    TMSTrace &trace;
    QStringList events;
    QList<int> hopTtls;
    int ends = 0;
    QObject *sender = nullptr;
    bool busyInEvents = true;
};

// A trace that names its hops, in the given mode, with its recorder.
struct RecordedTrace {
    explicit RecordedTrace(TWSMode mode)
    {
        trace.Resolve = true;
        trace.Mode = mode;
    }
    TMSTrace trace;
    TraceRecorder rec{trace};
};

inline const char *ModeName(TWSMode m) { return m == wsmAsync ? "async" : "blocking"; }
