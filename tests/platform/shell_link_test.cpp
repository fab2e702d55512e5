#include "platform/shell_link.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallowick::platform {
namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void add16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void add32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void add_ansi(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}
void add_utf16(Bytes& b, const std::u16string& s) {
    for (char16_t c : s) add16(b, static_cast<std::uint16_t>(c));
    add16(b, 0);
}

// What a test link holds; the builder lays it out as Windows writes links.
struct LinkSpec {
    bool id_list = false;
    std::string local_base{};        // LinkInfo with a local base path (ANSI)
    std::u16string local_unicode{};  // ... and its UTF-16 form (a 0x24-byte header)
    std::string share{};             // LinkInfo with a network share instead
    std::string suffix{};            // common path suffix
    std::string name{};              // string data: description
    std::u16string relative{};       // string data: relative path (Unicode link)
};

Bytes build_link(const LinkSpec& spec) {
    Bytes b(0x4C, 0);
    put32(b, 0, 0x4C);
    const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::copy(clsid, clsid + 16, b.begin() + 4);
    const bool info = !spec.local_base.empty() || !spec.share.empty();
    std::uint32_t flags = 0x80;   // IsUnicode
    if (spec.id_list) flags |= 0x01;
    if (info) flags |= 0x02;
    if (!spec.name.empty()) flags |= 0x04;
    if (!spec.relative.empty()) flags |= 0x08;
    put32(b, 0x14, flags);

    if (spec.id_list) {
        Bytes items = {0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                       0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D, 0x00, 0x00};
        add16(b, static_cast<std::uint16_t>(items.size()));
        b.insert(b.end(), items.begin(), items.end());
    }
    if (info) {
        const bool unicode = !spec.local_unicode.empty();
        const std::uint32_t header = unicode ? 0x24 : 0x1C;
        Bytes body;   // everything after the header, offsets relative to LinkInfo
        std::uint32_t local_off = 0, net_off = 0, suffix_off = 0, local_u_off = 0, suffix_u_off = 0;
        std::uint32_t info_flags = 0;
        auto here = [&] { return static_cast<std::uint32_t>(header + body.size()); };
        if (!spec.local_base.empty()) {
            info_flags |= 1;
            Bytes volume(0x10, 0);   // VolumeID: size, drive type, serial, label offset
            put32(volume, 0, 0x11);
            put32(volume, 12, 0x10);
            volume.push_back(0);
            body.insert(body.end(), volume.begin(), volume.end());
            local_off = here();
            add_ansi(body, spec.local_base);
        } else {
            info_flags |= 2;
            net_off = here();
            Bytes net(0x14, 0);
            put32(net, 8, 0x14);      // the share name follows the fixed part
            add_ansi(net, spec.share);
            put32(net, 0, static_cast<std::uint32_t>(net.size()));
            body.insert(body.end(), net.begin(), net.end());
        }
        suffix_off = here();
        add_ansi(body, spec.suffix);
        if (unicode) {
            local_u_off = here();
            add_utf16(body, spec.local_unicode);
            suffix_u_off = here();
            add_utf16(body, u"");
        }
        add32(b, header + static_cast<std::uint32_t>(body.size()));
        add32(b, header);
        add32(b, info_flags);
        add32(b, spec.local_base.empty() ? 0 : header);   // VolumeID offset
        add32(b, local_off);
        add32(b, net_off);
        add32(b, suffix_off);
        if (unicode) {
            add32(b, local_u_off);
            add32(b, suffix_u_off);
        }
        b.insert(b.end(), body.begin(), body.end());
    }
    if (!spec.name.empty()) {
        add16(b, static_cast<std::uint16_t>(spec.name.size()));
        for (char c : spec.name) add16(b, static_cast<unsigned char>(c));
    }
    if (!spec.relative.empty()) {
        add16(b, static_cast<std::uint16_t>(spec.relative.size()));
        for (char16_t c : spec.relative) add16(b, static_cast<std::uint16_t>(c));
    }
    add32(b, 0);   // terminal block
    return b;
}

TEST(ShellLink, ReadsTheTargetOfEveryLayout) {
    struct Case {
        const char* name;
        LinkSpec spec;
        std::string path;
        bool relative;
    };
    const std::vector<Case> cases = {
        {"local path", {.local_base = "C:\\logs\\access.log"}, "C:\\logs\\access.log", false},
        {"item list skipped", {.id_list = true, .local_base = "C:\\logs\\a.log"}, "C:\\logs\\a.log", false},
        {"local path with suffix", {.local_base = "C:\\logs\\", .suffix = "site\\b.log"},
         "C:\\logs\\site\\b.log", false},
        {"unicode path wins", {.local_base = "C:\\??.log", .local_unicode = u"C:\\\u00e9t\u00e9.log"},
         "C:\\\xc3\xa9t\xc3\xa9.log", false},
        {"network share", {.share = "\\\\server\\logs", .suffix = "w3svc1\\ex.log"},
         "\\\\server\\logs\\w3svc1\\ex.log", false},
        {"relative path only", {.name = "My log", .relative = u"..\\logs\\c.log"}, "..\\logs\\c.log", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellLinkTarget t = parse_shell_link(build_link(c.spec));
        ASSERT_TRUE(t.ok()) << t.error;
        EXPECT_EQ(t.path, c.path);
        EXPECT_EQ(t.relative, c.relative);
    }
}

TEST(ShellLink, RefusesDamagedAndForeignFiles) {
    Bytes good = build_link({.id_list = true, .local_base = "C:\\logs\\access.log", .suffix = "x"});
    Bytes wrong_class = good;
    wrong_class[5] ^= 1;
    Bytes huge_id_list = good;
    huge_id_list[0x4C] = 0xFF;
    huge_id_list[0x4D] = 0xFF;
    Bytes bad_info_size = good;
    put32(bad_info_size, 0x4C + 2 + 22, 0xFFFFFFF0);
    Bytes unterminated = build_link({.local_base = "C:\\a.log"});
    unterminated.resize(unterminated.size() - 6);   // cut the suffix's NUL and the end block
    Bytes no_target = build_link({});
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"text file", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"wrong class", wrong_class},
        {"item list past the end", huge_id_list},
        {"link info past the end", bad_info_size},
        {"unterminated strings", unterminated},
        {"no target", no_target},
    };
    for (const auto& [name, bytes] : cases) {
        ShellLinkTarget t = parse_shell_link(bytes);
        EXPECT_FALSE(t.ok()) << name << " gave " << t.path;
        EXPECT_TRUE(t.path.empty()) << name;
    }
    // Every shorter prefix of a good link is refused, never read past its end.
    for (std::size_t n = 0; n < good.size() - 4; ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        ShellLinkTarget t = parse_shell_link(cut);
        if (t.ok()) {
            EXPECT_TRUE(t.path.starts_with("C:\\logs\\access.log")) << n;
        }
    }
}

TEST(ShellLink, JoinsARelativeTargetToTheLinkFolder) {
    tallowick::test::TempDir dir;
    Bytes link = build_link({.relative = u"logs\\c.log"});
    std::filesystem::create_directories(dir / "links");
    tallowick::test::write_file(dir / "links" / "c.lnk", std::string(link.begin(), link.end()));
    ShellLinkTarget t = read_shell_link(dir / "links" / "c.lnk");
    ASSERT_TRUE(t.ok()) << t.error;
    EXPECT_EQ(t.path, (dir / "links" / "logs" / "c.log").string());

    ShellLinkTarget missing = read_shell_link(dir / "absent.lnk");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace tallowick::platform
