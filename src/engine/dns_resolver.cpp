#include "engine/dns_resolver.h"

#include <arpa/inet.h>
#include <ares.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <string>

namespace tallowick::engine {

namespace {

// c-ares wants one library initialisation per process before any channel.
bool library_ready(std::string& error) {
    static std::once_flag once;
    static int status = ARES_SUCCESS;
    std::call_once(once, [] { status = ares_library_init(ARES_LIB_INIT_ALL); });
    if (status != ARES_SUCCESS) error = ares_strerror(status);
    return status == ARES_SUCCESS;
}

void ptr_callback(void* query, int status, int /*timeouts*/, unsigned char* reply, int length);

// The reverse-lookup name of an address: "4.3.2.1.in-addr.arpa", or the
// nibbles of an IPv6 address backwards under "ip6.arpa".
std::string reverse_name(const IpAddress& a) {
    std::string name;
    if (!a.v6) {
        for (int i = 3; i >= 0; --i) name += std::to_string(a.bytes[static_cast<std::size_t>(i)]) + ".";
        return name + "in-addr.arpa";
    }
    constexpr char kHex[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
        const std::uint8_t b = a.bytes[static_cast<std::size_t>(i)];
        name += kHex[b & 15];
        name += '.';
        name += kHex[b >> 4];
        name += '.';
    }
    return name + "ip6.arpa";
}

// The server list c-ares takes ("addr", "addr:port", "[v6addr]:port") from
// "host", "host:port", "[v6]:port" or a bare IPv6 address; a host name is
// resolved here, once. Empty with `error` set when the host has no address.
std::string server_list(std::string_view server, std::string& error) {
    std::string host(server), port;
    if (!server.empty() && server.front() == '[') {
        const std::size_t close = server.find(']');
        host = std::string(server.substr(1, close == std::string_view::npos ? close : close - 1));
        if (close != std::string_view::npos && close + 1 < server.size() && server[close + 1] == ':')
            port = std::string(server.substr(close + 2));
    } else if (std::count(server.begin(), server.end(), ':') == 1) {
        const std::size_t colon = server.find(':');
        host = std::string(server.substr(0, colon));
        port = std::string(server.substr(colon + 1));
    }
    if (!parse_ip_address(host)) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (rc != 0 || !found) {
            error = host + ": " + gai_strerror(rc);
            return {};
        }
        std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, &freeaddrinfo);
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = found->ai_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
        inet_ntop(found->ai_family, raw, text, sizeof text);
        host = text;
    }
    const bool v6 = host.find(':') != std::string::npos;
    if (port.empty()) return host;
    return v6 ? "[" + host + "]:" + port : host + ":" + port;
}

}  // namespace

struct DnsResolver::Channel {
    ares_channel handle = nullptr;
    ~Channel() {
        if (handle) ares_destroy(handle);
    }
};

// What a look-up's callback needs; owned by c-ares between Lookup and Finished.
struct DnsResolver::Query {
    DnsResolver* resolver;
    std::uint32_t tag;
    IpAddress address;
};

DnsResolver::DnsResolver() : channel_(std::make_unique<Channel>()) {}

DnsResolver::~DnsResolver() {
    // Destroying the channel calls back every query still in flight.
    channel_.reset();
}

std::unique_ptr<DnsResolver> DnsResolver::Create(std::string_view server, std::string& error,
                                                 int timeout_ms, int tries) {
    if (!library_ready(error)) return nullptr;
    std::unique_ptr<DnsResolver> resolver(new DnsResolver);
    ares_options options{};
    options.timeout = std::max(timeout_ms, 1);
    options.tries = std::max(tries, 1);
    int mask = ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES;
    // A chosen server answers alone: the hosts file is not consulted either.
    std::string lookups = "b";
    if (!server.empty()) {
        options.lookups = lookups.data();
        mask |= ARES_OPT_LOOKUPS;
    }
    std::string servers;
    if (!server.empty() && (servers = server_list(server, error)).empty()) return nullptr;
    int status = ares_init_options(&resolver->channel_->handle, &options, mask);
    if (status == ARES_SUCCESS && !servers.empty())
        status = ares_set_servers_ports_csv(resolver->channel_->handle, servers.c_str());
    if (status != ARES_SUCCESS) {
        error = ares_strerror(status);
        return nullptr;
    }
    return resolver;
}

