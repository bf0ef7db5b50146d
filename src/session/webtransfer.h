// Fixed names and limits of the two web transfers (the HTTP GET probe and
// the server list download), and the small pure rules they follow.
#pragma once

#include <QString>

namespace session {

// The maker's web server, which publishes the current server list.
inline constexpr char MakerWebHost[] = "www.brisvane.com";
// Path of the server list document on that server.
inline constexpr char ServerListDocument[] = "/servers20.dat";
// Receives the body of every probe, in the data folder (platform/appdir.h).
inline constexpr char ProbeFileName[] = "temp.dat";

// Most body bytes a probe keeps in temp.dat; a probe of any real page is far
// below, and a server that never ends its document cannot fill the disk.
inline constexpr qint64 ProbeBodyLimit = 64 * 1024 * 1024;
// Most bytes of a downloaded server list: thousands of hosts fit many times over.
inline constexpr qint64 ServerListBodyLimit = 1024 * 1024;

// Requests a client completes before the next probe replaces it.
inline constexpr int HttpClientLifetime = 100;

// Longest a transfer may take before it is aborted.
inline constexpr int DefaultTransferLimitMs = 60000;
// A probe must end this long before the next tick is due, so that a stalled
// server never makes a tick find the client still busy.
inline constexpr int ProbeLimitMarginMs = 10000;
inline constexpr int MinTransferLimitMs = 1000;

// Address of the server list download.
QString ServerListUrl();

// The watchdog of a probe sent every probeIntervalMs (0 when unknown): 60 s,
// shortened so that it runs out before the next probe is due.
int ProbeTransferLimit(int probeIntervalMs);

// The reason text of a transfer ended by its watchdog.
QString TimeoutReason(int limitMs);

// True when the client must be replaced before this probe: only at exactly
// HttpClientLifetime completed requests (a count that went past it, for
// example through a download, keeps the client).
bool ClientDue(int requestCount);

} // namespace session
