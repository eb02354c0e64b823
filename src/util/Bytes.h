#pragma once
// An owned, zero-initialised byte buffer. Large buffers come straight from the system as
// zero pages, so a full-size image that a short file only partly fills costs no extra pass.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

namespace tarvicon {

class TByteBuffer {
public:
    TByteBuffer() = default;
    explicit TByteBuffer(std::size_t size) : size_(size) {
        if (size == 0) return;
        data_.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
        if (!data_) throw std::bad_alloc();
    }

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<std::uint8_t> span() { return {data_.get(), size_}; }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> data_;
    std::size_t size_ = 0;
};

} // namespace tarvicon
