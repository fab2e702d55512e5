// The output operations every report page is written through. One set of calls
// (begin a row, a header cell, a count cell, ...) yields HTML, RTF or
// comma-delimited text, chosen by the `reportformat` setting; table and summary
// writers never test the format for ordinary cells. Every fragment passes
// through the report language (see translate.h) just before it is written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "report/report_file.h"

namespace tallowick::report {

class LanguageTable;

enum ReportFormat : int { Html = 0, Rtf = 1, Delimited = 2 };

// Colour slots of statistic tables (the "rgb" setting's slots 1..6), HTML only.
enum TableColour : int { kTitleColour, kHeadersColour, kItemsColour, kOthersColour,
                         kAverageColour, kTotalsColour };
using TableColours = std::array<std::uint32_t, 6>;

// A colour value that asks shadedRightCell for no colour of its own.
inline constexpr long kNoShade = -1;

// Message `number` of the report messages of `format`: the page extension (0),
// the refresh head (10) and the Index links (11, 12). Numbers above 100 and
// unknown formats give message 0 of HTML. The HTML extension here is the
// default ".html"; a writer's pageExtension() knows the report's own.
std::string_view reportMessage(int format, int number);

// The RTF cell bounds of a row of `columns` cells: the last cell ends at 8500
// twips and the others share 7000 evenly; nothing for 0 columns.
std::string rtfCellBounds(int columns);

// What stays the same for every page of one report run.
struct WriterStyle {
    int format = Html;
    TableColours colours{};
    long dollar = 0;              // cost per megabyte in thousandths; 0: no cost cells
    bool wider = false;
    int language = 0;             // 1..9 translate through `languages`
    LanguageTable* languages = nullptr;
    std::string html_extension = ".html";

    static WriterStyle From(const Settings& settings, LanguageTable* languages);
    bool hasCost() const { return dollar != 0; }
    // The extension of every page: the report's own for HTML, ".rtf" or ".txt".
    std::string_view pageExtension() const;
};

// The writer of one page. All operations write nothing and return 0 when the
// page is not open; otherwise they return a positive value.
class OutputWriter {
public:
    OutputWriter(const WriterStyle& style, ReportFile* file) : style_(style), file_(file) {}

    const WriterStyle& style() const { return style_; }
    int format() const { return style_.format; }
    bool isOpen() const { return file_ && file_->isOpen(); }

    int writeText(std::string_view text);
    int writeFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int writeMessage(int number, ...);
    int lineBreaks(int n);
    int anchor(int n);
    int beginRow(std::uint32_t colour, int columns);
    int endRow();
    int endTable();
    int headerCell(std::string_view text, int span = 1);
    int countCell(std::int64_t n);
    int linkCell(int span, std::string_view link, std::string_view text);
    int rightCell(int span, std::string_view text);
    int shadedRightCell(int span, long colour, std::string_view text);
    int costCell(double bytes);
    int meanTimeCell(double total_time, double count);
    int countPercentCells(std::int64_t count, double percent);
    int bytesPercentCells(double bytes, double percent);
    int countBytesCells(std::int64_t count, double count_percent, double bytes,
                        double bytes_percent);
    int commentLine(std::string_view text);

    // The opening of a statistic table: the table element (HTML), the title row
    // "(shown) title" spanning `columns`. `width` is the HTML table width.
    int beginTable(int shown, std::string_view title, int columns, int width);
    // The width of statistic tables: 420, or 630 with "wider".
    int tableWidth() const { return style_.wider ? 630 : 420; }

    // While off, fragments are written as they are: log data (paths, host
    // names, phrases) is not the report's own wording and must not change.
    void setTranslating(bool on) { translating_ = on; }

    // Log data (names, URLs, phrases) made safe for the format: HTML entities,
    // RTF escapes, and a comma-delimited field quoted when it holds a comma, a
    // quote or a line end. The result stays valid until the next call.
    std::string_view data(std::string_view text);
    // A second one, for the link target of a link cell.
    std::string_view dataLink(std::string_view text);

private:
    int emit(std::string_view fragment);
    int rtfCell(std::string_view text);
    int rtfCellFormat(const char* format, std::string_view text);

    const WriterStyle& style_;
    ReportFile* file_;
    std::string scratch_;      // formatted fragment
    std::string translated_;
    std::string utf8_;         // a fragment made valid UTF-8
    std::string data_, link_;
    bool translating_ = true;
};

}  // namespace tallowick::report
