#include "engine/address_places.h"

#include <fcntl.h>
#include <maxminddb.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"
#include "engine/ip_address.h"
#include "platform/folders.h"

namespace tallowick::engine {

namespace fs = std::filesystem;

// ---- the country database -------------------------------------------------------

// An open MaxMind DB file. Country codes are read from "country_code" (the
// installed database), else from "country/iso_code" or
// "registered_country/iso_code" (the commercial and free country databases).
class CountryDatabase {
public:
    static std::unique_ptr<CountryDatabase> Open(const fs::path& file, std::string& error) {
        std::unique_ptr<CountryDatabase> db(new CountryDatabase);
        const int status = MMDB_open(file.c_str(), MMDB_MODE_MMAP, &db->mmdb_);
        if (status != MMDB_SUCCESS) {
            error = MMDB_strerror(status);
            return nullptr;
        }
        db->open_ = true;
        return db;
    }
    ~CountryDatabase() {
        if (open_) MMDB_close(&mmdb_);
    }
    CountryDatabase(const CountryDatabase&) = delete;
    CountryDatabase& operator=(const CountryDatabase&) = delete;

    // The two-letter code of an address, upper or lower case; empty when unknown.
    std::string_view CodeOf(const IpAddress& address) const {
        sockaddr_storage storage{};
        if (address.v6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
            in4->sin_family = AF_INET;
            std::memcpy(&in4->sin_addr, address.bytes.data(), 4);
        }
        int error = MMDB_SUCCESS;
        MMDB_lookup_result_s result =
            MMDB_lookup_sockaddr(&mmdb_, reinterpret_cast<const sockaddr*>(&storage), &error);
        if (error != MMDB_SUCCESS || !result.found_entry) return {};
        MMDB_entry_data_s data{};
        for (const char* const* path : {kFlatPath, kCountryPath, kRegisteredPath}) {
            if (MMDB_aget_value(&result.entry, &data, path) == MMDB_SUCCESS && data.has_data &&
                data.type == MMDB_DATA_TYPE_UTF8_STRING && data.data_size == 2)
                return {data.utf8_string, 2};
        }
        return {};
    }

private:
    CountryDatabase() = default;
    static constexpr const char* kFlatPath[] = {"country_code", nullptr};
    static constexpr const char* kCountryPath[] = {"country", "iso_code", nullptr};
    static constexpr const char* kRegisteredPath[] = {"registered_country", "iso_code", nullptr};

