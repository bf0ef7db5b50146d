// A TCP server on loopback whose behaviour a test writes down step by step:
// read the request, send these bytes, pause, close or reset. It runs on its
// own thread (the client under test runs on the GUI thread) and records every
// byte each connection received, so tests check requests exactly.
#pragma once

#include <QByteArray>
#include <atomic>
#include <functional>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

struct ScriptStep {
    enum Kind { ReadRequest, ReadBytes, Send, Flood, Pause, Close, Reset };
    Kind kind;
    QByteArray data;
    int n = 0;
};

// What to do with one accepted connection.
class Script {
public:
    // Reads until the request header's empty line has arrived.
    Script &readRequest() { return add({ScriptStep::ReadRequest, {}, 0}); }
    // Reads until n bytes in all have arrived on this connection.
    Script &readBytes(int n) { return add({ScriptStep::ReadBytes, {}, n}); }
    // Sends the bytes as one write (no delay: each write is its own segment).
    Script &send(const QByteArray &bytes) { return add({ScriptStep::Send, bytes, 0}); }
    // Sends the bytes over and over until the client closes (or the server
    // stops): a peer that never ends what it is sending.
    Script &flood(const QByteArray &bytes) { return add({ScriptStep::Flood, bytes, 0}); }
    Script &pause(int ms) { return add({ScriptStep::Pause, {}, ms}); }
    // Orderly close (FIN); also what happens after the last step.
    Script &close() { return add({ScriptStep::Close, {}, 0}); }
    // Abortive close (RST).
    Script &reset() { return add({ScriptStep::Reset, {}, 0}); }
    // Sends the bytes in pieces cut at the given offsets, with a pause between.
    Script &sendSplit(const QByteArray &bytes, const std::vector<int> &cuts, int pauseMs);

    std::vector<ScriptStep> steps;

private:
    Script &add(ScriptStep s) { steps.push_back(std::move(s)); return *this; }
};

class ScriptServer {
public:
    // Which loopback address it listens on: 127.0.0.1 or ::1.
    enum class Loopback { V4, V6 };
    // One script per connection, in the order they are accepted; connections
    // beyond the list are closed at once.
    explicit ScriptServer(std::vector<Script> scripts, Loopback on = Loopback::V4);
    ~ScriptServer();
    ScriptServer(const ScriptServer &) = delete;
    ScriptServer &operator=(const ScriptServer &) = delete;

    std::uint16_t port() const { return port_; }
    // Bytes received on connection i (0-based), so far.
    QByteArray received(int i) const;
    int connections() const { return accepted_.load(); }
    // Bytes sent on connection i (0-based), so far.
    qint64 sent(int i) const;
    // Waits until the first n connections have run their scripts to the end,
    // so that what they sent is all counted; false after timeoutMs. A client
    // may have read the last byte before the server thread has counted it.
    bool waitServed(int n, int timeoutMs = 5000) const;

    // A loopback port nobody listens on (bound and released again).
    static std::uint16_t unusedPort();

private:
    void run();
    void serve(int fd, const Script &script, int index);
    bool readUntil(int fd, int index, const std::function<bool(const QByteArray &)> &done);
    bool sendAll(int fd, int index, const QByteArray &bytes);

    std::vector<Script> scripts_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> served_{0};
    mutable std::mutex mutex_;
    std::vector<QByteArray> received_;
    std::vector<qint64> sent_;
    std::thread thread_;
};

} // namespace testsupport
