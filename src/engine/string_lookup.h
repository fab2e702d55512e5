// The address-to-name table of the DNS cache: resolved names by client address,
// kept for the run and saved to "dnscache.dat" between runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/table_storage.h"

namespace tallowick::engine {

// Growth step of the DNS table.
inline constexpr int kDNSListIncr = 1000;

// `StringLookup`: address -> name. An address is found by its (unfolded) name
// hash together with the address text, so colliding addresses stay apart.
class StringLookup {
public:
    // A table that grows by `increment` entries; nullptr when the memory cannot
    // be had ("Process(), new StringLookup(kDNSListIncr,FALSE);" is reported).
    static std::unique_ptr<StringLookup> Create(int increment = kDNSListIncr);

    StringLookup(const StringLookup&) = delete;
    StringLookup& operator=(const StringLookup&) = delete;

    // Add: records name for address; a later Add for the same address replaces
    // the name. False when the table cannot grow ("Add String Failed 1") or the
    // text cannot be stored ("Add String Failed"); the table is then unchanged.
    bool Add(std::string_view address, std::string_view name);
    // Lookup: the name recorded for address, or nullopt.
    std::optional<std::string_view> Lookup(std::string_view address) const;

    int Count() const { return static_cast<int>(records_.size()); }
    int Capacity() const { return capacity_; }
    int Increment() const { return increment_; }
    // Entries in the order they were first added; empty outside 0..Count()-1.
    std::string_view Address(int index) const;
    std::string_view Name(int index) const;

    // `Save`: writes the table as "dnscache.dat" (comment header, then one
    // "address,name" line per entry), replacing the file atomically. False when
    // the file cannot be written; `error` then holds the path and the reason.
    bool Save(const std::filesystem::path& path, std::string* error = nullptr) const;
    // `Load`: adds the entries of a cache file: blank-separated words, each
    // "address,name" split at its first ","; words beginning with "#" (the
    // header) and words without an address or a name are passed over. False
    // when the file cannot be read (a missing cache is no error) or memory ran out.
    bool Load(const std::filesystem::path& path);

private:
    explicit StringLookup(int increment) : increment_(increment) {}

    struct Record {
        std::uint32_t hash = 0;
        // One piece of arena memory: the address, a NUL, the name and a NUL.
        const char* text = nullptr;
        std::uint32_t address_size = 0;
        std::uint32_t name_size = 0;
        std::string_view address() const { return {text, address_size}; }
        std::string_view name() const { return {text + address_size + 1, name_size}; }
    };

    int Find(std::uint32_t hash, std::string_view address) const;
    const char* StoreText(std::string_view address, std::string_view name);

    int increment_;
    int capacity_ = 0;
    detail::TryVector<Record> records_;
    detail::HashIndex index_;
    detail::NameArena texts_;
};

}  // namespace tallowick::engine
