// The language files of lang/: they parse whole, hold a pair for every English
// phrase of lang/phrases.txt in that order, and translating real page fragments
// changes the words but never a tag, an attribute, an RTF control word or a file
// name the pages link to.
#include "report/translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace tallowick::report {
namespace {

namespace fs = std::filesystem;

fs::path lang_dir() { return test::source_dir() / "lang"; }

// The lines of a list file that are neither empty nor comments.
std::vector<std::string> list_lines(const fs::path& path) {
    std::vector<std::string> lines;
    const std::string text = test::read_file(path);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::vector<std::string> phrases() { return list_lines(lang_dir() / "phrases.txt"); }
std::vector<std::string> untranslated() { return list_lines(lang_dir() / "untranslated.txt"); }

std::string language_text(int language) {
    return test::read_file(lang_dir() / std::string(languageFileName(language)));
}

std::vector<LanguagePair> language_pairs(int language) {
    return parseLanguageFile(language_text(language));
}

std::string translated(std::span<const LanguagePair> pairs, std::string_view fragment) {
    std::string out;
    return translatePairs(pairs, fragment, out) ? out : std::string(fragment);
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
        i += n;
    }
    return true;
}

// Tag names, attribute names and bare attribute values the pages write, the comment
// markers other programs look for, and RTF control words and field names. A pair
// whose English side is one of these would rewrite markup.
constexpr std::string_view kMarkupWords[] = {
    "A", "B", "P", "BR", "TD", "TR", "TH", "H3", "H4", "HTML", "HEAD", "BODY", "META", "TITLE",
    "TABLE", "CENTER", "FONT", "IMG", "SRC", "ALT", "HREF", "NAME", "FRAMESET", "FRAME",
    "WIDTH", "HEIGHT", "BORDER", "CELLSPACING", "CELLPADDING", "BGCOLOR", "COLOR", "SIZE",
    "ALIGN", "VALIGN", "COLSPAN", "ROWSPAN", "TARGET", "CONTENT", "HTTP-EQUIV", "EQUIV", "HTTP",
    "LEFT", "RIGHT", "TOP", "MIDDLE", "BOTTOM", "REFRESH", "URL", "EXPIRES", "GENERATOR",
    "TYPE", "CHARSET", "COLS", "ROWS", "FRAMEBORDER", "FRAMESPACING", "MARGINWIDTH",
    "MARGINHEIGHT", "SCROLLING", "NORESIZE", "_parent", "_top", "reportstat", "list",
    "DATA", "END", "NONE", "par", "row", "cell", "intbl", "plain", "pard", "trowd", "qc", "fs",
    "field", "fldinst", "fldrslt", "INCLUDEPICTURE", "comment", "lang", "uldb", "rtf", "ansi",
    "fonttbl", "colortbl", "Arial", "v", "ExecFile", "d",
};

// Pieces as the output operations write them, each passed through translation on
// its own.
constexpr std::string_view kHtmlFragments[] = {
    "<HEAD>\n<META NAME=\"GENERATOR\" CONTENT=\"Tallowick 3.7 [Windows]\">\n",
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=utf-8\">\n",
    "<meta http-equiv=\"Expires\" content=\"0\">\n",
    "<TITLE>Daily Transmission Statistics</TITLE></HEAD>\n\n",
    "<HEAD><META HTTP-EQUIV=\"refresh\" CONTENT=\"300; URL=Daily.html\"></HEAD>",
    "<CENTER><FONT SIZE=-2>05/30/2026 10:15</FONT></CENTER></p>\n",
    "<H3 ALIGN=CENTER>Daily Transmission Statistics for www.example.com during 30 Day Period<BR>\n",
    "<H3 ALIGN=CENTER>Session Depth for <A HREF=\"http://www.example.com\">www.example.com</A> during 7 Day Period<BR>\n",
    "<FONT SIZE=-1>05/01/2026 to 05/30/2026</FONT></H3>\n",
    "<CENTER>[<A HREF=\"index.html\">Index</A>]</CENTER><P>",
    "<CENTER>[<A HREF=\"index.html\" target=_parent>Index</A>]</CENTER><P>",
    "<CENTER><H4>Top Requests for Clients</H4>\n",
    "<TABLE border=0 cellspacing=0 cellpadding=0><TR><TD>",
    "<IMG SRC=\"ReqClient.gif\" ALT=\"Client Graph\">",
    "</TD><TD><IMG SRC=\"rshad.gif\"></TD></TR>\n<TR><TD colspan=2><IMG SRC=\"bshad.gif\"></TD></TR></TABLE>\n\n",
    "</TD><TD><IMG WIDTH=45 HEIGHT=310 SRC=\"rshad.png\"></TD></TR>\n<TR><TD colspan=2><IMG WIDTH=640 SRC=\"bshad.png\"></TD></TR></TABLE>\n\n",
    "</CENTER><P><BR>\n",
    "<CENTER>\n<TABLE border=1 cellspacing=0 cellpadding=1 width=95% (420)>\n",
    "<TR BGCOLOR=\"#ffcc00\">",
    "<TH colspan=9><H3>(25) Clients</H3></TH>\n",
    "<TH>Requests</TH>", "<TH>%</TH>", "<TH>Bytes</TH>", "<TH>$ Cost</TH>",
    "<TH colspan=2>Client</TH>", "<TH colspan=2>Type</TH>",
    "<TD align=right>1,234</TD>", "<TD align=right colspan=1>  12.5%</TD>",
    "<TD align=right bgcolor=ff9999 colspan=1>www.example.com</TD>",
    "<TD align=left><A HREF=\"http://www.example.com/Pages/Daily.html\">/Pages/Daily.html</A></TD>",
    "<TD align=left><A HREF=\"Sunday.html\">Sunday</A></TD>",
    "<TD align=right colspan=1>Sun 05/03/2026</TD>",
    "<TD align=left><A HREF=\"#3\">Search Engines</A></TD>",
    "<TH>Others</TH>", "<TH>Average</TH>", "<TH>Totals</TH>", "</TR>\n",
    "</TABLE></CENTER></B><BR><BR>\n", "<A NAME=3><BR></A>\n",
    "\n<CENTER>\n<TABLE WIDTH=270 BORDER=0 CELLSPACING=0 CELLPADDING=1>\n",
    "<TR><TD BGCOLOR=#990033 HEIGHT=20 COLSPAN=2><P ALIGN=CENTER><B><FONT COLOR=#FFFFFF SIZE=4>Server Load</FONT></B></TD></TR>\n",
    "<TR BGCOLOR=#a0a0a0><TD HEIGHT=17 COLSPAN=2><P ALIGN=LEFT><B><FONT COLOR=#000000>Requests</FONT></B></TD></TR>\n",
    "<TR><TD WIDTH=142 HEIGHT=15 BGCOLOR=f0f0f0><FONT SIZE=3>Total Requests</FONT></TD><TD BGCOLOR=e0e0e0><P ALIGN=RIGHT><FONT SIZE=3>1,234</FONT></TD></TR>\n",
    "<TR><TD WIDTH=142 HEIGHT=8 BGCOLOR=e0e0e0><FONT SIZE=-2>Percent of 128Kbps</FONT></TD><TD BGCOLOR=e0e0e0><P ALIGN=RIGHT><FONT SIZE=-2>75.00%</FONT></TD></TR>\n",
    "<TR><TD COLSPAN=2 BGCOLOR=f0f0f0><P ALIGN=CENTER><FONT SIZE=3><a href=\"Hourly.html\">Hourly</a></FONT></TD></TR>\n",
    "<TR><TD COLSPAN=2 BGCOLOR=e0e0e0><P ALIGN=CENTER><FONT SIZE=-2><a href=\"Client.html\" target=reportstat>Clients</a></FONT></TD></TR>\n",
    "\n\n<CENTER>\n<TABLE WIDTH=450 BORDER=1 CELLSPACING=0 CELLPADDING=0>\n<TR>",
    "<TD VALIGN=TOP>\n", "</TD><TD VALIGN=TOP>\n<!-- DATA END -->\n\n",
    "</TABLE></CENTER>\n<!-- TABLE END -->\n\n", "<!-- NONE -->",
    "\n<!-- Total Units = 25 (bytes=2000) / 256 (20480) -->",
    "Log Processing time: 00:00:01.5, 4200 Files/Min, 1.2 Megs/Min",
    "<CENTER><FONT SIZE=-2><A HREF=\"freport.html\" TARGET=_TOP>(Framed Version)</A></FONT></CENTER>\n",
    "<HEAD><TITLE>Tallowick Report</TITLE></HEAD>\n<FRAMESET COLS=\"205,*\" FRAMEBORDER=1 "
    "FRAMESPACING=3 BORDER=3>\n<FRAME SRC=\"findex.html\" NAME=list MARGINWIDTH=0 "
    "MARGINHEIGHT=0 FRAMEBORDER=0>\n<FRAME SRC=\"Daily.html\" NAME=reportstat>\n</FRAMESET>\n",
};

constexpr std::string_view kRtfFragments[] = {
    "\\par{\\qc\\b Top Requests for Clients\n",
    "\\par{\\field{\\*\\fldinst {INCLUDEPICTURE \\\\d \"ReqClient.bmp\"}}{\\fldrslt {\\lang1024 }}}\\par}\n",
    "\\par{\\qc\\b Daily Transmission Statistics for 30 Day Period\\par}\n\n",
    "{\\fs17\\b Total Requests\t\t\t 1,234 \\par}\n",
    "\n{\\comment  Total Units = 25 (bytes=2000) / 256 (20480) }",
    "\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf0  {\\fs18\\qc\\b (7) Weekly Transmission Statistics\\par}\\cell\n",
    "\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf0  {\\uldb Sunday }\\cell\n",
    "\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf0  \\fs18\\b Requests\\cell\n",
};

// Every tag of an HTML text with the text of ALT attributes (which is meant to be
// translated) taken out.
std::vector<std::string> tags(std::string_view html) {
    std::vector<std::string> found;
    for (std::size_t open = html.find('<'); open != std::string_view::npos;
         open = html.find('<', open + 1)) {
        const std::size_t close = html.find('>', open);
        if (close == std::string_view::npos) break;
        std::string tag(html.substr(open, close - open + 1));
        for (std::size_t i = 0; i + 5 <= tag.size(); ++i) {
            if (!equal_ignoring_case(std::string_view(tag).substr(i, 5), "ALT=\"")) continue;
            const std::size_t end = tag.find('"', i + 5);
            if (end != std::string::npos) tag.erase(i + 5, end - (i + 5));
        }
        found.push_back(std::move(tag));
    }
    return found;
}

// The control words of an RTF text (\par, \fs18, \lang1024) and its control
// symbols (\* and the escaped backslash).
std::vector<std::string> rtf_control_words(std::string_view rtf) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::vector<std::string> found;
    for (std::size_t i = 0; i + 1 < rtf.size(); ++i) {
        if (rtf[i] != '\\') continue;
        std::size_t end = i + 1;
        if (letter(rtf[end])) {
            while (end < rtf.size() && letter(rtf[end])) ++end;
            if (end < rtf.size() && rtf[end] == '-') ++end;
            while (end < rtf.size() && digit(rtf[end])) ++end;
        } else {
            ++end;
        }
        found.emplace_back(rtf.substr(i, end - i));
        i = end - 1;
    }
    return found;
}

