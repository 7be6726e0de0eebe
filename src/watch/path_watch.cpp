#include "path_watch.h"

#include "answer_matching.h"
#include "icmp_classification.h"
#include "icmp_setup.h"
#include "probe_sender.h"

#include <algorithm>
#include <limits>
#include <set>

namespace {
// Finished rounds kept for their late answers: as many as the shared bookkeeping
// remembers, whose ports are not given to a new round meanwhile.
constexpr size_t kKeptRounds = 64;
// However many answers a flood has queued, one drain gives the event loop back.
constexpr int kMaxDrained = 4096;
} // namespace

PathWatch::PathWatch(TracePlatform platform, PathStats& stats, QObject* parent)
    : QObject(parent)
    , m_ownPlatform(std::move(platform))
    , m_platform(m_ownPlatform)
    , m_stats(stats)
{
    Connect();
}

PathWatch::PathWatch(TracePlatform* shared, PathStats& stats, QObject* parent)
    : QObject(parent)
    , m_platform(*shared)
    , m_bShared(true)
    , m_stats(stats)
{
    Connect();
}

void PathWatch::Connect()
{
    connect(m_platform.timer.get(), &RoundTimer::timeout, this, &PathWatch::OnTimer);
    connect(m_platform.icmp.get(), &IcmpSocket::readReady, this, &PathWatch::OnIcmpRead);
    connect(m_platform.reverse.get(), &ReverseResolver::lookupDone, this, &PathWatch::OnLookupDone);
}

PathWatch::~PathWatch()
{
    m_platform.timer->KillTimer(IDT_WATCH);
    m_platform.probe->Close();
    for (const auto& [handle, address] : m_lookups)
        m_platform.reverse->Cancel(handle);
    GiveBackPlatform();
}

void PathWatch::GiveBackPlatform()
{
    // The owner's next trace keeps only the probe sockets whose answers it reads, and
    // none of this watch's.
    if (!m_bShared || m_bGivenBack)
        return;
    m_bGivenBack = true;
    m_platform.icmp->KeepProbeSockets(false);
    // A finished round's socket went when it finished; one flow's socket serves them all.
    std::set<uint16_t> ports;
    for (const Round& round : m_live) {
        if (!round.finished || m_params.fixedFlow)
            ports.insert(round.port);
    }
    for (const uint16_t port : ports)
        m_platform.icmp->ReleaseProbeSocket(port);
}

QStringList PathWatch::OpenIcmpSocket(int timeoutMs)
{
    return SetUpIcmpSocket(*m_platform.icmp, timeoutMs, &m_bIcmpOpen);
}

void PathWatch::Start(const WatchParameters& params)
{
    m_params = params;
    m_params.maxHops = std::clamp(m_params.maxHops, 1, 255);
    m_params.waitMs = std::clamp(m_params.waitMs, 1, MaxWaitMs(m_params.intervalUs));
    m_bRunning = true;
    m_platform.icmp->SetNotify(true);
    // Each round's port stays ours until its probes are decided (FinishRounds).
    m_platform.icmp->KeepProbeSockets(true);
    // Other targets' answers (a watch of several) never reach this watch's raw sockets. Not
    // on a platform shared with a trace engine: the filter would stay and starve its traces
    // to other addresses, and a shared platform serves one watch alone.
    if (!m_bShared)
        m_platform.icmp->OnlyAbout(m_params.target);
    const int64_t now = m_platform.clock->MonotonicMicros();
    m_wallAtStart = QDateTime::currentDateTimeUtc();
    m_monoAtStartUs = now;
    m_t0Us = now + std::max<int64_t>(0, m_params.startDelayUs);
    if (m_t0Us > now)
        ArmTimer(now);
    else
        OnTimer(IDT_WATCH);
}

void PathWatch::StopAfterDeadlines()
{
    m_bStopping = true;
    if (m_bRunning)
        OnTimer(IDT_WATCH);
}

void PathWatch::StopNow()
{
    m_bStopping = true;
    End();
}

void PathWatch::OnTimer(int nIDEvent)
{
    if (nIDEvent != IDT_WATCH || m_bDone || !m_bRunning)
        return;
    // What already arrived counts before any deadline is judged, however late the
    // event loop came round to it.
    DrainAnswers();
    const int64_t now = m_platform.clock->MonotonicMicros();
    DecideDeadlines(now);
    FinishRounds();
    SendDueRounds(now);
    if (m_bDone)
        return;
    if (m_bStopping && AllFinished()) {
        End();
        return;
    }
    ArmTimer(now);
}

