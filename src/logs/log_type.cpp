#include "logs/log_type.h"

#include <array>
#include <utility>

namespace tallowick::logs {

namespace {

struct NamedType {
    LogType type;
    std::string_view name;
};

constexpr std::array kTypes{
    NamedType{LogType::unknown, "[Unknown]"},
    NamedType{LogType::common, "Common"},
    NamedType{LogType::webstar, "Webstar"},
    NamedType{LogType::purveyor, "Purveyer"},
    NamedType{LogType::netscape, "Netscape"},
    NamedType{LogType::iis, "MS-IIS"},
    NamedType{LogType::netpresenz, ""},
    NamedType{LogType::realserver, "RealServer"},
    NamedType{LogType::website, "Website"},
    NamedType{LogType::filemaker, "Filemaker"},
    NamedType{LogType::firstclass, "FirstClass"},
    NamedType{LogType::w3c, "W3C"},
    NamedType{LogType::openmarket, "OpenMarket"},
    NamedType{LogType::sendmail, "Sendmail"},
    NamedType{LogType::unixftp, "UnixFTP"},
    NamedType{LogType::homedoor, "HomeDoor"},
    NamedType{LogType::zeus, "Zeus"},
    NamedType{LogType::bounce, "Bounce"},
    NamedType{LogType::oracle_wrb, ""},
    NamedType{LogType::squid, "Squid"},
    NamedType{LogType::msproxy, "MSproxy"},
    NamedType{LogType::wsproxy, "WSproxy"},
    NamedType{LogType::radius, "Radius"},
    NamedType{LogType::cisco, "Cisco"},
    NamedType{LogType::firewall, "Firewall"},
    NamedType{LogType::raptor, "Raptor"},
    NamedType{LogType::custom, "Custom"},
    NamedType{LogType::database, "TLWKDataBase"},
};

constexpr auto kCodes = [] {
    std::array<LogType, kTypes.size()> codes{};
    for (std::size_t i = 0; i < kTypes.size(); ++i) codes[i] = kTypes[i].type;
    return codes;
}();

}  // namespace

std::string_view log_type_name(LogType type) {
    for (const NamedType& t : kTypes)
        if (t.type == type) return t.name;
    return {};
}

std::span<const LogType> all_log_types() { return kCodes; }

}  // namespace tallowick::logs
