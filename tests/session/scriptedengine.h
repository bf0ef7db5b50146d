// The session engine over scripted transports, a hand-moved clock and a
// recorder of everything it tells: the fixture of the engine's tests.
#pragma once

#include "recorder.h"
#include "scriptedtransport.h"

#include "config/options.h"
#include "../support/testutil.h"

#include <QFile>
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace sessiontest {

constexpr session::TProbeKind Echo = session::TProbeKind::Echo;
constexpr session::TProbeKind Http = session::TProbeKind::HttpGet;
constexpr session::TProbeKind Tcp = session::TProbeKind::Tcp, Https = session::TProbeKind::Https,
                              Dns = session::TProbeKind::Dns, Burst = session::TProbeKind::Burst;

class ScriptedEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        options.AntiIdle.Frequency = QStringLiteral("1");
        options.AntiIdle.Host = QStringLiteral("h.test");
        options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
        engine = std::make_unique<TAntiIdleSession>(options);
        engine->SetTransport(Echo, &echo);
        engine->SetTransport(Http, &http);
        for (auto &[kind, transport] : named)
            engine->SetTransport(kind, transport);
        engine->SetClock(&clock);
        engine->AddObserver(&rec);
    }
    void TearDown() override
    {
        engine->RemoveObserver(&rec);
        engine.reset();
    }
    // The session's list of servers, as the data folder holds it.
    void WriteServers(const QByteArray &text)
    {
        QFile list(dir.file("Servers.dat"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(text);
    }
    // The events from the n-th last "sent" on.
    QStringList EventsFromSent(int nth = 1) const
    {
        int at = int(rec.events.size());
        for (int seen = 0; at > 0 && seen < nth;)
            if (rec.events[--at].startsWith("sent "))
                ++seen;
        return rec.events.mid(at);
    }

    testutil::ScratchDir dir;
    config::TOptions options;
    TScriptedTransport echo, http, tcp, https, dns, burst;
    // The kinds an entry names by URL, and where the test has them go.
    const std::vector<std::pair<session::TProbeKind, TScriptedTransport *>> named{
        {Tcp, &tcp}, {Https, &https}, {Dns, &dns}, {Burst, &burst}};
    TScriptedTransport &Of(session::TProbeKind kind)
    {
        for (auto &[k, transport] : named)
            if (k == kind)
                return *transport;
        return kind == Http ? http : echo;
    }
    TManualClock clock;
    TRecorder rec;
    std::unique_ptr<TAntiIdleSession> engine;
};

} // namespace sessiontest
