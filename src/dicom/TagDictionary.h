#pragma once
// The fixed table of element names the reader knows, searched from its first row to its last.

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvicon {

// How an element without a recognised explicit VR is read.
enum class TReadRule : std::uint8_t {
    None,  // text whose 16-bit length stood where the VR would be
    US,    // one unsigned 16-bit value
    Pixel, // pixel data running to the end of the file
};

struct TTagEntry {
    std::uint16_t Group;
    std::uint16_t Element;
    std::string_view Name;
    TReadRule Rule;
};

// All rows in table order.
std::span<const TTagEntry> TagDictionary();

// The first row whose group and element both match, or nullptr.
const TTagEntry* FindTag(std::uint16_t group, std::uint16_t element);

} // namespace tarvicon
