// Program directory lookup.
#include "platform/appdir.h"

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
