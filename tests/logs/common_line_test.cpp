#include "logs/common_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "logs/log_source.h"
#include "logs/tokens.h"
#include "support/test_support.h"

namespace tallowick::logs {
namespace {

// Expected fields of a parsed line; "" means absent.
struct Expect {
    std::string client, user, date, time, method, url, status;
    long long bytes;
    std::string referrer, agent, server;
};

struct LineCase {
    const char* name;
    std::string line;
    Expect want;
};

const std::string kDate = "[10/Oct/2000:13:55:36 -0700]";

TEST(ParseCommonLine, SplitsGoodLines) {
    const std::vector<LineCase> cases = {
        {"combined",
         "127.0.0.1 - frank " + kDate +
             " \"GET /apache_pb.gif HTTP/1.0\" 200 2326 \"http://www.example.com/start.html\" "
             "\"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
         {"127.0.0.1", "frank", "10/10/2000", "13:55:36 -0700", "GET", "/apache_pb.gif", "200", 2326,
          "http://www.example.com/start.html", "Mozilla/4.08 [en] (Win98; I ;Nav)", ""}},
        {"referrer dash keeps the agent",
         "10.0.0.1 - - " + kDate + " \"GET / HTTP/1.1\" 304 - \"-\" \"curl/8.0\"",
         {"10.0.0.1", "", "10/10/2000", "13:55:36 -0700", "GET", "/", "304", 0, "", "curl/8.0", ""}},
        {"common, no request protocol",
         "host.example.com - - " + kDate + " \"GET /x.html\" 404 17",
         {"host.example.com", "", "10/10/2000", "13:55:36 -0700", "GET", "/x.html", "404", 17, "", "", ""}},
        {"request \"-\"", "::1 - - " + kDate + " \"-\" 400 0",
         {"::1", "", "10/10/2000", "13:55:36 -0700", "", "", "400", 0, "", "", ""}},
        {"quote inside the request",
         "1.2.3.4 - - " + kDate + " \"GET /a\"b HTTP/1.0\" 200 5 \"-\" \"UA\"",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/a\"b", "200", 5, "", "UA", ""}},
        {"escaped quotes inside the agent",
         "1.2.3.4 - - " + kDate + " \"GET / HTTP/1.0\" 200 5 \"-\" \"X \\\"quoted\\\" name\" tail",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/", "200", 5, "",
          "X \\\"quoted\\\" name", "tail"}},
        {"user name with a blank",
         "80.8.55.7 - John Begood " + kDate + " \"GET /x HTTP/1.0\" 200 7 \"-\" \"UA\"",
         {"80.8.55.7", "John Begood", "10/10/2000", "13:55:36 -0700", "GET", "/x", "200", 7, "", "UA",
          ""}},
        {"server name and address, no identity or user",
         "example.com 109.72.95.200 " + kDate + " \"-\" 400 0 \"-\" \"-\"",
         {"109.72.95.200", "", "10/10/2000", "13:55:36 -0700", "", "", "400", 0, "", "",
          "example.com"}},
        {"leading server name",
         "www.site.com 1.2.3.4 - - " + kDate + " \"GET /p HTTP/1.1\" 200 10 \"http://r/\" \"UA\"",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "http://r/", "UA",
          "www.site.com"}},
        {"server in the ident field",
         "1.2.3.4 www.site.com - " + kDate + " \"GET /p HTTP/1.1\" 200 10",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "", "", "www.site.com"}},
        {"trailing server",
         "1.2.3.4 - - " + kDate + " \"GET /p HTTP/1.1\" 200 10 \"http://r/\" \"UA\" www.host.com",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "http://r/", "UA",
          "www.host.com"}},
        {"trailing dash is no server",
         "1.2.3.4 - - " + kDate + " \"GET /p HTTP/1.1\" 200 10 \"http://r/\" \"UA\" -",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "http://r/", "UA", ""}},
        {"agent in angle brackets, referrer after it",
         "1.2.3.4 - - " + kDate + " \"GET /p HTTP/1.0\" 200 10 <Mozilla/4.0 (X)> http://r/",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "http://r/",
          "Mozilla/4.0 (X)", ""}},
        {"backquoted agent and referrer",
         "1.2.3.4 - - " + kDate + " \"GET /p HTTP/1.0\" 200 10 `Mozilla/4.0 (X)` `http://r/`",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/p", "200", 10, "http://r/",
          "Mozilla/4.0 (X)", ""}},
        {"two spaces before a dash",
         "1.2.3.4  - - " + kDate + " \"GET / HTTP/1.0\" 200 1",
         {"1.2.3.4", "", "10/10/2000", "13:55:36 -0700", "GET", "/", "200", 1, "", "", ""}},
        {"two spaces before the date",
         "1.2.3.4 - bob  " + kDate + " \"GET / HTTP/1.0\" 200 1",
         {"1.2.3.4", "bob", "10/10/2000", "13:55:36 -0700", "GET", "/", "200", 1, "", "", ""}},
        {"numeric date with a weekday",
         "1.2.3.4 - - [Tue, 10-10-00 13:55:36] \"GET / HTTP/1.0\" 200 1",
         {"1.2.3.4", "", "10/10/2000", "55:36", "GET", "/", "200", 1, "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HitRecord hit;
        hit.extra = "left over";
        ASSERT_EQ(ParseCommonLine(c.line, hit), LineResult::hit) << c.line;
        EXPECT_EQ(hit.client, c.want.client);
        EXPECT_EQ(hit.user, c.want.user);
        EXPECT_EQ(hit.date.view(), c.want.date);
        EXPECT_EQ(hit.time, c.want.time);
        EXPECT_EQ(hit.method, c.want.method);
        EXPECT_EQ(hit.url, c.want.url);
        EXPECT_EQ(hit.status, c.want.status);
        EXPECT_EQ(hit.bytes, c.want.bytes);
        EXPECT_EQ(hit.referrer, c.want.referrer);
        EXPECT_EQ(hit.agent, c.want.agent);
        EXPECT_EQ(hit.server, c.want.server);
        EXPECT_TRUE(hit.extra.empty()) << "the record is cleared before each line";
    }
}

