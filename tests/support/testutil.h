// Small helpers shared by the tests.
#pragma once

#include <QString>

class QLabel;
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace testutil {

// Runs the event loop until pred() holds or the time-out passes; returns pred().
bool waitFor(const std::function<bool()> &pred, std::chrono::milliseconds timeout);

// Runs the event loop for the given time.
void pump(std::chrono::milliseconds span);

// The bytes of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// Resident memory of this process in KiB (VmRSS), 0 when unknown.
long residentKiB();

// What a modal message box showed.
struct SeenBox {
    bool shown = false;
    QString title, text;
    int icon = 0;         // QMessageBox::Icon
    int buttons = 0;      // how many
    bool plainText = false;
};

// Runs 'open', which is expected to open a modal QMessageBox, reads the box
// and closes it with its default button. shown stays false when none opened.
SeenBox readModalBox(const std::function<void()> &open);

// True when label lays its text out as plain text would, the characters of
// any tags included; a label that took "<b>x</b>" for markup lays out less
// (only a bold x). (Widget tests only.)
bool showsLiterally(const QLabel *label);

// True when the process may build network namespaces and open raw sockets.
bool isRoot();

// Runs body in a forked child that has really lost ICMP access: a fresh
// network namespace (whose ping_group_range allows nobody) and CAP_NET_RAW
// dropped. Root only. Returns the child's exit status: body's result (0 for
// success, else the number of the step that failed), 10..12 when the child
// could not be set up, -1 when it did not exit normally.
int withoutIcmpAccess(const std::function<int()> &body);

// Counts the ticks of a 100 ms timer while it lives: the proof that the event
// loop ran during a wait.
struct Ticker {
    Ticker() { QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; }); timer.start(100); }
    QTimer timer;
    int ticks = 0;
};

// A scratch program directory: IDLIX_DIR points at it while the object lives.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return dir_.filePath(name); }
private:
    QTemporaryDir dir_;
    QByteArray old_;
    bool hadOld_ = false;
};

// Keeps `threads` cores busy with spinning threads while it lives: a
// machine with no time to spare, for timing tests.
class BusyCores {
public:
    explicit BusyCores(int threads);
    ~BusyCores();
private:
    std::atomic<bool> stop_{false};
    std::atomic<long> spins_{0};
    std::vector<std::thread> threads_;
};

// Files may grow to at most 'bytes' while it lives (root is bound by this
// too), with the signal that would end the process ignored, so a write past
// the limit comes back short and then fails with EFBIG: a full disk without
// a disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    bool ok() const { return ok_; }
private:
    unsigned long long oldCur_ = 0;
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

// A file written whole (the test fails when it cannot be).
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace testutil
