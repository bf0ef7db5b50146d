// The desktop program's metrics: the window's session served in the same
// form as the headless service while [Service] MetricsAddress is set, moved
// or closed when the preferences are saved, a wrong address told.
#include "antiidle/antiidle.h"
#include "antiidle/antiidlefeature.h"
#include "app/idlix.h"
#include "app/metricsendpoint.h"
#include "platform/icmpecho.h"
#include "platform/resolver.h"
#include "service/metricsserver.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "desktop/msgbox.h"
#include "desktop/trayservice.h"
#include "../support/httpclient.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

using testsupport::HttpGet;
using testsupport::RawClient;

namespace {

// A port nobody listens on now.
int FreePort()
{
    service::TMetricsServer probe;
    service::TListenAddress at;
    at.Address = platform::IpAddress::V4(platform::InetAddr("127.0.0.1"));
    EXPECT_TRUE(probe.Listen(at));
    return probe.Address().Port;
}

// Saves the Preferences dialog with this metrics address.
void SaveMetricsAddress(TMainForm &form, const QString &address)
{
    QTimer::singleShot(0, [address] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->findChild<QLineEdit *>("edt_PrefMetrics")->setText(address);
        d->accept();
    });
    form.MenuItem("Preferences1")->trigger();
}

} // namespace

TEST(DesktopMetrics, ServedWhileSetAndMovedWhenThePreferencesAreSaved)
{
    QString hint;
    if (!platform::IcmpAvailable(&hint))
        GTEST_SKIP() << "ICMP echoes are not allowed here: " << hint.toStdString();
    const int first = FreePort(), second = FreePort();
    testutil::ScratchDir dir;
    {
        QFile ini(dir.file("idlix2.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Anti-Idle Options]\r\nMethod=1\r\nHost=127.0.0.1\r\n"
                                 "[Service]\r\nMetricsAddress=127.0.0.1:%1\r\n").arg(first).toLatin1());
    }
    QStringList messages;
    desktop::TTrayService::SetAvailableOverride(1);
    platform::Services().Message = [&](const QString &t) { messages << t; };
    auto hold = std::make_unique<THoldForm>();
    auto idlix = std::make_unique<TIdlix>();
    TMainForm &form = *idlix->Form;

    int status = 0;
    QByteArray text = HttpGet("127.0.0.1", first, "/metrics", &status);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(text.contains("\nidlix_session_running 0\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("idlix_build_info{version=\"2.0\"} 1\n"));
    EXPECT_FALSE(text.contains("idlix_probes_total{"));

    // A session from the window: its opening echo is counted at once.
    idlix->AntiIdle->Session->btn_AntiIdleClick();
    ASSERT_TRUE(idlix->AntiIdle->Session->Running());
    text = HttpGet("127.0.0.1", first, "/metrics");
    EXPECT_TRUE(text.contains("\nidlix_session_running 1\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("idlix_probes_total{target=\"127.0.0.1\",method=\"echo\",outcome=\"ok\"} 1\n"));
    EXPECT_TRUE(text.contains("\nidlix_link_up 1\n"));

    // Saved elsewhere: the old port is closed, the new one has the same figures.
    SaveMetricsAddress(form, QStringLiteral(" 127.0.0.1:%1 ").arg(second));
    EXPECT_FALSE(RawClient("127.0.0.1", first, 1000).Connected());
    text = HttpGet("127.0.0.1", second, "/metrics");
    EXPECT_TRUE(text.contains("outcome=\"ok\"} 1\n")) << text.toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    // Cleared: off.
    SaveMetricsAddress(form, "");
    EXPECT_FALSE(RawClient("127.0.0.1", second, 1000).Connected());

    // An address that is none is told, and nothing listens.
    SaveMetricsAddress(form, "here");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Metrics are not served: metrics address 'here': the port must be a number from 1 to 65535");
    EXPECT_EQ(idlix->Metrics->Server(), nullptr);

    // Back on, then the program ends: the endpoint with it.
    SaveMetricsAddress(form, QStringLiteral("127.0.0.1:%1").arg(first));
    EXPECT_EQ(HttpGet("127.0.0.1", first, "/metrics", &status).isEmpty(), false);
    idlix->AntiIdle->Session->btn_AntiIdleClick();
    text = HttpGet("127.0.0.1", first, "/metrics");
    EXPECT_TRUE(text.contains("\nidlix_session_running 0\n")) << text.toStdString();
    idlix.reset();
    hold.reset();
    EXPECT_FALSE(RawClient("127.0.0.1", first, 1000).Connected());
    platform::Services().Message = {};
    desktop::TTrayService::SetAvailableOverride(-1);
}
