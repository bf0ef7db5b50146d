// The framing of an HTTP/1.1 reply, read as its bytes arrive: the header
// (bounded), the status, and where the body ends (Content-Length, chunked
// transfer coding, or the close of the connection). A probe's reply counts
// only when it came whole: one cut short is never taken for a success.
// Pure byte work, no I/O; the body's bytes are counted, not kept.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace session {

class TReplyReader {
public:
    enum class TState {
        Header,   // the header is still coming
        Body,     // the body is coming
        Done,     // the reply is whole
        Broken,   // the reply cannot be read (Error says why)
    };

    // Most bytes of a header, and most body bytes counted before the reply is
    // given up as too long.
    TReplyReader(int headerLimit, qint64 bodyLimit);

    // Takes the next bytes. Bytes after the end of the reply are ignored.
    TState Feed(const char *data, qint64 len);
    // The peer closed the connection; 'clean' when it said so first (TLS's
    // close_notify). A body that runs to the close ends whole only cleanly:
    // a close an attacker could forge does not end it.
    TState Closed(bool clean);

    TState State() const { return state_; }
    int Status() const { return status_; }          // -1 until the status line
    const QString &ReasonPhrase() const { return phrase_; }
    const QString &Error() const { return error_; } // Broken: why
    qint64 BodyBytes() const { return body_; }

private:
    enum class TFraming { Length, Chunked, Close, None };
    enum class TChunk { Size, Data, DataEnd, Trailer };

    TState Fail(const QString &why);
    bool ReadHeader();               // the header held in head_ is whole
    qint64 FeedBody(const char *data, qint64 len);
    qint64 FeedChunked(const char *data, qint64 len);
    // Adds n body bytes; false when the limit is passed.
    bool Count(qint64 n);

    int headerLimit_;
    qint64 bodyLimit_;
    TState state_ = TState::Header;
    TFraming framing_ = TFraming::Close;
    TChunk chunk_ = TChunk::Size;
    QByteArray head_;                // the header so far, or a chunk's size or trailer line
    qint64 left_ = 0;                // Length: body bytes to come; Chunked: the chunk's
    qint64 body_ = 0;
    int status_ = -1;
    QString phrase_;
    QString error_;
};

} // namespace session
