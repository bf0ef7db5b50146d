#include "desktop/justone32.h"

#include "desktop/instanceguard.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

TPreviousInstance::TPreviousInstance(const QString &title)
    : title_(title), guard_(new desktop::TInstanceGuard(title))
{
}

TPreviousInstance::~TPreviousInstance()
{
    delete guard_;
}

bool TPreviousInstance::Exists() const
{
    return !guard_->IsFirst();
}

TJustOne32::TJustOne32(QObject *parent, TPreviousInstance *guard)
    : QObject(parent), guard_(guard)
{
    const QString title = guard_ ? guard_->Title() : QString();
    OnActivate = [title] { BringToFront(title); };
    if (!guard_)
        return;
    if (guard_->Exists()) {
        guard_->Guard()->AskFirstToActivate();
        terminating_ = true;
        // Quitting now would be lost before the loop starts; queue it.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return;
    }
    guard_->Guard()->OnActivate = [this] {
        if (auto handler = OnActivate)
            handler();
    };
}

TJustOne32::~TJustOne32()
{
    if (guard_ && !terminating_)
        guard_->Guard()->OnActivate = nullptr;
}

void TJustOne32::BringToFront(const QString &caption)
{
    const QString title = caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        // The zero-sized anchor window carries the same title; skip it.
        if (w->windowTitle() != title || w->windowType() == Qt::Tool || w->width() == 0
            || w->height() == 0)
            continue;
        w->show();
        w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        w->raise();
        w->activateWindow();
        return;
    }
}