std::size_t count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(what); pos != std::string_view::npos;
         pos = text.find(what, pos + 1))
        ++n;
    return n;
}

TEST(LanguageFiles, ListsOfPhrasesAreSound) {
    const std::vector<std::string> english = phrases();
    ASSERT_GT(english.size(), 200u) << "lang/phrases.txt missing or cut short";
    ASSERT_LT(english.size(), kMaxLanguagePairs);
    std::vector<std::string> sorted = english;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a phrase is listed twice";

    const std::vector<std::string> kept = untranslated();
    EXPECT_FALSE(kept.empty());
    for (const std::string& word : kept)
        EXPECT_EQ(std::count(english.begin(), english.end(), word), 0) << word;

    // A phrase listed after a shorter one inside it would never be found: the shorter
    // pair has already replaced its words.
    for (std::size_t i = 0; i < english.size(); ++i) {
        const LanguagePair earlier[] = {{english[i], "\x01"}};
        for (std::size_t j = i + 1; j < english.size(); ++j) {
            std::string out;
            EXPECT_FALSE(translatePairs(earlier, english[j], out))
                << '"' << english[j] << "\" comes after \"" << english[i] << "\", which it contains";
        }
    }
}

TEST(LanguageFiles, EveryFileHasEveryPhraseInOrder) {
    const std::vector<std::string> english = phrases();
    const std::vector<std::string> kept = untranslated();
    for (int language = 1; language <= kLanguageCount; ++language) {
        SCOPED_TRACE(std::string(languageName(language)));
        const std::string text = language_text(language);
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(valid_utf8(text));
        const std::vector<LanguagePair> pairs = parseLanguageFile(text);

        // Reading stops at the first line without a comma: every line after the
        // heading must be a comment or a pair, or later pairs are silently lost.
        std::size_t pair_lines = 0;
        std::size_t pos = text.find('\n') + 1;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            const std::string_view line(text.data() + pos, end - pos);
            if (line.empty() || line[0] != '#') {
                ++pair_lines;
                EXPECT_NE(line.find(','), std::string_view::npos) << "line without a pair: " << line;
            }
            pos = end + 1;
        }
        EXPECT_EQ(pairs.size(), pair_lines);

        std::vector<std::string> from;
        for (const LanguagePair& pair : pairs) from.push_back(pair.from);
        EXPECT_EQ(from, english);

        for (const LanguagePair& pair : pairs) {
            EXPECT_FALSE(pair.to.empty()) << pair.from;
            EXPECT_EQ(pair.to.find_first_of("<>\"&\r\t"), std::string::npos) << pair.from << " -> " << pair.to;
            EXPECT_FALSE(pair.to.front() == ' ' || pair.to.back() == ' ') << pair.from << " -> " << pair.to;
            for (std::string_view word : kMarkupWords)
                EXPECT_FALSE(equal_ignoring_case(pair.from, word)) << "markup word " << pair.from;
            for (const std::string& word : kept) EXPECT_NE(pair.from, word);
        }
    }
}

