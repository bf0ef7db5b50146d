#include "platform/boundedread.h"

#include "platform/services.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Read in pieces so that a small file costs a small buffer.
constexpr qint64 kChunk = 64 * 1024;

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

QString sizeText(qint64 bytes)
{
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

// Passes the notice on unless this file, as it stands, was already the
// subject of the same one.
void tell(const QString &path, const struct stat &st, const QString &notice)
{
    if (notice.isEmpty())
        return;
    const QString key = path + QLatin1Char('\n') + QString::number(st.st_size) + QLatin1Char('\n')
                        + QString::number(qint64(st.st_mtim.tv_sec)) + QLatin1Char('.')
                        + QString::number(qint64(st.st_mtim.tv_nsec)) + QLatin1Char('\n')
                        + notice;
    Services().TellOnce(key, notice);
}

// Reads at most limit bytes of fd; false with errno on a failed read.
bool readUpTo(int fd, qint64 limit, QByteArray &out)
{
    out.clear();
    while (out.size() < limit) {
        const qsizetype at = out.size();
        const qint64 want = std::min(kChunk, limit - at);
        out.resize(at + want);
        const ssize_t n = ::read(fd, out.data() + at, size_t(want));
        if (n < 0 && errno == EINTR) {
            out.resize(at);
            continue;
        }
        if (n < 0) {
            out.resize(at);
            return false;
        }
        out.resize(at + n);
        if (n == 0)
            break;
    }
    return true;
}

} // namespace

TBoundedText BoundText(const QByteArray &bytes, const TReadLimits &limits)
{
    TBoundedText r;
    r.status = TReadStatus::Read;
    const bool moreFollows = bytes.size() > limits.maxBytes;
    const qsizetype n = moreFollows ? qsizetype(limits.maxBytes) : bytes.size();
    const char *b = bytes.constData();
    qsizetype pos = 0;
    qint64 lineNo = 0;
    while (pos < n) {
        // [pos, end) is the line's content, [end, next) its break.
        qsizetype end = pos;
        if (limits.ends == TLineEnds::Lf) {
            while (end < n && b[end] != '\n')
                ++end;
        } else {
            while (end < n && b[end] != '\n' && b[end] != '\r')
                ++end;
        }
        if (end == n && moreFollows) {
            // The byte limit fell inside this line: it is not whole, and
            // when it is already too long, it is told as such.
            r.cut = TReadCut::Bytes;
            if (end - pos > limits.maxLineLength && r.longLines++ == 0)
                r.firstLongLine = lineNo + 1;
            break;
        }
        qsizetype next = end;
        if (end < n) {
            next = end + 1;
            if (b[end] == '\r' && next < n && b[next] == '\n')
                ++next;
        }
        qsizetype length = end - pos;
        if (limits.ends == TLineEnds::Lf && end < n && length > 0 && b[end - 1] == '\r')
            --length;
        ++lineNo;
        if (length > limits.maxLineLength) {
            if (r.longLines++ == 0)
                r.firstLongLine = lineNo;
        } else if (r.keptLines == limits.maxLines) {
            r.cut = TReadCut::Lines;
            break;
        } else {
            r.text.append(b + pos, next - pos);
            ++r.keptLines;
        }
        pos = next;
    }
    if (r.cut == TReadCut::None && moreFollows)
        r.cut = TReadCut::Bytes;
    return r;
}

TBoundedText ReadBoundedText(const QString &path, const TReadLimits &limits)
{
    TBoundedText r;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    // Look before opening: open() of a FIFO without a writer blocks.
    if (::stat(name.constData(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            r.status = TReadStatus::Unreadable;
            r.error = errno;
        }
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = TReadStatus::NotRegular;
        r.kind = kindOf(st.st_mode);
        tell(path, st, BoundedReadNotice(path, r, limits));
        return r;
    }
    // Non-blocking as well, for a FIFO put in the file's place meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        r.status = errno == ENOENT ? TReadStatus::Missing : TReadStatus::Unreadable;
        r.error = errno;
        return r;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.status = TReadStatus::NotRegular;
        r.kind = kindOf(st.st_mode);
        ::close(fd);
        tell(path, st, BoundedReadNotice(path, r, limits));
        return r;
    }
    QByteArray bytes;
    // One byte past the limit tells whether the file goes on.
    const bool ok = readUpTo(fd, limits.maxBytes + 1, bytes);
    const int err = errno;
    ::close(fd);
    if (!ok) {
        r.status = TReadStatus::Unreadable;
        r.error = err;
        return r;
    }
    r = BoundText(bytes, limits);
    tell(path, st, BoundedReadNotice(path, r, limits));
    return r;
}

QString BoundedReadNotice(const QString &path, const TBoundedText &read, const TReadLimits &limits)
{
    if (read.status == TReadStatus::NotRegular)
        return QStringLiteral("%1 is %2, not a file; it was not read.").arg(path, read.kind);
    if (read.status != TReadStatus::Read)
        return {};
    QStringList parts;
    if (read.longLines > 0) {
        const QString rule = limits.longLineRule.isEmpty()
            ? QStringLiteral("longer than %1 bytes").arg(limits.maxLineLength)
            : limits.longLineRule;
        parts << (read.longLines == 1
                      ? QStringLiteral("1 line %1 was skipped (line %2).")
                            .arg(rule).arg(read.firstLongLine)
                      : QStringLiteral("%1 lines %2 were skipped, the first at line %3.")
                            .arg(read.longLines).arg(rule).arg(read.firstLongLine));
    }
    if (read.cut == TReadCut::Lines)
        parts << QStringLiteral("Only the first %1 lines were read; the rest was skipped.")
                     .arg(limits.maxLines);
    else if (read.cut == TReadCut::Bytes)
        parts << QStringLiteral("Only its first %1 was read; the rest was skipped.")
                     .arg(sizeText(limits.maxBytes));
    if (parts.isEmpty())
        return {};
    return path + QStringLiteral(": ") + parts.join(QLatin1Char(' '));
}

void TellFileNotice(const QString &path, const QString &notice)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        st = {};
    tell(path, st, notice);
}

} // namespace platform
