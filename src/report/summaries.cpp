#include "report/summaries.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/julian_date.h"
#include "logs/dates.h"
#include "logs/log_list.h"
#include "logs/log_type.h"
#include "report/number_format.h"
#include "report/stat_tables.h"

namespace tallowick::report {

namespace {

constexpr unsigned long kRowColours[2] = {0xf0f0f0, 0xe0e0e0};
constexpr unsigned long kTitleColour = 0x990033;
constexpr double kMega = 1048576.0;

double now_of(const SummaryOptions& options) {
    return options.now ? options.now() : JulianNow();
}

// The date form of the settings and a time of day.
std::string date_time_text(double julian) {
    const CalendarTime t = CalendarFromJulian(julian);
    return logs::short_date_text(julian) + formatText(" %02d:%02d:%02d", t.hour, t.minute, t.second);
}

// Visible, or a comment, by the "timestat" setting.
void write_time_line(OutputWriter& out, bool visible, const std::string& text) {
    if (!visible) {
        out.commentLine(text);
        return;
    }
    switch (out.format()) {
        case Html: out.writeFormat("<CENTER><FONT SIZE=-2>%s</FONT></CENTER></p>\n", text.c_str()); break;
        case Rtf: out.writeFormat("{\\qc\\fs12 %s\\par}\n", text.c_str()); break;
        case Delimited: out.writeFormat("%s\n", text.c_str()); break;
        default: break;
    }
}

// A figure without its thousands separators ("12,345.60" gives "12345.60"), so
// that a spreadsheet reads it as a number; other texts as they are.
std::string without_grouping(const std::string& value) {
    if (value.find_first_not_of("0123456789,.-") != std::string::npos) return value;
    std::string plain;
    for (char c : value)
        if (c != ',') plain += c;
    return plain;
}

// The rows of one block, with the alternating colours.
class Block {
public:
    Block(OutputWriter& out, bool large) : out_(out), large_(large) {}

