#include "net/errorreport.h"

#include <cstdio>

namespace net {
namespace {
std::function<void(const QString &)> &Reporter()
{
    static std::function<void(const QString &)> reporter;
    return reporter;
}
} // namespace

void ReportError(const QString &text)
{
    if (auto reporter = Reporter()) {
        reporter(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void SetErrorReporter(std::function<void(const QString &)> reporter)
{
    Reporter() = std::move(reporter);
}

} // namespace net
