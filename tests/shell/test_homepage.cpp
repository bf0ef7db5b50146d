// The Help menu's home pages: handed to the desktop's browser, and a message
// box when there is no browser to take them.
#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "../support/testutil.h"

#include <QAction>
#include <QDesktopServices>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

namespace {

// Stands in for the desktop's browser: Qt hands it every http address.
class Browser : public QObject {
    Q_OBJECT
public:
    QStringList opened;
public slots:
    void open(const QUrl &url) { opened << url.toString(); }
};

} // namespace

TEST(HomePages, OpenInTheBrowserOrSayThereIsNone)
{
    struct Case {
        const char *item;
        const char *url;
        bool browser;
    };
    const Case cases[] = {
        {"BrisvaneHomePage1", "http://www.brisvane.com/", true},
        {"IdlixHomePage1", "http://www.brisvane.com/idlix/", true},
        // The test platform has no browser of its own.
        {"BrisvaneHomePage1", "http://www.brisvane.com/", false},
        {"IdlixHomePage1", "http://www.brisvane.com/idlix/", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.item) + (c.browser ? " with a browser" : " without a browser"));
        testutil::ScratchDir dir;
        QStringList messages;
        platform::SetMessageHook([&](const QString &t) { messages << t; });
        Browser browser;
        if (c.browser)
            QDesktopServices::setUrlHandler("http", &browser, "open");
        {
            auto form = std::make_unique<TMainForm>();
            auto *item = form->findChild<QAction *>(c.item);
            ASSERT_NE(item, nullptr);
            item->trigger();
        }
        QDesktopServices::unsetUrlHandler("http");
        platform::SetMessageHook({});
        if (c.browser) {
            EXPECT_EQ(browser.opened, QStringList{c.url});
            EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        } else {
            EXPECT_EQ(messages, QStringList{QString("No web browser could be started to show ") + c.url});
        }
    }
}

#include "test_homepage.moc"
