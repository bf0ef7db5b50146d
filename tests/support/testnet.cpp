#include "testnet.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <ctime>
#include <unistd.h>

namespace testnet {

namespace {

const char *roleName(Role r)
{
    switch (r) {
    case Role::Client: return "client";
    case Role::R1: return "r1";
    case Role::R2: return "r2";
    case Role::Host: return "host";
    case Role::Quiet: return "quiet";
    case Role::Slow: return "slow";
    case Role::Dns: return "dns";
    case Role::Mute: return "mute";
    case Role::Beyond: return "beyond";
    }
    return "client";
}

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int shell(const std::string &command)
{
    const int rc = std::system(command.c_str());
    if (rc == -1)
        return -1;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
}

bool bindOver(const std::string &from, const char *onto)
{
    struct stat st;
    if (stat(from.c_str(), &st) != 0)
        return true;  // nothing to show: keep the machine's file
    return mount(from.c_str(), onto, nullptr, MS_BIND, nullptr) == 0;
}

} // namespace

std::string TestNet::skipReason()
{
    if (geteuid() != 0)
        return "the test network needs root (network namespaces, raw sockets); skipped";
    if (access(IDLIX_TESTNET_SCRIPT, X_OK) != 0)
        return "the test network script is missing";
    return {};
}

TestNet::TestNet() : prefix_("idx" + std::to_string(getpid()) + "-")
{
    if (!skipReason().empty()) {
        error_ = skipReason();
        return;
    }
    shell(script("clean-stale") + " >/dev/null 2>&1");
    std::string out = "/tmp/" + prefix_ + "up.log";
    if (shell(script("up " + prefix_) + " >" + out + " 2>&1") != 0) {
        error_ = "building the test network failed, see " + out;
        return;
    }
    ok_ = true;
}

TestNet::~TestNet()
{
    if (savedNet_ >= 0)
        leaveClient();
    stopResponder();
    stopDnsDelay();
    if (skipReason().empty())
        shell(script("down " + prefix_) + " >/dev/null 2>&1");
}

std::string TestNet::script(const std::string &args) const
{
    return std::string("bash ") + IDLIX_TESTNET_SCRIPT + " " + args;
}

std::string TestNet::nsName(Role role) const { return prefix_ + roleName(role); }

bool TestNet::enterClient()
{
    if (!ok_ || savedNet_ >= 0)
        return false;
    savedNet_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    savedMnt_ = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    const std::string path = "/run/netns/" + nsName(Role::Client);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool good = savedNet_ >= 0 && savedMnt_ >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        close(fd);
    // A mount namespace of this thread's own, so the client's resolv.conf
    // and hosts can be shown at /etc without touching the machine's.
    good = good && unshare(CLONE_NEWNS) == 0
           && mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0;
    const std::string etc = "/etc/netns/" + nsName(Role::Client) + "/";
    good = good && bindOver(etc + "resolv.conf", "/etc/resolv.conf")
           && bindOver(etc + "hosts", "/etc/hosts") && bindOver(etc + "gai.conf", "/etc/gai.conf");
    if (!good) {
        error_ = std::string("entering the client namespace failed: ") + std::strerror(errno);
        leaveClient();
        return false;
    }
    return true;
}

void TestNet::leaveClient()
{
    if (savedMnt_ >= 0) {
        setns(savedMnt_, CLONE_NEWNS);
        close(savedMnt_);
        savedMnt_ = -1;
    }
    if (savedNet_ >= 0) {
        setns(savedNet_, CLONE_NEWNET);
        close(savedNet_);
        savedNet_ = -1;
    }
}

int TestNet::run(Role role, const std::string &command) const
{
    return shell("ip netns exec " + nsName(role) + " sh -c " + quote(command));
}

bool TestNet::setPingAllowed(bool allowed) const
{
    return run(Role::Client, std::string("sysctl -qw net.ipv4.ping_group_range='")
                                 + (allowed ? "0 2147483647" : "1 0") + "'")
           == 0;
}

bool TestNet::startResponder(const std::vector<std::string> &args)
{
    stopResponder();
    const std::string ready = "/tmp/" + prefix_ + "responder.ready";
    unlink(ready.c_str());
    const std::string ns = nsName(Role::Slow);
    std::vector<std::string> argv = {"ip", "netns", "exec", ns, IDLIX_ECHO_RESPONDER};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--ready");
    argv.push_back(ready);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        std::vector<char *> cargv;
        for (auto &a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execvp("ip", cargv.data());
        _exit(127);
    }
    responder_ = pid;
    for (int i = 0; i < 100; ++i) {
        if (access(ready.c_str(), F_OK) == 0)
            return true;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            responder_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void TestNet::stopResponder()
{
    if (responder_ <= 0)
        return;
    kill(responder_, SIGTERM);
    int status;
    waitpid(responder_, &status, 0);
    responder_ = -1;
}

pid_t TestNet::startNginx(Role role, const std::string &root, int port, Listen listen) const
{
    const char *family = listen == Listen::V4 ? "4" : listen == Listen::V6 ? "6" : "both";
    return startServer("nginx " + prefix_ + " " + roleName(role) + " " + quote(root) + " "
                       + std::to_string(port) + " " + family);
}

pid_t TestNet::startTlsNginx(Role role, const std::string &root, int port, const std::string &cert,
                            const std::string &key, Listen listen) const
{
    const char *family = listen == Listen::V4 ? "4" : listen == Listen::V6 ? "6" : "both";
    return startServer("nginx " + prefix_ + " " + roleName(role) + " " + quote(root) + " " + std::to_string(port)
                       + " " + family + " " + quote(cert) + " " + quote(key));
}

bool TestNet::makeCerts(const std::string &dir)
{
    return shell(std::string("bash ") + IDLIX_TESTNET_SCRIPT + " certs " + quote(dir) + " >/dev/null") == 0;
}

pid_t TestNet::startFingerd(Role role, int port) const
{
    return startServer("fingerd " + prefix_ + " " + roleName(role) + " " + std::to_string(port));
}

pid_t TestNet::startServer(const std::string &args) const
{
    const std::string cmd = script(args);
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    char line[64] = {};
    const bool got = fgets(line, sizeof line, p) != nullptr;
    pclose(p);
    const long pid = got ? std::strtol(line, nullptr, 10) : -1;
    return pid > 0 ? pid_t(pid) : -1;
}

void TestNet::stopNginx(pid_t pid)
{
    if (pid > 0)
        kill(pid, SIGTERM);
}

bool TestNet::addName(const std::string &address, const std::string &name) const
{
    // testnet.sh keeps dnsmasq's extra hosts file and pid under its state
    // directory, named with this network's prefix.
    const std::string dir = "/run/idlix-testnet/" + prefix_;
    std::ofstream hosts(dir + "hosts", std::ios::app);
    if (!hosts)
        return false;
    hosts << address << ' ' << name << '\n';
    hosts.close();
    std::ifstream pidFile(dir + "dnsmasq.pid");
    pid_t pid = 0;
    if (!(pidFile >> pid) || pid <= 0)
        return false;
    return kill(pid, SIGHUP) == 0;
}

const char *const TestNet::kPreferIPv4 = "precedence ::1/128 50\n"
                                         "precedence ::/0 40\n"
                                         "precedence 2002::/16 30\n"
                                         "precedence ::/96 20\n"
                                         "precedence ::ffff:0:0/96 100\n";

bool TestNet::setGaiConf(const std::string &lines) const
{
    const std::string path = "/etc/netns/" + nsName(Role::Client) + "/gai.conf";
    if (access("/etc/gai.conf", F_OK) != 0 || access(path.c_str(), F_OK) != 0)
        return false;
    // Written in place: a bind mount shows this very file, not a new one.
    {
        std::ofstream out(path, std::ios::trunc);
        out << "reload yes\n" << lines;
        if (!out)
            return false;
    }
    // The library rereads the file when its modification time changes; two
    // writes within one clock tick would look the same, so each gets a time
    // of its own.
    static long long serial = 0;
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[1] = times[0];
    times[1].tv_sec += ++serial;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool TestNet::silenceNameServer(bool silent) const
{
    std::ifstream pidFile("/run/idlix-testnet/" + prefix_ + "dnsmasq.pid");
    pid_t pid = 0;
    if (!(pidFile >> pid) || pid <= 0)
        return false;
    return kill(pid, silent ? SIGSTOP : SIGCONT) == 0;
}

bool TestNet::dropEverything(Role role, bool on, Listen families) const
{
    const std::string table = std::string(families == Listen::V4 ? "ip" : families == Listen::V6 ? "ip6" : "inet")
                              + " idxdrop";
    if (!on)
        return run(role, "nft delete table " + table) == 0;
    std::string command = "nft add table " + table;
    for (const char *hook : {"input", "forward", "output"})
        command += std::string(" && nft 'add chain ") + table + " " + hook + "s { type filter hook " + hook
                   + " priority 0 ; policy drop ; }'";
    return run(role, command) == 0;
}

bool TestNet::addSilentRoute() const
{
    return ok_ && shell(script("silent " + prefix_) + " >/dev/null 2>&1") == 0;
}

bool TestNet::setNat(int udpSeconds, int tcpSeconds) const
{
    return ok_ && shell(script("nat " + prefix_ + " " + std::to_string(udpSeconds) + " " +
                               std::to_string(tcpSeconds)) + " >/dev/null 2>&1") == 0;
}

bool TestNet::clearNat() const
{
    return ok_ && shell(script("nat-off " + prefix_) + " >/dev/null 2>&1") == 0;
}

bool TestNet::startDnsDelay(int delayMs, const std::vector<std::string> &args)
{
    stopDnsDelay();
    std::string command = "dnsdelay " + prefix_ + " " + IDLIX_DNS_DELAY + " " + std::to_string(delayMs);
    for (const std::string &a : args)
        command += " " + quote(a);
    dnsDelay_ = startServer(command);
    return dnsDelay_ > 0;
}

void TestNet::stopDnsDelay()
{
    if (dnsDelay_ <= 0)
        return;
    kill(dnsDelay_, SIGTERM);
    dnsDelay_ = -1;
    shell(script("dnsdirect " + prefix_) + " >/dev/null 2>&1");
}

std::vector<std::string> TestNet::nameServerQueries() const
{
    // dnsmasq logs each question as "... dnsmasq[pid]: query[TYPE] NAME from ADDR".
    std::vector<std::string> out;
    std::ifstream log("/run/idlix-testnet/" + prefix_ + "dnsmasq.log");
    std::string line;
    while (std::getline(log, line)) {
        const auto at = line.find(": query[");
        if (at == std::string::npos)
            continue;
        const auto typeStart = at + 8;
        const auto typeEnd = line.find(']', typeStart);
        if (typeEnd == std::string::npos || typeEnd + 2 > line.size())
            continue;
        const auto nameEnd = line.find(' ', typeEnd + 2);
        out.push_back(line.substr(typeStart, typeEnd - typeStart) + ' ' +
                      line.substr(typeEnd + 2, nameEnd == std::string::npos
                                                   ? std::string::npos
                                                   : nameEnd - typeEnd - 2));
    }
    return out;
}

} // namespace testnet
