#include "util/Bytes.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace tarvicon {

namespace {

// From this size on a buffer is mapped on its own.
constexpr std::size_t kMappedFrom = std::size_t(256) << 10;

std::size_t PageSize() {
    static const std::size_t size = [] {
        const long reported = ::sysconf(_SC_PAGESIZE);
        return reported > 0 ? std::size_t(reported) : std::size_t(4096);
    }();
    return size;
}

bool OnPage(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) % PageSize() == 0;
}

} // namespace

TByteBuffer TByteBuffer::Mapped(std::size_t length, bool huge) {
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    if (huge) madvise(p, length, MADV_HUGEPAGE); // a hint: without huge pages the buffer works the same
    TByteBuffer buffer;
    buffer.data_ = std::unique_ptr<std::uint8_t[], TRelease>(static_cast<std::uint8_t*>(p), TRelease{length});
    buffer.begin_ = buffer.data_.get();
    buffer.size_ = length;
    return buffer;
}

TByteBuffer::TByteBuffer(std::size_t size) : size_(size) {
    if (size == 0) return;
    if (size >= kMappedFrom) {
        *this = Mapped(size, true);
        return;
    }
    data_ = std::unique_ptr<std::uint8_t[], TRelease>(static_cast<std::uint8_t*>(std::calloc(size, 1)),
                                                      TRelease{});
    if (!data_) throw std::bad_alloc();
    begin_ = data_.get();
}

TByteBuffer TByteBuffer::EndingOnPage(std::size_t size) {
    return PageAt(size, size);
}

TByteBuffer TByteBuffer::PageAt(std::size_t size, std::size_t boundary) {
    if (boundary > size) throw std::out_of_range("TByteBuffer::PageAt");
    if (size < kMappedFrom) return TByteBuffer(size);
    const std::size_t page = PageSize();
    const std::size_t lead = (page - boundary % page) % page;
    // Files are read once and then either handed on page by page or freed: no huge-page hint,
    // whose fresh pages take far longer to fault in here than the small ones.
    TByteBuffer buffer = Mapped(lead + size, false);
#ifdef MADV_POPULATE_WRITE
    // The bytes are about to fill every page: fault them in with one call rather than one
    // fault per page inside the read (a hint; the pages fault in on use otherwise).
    madvise(buffer.data_.get(), lead + size, MADV_POPULATE_WRITE);
#endif
    buffer.begin_ += lead;
    buffer.size_ = size;
    return buffer;
}

TByteBuffer TByteBuffer::Adopt(std::string&& owner, std::size_t offset, std::size_t size) {
    if (offset > owner.size() || size > owner.size() - offset) throw std::out_of_range("TByteBuffer::Adopt");
    TByteBuffer buffer;
    buffer.adopted_ = std::make_unique<std::string>(std::move(owner));
    buffer.begin_ = reinterpret_cast<std::uint8_t*>(buffer.adopted_->data()) + offset;
    buffer.size_ = size;
    return buffer;
}

TByteBuffer TByteBuffer::Narrow(TByteBuffer&& whole, std::size_t offset, std::size_t size) {
    if (offset > whole.size_ || size > whole.size_ - offset) throw std::out_of_range("TByteBuffer::Narrow");
    TByteBuffer buffer = std::move(whole);
    buffer.begin_ += offset;
    buffer.size_ = size;
    return buffer;
}

void TByteBuffer::TakePages(std::size_t at, TByteBuffer&& source, std::size_t count) {
    if (at > size_ || count > size_ - at || count > source.size_)
        throw std::out_of_range("TByteBuffer::TakePages");
    std::uint8_t* target = begin_ + at;
    const std::size_t pages = IsMapped() && source.IsMapped() && OnPage(target) && OnPage(source.begin_)
                                  ? count / PageSize() * PageSize()
                                  : 0;
    if (count > pages) std::memcpy(target + pages, source.begin_ + pages, count - pages);
    bool moved = false;
    if (pages > 0) {
        // Moving replaces this buffer's pages there, so they are never faulted in, and leaves a
        // hole in source's mapping: its pages before and after go back to the system now, and
        // source forgets the mapping so that nothing is unmapped twice.
        moved = mremap(source.begin_, pages, pages, MREMAP_MAYMOVE | MREMAP_FIXED, target) != MAP_FAILED;
        if (moved) {
            std::uint8_t* const base = source.data_.get();
            const std::size_t length = source.data_.get_deleter().mapped;
            std::uint8_t* const rest = source.begin_ + pages;
            if (source.begin_ > base) munmap(base, std::size_t(source.begin_ - base));
            if (rest < base + length) munmap(rest, std::size_t(base + length - rest));
            static_cast<void>(source.data_.release());
        } else {
            std::memcpy(target, source.begin_, pages); // the mapping limit reached: copy instead
        }
    }
    source = TByteBuffer();
}

void TByteBuffer::TRelease::operator()(std::uint8_t* p) const {
    if (mapped)
        munmap(p, mapped);
    else
        std::free(p);
}

} // namespace tarvicon
