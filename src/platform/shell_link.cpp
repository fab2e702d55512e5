#include "platform/shell_link.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace tallowick::platform {

namespace {

// The fixed header of every shell link: its size and class identifier
// {00021401-0000-0000-C000-000000000046}, as stored (little-endian fields).
constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::array<unsigned char, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Link flags.
constexpr std::uint32_t kHasIdList = 0x01;
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasRelativePath = 0x08;
constexpr std::uint32_t kIsUnicode = 0x80;

// LinkInfo flags.
constexpr std::uint32_t kVolumeAndLocalPath = 0x01;
constexpr std::uint32_t kNetworkAndSuffix = 0x02;

// A bounds-checked view of the link's bytes: every read says whether it fitted.
class Reader {
public:
    explicit Reader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    std::optional<std::uint32_t> u32(std::size_t at) const {
        if (at > bytes_.size() || bytes_.size() - at < 4) return std::nullopt;
        return static_cast<std::uint32_t>(bytes_[at]) | (bytes_[at + 1] << 8) |
               (bytes_[at + 2] << 16) | (static_cast<std::uint32_t>(bytes_[at + 3]) << 24);
    }
    std::optional<std::uint16_t> u16(std::size_t at) const {
        if (at > bytes_.size() || bytes_.size() - at < 2) return std::nullopt;
        return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
    }
    // A NUL-terminated 8-bit string starting at `at` and ending before `limit`.
    std::optional<std::string> ansi(std::size_t at, std::size_t limit) const {
        limit = std::min(limit, bytes_.size());
        std::string out;
        for (std::size_t i = at; i < limit; ++i) {
            if (bytes_[i] == 0) return out;
            out.push_back(static_cast<char>(bytes_[i]));
        }
        return std::nullopt;
    }
    // A NUL-terminated UTF-16LE string, given as UTF-8.
    std::optional<std::string> utf16(std::size_t at, std::size_t limit) const {
        limit = std::min(limit, bytes_.size());
        std::string out;
        for (std::size_t i = at; i + 1 < limit; i += 2) {
            std::uint32_t c = bytes_[i] | (bytes_[i + 1] << 8);
            if (c == 0) return out;
            if (c >= 0xD800 && c < 0xDC00 && i + 3 < limit) {
                std::uint32_t low = bytes_[i + 2] | (bytes_[i + 3] << 8);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            append_utf8(out, c);
        }
        return std::nullopt;
    }
    // `count` UTF-16LE or 8-bit characters (the string data's counted strings).
    std::optional<std::string> counted(std::size_t at, std::size_t count, bool unicode) const {
        std::size_t width = unicode ? 2 : 1;
        if (at > bytes_.size() || (bytes_.size() - at) / width < count) return std::nullopt;
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            if (unicode)
                append_utf8(out, bytes_[at + 2 * i] | (bytes_[at + 2 * i + 1] << 8));
            else
                out.push_back(static_cast<char>(bytes_[at + i]));
        }
        return out;
    }
    std::size_t size() const { return bytes_.size(); }
    std::span<const unsigned char> bytes() const { return bytes_; }

private:
    static void append_utf8(std::string& out, std::uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    std::span<const unsigned char> bytes_;
};

ShellLinkTarget fail(std::string why) { return {.path = {}, .error = std::move(why)}; }

// The target held in a LinkInfo block of `size` bytes at `at`.
ShellLinkTarget link_info_target(const Reader& r, std::size_t at, std::size_t size) {
    const std::size_t end = at + size;
    auto header_size = r.u32(at + 4);
    auto flags = r.u32(at + 8);
    auto local_offset = r.u32(at + 16);
    auto network_offset = r.u32(at + 20);
    auto suffix_offset = r.u32(at + 24);
    if (!header_size || !flags || !local_offset || !network_offset || !suffix_offset ||
        *header_size < 0x1C || *header_size > size)
        return fail("damaged link information");
    auto inside = [&](std::uint32_t offset) { return offset >= *header_size && offset < size; };

    // Newer links also carry the paths in UTF-16; those win when present.
    std::optional<std::string> suffix;
    std::optional<std::uint32_t> local_unicode, suffix_unicode;
    if (*header_size >= 0x24) {
        local_unicode = r.u32(at + 28);
        suffix_unicode = r.u32(at + 32);
    }
    if (suffix_unicode && inside(*suffix_unicode))
        suffix = r.utf16(at + *suffix_unicode, end);
    else if (inside(*suffix_offset))
        suffix = r.ansi(at + *suffix_offset, end);

    if (*flags & kVolumeAndLocalPath) {
        std::optional<std::string> base;
        if (local_unicode && inside(*local_unicode))
            base = r.utf16(at + *local_unicode, end);
        else if (inside(*local_offset))
            base = r.ansi(at + *local_offset, end);
        if (!base) return fail("damaged local path");
        return {.path = *base + suffix.value_or(""), .error = {}};
    }
    if (*flags & kNetworkAndSuffix) {
        // CommonNetworkRelativeLink: size, flags, then the offset of the share name.
        if (!inside(*network_offset)) return fail("damaged network path");
        std::size_t net = at + *network_offset;
        auto net_size = r.u32(net);
        auto name_offset = r.u32(net + 8);
        if (!net_size || !name_offset || *name_offset >= *net_size ||
            net + *net_size > end)
            return fail("damaged network path");
        auto share = r.ansi(net + *name_offset, net + *net_size);
        if (!share) return fail("damaged network path");
        std::string path = *share;
        if (suffix && !suffix->empty()) {
            if (path.empty() || path.back() != '\\') path.push_back('\\');
            path += *suffix;
        }
        return {.path = path, .error = {}};
    }
    return fail("the link names neither a local nor a network path");
}

}  // namespace

ShellLinkTarget parse_shell_link(std::span<const unsigned char> bytes) {
    Reader r(bytes);
    auto header_size = r.u32(0);
    if (!header_size || *header_size != kHeaderSize || bytes.size() < kHeaderSize ||
        std::memcmp(bytes.data() + 4, kLinkClsid.data(), kLinkClsid.size()) != 0)
        return fail("not a shell link");
    const std::uint32_t flags = *r.u32(0x14);

    std::size_t at = kHeaderSize;
    if (flags & kHasIdList) {
        // The ID list describes the target for the shell; its size lets us skip it.
        auto id_size = r.u16(at);
        if (!id_size || at + 2 + *id_size > bytes.size()) return fail("damaged item list");
        at += 2 + *id_size;
    }
    if (flags & kHasLinkInfo) {
        auto size = r.u32(at);
        if (!size || *size < 0x1C || *size > bytes.size() - at)
            return fail("damaged link information");
        ShellLinkTarget target = link_info_target(r, at, *size);
        if (target.ok() && !target.path.empty()) return target;
        if (!(flags & kHasRelativePath)) return target.ok() ? fail("empty target path") : target;
        at += *size;
    } else if (!(flags & kHasRelativePath)) {
        return fail("the link holds no target path");
    }

    // String data: optional name, then the relative path, as counted strings.
    const bool unicode = flags & kIsUnicode;
    auto skip_string = [&](std::size_t& pos) -> bool {
        auto count = r.u16(pos);
        if (!count) return false;
        pos += 2 + *count * (unicode ? 2u : 1u);
        return pos <= bytes.size();
    };
    if ((flags & kHasName) && !skip_string(at)) return fail("damaged string data");
    auto count = r.u16(at);
    if (!count) return fail("damaged string data");
    auto relative = r.counted(at + 2, *count, unicode);
    if (!relative || relative->empty()) return fail("damaged relative path");
    return {.path = *relative, .error = {}, .relative = true};
}

ShellLinkTarget read_shell_link(const std::filesystem::path& link) {
    struct Close {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Close> file(std::fopen(link.c_str(), "rb"));
    if (!file) return fail(std::string("cannot open: ") + std::strerror(errno));
    // Shortcuts are a few kilobytes; anything past 1 MiB is not one.
    constexpr std::size_t kMaxLink = 1 << 20;
    std::vector<unsigned char> bytes(kMaxLink + 1);
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got > kMaxLink) return fail("not a shell link (too large)");
    bytes.resize(got);
    ShellLinkTarget target = parse_shell_link(bytes);
    if (target.ok() && target.relative) {
        std::string rel = target.path;
        for (char& c : rel)
            if (c == '\\') c = '/';
        target.path = (link.parent_path() / rel).lexically_normal().string();
        target.relative = false;
    }
    return target;
}

}  // namespace tallowick::platform
