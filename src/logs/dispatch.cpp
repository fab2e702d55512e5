#include "logs/dispatch.h"

#include <algorithm>
#include <vector>

#include "logs/common_line.h"
#include "logs/iis.h"
#include "logs/other_formats.h"
#include "logs/squid.h"

namespace tallowick::logs {

namespace {

bool holds(std::string_view line, std::string_view what) {
    return line.find(what) != std::string_view::npos;
}

bool digit_at(std::string_view line, std::size_t at) {
    return at < line.size() && line[at] >= '0' && line[at] <= '9';
}

bool char_at(std::string_view line, std::size_t at, char c) {
    return at < line.size() && line[at] == c;
}

struct Counts {
    std::size_t spaces = 0, tabs = 0, commas = 0, pipes = 0;
};

Counts count_separators(std::string_view line) {
    Counts n;
    for (char c : line) {
        switch (c) {
        case ' ': ++n.spaces; break;
        case '\t': ++n.tabs; break;
        case ',': ++n.commas; break;
        case '|': ++n.pipes; break;
        default: break;
        }
    }
    return n;
}

}  // namespace

LineDispatcher::LineDispatcher(const CustomFormat& custom, const AnalysisSettings& analysis)
    : custom_(custom), analysis_(analysis) {}

void LineDispatcher::LogTypeName(std::string& out) const {
    if (std::string_view name = log_type_name(type_); !name.empty()) out.assign(name);
}

void LineDispatcher::ResetLogType() {
    type_ = LogType::unknown;
    clear_layouts();
    w3c_date_ = LogDate{};
    NormaliseFieldDate();
}

void LineDispatcher::clear_layouts() {
    w3c_.clear();
    fields_.clear();
    netscape_.clear();
}

void LineDispatcher::read_w3c_layout(std::string_view line) {
    ReadW3cLayout(line, w3c_);
    if (!w3c_.has(W3cLayout::bytes)) zero_byte_filter_off_ = true;
}

LineResult LineDispatcher::DispatchLine(std::string_view line, HitRecord& hit) {
    if (line.empty()) return LineResult::skip;
    if (is_header(line)) return header(line, hit);
    if (type_ == LogType::unknown) {
        LineResult r = detect(line);
        if (r != LineResult::hit) return r;
    }
    return parse(line, hit);
}

LineResult LineDispatcher::header(std::string_view line, HitRecord& hit) {
    // A new header may start a log written with another date order.
    NormaliseFieldDate();
    if (holds(line, "#Software:") && holds(line, "Oracle WRB")) type_ = LogType::oracle_wrb;

    if (holds(line, "!!LOG_FORMAT") || holds(line, "#Fields:")) {
        clear_layouts();
        if (holds(line, "COMMON_LOG_FORMAT")) {
            type_ = LogType::common;
        } else if (type_ == LogType::oracle_wrb) {
            read_w3c_layout(line);
        } else if (holds(line, "date") || holds(line, "time")) {
            type_ = LogType::w3c;
            read_w3c_layout(line);
        } else if (type_ != LogType::common) {
            ReadTabLayout(line, fields_);
            type_ = LogType::webstar;
        }
    } else if (holds(line, "#Date:")) {
        w3c_date_ = W3cDate(line.substr(std::min<std::size_t>(7, line.size())));
    } else if (holds(line, "#!PARAMETER")) {
        clear_layouts();
        ReadPurveyorLayout(line, fields_);
        type_ = fields_.is_common() ? LogType::common : LogType::purveyor;
    } else if (holds(line, "format=") && char_at(line, 6, '=')) {
        clear_layouts();
        ReadNetscapeLayout(line, netscape_);
        type_ = netscape_.is_common() ? LogType::common : LogType::netscape;
    } else if (holds(line, "#Tallowick Database")) {
        type_ = LogType::database;
        hit.clear();
        return LineResult::hit;
    }
    return LineResult::skip;
}

LineResult LineDispatcher::detect(std::string_view line) {
    if (custom_.use) {
        type_ = LogType::custom;
        return LineResult::hit;
    }
    return adopt(propose(line));
}

LogType LineDispatcher::propose(std::string_view line) const {
    const Counts n = count_separators(line);
    if (holds(line, " PNA")) return LogType::realserver;
    if (holds(line, "] \"")) return LogType::common;
    if (n.commas > 10 && n.commas < 22) return LogType::iis;
    if (n.tabs > 10) return LogType::website;
    if (holds(line, "log {")) return LogType::openmarket;
    if (line[0] == '[') return LogType::firstclass;
    if (holds(line, "NetPresenz")) return LogType::netpresenz;
    // "08/15/00<tab>10:24:26<tab>...": a Webstar log without its header.
    if (n.tabs == 5 && char_at(line, 11, ':') && char_at(line, 14, ':') && digit_at(line, 9) &&
        digit_at(line, 12) && digit_at(line, 15))
        return LogType::webstar;
    if (n.pipes >= 6) return LogType::zeus;
    if ((n.spaces == 3 || n.spaces == 4) && digit_at(line, 0)) return LogType::filemaker;
    // Tested only where the line would otherwise be skipped, so no line that the
    // checks above place changes its type.
    if (IsSquidLine(line)) return LogType::squid;
    return LogType::unknown;
}

LineResult LineDispatcher::adopt(LogType type) {
    type_ = type;
    switch (type) {
    case LogType::unknown:
        return LineResult::skip;
    case LogType::openmarket:
        beep_ = true;
        return LineResult::skip;
    case LogType::netpresenz:
        return LineResult::malformed;
    case LogType::webstar:
        SetWebstarDefaultLayout(fields_);
        break;
    case LogType::filemaker:
        zero_byte_filter_off_ = true;
        break;
    default:
        break;
    }
    return LineResult::hit;
}

bool LineDispatcher::is_header(std::string_view line) {
    // "format=..." opens a Netscape log without a comment mark.
    return line[0] == '!' || line[0] == '#' || char_at(line, 6, '=');
}

void LineDispatcher::SettleLogType(std::span<const std::string> lines, HitRecord& scratch) {
    std::vector<std::string_view> data;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        if (is_header(line)) {
            header(line, scratch);
        } else if (type_ == LogType::unknown) {
            data.emplace_back(line);
        }
    }
    if (type_ != LogType::unknown || data.empty()) return;
    if (custom_.use) {
        type_ = LogType::custom;
        return;
    }
    std::vector<LogType> proposals;
    for (std::string_view line : data) {
        const LogType t = propose(line);
        if (t != LogType::unknown &&
            std::find(proposals.begin(), proposals.end(), t) == proposals.end())
            proposals.push_back(t);
    }
    if (proposals.empty()) return;
    LogType best = proposals.front();
    std::size_t best_read = 0;
    for (LogType t : proposals) {
        type_ = t;
        if (t == LogType::webstar) SetWebstarDefaultLayout(fields_);
        std::size_t read = 0;
        for (std::string_view line : data)
            if (parse(line, scratch) == LineResult::hit) ++read;
        if (read > best_read) {
            best = t;
            best_read = read;
        }
    }
    // The trial parses may have settled the field dates' order: the lines are
    // read again from the start.
    NormaliseFieldDate();
    fields_.clear();
    adopt(best);
}

