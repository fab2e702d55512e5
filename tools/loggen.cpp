// tallowick-loggen: writes a sample web-server log in combined format, the same
// log for the same seed. Clients, pages and agents follow skewed distributions
// (a few are very frequent, most are rare), as on real sites.
//
//   tallowick-loggen [--lines N] [--seed S] [--days D] [--clients N] [--gzip] [--out FILE]
//
// Without --out the log goes to standard output (plain text only).
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every platform (the standard library's
// distributions are not), so a seed names one log everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1, uniform.
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    // 0 .. n-1, skewed: the square of a uniform number favours small indexes.
    std::size_t skewed(std::size_t n) {
        double u = static_cast<double>(next() >> 11) / 9007199254740992.0;
        return static_cast<std::size_t>(u * u * u * static_cast<double>(n)) % n;
    }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

private:
    std::uint64_t state_;
};

const char* const kDomains[] = {".com", ".net", ".org", ".de", ".fr", ".co.uk", ".jp", ".com.au",
                                ".nl", ".it", ".es", ".se", ".ca", ".br", ".ch", ".edu", ".gov"};
const char* const kHostWords[] = {"dialup", "pool", "cache", "proxy", "adsl", "cable", "gw", "ppp",
                                  "host", "client", "dyn", "mail"};
const char* const kOrgs[] = {"telenet", "wanadoo", "btinternet", "t-online", "ocn", "optusnet",
                             "planet", "tiscali", "uni-hamburg", "bigpond", "sympatico", "comcast",
                             "rr", "aol", "mit", "nasa"};
const char* const kDirs[] = {"", "products/", "support/", "news/", "docs/", "downloads/", "images/",
                             "about/", "products/widgets/", "support/faq/", "news/2003/", "docs/api/v2/"};
const char* const kPages[] = {"index.html", "default.htm", "contact.html", "catalog.asp", "search.php",
                              "view.cgi", "page.jsp", "article.shtml", "list.php", "help.html"};
const char* const kImages[] = {"logo.gif", "banner.jpg", "spacer.gif", "photo.png", "icon.ico", "bg.jpg"};
const char* const kDownloads[] = {"setup.exe", "manual.pdf", "release.zip", "data.tar.gz", "driver.msi",
                                  "song.mp3"};
const char* const kQueryKeys[] = {"id", "page", "q", "sort", "lang", "ref"};
const char* const kSearch[] = {"http://www.google.com/search?q=", "http://search.yahoo.com/search?p=",
                               "http://www.bing.com/search?q=", "http://www.altavista.com/web/results?q=",
                               "http://search.msn.com/results.aspx?q=", "http://www.google.de/search?hl=de&q="};
const char* const kPhrases[] = {"cheap+widgets", "widget+repair+manual", "free+download", "weather",
                                "how+to+install+driver", "blue+widgets+uk", "contact+address",
                                "api+documentation", "release+notes", "news"};
const char* const kReferSites[] = {"http://www.partner-site.com/links.html", "http://forum.example.org/thread/42",
                                   "http://news.example.net/today", "http://blog.example.de/2003/05/"};
const char* const kAgents[] = {
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36",
    "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 Safari/605.1.15",
    "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
    "Mozilla/4.7 [en] (WinNT; U)",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148",
    "Opera/9.80 (Windows NT 6.1; U; en) Presto/2.10.289 Version/12.02",
    "Googlebot/2.1 (+http://www.google.com/bot.html)",
    "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
    "Lynx/2.8.4rel.1 libwww-FM/2.14",
    "Slurp/3.0 (slurp@inktomi.com)",
    "Wget/1.21.3",
    "Mozilla/3.01 (compatible;)",
};

template <std::size_t N>
const char* pick(Random& r, const char* const (&items)[N], bool skew = true) {
    return items[skew ? r.skewed(N) : r.below(N)];
}

struct Client {
    std::string name;
    std::size_t agent;
};

std::vector<Client> make_clients(Random& r, std::size_t count) {
    std::vector<Client> clients;
    clients.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Client c;
        if (r.chance(35)) {
            c.name = pick(r, kHostWords, false);
            c.name += std::to_string(r.below(250));
            c.name += '-';
            c.name += std::to_string(r.below(250));
            c.name += '.';
            c.name += pick(r, kOrgs, false);
            c.name += pick(r, kDomains);
        } else {
            for (int part = 0; part < 4; ++part) {
                if (part) c.name += '.';
                c.name += std::to_string(part == 0 ? 1 + r.below(223) : part == 3 ? 1 + r.below(254) : r.below(256));
            }
        }
        c.agent = r.skewed(std::size(kAgents));
        clients.push_back(std::move(c));
    }
    return clients;
}

