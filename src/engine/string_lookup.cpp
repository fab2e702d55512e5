#include "engine/string_lookup.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/atomic_file.h"
#include "base/status.h"
#include "engine/name_hash.h"

namespace tallowick::engine {

std::unique_ptr<StringLookup> StringLookup::Create(int increment) {
    std::unique_ptr<StringLookup> table(new (std::nothrow) StringLookup(std::max(increment, 1)));
    if (!table) {
        OutOfMemory("Process(), new StringLookup(kDNSListIncr,FALSE);",
                    static_cast<long>(sizeof(StringLookup)));
        return nullptr;
    }
    return table;
}

int StringLookup::Find(std::uint32_t hash, std::string_view address) const {
    return index_.Find(hash, [&](std::int32_t at, const char*) {
        return records_[static_cast<std::size_t>(at)].address() == address;
    });
}

const char* StringLookup::StoreText(std::string_view address, std::string_view name) {
    char* p = texts_.Allocate(address.size() + name.size() + 2);
    if (p == nullptr) {
        OutOfMemory("Add String Failed", static_cast<long>(address.size() + name.size() + 2));
        return nullptr;
    }
    std::memcpy(p, address.data(), address.size());
    p[address.size()] = '\0';
    if (!name.empty()) std::memcpy(p + address.size() + 1, name.data(), name.size());
    p[address.size() + 1 + name.size()] = '\0';
    return p;
}

bool StringLookup::Add(std::string_view address, std::string_view name) {
    const std::uint32_t hash = NameHash(address);
    if (const int i = Find(hash, address); i >= 0) {
        const char* text = StoreText(address, name);
        if (text == nullptr) return false;
        Record& r = records_[static_cast<std::size_t>(i)];
        r.text = text;
        r.name_size = static_cast<std::uint32_t>(name.size());
        return true;
    }
    if (Count() >= capacity_) {
        const std::size_t grown = static_cast<std::size_t>(capacity_) + increment_;
        try {
            records_.reserve(grown);
        } catch (const std::exception&) {
            OutOfMemory("Add String Failed 1", static_cast<long>(grown * sizeof(Record)));
            return false;
        }
        capacity_ = static_cast<int>(grown);
    }
    std::size_t needed = 0;
    if (!index_.Reserve(records_.size() + 1, &needed)) {
        OutOfMemory("Add String Failed 1", static_cast<long>(needed));
        return false;
    }
    const char* text = StoreText(address, name);
    if (text == nullptr) return false;
    records_.push_back(Record{hash, text, static_cast<std::uint32_t>(address.size()),
                              static_cast<std::uint32_t>(name.size())});
    index_.Insert(hash, Count() - 1, text);
    return true;
}

std::optional<std::string_view> StringLookup::Lookup(std::string_view address) const {
    const int i = Find(NameHash(address), address);
    if (i < 0) return std::nullopt;
    return records_[static_cast<std::size_t>(i)].name();
}

std::string_view StringLookup::Address(int index) const {
    if (index < 0 || index >= Count()) return {};
    return records_[static_cast<std::size_t>(index)].address();
}

std::string_view StringLookup::Name(int index) const {
    if (index < 0 || index >= Count()) return {};
    return records_[static_cast<std::size_t>(index)].name();
}

bool StringLookup::Save(const std::filesystem::path& path, std::string* error) const {
    std::string out =
        "###############################################\n"
        "# DNS Cache data file\n"
        "# format: ipaddress  resolved_address\n"
        "# total addresses = " + std::to_string(Count()) + "\n"
        "###############################################\n";
    for (const Record& r : records_) {
        out.append(r.address());
        out += ',';
        out.append(r.name());
        out += '\n';
    }
    std::string reason;
    const bool written = write_file_atomically(path, out, reason);
    if (!written && error) *error = std::move(reason);
    return written;
}

bool StringLookup::Load(const std::filesystem::path& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    std::string text;
    std::array<char, 65536> block;
    for (std::size_t n; (n = std::fread(block.data(), 1, block.size(), f.get())) > 0;)
        text.append(block.data(), n);
    const std::string_view all(text);
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t start = all.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos) break;
        std::size_t end = all.find_first_of(" \t\r\n", start);
        if (end == std::string_view::npos) end = all.size();
        at = end;
        const std::string_view word = all.substr(start, end - start);
        const std::size_t comma = word.find(',');
        if (word.front() == '#' || comma == std::string_view::npos || comma == 0 ||
            comma + 1 == word.size())
            continue;
        if (!Add(word.substr(0, comma), word.substr(comma + 1))) return false;
    }
    return true;
}

}  // namespace tallowick::engine
