// Where an engine sends a failure that no event handler took: the program's
// error box. The engines sit below the desktop layer, so the program installs
// the box at start-up; until then (and in programs without a window) the text
// goes to the standard error stream.
#pragma once

#include <QString>
#include <functional>

namespace net {

// Reports text through the installed reporter.
void ReportError(const QString &text);

// Installs (or, with an empty function, removes) the reporter.
void SetErrorReporter(std::function<void(const QString &)> reporter);

} // namespace net
