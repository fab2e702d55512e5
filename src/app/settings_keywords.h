// The keyword interpreter. One table row per keyword drives the settings-file
// reader, the command line, remote control and the writer alike: a keyword is
// added in one place, and a key the writer forgets fails the table's round-trip test.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/settings_store.h"
#include "base/settings.h"

namespace tallowick::app {

// How a keyword takes its value.
enum class KeywordType : std::uint8_t {
    set_flag,     // no value: the flag becomes `constant` (0 or 1)
    set_number,   // no value: the number becomes `constant`
    number,       // one token: a decimal integer, or one of `words`
    text,         // one token
    line_text,    // the rest of the settings-file line (one token on the command line)
    list,         // one token added to a list
    line_list,    // the rest of the line added to a list
    special,      // a handler of its own
};

// What the writer does with a keyword.
enum class WriteRule : std::uint8_t {
    never,
    always,       // "name value", one line per entry for lists
    when_set,     // flags and constants: the name when the field holds `constant`;
                  // numbers: when not 0; texts: when not empty
    word,         // "name word": the first of `words` whose value the field holds
    special,      // the row's own writer
};

// How a value is looked up in `words`.
enum class WordMatch : std::uint8_t {
    prefix,       // the value begins with the word
    contains,     // the word occurs anywhere in the value
};

struct KeywordWord {
    std::string_view word;
    long value;
};

struct FlagField {
    bool& (*ref)(Settings&);
    bool (*get)(const Settings&);
};
struct NumberField {
    long (*get)(const Settings&);
    void (*set)(Settings&, long);
};
struct TextField {
    std::string& (*ref)(Settings&);
    const std::string& (*get)(const Settings&);
};
struct ListField {
    SettingsList& (*ref)(Settings&);
    const SettingsList& (*get)(const Settings&);
};

struct KeywordRow;

// One call of a keyword: the row, the token as given and what follows it.
struct KeywordCall {
    KeywordContext& ctx;
    const KeywordRow& row;
    std::string_view token;                       // as written, sign included
    std::span<const std::string_view> values;     // the tokens after the keyword
    std::optional<std::string_view> line_value;   // rest of the line, when a file line
    bool from_file;                               // a settings-file line, not the command line
};

struct SpecialField {
    void (*apply)(KeywordCall&);
};

using KeywordField =
    std::variant<std::monostate, FlagField, NumberField, TextField, ListField, SpecialField>;

inline constexpr long kNoLimit = 0x7fffffffL;

struct KeywordRow {
    std::string_view name;                        // the writer's name
    std::array<std::string_view, 3> aliases{};    // further names the reader accepts
    KeywordType type = KeywordType::special;
    KeywordField field{};
    long min = 0;                                 // numbers: range; texts: max is the length
    long max = kNoLimit;
    std::optional<long> over_max{};               // numbers above max become this instead
    long constant = 1;                            // set_flag / set_number
    std::span<const KeywordWord> words{};         // number rows that also take words
    WordMatch match = WordMatch::prefix;
    bool digit_first = false;                     // a value beginning with a digit is a number,
                                                  // any other value must be a word
    WriteRule write = WriteRule::never;
    void (*writer)(const KeywordRow&, const Settings&, std::string&) = nullptr;
    void (*after)(Settings&) = nullptr;           // run after the value is stored
    bool replaces_default = false;                // see KeywordContext::replace_default_orgmap
};

// The whole table, in the writer's order (rows that are never written follow).
std::span<const KeywordRow> keyword_table();

// The row a token names, or nullptr. Keywords match without regard to ASCII case;
// a token with a leading "-" or "+" also matches the keyword without it.
const KeywordRow* find_keyword(std::string_view token);

// How many tokens after a keyword on the command line are its values (0 for
// flags and blocks, 2 for the pairs of editpath, rgb and custom_dataIndex).
std::size_t keyword_value_count(const KeywordRow& row);

// The statistic and graph words of "+stat"/"-stat" and "+graph"/"-graph".
struct StatWordRow {
    std::string_view word;
    StatWord flag;
    bool table, graph;                      // valid after +stat / after +graph
    bool table_default, graph_default;      // the full reset's values
};
std::span<const StatWordRow> stat_word_table();
const StatWordRow* find_stat_word(std::string_view word);

// ApplyKeyword: interprets tokens[index] with the tokens after it as values and
// changes ctx's record, log list or block state. raw_line is the whole settings-file
// line (without its line end), or nullopt on the command line and from remote
// control. While an HTML or PATH block is open, a raw line goes to the block.
// Returns whether the token was a known keyword (or a block line). A refused value
// is reported through ShowError; a missing value does nothing.
bool ApplyKeyword(KeywordContext& ctx, std::span<const std::string_view> tokens,
                  std::size_t index, std::optional<std::string_view> raw_line);
// The same on the process-wide record.
bool ApplyKeyword(std::span<const std::string_view> tokens, std::size_t index,
                  std::optional<std::string_view> raw_line = std::nullopt);

// Splits a settings-file line at spaces and tabs into at most 64 tokens.
std::vector<std::string_view> split_settings_line(std::string_view line);

// WriteSettingsText: appends the record in text form, in the fixed order of the
// settings file, ending with "#END".
void WriteSettingsText(std::string& out, const Settings& s);

// The colours of a full reset, and putting them back with the marker.
void reset_colours(Settings& s);

}  // namespace tallowick::app
