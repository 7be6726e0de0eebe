// The trace engine fed a hostile stream of events: answers from the ICMP socket (raw
// bytes, and crafted ones that come close enough to a probe to reach the matching),
// round timer ticks, reverse lookups completing in any order with any name, and new
// traces started in the middle, to any host text. The fakes of the engine tests stand
// in for the system, since no network can be made to deliver these on demand.
//
// After every event the rows must be what the answers say: an answer changes only the
// row of the probe it quotes, only when it quotes a probe to the target, and after the
// end of a trace nothing but the names of the lookups changes anything. On a fixed
// flow the probe is the one whose tag (data bytes, else checksum) the answer quotes,
// and an answer quoting no tag lands, if anywhere, in the row of the latest probe.
#include "fake_platform.h"
#include "flow_tag.h"
#include "fuzz_check.h"
#include "icmp_classification.h"
#include "trace_engine.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <sched.h>
#include <set>
#include <string>
#include <vector>

namespace {

const uint32_t kTarget = htonl(0xC6120502); // 198.18.5.2
const uint32_t kOther = htonl(0xC6120602);

// Reads the fuzz input front to back; past its end every read gives zeros.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool empty() const { return pos >= size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint16_t word() { return uint16_t(byte() << 8 | byte()); }
    uint32_t quad() { return uint32_t(word()) << 16 | word(); }
    std::vector<uint8_t> bytes(size_t n)
    {
        n = std::min(n, size - std::min(pos, size));
        std::vector<uint8_t> out(data + pos, data + pos + n);
        pos += n;
        return out;
    }
};

// The five texts of every row, row after row: one allocation however long the table.
using Snapshot = std::vector<std::string>;

Snapshot Rows(const HopRowList& rows)
{
    Snapshot s;
    s.reserve(size_t(rows.GetItemCount()) * HOP_COLUMN_COUNT);
    for (int i = 0; i < rows.GetItemCount(); ++i) {
        for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
            s.push_back(rows.GetItemData(i)->text(c));
    }
    return s;
}

std::string& Cell(Snapshot& s, size_t row, int column)
{
    return s[row * HOP_COLUMN_COUNT + size_t(column)];
}

// One run: a trace and everything that happens to it.
class Run {
public:
    explicit Run(Input& in)
        : m_in(in)
    {
        m_fake.resolver->names["path.test"] = NetAddress::FromV4(kTarget);
        m_engine = std::make_unique<TraceEngine>(m_rows, std::move(m_fake.platform));
        m_params.m_nTimeout = 60000; // rounds are driven by the input, never by the clock
        FUZZ_CHECK(m_engine->OpenIcmpSocket(m_params.m_nTimeout).isEmpty());
        QObject::connect(m_engine.get(), &TraceEngine::traceFinished, [this] { ++m_finishedSignals; });
    }

    void Go()
    {
        Start();
        while (!m_in.empty()) {
            const uint8_t op = m_in.byte();
            switch (op % 6) {
            case 0: RawAnswer(op); break;
            case 1: CraftedAnswer(op); break;
            case 2: Tick(op); break;
            case 3: LookupDone(); break;
            case 4: Start(); break;
            case 5: EmptyRead(); break;
            }
            CheckTable();
        }
    }

private:
    // A new trace with parameters from the input: small tables mostly, so that answers
    // land on rows, and some beyond the 255 a time-to-live allows.
    void Start()
    {
        const uint8_t h = m_in.byte();
        m_params.m_nHops = h < 0xf8 ? h % 24 : h == 0xf8 ? -3 : h == 0xff ? 300 : 200 + (h - 0xf9) * 10;
        m_params.m_bFixedFlow = h < 0xf8 && (h / 24) & 1;
        const uint8_t t = m_in.byte();
        m_params.m_nTries = (t & 7) == 7 ? INT_MIN : t % 5;
        m_params.m_bLookups = !(t & 0x10);
        m_params.m_bFixedWait = t & 0x08;
        switch ((t >> 5) % 4) {
        case 0: m_params.m_strHost = QStringLiteral("198.18.5.2"); break;
        case 1: m_params.m_strHost = QStringLiteral("path.test"); break;
        default: { // any text at all, as typed or passed on a command line
            const std::vector<uint8_t> text = m_in.bytes(m_in.word() % 512);
            m_params.m_strHost = QString::fromUtf8(reinterpret_cast<const char*>(text.data()), qsizetype(text.size()));
        }
        }
        ++m_traces;
        m_fake.probe->sent.clear();
        m_engine->OnOK(m_params);
        CheckResolution(false); // a new trace has not failed yet
    }

