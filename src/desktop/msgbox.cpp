#include "desktop/msgbox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace desktop {

namespace {
std::function<void(const QString &)> &hook()
{
    static std::function<void(const QString &)> h;
    return h;
}


// The hook, when set, takes the text instead of a box.
void Show(QMessageBox::Icon icon, const QString &title, const QString &text, const QString &name)
{
    if (hook()) {
        // Copy first: the hook may replace itself.
        auto h = hook();
        h(text);
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
    if (hook()) {
        auto h = hook();
        h(text);
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

} // namespace desktop