TEST(ParseCommonLine, RejectsMalformedLines) {
    const std::string ok_tail = " \"GET / HTTP/1.0\" 200 1";
    std::string many = "1.2.3.4 - - " + kDate + ok_tail;
    for (int i = 0; i < 20; ++i) many += " x";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"five tokens", "1.2.3.4 - - " + kDate + " \"GET / HTTP/1.0\""},
        {"four-word request", "1.2.3.4 - - " + kDate + " \"GET / HTTP/1.0 extra\" 200 1"},
        {"two spaces in the request", "1.2.3.4 - - " + kDate + " \"GET  / HTTP/1.0\" 200 1"},
        {"two spaces before a word", "1.2.3.4 -  bob " + kDate + ok_tail},
        {"host of 256 characters", std::string(256, 'h') + " - - " + kDate + ok_tail},
        {"month name unknown", "1.2.3.4 - - [10/Foo/2000:13:55:36 -0700]" + ok_tail},
        {"no date", "1.2.3.4 - - [garbage]" + ok_tail},
        {"27 tokens", many},
        {"garbage", "xxxxxxxxxxxx"},
        {"empty", ""},
    };
    for (const auto& [name, line] : cases) {
        HitRecord hit;
        EXPECT_EQ(ParseCommonLine(line, hit), LineResult::malformed) << name << ": " << line;
    }
    HitRecord hit;
    EXPECT_EQ(ParseCommonLine(std::string(255, 'h') + " - - " + kDate + ok_tail, hit), LineResult::hit)
        << "255 characters still make a host";
    std::string at_limit = "1.2.3.4 - - " + kDate + ok_tail;
    for (int i = 0; i < 19; ++i) at_limit += " x";
    EXPECT_EQ(ParseCommonLine(at_limit, hit), LineResult::hit) << "26 tokens are allowed";
    EXPECT_EQ(line_tokens().size(), 26u);
}

TEST(ParseCommonLine, DropsAUserFarBeforeTheDate) {
    // A run-away user field (an unclosed quote in the ident) is not a user name.
    HitRecord hit;
    std::string user(130, 'u');
    ASSERT_EQ(ParseCommonLine("1.2.3.4 - " + user + " " + kDate + " \"GET / HTTP/1.0\" 200 1", hit),
              LineResult::hit);
    EXPECT_TRUE(hit.user.empty());
    user.resize(100);
    const std::string line = "1.2.3.4 - " + user + " " + kDate + " \"GET / HTTP/1.0\" 200 1";
    ASSERT_EQ(ParseCommonLine(line, hit), LineResult::hit);
    EXPECT_EQ(hit.user, user);
}

