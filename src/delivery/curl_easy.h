// One libcurl easy handle of the delivery code (FTP upload, SMTP, page titles),
// cleaned up with its owner. libcurl is initialised once per process on first
// use. The library's own header stays in the .cpp files that set options.
#pragma once

#include <array>
#include <string>

namespace tallowick::delivery {

class CurlEasy {
public:
    CurlEasy();
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    // The CURL* handle (libcurl declares CURL as void); null when libcurl could
    // not make one.
    void* get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Runs the transfer set up on the handle. Returns libcurl's result code (0
    // for success); error_text() then says what went wrong.
    int perform();
    // libcurl's detailed text of the last failure, or its general text of the code.
    std::string error_text() const;

private:
    void* handle_ = nullptr;
    int last_result_ = 0;
    std::array<char, 256> error_{};
};

}  // namespace tallowick::delivery
