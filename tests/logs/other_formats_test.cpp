#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "logs/custom_format.h"
#include "logs/field_layout.h"
#include "logs/line_buffer.h"
#include "logs/netscape.h"
#include "logs/other_formats.h"
#include "logs/squid.h"

namespace tallowick::logs {
namespace {

using test::ExactLine;
using test::LineCase;
using test::Want;

constexpr LineResult kBad = LineResult::malformed;

template <class Parse>
void check_all(std::span<const LineCase> cases, Parse parse) {
    for (const LineCase& c : cases) {
        const ExactLine line(c.line);
        HitRecord hit;
        const LineResult r = parse(line.view(), hit);
        test::expect_hit(hit, r, c.want, c.line);
    }
}

TEST(WebstarLine, HeaderLayoutAndTheDefaultSixFields) {
    FieldLayout header;
    ReadTabLayout(ExactLine("!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT AGENT REFERER "
                            "TRANSFER_TIME STATUS"),
                  header);
    const LineCase with_header[] = {
        {"08/15/00\t10:24:26\tOK\t192.168.1.2\t/index.html\t1234\tMozilla/4.0\thttp://r/\t3\t200",
         {.date = "08/15/2000", .time = "10:24:26", .client = "192.168.1.2",
          .url = "/index.html", .status = "200", .referrer = "http://r/", .agent = "Mozilla/4.0",
          .bytes = 1234}},
        // Trailing fields may be missing; the result stands in for the status.
        {"08/15/00\t10:24:26\tERR!\t192.168.1.2\t/gone.html",
         {.date = "08/15/2000", .time = "10:24:26", .client = "192.168.1.2",
          .url = "/gone.html", .status = "ERR!"}},
        {"08/15/00\t10:24:26\tOK\t192.168.1.2", {.result = kBad}},
        {"someday\t10:24:26\tOK\t192.168.1.2\t/index.html", {.result = kBad}},
    };
    check_all(with_header, [&](std::string_view l, HitRecord& h) {
        return ParseWebstarLine(l, h, header, false);
    });

    FieldLayout fixed;
    SetWebstarDefaultLayout(fixed);
    const LineCase six[] = {
        {"08/15/00\t10:24:26\tOK\t192.168.1.2\t/a.html\t99",
         {.date = "08/15/2000", .time = "10:24:26", .client = "192.168.1.2", .url = "/a.html",
          .status = "OK", .bytes = 99}},
    };
    check_all(six, [&](std::string_view l, HitRecord& h) {
        return ParseWebstarLine(l, h, fixed, false);
    });
    HitRecord hit;
    EXPECT_EQ(ParseWebstarLine(ExactLine("08/15/00\t10:24:26"), hit, FieldLayout{}, false), kBad);
}

TEST(PurveyorLine, ParameterLayoutWithQuotedAndBracketedFields) {
    FieldLayout layout;
    ReadPurveyorLayout(ExactLine("#!PARAMETER: REMOTE_ADDR, REMOTE_USER, [%t], \"%r\", STATUS, "
                                 "BYTES, HTTP_USER_AGENT, SERVER_NAME"),
                       layout);
    EXPECT_FALSE(layout.is_common());
    const LineCase cases[] = {
        {R"(10.1.1.1 jim [10/Oct/2000:13:55:36 -0700] "GET /a.html HTTP/1.0" 200 77 "Lynx 2.8" www.a.com)",
         {.date = "10/10/2000", .time = "13:55:36 -0700", .client = "10.1.1.1", .user = "jim",
          .method = "GET", .url = "/a.html", .status = "200", .agent = "Lynx 2.8",
          .server = "www.a.com", .bytes = 77}},
        {R"(10.1.1.1 jim [10/Oct/2000:13:55:36 -0700] "GET /a.html HTTP/1.0")",
         {.date = "10/10/2000", .time = "13:55:36 -0700", .client = "10.1.1.1", .user = "jim",
          .method = "GET", .url = "/a.html"}},
        {R"(10.1.1.1 jim [10/Oct/2000:13:55:36 -0700 "GET /a.html HTTP/1.0" 200 77)",
         {.result = kBad}},
        {R"(10.1.1.1 jim [10/Oct/2000:13:55:36 -0700] "GET /a.html HTTP/1.0 200 77)",
         {.result = kBad}},
        {R"(10.1.1.1 jim [yesterday] "GET /a.html HTTP/1.0" 200 77)", {.result = kBad}},
        {"10.1.1.1 jim", {.result = kBad}},
    };
    check_all(cases, [&](std::string_view l, HitRecord& h) {
        return ParsePurveyorLine(l, h, layout, false);
    });
}

TEST(NetscapeLine, FormatLayoutWithRefererAgentAndVirtualServer) {
    NetscapeLayout layout;
    ReadNetscapeLayout(ExactLine(
                           "format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "
                           "\"%Req->reqpb.clf-request%\" %Req->srvhdrs.clf-status% "
                           "%Req->srvhdrs.content-length% \"%Req->headers.referer%\" "
                           "\"%Req->headers.user-agent%\" %vsid% %Req->reqpb.query%"),
                       layout);
    EXPECT_FALSE(layout.is_common());
    const LineCase cases[] = {
        {R"(10.0.0.1 - ann [21/Nov/2001:10:00:00 -0800] "GET /x.html HTTP/1.0" 200 1234 "http://r/" "Mozilla/4.7 [en]" https-www q=1 extra)",
         {.date = "11/21/2001", .time = "10:00:00 -0800", .client = "10.0.0.1", .user = "ann",
          .method = "GET", .url = "/x.html", .status = "200", .referrer = "http://r/",
          .agent = "Mozilla/4.7 [en]", .server = "https-www", .bytes = 1234}},
        // The literal " - " is missing.
        {R"(10.0.0.1 ann [21/Nov/2001:10:00:00 -0800] "GET /x.html HTTP/1.0" 200 1 "-" "-" v q)",
         {.result = kBad}},
        {R"(10.0.0.1 - ann [21/Nov/2001:10:00:00 -0800] "GET /x.html HTTP/1.0)", {.result = kBad}},
        {R"(10.0.0.1 - ann [Nov 2001] "GET /x.html HTTP/1.0" 200 1 "-" "-" v q)", {.result = kBad}},
    };
    check_all(cases, [&](std::string_view l, HitRecord& h) { return ParseNetscapeLine(l, h, layout); });

    NetscapeLayout plain;
    ReadNetscapeLayout(ExactLine("format=%Ses->client.ip% %SYSDATE% %Req->reqpb.uri%"), plain);
    const LineCase short_cases[] = {
        {"10.0.0.2 21/Nov/2001:10:00:00 /y.gif more",
         {.date = "11/21/2001", .time = "10:00:00", .client = "10.0.0.2", .url = "/y.gif"}},
        {"10.0.0.2", {.result = kBad}},
    };
    check_all(short_cases, [&](std::string_view l, HitRecord& h) { return ParseNetscapeLine(l, h, plain); });
    HitRecord hit;
    EXPECT_EQ(ParseNetscapeLine(ExactLine("10.0.0.2"), hit, NetscapeLayout{}), kBad);
}

TEST(RealServerLine, PlayerIsTheAgent) {
    const LineCase cases[] = {
        {R"(10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] "GET /song.rm PNA/10" 200 41523 [Win98_4.10_6.0.9.584_play32_RN01_EN_586] [00000000-0000-0000] [UNKNOWN] 3 5 0 0)",
         {.date = "10/10/2000", .time = "13:55:36 -0700", .client = "10.0.0.1", .method = "GET",
          .url = "/song.rm", .status = "200", .agent = "Win98_4.10_6.0.9.584_play32_RN01_EN_586",
          .bytes = 41523}},
        {R"(10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] "GET /song.rm PNA/10")", {.result = kBad}},
    };
    check_all(cases, [](std::string_view l, HitRecord& h) { return ParseRealServerLine(l, h); });
}

TEST(SmallServerLines, WebsiteFilemakerFirstClassAndPipes) {
    const LineCase website[] = {
        {"10/10/00 13:55:36\t10.0.0.1\t-\twww.a.com\tGET\t/a.html\t-\t200\t512\t300\t15\thttp://r/\tMozilla/4.0",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.1", .method = "GET",
          .url = "/a.html", .status = "200", .referrer = "http://r/", .agent = "Mozilla/4.0",
          .server = "www.a.com", .bytes = 512}},
        {"10/10/00 13:55:36\t10.0.0.1\t-\twww.a.com\tGET\t/a.html\t-", {.result = kBad}},
        {"not a date\t10.0.0.1\t-\tw\tGET\t/a\t-\t200\t1\t1\t1\t-\t-", {.result = kBad}},
    };
    check_all(website, [](std::string_view l, HitRecord& h) { return ParseWebsiteLine(l, h, false); });

