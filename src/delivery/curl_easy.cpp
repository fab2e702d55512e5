#include "delivery/curl_easy.h"

#include <curl/curl.h>

#include <mutex>

namespace tallowick::delivery {

CurlEasy::CurlEasy() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    handle_ = curl_easy_init();
    if (!handle_) return;
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, error_.data());
    // The run's worker thread must never get SIGALRM from name look-ups.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, "Tallowick");
}

CurlEasy::~CurlEasy() {
    if (handle_) curl_easy_cleanup(handle_);
}

int CurlEasy::perform() {
    error_[0] = '\0';
    last_result_ = handle_ ? curl_easy_perform(handle_) : CURLE_FAILED_INIT;
    return last_result_;
}

std::string CurlEasy::error_text() const {
    if (error_[0] != '\0') return error_.data();
    return curl_easy_strerror(static_cast<CURLcode>(last_result_));
}

}  // namespace tallowick::delivery
