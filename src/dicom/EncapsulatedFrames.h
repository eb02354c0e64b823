#pragma once
// Cuts encapsulated pixel data into the codestreams of its frames.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// The items of encapsulated pixel data: the basic offset table first, then the fragments; and the
// value of the extended offset table (7FE0,0001), empty when absent. The table's lengths
// (7FE0,0002) add nothing: a frame ends where the next begins.
struct TEncapsulatedPixels {
    std::vector<std::string_view> Items;
    std::string_view ExtendedOffsets;
};

// The items of encapsulated pixel data that was read as one value (an implicit element runs to the
// end of the file): each item's content, up to a sequence delimiter, the end, or an item that does
// not fit. Empty when the value does not start with an item tag.
std::vector<std::string_view> ItemsOfValue(std::string_view value);

// The codestream of each frame, tried in this order: by the extended offset table, by the basic
// offset table, one fragment per frame when the counts agree, else by the end marker (FF D9, the
// end of a JPEG, JPEG-LS and JPEG 2000 codestream) at the end of a fragment. A single frame is
// all fragments together. A table whose entries do not fall on fragment starts in order is passed
// over. Frames made of several fragments are joined into strings kept in `joined`. Raises
// "Encapsulated pixel data holds M frames, the image N" when no way gives the frame count.
std::vector<std::string_view> CutEncapsulatedFrames(const TEncapsulatedPixels& pixels, std::size_t frames,
                                                    std::deque<std::string>& joined);

} // namespace tarvicon
