// Simulated line: a phone book that is an INI file, one section per entry,
// whose dial walks through the states the entry lists. It lets the program be
// shown and tested on machines without a modem.
//
//   [Provider]
//   Steps=0,1,2,3,4,5,14,8192   states sent in order
//   StepMs=300                  pause before each state
//   DialResult=0                immediate result of a dial (602 = already up)
//   FailAt=                     a state at which the error FailCode comes instead
//   FailCode=691
//   User= / Password=           when set, other credentials fail at state 5 (691)
//   DropAfter=0                 seconds after Connected until the line drops
//   IdleTimeout=0               seconds after the last probe (or Connected)
//                               until the line drops as idle (628); 0 = never
//   DeviceType=modem
//   DeviceName=Simulated modem
#include "dialer/dialup_backend.h"
#include "platform/boundedread.h"
#include "platform/inifile.h"

#include <QTimer>

#include <algorithm>
#include <vector>

namespace dialer {

using platform::IniFindValue;
using platform::IniHasSection;
using platform::IniParseInteger;
using platform::IniSectionNames;
using platform::ReadBoundedText;
using platform::TBoundedText;
using platform::TLineEnds;
using platform::TReadLimits;
using platform::TReadStatus;

namespace {

// A phone book is a few lines per entry: what lies past its first MiB is not
// read, nor is a line no entry could need.
const TReadLimits kBookLimits{1024 * 1024, 1 << 18, 4096, TLineEnds::Lf, {}};
// Bounds that keep a mistyped value from making a dial last for ever.
constexpr int kStepsMax = 100;
constexpr int kStepMsMax = 60000;
constexpr int kDropAfterMax = 7 * 24 * 3600;

bool readBook(const QString &file, QByteArray &text)
{
    TBoundedText read = ReadBoundedText(file, kBookLimits);
    if (read.status != TReadStatus::Read)
        return false;
    text = std::move(read.text);
    return true;
}

// A whole number in [lo, hi] or nothing.
std::optional<int> number(const QByteArray &v, int lo, int hi)
{
    const std::optional<int> n = IniParseInteger(v);
    if (!n || *n < lo || *n > hi)
        return std::nullopt;
    return n;
}

class SimLine;
// The simulated lines in this process, whose idle timers the program's
// traffic restarts (GUI thread only); process-wide as the handle table.
std::vector<SimLine *> &SimLines()
{
    static std::vector<SimLine *> lines;
    return lines;
}

class SimLine : public DialLine {
public:
    SimLine(const QString &file, const QString &entry, const SimEntry &e, bool credentialsOk)
        : DialLine(file, entry), e_(e), credentialsOk_(credentialsOk)
    {
        status_.deviceType = e.deviceType;
        status_.deviceName = e.deviceName;
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { step(); });
        idle_.setSingleShot(true);
        idle_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&idle_, &QTimer::timeout, this, [this] {
            if (live()) {
                timer_.stop();
                reportDrop(kDialErrIdleTimeout);
            }
        });
        SimLines().push_back(this);
        schedule(e_.stepMs);
    }
    ~SimLine() override { std::erase(SimLines(), this); }

    void hangUp() override
    {
        markHungUp();
        timer_.stop();
        idle_.stop();
    }

    // Traffic went over the line: its idle time starts again.
    void traffic()
    {
        if (idle_.isActive())
            idle_.start();
    }

private:
    void schedule(int ms)
    {
        if (!live())
            return;
        timer_.start(ms);
    }

    void step()
    {
        if (dropping_) {
            reportDrop(kDialErrRemoteDisconnection);
            return;
        }
        // A refused password is noticed once authentication has started, or
        // at the latest before the line would come up.
        if (failAuthNext_) {
            reportFailure(kDialErrAuthFailure);
            return;
        }
        if (next_ >= e_.steps.size())
            return;
        const unsigned s = e_.steps[next_++];
        if (e_.failAt && s == *e_.failAt) {
            reportFailure(e_.failCode);
            return;
        }
        if (!credentialsOk_ && s == kDialConnected) {
            reportFailure(kDialErrAuthFailure);
            return;
        }
        if (s == kDialDisconnected) {
            reportDrop(kDialErrRemoteDisconnection);
            return;
        }
        reportState(s);
        if (s == kDialConnected && e_.idleTimeout > 0)
            idle_.start(e_.idleTimeout * 1000);
        if (s == kDialAuthenticate && !credentialsOk_)
            failAuthNext_ = true;
        if (s == kDialConnected && e_.dropAfter > 0) {
            dropping_ = true;
            schedule(e_.dropAfter * 1000);
            return;
        }
        if (next_ < e_.steps.size() || failAuthNext_)
            schedule(e_.stepMs);
    }