LineResult LineDispatcher::parse(std::string_view line, HitRecord& hit) {
    switch (type_) {
    case LogType::common: return ParseCommonLine(line, hit);
    case LogType::webstar: return ParseWebstarLine(line, hit, fields_, day_first());
    case LogType::purveyor: return ParsePurveyorLine(line, hit, fields_, day_first());
    case LogType::netscape: return ParseNetscapeLine(line, hit, netscape_);
    case LogType::iis: return ParseIisLine(line, hit, day_first());
    case LogType::realserver: return ParseRealServerLine(line, hit);
    case LogType::website: return ParseWebsiteLine(line, hit, day_first());
    case LogType::filemaker: return ParseFilemakerLine(line, hit, day_first());
    case LogType::firstclass: return ParseFirstClassLine(line, hit, day_first());
    case LogType::w3c: return ParseW3cLine(line, hit, w3c_, w3c_date_);
    case LogType::zeus: return ParsePipeLine(line, hit, day_first());
    case LogType::oracle_wrb: return ParseOracleLine(line, hit, w3c_, w3c_date_, day_first());
    case LogType::squid: return ParseSquidLine(line, hit, clock_);
    case LogType::custom: return custom_parser_.parse(line, hit, custom_, day_first());
    default:
        // Logs that are not analysed, the types that only have a name, and the
        // history database, which the run reads by other means.
        return LineResult::skip;
    }
}

}  // namespace tallowick::logs
