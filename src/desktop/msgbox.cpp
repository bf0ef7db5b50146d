#include "desktop/msgbox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace platform {

namespace {
std::function<void(const QString &)> &hook()
{
    static std::function<void(const QString &)> h;
    return h;
}
} // namespace

void ShowMessage(const QString &text)
{
    if (hook()) {
        // Copy first: the hook may replace itself.
        auto h = hook();
        h(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void SetMessageHook(std::function<void(const QString &)> h)
{
    hook() = std::move(h);
}

namespace {
std::function<void()> &beepHook()
{
    static std::function<void()> h;
    return h;
}
} // namespace

void Beep()
{
    if (beepHook()) {
        auto h = beepHook();
        h();
        return;
    }
    QApplication::beep();
}

void SetBeepHook(std::function<void()> h)
{
    beepHook() = std::move(h);
}

} // namespace platform
