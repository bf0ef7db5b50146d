#include "session/probechoice.h"

namespace session {

TProbeKind ChooseProbe(int method, bool alternateToggle)
{
    switch (method) {
    case pmHttpGets:
        return TProbeKind::HttpGet;
    case pmIcmpPings:
        return TProbeKind::Echo;
    case pmAlternate:
        return alternateToggle ? TProbeKind::Echo : TProbeKind::HttpGet;
    default:
        return TProbeKind::None;
    }
}

int RandomEchoSize(std::mt19937 &generator)
{
    std::uniform_int_distribution<int> size(MinEchoSize, MaxEchoSize);
    return size(generator);
}

int RandomEchoSize()
{
    // A source of randomness, not state: nothing depends on its position.
    static std::mt19937 generator{std::random_device{}()};
    return RandomEchoSize(generator);
}

} // namespace session
