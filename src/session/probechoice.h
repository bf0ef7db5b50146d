// Choices made for each anti-idle probe: which kind of probe the method
// sends, and the size of an echo.
#pragma once

#include <random>

namespace session {

// Data bytes of an echo: the fixed size, and the range of "Vary packet size".
constexpr int MinEchoSize = 56, MaxEchoSize = 499;

// Items of the method radio group.
enum TProbeMethod { pmHttpGets = 0, pmIcmpPings = 1, pmAlternate = 2 };

// Echo and HttpGet are the designed methods; the others are named by a URL
// in the host field or the server list (tcp://, https://, dns://, echo://...?count=).
enum class TProbeKind { None, Echo, HttpGet, Tcp, Https, Dns, Burst };

// The probe of a method item index; alternateToggle is the toggle after this
// probe flipped it (with "Alternate", true sends an echo). An index that is
// no item sends nothing.
TProbeKind ChooseProbe(int method, bool alternateToggle);

// An echo size drawn uniformly from MinEchoSize..MaxEchoSize.
int RandomEchoSize(std::mt19937 &generator);
// The same from the program's own generator, seeded once per run from the
// system's entropy so that runs do not repeat each other's sizes.
int RandomEchoSize();

} // namespace session
