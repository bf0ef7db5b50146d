// What NetworkManager says of the network's reach (its Connectivity
// property), where NetworkManager runs.
#pragma once

namespace bus {

// NetworkManager's connectivity values.
enum class TConnectivity { Unknown = 0, None = 1, Portal = 2, Limited = 3, Full = 4 };

// NetworkManager's Connectivity now; Unknown when it does not run or does
// not answer within a second. Safe on any thread (a connection of its own).
TConnectivity NetworkManagerConnectivity();

} // namespace bus