    const LineCase filemaker[] = {
        {"12/31/1999 23:59:59 10.0.0.3 /FMPro?-db=x",
         {.date = "12/31/1999", .time = "23:59:59", .client = "10.0.0.3", .url = "/FMPro?-db=x"}},
        {"12/31/1999 23:59:59 10.0.0.3 GET /FMPro",
         {.date = "12/31/1999", .time = "23:59:59", .client = "10.0.0.3", .method = "GET",
          .url = "/FMPro"}},
        {"12/31/1999 23:59:59 10.0.0.3 /FMPro 404",
         {.date = "12/31/1999", .time = "23:59:59", .client = "10.0.0.3", .url = "/FMPro",
          .status = "404"}},
        {"12/31/1999 23:59:59  /FMPro", {.result = kBad}},
        {"12/31/1999 23:59:59 /FMPro", {.result = kBad}},
        {"99 23:59:59 10.0.0.3 /FMPro", {.result = kBad}},
    };
    check_all(filemaker, [](std::string_view l, HitRecord& h) { return ParseFilemakerLine(l, h, false); });

    const LineCase firstclass[] = {
        {R"([10/10/2000 13:55:36] 10.0.0.5 "GET /index.html HTTP/1.0" 200 1043 "http://r/" "FC 5")",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.5", .method = "GET",
          .url = "/index.html", .status = "200", .referrer = "http://r/", .agent = "FC 5",
          .bytes = 1043}},
        {"[10/10/2000 13:55:36] 10.0.0.5 GET /index.html 200 1043",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.5", .method = "GET",
          .url = "/index.html", .status = "200", .bytes = 1043}},
        {"[10/10/2000 13:55:36 10.0.0.5 GET /index.html 200 1043", {.result = kBad}},
        {"[10/10/2000 13:55:36] 10.0.0.5", {.result = kBad}},
        {"[later] 10.0.0.5 GET /index.html 200 1043", {.result = kBad}},
        {R"([10/10/2000 13:55:36] 10.0.0.5 "GET /index.html 200 1043)", {.result = kBad}},
    };
    check_all(firstclass, [](std::string_view l, HitRecord& h) { return ParseFirstClassLine(l, h, false); });

    const LineCase pipes[] = {
        {"2000-10-10|13:55:36|10.0.0.4|-|GET|/x.html|200|512|http://r/|Mozilla|www",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.4", .method = "GET",
          .url = "/x.html", .status = "200", .referrer = "http://r/", .agent = "Mozilla",
          .server = "www", .bytes = 512}},
        {"2000-10-10 13:55:36||10.0.0.4|bob|GET|/x.html|200",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.4", .user = "bob",
          .method = "GET", .url = "/x.html", .status = "200"}},
        {"2000-10-10|13:55:36|10.0.0.4|-|GET|/x.html", {.result = kBad}},
        {"never|13:55:36|10.0.0.4|-|GET|/x.html|200", {.result = kBad}},
    };
    check_all(pipes, [](std::string_view l, HitRecord& h) { return ParsePipeLine(l, h, false); });
}