void PathWatch::OnIcmpRead()
{
    if (m_bDone || !m_bRunning)
        return;
    IcmpAnswer answer;
    if (!m_platform.icmp->Receive(&answer))
        return;
    TakeAnswer(answer, m_platform.clock->MonotonicMicros());
    // The answer that decides a round's last probe finishes it at once, and the watch
    // too once it is stopping: no wait for a deadline that no longer matters.
    FinishRounds();
    if (m_bStopping && AllFinished())
        End();
}

bool PathWatch::AllFinished() const
{
    return std::all_of(m_live.begin(), m_live.end(), [](const Round& r) { return r.finished; });
}

void PathWatch::DrainAnswers()
{
    IcmpAnswer answer;
    for (int n = 0; n < kMaxDrained && m_platform.icmp->Receive(&answer); ++n)
        TakeAnswer(answer, m_platform.clock->MonotonicMicros());
}

void PathWatch::SendDueRounds(int64_t nowUs)
{
    // After a stall of the whole process (a stopped job, a busy machine) the rounds missed
    // are not sent in a burst: the schedule moves on by whole intervals.
    const int64_t lateUs = nowUs - (m_t0Us + m_nextRound * m_params.intervalUs);
    if (lateUs >= m_params.intervalUs)
        m_t0Us += lateUs / m_params.intervalUs * m_params.intervalUs;
    while (!m_bStopping && !m_bDone && m_t0Us + m_nextRound * m_params.intervalUs <= nowUs) {
        SendRound(nowUs);
        // The first round probes every hop count, so many of its probes may reach the
        // target and spend its whole answer budget, which Linux refills at one answer a
        // second: at that interval no later round may reach it sooner after them. Later
        // rounds are timed from the first round's last probe, not its first.
        if (m_nextRound == 1)
            m_t0Us = m_platform.clock->MonotonicMicros();
        if (m_params.count > 0 && m_nextRound >= m_params.count)
            m_bStopping = true;
    }
}

void PathWatch::SendRound(int64_t nowUs)
{
    Round round;
    round.number = m_nextRound++;
    round.startUs = nowUs;
    const int highest = HighestHopOfRound(m_targetTtl, m_params.maxHops);
    round.probes.resize(size_t(highest));
    if (!m_params.fixedFlow || !m_flowTags) {
        const ProbeOpen open = ::OpenProbeSocket(*m_platform.probe, m_params.target, m_params.fixedFlow,
            [this](uint16_t port) { return m_rounds.PortRemembered(port); });
        if (open.result == ProbeOpen::Failed) {
            m_nSendError = open.error;
            End();
            return;
        }
        if (open.result == ProbeOpen::Opened && m_params.fixedFlow) {
            ProbeSocket& sock = *m_platform.probe;
            m_flow = { sock.LocalAddress(), m_params.target, sock.LocalPort(), kFlowPort };
            m_flowTags.emplace(m_flow);
        }
        // A round that found no socket sends nothing and is finished as silent.
        if (open.result == ProbeOpen::Skipped) {
            round.finished = true;
            m_stats.FinishRound(round.number, nowUs);
            emit roundFinished(round.number);
            return;
        }
    }
    round.port = m_platform.probe->LocalPort();
    m_rounds.Begin(round.port, highest);
    round.index = m_rounds.LatestRound();
    const bool sent = SendRoundProbes(round, highest);
    if (!m_params.fixedFlow)
        m_platform.probe->Close(); // kept open by the ICMP socket until the round is decided
    m_live.push_back(std::move(round));
    if (!sent)
        End();
}

