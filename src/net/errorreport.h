// Where an engine sends a failure that no event handler took: the Error route
// of the services in use (platform/services.h), which the program points at
// its error box. The engines sit below the desktop layer and have no window to
// ask; without a route (programs without a window) the text goes to the
// standard error stream.
#pragma once

#include <QString>

namespace net {

// Reports text through the services' Error route.
void ReportError(const QString &text);

} // namespace net