// Appends one request (url) and fills its status and size.
void make_request(Random& r, std::string& url, int& status, long& bytes) {
    url = "/";
    url += pick(r, kDirs);
    int kind = static_cast<int>(r.below(100));
    if (kind < 40) {
        url += pick(r, kPages);
        bytes = 2000 + static_cast<long>(r.below(40000));
        if (r.chance(30)) {
            url += '?';
            url += pick(r, kQueryKeys, false);
            url += '=';
            url += std::to_string(r.below(5000));
            if (r.chance(30)) {
                url += '&';
                url += pick(r, kQueryKeys, false);
                url += '=';
                url += std::to_string(r.below(9));
            }
        }
    } else if (kind < 80) {
        url += pick(r, kImages);
        bytes = 40 + static_cast<long>(r.below(60000));
    } else if (kind < 90) {
        url += pick(r, kDownloads);
        bytes = 100000 + static_cast<long>(r.below(20000000));
    } else {
        bytes = 1500 + static_cast<long>(r.below(5000));   // the directory itself
    }
    int s = static_cast<int>(r.below(1000));
    status = s < 780 ? 200 : s < 900 ? 304 : s < 950 ? 404 : s < 970 ? 206 : s < 990 ? 301 : 500;
    if (status == 304) bytes = 0;
    if (status == 404 || status == 301 || status == 500) bytes = 200 + static_cast<long>(r.below(400));
    if (status == 206) bytes /= 3;
}

class Output {
public:
    Output(const char* path, bool gzip) {
        if (!path) {
            plain_ = stdout;
        } else if (gzip) {
            gz_ = gzopen(path, "wb6");
        } else {
            plain_ = std::fopen(path, "wb");
            owned_ = true;
        }
    }
    ~Output() {
        flush();
        if (gz_) gzclose(gz_);
        if (plain_ && owned_) std::fclose(plain_);
    }
    bool ok() const { return gz_ || plain_; }
    std::string& buffer() { return buffer_; }
    void flush_if_full() {
        if (buffer_.size() > (1 << 20)) flush();
    }

private:
    void flush() {
        if (gz_) gzwrite(gz_, buffer_.data(), static_cast<unsigned>(buffer_.size()));
        else if (plain_) std::fwrite(buffer_.data(), 1, buffer_.size(), plain_);
        buffer_.clear();
    }
    gzFile gz_ = nullptr;
    std::FILE* plain_ = nullptr;
    bool owned_ = false;
    std::string buffer_;
};

int usage() {
    std::fputs("usage: tallowick-loggen [--lines N] [--seed S] [--days D] [--clients N] [--gzip] [--out FILE]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long lines = 10000, seed = 1, days = 30, distinct = 0;
    bool gzip = false;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--gzip") {
            gzip = true;
        } else if (a == "--lines" || a == "--seed" || a == "--days" || a == "--out" ||
                   a == "--clients") {
            const char* v = value();
            if (!v) return usage();
            if (a == "--out") out = v;
            else (a == "--lines" ? lines : a == "--seed" ? seed : a == "--days" ? days : distinct) =
                std::strtoull(v, nullptr, 10);
        } else {
            return usage();
        }
    }
    if (gzip && !out) {
        std::fputs("tallowick-loggen: --gzip needs --out\n", stderr);
        return 2;
    }
    if (days == 0) days = 1;
    Output output(out, gzip);
    if (!output.ok()) {
        std::fprintf(stderr, "tallowick-loggen: cannot write %s\n", out);
        return 1;
    }

    Random r(seed);
    std::vector<Client> clients = make_clients(r, 5000);
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t start = 1046476800;   // 1 March 2003, 00:00 UTC
    const double step = static_cast<double>(days) * 86400.0 / static_cast<double>(lines ? lines : 1);
    std::string url, referrer;
    char head[160];
    // --clients N: N distinct addresses, each coming back at even intervals
    // (hit i goes to client i * 7919 mod N), no user names.
    Client numbered;
    for (unsigned long long i = 0; i < lines; ++i) {
        if (distinct > 0) {
            const unsigned long long n = (i * 7919ULL) % distinct;
            numbered.name = "10." + std::to_string((n >> 16) & 255) + '.' +
                            std::to_string((n >> 8) & 255) + '.' + std::to_string(n & 255);
            numbered.agent = n % std::size(kAgents);
        }
        const Client& client = distinct > 0 ? numbered : clients[r.skewed(clients.size())];
        std::time_t when = start + static_cast<std::time_t>(static_cast<double>(i) * step);
        std::tm tm{};
        gmtime_r(&when, &tm);
        int status = 200;
        long bytes = 0;
        make_request(r, url, status, bytes);

        referrer = "-";
        int ref = static_cast<int>(r.below(100));
        if (ref < 20) {
            referrer = pick(r, kSearch);
            referrer += pick(r, kPhrases);
        } else if (ref < 50) {
            referrer = "http://www.example.com/";
            referrer += pick(r, kDirs);
            referrer += pick(r, kPages);
        } else if (ref < 60) {
            referrer = pick(r, kReferSites);
        }
        const char* user = r.chance(2) && distinct == 0 ? "member" : "-";
        const char* method = r.chance(3) ? "POST" : r.chance(1) ? "HEAD" : "GET";
        const char* protocol = r.chance(60) ? "HTTP/1.1" : "HTTP/1.0";

        std::string& b = output.buffer();
        std::snprintf(head, sizeof head, " - %s [%02d/%s/%04d:%02d:%02d:%02d +0100] \"%s ", user, tm.tm_mday,
                      kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, method);
        b += client.name;
        b += head;
        b += url;
        b += ' ';
        b += protocol;
        b += "\" ";
        b += std::to_string(status);
        b += ' ';
        b += status == 304 ? std::string("-") : std::to_string(bytes);
        b += " \"";
        b += referrer;
        b += "\" \"";
        b += kAgents[client.agent];
        b += "\"\n";
        output.flush_if_full();
    }
    return 0;
}
