#include "engine/ip_address.h"

#include <arpa/inet.h>

#include <algorithm>

namespace tallowick::engine {

std::optional<IpAddress> parse_ip_address(std::string_view client) {
    if (const std::size_t slash = client.find('/'); slash != std::string_view::npos)
        client = client.substr(0, slash);
    if (client.size() > 2 && client.front() == '[' && client.back() == ']')
        client = client.substr(1, client.size() - 2);
    if (const std::size_t zone = client.find('%'); zone != std::string_view::npos)
        client = client.substr(0, zone);
    // inet_pton wants a terminated text; the longest address text is 45 bytes.
    std::array<char, 64> text{};
    if (client.empty() || client.size() >= text.size()) return std::nullopt;
    std::copy(client.begin(), client.end(), text.begin());

    IpAddress a;
    if (client.find(':') == std::string_view::npos) {
        if (inet_pton(AF_INET, text.data(), a.bytes.data()) != 1) return std::nullopt;
        return a;
    }
    if (inet_pton(AF_INET6, text.data(), a.bytes.data()) != 1) return std::nullopt;
    constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), a.bytes.begin())) {
        std::copy(a.bytes.begin() + 12, a.bytes.end(), a.bytes.begin());
        std::fill(a.bytes.begin() + 4, a.bytes.end(), std::uint8_t{0});
        return a;
    }
    a.v6 = true;
    return a;
}

bool is_local_address(const IpAddress& a) {
    const auto& b = a.bytes;
    if (!a.v6) {
        return b[0] == 0 || b[0] == 10 || b[0] == 127 || (b[0] == 169 && b[1] == 254) ||
               (b[0] == 172 && (b[1] & 0xf0) == 16) || (b[0] == 192 && b[1] == 168) ||
               (b[0] == 100 && (b[1] & 0xc0) == 64);
    }
    const bool zero_head = std::all_of(b.begin(), b.begin() + 15, [](std::uint8_t x) { return x == 0; });
    if (zero_head && b[15] <= 1) return true;                // :: and ::1
    if ((b[0] & 0xfe) == 0xfc) return true;                  // fc00::/7
    return b[0] == 0xfe && (b[1] & 0xc0) == 0x80;            // fe80::/10
}

}  // namespace tallowick::engine
