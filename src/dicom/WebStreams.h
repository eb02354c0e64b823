#pragma once
// TWebStream: one HTTP GET of a whole resource into memory, read afterwards like any stream.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvicon {

// libcurl's global set-up, once, before any of its handles exists (it is not thread-safe).
void InitialiseCurl();

class TWebStream {
public:
    // Fetches the address; the HTTP client's errors pass through as its own message
    // (a status of 400 or above is an error).
    explicit TWebStream(const std::string& address);

    // The whole content.
    std::string_view Text() const { return text_; }
    std::size_t Size() const { return text_.size(); }
    std::size_t Position() const { return position_; }
    // Copies up to count bytes from the position into buffer; returns how many were copied.
    std::size_t Read(void* buffer, std::size_t count);

private:
    std::string text_;
    std::size_t position_ = 0;
};

} // namespace tarvicon
