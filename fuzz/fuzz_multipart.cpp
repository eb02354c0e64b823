// The DICOMweb answers: the multipart splitter on the body after the first line (the first line
// is the Content-Type the boundary comes from), the streaming reader on the same body in chunks
// whose sizes come from the body's first byte (it must give the same parts or the same message),
// and the search answer reader on the whole input.

#include "dicom/Multiparts.h"
#include "dicom/QidoAnswers.h"
#include "util/Errors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The parts as "type|body" lines, or the message.
std::string Outcome(std::string_view body, std::string_view contentType, std::size_t chunk) {
    std::string text;
    try {
        const std::string boundary = tarvicon::MultipartBoundary(contentType);
        if (chunk == 0) {
            for (const tarvicon::TMimePart& part : tarvicon::SplitMultipart(body, boundary))
                text.append(part.ContentType).append("|").append(part.Body).append("\n");
        } else {
            tarvicon::TMultipartReader reader(boundary);
            for (std::size_t at = 0; at < body.size(); at += chunk)
                reader.Read(body.substr(at, chunk), [&](std::string&& type, tarvicon::TByteBuffer&& part) {
                    text.append(type).append("|").append(part.view()).append("\n");
                });
            reader.Finish();
        }
    } catch (const tarvicon::WException& error) {
        return std::string("error: ") + error.what();
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t line = input.find('\n');
    const std::string_view contentType = input.substr(0, line);
    const std::string_view body =
        line == std::string_view::npos ? std::string_view() : input.substr(line + 1);
    try {
        std::size_t total = 0;
        for (const tarvicon::TMimePart& part :
             tarvicon::SplitMultipart(body, tarvicon::MultipartBoundary(contentType))) {
            // Every part lies inside the body.
            if (part.Body.data() < body.data() ||
                part.Body.data() + part.Body.size() > body.data() + body.size())
                __builtin_trap();
            total += part.Body.size();
        }
        if (total > body.size()) __builtin_trap();
    } catch (const tarvicon::WException&) {
    }
    const std::size_t chunk = body.empty() ? 1 : 1 + static_cast<unsigned char>(body[0]) % 64;
    if (Outcome(body, contentType, chunk) != Outcome(body, contentType, 0)) __builtin_trap();
    try {
        tarvicon::ReadQidoAnswer(input);
    } catch (const tarvicon::WException&) {
    }
    return 0;
}
