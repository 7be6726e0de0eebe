// The reader of ICMP answers, fed every byte sequence a hostile or broken router could
// send. Besides staying inside the datagram (AddressSanitizer sees every byte past its
// end: libFuzzer hands the input over in a buffer of exactly its size), a reading must
// mean what the bytes say, must not change when a router quotes more than it needs to,
// and must agree with the datagrams the error-queue path builds for the same answer.
#include "fuzz_check.h"
#include "icmp_error_queue.h"
#include "icmp_reply.h"

#include <cstring>
#include <vector>

namespace {

bool SameReading(const IcmpReply& a, const IcmpReply& b)
{
    if (a.kind != b.kind)
        return false;
    if (a.kind == IcmpReply::Malformed)
        return true;
    if (a.type != b.type || a.code != b.code)
        return false;
    return a.kind == IcmpReply::NotUdp
        || (a.quotedDestination == b.quotedDestination && a.quotedPortLowByte == b.quotedPortLowByte);
}

void CheckReading(const uint8_t* data, size_t size)
{
    const IcmpReply r = ParseIcmpReply(data, size);
    if (size < kIcmpMinLength)
        FUZZ_CHECK(r.kind == IcmpReply::Malformed);
    if (r.kind == IcmpReply::Malformed)
        return;

    // Where the fields are, read here from the two header lengths alone.
    const size_t outer = size_t(data[0] & 0x0f) * 4;
    FUZZ_CHECK(outer >= 20 && outer + 8 + 20 <= size);
    FUZZ_CHECK(r.type == data[outer] && r.code == data[outer + 1]);
    const uint8_t* quoted = data + outer + 8;
    FUZZ_CHECK((quoted[9] == 17) == (r.kind == IcmpReply::Probe));
    if (r.kind == IcmpReply::Probe) {
        const size_t inner = size_t(quoted[0] & 0x0f) * 4;
        FUZZ_CHECK(inner >= 20 && outer + 8 + inner + 4 <= size);
        FUZZ_CHECK(std::memcmp(&r.quotedDestination, quoted + 16, 4) == 0);
        FUZZ_CHECK(r.quotedPortLowByte == quoted[inner + 3]);
    }
    FUZZ_CHECK(!ClassifyIcmp(r.type, r.code).empty());

    // Routers may quote as much of the probe as fits: extra bytes change nothing.
    std::vector<uint8_t> longer(data, data + size);
    longer.resize(size + 64, 0xA5);
    FUZZ_CHECK(SameReading(ParseIcmpReply(longer.data(), longer.size()), r));
}

// The error-queue path builds a datagram from the fields the kernel reports; reading it
// back must give exactly those fields.
void CheckBuiltDatagram(const uint8_t* data, size_t size)
{
    if (size < 11)
        return;
    uint32_t offender;
    uint32_t destination;
    std::memcpy(&offender, data + 2, 4);
    std::memcpy(&destination, data + 6, 4);
    const uint16_t port = uint16_t(data[9] << 8 | data[10]);
    uint8_t built[kIcmpMinLength];
    FUZZ_CHECK(BuildIcmpErrorDatagram(data[0], data[1], offender, destination, port, built, sizeof built - 1) < 0);
    const ptrdiff_t n = BuildIcmpErrorDatagram(data[0], data[1], offender, destination, port, built, sizeof built);
    FUZZ_CHECK(n == ptrdiff_t(kIcmpMinLength));
    const IcmpReply r = ParseIcmpReply(built, size_t(n));
    FUZZ_CHECK(r.kind == IcmpReply::Probe);
    FUZZ_CHECK(r.type == data[0] && r.code == data[1]);
    FUZZ_CHECK(r.quotedDestination == destination);
    FUZZ_CHECK(r.quotedPortLowByte == uint8_t(port));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckReading(data, size);
    CheckBuiltDatagram(data, size);
    return 0;
}
