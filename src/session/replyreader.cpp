#include "session/replyreader.h"

#include "net/httpparse.h"

#include <QList>

namespace session {

namespace {

// A chunk-size line ("1a3f;ext=1") and each trailer line are short; a longer
// one is no chunked body.
constexpr int ChunkLineLimit = 1024;

// The hex size before any extension; -1 when it is none or too large to mean anything.
qint64 ChunkSize(const QByteArray &line)
{
    const QByteArray digits = line.left(line.indexOf(';') < 0 ? line.size() : line.indexOf(';')).trimmed();
    if (digits.isEmpty() || digits.size() > 15)
        return -1;
    qint64 n = 0;
    for (const char c : digits) {
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return -1;
        n = n * 16 + v;
    }
    return n;
}

// Where the header ends (the index after its blank line), or -1.
int HeaderEnd(const QByteArray &bytes)
{
    const int crlf = bytes.indexOf("\r\n\r\n");
    const int lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

} // namespace

TReplyReader::TReplyReader(int headerLimit, qint64 bodyLimit) : headerLimit_(headerLimit), bodyLimit_(bodyLimit) {}

TReplyReader::TState TReplyReader::Fail(const QString &why)
{
    error_ = why;
    state_ = TState::Broken;
    return state_;
}

bool TReplyReader::Count(qint64 n)
{
    body_ += n;
    if (body_ <= bodyLimit_)
        return true;
    Fail(QStringLiteral("the document is longer than %1 bytes").arg(bodyLimit_));
    return false;
}

TReplyReader::TState TReplyReader::Feed(const char *data, qint64 len)
{
    while (len > 0 && (state_ == TState::Header || state_ == TState::Body)) {
        if (state_ == TState::Body) {
            const qint64 used = FeedBody(data, len);
            data += used;
            len -= used;
            continue;
        }
        // Only what can still belong to the header is taken into it.
        const qint64 room = qint64(headerLimit_) - head_.size();
        const qint64 take = std::min(len, room + 4);
        const int before = int(head_.size());
        head_.append(data, int(take));
        const int end = HeaderEnd(head_);
        if (end < 0) {
            if (head_.size() > headerLimit_)
                return Fail(QStringLiteral("the header is longer than %1 bytes").arg(headerLimit_));
            data += take;
            len -= take;
            continue;
        }
        const qint64 used = end - before;
        data += used;
        len -= used;
        head_.truncate(end);
        if (!ReadHeader())
            return state_;
    }
    return state_;
}

bool TReplyReader::ReadHeader()
{
    QList<QByteArray> lines = head_.split('\n');
    head_.clear();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    int code = 0;
    QString phrase;
    switch (ParseStatusLine(lines.value(0), code, phrase)) {
    case TStatusLine::NotStatus:
        Fail(QStringLiteral("the server's answer is no HTTP reply"));
        return false;
    case TStatusLine::BadCode:
        Fail(QStringLiteral("the reply's status line has no code"));
        return false;
    case TStatusLine::Valid:
        break;
    }
    // An interim answer (100 Continue, 103 Early Hints): the real one follows.
    if (code >= 100 && code < 200)
        return true;
    status_ = code;
    phrase_ = phrase.trimmed();
    qint64 length = -1;
    bool chunked = false;
    for (int i = 1; i < lines.size(); ++i) {
        QByteArray name;
        QString value;
        if (!SplitHeaderLine(lines[i], name, value))
            continue;
        if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || (length >= 0 && n != length)) {
                Fail(QStringLiteral("the reply's Content-Length is broken"));
                return false;
            }
            length = n;
        } else if (name == "transfer-encoding") {
            chunked = value.toLower().endsWith(QLatin1String("chunked"));
        }
    }
    // No body follows these, whatever the header says.
    if (code == 204 || code == 304) {
        state_ = TState::Done;
        return true;
    }
    state_ = TState::Body;
    if (chunked) {
        framing_ = TFraming::Chunked;
    } else if (length >= 0) {
        framing_ = TFraming::Length;
        left_ = length;
        if (left_ > bodyLimit_) {
            Fail(QStringLiteral("the document is longer than %1 bytes").arg(bodyLimit_));
            return false;
        }
        if (left_ == 0)
            state_ = TState::Done;
    } else {
        framing_ = TFraming::Close;
    }
    return true;
}

qint64 TReplyReader::FeedBody(const char *data, qint64 len)
{
    switch (framing_) {
    case TFraming::Chunked:
        return FeedChunked(data, len);
    case TFraming::Length: {
        const qint64 n = std::min(len, left_);
        left_ -= n;
        if (Count(n) && left_ == 0)
            state_ = TState::Done;
        return len;   // what follows the document is no part of it
    }
    case TFraming::Close:
    case TFraming::None:
        Count(len);
        return len;
    }
    return len;
}

qint64 TReplyReader::FeedChunked(const char *data, qint64 len)
{
    qint64 used = 0;
    while (used < len && state_ == TState::Body) {
        if (chunk_ == TChunk::Data) {
            const qint64 n = std::min(len - used, left_);
            used += n;
            left_ -= n;
            if (!Count(n))
                return len;
            if (left_ == 0)
                chunk_ = TChunk::DataEnd;
            continue;
        }
        // A line: the chunk's size, the line end after its data, or a trailer.
        const char c = data[used++];
        if (c != '\n') {
            head_.append(c);
            if (head_.size() > ChunkLineLimit) {
                Fail(QStringLiteral("the reply's chunks are broken"));
                return len;
            }
            continue;
        }
        QByteArray line = head_;
        head_.clear();
        if (line.endsWith('\r'))
            line.chop(1);
        switch (chunk_) {
        case TChunk::Size:
            left_ = ChunkSize(line);
            if (left_ < 0) {
                Fail(QStringLiteral("the reply's chunks are broken"));
                return len;
            }
            chunk_ = left_ == 0 ? TChunk::Trailer : TChunk::Data;
            break;
        case TChunk::DataEnd:
            if (!line.isEmpty()) {
                Fail(QStringLiteral("the reply's chunks are broken"));
                return len;
            }
            chunk_ = TChunk::Size;
            break;
        case TChunk::Trailer:
            // Trailer fields are ignored; the blank line ends the reply.
            if (line.isEmpty())
                state_ = TState::Done;
            break;
        case TChunk::Data:
            break;
        }
    }
    return len;
}

TReplyReader::TState TReplyReader::Closed(bool clean)
{
    switch (state_) {
    case TState::Header:
        return Fail(head_.isEmpty() ? QStringLiteral("the server closed the connection without a reply")
                                    : QStringLiteral("the server closed the connection within the header"));
    case TState::Body:
        if (framing_ == TFraming::Close && clean) {
            state_ = TState::Done;
            return state_;
        }
        return Fail(QStringLiteral("the reply was cut short"));
    case TState::Done:
    case TState::Broken:
        break;
    }
    return state_;
}

} // namespace session
