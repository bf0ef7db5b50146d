// The test network as a C++ fixture: builds the namespaces of testnet.sh
// under a prefix of this process's own, moves the test thread into the
// client host, starts the echo responder and web servers on test hosts, and
// removes everything again. Root only. Plan and addresses: README.md.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testnet {

// Addresses of the plan (see README.md).
inline constexpr const char *kClient = "10.200.1.2";
inline constexpr const char *kRouter1 = "10.200.1.1";      // first hop from the client
inline constexpr const char *kRouter1Far = "10.200.2.1";
inline constexpr const char *kRouter2 = "10.200.2.2";      // second hop
inline constexpr const char *kRouter2Lan = "10.200.3.1";
inline constexpr const char *kHost = "10.200.3.10";        // answers echoes (3 hops)
inline constexpr const char *kQuiet = "10.200.3.20";       // ignores echoes
inline constexpr const char *kSlow = "10.200.3.30";        // answers through the echo responder
inline constexpr const char *kDns = "10.200.3.53";         // dnsmasq
inline constexpr const char *kNoRoute = "10.200.9.9";      // r1: network unreachable
inline constexpr const char *kNoHost = "10.200.3.99";      // r2 (from 10.200.2.2): host unreachable after ARP
// After addSilentRoute(): a fourth hop behind a router that never answers.
inline constexpr const char *kMute = "10.200.3.40";        // third hop: forwards, sends nothing of its own
inline constexpr const char *kBeyond = "10.200.4.10";      // beyond.idlix.test, four hops away
// After startDnsDelay(): the delaying forwarder in front of dnsmasq.
inline constexpr const char *kDnsDelay = "10.200.3.54";

// The same plan over IPv6 (unique local addresses, one /64 per link).
inline constexpr const char *kClient6 = "fd00:200:1::2";
inline constexpr const char *kRouter1v6 = "fd00:200:1::1";     // first hop from the client
inline constexpr const char *kRouter1LinkLocal = "fe80::1";    // r1 on the client's link (zone eth0)
inline constexpr const char *kClientLink = "eth0";             // the client's interface towards r1
inline constexpr const char *kRouter2v6 = "fd00:200:2::2";     // second hop
inline constexpr const char *kHost6 = "fd00:200:3::10";        // answers echoes (3 hops)
inline constexpr const char *kNarrow6 = "fd00:200:3::11";      // the host behind a 1280-byte route on r2
inline constexpr const char *kLong6 = "fd00:200:3:0:fedc:ba98:7654:3210";  // the host again, every group written
inline constexpr const char *kQuiet6 = "fd00:200:3::20";       // ignores echoes
inline constexpr const char *kSlow6 = "fd00:200:3::30";
inline constexpr const char *kDns6 = "fd00:200:3::53";
inline constexpr const char *kNoRoute6 = "fd00:200:9::9";      // r1: no route
inline constexpr const char *kNoHost6 = "fd00:200:3::99";      // r2: address unreachable after ND
// After addSilentRoute(), over IPv6 too.
inline constexpr const char *kMute6 = "fd00:200:3::40";        // third hop: forwards, sends nothing of its own
inline constexpr const char *kBeyond6 = "fd00:200:4::10";      // beyond.v6.idlix.test, four hops away

enum class Role { Client, R1, R2, Host, Quiet, Slow, Dns, Mute, Beyond };
// Which families a test server listens on.
enum class Listen { Both, V4, V6 };

class TestNet {
public:
    // Builds the network (after removing leftovers of dead test processes).
    // Check ok(); without root nothing is tried and skipReason() says why.
    TestNet();
    // Leaves the client, stops what was started and removes the namespaces.
    ~TestNet();
    TestNet(const TestNet &) = delete;
    TestNet &operator=(const TestNet &) = delete;

    // Non-empty when the test network cannot exist here (not root): tests
    // GTEST_SKIP() with it. When root, a build failure is an error instead.
    static std::string skipReason();
    bool ok() const { return ok_; }
    std::string error() const { return error_; }
    std::string prefix() const { return prefix_; }
    std::string nsName(Role role) const;

    // Moves the calling thread into the client's network namespace, with the
    // client's resolv.conf (the test name server), hosts and gai.conf in view. Sockets,
    // lookups and threads started from this thread afterwards live there.
    bool enterClient();
    // Back to the namespaces the thread had before.
    void leaveClient();

