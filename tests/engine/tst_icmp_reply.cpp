// Reading and classifying ICMP answers: the datagrams are crafted, since no real
// router can be made to send IP options, truncated quotes or odd ICMP types on demand.
#include "icmp_datagram.h"
#include "icmp_reply.h"

#include <QtTest>

class TestIcmpReply : public QObject {
    Q_OBJECT
private slots:
    void classification_data();
    void classification();
    void quotedProbeFields();
    void onlyLowByteOfPortIdentifiesHop();
    void shortDatagramIsDropped();
    void nonUdpQuoteIsSeparate();
    void ipOptionsInEitherHeader();
    void impossibleHeaderLengths();
};

void TestIcmpReply::classification_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("echo reply") << 0 << 7 << "ping reply (?)";
    QTest::newRow("net unreachable") << 3 << 0 << "network unreachable";
    QTest::newRow("host unreachable") << 3 << 1 << "host unreachable";
    QTest::newRow("protocol unreachable") << 3 << 2 << "protocol unreachable";
    QTest::newRow("port unreachable") << 3 << 3 << "complete";
    QTest::newRow("fragmentation") << 3 << 4 << "fragmentation reqired";
    QTest::newRow("source route") << 3 << 5 << "source route failed";
    QTest::newRow("type 3 code 6") << 3 << 6 << "ICMP type 3 code 6";
    QTest::newRow("type 3 code 13") << 3 << 13 << "ICMP type 3 code 13";
    QTest::newRow("type 3 code 255") << 3 << 255 << "ICMP type 3 code 255";
    QTest::newRow("quench") << 4 << 0 << "quench";
    QTest::newRow("redirect") << 5 << 1 << "redirect";
    QTest::newRow("echo request") << 8 << 0 << "ping request (?)";
    QTest::newRow("router advert") << 9 << 0 << "router announce (?)";
    QTest::newRow("router solicit") << 10 << 0 << "router query (?)";
    QTest::newRow("time exceeded") << 11 << 1 << "next";
    QTest::newRow("parameter problem") << 12 << 0 << "invalid datagram";
    QTest::newRow("type 1") << 1 << 0 << "ICMP type 1";
    QTest::newRow("type 2") << 2 << 0 << "ICMP type 2";
    QTest::newRow("type 6") << 6 << 0 << "ICMP type 6";
    QTest::newRow("type 7") << 7 << 0 << "ICMP type 7";
    QTest::newRow("type 13") << 13 << 0 << "ICMP type 13";
    QTest::newRow("type 14") << 14 << 0 << "ICMP type 14";
    QTest::newRow("type 255") << 255 << 9 << "ICMP type 255";
}

void TestIcmpReply::classification()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(ClassifyIcmp(uint8_t(type), uint8_t(code))), text);
}

void TestIcmpReply::quotedProbeFields()
{
    IcmpDatagram d;
    d.type = 3;
    d.code = 3;
    d.quotedDestination = htonl(0xC6120502);
    d.quotedPort = 65533;
    const auto bytes = d.bytes();
    QCOMPARE(bytes.size(), size_t(56));
    const IcmpReply r = ParseIcmpReply(bytes.data(), bytes.size());
    QCOMPARE(r.kind, IcmpReply::Probe);
    QCOMPARE(r.type, 3);
    QCOMPARE(r.code, 3);
    QCOMPARE(r.quotedDestination, htonl(0xC6120502));
    QCOMPARE(r.quotedPortLowByte, 0xFD);
}

void TestIcmpReply::onlyLowByteOfPortIdentifiesHop()
{
    IcmpDatagram d;
    d.quotedPort = 4863; // 0x12FF: same low byte as 65535, the first hop
    const auto bytes = d.bytes();
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size()).quotedPortLowByte, 0xFF);
}

void TestIcmpReply::shortDatagramIsDropped()
{
    const auto bytes = IcmpDatagram {}.bytes();
    QCOMPARE(ParseIcmpReply(bytes.data(), 55).kind, IcmpReply::Malformed);
    QCOMPARE(ParseIcmpReply(bytes.data(), 0).kind, IcmpReply::Malformed);
}

void TestIcmpReply::nonUdpQuoteIsSeparate()
{
    IcmpDatagram d;
    d.quotedProtocol = 1; // someone else's ping
    const auto bytes = d.bytes();
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size()).kind, IcmpReply::NotUdp);
}

void TestIcmpReply::ipOptionsInEitherHeader()
{
    IcmpDatagram d;
    d.quotedDestination = htonl(0xC6120502);
    d.quotedPort = 65530;
    d.outerOptions = 12;
    d.quotedOptions = 8;
    const auto bytes = d.bytes();
    const IcmpReply r = ParseIcmpReply(bytes.data(), bytes.size());
    QCOMPARE(r.kind, IcmpReply::Probe);
    QCOMPARE(r.type, 11);
    QCOMPARE(r.quotedDestination, htonl(0xC6120502));
    QCOMPARE(r.quotedPortLowByte, 0xFA);
    // The same datagram cut inside the quoted ports cannot be matched.
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size() - 5).kind, IcmpReply::Malformed);
}

void TestIcmpReply::impossibleHeaderLengths()
{
    auto bytes = IcmpDatagram {}.bytes();
    bytes[0] = 0x44; // 16-byte IPv4 header cannot be
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size()).kind, IcmpReply::Malformed);
    bytes = IcmpDatagram {}.bytes();
    bytes[0] = 0x4F; // 60 bytes: the quote would start past the end
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size()).kind, IcmpReply::Malformed);
    bytes = IcmpDatagram {}.bytes();
    bytes[28] = 0x40; // quoted header length 0
    QCOMPARE(ParseIcmpReply(bytes.data(), bytes.size()).kind, IcmpReply::Malformed);
}

QTEST_APPLESS_MAIN(TestIcmpReply)
#include "tst_icmp_reply.moc"
