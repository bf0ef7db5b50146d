// Helpers shared by the two echo tools of the window (latency test, ping tool).
#pragma once

class TPing;

namespace tools {

// When the last echo of 'ping' could not be sent for want of permission,
// tells the user (once per process) how to allow ICMP echoes.
void ExplainIcmpAccess(const TPing &ping);

} // namespace tools
