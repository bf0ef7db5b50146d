// Message boxes with the application's title: modal ones that wait for OK,
// and notices that do not. Each goes through the services in use
// (platform/services.h): while their Message route is set, the text goes
// there instead and nothing is shown; their Beep route stands in for the beep.
#pragma once

#include <QString>

namespace desktop {

// Shows text in a modal box titled with the application's display name and
// waits until it is closed.
void ShowMessage(const QString &text);

// The same for a warning: a modal box captioned "Warning" with the warning
// icon and one OK button.
void ShowWarning(const QString &text);

// Shows text in a box that does not wait: the program goes on (starting,
// running a session, ending) while the box stands, and it goes away with its
// OK button. For notices nobody has to answer, such as the lines skipped of
// a file.
void ShowNotice(const QString &text);

// The short system beep that comes with a warning.
void Beep();

} // namespace desktop
