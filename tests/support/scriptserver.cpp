#include "scriptserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr int kReadTimeoutMs = 5000;

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
}
} // namespace

Script &Script::sendSplit(const QByteArray &bytes, const std::vector<int> &cuts, int pauseMs)
{
    int from = 0;
    for (int cut : cuts) {
        if (cut <= from || cut >= bytes.size())
            continue;
        send(bytes.mid(from, cut - from));
        pause(pauseMs);
        from = cut;
    }
    return send(bytes.mid(from));
}

ScriptServer::ScriptServer(std::vector<Script> scripts, Loopback on) : scripts_(std::move(scripts))
{
    const bool v6 = on == Loopback::V6;
    listenFd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (v6) {
        auto &sa6 = reinterpret_cast<sockaddr_in6 &>(ss);
        sa6.sin6_family = AF_INET6;
        sa6.sin6_addr = in6addr_loopback;
        len = sizeof sa6;
    } else {
        reinterpret_cast<sockaddr_in &>(ss) = loopback(0);
        len = sizeof(sockaddr_in);
    }
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&ss), len) == 0 && listen(listenFd_, 8) == 0) {
        getsockname(listenFd_, reinterpret_cast<sockaddr *>(&ss), &len);
        port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6 &>(ss).sin6_port
                         : reinterpret_cast<sockaddr_in &>(ss).sin_port);
    }
    received_.resize(scripts_.size() + 16);
    sent_.resize(scripts_.size() + 16);
    thread_ = std::thread([this] { run(); });
}

ScriptServer::~ScriptServer()
{
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

std::uint16_t ScriptServer::unusedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopback(0);
    bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

QByteArray ScriptServer::received(int i) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return i >= 0 && i < static_cast<int>(received_.size()) ? received_[i] : QByteArray();
}

qint64 ScriptServer::sent(int i) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return i >= 0 && i < static_cast<int>(sent_.size()) ? sent_[i] : 0;
}

bool ScriptServer::waitServed(int n, int timeoutMs) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (served_.load() < n) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Sends every byte, waiting for room as long as the client takes them; false
// once the client has gone (or the server stops), so a flood ends with it.
bool ScriptServer::sendAll(int fd, int index, const QByteArray &bytes)
{
    for (qsizetype off = 0; off < bytes.size();) {
        if (stop_)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        if (p.revents & (POLLERR | POLLHUP))
            return false;
        ssize_t n = ::send(fd, bytes.constData() + off, bytes.size() - off,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        off += n;
        std::lock_guard<std::mutex> lock(mutex_);
        sent_[index] += n;
    }
    return true;
}

void ScriptServer::run()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int index = accepted_++;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (index < static_cast<int>(scripts_.size()))
            serve(fd, scripts_[index], index);
        else
            ::close(fd);
        ++served_;
    }
}

bool ScriptServer::readUntil(int fd, int index, const std::function<bool(const QByteArray &)> &done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    while (!stop_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (done(received_[index]))
                return true;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        received_[index].append(buf, static_cast<int>(n));
    }
    return false;
}

void ScriptServer::serve(int fd, const Script &script, int index)
{
    bool open = true;
    for (const ScriptStep &s : script.steps) {
        if (stop_ || !open)
            break;
        switch (s.kind) {
        case ScriptStep::ReadRequest:
            readUntil(fd, index, [](const QByteArray &b) { return b.contains("\r\n\r\n"); });
            break;
        case ScriptStep::ReadBytes:
            readUntil(fd, index, [&s](const QByteArray &b) { return b.size() >= s.n; });
            break;
        case ScriptStep::Send:
            sendAll(fd, index, s.data);
            break;
        case ScriptStep::Flood:
            while (sendAll(fd, index, s.data)) {
            }
            break;
        case ScriptStep::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(s.n));
            break;
        case ScriptStep::Reset: {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
            open = false;
            break;
        }
        case ScriptStep::Close:
            break;
        }
        if (s.kind == ScriptStep::Close)
            break;
    }
    if (open) {
        // Take in what the client still sends before closing, so the close is
        // a FIN and not a reset for unread data.
        shutdown(fd, SHUT_WR);
        char buf[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                break;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            std::lock_guard<std::mutex> lock(mutex_);
            received_[index].append(buf, static_cast<int>(n));
        }
        ::close(fd);
    }
}

} // namespace testsupport
