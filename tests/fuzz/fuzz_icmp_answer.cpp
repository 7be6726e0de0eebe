// The readers of ICMP and ICMPv6 answers, fed every byte sequence a hostile or broken
// router could send. Besides staying inside the message (AddressSanitizer sees every
// byte past its end: libFuzzer hands the input over in a buffer of exactly its size), a
// reading must mean what the bytes say and must not change when a router quotes more
// than it needs to. The first input byte picks the family.
#include "fuzz_check.h"
#include "icmp_classification.h"
#include "icmp_datagram.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool SameReading(const IcmpAnswer& a, const IcmpAnswer& b)
{
    if (a.kind != b.kind)
        return false;
    if (a.kind == IcmpAnswer::Malformed)
        return true;
    if (a.type != b.type || a.code != b.code)
        return false;
    // What a shorter quote held stays the same; a longer one may only hold more.
    return a.kind == IcmpAnswer::NotUdp
        || (a.quotedDestination == b.quotedDestination && a.quotedSourcePort == b.quotedSourcePort
            && a.quotedDestinationPort == b.quotedDestinationPort && (!a.hasQuotedChecksum || b.hasQuotedChecksum)
            && (!a.hasQuotedChecksum || a.quotedChecksum == b.quotedChecksum)
            && a.quotedDataLength <= b.quotedDataLength
            && std::memcmp(a.quotedData.data(), b.quotedData.data(), a.quotedDataLength) == 0);
}

uint16_t Port(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

// The fixed-flow tag's carriers: the checksum once the 8 UDP header bytes are quoted,
// then as many data bytes as are quoted and the quoted header says the probe had.
void CheckTagFields(const uint8_t* udp, size_t have, size_t probeData, const IcmpAnswer& r)
{
    FUZZ_CHECK(r.hasQuotedChecksum == (have >= 8));
    if (!r.hasQuotedChecksum) {
        FUZZ_CHECK(r.quotedDataLength == 0);
        return;
    }
    FUZZ_CHECK(r.quotedChecksum == Port(udp + 6));
    const size_t n = std::min({ have - 8, probeData, r.quotedData.size() });
    FUZZ_CHECK(r.quotedDataLength == n && std::memcmp(r.quotedData.data(), udp + 8, n) == 0);
}

void CheckV4(const uint8_t* data, size_t size, const IcmpAnswer& r)
{
    if (size < kIcmpMinLength)
        FUZZ_CHECK(r.kind == IcmpAnswer::Malformed);
    if (r.kind == IcmpAnswer::Malformed)
        return;
    // Where the fields are, read here from the two header lengths alone.
    const size_t outer = size_t(data[0] & 0x0f) * 4;
    FUZZ_CHECK(outer >= 20 && outer + 8 + 20 <= size);
    FUZZ_CHECK(r.type == data[outer] && r.code == data[outer + 1]);
    const uint8_t* quoted = data + outer + 8;
    FUZZ_CHECK((quoted[9] == 17) == (r.kind == IcmpAnswer::Probe));
    if (r.kind == IcmpAnswer::Probe) {
        const size_t inner = size_t(quoted[0] & 0x0f) * 4;
        FUZZ_CHECK(inner >= 20 && outer + 8 + inner + 4 <= size);
        FUZZ_CHECK(r.quotedDestination.isV4() && std::memcmp(r.quotedDestination.bytes.data(), quoted + 16, 4) == 0);
        FUZZ_CHECK(r.quotedSourcePort == Port(quoted + inner));
        FUZZ_CHECK(r.quotedDestinationPort == Port(quoted + inner + 2));
        const size_t total = Port(quoted + 2);
        CheckTagFields(quoted + inner, size - (outer + 8 + inner), total > inner + 8 ? total - inner - 8 : 0, r);
    }
}

void CheckV6(const uint8_t* data, size_t size, const IcmpAnswer& r)
{
    if (r.kind == IcmpAnswer::Malformed)
        return;
    FUZZ_CHECK(size >= 8 && r.type == data[0] && r.code == data[1]);
    if (r.kind == IcmpAnswer::Probe) {
        FUZZ_CHECK(r.type >= 1 && r.type <= 4 && size >= 8 + 40 + 4);
        FUZZ_CHECK(data[8] >> 4 == 6 && data[8 + 6] == 17);
        FUZZ_CHECK(r.quotedDestination.family == NetAddress::V6
            && std::memcmp(r.quotedDestination.bytes.data(), data + 8 + 24, 16) == 0);
        FUZZ_CHECK(r.quotedDestinationPort == Port(data + 48 + 2));
        const size_t udpLength = Port(data + 8 + 4);
        CheckTagFields(data + 48, size - 48, udpLength > 8 ? udpLength - 8 : 0, r);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    if (inputSize == 0)
        return 0;
    const bool v6 = input[0] & 1;
    const uint8_t* data = input + 1;
    const size_t size = inputSize - 1;
    auto read = [v6](const uint8_t* d, size_t n) {
        IcmpAnswer a;
        if (v6)
            ParseIcmpV6Message(d, n, &a);
        else
            ParseIcmpV4Datagram(d, n, &a);
        return a;
    };
    const IcmpAnswer r = read(data, size);
    if (v6)
        CheckV6(data, size, r);
    else
        CheckV4(data, size, r);
    if (r.kind == IcmpAnswer::Malformed)
        return 0;
    FUZZ_CHECK(!ClassifyIcmp(v6, r.type, r.code).text.empty());
    // Routers may quote as much of the probe as fits: extra bytes change nothing.
    std::vector<uint8_t> longer(data, data + size);
    longer.resize(size + 64, 0xA5);
    FUZZ_CHECK(SameReading(r, read(longer.data(), longer.size())));
    return 0;
}
