#include "delivery/post_processing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"
#include "delivery/ftp_upload.h"
#include "delivery/zip_archive.h"
#include "logs/log_list.h"
#include "logs/log_source.h"
#include "platform/system.h"
#include "report/report_assembly.h"

namespace tallowick::delivery {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kGzipBlock = 1048576;

fs::path absolute_path(const fs::path& p) {
    std::error_code ec;
    fs::path a = fs::absolute(p, ec);
    return (ec ? p : a).lexically_normal();
}

// The name of a report file below the report's folder ("sub/page.html"); a file
// outside it keeps only its name.
std::string relative_name(const fs::path& file, const fs::path& report_dir) {
    const fs::path rel = absolute_path(file).lexically_relative(report_dir);
    if (rel.empty() || *rel.begin() == "..") return file.filename().string();
    return rel.generic_string();
}

bool delete_file(const fs::path& file) {
    std::error_code ec;
    if (fs::remove(file, ec) || !ec) return true;
    ShowError("Can't delete (" + file.string() + ") -- " + ec.message());
    return false;
}

// Copies a file into the destination folder under a temporary name and renames
// it, so a copy cut short never replaces a good one.
bool copy_file_to(const fs::path& file, const fs::path& target) {
    std::error_code ec;
    // A destination that is the report's own folder holds no second copy: what
    // delete_report would delete is the report itself.
    if (fs::equivalent(file, target, ec)) {
        ShowError("Can't copy (" + file.string() + ") onto itself");
        return false;
    }
    fs::create_directories(target.parent_path(), ec);
    fs::path temporary = target;
    temporary += ".part";
    if (!ec) fs::copy_file(file, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(temporary, target, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(temporary, ec);
        ShowError("Can't copy (" + file.string() + ") to (" + target.string() + ") -- " + reason);
        return false;
    }
    return true;
}

struct GzCloser {
    void operator()(gzFile f) const { gzclose(f); }
};
using UniqueGz = std::unique_ptr<std::remove_pointer_t<gzFile>, GzCloser>;

// Writes "log.gz" beside the log at compression level 4; the log stays in place.
bool compress_log(const std::string& log) {
    const std::string target = log + ".gz";
    const std::string temporary = target + ".tmp";
    UniqueFd in(::open(log.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!in || ::fstat(in.get(), &st) != 0) {
        ShowError("Can't compress log (" + log + ") -- " + platform::system_error_text(errno));
        return false;
    }
    UniqueGz out(gzopen(temporary.c_str(), "wb4"));
    bool ok = out != nullptr;
    std::string reason = ok ? "" : platform::system_error_text(errno);
    std::vector<char> block(kGzipBlock);
    std::uint64_t done = 0;
    while (ok) {
        const ssize_t n = ::read(in.get(), block.data(), block.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            reason = platform::system_error_text(errno);
            break;
        }
        if (gzwrite(out.get(), block.data(), static_cast<unsigned>(n)) != n) {
            int code = 0;
            reason = gzerror(out.get(), &code);
            ok = false;
            break;
        }
        done += static_cast<std::uint64_t>(n);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        ShowProgress(size == 0 ? 100 : static_cast<int>(done * 100 / size), "Compressing ...");
    }
    if (out && gzclose(out.release()) != Z_OK && ok) {
        ok = false;
        reason = "cannot finish the compressed file";
    }
    std::error_code ec;
    if (ok) fs::rename(temporary, target, ec);
    if (!ok || ec) {
        fs::remove(temporary, ec);
        ShowError("Can't compress log (" + log + ") to (" + target + ") -- " +
                  (reason.empty() ? ec.message() : reason));
        return false;
    }
    return true;
}

// Packs every created file into the archive, under its name below the report folder.
bool write_archive(const fs::path& archive, std::span<const fs::path> files,
                   const fs::path& report_dir) {
    ShowStatus("Archiving zip...");
    std::string error;
    auto zip = ZipArchive::create(archive, error);
    bool ok = zip != nullptr;
    for (std::size_t i = 0; ok && i < files.size(); ++i) {
        const std::string name = files[i].filename().string();
        ShowProgress(static_cast<int>(i * 100 / files.size()), "Zip adding " + name + "...");
        ok = zip->add(files[i], relative_name(files[i], report_dir), error);
    }
    if (ok) ok = zip->close(error);
    if (!ok) ShowError("Can't write archive " + error);
    return ok;
}

// Where the report goes: a local folder, or an FTP connection opened on demand.
class Destination {
public:
    explicit Destination(const std::string& location) : location_(location) {
        remote_ = location.find("ftp:") != std::string::npos ||
                  location.find("http:") != std::string::npos;
    }

    // Opens the connection of a remote destination; false (reported) when it fails.
    bool open() {
        if (!remote_) {
            ShowStatus("Coping files...");
            return true;
        }
        const auto url = logs::SplitFtpUrl(location_);
        if (!url) {
            // The location may carry a password: it is not repeated.
            ShowError("Can't send the report: only ftp:// locations take uploads");
            return false;
        }
        ftp_ = FtpConnection::connect(*url);
        return ftp_ != nullptr;
    }

    bool send(const fs::path& file, const std::string& relative) {
        if (ftp_) return ftp_->ftp_upload(file, relative) == UploadResult::sent;
        return copy_file_to(file, fs::path(location_) / relative);
    }

    bool remote() const { return remote_; }

private:
    std::string location_;
    bool remote_ = false;
    std::unique_ptr<FtpConnection> ftp_;
};

}  // namespace

std::optional<fs::path> archive_path_for(const fs::path& report) {
    if (report.string().find(".zip") != std::string::npos) return report;
    if (!report.has_extension()) return std::nullopt;
    fs::path archive = report;
    archive.replace_extension(".zip");
    return archive;
}

PostResult postprocess_run(const PostJob& job) {
    const PostSettings& post = *job.post;
    PostResult result;
    const fs::path report_dir = absolute_path(job.report_path).parent_path();
    const bool have_destination = !post.postproclocation.empty();

    // 1. The archive. Its files are deleted only once the archive is safe.
    std::optional<fs::path> archive;
    bool can_send = true;
    if (post.archive && have_destination) {
        archive = archive_path_for(job.report_path);
        if (!archive) {
            can_send = false;   // no archive, and no copy of the files in its place
        } else if (!write_archive(*archive, job.created, report_dir)) {
            result.delivered = false;
            can_send = false;
            archive.reset();
        } else if (post.delete_report && !post.sendto) {
            for (const fs::path& file : job.created)
                if (file != *archive && !delete_file(file)) result.delivered = false;
        }
    }

    // 2. gzip copies of the logs that are local and not compressed already.
    if (post.compresslog && !job.logs.empty()) {
        ShowStatus("Compressing ...");
        for (const std::string& log : job.logs) {
            if (log.find(".gz") != std::string::npos || logs::is_remote_log_name(log) ||
                log.find(".tdb") != std::string::npos)
                continue;
            if (!compress_log(log)) result.delivered = false;
        }
        ShowStatus("Compressing done.");
    }

    // 3. The copy or upload, and the deletion of what arrived.
    if (post.sendto && have_destination && can_send) {
        ShowStatus("Copying report files...");
        Destination destination(post.postproclocation);
        if (!destination.open()) {
            result.delivered = false;
        } else if (archive) {
            ShowStatus("Coping file...");
            if (!destination.send(*archive, relative_name(*archive, report_dir))) {
                result.delivered = false;
            } else if (post.delete_report) {
                for (const fs::path& file : job.created)
                    if (file != *archive && !delete_file(file)) result.delivered = false;
                if (!delete_file(*archive)) result.delivered = false;
            }
        } else if (!post.archive) {
            for (std::size_t i = 0; i < job.created.size(); ++i) {
                const fs::path& file = job.created[i];
                ShowProgress(static_cast<int>(i * 100 / job.created.size()),
                             "Copying report files...");
                if (!destination.send(file, relative_name(file, report_dir))) {
                    result.delivered = false;
                    if (destination.remote()) break;   // the connection is gone or refuses
                    continue;
                }
                if (post.delete_report && !delete_file(file)) result.delivered = false;
            }
        }
    }

    // 4. The notice.
    if (post.post_email.size() >= 3) {
        ShowStatus("Emailing notification...");
        const std::string body =
            post.post_emailmsg.size() >= 3
                ? post.post_emailmsg
                : "Your usage report has been updated. Yoau can access it at " +
                      job.report_path.string() + "\n\n";
        result.mail = email_send(post.post_email, body, post);
    }
    return result;
}

namespace {

struct Recording {
    CreatedFiles files;
    bool on = false;
};

Recording& recording() {
    static Recording r;
    return r;
}

}  // namespace

void prepare_post_processing(const PostSettings& post) {
    recording().files.clear();
    recording().on = post.archive || post.sendto;
}

CreatedFiles* recording_list() { return recording().on ? &recording().files : nullptr; }

int finish_post_processing(const Settings& settings, std::span<const std::string> logs) {
    const auto names = logs::LogNameContext::for_run(settings.dates, settings.run.siteurl);
    std::vector<std::string> expanded;
    for (const std::string& log : logs) expanded.push_back(logs::ExpandLogName(log, names));
    PostJob job;
    job.post = &settings.post;
    job.report_path =
        report::completeReportPath(settings.run.out, settings.report.reportformat).main;
    job.created = recording().files.paths();
    job.logs = expanded;
    const PostResult result = postprocess_run(job);
    recording().files.clear();
    recording().on = false;
    return result.ok() ? 0 : 1;
}

}  // namespace tallowick::delivery