TEST(ParseCommonLine, ADayRepeatedFromTheLineBeforeReadsAsParsedAfresh) {
    // Lines in the order a log gives them: runs of one day, a day left and come
    // back to, and dates whose text after the colon takes part in the result.
    const char* dates[] = {
        "10/Oct/2000:13:55:36 -0700", "10/Oct/2000:23:59:59 -0700", "11/Oct/2000:00:00:00 -0700",
        "10/Oct/2000:08:00:00 -0700", "10/Oct/2000:xx",             "Tue, 10 Oct 2000 13:55:36",
        "Tue, 10 Oct 2000 13:56:00",  "Tue, 10 Oct 2000 14:00:00",  "10/Oct:2000 -0700",
        "10/Oct:2001 -0700",          "10/Oct/2000:13:00:00 -0700", "10/Oct/2000",
        "10/Oct/2001",                "0/Oct/2000:13:55:36 -0700",  "0/Oct/2000:13:55:37 -0700",
        "10/Oct/2000:13:55:36 -0700",
    };
    for (const char* date : dates) {
        const std::string line = std::string("1.2.3.4 - - [") + date + "] \"GET / HTTP/1.0\" 200 1";
        const LogDate fresh = NormaliseLogDate(date);
        HitRecord hit;
        const LineResult result = ParseCommonLine(line, hit);
        if (fresh.empty()) {
            EXPECT_EQ(result, LineResult::malformed) << date;
        } else {
            ASSERT_EQ(result, LineResult::hit) << date;
            EXPECT_EQ(hit.date.view(), fresh.view()) << date;
        }
    }
}

