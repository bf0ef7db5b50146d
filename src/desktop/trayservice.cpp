#include "desktop/trayservice.h"

#include "platform/services.h"

#include <QCursor>
#include <QSystemTrayIcon>

namespace desktop {

TTrayService::TTrayService(QObject *parent) : QObject(parent) {}

TTrayService::~TTrayService()
{
    Remove();
}

bool TTrayService::Available()
{
    if (const int answer = platform::Services().TrayAvailable; answer >= 0)
        return answer == 1;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayService::SetAvailableOverride(int available)
{
    platform::Services().TrayAvailable = available < 0 ? -1 : (available ? 1 : 0);
}

bool TTrayService::Add(const QIcon &icon, const QString &tip)
{
    if (!Available())
        return false;
    if (!icon_) {
        icon_ = new QSystemTrayIcon(this);
        connect(icon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) { Activated(int(r)); });
    }
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
    icon_->show();
    shown_ = icon_->isVisible();
    return shown_;
}

void TTrayService::Remove()
{
    if (icon_)
        icon_->hide();
    shown_ = false;
}

void TTrayService::Modify(const QIcon &icon, const QString &tip)
{
    if (!icon_ || !shown_)
        return;
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
}

bool TTrayService::ShowMessage(const QString &title, const QString &text)
{
    // A tray that cannot show messages (some hosts only draw icons) takes
    // none: the caller is told, rather than the text being lost unseen.
    if (!icon_ || !shown_ || !QSystemTrayIcon::supportsMessages())
        return false;
    icon_->showMessage(title, text, QSystemTrayIcon::Information);
    return true;
}

void TTrayService::Activated(int reason)
{
    switch (QSystemTrayIcon::ActivationReason(reason)) {
    case QSystemTrayIcon::Trigger:
        if (auto handler = OnLeftClick)
            handler();
        break;
    case QSystemTrayIcon::DoubleClick:
        if (auto handler = OnDoubleClick)
            handler();
        break;
    case QSystemTrayIcon::Context:
        if (auto handler = OnRightClick)
            handler(QCursor::pos());
        break;
    default:
        break;
    }
}

} // namespace desktop
