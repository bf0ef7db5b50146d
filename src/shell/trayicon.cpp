#include "shell/trayicon.h"

#include "desktop/trayservice.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>

TTrayIcon::TTrayIcon(QObject *parent)
    : QObject(parent), service_(new desktop::TTrayService(this))
{
    service_->OnLeftClick = [this] {
        const QPoint p = QCursor::pos();
        if (auto handler = OnClick)
            handler(Qt::LeftButton, QGuiApplication::queryKeyboardModifiers(), p.x(), p.y());
    };
    service_->OnDoubleClick = [this] {
        const QPoint p = QCursor::pos();
        if (auto handler = OnDblClick)
            handler(Qt::LeftButton, QGuiApplication::queryKeyboardModifiers(), p.x(), p.y());
    };
    service_->OnRightClick = [this](QPoint at) { rightClick(at); };
}

TTrayIcon::~TTrayIcon()
{
    if (active_)
        service_->Remove();
}

void TTrayIcon::SetActive(bool on)
{
    if (on == active_)
        return;
    active_ = on;
    if (on) {
        service_->Add(icon_, tip_);
    } else {
        service_->Remove();
    }
}

void TTrayIcon::SetIcon(const QIcon &icon)
{
    icon_ = icon;
    update();
}

void TTrayIcon::SetToolTip(const QString &tip)
{
    // Cut by characters, never inside a surrogate pair.
    QString t = tip.left(kMaxTip);
    if (t.size() == kMaxTip && t.back().isHighSurrogate())
        t.chop(1);
    tip_ = t;
    update();
}

void TTrayIcon::update()
{
    if (active_)
        service_->Modify(icon_, tip_);
}

void TTrayIcon::rightClick(QPoint at)
{
    // The menu is not handed to the tray: it pops up here, at the cursor,
    // before the handler runs.
    if (PopupMenu) {
        QApplication::processEvents();
        PopupMenu->popup(at);
    }
    if (auto handler = OnRightClick)
        handler(Qt::RightButton, QGuiApplication::queryKeyboardModifiers(), at.x(), at.y());
}
