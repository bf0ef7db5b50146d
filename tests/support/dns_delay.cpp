// A delaying DNS forwarder for the test network. Listens for UDP questions,
// holds each one for a set time and passes it on to the real name server,
// then hands the answer back to whoever asked. The kernel here has no netem
// queueing discipline, so this is how tests and benchmarks get a name server
// "far away", and answers that come back in another order than the
// questions were asked.
//
//   dns_delay --listen ADDR --upstream ADDR [--delay MS] [--delay-for NAME=MS ...]
//             [--ready FILE]
//
// --delay holds every question MS milliseconds (default 0); --delay-for gives
// the questions for one name (compared without regard to case, e.g.
// 10.3.200.10.in-addr.arpa) a time of their own. Each question goes upstream
// on a socket of its own, so answers are matched by socket and never mixed
// up. Runs until killed.
#include <arpa/inet.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// An upstream answer that never comes is forgotten after this long, so the
// forwarder holds a bounded number of sockets.
constexpr auto kUpstreamWait = std::chrono::seconds(5);
constexpr std::size_t kMaxOpen = 512;

// A question waiting for its time, or out upstream waiting for the answer.
struct Question {
    Clock::time_point due;         // when it goes upstream (or, once sent, is given up)
    sockaddr_in asker{};
    std::vector<std::uint8_t> bytes;
    int upstream = -1;             // the socket it went out on; -1 while held
};

// The question's name in lower case, dotted ("" when the packet is malformed).
std::string questionName(const std::uint8_t *p, std::size_t n)
{
    std::string name;
    std::size_t at = 12;  // after the header
    for (int labels = 0; labels < 128 && at < n; ++labels) {
        const std::size_t len = p[at++];
        if (len == 0)
            return name;
        if (len > 63 || at + len > n)
            return {};
        if (!name.empty())
            name += '.';
        for (std::size_t i = 0; i < len; ++i)
            name += char(std::tolower(p[at + i]));
        at += len;
    }
    return {};
}

bool parseAddress(const char *text, sockaddr_in &out)
{
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = htons(53);
    return inet_pton(AF_INET, text, &out.sin_addr) == 1;
}

} // namespace

int main(int argc, char **argv)
{
    sockaddr_in listenAt{}, upstream{};
    bool haveListen = false, haveUpstream = false;
    long delayMs = 0;
    std::map<std::string, long> delayFor;
    const char *ready = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--listen" && hasValue)
            haveListen = parseAddress(argv[++i], listenAt);
        else if (a == "--upstream" && hasValue)
            haveUpstream = parseAddress(argv[++i], upstream);
        else if (a == "--delay" && hasValue)
            delayMs = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--delay-for" && hasValue) {
            std::string spec = argv[++i];
            const auto eq = spec.rfind('=');
            if (eq == std::string::npos) {
                std::fprintf(stderr, "dns_delay: --delay-for wants NAME=MS\n");
                return 2;
            }
            std::string name = spec.substr(0, eq);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            delayFor[name] = std::strtol(spec.c_str() + eq + 1, nullptr, 10);
        } else if (a == "--ready" && hasValue)
            ready = argv[++i];
        else {
            std::fprintf(stderr, "dns_delay: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (!haveListen || !haveUpstream) {
        std::fprintf(stderr, "dns_delay: --listen and --upstream take IPv4 addresses\n");
        return 2;
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&listenAt), sizeof listenAt) != 0) {
        std::perror("dns_delay: listening socket");
        return 1;
    }
    if (ready) {
        const int r = open(ready, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (r >= 0)
            close(r);
    }

    std::vector<Question> questions;
    std::vector<std::uint8_t> buf(65536);
    for (;;) {
        // Sleep until the next question is due or a socket has something.
        auto next = Clock::time_point::max();
        for (const Question &q : questions)
            next = std::min(next, q.due);
        int waitMs = -1;
        if (next != Clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now());
            waitMs = left.count() <= 0 ? 0 : int((left.count() + 999) / 1000);
        }
        std::vector<pollfd> fds{{fd, POLLIN, 0}};
        for (const Question &q : questions)
            fds.push_back({q.upstream, short(q.upstream >= 0 ? POLLIN : 0), 0});
        if (poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR)
            return 1;

        // Answers from upstream go back to their askers.
        for (std::size_t i = 0; i < questions.size(); ++i) {
            Question &q = questions[i];
            if (q.upstream < 0 || !(fds[i + 1].revents & POLLIN))
                continue;
            const ssize_t got = recv(q.upstream, buf.data(), buf.size(), 0);
            if (got > 0)
                sendto(fd, buf.data(), std::size_t(got), 0,
                       reinterpret_cast<const sockaddr *>(&q.asker), sizeof q.asker);
            close(q.upstream);
            q.upstream = -2;  // done
        }
        // Questions whose time has come go upstream; lost answers are given up.
        const auto now = Clock::now();
        for (Question &q : questions) {
            if (q.due > now || q.upstream == -2)
                continue;
            if (q.upstream >= 0) {
                close(q.upstream);
                q.upstream = -2;
                continue;
            }
            q.upstream = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            if (q.upstream < 0
                || connect(q.upstream, reinterpret_cast<const sockaddr *>(&upstream),
                           sizeof upstream) != 0
                || send(q.upstream, q.bytes.data(), q.bytes.size(), 0) < 0) {
                if (q.upstream >= 0)
                    close(q.upstream);
                q.upstream = -2;
                continue;
            }
            q.due = now + kUpstreamWait;
        }
        questions.erase(std::remove_if(questions.begin(), questions.end(),
                                       [](const Question &q) { return q.upstream == -2; }),
                        questions.end());

        // New questions are held for their time.
        if (!(fds[0].revents & POLLIN))
            continue;
        for (;;) {
            sockaddr_in from{};
            socklen_t flen = sizeof from;
            const ssize_t got = recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr *>(&from), &flen);
            if (got < 0)
                break;
            if (got < 12 || questions.size() >= kMaxOpen)
                continue;
            const std::string name = questionName(buf.data(), std::size_t(got));
            const auto special = delayFor.find(name);
            const long ms = special == delayFor.end() ? delayMs : special->second;
            Question q;
            q.due = Clock::now() + std::chrono::milliseconds(ms);
            q.asker = from;
            q.bytes.assign(buf.begin(), buf.begin() + got);
            questions.push_back(std::move(q));
        }
    }
}
