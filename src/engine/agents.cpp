#include "engine/agents.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>


namespace tallowick::engine {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool same_char(char agent, char word, Match match) {
    return agent == word || (match == Match::blank_or_plus && word == ' ' && agent == '+');
}

// The classic version scan, from `from` on; false when the text ends before the
// version does.
bool scan_version(std::string_view agent, std::size_t from, BrowserName& out) {
    std::array<char, 32> version{};
    std::size_t n = 0;
    bool dot = false;
    for (std::size_t i = from; i < agent.size(); ++i) {
        const char c = agent[i];
        if (!is_digit(c) && c != '.') continue;
        version[n++] = c;
        if (dot || n == version.size()) {
            out.append({version.data(), n});
            return true;
        }
        dot = c == '.';
    }
    return false;
}

// major[.minor] at `from`: "120.0.6099" gives "120.0", "17" gives "17".
std::string_view dotted_version(std::string_view agent, std::size_t from) {
    std::size_t end = from;
    while (end < agent.size() && is_digit(agent[end])) ++end;
    if (end == from) return {};
    if (end + 1 < agent.size() && agent[end] == '.' && is_digit(agent[end + 1])) {
        ++end;
        while (end < agent.size() && is_digit(agent[end])) ++end;
    }
    return agent.substr(from, end - from);
}

void append_dotted(std::string_view agent, std::size_t from, BrowserName& out) {
    const std::string_view version = dotted_version(agent, from);
    if (version.empty()) return;
    out.push_back(' ');
    out.append(version);
}

// The product of a "compatible; Name/1.2; ..." clause: "Name 1.2". False when the
// clause names nothing (empty, or not beginning with a letter).
bool clause_name(std::string_view agent, std::size_t at, BrowserName& out) {
    std::size_t i = at;
    while (i < agent.size() && (agent[i] == ' ' || agent[i] == '+')) ++i;
    const std::size_t start = i;
    while (i < agent.size() && agent[i] != ';' && agent[i] != ')' && agent[i] != '/') ++i;
    if (start == i) return false;
    const char first = agent[start];
    if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) return false;
    out.clear();
    for (std::size_t k = start; k < i; ++k) out.push_back(agent[k] == '+' ? ' ' : agent[k]);
    out.trim_back();
    if (i < agent.size() && agent[i] == '/') append_dotted(agent, i + 1, out);
    return true;
}

// The last resort: the agent's text up to its first blank or "/" (that character
// written as a blank), then the classic version scan from its second character.
void name_from_agent(std::string_view agent, AgentClass& out) {
    out.browser.clear();
    if (agent.empty() || is_digit(agent.front())) {
        out.browser_source = BrowserSource::none;
        return;
    }
    const std::size_t end = agent.find_first_of(" /");
    out.browser.append(agent.substr(0, end));
    if (end != std::string_view::npos) out.browser.push_back(' ');
    scan_version(agent, 1, out.browser);
    out.browser_source = BrowserSource::agent_text;
}

}  // namespace

void BrowserName::append(std::string_view text) {
    const std::size_t n = std::min(text.size(), kCapacity - size_);
    std::copy_n(text.data(), n, text_.data() + size_);
    size_ = static_cast<std::uint8_t>(size_ + n);
}

void BrowserName::push_back(char c) {
    if (size_ < kCapacity) text_[size_++] = c;
}

void BrowserName::trim_back() {
    while (size_ > 0 && text_[size_ - 1] == ' ') --size_;
}

std::size_t find_word(std::string_view text, std::string_view word, Match match) {
    if (match == Match::exact || word.find(' ') == std::string_view::npos)
        return text.find(word);
    if (word.size() > text.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < word.size() && same_char(text[at + k], word[k], match)) ++k;
        if (k == word.size()) return at;
    }
    return std::string_view::npos;
}

bool contains_word(std::string_view text, std::string_view word, Match match) {
    return find_word(text, word, match) != std::string_view::npos;
}

std::string_view os_name(int index) {
    const auto table = os_table();
    return index >= 0 && index < static_cast<int>(table.size()) ? table[index].name
                                                                : std::string_view{};
}

int os_family(int index) {
    const auto table = os_table();
    return index >= 0 && index < static_cast<int>(table.size()) ? table[index].family
                                                                : kFamilyOther;
}

int os_count() { return static_cast<int>(os_table().size()); }

std::string_view robot_name(int index) {
    const auto names = robot_names();
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index]
                                                                : std::string_view{};
}

int robot_count() { return static_cast<int>(robot_names().size()); }

int classify_os(std::string_view agent) {
    for (const OsRule& rule : os_rules())
        if (contains_word(agent, rule.word, rule.match)) return rule.os;
    return kUnknownOs;
}

