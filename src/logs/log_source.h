// Log sources: opening a log (a local file, plain or gzip-compressed, or a remote
// log named by an "ftp:", "http:" or "https:" URL) and delivering its lines.
//
// Lines are cut from large blocks in place: a line is a view into the source's
// block buffer, valid until the next ReadLogLine on that source. A plain local
// file is read into two large windows in turn instead, and its lines stay
// readable longer (see windows()). Remote logs are read as they arrive from the
// network, never downloaded whole first.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::logs {

struct LogNameContext;

class LogSource {
public:
    // Blocks read at a time from local files and from the network.
    static constexpr std::size_t kLocalBlock = 65536;
    static constexpr std::size_t kRemoteBlock = 16384;
    // The first read of a source is short, so that format detection starts early.
    static constexpr std::size_t kPrimeBlock = 2048;
    // A line that reaches this many characters is delivered at exactly this
    // length, which marks it as not understood; the rest of it, up to its line
    // end, is passed over.
    static constexpr std::size_t kMaxLine = 10239;

    LogSource();
    ~LogSource();
    LogSource(LogSource&&) noexcept;
    LogSource& operator=(LogSource&&) noexcept;

    bool is_open() const;
    bool remote() const;
    // The name as opened: macros expanded, shortcut resolved, URL from its scheme on.
    const std::string& name() const;
    // Characters delivered so far, line ends included; the progress report uses it.
    std::uint64_t bytes_read() const;
    // True once a read failed (damaged gzip data, a broken connection); the error
    // has been reported and the lines before the failure were delivered.
    bool failed() const;
    // For a plain local file, the windows lines came from so far: a line stays
    // readable until this has grown by two or the source is closed, so that a
    // reader may keep lines of the window before without copying them. 0 for
    // other sources, whose lines last until the next read only.
    std::uint64_t windows() const;

    struct Impl;

private:
    friend std::optional<LogSource> OpenLog(std::string_view, std::uint64_t*,
                                            const LogNameContext*);
    friend bool ReadLogLine(LogSource&, std::string_view&);
    friend void CloseLog(LogSource&);
    std::unique_ptr<Impl> impl_;
};

// True for a name that holds "ftp:", "http:" or "https:".
bool is_remote_log_name(std::string_view name);

// OpenLog: expands the name's macros (with `names`, or today's date when null),
// resolves a ".lnk" shortcut and opens the source. `size`, when given, receives
// the local file's size in bytes (for a gzip file, the size of its contents), or
// 0 for a remote log. On failure the error is reported ("Cannot open log file
// '%s'") and nothing is returned.
std::optional<LogSource> OpenLog(std::string_view name, std::uint64_t* size = nullptr,
                                 const LogNameContext* names = nullptr);

// CanOpenLog: opens and closes a local log at once; remote names count as
// readable without a check.
bool CanOpenLog(std::string_view name, const LogNameContext* names = nullptr);

// ReadLogLine: the next line, without its line end (LF, CR LF or a lone CR).
// Returns false at the end of the source (after a read error too, which is
// reported once).
bool ReadLogLine(LogSource& source, std::string_view& line);

// CloseLog: closes the source and its connection; reading afterwards gives no lines.
void CloseLog(LogSource& source);

// An "ftp://" URL taken apart. Without "user[:password]@" the user is
// "anonymous" and the password "mossberry".
struct FtpUrl {
    std::string host;       // with ":port" when the URL has one
    std::string user;
    std::string password;
    std::string path;       // from the "/" after the host on
};

// SplitFtpUrl: nothing when the text does not begin with "ftp://".
std::optional<FtpUrl> SplitFtpUrl(std::string_view url);

}  // namespace tallowick::logs
