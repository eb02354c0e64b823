#pragma once
// An owned, zero-initialised byte buffer. Buffers from 256 KiB on come straight from the system as
// zero pages, so a full-size image that a short file only partly fills costs no extra pass;
// they are also offered huge pages, which cut the address-translation misses of walks across a
// volume (a sagittal slice touches one cache line per pixel).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace tarvicon {

class TByteBuffer {
public:
    TByteBuffer() = default;
    explicit TByteBuffer(std::size_t size);
    // Takes over a string and stands for its `size` bytes from `offset` on (which must lie
    // inside it): bytes read from a file become the buffer without a copy.
    static TByteBuffer Adopt(std::string&& owner, std::size_t offset, std::size_t size);
    // A moved-from buffer is empty.
    TByteBuffer(TByteBuffer&& other) noexcept
        : data_(std::move(other.data_)), adopted_(std::move(other.adopted_)),
          begin_(std::exchange(other.begin_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    TByteBuffer& operator=(TByteBuffer&& other) noexcept {
        data_ = std::move(other.data_);
        adopted_ = std::move(other.adopted_);
        begin_ = std::exchange(other.begin_, nullptr);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    std::uint8_t* data() { return begin_; }
    const std::uint8_t* data() const { return begin_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<std::uint8_t> span() { return {begin_, size_}; }
    std::span<const std::uint8_t> span() const { return {begin_, size_}; }

private:
    struct TRelease {
        TRelease() : mapped(0) {}
        explicit TRelease(std::size_t bytes) : mapped(bytes) {}
        void operator()(std::uint8_t* p) const;
        std::size_t mapped; // bytes mapped straight from the system, 0 for the heap
    };
    std::unique_ptr<std::uint8_t[], TRelease> data_;
    std::unique_ptr<std::string> adopted_;
    std::uint8_t* begin_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tarvicon
