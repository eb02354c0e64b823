#pragma once
// Inflation of a deflated data set (transfer syntax 1.2.840.10008.1.2.1.99): raw deflate, no
// zlib or gzip wrapper.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvicon {

// The inflated bytes of a raw deflate stream. Raises "Deflated data set is cut short" for a stream
// that ends before its last block, "Deflated data set is damaged: " + zlib's reason for one that
// is not deflate, and "Deflated data set inflates to more than N MiB" past limit bytes.
std::string InflateRaw(std::string_view deflated, std::size_t limit);

} // namespace tarvicon