TEST(NormaliseLogDate, ReadsEveryLayout) {
    const std::pair<const char*, const char*> cases[] = {
        {"10/Oct/2000:13:55:36 -0700", "10/10/2000"},
        {"01/jan/99:00:00:00 +0000", "01/01/1999"},
        {"31/DEC/05", "12/31/2005"},
        {"5/12/05", "05/12/2005"},          // month first below 32
        {"2000-10-09", "10/09/2000"},       // year first from 32
        {"2000.1.2", "01/02/2000"},
        {"Tue, 10 Oct 2000 13:55:36", "10/10/2000"},
        {"12/31/69", "12/31/2069"},
        {"1/1/70", "01/01/1970"},
        {"1/1/100", "01/01/2000"},
        {"0/Oct/2000", ""},
        {"10/Foo/2000", ""},
        {"13/13/2000", ""},
        {"10/Oct", ""},
        {"", ""},
        {"a/b/c", ""},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(NormaliseLogDate(text).view(), want) << text;
}

TEST(NormaliseFieldDate, RemembersDayFirstOrderUntilReset) {
    struct Step {
        const char* text;
        bool force_day_first;
        const char* want;
    };
    // One log after another: each sequence starts from a cleared state.
    const std::vector<std::vector<Step>> logs = {
        {{"3/4/2000", false, "03/04/2000"}, {"13/05/2000", false, "05/13/2000"},
         {"3/4/2000", false, "04/03/2000"}, {"3/14/2000", false, "03/14/2000"},
         {"3/4/2000", false, "03/04/2000"}},
        {{"3/04/2000", false, "04/03/2000"}, {"5/6/2000", false, "06/05/2000"}},
        {{"3/4/2000", true, "04/03/2000"}, {"3/14/2000", true, "03/14/2000"}},
        {{"2000/12/31", false, "12/31/2000"}, {"0/12/31", false, "12/31/2000"},
         {"7-Mar-01", false, "03/07/2001"}, {"x/1/2000", false, ""}},
    };
    for (const auto& log : logs) {
        NormaliseFieldDate();
        for (const auto& step : log)
            EXPECT_EQ(NormaliseFieldDate(step.text, step.force_day_first).view(), step.want) << step.text;
    }
    NormaliseFieldDate("13/05/2000", false);
    NormaliseFieldDate();
    EXPECT_EQ(NormaliseFieldDate("3/4/2000", false).view(), "03/04/2000") << "reset forgets the order";
}


// The quick path of ParseCommonLine against the general splitter: for every line
// the same result, the same record (the very same views into the line) and, where
// a reader looks at it (after a hit without an agent, and always for the lines
// the general code reads), the same token table.
class QuickPathAgreement {
public:
    void check(std::string_view line) {
        ++lines_;
        const Outcome general = run(line, [](std::string_view l, HitRecord& h) {
            return detail::ParseCommonLineGeneral(l, h);
        });
        const Outcome full = run(line, [](std::string_view l, HitRecord& h) { return ParseCommonLine(l, h); });
        expect_same(general, full, line);
        const Outcome quick = run(line, [](std::string_view l, HitRecord& h) {
            return detail::ReadOrdinaryCommonLine(l, h) ? LineResult::hit : LineResult::skip;
        });
        if (quick.result == LineResult::hit) {
            ++quick_;
            expect_same(general, quick, line);
        }
        if (general.result == LineResult::hit) ++hits_;
    }

    int lines() const { return lines_; }
    int hits() const { return hits_; }
    int quick() const { return quick_; }
    int failures() const { return failures_; }

private:
    struct Outcome {
        LineResult result;
        HitRecord hit;
        std::vector<std::string_view> tokens;
    };

    // Runs a parser on a record and a token table left full of another line.
    template <class Parse>
    static Outcome run(std::string_view line, Parse parse) {
        static const std::string stale = "stale text of the line before";
        HitRecord hit;
        for (std::string_view* f : {&hit.time, &hit.status, &hit.client, &hit.url, &hit.agent, &hit.referrer,
                                    &hit.user, &hit.server, &hit.method, &hit.source, &hit.extra})
            *f = stale;
        hit.date = LogDate(1999, 9, 9);
        hit.bytes = hit.bytes_in = hit.time_taken = 77;
        hit.extra_value = 7;
        TokenTable& table = line_tokens();
        table.clear();
        for (int i = 0; i < 12; ++i) table.push(stale);
        Outcome out{parse(line, hit), hit, {}};
        out.tokens.assign(table.tokens().begin(), table.tokens().end());
        return out;
    }

    static bool same_view(std::string_view a, std::string_view b) {
        return a.size() == b.size() && (a.empty() || a.data() == b.data());
    }

    void expect_same(const Outcome& want, const Outcome& got, std::string_view line) {
        const HitRecord& a = want.hit;
        const HitRecord& b = got.hit;
        const std::pair<const char*, bool> fields[] = {
            {"result", want.result == got.result},
            {"date", a.date == b.date},
            {"time", same_view(a.time, b.time)},
            {"status", same_view(a.status, b.status)},
            {"client", same_view(a.client, b.client)},
            {"url", same_view(a.url, b.url)},
            {"agent", same_view(a.agent, b.agent)},
            {"referrer", same_view(a.referrer, b.referrer)},
            {"user", same_view(a.user, b.user)},
            {"server", same_view(a.server, b.server)},
            {"method", same_view(a.method, b.method)},
            {"source", same_view(a.source, b.source)},
            {"extra", same_view(a.extra, b.extra)},
            {"counts", a.bytes == b.bytes && a.bytes_in == b.bytes_in && a.time_taken == b.time_taken &&
                           a.extra_value == b.extra_value},
            {"tokens", tokens_agree(want, got)},
        };
        for (const auto& [field, same] : fields) {
            if (same) continue;
            // A few examples are enough to see what went wrong.
            if (++failures_ <= 20) ADD_FAILURE() << field << " differs for: " << line;
        }
    }

    static bool tokens_agree(const Outcome& want, const Outcome& got) {
        auto same = [&] {
            return std::equal(want.tokens.begin(), want.tokens.end(), got.tokens.begin(), got.tokens.end(),
                              same_view);
        };
        // The quick path leaves the table empty after a hit with an agent.
        if (want.result == LineResult::hit && !want.hit.agent.empty()) return got.tokens.empty() || same();
        return same();
    }

    int lines_ = 0, hits_ = 0, quick_ = 0, failures_ = 0;
};

TEST(ParseCommonLine, QuickPathAgreesWithTheGeneralSplitterOnRealLogs) {
    auto root = tallowick::test::shared_logs_dir();
    if (!root) GTEST_SKIP() << "the shared logs folder is not there";
    QuickPathAgreement agreement;
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*root)) {
        if (!entry.is_regular_file()) continue;
        std::string name = std::filesystem::relative(entry.path(), *root).string();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const bool access_log = name.find("clf") != std::string::npos || name.find("common") != std::string::npos ||
                                name.find("combined") != std::string::npos ||
                                name.find("apache") != std::string::npos || name.find("nginx") != std::string::npos;
        if (!access_log) continue;
        auto source = OpenLog(entry.path().string());
        ASSERT_TRUE(source) << name;
        ++files;
        std::string_view line;
        while (ReadLogLine(*source, line)) agreement.check(line);
    }
    EXPECT_GE(files, 10);
    EXPECT_GT(agreement.lines(), 5000);
    // Real access logs are mostly of the ordinary shape: the quick path must
    // take most of their lines, or it has stopped doing its work.
    EXPECT_GT(agreement.quick(), agreement.hits() * 3 / 4) << agreement.quick() << " of " << agreement.hits();
    EXPECT_EQ(agreement.failures(), 0);
}