    void open(int width, std::string_view title) {
        if (out_.format() == Delimited) out_.writeFormat("\n%.*s\n", static_cast<int>(title.size()), title.data());
        if (out_.format() != Html) return;
        if (large_) out_.writeText("\n<CENTER>\n");
        out_.writeFormat("<TABLE WIDTH=%d BORDER=0 CELLSPACING=0 CELLPADDING=1>\n", width);
        out_.writeFormat("<TR><TD BGCOLOR=#%06lx HEIGHT=20 COLSPAN=2><P ALIGN=CENTER><B>"
                         "<FONT COLOR=#FFFFFF SIZE=4>%.*s</FONT></B></TD></TR>\n",
                         kTitleColour, static_cast<int>(title.size()), title.data());
    }
    void section(std::string_view caption) {
        if (out_.format() != Html) return;
        out_.writeFormat("<TR BGCOLOR=#a0a0a0><TD HEIGHT=17 COLSPAN=2><P ALIGN=LEFT><B>"
                         "<FONT COLOR=#000000>%.*s</FONT></B></TD></TR>\n",
                         static_cast<int>(caption.size()), caption.data());
    }
    void line(std::string_view label, const std::string& value) {
        const unsigned long colour = next_colour();
        if (out_.format() == Html) {
            const int height = large_ ? 15 : 8;
            const int size = large_ ? 3 : -2;
            out_.writeFormat("<TR><TD WIDTH=142 HEIGHT=%d BGCOLOR=%06lx><FONT SIZE=%d>%.*s</FONT>"
                             "</TD><TD BGCOLOR=%06lx><P ALIGN=RIGHT><FONT SIZE=%d>%s</FONT></TD>"
                             "</TR>\n",
                             height, colour, size, static_cast<int>(label.size()), label.data(),
                             colour, size, value.c_str());
        } else if (out_.format() == Rtf) {
            out_.writeFormat("{\\fs17\\b %.*s\t\t\t %s \\par}\n", static_cast<int>(label.size()),
                             label.data(), value.c_str());
        } else if (out_.format() == Delimited) {
            // A row a spreadsheet reads: the label, then the figure as a number.
            std::string row(out_.data(label));
            row += ',';
            row += out_.data(without_grouping(value));
            out_.writeText(row + "\n");
        }
    }
    void link(std::string_view key, std::string_view label) {
        if (out_.format() != Html) return;
        const unsigned long colour = next_colour();
        const std::string ext(out_.style().pageExtension());
        if (large_)
            out_.writeFormat("<TR><TD COLSPAN=2 BGCOLOR=%06lx><P ALIGN=CENTER><FONT SIZE=3>"
                             "<a href=\"%.*s%s\">%.*s</a></FONT></TD></TR>\n",
                             colour, static_cast<int>(key.size()), key.data(), ext.c_str(),
                             static_cast<int>(label.size()), label.data());
        else
            out_.writeFormat("<TR><TD COLSPAN=2 BGCOLOR=%06lx><P ALIGN=CENTER><FONT SIZE=-2>"
                             "<a href=\"%.*s%s\" target=reportstat>%.*s</a></FONT></TD></TR>\n",
                             colour, static_cast<int>(key.size()), key.data(), ext.c_str(),
                             static_cast<int>(label.size()), label.data());
    }
    void close() {
        if (out_.format() == Html) out_.writeText("</TABLE></CENTER>\n<!-- TABLE END -->\n\n");
    }

private:
    unsigned long next_colour() { return kRowColours[row_++ % 2]; }
    OutputWriter& out_;
    bool large_;
    int row_ = 0;
};

// days: the calendar days of the report, for the daily average; span: the days
// between the first and the last hit, over which the bit rate is measured.
void write_bandwidth(Block& block, const std::string_view caption, double bytes, double days,
                     double span, long dollar) {
    block.section(caption);
    const double megabytes = bytes / kMega;
    if (megabytes >= 10)
        block.line("Total Megabytes", formatDecimal(megabytes, 2));
    else
        block.line("Total Kilobytes", formatDecimal(bytes / 1024, 2));
    if (dollar != 0)
        block.line("Total Cost", formatText("$%.2f", megabytes * static_cast<double>(dollar) * 0.001));
    if (megabytes / days >= 1)
        block.line("Average Daily Megabytes", formatDecimal(megabytes / days, 2));
    else
        block.line("Average Daily Kilobytes", formatDecimal(bytes / 1024 / days, 2));
    const double bps = bytes / (span * 10800);
    block.line("Average Bits/Sec (bps)", formatDecimal(bps, 2));
    const LineRate rate = lineRateFor(bps);
    block.line(formatText("Percent of %.*s", static_cast<int>(rate.name.size()), rate.name.data()),
               formatText("%.2f%%", bps / rate.capacity * 100));
}

// The days between the first and the last hit, for bit rates: a report of a
// single instant counts as one day.
double logged_span_days(const engine::ReportStats& report) {
    const double d = report.last_time - report.first_time;
    return d > 0 ? d : 1;
}

struct LinkRow {
    std::string_view label;
    std::string_view key;
};

constexpr std::array<LinkRow, 13> kServerLinks = {{
    {"Hourly", "Hourly"}, {"Daily", "Daily"}, {"Recent Days", "RecentDaily"},
    {"Weekly", "Weekly"}, {"Monthly", "Monthly"}, {"Directories", "Directory"},
    {"Group Directories", "GroupDirectory"}, {"Top Level Directory", "TopDirectory"},
    {"Top Level Directory History", "TopDirsHist"}, {"File Types", "Filetype"},
    {"Errors", "Errors"}, {"Failed URLs", "ErrorURL"}, {"Failed URLs History", "ErrorURLHist"},
}};

constexpr std::array<LinkRow, 28> kClientLinks = {{
    {"Countries", "Country"}, {"World Regions", "Regions"}, {"Source Addresses", "SourceAddr"},
    {"Protocols", "Protocols"}, {"Clients", "Client"}, {"Client History", "ClientHist"},
    {"User History", "UserHist"}, {"Govt History", "GovtHist"}, {"Circulation", "Circulation"},
    {"Loyalty", "Loyalty"}, {"Time Online", "Timeon"}, {"Session Depth", "PageVSessions"},
    {"Mean Paths", "MeanPath"}, {"Domains", "SecondDomain"}, {"Organizations", "Orgs"},
    {"URLs", "Files"}, {"Top Downloads", "Download"}, {"Top Download History", "DownloadHist"},
    {"Pages", "Pages"}, {"Pages History", "PageHist"}, {"Browsers", "Browser"},
    {"Operating Systems", "OperSys"}, {"Referrals", "Refer"}, {"Referral Sites", "ReferSiteHist"},
    {"Search Engines", "SearchEngine"}, {"Search Strings", "SearchStr"},
    {"Advertising", "Advert"}, {"Robots", "Robot"},
}};

void write_links(OutputWriter& out, int width, bool large, std::string_view title,
                 std::span<const LinkRow> rows, const SummaryOptions& options) {
    if (out.format() != Html) return;
    Block block(out, large);
    block.open(width, title);
    for (const LinkRow& row : rows)
        if (options.page_written && options.page_written(row.key)) block.link(row.key, row.label);
    block.close();
}

}  // namespace

int calendarDays(const engine::ReportStats& report) {
    if (report.first_time <= 0 || report.last_time <= 0) return 1;
    return static_cast<int>(report.last_time - 0.5) - static_cast<int>(report.first_time - 0.5) + 1;
}

LineRate lineRateFor(double bps) {
    static constexpr std::array<LineRate, 8> kRates = {{
        {"64Kbps", 64000}, {"128Kbps", 128000}, {"256Kbps", 256000}, {"384Kbps", 384000},
        {"512Kbps", 512000}, {"768Kbps", 768000}, {"T1", 1536000}, {"T3", 36864000},
    }};
    for (const LineRate& rate : kRates)
        if (rate.capacity > bps) return rate;
    // Faster than every named rate: the largest, above 100 %.
    return kRates.back();
}

void writePeriodHeading(const engine::ReportStats& report, OutputWriter& out,
                        std::string_view title, int days, const SummaryOptions& options) {
    const ReportSettings& rs = options.settings->report;
    write_time_line(out, rs.timestat, date_time_text(now_of(options)));

    const std::string name = logs::ExpandLogName(report.name, logs::LogNameContext::now());
    const std::string t(title);
    const bool known = report.first_time > 0 && report.last_time > 0;
    if (out.format() == Html) {
        if (rs.headtitle && !name.empty()) {
            const std::string shown(out.data(name));
            if (name.find('.') != std::string::npos && options.settings->run.multivhosts)
                out.writeFormat("<H3 ALIGN=CENTER>%s for <A HREF=\"http://%s\">%s</A> during %d "
                                "Day Period<BR>\n",
                                t.c_str(), shown.c_str(), shown.c_str(), days);
            else
                out.writeFormat("<H3 ALIGN=CENTER>%s for %s during %d Day Period<BR>\n", t.c_str(),
                                shown.c_str(), days);
        } else {
            out.writeFormat("<H3 ALIGN=CENTER>%s for %d Day Period<BR>\n", t.c_str(), days);
        }
        if (known)
            out.writeFormat("<FONT SIZE=-1>%s to %s</FONT></H3>\n",
                            logs::short_date_text(report.first_time).c_str(),
                            logs::short_date_text(report.last_time).c_str());
        else
            out.writeText("</H3>\n");
    } else if (out.format() == Rtf) {
        if (rs.headtitle && !name.empty()) {
            const std::size_t colon = name.rfind(':');
            const std::string part(out.data(colon == std::string::npos ? name : name.substr(colon + 1)));
            out.writeFormat("\\par{\\qc\\b %s for %s during %d Day Period\\par}\n\n", t.c_str(),
                            part.c_str(), days);
        } else {
            out.writeFormat("\\par{\\qc\\b %s for %d Day Period\\par}\n\n", t.c_str(), days);
        }
        if (known)
            out.writeFormat("{\\qc\\fs12 %s to %s\\par}\n",
                            logs::short_date_text(report.first_time).c_str(),
                            logs::short_date_text(report.last_time).c_str());
    }
}

void writeServerLoad(const engine::ReportStats& report, OutputWriter& out, int width, bool large,
                     const SummaryOptions& options) {
    const Settings& s = *options.settings;
    const double d = calendarDays(report);
    const double span = logged_span_days(report);
    const double requests = static_cast<double>(report.accepted_hits);
    const engine::StatList* clients = report.client.get();
    const double visits = clients ? clients->TotalVisits() : 0;
    const double pages = clients ? clients->TotalPages() : 0;
    const double visit_base = visits != 0 ? visits : 1;

    Block block(out, large);
    block.open(width, "Server Load");
    block.section("Requests");
    block.line("Total Requests", formatCount(report.accepted_hits));
    block.line("Total Cached Requests", formatCount(report.not_modified_hits));
    block.line("Total Failed Requests", formatCount(report.failed_hits));
    block.line("Invalid Log Entries", formatCount(report.unparsed_lines));
    block.line("Average Daily Request", formatCount(std::llround(requests / d)));
    block.line("Average Request / Hour", formatCount(std::llround(requests / (d * 24))));

    block.section("Visits Info");
    block.line("Total Visits", formatCount(static_cast<std::int64_t>(visits)));
    block.line("Total Pages", formatCount(static_cast<std::int64_t>(pages)));
    if (report.down && report.down->Count() > 0) {
        block.line("Total Downloaded Files", formatCount(report.down->Count()));
        block.line("Total Download (MB)", formatDecimal(report.down->TotalBytes() / kMega, 2));
    }
    if (!s.run.streaming && clients) {
        std::int64_t repeat = 0;
        for (const engine::StatItem& item : clients->Items())
            if (item.visits > 1) ++repeat;
        block.line("Total Unique Visitors", formatCount(clients->Count()));
        block.line("Total Repeat Visitors", formatCount(repeat));
    }
    block.line("Average Visit Length",
               formatDuration(clients && visits != 0 ? clients->TotalTime() / visits : 0));
    block.line("Average Requests/Visit", formatText("%.1f", requests / visit_base));
    block.line("Average Pages/Visit", formatText("%.1f", pages / visit_base));
    block.line("Average Daily Visits", formatCount(std::llround(visits / d)));

    if (s.report.bandwidth) {
        write_bandwidth(block, "Bandwidth Out", report.bytes, d, span, s.analysis.dollar);
        if (report.bytes_in != 0)
            write_bandwidth(block, "Bandwidth In", report.bytes_in, d, span, s.analysis.dollar);
    }
    block.close();
}

void writeServerLinks(const engine::ReportStats& /*report*/, OutputWriter& out, int width,
                      bool large, const SummaryOptions& options) {
    write_links(out, width, large, "Server Statistics", kServerLinks, options);
}

void writeClientLinks(const engine::ReportStats& /*report*/, OutputWriter& out, int width,
                      bool large, const SummaryOptions& options) {
    write_links(out, width, large, "Client Statistics", kClientLinks, options);
}

void writeProcessingTime(const engine::ReportStats& report, OutputWriter& out,
                         const SummaryOptions& options) {
    const double s = std::max(report.elapsed, engine::kShortestElapsed);
    const long tenths = std::lround(s * 10);
    const std::string text =
        formatText("%02ld:%02ld:%02ld.%ld, %.0f Files/Min, %.1f Megs/Min", tenths / 36000,
                   tenths / 600 % 60, tenths / 10 % 60, tenths % 10,
                   static_cast<double>(report.accepted_hits) / s * 60,
                   static_cast<double>(report.bytes_read) / kMega / s * 60);
    write_time_line(out, options.settings->report.timestat, "Log Processing time: " + text);
    if (out.format() != Html) return;
    out.writeFormat("<CENTER><FONT SIZE=-2><A HREF=\"freport%s\" TARGET=_TOP>(Framed Version)</A>"
                    "</FONT></CENTER>\n",
                    std::string(out.style().pageExtension()).c_str());
    const std::string format_name(logs::log_type_name(static_cast<logs::LogType>(report.format_code)));
    out.writeFormat("<!-- \n\tTotal Rquests = %lld\n\tTotal Data In = %llu\n\ttime taken = %.02f\n"
                    "\tstartTime = %f\n\tlastTime = %f\n\trange = (%f - %f)\n",
                    static_cast<long long>(report.accepted_hits),
                    static_cast<unsigned long long>(report.bytes_read), s, report.start_time,
                    report.start_time + s, report.first_time, report.last_time);
    out.writeFormat("\tLogformat = %s\n\n-->\n", format_name.c_str());
}

}  // namespace tallowick::report
