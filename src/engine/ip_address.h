// Client addresses as numbers: what name look-ups and the address databases
// need to know of a client text that is an IPv4 or IPv6 address.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tallowick::engine {

struct IpAddress {
    bool v6 = false;
    // Network order; an IPv4 address fills the first four bytes.
    std::array<std::uint8_t, 16> bytes{};

    std::uint32_t v4() const {
        return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    }
    bool operator==(const IpAddress&) const = default;
};

// parse_ip_address: the address a client text holds: dotted IPv4, or IPv6
// (optionally in brackets, with a zone after "%"); anything from a "/" on is cut
// off. An IPv4 address written as IPv6 (::ffff:a.b.c.d) is taken as IPv4.
// Nothing for a text that is not an address (host names, "0", empty).
std::optional<IpAddress> parse_ip_address(std::string_view client);

// is_local_address: private, loopback, link-local, shared (carrier NAT),
// unspecified and unique-local ranges: addresses no database places anywhere.
bool is_local_address(const IpAddress& address);

}  // namespace tallowick::engine
