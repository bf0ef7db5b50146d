// Message boxes with the application's title: modal ones that wait for OK,
// and notices that do not.
#pragma once

#include <QString>
#include <functional>

namespace desktop {

// Shows text in a modal box titled with the application's display name and
// waits until it is closed. While a hook is set, the text goes to the hook
// instead and nothing is shown.
void ShowMessage(const QString &text);

// The same for a warning: a modal box captioned "Warning" with the warning
// icon and one OK button. A hook set with SetMessageHook gets the text.
void ShowWarning(const QString &text);

// Shows text in a box that does not wait: the program goes on (starting,
// running a session, ending) while the box stands, and it goes away with its
// OK button. For notices nobody has to answer, such as the lines skipped of
// a file. A hook set with SetMessageHook gets the text instead.
void ShowNotice(const QString &text);

// Installs (or, with an empty function, removes) the hook; used by tests.
void SetMessageHook(std::function<void(const QString &)> hook);

// The short system beep that comes with a warning. While a hook is set, the
// hook is called instead.
void Beep();
void SetBeepHook(std::function<void()> hook);

} // namespace desktop
