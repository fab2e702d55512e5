#include "engine/name_resolution.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "base/status.h"
#include "engine/dns_resolver.h"
#include "engine/ip_address.h"

namespace tallowick::engine {
namespace {

// Held hits waiting for answers; past this many the run waits for answers
// before reading on, so that a slow resolver cannot fill the memory.
constexpr std::size_t kMaxHeldHits = 100000;
// The longest single wait for traffic, so that a cancel is seen promptly.
constexpr int kPollSliceMs = 255;

using Text = std::string_view logs::HitRecord::*;
constexpr std::array<Text, 11> kTextFields = {
    &logs::HitRecord::time,   &logs::HitRecord::status, &logs::HitRecord::client,
    &logs::HitRecord::url,    &logs::HitRecord::agent,  &logs::HitRecord::referrer,
    &logs::HitRecord::user,   &logs::HitRecord::server, &logs::HitRecord::method,
    &logs::HitRecord::source, &logs::HitRecord::extra};

std::string Format(const char* fmt, long a, long b = 0, long c = 0) {
    char buf[96];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

// A client worth looking up: what begins with a digit other than "0", or
// holds ":" (IPv6).
bool may_be_address(std::string_view client) {
    return !client.empty() && ((client.front() >= '1' && client.front() <= '9') ||
                               client.find(':') != std::string_view::npos);
}

}  // namespace

// A hit copied whole: its numbers in `record`, its texts one after another in
// `text`. Held hits are reused, so copying one allocates only while the pool grows.
struct NameResolution::HeldHit {
    logs::HitRecord record;
    std::string text;
    std::array<std::uint32_t, kTextFields.size()> sizes{};
    HeldHitContext context;

