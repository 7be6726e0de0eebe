#pragma once
#include "net_address.h"

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// The answering addresses of one watched target, each given a small number once, so that
// per-round history stores two bytes instead of a 20-byte address, and statistics and route
// changes compare numbers. Numbers are handed out in order of first appearance and never
// reused: an id stays valid for the whole watch.
using AddressId = uint16_t;
inline constexpr AddressId kNoAddress = 0xffff;

class AddressTable {
public:
    // The id of `address`, added on first sight. kNoAddress for an empty address, and once
    // 65,535 addresses are known (the table stops growing: memory stays bounded).
    AddressId Intern(const NetAddress& address);
    // An empty address for kNoAddress or an id never handed out.
    const NetAddress& At(AddressId id) const;
    size_t size() const { return m_addresses.size(); }

private:
    using Key = std::pair<uint8_t, std::array<uint8_t, 16>>;
    std::vector<NetAddress> m_addresses;
    std::map<Key, AddressId> m_ids;
};
