#include "platform/replacefile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Opens a new file beside path under a name nobody else holds. The mode is
// masked by the umask as any new file's is. -1 with errno set on failure.
int openTemporary(const QByteArray &path, mode_t mode, QByteArray &tmpName)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpName = path + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// The file a write to path lands in: path itself, or, when path is a
// symbolic link, the end of its chain of links (a relative target counts from
// the link's folder). The link stays a link and its target gets the new
// bytes; a dangling link's target is created. Empty with errno set when the
// chain does not end.
QByteArray finalTarget(const QByteArray &path)
{
    QByteArray p = path;
    // The kernel's own limit on links followed in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        char buf[4096];
        const ssize_t n = ::readlink(p.constData(), buf, sizeof buf);
        if (n < 0)
            return p;   // not a link (or not there): write here
        if (size_t(n) == sizeof buf) {
            errno = ENAMETOOLONG;
            return {};
        }
        QByteArray target(buf, n);
        if (!target.startsWith('/')) {
            const qsizetype slash = p.lastIndexOf('/');
            target = (slash < 0 ? QByteArray() : p.left(slash + 1)) + target;
        }
        p = target;
    }
    errno = ELOOP;
    return {};
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool ReplaceFile(const QString &path, const QByteArray &bytes, TFileAccess access,
                 QString *reason)
{
    // The temporary file goes beside the file finally written, so that the
    // rename stays within one file system.
    const QByteArray target = finalTarget(QFile::encodeName(path));
    // Only a regular file is replaced: a FIFO or a device in its place was
    // put there by someone on purpose.
    struct stat st {};
    if (!target.isEmpty() && ::stat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (reason)
            *reason = QStringLiteral("not a regular file");
        return false;
    }
    QByteArray tmpName;
    const mode_t mode = access == TFileAccess::OwnerOnly ? 0600 : 0666;
    const int fd = target.isEmpty() ? -1 : openTemporary(target, mode, tmpName);
    if (fd < 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // An owner-only file is exactly 0600 whatever the umask left of it.
    bool ok = access != TFileAccess::OwnerOnly || ::fchmod(fd, 0600) == 0;
    ok = ok && writeAll(fd, bytes);
    ok = ok && ::fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(tmpName.constData(), target.constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmpName.constData());
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(err));
    }
    return ok;
}

TFileReplacer::~TFileReplacer()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(tmpName_.constData());
    }
}

bool TFileReplacer::Open(const QString &path, TFileAccess access, QString *reason)
{
    // As ReplaceFile: a link's target gets the bytes, and only a regular
    // file is replaced.
    target_ = finalTarget(QFile::encodeName(path));
    struct stat st {};
    if (target_.isEmpty()) {
        error_ = errno;
    } else if (::stat(target_.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error_ = EINVAL;
        if (reason)
            *reason = QStringLiteral("not a regular file");
        return false;
    } else {
        fd_ = openTemporary(target_, access == TFileAccess::OwnerOnly ? 0600 : 0666, tmpName_);
        if (fd_ < 0)
            error_ = errno;
        else if (access == TFileAccess::OwnerOnly && ::fchmod(fd_, 0600) != 0)
            error_ = errno;
    }
    if (error_ && reason)
        *reason = QString::fromLocal8Bit(std::strerror(error_));
    return error_ == 0;
}

bool TFileReplacer::Write(const QByteArray &bytes)
{
    if (fd_ < 0 || error_)
        return false;
    if (!writeAll(fd_, bytes))
        error_ = errno;
    return error_ == 0;
}

bool TFileReplacer::Commit(QString *reason)
{
    if (fd_ < 0 && !error_)
        error_ = EBADF;
    if (!error_ && ::fsync(fd_) != 0)
        error_ = errno;
    if (fd_ >= 0 && ::close(fd_) != 0 && !error_)
        error_ = errno;
    fd_ = -1;
    if (!error_ && ::rename(tmpName_.constData(), target_.constData()) != 0)
        error_ = errno;
    if (error_) {
        ::unlink(tmpName_.constData());
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(error_));
        return false;
    }
    return true;
}

} // namespace platform
