#include "engine/agents.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <string>
#include <vector>

#include "base/settings.h"
#include "logs/dispatch.h"
#include "logs/log_source.h"
#include "support/test_support.h"

namespace tallowick::engine {
namespace {

struct AgentCase {
    std::string_view agent;
    std::string_view browser;  // empty: no browser
    std::string_view os;
    std::string_view robot;    // empty: no robot
};

void ExpectClass(const AgentCase& c) {
    const AgentClass r = classify_agent(c.agent);
    EXPECT_EQ(r.browser.view(), c.browser) << c.agent;
    EXPECT_EQ(os_name(r.os), c.os) << c.agent;
    EXPECT_EQ(r.os_family, os_family(r.os)) << c.agent;
    EXPECT_EQ(r.robot == kNoRobot ? std::string_view{} : robot_name(r.robot), c.robot) << c.agent;
}

TEST(AgentClassification, ClassicRules) {
    const AgentCase cases[] = {
        {"Mozilla/4.0 (compatible; MSIE 5.01; Windows NT)", "Explorer 5.0", "Windows NT", ""},
        {"Mozilla/4.7 [en] (X11; I; Linux 2.2.14 i686)", "Netscape 4.7", "Linux", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.0; Mac_PowerPC)", "Explorer 5.0", "MacOS", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.0; Win32)", "Explorer 5.0", "Windows 3.1", ""},
        {"0.9 beta", "", "Unknown", ""},
        // The version scan copies digits and dots, skips the rest, and stops one
        // character after the first dot; a text that ends first gives no version.
        {"Mozilla/4.61 [en] (Win95; I)", "Netscape 4.6", "Windows 95", ""},
        {"SAGEM-myX-5m/1.0", "SAGEM-myX-5m 51.0", "Unknown", ""},
        {"Slurp.so/Goo (slurp@inktomi.com)", "Slurp.so ..", "Unknown", "HotBot"},
        {"Mozilla/5", "Netscape ", "Unknown", ""},
        {"AOL", "AOL ", "Unknown", ""},
        {"contype", "PlugIn", "Unknown", ""},
        {"This is an unknown agent", "This ", "Unknown", ""},
        {"woozweb-monitoring", "woozweb-monitoring", "Unknown", ""},
        // Each family of the classic system rules, in their order.
        {"Mozilla/4.0 (WinNT; Windows 98)", "Netscape 4.0", "Windows NT", ""},
        {"Mozilla/3.0 (Windows+95)", "Netscape 3.0", "Windows 95", ""},
        {"Mozilla/3.0 (Windows-NT)", "Netscape 3.0", "Windows NT", ""},
        {"Mozilla/3.0 (68k)", "Netscape 3.0", "MacOS", ""},
        {"Mozilla/4.5 (X11; SunOS 5.6; AIX)", "Netscape 4.5", "SunOS", ""},
        {"Mozilla/4.7 [en] (X11; I; OSF1 V4.0 alpha)", "Netscape 4.7", "OSF", ""},
        {"Mozilla/3.0 (OpenVMS)", "Netscape 3.0", "OpenVMS", ""},
        // The robot table is searched in index order.
        {"Slurp ArchitextSpider", "Slurp ", "Unknown", "Excite"},
        {"T-H-U-N-D-E-R-S-T-O-N-E", "T-H-U-N-D-E-R-S-T-O-N-E", "Unknown", "Thunderstone"},
    };
    for (const auto& c : cases) ExpectClass(c);
}

// Agents as real logs hold them, from the late 1990s to today.
TEST(AgentClassification, RealAgents) {
    const AgentCase cases[] = {
        // Late 1990s.
        {"Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)", "Explorer 4.0", "Windows 95", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.0; Windows 98; DigExt)", "Explorer 5.0", "Windows 98", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)", "Explorer 5.5", "Windows2000", ""},
        {"Mozilla/4.7 [fr] (Win98; I)", "Netscape 4.7", "Windows 98", ""},
        {"Mozilla/4.5 [en] (WinNT; I)", "Netscape 4.5", "Windows NT", ""},
        {"Mozilla/3.01 (Win16; I)", "Netscape 3.0", "Windows 3.1", ""},
        {"Mozilla/2.0 (compatible; MSIE 3.02; Windows 3.1)", "Explorer 3.0", "Windows 3.1", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.0; AOL 5.0; Windows 98; DigExt)", "AOL 5.0", "Windows 98", ""},
        {"Mozilla/3.0 WebTV/1.2 (compatible; MSIE 2.0)", "WebTV 1.2", "WebTV", ""},
        {"Mozilla/4.0 (compatible; MSIE 5.0; Windows 98) Opera 3.60 [en]", "Explorer 5.0", "Windows 98", ""},
        {"Mozilla/3.0 (Windows 98; U) Opera 6.03", "Opera 6.0", "Windows 98", ""},
        {"Opera/3.60 (Windows 95; U)", "Opera 3.6", "Windows 95", ""},
        {"Lynx/2.8.3rel.1 libwww-FM/2.14 SSL-MM/1.4.1", "Lynx 2.8", "Unix Console", "Crawler.de"},
        {"Mozilla/4.08 [en] (X11; I; SunOS 5.7 sun4u)", "Netscape 4.0", "SunOS", ""},
        {"Mozilla/4.51 [en] (X11; I; IRIX 6.5 IP32)", "Netscape 4.5", "IRIX", ""},
        {"Mozilla/4.7 [en] (X11; U; AIX 4.3)", "Netscape 4.7", "AIX", ""},
        {"Mozilla/4.7 [en] (X11; I; HP-UX B.10.20 9000/785)", "Netscape 4.7", "HP-UX", ""},
        {"Mozilla/4.7 [en] (X11; I; FreeBSD 3.4-RELEASE i386)", "Netscape 4.7", "FreeBSD", ""},
        {"Mozilla/4.61 [en] (OS/2; U)", "Netscape 4.6", "OS/2", ""},
        {"Mozilla/4.7 (Macintosh; I; PPC)", "Netscape 4.7", "MacOS", ""},
        {"IBrowse/2.2 (Amiga; AmigaOS 3.9; 68K)", "IBrowse 2.2", "Amiga", ""},
        {"Scooter/2.0 G.R.A.B. V1.1.0", "Scooter 2.0", "Unknown", "AltaVista"},
        {"ArchitextSpider", "ArchitextSpider", "Unknown", "Excite"},
        {"Slurp/2.0 (slurp@inktomi.com; http://www.inktomi.com/slurp.html)", "Slurp 2.0", "Unknown", "HotBot"},
        {"ia_archiver", "ia_archiver", "Unknown", "Alexa"},
        {"Lycos_Spider_(T-Rex)/3.0", "Lycos_Spider_(T-Rex) 3.0", "Unknown", "Lycos"},
        {"Gulliver/1.3", "Gulliver 1.3", "Unknown", "Northern Light Search"},
        // 2000s and 2010s.
        {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)", "Explorer 6.0", "Windows XP", ""},
        {"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0)", "Explorer 7.0", "Windows Vista", ""},
        {"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0)", "Explorer 8.0", "Windows 7", ""},
        {"Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like Gecko", "Explorer 11.0", "Windows 7", ""},
        {"Mozilla/4.0+(compatible;MSIE+5.5;+Windows+2000+Server)", "Explorer 5.5", "Windows2000", ""},
        {"Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.20) Gecko/20081217 Firefox/2.0.0.20",
         "Firefox 2.0", "Windows XP", ""},
        {"Opera/9.80 (Windows NT 5.1; U; en) Presto/2.10.289 Version/12.01", "Opera 12.01", "Windows XP", ""},
        {"Mozilla/5.0 (Macintosh; U; PPC Mac OS X Mach-O; en-US; rv:1.4) Gecko/20030624 Netscape/7.1",
         "Netscape 7.1", "macOS", ""},
        {"Mozilla/5.0 (Linux; U; Android 1.5; en-us; sdk Build/CUPCAKE) AppleWebKit/528.5+ (KHTML, like "
         "Gecko) Version/3.1.2 Mobile Safari/525.20.1",
         "Android Browser 3.1", "Android", ""},
        {"Mozilla/5.0 (Macintosh; U; Intel Mac OS X 10_5_8; en-us) AppleWebKit/531.9 (KHTML, like Gecko) "
         "Version/4.0.3 Safari/531.9",
         "Safari 4.0", "macOS", ""},
        {"Mozilla/5.0+(Macintosh;+Intel+Mac+OS+X+10_9_4)+AppleWebKit/537.36+(KHTML,+like+Gecko)+Chrome/"
         "36.0.1985.125+Safari/537.36",
         "Chrome 36.0", "macOS", ""},
        {"Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1;+SV1)", "Explorer 6.0", "Windows XP", ""},
        {"Mozilla/5.0 (X11; CrOS x86_64 6310.68.0) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/39.0.2171.96 Safari/537.36",
         "Chrome 39.0", "Chrome OS", ""},
        {"Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/39.0.2171.95 "
         "Safari/537.36 OPR/26.0.1656.60",
         "Opera 26.0", "Windows 7", ""},
        {"Mozilla/5.0 (Windows NT 6.3; WOW64; rv:35.0) Gecko/20100101 Firefox/35.0", "Firefox 35.0",
         "Windows 8.1", ""},
        {"Mozilla/5.0 (Windows NT 6.2; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/30.0.1599.101 Safari/537.36",
         "Chrome 30.0", "Windows 8", ""},
        // Today's browsers.
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.0.0 Safari/537.36",
         "Chrome 120.0", "Windows 10/11", ""},
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.0.0 Safari/537.36 Edg/120.0.2210.91",
         "Edge 120.0", "Windows 10/11", ""},
        {"Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36+(KHTML,+like+Gecko)+Chrome/"
         "107.0.0.0+Safari/537.36+Edg/107.0.1418.35",
         "Edge 107.0", "Windows 10/11", ""},
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/70.0.3538.102 Safari/537.36 Edge/18.19582",
         "Edge 18.19582", "Windows 10/11", ""},
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0", "Firefox 121.0",
         "Windows 10/11", ""},
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/118.0.0.0 YaBrowser/23.11.0.0 Safari/537.36",
         "Yandex Browser 23.11", "Windows 10/11", ""},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "Version/17.2.1 Safari/605.1.15",
         "Safari 17.2", "macOS", ""},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15; rv:121.0) Gecko/20100101 Firefox/121.0",
         "Firefox 121.0", "macOS", ""},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "Version/17.2 Mobile/15E148 Safari/604.1",
         "Safari 17.2", "iOS", ""},
        {"Mozilla/5.0 (iPad; CPU OS 16_6 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "CriOS/120.0.6099.119 Mobile/15E148 Safari/604.1",
         "Chrome 120.0", "iOS", ""},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "FxiOS/121.0 Mobile/15E148 Safari/605.1.15",
         "Firefox 121.0", "iOS", ""},
        {"Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
         "Mobile Safari/537.36",
         "Chrome 120.0", "Android", ""},
        {"Mozilla/5.0 (Linux; Android 13; SAMSUNG SM-S911B) AppleWebKit/537.36 (KHTML, like Gecko) "
         "SamsungBrowser/23.0 Chrome/115.0.0.0 Mobile Safari/537.36",
         "Samsung Internet 23.0", "Android", ""},
        {"Mozilla/5.0 (Android 14; Mobile; rv:121.0) Gecko/121.0 Firefox/121.0", "Firefox 121.0", "Android", ""},
        {"Mozilla/5.0 (Linux; Android 10; HD1913) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.6099.144 Mobile Safari/537.36 EdgA/120.0.2210.115",
         "Edge 120.0", "Android", ""},
        {"Mozilla/5.0 (Linux; Android 10; VOG-L29) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.0.0 Mobile Safari/537.36 OPR/79.1.4195.76880",
         "Opera 79.1", "Android", ""},
        {"Mozilla/5.0 (Linux; Android 9; CUBOT P30) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/119.0.0.0 Mobile Safari/537.36",
         "Chrome 119.0", "Android", ""},
        {"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
         "Safari/537.36",
         "Chrome 120.0", "Linux", ""},
        {"Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0", "Firefox 121.0",
         "Linux", ""},
        // Robots.
        {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Googlebot 2.1",
         "Unknown", "Googlebot"},
        {"Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X Build/MMB29P) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.6099.129 Mobile Safari/537.36 (compatible; Googlebot/2.1; "
         "+http://www.google.com/bot.html)",
         "Chrome 120.0", "Android", "Googlebot"},
        {"Googlebot-Image/1.0", "Googlebot-Image 1.0", "Unknown", "Googlebot"},
        {"Mozilla/5.0+(compatible;+bingbot/2.0;++http://www.bing.com/bingbot.htm)", "bingbot 2.0", "Unknown",
         "bingbot"},
        {"Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)", "YandexBot 3.0", "Unknown",
         "YandexBot"},
        {"Mozilla/5.0 (compatible; Baiduspider/2.0; +http://www.baidu.com/search/spider.html)",
         "Baiduspider 2.0", "Unknown", "Baiduspider"},
        {"DuckDuckBot/1.1; (+http://duckduckgo.com/duckduckbot.html)", "DuckDuckBot 1.1", "Unknown",
         "DuckDuckBot"},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_5) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "Version/13.1.1 Safari/605.1.15 (Applebot/0.1; +http://www.apple.com/go/applebot)",
         "Safari 13.1", "macOS", "Applebot"},
        {"Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)", "AhrefsBot 7.0", "Unknown",
         "AhrefsBot"},
        {"Mozilla/5.0 (compatible; SemrushBot/7~bl; +http://www.semrush.com/bot.html)", "SemrushBot 7",
         "Unknown", "SemrushBot"},
        {"Mozilla/5.0 (compatible; MJ12bot/v1.4.8; http://mj12bot.com/)", "MJ12bot", "Unknown", "MJ12bot"},
        {"facebookexternalhit/1.1 (+http://www.facebook.com/externalhit_uatext.php)",
         "facebookexternalhit 1.1", "Unknown", "facebookexternalhit"},
        {"Mozilla/5.0+(compatible;+Yahoo!+Slurp;+http://help.yahoo.com/help/us/ysearch/slurp)",
         "Yahoo! Slurp", "Unknown", "Yahoo! Slurp"},
        {"Mozilla/5.0+(compatible;+Ask+Jeeves/Teoma;++http://about.ask.com/en/docs/about/webmasters.shtml)",
         "Ask Jeeves", "Unknown", "Ask Jeeves"},
        {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko); compatible; GPTBot/1.0; "
         "+https://openai.com/gptbot",
         "GPTBot 1.0", "Unknown", "GPTBot"},
        {"Mozilla/5.0 (compatible; Ezooms/1.0; ezooms.bot@gmail.com)", "Ezooms 1.0", "Unknown",
         "[OTHER ROBOT]"},
        {"NerdyBot", "NerdyBot", "Unknown", "[OTHER ROBOT]"},
        // Programs and libraries.
        {"curl/7.68.0", "curl 7.68", "Unknown", ""},
        {"Wget/1.21.2", "Wget 1.21", "Unknown", ""},
        {"python-requests/2.31.0", "python-requests 2.31", "Unknown", ""},
        {"Python-urllib/3.11", "Python-urllib 3.11", "Unknown", ""},
        {"Go-http-client/1.1", "Go-http-client 1.1", "Unknown", ""},
        {"Java/1.8.0_151", "Java 1.8", "Unknown", ""},
        {"okhttp/4.9.2", "okhttp 4.9", "Unknown", ""},
        {"Apache-HttpClient/4.5.13 (Java/11.0.16)", "Apache-HttpClient 4.5", "Unknown", ""},
        {"libwww-perl/5.64", "libwww-perl 5.64", "Unknown", "Crawler.de"},
        {"Mozilla/5.0 (Windows NT; Windows NT 10.0; en-US) WindowsPowerShell/5.1.20348.859", "PowerShell 5.1",
         "Windows 10/11", ""},
        {"gPXE/0.9.7", "gPXE 0.9", "Unknown", ""},
    };
    static_assert(std::size(cases) >= 60);
    for (const auto& c : cases) ExpectClass(c);
}

