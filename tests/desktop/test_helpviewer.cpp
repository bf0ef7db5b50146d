// The help viewer and the web-page opener's refusals.
#include "desktop/helpviewer.h"
#include "desktop/webpage.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>
#include "testpaths.h"

namespace {
QWidget *helpWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "HelpViewer")
            return w;
    return nullptr;
}
} // namespace

TEST(HelpViewer, MissingOrEmptyFileIsReported)
{
    desktop::THelpViewer help;
    QTemporaryDir dir;
    EXPECT_FALSE(help.ShowContents(dir.filePath("Help.html")));
    EXPECT_FALSE(help.ShowContents(dir.path()));  // a directory is no document
    QFile empty(dir.filePath("empty.html"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(help.ShowContents(empty.fileName()));
    QWidget *w = helpWindow();
    EXPECT_TRUE(w == nullptr || !w->isVisible());
}

TEST(HelpViewer, ShowsTheDocumentAndReusesItsWindow)
{
    desktop::THelpViewer help;
    QTemporaryDir dir;
    QFile f(dir.filePath("Help.html"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><head><title>Test Help</title></head><body><h1>Contents</h1>"
            "<p>Anti-idle keeps the line up.</p></body></html>");
    f.close();
    ASSERT_TRUE(help.ShowContents(f.fileName()));
    QWidget *w = helpWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Test Help");
    auto *browser = w->findChild<QTextBrowser *>("HelpBrowser");
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains("Anti-idle keeps the line up."));

    ASSERT_TRUE(help.ShowContents(f.fileName()));
    EXPECT_EQ(helpWindow(), w);
    w->close();  // frees itself
}

TEST(HelpViewer, ItsWindowGoesWithIt)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("Help.html"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><body><p>Contents</p></body></html>");
    f.close();
    QPointer<QWidget> w;
    {
        desktop::THelpViewer help;
        ASSERT_TRUE(help.ShowContents(f.fileName()));
        w = helpWindow();
        ASSERT_FALSE(w.isNull());
    }
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(helpWindow(), nullptr);
}

// The help document that ships with the program opens and covers every part
// of the program; its table of contents points at sections that exist.
TEST(HelpViewer, ShippedDocumentOpens)
{
    desktop::THelpViewer help;
    const QString file = QString(IDLIX_SOURCE_DIR) + "/res/data/Help.html";
    ASSERT_TRUE(help.ShowContents(file));
    QWidget *w = helpWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Idlix v2.0 Help");
    auto *browser = w->findChild<QTextBrowser *>("HelpBrowser");
    ASSERT_NE(browser, nullptr);
    const QString text = browser->toPlainText();
    for (const char *topic : {"Anti-Idle", "Latency test", "Ping", "Traceroute", "Finger",
                              "Resolve IP/Host", "ISP Tree", "Dial-up", "idlix2.ini",
                              "Servers.dat", "AI_Log.txt", "Finding the idle timer"})
        EXPECT_TRUE(text.contains(topic)) << topic;
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(f.readAll());
    static const QRegularExpression link("href=\"#([a-z]+)\"");
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString anchor = it.next().captured(1);
        EXPECT_TRUE(html.contains("name=\"" + anchor + "\"")) << anchor.toStdString();
    }
    w->close();
}

// Nothing but web addresses is handed to the desktop; none of these may
// start anything.
TEST(WebPage, RefusesWhatIsNotAWebAddress)
{
    const char *rows[] = {"", "   ", "not a url", "file:///etc/passwd", "javascript:alert(1)",
                          "mailto:someone@example.test", "http://", "-oProxyCommand=x",
                          "ftp://example.test/"};
    for (const char *r : rows)
        EXPECT_FALSE(desktop::OpenWebPage(r)) << r;
}
