// Log format detection and line dispatch. One dispatcher per run: it keeps the
// type of the current log and the layout its header announced, settles the type
// on the first line that decides it, and hands every line to that type's parser.
//
// Per log:   dispatcher.ResetLogType();            when the log is opened
// Per line:  dispatcher.DispatchLine(line, hit);   hit / malformed / skip
// After detection the run reads zero_byte_filter_off() and take_beep().
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/settings.h"
#include "logs/custom_format.h"
#include "logs/field_layout.h"
#include "logs/hit_record.h"
#include "logs/local_clock.h"
#include "logs/log_type.h"
#include "logs/netscape.h"
#include "logs/w3c.h"

namespace tallowick::logs {

class LineDispatcher {
public:
    // Reads the custom format and forceddmm from the run's settings, which must
    // outlive the dispatcher and stay unchanged while a log is read.
    LineDispatcher(const CustomFormat& custom, const AnalysisSettings& analysis);

    // DispatchLine: returns hit when `hit` holds a usable hit, malformed for a line
    // the current type's parser rejects, and skip for an empty, header or comment
    // line, a line detection could not place, or a log that is not analysed.
    // A "#Tallowick Database" header returns hit with an empty record: the run
    // reads such a file as a history database.
    LineResult DispatchLine(std::string_view line, HitRecord& hit);

    // LogTypeName: the display name of the current type into `out`; a type
    // without a name leaves `out` as it was.
    void LogTypeName(std::string& out) const;

    // SettleLogType: decides the type of a freshly opened log from its first
    // lines taken as a whole. Header lines are read in order; when they leave
    // the type open, each data line proposes the type its form suggests and the
    // proposal whose parser reads the most of the lines wins (the first line's
    // proposal when none reads any), so that one odd line does not decide. The
    // lines are read again through DispatchLine afterwards.
    void SettleLogType(std::span<const std::string> lines, HitRecord& scratch);

    // ResetLogType: forget the type, the layout, the "#Date:" date and the
    // day-first finding; the run calls it when it opens each log.
    void ResetLogType();

    LogType log_type() const { return type_; }
    // Puts the dispatcher in a type without detection (the run's "format known"
    // paths, tests and the fuzz target).
    void set_log_type(LogType type) { type_ = type; }

    // True once a layout without byte counts (a W3C header without a bytes field,
    // a Filemaker log) was seen: the run then switches its zero-byte filter off.
    // It stays set for the dispatcher's life, which is one run.
    bool zero_byte_filter_off() const { return zero_byte_filter_off_; }
    // True once after an OpenMarket log was detected: the run sounds a warning.
    bool take_beep() { return std::exchange(beep_, false); }

private:
    LineResult header(std::string_view line, HitRecord& hit);
    // Settles the type for a data line; skip or malformed when the line itself
    // ends there, hit when it should be parsed.
    LineResult detect(std::string_view line);
    // The type a data line's form suggests (unknown for none), without taking it.
    LogType propose(std::string_view line) const;
    // Takes a proposed type with what it brings (a default layout, a warning).
    LineResult adopt(LogType type);
    static bool is_header(std::string_view line);
    LineResult parse(std::string_view line, HitRecord& hit);
    void clear_layouts();
    void read_w3c_layout(std::string_view line);
    bool day_first() const { return analysis_.forceddmm; }

    const CustomFormat& custom_;
    const AnalysisSettings& analysis_;

    LogType type_ = LogType::unknown;
    W3cLayout w3c_;
    LogDate w3c_date_;  // from the last "#Date:" line
    FieldLayout fields_;
    NetscapeLayout netscape_;
    LocalClock clock_;
    CustomLineParser custom_parser_;
    bool zero_byte_filter_off_ = false;
    bool beep_ = false;
};

}  // namespace tallowick::logs