    void CheckResolution(bool wasFailed)
    {
        if (m_engine->resolveFailed() && !wasFailed) {
            FUZZ_CHECK(m_engine->status()
                == QStringLiteral("Lookup of ") + m_params.m_strHost + QStringLiteral(" failed dramatically"));
            FUZZ_CHECK(m_engine->target() == QStringLiteral("unknown"));
        }
    }

    void RawAnswer(uint8_t op)
    {
        FakeIcmpSocket::Datagram d;
        d.bytes = m_in.bytes(m_in.word() % 1200); // past the read buffer too
        d.sender = m_in.quad();
        Deliver(std::move(d), op);
    }

    void CraftedAnswer(uint8_t op)
    {
        CraftedIcmp c;
        c.type = m_in.byte() % 13;
        c.code = m_in.byte() % 6;
        const uint8_t hop = m_in.byte();
        c.quotedPort = uint16_t(65536 - hop % 40 - ((hop & 0x80) ? 216 : 0));
        const uint8_t f = m_in.byte();
        c.quotedDestination = (f & 1) ? kOther : kTarget;
        c.quotedProtocol = (f & 2) ? 1 : 17;
        // Mostly a round of this trace, now and then one of no round at all.
        c.quotedSourcePort = FakeProbeSocket::PortOf(m_fake.probe->opens - (f & 0x40 ? 1 : 0) + (f & 0x20 ? 9 : 0));
        if (m_params.m_bFixedFlow)
            TagAnswer(hop, &c);
        static const size_t kOptions[] = { 0, 4, 12, 40 }; // 40: the longest header, 60 bytes
        c.outerOptions = kOptions[f >> 2 & 3];
        c.quotedOptions = kOptions[f >> 4 & 3];
        FakeIcmpSocket::Datagram d;
        d.bytes = c.bytes();
        if (f & 0x80 && !d.bytes.empty())
            d.bytes.resize(d.bytes.size() - 1 - m_in.byte() % d.bytes.size());
        d.sender = htonl(0xC6120002u | uint32_t(m_in.byte()) << 8);
        Deliver(std::move(d), op);
    }

    // Quotes a probe sent on this trace's flow: its checksum, its data, both or neither,
    // now and then to another port.
    void TagAnswer(uint8_t hop, CraftedIcmp* c)
    {
        c->quotedPort = hop & 0x10 ? uint16_t(kFlowPort + 1) : kFlowPort;
        const auto& sent = m_fake.probe->sent;
        if (sent.empty())
            return;
        const SentProbe& p = sent[(hop & 0x0f) % sent.size()];
        const int quote = hop >> 5 & 3;
        if (quote & 1)
            c->quotedChecksum = UdpChecksum(Flow(), p.data.data(), p.data.size());
        if (quote & 2)
            c->quotedData.assign(p.data.begin(), p.data.end());
    }

    ProbeFlow Flow() const
    {
        return { FakeProbeSocket::Source(), m_engine->targetAddress(), FakeProbeSocket::PortOf(m_fake.probe->opens),
            kFlowPort };
    }

    const SentProbe* LatestProbeOfRow(int row) const
    {
        const SentProbe* latest = nullptr;
        for (const SentProbe& p : m_fake.probe->sent) {
            if (p.ttl == row + 1)
                latest = &p;
        }
        return latest;
    }

    // The fixed-flow probe an answer names by its tag; *untagged when it names none.
    const SentProbe* TaggedProbe(const IcmpAnswer& reply, bool* untagged) const
    {
        *untagged = false;
        const ProbeFlow flow = Flow();
        if (reply.kind != IcmpAnswer::Probe || reply.quotedDestinationPort != kFlowPort
            || reply.quotedSourcePort != flow.sourcePort || m_fake.probe->flowOpens == 0)
            return nullptr;
        const bool byData = reply.quotedDataLength >= 2;
        const SentProbe* probe = nullptr;
        bool tagged = byData;
        for (const SentProbe& p : m_fake.probe->sent) {
            const bool named = byData
                ? p.data == reply.quotedData
                : reply.hasQuotedChecksum && UdpChecksum(flow, p.data.data(), 2) == reply.quotedChecksum;
            if (named && p.socket == m_fake.probe->opens) {
                probe = &p;
                tagged = true;
            }
        }
        int round;
        int row;
        if (!byData && reply.hasQuotedChecksum && FlowTags(flow).Decode(reply.quotedChecksum, &round, &row))
            tagged = true; // a tag of a probe never sent: no row at all
        *untagged = !tagged;
        return probe;
    }

