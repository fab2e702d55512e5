#include "delivery/page_titles.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "base/status.h"
#include "base/utf8.h"
#include "delivery/curl_easy.h"

namespace tallowick::delivery {

namespace {

using Clock = std::chrono::steady_clock;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The position of the first "<title" followed by ">" or white space, in any case.
std::size_t find_title_tag(std::string_view text) {
    static constexpr std::string_view kTag = "<title";
    for (std::size_t i = 0; i + kTag.size() < text.size(); ++i) {
        std::size_t k = 0;
        while (k < kTag.size() && lower(text[i + k]) == kTag[k]) ++k;
        if (k == kTag.size() && (text[i + k] == '>' || is_space(text[i + k]))) return i;
    }
    return std::string_view::npos;
}

// A decoded character reference; one that names no character becomes U+FFFD.
void append_reference(std::string& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    append_utf8(out, static_cast<char32_t>(code));
}

// The character an entity name stands for, for the names titles use.
unsigned long named_entity(std::string_view name) {
    struct Entity { std::string_view name; unsigned long code; };
    static constexpr Entity kEntities[] = {
        {"amp", '&'},      {"lt", '<'},        {"gt", '>'},        {"quot", '"'},
        {"apos", '\''},    {"nbsp", 0xA0},     {"copy", 0xA9},     {"reg", 0xAE},
        {"trade", 0x2122}, {"ndash", 0x2013},  {"mdash", 0x2014},  {"hellip", 0x2026},
        {"laquo", 0xAB},   {"raquo", 0xBB},    {"lsquo", 0x2018},  {"rsquo", 0x2019},
        {"ldquo", 0x201C}, {"rdquo", 0x201D},  {"middot", 0xB7},   {"bull", 0x2022},
    };
    for (const Entity& e : kEntities)
        if (e.name == name) return e.code;
    // The Latin-1 letters and signs, in code order from 0xA1.
    static constexpr std::string_view kLatin1[] = {
        "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
        "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute",
        "micro", "para", "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12",
        "frac34", "iquest", "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig",
        "Ccedil", "Egrave", "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml",
        "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc", "Otilde", "Ouml", "times", "Oslash",
        "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig", "agrave", "aacute",
        "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave", "eacute", "ecirc",
        "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve", "oacute",
        "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml",
        "yacute", "thorn", "yuml"};
    for (std::size_t i = 0; i < std::size(kLatin1); ++i)
        if (kLatin1[i] == name) return 0xA1 + i;
    return 0;
}

// Decodes entities and folds runs of white space (a no-break space counts) into one blank.
std::string decoded_text(std::string_view raw) {
    std::string out;
    auto add_space = [&out] {
        if (!out.empty() && out.back() != ' ') out += ' ';
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (is_space(c)) {
            add_space();
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const std::size_t end = raw.find(';', i + 1);
        if (end == std::string_view::npos || end - i > 10) {
            out += c;
            continue;
        }
        const std::string_view name = raw.substr(i + 1, end - i - 1);
        unsigned long code = 0;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* stop = nullptr;
            code = digits.empty() ? 0 : std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (digits.empty() || *stop != '\0') code = 0;
            else if (code == 0) code = 0xFFFD;
        } else {
            code = named_entity(name);
        }
        if (code == 0) {
            out += c;   // not an entity we know: kept as written
            continue;
        }
        if (code == 0xA0) add_space();
        else append_reference(out, code);
        i = end;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

struct PageBytes {
    std::string text;
};

std::size_t keep_page_bytes(char* data, std::size_t size, std::size_t count, void* user) {
    auto* page = static_cast<PageBytes*>(user);
    const std::size_t n = size * count;
    const std::size_t room = kTitleBytes - page->text.size();
    page->text.append(data, std::min(n, room));
    // Returning less than was given ends the transfer once enough is read.
    return page->text.size() >= kTitleBytes ? std::min(n, room) : n;
}

// Fetched titles of one run, and the time budget of the current report.
struct TitleMemory {
    TitleLimits limits;
    std::unordered_map<std::string, std::string> titles;
};

}  // namespace

std::optional<std::string> title_of_page(std::string_view bytes) {
    const std::size_t tag = find_title_tag(bytes);
    if (tag == std::string_view::npos) return std::nullopt;
    const std::size_t start = bytes.find('>', tag);
    if (start == std::string_view::npos) return std::nullopt;
    const std::size_t end = bytes.find('<', start + 1);
    std::string title = decoded_text(bytes.substr(start + 1, end == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : end - start - 1));
    if (title.empty()) return std::nullopt;
    return title;
}

std::optional<std::string> page_title(std::string_view url, std::chrono::milliseconds timeout) {
    ShowStatus("Getting URL title...");
    CurlEasy easy;
    CURL* c = easy.get();
    if (!c) return std::nullopt;
    const std::string target(url);
    PageBytes page;
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(timeout.count(), 1)));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &keep_page_bytes);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &page);
    const int rc = easy.perform();
    const bool enough = rc == CURLE_WRITE_ERROR && page.text.size() >= kTitleBytes;
    if (rc != CURLE_OK && !enough) {
        ShowStatus("No title for " + target + " -- " + easy.error_text());
        return std::nullopt;
    }
    return title_of_page(page.text);
}

report::PageTitleSource page_title_source(TitleLimits limits) {
    auto memory = std::make_shared<TitleMemory>();
    memory->limits = limits;
    return [memory]() -> report::PageTitleLookup {
        auto spent = std::make_shared<Clock::duration>(Clock::duration::zero());
        auto told = std::make_shared<bool>(false);
        return [memory, spent, told](std::string_view url) -> std::string {
            const std::string key(url);
            if (auto known = memory->titles.find(key); known != memory->titles.end())
                return known->second;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                memory->limits.per_report - *spent);
            if (left.count() <= 0) {
                if (!*told)
                    ShowStatus("Page titles: the time for this report is spent; the other "
                               "rows keep their paths");
                *told = true;
                return {};
            }
            const auto start = Clock::now();
            std::string title = page_title(url, std::min(left, memory->limits.per_page))
                                    .value_or(std::string());
            *spent += Clock::now() - start;
            memory->titles.emplace(key, title);
            return title;
        };
    };
}

}  // namespace tallowick::delivery
