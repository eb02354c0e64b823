#pragma once
// An owned, zero-initialised byte buffer. Buffers from 256 KiB on come straight from the system as
// zero pages, so a full-size image that a short file only partly fills costs no extra pass;
// they are also offered huge pages, which cut the address-translation misses of walks across a
// volume (a sagittal slice touches one cache line per pixel).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tarvicon {

class TByteBuffer {
public:
    TByteBuffer() = default;
    explicit TByteBuffer(std::size_t size);

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<std::uint8_t> span() { return {data_.get(), size_}; }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

private:
    struct TRelease {
        TRelease() : mapped(0) {}
        explicit TRelease(std::size_t bytes) : mapped(bytes) {}
        void operator()(std::uint8_t* p) const;
        std::size_t mapped; // bytes mapped straight from the system, 0 for the heap
    };
    std::unique_ptr<std::uint8_t[], TRelease> data_;
    std::size_t size_ = 0;
};

} // namespace tarvicon
