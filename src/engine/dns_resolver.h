// Reverse name look-ups, asynchronous, on the thread that calls Poll: a small
// wrapper of the c-ares channel. Look-ups are started with Lookup and their
// answers collected with Poll and TakeAnswer; nothing runs on other threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ip_address.h"

namespace tallowick::engine {

struct DnsAnswer {
    enum Outcome : std::uint8_t {
        named,        // `name` holds the host name
        no_name,      // the server says there is none (or gave a reverse-lookup name)
        unanswered,   // time-out, refused, unreachable, cancelled: worth asking again
    };
    std::uint32_t tag = 0;     // as given to Lookup
    Outcome outcome = unanswered;
    int error = 0;             // the resolver's error number when not named
    std::string name;
};

class DnsResolver {
public:
    // Create: a resolver asking `server` ("host", "host:port", "[v6]:port"), or
    // the system's resolver configuration when empty. Each query waits
    // `timeout_ms` for the first answer, doubling on each of `tries`. nullptr
    // with `error` set when the resolver cannot start.
    static std::unique_ptr<DnsResolver> Create(std::string_view server, std::string& error,
                                               int timeout_ms = 2000, int tries = 2);
    ~DnsResolver();
    DnsResolver(const DnsResolver&) = delete;
    DnsResolver& operator=(const DnsResolver&) = delete;

    // Starts the reverse look-up of `address`; its answer carries `tag`.
    void Lookup(const IpAddress& address, std::uint32_t tag);
    // Sends and receives what is due, waiting up to `wait_ms` for traffic
    // (0: only what is ready now). Finished look-ups become answers.
    void Poll(int wait_ms);
    // The finished answers since the last call, oldest first (the vector is reused).
    std::vector<DnsAnswer>& answers() { return answers_; }
    // Look-ups started and not yet answered.
    int in_flight() const { return in_flight_; }
    // Ends every look-up in flight; each becomes an unanswered answer.
    void CancelAll();

    // The end of a look-up, called from the library's callback only, with the
    // reply when there is one.
    static void Finished(void* query, int status, const unsigned char* reply, int length);

private:
    struct Channel;
    struct Query;
    DnsResolver();

    std::unique_ptr<Channel> channel_;
    std::vector<DnsAnswer> answers_;
    int in_flight_ = 0;
};

}  // namespace tallowick::engine