// Runs a test body in a fixed time zone and puts the previous one back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (old_) setenv("TZ", old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

TEST(SquidLine, FieldsAndLocalTime) {
    ZoneGuard utc("UTC");
    LocalClock clock;
    const LineCase cases[] = {
        {"1576177221.686     3976 203.0.113.1 TCP_MISS/200 13564 GET http://a.com/x - HIER_DIRECT/198.51.100.7 text/html",
         {.date = "12/12/2019", .time = "19:00:21", .client = "203.0.113.1", .method = "GET",
          .url = "http://a.com/x", .status = "200", .bytes = 13564}},
        // Same hour, later minute: the cached hour must still give the right time.
        {"1576177999.001 1 2001:db8::1 NONE/000 0 CONNECT a.com:443 alice",
         {.date = "12/12/2019", .time = "19:13:19", .client = "2001:db8::1", .user = "alice",
          .method = "CONNECT", .url = "a.com:443", .status = "000"}},
        {"1576180800.000 1 10.0.0.1 TCP_HIT/304 10 GET /y",
         {.date = "12/12/2019", .time = "20:00:00", .client = "10.0.0.1", .method = "GET",
          .url = "/y", .status = "304", .bytes = 10}},
        {"1576177221.686 3976 203.0.113.1 TCP_MISS/200 13564 GET", {.result = kBad}},
        {"1576177221 3976 203.0.113.1 TCP_MISS/200 13564 GET http://a/", {.result = kBad}},
        {"1576177221.686 3976 203.0.113.1 tcp_miss/200 13564 GET http://a/", {.result = kBad}},
        {"1576177221.686 3976 203.0.113.1 TCP_MISS/20 13564 GET http://a/", {.result = kBad}},
        {"Unmatched! The rat the cat the dog chased killed ate the malt!", {.result = kBad}},
    };
    check_all(cases, [&](std::string_view l, HitRecord& h) { return ParseSquidLine(l, h, clock); });
    EXPECT_TRUE(IsSquidLine(ExactLine(cases[0].line)));
    EXPECT_FALSE(IsSquidLine(ExactLine(cases[3].line)));
}