TEST(ParseCommonLine, QuickPathAgreesWithTheGeneralSplitterOnDamagedLines) {
    const std::string d = "[10/Oct/2000:13:55:36 -0700]";
    const std::vector<std::string> seeds = {
        "127.0.0.1 - frank " + d + " \"GET /apache_pb.gif HTTP/1.0\" 200 2326 \"http://www.example.com/start.html\" "
        "\"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
        "10.0.0.1 - - " + d + " \"GET /a/b/c/d/e/f/g/h/index.html?q=1&r=2 HTTP/1.1\" 304 - \"-\" \"-\"",
        "host.example.com - - " + d + " \"GET /x.html\" 404 17",
        "::1 - - " + d + " \"-\" 400 0",
        "1.2.3.4 - - " + d + " \"GET /p HTTP/1.1\" 200 10 \"http://r/\" \"UA\" www.host.com",
        "1.2.3.4 www.site.com - " + d + " \"GET /p HTTP/1.1\" 200 123456789012 \"\" \"UA\"",
        "1.2.3.4 - - " + d + " \"GET / HTTP/1.0\" 200 5 \"-\" \"X \\\"quoted\\\" name\" tail",
        "1.2.3.4 - - " + d + " \"GET / HTTP/1.0\" 200 5 \"-\" \"odd\\\" tail",
        "1.2.3.4 - - " + d + " \"GET / HTTP/1.0\" 200 5 \"-\" \"-\" www.host.com",
        "www.site.com 1.2.3.4 - - " + d + " \"GET /p HTTP/1.1\" 200 10 \"http://r/\" \"UA\"",
        "1.2.3.4 - - " + d + " \"GET /p HTTP/1.0\" 200 10 <Mozilla/4.0 (X)> http://r/",
        "1.2.3.4 - - " + d + " \"GET /p HTTP/1.0\" 200 10 `Mozilla/4.0 (X)` `http://r/`",
        "1.2.3.4 - - [Tue, 10-10-00 13:55:36] \"POST /form HTTP/1.0\" 201 1 \"-\" \"Wget/1.21\" -",
        "1.2.3.4 - - [10/Oct/2000] \"GET / HTTP/1.0\" 200 99999999999999999999 \"-\" \"x\"",
    };
    const std::string alphabet = std::string(" \"[]<>`\\-:/.09aZ\t\xff") + '\0';
    std::mt19937 rng(20001010);
    auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    QuickPathAgreement agreement;
    for (const auto& seed : seeds) agreement.check(seed);
    EXPECT_EQ(agreement.quick(), 9) << "the ordinary shapes among the seeds take the quick path";
    for (int i = 0; i < 20000; ++i) {
        std::string line = seeds[pick(seeds.size())];
        for (std::size_t edits = 1 + pick(3); edits > 0 && !line.empty(); --edits) {
            const std::size_t at = pick(line.size());
            switch (pick(5)) {
            case 0: line[at] = alphabet[pick(alphabet.size())]; break;
            case 1: line.insert(at, 1, alphabet[pick(alphabet.size())]); break;
            case 2: line.erase(at, 1); break;
            case 3: line.resize(at); break;
            default: line.insert(at, pick(2) ? "\" \"" : "  "); break;
            }
        }
        agreement.check(line);
    }
    // The damage must leave both kinds of line, and many that the quick path reads.
    EXPECT_GT(agreement.hits(), 4000);
    EXPECT_LT(agreement.hits(), agreement.lines() - 4000);
    EXPECT_GT(agreement.quick(), 2000);
    EXPECT_EQ(agreement.failures(), 0);
}

}  // namespace
}  // namespace tallowick::logs
