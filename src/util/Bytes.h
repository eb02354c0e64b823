#pragma once
// An owned, zero-initialised byte buffer. Buffers from 256 KiB on come straight from the system as
// zero pages, so a full-size image that a short file only partly fills costs no extra pass;
// they are also offered huge pages, which cut the address-translation misses of walks across a
// volume (a sagittal slice touches one cache line per pixel).
//
// Mapped buffers can hand their whole pages to another mapped buffer (TakePages): a file's
// pixels then become a slice of a volume without being copied and without the volume faulting
// in fresh pages for them, which on these machines costs more than the copy itself.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tarvicon {

class TByteBuffer {
public:
    TByteBuffer() = default;
    explicit TByteBuffer(std::size_t size);
    // `size` zero bytes placed so that they end on a page boundary (mapped from 256 KiB on, with
    // no huge-page hint): a file read into it whose pixel data closes it with whole pages can
    // hand those pages over with TakePages.
    static TByteBuffer EndingOnPage(std::size_t size);
    // `size` zero bytes placed so that offset `boundary` (at most `size`) falls on a page
    // boundary, mapped and faulted in as EndingOnPage: an answer whose file ends some bytes
    // before the answer does.
    static TByteBuffer PageAt(std::size_t size, std::size_t boundary);
    // Takes over a string and stands for its `size` bytes from `offset` on (which must lie
    // inside it): bytes read from a file become the buffer without a copy.
    static TByteBuffer Adopt(std::string&& owner, std::size_t offset, std::size_t size);
    // Takes over a buffer and stands for its `size` bytes from `offset` on (which must lie
    // inside it), keeping the rest of its memory until it goes.
    static TByteBuffer Narrow(TByteBuffer&& whole, std::size_t offset, std::size_t size);
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

    // Stands for the first `size` bytes only (nothing changes when size is not smaller).
    void Truncate(std::size_t size) { size_ = size < size_ ? size : size_; }

    // Puts the first `count` bytes of source at offset `at` of this buffer and empties source.
    // Where both buffers are mapped and both places start on a page, the whole pages move from
    // source's mapping into this one (source's other pages go back to the system); the rest,
    // and everything when the system refuses the move, is copied. Raises std::out_of_range when
    // the bytes do not fit or source holds fewer.
    void TakePages(std::size_t at, TByteBuffer&& source, std::size_t count);

    std::uint8_t* data() { return begin_; }
    const std::uint8_t* data() const { return begin_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<std::uint8_t> span() { return {begin_, size_}; }
    std::span<const std::uint8_t> span() const { return {begin_, size_}; }
    std::string_view view() const { return {reinterpret_cast<const char*>(begin_), size_}; }

private:
    struct TRelease {
        TRelease() : mapped(0) {}
        explicit TRelease(std::size_t bytes) : mapped(bytes) {}
        void operator()(std::uint8_t* p) const;
        std::size_t mapped; // bytes mapped straight from the system, 0 for the heap
    };
    static TByteBuffer Mapped(std::size_t length, bool huge);
    bool IsMapped() const { return data_ && data_.get_deleter().mapped != 0; }

    std::unique_ptr<std::uint8_t[], TRelease> data_;
    std::unique_ptr<std::string> adopted_;
    std::uint8_t* begin_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tarvicon