TEST(SquidLine, HourCacheFollowsTheZoneChange) {
    ZoneGuard berlin("Europe/Berlin");
    LocalClock clock;
    HitRecord hit;
    // 2021-03-28 00:59:59 UTC is 01:59:59 CET; one second later it is 03:00:00 CEST.
    ASSERT_EQ(ParseSquidLine(ExactLine("1616893199.000 1 h NONE/200 1 GET /a"), hit, clock),
              LineResult::hit);
    EXPECT_EQ(hit.time, "01:59:59");
    ASSERT_EQ(ParseSquidLine(ExactLine("1616893200.000 1 h NONE/200 1 GET /a"), hit, clock),
              LineResult::hit);
    EXPECT_EQ(hit.time, "03:00:00");
}

TEST(CustomLine, SeparatorsPositionsAndDateAndTimeLayouts) {
    ZoneGuard utc("UTC");
    struct Case {
        int separator, dateformat, timeformat;
        std::string_view line;
        Want want;
    };
    const Case cases[] = {
        {',', 0, 0, "10.0.0.1,2000-10-10,13:55:36,/a,200,512",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.1", .url = "/a",
          .status = "200", .bytes = 512}},
        {0, 1, 0, "10.0.0.1   10/11/00  13:55:36 /a 200 512",
         {.date = "10/11/2000", .time = "13:55:36", .client = "10.0.0.1", .url = "/a",
          .status = "200", .bytes = 512}},
        {'\t', 2, 1, "10.0.0.1\t10/11/2000\t1:55:36 PM\t/a\t-\t-",
         {.date = "11/10/2000", .time = "13:55:36", .client = "10.0.0.1", .url = "/a"}},
        {';', 3, 2, "10.0.0.1;2000.10.11;075536;\"/a;b\";200;1",
         {.date = "10/11/2000", .time = "07:55:36", .client = "10.0.0.1", .url = "/a;b",
          .status = "200", .bytes = 1}},
        {' ', 4, 0, "10.0.0.1 10/Oct/2000:13:55:36 - /a 200 1",
         {.date = "10/10/2000", .time = "13:55:36", .client = "10.0.0.1", .url = "/a",
          .status = "200", .bytes = 1}},
        {'|', 5, 0, "10.0.0.1|1576177221.5||/a|200|1",
         {.date = "12/12/2019", .time = "19:00:21", .client = "10.0.0.1", .url = "/a",
          .status = "200", .bytes = 1}},
        {',', 6, 1, "10.0.0.1,20001011,12:05 am,/a,200,1",
         {.date = "10/11/2000", .time = "00:05:00", .client = "10.0.0.1", .url = "/a",
          .status = "200", .bytes = 1}},
        {',', 0, 0, "10.0.0.1,someday,13:55:36,/a,200,512", {.result = kBad}},
        {',', 0, 0, "10.0.0.1", {.result = kBad}},
        {',', 3, 0, "10.0.0.1,2000-13-01,13:55:36,/a,200,512", {.result = kBad}},
        {',', 0, 1, "10.0.0.1,2000-10-10,13:55:36,/a,200,512", {.result = kBad}},
        {',', 0, 2, "10.0.0.1,2000-10-10,13:55,/a,200,512", {.result = kBad}},
        {';', 0, 0, "10.0.0.1;2000-10-10;13:55:36;\"/a;200;1", {.result = kBad}},
    };
    for (const Case& c : cases) {
        CustomFormat format;
        format.use = true;
        format.separator = c.separator;
        format.dateformat = c.dateformat;
        format.timeformat = c.timeformat;
        auto at = [&](CustomItem item, int position) {
            format.data_index[static_cast<std::size_t>(item)] = position;
        };
        at(CustomItem::client, 1);
        at(CustomItem::date, 2);
        at(CustomItem::time, 3);
        at(CustomItem::url, 4);
        at(CustomItem::status, 5);
        at(CustomItem::bytes, 6);
        CustomLineParser parser;
        const ExactLine line(c.line);
        HitRecord hit;
        test::expect_hit(hit, parser.parse(line, hit, format, false), c.want, c.line);
    }
}

TEST(CustomLine, RequestSourceAndExtraItems) {
    CustomFormat format;
    format.separator = '\t';
    auto at = [&](CustomItem item, int position) {
        format.data_index[static_cast<std::size_t>(item)] = position;
    };
    at(CustomItem::date, 1);
    at(CustomItem::request, 2);
    at(CustomItem::source, 3);
    at(CustomItem::extra, 4);
    at(CustomItem::extra_value, 5);
    at(CustomItem::agent, 40);  // past the end of the line: no agent
    CustomLineParser parser;
    const ExactLine line("2000-10-10 13:55:36\tPOST /form HTTP/1.1\tfeed-7\tgold\t99999999999");
    HitRecord hit;
    ASSERT_EQ(parser.parse(line, hit, format, false), LineResult::hit);
    EXPECT_EQ(hit.time, "13:55:36");
    EXPECT_EQ(hit.method, "POST");
    EXPECT_EQ(hit.url, "/form");
    EXPECT_EQ(hit.source, "feed-7");
    EXPECT_EQ(hit.extra, "gold");
    EXPECT_EQ(hit.extra_value, INT32_MAX);
    EXPECT_TRUE(hit.agent.empty());
}

}  // namespace
}  // namespace tallowick::logs
