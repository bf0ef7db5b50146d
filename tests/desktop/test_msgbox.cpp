// The message-box hook that tests use in place of a box.
#include "desktop/msgbox.h"

#include <QStringList>
#include <gtest/gtest.h>

TEST(MessageBox, HookReceivesTheTextInsteadOfABox)
{
    QStringList seen;
    platform::SetMessageHook([&](const QString &t) { seen << t; });
    platform::ShowMessage("Help File Not Found!");
    platform::ShowMessage("Unable to write to /x/idlix2.ini");
    platform::SetMessageHook({});
    EXPECT_EQ(seen, (QStringList{"Help File Not Found!", "Unable to write to /x/idlix2.ini"}));
}