// Every rule must be reachable: an agent made of just a rule's words is named by
// that rule, not by an earlier one that shadows it.
TEST(AgentClassification, NoRuleIsShadowed) {
    for (const OsRule& rule : os_rules())
        EXPECT_EQ(classify_os(rule.word), rule.os) << rule.word;
    for (const RobotRule& rule : robot_rules())
        EXPECT_EQ(classify_robot(rule.word), rule.robot) << rule.word;
    const auto rules = browser_rules();
    for (std::size_t r = 0; r < rules.size(); ++r) {
        std::string agent(rules[r].word);
        agent += rules[r].naming == BrowserNaming::clause ? " Name/1.0;" : "1.0 ";
        if (!rules[r].also.empty()) agent.append(rules[r].also).append("1.0");
        AgentClass c;
        classify_browser(agent, c);
        EXPECT_EQ(c.browser_rule, static_cast<int>(r)) << agent;
    }
}

TEST(AgentClassification, TablesAreConsistent) {
    for (const OsRule& rule : os_rules()) EXPECT_FALSE(os_name(rule.os).empty()) << rule.word;
    for (const RobotRule& rule : robot_rules()) {
        EXPECT_GT(rule.robot, kNoRobot) << rule.word;
        EXPECT_FALSE(robot_name(rule.robot).empty()) << rule.word;
    }
    for (int os = 0; os < os_count(); ++os) {
        EXPECT_GE(os_family(os), kFamilyWindows);
        EXPECT_LE(os_family(os), kFamilyOther);
    }
}

