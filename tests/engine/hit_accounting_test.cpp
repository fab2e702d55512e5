// Hit accounting, driven through whole runs over small logs: what each hit adds to
// which table.
#include "engine/hit_accounting.h"

#include <gtest/gtest.h>

#include "engine/run_fixture.h"
#include "engine/search_engines.h"
#include "engine/url_tables.h"

namespace tallowick::engine {
namespace {

using test::CombinedLine;
using test::Find;
using test::RecordingSink;
using test::ReqOf;
using test::RunOnText;

constexpr std::string_view kWhen = "01/Mar/2024:10:00:00 +0000";

std::string Get(std::string_view url, int status = 200, long bytes = 100,
                std::string_view referrer = "-", std::string_view client = "a.example.com",
                std::string_view when = kWhen) {
    return CombinedLine(client, when, "GET " + std::string(url) + " HTTP/1.0", status, bytes,
                        referrer);
}

TEST(HitAccounting, PostAndPutBytesAreSentToTheClient) {
    // The bytes field of a combined line is the response size whatever the method.
    RecordingSink sink;
    RunOnText t;
    t.AddLog("post.log",
             CombinedLine("a.com", kWhen, "POST /form.cgi HTTP/1.0", 200, 500) +
                 CombinedLine("a.com", kWhen, "PUT /up.txt HTTP/1.0", 200, 70) +
                 Get("/form.cgi", 200, 30));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(r.bytes, 600);
    EXPECT_EQ(r.bytes_in, 0);
    const StatItem* form = Find(r.url, "/form.cgi");
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->bytes, 530);
    EXPECT_EQ(form->bytesin, 0);
}

TEST(HitAccounting, StatusesErrorsAndNotModified) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("status.log", Get("/part.zip", 206) + Get("/same.html", 304) + Get("/gone.html", 404) +
                               Get("/gone.html", 404) + Get("/moved", 301) +
                               Get("/odd.html", 299) + Get("/teapot.html", 418) +
                               Get("/tmp", 307) + Get("/perm", 308) + Get("/slow.html", 429));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(r.not_modified_hits, 1);
    // 206 and everything above 304 fail; 301, 304 and the redirects 307, 308 do not.
    EXPECT_EQ(r.failed_hits, 5);
    EXPECT_EQ(t.run().totals().failed, 5);
    EXPECT_EQ(ReqOf(r.err, "Too many requests (429)"), 1);
    EXPECT_EQ(ReqOf(r.err, "Partial content (206)"), 1);
    EXPECT_EQ(ReqOf(r.err, "File Not Found (404)"), 2);
    EXPECT_EQ(ReqOf(r.err, "Incomplete/Undefined (0)"), 1);
    EXPECT_EQ(r.err->Count(), 4);
    EXPECT_EQ(Find(r.err, "File Not Found (404)")->misc1, 404);
    EXPECT_EQ(Find(r.err, "Incomplete/Undefined (0)")->misc1, 418);
    EXPECT_EQ(ReqOf(r.errurl, "/gone.html (404)"), 2);
    EXPECT_EQ(ReqOf(r.errurl, "/part.zip (206)"), 1);
    EXPECT_EQ(r.err->TotalErrors(), 5);
    EXPECT_EQ(Find(r.url, "/gone.html")->errors, 2);
    EXPECT_EQ(Find(r.url, "/same.html")->errors, 0);
    // A failed page counts as a page of its error.
    EXPECT_EQ(Find(r.err, "File Not Found (404)")->pages, 2);
    EXPECT_EQ(r.err->TotalPages(), 4);  // the 404s, the 418 and the 429
}

TEST(HitAccounting, StatusTextsOfProxyLogs) {
    EXPECT_EQ(read_status("200").code, 200);
    EXPECT_EQ(read_status("TCP_HIT OK").code, 200);
    EXPECT_FALSE(read_status("OK").error);
    const StatusInfo err = read_status("ERR_ACCESS_DENIED");
    EXPECT_EQ(err.code, 404);
    EXPECT_TRUE(err.error);
    EXPECT_TRUE(read_status("500").error);
    EXPECT_FALSE(read_status("304").error);
    EXPECT_TRUE(read_status("206").error);
}

