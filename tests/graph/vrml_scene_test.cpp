#include "graph/vrml_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <set>

#include "engine/stat_list.h"
#include "graph/charts.h"
#include "graph_test_support.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

namespace fs = std::filesystem;

// A small VRML 2.0 reader of our own: the header, brackets that nest and close,
// and only node types a viewer knows in front of an opening brace. Returns the
// heights of the Box nodes in file order; an error text when the file is bad.
struct SceneCheck {
    std::string error;
    std::vector<double> box_heights;
};

SceneCheck check_scene(const std::string& text) {
    static const std::set<std::string> kNodes = {
        "Transform", "Shape", "Box", "Cylinder", "Appearance", "Material",
        "NavigationInfo", "DirectionalLight"};
    SceneCheck check;
    if (text.rfind("#VRML V2.0 utf8\n", 0) != 0) check.error = "no VRML 2.0 header";
    std::string stack;
    std::string word, previous_word;
    for (std::size_t i = text.find('\n'); i < text.size(); ++i) {
        const char c = text[i];
        if (c == '#') {   // a comment runs to the line end
            i = text.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') {
            word += c;
            continue;
        }
        if (!word.empty()) previous_word = std::exchange(word, {});
        if (c == '{') {
            if (!kNodes.count(previous_word)) check.error = "unknown node " + previous_word;
            stack += '{';
        } else if (c == '[') {
            stack += '[';
        } else if (c == '}' || c == ']') {
            if (stack.empty() || stack.back() != (c == '}' ? '{' : '[')) check.error = "unbalanced";
            else stack.pop_back();
        }
    }
    if (!stack.empty() && check.error.empty()) check.error = "unclosed " + stack;
    constexpr std::string_view kBox = "Box { size ";
    for (std::size_t at = text.find(kBox); at != std::string::npos; at = text.find(kBox, at + 1)) {
        double w = 0, h = 0, d = 0;
        if (std::sscanf(text.c_str() + at + kBox.size(), "%lf %lf %lf }", &w, &h, &d) != 3 ||
            !(w > 0 && h > 0 && d > 0))
            check.error = "a box without volume";
        check.box_heights.push_back(h);
    }
    return check;
}

// The stage's own boxes: two walls and the back plane.
constexpr std::size_t kStageBoxes = 3;

TEST(VrmlScene, BoxesFollowTheChartedItemsAndTheirValues) {
    auto list = engine::StatList::Create(nullptr, 16);
    for (int i = 0; i < 20; ++i)
        for (int n = 0; n <= i; ++n) list->AddHit(10, 0, "host" + std::to_string(i), 0, 0);
    ChartSpec spec = top_list_preset(false);
    spec.list = list.get();
    spec.value_kind = kValueRequests;
    const SceneCheck top = check_scene(vrml_scene_text(spec));
    EXPECT_EQ(top.error, "");
    // A top list shows its 15 largest: 20 requests down to 6.
    ASSERT_EQ(top.box_heights.size(), kStageBoxes + 15);
    EXPECT_DOUBLE_EQ(top.box_heights[kStageBoxes], 3.0);
    EXPECT_NEAR(top.box_heights.back(), 3.0 * 6 / 20, 1e-6);

    // An empty list still makes a valid scene: the stage alone.
    auto empty = engine::StatList::Create(nullptr, 4);
    spec.list = empty.get();
    const SceneCheck bare = check_scene(vrml_scene_text(spec));
    EXPECT_EQ(bare.error, "");
    EXPECT_EQ(bare.box_heights.size(), kStageBoxes);
}

TEST(VrmlScene, RtfReportsKeepTheirImages) {
    ImageOutput output;
    output.image_format = kImageVrml;
    EXPECT_TRUE(writes_scenes(output));
    output.report_format = kReportRtf;
    EXPECT_FALSE(writes_scenes(output));
}

// A real log with every graph on, written with `imageformat 4`: every chart a page
// names is a written scene that a viewer can read, with one box per charted item.
TEST(VrmlScene, EveryChartOfARealReportIsAReadableScene) {
    tallowick::test::TempDir dir;
    Settings settings;
    settings.report.stat.set_all(true);
    settings.report.graph.set_all(true);
    settings.report.graphsort = 2;
    settings.report.imageformat = kImageVrml;
    settings.run.out = (dir / "index.html").string();
    report::AssemblyOptions options;
    options.charts = draw_report_charts;
    const auto run =
        test::written_real_report("combined/basjes_nl_2015-10_hackers_combined.log", settings, options);
    if (!run) GTEST_SKIP() << "no real logs here";

    std::set<std::string> scenes, others;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().extension() != ".html") continue;
        const std::string page = tallowick::test::read_file(entry.path());
        for (std::size_t at = page.find("<IMG "); at != std::string::npos; at = page.find("<IMG ", at + 1)) {
            const std::size_t src = page.find("SRC=\"", at);
            const std::size_t end = page.find('"', src + 5);
            const std::string image = page.substr(src + 5, end - src - 5);
            (fs::path(image).extension() == ".wrl" ? scenes : others).insert(image);
        }
    }
    EXPECT_GT(scenes.size(), 30u);
    EXPECT_EQ(others, (std::set<std::string>{"rshad.gif", "bshad.gif"}));
    for (const std::string& image : others) EXPECT_TRUE(fs::exists(dir / image)) << image;
    for (const std::string& scene : scenes) {
        ASSERT_TRUE(fs::exists(dir / scene)) << scene;
        const SceneCheck check = check_scene(tallowick::test::read_file(dir / scene));
        EXPECT_EQ(check.error, "") << scene;
        EXPECT_GT(check.box_heights.size(), kStageBoxes) << scene;
    }

    // The client scene against the client table: its 15 busiest clients, the
    // busiest 3 units tall.
    const engine::StatList& clients = *run->reports()[0]->client;
    std::vector<int> requests;
    for (int i = 0; i < clients.Count(); ++i) requests.push_back(clients.Req(i));
    std::sort(requests.rbegin(), requests.rend());
    requests.resize(std::min<std::size_t>(requests.size(), 15));
    const SceneCheck client = check_scene(tallowick::test::read_file(dir / "ReqClient.wrl"));
    ASSERT_EQ(client.box_heights.size(), kStageBoxes + requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i)
        EXPECT_NEAR(client.box_heights[kStageBoxes + i], 3.0 * requests[i] / requests[0], 1e-5);
    // The hourly scene: one box per hour that had hits.
    const SceneCheck hourly = check_scene(tallowick::test::read_file(dir / "ReqHourly.wrl"));
    EXPECT_EQ(hourly.box_heights.size(), kStageBoxes + std::size_t(run->reports()[0]->hour->Count()));
}

}  // namespace
}  // namespace tallowick::graph
