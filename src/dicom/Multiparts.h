#pragma once
// Splitting a multipart/related HTTP answer (the DICOMweb retrieval's answer) into its parts.
// The parts are views into the answer; nothing is read outside it.

#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// One part of a multipart answer: its Content-Type header and its body.
struct TMimePart {
    std::string ContentType;
    std::string_view Body;
};

// The boundary parameter of a multipart Content-Type (quotes removed); empty when the type is
// not multipart or names no boundary.
std::string MultipartBoundary(std::string_view contentType);

// The parts of a multipart body between its delimiters. Raises a WException that says what is
// wrong: no delimiter with the boundary, an answer that ends inside a part's header or body or
// before the closing delimiter, a part longer or shorter than its Content-Length.
std::vector<TMimePart> SplitMultipart(std::string_view body, std::string_view boundary);

} // namespace tarvicon
