#include "desktop/helpviewer.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace desktop {

namespace {

QWidget *makeViewer()
{
    auto *w = new QWidget(nullptr, Qt::Window);
    w->setObjectName(QStringLiteral("HelpViewer"));
    w->setAttribute(Qt::WA_DeleteOnClose);
    auto *browser = new QTextBrowser(w);
    browser->setObjectName(QStringLiteral("HelpBrowser"));
    // Links to the web go to the browser; links inside the document stay here.
    browser->setOpenExternalLinks(true);
    auto *layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    w->resize(640, 520);
    return w;
}

} // namespace

THelpViewer::~THelpViewer()
{
    delete window_.data();
}

bool THelpViewer::ShowContents(const QString &helpFile)
{
    const QFileInfo fi(helpFile);
    if (!fi.isFile() || !fi.isReadable())
        return false;
    QWidget *w = window_;
    if (!w)
        window_ = w = makeViewer();
    auto *browser = w->findChild<QTextBrowser *>(QStringLiteral("HelpBrowser"));
    browser->setSource(QUrl::fromLocalFile(fi.absoluteFilePath()), QTextDocument::HtmlResource);
    if (browser->document()->isEmpty())
        return false;
    const QString title = browser->documentTitle();
    const QString app = QGuiApplication::applicationDisplayName();
    w->setWindowTitle(title.isEmpty() ? app + QStringLiteral(" Help") : title);
    w->show();
    w->raise();
    w->activateWindow();
    return true;
}

} // namespace desktop
