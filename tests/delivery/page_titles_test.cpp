// Page titles: the title found in a page's first bytes, and pages fetched from
// a real HTTP server on 127.0.0.1 (with and without Content-Length, a title too
// far down, a page that never answers).
#include <gtest/gtest.h>

#include <chrono>

#include "delivery/page_titles.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::delivery {
namespace {

using namespace std::chrono_literals;

TEST(PageTitles, TitleOfPageBytes) {
    struct Case { std::string_view page; std::optional<std::string> title; };
    const Case cases[] = {
        {"<html><title>Plain</title>", "Plain"},
        {"<TITLE>Upper</TITLE>", "Upper"},
        {"<Title id=\"t\">With attributes</title>", "With attributes"},
        {"<titles>not it</titles><title>Second</title>", "Second"},
        // Cut off by the end of the bytes read: the text up to that end.
        {"<title>Runs to the end", "Runs to the end"},
        {"<title>\n  Folded \t white\r\n space  </title>", "Folded white space"},
        {"<title>A &amp; B &lt;c&gt; &#233;&#xE9; &nbsp;x&unknown; &#0; &amp</title>",
         "A & B <c> \xC3\xA9\xC3\xA9 x&unknown; \xEF\xBF\xBD &amp"},
        {"<title></title>", std::nullopt},
        {"<title>   </title>", std::nullopt},
        {"<html>no title</html>", std::nullopt},
        {"<title", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(title_of_page(c.page), c.title) << c.page;
}

class TitleServer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::uint16_t port = tallowick::test::free_port();
        server_ = std::make_unique<tallowick::test::LoopbackServer>(
            tallowick::test::system_python(),
            std::vector<std::string>{
                (tallowick::test::source_dir() / "tests/delivery/page_server.py").string(),
                std::to_string(port)},
            port);
        ASSERT_TRUE(server_->ready()) << server_->output();
        base_ = "http://127.0.0.1:" + std::to_string(port);
    }
    int fetches(const std::string& path) const {
        const std::string log = server_->output();
        int n = 0;
        const std::string line = "GET " + path + "\n";
        for (auto p = log.find(line); p != std::string::npos; p = log.find(line, p + 1)) ++n;
        return n;
    }
    std::unique_ptr<tallowick::test::LoopbackServer> server_;
    std::string base_;
};

TEST_F(TitleServer, FetchesTitlesWithAndWithoutLength) {
    EXPECT_EQ(page_title(base_ + "/titled.html", 3s),
              "Caf\xC3\xA9 & Bar \xE2\x80\x93 <Menu> \"A\"");
    EXPECT_EQ(page_title(base_ + "/stream.html", 3s), "Streamed page");
    EXPECT_EQ(page_title(base_ + "/upper.html", 3s), "Loud Title");
    EXPECT_EQ(page_title(base_ + "/far.html", 3s), std::nullopt);
    EXPECT_EQ(page_title(base_ + "/empty.html", 3s), std::nullopt);
    EXPECT_EQ(page_title(base_ + "/missing.html", 3s), std::nullopt);
    EXPECT_EQ(page_title("ftp://127.0.0.1/titled.html", 3s), std::nullopt);
}

TEST_F(TitleServer, SilentPageEndsAtTimeoutAndReportBudgetStopsFetching) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(page_title(base_ + "/never.html", 300ms), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    // Each URL is fetched once per run, even from two reports; once a report's
    // budget is spent its other rows get no title without a fetch.
    auto source = page_title_source({.per_page = 600ms, .per_report = 1000ms});
    auto first = source();
    EXPECT_EQ(first(base_ + "/page/1"), "Page 1");
    EXPECT_EQ(first(base_ + "/page/1"), "Page 1");
    EXPECT_EQ(first(base_ + "/never.html"), "");
    EXPECT_EQ(first(base_ + "/never.html"), "");
    EXPECT_EQ(first(base_ + "/page/2"), "Page 2");   // what the budget had left
    EXPECT_EQ(first(base_ + "/never.html?again"), "");
    EXPECT_EQ(first(base_ + "/page/3"), "");           // spent
    auto second = source();
    EXPECT_EQ(second(base_ + "/page/1"), "Page 1");
    EXPECT_EQ(second(base_ + "/page/3"), "Page 3");
    EXPECT_EQ(fetches("/page/1"), 1);
    EXPECT_EQ(fetches("/never.html"), 2);   // the direct fetch above, then one
    EXPECT_EQ(fetches("/page/3"), 1);
}

}  // namespace
}  // namespace tallowick::delivery
