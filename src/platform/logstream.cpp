#include "platform/logstream.h"

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A decimal number that fills 'text' exactly.
bool ParseDecimal(const QByteArray &text, unsigned long long *value)
{
    if (text.isEmpty() || text.size() > 20)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    *value = text.toULongLong(&ok);
    return ok;
}

} // namespace

bool IsJournalStream(int fd, const QByteArray &journalStream)
{
    const int colon = journalStream.indexOf(':');
    unsigned long long device = 0, inode = 0;
    if (colon < 0 || !ParseDecimal(journalStream.left(colon), &device)
        || !ParseDecimal(journalStream.mid(colon + 1), &inode))
        return false;
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return false;
    return static_cast<unsigned long long>(st.st_dev) == device
        && static_cast<unsigned long long>(st.st_ino) == inode;
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void IgnoreBrokenPipe()
{
    ::signal(SIGPIPE, SIG_IGN);
}

} // namespace platform
