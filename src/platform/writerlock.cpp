#include "platform/writerlock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

TWriterLock::~TWriterLock()
{
    Release();
}

bool TWriterLock::Take(const QString &path, const QString &who)
{
    Release();
    holder_.clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    // flock() belongs to this open file: a second open in the same process
    // is refused like another process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[256];
        const ssize_t n = ::pread(fd, text, sizeof text, 0);
        holder_ = n > 0 ? QString::fromUtf8(text, int(n)).trimmed() : QStringLiteral("another program");
        ::close(fd);
        return false;
    }
    const QByteArray line = who.toUtf8() + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.constData(), size_t(line.size()), 0) != line.size()) {
        // The lock holds without its text (a full disk): still ours.
    }
    fd_ = fd;
    return true;
}

void TWriterLock::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace platform
