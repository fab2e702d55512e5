#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace tallowick {
namespace {

TEST(Utf8, ValidTextStaysAndOtherBytesReadAsLatin1) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"plain /index.html", "plain /index.html"},
        {"T\xC3\xA4glich \xE6\x97\xA5 \xF0\x9F\x98\x80", "T\xC3\xA4glich \xE6\x97\xA5 \xF0\x9F\x98\x80"},
        {"caf\xE9", "caf\xC3\xA9"},                           // Latin-1 e acute
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                     // overlong slash
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},         // a surrogate
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // above U+10FFFF
        {"end \xE2\x82", "end \xC3\xA2\xC2\x82"},             // cut short
        {"\xE9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},               // mixed
    };
    for (const Case& c : cases) {
        std::string buffer;
        EXPECT_EQ(valid_utf8(c.in, buffer), c.out) << c.in;
    }
    std::string text = "x\xE9\xE6\x97\xA5";
    std::size_t pos = 1;
    EXPECT_EQ(next_code_point(text, pos), U'\u00E9');
    EXPECT_EQ(next_code_point(text, pos), U'\u65E5');
    EXPECT_EQ(pos, text.size());
}

}  // namespace
}  // namespace tallowick
