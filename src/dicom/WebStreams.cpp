#include "dicom/WebStreams.h"

#include "util/Errors.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <memory>

namespace tarvicon {

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

} // namespace

void InitialiseCurl() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) RaiseError(curl_easy_strerror(result));
}

TWebStream::TWebStream(const std::string& address) {
    InitialiseCurl();
    const std::unique_ptr<CURL, CurlDeleter> client(curl_easy_init());
    if (!client) RaiseError("Cannot create an HTTP client");
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(client.get(), CURLOPT_URL, address.c_str());
    curl_easy_setopt(client.get(), CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(client.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(client.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(client.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(client.get(), CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(client.get(), CURLOPT_WRITEDATA, &text_);
    const CURLcode result = curl_easy_perform(client.get());
    if (result != CURLE_OK)
        RaiseError(error[0] ? std::string(error) : std::string(curl_easy_strerror(result)));
}

std::size_t TWebStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, text_.size() - position_);
    if (n > 0) std::memcpy(buffer, text_.data() + position_, n);
    position_ += n;
    return n;
}

} // namespace tarvicon
