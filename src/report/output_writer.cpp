#include "report/output_writer.h"

#include <cstdarg>
#include <cstdio>

#include "base/utf8.h"
#include "report/number_format.h"
#include "report/translate.h"

namespace tallowick::report {

namespace {

constexpr std::string_view kNone = "<!-- NONE -->";

// Entries 1..9 of HTML and the unused RTF and comma-delimited ones are blanks.
std::string_view message_of(int format, int number) {
    if (number == 0) {
        if (format == Rtf) return ".rtf";
        if (format == Delimited) return ".txt";
        return ".html";
    }
    if (format == Html) {
        switch (number) {
            case 10: return "<HEAD><META HTTP-EQUIV=\"refresh\" CONTENT=\"%ld; URL=%s\"></HEAD>";
            case 11: return "<CENTER>[<A HREF=\"%s\">Index</A>]</CENTER><P>";
            case 12: return "<CENTER>[<A HREF=\"%s\" target=_parent>Index</A>]</CENTER><P>";
            case 13: case 14: case 15: case 16: return kNone;
            default: return " ";
        }
    }
    return " ";
}

void vformat_into(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    out.clear();
    if (needed <= 0) return;
    out.resize(static_cast<std::size_t>(needed));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
}

// RTF is 8-bit text: characters beyond ASCII are written as \uN escapes (a byte
// that is not UTF-8 as its Latin-1 character, see base/utf8.h), each followed by
// the character a reader without Unicode shows: the ANSI byte itself for
// Latin-1 characters, else "?".
void rtf_unicode(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = next_code_point(text, i);
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
            continue;
        }
        if (code > 0xFFFF) code = '?';
        const int signed_code = static_cast<std::int16_t>(code);
        out += code <= 0xFF ? formatText("\\u%d\\'%02x", signed_code, static_cast<int>(code))
                            : formatText("\\u%d?", signed_code);
    }
}

bool rtf_needs_escape(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

}  // namespace

std::string_view reportMessage(int format, int number) {
    if (number > 100 || number < 0 || format < 0 || format > 2) return message_of(Html, 0);
    return message_of(format, number);
}

std::string rtfCellBounds(int columns) {
    std::string out;
    if (columns <= 0) return out;
    constexpr const char* kLine =
        "\\clbrdrt\\brdrs\\clbrdrb\\brdrs\\clbrdrl\\brdrs\\clbrdrr\\brdrs\\brdrw0\\cellx%04ld\n";
    if (columns > 1) {
        const long step = 7000 / columns;
        for (long k = 1; k < columns; ++k) out += formatText(kLine, k * step);
    }
    out += formatText(kLine, 8500L);
    return out;
}

WriterStyle WriterStyle::From(const Settings& settings, LanguageTable* languages) {
    WriterStyle style;
    style.format = settings.report.reportformat;
    style.colours = settings.report.colours;
    style.dollar = settings.analysis.dollar;
    style.wider = settings.report.wider;
    style.language = settings.run.language;
    style.languages = languages;
    return style;
}

std::string_view WriterStyle::pageExtension() const {
    if (format == Html) return html_extension;
    return reportMessage(format, 0);
}

int OutputWriter::emit(std::string_view fragment) {
    if (!isOpen()) return 0;
    std::string_view text = fragment;
    if (translating_ && style_.languages && style_.language >= 1 && style_.language <= kLanguageCount &&
        style_.languages->translate(style_.language, fragment, translated_))
        text = translated_;
    if (style_.format == Rtf && rtf_needs_escape(text)) {
        std::string escaped;
        rtf_unicode(text, escaped);
        file_->append(escaped);
    } else if (style_.format == Html || style_.format == Delimited) {
        // The pages declare UTF-8, whatever the log's bytes were.
        file_->append(valid_utf8(text, utf8_));
    } else {
        file_->append(text);
    }
    return 1;
}

int OutputWriter::writeText(std::string_view text) { return emit(text); }

int OutputWriter::writeFormat(const char* format, ...) {
    if (!isOpen()) return 0;
    va_list args;
    va_start(args, format);
    vformat_into(scratch_, format, args);
    va_end(args);
    return emit(scratch_);
}

