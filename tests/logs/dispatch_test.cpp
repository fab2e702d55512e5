#include "logs/dispatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "logs/line_buffer.h"
#include "logs/log_source.h"
#include "support/test_support.h"

namespace tallowick::logs {
namespace {

using test::ExactLine;

struct Dispatch {
    CustomFormat custom;
    AnalysisSettings analysis;
    LineDispatcher d{custom, analysis};
    HitRecord hit;
    ExactLine held;  // the hit's texts point into it

    LineResult line(std::string_view text) {
        held = ExactLine(text);
        return d.DispatchLine(held, hit);
    }
    std::string name() const {
        std::string out = "(none)";
        d.LogTypeName(out);
        return out;
    }
};

constexpr std::string_view kCombined =
    R"x(127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] "GET /apache_pb.gif HTTP/1.0" 200 2326 "http://www.example.com/start.html" "Mozilla/4.08 [en] (Win98; I ;Nav)")x";

std::string iis_line(int commas) {
    std::string line = "192.168.1.2, -, 03/20/01, 7:55:20, W3SVC2, SERVER, 172.21.13.45, 4502, "
                       "163, 3223, 200, 0, GET, /DeptLogo.gif, -";
    int have = 14;
    for (; have < commas; ++have) line += ", x";
    return line;
}

TEST(Dispatch, CombinedLogIsCommonOnItsFirstLine) {
    Dispatch t;
    EXPECT_EQ(t.name(), "[Unknown]");
    ASSERT_EQ(t.line(kCombined), LineResult::hit);
    EXPECT_EQ(t.d.log_type(), LogType::common);
    EXPECT_EQ(t.name(), "Common");
    EXPECT_EQ(t.hit.agent, "Mozilla/4.08 [en] (Win98; I ;Nav)");
}

TEST(Dispatch, IisNeedsBetweenElevenAndTwentyOneCommas) {
    {
        Dispatch t;
        ASSERT_EQ(t.line(iis_line(14)), LineResult::hit);
        EXPECT_EQ(t.name(), "MS-IIS");
        EXPECT_EQ(t.hit.url, "/DeptLogo.gif");
    }
    {
        // 25 commas and as many spaces: no format claims it, the type stays open.
        Dispatch t;
        EXPECT_EQ(t.line(iis_line(25)), LineResult::skip);
        EXPECT_EQ(t.d.log_type(), LogType::unknown);
        EXPECT_EQ(t.name(), "[Unknown]");
    }
}

TEST(Dispatch, W3cTypeIsSetByItsFieldsLineAndALaterOneReplacesTheLayout) {
    Dispatch t;
    EXPECT_EQ(t.line("#Software: Microsoft Internet Information Services 6.0"), LineResult::skip);
    EXPECT_EQ(t.line("#Fields: date time c-ip cs-method cs-uri-stem sc-status sc-bytes"),
              LineResult::skip);
    EXPECT_EQ(t.name(), "W3C");
    ASSERT_EQ(t.line("2004-05-06 10:11:12 10.0.0.1 GET /a.html 200 512"), LineResult::hit);
    EXPECT_EQ(t.hit.client, "10.0.0.1");
    EXPECT_EQ(t.hit.url, "/a.html");
    EXPECT_EQ(t.hit.bytes, 512);

    EXPECT_EQ(t.line("#Fields: date time cs-uri-stem c-ip sc-status"), LineResult::skip);
    ASSERT_EQ(t.line("2004-05-06 10:11:13 /b.html 10.0.0.2 404"), LineResult::hit);
    EXPECT_EQ(t.hit.client, "10.0.0.2");
    EXPECT_EQ(t.hit.url, "/b.html");
    EXPECT_EQ(t.hit.bytes, 0);
    // A line of the old layout no longer fits.
    EXPECT_EQ(t.line("2004-05-06 10:11:12 10.0.0.1 GET /a.html 200 512"), LineResult::malformed);
    EXPECT_TRUE(t.d.zero_byte_filter_off());
}

TEST(Dispatch, W3cLogWithoutDateFieldTakesTheDateLine) {
    Dispatch t;
    t.line("#Date: 2000-10-09 16:44:49");
    t.line("#Fields: time c-ip cs-method cs-uri-stem sc-status");
    ASSERT_EQ(t.line("16:44:49 1.1.1.1 [2]USER anonymous 331"), LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "10/09/2000");
    t.line("#Date: 2000-10-10 00:00:01");
    ASSERT_EQ(t.line("16:44:49 1.1.1.1 [2]USER anonymous 331"), LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "10/10/2000");
}

TEST(Dispatch, FieldsLineWithoutDateOrTimeIsATabLayout) {
    Dispatch t;
    t.line("!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT AGENT");
    EXPECT_EQ(t.name(), "Webstar");
    ASSERT_EQ(t.line("08/15/00\t10:24:26\tOK\t192.168.1.2\t/index.html\t1234\tMozilla/4.0"),
              LineResult::hit);
    EXPECT_EQ(t.hit.status, "OK");
    EXPECT_EQ(t.hit.agent, "Mozilla/4.0");

    Dispatch c;
    c.line("!!LOG_FORMAT COMMON_LOG_FORMAT");
    EXPECT_EQ(c.name(), "Common");
}

TEST(Dispatch, HeaderLinesChooseTheirFormats) {
    struct Case {
        std::string_view header;
        LogType type;
    };
    const Case cases[] = {
        {"format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "
         "\"%Req->reqpb.clf-request%\" %Req->srvhdrs.clf-status% %Req->srvhdrs.content-length%",
         LogType::common},
        {"format=%Ses->client.ip% %SYSDATE% %Req->reqpb.uri% %Req->srvhdrs.clf-status%",
         LogType::netscape},
        {"#!PARAMETER REMOTE_HOST REMOTE_IDENT REMOTE_USER DATE_TIME REQUEST STATUS BYTES",
         LogType::common},
        {"#!PARAMETER REMOTE_ADDR DATE TIME URL STATUS BYTES", LogType::purveyor},
        {"#Tallowick Database", LogType::database},
        {"# a comment that names no format", LogType::unknown},
    };
    for (const Case& c : cases) {
        Dispatch t;
        const LineResult r = t.line(c.header);
        EXPECT_EQ(t.d.log_type(), c.type) << c.header;
        EXPECT_EQ(r, c.type == LogType::database ? LineResult::hit : LineResult::skip) << c.header;
    }
}

TEST(Dispatch, OracleSoftwareLineKeepsItsTypeThroughTheFieldsLine) {
    Dispatch t;
    t.line("#Software: Oracle WRB Server 3.0");
    t.line("#Fields: date time c-ip cs-method cs-uri sc-status bytes");
    EXPECT_EQ(t.d.log_type(), LogType::oracle_wrb);
    ASSERT_EQ(t.line("1999-03-01 10:00:00 10.1.1.1 GET /owa/x 200 99"), LineResult::hit);
    // Oracle lines may carry their own date form.
    ASSERT_EQ(t.line("01-Mar-99 10:00:00 10.1.1.1 GET /owa/x 200 99"), LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "03/01/1999");
    EXPECT_FALSE(t.d.zero_byte_filter_off());
}

TEST(Dispatch, DetectionOrderDecidesAmbiguousLines) {
    struct Case {
        std::string_view line;
        LogType type;
        LineResult result;
    };
    const Case cases[] = {
        // " PNA" wins over the common-log shape of the same line.
        {R"(10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] "GET /a.rm PNA/10" 200 4100 [Win98_4.10_6.0_play32])",
         LogType::realserver, LineResult::hit},
        {"[10/10/2000 13:55:36] 10.0.0.1 GET /index.html 200 1043", LogType::firstclass,
         LineResult::hit},
        {"a\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl", LogType::website, LineResult::malformed},
        {"log { weird }", LogType::openmarket, LineResult::skip},
        {"NetPresenz 4.1 ftp session", LogType::netpresenz, LineResult::malformed},
        {"08/15/00\t10:24:26\tOK\t192.168.1.2\t/index.html\t1234", LogType::webstar,
         LineResult::hit},
        {"12/31/1999 23:59:59 10.0.0.3 /FMPro?-db=x", LogType::filemaker, LineResult::hit},
        {"2000-10-10|13:55:36|10.0.0.4|-|GET|/x.html|200|512", LogType::zeus, LineResult::hit},
        {"1576177221.686   3976 203.0.113.1 TCP_MISS/200 13564 GET http://a/ - HIER_NONE/- text/html",
         LogType::squid, LineResult::hit},
        {"just some words in a line", LogType::unknown, LineResult::skip},
    };
    for (const Case& c : cases) {
        Dispatch t;
        EXPECT_EQ(t.line(c.line), c.result) << c.line;
        EXPECT_EQ(t.d.log_type(), c.type) << c.line;
    }
}

TEST(Dispatch, SquidTestDoesNotTakeLinesOtherRulesPlace) {
    // A Squid-shaped line with six "|" in its URL stays a pipe-separated line, and
    // one with a bracket and quote is a common line: earlier rules come first.
    Dispatch pipes;
    pipes.line("1576177221.686 3976 203.0.113.1 TCP_MISS/200 13564 GET http://a/|||||| - H/- t/h");
    EXPECT_EQ(pipes.d.log_type(), LogType::zeus);
    Dispatch common;
    common.line("1576177221.686 3976 203.0.113.1 TCP_MISS/200 13564 GET http://a/] \"x - H/- t/h");
    EXPECT_EQ(common.d.log_type(), LogType::common);
}

TEST(Dispatch, FilemakerAndMissingBytesSwitchTheZeroFilterOff) {
    Dispatch t;
    EXPECT_FALSE(t.d.zero_byte_filter_off());
    t.line("12/31/1999 23:59:59 10.0.0.3 /FMPro?-db=x");
    EXPECT_TRUE(t.d.zero_byte_filter_off());
    Dispatch w;
    w.line("#Fields: date time c-ip cs-uri-stem sc-status sc-bytes");
    EXPECT_FALSE(w.d.zero_byte_filter_off());
}

TEST(Dispatch, OpenMarketBeepsOnce) {
    Dispatch t;
    t.line("log { x }");
    EXPECT_TRUE(t.d.take_beep());
    EXPECT_FALSE(t.d.take_beep());
    EXPECT_EQ(t.line(kCombined), LineResult::skip);  // not analysed
}

TEST(Dispatch, CustomFormatSkipsDetection) {
    Dispatch t;
    t.custom.use = true;
    t.custom.separator = ',';
    t.custom.data_index[0] = 1;  // date
    t.custom.data_index[3] = 2;  // client
    // A line that detection would call IIS.
    ASSERT_EQ(t.line(iis_line(14)), LineResult::malformed);
    EXPECT_EQ(t.name(), "Custom");
    ASSERT_EQ(t.line("2001-03-20,10.0.0.9,x,y,z,a,b,c,d,e,f,g,h"), LineResult::hit);
    EXPECT_EQ(t.hit.client, "10.0.0.9");
}

TEST(Dispatch, NewLogIsDetectedAfresh) {
    Dispatch t;
    t.line("#Fields: date time c-ip cs-uri-stem sc-status");
    EXPECT_EQ(t.d.log_type(), LogType::w3c);
    t.d.ResetLogType();
    EXPECT_EQ(t.d.log_type(), LogType::unknown);
    ASSERT_EQ(t.line(iis_line(14)), LineResult::hit);
    EXPECT_EQ(t.d.log_type(), LogType::iis);
    t.d.ResetLogType();
    // The W3C layout went with the old log.
    t.d.set_log_type(LogType::w3c);
    EXPECT_EQ(t.line("2004-05-06 10:11:12 10.0.0.1 /a 200"), LineResult::malformed);
}

TEST(Dispatch, FirstLinesSettleTheTypeTogether) {
    auto settle = [](std::vector<std::string> lines) {
        Dispatch t;
        t.d.SettleLogType(lines, t.hit);
        return t.d.log_type();
    };
    // One junk line that looks like another format does not decide.
    EXPECT_EQ(settle({"[junk", std::string(kCombined), std::string(kCombined)}), LogType::common);
    // Headers and blank lines past the seventh line still lead to the data.
    std::vector<std::string> commented(9, "# a comment");
    commented.insert(commented.begin() + 4, "");
    commented.emplace_back(kCombined);
    EXPECT_EQ(settle(commented), LogType::common);
    // A header decides on its own; lines no rule places leave the type open.
    EXPECT_EQ(settle({"#Fields: date time c-ip", "[junk"}), LogType::w3c);
    EXPECT_EQ(settle({"no log line", "nor this"}), LogType::unknown);
}

TEST(Dispatch, EmptyLinesAndEqualsHeadersAreSkipped) {
    Dispatch t;
    EXPECT_EQ(t.line(""), LineResult::skip);
    // Seventh character "=": a header, whatever it holds.
    EXPECT_EQ(t.line("abcdef=ghi] \"x"), LineResult::skip);
    EXPECT_EQ(t.d.log_type(), LogType::unknown);
}

TEST(Dispatch, CommentLinesClearTheDayFirstFinding) {
    Dispatch t;
    const std::string second = "10.0.0.1, -, 5/4/01, 7:55:20, W3SVC2, S, 10.0.0.2, 1, 2, 3, "
                               "200, 0, GET, /a, -";
    ASSERT_EQ(t.line("10.0.0.1, -, 13/05/01, 7:55:20, W3SVC2, S, 10.0.0.2, 1, 2, 3, 200, 0, "
                     "GET, /a, -"),
              LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "05/13/2001");
    ASSERT_EQ(t.line(second), LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "04/05/2001");  // still day first
    t.line("#comment");
    ASSERT_EQ(t.line(second), LineResult::hit);
    EXPECT_EQ(t.hit.date.view(), "05/04/2001");
}

// Every line of a real log through one dispatcher, as the run reads it.
struct LogRun {
    std::string type_name = "(none)";
    LogType type = LogType::unknown;
    int hits = 0, malformed = 0, skipped = 0;
    std::vector<std::string> bad;
};

LogRun run_log(const std::filesystem::path& path) {
    CustomFormat custom;
    AnalysisSettings analysis;
    LineDispatcher d(custom, analysis);
    d.ResetLogType();
    LogRun r;
    auto source = OpenLog(path.string());
    EXPECT_TRUE(source) << path;
    if (!source) return r;
    std::string_view line;
    HitRecord hit;
    while (ReadLogLine(*source, line)) {
        const ExactLine exact(line);
        switch (d.DispatchLine(exact, hit)) {
        case LineResult::hit:
            ++r.hits;
            EXPECT_FALSE(hit.date.empty()) << line;
            break;
        case LineResult::malformed:
            ++r.malformed;
            r.bad.emplace_back(line);
            break;
        case LineResult::skip: ++r.skipped; break;
        }
    }
    CloseLog(*source);
    r.type = d.log_type();
    d.LogTypeName(r.type_name);
    return r;
}

TEST(Dispatch, RealLogsAreDetectedAndParsed) {
    auto dir = tallowick::test::shared_logs_dir();
    if (!dir) GTEST_SKIP() << "the folder of real logs is not there";
    struct Expect {
        std::string_view file;
        std::string_view name;
        int hits;       // lines that give a hit
        int malformed;  // lines the log's authors made unreadable
    };
    const Expect logs[] = {
        // Server and client without identity and user fields: not a common line,
        // though its bracket and quote decide the type.
        {"clf/awstats_testnginx_2011_vhost_first_1line.log", "Common", 1, 0},
        // Two requests are broken (a double space; a header glued to the protocol).
        {"clf/nasa_ksc_1995-07_random1000_UNSORTED.log", "Common", 998, 2},
        {"clf/netdata_common_2009_SYNTHETIC_ipv6_garbage.log", "Common", 456, 44},
        {"clf/rla_2009_common_10lines_dash_bytes.log", "Common", 10, 0},
        // Two lines have a user name with a blank, read up to the date.
        {"combined/awstats_testglobal_2001_crafted_edgecases.log", "Common", 56, 0},
        {"combined/awstats_testsmall_2001_3lines.log", "Common", 3, 0},
        {"combined/basjes_nl_2013_17lines_with_garbage_line.log.gz", "Common", 16, 1},
        {"combined/basjes_nl_2015-10_hackers_combined.log", "Common", 3456, 0},
        {"combined/lighttpd_2010_vhost_in_2nd_field_2lines.log", "Common", 2, 0},
        {"combined/lnav_gpxe_2009_combined_tiny.log", "Common", 3, 0},
        {"iis/logparser_doc_iis_comma_2001_tiny.log", "MS-IIS", 2, 0},
        {"other/netdata_vhostport_plus_extras_2009_SYNTHETIC.log", "Common", 452, 48},
        // 16 garbage lines: the first comes before detection and is skipped.
        {"squid/netdata_squid_2019_SYNTHETIC_with_garbage_lines.log", "Squid", 484, 15},
        {"w3c/httpapi20_2002_w3c_tiny_commented_header.log", "W3C", 1, 0},
        {"w3c/iis4_ftp_2000_w3c_multiheader_tiny.log", "W3C", 14, 0},
        {"w3c/iis85_2015_w3c_lnav_big.log", "W3C", 210, 0},
        {"w3c/incapsula_2017_w3c_quoted_tiny.log", "W3C", 2, 0},
        {"w3c/netdata_iis10_2022-11-07_localhost_w3c.log", "W3C", 152, 0},
        {"w3c/oracle9ias_webcache_2001_w3c_tiny.log", "W3C", 1, 0},
        {"w3c/waikolai_iis70_W3SVC20_2009-11-07_single_day.log", "W3C", 352, 0},
    };
    for (const Expect& e : logs) {
        const LogRun r = run_log(*dir / e.file);
        EXPECT_EQ(r.type_name, e.name) << e.file;
        EXPECT_EQ(r.hits, e.hits) << e.file;
        EXPECT_EQ(r.malformed, e.malformed) << e.file;
        if (r.malformed != e.malformed)
            for (std::size_t k = 0; k < r.bad.size() && k < 3; ++k)
                ADD_FAILURE() << e.file << " bad line: " << r.bad[k];
    }
}

}  // namespace
}  // namespace tallowick::logs
