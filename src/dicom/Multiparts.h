#pragma once
// Splitting a multipart/related HTTP answer (the DICOMweb retrieval's answer) into its parts.
// The parts are views into the answer; nothing is read outside it.

#include "util/Bytes.h"

#include <functional>
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

// Reads a multipart body as it arrives and hands each part out as soon as it is whole, with the
// parts, the rules and the messages of SplitMultipart. A part that announces its Content-Length
// (up to 64 MiB) is written straight into a buffer ending on a page (TByteBuffer::EndingOnPage),
// so a DICOM file whose pixels close it can move them into a volume without a copy. Whatever
// follows the closing delimiter is ignored.
class TMultipartReader {
public:
    using TTake = std::function<void(std::string&& contentType, TByteBuffer&& body)>;

    // Raises "the answer's Content-Type names no multipart boundary" for an empty boundary.
    explicit TMultipartReader(std::string_view boundary);
    // The next bytes of the body; each part they complete goes to `take` in order. Raises what
    // SplitMultipart raises as soon as the bytes show it.
    void Read(std::string_view bytes, const TTake& take);
    // The body has ended: raises when it ended before its closing delimiter.
    void Finish() const;
    bool Done() const { return state_ == TState::Done; }

private:
    // Parts announced up to this long get their page-ending buffer at once.
    static constexpr std::size_t kPlacedLength = std::size_t(64) << 20;
    enum class TState { Opening, Delimited, Headers, Body, LongBody, BodyEnd, Unsized, Done };
    void Process(const TTake& take);

    std::string boundary_;
    std::string delimiter_;     // "--" boundary
    std::string nextDelimiter_; // CRLF "--" boundary
    TState state_ = TState::Opening;
    std::string pending_;        // bytes not read yet (outside a sized part's body)
    std::size_t searchFrom_ = 0; // where in pending_ the delimiter may still begin
    std::string contentType_;
    TByteBuffer body_; // a sized part's body as it fills
    std::size_t filled_ = 0;
    std::size_t expected_ = 0; // a long part's announced length
};

} // namespace tarvicon
