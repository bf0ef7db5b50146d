// The message boxes: message and warning, as shown and through the hook
// that tests use in place of a box.
#include "desktop/msgbox.h"

#include "../support/testutil.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QStringList>
#include <gtest/gtest.h>

TEST(MessageBox, HookReceivesTheTextInsteadOfABox)
{
    QStringList seen;
    platform::SetMessageHook([&](const QString &t) { seen << t; });
    platform::ShowMessage("Help File Not Found!");
    platform::ShowMessage("Unable to write to /x/idlix2.ini");
    platform::ShowWarning("Invalid address!");
    platform::SetMessageHook({});
    EXPECT_EQ(seen, (QStringList{"Help File Not Found!", "Unable to write to /x/idlix2.ini",
                                 "Invalid address!"}));
}

TEST(MessageBox, BoxesShowTheirTextAsCharactersWithOneButton)
{
    QGuiApplication::setApplicationDisplayName("Idlix v2.0");
    const QString text = "Cannot create file <b>x</b>\n<a href=\"y\">z</a>";
    const struct {
        void (*show)(const QString &);
        const char *title;
        QMessageBox::Icon icon;
    } rows[] = {
        {platform::ShowMessage, "Idlix v2.0", QMessageBox::NoIcon},
        {platform::ShowWarning, "Warning", QMessageBox::Warning},
    };
    for (const auto &r : rows) {
        const testutil::SeenBox box = testutil::readModalBox([&] { r.show(text); });
        ASSERT_TRUE(box.shown) << r.title;
        EXPECT_EQ(box.title, r.title);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, int(r.icon));
        EXPECT_EQ(box.buttons, 1);
        EXPECT_TRUE(box.plainText);
    }
}
