#include "logs/netscape.h"

#include "logs/common_line.h"
#include "logs/field_text.h"

namespace tallowick::logs {

namespace {

using namespace detail;

struct NetscapeName {
    std::string_view name;
    FieldItem item;
};

constexpr std::array kNames{
    NetscapeName{"Ses->client.ip", FieldItem::client},
    NetscapeName{"Ses->client.dns", FieldItem::client},
    NetscapeName{"Req->vars.auth-user", FieldItem::user},
    NetscapeName{"SYSDATE", FieldItem::date_time},
    NetscapeName{"Req->srvhdrs.clf-status", FieldItem::status},
    NetscapeName{"Req->reqpb.uri", FieldItem::url},
    NetscapeName{"Req->reqpb.clf-request", FieldItem::request},
    NetscapeName{"Req->reqpb.method", FieldItem::method},
    NetscapeName{"Req->srvhdrs.content-length", FieldItem::bytes},
    NetscapeName{"Req->headers.content-length", FieldItem::bytes_in},
    NetscapeName{"Req->headers.referer", FieldItem::referrer},
    NetscapeName{"Req->headers.user-agent", FieldItem::agent},
    NetscapeName{"Req->headers.host", FieldItem::server},
    NetscapeName{"vsid", FieldItem::server},
    NetscapeName{"Req->vars.xfer-time", FieldItem::time_taken},
    NetscapeName{"duration", FieldItem::time_taken},
};

FieldItem item_of(std::string_view name) {
    for (const NetscapeName& n : kNames)
        if (iequals(n.name, name)) return n.item;
    return FieldItem::none;
}

// One letter per item, for comparing a layout's shape with the common layouts.
char letter(FieldItem item) {
    switch (item) {
    case FieldItem::client: return 'h';
    case FieldItem::user: return 'u';
    case FieldItem::date_time: return 't';
    case FieldItem::request: return 'r';
    case FieldItem::status: return 's';
    case FieldItem::bytes: return 'b';
    case FieldItem::referrer: return 'f';
    case FieldItem::agent: return 'a';
    default: return '?';
    }
}

}  // namespace

void NetscapeLayout::clear() {
    text_.clear();
    count_ = 0;
    tail_begin_ = tail_size_ = 0;
}

void NetscapeLayout::read(std::string_view format) {
    clear();
    // Offsets are 16-bit; a header line is far shorter than that.
    format = format.substr(0, 60000);
    text_.reserve(format.size());
    std::size_t i = 0, literal_start = 0;
    while (count_ < kMaxTokens) {
        std::size_t open = format.find('%', i);
        if (open == npos) break;
        std::size_t close = format.find('%', open + 1);
        if (close == npos) break;
        Token& t = tokens_[count_++];
        t.literal_begin = static_cast<std::uint16_t>(text_.size());
        text_.append(format.substr(literal_start, open - literal_start));
        t.literal_size = static_cast<std::uint16_t>(text_.size() - t.literal_begin);
        t.item = item_of(format.substr(open + 1, close - open - 1));
        i = literal_start = close + 1;
    }
    tail_begin_ = static_cast<std::uint16_t>(text_.size());
    // After a full table the rest of the format is not matched.
    if (count_ < kMaxTokens) text_.append(format.substr(literal_start));
    tail_size_ = static_cast<std::uint16_t>(text_.size() - tail_begin_);
}

bool NetscapeLayout::is_common() const {
    std::string shape;
    for (std::size_t k = 0; k < count_; ++k) {
        shape.append(literal(tokens_[k]));
        shape.push_back(letter(tokens_[k].item));
    }
    shape.append(std::string_view(text_).substr(tail_begin_, tail_size_));
    return shape == "h - u [t] \"r\" s b" || shape == "h - u [t] \"r\" s b \"f\" \"a\"";
}

LineResult NetscapeLayout::parse(std::string_view line, HitRecord& hit) const {
    hit.clear();
    if (count_ == 0) return LineResult::malformed;
    std::size_t pos = 0;
    for (std::size_t k = 0; k < count_; ++k) {
        std::string_view before = literal(tokens_[k]);
        if (line.substr(pos, before.size()) != before) return LineResult::malformed;
        pos += before.size();
        std::string_view after = k + 1 < count_
                                     ? literal(tokens_[k + 1])
                                     : std::string_view(text_).substr(tail_begin_, tail_size_);
        std::size_t end;
        if (after.empty()) {
            // Nothing marks the end: a value without spaces, so that fields a
            // server appends after the layout are ignored.
            end = line.find(' ', pos);
            if (end == npos) end = line.size();
        } else {
            end = line.find(after, pos);
            if (end == npos) return LineResult::malformed;
        }
        std::string_view field = line.substr(pos, end - pos);
        pos = end;
        switch (tokens_[k].item) {
        case FieldItem::client: hit.client = dash_empty(field); break;
        case FieldItem::user: hit.user = dash_empty(field); break;
        case FieldItem::date_time:
            hit.date = NormaliseLogDate(field);
            if (hit.date.empty()) return LineResult::malformed;
            hit.time = clf_time(field);
            break;
        case FieldItem::status: hit.status = dash_empty(field); break;
        case FieldItem::url: hit.url = dash_empty(field); break;
        case FieldItem::request: split_request(field, hit); break;
        case FieldItem::method: hit.method = dash_empty(field); break;
        case FieldItem::bytes: hit.bytes = read_count(field); break;
        case FieldItem::bytes_in: hit.bytes_in = read_count(field); break;
        case FieldItem::referrer: hit.referrer = dash_empty(field); break;
        case FieldItem::agent: hit.agent = dash_empty(field); break;
        case FieldItem::server: hit.server = dash_empty(field); break;
        case FieldItem::time_taken: hit.time_taken = read_count(field); break;
        default: break;
        }
    }
    if (hit.date.empty()) return LineResult::malformed;
    return LineResult::hit;
}

void ReadNetscapeLayout(std::string_view header, NetscapeLayout& layout) {
    std::size_t at = header.find("format=");
    layout.read(at == npos ? header : header.substr(at + 7));
}

LineResult ParseNetscapeLine(std::string_view line, HitRecord& hit, const NetscapeLayout& layout) {
    return layout.parse(line, hit);
}

}  // namespace tallowick::logs
