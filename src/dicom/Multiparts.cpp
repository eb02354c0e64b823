#include "dicom/Multiparts.h"

#include "util/Errors.h"
#include "util/Strings.h"

#include <charconv>

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

} // namespace tarvicon