// A translation must not contain an English phrase that a later pair would replace
// again, or its words come out mixed. The pairs for "<title> for" are the exception:
// they keep the title English on purpose for the title pairs that follow.
TEST(LanguageFiles, NoTranslationIsTranslatedAgain) {
    for (int language = 1; language <= kLanguageCount; ++language) {
        SCOPED_TRACE(std::string(languageName(language)));
        const std::vector<LanguagePair> pairs = language_pairs(language);
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const std::string& from = pairs[i].from;
            const std::size_t last_space = from.rfind(' ');
            if (last_space != std::string::npos &&
                pairs[i].to.starts_with(std::string_view(from).substr(0, last_space)))
                continue;
            const std::string padded = " " + pairs[i].to + " ";
            std::string out;
            EXPECT_FALSE(translatePairs(std::span(pairs).subspan(i + 1), padded, out))
                << from << " -> " << pairs[i].to << " becomes" << out;
        }
    }
}

TEST(LanguageFiles, PagesKeepTheirMarkup) {
    for (int language = 1; language <= kLanguageCount; ++language) {
        SCOPED_TRACE(std::string(languageName(language)));
        const std::vector<LanguagePair> pairs = language_pairs(language);
        ASSERT_FALSE(pairs.empty());
        for (std::string_view fragment : kHtmlFragments) {
            const std::string out = translated(pairs, fragment);
            EXPECT_EQ(tags(out), tags(fragment)) << fragment << "\nbecame\n" << out;
        }
        for (std::string_view fragment : kRtfFragments) {
            const std::string out = translated(pairs, fragment);
            EXPECT_EQ(rtf_control_words(out), rtf_control_words(fragment)) << fragment << "\nbecame\n" << out;
            EXPECT_EQ(count(out, "\""), count(fragment, "\"")) << out;
        }
        // The words between the tags are translated.
        EXPECT_NE(translated(pairs, "<TH>Requests</TH>"), "<TH>Requests</TH>");
        EXPECT_NE(translated(pairs, "<TD align=left><A HREF=\"Sunday.html\">Sunday</A></TD>"),
                  "<TD align=left><A HREF=\"Sunday.html\">Sunday</A></TD>");
        const std::string heading = translated(
            pairs, "<H3 ALIGN=CENTER>Daily Transmission Statistics for www.example.com during 30 Day Period<BR>\n");
        for (std::string_view english : {"Daily", "Transmission", "Statistics", "during", "Day", "Period"})
            EXPECT_EQ(heading.find(english), std::string::npos) << heading;
        EXPECT_NE(heading.find("www.example.com"), std::string::npos) << heading;
    }
}

