// Program directory lookup and the message-box hook.
#include "platform/appdir.h"
#include "platform/msgbox.h"

#include "../support/testutil.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

TEST(AppDir, FollowsIdlixDirOrTheExecutable)
{
    {
        testutil::ScratchDir scratch;
        EXPECT_EQ(platform::ProgramDir(), scratch.path());
        EXPECT_EQ(platform::ProgramFile("idlix2.ini"), scratch.path() + "/idlix2.ini");
        qputenv("IDLIX_DIR", (scratch.path() + "//").toLocal8Bit());
        EXPECT_EQ(platform::ProgramFile("Servers.dat"), scratch.path() + "/Servers.dat");
    }
    const bool had = qEnvironmentVariableIsSet("IDLIX_DIR");
    const QByteArray old = qgetenv("IDLIX_DIR");
    qputenv("IDLIX_DIR", "");
    EXPECT_EQ(platform::ProgramDir(), QCoreApplication::applicationDirPath());
    qunsetenv("IDLIX_DIR");
    EXPECT_EQ(platform::ProgramFile("Help.html"), QCoreApplication::applicationDirPath() + "/Help.html");
    if (had)
        qputenv("IDLIX_DIR", old);
}

TEST(MessageBox, HookReceivesTheTextInsteadOfABox)
{
    QStringList seen;
    platform::SetMessageHook([&](const QString &t) { seen << t; });
    platform::ShowMessage("Help File Not Found!");
    platform::ShowMessage("Unable to write to /x/idlix2.ini");
    platform::SetMessageHook({});
    EXPECT_EQ(seen, (QStringList{"Help File Not Found!", "Unable to write to /x/idlix2.ini"}));
}
