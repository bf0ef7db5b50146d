#include "net/errorreport.h"

#include "platform/services.h"

#include <cstdio>

namespace net {

void ReportError(const QString &text)
{
    // A copy: the route may be replaced while it runs.
    if (auto reporter = platform::Services().Error) {
        reporter(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace net
