#include <gtest/gtest.h>

#include <string>

#include "logs/iis.h"
#include "logs/line_buffer.h"
#include "logs/w3c.h"

namespace tallowick::logs {
namespace {

using test::ExactLine;
using test::LineCase;
using test::Want;

W3cLayout layout_of(std::string_view header) {
    W3cLayout layout;
    ReadW3cLayout(ExactLine(header), layout);
    return layout;
}

TEST(W3cLayout, FirstNamedFieldWinsEachSlotWhateverTheCase) {
    // c-dns before c-ip: the client is the third field; CS-IP names come later.
    const W3cLayout a = layout_of("#Fields: date TIME c-dns c-ip CS(USER-AGENT) bytes sc-bytes");
    EXPECT_EQ(a.position[W3cLayout::client], 3);
    EXPECT_EQ(a.position[W3cLayout::time], 2);
    EXPECT_EQ(a.position[W3cLayout::agent], 5);
    EXPECT_EQ(a.position[W3cLayout::bytes], 6);
    EXPECT_EQ(a.position[W3cLayout::url], 0);
    EXPECT_EQ(a.field_count, 7u);
    const W3cLayout b = layout_of("#Fields:  c-ip  c-dns  cs-uri  cs(Referrer)  cs-host");
    EXPECT_EQ(b.position[W3cLayout::client], 1);
    EXPECT_EQ(b.position[W3cLayout::url], 3);
    EXPECT_EQ(b.position[W3cLayout::referrer], 4);
    EXPECT_EQ(b.position[W3cLayout::server], 5);
    EXPECT_EQ(b.field_count, 5u);
    // Names are compared whole: "date-x" is not "date".
    EXPECT_EQ(layout_of("#Fields: date-x time").position[W3cLayout::date], 0);
}

TEST(W3cDate, TwoDigitYearsPivotAtSeventy) {
    const struct {
        std::string_view text, want;
    } cases[] = {
        {"2069-12-31", "12/31/2069"}, {"2070-01-01", "01/01/1970"}, {"1999-03-04", "03/04/1999"},
        {"2002-05-02 17:42:15", "05/02/2002"}, {"2000-00-10", ""}, {"2000-10-00", ""},
        {"2000-13-01", ""}, {"2000-1-1", ""}, {"28/Jun/2017", ""}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(W3cDate(ExactLine(c.text)).view(), c.want) << c.text;
}

TEST(W3cLine, LinesAgainstTheirLayout) {
    const W3cLayout iis6 = layout_of(
        "#Fields: date time c-ip cs-username s-ip s-port cs-method cs-uri-stem cs-uri-query "
        "sc-status sc-bytes cs(User-Agent) cs(Referer)");
    const LineCase cases[] = {
        {"2002-05-02 17:42:15 172.22.255.255 - 172.30.255.255 80 GET /images/picture.jpg - 200 "
         "5120 Mozilla/4.0+(compatible) http://a.b/",
         {.date = "05/02/2002", .time = "17:42:15", .client = "172.22.255.255",
          .method = "GET", .url = "/images/picture.jpg", .status = "200",
          .referrer = "http://a.b/", .agent = "Mozilla/4.0+(compatible)",
          .server = "172.30.255.255", .bytes = 5120}},
        // Tabs separate too; a quoted agent keeps its spaces; "-" agent is none.
        {"2002-05-02\t17:42:15\t10.0.0.1\tbob\t10.0.0.2\t80\tGET\t/x\t-\t404\t-\t\"Mozilla 4 (X; Y)\"\t-",
         {.date = "05/02/2002", .time = "17:42:15", .client = "10.0.0.1", .user = "bob",
          .method = "GET", .url = "/x", .status = "404", .agent = "Mozilla 4 (X; Y)",
          .server = "10.0.0.2"}},
        // A user name with a space: one token too many, mended by the server address.
        {"2002-05-02 17:42:15 10.0.0.1 John Smith 10.0.0.2 80 GET /x - 200 1 - -",
         {.date = "05/02/2002", .time = "17:42:15", .client = "10.0.0.1", .user = "John Smith",
          .method = "GET", .url = "/x", .status = "200", .server = "10.0.0.2", .bytes = 1}},
        // One token too many without the address to show where: malformed.
        {"2002-05-02 17:42:15 10.0.0.1 - 10.0.0.2 80 GET /x y - 200 1 - -",
         {.result = LineResult::malformed}},
        {"2002-05-02 17:42:15 10.0.0.1 - 10.0.0.2 80 GET /x - 200 1 -",
         {.result = LineResult::malformed}},
        {"2002-05-02 17:42:15 10.0.0.1 - 10.0.0.2 80 GET /x - 200 1 \"Mozilla -",
         {.result = LineResult::malformed}},
        {"2002-00-02 17:42:15 10.0.0.1 - 10.0.0.2 80 GET /x - 200 1 - -",
         {.result = LineResult::malformed}},
        {"02/05/2002 17:42:15 10.0.0.1 - 10.0.0.2 80 GET /x - 200 1 - -",
         {.result = LineResult::malformed}},
    };
    for (const LineCase& c : cases) {
        const ExactLine line(c.line);
        HitRecord hit;
        test::expect_hit(hit, ParseW3cLine(line, hit, iis6, LogDate{}), c.want, c.line);
    }
}

TEST(W3cLine, EveryFieldQuotedAndEmptyQuotes) {
    const W3cLayout layout = layout_of("#Fields: date time c-ip cs-uri sc-status cs(Referrer)");
    const ExactLine line(R"("2017-06-28" "07:26:35" "123.123.123.123" "www.example.com/p" "" "")");
    HitRecord hit;
    ASSERT_EQ(ParseW3cLine(line, hit, layout, LogDate{}), LineResult::hit);
    EXPECT_EQ(hit.url, "www.example.com/p");
    EXPECT_TRUE(hit.status.empty());
    EXPECT_TRUE(hit.referrer.empty());
}

TEST(W3cLine, TabSeparatedProxyFields) {
    // Fields hold blanks; an empty field between two tabs keeps its place.
    const W3cLayout layout = layout_of(
        "#Fields:  c-ip\tcs-username\tc-agent\tdate-local\ttime-local\tcs-uri\tcs-bytes\t"
        "sc-bytes\ts-operation\tsc-status\tcs-referred");
    EXPECT_EQ(layout.field_count, 11u);
    const ExactLine line("10.1.2.3\tCORP\\Jane Doe\tMozilla/5.0 (Windows NT 10.0; Win64)\t"
                         "2024-03-01\t7:05:09\thttp://www.example.org/a b.html\t512\t"
                         "20480\tGET\t200\t\t");
    HitRecord hit;
    ASSERT_EQ(ParseW3cLine(line, hit, layout, LogDate{}), LineResult::hit);
    EXPECT_EQ(hit.client, "10.1.2.3");
    EXPECT_EQ(hit.user, "CORP\\Jane Doe");
    EXPECT_EQ(hit.agent, "Mozilla/5.0 (Windows NT 10.0; Win64)");
    EXPECT_EQ(hit.date.view(), "03/01/2024");
    EXPECT_EQ(hit.time, "7:05:09");
    EXPECT_EQ(hit.url, "http://www.example.org/a b.html");
    EXPECT_EQ(hit.bytes_in, 512);
    EXPECT_EQ(hit.bytes, 20480);
    EXPECT_EQ(hit.method, "GET");
    EXPECT_EQ(hit.status, "200");
    // One field too many or too few is still malformed.
    EXPECT_EQ(ParseW3cLine(ExactLine("10.1.2.3\tx"), hit, layout, LogDate{}), LineResult::malformed);
}

TEST(W3cLine, DateLineStandsInForAMissingDateField) {
    const W3cLayout layout = layout_of("#Fields: time c-ip cs-method cs-uri-stem sc-status");
    const ExactLine line("16:44:49 1.1.1.1 [2]USER anonymous 331");
    HitRecord hit;
    EXPECT_EQ(ParseW3cLine(line, hit, layout, LogDate{}), LineResult::malformed);
    ASSERT_EQ(ParseW3cLine(line, hit, layout, W3cDate("2000-10-09 16:44:49")), LineResult::hit);
    EXPECT_EQ(hit.date.view(), "10/09/2000");
    EXPECT_EQ(hit.method, "[2]USER");
    // Without a layout no line fits.
    EXPECT_EQ(ParseW3cLine(line, hit, W3cLayout{}, W3cDate("2000-10-09")), LineResult::malformed);
}

TEST(IisLine, FieldCountsAndFallbacks) {
    const std::string head = "192.168.114.201, -, 03/20/01, 7:55:20, W3SVC2, SERVER, 172.21.13.45, "
                             "4502, 163, 3223, 200, 0, GET";
    const std::string fifteen = head + ", /DeptLogo.gif, -";
    struct OwnedCase {
        std::string line;
        Want want;
    };
    const OwnedCase cases[] = {
        {fifteen, {.date = "03/20/2001", .time = "7:55:20", .client = "192.168.114.201",
                   .method = "GET", .url = "/DeptLogo.gif", .status = "200",
                   .server = "172.21.13.45", .bytes = 3223}},
        // The native trailing comma adds an empty field.
        {fifteen + ",", {.date = "03/20/2001", .time = "7:55:20", .client = "192.168.114.201",
                         .method = "GET", .url = "/DeptLogo.gif", .status = "200",
                         .server = "172.21.13.45", .bytes = 3223}},
        {head + ", /a, Mozilla/4.0, http://r/, -",
         {.date = "03/20/2001", .time = "7:55:20", .client = "192.168.114.201",
          .method = "GET", .url = "/a", .status = "200", .referrer = "http://r/",
          .agent = "Mozilla/4.0", .server = "172.21.13.45", .bytes = 3223}},
        {head + ", -, -, 12345, Mozilla/5.0",
         {.date = "03/20/2001", .time = "7:55:20", .client = "192.168.114.201",
          .method = "GET", .status = "200", .agent = "Mozilla/5.0",
          .server = "172.21.13.45", .bytes = 3223}},
        {"1, 2, 03/20/01, 4, 5, 6, 7, 8, 9", {.result = LineResult::malformed}},
        {"a, -, 03/20/01, t, s, m, i, 1, 2, 3",
         {.date = "03/20/2001", .time = "t", .client = "a", .server = "i", .bytes = 3}},
        {head + ", /a, -, x, -, x, x, x, x, x, x, x, x", {.result = LineResult::malformed}},
        {"192.168.1.1, -, someday, 7:55:20, W3SVC2, SERVER, 1.2.3.4, 1, 2, 3, 200, 0, GET, /a",
         {.result = LineResult::malformed}},
    };
    for (const OwnedCase& c : cases) {
        const ExactLine line(c.line);
        HitRecord hit;
        test::expect_hit(hit, ParseIisLine(line, hit, false), c.want, c.line);
    }
}

TEST(IisLine, ForcedDayFirstSwapsDayAndMonth) {
    const ExactLine line("1.2.3.4, -, 03/04/01, 7:55:20, W3SVC2, S, 1.2.3.5, 1, 2, 3, 200, 0, GET, /a");
    HitRecord hit;
    ASSERT_EQ(ParseIisLine(line, hit, true), LineResult::hit);
    EXPECT_EQ(hit.date.view(), "04/03/2001");
    EXPECT_EQ(hit.time_taken, 1);
    EXPECT_EQ(hit.bytes_in, 2);
}

}  // namespace
}  // namespace tallowick::logs
