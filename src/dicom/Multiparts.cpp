#include "dicom/Multiparts.h"

#include "util/Errors.h"
#include "util/Strings.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tarvicon {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The headers of one part, from the line after its delimiter to the blank line.
struct THeaders {
    std::string ContentType;
    bool HasLength = false;
    std::size_t Length = 0;
};

THeaders ReadHeaders(std::string_view block) {
    THeaders headers;
    while (!block.empty()) {
        const std::size_t end = block.find("\r\n");
        const std::string_view line = block.substr(0, end);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = TrimSpaces(line.substr(0, colon));
        const std::string_view value = TrimSpaces(line.substr(colon + 1));
        if (EqualNoCase(name, "Content-Type"))
            headers.ContentType = std::string(value);
        else if (EqualNoCase(name, "Content-Length")) {
            const auto [next, error] =
                std::from_chars(value.data(), value.data() + value.size(), headers.Length);
            if (error != std::errc() || next != value.data() + value.size())
                RaiseError("a part has the Content-Length \"" + std::string(value) + "\"");
            headers.HasLength = true;
        }
    }
    return headers;
}

} // namespace

std::string MultipartBoundary(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    if (!StartsWithNoCase(TrimSpaces(contentType.substr(0, semicolon)), "multipart/")) return {};
    std::string_view rest =
        semicolon == std::string_view::npos ? std::string_view() : contentType.substr(semicolon + 1);
    while (!rest.empty()) {
        // A quoted value may hold ";": read the parameter's value before looking for the next one.
        const std::size_t equals = rest.find('=');
        if (equals == std::string_view::npos) return {};
        const std::string_view name = TrimSpaces(rest.substr(0, equals));
        rest.remove_prefix(equals + 1);
        rest = TrimSpaces(rest);
        std::string_view value;
        if (!rest.empty() && rest.front() == '"') {
            const std::size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) return {};
            value = rest.substr(1, close - 1);
            rest.remove_prefix(close + 1);
        } else {
            value = TrimSpaces(rest.substr(0, rest.find(';')));
            rest.remove_prefix(std::min(rest.size(), rest.find(';')));
        }
        if (EqualNoCase(name, "boundary")) return std::string(value);
        const std::size_t next = rest.find(';');
        if (next == std::string_view::npos) return {};
        rest.remove_prefix(next + 1);
    }
    return {};
}

std::vector<TMimePart> SplitMultipart(std::string_view body, std::string_view boundary) {
    if (boundary.empty()) RaiseError("the answer's Content-Type names no multipart boundary");
    const std::string delimiter = "--" + std::string(boundary);
    const std::string nextDelimiter = "\r\n" + delimiter;
    // The first delimiter opens the body or follows a preamble's line break.
    std::size_t position = 0;
    if (body.substr(0, delimiter.size()) != delimiter) {
        position = body.find(nextDelimiter);
        if (position == std::string_view::npos)
            RaiseError("the answer holds no part with the boundary \"" + std::string(boundary) + "\"");
        position += 2;
    }
    std::vector<TMimePart> parts;
    for (;;) {
        position += delimiter.size();
        const std::string_view after = body.substr(position);
        if (after.substr(0, 2) == "--") return parts;
        // Transport padding may follow a delimiter before its line break.
        std::size_t lineEnd = position;
        while (lineEnd < body.size() && (body[lineEnd] == ' ' || body[lineEnd] == '\t')) ++lineEnd;
        if (body.substr(lineEnd, 2) != "\r\n") {
            if (lineEnd + 2 > body.size()) RaiseError("the answer ends before its closing boundary");
            RaiseError("the answer's boundary \"" + std::string(boundary) + "\" is followed by other text");
        }
        const std::size_t headerStart = lineEnd + 2;
        std::size_t bodyStart;
        std::string_view headerBlock;
        if (body.substr(headerStart, 2) == "\r\n") { // a part without headers
            bodyStart = headerStart + 2;
        } else {
            const std::size_t blank = body.find("\r\n\r\n", headerStart);
            if (blank == std::string_view::npos) RaiseError("the answer ends inside a part's header");
            headerBlock = body.substr(headerStart, blank - headerStart);
            bodyStart = blank + 4;
        }
        const THeaders headers = ReadHeaders(headerBlock);
        std::size_t bodyEnd;
        if (headers.HasLength) {
            const std::size_t available = body.size() - bodyStart;
            if (headers.Length > available)
                RaiseError("the answer ends inside a part (" + std::to_string(available) + " of " +
                           std::to_string(headers.Length) + " bytes)");
            bodyEnd = bodyStart + headers.Length;
            if (body.substr(bodyEnd, nextDelimiter.size()) != nextDelimiter) {
                if (body.size() - bodyEnd < nextDelimiter.size() &&
                    std::string_view(nextDelimiter).substr(0, body.size() - bodyEnd) == body.substr(bodyEnd))
                    RaiseError("the answer ends before its closing boundary");
                RaiseError("a part does not end where its Content-Length says");
            }
        } else {
            bodyEnd = body.find(nextDelimiter, bodyStart);
            if (bodyEnd == std::string_view::npos) RaiseError("the answer ends inside a part");
        }
        parts.push_back({headers.ContentType, body.substr(bodyStart, bodyEnd - bodyStart)});
        position = bodyEnd + 2;
    }
}

TMultipartReader::TMultipartReader(std::string_view boundary)
    : boundary_(boundary), delimiter_("--" + boundary_), nextDelimiter_("\r\n" + delimiter_) {
    if (boundary.empty()) RaiseError("the answer's Content-Type names no multipart boundary");
}

