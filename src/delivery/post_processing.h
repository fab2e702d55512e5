// Post-processing of a finished report: the Zip archive, gzip copies of the
// processed logs, the copy to a local folder or the FTP upload, deleting the
// local copy, and the e-mail notice. Driven by the `archive`, `compresslog`,
// `sendto`, `delete_report`, `postproclocation`, `post_email` and
// `post_emailmsg` settings.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "base/created_files.h"
#include "base/settings.h"
#include "delivery/email.h"

namespace tallowick::delivery {

struct PostJob {
    const PostSettings* post = nullptr;
    std::filesystem::path report_path;               // the report's main page
    std::span<const std::filesystem::path> created;  // every file the report wrote
    std::span<const std::string> logs;               // the logs the run read, macros expanded
};

struct PostResult {
    bool delivered = true;              // no step before the notice failed
    std::optional<MailResult> mail;     // the notice's result, when one was sent
    bool ok() const { return delivered && (!mail || *mail == MailResult::sent); }
};

// The archive of a report: the report path itself when it holds ".zip", else
// the path with the extension of its file name replaced by ".zip"; nothing for
// a file name without one.
std::optional<std::filesystem::path> archive_path_for(const std::filesystem::path& report);

// postprocess_run: runs the steps in order: archive, compress logs, copy or
// upload, notice. A local file is deleted (with `delete_report`) only once a
// copy of it is safe: in the archive when nothing is sent, else at the
// destination. Every failure is shown as an error and the later steps still
// run, except that nothing is sent after a failed connection or archive.
PostResult postprocess_run(const PostJob& job);

// The run's side: recording is switched on (and the list emptied) before a run
// when `archive` or `sendto` is set; report assembly records into
// recording_list(), which is null while recording is off.
void prepare_post_processing(const PostSettings& post);
CreatedFiles* recording_list();

// After a successful run: post-processes the report of `settings` with the
// logs as listed (macros are expanded here), then empties the list and
// switches recording off. Returns 0 on success, 1 when a step failed.
int finish_post_processing(const Settings& settings, std::span<const std::string> logs);

}  // namespace tallowick::delivery
