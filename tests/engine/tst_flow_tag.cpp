// The fixed-flow tags: every round and row of a trace, on flows of both families,
// through the checksum computation the kernel does, back to the round and row.
#include "flow_tag.h"

#include <QtTest>

#include <set>

Q_DECLARE_METATYPE(ProbeFlow)

class TestFlowTag : public QObject {
    Q_OBJECT
private slots:
    void everyProbeRoundTrips_data();
    void everyProbeRoundTrips();
    void checksumOfAKnownDatagram();
};

void TestFlowTag::everyProbeRoundTrips_data()
{
    QTest::addColumn<ProbeFlow>("flow");
    auto v4 = [](const char* from, const char* to, uint16_t port) {
        return ProbeFlow { NetAddress::Parse(from), NetAddress::Parse(to), port, kFlowPort };
    };
    QTest::newRow("IPv4") << v4("198.18.1.1", "198.18.5.2", 40001);
    QTest::newRow("IPv6") << v4("2001:db8:0:1::1", "2001:db8:0:7::2", 53211);
    // Sums whose unfinished (offload) checksum falls low and high among the tags.
    QTest::newRow("IPv4, carries everywhere") << v4("255.255.255.255", "255.255.255.254", 65535);
    QTest::newRow("IPv4, zero source") << v4("0.0.0.0", "0.0.0.1", 1);
    QTest::newRow("IPv6, ones") << v4("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "2001:db8::", 1024);
}

void TestFlowTag::everyProbeRoundTrips()
{
    QFETCH(ProbeFlow, flow);
    const FlowTags tags(flow);
    std::set<uint16_t> seen;
    int round = -1;
    int row = -1;
    for (int r = 0; r < kTagRounds; ++r) {
        for (int j = 0; j < kTagRows; ++j) {
            const uint16_t tag = tags.Tag(r, j);
            QVERIFY(tag != 0 && tag != 0xffff);
            const auto data = tags.DataFor(tag);
            QCOMPARE(UdpChecksum(flow, data.data(), data.size()), tag);
            QCOMPARE(tags.TagOfData(data.data()), tag);
            QVERIFY(tags.Decode(tag, &round, &row));
            QCOMPARE(round, r);
            QCOMPARE(row, j);
            QVERIFY(seen.insert(tag).second);
        }
    }
    QCOMPARE(tags.Tag(kTagRounds + 3, 7), tags.Tag(3, 7));
    // What a send with checksum offload leaves in the field, either way up, names no probe.
    uint32_t pseudo = 17 + 10;
    const size_t n = flow.source.isV4() ? 4 : 16;
    for (size_t i = 0; i < n; i += 2)
        pseudo += uint32_t(flow.source.bytes[i] << 8 | flow.source.bytes[i + 1])
            + uint32_t(flow.destination.bytes[i] << 8 | flow.destination.bytes[i + 1]);
    while (pseudo >> 16)
        pseudo = (pseudo & 0xffff) + (pseudo >> 16);
    QVERIFY(!tags.Decode(uint16_t(pseudo), &round, &row));
    QVERIFY(!tags.Decode(uint16_t(~pseudo), &round, &row));
    int named = 0;
    for (uint32_t v = 0; v <= 0xffff; ++v)
        named += tags.Decode(uint16_t(v), &round, &row);
    QCOMPARE(named, kTagRounds * kTagRows);
    QVERIFY(!tags.Decode(0, &round, &row));
    QVERIFY(!tags.Decode(0xffff, &round, &row));
}

void TestFlowTag::checksumOfAKnownDatagram()
{
    // 198.18.1.1:40001 -> 198.18.5.2:33434, data 0x1234, summed word by word apart.
    const ProbeFlow flow { NetAddress::Parse("198.18.1.1"), NetAddress::Parse("198.18.5.2"), 40001, 33434 };
    const uint8_t data[2] = { 0x12, 0x34 };
    QCOMPARE(UdpChecksum(flow, data, 2), uint16_t(0x3ca2));
}

QTEST_APPLESS_MAIN(TestFlowTag)
#include "tst_flow_tag.moc"
