// Reading and classifying ICMP and ICMPv6 answers: the messages are crafted, since no
// real router can be made to send IP options, truncated quotes or odd types on demand.
#include "crafted_icmp.h"
#include "icmp_classification.h"
#include "icmp_datagram.h"

#include <QtTest>

Q_DECLARE_METATYPE(CraftedIcmp)

namespace {
// How a crafted message is spoiled before it is read.
enum Spoil { Intact, Cut55, CutInPorts, OuterHeader16, OuterHeader60, QuotedHeader0, Empty };

IcmpAnswer Read(const CraftedIcmp& c, Spoil spoil)
{
    auto bytes = c.bytes();
    switch (spoil) {
    case Intact: break;
    case Cut55: bytes.resize(55); break;
    case CutInPorts: bytes.resize(bytes.size() - 5); break;
    case OuterHeader16: bytes[0] = 0x44; break;
    case OuterHeader60: bytes[0] = 0x4F; break; // the quote would start past the end
    case QuotedHeader0: bytes[28] = 0x40; break;
    case Empty: bytes.clear(); break;
    }
    IcmpAnswer a;
    if (c.v6)
        ParseIcmpV6Message(bytes.data(), bytes.size(), &a);
    else
        ParseIcmpV4Datagram(bytes.data(), bytes.size(), &a);
    return a;
}
} // namespace

class TestIcmpAnswer : public QObject {
    Q_OBJECT
private slots:
    void classification_data();
    void classification();
    void reading_data();
    void reading();
};

void TestIcmpAnswer::classification_data()
{
    QTest::addColumn<bool>("v6");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("reached");
    const struct {
        bool v6;
        int type, code;
        const char* text;
    } rows[] = {
        { false, 0, 7, "ping reply (?)" },
        { false, 3, 0, "network unreachable" },
        { false, 3, 1, "host unreachable" },
        { false, 3, 2, "protocol unreachable" },
        { false, 3, 3, "complete" },
        { false, 3, 4, "fragmentation reqired" },
        { false, 3, 5, "source route failed" },
        { false, 3, 6, "ICMP type 3 code 6" },
        { false, 3, 13, "ICMP type 3 code 13" },
        { false, 3, 255, "ICMP type 3 code 255" },
        { false, 4, 0, "quench" },
        { false, 5, 1, "redirect" },
        { false, 8, 0, "ping request (?)" },
        { false, 9, 0, "router announce (?)" },
        { false, 10, 0, "router query (?)" },
        { false, 11, 1, "next" },
        { false, 12, 0, "invalid datagram" },
        { false, 1, 0, "ICMP type 1" },
        { false, 2, 0, "ICMP type 2" },
        { false, 6, 0, "ICMP type 6" },
        { false, 7, 0, "ICMP type 7" },
        { false, 13, 0, "ICMP type 13" },
        { false, 14, 0, "ICMP type 14" },
        { false, 255, 9, "ICMP type 255" },
        { true, 3, 0, "next" },
        { true, 3, 1, "next" },
        { true, 1, 4, "complete" },
        { true, 1, 0, "network unreachable" },
        { true, 1, 3, "host unreachable" },
        { true, 1, 1, "prohibited" },
        { true, 1, 5, "prohibited" },
        { true, 1, 6, "prohibited" },
        { true, 1, 2, "ICMPv6 type 1 code 2" },
        { true, 1, 7, "ICMPv6 type 1 code 7" },
        { true, 2, 0, "fragmentation reqired" },
        { true, 4, 1, "invalid datagram" },
        { true, 129, 0, "ICMPv6 type 129 code 0" },
    };
    for (const auto& r : rows) {
        QTest::addRow("%s type %d code %d", r.v6 ? "v6" : "v4", r.type, r.code)
            << r.v6 << r.type << r.code << r.text << (QString(r.text) == "complete");
    }
}