bool PathWatch::SendRoundProbes(Round& round, int highest)
{
    static const uint8_t kProbeData[2] = { 0, 0 };
    for (int row = 0; row < highest; ++row) {
        std::array<uint8_t, kFlowDataLength> tagged {};
        const uint8_t* data = kProbeData;
        uint16_t port = ProbePortOfRow(row);
        if (m_params.fixedFlow) {
            tagged = m_flowTags->DataFor(m_flowTags->Tag(round.index, row));
            data = tagged.data();
            port = kFlowPort;
        }
        const int ttl = TtlOfProbe(round.number, row, m_targetTtl, m_params.maxHops);
        const ProbeSend send
            = SendProbe(*m_platform.probe, *m_platform.clock, m_params.target, ttl, port, data, kFlowDataLength);
        if (send.result == ProbeSend::Failed) {
            m_nSendError = send.error;
            return false;
        }
        m_rounds.Sent(row, send.sentUs, send.result == ProbeSend::Sent);
        round.probes[size_t(row)] = { ProbeStatus::InFlight, send.sentUs, send.sentUs, ttl };
        ++round.undecided;
        ProbeOutcome o;
        o.round = round.number;
        o.ttl = row + 1; // a probe past the target is the target's probe of the round
        o.sentUs = send.sentUs;
        m_stats.Record(o);
    }
    return true;
}

PathWatch::Round* PathWatch::RoundOfIndex(int index)
{
    for (Round& round : m_live) {
        if (round.index == index && !round.probes.empty())
            return &round;
    }
    return nullptr;
}

void PathWatch::TakeSendStamp(const IcmpAnswer& stamp)
{
    const std::optional<ProbeRef> probe = m_rounds.TakeSendStamp(stamp.quotedSourcePort, stamp.sendIndex, stamp.leftUs);
    Round* round = probe ? RoundOfIndex(probe->round) : nullptr;
    if (round && size_t(probe->row) < round->probes.size())
        round->probes[size_t(probe->row)].leftUs = probe->sentUs;
}

void PathWatch::TakeAnswer(const IcmpAnswer& answer, int64_t handlerUs)
{
    if (answer.kind == IcmpAnswer::SendStamp) {
        TakeSendStamp(answer);
        return;
    }
    std::optional<ProbeRef> probe;
    if (!m_params.fixedFlow)
        probe = MatchPortAnswer(answer, m_params.target, m_rounds);
    else if (m_flowTags)
        probe = MatchFlowTag(ReadFlowTag(answer, m_flow, *m_flowTags), m_rounds);
    if (!probe)
        return;
    Round* round = RoundOfIndex(probe->round);
    if (round == nullptr || size_t(probe->row) >= round->probes.size())
        return;
    DecideAnswer(*round, probe->row + 1, answer, AnswerArrivalUs(answer, probe->sentUs, handlerUs));
}

void PathWatch::DecideAnswer(Round& round, int ttl, const IcmpAnswer& answer, int64_t arrivalUs)
{
    Probe& probe = round.probes[size_t(ttl - 1)];
    const Classification c = ClassifyIcmp(answer.quotedDestination.family == NetAddress::V6, answer.type, answer.code);
    ProbeOutcome o;
    o.round = round.number;
    o.ttl = ttl;
    o.sentUs = probe.sentUs;
    o.rttUs = double(arrivalUs - probe.leftUs);
    o.address = answer.sender;
    o.fromTarget = c.reachedTarget;
    const bool inTime = arrivalUs <= probe.sentUs + int64_t(m_params.waitMs) * 1000;
    if (probe.status == ProbeStatus::InFlight && !inTime) {
        // Read after its deadline, before the timer judged it: lost first, then late.
        ProbeOutcome lost = o;
        lost.status = ProbeStatus::Lost;
        lost.address = {};
        lost.rttUs = 0;
        m_stats.Record(lost);
        probe.status = ProbeStatus::Lost;
        --round.undecided;
    }
    if (probe.status == ProbeStatus::Lost) {
        o.status = ProbeStatus::Late;
        m_stats.Record(o);
        probe.status = ProbeStatus::Late;
        LookUp(answer.sender);
        return;
    }
    if (probe.status != ProbeStatus::InFlight)
        return; // answered already: a duplicate
    probe.status = ProbeStatus::Answered;
    --round.undecided;
    const bool grew = probe.ttl != ttl && !c.reachedTarget;
    if (grew) {
        // The target's probe of the round, sent past it, answered by a router: the path
        // grew. The target lost it; the router's answer counts at the hop count it came
        // from, and the next round looks for the target afresh.
        ProbeOutcome lost = o;
        lost.status = ProbeStatus::Lost;
        lost.address = {};
        lost.rttUs = 0;
        m_stats.Record(lost);
        o.ttl = probe.ttl;
        round.grew = true;
    }
    o.status = ProbeStatus::Answered;
    m_stats.Record(o);
    if (c.endsPath && !grew) {
        if (round.endTtl == 0 || ttl < round.endTtl)
            round.endTtl = ttl;
        // The next rounds stop at the end of the path at once, not a wait later.
        if (m_targetTtl == 0 || ttl < m_targetTtl)
            m_targetTtl = ttl;
    }
    LookUp(answer.sender);
}

