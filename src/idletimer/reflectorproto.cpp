#include "idletimer/reflectorproto.h"

#include <QMessageAuthenticationCode>
#include <QString>

namespace idletimer {

namespace {

constexpr char kMagic[4] = {'I', 'D', 'L', 'X'};
constexpr std::uint8_t kVersion = 1;
constexpr int kTagSize = 16;
constexpr int kHeadSize = 28;
constexpr int kMinKeyLength = 16;

void PutBig(QByteArray &out, int at, std::uint64_t value, int size)
{
    for (int i = size - 1; i >= 0; --i) {
        out[at + i] = char(value & 0xff);
        value >>= 8;
    }
}

std::uint64_t GetBig(const QByteArray &in, int at, int size)
{
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | std::uint8_t(in[at + i]);
    return value;
}

QByteArray Tag(const QByteArray &key, const QByteArray &bytes, int length)
{
    return QMessageAuthenticationCode::hash(bytes.left(length), key, QCryptographicHash::Sha256)
        .left(kTagSize);
}

// Compares without stopping at the first difference, so the time taken
// tells nothing about how much of a forged tag was right.
bool SameTag(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff |= std::uint8_t(a[i]) ^ std::uint8_t(b[i]);
    return diff == 0;
}

} // namespace

QByteArray Encode(const TMessage &m, const QByteArray &key)
{
    const int size = m.Kind == TKind::Request ? kRequestSize : kAnswerSize;
    QByteArray out(size, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = kMagic[i];
    out[4] = char(kVersion);
    out[5] = char(m.Kind);
    PutBig(out, 6, std::uint16_t(m.Transport), 2);
    PutBig(out, 8, m.Silence, 4);
    PutBig(out, 12, m.Nonce, 8);
    PutBig(out, 20, std::uint64_t(m.ClockMs), 8);
    const QByteArray tag = Tag(key, out, size - kTagSize);
    out.replace(size - kTagSize, kTagSize, tag);
    return out;
}

std::optional<TMessage> Decode(const QByteArray &bytes, const QByteArray &key, TKind expected,
                               TRefusal *why)
{
    auto refuse = [why](TRefusal r) -> std::optional<TMessage> {
        if (why)
            *why = r;
        return std::nullopt;
    };
    const int size = expected == TKind::Request ? kRequestSize : kAnswerSize;
    if (bytes.size() != size)
        return refuse(TRefusal::Size);
    if (bytes.left(4) != QByteArray(kMagic, 4))
        return refuse(TRefusal::Magic);
    if (std::uint8_t(bytes[4]) != kVersion)
        return refuse(TRefusal::Version);
    // The tag before any field is believed; the padding is covered by it.
    if (!SameTag(Tag(key, bytes, size - kTagSize), bytes.right(kTagSize)))
        return refuse(TRefusal::Tag);
    if (std::uint8_t(bytes[5]) != std::uint8_t(expected))
        return refuse(TRefusal::Kind);
    TMessage m;
    m.Kind = expected;
    const auto transport = GetBig(bytes, 6, 2);
    if (transport != std::uint16_t(TTransport::Udp) && transport != std::uint16_t(TTransport::Tcp))
        return refuse(TRefusal::Kind);
    m.Transport = TTransport(transport);
    m.Silence = std::uint32_t(GetBig(bytes, 8, 4));
    if (m.Silence > kMaxSilence)
        return refuse(TRefusal::Silence);
    m.Nonce = GetBig(bytes, 12, 8);
    m.ClockMs = std::int64_t(GetBig(bytes, 20, 8));
    if (why)
        *why = TRefusal::None;
    return m;
}

const char *RefusalText(TRefusal why)
{
    switch (why) {
    case TRefusal::None: return "accepted";
    case TRefusal::Size: return "wrong size";
    case TRefusal::Magic: return "not an Idlix request";
    case TRefusal::Version: return "unknown version";
    case TRefusal::Kind: return "unexpected kind";
    case TRefusal::Tag: return "not signed with this key";
    case TRefusal::Silence: return "silence too long";
    }
    return "refused";
}

QByteArray KeyBytes(const QString &text)
{
    return text.trimmed().toUtf8();
}

QString KeyProblem(const QString &text)
{
    const QString key = text.trimmed();
    if (key.isEmpty())
        return QStringLiteral("no key: set [Reflector] Key= in idlix2.ini (the same on both sides)");
    if (key.size() < kMinKeyLength)
        return QStringLiteral("the key in [Reflector] Key= is too short (%1 characters; at least %2)")
            .arg(key.size())
            .arg(kMinKeyLength);
    return {};
}

} // namespace idletimer
