#pragma once
#include "flow_tag.h"
#include "hop_row_list.h"
#include "icmp_answer.h"
#include "probe_rounds.h"
#include "trace_parameters.h"
#include "trace_platform.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>

inline constexpr int IDT_ROUND = 39; // id of the round timer
inline constexpr int kMaxHopRows = 255; // a time-to-live holds at most 255

// One trace at a time, from the Trace command to the last name lookup: rounds of probes,
// answers read from the ICMP socket into the rows of `list`, the end of the trace, the
// trimming of the table and the reverse lookups. The rows of the list are the hop
// table; the engine keeps none of its own. Needs no widget: the window, the
// command-line tracer and the tests all drive it the same way.
class TraceEngine final : public QObject {
    Q_OBJECT
public:
    TraceEngine(HopRowList& list, TracePlatform platform, QObject* parent = nullptr);
    ~TraceEngine() override;

    // Creates, times out and binds the ICMP socket once; every failed step adds its
    // message and set-up goes on. Returns the messages for the caller to show.
    QStringList OpenIcmpSocket(int timeoutMs);
    bool CanReceive() const { return m_bIcmpOpen; }

    // The Trace command: abandons any trace under way and starts a new one.
    void OnOK(const TraceParameters& params);
    // Ends any trace under way at once, its lookups cancelled and its rows left as they
    // are, so that a watch may use the platform; no signal, no status change.
    void Abandon();
    // The round step: the next round, or the end of the trace after the last one. Any
    // id other than IDT_ROUND changes nothing.
    void OnTimer(int nIDEvent);
    // One answer from the ICMP socket, read when it reports one is waiting.
    void OnIcmpRead();
    // A reverse lookup finished: its handle, 0 or an error, the official name.
    void OnLookupDone(int handle, int error, const QByteArray& name);

    const TraceParameters& parameters() const { return m_params; }
    int roundsLeft() const { return m_nRoundsLeft; }
    bool done() const { return m_bDone; }
    // The address the latest round probed; answers must quote it.
    const NetAddress& targetAddress() const { return m_target; }
    const QString& status() const { return m_strStatus; }
    const QString& target() const { return m_strTarget; }
    // The trace has ended because its target could not be resolved.
    bool resolveFailed() const { return m_bResolveFailed; }
    // The trace has ended because its probes could not be sent: the errno of the send
    // (or of the probe socket's creation); 0 otherwise.
    int sendError() const { return m_nSendError; }
    // Ended and every started lookup has reported: nothing will change the rows now.
    bool finished() const;

    HopRowList& list() { return m_list; }
    TracePlatform& platform() { return m_platform; }

signals:
    void statusChanged(const QString& text);
    void targetChanged(const QString& text);
    // Once per trace, when finished() first holds.
    void traceFinished();

private:
    // Rounds (trace_control.cpp)
    void OnRoundTimer(int nIDEvent);
    void ArmRoundTimer();
    int64_t RoundDue() const;
    // When the answers to the probes still silent can no longer come: each may come
    // until the wait after its probe is over.
    int64_t UntaggedAnswersOverAt() const;
    void EndTrace(bool bMarkUnanswered);
    // The first row where the path ends: the target answered, or a router said it
    // cannot be reached. -1 while there is none.
    int FirstCompleteRow() const;
    bool RowMatters(int row) const;
    bool TraceSettled() const;
    // Probes (probe_transmission.cpp)
    void SendRound();
    void SendProbes(const NetAddress& target);
    bool OpenProbeSocket(const NetAddress& target, bool flow);
    // One probe to m_target from the open probe socket, its send time noted for the row.
    // False when it could not be sent for a reason that a later probe would meet too
    // (noted in m_nSendError).
    bool SendProbe(int row, uint16_t port, const uint8_t* data, size_t len);
    void FailSend();
    void ResolveTarget();
    void OnResolved(int id, NetAddress address);
    void FailResolution(const QString& status);
    // Answers (reply_reception.cpp)
    bool ReadAnswer(int64_t handlerUs);
    void TakeAnswer(const IcmpAnswer& answer, int64_t handlerUs);
    void DrainAnswers();
    void FillRow(const IcmpAnswer& answer, int row, int64_t sentUs, int64_t handlerUs);
    // Fixed flow (flow_probes.cpp)
    void SendFlowProbes(const NetAddress& target);
    bool SendFlowProbe(int row);
    bool SendNextLoneProbe();
    void TakeFlowAnswer(const IcmpAnswer& answer, int64_t handlerUs);
    void KeepUntaggedAnswer(const IcmpAnswer& answer, int64_t handlerUs);
    void PlaceUntaggedAnswers();
    void CloseFlow();
    // Names (name_lookups.cpp)
    void StartLookups();
    void TrimHopRows();
    void CancelLookups();
    int OutstandingLookups() const;

    void SetStatus(const QString& text);
    void SetTarget(const QString& text);
    void NotifyIfFinished();

    HopRowList& m_list;
    TracePlatform m_platform;
    IcmpSocket* m_sockIcmp;
    TraceParameters m_params;

    int m_nRoundsLeft = 0;
    bool m_bDone = false;
    bool m_bFirstRound = false;
    NetAddress m_target; // probed by the latest round
    NetAddress m_resolved; // the latest resolution of the host name
    int m_nResolveId = 0; // of the resolution whose answer counts
    bool m_bResolving = false; // that resolution has not answered yet
    bool m_bAwaitingTarget = false; // the first round waits for its resolution
    ProbeRounds m_rounds;
    // Fixed flow: the one socket's flow while it is open, and its tags.
    ProbeFlow m_flow;
    std::optional<FlowTags> m_flowTags;
    // An answer came back naming no probe (a router that quotes 28 bytes, through the
    // error queue): from then on the rows still silent are probed one at a time, so an
    // answer without a tag belongs to the one probe under way.
    bool m_bOneAtATime = false;
    std::deque<int> m_loneRows; // still to probe alone this round
    int m_nLoneRow = -1; // the row whose lone probe is under way
    // This round's answers without a tag that came while no lone probe was under way,
    // each with the rows whose probe it may answer. A router answers a probe once, and
    // one that quotes a tag quotes it for every probe, so once all of them but one have
    // answered with a tag, or no longer matter, it is that one's.
    struct UnplacedAnswer {
        IcmpAnswer answer;
        int64_t handlerUs;
        std::vector<int> rows;
    };
    std::vector<UnplacedAnswer> m_unplaced;

    bool m_bIcmpOpen = false;
    bool m_bResolveFailed = false;
    int m_nSendError = 0;
    int64_t m_nRoundStartUs = 0; // when the latest round began, whether or not it sent
    bool m_bFinishSignalled = false;
    QString m_strStatus = QStringLiteral("Idle");
    QString m_strTarget;
};