TEST(LanguageFiles, PeriodHeadingReadsAsASentence) {
    const std::vector<LanguagePair> german = language_pairs(1);
    EXPECT_EQ(translated(german, "<H3 ALIGN=CENTER>Daily Transmission Statistics for 30 Day Period<BR>\n"),
              "<H3 ALIGN=CENTER>Tägliche Übertragungsstatistik für 30 Tage<BR>\n");
    EXPECT_EQ(translated(german, "<H3 ALIGN=CENTER>Robots List for www.example.com during 7 Day Period<BR>\n"),
              "<H3 ALIGN=CENTER>Liste der Robots für www.example.com über 7 Tage<BR>\n");
    EXPECT_EQ(translated(language_pairs(3), "<H3 ALIGN=CENTER>Client Access Statistics for 30 Day Period<BR>\n"),
              "<H3 ALIGN=CENTER>Statistiques d'accès par client pour 30 jours<BR>\n");
    // Norwegian keeps "for": its pair is the same on both sides and is skipped.
    EXPECT_EQ(translated(language_pairs(6), "<H3 ALIGN=CENTER>Session Depth for 30 Day Period<BR>\n"),
              "<H3 ALIGN=CENTER>Øktdybde for 30 dager<BR>\n");
}

TEST(LanguageFiles, LinkedFileNamesStayAsTheyAre) {
    // Page keys, graph base names and the other files the pages refer to.
    constexpr std::string_view kStems[] = {
        "index", "findex", "freport", "Daily", "RecentDaily", "RecentDays", "Hourly", "Weekly",
        "Sunday", "Monday", "Tueday", "Wedday", "Thuday", "Friday", "Satday", "Monthly",
        "Country", "Regions", "Region", "Orgs", "SecondDomain", "2nddomain", "Client",
        "ClientHist", "UserHist", "GovtHist", "Circulation", "Loyalty", "Timeon", "SourceAddr",
        "srcaddr", "Protocols", "Protocol", "Web", "SecureWeb", "Mail", "FTP", "Telnet", "DNS",
        "POP3", "Directory", "Dirs", "TopDirectory", "TopDirs", "TopDirsHist", "GroupDirectory",
        "GroupDirs", "Filetype", "Files", "Browser", "BrowserOS", "OperSys", "Refer", "Errors",
        "ErrorURL", "ErrorURLHist", "ReferSiteHist", "Pages", "PageHist", "SearchEngine",
        "SearchSite", "SearchStr", "Download", "DownloadHist", "Advert", "HitAdvert",
        "ClickAdvert", "PageVSessions", "Sessions", "MeanPath", "Robot", "bshad", "rshad",
    };
    constexpr std::string_view kExtensions[] = {".html", ".htm", ".rtf", ".txt", ".gif", ".png", ".jpg", ".bmp"};
    for (int language = 1; language <= kLanguageCount; ++language) {
        SCOPED_TRACE(std::string(languageName(language)));
        const std::vector<LanguagePair> pairs = language_pairs(language);
        for (std::string_view stem : kStems) {
            for (std::string_view ext : kExtensions) {
                const std::string name = std::string(stem) + std::string(ext);
                // In a quoted link target, as bare text (RTF and delimited cells, messages)
                // and as a folder of a path.
                const std::string fragment = "<A HREF=\"" + name + "\">x</A> <IMG SRC=\"Byte" + name +
                                             "\"> " + name + " /reports/" + std::string(stem) + "/" +
                                             name + " 'Req" + name + "'";
                const std::string out = translated(pairs, fragment);
                EXPECT_EQ(count(out, name), 5u) << out;
                EXPECT_EQ(count(out, "/" + std::string(stem) + "/"), 1u) << out;
            }
        }
    }
}

TEST(LanguageFiles, FoundBySearchingTheProgramFolder) {
    LanguageTable table(test::source_dir());
    std::string out;
    ASSERT_TRUE(table.translate(1, "<TH>Requests</TH>", out));
    EXPECT_EQ(out, "<TH>Anfragen</TH>");
    ASSERT_TRUE(table.translate(9, "<TH>Requests</TH>", out));
    EXPECT_EQ(out, "<TH>リクエスト</TH>");
    for (int language = 1; language <= kLanguageCount; ++language)
        EXPECT_TRUE(table.load(language)) << languageFileName(language);
}

}  // namespace
}  // namespace tallowick::report