TEST(HitAccounting, DirectoryRequestsAndIndexPagesAreOneFile) {
    RecordingSink sink;
    RunOnText t;
    t.settings().run.indexfile = "index.html";
    t.AddLog("docs.log", Get("/docs/") + Get("/docs") + Get("/docs/index.html") +
                             Get("/docs/INDEX.HTML") + Get("/index.html") + Get("/") +
                             Get("/docs/index.html.bak"));
    t.Process();
    const ReportStats& r = t.report();
    // The folder, its name without the slash and its index page (in any case; a
    // segment that merely begins with the index name is cut too).
    EXPECT_EQ(ReqOf(r.url, "/docs"), 5);
    EXPECT_EQ(ReqOf(r.url, "/"), 2);
    EXPECT_EQ(r.url->Count(), 2);
    EXPECT_EQ(ReqOf(r.pages, "/docs"), 3);  // ".HTML" and ".bak" are no pages
}

TEST(HitAccounting, WhatIsAPage) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("pages.log", Get("/a/b") + Get("/a/Page.HTML") + Get("/a/page.html") +
                              Get("/a/logo.gif") + Get("/a/run.php?x=1") + Get("/a/file.pdf") +
                              Get("/a/setup.exe"));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(ReqOf(r.pages, "/a/b"), 1);
    EXPECT_EQ(ReqOf(r.pages, "/a/page.html"), 1);
    EXPECT_EQ(ReqOf(r.pages, "/a/run.php"), 1);
    EXPECT_EQ(ReqOf(r.pages, "/a/setup.exe"), 1);  // both a page and a download
    EXPECT_EQ(ReqOf(r.pages, "/a/Page.HTML"), 0);
    EXPECT_EQ(ReqOf(r.pages, "/a/logo.gif"), 0);
    EXPECT_EQ(r.pages->Count(), 4);
    EXPECT_EQ(ReqOf(r.down, "/a/file.pdf"), 1);
    EXPECT_EQ(ReqOf(r.down, "/a/setup.exe"), 1);
    EXPECT_EQ(r.down->Count(), 2);
    // Page views are carried into the later tables of the hit.
    EXPECT_EQ(Find(r.dir, "/a/")->pages, 4);
    EXPECT_EQ(Find(r.hour, "10")->pages, 4);
    EXPECT_EQ(Find(r.client, "a.example.com")->pages, 4);
    EXPECT_EQ(ReqOf(r.type, ".gif"), 1);
    EXPECT_EQ(ReqOf(r.type, ".HTML"), 1);
    // The page and download lists keep the file list's names, not copies.
    EXPECT_EQ(Find(r.pages, "/a/b")->name.data(), Find(r.url, "/a/b")->name.data());

    EXPECT_TRUE(is_page_extension(".html"));
    EXPECT_FALSE(is_page_extension(".HTML"));
    EXPECT_TRUE(is_download_extension(".gz"));
    EXPECT_FALSE(is_download_extension(".gzip"));
}

TEST(HitAccounting, UrlNormalisation) {
    std::string scratch;
    EXPECT_EQ(normalise_url("http://www.x.com/a.html", false, scratch), "www.x.com/a.html");
    EXPECT_EQ(normalise_url("/%7Efred/index.html", false, scratch), "/~fred/index.html");
    EXPECT_EQ(normalise_url("/a.cgi?x=1", false, scratch), "/a.cgi");
    EXPECT_EQ(normalise_url("/a.cgi?x=1", true, scratch), "/a.cgi?x=1");
    EXPECT_EQ(normalise_url("/set=5/b", false, scratch), "/set");
    EXPECT_EQ(normalise_url("host.example:443", false, scratch), "host.example/443");
    EXPECT_EQ(normalise_url("/odd:", false, scratch), "/odd");
    EXPECT_EQ(normalise_url("ftp://x.com/f", false, scratch), "ftp://x.com/f");
    // Query and colon at every distance from a sixteen-byte boundary.
    for (std::size_t at = 0; at < 40; ++at) {
        std::string url(40, 'a');
        url[0] = '/';
        url[at] = '?';
        EXPECT_EQ(normalise_url(url, false, scratch), url.substr(0, at)) << at;
        EXPECT_EQ(normalise_url(url, true, scratch), url) << at;
        // A colon only in the query that is cut off: no copy is made.
        std::string query_colon = url;
        query_colon[std::min(at + 1, url.size() - 1)] = ':';
        EXPECT_EQ(normalise_url(query_colon, false, scratch).data(), query_colon.data()) << at;
        url[at] = ':';
        url += "?q:x";
        // A colon at the end goes; one inside becomes a slash.
        std::string expected = url.substr(0, at == 39 ? 39 : 40);
        if (at < 39) expected[at] = '/';
        EXPECT_EQ(normalise_url(url, false, scratch), expected) << at;
    }
}