TEST(AgentClassification, BrowserNamesStayWithinTheirBuffer) {
    // A first word longer than the buffer is cut, never overflowing it.
    const std::string long_word(300, 'x');
    AgentClass c = classify_agent(long_word + "/1.0");
    EXPECT_EQ(c.browser.view(), long_word.substr(0, BrowserName::kCapacity));

    // The classic scan copies 32 digits at most.
    const std::string digits(40, '7');
    c = classify_agent("Foo/" + digits);
    EXPECT_EQ(c.browser.view(), "Foo " + digits.substr(0, 32));
    EXPECT_EQ(c.browser_source, BrowserSource::agent_text);

    // A clause product and its version stop at the buffer's end too.
    c = classify_agent("Mozilla/5.0 (compatible; " + long_word + "/2.0)");
    EXPECT_EQ(c.browser.size(), BrowserName::kCapacity);
    EXPECT_EQ(c.browser_source, BrowserSource::clause);
}

TEST(AgentClassification, BlanksWrittenAsPlusOnlyForTodaysRules) {
    EXPECT_EQ(os_name(classify_os("Mozilla/5.0+(Windows+NT+6.1)")), "Windows 7");
    EXPECT_EQ(os_name(classify_os("Mozilla/5.0 (Windows NT 6.1)")), "Windows 7");
    // The classic "Windows 98" rule wants the blank; "Windows+98" has its own rule.
    EXPECT_EQ(find_word("a Windows+98", "Windows 98", Match::exact), std::string_view::npos);
    EXPECT_EQ(find_word("a Windows+98", "Windows 98", Match::blank_or_plus), 2u);
    EXPECT_EQ(find_word("Windows", "Windows 98", Match::blank_or_plus), std::string_view::npos);
    EXPECT_EQ(find_word("", "x y", Match::blank_or_plus), std::string_view::npos);
}