void TMultipartReader::Read(std::string_view bytes, const TTake& take) {
    while (!bytes.empty() && state_ != TState::Done) {
        if (state_ == TState::Body) {
            // A sized body goes straight from the answer into its buffer.
            const std::size_t count = std::min(bytes.size(), body_.size() - filled_);
            std::memcpy(body_.data() + filled_, bytes.data(), count);
            filled_ += count;
            bytes.remove_prefix(count);
            if (filled_ == body_.size()) state_ = TState::BodyEnd;
            continue;
        }
        pending_.append(bytes);
        bytes = {};
        Process(take); // leaves nothing of a sized body behind in pending_
    }
}

void TMultipartReader::Process(const TTake& take) {
    const std::string_view all = pending_;
    std::size_t position = 0;
    for (;;) {
        const std::string_view rest = all.substr(position);
        if (state_ == TState::Opening) {
            // The first delimiter opens the body or follows a preamble's line break.
            if (rest.substr(0, delimiter_.size()) == delimiter_) {
                position += delimiter_.size();
                state_ = TState::Delimited;
                continue;
            }
            if (rest.size() < delimiter_.size() &&
                std::string_view(delimiter_).substr(0, rest.size()) == rest)
                break;
            const std::size_t found = all.find(nextDelimiter_, std::max(position, searchFrom_));
            if (found == std::string_view::npos) {
                searchFrom_ = all.size() - std::min(all.size(), nextDelimiter_.size() - 1);
                break;
            }
            position = found + nextDelimiter_.size();
            state_ = TState::Delimited;
        } else if (state_ == TState::Delimited) {
            if (rest.substr(0, 2) == "--") {
                state_ = TState::Done;
                pending_.clear();
                searchFrom_ = 0;
                return;
            }
            // Transport padding may follow a delimiter before its line break.
            std::size_t lineEnd = 0;
            while (lineEnd < rest.size() && (rest[lineEnd] == ' ' || rest[lineEnd] == '\t')) ++lineEnd;
            if (lineEnd + 2 > rest.size()) break;
            if (rest.substr(lineEnd, 2) != "\r\n")
                RaiseError("the answer's boundary \"" + boundary_ + "\" is followed by other text");
            position += lineEnd + 2;
            state_ = TState::Headers;
        } else if (state_ == TState::Headers) {
            if (rest.size() < 2) break;
            std::string_view block;
            if (rest.substr(0, 2) == "\r\n") { // a part without headers
                position += 2;
            } else {
                const std::size_t blank = rest.find("\r\n\r\n");
                if (blank == std::string_view::npos) break;
                block = rest.substr(0, blank);
                position += blank + 4;
            }
            const THeaders headers = ReadHeaders(block);
            contentType_ = headers.ContentType;
            if (headers.HasLength && headers.Length <= kPlacedLength) {
                body_ = TByteBuffer::EndingOnPage(headers.Length);
                filled_ = std::min(headers.Length, all.size() - position);
                if (filled_ > 0) std::memcpy(body_.data(), all.data() + position, filled_);
                position += filled_;
                state_ = filled_ == headers.Length ? TState::BodyEnd : TState::Body;
                if (state_ == TState::Body) break; // the rest of the body comes with later bytes
            } else if (headers.HasLength) {
                // Memory for a longer part is taken only as its bytes arrive: a Content-Length
                // is the sender's word.
                expected_ = headers.Length;
                state_ = TState::LongBody;
            } else {
                searchFrom_ = position;
                state_ = TState::Unsized;
            }
        } else if (state_ == TState::LongBody) {
            if (rest.size() < expected_) break;
            body_ = TByteBuffer::EndingOnPage(expected_);
            std::memcpy(body_.data(), rest.data(), expected_);
            position += expected_;
            state_ = TState::BodyEnd;
        } else if (state_ == TState::BodyEnd) {
            const std::size_t compared = std::min(rest.size(), nextDelimiter_.size());
            if (rest.substr(0, compared) != std::string_view(nextDelimiter_).substr(0, compared))
                RaiseError("a part does not end where its Content-Length says");
            if (compared < nextDelimiter_.size()) break;
            filled_ = 0;
            take(std::move(contentType_), std::move(body_));
            position += nextDelimiter_.size();
            state_ = TState::Delimited;
        } else if (state_ == TState::Unsized) {
            const std::size_t found = all.find(nextDelimiter_, std::max(position, searchFrom_));
            if (found == std::string_view::npos) {
                searchFrom_ =
                    std::max(position, all.size() - std::min(all.size(), nextDelimiter_.size() - 1));
                break;
            }
            TByteBuffer body = TByteBuffer::EndingOnPage(found - position);
            if (!body.empty()) std::memcpy(body.data(), all.data() + position, body.size());
            take(std::move(contentType_), std::move(body));
            position = found + nextDelimiter_.size();
            state_ = TState::Delimited;
        } else {
            break; // Body and Done: nothing more to find here
        }
    }
    pending_.erase(0, position);
    searchFrom_ -= std::min(searchFrom_, position);
}

void TMultipartReader::Finish() const {
    switch (state_) {
    case TState::Done:
        return;
    case TState::Opening:
        RaiseError("the answer holds no part with the boundary \"" + boundary_ + "\"");
    case TState::Headers:
        RaiseError("the answer ends inside a part's header");
    case TState::Body:
        RaiseError("the answer ends inside a part (" + std::to_string(filled_) + " of " +
                   std::to_string(body_.size()) + " bytes)");
    case TState::LongBody:
        RaiseError("the answer ends inside a part (" + std::to_string(pending_.size()) + " of " +
                   std::to_string(expected_) + " bytes)");
    case TState::Unsized:
        RaiseError("the answer ends inside a part");
    case TState::Delimited:
    case TState::BodyEnd:
        break;
    }
    RaiseError("the answer ends before its closing boundary");
}

} // namespace tarvicon
