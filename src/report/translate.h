// Report languages. A language file maps English report words and phrases to
// another language; every fragment a report writes passes through `translate`,
// which replaces whole words only, so that file names, paths and quoted
// attribute values (Requests.html, "Daily") stay as they are.
//
// File format: the first line is a heading and is skipped; lines starting with
// "#" are comments; every other line is "English text,replacement" (the
// replacement is the rest of the line and may hold commas). Reading stops at
// the first non-comment line without a comma. Files are UTF-8.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::report {

// One replacement of a language file, in file order.
struct LanguagePair {
    std::string from;
    std::string to;
};

inline constexpr int kLanguageCount = 9;     // language indexes 1..9; 0 is English
inline constexpr std::size_t kMaxLanguagePairs = 400;

// "German.lang" ... "Japanese.lang" for 1..9; empty for English or an unknown index.
std::string_view languageFileName(int language);
// "German" ... "Japanese" for 1..9 (the names the settings show); empty otherwise.
std::string_view languageName(int language);

// The pairs of a language file's text, at most kMaxLanguagePairs of them.
std::vector<LanguagePair> parseLanguageFile(std::string_view text);

// Replaces, pair after pair, every whole-word occurrence of `from` by `to` in
// fragment. A pair is skipped when its `to` is empty, when `from` is not shorter
// than the fragment, or when both are equal ignoring case. An occurrence counts
// when the character before it is neither '"' nor a letter or digit and the
// character after it is neither a letter or digit nor '/' nor '.'.
// Returns true and the result in out when anything was replaced; out is
// unspecified otherwise.
bool translatePairs(std::span<const LanguagePair> pairs, std::string_view fragment,
                    std::string& out);

// The loaded language files of a process. Each file is read on first use and
// held; the pair list is rebuilt when a different language is asked for.
class LanguageTable {
public:
    // program_folder is searched first ("<folder>/lang/<file>"), then the "lang"
    // folder beside the executable, then "lang/<file>" below the current folder,
    // then the bare file name.
    explicit LanguageTable(std::filesystem::path program_folder);
    // Uses platform::program_folder().
    LanguageTable();

    // Reads the language's file unless it is held already. Returns true when it is
    // held; false for English, an unknown index or a file that cannot be read
    // (then fragments are written untranslated). An explicit call tries a file
    // again that failed before.
    bool load(int language);

    // Translates fragment for the language (1..9). Returns true with the result in
    // out when something was replaced; false when the text stays as it is (no
    // language, file missing, nothing matched).
    bool translate(int language, std::string_view fragment, std::string& out);

    // The pairs of the language last used, for inspection.
    std::span<const LanguagePair> pairs() const { return pairs_; }

private:
    std::filesystem::path folder_;
    std::array<std::optional<std::string>, kLanguageCount + 1> texts_;
    std::array<bool, kLanguageCount + 1> failed_{};
    int pairs_language_ = 0;
    std::vector<LanguagePair> pairs_;
};

}  // namespace tallowick::report
