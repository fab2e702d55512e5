// Netscape flexible logs: the first line, "format=...", spells out each line as
// literal text and "%...%" tokens, for example
//   format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "%Req->reqpb.clf-request%" %Req->srvhdrs.clf-status% %Req->srvhdrs.content-length%
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logs/field_layout.h"
#include "logs/hit_record.h"

namespace tallowick::logs {

class NetscapeLayout {
public:
    // A layout of more tokens keeps the first ones; the rest of a line is ignored.
    static constexpr std::size_t kMaxTokens = 64;

    void clear();
    // ReadNetscapeLayout's work: the text after "format=". Tokens the analysis does
    // not use are kept as placeholders so that the literals around them still match.
    void read(std::string_view format);
    // True when the format is the common or combined log layout, whose lines the
    // common-line parser reads.
    bool is_common() const;
    bool empty() const { return count_ == 0; }

    // ParseNetscapeLine's work: the literals must appear where the format puts
    // them; a token runs to the literal that follows it (to the next space for a
    // token with nothing after it). Returns hit, or malformed.
    LineResult parse(std::string_view line, HitRecord& hit) const;

private:
    struct Token {
        std::uint16_t literal_begin = 0, literal_size = 0;  // the text before the token
        FieldItem item = FieldItem::none;
    };
    std::string_view literal(const Token& t) const {
        return std::string_view(text_).substr(t.literal_begin, t.literal_size);
    }

    std::string text_;                      // the literals, kept from the header line
    std::array<Token, kMaxTokens> tokens_{};
    std::size_t count_ = 0;
    std::uint16_t tail_begin_ = 0, tail_size_ = 0;  // literal after the last token
};

// The dispatcher's entry points, named as the other formats' are.
void ReadNetscapeLayout(std::string_view header, NetscapeLayout& layout);
LineResult ParseNetscapeLine(std::string_view line, HitRecord& hit, const NetscapeLayout& layout);

}  // namespace tallowick::logs
