#include "net/mstrace.h"

#include "platform/lookupwait.h"
#include "net/traceprobes.h"
#include "platform/errcodes.h"
#include "platform/monoclock.h"
#include "platform/resolver.h"
#include "platform/statetrace.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <span>

namespace {
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

std::int64_t nowUs() { return platform::MonoNowNs() / 1000; }

platform::IcmpEchoReply clearedReply()
{
    platform::IcmpEchoReply r;
    r.Address = kNone;
    return r;
}
} // namespace

// ---------------------------------------------------------------- TMSicmpTask

TMSicmpTask::TMSicmpTask(QObject *owner) : TMSicmp(owner), m_dns(new TDNS(this))
{
    m_dns->setObjectName(QStringLiteral("DNS"));
    m_dns->OnResolved = [this](QObject *) { DnsDone(); };
}

TMSicmpTask::~TMSicmpTask() { m_dns->OnResolved = nullptr; }

void TMSicmpTask::SetState(TState next)
{
    static constexpr const char *Names[] = {"idle", "looking-up", "testing", "probing"};
    platform::TraceState("trace", this, m_state, next, Names);
    m_state = next;
}

void TMSicmpTask::Start(const QString &host)
{
    if (Busy()) {
        // Checked before anything else, so a refused Start never ends the
        // run that is going on.
        DoError(kMsInProgress, QStringLiteral("Already in Progress"));
        return;
    }
    if (!platform::IcmpAvailable()) {
        // The program runs without ICMP; each trace says why it cannot, and
        // what allows it here (the window's one-time hint has the details).
        ResultCode = kMsNoIcmp;
        ResultText = QStringLiteral("ICMP disabled: this system lets Idlix open no ICMP socket (allow it with net.ipv4.ping_group_range or cap_net_raw)");
        HopHost.clear();
        HopAddrText.clear();
        QPointer<TMSicmpTask> self(this);
        DoError(ResultCode, ResultText);
        if (self)
            Finish();
        return;
    }
    SetState(TState::LookingUp);
    CancelRequested = false;
    ResultCode = 0;
    ResultText.clear();
    HopHost.clear();
    HopAddrText.clear();
    m_dns->Mode = Mode;
    m_dns->Lookup(host);
}

void TMSicmpTask::DnsDone()
{
    if (m_state != TState::LookingUp)
        return;
    DestAddr = m_dns->LookupAddr;
    DestIp = m_dns->LookupIp;
    TargetName = m_dns->LookupName;
    TargetAddrText = m_dns->LookupAddrText;
    ResultCode = m_dns->LookupError;
    ResultText = m_dns->LookupErrorText;
    QPointer<TMSicmpTask> self(this);
    if (ResultCode != 0)
        Fail();
    else
        BeginProbing();
    if (self)
        QCoreApplication::processEvents();
}

void TMSicmpTask::Fail()
{
    QPointer<TMSicmpTask> self(this);
    DoError(ResultCode, ResultText);
    if (self)
        SetState(TState::Idle);
}

void TMSicmpTask::Cancel()
{
    CancelRequested = true;
    m_dns->CancelLookup();
}

void TMSicmpTask::CheckCancel()
{
    if (CancelRequested)
        ResultCode = kMsCancelled;
}

void TMSicmpTask::Finish()
{
    QPointer<TMSicmpTask> self(this);
    if (auto handler = OnFinished)
        handler(this);
    if (self)
        SetState(TState::Idle);
}

void TMSicmpTask::FillHop()
{
    if (!ReplyIp.Valid()) {
        // Nobody answered: the line names the target.
        HopAddrText = TargetAddrText;
        HopHost = TargetName;
        return;
    }
    HopAddrText = QString::fromStdString(platform::AddressText(ReplyIp));
    HopHost = HopAddrText;
    if (!Resolve)
        return;
    // The name server may take its whole time-out over a hop without a
    // record; the window keeps running meanwhile.
    QPointer<TMSicmpTask> self(this);
    platform::HostEntry entry;
    const int rc = LookupAddressWaiting(ReplyIp, entry);
    if (self && rc == 0 && !entry.name.empty())
        HopHost = QString::fromStdString(entry.name);
}

void TMSicmpTask::EchoDone()
{
    QPointer<TMSicmpTask> self(this);
    QCoreApplication::processEvents();  // a Cancel click is taken here
    if (!self)
        return;
    if (!CheckResult()) {
        Fail();
        return;
    }
    FillHop();
    if (!self)
        return;
    CheckCancel();
    DoData();
    if (!self)
        return;
    if (!CancelRequested && NextProbe())
        SendEcho();
    else
        Finish();
}

// ------------------------------------------------------------------- TMSTrace

// The probing of one run. Held by shared pointer, so a step on the stack
// keeps what it works on even when a handler ends the run or starts another.
struct TMSTrace::TRun {
    std::shared_ptr<TTraceProbes> probes;
    THopTable hops;
    std::int64_t nextGiveUpUs = -1;  // when the next silent hop is given up; -1: none waits
    bool advancing = false;          // Advance is on the stack for this run
    bool again = false;              // ... and something asked it to go round again
};

