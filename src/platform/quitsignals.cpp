#include "platform/quitsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end is read by the handler, so it must be a plain global; -1
// while no service is installed.
volatile sig_atomic_t writeFd = -1;
// Set by the first signal: a quit request is pending or being carried out.
volatile sig_atomic_t requested = 0;
// The pipe's read end and the handlers replaced: process-wide as the signal
// dispositions they go with; one TQuitSignals holds them at a time.
int readFd = -1;
struct sigaction previous[3];

// Async-signal-safe: one write() of one byte, errno preserved. A full pipe
// only drops the byte, and then a quit request is already pending anyway.
//
// A signal that comes while an earlier one is still pending or being carried
// out ends the process at once by the signal's own default action: whatever
// holds up the way out (a blocked file, a dialog nobody answers, an event
// loop that never ran), whoever asks twice gets the program stopped.
void onSignal(int signo)
{
    const int saved = errno;
    if (requested) {
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(signo, &dfl, nullptr);
        // Blocked while this handler runs; delivered, and fatal, on return.
        ::raise(signo);
        errno = saved;
        return;
    }
    requested = 1;
    const int fd = writeFd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TQuitSignals::TQuitSignals(QObject *parent) : QObject(parent)
{
    if (readFd >= 0)
        return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    readFd = fds[0];
    writeFd = fds[1];
    requested = 0;

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // Restart interrupted system calls: the program's own blocking calls
    // should not see EINTR just because a quit was asked for.
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &sa, &previous[i]);

    notifier_ = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readPipe(); });
    installed_ = true;
}

TQuitSignals::~TQuitSignals()
{
    if (!installed_)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    delete notifier_;
    const int w = writeFd;
    writeFd = -1;
    ::close(w);
    ::close(readFd);
    readFd = -1;
}

void TQuitSignals::SetWatching(bool on)
{
    if (notifier_)
        notifier_->setEnabled(on);
}

void TQuitSignals::readPipe()
{
    unsigned char buf[16];
    for (;;) {
        const ssize_t n = ::read(readFd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;   // EAGAIN: drained
        }
        for (ssize_t i = 0; i < n; ++i) {
            // A copy: the handler may replace or clear OnQuit, or end the loop.
            if (auto handler = OnQuit)
                handler(buf[i]);
        }
    }
}

} // namespace platform
