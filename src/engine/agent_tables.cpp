// The agent rule tables. Order is meaning: the first matching rule wins, so each
// table lists today's agents before the classic rules. Indices of systems and
// robots are saved in history files; new ones are only ever appended.
#include <array>

#include "engine/agents.h"

namespace tallowick::engine {
namespace {

constexpr auto E = Match::exact;
constexpr auto L = Match::blank_or_plus;

constexpr std::array<OsInfo, 31> kOsTable{{
    {"Unknown", kFamilyOther},          // 0
    {"Windows 3.1", kFamilyWindows},    // 1
    {"Windows 95", kFamilyWindows},     // 2
    {"Windows 98", kFamilyWindows},     // 3
    {"Windows NT", kFamilyWindows},     // 4
    {"Windows2000", kFamilyWindows},    // 5
    {"MacOS", kFamilyMacintosh},        // 6
    {"MacOS-X", kFamilyMacintosh},      // 7: kept for its index; "macOS" (28) is chosen
    {"WebTV", kFamilyOther},            // 8
    {"SunOS", kFamilyUnix},             // 9
    {"IRIX", kFamilyUnix},              // 10
    {"AIX", kFamilyUnix},               // 11
    {"HP-UX", kFamilyUnix},             // 12
    {"OSF", kFamilyUnix},               // 13
    {"FreeBSD", kFamilyUnix},           // 14
    {"Linux", kFamilyUnix},             // 15
    {"Amiga", kFamilyOther},            // 16
    {"OpenVMS", kFamilyOther},          // 17
    {"OS/2", kFamilyOther},             // 18
    {"Unix Console", kFamilyUnix},      // 19
    {"Windows 10/11", kFamilyWindows},  // 20: both say "Windows NT 10.0"
    {"Windows 8.1", kFamilyWindows},    // 21
    {"Windows 8", kFamilyWindows},      // 22
    {"Windows 7", kFamilyWindows},      // 23
    {"Windows Vista", kFamilyWindows},  // 24
    {"Windows XP", kFamilyWindows},     // 25
    {"Android", kFamilyUnix},           // 26
    {"iOS", kFamilyMacintosh},          // 27
    {"macOS", kFamilyMacintosh},        // 28
    {"Chrome OS", kFamilyUnix},         // 29
    {"Windows Phone", kFamilyWindows},  // 30
}};

constexpr OsRule kOsRules[] = {
    // Today's systems. Android and Chrome OS agents also say "Linux", and iOS
    // agents say "like Mac OS X", so these come first; the last Windows Phone
    // agents also say "Android", and all say "Win".
    {"Windows Phone", 30, L},
    {"Android", 26, L},
    {"iPhone", 27, L},
    {"iPad", 27, L},
    {"iPod", 27, L},
    {"CrOS", 29, L},
    // "Macintosh" alone is left to the classic rule: Mac OS 8 and 9 browsers wrote
    // it too, while every OS X browser writes "Mac OS X".
    {"Mac OS X", 28, L},
    {"Windows NT 10.0", 20, L},
    {"Windows NT 6.3", 21, L},
    {"Windows NT 6.2", 22, L},
    {"Windows NT 6.1", 23, L},
    {"Windows NT 6.0", 24, L},
    {"Windows NT 5.1", 25, L},
    {"Windows NT 5.2", 25, L},  // XP x64 shares the 5.2 kernel with Server 2003
    {"Windows XP", 25, L},
    {"Windows 2000", 5, L},     // otherwise "Win" would make it Windows 3.1
    // The classic rules.
    {"Win16", 1, E},
    {"Win95", 2, E},
    {"Win98", 3, E},
    {"WinNT", 4, E},
    {"NT 5", 5, E},
    {"Windows NT", 4, E},
    {"Windows-NT", 4, E},
    {"Windows+NT", 4, E},
    {"Windows 95", 2, E},
    {"Windows+95", 2, E},
    {"Windows 98", 3, E},
    {"Windows+98", 3, E},
    {"Win", 1, E},
    {"PowerPC", 6, E},
    {"PPC", 6, E},
    {"68k", 6, E},
    {"Mac", 6, E},
    {"WebTV", 8, E},
    {"SunOS", 9, E},
    {"IRIX", 10, E},
    {"AIX", 11, E},
    {"HP-UX", 12, E},
    {"OSF", 13, E},
    {"FreeBSD", 14, E},
    {"Linux", 15, E},
    {"Amiga", 16, E},
    {"OpenVMS", 17, E},
    {"OS/2", 18, E},
    {"Lynx", 19, E},
};

using V = VersionStyle;

constexpr BrowserRule kBrowserRules[] = {
    // Today's browsers. Nearly all of them also write "Mozilla", "Safari" and
    // often "Chrome", so the ones built on another come before it.
    {"Edg/", "", "Edge", V::dotted, "", L},
    {"EdgA/", "", "Edge", V::dotted, "", L},
    {"EdgiOS/", "", "Edge", V::dotted, "", L},
    {"Edge/", "", "Edge", V::dotted, "", L},
    {"OPR/", "", "Opera", V::dotted, "", L},
    {"OPiOS/", "", "Opera", V::dotted, "", L},
    {"Opera/", "Version/", "Opera", V::dotted, "Version/", L},  // Opera 10 to 12
    {"SamsungBrowser/", "", "Samsung Internet", V::dotted, "", L},
    {"YaBrowser/", "", "Yandex Browser", V::dotted, "", L},
    {"Vivaldi/", "", "Vivaldi", V::dotted, "", L},
    {"UCBrowser/", "", "UC Browser", V::dotted, "", L},
    {"Chrome/", "", "Chrome", V::dotted, "", L},
    {"CriOS/", "", "Chrome", V::dotted, "", L},
    {"Firefox/", "", "Firefox", V::dotted, "", L},
    {"FxiOS/", "", "Firefox", V::dotted, "", L},
    // Internet Explorer 11 dropped "MSIE"; "rv:" tells it from older ones in
    // compatibility view, which keep "MSIE 7.0".
    {"Trident/", "rv:", "Explorer", V::dotted, "rv:", L},
    {"Android", "Version/", "Android Browser", V::dotted, "Version/", L},
    {"Version/", "Safari/", "Safari", V::dotted, "Version/", L},
    // iOS apps that show pages in a web view write neither "Version/" nor
    // "Safari/": the engine is Safari's all the same.
    {"like Mac OS X", "AppleWebKit/", "Safari", V::none, "", L},
    {"Netscape6/", "", "Netscape", V::dotted, "", L},
    {"Netscape/", "", "Netscape", V::dotted, "", L},
    // Programs and libraries.
    {"curl/", "", "curl", V::dotted, "", L},
    {"Wget/", "", "Wget", V::dotted, "", L},
    {"python-requests/", "", "python-requests", V::dotted, "", L},
    {"Python-urllib/", "", "Python-urllib", V::dotted, "", L},
    {"aiohttp/", "", "aiohttp", V::dotted, "", L},
    {"Go-http-client/", "", "Go-http-client", V::dotted, "", L},
    {"okhttp/", "", "okhttp", V::dotted, "", L},
    {"Apache-HttpClient/", "", "Apache-HttpClient", V::dotted, "", L},
    {"Java/", "", "Java", V::dotted, "", L},
    {"libwww-perl/", "", "libwww-perl", V::dotted, "", L},
    {"WindowsPowerShell/", "", "PowerShell", V::dotted, "", L},
    {"axios/", "", "axios", V::dotted, "", L},
    // The classic rules.
    {"AOL", "", "AOL ", V::scan, "", E},
    {"WebTV", "", "WebTV ", V::scan, "", E},
    {"MSIE", "", "Explorer ", V::scan, "", E},
    {"Opera", "", "Opera ", V::scan, "", E},
    // Robots and tools that imitate Mozilla name themselves in the compatible
    // clause. It yields to the four rules above, whose agents have that clause too.
    {"compatible;", "", "", V::dotted, "", L, BrowserNaming::clause},
    {"Mozilla", "", "Netscape ", V::scan, "", E},
    {"Lynx", "", "Lynx ", V::scan, "", E},
    {"contype", "", "PlugIn", V::scan, "", E},
};

constexpr std::array<std::string_view, 41> kRobotNames{{
    "Unknown",                  // 0: never added
    "AltaVista",                // 1
    "Excite",                   // 2
    "HotBot",                   // 3
    "Infoseek",                 // 4
    "Lycos",                    // 5
    "Fireball",                 // 6
    "WebCrawler",               // 7
    "Anzwers",                  // 8
    "Muscat EuroFerret",        // 9
    "NetNames",                 // 10
    "Northern Light Search",    // 11
    "PlanetSearch",             // 12
    "Sexsearcher",              // 13
    "Swiss Search",             // 14
    "Thunderstone",             // 15
    "WiseWire",                 // 16
    "Alexa",                    // 17
    "Crawler.de",               // 18
    "EuroSeek",                 // 19
    "Googlebot",                // 20
    "bingbot",                  // 21
    "YandexBot",                // 22
    "Baiduspider",              // 23
    "DuckDuckBot",              // 24
    "Applebot",                 // 25
    "AhrefsBot",                // 26
    "SemrushBot",               // 27
    "MJ12bot",                  // 28
    "facebookexternalhit",      // 29
    "Yahoo! Slurp",             // 30
    "Ask Jeeves",               // 31
    "Twitterbot",               // 32
    "LinkedInBot",              // 33
    "PetalBot",                 // 34
    "GPTBot",                   // 35
    "SeznamBot",                // 36
    "Sogou",                    // 37
    "Exabot",                   // 38
    "DotBot",                   // 39
    "[OTHER ROBOT]",            // 40: a robot by its words, named by no rule
}};

constexpr RobotRule kRobotRules[] = {
    {"Googlebot", 20, L},
    {"bingbot", 21, L},
    {"YandexBot", 22, L},
    {"Baiduspider", 23, L},
    {"DuckDuckBot", 24, L},
    {"Applebot", 25, L},
    {"AhrefsBot", 26, L},
    {"SemrushBot", 27, L},
    {"MJ12bot", 28, L},
    {"facebookexternalhit", 29, L},
    {"Yahoo! Slurp", 30, L},  // before the classic "Slurp" of HotBot
    {"Ask Jeeves", 31, L},
    {"Teoma", 31, L},
    {"Twitterbot", 32, L},
    {"LinkedInBot", 33, L},
    {"PetalBot", 34, L},
    {"GPTBot", 35, L},
    {"SeznamBot", 36, L},
    {"Sogou", 37, L},
    {"Exabot", 38, L},
    {"DotBot", 39, L},
    // The classic robots.
    {"Scooter", 1, E},
    {"ArchitextSpider", 2, E},
    {"Slurp", 3, E},
    {"InfoSeek", 4, E},
    {"Lycos", 5, E},
    {"Fireball", 6, E},
    {"WebCrawler", 7, E},
    {"AnzwersCrawl", 8, E},
    {"MuscatFerret", 9, E},
    {"Namecrawler", 10, E},
    {"Gulliver", 11, E},
    {"Harvest", 12, E},
    {"sexsearcher", 13, E},
    {"SwissSearch", 14, E},
    {"T-H-U-N-D-E-R-S-T-O-N-E", 15, E},
    {"WiseWire", 16, E},
    {"ia_archive", 17, E},
    {"libwww", 18, E},
    {"Arachnoidea", 19, E},
    // Feed readers and archivers that fetch on their own.
    {"Feedfetcher", 40, E},
    {"feedfetcher", 40, E},
    {"Feedly", 40, E},
    {"FeedParser", 40, E},
    {"Tiny Tiny RSS", 40, L},
    {"archive.org_bot", 40, E},
    // Any other agent that calls itself a robot. "BOT" is left out: it is a
    // phone maker's name in Android agents.
    {"bot", 40, E},
    {"Bot", 40, E},
    {"crawl", 40, E},
    {"Crawl", 40, E},
    {"spider", 40, E},
    {"Spider", 40, E},
    {"slurp", 40, E},
};

}  // namespace

std::span<const OsInfo> os_table() { return kOsTable; }
std::span<const OsRule> os_rules() { return kOsRules; }
std::span<const BrowserRule> browser_rules() { return kBrowserRules; }
std::span<const std::string_view> robot_names() { return kRobotNames; }
std::span<const RobotRule> robot_rules() { return kRobotRules; }

}  // namespace tallowick::engine
