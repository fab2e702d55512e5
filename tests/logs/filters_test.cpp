#include "logs/filters.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace tallowick::logs {
namespace {

SettingsList make_list(std::initializer_list<const char*> patterns) {
    SettingsList list;
    for (const char* p : patterns) list.add(p);
    return list;
}

TEST(ListRejects, IncludeAndExcludePatterns) {
    const struct {
        std::vector<std::string> list;
        const char* text;
        bool rejects;
    } cases[] = {
        {{"/images/*"}, "/images/a.gif", false},
        {{"/images/*"}, "/index.html", true},
        {{"!*.gif"}, "/images/a.gif", true},
        {{"!*.gif"}, "/index.html", false},
        {{"/docs/*", "!*.pdf"}, "/docs/a.html", false},
        {{"/docs/*", "!*.pdf"}, "/docs/a.pdf", true},    // an exclude beats a matching include
        {{"/docs/*", "!*.pdf"}, "/x.html", true},        // includes exist and none matches
        {{"!*.pdf", "/docs/*"}, "/docs/a.pdf", true},    // whatever the order
        {{"/a/*", "/b/*"}, "/b/x", false},               // any include keeps
        {{"!*.gif", "!*.jpg"}, "/x.png", false},         // excludes alone keep the rest
        {{"!*.gif", "!*.jpg"}, "/x.jpg", true},
        {{}, "/anything", false},                        // an empty list keeps
        {{"/a/*"}, "", false},                           // no item keeps
        {{"!*"}, "", false},
        {{"#10.0.0.0/8"}, "10.4.5.6", false},
        {{"#10.0.0.0/8"}, "192.168.0.1", true},
        {{"!#10.0.0.0/8"}, "10.4.5.6", true},            // exclude the internal network
        {{"!#10.0.0.0/8"}, "192.168.0.1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListRejects(c.text, c.list, false), c.rejects)
            << '"' << c.text << "\" against " << c.list.size() << " patterns, first "
            << (c.list.empty() ? "" : c.list.front());
    }
}

TEST(ListRejects, CaseFolding) {
    const SettingsList list = make_list({"/Docs/*", "!*.PDF"});
    EXPECT_TRUE(ListRejects("/docs/a.html", list, false));
    EXPECT_FALSE(ListRejects("/docs/a.html", list, true));
    EXPECT_FALSE(ListRejects("/Docs/a.pdf", list, false));
    EXPECT_TRUE(ListRejects("/Docs/a.pdf", list, true));
}

FilterSubject full_hit() {
    return {"client.example.com", "src1", "Mozilla/5.0", "http://ref.example/", "/docs/a.html"};
}

TEST(FiltersKeep, EmptyListsKeepEveryHit) {
    FilterSettings f;
    EXPECT_TRUE(FiltersKeep(f, full_hit()));
    EXPECT_TRUE(FiltersKeep(f, FilterSubject{}));
    f.or_logic = true;
    EXPECT_TRUE(FiltersKeep(f, full_hit()));
}

TEST(FiltersKeep, AndLogicDropsAtAnyRejectingList) {
    FilterSettings f;
    f.site = make_list({"*.example.com"});
    f.url = make_list({"/docs/*"});
    EXPECT_TRUE(FiltersKeep(f, full_hit()));

    FilterSubject other_client = full_hit();
    other_client.client = "10.0.0.1";
    EXPECT_FALSE(FiltersKeep(f, other_client));

    FilterSubject other_url = full_hit();
    other_url.url = "/index.html";
    EXPECT_FALSE(FiltersKeep(f, other_url));
}

TEST(FiltersKeep, OrLogicKeepsWhenAnyCheckedListKeeps) {
    FilterSettings f;
    f.or_logic = true;
    f.site = make_list({"10.*"});
    f.url = make_list({"/docs/*"});
    // The client list rejects, the URL list keeps: kept.
    EXPECT_TRUE(FiltersKeep(f, full_hit()));
    // Both reject: dropped.
    FilterSubject both = full_hit();
    both.url = "/index.html";
    EXPECT_FALSE(FiltersKeep(f, both));
    // The same hit under AND logic is dropped by the client list.
    f.or_logic = false;
    EXPECT_FALSE(FiltersKeep(f, full_hit()));
}

TEST(FiltersKeep, MissingItemsAreNotChecked) {
    FilterSettings f;
    f.referal = make_list({"http://friend.example/*"});
    FilterSubject no_referrer = full_hit();
    no_referrer.referrer = {};
    FilterSubject no_agent = full_hit();
    no_agent.agent = {};

    // A referral list does not drop hits without a referrer, under either logic.
    EXPECT_TRUE(FiltersKeep(f, no_referrer));
    EXPECT_FALSE(FiltersKeep(f, full_hit()));
    f.or_logic = true;
    EXPECT_TRUE(FiltersKeep(f, no_referrer));

    // Under OR logic an unchecked kind keeps nothing: the URL list alone decides.
    f.url = make_list({"/images/*"});
    EXPECT_FALSE(FiltersKeep(f, no_referrer));
    f.browser = make_list({"Mozilla*"});
    f.referal.clear();
    EXPECT_FALSE(FiltersKeep(f, no_agent));
    EXPECT_TRUE(FiltersKeep(f, full_hit()));

    // The same holds for a source list on a log that has no source item.
    FilterSettings s;
    s.or_logic = true;
    s.source = make_list({"src*"});
    s.url = make_list({"/images/*"});
    FilterSubject no_source = full_hit();
    no_source.source = {};
    EXPECT_FALSE(FiltersKeep(s, no_source));
    EXPECT_TRUE(FiltersKeep(s, full_hit()));
}

// Each kind reads its own item and follows its own case setting; the source list
// follows the URL case setting.
TEST(FiltersKeep, EachKindUsesItsItemAndCaseSetting) {
    enum Kind { client, source, agent, referral, url };
    struct Case {
        Kind kind;
        bool FilterSettings::*case_flag;
    };
    const Case cases[] = {
        {client, &FilterSettings::site_case},
        {source, &FilterSettings::url_case},
        {agent, &FilterSettings::agent_case},
        {referral, &FilterSettings::referal_case},
        {url, &FilterSettings::url_case},
    };
    bool FilterSettings::*all_flags[] = {&FilterSettings::site_case, &FilterSettings::url_case,
                                         &FilterSettings::agent_case, &FilterSettings::referal_case};
    for (const Case& c : cases) {
        FilterSettings f;
        SettingsList* lists[] = {&f.site, &f.source, &f.browser, &f.referal, &f.url};
        *lists[c.kind] = make_list({"MATCH*"});

        FilterSubject subject = full_hit();
        std::string_view* items[] = {&subject.client, &subject.source, &subject.agent,
                                     &subject.referrer, &subject.url};
        *items[c.kind] = "match-me";
        EXPECT_FALSE(FiltersKeep(f, subject)) << "kind " << c.kind;   // case counts

        // Every other case flag on: still case-sensitive for this kind.
        for (auto flag : all_flags)
            if (flag != c.case_flag) f.*flag = true;
        EXPECT_FALSE(FiltersKeep(f, subject)) << "kind " << c.kind;

        f.*c.case_flag = true;
        EXPECT_TRUE(FiltersKeep(f, subject)) << "kind " << c.kind;
        *items[c.kind] = "no-match";
        EXPECT_FALSE(FiltersKeep(f, subject)) << "kind " << c.kind;
    }
}

TEST(FiltersKeep, ReadsTheItemsOfAHitRecord) {
    FilterSettings f;
    f.browser = make_list({"!*bot*"});
    f.referal = make_list({"!http://spam.example/*"});
    f.url = make_list({"/docs/*"});

    HitRecord hit;
    hit.client = "1.2.3.4";
    hit.url = "/docs/x.html";
    hit.agent = "Mozilla/5.0";
    EXPECT_TRUE(FiltersKeep(f, hit));
    hit.agent = "Googlebot/2.1";
    EXPECT_FALSE(FiltersKeep(f, hit));
    hit.agent = {};
    hit.referrer = "http://spam.example/page";
    EXPECT_FALSE(FiltersKeep(f, hit));
    hit.referrer = {};
    hit.url = "/index.html";
    EXPECT_FALSE(FiltersKeep(f, hit));
}

}  // namespace
}  // namespace tallowick::logs
