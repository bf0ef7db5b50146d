// The session log a window's session writes is the engine's own: the same
// probes give the same bytes in AI_Log.txt whether a window shows the
// session or not, lines from outside the session (a dial-up notice) included.
#include "sessionwindow.h"
#include "session/antiidlesession.h"
#include "widgets/picturebutton.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QFile>
#include <gtest/gtest.h>

using testsupport::Script;
using testsupport::ScriptServer;

namespace {

void WriteServers(const QString &dir, const QStringList &hosts)
{
    QFile f(dir + "/Servers.dat");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write((hosts.join("\r\n") + "\r\n").toLatin1());
}

} // namespace

TEST(SessionLogFile, TheWindowsSessionWritesTheEnginesBytes)
{
    // Probes whose lines do not depend on timing: a web server that answers
    // "404 Not Found" and a port that refuses, visited in a cycle.
    const Script notFound = Script().readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n");
    ScriptServer server({notFound, notFound, notFound, notFound});
    const QString missing = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const QString refused = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
    const QStringList hosts{missing, refused, missing};
    const QString notice = QStringLiteral("The dialer used the entry's own credentials");

    QByteArray engineLog;
    {
        testutil::ScratchDir dir;
        WriteServers(dir.path(), hosts);
        config::TOptions options;
        options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
        TAntiIdleSession engine(options);
        ASSERT_TRUE(engine.Start());
        engine.Tick();
        engine.AddHistoryLine(notice);
        engine.Tick();
        engine.Stop();
        engineLog = testutil::readFile(dir.file("AI_Log.txt"));
    }

    QByteArray windowLog;
    {
        testutil::ScratchDir dir;
        antiidletest::SessionWindow w;
        WriteServers(dir.path(), hosts);
        w.OpenWindow(session::pmHttpGets);
        Ctl<TCheckListBox>(w.form, "cb_AIOptions")->SetChecked(0, true);
        Ctl<TPictureButton>(w.form, "btn_AntiIdle")->Click();
        ASSERT_TRUE(w.view->Running());
        w.ai->Tick();
        w.form->AddHistoryLine(notice);
        w.ai->Tick();
        Ctl<TPictureButton>(w.form, "btn_AntiIdle")->Click();
        EXPECT_TRUE(w.messages.isEmpty()) << w.messages.join('|').toStdString();
        windowLog = testutil::readFile(dir.file("AI_Log.txt"));
        w.CloseWindow();
    }

    const QByteArray want = "\x95 Connecting to " + missing.toLatin1() + "\r\n"
        "\x95 Transfer from " + missing.toLatin1() + " failed. Not Found\r\n"
        "\x95 Connecting to " + refused.toLatin1() + "\r\n"
        "\x95 Transfer from " + refused.toLatin1() + " failed. Connection refused (Error #10061)\r\n"
        "\x95 " + notice.toLatin1() + "\r\n"
        "\x95 Connecting to " + missing.toLatin1() + "\r\n"
        "\x95 Transfer from " + missing.toLatin1() + " failed. Not Found\r\n";
    EXPECT_EQ(engineLog, want);
    EXPECT_EQ(windowLog, engineLog);
}
