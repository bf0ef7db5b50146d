// The keep-alive on a metered connection, with python3-dbusmock's
// NetworkManager on a private system bus saying the connection is metered
// (Metered 3, a guessed yes) or not (2), and a real session probing
// loopback: the cost told once, with the figure computed from the options
// and the bytes the probes were measured at; with the pause setting, no
// probe while metered and probes again once it is not.
#include "notify/meteredguard.h"

#include "config/options.h"
#include "platform/icmpecho.h"
#include "bus/meteredwatch.h"
#include "session/antiidlesession.h"
#include "../session/recorder.h"
#include "../support/mockbus.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::MockBus;
using testsupport::Script;
using testsupport::ScriptServer;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class Metered : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString skip = MockBus::SkipReason();
        if (!skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(nm.Start(bus::TMeteredWatch::kNo));
        options.AntiIdle.Frequency = QStringLiteral("1");
        engine = std::make_unique<TAntiIdleSession>(options);
        engine->AddObserver(&rec);
        guard = std::make_unique<TMeteredGuard>(*engine, options);
        guard->OnMessage = [this](const QString &summary, const QString &body) { told << summary + " | " + body; };
        watch.OnChange = [this](bool m) { guard->SetMetered(m); };
        watch.Start();
    }
    void TearDown() override
    {
        guard.reset();
        if (engine)
            engine->RemoveObserver(&rec);
    }

    // NetworkManager announces a new metered state; the guard has heard it.
    void SetMetered(uint state)
    {
        ASSERT_TRUE(nm.SetMetered(state));
        const bool metered = bus::TMeteredWatch::IsMetered(state);
        ASSERT_TRUE(testutil::waitFor([&] { return guard->Metered() == metered; }, 5s));
    }
    int ProbesSent() const { return int(rec.sent.size()); }

    testutil::ScratchDir dir;
    testsupport::MeteredNetworkManager nm;
    config::TOptions options;
    sessiontest::TRecorder rec;
    std::unique_ptr<TAntiIdleSession> engine;
    std::unique_ptr<TMeteredGuard> guard;
    bus::TMeteredWatch watch;
    QStringList told;
};

bool EchoesAllowed()
{
    QString hint;
    return platform::IcmpAvailable(&hint);
}

} // namespace

TEST_F(Metered, TheCostIsToldOnceWithTheMeasuredFigure)
{
    if (!EchoesAllowed())
        GTEST_SKIP() << "ICMP echoes are not allowed here";
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");
    ASSERT_TRUE(engine->Start());
    engine->Tick();
    // Not metered: nothing to tell.
    testutil::pump(200ms);
    EXPECT_TRUE(told.isEmpty());

    SetMetered(3);
    // Each echo measured 84 bytes out and 84 back: 168 bytes, 1440 a day.
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0], "Metered connection | The keep-alive costs about 240 KB a day at one echo a minute "
                       "(about 7.3 MB a month). Options > Preferences... can pause the probes on metered "
                       "connections.");
    // The probes go on: pausing is not asked for.
    EXPECT_FALSE(engine->Paused());
    const int before = ProbesSent();
    engine->Tick();
    EXPECT_EQ(ProbesSent(), before + 1);

    // Told once: not again for the next metered spell, nor for a new session.
    SetMetered(2);
    SetMetered(1);
    engine->Stop();
    ASSERT_TRUE(engine->Start());
    testutil::pump(200ms);
    EXPECT_EQ(told.size(), 1);
    engine->Stop();
}

TEST_F(Metered, AnHttpSessionWaitsForItsFirstMeasuredPage)
{
    ScriptServer web({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(2000, 'x'))});
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1:%1").arg(web.port());
    // Metered before the session starts: nothing runs yet, nothing is told.
    SetMetered(3);
    EXPECT_TRUE(told.isEmpty());
    // A single-host session opens with an echo; the first page comes with
    // the first tick.
    ASSERT_TRUE(engine->Start());
    EXPECT_TRUE(told.isEmpty());
    engine->Tick();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(" a day at one HTTP GET a minute (about ")) << told[0].toStdString();
    engine->Stop();
}

TEST_F(Metered, PausedWhileMeteredAndProbingAgainWhenNot)
{
    ScriptServer web({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup"),
                      Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup")});
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1:%1").arg(web.port());
    options.Notify.PauseOnMetered = true;
    ASSERT_TRUE(engine->Start());
    engine->Tick();
    const int before = ProbesSent();

    SetMetered(3);
    EXPECT_TRUE(engine->Paused());
    for (int i = 0; i < 3; ++i)
        engine->Tick();
    EXPECT_EQ(ProbesSent(), before);
    // Told that the probes are paused (and what they would cost).
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Metered connection | Probes are paused while the connection is metered."))
        << told[0].toStdString();

    SetMetered(2);
    EXPECT_FALSE(engine->Paused());
    engine->Tick();
    EXPECT_EQ(ProbesSent(), before + 1);
    engine->Stop();

    // The history records the pause by its reason.
    EXPECT_TRUE(rec.events.contains("paused paused (metered)"));
    EXPECT_TRUE(rec.events.contains("resumed"));
}

TEST_F(Metered, ThePauseSettingTakesEffectWhenSaved)
{
    ScriptServer web({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup")});
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1:%1").arg(web.port());
    SetMetered(1);
    ASSERT_TRUE(engine->Start());
    EXPECT_FALSE(engine->Paused());
    struct Step {
        bool pause;
        bool paused;
    };
    for (const Step s : {Step{true, true}, Step{true, true}, Step{false, false}, Step{true, true}}) {
        options.Notify.PauseOnMetered = s.pause;
        guard->PreferencesChanged();
        EXPECT_EQ(engine->Paused(), s.paused);
    }
    // Not metered any more: the pause ends although the setting stays on.
    SetMetered(2);
    EXPECT_FALSE(engine->Paused());
    engine->Stop();
}
