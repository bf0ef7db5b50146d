// The message boxes: message and warning, as shown and through the hook
// that tests use in place of a box.
#include "desktop/msgbox.h"
#include "platform/services.h"

#include "../support/testutil.h"

#include <QGuiApplication>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <gtest/gtest.h>

TEST(MessageBox, HookReceivesTheTextInsteadOfABox)
{
    QStringList seen;
    platform::Services().Message = [&](const QString &t) { seen << t; };
    desktop::ShowMessage("Help File Not Found!");
    desktop::ShowMessage("Unable to write to /x/idlix2.ini");
    desktop::ShowWarning("Invalid address!");
    platform::Services().Message = {};
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
        {desktop::ShowMessage, "Idlix v2.0", QMessageBox::NoIcon},
        {desktop::ShowWarning, "Warning", QMessageBox::Warning},
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

TEST(MessageBox, ANoticeDoesNotWaitAndShowsCharacters)
{
    QGuiApplication::setApplicationDisplayName("Idlix v2.0");
    const QString text = "/data/Servers.dat: 1 line <b>longer</b> than a host name can be";
    // The call returns at once: nothing waits for the box to be answered.
    desktop::ShowNotice(text);
    QMessageBox *box = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "NoticeBox" && w->isVisible())
            box = qobject_cast<QMessageBox *>(w);
    }
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowTitle(), "Idlix v2.0");
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    // Its OK button closes and frees it.
    QPointer<QMessageBox> alive(box);
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(testutil::waitFor([&] { return alive.isNull(); }, std::chrono::milliseconds(2000)));

    QStringList seen;
    platform::Services().Message = [&](const QString &t) { seen << t; };
    desktop::ShowNotice(text);
    platform::Services().Message = {};
    EXPECT_EQ(seen, QStringList{text});
}