    // Runs a shell command on a host (ip netns exec); returns its exit status.
    int run(Role role, const std::string &command) const;
    // Client's datagram ICMP sockets allowed (default) or forbidden.
    bool setPingAllowed(bool allowed) const;

    // Starts the delaying echo responder on the slow host (echo_responder
    // arguments, e.g. {"--delay", "120"}); a running one is stopped first.
    // True once it listens.
    bool startResponder(const std::vector<std::string> &args);
    void stopResponder();

    // Starts nginx on a host serving directory root on port (IPv4 and IPv6,
    // or one of them); returns its pid or -1. It runs until stopNginx(pid)
    // or the teardown.
    pid_t startNginx(Role role, const std::string &root, int port = 80,
                     Listen listen = Listen::Both) const;
    static void stopNginx(pid_t pid);
    // The same over HTTPS with a certificate and key in PEM files (makeCerts).
    pid_t startTlsNginx(Role role, const std::string &root, int port, const std::string &cert,
                        const std::string &key, Listen listen = Listen::Both) const;
    // Makes the test CA and the server certificates (valid, expired, wrong
    // name, untrusted) in dir with the openssl command (README.md). True
    // when every one was made.
    static bool makeCerts(const std::string &dir);

    // Starts Debian's in.fingerd behind socat on a host's port (79, IPv4 and
    // IPv6); returns socat's pid or -1. It runs until the teardown.
    pid_t startFingerd(Role role, int port = 79) const;

    // Adds a forward and reverse record (name -> address) to the test name
    // server and makes it reread its records. True when dnsmasq took it.
    bool addName(const std::string &address, const std::string &name) const;
    // Stops the test name server (its questions queue up unanswered, so the
    // resolver waits until its time-out) or lets it go on. True when done.
    bool silenceNameServer(bool silent) const;
    // The client's /etc/gai.conf (the address sorting policy of getaddrinfo):
    // the lines given, after "reload yes" so that the C library reads it
    // again at its next lookup. Empty lines: the library's defaults. False
    // when the machine has no /etc/gai.conf to lay the client's over.
    bool setGaiConf(const std::string &lines) const;
    // Lines that make IPv4 answers come before IPv6 ones (the defaults with
    // IPv4-mapped addresses preferred).
    static const char *const kPreferIPv4;

    // The questions the test name server has been asked so far, oldest first,
    // as "TYPE NAME" (e.g. "PTR 10.3.200.10.in-addr.arpa").
    std::vector<std::string> nameServerQueries() const;

    // A host drops every packet of the families to it, through it and from
    // it, its own ICMP errors included (on), or lets them pass again (off):
    // a router or provider hop gone dark. ARP is not filtered, so a
    // neighbour entry for it still completes. Needs nft. True when done.
    bool dropEverything(Role role, bool on, Listen families = Listen::Both) const;

    // Adds the route client - r1 - r2 - mute - beyond, whose third hop never
    // answers (README.md). True once it is there.
    bool addSilentRoute() const;
    // Makes r1 a NAT (masquerade towards r2, only answers let back in) that
    // drops idle UDP mappings after 'udpSeconds' and idle TCP connections
    // after 'tcpSeconds'; the client then reaches the hosts as 10.200.2.1.
    bool setNat(int udpSeconds, int tcpSeconds) const;
    // r1 routes without translating again.
    bool clearNat() const;
    // Starts the delaying DNS forwarder (dns_delay arguments after the
    // default delay, e.g. {"--delay-for", "10.3.200.10.in-addr.arpa=300"})
    // and points the client's resolver at it; a running one is stopped first.
    bool startDnsDelay(int delayMs, const std::vector<std::string> &args = {});
    // Stops it; the client asks dnsmasq directly again.
    void stopDnsDelay();

private:
    std::string script(const std::string &args) const;
    // Runs a testnet.sh command that starts a server and prints its pid.
    pid_t startServer(const std::string &args) const;

    std::string prefix_;
    bool ok_ = false;
    std::string error_;
    pid_t responder_ = -1;
    pid_t dnsDelay_ = -1;
    int savedNet_ = -1;
    int savedMnt_ = -1;
};

// Holds the calling thread in the client namespace for a scope.
class ClientScope {
public:
    explicit ClientScope(TestNet &net) : net_(net), ok_(net.enterClient()) {}
    ~ClientScope() { if (ok_) net_.leaveClient(); }
    bool ok() const { return ok_; }
private:
    TestNet &net_;
    bool ok_;
};

} // namespace testnet