TEST(HitAccounting, FoldersGroupsTopFoldersAndTypes) {
    RecordingSink sink;
    RunOnText t;
    t.settings().analysis.groupdir.add("/shop/*=Shop");
    t.settings().analysis.groupdir.add("*/CART/*=Carts");  // folders match in any case
    t.settings().analysis.groupdir.add("!/shop/*=Never");
    t.AddLog("dirs.log", Get("/shop/cart/view.html") + Get("/shop/list.html") +
                             Get("/v1.2/x/y.gif") + Get("/top.html"));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(ReqOf(r.dir, "/shop/cart/"), 1);
    EXPECT_EQ(ReqOf(r.dir, "/shop/"), 1);
    EXPECT_EQ(ReqOf(r.dir, "/"), 1);
    EXPECT_EQ(ReqOf(r.groupdir, "Shop"), 2);
    EXPECT_EQ(ReqOf(r.groupdir, "Carts"), 1);
    EXPECT_EQ(ReqOf(r.groupdir, "Never"), 0);
    EXPECT_EQ(ReqOf(r.topdir, "/shop/"), 2);
    // A "." before the second slash: no top folder.
    EXPECT_EQ(ReqOf(r.topdir, "/v1.2/"), 0);
    EXPECT_EQ(r.topdir->Count(), 1);
}

TEST(HitAccounting, ReferrersBookmarksAndOwnSite) {
    const std::string log = Get("/a.html", 200, 1, "file:///C:/bookmarks.html") +
                            Get("/a.html", 200, 1, "-") +
                            Get("/a.html", 200, 1, "http://www.mysite.com/start.html") +
                            Get("/a.html", 200, 1, "http://other.example/links.html?from=x#top") +
                            Get("/a.html", 200, 1, "http://other.example/links.html");
    {
        RecordingSink sink;
        RunOnText t;
        t.settings().analysis.ignorebookmark = true;
        t.settings().analysis.ignoreself = true;
        t.settings().run.siteurl = "http://www.mysite.com";
        t.AddLog("ref.log", log);
        t.Process();
        const ReportStats& r = t.report();
        EXPECT_EQ(r.refer->Count(), 1);
        EXPECT_EQ(ReqOf(r.refer, "http://other.example/links.html"), 2);
        EXPECT_EQ(ReqOf(r.rsite, "http://other.example"), 2);
        EXPECT_EQ(r.rsite->Count(), 1);
        EXPECT_EQ(r.searchstr->Count(), 0);
        EXPECT_EQ(ReqOf(r.url, "/a.html"), 5);
    }
    {
        RecordingSink sink;
        RunOnText t;
        t.AddLog("ref.log", log);
        t.Process();
        const ReportStats& r = t.report();
        EXPECT_EQ(ReqOf(r.refer, "file:///C:/bookmarks.html"), 1);
        EXPECT_EQ(ReqOf(r.refer, "[NO REFERER/BOOKMARKED]"), 1);
        EXPECT_EQ(ReqOf(r.refer, "http://www.mysite.com/start.html"), 1);
        EXPECT_EQ(ReqOf(r.rsite, "http://www.mysite.com"), 1);
    }
}

TEST(HitAccounting, BookmarkReferrerAddsToNoReferrerOrSearchList) {
    RecordingSink sink;
    RunOnText t;
    t.settings().analysis.ignorebookmark = true;
    t.AddLog("bm.log", Get("/a.html", 200, 1, "file://www.google.com/search?q=hidden"));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(r.refer->Count(), 0);
    EXPECT_EQ(r.rsite->Count(), 0);
    EXPECT_EQ(r.searchstr->Count(), 0);
    EXPECT_EQ(r.searchsite->Count(), 0);
    EXPECT_EQ(r.url->Count(), 1);
}

