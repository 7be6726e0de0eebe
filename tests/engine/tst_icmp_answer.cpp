// Reading and classifying ICMP and ICMPv6 answers: the messages are crafted, since no
// real router can be made to send IP options or odd types on demand. Damaged messages
// are the fuzz target's: its saved inputs hold each way a message can be cut or
// mislabelled, and it checks every reading against the header lengths.
#include "crafted_icmp.h"
#include "icmp_classification.h"
#include "icmp_datagram.h"

#include <QtTest>

Q_DECLARE_METATYPE(CraftedIcmp)

namespace {
IcmpAnswer Read(const CraftedIcmp& c)
{
    const auto bytes = c.bytes();
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
        // What a trace shows most: routers on the way, the target, and why a path stops.
        { false, 11, 0, "next" },
        { false, 3, 3, "complete" },
        { false, 3, 0, "network unreachable" },
        { false, 3, 1, "host unreachable" },
        { false, 3, 13, "ICMP type 3 code 13" }, // administratively prohibited: by number
        { false, 255, 9, "ICMP type 255" },
        { true, 3, 0, "next" },
        { true, 1, 4, "complete" },
        { true, 1, 0, "network unreachable" },
        { true, 1, 3, "host unreachable" },
        { true, 1, 1, "prohibited" },
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
    QTest::addColumn<int>("portLowByte");

    CraftedIcmp plain;
    plain.type = 3;
    plain.code = 3;
    plain.quotedDestination = htonl(0xC6120502);
    plain.quotedPort = 65533;
    QTest::newRow("port unreachable, 56 bytes") << plain << 0xFD;
    CraftedIcmp lowByte = plain;
    lowByte.quotedPort = 4863; // 0x12FF: same low byte as 65535, the first hop
    QTest::newRow("only the low byte names the hop") << lowByte << 0xFF;
    CraftedIcmp options = plain;
    options.outerOptions = 12;
    options.quotedOptions = 8;
    options.quotedPort = 65530;
    QTest::newRow("IP options in both headers") << options << 0xFA;

    CraftedIcmp v6;
    v6.v6 = true;
    v6.type = 1;
    v6.code = 4;
    v6.quotedDestination6[0] = 0x20;
    v6.quotedDestination6[1] = 0x01;
    v6.quotedDestination6[15] = 2;
    v6.quotedPort = 65534;
    QTest::newRow("v6 port unreachable") << v6 << 0xFE;
}

void TestIcmpAnswer::reading()
{
    QFETCH(CraftedIcmp, crafted);
    const IcmpAnswer a = Read(crafted);
    QCOMPARE(int(a.kind), int(IcmpAnswer::Probe));
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