    SimEntry e_;
    bool credentialsOk_;
    size_t next_ = 0;
    bool failAuthNext_ = false;
    bool dropping_ = false;
    QTimer timer_;
    QTimer idle_;       // IdleTimeout=: runs while the line is up
};

} // namespace

int SimParseEntry(const QByteArray &text, const QString &entry, SimEntry &out)
{
    out = SimEntry();
    const QByteArray section = entry.toUtf8();
    if (entry.isEmpty() || !IniHasSection(text, section))
        return kDialErrEntryNotFound;
    auto value = [&](const char *key) { return IniFindValue(text, section, key); };

    if (auto v = value("Steps"); v && !v->isEmpty()) {
        out.steps.clear();
        const QList<QByteArray> parts = v->split(',');
        if (parts.size() > kStepsMax)
            return kDialErrCorruptPhoneBook;
        for (const QByteArray &p : parts) {
            const auto n = number(p.trimmed(), 0, 0xFFFF);
            if (!n)
                return kDialErrCorruptPhoneBook;
            out.steps.push_back(unsigned(*n));
        }
    }
    struct IntKey { const char *key; int *dest; int lo, hi; } ints[] = {
        {"StepMs", &out.stepMs, 0, kStepMsMax},
        {"DialResult", &out.dialResult, 0, 0xFFFF},
        {"FailCode", &out.failCode, 1, 0xFFFF},
        {"DropAfter", &out.dropAfter, 0, kDropAfterMax},
        {"IdleTimeout", &out.idleTimeout, 0, kDropAfterMax},
    };
    for (const IntKey &k : ints) {
        if (auto v = value(k.key); v && !v->isEmpty()) {
            const auto n = number(*v, k.lo, k.hi);
            if (!n)
                return kDialErrCorruptPhoneBook;
            *k.dest = *n;
        }
    }
    if (auto v = value("FailAt"); v && !v->isEmpty()) {
        const auto n = number(*v, 0, 0xFFFF);
        if (!n)
            return kDialErrCorruptPhoneBook;
        out.failAt = unsigned(*n);
    }
    out.user = QString::fromUtf8(value("User").value_or(QByteArray()));
    out.password = QString::fromUtf8(value("Password").value_or(QByteArray()));
    if (auto v = value("DeviceType"); v && !v->isEmpty())
        out.deviceType = QString::fromUtf8(*v);
    if (auto v = value("DeviceName"); v && !v->isEmpty())
        out.deviceName = QString::fromUtf8(*v);
    return 0;
}

void SimNoteTraffic()
{
    for (SimLine *line : SimLines())
        line->traffic();
}

int SimEnumEntries(const QString &file, QStringList &names)
{
    QByteArray text;
    if (!readBook(file, text))
        return kDialErrCannotOpenPhoneBook;
    names = IniSectionNames(text);
    return 0;
}

int SimStart(const QString &file, const DialParams &params, std::unique_ptr<DialLine> &line)
{
    QByteArray text;
    if (!readBook(file, text))
        return kDialErrCannotOpenPhoneBook;
    SimEntry e;
    if (const int rc = SimParseEntry(text, params.entry, e); rc != 0)
        return rc;
    if (e.dialResult != 0)
        return e.dialResult;
    const bool credentialsOk = (e.user.isEmpty() || e.user == params.userName)
                               && (e.password.isEmpty() || e.password == params.password);
    line = std::make_unique<SimLine>(file, params.entry, e, credentialsOk);
    return 0;
}

} // namespace dialer
