// Agent classification: from the agent text of a hit, the operating system (with
// its family), the browser with its version, and the robot. The hit accounting
// calls it once per hit with an agent; AgentCache makes that one search per
// distinct agent text of the run.
//
// Every rule is a case-sensitive substring search, tried in table order; the first
// rule that matches wins. The tables (agent_tables.cpp) list the rules for today's
// agents first, then the classic rules, so that a classic agent keeps its classic
// name while a current browser is not taken for the Netscape its text imitates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::engine {

// Operating-system families (a system item's misc2; the key of a browser's
// per-family records).
enum OsFamily : std::int8_t {
    kFamilyWindows = 1,
    kFamilyMacintosh = 2,
    kFamilyUnix = 3,
    kFamilyOther = 4,
};

inline constexpr int kUnknownOs = 0;  // "Unknown", family other
inline constexpr int kNoRobot = 0;    // no robot; index 0 is never added

// A browser name built in place, so that classifying a hit allocates nothing.
// Text beyond the capacity is dropped: two names that differ only after it count
// as one browser.
class BrowserName {
public:
    static constexpr std::size_t kCapacity = 63;

    std::string_view view() const { return {text_.data(), size_}; }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }
    void append(std::string_view text);
    void push_back(char c);
    // Removes trailing blanks.
    void trim_back();

private:
    std::array<char, kCapacity> text_{};
    std::uint8_t size_ = 0;
};

// Which kind of rule named the browser.
enum class BrowserSource : std::uint8_t {
    none,        // no browser (the agent begins with a digit, or is empty)
    rule,        // a browser rule of the table
    clause,      // the product named in a "(compatible; Name/1.0; ...)" clause
    agent_text,  // no rule matched: the agent's own first word
};

struct AgentClass {
    std::int16_t os = kUnknownOs;       // index for os_name()
    std::int8_t os_family = kFamilyOther;
    std::int16_t robot = kNoRobot;      // index for robot_name()
    std::int16_t browser_rule = -1;     // index into browser_rules() when source is rule
    BrowserSource browser_source = BrowserSource::none;
    BrowserName browser;                // empty when there is none
};

// classify_agent: operating system, browser and robot of one agent text.
AgentClass classify_agent(std::string_view agent);

// The three parts on their own.
int classify_os(std::string_view agent);
void classify_browser(std::string_view agent, AgentClass& out);
int classify_robot(std::string_view agent);

// Names by index; an empty text outside the table.
std::string_view os_name(int index);
int os_family(int index);  // kFamilyOther outside the table
int os_count();
std::string_view robot_name(int index);
int robot_count();

// ---- the rule tables (agent_tables.cpp) ------------------------------------

// How a rule's words are found. Words of today's rules match a blank in the
// agent written as "+" as well, because W3C logs write agents that way; the
// classic rules find their words exactly as written.
enum class Match : std::uint8_t { exact, blank_or_plus };

struct OsInfo {
    std::string_view name;
    OsFamily family;
};

struct OsRule {
    std::string_view word;
    std::int16_t os;
    Match match;
};

// How the version after a browser's name is read.
enum class VersionStyle : std::uint8_t {
    none,
    // The classic scan: from the second character of the matched word, copy up to
    // 32 digits and dots, skipping anything else; the character copied after the
    // first dot ends it ("MSIE 5.01" gives 5.0). Text ending first gives no version.
    scan,
    // major[.minor] right after version_at (or after the word), digits only:
    // "Chrome/120.0.6099.109" gives 120.0.
    dotted,
};

enum class BrowserNaming : std::uint8_t {
    fixed,   // name, then the version
    clause,  // the product of the agent's "compatible;" clause
};

struct BrowserRule {
    std::string_view word;        // must occur in the agent
    std::string_view also;        // must occur as well, when not empty
    std::string_view name;        // the name, or the classic prefix (with its blank)
    VersionStyle version;
    std::string_view version_at;  // dotted: the version follows this text (empty: the word)
    Match match;
    BrowserNaming naming = BrowserNaming::fixed;
};

struct RobotRule {
    std::string_view word;
    std::int16_t robot;
    Match match;
};

std::span<const OsInfo> os_table();
std::span<const OsRule> os_rules();
std::span<const BrowserRule> browser_rules();
std::span<const std::string_view> robot_names();
std::span<const RobotRule> robot_rules();

// Whether `word` occurs in `text` under the rule's matching.
bool contains_word(std::string_view text, std::string_view word, Match match);
// The position of `word` in `text`, or npos.
std::size_t find_word(std::string_view text, std::string_view word, Match match);

// ---- per-run cache -----------------------------------------------------------

// AgentCache: classifies each distinct agent text once per run. Entries are keyed
// by the name hash and the text itself. Memory is fixed when the cache is made:
// when the entries or the stored text reach their bounds the cache starts over,
// and agents longer than kMaxCachedAgent are classified without being kept.
class AgentCache {
public:
    static constexpr std::size_t kMaxCachedAgent = 1024;

    explicit AgentCache(std::size_t max_entries = 2048, std::size_t max_text_bytes = 512 * 1024);

    // classify: as classify_agent, from the cache when the text was seen before.
    AgentClass classify(std::string_view agent);

    std::size_t size() const { return entries_; }
    std::uint64_t hits() const { return hits_; }
    std::uint64_t misses() const { return misses_; }
    // Times the cache was full and started over.
    std::uint64_t restarts() const { return restarts_; }

private:
    struct Slot {
        std::size_t hash = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        bool used = false;
        AgentClass result;
    };
    void restart();

    std::size_t max_entries_;
    std::size_t max_text_;
    std::vector<Slot> slots_;  // a power of two, at least twice max_entries_
    std::string text_;         // the agent texts, end to end; never grows past max_text_
    std::size_t entries_ = 0;
    std::uint64_t hits_ = 0, misses_ = 0, restarts_ = 0;
};

// ---- census --------------------------------------------------------------------

// Counts of a set of agents by how well they were classified (the census tool and
// the real-log tests).
struct AgentCensus {
    std::uint64_t agents = 0;
    std::uint64_t unknown_os = 0;
    std::uint64_t browser_from_text = 0;  // named after the agent's own first word
    std::uint64_t browser_from_clause = 0;
    std::uint64_t no_browser = 0;
    std::uint64_t robots = 0;

    void add(const AgentClass& c);
    double share(std::uint64_t n) const { return agents ? double(n) / double(agents) : 0.0; }
};

}  // namespace tallowick::engine