void DnsResolver::Lookup(const IpAddress& address, std::uint32_t tag) {
    ++in_flight_;
    auto* query = new Query{this, tag, address};  // handed back to Finished
    // A PTR query of our own rather than the library's address look-up, which
    // reports a time-out as "not found".
    ares_query(channel_->handle, reverse_name(address).c_str(), 1 /* IN */, 12 /* PTR */,
               &ptr_callback, query);
}

namespace {
void ptr_callback(void* query, int status, int, unsigned char* reply, int length) {
    DnsResolver::Finished(query, status, reply, length);
}

// The host name of a PTR reply, released with the reply's host record.
struct PtrReply {
    hostent* host = nullptr;
    ~PtrReply() {
        if (host) ares_free_hostent(host);
    }
    const char* name() const { return host ? host->h_name : nullptr; }
};
}  // namespace

void DnsResolver::Finished(void* arg, int status, const unsigned char* reply, int length) {
    std::unique_ptr<Query> query(static_cast<Query*>(arg));
    if (status == ARES_EDESTRUCTION) return;  // the resolver is going away
    PtrReply ptr;
    if (status == ARES_SUCCESS) {
        const IpAddress& a = query->address;
        status = ares_parse_ptr_reply(reply, length, a.bytes.data(), a.v6 ? 16 : 4,
                                      a.v6 ? AF_INET6 : AF_INET, &ptr.host);
    }
    const char* name = ptr.name();
    DnsResolver& self = *query->resolver;
    --self.in_flight_;
    DnsAnswer answer;
    answer.tag = query->tag;
    answer.error = status;
    if (status == ARES_SUCCESS && name && name[0]) {
        answer.name = name;
        // A reverse-lookup name handed back as the answer is no name.
        const bool reverse_name = answer.name.find(".in-addr.") != std::string::npos ||
                                  answer.name.find(".ip6.") != std::string::npos;
        answer.outcome = reverse_name ? DnsAnswer::no_name : DnsAnswer::named;
        if (reverse_name) answer.name.clear();
    } else if (status == ARES_ENOTFOUND || status == ARES_ENODATA || status == ARES_SUCCESS) {
        answer.outcome = DnsAnswer::no_name;
    } else {
        answer.outcome = DnsAnswer::unanswered;
    }
    try {
        self.answers_.push_back(std::move(answer));
    } catch (const std::bad_alloc&) {
        // The answer is lost; its hits are accounted under their address when flushed.
    }
}

void DnsResolver::Poll(int wait_ms) {
    ares_channel ch = channel_->handle;
    std::array<ares_socket_t, ARES_GETSOCK_MAXNUM> sockets{};
    const int mask = ares_getsock(ch, sockets.data(), static_cast<int>(sockets.size()));
    std::array<pollfd, ARES_GETSOCK_MAXNUM> fds{};
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(mask, i)) events |= POLLIN;
        if (ARES_GETSOCK_WRITABLE(mask, i)) events |= POLLOUT;
        if (events) fds[count++] = pollfd{sockets[static_cast<std::size_t>(i)], events, 0};
    }
    if (count == 0 && in_flight_ == 0) return;
    // Never sleep past the channel's next time-out.
    timeval max{wait_ms / 1000, (wait_ms % 1000) * 1000}, tv{};
    const timeval* due = ares_timeout(ch, &max, &tv);
    const int timeout = due ? static_cast<int>(due->tv_sec * 1000 + due->tv_usec / 1000) : wait_ms;
    const int ready = ::poll(fds.data(), count, std::max(timeout, 0));
    if (ready <= 0) {
        ares_process_fd(ch, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs only
        return;
    }
    for (nfds_t i = 0; i < count; ++i) {
        const short got = fds[i].revents;
        if (!got) continue;
        ares_process_fd(ch, got & (POLLIN | POLLERR | POLLHUP) ? fds[i].fd : ARES_SOCKET_BAD,
                        got & POLLOUT ? fds[i].fd : ARES_SOCKET_BAD);
    }
}

void DnsResolver::CancelAll() { ares_cancel(channel_->handle); }

}  // namespace tallowick::engine