void classify_browser(std::string_view agent, AgentClass& out) {
    const auto rules = browser_rules();
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const BrowserRule& rule = rules[r];
        const std::size_t at = find_word(agent, rule.word, rule.match);
        if (at == std::string_view::npos) continue;
        if (!rule.also.empty() && !contains_word(agent, rule.also, rule.match)) continue;
        if (rule.naming == BrowserNaming::clause) {
            if (!clause_name(agent, at + rule.word.size(), out.browser)) continue;
            out.browser_source = BrowserSource::clause;
            out.browser_rule = static_cast<std::int16_t>(r);
            return;
        }
        out.browser.clear();
        out.browser.append(rule.name);
        switch (rule.version) {
        case VersionStyle::none:
            break;
        case VersionStyle::scan:
            scan_version(agent, at + 1, out.browser);
            break;
        case VersionStyle::dotted: {
            std::size_t from = at + rule.word.size();
            if (!rule.version_at.empty()) {
                const std::size_t v = find_word(agent, rule.version_at, rule.match);
                from = v == std::string_view::npos ? agent.size() : v + rule.version_at.size();
            }
            append_dotted(agent, from, out.browser);
            break;
        }
        }
        out.browser_source = BrowserSource::rule;
        out.browser_rule = static_cast<std::int16_t>(r);
        return;
    }
    out.browser_rule = -1;
    name_from_agent(agent, out);
}

int classify_robot(std::string_view agent) {
    for (const RobotRule& rule : robot_rules())
        if (contains_word(agent, rule.word, rule.match)) return rule.robot;
    return kNoRobot;
}

AgentClass classify_agent(std::string_view agent) {
    // IIS writes an agent's blanks as "+": an agent without a blank is read in
    // its spaced form, so that both forms are classified alike. (A "+" in a
    // spaced agent, as in "+http://...", stays.) Once per distinct agent.
    std::array<char, 1024> spaced;
    if (agent.size() <= spaced.size() && agent.find(' ') == std::string_view::npos &&
        agent.find('+') != std::string_view::npos) {
        std::replace_copy(agent.begin(), agent.end(), spaced.begin(), '+', ' ');
        agent = std::string_view(spaced.data(), agent.size());
    }
    AgentClass c;
    c.os = static_cast<std::int16_t>(classify_os(agent));
    c.os_family = static_cast<std::int8_t>(os_family(c.os));
    classify_browser(agent, c);
    c.robot = static_cast<std::int16_t>(classify_robot(agent));
    return c;
}

// ---- AgentCache ------------------------------------------------------------

AgentCache::AgentCache(std::size_t max_entries, std::size_t max_text_bytes)
    : max_entries_(std::max<std::size_t>(max_entries, 1)), max_text_(max_text_bytes) {
    // Half full at most, so that probe runs stay short.
    slots_.resize(std::bit_ceil(max_entries_ * 2));
    text_.reserve(max_text_);
}

void AgentCache::restart() {
    for (Slot& slot : slots_) slot.used = false;
    text_.clear();
    entries_ = 0;
    ++restarts_;
}

AgentClass AgentCache::classify(std::string_view agent) {
    if (agent.size() > kMaxCachedAgent || agent.size() > max_text_) {
        ++misses_;
        return classify_agent(agent);
    }
    // The cache's hash is its own business (nothing outside it sees it): the
    // library's string hash takes eight bytes a step, several times faster than
    // the table hash over agents of a hundred bytes or more.
    const std::size_t hash = std::hash<std::string_view>{}(agent);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i].used; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.hash == hash &&
            std::string_view(text_).substr(slot.offset, slot.length) == agent) {
            ++hits_;
            return slot.result;
        }
    }
    ++misses_;
    const AgentClass result = classify_agent(agent);
    if (entries_ >= max_entries_ || text_.size() + agent.size() > max_text_) {
        restart();
        i = hash & mask;  // the table is empty now
    }
    Slot& slot = slots_[i];
    slot = {hash, static_cast<std::uint32_t>(text_.size()),
            static_cast<std::uint32_t>(agent.size()), true, result};
    text_.append(agent);  // within the reserved capacity: no allocation
    ++entries_;
    return result;
}

// ---- AgentCensus -----------------------------------------------------------

void AgentCensus::add(const AgentClass& c) {
    ++agents;
    if (c.os == kUnknownOs) ++unknown_os;
    if (c.browser_source == BrowserSource::agent_text) ++browser_from_text;
    if (c.browser_source == BrowserSource::clause) ++browser_from_clause;
    if (c.browser_source == BrowserSource::none) ++no_browser;
    if (c.robot != kNoRobot) ++robots;
}

}  // namespace tallowick::engine
