// The help document (HTML, shipped with the program) in a viewer window of
// the program's own.
#pragma once

#include <QString>

namespace desktop {

// Shows the document's contents (its start) in the help window, creating the
// window on first use and raising it afterwards. False when the file is
// missing or cannot be read; the caller then reports that.
bool ShowHelpContents(const QString &helpFile);

} // namespace desktop
