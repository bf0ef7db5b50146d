// Opens a web page in the user's default browser.
#pragma once

#include <QString>

namespace desktop {

// Hands an http or https address to the desktop's browser. False for any
// other text (nothing is launched) or when the desktop refuses it.
bool OpenWebPage(const QString &url);

} // namespace desktop
