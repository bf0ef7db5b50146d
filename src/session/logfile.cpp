#include "session/logfile.h"

#include "platform/appdir.h"
#include "platform/cp1252.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Whether the file's last byte ends a line (true for an empty file): a log
// cut short by an earlier failure that could not be taken back must not have
// the next line glued to its fragment.
bool endsWithLineBreak(int fd, off_t size)
{
    if (size == 0)
        return true;
    char last = 0;
    return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

} // namespace

QString LogFilePath()
{
    return platform::DataFile(QString::fromLatin1(LogFileName));
}

bool AppendLogLines(const QString &path, const QStringList &lines, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](const char *message) {
        if (error)
            *error = QString::fromLatin1(message).arg(path);
        return false;
    };
    // Only a regular file is the log: a FIFO in its place would block the
    // open, and a device is no place for it.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail("Cannot create file %1");
    // Opened for reading too, to look at its last byte; a log we may only
    // write to is taken to end with a whole line.
    const int flags = O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool readable = true;
    int fd = ::open(name.constData(), O_RDWR | flags, 0666);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = ::open(name.constData(), O_WRONLY | flags, 0666);
    }
    if (fd < 0)
        return fail("Cannot create file %1");
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("Cannot create file %1");
    }
    // Written unbuffered, so that what reached the file is known: a write
    // that fails part-way (a full disk) is taken back to where this flush
    // began, and the lines stay with the caller for the next try.
    const off_t before = st.st_size;
    QByteArray bytes;
    if (readable && !endsWithLineBreak(fd, before))
        bytes = "\r\n";
    bytes += platform::ToCp1252Lines(lines);
    // Should taking back fail as well, the fragment stays, and the next flush
    // begins with a line break of its own.
    bool ok = writeAll(fd, bytes);
    if (!ok && ::ftruncate(fd, before) != 0)
        ok = false;
    if (::close(fd) != 0 && ok) {
        ok = false;
        if (::truncate(name.constData(), before) != 0)
            ok = false;
    }
    return ok || fail("Unable to write to %1");
}

bool DeleteLogFile(const QString &path, QString *error)
{
    QFileInfo fi(path);
    if (!fi.exists() && !fi.isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(path);
    return false;
}

} // namespace session
