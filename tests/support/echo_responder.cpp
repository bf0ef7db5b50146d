// A delaying ICMP echo responder for the test network. Runs on a test host
// whose kernel echo replies are off (net.ipv4.icmp_echo_ignore_all=1) and
// answers each echo request itself, after a set delay, so tests get a known
// round trip on machines without the netem queueing discipline.
//
//   echo_responder [--delay MS] [--delays MS,MS...] [--drop-nth N,N...]
//                  [--drop-seq S,S...] [--stray] [--ttl T] [--ready FILE]
//
// --delays gives the requests received delays in turn (the first request the
// first delay, and so on, starting over after the last), for a known jitter.
// --drop-nth drops the N-th request received (1-based); --drop-seq drops the
// requests with those ICMP sequence numbers. --stray sends, at once, two false
// replies before each real one: one with another identifier and one with
// another sequence number. --ready names a file created once the socket is
// open. Runs until killed.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t checksum(const std::uint8_t *p, std::size_t n)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += std::uint32_t(p[i] << 8 | p[i + 1]);
    if (n & 1)
        sum += std::uint32_t(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

std::set<long> parseList(const char *s)
{
    std::set<long> out;
    std::string text(s);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos)
            comma = text.size();
        out.insert(std::strtol(text.substr(pos, comma - pos).c_str(), nullptr, 10));
        pos = comma + 1;
    }
    return out;
}

struct Pending {
    Clock::time_point due;
    sockaddr_in to;
    std::vector<std::uint8_t> icmp;  // the reply, ready to send
};

void sendReply(int fd, const sockaddr_in &to, std::vector<std::uint8_t> pkt)
{
    pkt[2] = pkt[3] = 0;
    const std::uint16_t sum = checksum(pkt.data(), pkt.size());
    pkt[2] = std::uint8_t(sum >> 8);
    pkt[3] = std::uint8_t(sum);
    sendto(fd, pkt.data(), pkt.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

} // namespace

int main(int argc, char **argv)
{
    long delayMs = 0;
    std::vector<long> delays;
    int ttl = 64;
    bool stray = false;
    std::set<long> dropNth, dropSeq;
    const char *ready = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--delay" && hasValue)
            delayMs = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--delays" && hasValue) {
            for (char *p = argv[++i]; *p;) {
                char *end = nullptr;
                delays.push_back(std::strtol(p, &end, 10));
                p = *end == ',' ? end + 1 : end + std::strlen(end);
            }
        } else if (a == "--drop-nth" && hasValue)
            dropNth = parseList(argv[++i]);
        else if (a == "--drop-seq" && hasValue)
            dropSeq = parseList(argv[++i]);
        else if (a == "--ttl" && hasValue)
            ttl = int(std::strtol(argv[++i], nullptr, 10));
        else if (a == "--ready" && hasValue)
            ready = argv[++i];
        else if (a == "--stray")
            stray = true;
        else {
            std::fprintf(stderr, "echo_responder: unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    // The delays are what the tests measure against: a real-time thread is
    // woken when a delay is up, not when the compilers beside it on a busy
    // machine let it run. It only ever waits in poll(), so it takes no time
    // from them otherwise; without the privilege it stays an ordinary process.
    sched_param realtime{};
    realtime.sched_priority = 10;
    sched_setscheduler(0, SCHED_FIFO, &realtime);

    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("echo_responder: raw socket");
        return 1;
    }
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (ready) {
        const int r = open(ready, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (r >= 0)
            close(r);
    }

    std::deque<Pending> queue;  // by the time each reply is due
    long received = 0;
    std::vector<std::uint8_t> buf(65536);
    for (;;) {
        int waitMs = -1;
        if (!queue.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                queue.front().due - Clock::now());
            waitMs = left.count() < 0 ? 0 : int(left.count()) + 1;
        }
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, waitMs);
        if (n < 0 && errno != EINTR)
            return 1;
        const auto now = Clock::now();
        while (!queue.empty() && queue.front().due <= now) {
            sendReply(fd, queue.front().to, std::move(queue.front().icmp));
            queue.pop_front();
        }
        if (n <= 0 || !(p.revents & POLLIN))
            continue;

        sockaddr_in from{};
        socklen_t flen = sizeof from;
        const ssize_t got = recvfrom(fd, buf.data(), buf.size(), 0,
                                     reinterpret_cast<sockaddr *>(&from), &flen);
        if (got < 20)
            continue;
        const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
        if (ihl < 20 || std::size_t(got) < ihl + 8 || buf[ihl] != 8 || buf[ihl + 1] != 0)
            continue;  // only echo requests
        ++received;
        const long seq = long(buf[ihl + 6] << 8 | buf[ihl + 7]);
        if (dropNth.count(received) || dropSeq.count(seq))
            continue;
        std::vector<std::uint8_t> reply(buf.begin() + long(ihl), buf.begin() + got);
        reply[0] = 0;  // echo reply
        if (stray) {
            auto otherId = reply;
            otherId[4] ^= 0x5A;
            sendReply(fd, from, otherId);
            auto otherSeq = reply;
            otherSeq[6] ^= 0x5A;
            sendReply(fd, from, otherSeq);
        }
        const long delay = delays.empty() ? delayMs : delays[std::size_t(received - 1) % delays.size()];
        Pending pending{now + std::chrono::milliseconds(delay), from, std::move(reply)};
        auto at = queue.end();
        while (at != queue.begin() && std::prev(at)->due > pending.due)
            --at;
        queue.insert(at, std::move(pending));
    }
}