    MMDB_s mmdb_{};
    bool open_ = false;
};

// ---- the AS table -------------------------------------------------------------------

// A file mapped read-only for as long as the object lives. The data files are
// replaced by a rename when they are updated, so a mapped file never shrinks.
class MappedFile {
public:
    static std::optional<MappedFile> Open(const fs::path& file, std::string& error) {
        const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        MappedFile mapped;
        mapped.size_ = static_cast<std::size_t>(st.st_size);
        if (mapped.size_ == 0) return mapped;
        void* at = ::mmap(nullptr, mapped.size_, PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (at == MAP_FAILED) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        mapped.data_ = static_cast<const char*>(at);
        return mapped;
    }
    MappedFile(MappedFile&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    MappedFile& operator=(MappedFile&&) = delete;
    ~MappedFile() {
        if (data_) ::munmap(const_cast<char*>(data_), size_);
    }
    std::string_view bytes() const { return {data_, size_}; }

private:
    MappedFile() = default;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// The compact table scripts/make_as_table.py writes: sorted, non-overlapping
// ranges of IPv4 and IPv6 addresses, each with the offset of its AS name.
class AsTable {
public:
    static std::unique_ptr<AsTable> Open(const fs::path& file, std::string& error) {
        auto mapped = MappedFile::Open(file, error);
        if (!mapped) return nullptr;
        const std::string_view bytes = mapped->bytes();
        if (bytes.size() < kHeadSize || bytes.substr(0, 8) != std::string_view(kMagic, 8)) {
            error = "not an AS table";
            return nullptr;
        }
        const std::uint64_t v4 = Read32(bytes.data() + 8), v6 = Read32(bytes.data() + 12),
                            names = Read32(bytes.data() + 16);
        if (bytes.size() - kHeadSize < v4 * kV4Size + v6 * kV6Size + names) {
            error = "cut short";
            return nullptr;
        }
        std::unique_ptr<AsTable> table(new AsTable(std::move(*mapped)));
        table->v4_ = bytes.substr(kHeadSize, v4 * kV4Size);
        table->v6_ = bytes.substr(kHeadSize + v4 * kV4Size, v6 * kV6Size);
        table->names_ = bytes.substr(kHeadSize + v4 * kV4Size + v6 * kV6Size, names);
        try {
            table->IndexV4();
        } catch (const std::bad_alloc&) {
            error = "too large";
            return nullptr;
        }
        return table;
    }

    // The AS name of the range holding the address; empty when none does.
    std::string_view NameOf(const IpAddress& address) const {
        if (!address.v6) {
            const std::uint32_t a = address.v4();
            // The last range starting at or before the address: those starting
            // in the address's /16 block and before it, searched alone.
            const std::size_t block = a >> 16;
            std::size_t lo = v4_first_[block], hi = v4_first_[block + 1];
            while (lo < hi) {
                const std::size_t mid = (lo + hi) / 2;
                if (Read32(&v4_[mid * kV4Size]) <= a) lo = mid + 1; else hi = mid;
            }
            if (lo == 0) return {};
            const char* row = &v4_[(lo - 1) * kV4Size];
            return a <= Read32(row + 4) ? Name(Read32(row + 8)) : std::string_view{};
        }
        const auto* key = reinterpret_cast<const char*>(address.bytes.data());
        const std::size_t n = v6_.size() / kV6Size;
        std::size_t lo = 0, hi = n;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (std::memcmp(&v6_[mid * kV6Size], key, 16) <= 0) lo = mid + 1; else hi = mid;
        }
        if (lo == 0) return {};
        const char* row = &v6_[(lo - 1) * kV6Size];
        return std::memcmp(key, row + 16, 16) <= 0 ? Name(Read32(row + 32)) : std::string_view{};
    }

private:
    static constexpr char kMagic[] = "TWASTBL1";
    static constexpr std::size_t kHeadSize = 20, kV4Size = 12, kV6Size = 36;

    explicit AsTable(MappedFile file) : file_(std::move(file)) {}
    static std::uint32_t Read32(const char* p) {
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        return static_cast<std::uint32_t>(u[0]) | static_cast<std::uint32_t>(u[1]) << 8 |
               static_cast<std::uint32_t>(u[2]) << 16 | static_cast<std::uint32_t>(u[3]) << 24;
    }
    std::string_view Name(std::uint32_t offset) const {
        if (offset >= names_.size()) return {};
        const std::string_view rest = names_.substr(offset);
        return rest.substr(0, rest.find('\0'));
    }
    // v4_first_[b]: how many ranges start before /16 block b (of 65,536, and
    // one past the last). Ranges are sorted by their start.
    void IndexV4() {
        v4_first_.assign(kV4Blocks + 1, 0);
        const std::size_t n = v4_.size() / kV4Size;
        std::size_t next = 0;  // the next block whose first index is due
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t block = Read32(&v4_[i * kV4Size]) >> 16;
            for (; next <= block; ++next) v4_first_[next] = static_cast<std::uint32_t>(i);
        }
        for (; next <= kV4Blocks; ++next) v4_first_[next] = static_cast<std::uint32_t>(n);
    }
    static constexpr std::size_t kV4Blocks = 65536;

    MappedFile file_;
    std::string_view v4_, v6_, names_;
    std::vector<std::uint32_t> v4_first_;
};

// ---- the places ---------------------------------------------------------------------

fs::path find_ip_data_file(std::string_view name) {
    const fs::path folders[] = {platform::program_folder() / "ipdata",
                                "/usr/local/share/tallowick/ipdata", "/usr/share/tallowick/ipdata"};
    std::error_code ec;
    for (const fs::path& folder : folders)
        if (fs::is_regular_file(folder / name, ec)) return folder / name;
    return {};
}

AddressPlaces::~AddressPlaces() = default;

std::unique_ptr<AddressPlaces> AddressPlaces::ForFiles(fs::path country_file, fs::path as_file) {
    std::unique_ptr<AddressPlaces> places(new AddressPlaces);
    places->country_file_ = std::move(country_file);
    places->as_file_ = std::move(as_file);
    return places;
}

std::unique_ptr<AddressPlaces> AddressPlaces::ForSettings(const AnalysisSettings& settings) {
    if (!settings.geoip) return nullptr;
    fs::path country = settings.geoipdb.empty()
                           ? find_ip_data_file(kCountryDatabaseFile)
                           : fs::path(platform::normalise_path(settings.geoipdb));
    return ForFiles(std::move(country), find_ip_data_file(kAsTableFile));
}

void AddressPlaces::OpenFiles() {
    opened_ = true;
    std::string error;
    if (!country_file_.empty()) {
        countries_ = CountryDatabase::Open(country_file_, error);
        if (!countries_)
            ShowError("Cannot open the country database " + country_file_.string() + ": " + error);
    }
    if (!as_file_.empty()) {
        as_names_ = AsTable::Open(as_file_, error);
        if (!as_names_) ShowError("Cannot open the AS table " + as_file_.string() + ": " + error);
    }
}

bool AddressPlaces::available() {
    if (!opened_) OpenFiles();
    return countries_ || as_names_;
}

AddressPlace AddressPlaces::Look(const IpAddress& address) const {
    AddressPlace place;
    if (countries_) {
        if (const std::string_view code = countries_->CodeOf(address); !code.empty()) {
            const CountryOf c = country_of(code);
            if (c.name != kLocalNet) place.country = c;
        }
    }
    if (as_names_) place.organisation = as_names_->NameOf(address);
    return place;
}

AddressPlace AddressPlaces::PlaceOf(const IpAddress& address) {
    if (is_local_address(address)) return {{kLocalNet, kRegionNone}, {}};
    if (cache_.empty()) {
        try {
            cache_.resize(kCacheSlots);
        } catch (const std::bad_alloc&) {
            return Look(address);  // not remembered
        }
    }
    std::uint64_t h = 0;
    if (address.v6) {
        std::uint64_t high = 0, low = 0;
        std::memcpy(&high, address.bytes.data(), 8);
        std::memcpy(&low, address.bytes.data() + 8, 8);
        h = high ^ std::rotl(low, 29);
    } else {
        h = address.v4();
    }
    CachedPlace& slot = cache_[static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ULL) >> 48) &
                               (kCacheSlots - 1)];
    if (!slot.used || !(slot.address == address)) slot = {address, true, Look(address)};
    return slot.place;
}

AddressPlace AddressPlaces::FindUncached(std::string_view client) const {
    if (!opened_ || (!countries_ && !as_names_)) return {};  // as Find without databases
    const auto address = parse_ip_address(client);
    if (!address) return {};
    if (is_local_address(*address)) return {{kLocalNet, kRegionNone}, {}};
    return Look(*address);
}

void AddressPlaces::CountAsNames(std::uint64_t given) { as_names_given_ += given; }

AddressPlace AddressPlaces::Find(std::string_view client) {
    if (!available()) return {};
    const auto address = parse_ip_address(client);
    if (!address) return {};
    const AddressPlace place = PlaceOf(*address);
    if (!place.organisation.empty()) ++as_names_given_;
    return place;
}

}  // namespace tallowick::engine
