#include "logs/dispatch.h"

#include <algorithm>

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
    // "format=..." opens a Netscape log without a comment mark.
    if (line[0] == '!' || line[0] == '#' || char_at(line, 6, '=')) return header(line, hit);
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
    const Counts n = count_separators(line);
    if (holds(line, " PNA")) {
        type_ = LogType::realserver;
    } else if (holds(line, "] \"")) {
        type_ = LogType::common;
    } else if (n.commas > 10 && n.commas < 22) {
        type_ = LogType::iis;
    } else if (n.tabs > 10) {
        type_ = LogType::website;
    } else if (holds(line, "log {")) {
        type_ = LogType::openmarket;
        beep_ = true;
        return LineResult::skip;
    } else if (line[0] == '[') {
        type_ = LogType::firstclass;
    } else if (holds(line, "NetPresenz")) {
        type_ = LogType::netpresenz;
        return LineResult::malformed;
    } else if (n.tabs == 5 && char_at(line, 11, ':') && char_at(line, 14, ':') &&
               digit_at(line, 9) && digit_at(line, 12) && digit_at(line, 15)) {
        // "08/15/00<tab>10:24:26<tab>...": a Webstar log without its header.
        type_ = LogType::webstar;
        SetWebstarDefaultLayout(fields_);
    } else if (n.pipes < 6) {
        if ((n.spaces == 3 || n.spaces == 4) && digit_at(line, 0)) {
            type_ = LogType::filemaker;
            zero_byte_filter_off_ = true;
        } else if (IsSquidLine(line)) {
            // Tested only where the line would otherwise be skipped, so no line
            // that the checks above place changes its type.
            type_ = LogType::squid;
        } else {
            return LineResult::skip;
        }
    } else {
        type_ = LogType::zeus;
    }
    return LineResult::hit;
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
