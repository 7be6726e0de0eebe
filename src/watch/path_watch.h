#pragma once
#include "flow_tag.h"
#include "icmp_answer.h"
#include "path_stats.h"
#include "probe_outcome.h"
#include "probe_rounds.h"
#include "trace_platform.h"
#include "watch_parameters.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

inline constexpr int IDT_WATCH = 41; // id of the watch's timer

// Watches one path: a round of probes every interval on the monotonic clock (round r
// leaves at t0 + r * interval, whatever the processing took), all of a round's probes at
// once, one per hop count. Each probe has its own deadline (its send time plus the wait):
// an answer before it counts for its own round and hop count, timed from its own probe,
// however many rounds later it comes; at the deadline the probe is lost, and an answer
// after it is late. Every outcome goes to `stats` (its one writer), and a round is
// finished there, in order, once all its probes are decided.
//
// Shares the trace's socket opening, probe sending, answer matching, flow tags and
// classification (src/engine). With a fixed flow, an answer that quotes no tag (a router
// quoting 28 bytes, through the error queue) cannot be told apart and is not counted.
class PathWatch final : public QObject {
    Q_OBJECT
public:
    PathWatch(TracePlatform platform, PathStats& stats, QObject* parent = nullptr);
    // On a platform the caller keeps: the window's, whose ICMP socket was opened while it
    // still had the privilege for a raw one. Its trace engine must be idle meanwhile (it
    // shares the socket and timer), and it must outlive the watch.
    PathWatch(TracePlatform* shared, PathStats& stats, QObject* parent = nullptr);
    ~PathWatch() override;

    // Sets up the ICMP socket; the messages of the steps that failed. CanReceive() false
    // when no answer can be read at all.
    QStringList OpenIcmpSocket(int timeoutMs);
    bool CanReceive() const { return m_bIcmpOpen; }

    // Sends the first round at once, or after the parameters' start delay.
    void Start(const WatchParameters& params);
    // No new rounds; finished() once every probe sent is decided (--count ends so too).
    void StopAfterDeadlines();
    // No new rounds, and finished() at once: probes still in flight stay in flight and
    // count in no figure (an interrupted watch).
    void StopNow();

    // The watch's timer: answers queued are read, probes past their deadline lost, rounds
    // decided finished, the rounds due sent. Tests call it after moving the clock.
    void OnTimer(int nIDEvent);
    // One answer from the ICMP socket.
    void OnIcmpRead();

    int64_t roundsSent() const { return m_nextRound; }
    // When the round was due to leave, on the watch's clock.
    int64_t RoundDueUs(int64_t round) const { return m_t0Us + round * m_params.intervalUs; }
    // The wall-clock time of a moment on the watch's clock (read together at Start), in UTC.
    QDateTime WallTimeOf(int64_t monoUs) const { return m_wallAtStart.addMSecs((monoUs - m_monoAtStartUs) / 1000); }
    // The errno that stopped the watch when no probe could be sent; 0 otherwise.
    int sendError() const { return m_nSendError; }
    bool done() const { return m_bDone; }
    // The hop count the target answered at, as the rounds are probed; 0 while unknown.
    int targetTtl() const { return m_targetTtl; }
    // The name found for an answering address; empty while none is known.
    QString NameOf(const NetAddress& address) const;
    TracePlatform& platform() { return m_platform; }

signals:
    void roundFinished(qint64 round);
    void routeChanged(const RouteChange& change);
    void finished();

private:
    struct Probe {
        ProbeStatus status = ProbeStatus::NotProbed;
        int64_t sentUs = 0; // the clock read before the send: its deadline counts from it
        int64_t leftUs = 0; // when it left, as the kernel stamped it where it did: its RTT's start
        int ttl = 0; // the hop count it left with: its row's, or more (see TtlOfProbe)
    };
    struct Round {
        int64_t number = 0;
        int index = 0; // in m_rounds (the shared bookkeeping), which tags and ports name
        uint16_t port = 0; // the socket it was sent from
        int64_t startUs = 0;
        std::vector<Probe> probes; // [ttl - 1]
        int undecided = 0; // probes in flight
        int endTtl = 0; // the lowest hop count whose answer ended the path, 0: none
        bool grew = false; // a router answered a probe sent past the target
        bool finished = false;
    };

    void SendDueRounds(int64_t nowUs);
    void SendRound(int64_t nowUs);
    bool SendRoundProbes(Round& round, int highest);
    void TakeAnswer(const IcmpAnswer& answer, int64_t handlerUs);
    void TakeSendStamp(const IcmpAnswer& stamp);
    void DecideAnswer(Round& round, int ttl, const IcmpAnswer& answer, int64_t arrivalUs);
    void DecideDeadlines(int64_t nowUs);
    void FinishRounds();
    bool AllFinished() const;
    void ForgetOldRounds();
    Round* RoundOfIndex(int index);
    void LookUp(const NetAddress& address);
    void OnLookupDone(int handle, int error, const QByteArray& name);
    void DrainAnswers();
    void ArmTimer(int64_t nowUs);
    void End();
    void Connect();
    // A shared platform, once the watch has ended, as its owner had it.
    void GiveBackPlatform();

    TracePlatform m_ownPlatform; // empty when the platform is shared
    TracePlatform& m_platform;
    bool m_bShared = false;
    bool m_bGivenBack = false;
    PathStats& m_stats;
    WatchParameters m_params;
    bool m_bIcmpOpen = false;
    bool m_bRunning = false;
    bool m_bStopping = false;
    bool m_bDone = false;
    int m_nSendError = 0;
    int64_t m_t0Us = 0;
    QDateTime m_wallAtStart;
    int64_t m_monoAtStartUs = 0;
    int64_t m_nextRound = 0;
    int m_targetTtl = 0;
    int m_silentRounds = 0;
    ProbeRounds m_rounds; // send times by port and tag, shared with the trace
    std::deque<Round> m_live; // oldest first: rounds not finished, and a few finished ones
    ProbeFlow m_flow;
    std::optional<FlowTags> m_flowTags;
    std::map<std::string, QString> m_names; // address text -> name ("" while looking up)
    std::map<int, std::string> m_lookups; // handle -> address text
};