TMSTrace::TMSTrace(QObject *owner) : TMSicmpTask(owner), m_giveUp(new QTimer(this))
{
    m_giveUp->setSingleShot(true);
    m_giveUp->setObjectName(QStringLiteral("GiveUpTimer"));
    connect(m_giveUp, &QTimer::timeout, this, [this] { Advance(); });
}

TMSTrace::~TMSTrace() { EndRun(); }

int TMSTrace::HopsForReplyTtl(int ttl, platform::Family family)
{
    if (ttl <= 0)
        return 0;
    // Hosts start IPv6 packets from 64, 128 or 255 (RFC 4861's default and
    // the usual systems'); only old IPv4 stacks start from 32.
    static constexpr int kV4[] = {32, 64, 128, 255};
    static constexpr int kV6[] = {64, 128, 255};
    for (int initial : family == platform::Family::IPv6 ? std::span<const int>(kV6)
                                                        : std::span<const int>(kV4))
        if (initial >= ttl)
            return initial - ttl + 1;
    return 0;
}

void TMSTrace::BeginProbing()
{
    m_hopsExpected = 0;
    ++m_serial;
    if (!SendTestPacket) {
        StartHops();
        return;
    }
    SetState(TState::Testing);
    if (DestIp == platform::IpAddress::V4(platform::InetAddr("127.0.0.1"))) {
        // Our own loopback answers for certain, one hop away.
        EchoReply.Status = platform::kIpSuccess;
        EchoReply.Options.Ttl = 255;
        ReplyIp = DestIp;
        ResultCode = 0;
        TestDone();
        return;
    }
    ProbeOptions.Ttl = std::uint8_t(TimeToLive());
    // On a worker whatever Mode says.
    SendOnWorker([this] { TestDone(); });
}

void TMSTrace::TestDone()
{
    if (!CheckResult() || ResultCode != 0) {
        // The target does not answer: no hop is probed.
        Fail();
        return;
    }
    m_hopsExpected = HopsForReplyTtl(EchoReply.Options.Ttl, DestIp.family);
    QPointer<TMSTrace> self(this);
    if (auto handler = OnTest)
        handler(this);
    if (!self || State() != TState::Testing)
        return;
    StartHops();
}

void TMSTrace::StartHops()
{
    SetState(TState::Probing);
    EndRun();
    auto run = std::make_shared<TRun>();
    run->hops.Reset(TimeToLive(), TimeOut());
    std::function<void()> wake;
    if (Mode == wsmAsync) {
        // Called on a probe's thread; the probes are closed (and this never
        // called again) before this object goes, and a call already posted
        // goes with the object's pending events.
        const std::weak_ptr<TRun> which = run;
        wake = [this, which] {
            QMetaObject::invokeMethod(
                this,
                [this, which] {
                    if (which.lock() == m_run)
                        Advance();
                },
                Qt::QueuedConnection);
        };
    }
    run->probes = std::make_shared<TTraceProbes>(std::move(wake));
    m_run = run;
    if (Mode == wsmAsync)
        Advance();
    else
        RunBlocking(run);
}

void TMSTrace::RunBlocking(const std::shared_ptr<TRun> &run)
{
    QPointer<TMSTrace> self(this);
    for (;;) {
        Advance();
        if (!self || m_run != run || State() != TState::Probing)
            return;
        // No give-up due: the probes out end by their own time-out at the latest.
        const std::int64_t untilNs = run->nextGiveUpUs >= 0
            ? run->nextGiveUpUs * 1000
            : platform::MonoNowNs() + (std::int64_t(TimeOut()) + 1000) * 1'000'000;
        run->probes->WaitUntil(untilNs);
    }
}

void TMSTrace::TakeNotes(TRun &run)
{
    for (const TTraceProbes::TNote &note : run.probes->Take()) {
        switch (note.kind) {
        case TTraceProbes::TNote::Left:
            run.hops.Left(note.ttl, note.atUs);
            break;
        case TTraceProbes::TNote::Echo:
            run.hops.Answered(note.ttl, note.code, note.reply, note.rttUs,
                              TTraceProbes::NameFollows(Resolve, note.code, note.from),
                              note.from);
            break;
        case TTraceProbes::TNote::Name:
            run.hops.Named(note.ttl, note.name);
            break;
        }
    }
    run.nextGiveUpUs = run.hops.GiveUp(nowUs());
}

