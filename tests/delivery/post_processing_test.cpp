// Post-processing to a local folder: the archive keeps the report's folder
// layout, only what arrived is deleted, logs get gzip copies once.
#include <gtest/gtest.h>

#include "delivery/post_processing.h"
#include "delivery_fixture.h"
#include "support/test_support.h"

namespace tallowick::delivery {
namespace {

namespace fs = std::filesystem;
using tallowick::test::read_file;
using tallowick::test::TempDir;
using tallowick::test::write_file;

// A written report: a main page, an image and a page in a subfolder.
class Report : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "report/sub");
        for (const char* name : {"report/index.html", "report/graph.gif", "report/sub/page.html"}) {
            write_file(dir_ / name, std::string("content of ") + name);
            files_.push_back(dir_ / name);
        }
        job_.post = &post_;
        job_.report_path = dir_ / "report/index.html";
        job_.created = files_;
    }
    TempDir dir_;
    std::vector<fs::path> files_;
    PostSettings post_;
    PostJob job_;
};

TEST_F(Report, ArchiveAloneIsCopiedAndDeletedOnlyOnceItArrived) {
    post_.archive = post_.sendto = post_.delete_report = true;
    post_.postproclocation = (dir_ / "dest").string();
    // A file where the destination folder should be: nothing arrives, nothing is deleted.
    write_file(dir_ / "dest", "in the way");
    test::StatusRecorder failing;
    EXPECT_FALSE(postprocess_run(job_).ok());
    EXPECT_EQ(failing.errors.size(), 1u) << failing.all();
    EXPECT_TRUE(test::all_exist(files_));
    EXPECT_TRUE(fs::exists(dir_ / "report/index.zip"));

    fs::remove(dir_ / "dest");
    test::StatusRecorder sink;
    EXPECT_TRUE(postprocess_run(job_).ok()) << sink.all();
    EXPECT_TRUE(sink.errors.empty());
    std::vector<std::string> arrived;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "dest"))
        arrived.push_back(e.path().filename().string());
    EXPECT_EQ(arrived, std::vector<std::string>{"index.zip"});
    EXPECT_EQ(test::zip_names(dir_ / "dest/index.zip"), "graph.gif\nindex.html\nsub/page.html\n");
    for (const auto& f : files_) EXPECT_FALSE(fs::exists(f)) << f;
    EXPECT_FALSE(fs::exists(dir_ / "report/index.zip"));
}

TEST_F(Report, FilesCopiedWithTheirFoldersAndNoArchiveWithoutExtension) {
    post_.sendto = true;
    post_.postproclocation = (dir_ / "dest").string();
    write_file(dir_ / "dest/sub/page.html", "an older copy");
    test::StatusRecorder sink;
    EXPECT_TRUE(postprocess_run(job_).ok()) << sink.all();
    EXPECT_EQ(read_file(dir_ / "dest/sub/page.html"), "content of report/sub/page.html");
    EXPECT_EQ(read_file(dir_ / "dest/graph.gif"), "content of report/graph.gif");
    EXPECT_TRUE(test::all_exist(files_));   // no delete_report

    // Sent into its own folder, a report has no second copy and is kept.
    post_.delete_report = true;
    post_.postproclocation = (dir_ / "report").string();
    test::StatusRecorder own_folder;
    EXPECT_FALSE(postprocess_run(job_).ok());
    EXPECT_EQ(own_folder.errors.size(), 3u) << own_folder.all();
    EXPECT_TRUE(test::all_exist(files_));
    post_.delete_report = false;

    // A report path whose name has no extension gives no archive and no copy.
    fs::remove_all(dir_ / "dest");
    post_.archive = true;
    job_.report_path = dir_ / "report/index";
    EXPECT_TRUE(postprocess_run(job_).ok());
    EXPECT_FALSE(fs::exists(dir_ / "dest"));
    EXPECT_EQ(archive_path_for("/a.b/report"), std::nullopt);
    EXPECT_EQ(archive_path_for("/a/report.html"), fs::path("/a/report.zip"));
    EXPECT_EQ(archive_path_for("/a/report.zip"), fs::path("/a/report.zip"));
}

TEST_F(Report, LogsGetOneGzipCopy) {
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "10.0.0." + std::to_string(i % 250) + " line " + std::to_string(i) + "\n";
    write_file(dir_ / "access.log", text);
    write_file(dir_ / "old.log.gz", "already packed");
    const std::vector<std::string> logs = {(dir_ / "access.log").string(),
                                           (dir_ / "old.log.gz").string(),
                                           "http://127.0.0.1:1/remote.log",
                                           (dir_ / "missing.log").string()};
    post_.compresslog = true;
    job_.logs = logs;
    test::StatusRecorder sink;
    EXPECT_FALSE(postprocess_run(job_).ok());
    ASSERT_EQ(sink.errors.size(), 1u) << sink.all();
    EXPECT_NE(sink.errors[0].find("missing.log"), std::string::npos);
    EXPECT_EQ(test::gunzipped(dir_ / "access.log.gz"), text);
    EXPECT_LT(fs::file_size(dir_ / "access.log.gz"), text.size() / 4);
    EXPECT_EQ(read_file(dir_ / "access.log"), text);
    EXPECT_FALSE(fs::exists(dir_ / "old.log.gz.gz"));
    EXPECT_FALSE(fs::exists(dir_ / "missing.log.gz"));
    EXPECT_TRUE(sink.said("Compressing done."));
}

}  // namespace
}  // namespace tallowick::delivery
