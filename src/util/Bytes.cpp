#include "util/Bytes.h"

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <sys/mman.h>

namespace tarvicon {

namespace {

// From this size on a buffer is mapped on its own and offered huge pages.
constexpr std::size_t kMappedFrom = std::size_t(256) << 10;

} // namespace

TByteBuffer::TByteBuffer(std::size_t size) : size_(size) {
    if (size == 0) return;
    if (size >= kMappedFrom) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, size, MADV_HUGEPAGE); // a hint: without huge pages the buffer works the same
        data_ = std::unique_ptr<std::uint8_t[], TRelease>(static_cast<std::uint8_t*>(p), TRelease{size});
        begin_ = data_.get();
        return;
    }
    data_ = std::unique_ptr<std::uint8_t[], TRelease>(static_cast<std::uint8_t*>(std::calloc(size, 1)),
                                                      TRelease{});
    if (!data_) throw std::bad_alloc();
    begin_ = data_.get();
}

TByteBuffer TByteBuffer::Adopt(std::string&& owner, std::size_t offset, std::size_t size) {
    if (offset > owner.size() || size > owner.size() - offset) throw std::out_of_range("TByteBuffer::Adopt");
    TByteBuffer buffer;
    buffer.adopted_ = std::make_unique<std::string>(std::move(owner));
    buffer.begin_ = reinterpret_cast<std::uint8_t*>(buffer.adopted_->data()) + offset;
    buffer.size_ = size;
    return buffer;
}

void TByteBuffer::TRelease::operator()(std::uint8_t* p) const {
    if (mapped)
        munmap(p, mapped);
    else
        std::free(p);
}

} // namespace tarvicon
