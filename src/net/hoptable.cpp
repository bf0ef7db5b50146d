#include "net/hoptable.h"

#include <algorithm>

void THopTable::Reset(int hopLimit, int timeOutMs)
{
    hops_.assign(std::size_t(std::max(hopLimit, 0)), THop{});
    timeOutMs_ = std::max(timeOutMs, 0);
    next_ = 1;
    report_ = 1;
    last_ = int(hops_.size());
}

int THopTable::NextToSend() const
{
    if (next_ > last_ || next_ >= report_ + kWindow)
        return 0;
    return next_;
}

void THopTable::Sent(int ttl, std::int64_t nowUs)
{
    if (ttl != next_ || !Counts(ttl))
        return;
    THop &hop = At(ttl);
    hop.stage = TStage::Out;
    hop.left = false;
    hop.sentUs = nowUs;
    ++next_;
}

void THopTable::Left(int ttl, std::int64_t atUs)
{
    if (!Counts(ttl) || At(ttl).stage != TStage::Out)
        return;
    At(ttl).left = true;
    At(ttl).sentUs = atUs;
}

bool THopTable::Answered(int ttl, std::int32_t code, const platform::IcmpEchoReply &reply,
                         std::int64_t rttUs, bool nameDue, const platform::IpAddress &from)
{
    if (!Counts(ttl) || At(ttl).stage != TStage::Out)
        return false;
    THop &hop = At(ttl);
    hop.stage = TStage::Done;
    hop.code = code;
    hop.reply = reply;
    hop.from = from;
    hop.rttUs = rttUs;
    hop.nameDue = nameDue;
    // The target's own echo reply: the route ends here, whatever went out
    // beyond it is of no interest.
    if (code == 0 && reply.Status == platform::kIpSuccess)
        last_ = std::min(last_, ttl);
    return true;
}

void THopTable::Named(int ttl, const std::string &name)
{
    if (!Counts(ttl) || At(ttl).stage != TStage::Done)
        return;
    At(ttl).name = name;
    At(ttl).nameDue = false;
}

std::int64_t THopTable::SilentWaitUs(std::int64_t laterRttUs, int timeOutMs)
{
    const std::int64_t whole = std::int64_t(std::max(timeOutMs, 0)) * 1000;
    if (laterRttUs < 0)
        return whole;
    return std::min(whole, std::max(laterRttUs * kNearFactor, kMinSilentWaitUs));
}

std::int64_t THopTable::GiveUp(std::int64_t nowUs)
{
    std::int64_t next = -1;
    const int sentEnd = std::min(next_, last_ + 1);
    // Walking down from the last hop sent, the nearest later hop that
    // answered is always the last one seen.
    std::int64_t laterRtt = -1;
    for (int ttl = sentEnd - 1; ttl >= report_; --ttl) {
        THop &hop = At(ttl);
        if (hop.stage == TStage::Done && hop.code == 0) {
            laterRtt = hop.rttUs;
            continue;
        }
        if (hop.stage != TStage::Out || !hop.left || laterRtt < 0)
            continue;
        const std::int64_t due = hop.sentUs + SilentWaitUs(laterRtt, timeOutMs_);
        if (due <= nowUs)
            hop.stage = TStage::GivenUp;
        else if (next < 0 || due < next)
            next = due;
    }
    return next;
}

int THopTable::Ready() const
{
    if (!Counts(report_))
        return 0;
    const THop &hop = Hop(report_);
    if (hop.stage == TStage::GivenUp || (hop.stage == TStage::Done && !hop.nameDue))
        return report_;
    return 0;
}

void THopTable::Reported()
{
    if (Counts(report_))
        ++report_;
}

int THopTable::OutCount() const
{
    int out = 0;
    for (int ttl = report_; ttl < std::min(next_, last_ + 1); ++ttl)
        out += Hop(ttl).stage == TStage::Out ? 1 : 0;
    return out;
}