TEST(HitAccounting, SearchPhrasesAndEngines) {
    struct Case {
        std::string_view referrer, phrase;
    };
    const Case cases[] = {
        {"http://search.yahoo.com/search?p=blue+widgets&ei=UTF-8", "blue widgets"},
        {"http://www.google.com/search?q=%22exact+words%22", "\"exact words\""},
        {"http://www.google.de/url?sa=t&q=cheap++flights&hl=de", "cheap flights"},
        {"https://www.bing.com/search?q=weather+today&form=QBLH", "weather today"},
        {"https://duckduckgo.com/?q=privacy", "privacy"},
        {"https://yandex.ru/search/?text=%D0%BF", "\xD0\xBF"},
        {"https://www.baidu.com/s?wd=abc&rsv=1", "abc"},
        {"http://www.altavista.com/cgi-bin/query?pg=q&q=+lead+blank", "lead blank"},
        {"http://intranet/x.asp?CiRestriction=word$more", "word"},
        {"http://www.google.com/search?q=", ""},
        {"http://www.example.com/page.html", ""},
    };
    std::string out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.referrer);
        EXPECT_EQ(search_phrase(c.referrer, out), !c.phrase.empty());
        EXPECT_EQ(out, c.phrase);
    }
    // A classic entry decides before today's: "query" comes before Bing's "q=".
    EXPECT_TRUE(search_phrase("http://www.bing.com/search?query=old&q=new", out));
    EXPECT_EQ(out, "old");

    RecordingSink sink;
    RunOnText t;
    t.AddLog("search.log",
             Get("/a.html", 200, 1, "http://www.google.com/search?q=widgets") +
                 Get("/b.html", 200, 1, "http://www.google.com/search?q=widgets") +
                 Get("/b.html", 200, 1, "https://www.bing.com/search?q=gadgets") +
                 Get("/b.html", 200, 1, "http://10.1.2.3/bing.cgi?q=gadgets"));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(ReqOf(r.searchstr, "widgets"), 2);
    EXPECT_EQ(ReqOf(r.searchstr, "gadgets"), 2);
    EXPECT_EQ(ReqOf(r.searchsite, "www.google.com"), 2);
    EXPECT_EQ(ReqOf(r.searchsite, "www.bing.com"), 1);
    EXPECT_EQ(r.searchsite->Count(), 2);  // a numeric site is no engine
    // Each engine counts its phrases under the phrase's hash.
    const int google = r.searchsite->Add("www.google.com");
    EXPECT_EQ(r.searchsite->TimeRecCountFor(google, static_cast<int>(r.searchstr->HashOf("widgets"))),
              2);
}

TEST(HitAccounting, TimeBucketsAndVisits) {
    RecordingSink sink;
    RunOnText t;
    t.settings().analysis.sessiontime = 30;
    // Friday 1 March and Sunday 3 March 2024.
    t.AddLog("time.log",
             Get("/a.html", 200, 10, "-", "c1", "01/Mar/2024:10:00:00 +0000") +
                 Get("/b.html", 200, 20, "-", "c1", "01/Mar/2024:10:20:00 +0000") +
                 Get("/a.html", 404, 30, "-", "c1", "01/Mar/2024:11:00:00 +0000") +
                 Get("/a.gif", 200, 40, "-", "c2", "03/Mar/2024:23:59:59 +0000"));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(ReqOf(r.hour, "10"), 2);
    EXPECT_EQ(ReqOf(r.hour, "11"), 1);
    EXPECT_EQ(ReqOf(r.hour, "23"), 1);
    EXPECT_EQ(Find(r.hour, "11")->errors, 1);
    EXPECT_EQ(ReqOf(r.wday, "Friday"), 3);
    EXPECT_EQ(ReqOf(r.wday, "Sunday"), 1);
    EXPECT_EQ(ReqOf(r.wdays[5], "10"), 2);
    EXPECT_EQ(ReqOf(r.wdays[0], "23"), 1);
    EXPECT_EQ(ReqOf(r.date, "03/01/2024"), 3);
    EXPECT_EQ(Find(r.date, "03/03/2024")->bytes, 40);
    EXPECT_EQ(ReqOf(r.month, "03/2024"), 4);
    EXPECT_DOUBLE_EQ(Find(r.date, "03/01/2024")->timelast, JulianDate(2024, 3, 1, 11));

    // c1: 10:00 and 10:20 are one visit, 11:00 starts the second.
    const StatItem* c1 = Find(r.client, "c1");
    ASSERT_NE(c1, nullptr);
    EXPECT_EQ(c1->visits, 2);
    EXPECT_NEAR(c1->timetot, 21.0 / 1440.0, 1e-9);
    EXPECT_EQ(r.client->TotalVisits(), 3);
    // Entry pages: the visits of c1 began on /a.html twice (once as a failure).
    EXPECT_EQ(Find(r.pages, "/a.html")->pages, 2);
    EXPECT_EQ(Find(r.pages, "/b.html")->pages, 0);
    EXPECT_EQ(Find(r.url, "/a.html")->visits, 2);
}

