#include "dicom/Inflate.h"

#include "util/Errors.h"

#include <memory>
#include <zlib.h>

namespace tarvicon {

namespace {

struct TInflateEnd {
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

} // namespace

std::string InflateRaw(std::string_view deflated, std::size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) RaiseError("Deflated data set: zlib cannot start");
    const std::unique_ptr<z_stream, TInflateEnd> owner(&stream);

    std::string out;
    // Deflate rarely shrinks a data set more than fourfold; the buffer grows as needed, never past
    // the limit, so a small stream that claims to be huge costs nothing until it inflates.
    out.resize(std::min<std::size_t>(limit, std::max<std::size_t>(deflated.size() * 4, 4096)));
    std::size_t done = 0, fed = 0;
    for (;;) {
        if (done == out.size()) {
            if (out.size() >= limit)
                RaiseError("Deflated data set inflates to more than " + std::to_string(limit >> 20) + " MiB");
            out.resize(std::min(limit, out.size() * 2));
        }
        // zlib counts in 32 bits: feed and drain at most 1 GiB at a time.
        const std::size_t feed = std::min<std::size_t>(deflated.size() - fed, 1u << 30);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data() + fed));
        stream.avail_in = static_cast<uInt>(feed);
        const std::size_t room = std::min<std::size_t>(out.size() - done, 1u << 30);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + done);
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_NO_FLUSH);
        fed += feed - stream.avail_in;
        done += room - stream.avail_out;
        if (result == Z_STREAM_END) break;
        if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_MEM_ERROR)
            RaiseError(std::string("Deflated data set is damaged: ") +
                       (stream.msg ? stream.msg : "zlib error"));
        // No progress with room left: the input ended before the last block.
        if (result == Z_BUF_ERROR && done < out.size()) RaiseError("Deflated data set is cut short");
    }
    out.resize(done);
    return out;
}

} // namespace tarvicon
