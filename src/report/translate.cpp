#include "report/translate.h"

#include <cstdio>
#include <memory>
#include <new>
#include <system_error>

#include "platform/folders.h"

namespace tallowick::report {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, kLanguageCount + 1> kNames = {
    "", "German", "Italian", "French", "Spanish", "Swedish",
    "Norwegian", "Danish", "Dutch", "Japanese",
};
constexpr std::array<std::string_view, kLanguageCount + 1> kFiles = {
    "", "German.lang", "Italian.lang", "French.lang", "Spanish.lang", "Swedish.lang",
    "Norwegian.lang", "Danish.lang", "Dutch.lang", "Japanese.lang",
};

bool valid_language(int language) { return language >= 1 && language <= kLanguageCount; }

// ASCII only: bytes of UTF-8 sequences are neither letters nor digits here, so a
// translated word beside an accented or Japanese character still counts as whole.
bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::optional<std::string> read_whole(const fs::path& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    std::string text;
    char block[16384];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, n);
    if (std::ferror(file.get())) return std::nullopt;
    return text;
}

}  // namespace

std::string_view languageFileName(int language) {
    return valid_language(language) ? kFiles[static_cast<std::size_t>(language)] : "";
}

std::string_view languageName(int language) {
    return valid_language(language) ? kNames[static_cast<std::size_t>(language)] : "";
}

std::vector<LanguagePair> parseLanguageFile(std::string_view text) {
    std::vector<LanguagePair> pairs;
    bool heading = true;
    std::size_t pos = 0;
    while (pos < text.size() && pairs.size() < kMaxLanguagePairs) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        // CR LF counts as one line end.
        pos = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);
        if (heading) {
            heading = false;
            continue;
        }
        if (!line.empty() && line[0] == '#') continue;
        std::size_t comma = line.find(',');
        if (comma == std::string_view::npos) break;
        if (comma == 0) continue;   // an empty English side would match everywhere
        pairs.push_back({std::string(line.substr(0, comma)), std::string(line.substr(comma + 1))});
    }
    return pairs;
}

bool translatePairs(std::span<const LanguagePair> pairs, std::string_view fragment,
                    std::string& out) {
    bool replaced_any = false;
    out.assign(fragment);
    for (const LanguagePair& pair : pairs) {
        if (pair.to.empty() || pair.from.empty() || pair.from.size() >= fragment.size() ||
            equal_ignoring_case(pair.from, pair.to))
            continue;
        std::size_t pos = 0;
        while ((pos = out.find(pair.from, pos)) != std::string::npos) {
            std::size_t after = pos + pair.from.size();
            bool whole = (pos == 0 || (out[pos - 1] != '"' && !is_alnum(out[pos - 1]))) &&
                         (after == out.size() ||
                          (!is_alnum(out[after]) && out[after] != '/' && out[after] != '.'));
            if (!whole) {
                ++pos;
                continue;
            }
            out.replace(pos, pair.from.size(), pair.to);
            pos += pair.to.size();
            replaced_any = true;
        }
    }
    return replaced_any;
}

LanguageTable::LanguageTable(fs::path program_folder) : folder_(std::move(program_folder)) {}

LanguageTable::LanguageTable() : LanguageTable(platform::program_folder()) {}

bool LanguageTable::load(int language) {
    if (!valid_language(language)) return false;
    auto index = static_cast<std::size_t>(language);
    if (texts_[index]) return true;
    const fs::path file(kFiles[index]);
    // With TALLOWICK_HOME pointing elsewhere (tests, a moved settings folder) the
    // files the build put beside the executable are still found.
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const fs::path beside = ec ? fs::path() : exe.parent_path() / "lang" / file;
    try {
        for (const fs::path& candidate :
             {folder_ / "lang" / file, beside, fs::path("lang") / file, file}) {
            if (candidate.empty()) continue;
            if (auto text = read_whole(candidate)) {
                texts_[index] = std::move(text);
                failed_[index] = false;
                return true;
            }
        }
    } catch (const std::bad_alloc&) {
        // A file too large to hold: the report goes on untranslated.
    }
    failed_[index] = true;
    return false;
}

bool LanguageTable::translate(int language, std::string_view fragment, std::string& out) {
    if (!valid_language(language)) return false;
    auto index = static_cast<std::size_t>(language);
    // A file that could not be read is not searched for again on every fragment.
    if (failed_[index] || (!texts_[index] && !load(language))) return false;
    if (pairs_language_ != language) {
        pairs_ = parseLanguageFile(*texts_[index]);
        pairs_language_ = language;
    }
    if (fragment.empty() || pairs_.empty()) return false;
    return translatePairs(pairs_, fragment, out);
}

}  // namespace tallowick::report
