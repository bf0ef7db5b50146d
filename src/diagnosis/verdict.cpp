#include "diagnosis/verdict.h"

namespace diagnosis {

namespace {

struct TVerdictText {
    TVerdict verdict;
    const char *name;
    const char *place;
};

constexpr TVerdictText kTexts[] = {
    {TVerdict::Link, "link", "your own connection"},
    {TVerdict::Gateway, "gateway", "your router"},
    {TVerdict::Provider, "provider", "your provider's network"},
    {TVerdict::Dns, "dns", "the name service"},
    {TVerdict::Portal, "portal", "a login page of the network (captive portal)"},
    {TVerdict::Target, "target", "the server probed"},
    {TVerdict::Partial, "partial", "part of the network"},
    {TVerdict::Unknown, "unknown", "cause not found"},
};

const TVerdictText &TextOf(TVerdict verdict)
{
    for (const TVerdictText &t : kTexts)
        if (t.verdict == verdict)
            return t;
    return kTexts[std::size(kTexts) - 1];
}

} // namespace

QString VerdictName(TVerdict verdict) { return QString::fromLatin1(TextOf(verdict).name); }

QString VerdictPlace(TVerdict verdict) { return QString::fromLatin1(TextOf(verdict).place); }

std::optional<TVerdict> VerdictFromName(const QString &name)
{
    for (const TVerdictText &t : kTexts)
        if (name == QLatin1String(t.name))
            return t.verdict;
    return std::nullopt;
}

} // namespace diagnosis
