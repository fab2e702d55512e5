#include "engine/string_lookup.h"

#include <algorithm>
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

bool StringLookup::Save(const std::filesystem::path& path) const {
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
    std::string error;
    return write_file_atomically(path, out, error);
}

}  // namespace tallowick::engine