void TestIcmpAnswer::classification()
{
    QFETCH(bool, v6);
    QFETCH(int, type);
    QFETCH(int, code);
    const Classification c = ClassifyIcmp(v6, uint8_t(type), uint8_t(code));
    QTEST(QString::fromStdString(c.text), "text");
    QTEST(c.reachedTarget, "reached");
}

void TestIcmpAnswer::reading_data()
{
    QTest::addColumn<CraftedIcmp>("crafted");
    QTest::addColumn<int>("spoil");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("portLowByte");

    CraftedIcmp plain;
    plain.type = 3;
    plain.code = 3;
    plain.quotedDestination = htonl(0xC6120502);
    plain.quotedPort = 65533;
    QTest::newRow("port unreachable, 56 bytes") << plain << int(Intact) << int(IcmpAnswer::Probe) << 0xFD;
    CraftedIcmp lowByte = plain;
    lowByte.quotedPort = 4863; // 0x12FF: same low byte as 65535, the first hop
    QTest::newRow("only the low byte names the hop") << lowByte << int(Intact) << int(IcmpAnswer::Probe) << 0xFF;
    CraftedIcmp options = plain;
    options.outerOptions = 12;
    options.quotedOptions = 8;
    options.quotedPort = 65530;
    QTest::newRow("IP options in both headers") << options << int(Intact) << int(IcmpAnswer::Probe) << 0xFA;
    QTest::newRow("options, cut in the ports") << options << int(CutInPorts) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("55 bytes") << plain << int(Cut55) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("nothing") << plain << int(Empty) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("16-byte header") << plain << int(OuterHeader16) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("60-byte header") << plain << int(OuterHeader60) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("quoted header 0") << plain << int(QuotedHeader0) << int(IcmpAnswer::Malformed) << 0;
    CraftedIcmp ping = plain;
    ping.quotedProtocol = 1; // someone else's ping
    QTest::newRow("quotes ICMP") << ping << int(Intact) << int(IcmpAnswer::NotUdp) << 0;

    CraftedIcmp v6;
    v6.v6 = true;
    v6.type = 1;
    v6.code = 4;
    v6.quotedDestination6[0] = 0x20;
    v6.quotedDestination6[1] = 0x01;
    v6.quotedDestination6[15] = 2;
    v6.quotedPort = 65534;
    QTest::newRow("v6 port unreachable") << v6 << int(Intact) << int(IcmpAnswer::Probe) << 0xFE;
    QTest::newRow("v6 cut in the ports") << v6 << int(CutInPorts) << int(IcmpAnswer::Malformed) << 0;
    QTest::newRow("v6 nothing") << v6 << int(Empty) << int(IcmpAnswer::Malformed) << 0;
    CraftedIcmp v6Tcp = v6;
    v6Tcp.quotedProtocol = 6;
    QTest::newRow("v6 quotes TCP") << v6Tcp << int(Intact) << int(IcmpAnswer::NotUdp) << 0;
    CraftedIcmp v6Echo = v6;
    v6Echo.type = 129;
    QTest::newRow("v6 echo reply") << v6Echo << int(Intact) << int(IcmpAnswer::NotUdp) << 0;
}

void TestIcmpAnswer::reading()
{
    QFETCH(CraftedIcmp, crafted);
    QFETCH(int, spoil);
    const IcmpAnswer a = Read(crafted, Spoil(spoil));
    QTEST(int(a.kind), "kind");
    if (a.kind != IcmpAnswer::Probe)
        return;
    QCOMPARE(a.type, crafted.type);
    QCOMPARE(a.code, crafted.code);
    QTEST(a.quotedDestinationPort & 0xff, "portLowByte");
    QCOMPARE(a.quotedSourcePort, crafted.quotedSourcePort);
    if (crafted.v6) {
        QCOMPARE(a.quotedDestination.family, NetAddress::V6);
        QCOMPARE(a.quotedDestination.ToText(), std::string("2001::2"));
    } else {
        QCOMPARE(a.quotedDestination, NetAddress::FromV4(crafted.quotedDestination));
    }
}

QTEST_APPLESS_MAIN(TestIcmpAnswer)
#include "tst_icmp_answer.moc"
