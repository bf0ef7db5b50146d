// Local (AF_UNIX stream) sockets between processes of this user: the
// single-instance request of a later start to the running one. The same
// conventions as socket.h: sockets are non-blocking and close-on-exec, and a
// failed call returns -1 with its code (errcodes.h) for SocketLastError().
// Accepting, receiving and closing are socket.h's SockAccept, SockRecv and
// SockClose.
#pragma once

#include "platform/socket.h"

namespace platform {

// Listens at path, with up to 'backlog' connections waiting. Only this user
// may connect: the socket file is made in a private folder beside path,
// given mode 0600 there and only then renamed to path, so it is never
// reachable with wider rights. Whatever was at path is replaced, so call it
// only while holding whatever says path is yours.
SocketHandle LocalListen(const char *path, int backlog);

// Connects to the socket at path and sends len bytes of data, waiting at
// most timeoutMs for room to send; then closes. 0 when every byte was
// handed to the listener's socket, else -1 (nobody listening: kErrConnRefused
// or the file's absence; kErrTimedOut when the bytes did not fit in time).
int LocalSendOnce(const char *path, const void *data, int len, int timeoutMs);

} // namespace platform
