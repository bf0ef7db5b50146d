// DNS messages on the wire (RFC 1035 section 4): a query of one question, and
// what a reply says about it. Pure functions over bytes, no I/O: the dns
// probe sends what BuildQuery makes and hands what comes back to ParseReply.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace dnsmsg {

// Record types a probe may ask for.
enum class TType : quint16 { A = 1, NS = 2, SOA = 6, MX = 15, TXT = 16, AAAA = 28 };

// The type named "A", "aaaa", "MX", ... (any case); nullopt for another name.
std::optional<TType> TypeByName(const QString &name);
QString TypeName(TType type);

// Response codes of the header (RFC 1035, 4.1.1).
enum : int { kNoError = 0, kFormErr = 1, kServFail = 2, kNxDomain = 3, kNotImp = 4, kRefused = 5 };

// The longest datagram a reply may be: without EDNS a server sends at most
// 512 bytes over UDP, so anything longer is not an answer to our query.
constexpr int kMaxUdpReply = 512;

// The question in wire form (length-prefixed labels, a final zero byte) for
// a name of letters, digits, hyphens, underscores and dots ("host.idlix.test",
// a final dot allowed); nullopt with *error set for an empty label, a label
// over 63 bytes, a name over 255 bytes in wire form or any other character.
std::optional<QByteArray> EncodeName(const QString &name, QString *error = nullptr);

// A query: header with 'id' and recursion desired, one question of class IN.
// 'wireName' is what EncodeName gave.
QByteArray BuildQuery(quint16 id, const QByteArray &wireName, TType type);

// What a reply to a query says.
struct TReplyInfo {
    int Rcode = -1;
    int Answers = 0;         // answer records of the asked type and class IN
    bool Truncated = false;  // the server set TC: the answer section may be cut short
};

// How a datagram that came back relates to the query.
enum class TParse {
    Reply,          // a well-formed reply to this query (info filled in)
    OtherId,        // not a reply of this id: someone else's, to be ignored
    Malformed,      // claims to answer this query but is broken or asks another question
};

// Checks 'bytes' against the query of 'id', 'wireName' and 'type': the QR
// bit, the id, one question equal to ours (names compared without regard to
// ASCII case), and every record of the answer, authority and additional
// sections inside the datagram with names that decode (compression pointers
// followed only backwards, at most 64 labels). Counts the answers of the type.
// *why gets the fault of a Malformed reply.
TParse ParseReply(const QByteArray &bytes, quint16 id, const QByteArray &wireName, TType type,
                  TReplyInfo &info, QString *why = nullptr);

// The rcode in words as the history shows it: "no such name (NXDOMAIN)".
QString RcodeText(int rcode);

} // namespace dnsmsg
