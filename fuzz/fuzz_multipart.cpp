// The DICOMweb answers: the multipart splitter on the body after the first line (the first line
// is the Content-Type the boundary comes from) and the search answer reader on the whole input.

#include "dicom/Multiparts.h"
#include "dicom/QidoAnswers.h"
#include "util/Errors.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

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
    try {
        tarvicon::ReadQidoAnswer(input);
    } catch (const tarvicon::WException&) {
    }
    return 0;
}