TEST(AgentClassification, PlusForBlanksGivesTheSpacedResult) {
    for (std::string spaced : {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                               "Mozilla/4.0 (compatible; MSIE 5.01; Windows 95; DigExt)",
                               "Mozilla/5.0 (compatible; archive.org_bot +http://archive.org/details/"
                               "archive.org_bot)"}) {
        std::string plus = spaced;
        std::replace(plus.begin(), plus.end(), ' ', '+');
        const AgentClass a = classify_agent(spaced), b = classify_agent(plus);
        EXPECT_EQ(a.os, b.os) << plus;
        EXPECT_EQ(a.browser.view(), b.browser.view()) << plus;
        EXPECT_EQ(a.robot, b.robot) << plus;
    }
}

TEST(AgentClassification, WebViewsPhonesAndFeedReaders) {
    const AgentClass webview = classify_agent(
        "Mozilla/5.0 (iPhone; CPU iPhone OS 16_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
        "Gecko) Mobile/15E148 Instagram 289.0.0.25.49");
    EXPECT_EQ(webview.browser.view(), "Safari");
    EXPECT_EQ(os_name(webview.os), "iOS");
    const AgentClass phone = classify_agent(
        "Mozilla/5.0 (compatible; MSIE 10.0; Windows Phone 8.0; Trident/6.0; IEMobile/10.0; ARM; "
        "Touch; NOKIA; Lumia 920)");
    EXPECT_EQ(os_name(phone.os), "Windows Phone");
    for (std::string_view feed :
         {"FeedFetcher-Google; (+http://www.google.com/feedfetcher.html)",
          "Feedly/1.0 (+http://www.feedly.com/fetcher.html; like FeedFetcher-Google)",
          "UniversalFeedParser/5.2.1 +https://code.google.com/p/feedparser/",
          "ia_archiver (+http://www.alexa.com/site/help/webmasters; crawler@alexa.com)",
          "Tiny Tiny RSS/22.08 (https://tt-rss.org/)"})
        EXPECT_NE(classify_agent(feed).robot, kNoRobot) << feed;
}

