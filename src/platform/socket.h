// Thin non-blocking BSD socket service for the event-driven socket component.
// Every call returns -1 on failure and leaves the socket-layer error code
// (errcodes.h) for SocketLastError(), kept per thread so that a worker's
// failure never overwrites the GUI thread's. Addresses are of either family;
// a socket speaks the family it was opened with. Ports are in host order.
#pragma once

#include "platform/ipaddress.h"

#include <cstdint>

namespace platform {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

enum : int { kSockStream = 1, kSockDatagram = 2 };
enum : int { kSendNormal = 0, kSendOutOfBand = 1 };
enum class SockOption { KeepAlive, ReuseAddr, Broadcast };

// Error code of the last failed call on this thread (0 after none).
int SocketLastError();
// Sets it, for callers that report an error of their own through the same path.
void SetSocketLastError(int code);

// A non-blocking, close-on-exec socket of the family, type and protocol.
SocketHandle SockOpen(Family family, int type, int protocol);
// Starts a connection; a connection still in progress fails with kErrWouldBlock.
int SockConnect(SocketHandle s, const IpAddress &addr, std::uint16_t port);
// Error left by a finished non-blocking connect (SO_ERROR), as a code; 0 = connected.
int SockPendingError(SocketHandle s);
// Sends without raising SIGPIPE; flags is kSendNormal or kSendOutOfBand.
int SockSend(SocketHandle s, const void *data, int len, int flags);
int SockSendTo(SocketHandle s, const void *data, int len, int flags,
               const IpAddress &addr, std::uint16_t port);
int SockRecv(SocketHandle s, void *buf, int len);
// Takes one datagram and says where it came from (a datagram longer than
// 'len' is cut; the return value is its whole length, as MSG_TRUNC gives it).
int SockRecvFrom(SocketHandle s, void *buf, int len, IpAddress &addr, std::uint16_t &port);
// Looks at the next bytes without taking them: 0 means the peer has closed.
int SockPeek(SocketHandle s, void *buf, int len);
// how: 0 receive, 1 send, 2 both.
int SockShutdown(SocketHandle s, int how);
int SockClose(SocketHandle s);
int SockSetLinger(SocketHandle s, bool on, int seconds);
int SockSetOption(SocketHandle s, SockOption opt, bool on);
// Bytes waiting to be read (FIONREAD).
int SockBytesReadable(SocketHandle s, int &count);
// Binds to any local address of the family and port 0 (datagram sockets).
int SockBindAny(SocketHandle s, Family family);
// Binds to one local address and port (0: the system picks one).
int SockBind(SocketHandle s, const IpAddress &addr, std::uint16_t port);
// Listens for connections, with up to 'backlog' waiting to be accepted.
int SockListen(SocketHandle s, int backlog);
// Takes a waiting connection as a new non-blocking, close-on-exec socket;
// none waiting fails with kErrWouldBlock.
SocketHandle SockAccept(SocketHandle s);
int SockLocalAddr(SocketHandle s, IpAddress &addr, std::uint16_t &port);
int SockPeerAddr(SocketHandle s, IpAddress &addr, std::uint16_t &port);

// getservbyname: port in host order, or -1 when the service is unknown.
int ServicePort(const char *name, const char *proto);
// getprotobyname: protocol number, or -1 when unknown.
int ProtocolNumber(const char *name);

} // namespace platform
