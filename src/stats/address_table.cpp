#include "address_table.h"

AddressId AddressTable::Intern(const NetAddress& address)
{
    if (!address.valid())
        return kNoAddress;
    const Key key { uint8_t(address.family), address.bytes };
    if (const auto it = m_ids.find(key); it != m_ids.end())
        return it->second;
    if (m_addresses.size() >= kNoAddress)
        return kNoAddress;
    const auto id = AddressId(m_addresses.size());
    m_addresses.push_back(address);
    m_ids.emplace(key, id);
    return id;
}

const NetAddress& AddressTable::At(AddressId id) const
{
    static const NetAddress none;
    return id < m_addresses.size() ? m_addresses[id] : none;
}