    // Stamped by the kernel, or not, as `op` says; read after the clock has moved on.
    void Deliver(FakeIcmpSocket::Datagram d, uint8_t op)
    {
        d.stamped = op & 0x80;
        d.arrivalTick = m_fake.clock->now - (op >> 3 & 0x0f);
        m_fake.clock->now += m_in.byte();
        const Snapshot before = Rows(m_rows);
        const bool wasDone = m_engine->done();
        const NetAddress target = m_engine->targetAddress();
        IcmpAnswer reply;
        ParseIcmpV4Datagram(d.bytes.data(), std::min(d.bytes.size(), kIcmpReadBuffer), &reply);
        const uint32_t sender = d.sender;
        const bool stamped = d.stamped;
        const uint32_t stamp = d.arrivalTick;
        const uint32_t handled = m_fake.clock->now;
        int j = 255 - (reply.quotedDestinationPort & 0xff);
        // The probe it answers: the latest one of the round whose port it quotes.
        const SentProbe* probe = nullptr;
        bool untagged = false;
        if (m_params.m_bFixedFlow) {
            probe = TaggedProbe(reply, &untagged);
            j = probe ? probe->ttl - 1 : INT_MAX;
        } else {
            for (const SentProbe& p : m_fake.probe->sent) {
                if (p.ttl == j + 1 && FakeProbeSocket::PortOf(p.socket) == reply.quotedSourcePort)
                    probe = &p;
            }
        }
        m_fake.icmp->queue.push_back(std::move(d));
        m_engine->OnIcmpRead();
        m_fake.icmp->queue.clear();
        const Snapshot after = Rows(m_rows);
        // Without a tag: nowhere yet, the row of the one probe under way, or the one row
        // such an answer can still be (placed once every other row has answered with a
        // tag, this answer or an earlier one without).
        if (untagged) {
            m_untaggedSenders.insert(NetAddress::FromV4(sender).ToText());
            probe = nullptr;
            j = INT_MAX;
            for (size_t i = 0; i < std::min(before.size(), after.size()) / HOP_COLUMN_COUNT; ++i) {
                if (!std::equal(&before[i * HOP_COLUMN_COUNT], &before[(i + 1) * HOP_COLUMN_COUNT],
                        &after[i * HOP_COLUMN_COUNT])) {
                    probe = LatestProbeOfRow(int(i));
                    j = int(i);
                    break;
                }
            }
        }

        const size_t rowsBefore = before.size() / HOP_COLUMN_COUNT;
        const bool matches = !wasDone && reply.kind == IcmpAnswer::Probe && reply.quotedDestination == target
            && j < int(rowsBefore) && probe;
        if (!matches) {
            FUZZ_CHECK(after == before);
            FUZZ_CHECK(m_engine->done() == wasDone);
            return;
        }
        const uint32_t sent = probe->tick;
        Snapshot expected = before;
        Cell(expected, size_t(j), 1) = NetAddress::FromV4(sender).ToText();
        const uint32_t tick = !stamped ? handled : int32_t(stamp - sent) < 0 ? sent : stamp;
        Cell(expected, size_t(j), 2) = std::to_string(int32_t(tick - sent));
        const Classification c = ClassifyIcmp(false, reply.type, reply.code);
        Cell(expected, size_t(j), 4) = c.text;
        // A tagged answer can leave one row for an earlier answer without a tag: that row
        // takes it, and no other row changes.
        for (size_t i = 0; i < std::min(expected.size(), after.size()) / HOP_COLUMN_COUNT; ++i) {
            if (int(i) != j && before[i * HOP_COLUMN_COUNT + 4] == "tracing..."
                && m_untaggedSenders.count(after[i * HOP_COLUMN_COUNT + 1]))
                std::copy_n(&after[i * HOP_COLUMN_COUNT], HOP_COLUMN_COUNT, &Cell(expected, i, 0));
        }
        if (!m_engine->done()) {
            FUZZ_CHECK(after == expected);
            return;
        }
        // The answer ended the trace: every row up to the first that ends the path (the
        // target's answer, or a router's "unreachable") has answered, and the table was
        // cut after that row.
        FUZZ_CHECK(!after.empty() && after.size() <= expected.size());
        FUZZ_CHECK(std::equal(after.begin(), after.end(), expected.begin()));
        for (size_t i = 0; i < after.size() / HOP_COLUMN_COUNT; ++i)
            FUZZ_CHECK(!Cell(expected, i, 2).empty());
        if (after.size() < expected.size())
            FUZZ_CHECK(m_rows.GetItemData(m_rows.GetItemCount() - 1)->bEndsPath);
    }