int OutputWriter::writeMessage(int number, ...) {
    if (!isOpen()) return 0;
    if (number == 0) return emit(style_.pageExtension());
    const std::string message(reportMessage(style_.format, number));
    va_list args;
    va_start(args, number);
    vformat_into(scratch_, message.c_str(), args);
    va_end(args);
    return emit(scratch_);
}

int OutputWriter::lineBreaks(int n) {
    if (!isOpen()) return 0;
    if (style_.format == Html)
        for (int i = 0; i < n; ++i) emit("<BR>\n");
    return 1;
}

int OutputWriter::anchor(int n) {
    if (!isOpen()) return 0;
    if (style_.format == Html) return writeFormat("<A NAME=%d><BR></A>\n", n);
    return 1;
}

int OutputWriter::beginRow(std::uint32_t colour, int columns) {
    if (!isOpen()) return 0;
    if (style_.format == Html) return writeFormat("<TR BGCOLOR=\"#%06x\">", colour & 0xFFFFFFu);
    if (style_.format == Rtf) return emit("{ " + rtfCellBounds(columns));
    return 1;
}

int OutputWriter::endRow() {
    if (!isOpen()) return 0;
    if (style_.format == Html) return emit("</TR>\n");
    if (style_.format == Rtf) return emit("\\row}\n\n");
    if (style_.format == Delimited) return emit("\n");
    return 1;
}

int OutputWriter::endTable() {
    if (!isOpen()) return 0;
    if (style_.format == Html) return emit("</TABLE></CENTER></B><BR><BR>\n");
    if (style_.format == Rtf) return emit("}\n\n");
    if (style_.format == Delimited) return emit("\n");
    return 1;
}

int OutputWriter::rtfCell(std::string_view text) {
    std::string cell = "\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf0  ";
    cell.append(text);
    cell.append("\\cell\n");
    return emit(cell);
}

int OutputWriter::rtfCellFormat(const char* format, std::string_view text) {
    return rtfCell(formatText(format, static_cast<int>(text.size()), text.data()));
}

int OutputWriter::headerCell(std::string_view text, int span) {
    if (!isOpen()) return 0;
    switch (style_.format) {
        case Html: {
            std::string cell = "<TH";
            if (span > 1) cell += formatText(" colspan=%d", span);
            cell += '>';
            cell.append(text);
            cell += "</TH>";
            return emit(cell);
        }
        case Rtf: return rtfCellFormat("\\fs18\\b %.*s", text);
        case Delimited: return emit("," + std::string(text));
        default: return 1;
    }
}

int OutputWriter::countCell(std::int64_t n) {
    if (!isOpen()) return 0;
    switch (style_.format) {
        case Html: return emit("<TD align=right>" + formatCount(n) + "</TD>");
        case Rtf: return rtfCell(formatCount(n));
        case Delimited: return writeFormat(",%lld", static_cast<long long>(n));
        default: return 1;
    }
}

int OutputWriter::linkCell(int span, std::string_view link, std::string_view text) {
    if (!isOpen()) return 0;
    switch (style_.format) {
        case Html: {
            std::string cell = "<TD align=left";
            if (span > 1) cell += formatText(" colspan=%d", span);
            cell += "><A HREF=\"";
            cell.append(link);
            cell += "\">";
            cell.append(text);
            cell += "</A></TD>";
            return emit(cell);
        }
        case Rtf: return rtfCellFormat("{\\uldb %.*s }", text);
        case Delimited: return emit("," + std::string(text));
        default: return 1;
    }
}

int OutputWriter::rightCell(int span, std::string_view text) {
    if (!isOpen()) return 0;
    switch (style_.format) {
        case Html: {
            std::string cell = formatText("<TD align=right colspan=%d>", span);
            cell.append(text);
            cell += "</TD>";
            return emit(cell);
        }
        case Rtf: return rtfCell(text);
        case Delimited: return emit("," + std::string(text));
        default: return 1;
    }
}

int OutputWriter::shadedRightCell(int span, long colour, std::string_view text) {
    if (!isOpen()) return 0;
    if (colour == kNoShade || style_.format != Html) return rightCell(span, text);
    std::string cell = formatText("<TD align=right bgcolor=%06lx colspan=%d>", colour, span);
    cell.append(text);
    cell += "</TD>";
    return emit(cell);
}

