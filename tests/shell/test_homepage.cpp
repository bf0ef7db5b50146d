// The Help menu's home pages: handed to the desktop's browser, and a message
// box when there is no browser to take them.
#include "shellwindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QUrl>
#include <gtest/gtest.h>

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
        Browser browser;
        if (c.browser)
            QDesktopServices::setUrlHandler("http", &browser, "open");
        QStringList messages;
        {
            shelltest::Window w;
            w.Get<QAction>(c.item)->trigger();
            messages = w.messages;
        }
        QDesktopServices::unsetUrlHandler("http");
        if (c.browser) {
            EXPECT_EQ(browser.opened, QStringList{c.url});
            EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        } else {
            EXPECT_EQ(messages, QStringList{QString("No web browser could be started to show ") + c.url});
        }
    }
}

#include "test_homepage.moc"