    // The round timer fires only while it runs; another timer's id may come any time.
    void Tick(uint8_t op)
    {
        const bool foreign = op & 0x80;
        if (!foreign && !m_engine->platform().timer->IsActive())
            return;
        m_fake.clock->now += (op & 0x40) ? 3000 : op & 0x3f;
        const bool wasFailed = m_engine->resolveFailed();
        const Snapshot before = Rows(m_rows);
        // The timer itself (which may find it too early yet), or the round step at once.
        if (!foreign && (op & 0x20))
            emit m_engine->platform().timer->timeout(IDT_ROUND);
        else
            m_engine->OnTimer(foreign ? 38 : IDT_ROUND);
        CheckResolution(wasFailed);
        if (foreign)
            FUZZ_CHECK(Rows(m_rows) == before);
    }

    void LookupDone()
    {
        const auto& started = m_fake.reverse->started;
        const uint8_t pick = m_in.byte();
        int handle = 999999; // belongs to no row
        if (!started.empty() && pick != 0xff) {
            auto it = started.begin();
            std::advance(it, pick % started.size());
            handle = it->first;
        }
        const int error = (pick & 0x40) ? -2 : 0;
        // The real resolver reports a C string of at most NI_MAXHOST - 1 bytes; longer
        // ones are shown whole.
        const std::vector<uint8_t> raw = m_in.bytes(m_in.word() % 1500);
        const std::string name(raw.begin(), raw.end());

        const Snapshot before = Rows(m_rows);
        int row = -1;
        for (int i = 0; i < m_rows.GetItemCount(); ++i) {
            if (m_rows.GetItemData(i)->hLookup == handle)
                row = i;
        }
        const bool wasDone = m_engine->done();
        m_fake.reverse->Complete(handle, error, name.c_str());
        Snapshot expected = before;
        if (wasDone && row >= 0) {
            const std::string cName = name.c_str();
            Cell(expected, size_t(row), 3) = error == 0 && !cName.empty() ? cName : Cell(expected, size_t(row), 1);
        }
        // A lookup of an abandoned trace, or one matching no row, changes nothing.
        FUZZ_CHECK(Rows(m_rows) == expected);
    }

    void EmptyRead()
    {
        m_fake.clock->now += m_in.byte();
        const Snapshot before = Rows(m_rows);
        const bool wasDone = m_engine->done();
        m_engine->OnIcmpRead();
        FUZZ_CHECK(Rows(m_rows) == before);
        FUZZ_CHECK(m_engine->done() == wasDone);
    }

    void CheckTable()
    {
        const int n = m_rows.GetItemCount();
        FUZZ_CHECK(n <= kMaxHopRows && n <= std::max(m_params.m_nHops, 0));
        for (int i = 0; i < n; ++i)
            FUZZ_CHECK(m_rows.GetItemData(i)->pszHop == std::to_string(i + 1));
        // The rounds go on exactly as long as the trace: a trace whose timer stopped
        // early would never end.
        FUZZ_CHECK(m_engine->platform().timer->IsActive() == !m_engine->done());
        // Once per trace at most, and only when nothing will change the rows any more.
        FUZZ_CHECK(m_finishedSignals <= m_traces);
        if (m_engine->finished())
            FUZZ_CHECK(m_engine->done());
    }

    Input& m_in;
    TraceParameters m_params;
    FakePlatform m_fake;
    HopRowList m_rows;
    std::unique_ptr<TraceEngine> m_engine;
    int m_traces = 0;
    int m_finishedSignals = 0;
    std::set<std::string> m_untaggedSenders; // of the answers without a tag so far
};

} // namespace

// The engine yields the processor around every probe, for the window's sake. Here there
// is no window to yield to: the yields return at once, instead of costing a system call
// each (a sixth of the run on an idle machine) or, on busy cores, a turn of another process.
extern "C" int sched_yield() noexcept
{
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The round timer is a QTimer: it wants an application object, never an event loop.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in { data, size };
    Run(in).Go();
    return 0;
}