    void Copy(const logs::HitRecord& hit, const HeldHitContext& c) {
        record = hit;
        context = c;
        text.clear();
        for (std::size_t i = 0; i < kTextFields.size(); ++i) {
            const std::string_view field = hit.*kTextFields[i];
            text.append(field);
            sizes[i] = static_cast<std::uint32_t>(field.size());
        }
    }
    // Points the record's texts into `text` again.
    logs::HitRecord& Rebuilt() {
        std::size_t at = 0;
        for (std::size_t i = 0; i < kTextFields.size(); ++i) {
            record.*kTextFields[i] = std::string_view(text).substr(at, sizes[i]);
            at += sizes[i];
        }
        return record;
    }
};

// One look-up in flight and the hits waiting for it.
struct NameResolution::Pending {
    std::string address;
    std::vector<std::unique_ptr<HeldHit>> hits;
};

NameResolution::~NameResolution() = default;

std::unique_ptr<NameResolution> NameResolution::Start(const AnalysisSettings& settings,
                                                      std::filesystem::path cache_file,
                                                      AccountHeldHit account,
                                                      std::function<bool()> cancelled) {
    if (settings.dns_mode != kDnsOn && settings.dns_mode != kDnsCache) return nullptr;
    std::unique_ptr<NameResolution> names(new (std::nothrow) NameResolution);
    if (!names) return nullptr;
    names->mode_ = settings.dns_mode;
    names->max_in_flight_ = std::max<int>(settings.dns_amount, 1);
    names->wait_seconds_ = std::max(settings.dns_wait, 0);
    names->cache_file_ = std::move(cache_file);
    names->account_ = std::move(account);
    names->cancelled_ = std::move(cancelled);
    names->table_ = StringLookup::Create(kDNSListIncr);
    if (!names->table_) return nullptr;
    // A cache that cannot be read is passed over: the run looks the names up again.
    names->table_->Load(names->cache_file_);
    names->loaded_ = names->table_->Count();
    if (names->mode_ == kDnsOn) {
        std::string error;
        names->resolver_ = DnsResolver::Create(settings.dns_server, error);
        if (!names->resolver_) ShowError("Couldn't open up the name resolver: " + error);
    }
    return names;
}

void NameResolution::Hold(Pending& pending, const logs::HitRecord& hit,
                          const HeldHitContext& context) {
    std::unique_ptr<HeldHit> held;
    if (!spare_hits_.empty()) {
        held = std::move(spare_hits_.back());
        spare_hits_.pop_back();
    } else {
        held = std::make_unique<HeldHit>();
    }
    held->Copy(hit, context);
    pending.hits.push_back(std::move(held));
    ++held_hits_;
}

bool NameResolution::UseCached(std::string_view& client) const {
    const auto name = table_->Lookup(client);
    if (!name) return false;
    if (!name->empty()) client = *name;
    return true;
}

bool NameResolution::StartLookup(std::string_view client, const IpAddress& address) {
    std::uint32_t tag;
    if (!free_slots_.empty()) {
        tag = free_slots_.back();
        free_slots_.pop_back();
    } else {
        tag = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    slots_[tag].address.assign(client);
    pending_.emplace(std::string(client), tag);
    ++submitted_;
    resolver_->Lookup(address, tag);
    // A look-up that cannot even be sent is answered inside Lookup.
    TakeAnswers(lines_);
    return pending_.contains(client);
}

bool NameResolution::Resolve(logs::HitRecord& hit, const HeldHitContext& context,
                             std::string_view& client) {
    if (!may_be_address(client) || UseCached(client) || !resolver_) return true;
    try {
        std::optional<IpAddress> address;
        const bool pending = pending_.contains(client);
        if (!pending && !(address = parse_ip_address(client))) return true;
        // Room for one more held hit, and for one more look-up when it needs one.
        while (!cancelled_() &&
               (held_hits_ >= kMaxHeldHits ||
                (!pending && static_cast<int>(pending_.size()) >= max_in_flight_)))
            Poll(kPollSliceMs, lines_);
        if (cancelled_() || UseCached(client)) return true;
        // While waiting, the address's own look-up may have ended without an answer.
        if (!pending_.contains(client)) {
            if (!address) address = parse_ip_address(client);
            if (!address || !StartLookup(client, *address)) return true;
        }
        Hold(slots_[pending_.find(client)->second], hit, context);
        return false;
    } catch (const std::bad_alloc&) {
        OutOfMemory("Name look-up", static_cast<long>(sizeof(HeldHit)));
        return true;
    }
}

void NameResolution::Answered(std::uint32_t tag, bool named, bool cache, std::string_view name) {
    if (tag >= slots_.size()) return;
    Pending& slot = slots_[tag];
    const auto it = pending_.find(slot.address);
    if (it == pending_.end() || it->second != tag) return;
    std::string_view client = slot.address;
    if (cache) {
        if (!table_->Lookup(slot.address)) table_->Add(slot.address, named ? name : slot.address);
        if (const auto stored = table_->Lookup(slot.address)) client = *stored;
    } else if (named) {
        client = name;
    }
    // The address goes out of the pending set before the hits are counted.
    pending_.erase(it);
    ++finished_;
    for (auto& held : slot.hits) {
        account_(held->Rebuilt(), client, held->context);
        --held_hits_;
        spare_hits_.push_back(std::move(held));
    }
    slot.hits.clear();
    free_slots_.push_back(tag);
}

void NameResolution::TakeAnswers(std::int64_t lines) {
    if (!resolver_) return;
    auto& answers = resolver_->answers();
    if (answers.empty()) return;
    // Answers are taken out first: counting a hit can take long, and nothing
    // it does may see this vector half-processed.
    std::vector<DnsAnswer> taken;
    taken.swap(answers);
    for (DnsAnswer& a : taken) {
        if (a.outcome != DnsAnswer::named)
            ShowStatus(Format("DNR failed - %d", a.error));
        // An address without a name is cached as itself; one that got no
        // answer at all is asked again by the next run.
        Answered(a.tag, a.outcome == DnsAnswer::named, a.outcome != DnsAnswer::unanswered,
                 a.name);
        ShowStatus(Format("Lines %d, Resolving %d/%d", static_cast<long>(lines),
                          static_cast<long>(finished_), static_cast<long>(submitted_)));
    }
    taken.clear();
    if (answers.empty()) answers.swap(taken);  // keep the grown buffer
}

void NameResolution::Poll(int wait_ms, std::int64_t lines) {
    lines_ = lines;
    if (!resolver_ || pending_.empty()) return;
    resolver_->Poll(wait_ms);
    TakeAnswers(lines);
}

void NameResolution::GiveUp() {
    resolver_->CancelAll();
    TakeAnswers(lines_);
    // Whatever is still pending never got an answer: counted under its address.
    while (!pending_.empty()) Answered(pending_.begin()->second, false, false, {});
}

void NameResolution::EndOfLog(std::int64_t lines) {
    if (!resolver_) return;
    using Clock = std::chrono::steady_clock;
    Poll(0, lines);
    const auto start = Clock::now();
    for (int waited = 0; !pending_.empty() && waited < wait_seconds_ && !cancelled_(); ++waited) {
        ShowStatus(Format("Lines %d, DNR remaining %d, TTL %d", static_cast<long>(lines),
                          static_cast<long>(pending_.size()), wait_seconds_ - waited));
        const auto until = start + std::chrono::seconds(waited + 1);
        while (!pending_.empty() && !cancelled_()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) break;
            Poll(static_cast<int>(std::min<long long>(left, kPollSliceMs)), lines);
        }
    }
    if (!pending_.empty()) {
        GiveUp();
        ShowStatus("Flushing Remainder...");
    }
}

void NameResolution::Finish() {
    ShowStatus("DNS Completed");
    // An unchanged table leaves the file as it is.
    if (table_->Count() == loaded_) return;
    std::string error;
    if (table_->Save(cache_file_, &error))
        loaded_ = table_->Count();
    else
        ShowError("Couldn't write the DNS cache: " + error);
}

}  // namespace tallowick::engine