TEST(HitAccounting, AgentsCountClientsPerBrowserAndSystem) {
    RecordingSink sink;
    RunOnText t;
    const std::string firefox = "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0";
    const std::string msie = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
    const std::string bot = "Googlebot/2.1 (+http://www.google.com/bot.html)";
    auto hit = [&](std::string_view client, const std::string& agent) {
        return CombinedLine(client, kWhen, "GET /x.html HTTP/1.0", 200, 1, "-", agent);
    };
    t.AddLog("agents.log", hit("c1", firefox) + hit("c1", firefox) + hit("c2", firefox) +
                               hit("c1", msie) + hit("c3", bot) + hit("c4", "-"));
    t.Process();
    const ReportStats& r = t.report();
    // Firefox and MSIE, and the robot's own name when the rules give it a browser.
    ASSERT_GE(r.browser->Count(), 2);
    const int robot_browser = r.browser->Count() - 2;
    // Browser items count hits in req and clients (changes of a client's browser) in misc1.
    int hits = 0, clients = 0;
    for (const StatItem& b : r.browser->Items()) {
        hits += b.req;
        clients += b.misc1;
    }
    EXPECT_EQ(hits, 4 + robot_browser);
    // c1 on Firefox, c2 on Firefox, c1 again on MSIE: the second Firefox hit of c1 is no new client.
    EXPECT_EQ(clients, 3 + robot_browser);
    EXPECT_EQ(r.browser->TotalMisc1(), clients);
    EXPECT_EQ(r.robot->TotalReq(), 1);
    EXPECT_EQ(r.oper->TotalReq(), 5);  // the hit without an agent has no system
    // Each browser's records count its hits per operating-system family.
    for (int i = 0; i < r.browser->Count(); ++i) {
        int sum = 0;
        for (int k = 0; k < r.browser->TimeRecCount(i); ++k) sum += r.browser->TimeRecCountAt(i, k);
        EXPECT_EQ(sum, r.browser->Req(i)) << r.browser->Name(i);
    }
}

TEST(HitAccounting, IgnorecaseMakesOneFileOfTwoSpellings) {
    RecordingSink sink;
    RunOnText t;
    t.settings().analysis.ignorecase = true;
    t.AddLog("case.log", Get("/Index.HTML") + Get("/index.html") + Get("/other.html"));
    t.Process();
    EXPECT_EQ(ReqOf(t.report().url, "/Index.HTML"), 2);
    EXPECT_EQ(t.report().url->Count(), 2);
}

TEST(HitAccounting, ListsFedOneTextKeepItsHashUnderEitherCaseRule) {
    // The file's hash is passed on to the page and download lists: each of them
    // must still find the item under its own case rule and hold the name's hash.
    for (const bool ignorecase : {false, true}) {
        RecordingSink sink;
        RunOnText t;
        t.settings().analysis.ignorecase = ignorecase;
        t.AddLog("case.log", Get("/Index.html") + Get("/index.html") + Get("/Index.html") +
                                 Get("/Pack.zip") + Get("/pack.zip") + Get("/other.html"));
        t.Process();
        const ReportStats& r = t.report();
        const int spellings = ignorecase ? 1 : 2;
        EXPECT_EQ(r.pages->Count(), spellings + 1) << ignorecase;
        EXPECT_EQ(ReqOf(r.pages, "/Index.html"), ignorecase ? 3 : 2) << ignorecase;
        EXPECT_EQ(r.down->Count(), spellings) << ignorecase;
        EXPECT_EQ(ReqOf(r.down, "/Pack.zip"), ignorecase ? 2 : 1) << ignorecase;
        t.report().ForEachList([&](std::string_view section, StatList& list) {
            for (const StatItem& item : list.Items()) {
                EXPECT_EQ(item.hash, list.HashOf(item.key())) << section << " " << item.key();
                EXPECT_GE(list.FindByHash(item.hash), 0) << section << " " << item.key();
            }
        });
    }
}

}  // namespace
}  // namespace tallowick::engine