TEST(AgentCache, GivesTheSameResultsAsClassifying) {
    const std::vector<std::string> agents = {
        "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT)",
        "curl/7.68.0",
        "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
        "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) Version/17.2 Mobile/15E148 Safari/604.1",
        "0.9",
        std::string(AgentCache::kMaxCachedAgent + 1, 'a'),  // too long to keep
    };
    // Two entries at most: the cache starts over again and again.
    AgentCache small(2, 4096);
    AgentCache big;
    for (int round = 0; round < 3; ++round) {
        for (const auto& a : agents) {
            const AgentClass want = classify_agent(a);
            for (AgentCache* cache : {&small, &big}) {
                const AgentClass got = cache->classify(a);
                EXPECT_EQ(got.browser.view(), want.browser.view()) << a;
                EXPECT_EQ(got.os, want.os) << a;
                EXPECT_EQ(got.robot, want.robot) << a;
                EXPECT_EQ(got.browser_source, want.browser_source) << a;
            }
        }
    }
    EXPECT_EQ(big.size(), agents.size() - 1);
    EXPECT_EQ(big.misses(), agents.size() + 2);  // the long agent misses every round
    EXPECT_EQ(big.hits(), 2 * (agents.size() - 1));
    EXPECT_EQ(big.restarts(), 0u);
    EXPECT_LE(small.size(), 2u);
    EXPECT_GT(small.restarts(), 0u);

    // The text bound restarts the cache as well.
    AgentCache tight(100, 20);
    tight.classify("curl/7.68.0");
    tight.classify("Wget/1.21.2");
    EXPECT_EQ(tight.restarts(), 1u);
    EXPECT_EQ(tight.classify("Wget/1.21.2").browser.view(), "Wget 1.21");
    EXPECT_EQ(tight.hits(), 1u);
}

