#include "dicom/EncapsulatedFrames.h"

#include "util/Errors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarvicon {

namespace {

// Index into the fragments of each frame's first fragment, from table offsets counted from the
// first fragment's item tag; empty when an offset is no fragment start or they are out of order.
std::vector<std::size_t> FirstFragments(std::span<const std::uint64_t> offsets,
                                        std::span<const std::string_view> fragments) {
    std::vector<std::size_t> first;
    first.reserve(offsets.size());
    std::uint64_t start = 0;
    std::size_t fragment = 0;
    for (const std::uint64_t offset : offsets) {
        while (fragment < fragments.size() && start < offset) start += 8 + fragments[fragment++].size();
        if (fragment >= fragments.size() || start != offset || (!first.empty() && first.back() >= fragment))
            return {};
        first.push_back(fragment);
    }
    return first;
}

template <typename T>
std::vector<std::uint64_t> TableEntries(std::string_view table, std::size_t frames) {
    std::vector<std::uint64_t> entries;
    if (table.size() != sizeof(T) * frames && !(sizeof(T) == 4 && table.size() > sizeof(T) * frames))
        return entries;
    entries.resize(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        T entry;
        std::memcpy(&entry, table.data() + sizeof(T) * f, sizeof(T));
        entries[f] = entry;
    }
    return entries;
}

// A fragment that ends a codestream: FF D9 as its last bytes, perhaps before one byte of padding.
bool EndsCodestream(std::string_view fragment) {
    std::size_t n = fragment.size();
    if (n >= 3 && fragment[n - 1] == '\0' && fragment[n - 2] == '\xD9') --n;
    return n >= 2 && fragment[n - 2] == '\xFF' && fragment[n - 1] == '\xD9';
}

} // namespace

std::vector<std::string_view> ItemsOfValue(std::string_view value) {
    static constexpr std::string_view kItem{"\xFE\xFF\x00\xE0", 4};
    std::vector<std::string_view> items;
    std::size_t at = 0;
    while (value.size() - at >= 8 && value.substr(at, 4) == kItem) {
        std::uint32_t length;
        std::memcpy(&length, value.data() + at + 4, 4);
        at += 8;
        if (length > value.size() - at) break;
        items.push_back(value.substr(at, length));
        at += length;
    }
    return items;
}

std::vector<std::string_view> CutEncapsulatedFrames(const TEncapsulatedPixels& pixels, std::size_t frames,
                                                    std::deque<std::string>& joined) {
    if (pixels.Items.empty() || frames == 0) return {};
    const std::span<const std::string_view> fragments = std::span(pixels.Items).subspan(1);

    std::vector<std::size_t> first;
    if (frames == 1) {
        if (!fragments.empty()) first.push_back(0);
    } else {
        if (!pixels.ExtendedOffsets.empty())
            first = FirstFragments(TableEntries<std::uint64_t>(pixels.ExtendedOffsets, frames), fragments);
        if (first.empty() && !pixels.Items[0].empty())
            first = FirstFragments(TableEntries<std::uint32_t>(pixels.Items[0], frames), fragments);
        if (first.empty() && fragments.size() == frames)
            for (std::size_t f = 0; f < frames; ++f) first.push_back(f);
        if (first.empty()) {
            for (std::size_t i = 0; i < fragments.size(); ++i)
                if (i == 0 || EndsCodestream(fragments[i - 1])) first.push_back(i);
        }
    }
    if (first.size() != frames)
        RaiseError("Encapsulated pixel data holds " + std::to_string(first.size()) + " frames, the image " +
                   std::to_string(frames));

    std::vector<std::string_view> result;
    result.reserve(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t end = f + 1 < frames ? first[f + 1] : fragments.size();
        if (end == first[f] + 1) {
            result.push_back(fragments[first[f]]);
            continue;
        }
        std::string& frame = joined.emplace_back();
        for (std::size_t i = first[f]; i < end; ++i) frame.append(fragments[i]);
        result.push_back(frame);
    }
    return result;
}

} // namespace tarvicon
