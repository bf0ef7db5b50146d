#include "net/mstrace.h"

#include "net/lookupwait.h"
#include "platform/resolver.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
}

// ---------------------------------------------------------------- TMSicmpTask

TMSicmpTask::TMSicmpTask(QObject *owner) : TMSicmp(owner), m_dns(new TDNS(this))
{
    m_dns->setObjectName(QStringLiteral("DNS"));
    m_dns->OnResolved = [this](QObject *) { DnsDone(); };
}

TMSicmpTask::~TMSicmpTask() { m_dns->OnResolved = nullptr; }

void TMSicmpTask::SetState(TState next)
{
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
        // The program runs without ICMP; each trace says why it cannot.
        ResultCode = kMsNoIcmp;
        ResultText = QStringLiteral("ICMP disabled: Winsock or icmp.dll not found");
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
    const std::uint32_t addr = EchoReply.Address;
    if (addr == kNone) {
        // Nobody answered: the line names the target.
        HopAddrText = TargetAddrText;
        HopHost = TargetName;
        return;
    }
    HopAddrText = QString::fromStdString(platform::InetNtoa(addr));
    HopHost = HopAddrText;
    if (!Resolve)
        return;
    // The name server may take its whole time-out over a hop without a
    // record; the window keeps running meanwhile.
    QPointer<TMSicmpTask> self(this);
    platform::HostEntry entry;
    const int rc = LookupAddrWaiting(addr, entry);
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

TMSTrace::TMSTrace(QObject *owner) : TMSicmpTask(owner) {}

int TMSTrace::HopsForReplyTtl(int ttl)
{
    if (ttl <= 0)
        return 0;
    for (int initial : {32, 64, 128, 255})
        if (initial >= ttl)
            return initial - ttl + 1;
    return 0;
}

void TMSTrace::BeginProbing()
{
    m_hopsExpected = 0;
    if (!SendTestPacket) {
        SetState(TState::Probing);
        ProbeOptions.Ttl = 1;
        SendEcho();
        return;
    }
    SetState(TState::Testing);
    if (DestAddr == platform::InetAddr("127.0.0.1")) {
        // Our own loopback answers for certain, one hop away.
        EchoReply.Status = 0;
        EchoReply.Options.Ttl = 255;
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
    m_hopsExpected = HopsForReplyTtl(EchoReply.Options.Ttl);
    QPointer<TMSTrace> self(this);
    if (auto handler = OnTest)
        handler(this);
    if (!self)
        return;
    SetState(TState::Probing);
    ProbeOptions.Ttl = 1;
    SendEcho();
}

bool TMSTrace::NextProbe()
{
    if (ResultCode == 0)
        return false;  // the target answered
    if (ProbeOptions.Ttl >= TimeToLive())
        return false;  // hop limit
    ++ProbeOptions.Ttl;
    return true;
}

QString TMSTrace::HopText() const
{
    if (!Busy())
        return {};
    const QString n = QString::number(ProbeOptions.Ttl);
    const QString rtt = QString::number(EchoReply.RoundTripTime);
    const QChar tab = QLatin1Char('\t');
    switch (ResultCode) {
    case 0:
        return n + tab + rtt + tab + HopHost + tab + QStringLiteral("reached");
    case 11013:
        return n + tab + rtt + tab + HopHost;
    case 11010:
        return n + tab + QStringLiteral("*") + tab + QStringLiteral("timed out");
    case 11003:
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
    if (ResultCode == 0) {
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
