// The reflector's datagrams, as bytes: a client's request names a silence
// of T seconds, the reflector acknowledges it at once and answers again
// after T. Every message carries a tag (HMAC-SHA-256 under the shared key,
// first 16 bytes), a random nonce and the sender's clock, so that only a
// holder of the key gets answers and a request heard on the way cannot be
// sent again. A request is padded to be larger than both of its answers
// together: the reflector never sends more bytes than it received.
//
//   offset  size  field
//   0       4     "IDLX"
//   4       1     version (1)
//   5       1     kind (TKind)
//   6       2     transport the request expects its answer on (TTransport)
//   8       4     silence in seconds (big-endian)
//   12      8     nonce
//   20      8     sender's clock, milliseconds since 1970 (UTC)
//   28      ...   zeros up to the tag (requests only)
//   end-16  16    tag over everything before it
#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace idletimer {

enum class TKind : std::uint8_t { Request = 1, Ack = 2, Late = 3 };
enum class TTransport : std::uint16_t { Udp = 1, Tcp = 2 };

inline constexpr int kRequestSize = 96;
inline constexpr int kAnswerSize = 44;
// The one byte a TCP reflector sends after the silence.
inline constexpr char kTcpLateByte = '!';
// The longest silence a request may ask for: past RFC 5382's 2 h 4 min
// floor for established TCP, with room for the finder's last trial.
inline constexpr std::uint32_t kMaxSilence = 3 * 3600;

struct TMessage {
    TKind Kind = TKind::Request;
    TTransport Transport = TTransport::Udp;
    std::uint32_t Silence = 0;   // seconds
    std::uint64_t Nonce = 0;
    std::int64_t ClockMs = 0;    // the sender's clock when it was made
};

// Why a datagram was not taken (the reflector logs these, never answers them).
enum class TRefusal { None, Size, Magic, Version, Kind, Tag, Silence };

// The bytes of 'm' signed with 'key': kRequestSize for a request, else kAnswerSize.
QByteArray Encode(const TMessage &m, const QByteArray &key);

// Reads and checks one message of 'expected' kind; nullopt with the reason.
std::optional<TMessage> Decode(const QByteArray &bytes, const QByteArray &key, TKind expected,
                               TRefusal *why = nullptr);

// A short English word for a refusal, for the log.
const char *RefusalText(TRefusal why);

// The HMAC key made of the [Reflector] Key text (its UTF-8 bytes, trimmed).
QByteArray KeyBytes(const QString &text);
// Why a key cannot be used (empty when it can): keys shorter than 16
// characters are refused, a guessable key would make an open reflector.
QString KeyProblem(const QString &text);

} // namespace idletimer
