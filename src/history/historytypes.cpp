#include "history/historytypes.h"

#include <array>
#include <utility>

namespace history {

namespace {

// The outcome codes of the file. Ok must stay 0, NotPermitted 7 and Skipped
// 9: queries count lost probes as "outcome NOT IN (0, 7, 9)" (an echo this
// system did not let out, or a probe skipped, says nothing of the line).
constexpr std::array<std::pair<TProbeOutcome, int>, 12> kOutcomeCodes{{
    {TProbeOutcome::Ok, 0},
    {TProbeOutcome::Timeout, 1},
    {TProbeOutcome::Unreachable, 2},
    {TProbeOutcome::TimeExceeded, 3},
    {TProbeOutcome::Refused, 4},
    {TProbeOutcome::LookupFailed, 5},
    {TProbeOutcome::HttpError, 6},
    {TProbeOutcome::NotPermitted, 7},
    {TProbeOutcome::Failed, 8},
    {TProbeOutcome::Skipped, 9},
    {TProbeOutcome::TlsFailed, 10},
    {TProbeOutcome::DnsError, 11},
}};

} // namespace

QString TOutageRow::Reason() const
{
    if (!Cause.isEmpty())
        return Cause;
    if (FirstReason.isEmpty())
        return OutcomeName(FirstOutcome);
    return FirstReason;
}

int OutcomeCode(TProbeOutcome outcome)
{
    for (const auto &[o, code] : kOutcomeCodes) {
        if (o == outcome)
            return code;
    }
    return 8;
}

TProbeOutcome OutcomeFromCode(int code)
{
    for (const auto &[o, c] : kOutcomeCodes) {
        if (c == code)
            return o;
    }
    return TProbeOutcome::Failed;
}

int KindCode(session::TProbeKind kind)
{
    switch (kind) {
    case session::TProbeKind::Echo: return 1;
    case session::TProbeKind::HttpGet: return 2;
    case session::TProbeKind::Tcp: return 3;
    case session::TProbeKind::Https: return 4;
    case session::TProbeKind::Dns: return 5;
    case session::TProbeKind::Burst: return 6;
    case session::TProbeKind::None: break;
    }
    return 0;
}

session::TProbeKind KindFromCode(int code)
{
    switch (code) {
    case 1: return session::TProbeKind::Echo;
    case 2: return session::TProbeKind::HttpGet;
    case 3: return session::TProbeKind::Tcp;
    case 4: return session::TProbeKind::Https;
    case 5: return session::TProbeKind::Dns;
    case 6: return session::TProbeKind::Burst;
    default: return session::TProbeKind::None;
    }
}

} // namespace history