int OutputWriter::costCell(double bytes) {
    return rightCell(1, formatCost(bytes, style_.dollar));
}

int OutputWriter::meanTimeCell(double total_time, double count) {
    return rightCell(1, formatDuration(count != 0 ? total_time / count : 0));
}

int OutputWriter::countPercentCells(std::int64_t count, double percent) {
    if (!countCell(count)) return 0;
    return rightCell(1, formatPercent(percent));
}

int OutputWriter::bytesPercentCells(double bytes, double percent) {
    if (!rightCell(1, formatBytes(bytes))) return 0;
    return rightCell(1, formatPercent(percent));
}

int OutputWriter::countBytesCells(std::int64_t count, double count_percent, double bytes,
                                  double bytes_percent) {
    if (!countPercentCells(count, count_percent)) return 0;
    return bytesPercentCells(bytes, bytes_percent);
}

int OutputWriter::commentLine(std::string_view text) {
    if (!isOpen()) return 0;
    // A comment must not end early: "--" inside an HTML comment, "}" in RTF.
    std::string safe(text);
    switch (style_.format) {
        case Html:
            for (std::size_t p; (p = safe.find("--")) != std::string::npos;) safe[p + 1] = '=';
            return emit("\n<!-- " + safe + " -->");
        case Rtf:
            safe.clear();
            for (char c : text) {
                if (c == '\\' || c == '{' || c == '}') safe += '\\';
                safe += c;
            }
            return emit("\n{\\comment  " + safe + " }");
        case Delimited: return emit("\n# " + safe);
        default: return 1;
    }
}

int OutputWriter::beginTable(int shown, std::string_view title, int columns, int width) {
    if (!isOpen()) return 0;
    if (style_.format == Html)
        writeFormat("<CENTER>\n<TABLE border=1 cellspacing=0 cellpadding=1 width=95%% (%d)>\n",
                    width);
    else if (style_.format == Rtf)
        emit("\n\\par{\\pard \\trowd\\trgaph0\\trleft0\n");
    beginRow(style_.colours[kTitleColour], 1);
    const std::string heading = formatText("(%d) ", shown) + std::string(title);
    switch (style_.format) {
        case Html:
            emit(formatText("<TH colspan=%d><H3>", columns) + heading + "</H3></TH>\n");
            break;
        case Rtf: rtfCell("{\\fs18\\qc\\b " + heading + "\\par}"); break;
        // On a line of its own: the comment line before it ends without one.
        case Delimited: emit("\n" + heading + "\n"); break;
        default: break;
    }
    return endRow();
}

std::string_view OutputWriter::data(std::string_view text) {
    data_.clear();
    switch (style_.format) {
        case Html:
            for (char c : text) {
                switch (c) {
                    case '<': data_ += "&lt;"; break;
                    case '>': data_ += "&gt;"; break;
                    case '&': data_ += "&amp;"; break;
                    case '"': data_ += "&quot;"; break;
                    default: data_ += c;
                }
            }
            break;
        case Rtf:
            for (char c : text) {
                if (c == '\\' || c == '{' || c == '}') data_ += '\\';
                data_ += (c == '\n' || c == '\r') ? ' ' : c;
            }
            break;
        case Delimited: {
            // Log data is the attacker's: a cell that a spreadsheet would run as
            // a formula is written as text.
            const bool formula =
                !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
            if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
                if (formula) data_ += '\'';
                data_.append(text);
            } else {
                data_ += '"';
                if (formula) data_ += '\'';
                for (char c : text) {
                    if (c == '"') data_ += '"';
                    data_ += (c == '\n' || c == '\r') ? ' ' : c;
                }
                data_ += '"';
            }
            break;
        }
        default: data_.assign(text);
    }
    return data_;
}

std::string_view OutputWriter::dataLink(std::string_view text) {
    // The escaping is the same; only the buffer differs, so that a cell can hold
    // both a target and a text.
    std::swap(data_, link_);
    data(text);
    std::swap(data_, link_);
    return link_;
}

}  // namespace tallowick::report
