// The fixed English texts of the numeric codes the network components report,
// in one place: the IP status of an echo and the socket-layer (and resolver)
// error codes. The echo engine and the trace word some IP status codes
// differently, and the socket component and the trace some socket errors;
// each table keeps both wordings of a code in its one row, so a text is
// changed for one component knowingly.
#pragma once

#include <QString>

// An IP status (0, 11001..11050, 11255) as the echo engine says it; an empty
// text for a code it has no wording for.
QString EchoStatusText(int code);

// An IP status as the trace says it; an empty text for a code it has no
// wording for.
QString IcmpStatusText(int code);

// A socket-layer or resolver code as the socket component says it; "Not a
// WinSock error" for a code outside its table.
QString SocketErrorText(int code);

// A socket-layer or resolver code as the trace says it; an empty text for a
// code it has no wording for. Its 11001..11004 are the resolver's failures,
// never IP status: which table applies follows from where the code came from.
QString WinsockErrorText(int code);