void TMSTrace::Advance()
{
    const std::shared_ptr<TRun> run = m_run;
    if (!run)
        return;
    if (run->advancing) {
        run->again = true;
        return;
    }
    QPointer<TMSTrace> self(this);
    const auto live = [&] { return self && m_run == run && State() == TState::Probing; };
    run->advancing = true;
    do {
        run->again = false;
        if (CancelRequested) {
            EndCancelled();
            break;
        }
        TakeNotes(*run);
        while (const int ttl = run->hops.Ready()) {
            if (Mode == wsmBlocking) {
                // Between hops the window handles what is pending; a Cancel
                // click is taken here.
                QCoreApplication::processEvents();
                if (!live())
                    break;
                if (CancelRequested) {
                    EndCancelled();
                    break;
                }
            }
            if (!ReportHop(run, ttl))
                break;
            TakeNotes(*run);
        }
        if (!live())
            break;
        while (const int ttl = run->hops.NextToSend()) {
            run->hops.Sent(ttl, nowUs());
            if (!run->probes->Send(ttl, DestIp, PacketSize(), TimeOut(), Resolve)) {
                // No thread to be had: the hop fails when its turn comes.
                run->hops.Answered(ttl, platform::kErrNoBufs, clearedReply(), 0, false);
                run->again = true;
            }
        }
        run->nextGiveUpUs = run->hops.GiveUp(nowUs());
        if (run->hops.Ready())
            run->again = true;  // time went by in the handlers: more is due
        if (Mode == wsmAsync) {
            if (run->nextGiveUpUs < 0)
                m_giveUp->stop();
            else
                m_giveUp->start(int(std::max<std::int64_t>(0, run->nextGiveUpUs - nowUs() + 999) / 1000));
        }
    } while (live() && run->again);
    run->advancing = false;
}

bool TMSTrace::ReportHop(const std::shared_ptr<TRun> &run, int ttl)
{
    const THopTable::THop &hop = run->hops.Hop(ttl);
    ProbeOptions.Ttl = std::uint8_t(ttl);
    if (hop.stage == THopTable::TStage::GivenUp) {
        // Silent while the hops after it answered: as good as timed out.
        ResultCode = platform::kIpReqTimedOut;
        EchoReply = clearedReply();
        ReplyIp = platform::IpAddress{};
    } else {
        ResultCode = hop.code;
        EchoReply = hop.reply;
        ReplyIp = hop.from;
    }
    const std::string name = hop.name;
    if (!CheckResult()) {
        EndRun();
        Fail();
        return false;
    }
    if (!ReplyIp.Valid()) {
        // Nobody answered: the line names the target.
        HopAddrText = TargetAddrText;
        HopHost = TargetName;
    } else {
        HopAddrText = QString::fromStdString(platform::AddressText(ReplyIp));
        HopHost = name.empty() ? HopAddrText : QString::fromStdString(name);
    }
    QPointer<TMSTrace> self(this);
    DoData();
    if (!self || m_run != run || State() != TState::Probing)
        return false;
    run->hops.Reported();
    if (ResultCode == platform::kIpSuccess || ttl >= run->hops.LastHop()) {
        EndRun();
        Finish();
        return false;
    }
    return true;
}

void TMSTrace::Cancel()
{
    TMSicmpTask::Cancel();
    if (State() != TState::Testing && State() != TState::Probing)
        return;
    // The test echo still out is dropped; the probes when the run ends.
    DetachWorker();
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_serial] {
            if (serial == m_serial && CancelRequested
                && (State() == TState::Testing || State() == TState::Probing))
                EndCancelled();
        },
        Qt::QueuedConnection);
}

void TMSTrace::EndCancelled()
{
    const int ttl = m_run ? m_run->hops.NextToReport() : 1;
    EndRun();
    DetachWorker();
    ProbeOptions.Ttl = std::uint8_t(ttl);
    ResultCode = kMsCancelled;
    EchoReply = clearedReply();
    ReplyIp = platform::IpAddress{};
    QPointer<TMSTrace> self(this);
    DoData();
    if (self && Busy())
        Finish();
}

void TMSTrace::EndRun()
{
    if (m_run) {
        m_run->probes->Close();
        m_run.reset();
    }
    m_giveUp->stop();
}

QString TMSTrace::HopText() const
{
    if (!Busy())
        return {};
    const QString n = QString::number(ProbeOptions.Ttl);
    const QString rtt = QString::number(EchoReply.RoundTripTime);
    const QChar tab = QLatin1Char('\t');
    switch (ResultCode) {
    case platform::kIpSuccess:
        return n + tab + rtt + tab + HopHost + tab + QStringLiteral("reached");
    case platform::kIpTtlExpiredTransit:
        return n + tab + rtt + tab + HopHost;
    case platform::kIpReqTimedOut:
        return n + tab + QStringLiteral("*") + tab + QStringLiteral("timed out");
    case platform::kIpDestHostUnreachable:
        return QStringLiteral("From ") + HopHost + QStringLiteral(": ") + ResultText;
    case kMsCancelled:
        return QStringLiteral("<cancel>");
    default:
        return HopHost + QStringLiteral(": ") + ResultText;
    }
}

QString TMSTrace::SummaryText() const
{
    const QString n = QString::number(ProbeOptions.Ttl);
    if (ResultCode == kMsCancelled)
        return QStringLiteral("Trace Cancelled after %1 hops.").arg(int(ProbeOptions.Ttl) - 1);
    if (ResultCode == platform::kIpSuccess) {
        QString text = HopHost + QStringLiteral(" reached in ") + n + QStringLiteral(" hops.");
        if (m_hopsExpected != 0)
            text += QStringLiteral(" (expected: %1)").arg(m_hopsExpected);
        return text;
    }
    // No run took place (ICMP disabled): there is no host to name.
    if (HopHost.isEmpty())
        return ResultText;
    return HopHost + QStringLiteral(": ") + ResultText;
}