// The agents of the real logs: few must be left to the "Unknown" system or to a
// browser named after the agent's own first word. Robots and libraries rightly
// have no system, so that share is bounded more loosely.
TEST(AgentClassification, RealLogs) {
    const auto dir = test::shared_logs_dir();
    if (!dir) GTEST_SKIP() << "no shared logs folder";
    const CustomFormat custom{};
    const AnalysisSettings analysis{};
    AgentCache cache;
    AgentCensus census;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*dir)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        auto source = logs::OpenLog(entry.path().string());
        ASSERT_TRUE(source) << entry.path();
        logs::LineDispatcher dispatcher(custom, analysis);
        dispatcher.ResetLogType();
        std::string_view line;
        logs::HitRecord hit;
        while (logs::ReadLogLine(*source, line)) {
            if (dispatcher.DispatchLine(line, hit) != logs::LineResult::hit) continue;
            if (hit.agent.empty() || hit.agent.front() == '-') continue;
            census.add(cache.classify(hit.agent));
        }
    }
    ASSERT_GT(census.agents, 4000u);
    EXPECT_LT(census.share(census.unknown_os), 0.03);
    EXPECT_LT(census.share(census.browser_from_text), 0.01);
    EXPECT_GT(census.robots, 0u);
    // Thousands of hits, under a hundred distinct agents.
    EXPECT_LT(cache.size(), 100u);
    EXPECT_GT(cache.hits(), 40 * cache.misses());
}

}  // namespace
}  // namespace tallowick::engine