void PathWatch::DecideDeadlines(int64_t nowUs)
{
    const int64_t waitUs = int64_t(m_params.waitMs) * 1000;
    for (Round& round : m_live) {
        for (size_t i = 0; i < round.probes.size() && round.undecided > 0; ++i) {
            Probe& probe = round.probes[i];
            if (probe.status != ProbeStatus::InFlight || nowUs < probe.sentUs + waitUs)
                continue;
            probe.status = ProbeStatus::Lost;
            --round.undecided;
            ProbeOutcome o;
            o.round = round.number;
            o.ttl = int(i) + 1;
            o.status = ProbeStatus::Lost;
            o.sentUs = probe.sentUs;
            m_stats.Record(o);
        }
    }
}

void PathWatch::FinishRounds()
{
    for (Round& round : m_live) {
        if (round.finished)
            continue;
        if (round.undecided > 0)
            break; // rounds finish in order
        round.finished = true;
        // Its probes are all decided: its socket's answers may still come, but only late.
        if (!m_params.fixedFlow) // the flow's one socket serves every round
            m_platform.icmp->ReleaseProbeSocket(round.port);
        if (round.grew) {
            m_targetTtl = 0;
            m_silentRounds = 0;
        } else if (round.endTtl > 0) {
            m_targetTtl = round.endTtl;
            m_silentRounds = 0;
        } else if (m_targetTtl > 0 && round.probes.size() >= size_t(m_targetTtl)
            && ++m_silentRounds >= kSilentRoundsBeforeWidening) {
            m_targetTtl = 0;
            m_silentRounds = 0;
        }
        const std::optional<RouteChange> change = m_stats.FinishRound(round.number, round.startUs);
        emit roundFinished(round.number);
        if (change)
            emit routeChanged(*change);
    }
    ForgetOldRounds();
}

void PathWatch::ForgetOldRounds()
{
    while (m_live.size() > kKeptRounds && m_live.front().finished)
        m_live.pop_front();
}

void PathWatch::ArmTimer(int64_t nowUs)
{
    int64_t nextUs = std::numeric_limits<int64_t>::max();
    if (!m_bStopping)
        nextUs = m_t0Us + m_nextRound * m_params.intervalUs;
    const int64_t waitUs = int64_t(m_params.waitMs) * 1000;
    for (const Round& round : m_live) {
        for (const Probe& probe : round.probes) {
            if (probe.status == ProbeStatus::InFlight)
                nextUs = std::min(nextUs, probe.sentUs + waitUs);
        }
    }
    if (nextUs == std::numeric_limits<int64_t>::max())
        return;
    // Rounded up: a timer a little early would find nothing due and fire again.
    const int64_t ms = std::max<int64_t>(0, (nextUs - nowUs + 999) / 1000);
    m_platform.timer->SetTimerOnce(IDT_WATCH, int(std::min<int64_t>(ms, std::numeric_limits<int>::max())));
}

void PathWatch::LookUp(const NetAddress& address)
{
    if (!m_params.lookups || !address.valid())
        return;
    const std::string key = address.ToText();
    if (m_names.count(key))
        return;
    m_names[key] = QString();
    const int handle = m_platform.reverse->Start(address);
    if (handle > 0)
        m_lookups[handle] = key;
}

void PathWatch::OnLookupDone(int handle, int error, const QByteArray& name)
{
    const auto it = m_lookups.find(handle);
    if (it == m_lookups.end())
        return;
    if (error == 0)
        m_names[it->second] = QString::fromUtf8(name);
    m_lookups.erase(it);
}

QString PathWatch::NameOf(const NetAddress& address) const
{
    const auto it = m_names.find(address.ToText());
    return it == m_names.end() ? QString() : it->second;
}

void PathWatch::End()
{
    if (m_bDone)
        return;
    m_bDone = true;
    m_platform.timer->KillTimer(IDT_WATCH);
    m_platform.probe->Close();
    m_flowTags.reset();
    GiveBackPlatform();
    emit finished();
}
