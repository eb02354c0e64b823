#include "util/Bytes.h"

#include "support/TestSupport.h"
#include "util/Files.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace tarvicon {
namespace {

const std::size_t kPage = std::size_t(::sysconf(_SC_PAGESIZE));

void Fill(TByteBuffer& buffer, std::uint8_t salt) {
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer.data()[i] = std::uint8_t(i * 7 + salt + i / kPage);
}

// The page holding p is no longer mapped.
bool Unmapped(const void* p) {
    unsigned char resident = 0;
    void* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(p) / kPage * kPage);
    return ::mincore(page, kPage, &resident) != 0 && errno == ENOMEM;
}

TEST(ByteBuffer, BuffersForFilesEndOnAPage) {
    for (const std::size_t size :
         {std::size_t(256) << 10, (std::size_t(1) << 20) + 123, 3 * kPage * 100 + 1}) {
        const TByteBuffer buffer = TByteBuffer::EndingOnPage(size);
        ASSERT_EQ(buffer.size(), size);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data() + size) % kPage, 0u) << size;
        EXPECT_EQ(std::count(buffer.view().begin(), buffer.view().end(), '\0'), std::ptrdiff_t(size));
    }
    EXPECT_EQ(TByteBuffer::EndingOnPage(5).size(), 5u); // small ones live on the heap
}

TEST(ByteBuffer, TakePagesMovesWholePagesAndCopiesTheRest) {
    struct TCase {
        const char* Name;
        std::size_t SourceSize; // EndingOnPage; below 256 KiB the heap
        std::size_t Offset;     // into the source
        std::size_t At;         // into the target of 300 pages
        std::size_t Count;
        bool Moves;
    };
    const std::size_t big = 100 * kPage + 123;
    const TCase cases[] = {
        {"whole pages", big, 123, 10 * kPage, 100 * kPage, true},
        {"pages and a tail", big, 123, 10 * kPage, 99 * kPage + 50, true},
        {"source off its pages", big, 100, 10 * kPage, 90 * kPage, false},
        {"target off its pages", big, 123, 10 * kPage + 2, 90 * kPage, false},
        {"source on the heap", 5 * kPage, 0, 0, 5 * kPage, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TByteBuffer whole = TByteBuffer::EndingOnPage(c.SourceSize);
        Fill(whole, 3);
        const std::string expected(whole.view().substr(c.Offset, c.Count));
        TByteBuffer source = TByteBuffer::Narrow(std::move(whole), c.Offset, c.SourceSize - c.Offset);
        const std::uint8_t* const first = source.data();
        const std::uint8_t* const head = first - 1; // the page before: the lead of the mapping
        TByteBuffer target(300 * kPage);
        target.TakePages(c.At, std::move(source), c.Count);
        EXPECT_TRUE(source.empty());
        EXPECT_EQ(target.view().substr(c.At, c.Count), expected);
        EXPECT_EQ(target.data()[c.At + c.Count], 0); // nothing beyond
        if (c.Moves) {
            // The source's pages went: the moved ones into the target, the others back.
            EXPECT_TRUE(Unmapped(first));
            EXPECT_TRUE(Unmapped(head));
        }
    }
}

TEST(ByteBuffer, TakePagesRefusesWhatDoesNotFit) {
    TByteBuffer target(4 * kPage);
    TByteBuffer source(2 * kPage);
    EXPECT_THROW(target.TakePages(3 * kPage, std::move(source), 2 * kPage), std::out_of_range);
    EXPECT_EQ(source.size(), 2 * kPage); // kept on refusal
    EXPECT_THROW(target.TakePages(0, std::move(source), 3 * kPage), std::out_of_range);
}

TEST(ByteBuffer, FilesAreReadWholeIntoBuffersThatEndOnAPage) {
    const test::TTempDir folder;
    for (const std::size_t size :
         {std::size_t(0), std::size_t(5), std::size_t(300) << 10, (std::size_t(1) << 20) + 3}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = char(i * 13 + i / 4096);
        const auto path = folder.Path() / std::to_string(size);
        test::WriteFile(path, content);
        const TByteBuffer bytes = ReadFileBytes(path.string());
        EXPECT_TRUE(bytes.view() == content) << size;
        if (size >= (std::size_t(256) << 10)) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes.data() + size) % kPage, 0u) << size;
        }
    }
    const std::string missing = (folder.Path() / "none").string();
    EXPECT_EQ(test::ErrorOf([&] { ReadFileBytes(missing); }),
              "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(test::ErrorOf([&] { ReadFileBytes(folder.Path().string()); }),
              "Cannot open file \"" + folder.Path().string() + "\". Is a directory");
}

} // namespace
} // namespace tarvicon
