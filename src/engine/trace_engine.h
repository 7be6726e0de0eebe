#pragma once
#include "hop_row_list.h"
#include "trace_platform.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

inline constexpr int IDT_ROUND = 39;    // id of the round timer
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

    // Parameters, read by OnOK. No range checks: hop counts above 255 trace 255 hops.
    QString m_strHost;
    int m_nTries = 3;
    int m_nHops = 16;
    int m_nTimeout = 3000;
    bool m_bLookups = true; // false: the trace ends without reverse lookups

    // Trace state.
    int m_nRoundsLeft = 0;
    bool m_bDone = false;
    uint32_t m_dwTarget = 0; // network byte order

    // Creates, times out and binds the raw ICMP socket once; every failed step adds its
    // message and set-up goes on. Returns the messages for the caller to show.
    QStringList OpenIcmpSocket();
    bool CanReceive() const { return m_bIcmpOpen; }

    // The Trace command: abandons any trace under way and starts a new one.
    void OnOK();
    // The round timer; any id other than IDT_ROUND changes nothing.
    void OnTimer(int nIDEvent);
    // One datagram from the ICMP socket, read when it reports one is waiting.
    void OnIcmpRead();
    // A reverse lookup finished: its handle, 0 or an error, the official name.
    void OnLookupDone(int handle, int error, const QByteArray& name);

    const QString& status() const { return m_strStatus; }
    const QString& target() const { return m_strTarget; }
    // The trace has ended because its target could not be resolved.
    bool resolveFailed() const { return m_bResolveFailed; }
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
    void SendRound();
    void EndTrace(bool bMarkUnanswered);
    void StartLookups();
    void TrimHopRows();
    void CancelLookups();
    bool EveryRowAnswered() const;
    int OutstandingLookups() const;
    void SetStatus(const QString& text);
    void SetTarget(const QString& text);
    void NotifyIfFinished();

    HopRowList& m_list;
    TracePlatform m_platform;
    IcmpSocket* m_sockIcmp;
    bool m_bIcmpOpen = false;
    bool m_bResolveFailed = false;
    bool m_bFinishSignalled = false;
    QString m_strStatus = QStringLiteral("Idle");
    QString m_strTarget;
};
