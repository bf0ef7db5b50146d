#include "desktop/msgbox.h"

#include "platform/services.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace desktop {

namespace {

// The services' Message route, when set, takes the text instead of a box.
void Show(QMessageBox::Icon icon, const QString &title, const QString &text, const QString &name)
{
    // Copy first: the route may replace itself.
    if (auto route = platform::Services().Message) {
        route(text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setObjectName(name);
    // Messages carry host names and server texts: characters, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void ShowMessage(const QString &text)
{
    Show(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
         QStringLiteral("MessageBox"));
}

void ShowWarning(const QString &text)
{
    Show(QMessageBox::Warning, QStringLiteral("Warning"), text, QStringLiteral("WarningBox"));
}

void ShowNotice(const QString &text)
{
    if (auto route = platform::Services().Message) {
        route(text);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Information,
                                QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("NoticeBox"));
    box->setTextFormat(Qt::PlainText);
    box->setModal(false);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void Beep()
{
    if (auto route = platform::Services().Beep) {
        route();
        return;
    }
    QApplication::beep();
}

} // namespace desktop
