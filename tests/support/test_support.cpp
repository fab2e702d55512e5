#include "support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tallowick::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "tallowick-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::optional<fs::path> shared_logs_dir() {
    if (const char* env = std::getenv("TALLOWICK_SHARED_LOGS")) {
        if (fs::is_directory(env)) return fs::path(env);
    }
    fs::path p = fs::path(TALLOWICK_SOURCE_DIR).parent_path() / "shared" / "logs";
    if (fs::is_directory(p)) return p;
    return std::nullopt;
}

fs::path sample_log() {
    const char* home = std::getenv("HOME");
    const fs::path path = fs::path(home ? home : "/tmp") / "sample-access.log";
    if (fs::exists(path)) return path;
    static constexpr const char* kPages[] = {"/", "/index.html", "/about.html", "/img/logo.gif",
                                              "/docs/guide.pdf", "/missing.html"};
    static constexpr const char* kAgents[] = {
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/120.0 Safari/537.36",
        "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
        "Googlebot/2.1 (+http://www.google.com/bot.html)"};
    std::string text;
    for (int i = 0; i < 600; ++i) {
        const int page = i % 6;
        char line[512];
        std::snprintf(line, sizeof line,
                      "10.0.%d.%d - - [%02d/Nov/2026:%02d:%02d:%02d +0000] \"GET %s HTTP/1.1\" %d %d "
                      "\"http://www.google.com/search?q=word%d\" \"%s\"\n",
                      i % 4, i % 10 + 1, 1 + i / 300, (i / 25) % 24, i % 60, (i * 7) % 60,
                      kPages[page], page == 5 ? 404 : 200, 500 + 37 * i, i % 5, kAgents[i % 3]);
        text += line;
    }
    write_file(path, text);
    return path;
}

fs::path tallowick_binary() { return TALLOWICK_BINARY_PATH; }
fs::path source_dir() { return TALLOWICK_SOURCE_DIR; }

namespace {

std::string drain(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

}  // namespace

ProcessResult run_process(const fs::path& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& extra_env) {
    ProcessResult result;
    // Outputs go to temporary files so that a chatty child never blocks on a pipe.
    TempDir tmp;
    std::string out_path = (tmp.path() / "out").string();
    std::string err_path = (tmp.path() / "err").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> argv_store;
    argv_store.push_back(program.string());
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) env_store.emplace_back(*e);
    env_store.insert(env_store.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp;
    for (auto& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = std::string("spawn failed: ") + std::strerror(rc);
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    int fd = open(out_path.c_str(), O_RDONLY);
    if (fd >= 0) { result.out = drain(fd); close(fd); }
    fd = open(err_path.c_str(), O_RDONLY);
    if (fd >= 0) { result.err = drain(fd); close(fd); }
    return result;
}

}  // namespace tallowick::test
